// Out of memory in any tool: a message and exit status 2, never an abort.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "tests/test_util.h"

namespace tsm {
namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;  // the sanitizer's shadow memory needs no address limit
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

TEST(OutOfMemoryTest, EveryToolEndsWithAMessageAndExitTwo) {
  if (kSanitized) GTEST_SKIP() << "an address-space limit can't be set under the sanitizer";
  char pattern[] = "/tmp/tsm_memory_test_XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  const std::string dir = pattern;
  const std::string bin = "ulimit -v 120000; '" TSM_BINARY_DIR "/";
  const std::string cases[] = {
      bin + "tsmview' /dev/urandom -o u.png",
      bin + "tsmdump' /dev/urandom",
  };
  for (const std::string& command : cases) {
    SCOPED_TRACE(command);
    ShellOutcome o = RunShell(dir, command + " >/dev/null");
    EXPECT_EQ(o.status, 2) << o.err;
    EXPECT_NE(o.err.find("out of memory"), std::string::npos) << o.err;
  }
  std::filesystem::remove_all(dir);
}

// A scene whose load and JSON output build large trees of values: memory runs out at a
// different step under each limit (reading, parsing, freeing a tree, writing). Every
// step ends with exit 2 and a message, and no temporary file is left behind.
TEST(OutOfMemoryTest, ExportEndsWithExitTwoWhereverMemoryRunsOut) {
  if (kSanitized) GTEST_SKIP() << "an address-space limit can't be set under the sanitizer";
  char pattern[] = "/tmp/tsm_memory_test_XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  const std::string dir = pattern;
  std::string scene =
      R"({"format": "tsm-scene", "version": 1, "settings": {"animationRange": [0, 8000]},)"
      R"( "objects": [{"id": 1, "name": "Box", "type": "dummy"}], "nodes": [)";
  for (int i = 0; i < 4000; ++i)
    scene += "{\"name\": \"N" + std::to_string(i) + "\", \"object\": 1},";
  scene += R"({"name": "K", "object": 1, "transform": {"position": {"class": "keyed", "keys": [)";
  for (int t = 0; t < 8000; ++t)
    scene += (t ? ", " : "") + ("{\"time\": " + std::to_string(t) + ", \"value\": [1, 2, 3]}");
  scene += "]}}}]}";
  WriteFileText(dir + "/s.json", scene);
  for (int limit = 15000; limit <= 60000; limit += 2500) {
    for (const char* output : {"-o out.tsm", "--to-json out.json"}) {
      const std::string command = "ulimit -v " + std::to_string(limit) + "; '" TSM_BINARY_DIR
                                  "/tsmexport' s.json " + output;
      SCOPED_TRACE(command);
      ShellOutcome o = RunShell(dir, command + " >/dev/null");
      if (o.status != 0) {
        EXPECT_EQ(o.status, 2) << o.err;
        EXPECT_NE(o.err.find("out of memory"), std::string::npos) << o.err;
      }
      for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(name == "s.json" || name == "out.tsm" || name == "out.json") << name;
      }
    }
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace tsm
