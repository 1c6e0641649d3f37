#include "scene/mem_controllers.h"

#include <algorithm>
#include <cmath>

namespace tsm {

static_assert(sizeof(MemKey) == 40, "a key's value members share their storage");

namespace {

// The two keys around t and the fraction of the way from the first to the second. Before
// the first key and after the last, both are that key.
struct Span {
  size_t a = 0;
  size_t b = 0;
  float u = 0.0f;
};

// hint is the first key of the span answered last: the exporter asks for a controller's
// values in key order, so the span of the next query is that one or the next, and is
// found without a search. The answer is the one of the binary search whatever the hint.
Span Locate(const SceneVector<MemKey>& keys, TimeValue t, size_t& hint) {
  Span s;
  if (t <= keys.front().time) return s;
  if (t >= keys.back().time) {
    s.a = s.b = keys.size() - 1;
    return s;
  }
  // Here there are two keys at least and keys[0].time < t < keys.back().time.
  size_t b = 0;
  for (size_t a = hint; a < hint + 2 && a + 1 < keys.size(); ++a) {
    if (keys[a].time <= t && t < keys[a + 1].time) {
      b = a + 1;
      break;
    }
  }
  if (b == 0) {
    auto it = std::upper_bound(keys.begin(), keys.end(), t,
                               [](TimeValue v, const MemKey& k) { return v < k.time; });
    b = static_cast<size_t>(it - keys.begin());
  }
  s.b = b;
  s.a = s.b - 1;
  hint = s.a;
  double span = double(keys[s.b].time) - double(keys[s.a].time);
  s.u = span > 0 ? float((double(t) - double(keys[s.a].time)) / span) : 1.0f;
  return s;
}

Point3 Lerp(const Point3& a, const Point3& b, float u) {
  return a + (b - a) * u;
}

// Spherical-linear interpolation along the shorter arc.
Quat Slerp(Quat a, Quat b, float u) {
  double dot = double(a.x) * b.x + double(a.y) * b.y + double(a.z) * b.z + double(a.w) * b.w;
  if (dot < 0) {
    b = Quat(-b.x, -b.y, -b.z, -b.w);
    dot = -dot;
  }
  double wa, wb;
  if (u == 0.0f && !std::isnan(dot)) {
    // At the first key itself, as at a key time: the weights the general formulas give
    // there, exactly (sin(th) / sin(th) is 1), without the arc's sines.
    wa = 1.0;
    wb = u;
  } else if (dot > 0.9995) {
    wa = 1.0 - u;
    wb = u;
  } else {
    double th = std::acos(std::min(1.0, dot));
    double sn = std::sin(th);
    wa = std::sin((1.0 - u) * th) / sn;
    wb = std::sin(u * th) / sn;
  }
  return Normalize(Quat(float(wa * a.x + wb * b.x), float(wa * a.y + wb * b.y),
                        float(wa * a.z + wb * b.z), float(wa * a.w + wb * b.w)));
}

}  // namespace

Class_ID ControllerClassFor(ControlKind kind, bool keyBearing) {
  switch (kind) {
    case ControlKind::FLOAT:
      return keyBearing ? kKeyFloatClass : kSampledFloatClass;
    case ControlKind::POSITION:
      return keyBearing ? kKeyPositionClass : kSampledPositionClass;
    case ControlKind::ROTATION:
      return keyBearing ? kKeyRotationClass : kSampledRotationClass;
    case ControlKind::SCALE:
      return keyBearing ? kKeyScaleClass : kSampledScaleClass;
    case ControlKind::POINT3:
      return keyBearing ? kKeyPoint3Class : kSampledPoint3Class;
  }
  return kSampledFloatClass;
}

bool MemController::KeyBearing() const {
  return classId == ControllerClassFor(kind, true);
}

HostKeyControl* MemController::KeyInterface(uint32_t id) {
  return id == KEY_INTERFACE_ID && KeyBearing() ? this : nullptr;
}

void MemController::GetKey(int i, SplineKey* key) {
  const MemKey& k = keys[i];
  *key = SplineKey();
  key->time = k.time;
  key->tens = k.tens;
  key->cont = k.cont;
  key->bias = k.bias;
  key->easeIn = k.easeIn;
  key->easeOut = k.easeOut;
  // Only the member of the controller's kind holds the value; the others answer what an
  // unset key holds: 0, the origin (also as scale factors) and no rotation.
  key->sval.s = Point3();
  switch (kind) {
    case ControlKind::FLOAT:
      key->fval = k.f;
      break;
    case ControlKind::POSITION:
    case ControlKind::POINT3:
    case ControlKind::SCALE:
      key->pval = k.p;
      key->sval.s = k.p;
      break;
    case ControlKind::ROTATION:
      if (KeyBearing()) key->aval = k.aa;
      break;
  }
}

void MemController::ControllerValue(TimeValue t, float* v, Interval&, int) {
  if (kind != ControlKind::FLOAT) return;
  if (keys.empty()) {
    *v = constF;
    return;
  }
  Span s = Locate(keys, t, hint_);
  *v = keys[s.a].f + (keys[s.b].f - keys[s.a].f) * s.u;
}

void MemController::ControllerValue(TimeValue t, Point3* v, Interval&, int) {
  if (kind != ControlKind::POSITION && kind != ControlKind::POINT3) return;
  if (keys.empty()) {
    *v = constP;
    return;
  }
  Span s = Locate(keys, t, hint_);
  *v = Lerp(keys[s.a].p, keys[s.b].p, s.u);
}

void MemController::ControllerValue(TimeValue t, Quat* v, Interval&, int) {
  if (kind != ControlKind::ROTATION) return;
  if (keys.empty()) {
    *v = constQ;
    return;
  }
  Span s = Locate(keys, t, hint_);
  if (!KeyBearing()) {
    *v = Slerp(keys[s.a].q, keys[s.b].q, s.u);
    return;
  }
  // Key-bearing keys hold the rotation from the previous key: compose up to key b.
  Quat qa, qb;
  for (size_t i = 0; i <= s.b; ++i) {
    Quat d = QuatFromAngAxis(keys[i].aa.angle, keys[i].aa.axis);
    qb = i == 0 ? d : Normalize(d * qb);
    if (i == s.a) qa = qb;
  }
  *v = Slerp(qa, qb, s.u);
}

void MemController::ControllerValue(TimeValue t, ScaleValue* v, Interval&, int) {
  if (kind != ControlKind::SCALE) return;
  v->q = Quat();
  if (keys.empty()) {
    v->s = constS;
    return;
  }
  Span s = Locate(keys, t, hint_);
  v->s = Lerp(keys[s.a].p, keys[s.b].p, s.u);
}

}  // namespace tsm
