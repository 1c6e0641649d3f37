#include "scene/mem_objects.h"

namespace tsm {

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
