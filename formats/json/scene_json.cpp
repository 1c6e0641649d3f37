// The JSON scene loader: parsing, the file header, the scene settings, the nodes and
// their links, and the boundary that turns every failure into one message.
#include "formats/json/scene_json.h"

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <unordered_map>
#include <unordered_set>

#include "formats/json/json_bulk.h"
#include "formats/json/json_parse.h"
#include "formats/json/json_read.h"
#include "formats/json/json_text.h"
#include "formats/json/scene_json_parts.h"
#include "io/input_file.h"
#include "scene/mem_objects.h"

namespace tsm {
namespace {

constexpr int64_t kFormatVersion = 1;
constexpr int kMaxHierarchyDepth = 1000;  // nodes below each other
constexpr double kPi = 3.14159265358979323846;

// The parser's own message without its "[json.exception...] parse error at ...: " prefix
// and with bytes that are not printable ASCII replaced, since it may quote the input.
std::string ParserMessage(const char* what) {
  std::string s(what);
  size_t at = s.find(']');
  if (at != std::string::npos) s.erase(0, at + 1);
  at = s.find("column ");
  if (at != std::string::npos && s.find(": ", at) != std::string::npos)
    s.erase(0, s.find(": ", at) + 2);
  while (!s.empty() && s[0] == ' ') s.erase(0, 1);
  for (char& c : s)
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F) c = '?';
  return s;
}

std::string Where(const std::string& text, size_t offset) {
  TextPosition p = PositionOfOffset(text, offset);
  return "line " + std::to_string(p.line) + ", column " + std::to_string(p.column);
}

}  // namespace

AngAxis ReadAxisAngle(const Members& r, const char* needAxis) {
  Point3 axis = ReadPoint3(r.Need("axis", needAxis), r.At("axis"));
  float degrees =
      ReadFloat(r.Need("angle", "a rotation needs its angle in degrees"), r.At("angle"));
  AngAxis aa;
  if (!UnitAxisAngle(axis, degrees, &aa))
    Fail(r.At("axis"), "a rotation axis cannot have length 0");
  return aa;
}

bool UnitAxisAngle(const Point3& axis, float degrees, AngAxis* out) {
  // In double precision: the squares of large components overflow a float.
  double len =
      std::sqrt(double(axis.x) * axis.x + double(axis.y) * axis.y + double(axis.z) * axis.z);
  if (!(len > 0.0)) return false;
  Point3 unit(float(axis.x / len), float(axis.y / len), float(axis.z / len));
  *out = AngAxis(unit, static_cast<float>(degrees * kPi / 180.0));
  return true;
}

bool UnitQuat(const Quat& q, Quat* out) {
  double len2 =
      double(q.x) * q.x + double(q.y) * q.y + double(q.z) * q.z + double(q.w) * q.w;
  if (!(len2 > 1e-12)) return false;
  // In double precision: the squares of large components overflow a float.
  double len = std::sqrt(len2);
  *out = Quat(float(q.x / len), float(q.y / len), float(q.z / len), float(q.w / len));
  return true;
}

Quat ReadRotation(const Json& value, const std::string& path) {
  Members r(value, path, {"axis", "angle", "quat"});
  if (const Json* q = r.Find("quat")) {
    if (r.Has("axis") || r.Has("angle"))
      Fail(path, "give the rotation either as \"quat\" or as \"axis\" and \"angle\", not both");
    std::string at = r.At("quat");
    if (!q->is_array() || q->size() != 4)
      Fail(at, "expected a quaternion [x, y, z, w], four numbers");
    Quat quat(ReadFloat((*q)[0], ChildPath(at, size_t(0))), ReadFloat((*q)[1], ChildPath(at, 1)),
              ReadFloat((*q)[2], ChildPath(at, 2)), ReadFloat((*q)[3], ChildPath(at, 3)));
    Quat unit;
    if (!UnitQuat(quat, &unit)) Fail(at, "a rotation quaternion cannot have length 0");
    return unit;
  }
  AngAxis aa = ReadAxisAngle(r, "a rotation needs \"axis\" and \"angle\" (degrees), or \"quat\"");
  return QuatFromAngAxis(aa.angle, aa.axis);
}

namespace {

Point3 ReadScale(const Json& value, const std::string& path) {
  if (value.is_number()) {
    float s = ReadFloat(value, path);
    return Point3(s, s, s);
  }
  if (!value.is_array())
    Fail(path, "expected a scale: one number, or [x, y, z], found " + KindOf(value));
  return ReadPoint3(value, path);
}

const std::vector<std::string> kNodeMembers = {
    "id",         "name",   "parent",      "children",     "matrix",   "position", "rotation",
    "scale",      "object", "material",    "meshAccepted", "lookAt",   "target",   "dependents",
    "properties", "locks",  "nodeQuery96", "objectOffset", "transform"};

const char* const kUnitNames[] = {"inches",      "feet",   "miles",     "millimeters",
                                  "centimeters", "meters", "kilometers"};

class SceneLoader {
 public:
  explicit SceneLoader(MemScene& scene) : scene_(scene), materials_(scene) {}

  void Load(const Json& root) {
    if (!root.is_object()) Fail("", "expected a scene (a JSON object), found " + KindOf(root));
    ReadHeader(root);
    Members m(root, "", {"format", "version", "settings", "maps", "materials", "objects", "nodes"});
    if (const Json* s = m.Find("settings")) ReadSettings(*s, m.At("settings"));
    if (const Json* v = m.Find("maps")) materials_.ReadMaps(*v, m.At("maps"));
    if (const Json* v = m.Find("materials")) materials_.ReadMaterials(*v, m.At("materials"));
    if (const Json* v = m.Find("objects")) ReadObjects(*v, m.At("objects"));
    if (const Json* v = m.Find("nodes")) {
      CollectNodes(*v, m.At("nodes"));
      for (size_t i = 0; i < nodes_.Size(); ++i) RegisterNode(i);
      for (size_t i = 0; i < nodes_.Size(); ++i) ReadNode(i);
      LinkHierarchy();
      CheckTransforms();
      LinkTargets();
    }
  }

 private:
  struct NodeDef {
    MemNode* node = nullptr;
    const Json* json = nullptr;
    int nestedParent = -1;  // the node whose "children" list holds this one; -1: none
    size_t listIndex = 0;   // its index in that list, or in the top-level "nodes"
    int parent = -1;        // the parent node; -1: the scene root
    int lookAt = -1;        // the look-at target; -1: none
    int targetFlag = -1;    // "target": -1 absent, 0 false, 1 true
    bool objectGiven = false;
  };

  void ReadHeader(const Json& root) {
    auto format = root.find("format");
    if (format == root.end())
      Fail("/format", "missing: a scene file starts with \"format\": \"tsm-scene\"");
    std::string name = ReadString(*format, "/format");
    if (name != "tsm-scene")
      Fail("/format", "not a scene of this exporter: expected \"tsm-scene\", found " + Quote(name));
    auto version = root.find("version");
    if (version == root.end())
      Fail("/version",
           "missing: the format version, \"version\": " + std::to_string(kFormatVersion));
    int64_t v = ReadInteger(*version, "/version", INT64_MIN, INT64_MAX);
    if (v != kFormatVersion)
      Fail("/version", "unsupported version " + std::to_string(v) + "; this loader reads version " +
                           std::to_string(kFormatVersion));
  }

  void ReadSettings(const Json& value, const std::string& path) {
    Members s(value, path,
              {"ticksPerFrame", "animationRange", "currentTime", "masterUnit", "gamma"});
    int tpf = static_cast<int>(s.Integer("ticksPerFrame", 160, 1, INT32_MAX));
    scene_.ticksPerFrame = tpf;
    if (!s.Has("animationRange")) {
      if (100LL * tpf > INT32_MAX)
        Fail(s.At("ticksPerFrame"),
             "the default animation range, 100 frames, does not fit the "
             "host's time range at this rate; give \"animationRange\"");
      scene_.animationRange = Interval(0, 100 * tpf);
    }
    if (const Json* r = s.Find("animationRange")) {
      std::string at = s.At("animationRange");
      if (!r->is_array() || r->size() != 2) Fail(at, "expected [start, end], two times");
      TimeValue start = ReadTime((*r)[0], ChildPath(at, size_t(0)), tpf);
      TimeValue end = ReadTime((*r)[1], ChildPath(at, 1), tpf);
      if (end < start) Fail(ChildPath(at, 1), "the animation range ends before it starts");
      scene_.animationRange = Interval(start, end);
    }
    if (const Json* t = s.Find("currentTime"))
      scene_.currentTime = ReadTime(*t, s.At("currentTime"), tpf);
    if (const Json* u = s.Find("masterUnit")) {
      Members unit(*u, s.At("masterUnit"), {"type", "scale"});
      if (const Json* type = unit.Find("type")) {
        std::string name = ReadString(*type, unit.At("type"));
        int code = -1;
        for (int k = 0; k < 7; ++k)
          if (name == kUnitNames[k]) code = k;
        if (code < 0)
          Fail(unit.At("type"), "unknown unit " + Quote(name) +
                                    "; expected inches, feet, miles, millimeters, centimeters, "
                                    "meters or kilometers");
        scene_.masterUnitType = code;
      }
      if (const Json* scale = unit.Find("scale")) {
        double v = ReadNumber(*scale, unit.At("scale"));
        if (!(v > 0.0)) Fail(unit.At("scale"), "the master scale must be above 0");
        scene_.masterUnitScale = v;
      }
    }
    if (const Json* g = s.Find("gamma")) {
      Members gamma(*g, s.At("gamma"), {"enabled", "value"});
      scene_.gammaEnabled = gamma.Bool("enabled", scene_.gammaEnabled);
      if (const Json* v = gamma.Find("value")) {
        float f = ReadFloat(*v, gamma.At("value"));
        if (!(f > 0.0f)) Fail(gamma.At("value"), "the gamma must be above 0");
        scene_.gamma = f;
      }
    }
  }

  void ReadObjects(const Json& value, const std::string& path) {
    const Json& list = ReadArray(value, path);
    for (size_t i = 0; i < list.size(); ++i) {
      std::string at = ChildPath(path, i);
      MemObject* object = ReadObject(list[i], at, scene_, true);
      size_t index = objects_.Add(object, at);
      if (list[i].contains("id")) objects_.SetId(index, list[i]["id"], ChildPath(at, "id"));
      if (list[i].contains("name")) objects_.SetName(index, list[i]["name"].get<std::string>());
    }
  }

  MemObject* ObjectRef(const Json& value, const std::string& path) {
    if (value.is_null()) return nullptr;
    if (value.is_object()) return ReadObject(value, path, scene_, false);
    return objects_[objects_.Resolve(value, path)];
  }

  MemNode* NodeRef(const Json& value, const std::string& path) {
    return nodes_[nodes_.Resolve(value, path)].node;
  }

  // Makes a node for every definition, in file order, a node's children right after it.
  // Paths are not stored: a node's path grows with its depth, and the paths of a deep
  // hierarchy would take memory of nodes times depth. NodePath builds one when needed.
  void CollectNodes(const Json& value, const std::string& path) {
    struct Pending {
      const Json* json;
      int parent;
      size_t listIndex;
    };
    nodesPath_ = path;
    nodes_.SetPathFunction([this](size_t i) { return NodePath(i); });
    const Json& list = ReadArray(value, path);
    std::vector<Pending> stack;
    for (size_t i = list.size(); i-- > 0;) stack.push_back({&list[i], -1, i});
    while (!stack.empty()) {
      Pending p = stack.back();
      stack.pop_back();
      NodeDef def;
      def.node = scene_.AddNode(std::string(), nullptr);
      def.json = p.json;
      def.nestedParent = p.parent;
      def.listIndex = p.listIndex;
      int index = static_cast<int>(nodes_.Add(def, std::string()));
      if (!p.json->is_object())
        Fail(NodePath(size_t(index)), "expected a node (an object), found " + KindOf(*p.json));
      auto children = p.json->find("children");
      if (children == p.json->end()) continue;
      if (!children->is_array())
        ReadArray(*children, ChildPath(NodePath(size_t(index)), "children"));  // fails
      for (size_t i = children->size(); i-- > 0;) stack.push_back({&(*children)[i], index, i});
    }
  }

  // "/nodes/2/children/0/...": the JSON pointer of node i's definition.
  std::string NodePath(size_t i) const {
    std::vector<size_t> chain;
    for (int n = static_cast<int>(i); n >= 0; n = nodes_[size_t(n)].nestedParent)
      chain.push_back(size_t(n));
    std::string path = ChildPath(nodesPath_, nodes_[chain.back()].listIndex);
    for (size_t k = chain.size() - 1; k-- > 0;) {
      path += "/children/";  // appended in place: linear in the depth
      path += std::to_string(nodes_[chain[k]].listIndex);
    }
    return path;
  }

  void RegisterNode(size_t i) {
    Members m(*nodes_[i].json, nodes_.PathOf(i), kNodeMembers);
    std::string name = ReadText(m.Need("name", "every node needs a name"), m.At("name"));
    if (name.empty()) Fail(m.At("name"), "a node's name cannot be empty");
    nodes_[i].node->name = name;
    nodes_.SetName(i, name);
    if (const Json* id = m.Find("id")) nodes_.SetId(i, *id, m.At("id"));
  }

  void ReadNode(size_t i) {
    NodeDef& def = nodes_[i];
    MemNode* node = def.node;
    Members m(*def.json, nodes_.PathOf(i), kNodeMembers);

    def.parent = def.nestedParent;
    if (const Json* p = m.Find("parent")) {
      if (def.nestedParent >= 0)
        Fail(m.At("parent"), "the node is listed in the children of " +
                                 Quote(nodes_[def.nestedParent].node->name) +
                                 ", which makes that node its parent already");
      if (!p->is_null()) def.parent = static_cast<int>(nodes_.Resolve(*p, m.At("parent")));
      if (def.parent == static_cast<int>(i))
        Fail(m.At("parent"), "a node cannot be its own parent");
    }
    node->local = ReadTransform(m);
    if (const Json* o = m.Find("object")) {
      def.objectGiven = true;
      node->object = ObjectRef(*o, m.At("object"));
    }
    if (const Json* mat = m.Find("material"))
      node->material = materials_.MaterialRef(*mat, m.At("material"));
    node->meshAccepted = m.Bool("meshAccepted", node->meshAccepted);
    if (const Json* l = m.Find("lookAt")) {
      if (!l->is_null()) def.lookAt = static_cast<int>(nodes_.Resolve(*l, m.At("lookAt")));
      if (def.lookAt == static_cast<int>(i)) Fail(m.At("lookAt"), "a node cannot look at itself");
    }
    if (m.Has("target")) def.targetFlag = m.Bool("target", false) ? 1 : 0;
    if (const Json* d = m.Find("dependents")) ReadDependents(*node, *d, m.At("dependents"));
    node->propertyText = m.Text("properties", node->propertyText);
    if (const Json* l = m.Find("locks")) ReadLocks(*node, *l, m.At("locks"));
    node->nodeQuery96 = m.Bool("nodeQuery96", node->nodeQuery96);
    if (const Json* o = m.Find("objectOffset")) {
      Members off(*o, m.At("objectOffset"), {"position", "rotation", "scale"});
      node->objectOffsetPos = off.Vec("position", node->objectOffsetPos);
      if (const Json* r = off.Find("rotation"))
        node->objectOffsetRot = ReadRotation(*r, off.At("rotation"));
      if (const Json* s = off.Find("scale")) {
        node->objectOffsetScale = ReadScale(*s, off.At("scale"));
        CheckScale(node->objectOffsetScale, off.At("scale"));
      }
    }
    if (const Json* t = m.Find("transform"))
      node->transform = ReadTransformController(*t, m.At("transform"), node->local, scene_);
  }

  // The local transform: "matrix" (four rows), or "position", "rotation" and "scale",
  // applied scale first, then rotation, then translation.
  static Matrix3 ReadTransform(const Members& m) {
    bool prs = m.Has("position") || m.Has("rotation") || m.Has("scale");
    if (const Json* mat = m.Find("matrix")) {
      if (prs)
        Fail(m.At("matrix"),
             "give the transform either as \"matrix\" or as \"position\", "
             "\"rotation\" and \"scale\", not both");
      std::string at = m.At("matrix");
      if (!mat->is_array() || mat->size() != 4)
        Fail(at, "expected four rows [x, y, z]: the three axes, then the translation");
      Matrix3 matrix(
          ReadPoint3((*mat)[0], ChildPath(at, size_t(0))), ReadPoint3((*mat)[1], ChildPath(at, 1)),
          ReadPoint3((*mat)[2], ChildPath(at, 2)), ReadPoint3((*mat)[3], ChildPath(at, 3)));
      if (DotProd(CrossProd(matrix.GetRow(0), matrix.GetRow(1)), matrix.GetRow(2)) == 0.0f)
        Fail(at, "the matrix's axes are flat (a zero scale): the transform would have no inverse");
      return matrix;
    }
    Point3 position = m.Vec("position", Point3());
    Quat rotation;
    if (const Json* r = m.Find("rotation")) rotation = ReadRotation(*r, m.At("rotation"));
    Point3 scale(1.0f, 1.0f, 1.0f);
    if (const Json* s = m.Find("scale")) {
      scale = ReadScale(*s, m.At("scale"));
      CheckScale(scale, m.At("scale"));
    }
    return ScaleMatrix(scale) * QuatToMatrix(rotation) * TransMatrix(position);
  }

  void ReadDependents(MemNode& node, const Json& value, const std::string& path) {
    const Json& list = ReadArray(value, path);
    for (size_t k = 0; k < list.size(); ++k) {
      std::string at = ChildPath(path, k);
      const Json& d = list[k];
      if (d.is_string() || d.is_number_integer()) {
        node.extraDependents.push_back(NodeRef(d, at));
        continue;
      }
      if (!d.is_object())
        Fail(at, "expected a node (a name or an id) or another dependent (an object), found " +
                     KindOf(d));
      Members dm(d, at, {"family", "lookAt"});
      auto dependent = std::make_unique<MemDependent>();
      dependent->family = static_cast<int>(dm.Integer("family", 0, INT32_MIN, INT32_MAX));
      if (const Json* l = dm.Find("lookAt"))
        if (!l->is_null()) dependent->lookAt = NodeRef(*l, dm.At("lookAt"));
      node.extraDependents.push_back(scene_.Own(std::move(dependent)));
    }
  }

  static void ReadLocks(MemNode& node, const Json& value, const std::string& path) {
    const Json& groups = ReadArray(value, path);
    if (groups.size() > 3) Fail(path, "expected at most three lock groups");
    for (size_t g = 0; g < groups.size(); ++g) {
      std::string at = ChildPath(path, g);
      if (!groups[g].is_array() || groups[g].size() != 3)
        Fail(at, "expected a lock group: three booleans for the x, y and z axes");
      for (size_t a = 0; a < 3; ++a)
        node.transformLocked[g][a] = ReadBool(groups[g][a], ChildPath(at, a));
    }
  }

  // Gives every node its parent, and every parent its children in file order; fails on
  // a cycle or a hierarchy too deep.
  void LinkHierarchy() {
    const int kUnknown = -1, kVisiting = -2;
    std::vector<int> depth(nodes_.Size(), kUnknown);
    std::vector<size_t> chain;
    for (size_t i = 0; i < nodes_.Size(); ++i) {
      // Walk up until the root or a node whose depth is known; meeting a node of this
      // walk again is a cycle.
      chain.clear();
      size_t j = i;
      while (depth[j] == kUnknown) {
        depth[j] = kVisiting;
        chain.push_back(j);
        if (nodes_[j].parent < 0) break;
        j = static_cast<size_t>(nodes_[j].parent);
        if (depth[j] == kVisiting) FailCycle(chain, j);
      }
      for (size_t k = chain.size(); k-- > 0;) {
        size_t n = chain[k];
        int p = nodes_[n].parent;
        depth[n] = p < 0 ? 1 : depth[p] + 1;
        if (depth[n] > kMaxHierarchyDepth)
          Fail(nodes_.PathOf(n), "the node lies more than " + std::to_string(kMaxHierarchyDepth) +
                                     " levels deep in the hierarchy");
      }
    }
    scene_.Root()->children.clear();
    for (size_t i = 0; i < nodes_.Size(); ++i) nodes_[i].node->children.clear();
    for (size_t i = 0; i < nodes_.Size(); ++i) {
      MemNode* node = nodes_[i].node;
      int p = nodes_[i].parent;
      node->parent = p < 0 ? scene_.Root() : nodes_[p].node;
      node->parent->children.push_back(node);
    }
  }

  // Fails when a node's world transform, or its object's, is not finite: large scales
  // and positions can overflow once multiplied through the hierarchy. The matrices are
  // formed as the exporter forms them.
  void CheckTransforms() {
    std::unordered_map<const MemNode*, size_t> index;
    for (size_t i = 0; i < nodes_.Size(); ++i) index.emplace(nodes_[i].node, i);
    std::vector<std::pair<const MemNode*, Matrix3>> stack;
    for (const MemNode* c : scene_.Root()->children) stack.emplace_back(c, Matrix3());
    while (!stack.empty()) {
      const MemNode* node = stack.back().first;
      const Matrix3 world = node->local * stack.back().second;
      stack.pop_back();
      Matrix3 offset = ScaleMatrix(node->objectOffsetScale) * QuatToMatrix(node->objectOffsetRot) *
                       TransMatrix(node->objectOffsetPos);
      const std::string path = nodes_.PathOf(index.at(node));
      if (!IsFinite(world))
        Fail(path,
             "the node's transform is not finite once combined with its parents'; "
             "its scale or position, or theirs, is too large");
      if (!IsFinite(offset * world))
        Fail(ChildPath(path, "objectOffset"),
             "the object's transform is not finite once combined with the node's");
      for (const MemNode* c : node->children) stack.emplace_back(c, world);
    }
  }

  static bool IsFinite(const Matrix3& m) {
    for (int r = 0; r < 4; ++r) {
      Point3 p = m.GetRow(r);
      if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) return false;
    }
    return true;
  }

  // The parents from chain's node `start` on lead back to it.
  [[noreturn]] void FailCycle(const std::vector<size_t>& chain, size_t start) {
    std::vector<std::string> names;
    size_t report = start;
    bool in = false;
    for (size_t n : chain) {
      in = in || n == start;
      if (!in) continue;
      names.push_back(nodes_[n].node->name);
      // Only a "parent" member can close a cycle; nesting alone cannot.
      if (nodes_[n].nestedParent < 0) report = n;
    }
    Fail(ChildPath(nodes_.PathOf(report), "parent"), "the parents form a cycle: " + CycleText(names));
  }

  void LinkTargets() {
    for (size_t i = 0; i < nodes_.Size(); ++i) {
      if (nodes_[i].lookAt < 0) continue;
      MemNode* target = nodes_[nodes_[i].lookAt].node;
      nodes_[i].node->lookAt = target;
      target->isTarget = true;
      if (target->owner == nullptr) target->owner = nodes_[i].node;  // the first looker
    }
    for (size_t i = 0; i < nodes_.Size(); ++i) {
      MemNode* node = nodes_[i].node;
      if (nodes_[i].targetFlag == 0 && node->isTarget)
        Fail(ChildPath(nodes_.PathOf(i), "target"),
             Quote(node->owner->name) + " looks at this node, so it is a target");
      if (nodes_[i].targetFlag == 1) node->isTarget = true;
      if (node->isTarget && !nodes_[i].objectGiven)
        node->object = scene_.AddObject(kFamilyHelper, kTargetObjectClass);
    }
  }

  MemScene& scene_;
  MaterialReader materials_;
  Registry<MemObject*> objects_{"object"};
  Registry<NodeDef> nodes_{"node"};
  std::string nodesPath_;  // the pointer of the top-level "nodes" list
};

}  // namespace

LoadResult LoadJsonSceneText(const std::string& text, const std::string& label, MemScene& scene) {
  return LoadJsonSceneText(text, label, scene, true);
}

LoadResult LoadJsonSceneText(const std::string& text, const std::string& label, MemScene& scene,
                             bool fastPaths) {
  if (fastPaths && scene.Nodes().empty()) {
    // Bulk data through its typed fast paths. Any failure loads again the general way,
    // whose message says exactly what is wrong and where.
    try {
      BulkValues bulk;
      BulkScope scope(&bulk);
      Json root = ParseJsonText(text, &bulk);
      JsonRelease release(root);
      SceneLoader(scene).Load(root);
      if (CheckScene(scene).empty()) return LoadResult{true, std::string()};
    } catch (...) {
    }
    scene.Clear();
  }
  LoadResult result;
  try {
    if (!scene.Nodes().empty()) Fail("", "the scene to load into is not empty");
    Json root = ParseJsonText(text);
    JsonRelease release(root);
    SceneLoader(scene).Load(root);
    std::string problem = CheckScene(scene);
    if (!problem.empty()) Fail("", "the loaded scene fails its check: " + problem);
    result.ok = true;
  } catch (const LoadError& e) {
    // The text may end early when the parse stopped at this problem; placing the pointer
    // in what was read is still right.
    size_t offset = e.offset;
    if (offset == LoadError::kNoOffset && !e.path.empty())
      offset = LocatePointer(text, SplitPointer(e.path));
    if (e.path.empty())
      result.error = label + ": " +
                     (offset == LoadError::kNoOffset ? "" : Where(text, offset) + ": ") + e.message;
    else
      result.error = label + ": " + e.path + ": " + e.message + " (" + Where(text, offset) + ")";
  } catch (const std::bad_alloc&) {
    result.error = label + ": out of memory while loading the scene";
  } catch (const std::exception& e) {
    result.error = label + ": " + ParserMessage(e.what());
  }
  if (!result.ok && result.error.empty()) result.error = label + ": the scene could not be loaded";
  // Member names, node names and the label reach the user's terminal.
  result.error = EscapeControls(result.error);
  return result;
}

LoadResult LoadJsonScene(const std::string& path, MemScene& scene) {
  LoadResult result;
  InputRules rules;
  rules.maxSize = kMaxSceneFileSize;
  rules.streams = true;
  // Text whose first byte can start no JSON value fails there whatever follows, so an
  // endless stream of zeros is not read any further.
  size_t scanned = 0;  // the whitespace before the value's first byte
  rules.hopeless = [&scanned](const char* data, size_t size) {
    while (scanned < size && std::strchr(" \t\r\n", data[scanned]) != nullptr &&
           data[scanned] != '\0')
      ++scanned;
    return scanned < size && (std::strchr("{[\"-0123456789tfn\xEF", data[scanned]) == nullptr ||
                              data[scanned] == '\0');
  };
  std::string text;
  InputRead read;
  try {
    read = ReadInputFile(path, rules, &text);
  } catch (const std::bad_alloc&) {
    result.error = EscapeControls(path + ": out of memory while reading the file");
    return result;
  }
  switch (read.fault) {
    case InputFault::kNone:
      return LoadJsonSceneText(text, path, scene);
    case InputFault::kTooLarge:
      result.error = path + ": the file is " + std::to_string(read.size) +
                     " bytes; scene files above " + std::to_string(kMaxSceneFileSize) +
                     " bytes are refused";
      break;
    case InputFault::kStreamTooLarge:
      result.error = path + ": more than " + std::to_string(kMaxSceneFileSize) +
                     " bytes; scene files above that are refused";
      break;
    default:  // the reader's own words: cannot open or read the file, not a file
      result.error = path + ": " + read.message;
  }
  result.error = EscapeControls(result.error);
  return result;
}

}  // namespace tsm
