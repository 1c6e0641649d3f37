// The tsmexport command as a user runs it: exit status, messages on standard error, the
// default output name, and what is left on disk after a failure.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/test_util.h"

namespace {

using tsm::FolderListing;
using tsm::ReadFileText;

const std::string kTool = TSM_BINARY_DIR "/tsmexport";
const std::string kExamples = TSM_SOURCE_DIR "/examples";

struct Outcome {
  int status = -1;
  std::string out;  // standard output and standard error, in that order
  std::string err;
};

bool Exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

class TsmexportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tsmexport_test_XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir = pattern;
  }
  void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }

  // Runs a shell command line with the tool's output captured in files.
  Outcome Run(const std::string& args, const std::string& prefix = "") {
    std::string outFile = dir + "/.stdout", errFile = dir + "/.stderr";
    std::string cmd =
        prefix + "'" + kTool + "' " + args + " >'" + outFile + "' 2>'" + errFile + "' </dev/null";
    Outcome o;
    int raw = std::system(("sh -c \"" + cmd + "\"").c_str());
    o.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    o.out = ReadFileText(outFile);
    o.err = ReadFileText(errFile);
    std::remove(outFile.c_str());
    std::remove(errFile.c_str());
    return o;
  }

  std::string WriteScene(const std::string& name, const std::string& text) {
    std::string path = dir + "/" + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }

  std::string dir;
};

TEST_F(TsmexportTest, ExportsEveryExampleIntoAFileThatStartsWithTheTopChunk) {
  for (const char* name : {"showroom", "orrery", "minimal", "animated"}) {
    std::string out = dir + "/" + name + ".tsm";
    Outcome o = Run("'" + kExamples + "/" + name + ".json' -o '" + out + "'");
    EXPECT_EQ(o.status, 0) << name << ": " << o.err;
    std::string bytes = ReadFileText(out);
    ASSERT_GE(bytes.size(), 16u) << name;
    EXPECT_EQ(uint8_t(bytes[0]), 0xEF);
    EXPECT_EQ(uint8_t(bytes[1]), 0xBE);
    uint32_t size = uint8_t(bytes[2]) | uint8_t(bytes[3]) << 8 | uint8_t(bytes[4]) << 16 |
                    uint32_t(uint8_t(bytes[5])) << 24;
    EXPECT_EQ(size, bytes.size()) << name;
  }
}

TEST_F(TsmexportTest, WithoutOutputNameWritesBesideTheSceneWithTsmExtension) {
  std::string scene = WriteScene("room.scene.json", ReadFileText(kExamples + "/minimal.json"));
  Outcome o = Run("'" + scene + "'");
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_TRUE(Exists(dir + "/room.scene.tsm"));
}

TEST_F(TsmexportTest, TwoExportsOfOneSceneAreByteIdentical) {
  std::string a = dir + "/a.tsm", b = dir + "/b.tsm";
  ASSERT_EQ(Run("'" + kExamples + "/showroom.json' -o '" + a + "'").status, 0);
  ASSERT_EQ(Run("'" + kExamples + "/showroom.json' -o '" + b + "'").status, 0);
  EXPECT_EQ(ReadFileText(a), ReadFileText(b));
}

TEST_F(TsmexportTest, BrokenSceneExitsTwoNamingTheFileAndWritesNothing) {
  std::string scene = WriteScene("broken.json",
                                 "{\"format\": \"tsm-scene\", \"version\": 1,\n"
                                 "  \"nodes\": [ {\"name\": 5} ]}\n");
  Outcome o = Run("'" + scene + "' -o '" + dir + "/out.tsm'");
  EXPECT_EQ(o.status, 2);
  EXPECT_NE(o.err.find(scene), std::string::npos) << o.err;
  EXPECT_NE(o.err.find("/nodes/0/name"), std::string::npos) << o.err;
  EXPECT_FALSE(Exists(dir + "/out.tsm"));
}

TEST_F(TsmexportTest, MissingSceneFileExitsTwo) {
  Outcome o = Run("'" + dir + "/nothing.json'");
  EXPECT_EQ(o.status, 2);
  EXPECT_NE(o.err.find("nothing.json"), std::string::npos);
}

TEST_F(TsmexportTest, NeverWritesOverTheSceneFile) {
  std::string text = ReadFileText(kExamples + "/minimal.json");
  std::string scene = WriteScene("room.tsm", text);  // the default output is the scene
  Outcome o = Run("'" + scene + "'");
  EXPECT_EQ(o.status, 2);
  EXPECT_NE(o.err.find("would overwrite the scene file"), std::string::npos) << o.err;
  EXPECT_EQ(ReadFileText(scene), text);
  o = Run("'" + scene + "' -o '" + dir + "/./room.tsm'");
  EXPECT_EQ(o.status, 2);
  EXPECT_EQ(ReadFileText(scene), text);
}

TEST_F(TsmexportTest, UsageErrorsExitTwo) {
  EXPECT_EQ(Run("").status, 2);
  EXPECT_EQ(Run("--bogus x.json").status, 2);
  EXPECT_EQ(Run("a.json b.json").status, 2);
  EXPECT_EQ(Run("a.json -o").status, 2);
}

TEST_F(TsmexportTest, HelpAndVersionExitZero) {
  Outcome help = Run("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("usage: tsmexport SCENE"), std::string::npos);
  Outcome version = Run("--version");
  EXPECT_EQ(version.status, 0);
  EXPECT_NE(version.out.find("tsmexport"), std::string::npos);
}

TEST_F(TsmexportTest, EmptySceneShowsNoDataExitsOneAndKeepsPreviousFile) {
  std::string scene =
      WriteScene("empty.json", "{\"format\": \"tsm-scene\", \"version\": 1, \"nodes\": []}");
  std::string out = WriteScene("out.tsm", "previous bytes");
  Outcome o = Run("'" + scene + "' -o '" + out + "'");
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, "TSMEXP4: No data to export\n");
  EXPECT_EQ(ReadFileText(out), "previous bytes");
}

TEST_F(TsmexportTest, UnwritablePathExitsOneWithItsMessage) {
  std::string out = dir + "/no such dir/out.tsm";
  Outcome o = Run("'" + kExamples + "/minimal.json' -o '" + out + "'");
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, "TSMEXP4: Can't create output file\ntsmexport: " + out +
                       ": No such file or directory\n");
}

TEST_F(TsmexportTest, FailedWriteExitsOneAndLeavesPreviousFileByteIdentical) {
  std::string out = WriteScene("out.tsm", "previous bytes");
  std::string err = dir + "/.stderr";
  // The tool may not grow any file past 0 blocks, so the first write of the new file
  // fails; its messages travel through a pipe, which the limit does not touch.
  std::string cmd = "sh -c \"(trap '' XFSZ; ulimit -f 0; '" + kTool + "' '" + kExamples +
                    "/showroom.json' -o '" + out +
                    "' 2>&1 >/dev/null; echo \\$? >&2) 2>&1 | cat >'" + err + "'\"";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  EXPECT_EQ(ReadFileText(err),
            "TSMEXP4: Write error on file\ntsmexport: " + out + ": File too large\n1\n")
      << "message, the path and the reason, then exit status 1";
  std::remove(err.c_str());
  EXPECT_EQ(ReadFileText(out), "previous bytes");
  // Nothing else is left in the folder: the unfinished file was removed.
  EXPECT_EQ(FolderListing(dir), std::vector<std::string>{"out.tsm"});
}

TEST_F(TsmexportTest, FailedWriteToDeviceExitsOne) {
  if (!Exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
  Outcome o = Run("'" + kExamples + "/minimal.json' -o /dev/full");
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, "TSMEXP4: Write error on file\ntsmexport: /dev/full: No space left on device\n");
  EXPECT_TRUE(Exists("/dev/full"));
}

}  // namespace

namespace {

// -o OUT.gltf and -o OUT.glb (any letter case) write glTF instead of a chunk file: JSON
// text or the binary container; a file that can't be created or written exits 1 with the
// path and the system's reason, and leaves nothing behind.
TEST_F(TsmexportTest, GltfOutputIsPickedByTheExtensionAndFailsCleanly) {
  const struct {
    std::string out;  // below dir unless absolute
    int status;
    std::string start;     // the written file's first bytes
    std::string fragment;  // in standard error
  } cases[] = {
      {"out.gltf", 0, "{", ""},
      {"out.GLB", 0, "glTF", ""},
      {"no such dir/out.gltf", 1, "", "no such dir/out.gltf: No such file or directory"},
      {"full.gltf", 1, "", "full.gltf: No space left on device"},
  };
  bool full = Exists("/dev/full") && ::symlink("/dev/full", (dir + "/full.gltf").c_str()) == 0;
  for (const auto& c : cases) {
    if (c.out == "full.gltf" && !full) continue;  // a link to a device that is always full
    SCOPED_TRACE(c.out);
    std::string out = c.out[0] == '/' ? c.out : dir + "/" + c.out;
    Outcome o = Run("'" + kExamples + "/animated.json' -q -o '" + out + "'");
    EXPECT_EQ(o.status, c.status) << o.err;
    EXPECT_NE(o.err.find(c.fragment), std::string::npos) << o.err;
    if (c.status == 0) {
      EXPECT_EQ(ReadFileText(out).substr(0, c.start.size()), c.start);
    }
  }
  std::vector<std::string> left = {"out.GLB", "out.gltf"};
  if (full) left.insert(left.begin(), "full.gltf");
  EXPECT_EQ(FolderListing(dir), left);
}

}  // namespace
