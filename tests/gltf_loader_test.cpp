// The glTF importer: hierarchy, Z-up coordinates, meshes with multi/sub materials and
// maps, cameras and lights with their targets, key times; and bad files.
#include "formats/gltf/gltf_loader.h"

#include <gtest/gtest.h>

#include <cmath>

#include "formats/gltf/gltf_conventions.h"
#include "formats/gltf/gltf_prescan.h"
#include "scene/mem_controllers.h"
#include "scene/mem_material.h"
#include "scene/mem_objects.h"
#include "tests/import_builders.h"

namespace tsm {
namespace {

using nlohmann::json;

constexpr double kPi = 3.14159265358979323846;

// A scene with every feature: a group with a two-material mesh (triangles with UVs and
// colours, a strip, and points), a camera, a spot light; a directional light on its own;
// a translation track on the mesh.
GltfBuilder Sample(bool animated = true) {
  GltfBuilder b;
  int pos = b.Floats({0, 1, 0, 1, 0, 0, 0, 0, 1}, "VEC3");
  int uv = b.Floats({0, 0, 1, 0.25f, 0.5f, 1}, "VEC2");
  int col = b.Floats({1, 0, 0, 0, 1, 0, 0, 0, 1}, "VEC3");
  int strip = b.Floats({0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 1, 0}, "VEC3");
  int stripIdx = b.Indices({0, 1, 2, 3});
  b.doc["meshes"] = {{{"name", "BoxMesh"},
                      {"primitives",
                       {{{"attributes", {{"POSITION", pos}, {"TEXCOORD_0", uv}, {"COLOR_0", col}}},
                         {"material", 0}},
                        {{"attributes", {{"POSITION", strip}}},
                         {"indices", stripIdx},
                         {"mode", 5},
                         {"material", 1}},
                        {{"attributes", {{"POSITION", pos}}}, {"mode", 0}}}}}};
  json transform = {
      {"KHR_texture_transform", {{"offset", {0.5, 0.25}}, {"scale", {2, 3}}, {"rotation", 0.5}}}};
  b.doc["materials"] = {
      {{"name", "Red"},
       {"pbrMetallicRoughness",
        {{"baseColorFactor", {1, 0, 0, 0.5}},
         {"baseColorTexture", {{"index", 0}, {"extensions", transform}}}}},
       {"normalTexture", {{"index", 1}, {"scale", 2}}},
       {"emissiveFactor", {0.2, 0.4, 0.1}},
       {"alphaMode", "BLEND"},
       {"doubleSided", true}},
      {{"name", "Blue"}, {"pbrMetallicRoughness", {{"baseColorFactor", {0, 0, 1, 1}}}}}};
  b.doc["textures"] = {{{"source", 0}}, {{"source", 1}}};
  b.doc["images"] = {{{"uri", "red%20paint.png"}}, {{"uri", "bump.png"}}};
  b.doc["cameras"] = {
      {{"type", "perspective"}, {"perspective", {{"yfov", 0.8}, {"znear", 0.5}, {"zfar", 200}}}}};
  b.doc["extensionsUsed"] = {"KHR_lights_punctual", "KHR_texture_transform"};
  b.doc["extensions"] = {{"KHR_lights_punctual",
                          {{"lights",
                            {{{"type", "spot"},
                              {"color", {1, 0.5, 0.25}},
                              {"intensity", 3},
                              {"range", 10},
                              {"spot", {{"innerConeAngle", 0.2}, {"outerConeAngle", 0.4}}}},
                             {{"type", "directional"}}}}}}};
  auto light = [](int i) { return json{{"KHR_lights_punctual", {{"light", i}}}}; };
  b.doc["nodes"] = {{{"name", "Group"}, {"translation", {1, 2, 3}}, {"children", {1, 2, 3}}},
                    {{"name", "Box"}, {"mesh", 0}},
                    {{"name", "Cam"}, {"camera", 0}, {"translation", {0, 0, 5}}},
                    {{"name", "Spot"}, {"extensions", light(0)}},
                    {{"name", "Sun"}, {"extensions", light(1)}}};
  b.doc["scenes"] = {{{"nodes", {0, 4}}}};
  b.doc["scene"] = 0;
  if (animated) {
    int times = b.Floats({0, 1, 2}, "SCALAR");
    int values = b.Floats({0, 0, 0, 0, 1, 0, 0, 2, 0}, "VEC3");
    b.doc["animations"] = {
        {{"samplers", {{{"input", times}, {"output", values}}}},
         {"channels", {{{"sampler", 0}, {"target", {{"node", 1}, {"path", "translation"}}}}}}}};
  }
  return b;
}

class GltfLoaderTest : public ::testing::Test {
 protected:
  ScratchFolder dir{"gltf_loader"};

  ImportResult Load(const std::string& text, const ImportOptions& options = ImportOptions()) {
    return LoadGltfScene(dir.Write("scene.gltf", text), options, scene);
  }
  MemScene scene;
};

void ExpectPoint(const Point3& p, float x, float y, float z) {
  EXPECT_NEAR(p.x, x, 1e-5f);
  EXPECT_NEAR(p.y, y, 1e-5f);
  EXPECT_NEAR(p.z, z, 1e-5f);
}

TEST_F(GltfLoaderTest, HierarchyCoordinatesAndTargets) {
  ImportResult r = Load(Sample().Text());
  ASSERT_TRUE(r.ok) << r.error;
  std::vector<std::string> order;
  for (const auto& n : scene.Nodes()) order.push_back(n->name + "<" + n->parent->name);
  EXPECT_EQ(order,
            (std::vector<std::string>{"Group<Scene Root", "Box<Group", "Cam<Group", "Spot<Group",
                                      "Sun<Scene Root", "Cam.Target<Group", "Spot.Target<Group"}));
  EXPECT_EQ(scene.masterUnitType, 5) << "glTF lengths are meters";
  MemNode* group = Node(scene, "Group");
  EXPECT_EQ(group->object->ClassIdentity(), kDummyObjectClass);
  EXPECT_EQ(Node(scene, "Sun")->object->ClassIdentity(), kDummyObjectClass);
  // glTF (x, y, z) lands at (x, -z, y).
  ExpectPoint(group->local.GetTrans(), 1, -3, 2);
  MemNode* cam = Node(scene, "Cam");
  ExpectPoint(cam->NodeTransform(0).GetTrans(), 1, -8, 2);
  // The camera looks along its -Z, which is the host's +Y; its target is one unit away.
  ASSERT_NE(cam->lookAt, nullptr);
  EXPECT_TRUE(cam->lookAt->isTarget);
  EXPECT_EQ(cam->lookAt->owner, cam);
  ExpectPoint(cam->lookAt->NodeTransform(0).GetTrans(), 1, -7, 2);
  auto* camera = dynamic_cast<MemCameraObject*>(cam->object);
  ASSERT_NE(camera, nullptr);
  // yfov is vertical; the host's field of view is horizontal, at 4:3 without an aspect.
  EXPECT_NEAR(camera->fov, 2 * std::atan(std::tan(0.4) * 4 / 3), 1e-6);
  EXPECT_FLOAT_EQ(camera->nearRange, 0.5f);
  EXPECT_FLOAT_EQ(camera->farRange, 200.0f);
  MemNode* spot = Node(scene, "Spot");
  auto* light = dynamic_cast<MemLightObject*>(spot->object);
  ASSERT_NE(light, nullptr);
  EXPECT_TRUE(light->IsSpot());
  EXPECT_NEAR(light->hotspot, 0.4 * 180 / kPi, 1e-4);  // full cone, degrees
  EXPECT_NEAR(light->falloff, 0.8 * 180 / kPi, 1e-4);
  EXPECT_FLOAT_EQ(light->intensity, 3.0f);
  EXPECT_TRUE(light->attenuate);
  EXPECT_FLOAT_EQ(light->attenEnd, 10.0f);
  ExpectPoint(light->color, 1, DisplayFromLinear(0.5f), DisplayFromLinear(0.25f));  // sRGB
  ASSERT_NE(spot->lookAt, nullptr);
  ExpectPoint(spot->lookAt->NodeTransform(0).GetTrans(), 1, -2, 2);
  std::string notices = Joined(r.notices);
  for (const char* expected :
       {"primitive 2: points and lines are not exported", "\"Sun\" is a directional light",
        "image file \"red paint.png\" (image 0) is missing", "image file \"bump.png\""})
    EXPECT_NE(notices.find(expected), std::string::npos) << expected << " in\n" << notices;
  for (const std::string& n : r.notices) EXPECT_EQ(n.rfind(dir.Path("scene.gltf") + ": ", 0), 0u);
}

TEST_F(GltfLoaderTest, MeshWithTwoMaterialsGetsMultiSubMaterialAndMaps) {
  dir.Write("bump.png", "not decoded");
  ImportResult r = Load(Sample().Text());
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(Joined(r.notices).find("bump.png"), std::string::npos) << "the image is there";
  MemNode* box = Node(scene, "Box");
  auto* mesh = dynamic_cast<MemMeshObject*>(box->object);
  ASSERT_NE(mesh, nullptr);
  ASSERT_EQ(mesh->vertices.size(), 7u);
  ExpectPoint(mesh->vertices[0], 0, 0, 1);  // glTF (0, 1, 0) is up
  ExpectPoint(mesh->vertices[2], 0, -1, 0);
  // One triangle, then the strip of four vertices as two triangles, winding kept.
  ASSERT_EQ(mesh->faces.size(), 3u);
  EXPECT_EQ(mesh->faces[0].v, (std::array<int, 3>{0, 1, 2}));
  EXPECT_EQ(mesh->faces[1].v, (std::array<int, 3>{3, 4, 5}));
  EXPECT_EQ(mesh->faces[2].v, (std::array<int, 3>{5, 4, 6}));
  EXPECT_EQ(mesh->faces[0].materialId, 0);
  EXPECT_EQ(mesh->faces[2].materialId, 1);
  ASSERT_EQ(mesh->texVerts.size(), 7u);
  ExpectPoint(mesh->texVerts[1], 1, 0.75f, 0);  // V flipped
  EXPECT_EQ(mesh->texFaces.size(), 3u);
  ASSERT_EQ(mesh->vertexColors.size(), 7u);
  ExpectPoint(mesh->vertexColors[1], 0, 1, 0);
  ExpectPoint(mesh->vertexColors[5], 1, 1, 1);  // the strip has none

  auto* multi = dynamic_cast<MemMaterial*>(box->material);
  ASSERT_NE(multi, nullptr);
  EXPECT_EQ(multi->classId, kMultiMaterialClass);
  ASSERT_EQ(multi->subMaterials.size(), 2u);
  auto* red = dynamic_cast<MemMaterial*>(multi->subMaterials[0]);
  ASSERT_NE(red, nullptr);
  EXPECT_EQ(red->name, "Red");
  EXPECT_EQ(static_cast<MemMaterial*>(multi->subMaterials[1])->name, "Blue");
  ExpectPoint(red->diffuse, 1, 0, 0);
  ExpectPoint(red->ambient, 0.2f, 0, 0);
  EXPECT_FLOAT_EQ(red->transparency, 0.5f);
  EXPECT_FLOAT_EQ(red->selfIllumination, 0.4f);
  EXPECT_TRUE(red->twoSided);
  auto* diffuse = dynamic_cast<MemMap*>(red->channels[kChannelDiffuse].map);
  ASSERT_NE(diffuse, nullptr);
  EXPECT_EQ(diffuse->fileName, "red paint.png");
  EXPECT_FLOAT_EQ(diffuse->uOffset, 0.5f);
  EXPECT_FLOAT_EQ(diffuse->vOffset, -0.25f);
  EXPECT_FLOAT_EQ(diffuse->uTiling, 2.0f);
  EXPECT_FLOAT_EQ(diffuse->vTiling, 3.0f);
  EXPECT_FLOAT_EQ(diffuse->rotationAngle, -0.5f);
  auto* bump = dynamic_cast<MemMap*>(red->channels[kChannelBump].map);
  ASSERT_NE(bump, nullptr);
  EXPECT_EQ(bump->fileName, "bump.png");
  EXPECT_FLOAT_EQ(red->channels[kChannelBump].amount, 2.0f);
}

TEST_F(GltfLoaderTest, KeyTimesBecomeTicksAtTheFrameRate) {
  for (double fps : {30.0, 25.0}) {
    MemScene s;
    ImportOptions options;
    options.fps = fps;
    ImportResult r = LoadGltfScene(dir.Write("anim.gltf", Sample().Text()), options, s);
    ASSERT_TRUE(r.ok) << r.error;
    auto* tc = dynamic_cast<MemTransformController*>(s.FindNode("Box")->transform);
    ASSERT_NE(tc, nullptr);
    // The parts no channel animates hold the node's own value without keys: the file
    // keeps the animation of a node only when all three exist.
    ASSERT_TRUE(tc->rotation != nullptr && tc->scale != nullptr);
    EXPECT_TRUE(tc->rotation->keys.empty() && tc->scale->keys.empty());
    EXPECT_EQ(tc->scale->constS, Point3(1, 1, 1));
    ASSERT_NE(tc->position, nullptr);
    EXPECT_FALSE(tc->position->KeyBearing());
    std::vector<TimeValue> times;
    for (const MemKey& k : tc->position->keys) times.push_back(k.time);
    TimeValue second = TimeValue(fps * 160);
    EXPECT_EQ(times, (std::vector<TimeValue>{0, second, 2 * second})) << fps;
    ExpectPoint(tc->position->keys[2].p, 0, 0, 2);  // glTF +Y is up
    EXPECT_EQ(s.animationRange.End(), 2 * second);
  }
}

TEST_F(GltfLoaderTest, UpAxisZKeepsCoordinates) {
  ImportOptions options;
  options.yUp = false;
  ASSERT_TRUE(Load(Sample(false).Text(), options).ok);
  ExpectPoint(Node(scene, "Group")->local.GetTrans(), 1, 2, 3);
  ExpectPoint(Node(scene, "Cam")->lookAt->NodeTransform(0).GetTrans(), 1, 2, 7);
}

TEST_F(GltfLoaderTest, BadFilesGiveOneMessageNamingTheFile) {
  struct Case {
    const char* what;
    std::function<void(json&)> change;
    const char* expected;
  };
  std::vector<Case> cases = {
      {"index past the vertices",
       [](json& d) {
         d["accessors"][4]["componentType"] = 5125;
         d["accessors"][4]["count"] = 2;
       },
       "out of range"},
      {"accessor past its view", [](json& d) { d["accessors"][0]["count"] = 4; },
       "do not fit in buffer view"},
      {"view past its buffer", [](json& d) { d["bufferViews"][0]["byteLength"] = 1 << 20; }, ""},
      {"absurd count without data",
       [](json& d) {
         d["accessors"][0].erase("bufferView");
         d["accessors"][0]["count"] = 4000000000u;
       },
       "beyond reason"},
      {"node in a cycle", [](json& d) { d["nodes"][1]["children"] = {0}; }, "more than once"},
      {"missing mesh", [](json& d) { d["nodes"][1]["mesh"] = 7; }, "mesh 7 does not exist"},
      {"missing material", [](json& d) { d["meshes"][0]["primitives"][0]["material"] = 9; },
       "material 9 does not exist"},
      {"missing light",
       [](json& d) { d["nodes"][3]["extensions"]["KHR_lights_punctual"]["light"] = 5; },
       "light 5 does not exist"},
      {"short animation output", [](json& d) { d["animations"][0]["samplers"][0]["output"] = 3; },
       "values for 3 key times"},
      {"broken JSON", nullptr, ""},
  };
  for (const Case& c : cases) {
    GltfBuilder b = Sample();
    std::string text;
    if (c.change) {
      json d = json::parse(b.Text());
      c.change(d);
      text = d.dump();
    } else {
      text = b.Text().substr(0, 200);
    }
    MemScene s;
    std::string path = dir.Write("bad.gltf", text);
    ImportResult r = LoadGltfScene(path, ImportOptions(), s);
    EXPECT_FALSE(r.ok) << c.what;
    EXPECT_EQ(r.error.rfind(path + ": ", 0), 0u) << c.what << ": " << r.error;
    EXPECT_NE(r.error.find(c.expected), std::string::npos) << c.what << ": " << r.error;
    EXPECT_EQ(r.error.find('\n'), std::string::npos) << c.what << ": " << r.error;
  }
  // A value that is not finite, in each attribute whose floats are read where they lie.
  for (int bad = 0; bad < 3; ++bad) {
    GltfBuilder b;
    std::vector<float> values[3] = {
        {0, 1, 0, 1, 0, 0, 0, 0, 1}, {0, 0, 1, 0, 1, 1}, {1, 0, 0, 0, 1, 0, 0, 0, 1}};
    values[bad][4] = bad == 1 ? NAN : INFINITY;
    int pos = b.Floats(values[0], "VEC3"), uv = b.Floats(values[1], "VEC2"),
        col = b.Floats(values[2], "VEC3");
    b.doc["meshes"] = {
        {{"primitives",
          {{{"attributes", {{"POSITION", pos}, {"TEXCOORD_0", uv}, {"COLOR_0", col}}}}}}}};
    b.doc["nodes"] = {{{"mesh", 0}}};
    MemScene t;
    ImportResult r = LoadGltfScene(dir.Write("nan.gltf", b.Text()), ImportOptions(), t);
    const char* attribute[] = {"POSITION", "TEXCOORD_0", "COLOR_0"};
    EXPECT_NE(r.error.find(std::string(attribute[bad]) + ": accessor " + std::to_string(bad) +
                           " holds a value that is not a finite number"),
              std::string::npos)
        << bad << ": " << r.error;
  }
  MemScene s;
  ImportResult missing = LoadGltfScene(dir.Path("none.gltf"), ImportOptions(), s);
  EXPECT_EQ(missing.error, dir.Path("none.gltf") + ": cannot open the file");
  // A binary file cut short, at every length of its header.
  std::string glb = std::string("glTF\x02\0\0\0\x40\0\0\0", 12) + std::string(20, 'x');
  for (size_t n = 4; n < glb.size(); n += 3) {
    MemScene t;
    ImportResult r = LoadGltfScene(dir.Write("cut.glb", glb.substr(0, n)), ImportOptions(), t);
    EXPECT_FALSE(r.ok) << n;
  }
}

TEST_F(GltfLoaderTest, EveryCutOfAFileFailsWithItsName) {
  std::string text = Sample().Text();
  for (size_t n = 0; n < text.size(); n += 5) {
    MemScene s;
    std::string path = dir.Write("cut.gltf", text.substr(0, n));
    ImportResult r = LoadGltfScene(path, ImportOptions(), s);
    EXPECT_FALSE(r.ok) << n;
    EXPECT_EQ(r.error.rfind(path + ": ", 0), 0u) << n << ": " << r.error;
  }
}

// A plain GLB's buffers are read where they lie in its binary chunk, the library given the
// file with each of their lengths written as 1; anything unusual goes to the library as
// it is. Either way the scene is the one the same document gives as a .gltf, and a fault
// gives the library's message.
TEST_F(GltfLoaderTest, GlbBuffersAreReadWhereTheyLieOrByTheLibrary) {
  GltfBuilder b = Sample(false);
  MemScene same;
  ASSERT_TRUE(LoadGltfScene(dir.Write("same.gltf", b.Text()), ImportOptions(), same).ok);
  std::vector<uint8_t> expect = ExportedBytes(same, dir.Path("same.tsm"));
  ASSERT_FALSE(expect.empty());
  const std::string length = "\"byteLength\":" + std::to_string(b.BinarySize());
  const std::string bumpImage = "{\"uri\":\"bump.png\"}";
  struct Case {
    const char* what;
    std::string from, to;  // the JSON text's change; from empty: none
    bool inPlace;
    const char* error;  // null: loads
  } cases[] = {
      {"plain", "", "", true, nullptr},
      {"two buffers in the chunk, the views on the second", "\"buffer\":0,", "\"buffer\":1,", true,
       nullptr},
      {"a length with an exponent", length, length + "e0", false, "not a positive integer"},
      {"a repeated length", length, length + "," + length, false, nullptr},
      {"an escaped member name", "\"buffers\"", "\"buff\\u0065rs\"", false, nullptr},
      {"an image in a buffer view", bumpImage,
       bumpImage + ",{\"bufferView\":0,\"mimeType\":\"image/png\"}", false, nullptr},
      {"a length past the chunk", length, length + "0", false, "Invalid `byteLength'"},
  };
  for (const Case& c : cases) {
    std::string glb = b.Glb([&](std::string& text) {
      if (c.from.empty()) return;
      size_t at = text.find(c.from);
      ASSERT_NE(at, std::string::npos) << c.what;
      if (c.from == "\"buffer\":0,") {  // every view, and a second buffer like the first
        for (; at != std::string::npos; at = text.find(c.from, at))
          text.replace(at, c.from.size(), c.to);
        at = text.find(length);
        text.insert(text.find('}', at) + 1, ",{" + length + "}");
        return;
      }
      text.replace(at, c.from.size(), c.to);
    });
    GlbShadow shadow;
    ASSERT_EQ(MakeGlbShadow(glb, &shadow), c.inPlace) << c.what;
    if (c.inPlace) {
      // The same frame and text, the lengths written as 1 and padded, then 4 zero bytes.
      std::string text = glb.substr(20, glb.size() - 28 - ((b.BinarySize() + 3) / 4 * 4));
      std::string one = "\"byteLength\":1" + std::string(length.size() - 14, ' ');
      for (size_t at = text.find(length); at != std::string::npos; at = text.find(length, at))
        text.replace(at, length.size(), one);
      EXPECT_EQ(shadow.bytes.substr(20, text.size()), text) << c.what;
      EXPECT_EQ(shadow.bytes.size(), 20 + text.size() + 12) << c.what;
      EXPECT_EQ(shadow.binarySize, (b.BinarySize() + 3) / 4 * 4) << c.what;
      for (const auto& e : shadow.embedded) EXPECT_EQ(e.second, b.BinarySize()) << c.what;
    }
    MemScene s;
    ImportResult r = LoadGltfScene(dir.Write("case.glb", glb), ImportOptions(), s);
    if (c.error != nullptr) {
      EXPECT_FALSE(r.ok) << c.what;
      EXPECT_NE(r.error.find(c.error), std::string::npos) << c.what << ": " << r.error;
      continue;
    }
    ASSERT_TRUE(r.ok) << c.what << ": " << r.error;
    EXPECT_EQ(ExportedBytes(s, dir.Path("case.tsm")), expect) << c.what;
  }
}

}  // namespace
}  // namespace tsm
