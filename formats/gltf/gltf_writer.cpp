#include "formats/gltf/gltf_writer.h"

#include <tiny_gltf.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <new>
#include <set>
#include <sstream>
#include <tuple>
#include <unordered_map>

#include "formats/gltf/gltf_conventions.h"
#include "formats/import_util.h"
#include "run/scene_lists.h"

namespace tsm {
namespace {

constexpr int kArrayBuffer = 34962;
constexpr int kElementArrayBuffer = 34963;
constexpr float kAimTolerance = 1e-4f;  // of quaternion components: about 0.01 degrees
constexpr int64_t kMostFrames = 1000000;  // frames of the animation range sampled, less one

// A value the file cannot hold ends the write.
struct WriteError : std::runtime_error {
  explicit WriteError(const std::string& what) : std::runtime_error(what) {}
};

bool Finite(const Point3& p) {
  return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
}

bool FiniteMatrix(const Matrix3& m) {
  for (int r = 0; r < 4; ++r)
    if (!Finite(m.GetRow(r))) return false;
  return true;
}

double Determinant(const Matrix3& m) {
  return DotProd(m.GetRow(0), CrossProd(m.GetRow(1), m.GetRow(2)));
}

// The parts of a transform as glTF holds them.
struct Trs {
  Point3 t;
  Quat r;
  Point3 s{1.0f, 1.0f, 1.0f};
};

bool Close(const Point3& a, const Point3& b, float eps) {
  return std::fabs(a.x - b.x) <= eps && std::fabs(a.y - b.y) <= eps && std::fabs(a.z - b.z) <= eps;
}

// The same rotation within eps, whichever sign each quaternion has.
bool SameRotation(const Quat& a, const Quat& b, float eps) {
  float d = a.x * b.x + a.y * b.y + a.z * b.z + a.w * b.w;
  return std::fabs(d) >= 1.0f - eps;
}

// The rotation whose row-vector matrix has the given axes as rows.
Quat RotationOfAxes(const Point3& x, const Point3& y, const Point3& z) {
  return Normalize(MatrixToQuat(Matrix3(x, y, z, Point3())));
}

// Percent-escapes what a URI reference cannot hold as it stands (spaces, non-ASCII
// bytes, '%', '#', '?').
std::string UriEncode(const std::string& name) {
  static const char kKeep[] = "-._~/!$&'()*+,;=:@";
  std::string out;
  for (unsigned char c : name) {
    if (std::isalnum(c) || (c != '\0' && std::strchr(kKeep, c) != nullptr)) {
      out.push_back(char(c));
    } else {
      char hex[4];
      std::snprintf(hex, sizeof(hex), "%%%02X", c);
      out += hex;
    }
  }
  return out;
}

// Text as valid UTF-8, which JSON needs: a byte that starts no valid sequence becomes '?'.
std::string Utf8(const std::string& text) {
  std::string out;
  size_t i = 0;
  while (i < text.size()) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    size_t n = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
    bool ok = n > 0 && i + n <= text.size() && c != 0xC0 && c != 0xC1 && c <= 0xF4;
    for (size_t k = 1; ok && k < n; ++k) ok = (static_cast<unsigned char>(text[i + k]) >> 6) == 0x2;
    if (ok) {
      out.append(text, i, n);
      i += n;
    } else {
      out.push_back('?');
      ++i;
    }
  }
  return out;
}

// One corner of a written primitive: its vertex, texture vertex and normal; corners that
// agree in all three are one vertex of the file.
struct Corner {
  uint32_t v, tv;
  Point3 n;
  bool operator==(const Corner& o) const { return v == o.v && tv == o.tv && n == o.n; }
};

struct CornerHash {
  size_t operator()(const Corner& c) const {
    uint32_t bits[3];
    std::memcpy(bits, &c.n.x, 4);
    std::memcpy(bits + 1, &c.n.y, 4);
    std::memcpy(bits + 2, &c.n.z, 4);
    uint64_t h = (uint64_t(c.v) << 32) ^ c.tv;
    for (uint32_t b : bits) h = (h ^ b) * 0x100000001B3ull;
    return size_t(h ^ (h >> 29));
  }
};

class NodeCollector : public SceneVisitor {
 public:
  std::vector<SceneNode*> nodes;
  int Visit(SceneNode* node) override {
    nodes.push_back(node);
    return 0;
  }
};

class GltfExport {
 public:
  GltfExport(HostScene& scene, HostInterface& host, const GltfWriteOptions& options,
             std::vector<std::string>& notices)
      : scene_(scene), host_(host), options_(options), axes_(options.yUp), notices_(notices) {}

  void Run(std::string& bytes) {
    model_.asset.version = "2.0";
    model_.asset.generator = "tsmexport";
    NodeCollector collector;
    scene_.EnumerateNodes(collector);
    nodes_ = collector.nodes;
    Frames();
    for (size_t i = 0; i < nodes_.size(); ++i) index_[nodes_[i]] = int(i);
    model_.nodes.resize(nodes_.size());
    model_.scenes.resize(1);
    model_.defaultScene = 0;
    for (size_t i = 0; i < nodes_.size(); ++i) {
      SceneNode* parent = nodes_[i]->ParentNode();
      auto p = parent != nullptr ? index_.find(parent) : index_.end();
      if (p == index_.end())
        model_.scenes[0].nodes.push_back(int(i));
      else
        model_.nodes[p->second].children.push_back(int(i));
    }
    for (size_t i = 0; i < nodes_.size(); ++i) Node(int(i));
    for (const auto& aim : aims_) Aim(aim);
    if (!channels_.empty()) Animation();
    Serialize(bytes);
  }

 private:
  void NoticeOnce(const std::string& text) {
    if (said_.insert(text).second) notices_.push_back(text);
  }

  // ---- time ----

  // The whole frames of the animation range, in ticks; frame 0 alone when the range holds
  // no more than one.
  void Frames() {
    int tpf = std::max(1, GetTicksPerFrame());
    Interval range = host_.AnimationRange();
    int64_t first = range.Start() >= 0 ? (int64_t(range.Start()) + tpf - 1) / tpf
                                       : -(-int64_t(range.Start()) / tpf);
    int64_t last = range.End() >= 0 ? int64_t(range.End()) / tpf : -((-int64_t(range.End()) + tpf - 1) / tpf);
    if (range.Start() == TIME_NegInfinity || last <= first) {
      frames_ = {0};
      return;
    }
    if (last - first > kMostFrames)
      throw WriteError("the animation range holds " + std::to_string(last - first + 1) +
                       " frames, more than the " + std::to_string(kMostFrames + 1) +
                       " that are sampled at the most");
    for (int64_t f = first; f <= last; ++f) frames_.push_back(TimeValue(f * tpf));
  }

  float Seconds(TimeValue t) const {
    return float(double(t) / (double(std::max(1, GetTicksPerFrame())) * options_.fps));
  }

  // ---- transforms ----

  // The node's transform relative to its parent at t, in the file's axes.
  Matrix3 Local(SceneNode* node, TimeValue t) {
    Matrix3 world = node->NodeTransform(t);
    SceneNode* parent = node->ParentNode();
    if (parent != nullptr && parent->IsSceneRoot() == 0)
      world = world * Inverse(parent->NodeTransform(t));
    if (!FiniteMatrix(world))
      throw WriteError("node \"" + std::string(node->NodeName()) +
                       "\": the transform holds a value that is not a finite number");
    return axes_.FileTransform(world);
  }

  static Trs Split(const Matrix3& m) {
    Trs p;
    DecomposeMatrix(m, p.t, p.r, p.s);
    p.r = Normalize(p.r);
    // A factor a rounding step away from 1 is 1 (matrix products leave such noise).
    for (int i = 0; i < 3; ++i)
      if (std::fabs(p.s[i] - 1.0f) < 1e-6f) p.s[i] = 1.0f;
    return p;
  }

  // True when the parts rebuild m (false for a sheared matrix).
  static bool Rebuilds(const Trs& p, const Matrix3& m) {
    Matrix3 back = ScaleMatrix(p.s) * QuatToMatrix(p.r) * TransMatrix(p.t);
    for (int r = 0; r < 4; ++r) {
      float scale = std::max(1.0f, Length(m.GetRow(r)));
      if (!Close(back.GetRow(r), m.GetRow(r), 1e-4f * scale)) return false;
    }
    return true;
  }

  static void SetTrs(tinygltf::Node& n, const Trs& p) {
    if (p.t != Point3()) n.translation = {p.t.x, p.t.y, p.t.z};
    if (!(p.r == Quat())) n.rotation = {p.r.x, p.r.y, p.r.z, p.r.w};
    if (p.s != Point3(1, 1, 1)) n.scale = {p.s.x, p.s.y, p.s.z};
  }

  // One animated node's samples, one per frame.
  struct Channel {
    int node;
    std::vector<Trs> samples;
  };

  bool Animated(SceneNode* node) const {
    return frames_.size() > 1 && node->TransformController() != nullptr;
  }

  void Node(int i) {
    SceneNode* node = nodes_[i];
    tinygltf::Node& n = model_.nodes[i];
    n.name = Utf8(node->NodeName());
    Matrix3 local = Local(node, 0);
    Trs rest = Split(local);
    if (Animated(node)) {
      Channel c{i, {}};
      for (TimeValue t : frames_) c.samples.push_back(Split(Local(node, t)));
      channels_.push_back(std::move(c));
      SetTrs(n, rest);
    } else if (Rebuilds(rest, local)) {
      SetTrs(n, rest);
    } else {
      n.matrix.resize(16);
      for (int r = 0; r < 4; ++r)
        for (int k = 0; k < 3; ++k) n.matrix[r * 4 + k] = local.GetRow(r)[k];
      n.matrix[15] = 1.0;
    }
    ObjectState state = node->EvaluateAtTime(0, 1);
    SceneObject* obj = state.obj;
    if (obj == nullptr) return;
    int family = obj->FamilyCode();
    Class_ID id = obj->ClassIdentity();
    if (family == kFamilyCamera && id == kCameraClass) {
      Camera(i, obj);
    } else if (family == kFamilyLight && (id == kPointLightClass || id == kSpotLightClass)) {
      Light(i, obj, id == kSpotLightClass);
    } else if (family == kFamilyShape && id == kShapeClass) {
      NoticeOnce("spline shapes are not written; their nodes are kept without geometry");
    } else if (obj->ConvertibleTo(triObjectClassID) != 0 && node->MeshNodeAccepted() != 0) {
      n.mesh = MeshOf(node, obj);
    }
  }

  // ---- cameras and lights, aimed at their targets ----

  // A camera or spot and the node it is attached to; the object is seen along -Z of a
  // child node when its node's own axes do not point at its target.
  struct AimItem {
    int node;
    bool camera;
    int index;  // in the cameras or the lights
  };

  void Camera(int i, SceneObject* obj) {
    CameraParams params;
    Interval valid;
    obj->EvaluateCamera(0, valid, params);
    tinygltf::Camera c;
    c.type = "perspective";
    c.name = model_.nodes[i].name;
    c.perspective.aspectRatio = kDefaultAspectRatio;
    c.perspective.yfov = VerticalFov(params.fov, kDefaultAspectRatio);
    Interval nearValid, farValid;
    double znear = obj->CameraRange(0, 0, nearValid);
    double zfar = obj->CameraRange(0, 1, farValid);
    if (!std::isfinite(znear) || !std::isfinite(zfar))
      throw WriteError("camera \"" + c.name + "\": a range is not a finite number");
    c.perspective.znear = znear > 0 ? znear : kDefaultNear;
    // The file needs a far range beyond the near one; a camera without one sees far.
    c.perspective.zfar = zfar > c.perspective.znear ? zfar : c.perspective.znear * 1000.0;
    HostController* fov = obj->FovController();
    if (fov != nullptr && fov->KeyCount() > 0)
      NoticeOnce("animated fields of view are dropped (core glTF has no channel for them); each "
                 "camera keeps its value at time 0");
    model_.cameras.push_back(c);
    aims_.push_back({i, true, int(model_.cameras.size()) - 1});
  }

  void Light(int i, SceneObject* obj, bool spot) {
    LightParams params;
    Interval valid;
    obj->EvaluateLight(0, valid, params);
    tinygltf::Light l;
    l.name = model_.nodes[i].name;
    l.type = spot ? "spot" : "point";
    if (!Finite(params.color) || !std::isfinite(params.intensity))
      throw WriteError("light \"" + l.name + "\": a value is not a finite number");
    Point3 c = LinearFromDisplay(params.color);
    l.color = {c.x, c.y, c.z};
    l.intensity = params.on != 0 ? std::max(0.0f, params.intensity) : 0.0;
    if (params.useAtten != 0 && params.attenEnd > 0 && std::isfinite(params.attenEnd))
      l.range = params.attenEnd;
    if (spot) {
      constexpr double kMost = 1.5707963;  // just below a right angle, as the file needs
      double outer = std::min(kMost, std::max(1e-4, HalfAngleFromCone(params.falloff)));
      double inner = std::max(0.0, HalfAngleFromCone(params.hotspot));
      l.spot.outerConeAngle = outer;
      l.spot.innerConeAngle = std::min(inner, outer * 0.999);
    }
    HostController* color = obj->ColorController();
    if (color != nullptr && color->KeyCount() > 0)
      NoticeOnce("animated light colours are dropped (core glTF has no channel for them); each "
                 "light keeps its colour at time 0");
    model_.lights.push_back(l);
    int index = int(model_.lights.size()) - 1;
    if (spot)
      aims_.push_back({i, false, index});
    else
      AttachLight(model_.nodes[i], index);
  }

  static void AttachLight(tinygltf::Node& n, int light) {
    tinygltf::Value::Object ext;
    ext["light"] = tinygltf::Value(light);
    n.extensions["KHR_lights_punctual"] = tinygltf::Value(ext);
  }

  // The world rotation, in the file's axes, that a camera or spot looks through at t: -Z
  // along the way to its target, +Y up as near the world's up as it can be, turned by the
  // roll controller about the view direction (right-hand rule). Without a target (or
  // with one at the node's own place): the node's own rotation.
  Quat AimAt(SceneNode* node, TimeValue t, bool* own) {
    Matrix3 world = node->NodeTransform(t);
    SceneNode* target = node->LookAtTarget();
    Point3 dir = target != nullptr ? target->NodeTransform(t).GetTrans() - world.GetTrans() : Point3();
    *own = Length(dir) <= 1e-6f;
    if (*own) return Split(axes_.FileTransform(world)).r;
    Point3 f = Normalize(dir);
    Point3 up(0, 0, 1);
    if (Length(CrossProd(f, up)) < 1e-4f) up = Point3(0, 1, 0);
    Point3 x = Normalize(CrossProd(f, up));
    Point3 y = CrossProd(x, f);
    float roll = 0.0f;
    HostController* tc = node->TransformController();
    HostController* rc = tc != nullptr ? tc->RollController() : nullptr;
    if (rc != nullptr) {
      Interval valid;
      rc->ControllerValue(t, &roll, valid, 1);
    }
    if (roll != 0.0f && std::isfinite(roll)) {
      Matrix3 turn = QuatToMatrix(QuatFromAngAxis(roll, f));
      x = VectorTransform(turn, x);
      y = VectorTransform(turn, y);
    }
    return RotationOfAxes(axes_.FilePoint(x), axes_.FilePoint(y), axes_.FilePoint(Point3() - f));
  }

  void Aim(const AimItem& aim) {
    SceneNode* node = nodes_[aim.node];
    std::vector<Quat> aimed;
    std::vector<Matrix3> worlds;
    bool onNode = true;
    for (TimeValue t : frames_) {
      bool own = false;
      Quat q = AimAt(node, t, &own);
      Matrix3 world = axes_.FileTransform(node->NodeTransform(t));
      Trs parts = Split(world);
      onNode = onNode && (own || SameRotation(q, parts.r, kAimTolerance));
      aimed.push_back(q);
      worlds.push_back(world);
    }
    int holder = aim.node;
    if (!onNode) {
      // A child node turned so that its -Z looks at the target: its rotation relative to
      // the node is the aimed world rotation undone by the node's world transform.
      tinygltf::Node child;
      child.name = model_.nodes[aim.node].name + (aim.camera ? ".View" : ".Beam");
      holder = int(model_.nodes.size());
      Channel c{holder, {}};
      for (size_t k = 0; k < frames_.size(); ++k) {
        Matrix3 want = QuatToMatrix(aimed[k]);
        want.SetTrans(worlds[k].GetTrans());
        Trs parts = Split(want * Inverse(worlds[k]));
        parts.t = Point3();
        c.samples.push_back(parts);
      }
      SetTrs(child, c.samples.front());
      model_.nodes.push_back(child);
      model_.nodes[aim.node].children.push_back(holder);
      bool moves = false;
      for (const Trs& s : c.samples)
        moves = moves || !SameRotation(s.r, c.samples.front().r, 1e-6f) ||
                !Close(s.s, c.samples.front().s, 1e-6f);
      if (moves) channels_.push_back(std::move(c));
    }
    // The node that holds the object names its target, so that a reader links them again.
    auto target = index_.find(node->LookAtTarget());
    if (target != index_.end()) {
      tinygltf::Value::Object extras;
      extras["lookAt"] = tinygltf::Value(target->second);
      model_.nodes[holder].extras = tinygltf::Value(extras);
    }
    if (aim.camera)
      model_.nodes[holder].camera = aim.index;
    else
      AttachLight(model_.nodes[holder], aim.index);
  }

  // ---- buffer ----

  int View(const void* data, size_t size, int target) {
    while (bin_.size() % 4 != 0) bin_.push_back(0);
    if (bin_.capacity() < bin_.size() + size)
      bin_.reserve(std::max(2 * bin_.capacity(), bin_.size() + size));
    tinygltf::BufferView v;
    v.buffer = 0;
    v.byteOffset = bin_.size();
    v.byteLength = size;
    v.target = target;
    const unsigned char* p = static_cast<const unsigned char*>(data);
    bin_.insert(bin_.end(), p, p + size);
    model_.bufferViews.push_back(v);
    return int(model_.bufferViews.size()) - 1;
  }

  // An accessor of float elements of comps components; bounds gives it min and max.
  int Floats(const std::vector<float>& v, int comps, int target, bool bounds) {
    tinygltf::Accessor a;
    a.bufferView = View(v.data(), v.size() * sizeof(float), target);
    a.componentType = TINYGLTF_COMPONENT_TYPE_FLOAT;
    a.count = v.size() / comps;
    a.type = comps == 1 ? TINYGLTF_TYPE_SCALAR
                        : comps == 2 ? TINYGLTF_TYPE_VEC2
                                     : comps == 3 ? TINYGLTF_TYPE_VEC3 : TINYGLTF_TYPE_VEC4;
    if (bounds) {
      a.minValues.assign(comps, 0.0);
      a.maxValues.assign(comps, 0.0);
      for (size_t e = 0; e < a.count; ++e)
        for (int c = 0; c < comps; ++c) {
          double x = v[e * comps + c];
          a.minValues[c] = e == 0 ? x : std::min(a.minValues[c], x);
          a.maxValues[c] = e == 0 ? x : std::max(a.maxValues[c], x);
        }
    }
    model_.accessors.push_back(a);
    return int(model_.accessors.size()) - 1;
  }

  int Indices(const std::vector<uint32_t>& idx, size_t vertexCount) {
    tinygltf::Accessor a;
    if (vertexCount <= 65535) {
      std::vector<uint16_t> narrow(idx.begin(), idx.end());
      a.bufferView = View(narrow.data(), narrow.size() * 2, kElementArrayBuffer);
      a.componentType = TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT;
    } else {
      a.bufferView = View(idx.data(), idx.size() * 4, kElementArrayBuffer);
      a.componentType = TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT;
    }
    a.count = idx.size();
    a.type = TINYGLTF_TYPE_SCALAR;
    model_.accessors.push_back(a);
    return int(model_.accessors.size()) - 1;
  }

  // ---- meshes ----

  int MeshOf(SceneNode* node, SceneObject* obj) {
    HostMaterial* material = node->NodeMaterial();
    Matrix3 offset = node->ObjectTransform(0) * Inverse(node->NodeTransform(0));
    bool plain = Close(offset.GetRow(0), Point3(1, 0, 0), 1e-6f) &&
                 Close(offset.GetRow(1), Point3(0, 1, 0), 1e-6f) &&
                 Close(offset.GetRow(2), Point3(0, 0, 1), 1e-6f) &&
                 Close(offset.GetRow(3), Point3(), 1e-6f);
    auto key = std::make_pair(obj, material);
    if (plain) {
      auto found = meshes_.find(key);
      if (found != meshes_.end()) return found->second;
    }
    SceneObject* tri = obj->ConvertToClass(0, triObjectClassID);
    if (tri == nullptr) return -1;
    int index = -1;
    try {
      const Mesh* mesh = tri->ObjectMesh();
      if (mesh != nullptr) index = BuildMesh(node, *mesh, material, plain ? Matrix3() : offset);
    } catch (...) {
      if (tri != obj) tri->ReleaseObject();
      throw;
    }
    if (tri != obj) tri->ReleaseObject();
    if (plain) meshes_[key] = index;
    return index;
  }

  // The material of each face's primitive: its slot of a multi/sub material (ids past the
  // slots wrap around), or the node's material.
  HostMaterial* FaceMaterial(HostMaterial* material, int id) {
    if (material == nullptr || material->ClassIdentity() != kMultiMaterialClass) return material;
    int count = material->SubMaterialCount();
    return count > 0 ? material->SubMaterial(id % count) : nullptr;
  }

  int BuildMesh(SceneNode* node, const Mesh& mesh, HostMaterial* material, const Matrix3& offset) {
    std::string name = node->NodeName();
    size_t nv = mesh.verts.size();
    std::vector<Point3> pos(nv);
    for (size_t v = 0; v < nv; ++v) {
      if (!Finite(mesh.verts[v]))
        throw WriteError("mesh \"" + name + "\": vertex " + std::to_string(v) +
                         " holds a value that is not a finite number");
      pos[v] = mesh.verts[v] * offset;
    }
    bool mirrored = Determinant(offset) < 0;
    // Faces that name no vertex of the mesh are left out; the normals of the faces.
    std::vector<int> faces;
    std::vector<Point3> faceNormal(mesh.faces.size());
    std::vector<std::vector<int>> around(nv);
    for (size_t f = 0; f < mesh.faces.size(); ++f) {
      const Face& face = mesh.faces[f];
      if (face.v[0] >= nv || face.v[1] >= nv || face.v[2] >= nv) continue;
      faces.push_back(int(f));
      faceNormal[f] = CrossProd(pos[face.v[1]] - pos[face.v[0]], pos[face.v[2]] - pos[face.v[0]]);
      if (mirrored) faceNormal[f] = Point3() - faceNormal[f];
      for (int k = 0; k < 3; ++k) around[face.v[k]].push_back(int(f));
    }
    if (faces.size() != mesh.faces.size())
      NoticeOnce("mesh \"" + name + "\": faces that name no vertex of the mesh are left out");
    bool uv = !mesh.tVerts.empty() && mesh.tvFace.size() == mesh.faces.size();
    bool colors = !mesh.vertCol.empty() && mesh.vertCol.size() == nv;

    for (int f : faces) faceNormal[f] = Normalize(faceNormal[f]);
    struct Primitive {
      std::vector<float> pos, normal, uv, color;
      std::vector<uint32_t> idx;
      std::unordered_map<Corner, uint32_t, CornerHash> corners;
      bool used = false;
    };
    std::map<HostMaterial*, Primitive> prims;
    std::vector<HostMaterial*> order;
    {
      // Room for each primitive's corners at once: growing vectors of this size one
      // reallocation after the other costs more than all the rest.
      std::map<HostMaterial*, size_t> counts;
      for (int f : faces) ++counts[FaceMaterial(material, mesh.faces[f].getMatID())];
      for (const auto& c : counts) {
        Primitive& p = prims[c.first];
        size_t corners = 3 * c.second;
        p.idx.reserve(corners);
        p.pos.reserve(3 * std::min(corners, size_t(nv) * 2));
        p.normal.reserve(p.pos.capacity());
        p.corners.reserve(std::min(corners, size_t(nv) * 2));
      }
    }
    for (int f : faces) {
      const Face& face = mesh.faces[f];
      HostMaterial* m = FaceMaterial(material, face.getMatID());
      Primitive& p = prims[m];
      if (!p.used) order.push_back(m);  // primitives in order of first use
      p.used = true;
      int corner[3] = {0, 1, 2};
      if (mirrored) std::swap(corner[1], corner[2]);
      for (int k : corner) {
        uint32_t v = face.v[k];
        // Faces that share a smoothing group with this one share its normal here; a face
        // in no group has its own.
        Point3 n = faceNormal[f];
        if (face.smGroup != 0) {
          n = Point3();
          for (int g : around[v])
            if ((mesh.faces[g].smGroup & face.smGroup) != 0) n = n + faceNormal[g];
        }
        n = axes_.FilePoint(Normalize(n));
        if (!(Length(n) > 0.5f)) n = Point3(0, 1, 0);  // a face without area
        n = Point3(n.x + 0.0f, n.y + 0.0f, n.z + 0.0f);  // -0 as 0, for the corner's hash
        uint32_t tv = uv ? mesh.tvFace[f].t[k] : 0;
        if (uv && tv >= mesh.tVerts.size()) tv = 0;
        Corner key{v, tv, n};
        auto found = p.corners.find(key);
        if (found != p.corners.end()) {
          p.idx.push_back(found->second);
          continue;
        }
        uint32_t out = uint32_t(p.pos.size() / 3);
        p.corners.emplace(key, out);
        p.idx.push_back(out);
        Point3 q = axes_.FilePoint(pos[v]);
        p.pos.insert(p.pos.end(), {q.x, q.y, q.z});
        p.normal.insert(p.normal.end(), {n.x, n.y, n.z});
        if (uv) {
          const Point3& t = mesh.tVerts[tv];
          if (!std::isfinite(t.x) || !std::isfinite(t.y))
            throw WriteError("mesh \"" + name + "\": a texture vertex is not a finite number");
          p.uv.insert(p.uv.end(), {t.x, 1.0f - t.y});
        }
        if (colors) {
          Point3 c = LinearFromDisplay(mesh.vertCol[v]);
          p.color.insert(p.color.end(), {c.x, c.y, c.z});
        }
      }
    }
    if (order.empty()) return -1;
    tinygltf::Mesh out;
    out.name = Utf8(name);
    for (HostMaterial* m : order) {
      Primitive& p = prims[m];
      tinygltf::Primitive prim;
      prim.mode = TINYGLTF_MODE_TRIANGLES;
      size_t count = p.pos.size() / 3;
      prim.attributes["POSITION"] = Floats(p.pos, 3, kArrayBuffer, true);
      prim.attributes["NORMAL"] = Floats(p.normal, 3, kArrayBuffer, false);
      if (uv) prim.attributes["TEXCOORD_0"] = Floats(p.uv, 2, kArrayBuffer, false);
      if (colors) prim.attributes["COLOR_0"] = Floats(p.color, 3, kArrayBuffer, false);
      prim.indices = Indices(p.idx, count);
      prim.material = MaterialOf(m, uv);
      out.primitives.push_back(prim);
    }
    model_.meshes.push_back(out);
    return int(model_.meshes.size()) - 1;
  }

  // ---- materials ----

  // The material of m for primitives with texture coordinates (textured) or without,
  // which can't show its map.
  int MaterialOf(HostMaterial* m, bool textured) {
    auto found = materials_.find({m, textured});
    if (found != materials_.end()) return found->second;
    tinygltf::Material g;
    Point3 diffuse(0.5f, 0.5f, 0.5f);  // faces without material: the host's grey
    float transparency = 0.0f, shininess = 0.1f, glow = 0.0f;
    if (m != nullptr) {
      Interval valid;
      m->UpdateMaterial(0, valid);
      g.name = Utf8(m->MaterialName() != nullptr ? m->MaterialName() : "");
      diffuse = m->DiffuseColor(0, false);
      transparency = m->Transparency(0, false);
      shininess = m->Shininess(0, false);
      glow = m->SelfIllumination(0);
      g.doubleSided = m->TwoSided();
    } else {
      g.name = "Default";
    }
    if (!Finite(diffuse) || !std::isfinite(transparency) || !std::isfinite(shininess) ||
        !std::isfinite(glow))
      throw WriteError("material \"" + g.name + "\": a value is not a finite number");
    Point3 base = LinearFromDisplay(diffuse);
    double alpha = 1.0 - std::min(1.0f, std::max(0.0f, transparency));
    g.pbrMetallicRoughness.baseColorFactor = {base.x, base.y, base.z, alpha};
    g.pbrMetallicRoughness.metallicFactor = 0.0;
    g.pbrMetallicRoughness.roughnessFactor = RoughnessFromShininess(shininess);
    if (alpha < 1.0) g.alphaMode = "BLEND";
    glow = std::min(1.0f, std::max(0.0f, glow));
    if (glow > 0) g.emissiveFactor = {glow, glow, glow};
    if (m != nullptr && textured && m->ChannelEnabled(kChannelDiffuse)) {
      HostMap* map = m->ChannelMap(kChannelDiffuse);
      if (map != nullptr && map->ClassIdentity() == kBitmapMapClass) {
        int texture = TextureOf(map);
        if (texture >= 0) {
          g.pbrMetallicRoughness.baseColorTexture.index = texture;
          g.pbrMetallicRoughness.baseColorTexture.extensions = TextureTransform(map);
        }
      }
    }
    model_.materials.push_back(g);
    int index = int(model_.materials.size()) - 1;
    materials_[{m, textured}] = index;
    return index;
  }

  int TextureOf(HostMap* map) {
    std::string name = map->MapFileName() != nullptr ? map->MapFileName() : "";
    std::replace(name.begin(), name.end(), '\\', '/');
    if (name.empty()) return -1;
    bool absolute = name[0] == '/' || (name.size() > 1 && name[1] == ':');
    std::string uri = UriEncode(absolute ? name : options_.imagePrefix + name);
    int bits = map->MapCoordinates() != nullptr ? map->MapCoordinates()->TilingBits() : 3;
    auto wrap = [](int b, int repeat, int mirror) {
      return (b & mirror) != 0   ? TINYGLTF_TEXTURE_WRAP_MIRRORED_REPEAT
             : (b & repeat) != 0 ? TINYGLTF_TEXTURE_WRAP_REPEAT
                                 : TINYGLTF_TEXTURE_WRAP_CLAMP_TO_EDGE;
    };
    int wrapS = wrap(bits, 0x1, 0x4), wrapT = wrap(bits, 0x2, 0x8);
    auto key = std::make_tuple(uri, wrapS, wrapT);
    auto found = textures_.find(key);
    if (found != textures_.end()) return found->second;
    auto image = images_.find(uri);
    if (image == images_.end()) {
      tinygltf::Image img;
      img.uri = uri;
      model_.images.push_back(img);
      image = images_.emplace(uri, int(model_.images.size()) - 1).first;
    }
    tinygltf::Sampler s;
    s.wrapS = wrapS;
    s.wrapT = wrapT;
    model_.samplers.push_back(s);
    tinygltf::Texture t;
    t.source = image->second;
    t.sampler = int(model_.samplers.size()) - 1;
    model_.textures.push_back(t);
    return textures_[key] = int(model_.textures.size()) - 1;
  }

  // The map's offsets, tiling and angle as KHR_texture_transform (V runs the other way
  // in the file); nothing when they are the defaults.
  tinygltf::ExtensionMap TextureTransform(HostMap* map) {
    tinygltf::ExtensionMap ext;
    HostMapCoords* c = map->MapCoordinates();
    if (c == nullptr) return ext;
    float u = c->UOffset(0), v = c->VOffset(0), su = c->UTiling(0), sv = c->VTiling(0);
    float angle = c->RotationAngle(0);
    for (float x : {u, v, su, sv, angle})
      if (!std::isfinite(x)) throw WriteError("a map's coordinates are not finite numbers");
    if (u == 0 && v == 0 && su == 1 && sv == 1 && angle == 0) return ext;
    tinygltf::Value::Object t;
    t["offset"] = tinygltf::Value(tinygltf::Value::Array{tinygltf::Value(double(u)),
                                                          tinygltf::Value(0.0 - v)});
    t["scale"] = tinygltf::Value(
        tinygltf::Value::Array{tinygltf::Value(double(su)), tinygltf::Value(double(sv))});
    t["rotation"] = tinygltf::Value(0.0 - angle);
    ext["KHR_texture_transform"] = tinygltf::Value(t);
    Uses("KHR_texture_transform");
    return ext;
  }

  void Uses(const std::string& extension) {
    if (std::find(model_.extensionsUsed.begin(), model_.extensionsUsed.end(), extension) ==
        model_.extensionsUsed.end())
      model_.extensionsUsed.push_back(extension);
  }

  // ---- animation ----

  // Linear channels sampled at every frame, for the parts of each node that move.
  void Animation() {
    tinygltf::Animation anim;
    anim.name = "Animation";
    std::vector<float> times;
    for (TimeValue t : frames_) times.push_back(Seconds(t));
    int input = -1;
    for (const Channel& c : channels_) {
      const Trs& first = c.samples.front();
      bool moves[3] = {false, false, false};
      // Differences of rounding alone are no movement.
      float reach = std::max(1.0f, Length(first.t));
      for (const Trs& s : c.samples) {
        moves[0] = moves[0] || !Close(s.t, first.t, 1e-6f * reach);
        moves[1] = moves[1] || !SameRotation(s.r, first.r, 1e-7f);
        moves[2] = moves[2] || !Close(s.s, first.s, 1e-6f);
      }
      static const char* const kPaths[3] = {"translation", "rotation", "scale"};
      for (int part = 0; part < 3; ++part) {
        if (!moves[part]) continue;
        std::vector<float> out, kept;  // kept: the times of a scale channel that skips
        Quat previous = first.r;
        for (size_t k = 0; k < c.samples.size(); ++k) {
          const Trs& s = c.samples[k];
          // A scale that passes through zero between two frames is not sampled where it
          // is zero: such a key could not be read back (the transform has no inverse
          // there), and the blend of its neighbours passes through zero all the same.
          bool inner = k > 0 && k + 1 < c.samples.size();
          if (part == 2 && inner && std::min({std::fabs(s.s.x), std::fabs(s.s.y),
                                              std::fabs(s.s.z)}) < kSingularScale) {
            if (kept.empty()) kept.assign(times.begin(), times.begin() + k);
            continue;
          }
          if (part == 2 && !kept.empty()) kept.push_back(times[k]);
          if (part == 0) out.insert(out.end(), {s.t.x, s.t.y, s.t.z});
          if (part == 2) out.insert(out.end(), {s.s.x, s.s.y, s.s.z});
          if (part == 1) {
            // Each sample on the side of its predecessor, so that the blend between
            // them takes the shorter way.
            Quat q = s.r;
            if (q.x * previous.x + q.y * previous.y + q.z * previous.z + q.w * previous.w < 0)
              q = Quat(-q.x, -q.y, -q.z, -q.w);
            out.insert(out.end(), {q.x, q.y, q.z, q.w});
            previous = q;
          }
        }
        for (float x : out)
          if (!std::isfinite(x))
            throw WriteError("node \"" + model_.nodes[c.node].name +
                             "\": an animated value is not a finite number");
        if (input < 0 && kept.empty()) input = Floats(times, 1, 0, true);
        tinygltf::AnimationSampler s;
        s.input = kept.empty() ? input : Floats(kept, 1, 0, true);
        s.output = Floats(out, part == 1 ? 4 : 3, 0, false);
        s.interpolation = "LINEAR";
        anim.samplers.push_back(s);
        tinygltf::AnimationChannel ch;
        ch.sampler = int(anim.samplers.size()) - 1;
        ch.target_node = c.node;
        ch.target_path = kPaths[part];
        anim.channels.push_back(ch);
      }
    }
    if (!anim.channels.empty()) model_.animations.push_back(anim);
  }

  // ---- the file ----

  void Serialize(std::string& bytes) {
    if (!bin_.empty()) {
      tinygltf::Buffer b;
      b.data = std::move(bin_);
      model_.buffers.push_back(std::move(b));
    }
    if (!model_.lights.empty()) Uses("KHR_lights_punctual");
    tinygltf::TinyGLTF gltf;
    gltf.SetImageWriter(nullptr, nullptr);  // images keep their names; none is read
    std::ostringstream out;
    if (!gltf.WriteGltfSceneToStream(&model_, out, true, options_.binary))
      throw WriteError("the glTF file could not be put together");
    bytes = out.str();
  }

  static constexpr double kDefaultNear = 0.01;  // a camera's near range when it has none
  static constexpr float kSingularScale = 1e-6f;  // a sampled scale this small is skipped

  HostScene& scene_;
  HostInterface& host_;
  GltfWriteOptions options_;
  AxisChange axes_;
  std::vector<std::string>& notices_;
  std::set<std::string> said_;
  tinygltf::Model model_;
  std::vector<unsigned char> bin_;
  std::vector<SceneNode*> nodes_;
  std::map<SceneNode*, int> index_;
  std::vector<TimeValue> frames_;
  std::vector<Channel> channels_;
  std::vector<AimItem> aims_;
  std::map<std::pair<SceneObject*, HostMaterial*>, int> meshes_;
  std::map<std::pair<HostMaterial*, bool>, int> materials_;
  std::map<std::tuple<std::string, int, int>, int> textures_;
  std::map<std::string, int> images_;
};

}  // namespace

GltfWriteResult WriteGltf(HostScene& scene, HostInterface& host, const GltfWriteOptions& options,
                          std::string& bytes) {
  GltfWriteResult result;
  bytes.clear();
  try {
    if (!(options.fps > 0 && options.fps <= 1000))
      throw WriteError("the frame rate must lie above 0 and at most 1000");
    GltfExport(scene, host, options, result.notices).Run(bytes);
    result.ok = true;
  } catch (const WriteError& e) {
    result.error = e.what();
  } catch (const std::bad_alloc&) {
    result.error = "out of memory";
    result.outOfMemory = true;
  } catch (const std::exception& e) {
    result.error = std::string("the glTF file could not be put together: ") + e.what();
  }
  if (!result.ok) bytes.clear();
  return result;
}

bool IsGltfPath(const std::string& path, bool* binary) {
  size_t dot = path.find_last_of('.');
  size_t slash = path.find_last_of("/\\");
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return false;
  std::string ext = path.substr(dot + 1);
  for (char& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
  if (ext != "gltf" && ext != "glb") return false;
  if (binary != nullptr) *binary = ext == "glb";
  return true;
}

std::string ImagePrefixFor(const std::string& scenePath, const std::string& outputPath) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path scene = fs::absolute(fs::path(scenePath), ec).parent_path();
  fs::path out = fs::absolute(fs::path(outputPath), ec).parent_path();
  if (ec) return std::string();
  fs::path way = fs::relative(fs::weakly_canonical(scene, ec), fs::weakly_canonical(out, ec), ec);
  if (ec || way.empty()) return std::string();
  std::string prefix = way.generic_string();
  return prefix == "." ? std::string() : prefix + "/";
}

}  // namespace tsm
