#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "material/material_table.h"
#include "run/export_run.h"
#include "run/scene_lists.h"
#include "scene/mem_material.h"
#include "scene/mem_scene.h"
#include "tests/test_util.h"

namespace tsm {
namespace {

static_assert(ENTRY_MESH == 0 && ENTRY_CAMERA == 1 && ENTRY_POINT_LIGHT == 2 &&
                  ENTRY_SPOT_LIGHT == 3 && ENTRY_DUMMY == 5 && ENTRY_CAMERA_TARGET == 6 &&
                  ENTRY_LIGHT_TARGET == 7 && ENTRY_SHAPE == 8,
              "entry kinds keep their values");

constexpr int kFamilyGeometry = 16;            // any family that isn't one of the exporter's
const Class_ID kTargetObjectClass(0x1020, 0);  // what a look-at target's own object is
const char kDuplicateText[] =
    "Two or more object names are the same in file being exported.  All object names must "
    "be unique.";

// A scene that visits exactly the nodes it is given, in order, even one twice.
class ListScene : public HostScene {
 public:
  std::vector<SceneNode*> nodes;
  void EnumerateNodes(SceneVisitor& visitor) override {
    for (SceneNode* n : nodes)
      if (visitor.Visit(n) != 0) return;
  }
};

// A node that remembers how it was evaluated and how often its dependents were listed.
class RecordingNode : public MemNode {
 public:
  std::vector<std::pair<TimeValue, int>> evaluations;
  int dependentWalks = 0;
  ObjectState EvaluateAtTime(TimeValue t, int mode) override {
    evaluations.emplace_back(t, mode);
    return MemNode::EvaluateAtTime(t, mode);
  }
  void EnumerateDependents(DependentVisitor& visitor) override {
    ++dependentWalks;
    MemNode::EnumerateDependents(visitor);
  }
};

class SceneEnumerationTest : public ::testing::Test {
 protected:
  MemObject* Mesh() { return scene.AddObject(kFamilyGeometry, Class_ID(0x10, 0), true); }
  MemObject* Camera() { return scene.AddObject(kFamilyCamera, kCameraClass); }
  MemObject* PointLight() { return scene.AddObject(kFamilyLight, kPointLightClass); }
  MemObject* SpotLight() { return scene.AddObject(kFamilyLight, kSpotLightClass); }
  MemObject* Dummy() { return scene.AddObject(kFamilyHelper, kDummyClass); }
  MemObject* Shape() { return scene.AddObject(kFamilyShape, kShapeClass); }
  MemObject* TargetObject() { return scene.AddObject(kFamilyHelper, kTargetObjectClass); }

  MemNode* Node(const std::string& name, MemObject* object, MemNode* parent = nullptr) {
    MemNode* n = scene.AddNode(name, parent);
    n->object = object;
    return n;
  }
  // A node that owner looks at, with a target's own object.
  MemNode* TargetOf(MemNode* owner, const std::string& name) {
    MemNode* t = Node(name, TargetObject());
    MemScene::SetLookAt(owner, t);
    return t;
  }
  MemMaterial* Material(const std::string& name) {
    MemMaterial* m = scene.Own(std::unique_ptr<MemMaterial>(new MemMaterial));
    m->name = name;
    return m;
  }

  std::unique_ptr<SceneEnumerator> Enumerate(HostScene* s = nullptr) {
    return std::unique_ptr<SceneEnumerator>(
        new SceneEnumerator(s != nullptr ? s : &scene, scene.currentTime, &scene, &table));
  }
  static std::vector<EntryKind> Kinds(const SceneEnumerator& e) {
    std::vector<EntryKind> kinds;
    for (SceneEntry* x = e.First(); x != nullptr; x = x->next) kinds.push_back(x->kind);
    return kinds;
  }
  static std::vector<SceneNode*> Nodes(const SceneEnumerator& e) {
    std::vector<SceneNode*> nodes;
    for (SceneEntry* x = e.First(); x != nullptr; x = x->next) nodes.push_back(x->node);
    return nodes;
  }
  static std::vector<SceneEntry*> Items(const ObjectList& list) {
    std::vector<SceneEntry*> entries;
    for (ObjectListItem* i = list.First(); i != nullptr; i = i->next) entries.push_back(i->entry);
    return entries;
  }

  MemScene scene;
  MaterialTable table;
};

typedef std::vector<EntryKind> KindList;

TEST_F(SceneEnumerationTest, EveryKindIsRecognisedInVisitOrder) {
  MemNode* mesh = Node("mesh", Mesh());
  MemNode* camera = Node("camera", Camera());
  MemNode* cameraTarget = TargetOf(camera, "camera.target");
  Node("omni", PointLight());
  MemNode* spot = Node("spot", SpotLight());
  MemNode* spotTarget = TargetOf(spot, "spot.target");
  Node("dummy", Dummy());
  MemNode* shape = Node("shape", Shape());

  auto e = Enumerate();
  EXPECT_EQ(Kinds(*e), (KindList{ENTRY_MESH, ENTRY_CAMERA, ENTRY_CAMERA_TARGET, ENTRY_POINT_LIGHT,
                                 ENTRY_SPOT_LIGHT, ENTRY_LIGHT_TARGET, ENTRY_DUMMY, ENTRY_SHAPE}));
  ASSERT_EQ(e->Count(), 8);
  EXPECT_EQ(e->First()->node, mesh);
  EXPECT_EQ(e->Last()->node, shape);
  EXPECT_EQ(e->Last()->next, nullptr);

  SceneEntry* c = e->FindEntryByNode(camera);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->target, cameraTarget);
  EXPECT_EQ(c->object, camera->object);
  // A target's entry holds the target's own object, not its owner's.
  SceneEntry* st = e->FindEntryByNode(spotTarget);
  ASSERT_NE(st, nullptr);
  EXPECT_EQ(st->object, spotTarget->object);
  EXPECT_EQ(st->target, nullptr);
  for (SceneEntry* x = e->First(); x != nullptr; x = x->next) {
    EXPECT_TRUE(x->name.empty()) << "names wait for the name pass";
    EXPECT_EQ(x->NodeNumber, kNoNodeNumber);
  }
  EXPECT_EQ(e->Time(), scene.currentTime);
  EXPECT_EQ(e->Host(), &scene);
  EXPECT_EQ(e->Materials(), &table);
}

TEST_F(SceneEnumerationTest, ShapeTestComesBeforeMeshTest) {
  MemObject* convertibleShape = Shape();
  convertibleShape->convertibleToMesh = true;
  MemNode* n = Node("shape", convertibleShape);
  n->meshAccepted = false;
  n->material = Material("m");
  auto e = Enumerate();
  EXPECT_EQ(Kinds(*e), KindList{ENTRY_SHAPE});
  EXPECT_EQ(table.Count(), 0) << "a shape's material is not collected";
}

TEST_F(SceneEnumerationTest, ShapeNeedsFamilyAndBothClassWords) {
  Node("other second word", scene.AddObject(kFamilyShape, Class_ID(10, 1)));
  Node("other first word", scene.AddObject(kFamilyShape, Class_ID(11, 0)));
  Node("other family", scene.AddObject(kFamilyHelper, kShapeClass));
  // Not a shape, but it can become a mesh: the mesh test takes it.
  Node("mesh", scene.AddObject(kFamilyShape, Class_ID(10, 1), true));
  auto e = Enumerate();
  EXPECT_EQ(Kinds(*e), KindList{ENTRY_MESH});
  EXPECT_EQ(e->First()->node, scene.FindNode("mesh"));
}

TEST_F(SceneEnumerationTest, MeshTestComesBeforeTargetTest) {
  MemNode* camera = Node("camera", Camera());
  MemScene::SetLookAt(camera, Node("mesh target", Mesh()));
  // Refused as a mesh, it is not taken as a target either, and its material stays out.
  MemNode* other = Node("other camera", Camera());
  MemNode* refused = Node("refused mesh target", Mesh());
  MemScene::SetLookAt(other, refused);
  refused->meshAccepted = false;
  refused->material = Material("refused");
  auto e = Enumerate();
  EXPECT_EQ(Kinds(*e), (KindList{ENTRY_CAMERA, ENTRY_MESH, ENTRY_CAMERA}));
  EXPECT_EQ(table.Count(), 0);
}

TEST_F(SceneEnumerationTest, TargetTestComesBeforeFamilyTests) {
  MemNode* light = Node("light", SpotLight());
  MemNode* cameraAsTarget = Node("camera as target", Camera());
  MemScene::SetLookAt(light, cameraAsTarget);
  MemNode* camera = Node("camera", Camera());
  MemNode* lightAsTarget = Node("light as target", PointLight());
  MemScene::SetLookAt(camera, lightAsTarget);
  auto e = Enumerate();
  EXPECT_EQ(Kinds(*e),
            (KindList{ENTRY_SPOT_LIGHT, ENTRY_LIGHT_TARGET, ENTRY_CAMERA, ENTRY_CAMERA_TARGET}));
}

TEST_F(SceneEnumerationTest, TargetKindFollowsOwnerFamilyOnly) {
  // The owner's class doesn't matter, only its family; neither does its own acceptance.
  MemNode* oddLight = Node("odd light", scene.AddObject(kFamilyLight, Class_ID(0x9999, 7)));
  TargetOf(oddLight, "odd light target");
  MemNode* oddCamera = Node("odd camera", scene.AddObject(kFamilyCamera, Class_ID(1, 1)));
  TargetOf(oddCamera, "odd camera target");
  auto e = Enumerate();
  EXPECT_EQ(Kinds(*e), (KindList{ENTRY_LIGHT_TARGET, ENTRY_CAMERA_TARGET}));
}

TEST_F(SceneEnumerationTest, TargetOfOtherOwnersGivesNothing) {
  MemNode* dummy = Node("dummy", Dummy());
  TargetOf(dummy, "dummy target");
  MemNode* shape = Node("shape", Shape());
  TargetOf(shape, "shape target");
  MemNode* mesh = Node("mesh", Mesh());
  TargetOf(mesh, "mesh target");
  MemNode* empty = Node("no object", nullptr);
  TargetOf(empty, "target of a node without object");
  // A target without owner isn't taken for a dummy either, even with a dummy's object.
  MemNode* orphan = Node("orphan", Dummy());
  orphan->isTarget = true;
  auto e = Enumerate();
  EXPECT_EQ(Kinds(*e), (KindList{ENTRY_DUMMY, ENTRY_SHAPE, ENTRY_MESH}));
}

TEST_F(SceneEnumerationTest, OtherFamiliesAndClassesGiveNothing) {
  // Both words of a class must match.
  Node("camera", scene.AddObject(kFamilyCamera, Class_ID(0x1002, 1)));
  Node("omni", scene.AddObject(kFamilyLight, Class_ID(0x1011, 1)));
  Node("spot", scene.AddObject(kFamilyLight, Class_ID(0x1012, 1)));
  Node("dummy", scene.AddObject(kFamilyHelper, Class_ID(0x876234, 1)));
  Node("swapped", scene.AddObject(kFamilyCamera, Class_ID(0, 0x1002)));
  // A known class in the wrong family.
  Node("family 48 with a camera class", scene.AddObject(kFamilyLight, kCameraClass));
  Node("family 32 with a light class", scene.AddObject(kFamilyCamera, kPointLightClass));
  Node("family 32 with a spot class", scene.AddObject(kFamilyCamera, kSpotLightClass));
  Node("family 80 with a camera class", scene.AddObject(kFamilyHelper, kCameraClass));
  Node("family 80 with another class", scene.AddObject(kFamilyHelper, Class_ID(0x876235, 0)));
  Node("family 64 with another class", scene.AddObject(kFamilyShape, kDummyClass));
  Node("unknown family", scene.AddObject(99, kCameraClass));
  Node("no object", nullptr);
  auto e = Enumerate();
  EXPECT_EQ(e->Count(), 0);
  EXPECT_EQ(e->First(), nullptr);
  EXPECT_EQ(e->Last(), nullptr);
}

TEST_F(SceneEnumerationTest, NodesAreEvaluatedAtRunTimeWithModeOne) {
  scene.currentTime = 4800;
  RecordingNode camera;
  camera.object = Camera();
  RecordingNode target;
  target.object = TargetObject();
  MemScene::SetLookAt(&camera, &target);
  ListScene list;
  list.nodes = {&camera, &target};
  auto e = Enumerate(&list);
  EXPECT_EQ(Kinds(*e), (KindList{ENTRY_CAMERA, ENTRY_CAMERA_TARGET}));
  typedef std::vector<std::pair<TimeValue, int>> Calls;
  EXPECT_EQ(target.evaluations, (Calls{{4800, 1}}));
  // Once as itself, once as the target's owner.
  EXPECT_EQ(camera.evaluations, (Calls{{4800, 1}, {4800, 1}}));
}

TEST_F(SceneEnumerationTest, EntriesKeepTheHostsVisitOrder) {
  MemNode* a = Node("a", Dummy());
  MemNode* b = Node("b", Dummy());
  MemNode* a1 = Node("a1", Dummy(), a);
  MemNode* a1x = Node("a1x", Dummy(), a1);
  MemNode* a2 = Node("a2", Mesh(), a);
  MemNode* b1 = Node("b1", Camera(), b);
  auto e = Enumerate();
  EXPECT_EQ(Nodes(*e), (std::vector<SceneNode*>{a, a1, a1x, a2, b, b1}));

  ListScene list;
  list.nodes = {b1, a2, a};
  auto reversed = Enumerate(&list);
  EXPECT_EQ(Nodes(*reversed), (std::vector<SceneNode*>{b1, a2, a}));
}

TEST_F(SceneEnumerationTest, NullNodeFromTheHostIsLeftOut) {
  MemNode* a = Node("a", Dummy());
  MemNode* b = Node("b", Camera());
  ListScene list;
  list.nodes = {a, nullptr, b};
  auto e = Enumerate(&list);
  EXPECT_EQ(Nodes(*e), (std::vector<SceneNode*>{a, b}));
  EXPECT_EQ(e->FindEntryByNode(nullptr), nullptr);
}

TEST_F(SceneEnumerationTest, OnlyAcceptedMeshesCollectMaterials) {
  MemMaterial* accepted = Material("accepted");
  MemMaterial* refused = Material("refused");
  MemNode* mesh = Node("mesh", Mesh());
  mesh->material = accepted;
  MemNode* refusedMesh = Node("refused mesh", Mesh());
  refusedMesh->material = refused;
  refusedMesh->meshAccepted = false;
  Node("camera", Camera())->material = Material("camera's");
  Node("no material", Mesh());
  auto e = Enumerate();
  EXPECT_EQ(Kinds(*e), (KindList{ENTRY_MESH, ENTRY_CAMERA, ENTRY_MESH}));
  ASSERT_EQ(table.Count(), 1);
  EXPECT_EQ(table.HostMaterialAt(0), accepted);
}

TEST_F(SceneEnumerationTest, FindEntryByNodeAnswersTheFirstEntry) {
  MemNode* a = Node("a", Dummy());
  MemNode* b = Node("b", Mesh());
  MemNode* stranger = Node("stranger", nullptr);
  ListScene list;
  list.nodes = {a, b, a};
  auto e = Enumerate(&list);
  ASSERT_EQ(e->Count(), 3);
  EXPECT_EQ(e->FindEntryByNode(a), e->First());
  EXPECT_EQ(e->FindEntryByNode(b), e->First()->next);
  EXPECT_EQ(e->FindEntryByNode(stranger), nullptr);
  EXPECT_EQ(e->FindEntryByNode(nullptr), nullptr);
}

TEST_F(SceneEnumerationTest, ReleaseEmptiesTheEntryList) {
  MemNode* a = Node("a", Dummy());
  Node("b", Camera());
  auto e = Enumerate();
  ASSERT_EQ(e->Count(), 2);
  e->ReleaseEntries();
  EXPECT_EQ(e->Count(), 0);
  EXPECT_EQ(e->First(), nullptr);
  EXPECT_EQ(e->Last(), nullptr);
  EXPECT_EQ(e->FindEntryByNode(a), nullptr);
  e->ReleaseEntries();
  EXPECT_EQ(e->Count(), 0);
}

// ---- name pass ----

class NamePassTest : public SceneEnumerationTest {
 protected:
  ModuleHandleScope module;
  CaptureSink sink;

  int Warnings() const {
    int n = 0;
    for (const CapturedBox& b : sink.boxes) {
      EXPECT_EQ(b.caption, "TSMEXP4");
      EXPECT_EQ(b.text, kDuplicateText);
      EXPECT_EQ(b.type, MB_OK);
      ++n;
    }
    return n;
  }
};

TEST_F(NamePassTest, EveryEntryGetsItsNodesName) {
  Node("Box01", Mesh());
  Node("Camera01", Camera());
  auto e = Enumerate();
  e->NamePass();
  EXPECT_EQ(e->First()->name, "Box01");
  EXPECT_EQ(e->Last()->name, "Camera01");
  EXPECT_EQ(Warnings(), 0);
}

TEST_F(NamePassTest, OneWarningForEveryNameSeenBefore) {
  struct Case {
    std::vector<std::string> names;
    int warnings;
  };
  // Nodes take turns being a mesh, a light and a dummy: names of all kinds take part.
  const Case cases[] = {
      {{"Box", "Other", "Box", "Box"}, 2},               // three alike
      {{"", ""}, 1},                                     // two empty names
      {{"Thing", "Thing"}, 1},                           // a mesh and a light
      {{"box", "Box", "box ", "Node", "No", "Nod"}, 0},  // byte for byte
      {{"a", "b", "a", "b", "a"}, 3},
  };
  for (const Case& c : cases) {
    MemScene own;
    MaterialTable materials;
    for (size_t i = 0; i < c.names.size(); ++i) {
      MemNode* n = own.AddNode(c.names[i]);
      if (i % 3 == 0) n->object = own.AddObject(kFamilyGeometry, Class_ID(0x10, 0), true);
      if (i % 3 == 1) n->object = own.AddObject(kFamilyLight, kPointLightClass);
      if (i % 3 == 2) n->object = own.AddObject(kFamilyHelper, kDummyClass);
    }
    sink.boxes.clear();
    SceneEnumerator e(&own, 0, &own, &materials);
    e.NamePass();
    EXPECT_EQ(Warnings(), c.warnings) << "names starting with \"" << c.names[0] << "\"";
  }
}

TEST_F(NamePassTest, LeftOutNodesDontCount) {
  Node("Same", Mesh());
  Node("Same", nullptr);                       // no object: no entry
  Node("Same", Mesh())->meshAccepted = false;  // refused: no entry
  auto e = Enumerate();
  e->NamePass();
  EXPECT_EQ(Warnings(), 0);
}

TEST_F(NamePassTest, WarningsAppearWhenQuiet) {
  int saved = QuietMode;
  QuietMode = 1;
  Node("Same", Mesh());
  Node("Same", Mesh());
  auto e = Enumerate();
  e->NamePass();
  QuietMode = saved;
  EXPECT_EQ(Warnings(), 1);
}

// ---- object list ----

TEST_F(SceneEnumerationTest, InstancesOfOneMeshGiveOneItem) {
  MemObject* shared = Mesh();
  MemNode* first = Node("first", shared);
  MemNode* second = Node("second", shared);
  auto e = Enumerate();
  EXPECT_EQ(Kinds(*e), (KindList{ENTRY_MESH, ENTRY_MESH}));
  ObjectList list;
  list.Build(*e);
  ASSERT_EQ(list.Count(), 1);
  EXPECT_EQ(list.First()->entry, e->FindEntryByNode(first));
  EXPECT_EQ(list.First(), list.Last());
  EXPECT_EQ(list.First()->converted, nullptr);
  EXPECT_EQ(list.FindItemByObject(shared), list.First());
  EXPECT_NE(e->FindEntryByNode(second), nullptr) << "the instance stays an entry";
}

TEST_F(SceneEnumerationTest, OtherKindsGetAnItemWhateverTheirObject) {
  MemObject* sharedCamera = Camera();
  Node("camera 1", sharedCamera);
  Node("camera 2", sharedCamera);
  MemObject* sharedShape = Shape();
  Node("shape 1", sharedShape);
  Node("shape 2", sharedShape);
  auto e = Enumerate();
  ObjectList list;
  list.Build(*e);
  EXPECT_EQ(list.Count(), 4);
  EXPECT_EQ(list.FindItemByObject(sharedCamera)->entry, e->First());
  EXPECT_EQ(list.FindItemByObject(sharedShape)->entry->node, scene.FindNode("shape 1"));
}

TEST_F(SceneEnumerationTest, ObjectListKeepsEntryOrder) {
  MemObject* box = Mesh();
  MemNode* a = Node("a", box);
  MemNode* b = Node("b", Mesh());
  Node("c", box);
  MemNode* cam = Node("cam", Camera());
  MemNode* target = TargetOf(cam, "target");
  MemNode* d = Node("d", box);
  (void)d;
  auto e = Enumerate();
  ObjectList list;
  list.Build(*e);
  EXPECT_EQ(Items(list),
            (std::vector<SceneEntry*>{e->FindEntryByNode(a), e->FindEntryByNode(b),
                                      e->FindEntryByNode(cam), e->FindEntryByNode(target)}));
  EXPECT_EQ(list.Last()->next, nullptr);
  EXPECT_EQ(list.FindItemByObject(Mesh()), nullptr);
  list.Release();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.First(), nullptr);
  EXPECT_EQ(list.Last(), nullptr);
  EXPECT_EQ(list.FindItemByObject(box), nullptr);
}

// ---- FindItemByTarget ----

// The lookup as a plain walk: every item in order, its node's dependents until one is a
// node looking at target.
class ReferenceVisitor : public DependentVisitor {
 public:
  explicit ReferenceVisitor(SceneNode* target) : target_(target) {}
  int VisitDependent(HostDependent* d) override {
    if (d->FamilyCode() != kFamilyNode || d->LookAtTarget() != target_) return 0;
    found = d;
    return 1;
  }
  HostDependent* found = nullptr;

 private:
  SceneNode* target_;
};

ObjectListItem* ReferenceFindItemByTarget(const ObjectList& list, SceneNode* target) {
  for (ObjectListItem* i = list.First(); i != nullptr; i = i->next) {
    ReferenceVisitor v(target);
    i->entry->node->EnumerateDependents(v);
    if (v.found != nullptr) return i;
  }
  return nullptr;
}

TEST_F(SceneEnumerationTest, TargetIsFoundThroughItsOwnersNode) {
  MemNode* camera = Node("camera", Camera());
  MemNode* cameraTarget = TargetOf(camera, "camera target");
  MemNode* light = Node("light", SpotLight());
  MemNode* lightTarget = TargetOf(light, "light target");
  auto e = Enumerate();
  ObjectList list;
  list.Build(*e);
  ASSERT_NE(list.FindItemByTarget(cameraTarget), nullptr);
  EXPECT_EQ(list.FindItemByTarget(cameraTarget)->entry->node, camera);
  ASSERT_NE(list.FindItemByTarget(lightTarget), nullptr);
  EXPECT_EQ(list.FindItemByTarget(lightTarget)->entry->node, light);
  EXPECT_EQ(list.FindItemByTarget(camera), nullptr);
}

TEST_F(SceneEnumerationTest, TargetIsFoundThroughOtherDependents) {
  MemNode* target = Node("target", TargetObject());
  target->isTarget = true;
  MemNode* dummy = Node("dummy", Dummy());
  // A dependent that is a node (family 1) and looks at the target.
  MemDependent* looker = scene.Own(std::unique_ptr<MemDependent>(new MemDependent));
  looker->family = kFamilyNode;
  looker->lookAt = target;
  dummy->extraDependents.push_back(looker);
  // Something else that looks at the other target but is not a node.
  MemNode* other = Node("other target", TargetObject());
  MemDependent* modifier = scene.Own(std::unique_ptr<MemDependent>(new MemDependent));
  modifier->family = 5;
  modifier->lookAt = other;
  dummy->extraDependents.push_back(modifier);

  auto e = Enumerate();
  ObjectList list;
  list.Build(*e);
  ASSERT_NE(list.FindItemByTarget(target), nullptr);
  EXPECT_EQ(list.FindItemByTarget(target)->entry->node, dummy);
  EXPECT_EQ(list.FindItemByTarget(other), nullptr);
}

TEST_F(SceneEnumerationTest, FirstItemLookingAtTargetWins) {
  MemNode* target = Node("target", TargetObject());
  MemNode* dummy = Node("dummy", Dummy());
  MemNode* camera = Node("camera", Camera());
  MemScene::SetLookAt(camera, target);
  // An earlier item whose dependent (a second node) looks at the same target.
  MemNode* helperNode = Node("helper", nullptr);
  helperNode->lookAt = target;
  dummy->extraDependents.push_back(helperNode);
  MemNode* later = Node("later", Dummy());
  later->lookAt = target;

  auto e = Enumerate();
  ObjectList list;
  list.Build(*e);
  ASSERT_NE(list.FindItemByTarget(target), nullptr);
  EXPECT_EQ(list.FindItemByTarget(target)->entry->node, dummy);

  // Without the earlier dependent, the camera comes first.
  dummy->extraDependents.clear();
  ObjectList fresh;
  fresh.Build(*e);
  ASSERT_NE(fresh.FindItemByTarget(target), nullptr);
  EXPECT_EQ(fresh.FindItemByTarget(target)->entry->node, camera);
}

TEST_F(SceneEnumerationTest, InstanceWithoutItemDoesNotAnswerForTarget) {
  MemObject* box = Mesh();
  Node("first", box);
  MemNode* second = Node("second", box);
  MemNode* target = Node("target", TargetObject());
  second->lookAt = target;  // the second instance has no item of its own
  auto e = Enumerate();
  ObjectList list;
  list.Build(*e);
  EXPECT_EQ(list.FindItemByTarget(target), nullptr);
}

TEST_F(SceneEnumerationTest, RebuiltListAnswersForItsNewItems) {
  MemNode* camera = Node("camera", Camera());
  MemNode* target = TargetOf(camera, "target");
  auto e = Enumerate();
  ObjectList list;
  list.Build(*e);
  ASSERT_NE(list.FindItemByTarget(target), nullptr);

  MemScene other;
  MemNode* light = other.AddNode("light");
  light->object = other.AddObject(kFamilyLight, kSpotLightClass);
  MemNode* lightTarget = other.AddNode("light target");
  lightTarget->object = other.AddObject(kFamilyHelper, kTargetObjectClass);
  MemScene::SetLookAt(light, lightTarget);
  MaterialTable otherTable;
  SceneEnumerator otherEntries(&other, 0, &other, &otherTable);
  list.Build(otherEntries);
  EXPECT_EQ(list.FindItemByTarget(target), nullptr);
  ASSERT_NE(list.FindItemByTarget(lightTarget), nullptr);
  EXPECT_EQ(list.FindItemByTarget(lightTarget)->entry->node, light);
}

TEST_F(SceneEnumerationTest, TargetLookupMatchesPlainWalkOnEveryNode) {
  // A mixed scene: cameras and lights with targets, instances, dummies looking at
  // things through extra dependents, and nodes looking at nothing.
  std::vector<MemNode*> all;
  MemObject* box = Mesh();
  for (int i = 0; i < 12; ++i) {
    MemNode* n = nullptr;
    switch (i % 4) {
      case 0:
        n = Node("cam", Camera());
        break;
      case 1:
        n = Node("spot", SpotLight());
        break;
      case 2:
        n = Node("box", box);
        break;
      default:
        n = Node("dummy", Dummy());
        break;
    }
    all.push_back(n);
    if (i % 4 < 2) all.push_back(TargetOf(n, "target"));
  }
  for (size_t i = 3; i < all.size(); i += 3) {
    all[i]->extraDependents.push_back(all[i - 2]);
    all[i]->extraDependents.push_back(all[(i * 7) % all.size()]);
  }
  auto e = Enumerate();
  ObjectList list;
  list.Build(*e);
  all.push_back(nullptr);  // a node that looks at nothing answers for "no target"
  for (MemNode* t : all)
    EXPECT_EQ(list.FindItemByTarget(t), ReferenceFindItemByTarget(list, t))
        << "target " << (t != nullptr ? t->name : "none");
}

TEST_F(SceneEnumerationTest, TargetLookupsWalkEachItemsDependentsOnce) {
  std::vector<std::unique_ptr<RecordingNode>> nodes;
  ListScene list;
  for (int i = 0; i < 6; ++i) {
    nodes.emplace_back(new RecordingNode);
    nodes.back()->object = i % 2 == 0 ? Camera() : TargetObject();
    list.nodes.push_back(nodes.back().get());
  }
  for (int i = 0; i < 6; i += 2) MemScene::SetLookAt(nodes[i].get(), nodes[i + 1].get());
  auto e = Enumerate(&list);
  ASSERT_EQ(e->Count(), 6);
  ObjectList objects;
  objects.Build(*e);
  for (int round = 0; round < 3; ++round)
    for (int i = 1; i < 6; i += 2)
      EXPECT_EQ(objects.FindItemByTarget(nodes[i].get())->entry->node, nodes[i - 1].get());
  for (const auto& n : nodes) EXPECT_EQ(n->dependentWalks, 1);
}

}  // namespace
}  // namespace tsm
