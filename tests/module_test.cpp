// Loads qdlexp.dle the way a host does and talks to it only through its exports and the
// objects they hand out. The module keeps its own copy of the library, with its own
// message sink, so failures of its exports are checked on the statically linked
// exporter (plugin_test.cpp); here only the answers and a successful export.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "host/class_desc.h"
#include "host/scene_export.h"
#include "tests/export_check.h"

namespace tsm {
namespace {

const char kModulePath[] = TSM_BINARY_DIR "/qdlexp.dle";

typedef const char* (*LibDescriptionFn)();
typedef int (*LibNumberClassesFn)();
typedef ClassDesc* (*LibClassDescFn)(int);
typedef unsigned long (*LibVersionFn)();
typedef int (*CanAutoDeferFn)();

class LoadedModule : public ::testing::Test {
 protected:
  void SetUp() override { Load(); }
  void TearDown() override { Unload(); }

  void Load() {
    handle_ = dlopen(kModulePath, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle_, nullptr) << dlerror();
    description = reinterpret_cast<LibDescriptionFn>(dlsym(handle_, "LibDescription"));
    numberClasses = reinterpret_cast<LibNumberClassesFn>(dlsym(handle_, "LibNumberClasses"));
    classDesc = reinterpret_cast<LibClassDescFn>(dlsym(handle_, "LibClassDesc"));
    version = reinterpret_cast<LibVersionFn>(dlsym(handle_, "LibVersion"));
    canAutoDefer = reinterpret_cast<CanAutoDeferFn>(dlsym(handle_, "CanAutoDefer"));
    ASSERT_NE(description, nullptr);
    ASSERT_NE(numberClasses, nullptr);
    ASSERT_NE(classDesc, nullptr);
    ASSERT_NE(version, nullptr);
    ASSERT_NE(canAutoDefer, nullptr);
  }

  void Unload() {
    if (handle_ != nullptr) {
      EXPECT_EQ(dlclose(handle_), 0) << dlerror();
    }
    handle_ = nullptr;
  }

  void* handle_ = nullptr;
  LibDescriptionFn description = nullptr;
  LibNumberClassesFn numberClasses = nullptr;
  LibClassDescFn classDesc = nullptr;
  LibVersionFn version = nullptr;
  CanAutoDeferFn canAutoDefer = nullptr;
};

TEST_F(LoadedModule, ExportsNothingButTheFiveFunctions) {
  EXPECT_EQ(dlsym(handle_, "ModuleEntry"), nullptr);
  EXPECT_EQ(dlsym(handle_, "_ZN3tsm11ModuleEntryEPvmS0_"), nullptr);
  EXPECT_EQ(dlsym(handle_, "_ZN3tsm18LoadResourceStringEj"), nullptr);
  EXPECT_EQ(dlsym(handle_, "_ZN3tsm14SetMessageSinkEPNS_11MessageSinkE"), nullptr);
  EXPECT_EQ(dlsym(handle_, "_ZN3tsm12ExportToFileEPKcP15ExportInterfaceP13HostInterfaceij"),
            nullptr);
}

TEST_F(LoadedModule, ModuleAnswers) {
  // The entry point ran at load: the description loads from the module's own strings.
  ASSERT_NE(description(), nullptr);
  EXPECT_STREQ(description(), "Tessarin File Format Exporter  Version 1.1 (maintained by Kobrin)");
  EXPECT_EQ(numberClasses(), 1);
  EXPECT_EQ(version(), 0x10680800ul);
  EXPECT_EQ(canAutoDefer(), 1);
}

TEST_F(LoadedModule, OneDescriptorAtIndexZero) {
  ClassDesc* desc = classDesc(0);
  ASSERT_NE(desc, nullptr);
  EXPECT_EQ(classDesc(0), desc);
  EXPECT_EQ(classDesc(1), nullptr);
  EXPECT_EQ(classDesc(-1), nullptr);
}

TEST_F(LoadedModule, DescriptorAnswers) {
  ClassDesc* desc = classDesc(0);
  ASSERT_NE(desc, nullptr);
  EXPECT_EQ(desc->IsPublic(), 1);
  EXPECT_STREQ(desc->ClassName(), "Tessarin Quadrel");
  EXPECT_STREQ(desc->Category(), "Scene Export");
  EXPECT_EQ(desc->SuperClassNumber(), 0xA20u);
  EXPECT_EQ(desc->ClassIdentity(), Class_ID(0x62F46A5E, 0x037B1F42));
  EXPECT_EQ(desc->GetRsrcString(40216), nullptr);
  EXPECT_EQ(desc->NumInterfaces(), 0);
}

TEST_F(LoadedModule, ExporterAnswers) {
  std::unique_ptr<SceneExport> exporter(static_cast<SceneExport*>(classDesc(0)->Create(0)));
  ASSERT_NE(exporter, nullptr);
  EXPECT_EQ(exporter->ExtensionCount(), 1);
  EXPECT_STREQ(exporter->Extension(0), "tsm");
  ASSERT_NE(exporter->Extension(1), nullptr);
  EXPECT_STREQ(exporter->Extension(1), "");
  EXPECT_STREQ(exporter->LongDescription(), "Tessarin Format Quadrel File");
  EXPECT_STREQ(exporter->ShortDescription(), "Tessarin Format");
  EXPECT_NE(exporter->AuthorName(), nullptr);
  EXPECT_NE(exporter->CopyrightMessage(), nullptr);
  EXPECT_STREQ(exporter->FirstOtherMessage(), "");
  EXPECT_STREQ(exporter->SecondOtherMessage(), "");
  EXPECT_EQ(exporter->Version(), 100u);
  EXPECT_EQ(exporter->OptionsSupported(0, 0), 0);
  // The about box does nothing: the shared buffer still holds the last text.
  const char* last = exporter->ShortDescription();
  exporter->ShowAboutBox(nullptr);
  EXPECT_STREQ(last, "Tessarin Format");
}

TEST_F(LoadedModule, ExportsAScene) {
  MemScene scene;
  AddDummy(scene, "Dummy01");
  ExportInterface ei;
  ei.scene = &scene;
  std::string path = TestOutputPath("module_export.tsm");
  std::unique_ptr<SceneExport> exporter(static_cast<SceneExport*>(classDesc(0)->Create(0)));
  ASSERT_NE(exporter, nullptr);
  EXPECT_EQ(exporter->Export(path.c_str(), &ei, &scene, 1, 0), 1);
  ExpectExportedFile(path);
}

TEST_F(LoadedModule, DescriptorIsRemadeOnReload) {
  static BaseInterface extra(Interface_ID(0x77, 0x78), "extra");
  classDesc(0)->AddInterface(&extra);
  EXPECT_EQ(classDesc(0)->GetInterface("extra"), &extra);
  // Unloading destroys the descriptor (and releases its interface table); loading again
  // makes a fresh one.
  Unload();
  Load();
  ASSERT_NE(classDesc(0), nullptr);
  EXPECT_EQ(classDesc(0)->NumInterfaces(), 0);
  EXPECT_STREQ(classDesc(0)->ClassName(), "Tessarin Quadrel");
}

}  // namespace
}  // namespace tsm
