// What tsmexport tells after and during an export: the summary counted from a written
// file, the summary line of the tool, and the progress hook with the tool's bar on a
// terminal (and its absence elsewhere).
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "reader/file_summary.h"
#include "run/progress.h"
#include "tests/export_check.h"
#include "tests/view_files.h"

namespace tsm {
namespace {

TEST(SummaryTest, CountsWhatTheFileHolds) {
  TestScene s = RedTriangleScene();
  s.materials.push_back({"Blue", {{0, 0, 255}}});
  TestMesh quad{"Quad",
                {{{0, 0, 0}}, {{1, 0, 0}}, {{1, 0, 1}}, {{0, 0, 1}}},
                {{{0, 1, 2}}, {{0, 2, 3}}},
                "Blue"};
  s.meshes.push_back(quad);
  s.shapes.push_back({"Rope", {{{0, 0, 0}}, {{1, 1, 1}}}});
  s.nodes.push_back({0, "Tri", NO_PARENT, {{0, {{0, 0, 0}}}, {10, {{3, 0, 0}}}}});
  s.nodes.push_back({1, "Quad", 0, {}});
  const std::vector<uint8_t> bytes = BuildFile(s);
  FileSummary sum = SummarizeChunkFile(bytes);
  ASSERT_TRUE(sum.ok) << sum.error;
  const std::vector<std::pair<const char*, int64_t>> counts = {
      {"meshes", sum.meshes},        {"lights", sum.lights},       {"cameras", sum.cameras},
      {"shapes", sum.shapes},        {"materials", sum.materials}, {"faces", sum.faces},
      {"nodes", sum.keyframerNodes}, {"tracks", sum.tracks},       {"keys", sum.keys}};
  const int64_t expected[] = {2, 1, 1, 1, 2, 3, 2, 6, 7};
  for (size_t i = 0; i < counts.size(); ++i)
    EXPECT_EQ(counts[i].second, expected[i]) << counts[i].first;
  EXPECT_EQ(sum.bytes, bytes.size());
  EXPECT_EQ(FormatFileSummary(sum),
            "2 meshes, 1 light, 1 camera, 1 shape, 2 materials, 3 faces, 2 keyframer nodes, 6 "
            "tracks, 7 keys, " +
                std::to_string(bytes.size()) + " bytes");

  FileSummary skeleton = SummarizeChunkFile(SkeletonFile());
  EXPECT_EQ(FormatFileSummary(skeleton),
            "0 meshes, 0 lights, 0 cameras, 0 shapes, 0 materials, 0 faces, 0 keyframer nodes, "
            "0 tracks, 0 keys, 28 bytes");

  std::vector<uint8_t> cut(bytes.begin(), bytes.end() - 1);
  FileSummary broken = SummarizeChunkFile(cut);
  EXPECT_FALSE(broken.ok);
  EXPECT_EQ(broken.error.rfind("offset 0: ", 0), 0u) << broken.error;
}

// Records every report of the progress hook while it lives.
struct ProgressLog {
  ProgressLog() { previous = SetProgressCallback(&ProgressLog::Record, this); }
  ~ProgressLog() { SetProgressCallback(previous, nullptr); }
  static void Record(ProgressStage stage, double fraction, void* self) {
    static_cast<ProgressLog*>(self)->reports.emplace_back(stage, fraction);
  }
  std::vector<std::pair<ProgressStage, double>> reports;
  ProgressCallback previous;
};

TEST(ProgressTest, CounterReportsFromZeroToOneAtMostAboutTwoHundredTimes) {
  for (int64_t total : {int64_t(0), int64_t(1), int64_t(7), int64_t(1000), int64_t(1234567)}) {
    ProgressLog log;
    ProgressCounter counter(ProgressStage::EDITOR_SECTION, total);
    for (int64_t i = 0; i < total; ++i) counter.Step();
    counter.Done();
    ASSERT_GE(log.reports.size(), 2u) << total;
    EXPECT_LE(log.reports.size(), 203u) << total;
    EXPECT_EQ(log.reports.front().second, 0.0) << total;
    EXPECT_EQ(log.reports.back().second, 1.0) << total;
    for (size_t i = 1; i < log.reports.size(); ++i) {
      EXPECT_EQ(log.reports[i].first, ProgressStage::EDITOR_SECTION);
      EXPECT_GE(log.reports[i].second, log.reports[i - 1].second) << total;
    }
  }
  ProgressLog log;
  ReportProgress(ProgressStage::LOADING, 7.0);
  ReportProgress(ProgressStage::LOADING, -1.0);
  ASSERT_EQ(log.reports.size(), 2u);
  EXPECT_EQ(log.reports[0].second, 1.0);
  EXPECT_EQ(log.reports[1].second, 0.0);
}

const std::string kTool = TSM_BINARY_DIR "/tsmexport";

struct Ran {
  int status = -1;
  std::string out, err;
};

// Runs the tool in a subshell whose standard output and error go to files; args may end
// in a pipe.
Ran RunTool(const std::string& args) {
  std::string out = TestOutputPath("summary.stdout"), err = TestOutputPath("summary.stderr");
  int raw = std::system(
      ("( '" + kTool + "' " + args + " ) >'" + out + "' 2>'" + err + "' </dev/null").c_str());
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadFileText(out), ReadFileText(err)};
}

TEST(SummaryTest, ExportPrintsTheSummaryOfTheWrittenFileUnlessQuietOrNotAFile) {
  const std::string scene = TSM_SOURCE_DIR "/examples/showroom.json";
  const std::string out = TestOutputPath("summary_showroom.tsm");
  Ran loud = RunTool("'" + scene + "' -o '" + out + "'");
  ASSERT_EQ(loud.status, 0) << loud.err;
  FileSummary sum = SummarizeFile(out.c_str());
  ASSERT_TRUE(sum.ok) << sum.error;
  EXPECT_EQ(loud.out, "wrote " + out + ": " + FormatFileSummary(sum) + "\n");
  EXPECT_EQ(sum.bytes, ReadFileBytes(out).size());

  Ran quiet = RunTool("'" + scene + "' -o '" + out + "' --quiet");
  EXPECT_EQ(quiet.status, 0);
  EXPECT_EQ(quiet.out, "");
  Ran device = RunTool("'" + scene + "' -o /dev/null");
  EXPECT_EQ(device.status, 0);
  EXPECT_EQ(device.out, "") << "a device is not read back";
}

// A scene of n dummies, large enough for the progress bar from kProgressMinNodes on.
std::string DummyScene(int n) {
  std::string path = TestOutputPath("progress_" + std::to_string(n) + ".json");
  std::ofstream f(path);
  f << "{\"format\": \"tsm-scene\", \"version\": 1, \"nodes\": [\n";
  for (int i = 0; i < n; ++i) {
    f << (i ? ",\n" : "") << "{\"name\": \"D" << i << "\", \"object\": {\"type\": \"dummy\"}}";
  }
  f << "]}\n";
  return path;
}

// Runs the tool on a pseudo-terminal (standard output and error both on it) and answers
// everything it wrote there.
std::string RunOnTerminal(const std::vector<std::string>& args, int* status) {
  int master = -1;
  pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
  if (pid == 0) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(kTool.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(kTool.c_str(), argv.data());
    _exit(127);
  }
  std::string seen;
  if (pid < 0) return seen;
  char buf[4096];
  ssize_t n;
  while ((n = read(master, buf, sizeof buf)) > 0) seen.append(buf, static_cast<size_t>(n));
  close(master);
  int raw = 0;
  waitpid(pid, &raw, 0);
  *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return seen;
}

TEST(ProgressTest, LargeExportShowsABarOnATerminalOnlyAndNotWhenQuiet) {
  const std::string large = DummyScene(static_cast<int>(kProgressMinNodes));
  const std::string small = DummyScene(10);
  const std::string out = TestOutputPath("progress.tsm");
  struct Case {
    std::string scene;
    bool quiet;
    bool bar;
  } cases[] = {{large, false, true}, {large, true, false}, {small, false, false}};
  for (const Case& k : cases) {
    int status = -1;
    std::vector<std::string> args = {k.scene, "-o", out};
    if (k.quiet) args.push_back("--quiet");
    std::string seen = RunOnTerminal(args, &status);
    SCOPED_TRACE(k.scene + (k.quiet ? " --quiet" : ""));
    EXPECT_EQ(status, 0) << seen;
    for (const char* stage : {"enumerating", "editor section", "keyframer section"}) {
      EXPECT_EQ(seen.find(stage) != std::string::npos, k.bar) << stage << " in:\n" << seen;
    }
    EXPECT_EQ(seen.find("[#") != std::string::npos || seen.find("[-") != std::string::npos, k.bar);
  }
  // On a pipe there is no bar, however large the scene: the tool's standard output and
  // error both go through cat.
  Ran piped = RunTool("'" + large + "' -o '" + out + "' 2>&1 | cat");
  EXPECT_EQ(piped.status, 0);
  EXPECT_EQ(piped.out.find("enumerating"), std::string::npos) << piped.out;
  EXPECT_EQ(piped.out.rfind("wrote ", 0), 0u) << "only the summary came through:\n" << piped.out;
}

}  // namespace
}  // namespace tsm
