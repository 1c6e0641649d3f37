#include "scene/mem_objects.h"

#include <utility>

namespace tsm {

namespace {
int liveConvertedMeshes = 0;

// The one host mesh the in-memory host holds: that of the object last asked. Kept apart
// from the objects so that a scene of many meshes never holds more than one copy.
struct HeldMesh {
  const MemMeshObject* owner = nullptr;  // null: none held
  MemMeshObject::Shape shape;            // the owner's fields when mesh was built
  Mesh mesh;

  void Drop() {
    owner = nullptr;
    mesh = Mesh();  // frees the arrays, not only empties them
  }
};

// Never destroyed: a scene that lives in a static may be freed after any static of
// this file, and its mesh objects still ask.
HeldMesh& Held() {
  static HeldMesh* held = new HeldMesh;
  return *held;
}

template <class T>
size_t Bytes(const std::vector<T>& v) {
  return v.capacity() * sizeof(T);
}
}  // namespace

bool MemMeshObject::Shape::operator==(const Shape& o) const {
  for (int i = 0; i < 5; ++i)
    if (data[i] != o.data[i] || size[i] != o.size[i]) return false;
  return true;
}

MemMeshObject::Shape MemMeshObject::CurrentShape() const {
  Shape s;
  s.data[0] = vertices.data();
  s.size[0] = vertices.size();
  s.data[1] = faces.data();
  s.size[1] = faces.size();
  s.data[2] = texVerts.data();
  s.size[2] = texVerts.size();
  s.data[3] = texFaces.data();
  s.size[3] = texFaces.size();
  s.data[4] = vertexColors.data();
  s.size[4] = vertexColors.size();
  return s;
}

Mesh MemMeshObject::BuildMesh() const {
  Mesh m;
  m.verts.assign(vertices.begin(), vertices.end());
  m.faces.resize(faces.size());
  for (size_t i = 0; i < faces.size(); ++i) {
    const MemFace& src = faces[i];
    Face& f = m.faces[i];
    for (int k = 0; k < 3; ++k) f.v[k] = static_cast<uint32_t>(src.v[k]);
    f.smGroup = src.smoothing;
    f.flags = static_cast<uint32_t>(src.edgeVisible & 7);
    f.setMatID(src.materialId);
  }
  m.tVerts.assign(texVerts.begin(), texVerts.end());
  m.tvFace.resize(texFaces.size());
  for (size_t i = 0; i < texFaces.size(); ++i)
    for (int k = 0; k < 3; ++k) m.tvFace[i].t[k] = static_cast<uint32_t>(texFaces[i][k]);
  m.vertCol.assign(vertexColors.begin(), vertexColors.end());
  return m;
}

MemMeshObject::~MemMeshObject() {
  if (Held().owner == this) Held().Drop();
}

Mesh* MemMeshObject::ObjectMesh() {
  HeldMesh& held = Held();
  Shape now = CurrentShape();
  if (held.owner != this || !(now == held.shape)) {
    held.Drop();  // before the new one is built, so two are never held at once
    held.mesh = BuildMesh();
    held.shape = now;
    held.owner = this;
  }
  return &held.mesh;
}

void MemMeshObject::MeshChanged() {
  if (Held().owner == this) Held().Drop();
}

size_t MemMeshObject::HeldMeshBytes() {
  const HeldMesh& held = Held();
  if (held.owner == nullptr) return 0;
  const Mesh& m = held.mesh;
  return Bytes(m.verts) + Bytes(m.faces) + Bytes(m.tVerts) + Bytes(m.tvFace) + Bytes(m.vertCol);
}

MemConvertedMesh::MemConvertedMesh(Mesh m) : mesh(std::move(m)) {
  family = kFamilyGeometry;
  classId = triObjectClassID;
  convertibleToMesh = true;
  ++liveConvertedMeshes;
}

MemConvertedMesh::~MemConvertedMesh() {
  --liveConvertedMeshes;
}

int MemConvertedMesh::LiveCount() {
  return liveConvertedMeshes;
}

BezierShape* MemShapeObject::ObjectShape() {
  shape_.splines.assign(splines.size(), {});
  for (size_t s = 0; s < splines.size(); ++s) {
    std::vector<Point3>& verts = shape_.splines[s];
    verts.reserve(splines[s].knots.size() * 3);
    for (const MemKnot& k : splines[s].knots) {
      verts.push_back(k.inVec);
      verts.push_back(k.point);
      verts.push_back(k.outVec);
    }
  }
  return &shape_;
}

void MemCameraObject::EvaluateCamera(TimeValue t, Interval& valid, CameraParams& params) {
  params.fov = CameraFov(t, valid);
  params.nearRange = nearRange;
  params.farRange = farRange;
}

float MemCameraObject::CameraRange(TimeValue /*t*/, int which, Interval& /*valid*/) {
  return which == 0 ? nearRange : farRange;
}

float MemCameraObject::CameraFov(TimeValue t, Interval& valid) {
  float v = fov;
  if (fovController != nullptr) fovController->ControllerValue(t, &v, valid, 1);
  return v;
}

void MemLightObject::EvaluateLight(TimeValue t, Interval& valid, LightParams& params) {
  params.on = on ? 1 : 0;
  params.color = LightColor(t, valid);
  params.intensity = intensity;
  params.hotspot = LightHotspot(t, valid);
  params.falloff = LightFalloff(t, valid);
  params.useAtten = attenuate ? 1 : 0;
  params.attenStart = attenStart;
  params.attenEnd = attenEnd;
  params.overshoot = overshoot ? 1 : 0;
  params.shadow = castShadows ? 1 : 0;
}

Point3 MemLightObject::LightColor(TimeValue t, Interval& valid) {
  Point3 v = color;
  if (colorController != nullptr) colorController->ControllerValue(t, &v, valid, 1);
  return v;
}

float MemLightObject::LightHotspot(TimeValue t, Interval& valid) {
  float v = hotspot;
  if (hotspotController != nullptr) hotspotController->ControllerValue(t, &v, valid, 1);
  return v;
}

float MemLightObject::LightFalloff(TimeValue t, Interval& valid) {
  float v = falloff;
  if (falloffController != nullptr) falloffController->ControllerValue(t, &v, valid, 1);
  return v;
}

void MemDummyObject::ObjectBounds(TimeValue t, SceneNode* node, void* /*viewport*/, Box3& bounds) {
  Matrix3 offset;  // the object's place in the node's space
  if (auto* mem = dynamic_cast<MemNode*>(node))
    offset = mem->ObjectOffsetMatrix();
  else if (node != nullptr)
    offset = node->ObjectTransform(t) * Inverse(node->NodeTransform(t));
  if (box.IsEmpty()) return;
  for (int i = 0; i < 8; ++i) {
    Point3 corner((i & 1) ? box.pmax.x : box.pmin.x, (i & 2) ? box.pmax.y : box.pmin.y,
                  (i & 4) ? box.pmax.z : box.pmin.z);
    bounds += corner * offset;
  }
}

}  // namespace tsm
