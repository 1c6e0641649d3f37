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

}  // namespace
}  // namespace tsm
