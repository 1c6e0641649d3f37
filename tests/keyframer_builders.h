// Helpers of the keyframer, track and controller tests: controllers and animated scenes
// built in code, a run's lists over a scene for the keyframer writer, and a decoder of
// the written tracks.
#ifndef TSM_TESTS_KEYFRAMER_BUILDERS_H
#define TSM_TESTS_KEYFRAMER_BUILDERS_H

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "keyframer/keyframer.h"
#include "material/material_table.h"
#include "reader/chunk_reader.h"
#include "run/export_run.h"
#include "run/scene_lists.h"
#include "scene/mem_controllers.h"
#include "scene/mem_objects.h"
#include "tests/test_util.h"
#include "writer/chunk_ids.h"

namespace tsm {

inline MemKey KeyF(TimeValue t, float f) {
  MemKey k;
  k.time = t;
  k.f = f;
  return k;
}
inline MemKey KeyP(TimeValue t, Point3 p) {
  MemKey k;
  k.time = t;
  k.p = p;
  return k;
}
inline MemKey KeyQ(TimeValue t, Quat q) {
  MemKey k;
  k.time = t;
  k.q = q;
  return k;
}
// A key-bearing rotation key: angle (radians) about axis, from the previous key.
inline MemKey KeyAA(TimeValue t, float angle, Point3 axis) {
  MemKey k;
  k.time = t;
  k.aa = AngAxis(Normalize(axis), angle);
  return k;
}

// A controller of kind with keys, owned by scene.
inline MemController* Ctl(MemScene& scene, ControlKind kind, bool keyed,
                          std::vector<MemKey> keys = {}) {
  auto c = std::make_unique<MemController>(kind, keyed);
  c->keys.assign(keys.begin(), keys.end());
  return scene.Own(std::move(c));
}

// Gives node a transform controller with the given sub-controllers (any may be null).
inline MemTransformController* Animate(MemScene& scene, MemNode* node, MemController* pos,
                                       MemController* rot, MemController* scl,
                                       MemController* roll = nullptr) {
  auto tc = std::make_unique<MemTransformController>();
  tc->position = pos;
  tc->rotation = rot;
  tc->scale = scl;
  tc->roll = roll;
  MemTransformController* raw = scene.Own(std::move(tc));
  node->transform = raw;
  return raw;
}

// Three key-less sub-controllers: the node has controllers but no animation.
inline void AnimateKeyless(MemScene& scene, MemNode* node) {
  Animate(scene, node, Ctl(scene, ControlKind::POSITION, true),
          Ctl(scene, ControlKind::ROTATION, true), Ctl(scene, ControlKind::SCALE, true));
}

template <class T, class... Args>
T* AddObjectNode(MemScene& scene, const std::string& name, MemNode* parent, Args&&... args) {
  MemNode* node = scene.AddNode(name, parent);
  T* object = scene.Own(std::make_unique<T>(std::forward<Args>(args)...));
  node->object = object;
  return object;
}

inline MemNode* AddMesh(MemScene& scene, const std::string& name, MemObject* shared = nullptr,
                        MemNode* parent = nullptr) {
  MemNode* node = scene.AddNode(name, parent);
  node->object = shared ? shared : scene.Own(std::make_unique<MemMeshObject>());
  return node;
}

// The run's lists over scene, installed as the run-wide pointers while it lives, and the
// keyframer section written from them.
class KeyframerRun {
 public:
  explicit KeyframerRun(MemScene& scene) {
    scene.ApplyHostSettings();
    entries_ = std::make_unique<SceneEnumerator>(&scene, scene.currentTime, &scene, &materials_);
    entries_->NamePass();
    objects_.Build(*entries_);
    RunEntries = entries_.get();
    RunMaterials = &materials_;
    RunObjects = &objects_;
  }
  ~KeyframerRun() {
    RunEntries = nullptr;
    RunMaterials = nullptr;
    RunObjects = nullptr;
    ResetHostCore();
  }
  SceneEnumerator& Entries() { return *entries_; }

  // The section's bytes; fails the test when the writer fails.
  std::vector<uint8_t> Write() {
    MemoryStream s;
    EXPECT_TRUE(WriteKeyframerSection(s));
    return s.Bytes();
  }

 private:
  MaterialTable materials_;
  std::unique_ptr<SceneEnumerator> entries_;
  ObjectList objects_;
};

// The section of scene parsed into a chunk tree (its top is KEYFRAMER_DATA).
struct Section {
  std::vector<uint8_t> bytes;
  Chunk top;
  // The node chunks, in order.
  const std::vector<Chunk>& Nodes() const { return top.children; }
  const Chunk& Node(size_t i) const { return top.children.at(3 + i); }
};

inline Section WriteSection(MemScene& scene) {
  KeyframerRun run(scene);
  Section s;
  s.bytes = run.Write();
  ChunkTree tree = ReadChunkTree(s.bytes);
  EXPECT_TRUE(tree.ok) << tree.error;
  s.top = tree.top;
  return s;
}

inline std::vector<uint16_t> ChildIds(const Chunk& c) {
  std::vector<uint16_t> ids;
  for (const Chunk& k : c.children) ids.push_back(k.id);
  return ids;
}

// The first child of c with id; fails the test when there is none.
inline const Chunk& ChildOf(const Chunk& c, uint16_t id) {
  for (const Chunk& k : c.children)
    if (k.id == id) return k;
  ADD_FAILURE() << "no child 0x" << std::hex << id;
  static Chunk none;
  return none;
}

inline std::vector<uint8_t> PayloadBytes(const std::vector<uint8_t>& b, const Chunk& c) {
  return std::vector<uint8_t>(b.begin() + c.payloadBegin, b.begin() + c.payloadEnd);
}

// One key of a written track.
struct DecodedKey {
  int32_t frame = 0;
  uint16_t spline = 0;
  std::vector<float> params;
  std::vector<float> value;
};

struct DecodedTrack {
  uint16_t flags = 0;
  int32_t first = 0;
  int32_t last = 0;
  std::vector<DecodedKey> keys;
  bool complete = false;  // the keys fill the payload exactly
};

inline int ValueFloats(uint16_t id) {
  switch (id) {
    case ROTATION_TRACK:
      return 4;
    case POSITION_TRACK:
    case SCALE_TRACK:
    case COLOR_TRACK:
      return 3;
    default:
      return 1;
  }
}

// Decodes the payload of a track chunk (header included or not: bytes starts at its id).
inline DecodedTrack DecodeTrackChunk(const std::vector<uint8_t>& b, size_t at = 0) {
  DecodedTrack t;
  uint16_t id = GetU16(b, at);
  size_t end = at + GetU32(b, at + 2);
  size_t p = at + 6;
  t.flags = GetU16(b, p);
  t.first = static_cast<int32_t>(GetU32(b, p + 2));
  t.last = static_cast<int32_t>(GetU32(b, p + 6));
  uint32_t n = GetU32(b, p + 10);
  p += 14;
  for (uint32_t i = 0; i < n && p + 6 <= end; ++i) {
    DecodedKey k;
    k.frame = static_cast<int32_t>(GetU32(b, p));
    k.spline = GetU16(b, p + 4);
    p += 6;
    for (int bit = 0; bit < 5; ++bit)
      if (k.spline & (1 << bit)) {
        k.params.push_back(GetF32(b, p));
        p += 4;
      }
    for (int v = 0; v < ValueFloats(id); ++v) {
      k.value.push_back(GetF32(b, p));
      p += 4;
    }
    t.keys.push_back(k);
  }
  t.complete = t.keys.size() == n && p == end;
  return t;
}

inline DecodedTrack DecodeTrackChunk(const Section& s, const Chunk& c) {
  return DecodeTrackChunk(s.bytes, c.offset);
}

// The body of track id written from controller (and statics) inside its chunk.
inline std::vector<uint8_t> TrackBytes(int32_t id, HostController* controller,
                                       const TrackStatics& statics = TrackStatics()) {
  MemoryStream s;
  EXPECT_EQ(ChunkFraming(s, id, [&] { return WriteTrackBody(s, id, controller, statics); }), 1);
  return s.Bytes();
}

// The rotation a decoded rotation key holds.
inline Quat KeyRotation(const DecodedKey& k) {
  return QuatFromAngAxis(k.value[0], Point3(k.value[1], k.value[2], k.value[3]));
}

// Two rotations agree when they turn points alike (q and -q are the same rotation).
inline void ExpectSameRotation(const Quat& a, const Quat& b, float tol = 1e-4f) {
  float dot = a.x * b.x + a.y * b.y + a.z * b.z + a.w * b.w;
  EXPECT_NEAR(std::fabs(dot), 1.0f, tol)
      << "(" << a.x << ", " << a.y << ", " << a.z << ", " << a.w << ") vs (" << b.x << ", " << b.y
      << ", " << b.z << ", " << b.w << ")";
}

inline void ExpectNearP(const Point3& a, const Point3& b, float tol = 1e-4f) {
  EXPECT_NEAR(a.x, b.x, tol);
  EXPECT_NEAR(a.y, b.y, tol);
  EXPECT_NEAR(a.z, b.z, tol);
}

inline void ExpectNearM(const Matrix3& a, const Matrix3& b, float tol = 1e-4f) {
  for (int i = 0; i < 4; ++i) ExpectNearP(a.GetRow(i), b.GetRow(i), tol);
}

}  // namespace tsm

#endif  // TSM_TESTS_KEYFRAMER_BUILDERS_H
