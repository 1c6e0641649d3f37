// Animation in the scene format: a node's "transform" controller with its position,
// rotation, scale and roll sub-controllers, a camera's "fovController" and a light's
// "colorController", "hotspotController" and "falloffController".
#include <cmath>
#include <memory>

#include "formats/json/json_bulk.h"
#include "formats/json/scene_json_parts.h"
#include "scene/mem_controllers.h"
#include "scene/mem_objects.h"

namespace tsm {
namespace {

constexpr double kRadiansPerDegree = 3.14159265358979323846 / 180.0;

// How the values of one controller are read and where its static value comes from.
struct ValueRule {
  ControlKind kind = ControlKind::FLOAT;
  double unit = 1.0;      // FLOAT: file value times unit is the value held
  double lo = -HUGE_VAL;  // FLOAT: the file value must lie strictly between lo and hi
  double hi = HUGE_VAL;   //        (when they are finite)
  float constF = 0.0f;    // the value without keys unless "value" is given
  Point3 constP;
  Quat constQ;
  Point3 constS{1.0f, 1.0f, 1.0f};
};

Point3 ReadScaleValue(const Json& value, const std::string& path) {
  Point3 s;
  if (value.is_number()) {
    float f = ReadFloat(value, path);
    s = Point3(f, f, f);
  } else if (value.is_array()) {
    s = ReadPoint3(value, path);
  } else {
    Fail(path, "expected a scale: one number, or [x, y, z], found " + KindOf(value));
  }
  CheckScale(s, path);
  return s;
}

// A float value within the rule's bounds.
bool InRule(float f, const ValueRule& rule) {
  return !std::isfinite(rule.lo) || (f > rule.lo && f < rule.hi);
}

float ReadFloatValue(const Json& value, const std::string& path, const ValueRule& rule) {
  float f = ReadFloat(value, path);
  if (!InRule(f, rule))
    Fail(path, "the angle must be above " + std::to_string(int(rule.lo)) + " and below " +
                   std::to_string(int(rule.hi)) + " degrees");
  return static_cast<float>(f * rule.unit);
}

// The value of a key (or the controller's "value") into key. A key-bearing rotation key
// holds the rotation from the previous key as angle and axis; a sampled one, and the
// controller's value, an absolute rotation.
void ReadValue(const Json& value, const std::string& path, const ValueRule& rule, bool keyedKey,
               MemKey& key) {
  switch (rule.kind) {
    case ControlKind::FLOAT:
      key.f = ReadFloatValue(value, path, rule);
      break;
    case ControlKind::POSITION:
    case ControlKind::POINT3:
      key.p = ReadPoint3(value, path);
      break;
    case ControlKind::SCALE:
      key.p = ReadScaleValue(value, path);
      break;
    case ControlKind::ROTATION:
      if (keyedKey) {
        Members r(value, path, {"axis", "angle"});
        key.aa = ReadAxisAngle(r, "a rotation needs \"axis\" and \"angle\" (degrees)");
      } else {
        key.q = ReadRotation(value, path);
      }
      break;
  }
}

// The keys a fast path read, checked and completed as the general reader does with its
// keys (json_bulk.h): times in ticks, values of the rule's kind. Each key is completed in
// place, and the keys become the controller's.
void TakeBulkKeys(BulkKeys& raw, const ValueRule& rule, bool keyed, int ticksPerFrame,
                  const std::string& at, MemController& ctl) {
  const uint8_t params = BulkKeys::kTension | BulkKeys::kContinuity | BulkKeys::kBias |
                         BulkKeys::kEaseTo | BulkKeys::kEaseFrom;
  TimeValue previous = 0;
  for (size_t i = 0; i < raw.keys.size(); ++i) {
    const MemKey r = raw.keys[i];
    const uint8_t form = raw.forms[i] & BulkKeys::kFormMask;
    if (!keyed && (raw.forms[i] & params) != 0) FailBulk(at);
    MemKey k;
    if ((raw.forms[i] & BulkKeys::kTicks) != 0)
      k.time = r.time;
    else if (!TicksOfFrame(r.time, ticksPerFrame, &k.time))
      FailBulk(at);
    if (i > 0 && k.time <= previous) FailBulk(at);
    previous = k.time;
    switch (rule.kind) {
      case ControlKind::FLOAT:
        if (form != BulkKeys::kNumber || !InRule(r.f, rule)) FailBulk(at);
        k.f = static_cast<float>(r.f * rule.unit);
        break;
      case ControlKind::POSITION:
      case ControlKind::POINT3:
        if (form != BulkKeys::kArray3) FailBulk(at);
        k.p = r.p;
        break;
      case ControlKind::SCALE:
        if (form == BulkKeys::kNumber)
          k.p = Point3(r.f, r.f, r.f);
        else if (form == BulkKeys::kArray3)
          k.p = r.p;
        else
          FailBulk(at);
        CheckScale(k.p, at);
        break;
      case ControlKind::ROTATION:
        if (form == BulkKeys::kAxisAngle) {
          AngAxis aa;
          if (!UnitAxisAngle(r.aa.axis, r.aa.angle, &aa)) FailBulk(at);
          if (keyed)
            k.aa = aa;
          else
            k.q = QuatFromAngAxis(aa.angle, aa.axis);
        } else if (form == BulkKeys::kQuat && !keyed) {
          if (!UnitQuat(r.q, &k.q)) FailBulk(at);
        } else {
          FailBulk(at);
        }
        break;
    }
    if (keyed) {
      k.tens = r.tens;
      k.cont = r.cont;
      k.bias = r.bias;
      k.easeIn = r.easeIn;
      k.easeOut = r.easeOut;
    }
    raw.keys[i] = k;
  }
  ctl.keys = std::move(raw.keys);
}

// One controller definition: {"class", "value", "keys"}.
MemController* ReadController(const Json& value, const std::string& path, const ValueRule& rule,
                              MemScene& scene) {
  Members c(value, path, {"class", "value", "keys"});
  std::string cls = ReadString(
      c.Need("class", "a controller needs its class, \"keyed\" or \"sampled\""), c.At("class"));
  if (cls != "keyed" && cls != "sampled")
    Fail(c.At("class"),
         "unknown controller class " + Quote(cls) + "; expected \"keyed\" or \"sampled\"");
  const bool keyed = cls == "keyed";
  auto ctl = std::make_unique<MemController>(rule.kind, keyed);
  ctl->constF = rule.constF;
  ctl->constP = rule.kind == ControlKind::SCALE ? rule.constS : rule.constP;
  ctl->constQ = rule.constQ;
  ctl->constS = rule.constS;
  if (const Json* v = c.Find("value")) {
    MemKey k;
    ReadValue(*v, c.At("value"), rule, false, k);
    // Only the member of the kind holds the value; the others get an unset key's.
    const MemKey unset;
    const bool isFloat = rule.kind == ControlKind::FLOAT;
    const bool isRotation = rule.kind == ControlKind::ROTATION;
    ctl->constF = isFloat ? k.f : unset.f;
    ctl->constP = !isFloat && !isRotation ? k.p : unset.p;
    ctl->constQ = isRotation ? k.q : unset.q;
    if (rule.kind == ControlKind::SCALE) ctl->constS = k.p;
  }
  BulkKeys bulkKeys;
  BulkValues* bulk = CurrentBulk();
  const Json* keys = c.Find("keys");
  if (keys != nullptr && bulk != nullptr && bulk->Take(*keys, &bulkKeys)) {
    TakeBulkKeys(bulkKeys, rule, keyed, scene.ticksPerFrame, c.At("keys"), *ctl);
  } else if (keys != nullptr) {
    const std::string at = c.At("keys");
    const Json& list = ReadArray(*keys, at);
    ctl->keys.reserve(list.size());
    std::vector<std::string> allowed = {"time", "value"};
    if (keyed)
      allowed.insert(allowed.end(), {"tension", "continuity", "bias", "easeTo", "easeFrom"});
    for (size_t i = 0; i < list.size(); ++i) {
      Members km(list[i], ChildPath(at, i), allowed);
      MemKey k;
      k.time =
          ReadTime(km.Need("time", "every key needs its time"), km.At("time"), scene.ticksPerFrame);
      if (!ctl->keys.empty() && k.time <= ctl->keys.back().time)
        Fail(km.At("time"),
             "key times must increase strictly: this key is not later than the "
             "one before");
      ReadValue(km.Need("value", "every key needs its value"), km.At("value"), rule, keyed, k);
      if (keyed) {
        k.tens = km.Float("tension", 0.0f);
        k.cont = km.Float("continuity", 0.0f);
        k.bias = km.Float("bias", 0.0f);
        k.easeIn = km.Float("easeTo", 0.0f);
        k.easeOut = km.Float("easeFrom", 0.0f);
      }
      ctl->keys.push_back(k);
    }
  }
  return scene.Own(std::move(ctl));
}

ValueRule FloatRule(double unit, float constF, bool coneAngle) {
  ValueRule rule;
  rule.kind = ControlKind::FLOAT;
  rule.unit = unit;
  rule.constF = constF;
  if (coneAngle) {
    rule.lo = 0.0;
    rule.hi = 180.0;
  }
  return rule;
}

// The member key of m as a controller of rule, or null when m has no such member.
MemController* OptionalController(const Members& m, const std::string& key, const ValueRule& rule,
                                  MemScene& scene) {
  const Json* v = m.Find(key);
  return v != nullptr ? ReadController(*v, m.At(key), rule, scene) : nullptr;
}

}  // namespace

TimeValue ReadTime(const Json& value, const std::string& path, int ticksPerFrame) {
  if (value.is_object()) {
    Members t(value, path, {"ticks"});
    return static_cast<TimeValue>(ReadInteger(t.Need("ticks", "a time object holds \"ticks\""),
                                              t.At("ticks"), INT32_MIN, INT32_MAX));
  }
  int64_t frame = ReadInteger(value, path, INT32_MIN, INT32_MAX);
  TimeValue ticks;
  if (!TicksOfFrame(frame, ticksPerFrame, &ticks))
    Fail(path, "frame " + std::to_string(frame) + " at " + std::to_string(ticksPerFrame) +
                   " ticks a frame lies outside the host's time range");
  return ticks;
}

bool TicksOfFrame(int64_t frame, int ticksPerFrame, TimeValue* ticks) {
  int64_t t = frame * ticksPerFrame;
  if (t < INT32_MIN || t > INT32_MAX) return false;
  *ticks = static_cast<TimeValue>(t);
  return true;
}

void CheckScale(const Point3& s, const std::string& path) {
  if (s.x == 0.0f || s.y == 0.0f || s.z == 0.0f)
    Fail(path,
         "a scale factor cannot be 0 (the node's transform would have no inverse); a "
         "negative factor, a mirror, is allowed");
}

HostController* ReadTransformController(const Json& value, const std::string& path,
                                        const Matrix3& local, MemScene& scene) {
  Members m(value, path, {"position", "rotation", "scale", "roll"});
  ValueRule pos, rot, scl;
  pos.kind = ControlKind::POSITION;
  rot.kind = ControlKind::ROTATION;
  scl.kind = ControlKind::SCALE;
  Point3 p, s;
  Quat q;
  DecomposeMatrix(local, p, q, s);
  pos.constP = p;
  rot.constQ = q;
  scl.constS = s;
  auto tc = std::make_unique<MemTransformController>();
  tc->position = OptionalController(m, "position", pos, scene);
  tc->rotation = OptionalController(m, "rotation", rot, scene);
  tc->scale = OptionalController(m, "scale", scl, scene);
  tc->roll = OptionalController(m, "roll", FloatRule(kRadiansPerDegree, 0.0f, false), scene);
  return scene.Own(std::move(tc));
}

void ReadObjectControllers(MemObject& object, const Members& m, MemScene& scene) {
  if (auto* camera = dynamic_cast<MemCameraObject*>(&object)) {
    camera->fovController = OptionalController(
        m, "fovController", FloatRule(kRadiansPerDegree, camera->fov, true), scene);
    return;
  }
  auto* light = dynamic_cast<MemLightObject*>(&object);
  if (light == nullptr) return;
  ValueRule color;
  color.kind = ControlKind::POINT3;
  color.constP = light->color;
  light->colorController = OptionalController(m, "colorController", color, scene);
  if (!light->IsSpot()) return;
  light->hotspotController =
      OptionalController(m, "hotspotController", FloatRule(1.0, light->hotspot, true), scene);
  light->falloffController =
      OptionalController(m, "falloffController", FloatRule(1.0, light->falloff, true), scene);
}

}  // namespace tsm
