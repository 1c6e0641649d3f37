// The tool's output against the library's: what tsmdump prints must be exactly the tree
// that the reader formats, and its JSON must parse. Exit codes and messages on broken
// files are checked by tests/tools/tsmdump.cmake.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "reader/chunk_dump.h"
#include "reader/chunk_reader.h"
#include "tests/sample_files.h"

namespace tsm {
namespace {

struct ToolRun {
  int status = -1;  // exit code, or -1 when the tool did not exit normally
  std::string out;
};

// Runs tsmdump with args (already quoted as needed) and collects its stdout.
ToolRun RunTsmdump(const std::string& args) {
  ToolRun run;
  std::string command = std::string("\"") + TSM_BINARY_DIR "/tsmdump\" " + args + " 2>/dev/null";
  std::FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) run.out.append(buf, n);
  int status = ::pclose(pipe);
  if (status != -1 && WIFEXITED(status)) run.status = WEXITSTATUS(status);
  return run;
}

class TsmdumpTool : public testing::Test {
 protected:
  void SetUp() override {
    path_ = testing::TempDir() + "tsmdump_tool_" + std::to_string(::getpid()) + ".tsm";
    file_ = RichFile();
    ASSERT_TRUE(WriteFileBytes(path_, file_));
  }
  void TearDown() override { std::remove(path_.c_str()); }

  std::string path_;
  std::vector<uint8_t> file_;
};

TEST_F(TsmdumpTool, PrintsExactlyTheFormattedTree) {
  ChunkTree tree = ReadChunkTree(file_);
  ASSERT_TRUE(tree.ok);
  ToolRun run = RunTsmdump("\"" + path_ + "\"");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, FormatChunkTreeText(tree.top, file_.data(), file_.size()));
  EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 67);  // one line per chunk
}

TEST_F(TsmdumpTool, JsonOutputParsesToTheSameTree) {
  ToolRun run = RunTsmdump("--json \"" + path_ + "\"");
  EXPECT_EQ(run.status, 0);
  nlohmann::json j = nlohmann::json::parse(run.out, nullptr, false);
  ASSERT_FALSE(j.is_discarded()) << run.out;
  EXPECT_EQ(j["length"], file_.size());
  ASSERT_EQ(j["children"].size(), 3u);
  const nlohmann::json& keyframer = j["children"][2];
  EXPECT_EQ(keyframer["name"], "KEYFRAMER_DATA");
  EXPECT_EQ(keyframer["offset"], 731);
  EXPECT_EQ(keyframer["children"][0]["fields"]["scene"], "ORBSCENE");
}

TEST_F(TsmdumpTool, CheckPrintsOkAndNothingElse) {
  ToolRun run = RunTsmdump("--check \"" + path_ + "\"");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "ok\n");
}

}  // namespace
}  // namespace tsm
