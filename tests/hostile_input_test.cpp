// Hostile inputs (tests/hostile/) through the tools as a user runs them: each row a file,
// the expected exit status and a fragment of the message. The files sit in a scratch
// copy of the corpus beside what they try to reach: a file outside the scene's folder, a
// link leading to it, a named pipe and a folder. Then the guarded reader's rules, once.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "io/input_file.h"
#include "tests/test_util.h"

namespace {

namespace fs = std::filesystem;

struct Row {
  const char* tool;  // tsmexport or tsmdump
  const char* args;  // after the file
  const char* file;  // in tests/hostile
  int status;
  const char* fragment;  // of standard error (or output, for tsmdump)
};

const Row kCorpus[] = {
    // files a scene names: confined to its folder, regular files only, never blocking
    {"tsmexport", "", "buffer-absolute.gltf", 2, "\"/etc/passwd\" is an absolute path"},
    {"tsmexport", "", "buffer-dotdot.gltf", 2, "leads out of the scene's folder"},
    {"tsmexport", "", "buffer-encoded.gltf", 2, "leads out of the scene's folder"},
    {"tsmexport", "", "buffer-link.gltf", 2, "symbolic link leading out"},
    {"tsmexport", "", "buffer-fifo.gltf", 2, "\"fifo.bin\" is a named pipe, not a regular file"},
    {"tsmexport", "", "buffer-folder.gltf", 2, "\"sub\" is a folder, not a regular file"},
    {"tsmexport", "--any-folder", "buffer-device.gltf", 2, "is a device, not a regular file"},
    {"tsmexport", "--any-folder", "buffer-dotdot.gltf", 0, ""},
    {"tsmexport", "", "buffer-larger.gltf", 2, "files above 24 bytes are refused"},
    {"tsmexport", "", "image-fifo.gltf", 0, "image file \"fifo.png\" (image 0) is missing"},
    {"tsmexport", "", "mtllib-absolute.obj", 2, "\"/etc/passwd\" is an absolute path"},
    {"tsmexport", "", "mtllib-fifo.obj", 2, "\"fifo.bin\" is a named pipe"},
    {"tsmexport", "", "map-fifo.obj", 0, "image file \"fifo.png\" is missing"},
    // colours of some vertices kept, the others white (the written JSON follows the output)
    {"tsmexport", "--to-json", "colors-partial.obj", 0,
     "\"vertexColors\": [[1.0,0.0,0.0],[1.0,1.0,1.0],[1.0,1.0,1.0]]"},
    {"tsmexport", "", "index-wrap.obj", 2, "line 4: vertex index 4294967297 is out of range"},
    {"tsmexport", "", "index-huge.obj", 2, "line 4: vertex index 9223372036854775808 is out"},
    {"tsmexport", "", "vertex-negative.obj", 2, "line 4: vertex index -2147483648 is out of"},
    {"tsmexport", "", "coord-nan.obj", 2, "line 2: \"nan\" is not a finite number"},
    {"tsmexport", "", "coord-inf.obj", 2, "line 2: \"inf\" is not a finite number"},
    {"tsmexport", "", "texcoord-negative.obj", 2, "line 5: texture coordinate index -5 counts "
                                                  "back past the first"},
    // bounded work
    {"tsmexport", "", "deep-nesting.gltf", 2, "nests arrays and objects more than 1000 levels"},
    // values the glTF standard forbids
    {"tsmexport", "", "negative-offset.gltf", 2, "bufferViews[0].byteOffset is -4; it cannot"},
    {"tsmexport", "", "negative-stride.gltf", 2, "bufferViews[0].byteStride is -12; it cannot"},
    {"tsmexport", "", "scene-negative.gltf", 2, "scene is -2; it cannot be negative"},
    {"tsmexport", "", "aspect-zero.gltf", 2, "aspectRatio is 0; an aspect ratio lies above 0"},
    {"tsmexport", "", "version-one.glb", 2, "a binary glTF of version 1; only version 2"},
    {"tsmexport", "", "zfar-below-znear.gltf", 2, "camera 0: zfar lies at or before znear"},
    {"tsmexport", "", "sparse-float-indices.gltf", 2, "sparse indices must be unsigned integers"},
    {"tsmexport", "", "unbacked-bomb.gltf", 2, "refused as out of proportion"},
    {"tsmexport", "", "keys-one-tick.gltf", 0, "fall on one tick at 30"},
    // the scene check: what the export would evaluate
    {"tsmexport", "", "denormal-scale.gltf", 2, "node \"Tiny\" at time 0 (frame 0): its "
                                                "transform has a zero scale"},
    {"tsmexport", "", "zero-matrix.gltf", 2, "node \"Flat\" at time 0 (frame 0): its transform"},
    {"tsmexport", "", "nested-huge-scale.gltf", 2, "node \"Inner\" at time 0 (frame 0): its "
                                                   "transform is not finite"},
    {"tsmexport", "", "keys-overflow.gltf", 2, "node \"Runner\": its position key at time 4800 "
                                               "(frame 30) lies too far from the key before"},
    {"tsmexport", "", "scale-through-zero.gltf", 2, "node \"Flip\" at time 0 (frame 0): its "
                                                    "transform has a zero scale"},
    // more material slots than a file numbers: split pieces carry their own, or refused
    {"tsmexport", "", "many-slots.obj", 0, "split into 2 pieces"},
    {"tsmexport", "--no-split", "many-slots.obj", 2, "face 65536 of its mesh uses material slot "
                                                     "65536; a file numbers them 0 to 65535"},
    // damaged files called valid before: values no reader can use, with their offsets
    {"tsmdump", "--check", "vertex-nan.tsm", 1, "offset 271: chunk 0x4110 MESH_VERTICES: "
                                                "vertex 1: a vertex holds NaN"},
    {"tsmdump", "--check", "face-past-vertices.tsm", 1, "offset 405: chunk 0x4120 MESH_FACES: "
                                                        "face 0 names vertex 3; the mesh has 3"},
    {"tsmdump", "--check", "camera-inf.tsm", 1, "offset 7463: chunk 0x4700 CAMERA: the camera "
                                                "holds an infinite value"},
    {"tsmdump", "--check", "light-nan.tsm", 1, "offset 7543: chunk 0x4600 LIGHT: the light's "
                                               "position holds NaN"},
    {"tsmdump", "--check", "shape-point-nan.tsm", 1, "offset 7283: chunk 0x8001 SHAPE_POINTS: a "
                                                     "shape point holds NaN"},
};

class HostileInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/hostile_input_XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir = pattern;
    scene = dir + "/scene";
    fs::copy(TSM_SOURCE_DIR "/tests/hostile", scene);
    std::ofstream(dir + "/secret.bin", std::ios::binary) << std::string(36, 's');
    fs::create_symlink("../secret.bin", scene + "/link.bin");
    fs::create_directory(scene + "/sub");
    // Too large to keep: each of 65600 faces in a material of its own.
    std::ofstream mtl(scene + "/many-slots.mtl"), obj(scene + "/many-slots.obj");
    obj << "mtllib many-slots.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\n";
    for (int i = 0; i < 65600; ++i) {
      mtl << "newmtl m" << i << "\n";
      obj << "usemtl m" << i << "\nf 1 2 3\n";
    }
    ASSERT_EQ(::mkfifo((scene + "/fifo.bin").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo((scene + "/fifo.png").c_str(), 0600), 0);
  }
  void TearDown() override { fs::remove_all(dir); }

  // Runs a tool; answers its exit status with its standard output and error in *text.
  int Run(const Row& row, std::string* text) {
    std::string out = dir + "/.out", json = dir + "/out.json";
    bool toJson = std::string(row.args) == "--to-json";
    std::string cmd = std::string("timeout 60 '" TSM_BINARY_DIR "/") + row.tool + "' '" + scene +
                      "/" + row.file + "' " + row.args + (toJson ? " '" + json : " -o '" + dir +
                      "/out.tsm") + "' >'" + out + "' 2>&1 </dev/null";
    if (std::string(row.tool) == "tsmdump")
      cmd = std::string("timeout 60 '" TSM_BINARY_DIR "/tsmdump' ") + row.args + " '" + scene +
            "/" + row.file + "' >'" + out + "' 2>&1 </dev/null";
    int raw = std::system(cmd.c_str());
    *text = tsm::ReadFileText(out) + (toJson ? tsm::ReadFileText(json) : "");
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  }

  std::string dir, scene;
};

// A file the scene refers to is an input too: an output naming it is refused, by its own
// name and through a link, and it keeps its bytes.
TEST_F(HostileInputTest, OutputsNeverReplaceTheFilesASceneReads) {
  std::string before = tsm::ReadFileText(scene + "/tri.bin");
  fs::create_symlink(scene + "/tri.bin", dir + "/tri-link.bin");
  for (std::string target : {scene + "/tri.bin", dir + "/tri-link.bin"}) {
    std::string cmd = "'" TSM_BINARY_DIR "/tsmexport' '" + scene + "/image-fifo.gltf' -o '" +
                      target + "' >/dev/null 2>&1 </dev/null";
    int raw = std::system(cmd.c_str());
    EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 1) << target;
    EXPECT_EQ(tsm::ReadFileText(scene + "/tri.bin"), before) << target;
  }
}

TEST_F(HostileInputTest, EachCorpusFileGivesItsExitAndMessage) {
  for (const Row& row : kCorpus) {
    std::string text;
    int status = Run(row, &text);
    EXPECT_EQ(status, row.status) << row.file << ": " << text;
    EXPECT_NE(text.find(row.fragment), std::string::npos) << row.file << ": " << text;
    if (row.status != 0 && std::string(row.tool) == "tsmexport") {
      EXPECT_FALSE(fs::exists(dir + "/out.tsm")) << row.file;
    }
    fs::remove(dir + "/out.tsm");
  }
}

TEST_F(HostileInputTest, GuardedReaderRules) {
  using tsm::InputFault;
  tsm::InputFolder folder(scene + "/x.gltf", false);
  std::string bytes, why;
  EXPECT_TRUE(folder.Read("tri.bin", 36, &bytes).ok());
  EXPECT_EQ(bytes.size(), 36u);
  EXPECT_EQ(folder.Read("tri.bin", 35, &bytes).fault, InputFault::kTooLarge);
  EXPECT_TRUE(bytes.empty());
  for (const char* outside : {"/etc/passwd", "../secret.bin", "sub/../../secret.bin",
                              "sub\\..\\..\\secret.bin", "link.bin", "C:x", ""})
    EXPECT_EQ(folder.Read(outside, 100, &bytes).fault, InputFault::kOutside) << outside;
  EXPECT_TRUE(tsm::InputFolder(scene + "/x.gltf", true).Read("link.bin", 100, &bytes).ok());
  EXPECT_EQ(folder.Read("fifo.bin", 100, &bytes).fault, InputFault::kNotRegular);
  EXPECT_EQ(folder.Read("sub", 100, &bytes).fault, InputFault::kNotRegular);
  EXPECT_EQ(folder.Read("none.bin", 100, &bytes).fault, InputFault::kOpen);
  EXPECT_TRUE(folder.Exists("tri.bin"));
  EXPECT_FALSE(folder.Exists("fifo.png"));
  EXPECT_FALSE(folder.Exists("link.bin"));
  EXPECT_EQ(tsm::DecodeUri("%2e%2E/a+b%41"), "../a bA");

  // A stream is read when allowed, up to the limit, and no further once hopeless.
  tsm::InputRules rules;
  rules.streams = true;
  rules.maxSize = 1000;
  EXPECT_EQ(tsm::ReadInputFile("/dev/zero", rules, &bytes).fault, InputFault::kStreamTooLarge);
  rules.maxSize = 1 << 20;
  rules.hopeless = [](const char* data, size_t) { return data[0] == '\0'; };
  EXPECT_TRUE(tsm::ReadInputFile("/dev/zero", rules, &bytes).ok());
  EXPECT_FALSE(bytes.empty());
  rules.streams = false;
  EXPECT_EQ(tsm::ReadInputFile("/dev/zero", rules, &bytes).fault, InputFault::kNotRegular);
}

}  // namespace
