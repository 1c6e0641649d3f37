#include "view/scene_view.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <unordered_map>

#include "formats/tsm/tsm_loader.h"
#include "material/material_convert.h"
#include "scene/mem_controllers.h"
#include "scene/mem_material.h"
#include "scene/mem_objects.h"

namespace tsm {

namespace {

// The host's usual ticks per frame; the file does not record its own.
constexpr double kTicksPerFrame = 160.0;
// Degrees per radian as the camera writer uses it.
constexpr float kDegreesPerRadian = 57.29578f;

bool Finite(const Vec3& p) {
  return p.x - p.x == 0.0 && p.y - p.y == 0.0 && p.z - p.z == 0.0;
}

Vec3 ToVec(const Point3& p) {
  return {p.x, p.y, p.z};
}

// Room for n elements that never move: at the end of the last block of blocks, or, for a
// large run, in a block of its own (placed first, so that the last block stays open).
template <class T>
T* Room(std::deque<std::vector<T>>& blocks, size_t n) {
  constexpr size_t kBlock = 4096;
  if (n == 0) return nullptr;
  if (n > kBlock / 4) {
    blocks.emplace_front(n);
    return blocks.front().data();
  }
  if (blocks.empty() || blocks.back().capacity() - blocks.back().size() < n) {
    blocks.emplace_back();
    blocks.back().reserve(kBlock);
  }
  std::vector<T>& last = blocks.back();
  last.resize(last.size() + n);  // within its capacity: nothing moves
  return last.data() + last.size() - n;
}

// The drawable parts of a scene read back node by node, valued as the writers value them
// at the scene's current time.
class SceneDrawing {
 public:
  SceneDrawing(MemScene& scene, ViewScene* view) : s_(scene), v_(view) {}

  // A position track as read, before its node is done.
  void Track(const MemNode* n, const MemController& track) {
    if (track.keys.size() == 1) {
      const Point3& p = track.keys[0].p;
      if (std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z)) return;
    }
    std::vector<PositionKey>& keys = positions_[n];
    keys.reserve(track.keys.size());
    for (const MemKey& k : track.keys)
      keys.push_back({static_cast<int32_t>(k.time / static_cast<int>(kTicksPerFrame)), k.p.x,
                      k.p.y, k.p.z});
  }

  // A node, complete, with its number and its parent's (-1: the root).
  void Node(MemNode* n, int number, int parent) {
    if (v_->nodes.size() <= static_cast<size_t>(number)) v_->nodes.resize(number + 1u);
    ViewNode& vn = v_->nodes[number];
    vn.id = number;
    vn.parent = parent;
    auto track = positions_.find(n);
    if (track != positions_.end()) {
      vn.position = std::move(track->second);
      positions_.erase(track);
    }
    Object(n, number);
  }

  // An object that no later node holds: a mesh made later may take its address.
  void ObjectDone(const MemObject* object) {
    meshes_.erase(object);
  }

  void Finish() { v_->currentTime = s_.currentTime; }

 private:
  // The node's transform as the editor writers take it.
  Matrix3 Placement(MemNode* n) {
    return n->NodeQuery(96) ? Matrix3() : n->NodeTransform(s_.currentTime);
  }
  Vec3 Position(MemNode* n) { return ToVec(n->NodeTransform(s_.currentTime).GetTrans()); }

  void Object(MemNode* n, int number) {
    if (auto* mesh = dynamic_cast<MemMeshObject*>(n->object)) Mesh(n, number, *mesh);
    if (auto* light = dynamic_cast<MemLightObject*>(n->object)) Light(n, *light);
    if (auto* camera = dynamic_cast<MemCameraObject*>(n->object)) Camera(n, *camera);
    if (auto* shape = dynamic_cast<MemShapeObject*>(n->object)) Shape(n, *shape);
  }

  // The index of a material in the preview's list, added on first use; -1 for none.
  int MaterialIndex(HostMaterial* h) {
    auto* m = dynamic_cast<MemMaterial*>(h);
    if (m == nullptr) return -1;
    auto found = materials_.find(m);
    if (found != materials_.end()) return found->second;
    ViewMaterial vm;
    vm.name = m->name;
    // The bytes the file holds, as the colour was set.
    PackedColor c = PackColor(m->diffuse.x, m->diffuse.y, m->diffuse.z);
    vm.diffuse = {c.rgb[0] / 255.0f, c.rgb[1] / 255.0f, c.rgb[2] / 255.0f};
    vm.twoSided = m->twoSided;
    int index = static_cast<int>(v_->materials.size());
    v_->materials.push_back(vm);
    materials_[m] = index;
    return index;
  }

  // A chunk file gives a mesh's face materials with the mesh, so every node of a mesh
  // has the mesh's material: the mesh is held once, from its first node, and its own
  // arrays are let go then.
  void Mesh(MemNode* n, int number, MemMeshObject& mesh) {
    ViewInstance instance;
    instance.node = number;
    Matrix3 g = Placement(n);
    Point3 t = g.GetTrans();
    // The writer moves a mesh at the world's origin by a thousandth on each axis.
    if (t.x == 0.0f && t.y == 0.0f && t.z == 0.0f) g.SetTrans(Point3(0.001f, 0.001f, 0.001f));
    instance.placement = g;
    auto known = meshes_.find(&mesh);
    if (known != meshes_.end()) {
      instance.mesh = known->second;
      v_->instances.push_back(instance);
      return;
    }
    ViewMesh m;
    Point3* vertices = Room(v_->vertexBlocks, mesh.vertices.size());
    std::copy(mesh.vertices.begin(), mesh.vertices.end(), vertices);
    m.vertices = {vertices, mesh.vertices.size()};
    auto* material = dynamic_cast<MemMaterial*>(n->material);
    bool multi = material != nullptr && material->ClassIdentity() == kMultiMaterialClass;
    int plain = multi ? -1 : MaterialIndex(material);
    ViewFace* faces = Room(v_->faceBlocks, mesh.faces.size());
    m.faces = {faces, mesh.faces.size()};
    for (const MemFace& f : mesh.faces) {
      ViewFace& vf = *faces++;
      for (int k = 0; k < 3; ++k) vf.v[k] = static_cast<uint16_t>(f.v[k]);
      vf.material = multi ? MaterialIndex(material->SubMaterial(f.materialId)) : plain;
    }
    SceneVector<Point3>().swap(mesh.vertices);
    SceneVector<MemFace>().swap(mesh.faces);
    SceneVector<Point3>().swap(mesh.texVerts);
    SceneVector<std::array<int, 3>>().swap(mesh.texFaces);
    instance.mesh = static_cast<int>(v_->meshes.size());
    meshes_[&mesh] = instance.mesh;
    v_->meshes.push_back(std::move(m));
    v_->instances.push_back(instance);
  }

  void Light(MemNode* n, MemLightObject& light) {
    ViewLight l;
    l.name = n->name;
    l.position = Position(n);
    Interval valid;
    LightParams params;
    light.EvaluateLight(s_.currentTime, valid, params);
    l.color = {params.color.x, params.color.y, params.color.z};
    if (params.intensity - params.intensity == 0.0f) l.multiplier = params.intensity;
    l.off = params.on == 0;
    l.spot = light.IsSpot();
    l.target = n->lookAt != nullptr ? Position(n->lookAt) : l.position;
    if (Finite(l.position)) v_->lights.push_back(l);
  }

  void Camera(MemNode* n, MemCameraObject& camera) {
    ViewCamera c;
    c.name = n->name;
    c.position = Position(n);
    c.target = n->lookAt != nullptr ? Position(n->lookAt) : c.position;
    Interval valid;
    float fov = camera.CameraFov(s_.currentTime, valid);
    c.lens = static_cast<float>(2400.0 / (static_cast<double>(fov) * kDegreesPerRadian));
    if (Finite(c.position) && Finite(c.target)) v_->cameras.push_back(c);
  }

  void Shape(MemNode* n, const MemShapeObject& shape) {
    ViewShape vs;
    vs.name = n->name;
    Matrix3 t = Placement(n);
    for (const MemSpline& spline : shape.splines)
      for (const MemKnot& k : spline.knots) vs.points.push_back(ToVec(k.point * t));
    v_->shapes.push_back(std::move(vs));
  }

  MemScene& s_;
  ViewScene* v_;
  std::unordered_map<const MemNode*, std::vector<PositionKey>> positions_;
  std::unordered_map<const MemMaterial*, int> materials_;
  std::unordered_map<const MemObject*, int> meshes_;
};

}  // namespace

bool ReadViewScene(const uint8_t* data, size_t size, ViewScene* scene, std::string* error,
                   std::vector<std::string>* notices) {
  *scene = ViewScene();
  MemScene rebuilt;
  // The loader names the file in its messages; the preview's caller names it itself.
  const std::string label = "file";
  // The picture shows the scene at its current time, and --frame moves the meshes along
  // their position tracks: only those keys are kept. Each node is drawn as it is read
  // and then let go, so that the rebuilt scene never holds them all.
  SceneDrawing drawing(rebuilt, scene);
  TsmReadOptions options;
  options.holdAtCurrentTime = true;
  options.positionTrack = [&drawing](const MemNode* node, const MemController& track) {
    drawing.Track(node, track);
  };
  options.nodeDone = [&drawing](MemNode* node, int number, int parent) {
    drawing.Node(node, number, parent);
  };
  options.objectDone = [&drawing](const MemObject* object) { drawing.ObjectDone(object); };
  ImportResult r = ReadTsmScene(data, size, label, rebuilt, options);
  auto bare = [&label](const std::string& text) {
    return text.rfind(label + ": ", 0) == 0 ? text.substr(label.size() + 2) : text;
  };
  if (notices != nullptr)
    for (const std::string& n : r.notices) notices->push_back(bare(n));
  if (!r.ok) {
    *scene = ViewScene();
    *error = bare(r.error);
    return false;
  }
  drawing.Finish();
  return true;
}

const ViewMesh* InstanceVertices(const ViewScene& scene, const ViewInstance& instance,
                                 std::vector<Vec3>* out) {
  out->clear();
  if (instance.mesh < 0 || static_cast<size_t>(instance.mesh) >= scene.meshes.size())
    return nullptr;
  const ViewMesh& mesh = scene.meshes[instance.mesh];
  const Vec3* moved = instance.node >= 0 && static_cast<size_t>(instance.node) < scene.moves.size()
                          ? &scene.moves[instance.node]
                          : nullptr;
  out->reserve(mesh.vertices.size());
  for (const Point3& p : mesh.vertices) {
    Vec3 v = ToVec(p * instance.placement);
    if (moved != nullptr) {
      v.x += moved->x;
      v.y += moved->y;
      v.z += moved->z;
    }
    out->push_back(v);
  }
  return &mesh;
}

Vec3 PositionAt(const std::vector<PositionKey>& keys, double frame) {
  auto value = [](const PositionKey& k) { return Vec3{k.x, k.y, k.z}; };
  if (keys.empty()) return Vec3();
  if (frame <= keys.front().frame) return value(keys.front());
  for (size_t i = 1; i < keys.size(); ++i) {
    const PositionKey& ka = keys[i - 1];
    const PositionKey& kb = keys[i];
    if (frame <= kb.frame) {
      const Vec3 a = value(ka), b = value(kb);
      double span = static_cast<double>(kb.frame) - ka.frame;
      double t = span > 0.0 ? (frame - ka.frame) / span : 1.0;
      return {a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t, a.z + (b.z - a.z) * t};
    }
  }
  return value(keys.back());
}

void ApplyPositionTracks(ViewScene* scene, int32_t frame) {
  const double current = static_cast<double>(scene->currentTime) / kTicksPerFrame;
  // Each node's own change, then summed along its parents.
  std::map<int, size_t> byId;
  std::vector<Vec3> own(scene->nodes.size());
  for (size_t i = 0; i < scene->nodes.size(); ++i) {
    const ViewNode& n = scene->nodes[i];
    if (n.id >= 0 && byId.count(n.id) == 0) byId[n.id] = i;
    Vec3 a = PositionAt(n.position, frame), b = PositionAt(n.position, current);
    own[i] = {a.x - b.x, a.y - b.y, a.z - b.z};
  }
  auto total = [&](size_t i) {
    Vec3 d;
    // Parents come before their children in the file; the walk stops at a loop.
    for (size_t steps = 0; steps <= scene->nodes.size(); ++steps) {
      d.x += own[i].x;
      d.y += own[i].y;
      d.z += own[i].z;
      auto parent = byId.find(scene->nodes[i].parent);
      if (scene->nodes[i].parent < 0 || parent == byId.end()) break;
      i = parent->second;
    }
    return d;
  };
  scene->moves.assign(scene->nodes.size(), Vec3());
  for (const ViewInstance& m : scene->instances) {
    if (m.node < 0 || static_cast<size_t>(m.node) >= scene->nodes.size()) continue;
    scene->moves[m.node] = total(static_cast<size_t>(m.node));
  }
}

}  // namespace tsm
