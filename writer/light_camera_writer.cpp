// Point and spot lights with their conditional chunks, and cameras with their ranges.
#include "writer/editor_writer.h"
#include "writer/file_writer.h"

namespace tsm {

namespace {

// Converts radians to degrees in the lens formula; the single-precision constant
// (bits 0x42652EE1).
constexpr float kDegreesPerRadian = 57.29578f;

// The validity that the evaluations start from; the host may narrow it.
Interval EvaluationValidity() {
  return Interval(TIME_NegInfinity, TIME_NegInfinity);
}

bool WritePoint(OutStream& stream, const Point3& p) {
  return WriteF32(stream, p.x) && WriteF32(stream, p.y) && WriteF32(stream, p.z);
}

Point3 NodePosition(SceneNode* node) {
  return node->NodeTransform(RunTime()).GetTrans();
}

bool WriteLight(OutStream& stream, ObjectListItem* item) {
  SceneEntry* entry = item->entry;
  LightParams params;
  Interval valid = EvaluationValidity();
  entry->object->EvaluateLight(RunTime(), valid, params);
  if (!WritePoint(stream, NodePosition(entry->node))) return false;
  if (!WriteEditorChunk(COLOR_FLOAT, stream, &params.color)) return false;
  if (!WriteEditorChunk(LIGHT_OUTER_RANGE, stream, &params.attenEnd)) return false;
  if (!WriteEditorChunk(LIGHT_INNER_RANGE, stream, &params.attenStart)) return false;
  if (!WriteEditorChunk(LIGHT_MULTIPLIER, stream, &params.intensity)) return false;
  if (entry->kind == ENTRY_SPOT_LIGHT && !WriteEditorChunk(SPOT_LIGHT, stream, item)) return false;
  if (params.on == 0 && !WriteEditorChunk(LIGHT_OFF, stream, nullptr)) return false;
  if (params.useAtten != 0 && !WriteEditorChunk(LIGHT_ATTENUATE, stream, nullptr)) return false;
  return true;
}

bool WriteSpot(OutStream& stream, ObjectListItem* item) {
  SceneEntry* entry = item->entry;
  SceneObject* light = entry->object;
  LightParams params;
  Interval valid = EvaluationValidity();
  light->EvaluateLight(RunTime(), valid, params);
  // A spot without a look-at target aims at its own position.
  SceneNode* target = entry->target != nullptr ? entry->target : entry->node;
  if (!WritePoint(stream, NodePosition(target))) return false;
  if (!WriteF32(stream, params.hotspot) || !WriteF32(stream, params.falloff)) return false;
  if (!WriteEditorChunk(SPOT_ROLL, stream, item)) return false;
  if (params.shadow != 0 && !WriteEditorChunk(SPOT_SHADOWED, stream, nullptr)) return false;
  if (!light->UsesGlobalShadows() && !WriteEditorChunk(SPOT_SHADOW_MAP, stream, light))
    return false;
  if (light->ConeDisplayed() && !WriteEditorChunk(SPOT_SHOW_CONE, stream, nullptr)) return false;
  if (light->SpotShape() == 0 && (!WriteEditorChunk(SPOT_RECTANGULAR, stream, nullptr) ||
                                  !WriteEditorChunk(SPOT_ASPECT, stream, light)))
    return false;
  if (params.overshoot != 0 && !WriteEditorChunk(SPOT_OVERSHOOT, stream, nullptr)) return false;
  if (!WriteEditorChunk(SPOT_RAY_BIAS, stream, light)) return false;
  if (light->RayTracedShadows() && !WriteEditorChunk(SPOT_RAYTRACE_SHADOWS, stream, nullptr))
    return false;
  return true;
}

// The roll controller's value at time 0, as the controller gives it; 0 for a node
// without a transform controller or without a roll controller.
bool WriteSpotRoll(OutStream& stream, const ObjectListItem& item) {
  float roll = 0.0f;
  HostController* transform = item.entry->node->TransformController();
  HostController* rollController = transform != nullptr ? transform->RollController() : nullptr;
  if (rollController != nullptr) {
    Interval valid = EvaluationValidity();
    rollController->ControllerValue(0, &roll, valid, 1);
  }
  return WriteF32(stream, roll);
}

bool WriteShadowMap(OutStream& stream, SceneObject* light) {
  Interval bias(0, 0), range(0, 0), size(0, 0);
  return WriteF32(stream, light->ShadowMapBias(0, bias)) &&
         WriteF32(stream, light->ShadowMapRange(0, range)) &&
         WriteU16(stream, static_cast<uint16_t>(light->ShadowMapSize(0, size)));
}

bool WriteCamera(OutStream& stream, ObjectListItem* item) {
  SceneEntry* entry = item->entry;
  CameraParams params;
  params.size = 40;
  Interval valid = EvaluationValidity();
  entry->object->EvaluateCamera(RunTime(), valid, params);
  Point3 position = NodePosition(entry->node);
  // A camera without a look-at target aims at its own position.
  Point3 target = entry->target != nullptr ? NodePosition(entry->target) : position;
  // Computed in double precision and rounded once.
  double degrees = static_cast<double>(params.fov) * static_cast<double>(kDegreesPerRadian);
  float lens = static_cast<float>(2400.0 / degrees);
  if (!WritePoint(stream, position) || !WritePoint(stream, target)) return false;
  if (!WriteF32(stream, 0.0f) || !WriteF32(stream, lens)) return false;
  return WriteEditorChunk(CAMERA_RANGES, stream, entry->object) != 0;
}

bool WriteCameraRanges(OutStream& stream, SceneObject* camera) {
  Interval nearValid(0, 0), farValid(0, 0);
  return WriteF32(stream, camera->CameraRange(0, 0, nearValid)) &&
         WriteF32(stream, camera->CameraRange(0, 1, farValid));
}

}  // namespace

bool WriteLightCameraBody(uint16_t id, OutStream& stream, void* context, bool* known) {
  *known = true;
  Interval valid(0, 0);
  switch (id) {
    case LIGHT_OFF:
    case LIGHT_ATTENUATE:
    case SPOT_SHADOWED:
    case SPOT_SHOW_CONE:
    case SPOT_RECTANGULAR:
    case SPOT_OVERSHOOT:
    case SPOT_RAYTRACE_SHADOWS:
      return true;  // a bare header
    case LIGHT:
    case SPOT_LIGHT:
    case SPOT_ROLL:
    case CAMERA: {
      auto* item = static_cast<ObjectListItem*>(context);
      if (item == nullptr) break;
      if (id == LIGHT) return WriteLight(stream, item);
      if (id == SPOT_LIGHT) return WriteSpot(stream, item);
      if (id == SPOT_ROLL) return WriteSpotRoll(stream, *item);
      return WriteCamera(stream, item);
    }
    case COLOR_FLOAT:
      if (context == nullptr) break;
      return WritePoint(stream, *static_cast<const Point3*>(context));
    case LIGHT_OUTER_RANGE:
    case LIGHT_INNER_RANGE:
    case LIGHT_MULTIPLIER:
      if (context == nullptr) break;
      return WriteF32(stream, *static_cast<const float*>(context));
    case SPOT_SHADOW_MAP:
    case SPOT_ASPECT:
    case SPOT_RAY_BIAS:
    case CAMERA_RANGES: {
      auto* object = static_cast<SceneObject*>(context);
      if (object == nullptr) break;
      if (id == SPOT_SHADOW_MAP) return WriteShadowMap(stream, object);
      if (id == SPOT_ASPECT) return WriteF32(stream, object->SpotAspect(0, valid));
      if (id == SPOT_RAY_BIAS) return WriteF32(stream, object->RayTraceBias(0, valid));
      return WriteCameraRanges(stream, object);
    }
    default:
      *known = false;
      return true;
  }
  return SoftError(kUnknownChunkText);  // a chunk without its data
}

}  // namespace tsm
