#include "scene/mem_scene.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
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

// ---- the values the export evaluates ----

// Axis lengths a node's own transform may have: below, decomposing it into tracks loses
// the rotation to float underflow (a denormal scale gives NaN tracks); above, its
// squares overflow. Combined with the parents' (the mesh matrix, never decomposed), an
// axis must stay a normal float and finite.
constexpr double kMinAxisLength = 1e-18;
constexpr double kMaxAxisLength = 1e18;
constexpr double kMinWorldAxisLength = 1.17549435e-38;

bool Finite(float v) {
  return std::isfinite(v);
}
bool Finite(const Point3& p) {
  return Finite(p.x) && Finite(p.y) && Finite(p.z);
}
bool Finite(const Quat& q) {
  return Finite(q.x) && Finite(q.y) && Finite(q.z) && Finite(q.w);
}

std::string TimeText(TimeValue t, int tpf) {
  std::string text = "time " + std::to_string(t);
  if (tpf > 0 && t % tpf == 0) text += " (frame " + std::to_string(t / tpf) + ")";
  return text;
}

// What is wrong with a transform the export decomposes: empty when it is finite and has
// an inverse that survives float arithmetic.
std::string MatrixProblem(const Matrix3& m, bool local) {
  for (int r = 0; r < 4; ++r)
    if (!Finite(m.GetRow(r))) return "its transform is not finite";
  for (int r = 0; r < 3; ++r) {
    Point3 a = m.GetRow(r);
    double len = std::sqrt(double(a.x) * a.x + double(a.y) * a.y + double(a.z) * a.z);
    if (len < (local ? kMinAxisLength : kMinWorldAxisLength))
      return "its transform has a zero scale: it would have no inverse";
    if (local && len > kMaxAxisLength) return "its transform's scale is too large to be decomposed";
  }
  if (DotProd(CrossProd(m.GetRow(0), m.GetRow(1)), m.GetRow(2)) == 0.0f)
    return "its transform's axes are flat: it would have no inverse";
  return std::string();
}

// Keys whose values are not finite, whose linear blend overflows between two keys, or
// (scale) that are zero or beyond what a decomposition survives.
std::string KeyValuesProblem(const HostController* c, const char* what, int tpf) {
  const auto* mc = dynamic_cast<const MemController*>(c);
  if (mc == nullptr) return std::string();
  auto at = [&](size_t k) {
    return std::string("its ") + what + " key at " + TimeText(mc->keys[k].time, tpf);
  };
  for (size_t k = 0; k < mc->keys.size(); ++k) {
    const MemKey& key = mc->keys[k];
    // Only the member of the controller's kind holds the key's value.
    const bool isFloat = mc->kind == ControlKind::FLOAT;
    const bool isPoint = !isFloat && mc->kind != ControlKind::ROTATION;
    bool finite = isFloat            ? Finite(key.f)
                  : isPoint          ? Finite(key.p)
                  : mc->KeyBearing() ? Finite(key.aa.axis) && Finite(key.aa.angle)
                                     : Finite(key.q);
    if (!finite) return at(k) + " holds a value that is not finite";
    if (k > 0) {
      const MemKey& prev = mc->keys[k - 1];
      if ((isFloat && !Finite(key.f - prev.f)) || (isPoint && !Finite(key.p - prev.p)))
        return at(k) + " lies too far from the key before: the values between overflow";
    }
    if (mc->kind != ControlKind::SCALE) continue;
    for (int i = 0; i < 3; ++i) {
      double v = std::fabs(double(key.p[i]));
      if (v < kMinAxisLength || v > kMaxAxisLength)
        return at(k) + " is zero or out of range: the transform would have no inverse";
    }
  }
  return std::string();
}

// True when every value of mesh is finite and every index in range. One pass without
// branches over the arrays (a large mesh is most of a scene's values); the loops below
// name what is wrong only when this finds anything.
bool MeshLooksSound(const MemMeshObject& mesh) {
  static_assert(sizeof(Point3) == 3 * sizeof(float), "a Point3 is three floats in a row");
  auto allFinite = [](const SceneVector<Point3>& points) {
    return AllFinite(points.data(), 3 * points.size());
  };
  if (!allFinite(mesh.vertices) || !allFinite(mesh.vertexColors) || !allFinite(mesh.texVerts))
    return false;
  const uint32_t vertices = uint32_t(std::min<size_t>(mesh.vertices.size(), UINT32_MAX));
  uint32_t bad = 0;
  for (const MemFace& f : mesh.faces)
    bad |= uint32_t(uint32_t(f.v[0]) >= vertices) | uint32_t(uint32_t(f.v[1]) >= vertices) |
           uint32_t(uint32_t(f.v[2]) >= vertices) | uint32_t(uint32_t(f.materialId) > 65535u);
  if (mesh.texFaces.empty()) return bad == 0;
  if (mesh.texFaces.size() != mesh.faces.size()) return false;
  const uint32_t tex = uint32_t(std::min<size_t>(mesh.texVerts.size(), UINT32_MAX));
  for (const std::array<int, 3>& t : mesh.texFaces)
    bad |= uint32_t(uint32_t(t[0]) >= tex) | uint32_t(uint32_t(t[1]) >= tex) |
           uint32_t(uint32_t(t[2]) >= tex);
  return bad == 0;
}

// The values of a node's animation, object and mesh that the export writes.
std::string ValuesProblem(const MemNode& n, int tpf) {
  std::string p;
  if (const auto* tc = dynamic_cast<const MemTransformController*>(n.transform)) {
    if (p.empty()) p = KeyValuesProblem(tc->position, "position", tpf);
    if (p.empty()) p = KeyValuesProblem(tc->rotation, "rotation", tpf);
    if (p.empty()) p = KeyValuesProblem(tc->scale, "scale", tpf);
    if (p.empty()) p = KeyValuesProblem(tc->roll, "roll", tpf);
  }
  if (!p.empty()) return p;
  if (const auto* cam = dynamic_cast<const MemCameraObject*>(n.object)) {
    if (!Finite(cam->fov) || !Finite(cam->nearRange) || !Finite(cam->farRange))
      return "its camera's field of view or ranges are not finite";
    return KeyValuesProblem(cam->fovController, "field-of-view", tpf);
  }
  if (const auto* light = dynamic_cast<const MemLightObject*>(n.object)) {
    if (!Finite(light->color) || !Finite(light->intensity) || !Finite(light->attenStart) ||
        !Finite(light->attenEnd) || !Finite(light->hotspot) || !Finite(light->falloff) ||
        !Finite(light->aspect))
      return "its light holds a value that is not finite";
    if (p.empty()) p = KeyValuesProblem(light->colorController, "colour", tpf);
    if (p.empty()) p = KeyValuesProblem(light->hotspotController, "hotspot", tpf);
    if (p.empty()) p = KeyValuesProblem(light->falloffController, "falloff", tpf);
    return p;
  }
  if (const auto* shape = dynamic_cast<const MemShapeObject*>(n.object)) {
    for (size_t s = 0; s < shape->splines.size(); ++s)
      for (const MemKnot& k : shape->splines[s].knots)
        if (!Finite(k.point) || !Finite(k.inVec) || !Finite(k.outVec))
          return "spline " + std::to_string(s) + " of its shape holds a point that is not finite";
    return p;
  }
  if (const auto* mesh = dynamic_cast<const MemMeshObject*>(n.object)) {
    if (MeshLooksSound(*mesh)) return p;
    for (size_t v = 0; v < mesh->vertices.size(); ++v)
      if (!Finite(mesh->vertices[v]))
        return "vertex " + std::to_string(v) + " of its mesh is not finite";
    for (const Point3& c : mesh->vertexColors)
      if (!Finite(c)) return "a vertex colour of its mesh is not finite";
    for (const Point3& t : mesh->texVerts)
      if (!Finite(t)) return "a texture vertex of its mesh is not finite";
    bool uv = !mesh->texFaces.empty();
    if (uv && mesh->texFaces.size() != mesh->faces.size())
      return "its mesh has " + std::to_string(mesh->texFaces.size()) + " texture faces for " +
             std::to_string(mesh->faces.size()) + " faces";
    for (size_t f = 0; f < mesh->faces.size(); ++f) {
      const MemFace& face = mesh->faces[f];
      for (int i : face.v)
        if (i < 0 || size_t(i) >= mesh->vertices.size())
          return "face " + std::to_string(f) + " of its mesh names vertex " + std::to_string(i) +
                 "; the mesh has " + std::to_string(mesh->vertices.size());
      if (face.materialId < 0 || face.materialId > 65535)
        return "face " + std::to_string(f) + " of its mesh uses material slot " +
               std::to_string(face.materialId) + "; a file numbers them 0 to 65535";
      if (uv)
        for (int i : mesh->texFaces[f])
          if (i < 0 || size_t(i) >= mesh->texVerts.size())
            return "texture face " + std::to_string(f) + " of its mesh names texture vertex " +
                   std::to_string(i) + "; the mesh has " + std::to_string(mesh->texVerts.size());
    }
  }
  return p;
}

}  // namespace

bool AllFinite(const void* floats, size_t count) {
  const unsigned char* p = static_cast<const unsigned char*>(floats);
  uint32_t bad = 0;
  for (size_t i = 0; i < count; ++i) {
    uint32_t bits;
    std::memcpy(&bits, p + 4 * i, 4);
    bad |= uint32_t((bits & 0x7F800000u) == 0x7F800000u);  // all exponent bits: inf or NaN
  }
  return bad == 0;
}

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

void MemScene::Clear() {
  MemScene fresh;
  root_.swap(fresh.root_);
  nodes_.swap(fresh.nodes_);
  objects_.swap(fresh.objects_);
  owned_.swap(fresh.owned_);
  currentTime = fresh.currentTime;
  animationRange = fresh.animationRange;
  ticksPerFrame = fresh.ticksPerFrame;
  masterUnitType = fresh.masterUnitType;
  masterUnitScale = fresh.masterUnitScale;
  gammaEnabled = fresh.gammaEnabled;
  gamma = fresh.gamma;
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

void MemScene::RemoveNode(MemNode* node) {
  std::vector<MemNode*>& siblings = node->parent->children;
  auto sibling = std::find(siblings.rbegin(), siblings.rend(), node);
  if (sibling != siblings.rend()) siblings.erase(std::next(sibling).base());
  auto held = std::find_if(nodes_.rbegin(), nodes_.rend(),
                           [node](const std::unique_ptr<MemNode>& n) { return n.get() == node; });
  if (held != nodes_.rend()) nodes_.erase(std::next(held).base());
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

namespace {

// One node's transform at the scene's current time: local its own, world combined with
// its parents'.
std::string TransformProblem(const MemScene& scene, const MemNode& node, const Matrix3& local,
                             const Matrix3& world) {
  std::string problem = MatrixProblem(local, true);
  if (problem.empty()) problem = MatrixProblem(world, false);
  if (problem.empty() && !MatrixProblem(node.ObjectOffsetMatrix() * world, false).empty())
    problem = "its object's transform, combined with the node's, is not finite or flat";
  if (problem.empty()) return problem;
  return "node \"" + node.name + "\" at " + TimeText(scene.currentTime, scene.ticksPerFrame) +
         ": " + problem;
}

// Every node's transform as the export evaluates it at the scene's current time, alone
// (decomposed into its tracks) and combined with its parents' (walked from the root,
// each combination made once) and its object's.
std::string TransformsProblem(const MemScene& scene) {
  const TimeValue t = scene.currentTime;
  std::vector<std::pair<MemNode*, Matrix3>> stack;
  for (MemNode* c : scene.Root()->children) stack.emplace_back(c, Matrix3());
  while (!stack.empty()) {
    MemNode* node = stack.back().first;
    Matrix3 local = node->LocalTransform(t);
    Matrix3 world = local * stack.back().second;
    stack.pop_back();
    std::string problem = TransformProblem(scene, *node, local, world);
    if (!problem.empty()) return problem;
    for (MemNode* c : node->children) stack.emplace_back(c, world);
  }
  return std::string();
}

// What is wrong with node itself: its name, its controllers and its values.
std::string OwnProblem(const MemScene& scene, const MemNode& node, size_t index) {
  if (node.name.empty()) return "node " + std::to_string(index) + ": the node has no name";
  std::string problem = AnimationProblem(node);
  if (problem.empty()) problem = ValuesProblem(node, scene.ticksPerFrame);
  return problem.empty() ? problem : "node \"" + node.name + "\": " + problem;
}

}  // namespace

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
    const size_t at = index++;
    if (n->name.empty()) return OwnProblem(scene, *n, at);
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
    std::string own = OwnProblem(scene, *n, at);
    if (!own.empty()) return own;
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
  return TransformsProblem(scene);
}

std::string CheckNodeAlone(const MemScene& scene, MemNode& node, size_t index) {
  std::string problem = OwnProblem(scene, node, index);
  if (!problem.empty()) return problem;
  const TimeValue t = scene.currentTime;
  Matrix3 local = node.LocalTransform(t);
  Matrix3 parent = node.parent == scene.Root() ? Matrix3() : node.parent->NodeTransform(t);
  return TransformProblem(scene, node, local, local * parent);
}

}  // namespace tsm
