// The glTF writer: every example and the built scenes convert to .gltf and .glb that the
// official validator accepts; normals follow the smoothing groups; scenes written and
// read back keep their nodes, transforms at every frame, meshes, colours, cameras and
// lights; the conventions convert both ways.
#include "formats/gltf/gltf_writer.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdlib>
#include <nlohmann/json.hpp>

#include "formats/gltf/gltf_conventions.h"
#include "formats/gltf/gltf_loader.h"
#include "formats/scene_import.h"
#include "scene/mem_controllers.h"
#include "scene/mem_material.h"
#include "scene/mem_objects.h"
#include "tests/import_builders.h"
#include "tests/test_util.h"

namespace tsm {
namespace {

const std::string kExamples = TSM_SOURCE_DIR "/examples";

// The folder the validator is installed in, or empty.
std::string ValidatorTools() {
  if (std::system("node --version > /dev/null 2>&1") != 0) return "";
  for (const char* dir : {TSM_BINARY_DIR "/node-tools", TSM_SOURCE_DIR "/build/node-tools"})
    if (std::filesystem::exists(std::string(dir) + "/node_modules/gltf-validator/package.json"))
      return dir;
  return "";
}

// Runs the validator on file; answers its exit status with its report in *report.
int Validate(const std::string& tools, const std::string& file, bool ignoreMissing,
             std::string* report) {
  std::string log = file + ".log";
  std::string cmd = "node '" TSM_SOURCE_DIR "/scripts/gltf-validate.js' --tools '" + tools + "' " +
                    (ignoreMissing ? "--ignore-missing " : "") + "'" + file + "' > '" + log +
                    "' 2>&1";
  int rc = std::system(cmd.c_str());
  *report = ReadFileText(log);
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

// Writes scene as glTF (binary for .glb) to path; images are found from path's folder.
std::string WriteFile(MemScene& scene, const std::string& scenePath, const std::string& path,
                      std::vector<std::string>* notices = nullptr) {
  scene.ApplyHostSettings();
  GltfWriteOptions options;
  IsGltfPath(path, &options.binary);
  options.imagePrefix = ImagePrefixFor(scenePath, path);
  std::string bytes;
  GltfWriteResult r = WriteGltf(scene, scene, options, bytes);
  EXPECT_TRUE(r.ok) << r.error;
  if (notices != nullptr) *notices = r.notices;
  std::ofstream(path, std::ios::binary) << bytes;
  return bytes;
}

// A box of 8 corners and 12 faces: the faces of side s (0..5) in smoothing groups
// groups[s]; two materials (the sides alternate) under a multi/sub material whose
// second slot is empty; texture coordinates and vertex colours.
void AddBox(MemScene& scene, const std::string& name, const std::array<uint32_t, 6>& groups,
            MemNode* parent = nullptr) {
  auto* mesh = scene.Own(std::make_unique<MemMeshObject>());
  for (int i = 0; i < 8; ++i) {
    mesh->vertices.emplace_back(float(i & 1), float((i >> 1) & 1), float((i >> 2) & 1));
    mesh->vertexColors.emplace_back(0.1f * float(i), 0.5f, 1.0f);
    mesh->texVerts.emplace_back(float(i & 1), float((i >> 1) & 1), 0.0f);
  }
  const int sides[6][4] = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4},
                           {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
  for (int s = 0; s < 6; ++s)
    for (int half = 0; half < 2; ++half) {
      MemFace f;
      f.v = half == 0 ? std::array<int, 3>{{sides[s][0], sides[s][1], sides[s][2]}}
                      : std::array<int, 3>{{sides[s][0], sides[s][2], sides[s][3]}};
      f.smoothing = groups[s];
      f.materialId = s % 3;  // slot 1 is empty, slot 2 wraps to slot 0
      mesh->faces.push_back(f);
      mesh->texFaces.push_back(f.v);
    }
  auto* red = scene.Own(std::make_unique<MemMaterial>());
  red->name = "Red";
  red->diffuse = Point3(1.0f, 0.2f, 0.1f);
  red->transparency = 0.25f;
  red->twoSided = true;
  auto* multi = scene.Own(std::make_unique<MemMaterial>());
  multi->classId = kMultiMaterialClass;
  multi->name = "Box Materials";
  multi->subMaterials = {red, nullptr};
  MemNode* node = scene.AddNode(name, parent);
  node->object = mesh;
  node->material = multi;
}

// A scene of every kind the writer knows, built in code: boxes smooth and faceted (one
// mirrored by its object offset, one in a child node), a camera and a rolled spot aimed
// at targets off their own axes, a point light, a dummy and a shape.
void BuildMixedScene(MemScene& scene) {
  AddBox(scene, "Smooth", {1, 1, 1, 1, 1, 1});
  MemNode* faceted = scene.FindNode("Smooth");
  AddBox(scene, "Faceted \xc3\xa9\xff", {1, 2, 4, 8, 16, 32}, faceted);
  MemNode* child = scene.Nodes().back().get();
  child->local = ScaleMatrix(Point3(1, 2, 3)) * QuatToMatrix(QuatFromAngAxis(0.5f, Point3(0, 0, 1))) *
                 TransMatrix(Point3(5, 0, 0));
  child->objectOffsetScale = Point3(-1, 1, 1);
  MemNode* cam = scene.AddNode("Cam");
  cam->object = scene.Own(std::make_unique<MemCameraObject>());
  cam->local = TransMatrix(Point3(0, -50, 20));
  static_cast<MemCameraObject*>(cam->object)->farRange = 0;  // none: the file needs one
  MemNode* camTarget = scene.AddNode("Cam.Target");
  camTarget->object = scene.AddObject(kFamilyHelper, kTargetObjectClass);
  MemScene::SetLookAt(cam, camTarget);
  auto* spot = scene.Own(std::make_unique<MemLightObject>(true));
  spot->color = Point3(1.0f, 0.8f, 0.0f);
  MemNode* spotNode = scene.AddNode("Spot");
  spotNode->object = spot;
  spotNode->local = TransMatrix(Point3(30, 30, 30));
  auto* roll = scene.Own(std::make_unique<MemController>(ControlKind::FLOAT, false));
  roll->constF = 0.3f;
  auto* tc = scene.Own(std::make_unique<MemTransformController>());
  tc->roll = roll;
  spotNode->transform = tc;
  MemNode* spotTarget = scene.AddNode("Spot.Target");
  spotTarget->object = scene.AddObject(kFamilyHelper, kTargetObjectClass);
  MemScene::SetLookAt(spotNode, spotTarget);
  scene.AddNode("Lamp")->object = scene.Own(std::make_unique<MemLightObject>(false));
  scene.AddNode("Empty")->object = scene.Own(std::make_unique<MemDummyObject>());
  auto* shape = scene.Own(std::make_unique<MemShapeObject>());
  shape->splines.resize(1);
  shape->splines[0].knots.resize(2);
  scene.AddNode("Line")->object = shape;
}

// Every example and the built scene, each as .gltf and .glb, and examples read back
// from their exported .tsm files: the validator reports no error. Some examples name images that are not shipped, which the validator may not
// find; in the others every image must be found from the written file.
TEST(GltfWriterTest, EveryExampleConvertsToFilesTheValidatorAccepts) {
  std::string tools = ValidatorTools();
  if (tools.empty())
    GTEST_SKIP() << "the glTF validator is not installed (node and build/node-tools/"
                    "node_modules/gltf-validator; scripts/install-deps installs them)";
  ScratchFolder dir("gltf_writer_valid");
  const struct {
    const char* file;  // an example, or "" for the built scene
    bool missingImages;
    const char* notice;  // what the writer says it left out, or ""
    bool viaTsm = false;  // the example exported, read back from its .tsm and written
  } cases[] = {
      {"animated.json", false, "animated light colours are dropped"},
      {"crate.obj", false, ""},
      {"minimal.json", true, ""},
      {"orrery.json", true, "spline shapes are not written"},
      {"showroom.json", true, "spline shapes are not written"},
      {"turntable.gltf", false, ""},
      {"", false, "spline shapes are not written"},
      {"animated.json", false, "animated light colours are dropped", true},
      {"showroom.json", true, "spline shapes are not written", true},
  };
  for (const auto& c : cases) {
    for (const char* ext : {".gltf", ".glb"}) {
      std::string name = *c.file != '\0' ? c.file : "mixed";
      std::string scenePath = kExamples + "/" + name;
      if (c.viaTsm) {
        MemScene source;
        ASSERT_TRUE(LoadSceneFile(scenePath, ImportOptions(), source).ok);
        name += ".tsm";
        scenePath = dir.Path(name);
        ASSERT_FALSE(ExportedBytes(source, scenePath).empty());
      }
      SCOPED_TRACE(name + ext);
      MemScene scene;
      if (*c.file != '\0') {
        ImportResult r = LoadSceneFile(scenePath, ImportOptions(), scene);
        ASSERT_TRUE(r.ok) << r.error;
      } else {
        BuildMixedScene(scene);
        ASSERT_EQ(CheckScene(scene), "");
      }
      std::string out = dir.Path(name + ext);
      std::vector<std::string> notices;
      ASSERT_FALSE(WriteFile(scene, scenePath, out, &notices).empty());
      EXPECT_NE(Joined(notices).find(c.notice), std::string::npos) << Joined(notices);
      if (*c.notice == '\0') {
        EXPECT_EQ(Joined(notices), "");
      }
      std::string report;
      EXPECT_EQ(Validate(tools, out, c.missingImages, &report), 0) << report;
    }
  }
}

// The POSITION count of each primitive of the written .gltf text.
std::vector<int> VertexCounts(const std::string& text) {
  nlohmann::json doc = nlohmann::json::parse(text);
  std::vector<int> counts;
  for (const auto& m : doc["meshes"])
    for (const auto& p : m["primitives"])
      counts.push_back(doc["accessors"][p["attributes"]["POSITION"].get<int>()]["count"].get<int>());
  return counts;
}

// Normals follow the smoothing groups: faces that share a group share their corners'
// normals, so a box smooth all round keeps one corner per vertex of each material, and
// one with a group per side splits into 4 corners per side. Faces of the empty slot get the grey
// "Default" material; the corners of each primitive are counted.
TEST(GltfWriterTest, SmoothingGroupsDecideWhereVerticesSplit) {
  const struct {
    std::array<uint32_t, 6> groups;
    std::vector<int> counts;  // per primitive: Red (sides 0, 2, 3, 5), Default (1, 4)
  } cases[] = {
      {{1, 1, 1, 1, 1, 1}, {8, 6}},     // one group: corners shared (Default uses 6)
      {{1, 2, 4, 8, 16, 32}, {16, 8}},  // a group per side: four corners per side
      {{0, 0, 0, 0, 0, 0}, {16, 8}},    // no group: each face its own normal
      {{1, 1, 1, 1, 2, 2}, {12, 8}},    // sides 0-3 together, the others each alone
  };
  for (const auto& c : cases) {
    MemScene scene;
    AddBox(scene, "Box", c.groups);
    std::string bytes;
    ASSERT_TRUE(WriteGltf(scene, scene, GltfWriteOptions(), bytes).ok);
    SCOPED_TRACE(c.groups[1]);
    EXPECT_EQ(VertexCounts(bytes), c.counts);
    nlohmann::json doc = nlohmann::json::parse(bytes);
    EXPECT_EQ(doc["materials"][1]["name"], "Default");
  }
}

// What one node of a scene shows at time t, for comparing two scenes by node name.
struct NodeView {
  Matrix3 world;
  int faces = -1, vertices = -1;
  Point3 diffuse{-1, -1, -1};  // of the first face's material; grey without one
  float fov = -1;
  Point3 light{-1, -1, -1};
  Point3 aim;  // a camera's or spot's view direction in the world; (0, 0, 0) for others
};

// A camera or spot read back may sit on a child node of its own (Name.View, Name.Beam);
// a mesh the node does not accept for export is not written.
// The view direction is the way to the target in the source scene; in a scene read back
// from glTF it is the holder's -Z in the file, which is the host's +Y.
NodeView ViewOf(MemNode* node, TimeValue t, bool readBack) {
  NodeView v;
  v.world = node->NodeTransform(t);
  SceneObject* obj = node->EvaluateAtTime(t, 1).obj;
  MemNode* holder = node;
  for (MemNode* child : node->children)
    if (child->name == node->name + ".View" || child->name == node->name + ".Beam")
      holder = child;
  obj = holder->object;
  auto* spot = dynamic_cast<MemLightObject*>(obj);
  if (dynamic_cast<MemCameraObject*>(obj) != nullptr || (spot != nullptr && spot->IsSpot())) {
    if (readBack)
      v.aim = Normalize(VectorTransform(holder->NodeTransform(t), Point3(0, 1, 0)));
    else if (node->lookAt != nullptr)
      v.aim = Normalize(node->lookAt->NodeTransform(t).GetTrans() - v.world.GetTrans());
  }
  auto* mesh = node->meshAccepted ? dynamic_cast<MemMeshObject*>(obj) : nullptr;
  if (mesh != nullptr) {
    v.faces = int(mesh->faces.size());
    v.vertices = int(mesh->vertices.size());
    HostMaterial* m = node->material;
    if (m != nullptr && m->ClassIdentity() == kMultiMaterialClass && !mesh->faces.empty())
      m = m->SubMaterial(mesh->faces[0].materialId % std::max(1, m->SubMaterialCount()));
    v.diffuse = m != nullptr ? m->DiffuseColor(0, false) : Point3(0.5f, 0.5f, 0.5f);
  } else if (auto* cam = dynamic_cast<MemCameraObject*>(obj)) {
    v.fov = cam->fov;
  } else if (auto* light = dynamic_cast<MemLightObject*>(obj)) {
    v.light = light->color;
  }
  return v;
}

void ExpectNear(const Point3& a, const Point3& b, float eps, const char* what) {
  EXPECT_NEAR(a.x, b.x, eps) << what;
  EXPECT_NEAR(a.y, b.y, eps) << what;
  EXPECT_NEAR(a.z, b.z, eps) << what;
}

// Written as glTF and read back, a scene keeps each node's name, parent, world
// transform at every frame of its range, mesh faces (and vertices, for a scene that came
// from glTF), material colour, field of view and light colour; cameras and spots look at
// their targets at every frame. Both directions of every
// conversion are crossed: from glTF to glTF, from JSON and OBJ through glTF.
TEST(GltfWriterTest, ScenesWrittenAndReadBackAgree) {
  ScratchFolder dir("gltf_writer_round");
  const struct {
    const char* file;
    bool sameVertices;
  } cases[] = {{"turntable.gltf", true}, {"animated.json", false}, {"orrery.json", false},
               {"showroom.json", false}, {"crate.obj", false}};
  for (const auto& c : cases) {
    for (const char* ext : {".gltf", ".glb"}) {
      SCOPED_TRACE(std::string(c.file) + ext);
      MemScene a;
      ImportResult r = LoadSceneFile(kExamples + "/" + c.file, ImportOptions(), a);
      ASSERT_TRUE(r.ok) << r.error;
      std::string out = dir.Path(std::string(c.file) + ext);
      WriteFile(a, kExamples + "/" + c.file, out);
      MemScene b;
      r = LoadGltfScene(out, ImportOptions(), b);
      ASSERT_TRUE(r.ok) << r.error;
      int tpfA = a.ticksPerFrame, tpfB = b.ticksPerFrame;
      for (const auto& na : a.Nodes()) {
        SCOPED_TRACE(na->name);
        MemNode* nb = b.FindNode(na->name);
        ASSERT_NE(nb, nullptr);
        EXPECT_EQ(na->parent == a.Root() ? "" : na->parent->name,
                  nb->parent == b.Root() ? "" : nb->parent->name);
        for (TimeValue f = a.animationRange.Start() / tpfA; f <= a.animationRange.End() / tpfA; ++f) {
          NodeView va = ViewOf(na.get(), f * tpfA, false), vb = ViewOf(nb, f * tpfB, true);
          if (Length(va.aim) > 0) ExpectNear(va.aim, vb.aim, 1e-3f, "view direction");
          for (int row = 0; row < 4; ++row) {
            float eps = 2e-3f * std::max(1.0f, Length(va.world.GetRow(row)));
            ExpectNear(va.world.GetRow(row), vb.world.GetRow(row), eps, "world transform");
          }
          if (f != a.animationRange.Start() / tpfA) continue;
          EXPECT_EQ(va.faces, vb.faces);
          if (c.sameVertices) {
            EXPECT_EQ(va.vertices, vb.vertices);
          }
          ExpectNear(va.diffuse, vb.diffuse, 1e-4f, "diffuse");
          EXPECT_NEAR(va.fov, vb.fov, 1e-5f);
          ExpectNear(va.light, vb.light, 1e-4f, "light colour");
        }
      }
    }
  }
}

// The conventions convert both ways: each pair of functions undoes the other, and known
// values land where they should (display 0.5 is linear 0.214; 90 degrees across at 4:3
// is 73.74 degrees up).
TEST(GltfConventionsTest, EachConversionUndoesTheOther) {
  const struct {
    double in, there;
    double (*to)(double);
    double (*back)(double);
  } cases[] = {
      {0.5, 0.21404, [](double v) { return double(LinearFromDisplay(float(v))); },
       [](double v) { return double(DisplayFromLinear(float(v))); }},
      {0.02, 0.0015480, [](double v) { return double(LinearFromDisplay(float(v))); },
       [](double v) { return double(DisplayFromLinear(float(v))); }},
      {1.5707963, 1.2870022, [](double v) { return VerticalFov(v, kDefaultAspectRatio); },
       [](double v) { return HorizontalFov(v, kDefaultAspectRatio); }},
      {1.0, 0.5332933, [](double v) { return VerticalFov(v, 2.0); },
       [](double v) { return HorizontalFov(v, 2.0); }},
      {0.3, 0.7, RoughnessFromShininess, ShininessFromRoughness},
      {90.0, 0.7853982, HalfAngleFromCone, ConeFromHalfAngle},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_NEAR(c.to(c.in), c.there, 1e-5);
    EXPECT_NEAR(c.back(c.to(c.in)), c.in, 1e-5);
  }
}

}  // namespace
}  // namespace tsm
