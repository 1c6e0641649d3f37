#include "plugin/plugin.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "host/custom_controls.h"
#include "plugin/messages.h"
#include "run/export_run.h"
#include "tests/export_check.h"
#include "tests/test_util.h"

namespace tsm {
namespace {

std::unique_ptr<SceneExport> CreateExporter(ClassDesc& desc) {
  return std::unique_ptr<SceneExport>(static_cast<SceneExport*>(desc.Create(0)));
}

// ---- The entry point and the module's answers ----

TEST(ModuleEntry, RecordsHandleAndInitialisesOnce) {
  ModuleHandle saved = GetRecordedModuleHandle();
  SetModuleHandle(nullptr);
  EXPECT_EQ(LoadResourceString(IDS_CLASS_NAME), nullptr);

  int first = 0x11, second = 0x22;
  ModuleHandle h1 = &first, h2 = &second;
  EXPECT_EQ(ModuleEntry(h1, DLL_PROCESS_ATTACH, nullptr), 1);
  EXPECT_EQ(GetRecordedModuleHandle(), h1);
  EXPECT_STREQ(LoadResourceString(IDS_CLASS_NAME), "Tessarin Quadrel");
  // Only the entry point initialises the controls in this program, and only once.
  EXPECT_EQ(CustomControlsInitCount(), 1);
  EXPECT_EQ(CommonControlsInitCount(), 1);
  EXPECT_EQ(CustomControlsModule(), h1);

  for (unsigned long reason : {DLL_THREAD_ATTACH, DLL_THREAD_DETACH, DLL_PROCESS_ATTACH}) {
    EXPECT_EQ(ModuleEntry(h2, reason, nullptr), 1);
    EXPECT_EQ(GetRecordedModuleHandle(), h2);
  }
  EXPECT_EQ(CustomControlsInitCount(), 1);
  EXPECT_EQ(CommonControlsInitCount(), 1);
  EXPECT_EQ(CustomControlsModule(), h1);

  EXPECT_EQ(ModuleEntry(h1, DLL_PROCESS_DETACH, nullptr), 1);
  EXPECT_EQ(GetRecordedModuleHandle(), h1);
  EXPECT_EQ(CommonControlsInitCount(), 1);
  SetModuleHandle(saved);
}

TEST(ModuleEntry, StaticHandleIsStableAndNotNull) {
  EXPECT_NE(StaticModuleHandle(), nullptr);
  EXPECT_EQ(StaticModuleHandle(), StaticModuleHandle());
}

TEST(ModuleAnswers, OneClassDescriptorForIndexZeroOnly) {
  EXPECT_EQ(ModuleClassCount(), 1);
  ClassDesc* desc = ModuleClassDesc(0);
  ASSERT_NE(desc, nullptr);
  EXPECT_EQ(ModuleClassDesc(0), desc);
  EXPECT_EQ(ModuleClassDesc(1), nullptr);
  EXPECT_EQ(ModuleClassDesc(-1), nullptr);
  EXPECT_EQ(desc->ClassIdentity(), Class_ID(0x62F46A5E, 0x037B1F42));
}

TEST(ModuleAnswers, VersionDeferAndDescription) {
  ModuleHandleScope module;
  EXPECT_EQ(kModuleLibVersion, 275253248ul);
  EXPECT_EQ(ModuleCanAutoDefer(), 1);
  EXPECT_STREQ(ModuleDescription(),
               "Tessarin File Format Exporter  Version 1.1 (maintained by Kobrin)");
}

// ---- The class descriptor ----

TEST(FormatClassDesc, IdentityAndTexts) {
  ModuleHandleScope module;
  FormatClassDesc desc;
  EXPECT_EQ(desc.IsPublic(), 1);
  EXPECT_STREQ(desc.ClassName(), "Tessarin Quadrel");
  EXPECT_STREQ(desc.Category(), "Scene Export");
  EXPECT_EQ(desc.SuperClassNumber(), 0xA20u);
  Class_ID id = desc.ClassIdentity();
  EXPECT_EQ(id.PartA(), 0x62F46A5Eu);
  EXPECT_EQ(id.PartB(), 0x037B1F42u);
}

TEST(FormatClassDesc, TextsAreNoneWithoutModuleHandle) {
  ModuleHandle saved = GetRecordedModuleHandle();
  SetModuleHandle(nullptr);
  FormatClassDesc desc;
  EXPECT_EQ(desc.ClassName(), nullptr);
  EXPECT_EQ(desc.Category(), nullptr);
  EXPECT_EQ(ModuleDescription(), nullptr);
  SetModuleHandle(saved);
}

TEST(FormatClassDesc, KeepsTheBaseAnswers) {
  FormatClassDesc desc;
  EXPECT_EQ(desc.Reserved1(nullptr), 0);
  EXPECT_EQ(desc.Reserved2(nullptr), 0);
  EXPECT_EQ(desc.GetRsrcString(IDS_CLASS_NAME), nullptr);
  EXPECT_EQ(desc.NumInterfaces(), 0);
  EXPECT_EQ(desc.Interfaces().Header(), nullptr);
}

TEST(FormatClassDesc, CreatesANewExporterEachTime) {
  FormatClassDesc desc;
  std::unique_ptr<SceneExport> a = CreateExporter(desc);
  std::unique_ptr<SceneExport> b = CreateExporter(desc);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_NE(a.get(), b.get());
  EXPECT_STREQ(a->Extension(0), "tsm");
}

// ---- The exporter object ----

TEST(FormatExporter, ExtensionsAndVersion) {
  FormatExporter exporter;
  EXPECT_EQ(exporter.ExtensionCount(), 1);
  EXPECT_STREQ(exporter.Extension(0), "tsm");
  ASSERT_NE(exporter.Extension(1), nullptr);
  EXPECT_STREQ(exporter.Extension(1), "");
  ASSERT_NE(exporter.Extension(-1), nullptr);
  EXPECT_STREQ(exporter.Extension(-1), "");
  EXPECT_EQ(exporter.Version(), 100u);
  EXPECT_EQ(exporter.OptionsSupported(0, 0), 0);
  EXPECT_EQ(exporter.OptionsSupported(0, 0xFFFFFFFFu), 0);
}

TEST(FormatExporter, DescriptionTexts) {
  ModuleHandleScope module;
  FormatExporter exporter;
  EXPECT_STREQ(exporter.LongDescription(), "Tessarin Format Quadrel File");
  EXPECT_STREQ(exporter.ShortDescription(), "Tessarin Format");
  EXPECT_STREQ(exporter.AuthorName(), FindStringResource(IDS_AUTHOR));
  EXPECT_STREQ(exporter.CopyrightMessage(), FindStringResource(IDS_COPYRIGHT));
  ASSERT_NE(exporter.FirstOtherMessage(), nullptr);
  EXPECT_STREQ(exporter.FirstOtherMessage(), "");
  ASSERT_NE(exporter.SecondOtherMessage(), nullptr);
  EXPECT_STREQ(exporter.SecondOtherMessage(), "");
}

TEST(FormatExporter, DescriptionsLiveInTheSharedBuffer) {
  ModuleHandleScope module;
  FormatExporter exporter;
  const char* longText = exporter.LongDescription();
  const char* caption = LoadResourceString(IDS_RUN_CAPTION);
  EXPECT_EQ(longText, caption);
  EXPECT_STREQ(longText, "TSMEXP4");
}

TEST(FormatExporter, DescriptionsAreNoneWithoutModuleHandle) {
  ModuleHandle saved = GetRecordedModuleHandle();
  SetModuleHandle(nullptr);
  FormatExporter exporter;
  EXPECT_EQ(exporter.LongDescription(), nullptr);
  EXPECT_EQ(exporter.ShortDescription(), nullptr);
  EXPECT_EQ(exporter.AuthorName(), nullptr);
  EXPECT_EQ(exporter.CopyrightMessage(), nullptr);
  EXPECT_STREQ(exporter.Extension(0), "tsm");
  SetModuleHandle(saved);
}

TEST(FormatExporter, AboutBoxDoesNothing) {
  ModuleHandleScope module;
  CaptureSink sink;
  const char* text = LoadResourceString(IDS_NO_DATA);
  FormatExporter exporter;
  int owner = 0;
  exporter.ShowAboutBox(&owner);
  exporter.ShowAboutBox(nullptr);
  EXPECT_TRUE(sink.boxes.empty());
  EXPECT_STREQ(text, "No data to export");  // the shared buffer is untouched
}

// ---- The export operation ----

TEST(FormatExporter, ExportWritesTheFile) {
  ModuleHandleScope module;
  CaptureSink sink;
  MemScene scene;
  AddDummy(scene, "Dummy01");
  ExportInterface ei;
  ei.scene = &scene;
  std::string path = TestOutputPath("plugin_export.tsm");
  FormatExporter exporter;
  EXPECT_EQ(exporter.Export(path.c_str(), &ei, &scene, 0, 0), 1);
  ExpectExportedFile(path);
  for (const CapturedBox& box : sink.boxes) EXPECT_NE(box.caption, "TSMEXP4") << box.text;
}

TEST(FormatExporter, FailedExportStillAnswersOneAndSaysSo) {
  ModuleHandleScope module;
  CaptureSink sink;
  MemScene scene;
  AddDummy(scene, "Dummy01");
  ExportInterface ei;
  ei.scene = &scene;
  std::filesystem::path folder = std::filesystem::path(TSM_BINARY_DIR) / "no_such_folder";
  std::filesystem::remove_all(folder);
  std::string path = (folder / "out.tsm").string();
  FormatExporter exporter;
  EXPECT_EQ(exporter.Export(path.c_str(), &ei, &scene, 0, 0), 1);
  ASSERT_EQ(sink.boxes.size(), 1u);
  EXPECT_EQ(sink.boxes[0].caption, "TSMEXP4");
  EXPECT_EQ(sink.boxes[0].text, "Can't create output file");
  EXPECT_EQ(sink.boxes[0].type, MB_OK);
  EXPECT_FALSE(std::filesystem::exists(folder));
}

TEST(FormatExporter, ExportSetsQuietModeFromTheQuietFlag) {
  ModuleHandleScope module;
  CaptureSink sink;
  MemScene scene;
  AddDummy(scene, "Dummy01");
  ExportInterface ei;
  ei.scene = &scene;
  std::string path = TestOutputPath("plugin_quiet.tsm");
  FormatExporter exporter;
  int saved = QuietMode;
  exporter.Export(path.c_str(), &ei, &scene, 5, 0);
  EXPECT_EQ(QuietMode, 1);
  exporter.Export(path.c_str(), &ei, &scene, 0, 0xFFFFFFFFu);
  EXPECT_EQ(QuietMode, 0);
  exporter.Export(path.c_str(), &ei, &scene, -1, 0);
  EXPECT_EQ(QuietMode, 1);
  QuietMode = saved;
  ExpectExportedFile(path);
}

}  // namespace
}  // namespace tsm
