#include "plugin/messages.h"

#include <gtest/gtest.h>

#include "run/export_run.h"
#include "tests/test_util.h"

namespace tsm {
namespace {

TEST(Messages, NoModuleHandleLoadsNothing) {
  ModuleHandle saved = GetRecordedModuleHandle();
  SetModuleHandle(nullptr);
  EXPECT_EQ(LoadResourceString(IDS_NO_DATA), nullptr);
  SetModuleHandle(saved);
}

TEST(Messages, MissingResourceLoadsNothing) {
  ModuleHandleScope module;
  EXPECT_EQ(LoadResourceString(40217), nullptr);
  EXPECT_EQ(LoadResourceString(0), nullptr);
}

TEST(Messages, ConsecutiveLoadsShareOneBuffer) {
  ModuleHandleScope module;
  const char* first = LoadResourceString(IDS_RUN_CAPTION);
  ASSERT_NE(first, nullptr);
  EXPECT_STREQ(first, "TSMEXP4");
  const char* second = LoadResourceString(IDS_NO_DATA);
  EXPECT_EQ(first, second);
  EXPECT_STREQ(first, "No data to export");
}

TEST(Messages, StringTableTextsStandAsGiven) {
  ModuleHandleScope module;
  EXPECT_STREQ(LoadResourceString(IDS_CLASS_NAME), "Tessarin Quadrel");
  EXPECT_STREQ(LoadResourceString(IDS_LONG_DESC), "Tessarin Format Quadrel File");
  EXPECT_STREQ(LoadResourceString(IDS_SHORT_DESC), "Tessarin Format");
  EXPECT_STREQ(LoadResourceString(IDS_CATEGORY), "Scene Export");
  EXPECT_STREQ(LoadResourceString(IDS_LIB_DESCRIPTION),
               "Tessarin File Format Exporter  Version 1.1 (maintained by Kobrin)");
  EXPECT_STREQ(LoadResourceString(IDS_CANT_CREATE), "Can't create output file");
  EXPECT_STREQ(LoadResourceString(IDS_WRITE_ERROR), "Write error on file");
  EXPECT_STREQ(LoadResourceString(IDS_TOO_LARGE), "Object %s is to large to export");
  EXPECT_STREQ(LoadResourceString(IDS_EXPORT_ERROR), "Export Error");
  EXPECT_STREQ(LoadResourceString(IDS_DUPLICATE_NAMES),
               "Two or more object names are the same in file being exported.  All object "
               "names must be unique.");
  EXPECT_NE(LoadResourceString(IDS_AUTHOR), nullptr);
  EXPECT_NE(LoadResourceString(IDS_COPYRIGHT), nullptr);
}

TEST(Messages, ResourceMessageShowsTextAndCaption) {
  ModuleHandleScope module;
  CaptureSink sink;
  EXPECT_EQ(ShowResourceMessage(IDS_NO_DATA, IDS_RUN_CAPTION, MB_OK), IDOK);
  ASSERT_EQ(sink.boxes.size(), 1u);
  EXPECT_EQ(sink.boxes[0].caption, "TSMEXP4");
  EXPECT_EQ(sink.boxes[0].text, "No data to export");
  EXPECT_EQ(sink.boxes[0].type, MB_OK);
}

TEST(Messages, ResourceMessageShownInQuietMode) {
  ModuleHandleScope module;
  CaptureSink sink;
  int saved = QuietMode;
  QuietMode = 1;
  ShowResourceMessage(IDS_WRITE_ERROR, IDS_RUN_CAPTION, MB_OK);
  QuietMode = saved;
  EXPECT_EQ(sink.boxes.size(), 1u);
}

TEST(Messages, WriterWarningFollowsQuietMode) {
  ModuleHandleScope module;
  CaptureSink sink;
  int saved = QuietMode;
  QuietMode = 1;
  ShowWriterWarning("Unknown Chunk");
  EXPECT_TRUE(sink.boxes.empty());
  QuietMode = 0;
  ShowWriterWarning("Unknown Chunk");
  QuietMode = saved;
  ASSERT_EQ(sink.boxes.size(), 1u);
  EXPECT_EQ(sink.boxes[0].caption, "Export Error");
  EXPECT_EQ(sink.boxes[0].text, "Unknown Chunk");
}

TEST(Messages, ExportErrorBoxKeepsATextFromTheSharedBuffer) {
  ModuleHandleScope module;
  CaptureSink sink;
  // The caption is loaded into the same buffer that holds the text handed in.
  ShowExportErrorBox(LoadResourceString(IDS_NO_DATA));
  ASSERT_EQ(sink.boxes.size(), 1u);
  EXPECT_EQ(sink.boxes[0].caption, "Export Error");
  EXPECT_EQ(sink.boxes[0].text, "No data to export");
  EXPECT_EQ(sink.boxes[0].type, MB_OK);
}

}  // namespace
}  // namespace tsm
