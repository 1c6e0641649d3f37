#include "scene/mem_scene.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

#include "scene/mem_controllers.h"
#include "scene/mem_objects.h"

namespace tsm {

namespace {

// What is wrong with a controller that should be of kind: its kind, or keys whose times
// do not increase strictly; empty when it is sound or absent.
std::string ControllerProblem(const HostController* c, ControlKind kind, const char* what) {
  const auto* mc = dynamic_cast<const MemController*>(c);
  if (mc == nullptr) return std::string();
  if (mc->kind != kind)
    return std::string("its ") + what + " controller holds values of another kind";
  for (size_t i = 1; i < mc->keys.size(); ++i)
    if (mc->keys[i].time <= mc->keys[i - 1].time)
      return std::string("its ") + what + " controller's key " + std::to_string(i) +
             " is not later than the key before";
  return std::string();
}

std::string AnimationProblem(const MemNode& n) {
  std::string p;
  if (const auto* tc = dynamic_cast<const MemTransformController*>(n.transform)) {
    if (p.empty()) p = ControllerProblem(tc->position, ControlKind::POSITION, "position");
    if (p.empty()) p = ControllerProblem(tc->rotation, ControlKind::ROTATION, "rotation");
    if (p.empty()) p = ControllerProblem(tc->scale, ControlKind::SCALE, "scale");
    if (p.empty()) p = ControllerProblem(tc->roll, ControlKind::FLOAT, "roll");
  }
  if (const auto* cam = dynamic_cast<const MemCameraObject*>(n.object))
    if (p.empty()) p = ControllerProblem(cam->fovController, ControlKind::FLOAT, "field-of-view");
  if (const auto* light = dynamic_cast<const MemLightObject*>(n.object)) {
    if (p.empty()) p = ControllerProblem(light->colorController, ControlKind::POINT3, "colour");
    if (p.empty()) p = ControllerProblem(light->hotspotController, ControlKind::FLOAT, "hotspot");
    if (p.empty()) p = ControllerProblem(light->falloffController, ControlKind::FLOAT, "falloff");
  }
  return p;
}

}  // namespace

int MemObject::ConvertibleTo(Class_ID id) {
  if (id == triObjectClassID) return convertibleToMesh ? 1 : 0;
  return id == classId ? 1 : 0;
}

SceneObject* MemObject::ConvertToClass(TimeValue /*t*/, Class_ID id) {
  if (id == classId) return this;
  if (id == triObjectClassID && convertibleToMesh) return new MemConvertedMesh(ConvertedMesh());
  return nullptr;
}

ObjectState MemNode::EvaluateAtTime(TimeValue /*t*/, int /*mode*/) {
  ObjectState state;
  state.obj = object;
  return state;
}

void MemNode::EnumerateDependents(DependentVisitor& visitor) {
  if (visitor.VisitDependent(this) == 1) return;
  for (HostDependent* d : extraDependents)
    if (visitor.VisitDependent(d) == 1) return;
}

Matrix3 MemNode::LocalTransform(TimeValue t) {
  if (transform == nullptr) return local;
  HostController* pc = transform->PositionController();
  HostController* rc = transform->RotationController();
  HostController* sc = transform->ScaleController();
  if (pc == nullptr && rc == nullptr && sc == nullptr) return local;
  Point3 pos, scale;
  Quat rot;
  DecomposeMatrix(local, pos, rot, scale);
  Interval valid(TIME_NegInfinity, TIME_NegInfinity);
  if (pc != nullptr) pc->ControllerValue(t, &pos, valid, 1);
  if (rc != nullptr) rc->ControllerValue(t, &rot, valid, 1);
  if (sc != nullptr) {
    ScaleValue sv;
    sv.s = scale;
    sc->ControllerValue(t, &sv, valid, 1);
    scale = sv.s;
  }
  return ScaleMatrix(scale) * QuatToMatrix(Normalize(rot)) * TransMatrix(pos);
}

Matrix3 MemNode::NodeTransform(TimeValue t) {
  if (parent == nullptr) return local;
  const uint64_t enumeration = enumeration_ != nullptr ? *enumeration_ : 0;
  if (enumeration != 0 && keptEnumeration_ == enumeration && keptTime_ == t) return keptWorld_;
  Matrix3 world = LocalTransform(t) * parent->NodeTransform(t);
  if (enumeration != 0) {
    keptEnumeration_ = enumeration;
    keptTime_ = t;
    keptWorld_ = world;
  }
  return world;
}

Matrix3 MemNode::ObjectOffsetMatrix() const {
  return ScaleMatrix(objectOffsetScale) * QuatToMatrix(objectOffsetRot) *
         TransMatrix(objectOffsetPos);
}

Matrix3 MemNode::ObjectTransform(TimeValue t) {
  return ObjectOffsetMatrix() * NodeTransform(t);
}

int MemNode::TransformLocked(int group, int axis) {
  if (group < 0 || group > 2 || axis < 0 || axis > 2) return 0;
  return transformLocked[group][axis] ? 1 : 0;
}

MemScene::MemScene() : root_(new MemNode) {
  root_->name = "Scene Root";
}

MemNode* MemScene::AddNode(const std::string& name, MemNode* parent) {
  if (parent == nullptr) parent = root_.get();
  nodes_.emplace_back(new MemNode);
  MemNode* node = nodes_.back().get();
  node->name = name;
  node->parent = parent;
  node->enumeration_ = &enumerations_;
  parent->children.push_back(node);
  return node;
}

MemObject* MemScene::AddObject(int family, Class_ID classId, bool convertibleToMesh) {
  objects_.emplace_back(new MemObject);
  MemObject* object = objects_.back().get();
  object->family = family;
  object->classId = classId;
  object->convertibleToMesh = convertibleToMesh;
  return object;
}

void MemScene::SetLookAt(MemNode* owner, MemNode* target) {
  owner->lookAt = target;
  if (target != nullptr) {
    target->isTarget = true;
    target->owner = owner;
  }
}

MemNode* MemScene::FindNode(const std::string& name) const {
  for (const auto& n : nodes_)
    if (n->name == name) return n.get();
  return nullptr;
}

void MemScene::ApplyHostSettings() const {
  SetTicksPerFrame(ticksPerFrame);
  SetMasterUnit(masterUnitType, masterUnitScale);
  gammaMgr.enable = gammaEnabled;
  gammaMgr.dispGamma = gamma;
}

void MemScene::EnumerateNodes(SceneVisitor& visitor) {
  ++enumerations_;  // what the nodes kept is from an earlier enumeration now
  // An explicit stack keeps deep hierarchies off the call stack.
  std::vector<MemNode*> stack(root_->children.rbegin(), root_->children.rend());
  while (!stack.empty()) {
    MemNode* node = stack.back();
    stack.pop_back();
    if (visitor.Visit(node) != 0) return;
    stack.insert(stack.end(), node->children.rbegin(), node->children.rend());
  }
}

std::string CheckScene(const MemScene& scene) {
  std::unordered_set<const MemNode*> known;
  known.insert(scene.Root());
  for (const auto& n : scene.Nodes()) known.insert(n.get());

  // How often each node stands in its own parent's list of children, counted once for
  // all nodes: counting a node's siblings per node is quadratic in a wide hierarchy.
  std::unordered_map<const MemNode*, size_t> listed;
  auto countChildren = [&listed](const MemNode* p) {
    for (const MemNode* c : p->children)
      if (c != nullptr && c->parent == p) ++listed[c];
  };
  countChildren(scene.Root());
  for (const auto& n : scene.Nodes()) countChildren(n.get());

  auto where = [](const MemNode* n) { return "node \"" + n->name + "\""; };
  std::unordered_set<const MemNode*> reachesRoot;  // walked up to the root already
  std::vector<const MemNode*> chain;
  size_t index = 0;
  for (const auto& up : scene.Nodes()) {
    const MemNode* n = up.get();
    std::string at = "node " + std::to_string(index++);
    if (n->name.empty()) return at + ": the node has no name";
    if (n->parent == nullptr || known.count(n->parent) == 0)
      return where(n) + ": its parent is not a node of this scene";
    auto count = listed.find(n);
    if (count == listed.end() || count->second != 1)
      return where(n) + ": its parent does not list it exactly once as a child";
    for (const MemNode* c : n->children)
      if (known.count(c) == 0 || c->parent != n)
        return where(n) + ": a child does not name it as its parent";
    if (n->lookAt != nullptr && (known.count(n->lookAt) == 0 || n->lookAt == scene.Root()))
      return where(n) + ": its look-at target is not a node of this scene";
    if (n->lookAt != nullptr && !n->lookAt->isTarget)
      return where(n) + ": its look-at target is not marked as a target";
    if (n->owner != nullptr && (known.count(n->owner) == 0 || n->owner->lookAt != n))
      return where(n) + ": its target owner does not look at it";
    std::string animation = AnimationProblem(*n);
    if (!animation.empty()) return where(n) + ": " + animation;
    // Walking up must reach the root, or a node known to reach it, within as many steps
    // as there are nodes.
    chain.clear();
    for (const MemNode* p = n; p != scene.Root() && reachesRoot.count(p) == 0; p = p->parent) {
      if (p == nullptr || chain.size() > scene.Nodes().size())
        return where(n) + ": its parents form a cycle";
      chain.push_back(p);
    }
    reachesRoot.insert(chain.begin(), chain.end());
  }
  for (const MemNode* c : scene.Root()->children)
    if (known.count(c) == 0 || c->parent != scene.Root())
      return "scene root: a child does not name the root as its parent";
  return std::string();
}

}  // namespace tsm
