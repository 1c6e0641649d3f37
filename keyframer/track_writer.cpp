#include <cstring>

#include "keyframer/keyframer.h"
#include "writer/chunk_ids.h"

namespace tsm {

namespace {

// Spline parameter bits, in the order the host's key holds the parameters.
constexpr uint16_t kSplineTension = 0x0001;

// One key, gathered in memory and written with a single write: frame, spline flags, up
// to five parameters and up to four value floats.
class KeyBytes {
 public:
  void U16(uint16_t v) {
    b_[n_++] = static_cast<uint8_t>(v);
    b_[n_++] = static_cast<uint8_t>(v >> 8);
  }
  void U32(uint32_t v) {
    for (int i = 0; i < 4; ++i) b_[n_++] = static_cast<uint8_t>(v >> (8 * i));
  }
  void F32(float f) {
    uint32_t bits;
    std::memcpy(&bits, &f, 4);
    U32(bits);
  }
  void P3(const Point3& p) {
    F32(p.x);
    F32(p.y);
    F32(p.z);
  }
  void Angle(float angle, const Point3& axis) {
    F32(angle);
    P3(axis);
  }
  bool WriteTo(OutStream& s) const { return WriteBytes(s, b_, n_); }

 private:
  uint8_t b_[48];
  size_t n_ = 0;
};

// The five parameters of a copied key: a flag bit for each that compares unequal to 0
// (so -0.0 is left out), then the present ones in bit order.
void PutSplineParams(KeyBytes& k, const SplineKey& key) {
  const float params[5] = {key.tens, key.cont, key.bias, key.easeIn, key.easeOut};
  uint16_t flags = 0;
  for (int i = 0; i < 5; ++i)
    if (params[i] != 0.0f) flags |= static_cast<uint16_t>(kSplineTension << i);
  k.U16(flags);
  for (int i = 0; i < 5; ++i)
    if (params[i] != 0.0f) k.F32(params[i]);
}

void PutCopiedValue(KeyBytes& k, const SplineKey& key, TrackKind kind, float factor) {
  switch (kind) {
    case TRACK_FLOAT:
      k.F32(key.fval * factor);
      break;
    case TRACK_POSITION:
    case TRACK_COLOR:
      k.P3(key.pval);
      break;
    case TRACK_SCALE:
      k.P3(key.sval.s);
      break;
    case TRACK_ROTATION:  // as the key holds it: already relative to the previous key
      k.Angle(key.aval.angle, key.aval.axis);
      break;
  }
}

// The controller's value at t as the track writes it. prev is the rotation at the
// previous key time (the identity before the first key) and becomes the one at t.
void PutSampledValue(KeyBytes& k, HostController* c, TimeValue t, TrackKind kind, float factor,
                     Interval& valid, Quat& prev) {
  switch (kind) {
    case TRACK_FLOAT: {
      float v = 0.0f;
      c->ControllerValue(t, &v, valid, 1);
      k.F32(v * factor);
      break;
    }
    case TRACK_POSITION:
    case TRACK_COLOR: {
      Point3 p;
      c->ControllerValue(t, &p, valid, 1);
      k.P3(p);
      break;
    }
    case TRACK_SCALE: {
      ScaleValue sv;
      c->ControllerValue(t, &sv, valid, 1);
      k.P3(sv.s);
      break;
    }
    case TRACK_ROTATION: {
      Quat q;
      c->ControllerValue(t, &q, valid, 1);
      AngAxis d(q / prev);
      prev = q;
      k.Angle(d.angle, d.axis);
      break;
    }
  }
}

// A one-key track holding the float v.
bool WriteSingleFloat(OutStream& s, float v) {
  return WriteSingleKeyHeader(s) && WriteF32(s, v);
}

bool WriteSinglePoint(OutStream& s, const Point3& p) {
  return WriteSingleKeyHeader(s) && WriteF32(s, p.x) && WriteF32(s, p.y) && WriteF32(s, p.z);
}

bool WriteSingleRotation(OutStream& s, const Quat& q) {
  float angle = 0.0f;
  Point3 axis;
  AngAxisFromQ(q, &angle, axis);
  return WriteSingleKeyHeader(s) && WriteF32(s, angle) && WriteF32(s, axis.x) &&
         WriteF32(s, axis.y) && WriteF32(s, axis.z);
}

// A track from a controller, or, when it has no keys, one key holding fallback(), which
// queries the controller at time 0.
template <class Fallback>
bool WriteKeysOr(OutStream& s, HostController* c, TrackKind kind, float factor,
                 Fallback&& fallback) {
  switch (WriteControllerTrack(s, c, kind, factor)) {
    case TRACK_WRITTEN:
      return true;
    case TRACK_NO_KEYS:
      return fallback();
    case TRACK_FAILED:
      break;
  }
  return false;
}

}  // namespace

int32_t FrameOfTicks(TimeValue t) {
  return t / GetTicksPerFrame();  // integer division truncates toward zero
}

bool HasSplineKeys(HostController* controller) {
  if (controller == nullptr) return false;
  Class_ID id = controller->ClassIdentity();
  return id.PartB() == 0 && id.PartA() >= 0x442311 && id.PartA() <= 0x442315;
}

bool WriteSingleKeyHeader(OutStream& s) {
  return WriteU16(s, 0) && WriteU32(s, 0) && WriteU32(s, 0) && WriteU32(s, 1) && WriteU32(s, 0) &&
         WriteU16(s, 0);
}

TrackResult WriteControllerTrack(OutStream& s, HostController* c, TrackKind kind, float factor) {
  const int n = c->KeyCount();
  HostKeyControl* keys = c->KeyInterface(KEY_INTERFACE_ID);
  if (n <= 0) return TRACK_NO_KEYS;
  if (!(WriteU16(s, 0) && WriteI32(s, FrameOfTicks(c->KeyTime(0))) &&
        WriteI32(s, FrameOfTicks(c->KeyTime(n - 1))) && WriteU32(s, static_cast<uint32_t>(n))))
    return TRACK_FAILED;

  const bool copied = keys != nullptr && HasSplineKeys(c);
  Quat prev;  // the sampled rotation path's previous rotation: the identity at first
  Interval valid(TIME_NegInfinity, TIME_NegInfinity);
  for (int i = 0; i < n; ++i) {
    KeyBytes k;
    if (copied) {
      SplineKey key;
      keys->GetKey(i, &key);
      k.U32(static_cast<uint32_t>(FrameOfTicks(key.time)));
      PutSplineParams(k, key);
      PutCopiedValue(k, key, kind, factor);
    } else {
      TimeValue t = c->KeyTime(i);
      k.U32(static_cast<uint32_t>(FrameOfTicks(t)));
      k.U16(0);  // no spline parameters
      PutSampledValue(k, c, t, kind, factor, valid, prev);
    }
    if (!k.WriteTo(s)) return TRACK_FAILED;
  }
  return TRACK_WRITTEN;
}

bool WriteFloatTrack(OutStream& s, HostController* controller, float factor, float staticValue) {
  if (controller == nullptr) return WriteSingleFloat(s, staticValue);
  return WriteKeysOr(s, controller, TRACK_FLOAT, factor, [&] {
    float v = 0.0f;
    Interval valid(TIME_NegInfinity, TIME_NegInfinity);
    controller->ControllerValue(0, &v, valid, 1);
    return WriteSingleFloat(s, v * factor);
  });
}

bool WriteTrackBody(OutStream& s, int32_t id, HostController* c, const TrackStatics& statics) {
  // A transform track is asked for without a controller only in static mode; should it
  // ever be otherwise, the statics (an identity transform by default) stand in.
  Interval valid(TIME_NegInfinity, TIME_NegInfinity);
  switch (ChunkLow(id)) {
    case POSITION_TRACK:
      if (statics.transformMode || c == nullptr) return WriteSinglePoint(s, statics.translation);
      return WriteKeysOr(s, c, TRACK_POSITION, 1.0f, [&] {
        Point3 p;
        c->ControllerValue(0, &p, valid, 1);
        return WriteSinglePoint(s, p);
      });
    case ROTATION_TRACK:
      if (statics.transformMode || c == nullptr) return WriteSingleRotation(s, statics.rotation);
      return WriteKeysOr(s, c, TRACK_ROTATION, 1.0f, [&] {
        Quat q;  // the identity before the query
        c->ControllerValue(0, &q, valid, 1);
        return WriteSingleRotation(s, q);
      });
    case SCALE_TRACK:
      if (statics.transformMode || c == nullptr) return WriteSinglePoint(s, statics.scale);
      return WriteKeysOr(s, c, TRACK_SCALE, 1.0f, [&] {
        ScaleValue sv;  // its orientation the identity before the query
        c->ControllerValue(0, &sv, valid, 1);
        return WriteSinglePoint(s, sv.s);
      });
    case COLOR_TRACK:
      if (c == nullptr) return WriteSinglePoint(s, statics.color);
      return WriteKeysOr(s, c, TRACK_COLOR, 1.0f, [&] {
        Point3 p;
        c->ControllerValue(0, &p, valid, 1);
        return WriteSinglePoint(s, p);
      });
    case FOV_TRACK:
      return WriteFloatTrack(s, c, kDegreesPerRadian, statics.floatValue);
    case ROLL_TRACK:
      return WriteFloatTrack(s, c, -kDegreesPerRadian, statics.floatValue);
    case HOTSPOT_TRACK:
    case FALLOFF_TRACK:
      return WriteFloatTrack(s, c, 1.0f, statics.floatValue);
    default:
      return true;
  }
}

}  // namespace tsm
