// The JSON scene loader: examples, every feature into the in-memory scene, defaults,
// errors with file, path and line, and robustness against broken input.
#include "formats/json/scene_json.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "scene/mem_material.h"
#include "scene/mem_objects.h"
#include "tests/test_util.h"

namespace tsm {
namespace {

std::string Doc(const std::string& members) {
  return std::string(R"({"format": "tsm-scene", "version": 1)") +
         (members.empty() ? "" : ", " + members) + "}";
}

// Loads a document with the given top-level members; null (and a test failure) when
// the load fails.
std::unique_ptr<MemScene> Loaded(const std::string& members) {
  auto scene = std::make_unique<MemScene>();
  LoadResult r = LoadJsonSceneText(Doc(members), "t.json", *scene);
  if (!r.ok) {
    ADD_FAILURE() << r.error;
    return nullptr;
  }
  return scene;
}

std::string ErrorOfText(const std::string& text) {
  MemScene scene;
  LoadResult r = LoadJsonSceneText(text, "t.json", scene);
  EXPECT_FALSE(r.ok) << "loaded: " << text;
  EXPECT_FALSE(r.error.empty());
  return r.error;
}

std::string ErrorOf(const std::string& members) {
  return ErrorOfText(Doc(members));
}

template <class T>
T* As(SceneObject* o) {
  return dynamic_cast<T*>(o);
}

MemMaterial* Mat(HostMaterial* m) {
  return dynamic_cast<MemMaterial*>(m);
}
MemMap* MapOf(HostMap* m) {
  return dynamic_cast<MemMap*>(m);
}

void ExpectNear3(const Point3& p, float x, float y, float z) {
  EXPECT_NEAR(p.x, x, 1e-5f);
  EXPECT_NEAR(p.y, y, 1e-5f);
  EXPECT_NEAR(p.z, z, 1e-5f);
}

class NameRecorder : public SceneVisitor {
 public:
  int Visit(SceneNode* node) override {
    names.push_back(node->NodeName());
    return 0;
  }
  std::vector<std::string> names;
};

// ---- Examples -------------------------------------------------------------------------

std::vector<std::string> ExampleFiles() {
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(TSM_SOURCE_DIR "/examples"))
    if (entry.path().extension() == ".json") files.push_back(entry.path().string());
  return files;
}

TEST(SceneJson, EveryExampleLoadsAndPassesTheSceneCheck) {
  std::vector<std::string> files = ExampleFiles();
  ASSERT_GE(files.size(), 3u);
  for (const std::string& file : files) {
    MemScene scene;
    LoadResult r = LoadJsonScene(file, scene);
    EXPECT_TRUE(r.ok) << r.error;
    EXPECT_EQ(CheckScene(scene), "") << file;
    EXPECT_FALSE(scene.Nodes().empty()) << file;
  }
}

TEST(SceneJson, ShowroomHasEveryObjectKindAndTheMaterialsTheDemoNeeds) {
  MemScene scene;
  LoadResult r = LoadJsonScene(TSM_SOURCE_DIR "/examples/showroom.json", scene);
  ASSERT_TRUE(r.ok) << r.error;
  int meshes = 0, shapes = 0, points = 0, dummies = 0, nested = 0;
  bool cameraWithTarget = false, spotWithTarget = false, instance = false;
  std::vector<MemObject*> meshObjects;
  for (const auto& n : scene.Nodes()) {
    MemObject* o = n->object;
    if (n->parent != scene.Root()) ++nested;
    if (As<MemMeshObject>(o)) {
      ++meshes;
      for (MemObject* seen : meshObjects) instance = instance || seen == o;
      meshObjects.push_back(o);
    }
    if (As<MemShapeObject>(o)) ++shapes;
    if (As<MemDummyObject>(o)) ++dummies;
    if (As<MemCameraObject>(o)) cameraWithTarget = cameraWithTarget || n->lookAt != nullptr;
    if (auto* l = As<MemLightObject>(o)) {
      if (l->IsSpot())
        spotWithTarget = spotWithTarget || n->lookAt != nullptr;
      else
        ++points;
    }
  }
  EXPECT_GE(meshes, 3);
  EXPECT_TRUE(instance);
  EXPECT_GE(shapes, 1);
  EXPECT_GE(points, 1);
  EXPECT_GE(dummies, 1);
  EXPECT_GE(nested, 2);
  EXPECT_TRUE(cameraWithTarget);
  EXPECT_TRUE(spotWithTarget);

  // A multi/sub material with an empty slot, and three materials (reached from nodes)
  // that carry a bitmap texture, a bitmap bump map and a reflection-class map.
  bool multiWithEmptySlot = false;
  std::vector<MemMaterial*> fullyMapped;
  std::vector<MemMaterial*> reached;
  for (const auto& n : scene.Nodes()) {
    MemMaterial* m = Mat(n->material);
    if (m == nullptr) continue;
    reached.push_back(m);
    for (HostMaterial* s : m->subMaterials) {
      multiWithEmptySlot = multiWithEmptySlot || s == nullptr;
      if (s) reached.push_back(Mat(s));
    }
  }
  for (MemMaterial* m : reached) {
    MemMap* tex = MapOf(m->channels[kChannelDiffuse].map);
    MemMap* bump = MapOf(m->channels[kChannelBump].map);
    MemMap* refl = MapOf(m->channels[kChannelReflection].map);
    bool ok = tex && tex->classId == kBitmapMapClass && !tex->fileName.empty() && bump &&
              bump->classId == kBitmapMapClass && refl &&
              (refl->classId == kReflectionMapClass || refl->classId == kMirrorMapClass);
    if (ok && std::find(fullyMapped.begin(), fullyMapped.end(), m) == fullyMapped.end())
      fullyMapped.push_back(m);
  }
  EXPECT_TRUE(multiWithEmptySlot);
  EXPECT_GE(fullyMapped.size(), 3u);
}

// ---- Settings -------------------------------------------------------------------------

TEST(SceneJson, SettingsRoundTripWithFramesAndTicks) {
  auto s = Loaded(R"("settings": {"ticksPerFrame": 200, "animationRange": [{"ticks": 10}, 50],
      "currentTime": 3, "masterUnit": {"type": "meters", "scale": 0.5},
      "gamma": {"enabled": true, "value": 1.8}})");
  ASSERT_TRUE(s);
  EXPECT_EQ(s->ticksPerFrame, 200);
  EXPECT_EQ(s->animationRange.Start(), 10);
  EXPECT_EQ(s->animationRange.End(), 10000);
  EXPECT_EQ(s->currentTime, 600);
  EXPECT_EQ(s->masterUnitType, 5);
  EXPECT_EQ(s->masterUnitScale, 0.5);
  EXPECT_TRUE(s->gammaEnabled);
  EXPECT_FLOAT_EQ(s->gamma, 1.8f);
}

TEST(SceneJson, SettingsDefaults) {
  auto s = Loaded("");
  ASSERT_TRUE(s);
  EXPECT_EQ(s->ticksPerFrame, 160);
  EXPECT_EQ(s->animationRange.Start(), 0);
  EXPECT_EQ(s->animationRange.End(), 16000);
  EXPECT_EQ(s->currentTime, 0);
  EXPECT_EQ(s->masterUnitType, 0);
  EXPECT_EQ(s->masterUnitScale, 1.0);
  EXPECT_FALSE(s->gammaEnabled);
  EXPECT_FLOAT_EQ(s->gamma, 2.2f);
  // The default range is 100 frames at the file's own rate.
  auto t = Loaded(R"("settings": {"ticksPerFrame": 30, "currentTime": -2})");
  ASSERT_TRUE(t);
  EXPECT_EQ(t->animationRange.End(), 3000);
  EXPECT_EQ(t->currentTime, -60);
}

// ---- Nodes ----------------------------------------------------------------------------

TEST(SceneJson, HierarchyFollowsFileOrderForNestedAndReferencedChildren) {
  auto s = Loaded(R"("nodes": [
      {"name": "C", "parent": "A"},
      {"name": "A", "children": [{"name": "B"}, {"name": "D", "children": [{"name": "E"}]}]},
      {"name": "F", "parent": "A"},
      {"name": "G"}])");
  ASSERT_TRUE(s);
  MemNode* a = s->FindNode("A");
  ASSERT_NE(a, nullptr);
  ASSERT_EQ(s->Root()->children.size(), 2u);
  EXPECT_EQ(s->Root()->children[0], a);
  EXPECT_EQ(s->Root()->children[1]->name, "G");
  std::vector<std::string> kids;
  for (MemNode* c : a->children) kids.push_back(c->name);
  EXPECT_EQ(kids, (std::vector<std::string>{"C", "B", "D", "F"}));
  EXPECT_EQ(s->FindNode("E")->parent, s->FindNode("D"));
  NameRecorder visit;
  s->EnumerateNodes(visit);
  EXPECT_EQ(visit.names, (std::vector<std::string>{"A", "C", "B", "D", "E", "F", "G"}));
}

TEST(SceneJson, PositionRotationScaleBuildTheLocalMatrix) {
  auto s = Loaded(R"("nodes": [{"name": "N", "position": [1, 2, 3],
      "rotation": {"axis": [0, 0, 5], "angle": 90}, "scale": 2}])");
  ASSERT_TRUE(s);
  const Matrix3& m = s->FindNode("N")->local;
  // (1, 0, 0) is scaled to (2, 0, 0), turned counter-clockwise about z to (0, 2, 0),
  // then moved by (1, 2, 3).
  ExpectNear3(Point3(1, 0, 0) * m, 1, 4, 3);
  ExpectNear3(Point3(0, 1, 0) * m, -1, 2, 3);
  ExpectNear3(Point3(0, 0, 1) * m, 1, 2, 5);
  auto t = Loaded(R"("nodes": [{"name": "N", "scale": [1, 2, 3], "position": [4, 5, 6]}])");
  ASSERT_TRUE(t);
  EXPECT_EQ(t->FindNode("N")->local,
            Matrix3(Point3(1, 0, 0), Point3(0, 2, 0), Point3(0, 0, 3), Point3(4, 5, 6)));
}

TEST(SceneJson, MatrixRowsAndQuaternionsRoundTrip) {
  auto s = Loaded(R"("nodes": [
      {"name": "M", "matrix": [[0, 1, 0], [-1, 0, 0], [0, 0, 2], [7, 8, 9]]},
      {"name": "Q", "rotation": {"quat": [0, 0, 2, 0]}}])");
  ASSERT_TRUE(s);
  EXPECT_EQ(s->FindNode("M")->local,
            Matrix3(Point3(0, 1, 0), Point3(-1, 0, 0), Point3(0, 0, 2), Point3(7, 8, 9)));
  // The half turn about z, normalised from length 2.
  ExpectNear3(Point3(1, 0, 0) * s->FindNode("Q")->local, -1, 0, 0);
}

TEST(SceneJson, NodeValuesRoundTrip) {
  auto s = Loaded(R"("materials": [{"name": "Red"}], "nodes": [{"name": "N", "material": "Red",
      "meshAccepted": false, "properties": "a=1\nb=2", "nodeQuery96": true,
      "locks": [[true, false, true], [false, true, false]],
      "objectOffset": {"position": [1, 2, 3], "rotation": {"axis": [1, 0, 0], "angle": 180},
                       "scale": [2, 3, 4]}}])");
  ASSERT_TRUE(s);
  MemNode* n = s->FindNode("N");
  ASSERT_NE(Mat(n->material), nullptr);
  EXPECT_EQ(Mat(n->material)->name, "Red");
  EXPECT_FALSE(n->meshAccepted);
  EXPECT_EQ(n->propertyText, "a=1\nb=2");
  EXPECT_TRUE(n->nodeQuery96);
  bool locks[3][3] = {{true, false, true}, {false, true, false}, {false, false, false}};
  for (int g = 0; g < 3; ++g)
    for (int a = 0; a < 3; ++a) EXPECT_EQ(n->transformLocked[g][a], locks[g][a]) << g << a;
  EXPECT_EQ(n->objectOffsetPos, Point3(1, 2, 3));
  EXPECT_NEAR(std::fabs(n->objectOffsetRot.x), 1.0f, 1e-6f);
  EXPECT_NEAR(n->objectOffsetRot.w, 0.0f, 1e-6f);
  EXPECT_EQ(n->objectOffsetScale, Point3(2, 3, 4));
}

TEST(SceneJson, NodeDefaults) {
  auto s = Loaded(R"("nodes": [{"name": "N"}])");
  ASSERT_TRUE(s);
  MemNode* n = s->FindNode("N");
  EXPECT_EQ(n->parent, s->Root());
  EXPECT_EQ(n->local, Matrix3());
  EXPECT_EQ(n->object, nullptr);
  EXPECT_EQ(n->material, nullptr);
  EXPECT_TRUE(n->meshAccepted);
  EXPECT_EQ(n->lookAt, nullptr);
  EXPECT_FALSE(n->isTarget);
  EXPECT_EQ(n->owner, nullptr);
  EXPECT_TRUE(n->extraDependents.empty());
  EXPECT_EQ(n->propertyText, "");
  for (auto& group : n->transformLocked)
    for (bool locked : group) EXPECT_FALSE(locked);
  EXPECT_FALSE(n->nodeQuery96);
  EXPECT_EQ(n->objectOffsetPos, Point3());
  EXPECT_EQ(n->objectOffsetRot, Quat());
  EXPECT_EQ(n->objectOffsetScale, Point3(1, 1, 1));
}

TEST(SceneJson, LookAtMakesATargetOwnedByTheFirstLookerWithATargetObject) {
  auto s = Loaded(R"("nodes": [
      {"name": "Cam", "object": {"type": "camera"}, "lookAt": "T"},
      {"name": "Spot", "object": {"type": "spotLight"}, "lookAt": 7},
      {"name": "T", "id": 7}])");
  ASSERT_TRUE(s);
  MemNode* t = s->FindNode("T");
  EXPECT_EQ(s->FindNode("Cam")->lookAt, t);
  EXPECT_EQ(s->FindNode("Spot")->lookAt, t);
  EXPECT_TRUE(t->isTarget);
  EXPECT_EQ(t->owner, s->FindNode("Cam"));
  ASSERT_NE(t->object, nullptr);
  EXPECT_EQ(t->object->family, kFamilyHelper);
  EXPECT_EQ(t->object->classId, kTargetObjectClass);
  EXPECT_FALSE(t->object->convertibleToMesh);
}

TEST(SceneJson, TargetFlagWithoutOwnerAndTargetWithoutObject) {
  auto s = Loaded(R"("nodes": [{"name": "Lone", "target": true},
      {"name": "Bare", "target": true, "object": null}, {"name": "Plain", "target": false}])");
  ASSERT_TRUE(s);
  MemNode* lone = s->FindNode("Lone");
  EXPECT_TRUE(lone->isTarget);
  EXPECT_EQ(lone->owner, nullptr);
  ASSERT_NE(lone->object, nullptr);
  EXPECT_EQ(lone->object->classId, kTargetObjectClass);
  EXPECT_TRUE(s->FindNode("Bare")->isTarget);
  EXPECT_EQ(s->FindNode("Bare")->object, nullptr);
  EXPECT_FALSE(s->FindNode("Plain")->isTarget);
  EXPECT_EQ(s->FindNode("Plain")->object, nullptr);
}

class DependentRecorder : public DependentVisitor {
 public:
  int VisitDependent(HostDependent* d) override {
    seen.push_back(d);
    return 0;
  }
  std::vector<HostDependent*> seen;
};

TEST(SceneJson, DependentsAreNodesOrOtherDependentsInOrder) {
  auto s = Loaded(R"("nodes": [{"name": "A", "dependents": ["B", {"family": 1, "lookAt": 2},
      {"family": 9}, {}]}, {"name": "B"}, {"name": "C", "id": 2}])");
  ASSERT_TRUE(s);
  MemNode* a = s->FindNode("A");
  DependentRecorder rec;
  a->EnumerateDependents(rec);
  ASSERT_EQ(rec.seen.size(), 5u);
  EXPECT_EQ(rec.seen[0], a);
  EXPECT_EQ(rec.seen[1], s->FindNode("B"));
  EXPECT_EQ(rec.seen[2]->FamilyCode(), 1);
  EXPECT_EQ(rec.seen[2]->LookAtTarget(), s->FindNode("C"));
  EXPECT_EQ(rec.seen[3]->FamilyCode(), 9);
  EXPECT_EQ(rec.seen[3]->LookAtTarget(), nullptr);
  EXPECT_EQ(rec.seen[4]->FamilyCode(), 0);
}

TEST(SceneJson, NamesMayRepeatButOnlyUniqueNamesAreReferences) {
  auto s = Loaded(R"("nodes": [{"name": "Box", "id": 1}, {"name": "Box"},
      {"name": "C", "parent": 1}])");
  ASSERT_TRUE(s);
  EXPECT_EQ(s->Nodes().size(), 3u);
  EXPECT_EQ(s->FindNode("C")->parent, s->Nodes()[0].get());
  std::string e = ErrorOf(R"("nodes": [{"name": "Box"}, {"name": "Box"},
      {"name": "C", "parent": "Box"}])");
  EXPECT_NE(e.find("t.json: /nodes/2/parent: 2 nodes are named \"Box\"; refer to one by its id"),
            std::string::npos)
      << e;
}

// ---- Objects --------------------------------------------------------------------------

TEST(SceneJson, EachObjectTypeHasItsFamilyClassAndPayloadType) {
  struct Case {
    const char* type;
    int family;
    Class_ID classId;
    bool convertible;
  };
  const Case cases[] = {{"mesh", kFamilyGeometry, triObjectClassID, true},
                        {"shape", kFamilyShape, kShapeObjectClass, false},
                        {"camera", kFamilyCamera, kCameraObjectClass, false},
                        {"pointLight", kFamilyLight, kPointLightObjectClass, false},
                        {"spotLight", kFamilyLight, kSpotLightObjectClass, false},
                        {"dummy", kFamilyHelper, kDummyObjectClass, false},
                        {"target", kFamilyHelper, kTargetObjectClass, false}};
  for (const Case& c : cases) {
    auto s =
        Loaded(std::string(R"("nodes": [{"name": "N", "object": {"type": ")") + c.type + "\"}}]");
    ASSERT_TRUE(s) << c.type;
    MemObject* o = s->FindNode("N")->object;
    ASSERT_NE(o, nullptr);
    EXPECT_EQ(o->FamilyCode(), c.family) << c.type;
    EXPECT_EQ(o->ClassIdentity(), c.classId) << c.type;
    EXPECT_EQ(o->ConvertibleTo(triObjectClassID) != 0, c.convertible) << c.type;
  }
}

TEST(SceneJson, OtherObjectsAndOverrides) {
  auto s = Loaded(R"("nodes": [
      {"name": "O", "object": {"type": "other", "family": 48, "classId": ["0x1013", 7]}},
      {"name": "P", "object": {"type": "other", "family": 16, "classId": [17, 0],
                               "convertibleToMesh": true}},
      {"name": "Box", "object": {"type": "mesh", "classId": [16, 0], "family": 17,
                                 "vertices": [[0, 0, 0]]}}])");
  ASSERT_TRUE(s);
  MemObject* o = s->FindNode("O")->object;
  EXPECT_EQ(o->family, 48);
  EXPECT_EQ(o->classId, Class_ID(0x1013, 7));
  EXPECT_FALSE(o->convertibleToMesh);
  EXPECT_TRUE(s->FindNode("P")->object->convertibleToMesh);
  auto* box = As<MemMeshObject>(s->FindNode("Box")->object);
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->classId, Class_ID(16, 0));
  EXPECT_EQ(box->family, 17);
  EXPECT_TRUE(box->convertibleToMesh);
  EXPECT_EQ(box->vertices.size(), 1u);
}

TEST(SceneJson, InstancesShareOneObject) {
  auto s = Loaded(R"("objects": [{"type": "mesh", "id": 4, "name": "Cube"}],
      "nodes": [{"name": "A", "object": "Cube"}, {"name": "B", "object": 4},
                {"name": "C", "object": {"type": "mesh"}}, {"name": "D", "object": {"type": "mesh"}}])");
  ASSERT_TRUE(s);
  EXPECT_NE(s->FindNode("A")->object, nullptr);
  EXPECT_EQ(s->FindNode("A")->object, s->FindNode("B")->object);
  EXPECT_NE(s->FindNode("C")->object, s->FindNode("D")->object);
  EXPECT_NE(s->FindNode("A")->object, s->FindNode("C")->object);
}

TEST(SceneJson, MeshPayloadRoundTrips) {
  auto s = Loaded(R"("nodes": [{"name": "M", "object": {"type": "mesh",
      "vertices": [[0, 0, 0], [1, 0, 0], [1, 1, 0], [0, 1, 0.5]],
      "faces": [[0, 1, 2], {"v": [0, 2, 3], "smoothing": 4294967295, "materialId": 65535,
                            "edges": [false, true, false]}],
      "uvs": [[0, 0], [1, 0, 0.5], [1, 1]], "uvFaces": [[0, 1, 2], [2, 1, 0]],
      "vertexColors": [[1, 0, 0]]}}])");
  ASSERT_TRUE(s);
  auto* m = As<MemMeshObject>(s->FindNode("M")->object);
  ASSERT_NE(m, nullptr);
  ASSERT_EQ(m->vertices.size(), 4u);
  EXPECT_EQ(m->vertices[3], Point3(0, 1, 0.5f));
  ASSERT_EQ(m->faces.size(), 2u);
  EXPECT_EQ(m->faces[0].v, (std::array<int, 3>{{0, 1, 2}}));
  EXPECT_EQ(m->faces[0].smoothing, 0u);
  EXPECT_EQ(m->faces[0].materialId, 0);
  EXPECT_EQ(m->faces[0].edgeVisible, 7);
  EXPECT_EQ(m->faces[1].v, (std::array<int, 3>{{0, 2, 3}}));
  EXPECT_EQ(m->faces[1].smoothing, 0xFFFFFFFFu);
  EXPECT_EQ(m->faces[1].materialId, 65535);
  EXPECT_EQ(m->faces[1].edgeVisible, 2);
  ASSERT_EQ(m->texVerts.size(), 3u);
  EXPECT_EQ(m->texVerts[0], Point3(0, 0, 0));
  EXPECT_EQ(m->texVerts[1], Point3(1, 0, 0.5f));
  EXPECT_EQ(m->texFaces[1], (std::array<int, 3>{{2, 1, 0}}));
  // The colour count may differ from the vertex count; the mesh writer reports it.
  ASSERT_EQ(m->vertexColors.size(), 1u);
  EXPECT_EQ(m->vertexColors[0], Point3(1, 0, 0));
  auto t = Loaded(R"("nodes": [{"name": "E", "object": {"type": "mesh", "uvs": [[0, 1]]}}])");
  ASSERT_TRUE(t);
  auto* e = As<MemMeshObject>(t->FindNode("E")->object);
  EXPECT_TRUE(e->vertices.empty() && e->faces.empty() && e->texFaces.empty());
  EXPECT_EQ(e->texVerts.size(), 1u);
}

TEST(SceneJson, ShapeKnotsAndHandles) {
  auto s = Loaded(R"("nodes": [{"name": "S", "object": {"type": "shape", "splines": [
      {"closed": true, "knots": [[1, 2, 3], {"point": [4, 5, 6], "in": [3, 5, 6]}]},
      {"knots": []}]}}])");
  ASSERT_TRUE(s);
  auto* shape = As<MemShapeObject>(s->FindNode("S")->object);
  ASSERT_NE(shape, nullptr);
  ASSERT_EQ(shape->splines.size(), 2u);
  EXPECT_TRUE(shape->splines[0].closed);
  EXPECT_FALSE(shape->splines[1].closed);
  ASSERT_EQ(shape->splines[0].knots.size(), 2u);
  const MemKnot& k0 = shape->splines[0].knots[0];
  EXPECT_EQ(k0.inVec, Point3(1, 2, 3));
  EXPECT_EQ(k0.point, Point3(1, 2, 3));
  EXPECT_EQ(k0.outVec, Point3(1, 2, 3));
  const MemKnot& k1 = shape->splines[0].knots[1];
  EXPECT_EQ(k1.inVec, Point3(3, 5, 6));
  EXPECT_EQ(k1.point, Point3(4, 5, 6));
  EXPECT_EQ(k1.outVec, Point3(4, 5, 6));
  EXPECT_TRUE(shape->splines[1].knots.empty());
}

TEST(SceneJson, CameraValuesAndDefaults) {
  auto s = Loaded(R"("nodes": [{"name": "C", "object": {"type": "camera", "fov": 90,
      "near": 2, "far": 30}}, {"name": "D", "object": {"type": "camera"}}])");
  ASSERT_TRUE(s);
  auto* c = As<MemCameraObject>(s->FindNode("C")->object);
  ASSERT_NE(c, nullptr);
  EXPECT_FLOAT_EQ(c->fov, 1.5707964f);
  EXPECT_EQ(c->nearRange, 2.0f);
  EXPECT_EQ(c->farRange, 30.0f);
  auto* d = As<MemCameraObject>(s->FindNode("D")->object);
  EXPECT_FLOAT_EQ(d->fov, 0.7853982f);
  EXPECT_EQ(d->nearRange, 0.0f);
  EXPECT_EQ(d->farRange, 1000.0f);
}

TEST(SceneJson, LightValuesAndDefaults) {
  auto s = Loaded(R"("nodes": [{"name": "P", "object": {"type": "pointLight"}},
      {"name": "S", "object": {"type": "spotLight", "on": false, "color": [0.5, 0.25, 2],
       "intensity": -1, "attenuate": true, "attenStart": 5, "attenEnd": 6, "castShadows": true,
       "hotspot": 10, "falloff": 12.5, "overshoot": true, "globalShadows": false,
       "shadowMapBias": 0.25, "shadowMapRange": 3, "shadowMapSize": 70000, "showCone": true,
       "rectangular": true, "aspect": 1.5, "rayTraceBias": 0.75, "rayTracedShadows": true}}])");
  ASSERT_TRUE(s);
  auto* p = As<MemLightObject>(s->FindNode("P")->object);
  ASSERT_NE(p, nullptr);
  EXPECT_FALSE(p->IsSpot());
  EXPECT_TRUE(p->on);
  EXPECT_EQ(p->color, Point3(1, 1, 1));
  EXPECT_EQ(p->intensity, 1.0f);
  EXPECT_FALSE(p->attenuate);
  EXPECT_EQ(p->attenStart, 80.0f);
  EXPECT_EQ(p->attenEnd, 200.0f);
  EXPECT_FALSE(p->castShadows);
  auto* l = As<MemLightObject>(s->FindNode("S")->object);
  ASSERT_NE(l, nullptr);
  EXPECT_TRUE(l->IsSpot());
  EXPECT_FALSE(l->on);
  EXPECT_EQ(l->color, Point3(0.5f, 0.25f, 2));
  EXPECT_EQ(l->intensity, -1.0f);
  EXPECT_TRUE(l->attenuate);
  EXPECT_EQ(l->attenStart, 5.0f);
  EXPECT_EQ(l->attenEnd, 6.0f);
  EXPECT_TRUE(l->castShadows);
  EXPECT_EQ(l->hotspot, 10.0f);
  EXPECT_EQ(l->falloff, 12.5f);
  EXPECT_TRUE(l->overshoot);
  EXPECT_FALSE(l->useGlobalShadows);
  EXPECT_EQ(l->shadowMapBias, 0.25f);
  EXPECT_EQ(l->shadowMapRange, 3.0f);
  EXPECT_EQ(l->shadowMapSize, 70000);
  EXPECT_TRUE(l->coneDisplayed);
  EXPECT_TRUE(l->rectangular);
  EXPECT_EQ(l->aspect, 1.5f);
  EXPECT_EQ(l->rayTraceBias, 0.75f);
  EXPECT_TRUE(l->rayTracedShadows);
  // Spot-only values are refused on a point light.
  EXPECT_NE(ErrorOf(R"("nodes": [{"name": "P", "object": {"type": "pointLight", "hotspot": 5}}])")
                .find("/nodes/0/object/hotspot: unknown field"),
            std::string::npos);
}

TEST(SceneJson, DummyBoxAndDefault) {
  auto s = Loaded(R"("nodes": [{"name": "D", "object": {"type": "dummy",
      "box": {"min": [-1, -2, -3], "max": [4, 5, 6]}}}, {"name": "E", "object": {"type": "dummy"}}])");
  ASSERT_TRUE(s);
  auto* d = As<MemDummyObject>(s->FindNode("D")->object);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->box.pmin, Point3(-1, -2, -3));
  EXPECT_EQ(d->box.pmax, Point3(4, 5, 6));
  auto* e = As<MemDummyObject>(s->FindNode("E")->object);
  EXPECT_EQ(e->box.pmin, Point3(-1, -1, -1));
  EXPECT_EQ(e->box.pmax, Point3(1, 1, 1));
}

// ---- Materials and maps ---------------------------------------------------------------

TEST(SceneJson, StandardMaterialRoundTrips) {
  auto s = Loaded(R"("materials": [{"name": "All", "ambient": [0.1, 0.2, 0.3],
      "diffuse": [1, 0.5, 0], "specular": [0, 0, 1.01], "shininess": -0.3,
      "shininessStrength": 0.4, "transparency": 0.3, "wireSize": 2.5, "shading": 7,
      "transparencyFalloff": 0.6, "selfIllumination": 0.7, "twoSided": true, "wireframe": true,
      "falloffOut": false, "faceMap": true, "soften": true, "wireInUnits": true,
      "transparencyType": 1}], "nodes": [{"name": "N", "material": "All"}])");
  ASSERT_TRUE(s);
  MemMaterial* m = Mat(s->FindNode("N")->material);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->classId, kStandardMaterialClass);
  EXPECT_EQ(m->name, "All");
  EXPECT_EQ(m->ambient, Point3(0.1f, 0.2f, 0.3f));
  EXPECT_EQ(m->diffuse, Point3(1, 0.5f, 0));
  EXPECT_EQ(m->specular, Point3(0, 0, 1.01f));
  EXPECT_EQ(m->shininess, -0.3f);
  EXPECT_EQ(m->shininessStrength, 0.4f);
  EXPECT_EQ(m->transparency, 0.3f);
  EXPECT_EQ(m->wireSize, 2.5f);
  EXPECT_EQ(m->shadingMode, 7);
  EXPECT_EQ(m->transparencyFalloff, 0.6f);
  EXPECT_EQ(m->selfIllumination, 0.7f);
  EXPECT_TRUE(m->twoSided && m->wireframe && !m->falloffOut && m->faceMap && m->soften &&
              m->wireInUnits);
  EXPECT_EQ(m->transparencyType, 1);
}

TEST(SceneJson, MaterialDefaultsAndShadingNames) {
  auto s = Loaded(R"("nodes": [{"name": "N", "material": {}},
      {"name": "C", "material": {"shading": "constant"}}, {"name": "M", "material": {"shading": "metal"}}])");
  ASSERT_TRUE(s);
  MemMaterial* m = Mat(s->FindNode("N")->material);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->classId, kStandardMaterialClass);
  EXPECT_EQ(m->name, "");
  EXPECT_EQ(m->ambient, Point3(0.1f, 0.1f, 0.1f));
  EXPECT_EQ(m->diffuse, Point3(0.5f, 0.5f, 0.5f));
  EXPECT_EQ(m->specular, Point3(0.9f, 0.9f, 0.9f));
  EXPECT_EQ(m->shininess, 0.1f);
  EXPECT_EQ(m->wireSize, 1.0f);
  EXPECT_EQ(m->shadingMode, 1);
  EXPECT_TRUE(m->falloffOut);
  EXPECT_FALSE(m->twoSided);
  EXPECT_EQ(m->transparencyType, 0);
  for (const MemChannel& c : m->channels) {
    EXPECT_EQ(c.map, nullptr);
    EXPECT_EQ(c.amount, 1.0f);
    EXPECT_TRUE(c.enabled);
  }
  EXPECT_EQ(Mat(s->FindNode("C")->material)->shadingMode, 0);
  EXPECT_EQ(Mat(s->FindNode("M")->material)->shadingMode, 2);
}

TEST(SceneJson, MultiSubMaterialWithEmptySlotsAndForwardReferences) {
  auto s = Loaded(R"("materials": [
      {"type": "multi", "name": "Multi", "subMaterials": ["A", null, {"name": "Inline"}, "A", 9, null]},
      {"name": "A"}, {"name": "B", "id": 9},
      {"type": "other", "name": "Toon", "classId": [4660, 22136], "diffuse": [1, 0, 0]}],
      "nodes": [{"name": "N", "material": "Multi"}, {"name": "T", "material": "Toon"}])");
  ASSERT_TRUE(s);
  MemMaterial* multi = Mat(s->FindNode("N")->material);
  ASSERT_NE(multi, nullptr);
  EXPECT_EQ(multi->classId, kMultiMaterialClass);
  ASSERT_EQ(multi->SubMaterialCount(), 6);
  ASSERT_NE(Mat(multi->SubMaterial(0)), nullptr);
  EXPECT_EQ(Mat(multi->SubMaterial(0))->name, "A");
  EXPECT_EQ(multi->SubMaterial(1), nullptr);
  EXPECT_EQ(Mat(multi->SubMaterial(2))->name, "Inline");
  EXPECT_EQ(multi->SubMaterial(3), multi->SubMaterial(0));
  EXPECT_EQ(Mat(multi->SubMaterial(4))->name, "B");
  EXPECT_EQ(multi->SubMaterial(5), nullptr);
  MemMaterial* toon = Mat(s->FindNode("T")->material);
  EXPECT_EQ(toon->classId, Class_ID(4660, 22136));
  EXPECT_EQ(toon->diffuse, Point3(1, 0, 0));
}

TEST(SceneJson, MapsRoundTripAndAreSharedByReference) {
  auto s = Loaded(R"("maps": [
      {"id": 3, "name": "Brick", "file": "C:\\maps\\brick.bmp", "uOffset": 0.5, "vOffset": -0.25,
       "uTiling": 4, "vTiling": 2, "angle": 90, "blur": 0.5, "inverted": true,
       "filter": "summedArea", "tiling": {"repeatU": false, "mirrorV": true}},
      {"name": "Refl", "type": "reflection", "everyNthFrame": false, "nthFrame": 3, "size": 256},
      {"name": "Mirror", "type": "mirror", "nthFrame": 2},
      {"name": "Noise", "type": "other", "classId": [512, 5]}],
    "materials": [{"name": "M", "maps": {
      "diffuse": {"map": "Brick", "amount": 0.5, "enabled": false},
      "bump": {"map": 3, "amount": 2.5}, "reflection": {"map": "Refl"},
      "4": {"map": "Noise"}, "opacity": {"map": "Mirror"}, "11": {"amount": 0}}},
      {"name": "N", "maps": {"specular": {"map": "Brick"}, "shininess": {"map": {}}}}],
    "nodes": [{"name": "A", "material": "M"}, {"name": "B", "material": "N"}])");
  ASSERT_TRUE(s);
  MemMaterial* m = Mat(s->FindNode("A")->material);
  MemMaterial* n = Mat(s->FindNode("B")->material);
  ASSERT_TRUE(m && n);
  MemMap* brick = MapOf(m->channels[kChannelDiffuse].map);
  ASSERT_NE(brick, nullptr);
  EXPECT_EQ(brick->classId, kBitmapMapClass);
  EXPECT_EQ(brick->fileName, "C:\\maps\\brick.bmp");
  EXPECT_EQ(brick->uOffset, 0.5f);
  EXPECT_EQ(brick->vOffset, -0.25f);
  EXPECT_EQ(brick->uTiling, 4.0f);
  EXPECT_EQ(brick->vTiling, 2.0f);
  EXPECT_FLOAT_EQ(brick->rotationAngle, 1.5707964f);
  EXPECT_EQ(brick->blur, 0.5f);
  EXPECT_TRUE(brick->outputInverted);
  EXPECT_EQ(brick->filterType, 1);
  EXPECT_EQ(brick->tilingBits, 0x2 | 0x8);
  EXPECT_EQ(m->channels[kChannelDiffuse].amount, 0.5f);
  EXPECT_FALSE(m->channels[kChannelDiffuse].enabled);
  EXPECT_EQ(m->channels[kChannelBump].map, brick);
  EXPECT_EQ(m->channels[kChannelBump].amount, 2.5f);
  EXPECT_EQ(n->channels[kChannelSpecular].map, brick);
  MemMap* refl = MapOf(m->channels[kChannelReflection].map);
  ASSERT_NE(refl, nullptr);
  EXPECT_EQ(refl->classId, kReflectionMapClass);
  EXPECT_FALSE(refl->everyNthFrame);
  EXPECT_EQ(refl->nthFrame, 3);
  EXPECT_EQ(refl->reflectionSize, 256);
  MemMap* mirror = MapOf(m->channels[kChannelOpacity].map);
  EXPECT_EQ(mirror->classId, kMirrorMapClass);
  EXPECT_TRUE(mirror->everyNthFrame);
  EXPECT_EQ(mirror->nthFrame, 2);
  EXPECT_EQ(MapOf(m->channels[4].map)->classId, Class_ID(512, 5));
  EXPECT_EQ(m->channels[11].map, nullptr);
  EXPECT_EQ(m->channels[11].amount, 0.0f);
  // An inline map with nothing given: a bitmap with every default.
  MemMap* plain = MapOf(n->channels[kChannelShininess].map);
  ASSERT_NE(plain, nullptr);
  EXPECT_EQ(plain->classId, kBitmapMapClass);
  EXPECT_EQ(plain->fileName, "");
  EXPECT_EQ(plain->uTiling, 1.0f);
  EXPECT_EQ(plain->rotationAngle, 0.0f);
  EXPECT_EQ(plain->blur, 1.0f);
  EXPECT_EQ(plain->tilingBits, 0x3);
  EXPECT_FALSE(plain->outputInverted);
  EXPECT_EQ(plain->filterType, 0);
}

// ---- Errors ---------------------------------------------------------------------------

struct ErrorCase {
  const char* members;  // top-level members after the header
  const char* where;    // the file and JSON path the message must start with
  const char* what;     // a part of the message
};

TEST(SceneJson, EveryErrorNamesTheFileThePathAndTheLine) {
  const ErrorCase cases[] = {
      {R"("nodes": [{"name": "A", "postion": [1, 2, 3]}])",
       "t.json: /nodes/0/postion: ", "unknown field; did you mean \"position\"?"},
      {R"("nodes": [{"name": "A"}, {"name": "B"}, {"name": "C"}, {"name": "D", "parent": "Bxo"}])",
       "t.json: /nodes/3/parent: ", "no node named \"Bxo\""},
      {R"("nodes": [{"name": "A", "id": 1}, {"name": "B", "id": 1}])",
       "t.json: /nodes/1/id: ", "id 1 is already used by /nodes/0"},
      {R"("materials": [{"id": 2}, {"id": 2}])", "t.json: /materials/1/id: ", "already used"},
      {R"("nodes": [{"name": 5}])",
       "t.json: /nodes/0/name: ", "expected a string, found an integer"},
      {R"("nodes": [{"position": [1, 2]}])", "t.json: /nodes/0/name: ", "missing"},
      {R"("nodes": [{"name": ""}])", "t.json: /nodes/0/name: ", "cannot be empty"},
      {R"("nodes": [{"name": "A\u0000B"}])", "t.json: /nodes/0/name: ", "NUL"},
      {R"("nodes": [{"name": "A", "position": [1, 2]}])",
       "t.json: /nodes/0/position: ", "expected [x, y, z]"},
      {R"("nodes": [{"name": "A", "position": [1, "2", 3]}])",
       "t.json: /nodes/0/position/1: ", "expected a number, found a string"},
      {R"("nodes": [{"name": "A", "position": [1, 1e39, 3]}])",
       "t.json: /nodes/0/position/1: ", "out of range for a single-precision number"},
      {R"("objects": [{"type": "mesh", "vertices": [[0, 0, 0], [1, 0, 0], [0, 1, 0]],
          "faces": [[0, 1, 2], [0, 1, 3]]}])",
       "t.json: /objects/0/faces/1/2: ", "index 3 is out of range: the mesh has 3 vertices"},
      {R"("objects": [{"type": "mesh", "faces": [{"v": [0, -1, 0]}]}])",
       "t.json: /objects/0/faces/0/v/0: ", "the mesh has no vertices"},
      {R"("objects": [{"type": "mesh", "vertices": [[0, 0, 0]], "faces": [[0, 0, 0]],
          "uvs": [[0, 0]], "uvFaces": []}])",
       "t.json: /objects/0/uvFaces: ", "one texture face per face"},
      {R"("objects": [{"type": "mesh", "vertices": [[0, 0, 0]], "faces": [{"v": [0, 0, 0],
          "materialId": 65536}]}])",
       "t.json: /objects/0/faces/0/materialId: ", "between 0 and 65535"},
      {R"("objects": [{"type": "mesh", "vertices": [[0, 0, 0]], "faces": [{"v": [0, 0, 0],
          "smoothing": 1.5}]}])",
       "t.json: /objects/0/faces/0/smoothing: ", "expected an integer, found 1.5"},
      {R"("settings": {"ticksPerFrame": 0})", "t.json: /settings/ticksPerFrame: ", "at least 1"},
      {R"("settings": {"ticksPerFrame": 4800, "currentTime": 1000000})",
       "t.json: /settings/currentTime: ", "outside the host's time range"},
      {R"("settings": {"animationRange": [10, 5]})",
       "t.json: /settings/animationRange/1: ", "ends before it starts"},
      {R"("settings": {"masterUnit": {"type": "parsecs"}})",
       "t.json: /settings/masterUnit/type: ", "unknown unit"},
      {R"("settings": {"gamma": {"value": 0}})", "t.json: /settings/gamma/value: ", "above 0"},
      {R"("nodes": [{"name": "A", "parent": "B"}, {"name": "B", "parent": "C"},
          {"name": "C", "parent": "A"}])",
       "t.json: /nodes/", "the parents form a cycle: \"A\" -> \"B\" -> \"C\" -> \"A\""},
      {R"("nodes": [{"name": "A", "parent": "A"}])",
       "t.json: /nodes/0/parent: ", "cannot be its own parent"},
      {R"("nodes": [{"name": "A", "children": [{"name": "B", "parent": "A"}]}])",
       "t.json: /nodes/0/children/0/parent: ", "already"},
      {R"("nodes": [{"name": "A", "matrix": [[1, 0, 0], [0, 1, 0], [0, 0, 1], [0, 0, 0]],
          "position": [1, 2, 3]}])",
       "t.json: /nodes/0/matrix: ", "not both"},
      {R"("nodes": [{"name": "A", "rotation": {"axis": [0, 0, 0], "angle": 5}}])",
       "t.json: /nodes/0/rotation/axis: ", "length 0"},
      {R"("nodes": [{"name": "A", "rotation": {"quat": [0, 0, 0, 1], "angle": 5}}])",
       "t.json: /nodes/0/rotation: ", "not both"},
      {R"("nodes": [{"name": "A", "lookAt": "A"}])",
       "t.json: /nodes/0/lookAt: ", "cannot look at itself"},
      {R"("nodes": [{"name": "C", "lookAt": "T"}, {"name": "T", "target": false}])",
       "t.json: /nodes/1/target: ", "\"C\" looks at this node"},
      {R"("nodes": [{"name": "A", "locks": [[true, false]]}])",
       "t.json: /nodes/0/locks/0: ", "three booleans"},
      {R"("nodes": [{"name": "A", "dependents": [true]}])",
       "t.json: /nodes/0/dependents/0: ", "found a boolean"},
      {R"("nodes": [{"name": "A", "object": "Cube"}])",
       "t.json: /nodes/0/object: ", "no object named \"Cube\""},
      {R"("nodes": [{"name": "A", "object": 3}])",
       "t.json: /nodes/0/object: ", "no object with id 3"},
      {R"("nodes": [{"name": "A", "material": true}])", "t.json: /nodes/0/material: ",
       "expected a material name (a string) or id (an integer), found a boolean"},
      {R"("nodes": [{"name": "A", "object": {"type": "mesh", "id": 1}}])",
       "t.json: /nodes/0/object/id: ", "top-level"},
      {R"("objects": [{"type": "box"}])", "t.json: /objects/0/type: ", "unknown type \"box\""},
      {R"("objects": [{"vertices": []}])", "t.json: /objects/0/type: ", "missing"},
      {R"("objects": [{"type": "other", "family": 3}])", "t.json: /objects/0/classId: ", "missing"},
      {R"("objects": [{"type": "other", "family": 3, "classId": [1, "0xZZ"]}])",
       "t.json: /objects/0/classId/1: ", "hex"},
      {R"("objects": [{"type": "other", "family": 3, "classId": [1, 4294967296]}])",
       "t.json: /objects/0/classId/1: ", "out of range"},
      {R"("objects": [{"type": "camera", "fov": 180}])", "t.json: /objects/0/fov: ", "below 180"},
      {R"("objects": [{"type": "camera", "near": 10, "far": 5}])",
       "t.json: /objects/0/far: ", "below the near range"},
      {R"("objects": [{"type": "spotLight", "hotspot": 50}])",
       "t.json: /objects/0/hotspot: ", "narrower than the hotspot"},
      {R"("objects": [{"type": "pointLight", "attenStart": -1}])",
       "t.json: /objects/0/attenStart: ", "at least 0"},
      {R"("objects": [{"type": "dummy", "box": {"min": [0, 0, 2]}}])",
       "t.json: /objects/0/box/max: ", "below its minimum"},
      {R"("objects": [{"type": "shape", "splines": [{"knots": [{"in": [0, 0, 0]}]}]}])",
       "t.json: /objects/0/splines/0/knots/0/point: ", "missing"},
      {R"("materials": [{"type": "multi", "name": "X", "subMaterials": ["Y"]},
          {"type": "multi", "name": "Y", "subMaterials": [null, "X"]}])",
       "t.json: /materials/1/subMaterials/1: ", "contain each other: \"X\" -> \"Y\" -> \"X\""},
      {R"("materials": [{"name": "S", "subMaterials": []}])",
       "t.json: /materials/0/subMaterials: ", "unknown field"},
      {R"("materials": [{"type": "multi", "shininess": 0.5}])",
       "t.json: /materials/0/shininess: ", "unknown field"},
      {R"("materials": [{"shading": "glossy"}])",
       "t.json: /materials/0/shading: ", "unknown shading"},
      {R"("materials": [{"maps": {"difuse": {}}}])",
       "t.json: /materials/0/maps/difuse: ", "unknown map channel"},
      {R"("materials": [{"maps": {"bump": {}, "8": {}}}])",
       "t.json: /materials/0/maps/8: ", "already given as \"bump\""},
      {R"("materials": [{"maps": {"diffuse": {"map": "Nope"}}}])",
       "t.json: /materials/0/maps/diffuse/map: ", "no map named \"Nope\""},
      {R"("maps": [{"type": "mirror", "size": 5}])", "t.json: /maps/0/size: ", "unknown field"},
      {R"("maps": [{"type": "reflection", "nthFrame": 0}])",
       "t.json: /maps/0/nthFrame: ", "at least 1"},
      {R"("maps": [{"filter": "bilinear"}])", "t.json: /maps/0/filter: ", "unknown filter"},
      {R"("nodes": {"name": "A"})", "t.json: /nodes: ", "expected an array, found an object"},
      {R"("nodes": [7])", "t.json: /nodes/0: ", "expected a node"},
      {R"("extra": 1)", "t.json: /extra: ", "unknown field"},
      {R"("comment": 5)", "t.json: /comment: ", "expected a string"},
  };
  for (const ErrorCase& c : cases) {
    std::string e = ErrorOf(c.members);
    EXPECT_EQ(e.rfind(c.where, 0), 0u) << "message: " << e << "\nexpected start: " << c.where;
    EXPECT_NE(e.find(c.what), std::string::npos) << "message: " << e << "\nexpected: " << c.what;
    EXPECT_NE(e.find("(line "), std::string::npos) << e;
  }
}

// A cycle of 50,000 links is named by its first few and its length, not link by link.
TEST(SceneJson, LongCycleNamesItsFirstLinksAndLength) {
  const int n = 50000;
  std::string materials = R"("materials": [)", nodes = R"("nodes": [)";
  for (int i = 0; i < n; ++i) {
    std::string sep = i ? "," : "";
    std::string next = std::to_string((i + 1) % n);
    materials += sep + R"({"type": "multi", "name": "M)" + std::to_string(i) +
                 R"(", "subMaterials": ["M)" + next + R"("]})";
    nodes += sep + R"({"name": "N)" + std::to_string(i) + R"(", "parent": "N)" + next + R"("})";
  }
  for (const std::string& members : {materials + "]", nodes + "]"}) {
    std::string e = ErrorOf(members);
    EXPECT_LT(e.size(), 300u) << e.substr(0, 300);
    EXPECT_NE(e.find("-> ... -> "), std::string::npos) << e;
    EXPECT_NE(e.find("(50000 in the cycle)"), std::string::npos) << e;
  }
}

TEST(SceneJson, HeaderErrors) {
  EXPECT_EQ(ErrorOfText(R"({"version": 1})").rfind("t.json: /format: missing", 0), 0u);
  EXPECT_NE(ErrorOfText(R"({"format": "other", "version": 1})")
                .find("/format: not a scene of this exporter"),
            std::string::npos);
  EXPECT_NE(ErrorOfText(R"({"format": "tsm-scene"})").find("/version: missing"), std::string::npos);
  // The version is checked before members that a later version may have added.
  std::string e = ErrorOfText(R"({"format": "tsm-scene", "version": 2, "animations": []})");
  EXPECT_NE(e.find("/version: unsupported version 2; this loader reads version 1"),
            std::string::npos)
      << e;
  EXPECT_NE(ErrorOfText("[1, 2]").find("t.json: expected a scene (a JSON object), found an array"),
            std::string::npos);
}

TEST(SceneJson, ErrorLinesAndColumnsPointAtTheValue) {
  std::string text =
      "{\n"
      "  \"format\": \"tsm-scene\", \"version\": 1,\n"
      "  \"nodes\": [\n"
      "    {\"name\": \"A\"},\n"
      "    {\"name\": \"B\",\n"
      "     \"parent\": \"Bxo\"}\n"
      "  ]\n"
      "}\n";
  EXPECT_EQ(ErrorOfText(text),
            "t.json: /nodes/1/parent: no node named \"Bxo\" (line 6, column 16)");
  // A missing member is placed at the object that lacks it.
  EXPECT_EQ(
      ErrorOfText("{\"format\": \"tsm-scene\", \"version\": 1,\n\"nodes\": [\n  {\"id\": 3}]}"),
      "t.json: /nodes/0/name: missing: every node needs a name (line 3, column 3)");
}

TEST(SceneJson, ErrorsInMembersWithEscapedNamesAreLocated) {
  // The path escapes "/" as "~1"; the text spells the member with JSON escapes.
  std::string e = ErrorOfText(
      "{\"format\": \"tsm-scene\", \"version\": 1, \"nodes\": [{\"name\": \"A\",\n"
      "  \"\\u00e9t\\u00e9\": 1, \"p\\/x\": 2}]}");
  EXPECT_EQ(e.rfind("t.json: /nodes/0/\xc3\xa9t\xc3\xa9: unknown field (line 2, column 20)", 0), 0u)
      << e;
  e = ErrorOfText(
      "{\"format\": \"tsm-scene\", \"version\": 1, \"nodes\": [{\"name\": \"A\",\n"
      "  \"p\\/x\": 2}]}");
  EXPECT_EQ(e, "t.json: /nodes/0/p~1x: unknown field (line 2, column 11)");
}

TEST(SceneJson, DuplicateMembersAreRefused) {
  std::string e = ErrorOfText(
      "{\"format\": \"tsm-scene\", \"version\": 1, \"nodes\": [\n"
      "{\"name\": \"A\", \"name\": \"B\"}]}");
  EXPECT_EQ(e.rfind("t.json: /nodes/0: the member \"name\" appears more than once", 0), 0u) << e;
  EXPECT_NE(e.find("(line 2, column 15)"), std::string::npos) << e;  // the repeated member
}

TEST(SceneJson, SyntaxErrorsGiveLineAndColumn) {
  std::string e =
      ErrorOfText("{\n  \"format\": \"tsm-scene\",\n  \"version\": 1,\n  \"nodes\": [,]\n}");
  EXPECT_EQ(e.rfind("t.json: line 4, column 13: syntax error", 0), 0u) << e;
  e = ErrorOfText("{\"format\": \"tsm-scene\",\n\"version\": 1e400}");
  EXPECT_EQ(e.rfind("t.json: line 2, column 12: number overflow", 0), 0u) << e;
  EXPECT_EQ(ErrorOfText("").rfind("t.json: line 1, column 1: syntax error", 0), 0u);
}

TEST(SceneJson, HierarchyAndNestingLimits) {
  // 1000 levels load; 1001 do not.
  auto chain = [](int n) {
    std::string nodes = "\"nodes\": [{\"name\": \"N0\"}";
    for (int i = 1; i < n; ++i)
      nodes += ", {\"name\": \"N" + std::to_string(i) + "\", \"parent\": \"N" +
               std::to_string(i - 1) + "\"}";
    return nodes + "]";
  };
  EXPECT_TRUE(Loaded(chain(1000)));
  std::string e = ErrorOf(chain(1001));
  EXPECT_NE(e.find("t.json: /nodes/1000: the node lies more than 1000 levels deep"),
            std::string::npos)
      << e;
  std::string deep(100000, '[');
  e = ErrorOfText("{\"format\": \"tsm-scene\", \"version\": 1, \"nodes\": " + deep);
  EXPECT_NE(e.find("nested more than 1000 levels deep"), std::string::npos) << e;
}

// ---- Robustness -----------------------------------------------------------------------

TEST(SceneJson, EveryTruncationOfAValidFileFailsCleanly) {
  std::string text = ReadFileText(TSM_SOURCE_DIR "/examples/minimal.json");
  size_t end = text.rfind('}');
  ASSERT_NE(end, std::string::npos);
  {
    MemScene whole;
    ASSERT_TRUE(LoadJsonSceneText(text, "minimal.json", whole).ok);
  }
  for (size_t n = 0; n <= end; ++n) {
    MemScene scene;
    LoadResult r = LoadJsonSceneText(text.substr(0, n), "minimal.json", scene);
    EXPECT_FALSE(r.ok) << "prefix of " << n << " bytes loaded";
    EXPECT_EQ(r.error.rfind("minimal.json: line ", 0), 0u) << n << ": " << r.error;
  }
}

TEST(SceneJson, GarbageNeverCrashes) {
  std::vector<std::string> inputs = {
      std::string("\0\0\0", 3),
      "\xff\xfe\xfd",
      "}",
      "{\"format\": \"tsm-scene\"",
      "nul",
      "{\"format\": \"tsm-scene\", \"version\": 1, \"nodes\": [{\"name\": \"\xc3\x28\"}]}",
      "{\"format\": \"tsm-scene\", \"version\": 99999999999999999999999}",
      "{\"format\": \"tsm-scene\", \"version\": -1e308}",
      std::string(200000, '{')};
  // Deterministic pseudo-random bytes, and random bytes after a valid header.
  uint32_t x = 12345;
  for (int k = 0; k < 50; ++k) {
    std::string junk;
    for (int i = 0; i < 64 + k * 8; ++i) {
      x = x * 1103515245u + 12345u;
      junk.push_back(static_cast<char>(x >> 16));
    }
    inputs.push_back(junk);
    inputs.push_back("{\"format\": \"tsm-scene\", \"version\": 1, " + junk);
  }
  for (const std::string& in : inputs) {
    MemScene scene;
    LoadResult r = LoadJsonSceneText(in, "junk", scene);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error.rfind("junk: ", 0), 0u) << r.error;
  }
}

TEST(SceneJson, FilesAndTargetScenes) {
  MemScene scene;
  LoadResult r = LoadJsonScene(TSM_SOURCE_DIR "/examples/no-such-file.json", scene);
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.error.find("no-such-file.json: cannot open the file"), std::string::npos);
  // A scene that already holds nodes is not loaded into.
  scene.AddNode("Existing");
  r = LoadJsonSceneText(Doc(""), "t.json", scene);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, "t.json: the scene to load into is not empty");
}

}  // namespace
}  // namespace tsm
