// The importers play animation as the file does at every whole frame, and their
// messages name the place: a missing buffer file, a cut .glb, an unknown material of an
// OBJ; an OBJ group keeps the object it belongs to.
#include <gtest/gtest.h>

#include <cmath>

#include "formats/gltf/gltf_loader.h"
#include "formats/gltf/gltf_writer.h"
#include "formats/obj/obj_loader.h"
#include "scene/mem_controllers.h"
#include "scene/mem_objects.h"
#include "tests/import_builders.h"

namespace tsm {
namespace {

using nlohmann::json;

// One node with one translation channel: key times in seconds, the output values' X
// (Y and Z 0; for CUBICSPLINE in-tangent, value, out-tangent per key).
std::string TranslationAnimation(const std::string& interpolation, const std::vector<float>& times,
                                 const std::vector<float>& xs) {
  GltfBuilder b;
  std::vector<float> out;
  for (float x : xs) out.insert(out.end(), {x, 0.0f, 0.0f});
  int in = b.Floats(times, "SCALAR");
  int values = b.Floats(out, "VEC3");
  b.doc["accessors"][in]["min"] = {times.front()};
  b.doc["accessors"][in]["max"] = {times.back()};
  b.doc["nodes"] = {{{"name", "Mover"}}};
  b.doc["scenes"] = {{{"nodes", {0}}}};
  b.doc["animations"] = {
      {{"samplers", {{{"input", in}, {"output", values}, {"interpolation", interpolation}}}},
       {"channels", {{{"sampler", 0}, {"target", {{"node", 0}, {"path", "translation"}}}}}}}};
  return b.Text();
}

// At 30 frames a second: keys on whole frames stay as they are; a key between frames
// (0.25 s is frame 7.5) and a cubic spline are sampled at every frame of their span,
// with the file's own values there; STEP values start at the first whole frame at or
// after their key and hold until then; --sample-animation samples even keys on frames.
TEST(GltfAnimationImportTest, ChannelsPlayAsTheFileDoesAtEveryFrame) {
  ScratchFolder dir("anim_import");
  const double u = 7.0 / 7.5, h = 15.0 / 30.0;  // frame 7 between 0 and 0.25 s; mid-span
  const struct {
    const char* interpolation;
    std::vector<float> times, xs;
    bool sampleAlways;
    size_t keys;
    std::vector<std::pair<int, double>> frameX;  // expected X at whole frames
  } cases[] = {
      {"LINEAR", {0, 1}, {0, 30}, false, 2, {{0, 0}, {15, 15}, {30, 30}}},
      {"LINEAR", {0, 1}, {0, 30}, true, 31, {{7, 7}, {30, 30}}},
      {"LINEAR", {0, 0.25f}, {0, 10}, false, 9, {{7, 10 * u}, {8, 10}, {9, 10}}},
      {"STEP", {0, 0.25f, 0.5f}, {0, 1, 2}, false, 5, {{7, 0}, {8, 1}, {14, 1}, {15, 2}}},
      // in-tangent, value, out-tangent: from 0 to 10 over 1 s, flat at both ends
      {"CUBICSPLINE", {0, 1}, {0, 0, 0, 0, 10, 0}, false, 31,
       {{0, 0}, {15, 10 * (3 * h * h - 2 * h * h * h)}, {30, 10}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.interpolation) + (c.sampleAlways ? " sampled" : ""));
    std::string path = dir.Write("anim.gltf", TranslationAnimation(c.interpolation, c.times, c.xs));
    MemScene scene;
    ImportOptions options;
    options.sampleAlways = c.sampleAlways;
    ImportResult r = LoadGltfScene(path, options, scene);
    ASSERT_TRUE(r.ok) << r.error;
    MemNode* node = Node(scene, "Mover");
    auto* tc = dynamic_cast<MemTransformController*>(node->transform);
    ASSERT_NE(tc, nullptr);
    EXPECT_EQ(tc->position->keys.size(), c.keys);
    for (const auto& fx : c.frameX)
      EXPECT_NEAR(node->LocalTransform(fx.first * 160).GetTrans().x, fx.second, 1e-4)
          << "frame " << fx.first;
  }
}

// The bytes of a small binary glTF file made by our writer.
std::string SmallGlb() {
  MemScene scene;
  auto* mesh = scene.Own(std::make_unique<MemMeshObject>());
  mesh->vertices = {Point3(0, 0, 0), Point3(1, 0, 0), Point3(0, 1, 0)};
  mesh->faces.resize(1);
  mesh->faces[0].v = {{0, 1, 2}};
  scene.AddNode("Tri")->object = mesh;
  GltfWriteOptions options;
  options.binary = true;
  std::string bytes;
  EXPECT_TRUE(WriteGltf(scene, scene, options, bytes).ok);
  return bytes;
}

// Bad files and notices name the place: the buffer whose file is missing, the byte where
// a binary file goes wrong and why, the line of an OBJ's unknown material and the material
// files it names; an OBJ group under another object's name keeps the object as parent.
TEST(ImportMessagesTest, MessagesNameThePlaceAndTheReason) {
  ScratchFolder dir("import_messages");
  std::string glb = SmallGlb();
  ASSERT_GT(glb.size(), 40u);
  auto patched = [&](size_t size, bool fixLength) {
    std::string b = glb.substr(0, size);
    if (fixLength)
      for (int i = 0; i < 4; ++i) b[8 + i] = char((size >> (8 * i)) & 0xFF);
    return b;
  };
  const std::string obj =
      "mtllib walls.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\no Walls\ng Walls_Brick\nusemtl Green\n"
      "f 1 2 3\n";
  const struct {
    const char* file;
    std::string text;
    bool ok;
    const char* fragment;  // in the error, or in the notices of a load that succeeds
  } cases[] = {
      {"gone.gltf",
       R"({"asset":{"version":"2.0"},"buffers":[{"byteLength":4,"uri":"gone.bin"}]})", false,
       "buffer 0: its file \"gone.bin\" is missing"},
      {"cut.glb", patched(7, false), false, "ends at byte 7, inside its 12-byte header"},
      {"cut.glb", patched(30, false), false, "but the file ends at byte 30: it is cut short"},
      {"cut.glb", patched(18, true), false, "the JSON chunk at byte 12: its 8-byte header is cut"},
      {"cut.glb", patched(30, true), false, "the JSON chunk at byte 12 gives"},
      {"walls.obj", obj, true,
       "line 7: material \"Green\" is not in \"walls.mtl\"; its faces get the default material"},
  };
  dir.Write("walls.mtl", "newmtl Red\nKd 1 0 0\n");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fragment);
    std::string path = dir.Write(c.file, c.text);
    MemScene scene;
    ImportResult r = std::string(c.file).find(".obj") != std::string::npos
                         ? LoadObjScene(path, ImportOptions(), scene)
                         : LoadGltfScene(path, ImportOptions(), scene);
    ASSERT_EQ(r.ok, c.ok) << r.error;
    std::string said = c.ok ? Joined(r.notices) : r.error;
    EXPECT_NE(said.find(c.fragment), std::string::npos) << said;
    if (c.ok) {
      MemNode* brick = Node(scene, "Walls_Brick");
      ASSERT_NE(brick, nullptr);
      EXPECT_EQ(brick->parent, scene.FindNode("Walls"));
    }
  }
}

}  // namespace
}  // namespace tsm
