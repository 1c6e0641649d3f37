// The preview: the scene read back from a file and the picture drawn of it (camera
// view, depth, back faces, colours, position tracks), damaged and empty files, and the
// tsmview command.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "reader/chunk_dump.h"
#include "formats/scene_import.h"
#include "tests/export_check.h"
#include "tests/import_builders.h"
#include "tests/view_files.h"
#include "view/render.h"
#include "view/scene_view.h"

namespace tsm {
namespace {

constexpr int kW = 200, kH = 150;
constexpr double kPi = 3.14159265358979323846;

ViewScene Read(const std::vector<uint8_t>& bytes) {
  ViewScene scene;
  std::string error;
  EXPECT_TRUE(ReadViewScene(bytes.data(), bytes.size(), &scene, &error)) << error;
  return scene;
}

Image Render(const TestScene& s, const std::string& camera = "") {
  Image image;
  RenderOptions options;
  options.width = kW;
  options.height = kH;
  options.camera = camera;
  RenderResult r = RenderPreview(Read(BuildFile(s)), options, &image);
  EXPECT_TRUE(r.ok) << r.error;
  return image;
}

// Where the world point p falls in a kW x kH picture seen by the red-triangle scene's
// camera: at (0, -10, 0) looking along +y with +z up, 50 degrees across.
void ProjectFront(double x, double z, double y, int* px, int* py) {
  double tanX = std::tan(25.0 * kPi / 180.0), tanY = tanX * kH / kW, depth = y + 10.0;
  *px = static_cast<int>(std::floor(kW * 0.5 * (1.0 + x / (depth * tanX))));
  *py = static_cast<int>(std::floor(kH * 0.5 * (1.0 - z / (depth * tanY))));
}

// The world-space vertices of the scene's instance i.
std::vector<Vec3> World(const ViewScene& scene, size_t i) {
  std::vector<Vec3> vertices;
  EXPECT_NE(InstanceVertices(scene, scene.instances.at(i), &vertices), nullptr);
  return vertices;
}

bool IsBackground(const uint8_t* p) {
  return p[0] == kBackground[0] && p[1] == kBackground[1] && p[2] == kBackground[2];
}

const uint8_t* Centre(const Image& image) {
  int x, y;
  ProjectFront(0.0, -1.0 / 3.0, 0.0, &x, &y);  // the triangle's centroid
  return image.At(x, y);
}

TEST(PreviewTest, RedTriangleIsRedAtItsProjectedCentreAndTheCornersAreBackground) {
  Image image = Render(RedTriangleScene());
  const uint8_t* c = Centre(image);
  EXPECT_GT(c[0], 150);
  EXPECT_LT(c[1], 40);
  EXPECT_LT(c[2], 40);
  for (int y : {0, kH - 1}) {
    for (int x : {0, kW - 1}) EXPECT_TRUE(IsBackground(image.At(x, y))) << x << "," << y;
  }
  // The triangle's lower corners lie at z = -1: just inside and outside of them.
  int x, y;
  ProjectFront(-0.9, -0.95, 0.0, &x, &y);
  EXPECT_FALSE(IsBackground(image.At(x, y)));
  ProjectFront(-0.9, -1.1, 0.0, &x, &y);
  EXPECT_TRUE(IsBackground(image.At(x, y)));
}

// Counts pixels whose blue outweighs red and green together.
int BluePixels(const Image& image) {
  int n = 0;
  for (size_t i = 0; i < image.rgb.size(); i += 3) {
    if (image.rgb[i + 2] > image.rgb[i] + image.rgb[i + 1]) ++n;
  }
  return n;
}

TEST(PreviewTest, MeshBehindAnotherIsHiddenWhateverTheFileOrder) {
  struct Case {
    const char* what;
    bool frontFirst;
    bool withFront;
  } cases[] = {{"front first", true, true}, {"front last", false, true}, {"alone", true, false}};
  for (const Case& k : cases) {
    TestScene s = RedTriangleScene();
    s.materials.push_back({"Blue", {{0, 0, 255}}});
    s.meshes.clear();
    TestMesh behind = FacingTriangle("Behind", 5.0f, 1.0f, "Blue");
    if (k.withFront) s.meshes.push_back(FacingTriangle("Front", 0.0f, 1.0f, "Red"));
    s.meshes.insert(k.frontFirst ? s.meshes.end() : s.meshes.begin(), behind);
    Image image = Render(s);
    if (k.withFront) {
      EXPECT_EQ(BluePixels(image), 0) << k.what;
      EXPECT_GT(Centre(image)[0], 150) << k.what;
    } else {
      EXPECT_GT(BluePixels(image), 100) << k.what;
    }
  }
}

TEST(PreviewTest, BackFacesShowOnlyForTwoSidedMaterialsAndFacesWithoutMaterialAreGrey) {
  struct Case {
    bool reversed;
    bool twoSided;
    const char* material;
    bool drawn;
    bool grey;
  } cases[] = {
      {false, false, "Red", true, false}, {true, false, "Red", false, false},
      {true, true, "Red", true, false},   {false, false, "", true, true},
      {true, false, "", false, false},
  };
  for (const Case& k : cases) {
    TestScene s = RedTriangleScene();
    s.materials[0].twoSided = k.twoSided;
    s.meshes[0].material = k.material;
    if (k.reversed) s.meshes[0].faces = {{{0, 2, 1}}};
    const Image image = Render(s);
    const uint8_t* c = Centre(image);
    SCOPED_TRACE(testing::Message() << "reversed " << k.reversed << " two-sided " << k.twoSided
                                    << " material '" << k.material << "'");
    EXPECT_EQ(!IsBackground(c), k.drawn);
    if (k.drawn) {
      EXPECT_EQ(c[0] == c[1] && c[1] == c[2], k.grey);
    }
  }
}

TEST(PreviewTest, CameraIsChosenByNameOrFirstAndAnUnknownNameIsAnError) {
  TestScene s = RedTriangleScene();
  s.cameras.push_back({"Away", {{0, -10, 0}}, {{0, -20, 0}}, 48.0f});
  EXPECT_GT(Centre(Render(s))[0], 150);
  EXPECT_GT(Centre(Render(s, "Front"))[0], 150);
  EXPECT_TRUE(IsBackground(Centre(Render(s, "Away"))));

  Image image;
  RenderOptions options;
  options.camera = "Nobody";
  RenderResult r = RenderPreview(Read(BuildFile(s)), options, &image);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, "the file has no camera named \"Nobody\" (its cameras: \"Front\" \"Away\")");
}

TEST(PreviewTest, WithoutCameraTheThreeQuarterViewFitsTheMeshes) {
  TestScene s = RedTriangleScene();
  s.cameras.clear();
  for (P3& v : s.meshes[0].vertices) v = {{v[0] * 50 + 100, v[1] + 50, v[2] * 50 + 20}};
  Image image = Render(s);
  // The centre of the bounds lies on the triangle and is looked at.
  EXPECT_GT(image.At(kW / 2, kH / 2)[0], 150);
  int drawn = 0;
  for (int y = 0; y < kH; ++y) {
    for (int x = 0; x < kW; ++x) {
      bool edge = x == 0 || y == 0 || x == kW - 1 || y == kH - 1;
      if (!IsBackground(image.At(x, y))) {
        ++drawn;
        EXPECT_FALSE(edge) << "the mesh touches the border at " << x << "," << y;
      }
    }
  }
  EXPECT_GT(drawn, kW * kH / 20) << "the mesh fills a fair part of the picture";
}

TEST(PreviewTest, FrameMovesMeshesAlongTheirPositionTracksChildrenWithTheirParents) {
  struct Case {
    int32_t frame;
    uint32_t currentTime;  // ticks, 160 a frame
    double parentShift;    // expected x shift of the parent's mesh
    double childShift;
  } cases[] = {
      {0, 0, 0, 0}, {10, 0, 3, 4}, {5, 0, 1.5, 2}, {20, 0, 3, 4}, {-5, 0, 0, 0}, {0, 1600, -3, -4},
  };
  for (const Case& k : cases) {
    TestScene s = RedTriangleScene();
    s.meshes.push_back(FacingTriangle("Child", 2.0f, 1.0f, "Red"));
    s.nodes.push_back({0, "Tri", NO_PARENT, {{0, {{0, 0, 0}}}, {10, {{3, 0, 0}}}}});
    s.nodes.push_back({1, "Child", 0, {{0, {{5, 0, 0}}}, {10, {{6, 0, 0}}}}});
    s.currentTime = k.currentTime;
    ViewScene scene = Read(BuildFile(s));
    ApplyPositionTracks(&scene, k.frame);
    SCOPED_TRACE(testing::Message() << "frame " << k.frame << " current " << k.currentTime);
    EXPECT_NEAR(World(scene, 0)[0].x, -1.0 + k.parentShift, 1e-6);
    EXPECT_NEAR(World(scene, 1)[0].x, -1.0 + k.childShift, 1e-6);
    EXPECT_NEAR(World(scene, 1)[0].y, 2.0, 1e-6);
  }
}

TEST(PreviewTest, EmptyFileRendersTheBackgroundAndSaysSo) {
  ViewScene scene = Read(SkeletonFile());
  EXPECT_TRUE(scene.Empty());
  Image image;
  RenderResult r = RenderPreview(scene, RenderOptions(), &image);
  ASSERT_TRUE(r.ok);
  EXPECT_TRUE(r.empty);
  ASSERT_EQ(image.rgb.size(), 800u * 600u * 3u);
  for (size_t i = 0; i < image.rgb.size(); i += 3) {
    ASSERT_TRUE(IsBackground(&image.rgb[i])) << "pixel " << i / 3;
  }
}

TEST(PreviewTest, DamagedFilesFailWithTheReadersMessage) {
  const std::vector<uint8_t> good = BuildFile(RedTriangleScene());
  std::vector<std::vector<uint8_t>> damaged;
  for (size_t n = 0; n < good.size(); ++n) {
    damaged.emplace_back(good.begin(), good.begin() + n);  // every truncation
  }
  std::vector<uint8_t> longer = good;
  PutU32(longer, 2, static_cast<uint32_t>(good.size() + 1));
  damaged.push_back(longer);
  for (const std::vector<uint8_t>& bytes : damaged) {
    ViewScene scene;
    std::string error;
    ASSERT_FALSE(ReadViewScene(bytes.data(), bytes.size(), &scene, &error)) << bytes.size();
    EXPECT_EQ(error, CheckChunkFile(bytes).error);
    EXPECT_EQ(error.rfind("offset ", 0), 0u) << error;
  }
}

TEST(PreviewTest, AnyByteChangedEitherFailsTheReadOrStillDraws) {
  TestScene s = RedTriangleScene();
  s.shapes.push_back({"Rope", {{{0, 0, 0}}, {{1, 1, 1}}}});
  s.nodes.push_back({0, "Tri", NO_PARENT, {{0, {{0, 0, 0}}}, {10, {{3, 0, 0}}}}});
  const std::vector<uint8_t> good = BuildFile(s);
  RenderOptions small;
  small.width = 32;
  small.height = 24;
  for (size_t at = 0; at < good.size(); ++at) {
    for (uint8_t flip : {0x01, 0x80, 0xFF}) {
      std::vector<uint8_t> bytes = good;
      bytes[at] ^= flip;
      ViewScene scene;
      std::string error;
      if (!ReadViewScene(bytes.data(), bytes.size(), &scene, &error)) continue;
      ApplyPositionTracks(&scene, 5);
      Image image;
      EXPECT_TRUE(RenderPreview(scene, small, &image).ok) << "byte " << at;
    }
  }
}

TEST(PreviewTest, FaceNamingAMissingVertexIsLeftOut) {
  TestScene s = RedTriangleScene();
  s.meshes[0].faces.push_back({{0, 1, 7}});
  ViewScene scene = Read(BuildFile(s));
  ASSERT_EQ(scene.meshes.size(), 1u);
  EXPECT_EQ(scene.meshes[0].faces.size(), 1u);
  Image image;
  EXPECT_TRUE(RenderPreview(scene, RenderOptions(), &image).ok);
}

// One box mesh on three nodes of a glTF file: the export holds the mesh once, and so does
// the preview, which draws it on every node.
TEST(PreviewTest, EveryInstanceOfASharedMeshIsDrawn) {
  GltfBuilder b;
  int pos = b.Floats({0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1}, "VEC3");
  int idx = b.Indices({0, 1, 2, 0, 2, 3, 0, 3, 1, 1, 3, 2});
  b.doc["meshes"] = {{{"primitives", {{{"attributes", {{"POSITION", pos}}}, {"indices", idx}}}}}};
  b.doc["nodes"] = {{{"mesh", 0}, {"translation", {-10, 0, 0}}},
                    {{"mesh", 0}},
                    {{"mesh", 0}, {"translation", {10, 0, 0}}}};
  b.doc["scenes"] = {{{"nodes", {0, 1, 2}}}};
  ScratchFolder folder("preview_instances");
  MemScene scene;
  ImportResult r = LoadSceneFile(folder.Write("three.gltf", b.Text()), ImportOptions(), scene);
  ASSERT_TRUE(r.ok) << r.error;
  ViewScene view = Read(ExportedBytes(scene, folder.Path("three.tsm")));
  ASSERT_EQ(view.meshes.size(), 1u);
  EXPECT_EQ(view.meshes[0].faces.size(), 4u);
  ASSERT_EQ(view.instances.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(view.instances[i].mesh, 0);
    // (1, 0, 0) moved by its node (the node at the origin a thousandth off, as written)
    EXPECT_NEAR(World(view, i)[1].x, 10.0 * i - 9.0, 2e-3) << i;
  }
  Image image;
  EXPECT_TRUE(RenderPreview(view, RenderOptions(), &image).ok);
}

// The tsmview command, when it was built.
class TsmviewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(kTool)) GTEST_SKIP() << "tsmview was not built (no libpng)";
  }
  int Run(const std::string& args, std::string* err) {
    std::string errFile = TestOutputPath("tsmview.stderr");
    int raw = std::system(("'" + kTool + "' " + args + " 2>'" + errFile + "' >/dev/null").c_str());
    *err = ReadFileText(errFile);
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  }
  const std::string kTool = TSM_BINARY_DIR "/tsmview";
};

TEST_F(TsmviewTest, WritesAPngOrFailsWithTheReasonAndExitStatus) {
  std::string red = TestOutputPath("view_red.tsm"), empty = TestOutputPath("view_empty.tsm");
  std::string broken = TestOutputPath("view_broken.tsm");
  ASSERT_TRUE(WriteFileBytes(red, BuildFile(RedTriangleScene())));
  ASSERT_TRUE(WriteFileBytes(empty, SkeletonFile()));
  std::vector<uint8_t> cut = BuildFile(RedTriangleScene());
  cut.resize(cut.size() - 3);
  ASSERT_TRUE(WriteFileBytes(broken, cut));
  std::string png = TestOutputPath("view_out.png");
  struct Case {
    std::string args;
    int status;
    const char* err;  // a part of standard error; "" for nothing at all
    bool picture;
  } cases[] = {
      {"'" + red + "' -o '" + png + "' --size 64x48", 0, "", true},
      {"'" + red + "' -o '" + png + "' --camera Front --frame 3", 0, "", true},
      {"'" + empty + "' -o '" + png + "'", 0, "holds nothing to draw", true},
      {"'" + broken + "' -o '" + png + "'", 1, ": offset 0: ", false},
      {"'" + red + "' -o '" + png + "' --camera Back", 1, "no camera named \"Back\"", false},
      {"'" + red + "' -o '" + TestOutputPath("no/such/dir.png") + "'", 1,
       "cannot write the picture", false},
      {"'" + red + "'", 2, "no picture given", false},
      {"'" + red + "' -o '" + png + "' --size 0x10", 2, "--size needs WxH", false},
  };
  for (const Case& k : cases) {
    std::filesystem::remove(png);
    std::string err;
    EXPECT_EQ(Run(k.args, &err), k.status) << k.args << "\n" << err;
    if (*k.err == '\0') {
      EXPECT_EQ(err, "") << k.args;
    } else {
      EXPECT_NE(err.find(k.err), std::string::npos) << k.args << "\n" << err;
    }
    std::vector<uint8_t> bytes = ReadFileBytes(png);
    EXPECT_EQ(!bytes.empty(), k.picture) << k.args;
    if (k.picture) {
      const std::vector<uint8_t> signature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
      ASSERT_GE(bytes.size(), 24u);
      ExpectBytes(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 8), signature);
    }
  }
  // The size asked for is the size in the picture's header (big-endian width, height).
  std::string err;
  ASSERT_EQ(Run("'" + red + "' -o '" + png + "' --size 64x48", &err), 0);
  std::vector<uint8_t> bytes = ReadFileBytes(png);
  ASSERT_GE(bytes.size(), 24u);
  EXPECT_EQ(bytes[19], 64);
  EXPECT_EQ(bytes[23], 48);
}

}  // namespace
}  // namespace tsm
