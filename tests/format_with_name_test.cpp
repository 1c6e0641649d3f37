#include <gtest/gtest.h>

#include <string>

#include "plugin/messages.h"
#include "tests/test_util.h"

namespace tsm {
namespace {

TEST(FormatWithName, TooLargeMessageNamesTheObject) {
  ModuleHandleScope module;
  const char* format = LoadResourceString(IDS_TOO_LARGE);
  ASSERT_NE(format, nullptr);
  EXPECT_EQ(FormatWithName(format, "Box01"), "Object Box01 is to large to export");
}

TEST(FormatWithName, VeryLongNameIsKeptWhole) {
  std::string name(10000, 'q');
  name[0] = 'A';
  name[9999] = 'Z';
  std::string text = FormatWithName("Object %s is to large to export", name.c_str());
  EXPECT_EQ(text, "Object " + name + " is to large to export");
  EXPECT_EQ(text.size(), 10000u + 29u);
}

TEST(FormatWithName, OnlyTheFirstNamePlaceIsFilled) {
  EXPECT_EQ(FormatWithName("%s and %s", "a"), "a and %s");
  EXPECT_EQ(FormatWithName("100%% of %s", "b"), "100% of b");
  EXPECT_EQ(FormatWithName("%d %s%", "c"), "%d c%");
  EXPECT_EQ(FormatWithName("no place", "d"), "no place");
}

TEST(FormatWithName, MissingTextsCountAsEmpty) {
  EXPECT_EQ(FormatWithName(nullptr, "x"), "");
  EXPECT_EQ(FormatWithName("[%s]", nullptr), "[]");
  EXPECT_EQ(FormatWithName("[%s]", ""), "[]");
}

}  // namespace
}  // namespace tsm
