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
