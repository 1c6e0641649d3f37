#include <cstring>

#include "keyframer/keyframer.h"
#include "writer/byte_batch.h"
#include "writer/chunk_ids.h"

namespace tsm {

namespace {

// Spline parameter bits, in the order the host's key holds the parameters.
constexpr uint16_t kSplineTension = 0x0001;

// Stores one key's fields straight into a batch's room, little-endian.
class KeyStore {
 public:
  explicit KeyStore(uint8_t* p) : p_(p) {}
  void U16(uint16_t v) { p_ = ByteBatch::StoreU16(p_, v); }
  void U32(uint32_t v) { p_ = ByteBatch::StoreU32(p_, v); }
  void F32(float f) { p_ = ByteBatch::StoreF32(p_, f); }
  void P3(const Point3& p) {
    F32(p.x);
    F32(p.y);
    F32(p.z);
  }
  void Angle(float angle, const Point3& axis) {
    F32(angle);
    P3(axis);
  }
  uint8_t* End() const { return p_; }

 private:
  uint8_t* p_;
};

// The most bytes one key takes: frame, spline flags, five parameters, four value floats.
constexpr size_t kMaxKeyBytes = 4 + 2 + 5 * 4 + 4 * 4;

// The five parameters of a copied key: a flag bit for each that compares unequal to 0
// (so -0.0 is left out), then the present ones in bit order.
void PutSplineParams(KeyStore& k, const SplineKey& key) {
  const float params[5] = {key.tens, key.cont, key.bias, key.easeIn, key.easeOut};
  uint16_t flags = 0;
  for (int i = 0; i < 5; ++i)
    if (params[i] != 0.0f) flags |= static_cast<uint16_t>(kSplineTension << i);
  k.U16(flags);
  for (int i = 0; i < 5; ++i)
    if (params[i] != 0.0f) k.F32(params[i]);
}

void PutCopiedValue(KeyStore& k, const SplineKey& key, TrackKind kind, float factor) {
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
void PutSampledValue(KeyStore& k, HostController* c, TimeValue t, TrackKind kind, float factor,
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

// The header and every key of a track, into batch.
TrackResult PutControllerTrack(ChunkBatch& batch, HostController* c, TrackKind kind,
                               float factor) {
  const int n = c->KeyCount();
  HostKeyControl* keys = c->KeyInterface(KEY_INTERFACE_ID);
  if (n <= 0) return TRACK_NO_KEYS;
  const int32_t ticksPerFrame = GetTicksPerFrame();  // FrameOfTicks, asked once a track
  uint8_t* head = batch.Reserve(14);
  if (head == nullptr) return TRACK_FAILED;
  KeyStore h(head);
  h.U16(0);
  h.U32(static_cast<uint32_t>(c->KeyTime(0) / ticksPerFrame));
  h.U32(static_cast<uint32_t>(c->KeyTime(n - 1) / ticksPerFrame));
  h.U32(static_cast<uint32_t>(n));

  const bool copied = keys != nullptr && HasSplineKeys(c);
  Quat prev;  // the sampled rotation path's previous rotation: the identity at first
  Interval valid(TIME_NegInfinity, TIME_NegInfinity);
  for (int i = 0; i < n; ++i) {
    uint8_t* room = batch.Reserve(kMaxKeyBytes);
    if (room == nullptr) return TRACK_FAILED;
    KeyStore k(room);
    if (copied) {
      SplineKey key;
      keys->GetKey(i, &key);
      k.U32(static_cast<uint32_t>(key.time / ticksPerFrame));
      PutSplineParams(k, key);
      PutCopiedValue(k, key, kind, factor);
    } else {
      TimeValue t = c->KeyTime(i);
      k.U32(static_cast<uint32_t>(t / ticksPerFrame));
      k.U16(0);  // no spline parameters
      PutSampledValue(k, c, t, kind, factor, valid, prev);
    }
    batch.EndAt(k.End());
  }
  return TRACK_WRITTEN;
}

// The 20 bytes of a one-key track up to its value (see WriteSingleKeyHeader), stored at
// p; answers the byte after them.
uint8_t* StoreSingleKeyHeader(uint8_t* p) {
  p = ByteBatch::StoreU16(p, 0);  // flags
  p = ByteBatch::StoreU32(p, 0);  // first frame
  p = ByteBatch::StoreU32(p, 0);  // last frame
  p = ByteBatch::StoreU32(p, 1);  // one key
  p = ByteBatch::StoreU32(p, 0);  // at frame 0
  return ByteBatch::StoreU16(p, 0);  // without spline parameters
}

// A one-key track holding the count floats of v.
bool PutSingle(ChunkBatch& b, const float* v, int count) {
  uint8_t* p = b.Reserve(20 + 4 * static_cast<size_t>(count));
  if (p == nullptr) return false;
  p = StoreSingleKeyHeader(p);
  for (int i = 0; i < count; ++i) p = ByteBatch::StoreF32(p, v[i]);
  return true;
}

bool PutSingleFloat(ChunkBatch& b, float v) {
  return PutSingle(b, &v, 1);
}

bool PutSinglePoint(ChunkBatch& b, const Point3& p) {
  const float v[3] = {p.x, p.y, p.z};
  return PutSingle(b, v, 3);
}

bool PutSingleRotation(ChunkBatch& b, const Quat& q) {
  float angle = 0.0f;
  Point3 axis;
  AngAxisFromQ(q, &angle, axis);
  const float v[4] = {angle, axis.x, axis.y, axis.z};
  return PutSingle(b, v, 4);
}

// A track from a controller, or, when it has no keys, one key holding fallback(), which
// queries the controller at time 0.
template <class Fallback>
bool PutKeysOr(ChunkBatch& b, HostController* c, TrackKind kind, float factor,
               Fallback&& fallback) {
  switch (PutControllerTrack(b, c, kind, factor)) {
    case TRACK_WRITTEN:
      return true;
    case TRACK_NO_KEYS:
      return fallback();
    case TRACK_FAILED:
      break;
  }
  return false;
}

bool PutFloatTrack(ChunkBatch& b, HostController* controller, float factor, float staticValue) {
  if (controller == nullptr) return PutSingleFloat(b, staticValue);
  return PutKeysOr(b, controller, TRACK_FLOAT, factor, [&] {
    float v = 0.0f;
    Interval valid(TIME_NegInfinity, TIME_NegInfinity);
    controller->ControllerValue(0, &v, valid, 1);
    return PutSingleFloat(b, v * factor);
  });
}

bool PutTrackBody(ChunkBatch& b, int32_t id, HostController* c, const TrackStatics& statics) {
  // A transform track is asked for without a controller only in static mode; should it
  // ever be otherwise, the statics (an identity transform by default) stand in.
  Interval valid(TIME_NegInfinity, TIME_NegInfinity);
  switch (ChunkLow(id)) {
    case POSITION_TRACK:
      if (statics.transformMode || c == nullptr) return PutSinglePoint(b, statics.translation);
      return PutKeysOr(b, c, TRACK_POSITION, 1.0f, [&] {
        Point3 p;
        c->ControllerValue(0, &p, valid, 1);
        return PutSinglePoint(b, p);
      });
    case ROTATION_TRACK:
      if (statics.transformMode || c == nullptr) return PutSingleRotation(b, statics.rotation);
      return PutKeysOr(b, c, TRACK_ROTATION, 1.0f, [&] {
        Quat q;  // the identity before the query
        c->ControllerValue(0, &q, valid, 1);
        return PutSingleRotation(b, q);
      });
    case SCALE_TRACK:
      if (statics.transformMode || c == nullptr) return PutSinglePoint(b, statics.scale);
      return PutKeysOr(b, c, TRACK_SCALE, 1.0f, [&] {
        ScaleValue sv;  // its orientation the identity before the query
        c->ControllerValue(0, &sv, valid, 1);
        return PutSinglePoint(b, sv.s);
      });
    case COLOR_TRACK:
      if (c == nullptr) return PutSinglePoint(b, statics.color);
      return PutKeysOr(b, c, TRACK_COLOR, 1.0f, [&] {
        Point3 p;
        c->ControllerValue(0, &p, valid, 1);
        return PutSinglePoint(b, p);
      });
    case FOV_TRACK:
      return PutFloatTrack(b, c, kDegreesPerRadian, statics.floatValue);
    case ROLL_TRACK:
      return PutFloatTrack(b, c, -kDegreesPerRadian, statics.floatValue);
    case HOTSPOT_TRACK:
    case FALLOFF_TRACK:
      return PutFloatTrack(b, c, 1.0f, statics.floatValue);
    default:
      return true;
  }
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
  uint8_t bytes[20];
  StoreSingleKeyHeader(bytes);
  return WriteBytes(s, bytes, sizeof bytes);
}

TrackResult WriteControllerTrack(OutStream& s, HostController* c, TrackKind kind, float factor) {
  ChunkBatch batch(s);
  TrackResult r = PutControllerTrack(batch, c, kind, factor);
  if (r == TRACK_WRITTEN && !batch.Finish()) return TRACK_FAILED;
  return r;
}

bool WriteFloatTrack(OutStream& s, HostController* controller, float factor, float staticValue) {
  ChunkBatch batch(s);
  return PutFloatTrack(batch, controller, factor, staticValue) && batch.Finish();
}

bool WriteTrackBody(OutStream& s, int32_t id, HostController* c, const TrackStatics& statics) {
  ChunkBatch batch(s);
  return PutTrackBody(batch, id, c, statics) && batch.Finish();
}

bool WriteTrackChunk(OutStream& s, int32_t id, HostController* c, const TrackStatics& statics) {
  ChunkBatch batch(s, id);
  return PutTrackBody(batch, id, c, statics) && batch.Finish();
}

}  // namespace tsm
