#include "scene/mem_scene.h"

#include "scene/mem_objects.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace tsm {
namespace {

class NameCollector : public SceneVisitor {
 public:
  int Visit(SceneNode* node) override {
    names.push_back(node->NodeName());
    return 0;
  }
  std::vector<std::string> names;
};

TEST(MemScene, VisitsDepthFirstParentsBeforeChildren) {
  MemScene s;
  MemNode* a = s.AddNode("A");
  s.AddNode("B");
  s.AddNode("A1", a);
  s.AddNode("A2", a);
  NameCollector c;
  s.EnumerateNodes(c);
  EXPECT_EQ(c.names, (std::vector<std::string>{"A", "A1", "A2", "B"}));
}

TEST(MemScene, NodeTransformComposesParents) {
  MemScene s;
  MemNode* a = s.AddNode("A");
  MemNode* b = s.AddNode("B", a);
  a->local = TransMatrix({1, 0, 0});
  b->local = TransMatrix({0, 2, 0});
  EXPECT_EQ(b->NodeTransform(0).GetTrans(), Point3(1, 2, 0));
  EXPECT_EQ(a->ParentNode(), s.Root());
  EXPECT_EQ(s.Root()->IsSceneRoot(), 1);
  EXPECT_EQ(a->IsSceneRoot(), 0);
}

// World transforms are kept from one enumeration to the next: a change to the scene counts
// from the next enumeration on (as an export starts with one), and before the first one
// every query follows the scene as it is.
TEST(MemScene, WorldTransformsAreKeptUntilTheNextEnumeration) {
  MemScene s;
  MemNode* a = s.AddNode("A");
  MemNode* b = s.AddNode("B", a);
  NameCollector visitor;
  const struct {
    bool enumerate;  // enumerate before the change
    float moveTo;    // A's new x
    float seen;      // B's x right after the change
  } steps[] = {{false, 1, 1}, {false, 2, 2}, {true, 3, 2}, {false, 4, 2}, {true, 5, 4}};
  for (const auto& step : steps) {
    if (step.enumerate) {
      s.EnumerateNodes(visitor);
      b->NodeTransform(0);  // kept for time 0 from here on
    }
    a->local = TransMatrix({step.moveTo, 0, 0});
    EXPECT_EQ(b->NodeTransform(0).GetTrans().x, step.seen) << "A moved to " << step.moveTo;
  }
  EXPECT_EQ(b->NodeTransform(160).GetTrans().x, 5.0f);  // another time: computed anew
  s.EnumerateNodes(visitor);
  EXPECT_EQ(b->NodeTransform(0).GetTrans().x, 5.0f);
}

TEST(MemScene, DependentsStartWithTheNodeAndStopOnOne) {
  MemScene s;
  MemNode* cam = s.AddNode("Cam");
  MemDependent other;
  other.family = 7;
  cam->extraDependents.push_back(&other);
  struct Counter : DependentVisitor {
    int seen = 0;
    int VisitDependent(HostDependent*) override { return ++seen == 1 ? 1 : 0; }
  } stopAtFirst;
  cam->EnumerateDependents(stopAtFirst);
  EXPECT_EQ(stopAtFirst.seen, 1);
}

TEST(CheckScene, SoundScenePasses) {
  MemScene s;
  MemNode* cam = s.AddNode("Cam");
  MemNode* tgt = s.AddNode("Cam.Target");
  MemScene::SetLookAt(cam, tgt);
  EXPECT_EQ(CheckScene(s), "");
}

TEST(CheckScene, FindsUnnamedNode) {
  MemScene s;
  s.AddNode("");
  EXPECT_NE(CheckScene(s).find("no name"), std::string::npos);
}

TEST(CheckScene, FindsParentChildDisagreement) {
  MemScene s;
  MemNode* a = s.AddNode("A");
  MemNode* b = s.AddNode("B");
  b->parent = a;  // a does not list b
  EXPECT_NE(CheckScene(s).find("node \"B\""), std::string::npos);
}

TEST(CheckScene, FindsCycle) {
  MemScene s;
  MemNode* a = s.AddNode("A");
  MemNode* b = s.AddNode("B", a);
  // Re-link a below b: both now list each other.
  s.Root()->children.clear();
  a->parent = b;
  b->children.push_back(a);
  EXPECT_NE(CheckScene(s).find("cycle"), std::string::npos);
}

TEST(CheckScene, FindsLookAtOutsideScene) {
  MemScene s, other;
  MemNode* a = s.AddNode("A");
  MemNode* stranger = other.AddNode("X");
  stranger->isTarget = true;
  a->lookAt = stranger;
  EXPECT_NE(CheckScene(s).find("look-at target"), std::string::npos);
}

// The host mesh the in-memory host hands out is built when asked and held for the last
// object asked only; whatever the order of questions, changes and deletions, each answer
// is that object's current mesh, and a deleted holder leaves nothing held.
TEST(MemMeshObject, HostMeshIsBuiltWhenAskedAndHeldForTheLastObjectOnly) {
  enum Step { ASK, GROW, EDIT, DROP };
  struct Case {
    const char* name;
    std::vector<std::pair<int, Step>> steps;  // (object 0..2, what is done to it)
  } cases[] = {
      {"alternating", {{0, ASK}, {1, ASK}, {0, ASK}, {2, ASK}, {2, ASK}}},
      {"grown after asked", {{0, ASK}, {0, GROW}, {0, ASK}, {1, ASK}, {1, GROW}, {0, ASK}}},
      {"edited in place", {{1, ASK}, {1, EDIT}, {1, ASK}, {0, EDIT}, {0, ASK}}},
      {"holder deleted", {{2, ASK}, {2, DROP}, {0, ASK}, {0, DROP}}},
      {"other deleted", {{0, ASK}, {1, DROP}, {0, ASK}}},
  };
  for (const Case& c : cases) {
    std::unique_ptr<MemMeshObject> objects[3];
    for (int i = 0; i < 3; ++i) {
      objects[i] = std::make_unique<MemMeshObject>();
      for (int v = 0; v < 3 + i; ++v) objects[i]->vertices.emplace_back(float(v), float(i), 0.0f);
      objects[i]->faces.resize(size_t(i + 1));
      for (MemFace& f : objects[i]->faces) f.v = {{0, 1, 2}};
    }
    int lastAsked = -1;
    for (auto [i, step] : c.steps) {
      MemMeshObject& o = *objects[i];
      if (step == GROW) {
        o.vertices.emplace_back(9.0f, 9.0f, 9.0f);
        o.faces.push_back(o.faces.back());
      } else if (step == EDIT) {
        o.vertices[0].x += 1.0f;
        o.faces[0].materialId += 1;
        o.MeshChanged();
      } else if (step == DROP) {
        objects[i].reset();
        // Only the holder's deletion frees the mesh held.
        EXPECT_EQ(MemMeshObject::HeldMeshBytes() == 0, i == lastAsked) << c.name;
        continue;
      }
      if (step != ASK) continue;
      lastAsked = i;
      const Mesh* m = o.ObjectMesh();
      Mesh expect = o.BuildMesh();
      ASSERT_EQ(m->verts.size(), expect.verts.size()) << c.name;
      for (size_t v = 0; v < expect.verts.size(); ++v)
        EXPECT_EQ(m->verts[v], expect.verts[v]) << c.name << " vertex " << v;
      ASSERT_EQ(m->faces.size(), expect.faces.size()) << c.name;
      for (size_t f = 0; f < expect.faces.size(); ++f)
        EXPECT_EQ(m->faces[f].flags, expect.faces[f].flags) << c.name << " face " << f;
      EXPECT_GT(MemMeshObject::HeldMeshBytes(), 0u) << c.name;
    }
    for (auto& o : objects) o.reset();
    EXPECT_EQ(MemMeshObject::HeldMeshBytes(), 0u) << c.name;
  }
}

}  // namespace
}  // namespace tsm
