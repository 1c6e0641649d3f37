#include "scene/mem_scene.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace tsm
