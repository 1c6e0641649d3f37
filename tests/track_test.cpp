#include <cmath>

#include "tests/keyframer_builders.h"

namespace tsm {
namespace {

constexpr TimeValue kTpf = 160;  // the default ticks per frame

class TrackTest : public ::testing::Test {
 protected:
  void SetUp() override { SetTicksPerFrame(kTpf); }
  void TearDown() override { ResetHostCore(); }
  MemScene scene;
};

TEST_F(TrackTest, SingleKeyTracksHaveTheirSizesAndFrameZero) {
  struct Case {
    int32_t id;
    HostController* controller;
    size_t size;
  };
  TrackStatics statics;
  const Case cases[] = {
      {FOV_TRACK, nullptr, 30},
      {HOTSPOT_TRACK, Ctl(scene, ControlKind::FLOAT, false), 30},
      {COLOR_TRACK, nullptr, 38},
      {POSITION_TRACK, Ctl(scene, ControlKind::POSITION, true), 38},
      {SCALE_TRACK, Ctl(scene, ControlKind::SCALE, false), 38},
      {ROTATION_TRACK, Ctl(scene, ControlKind::ROTATION, true), 42},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> b = TrackBytes(c.id, c.controller, statics);
    ASSERT_EQ(b.size(), c.size) << std::hex << c.id;
    // flags 0, first 0, last 0, one key at frame 0 without spline parameters
    ExpectBytes(std::vector<uint8_t>(b.begin() + 6, b.begin() + 26),
                {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  }
}

TEST_F(TrackTest, SampledKeysTakeTheirSizeByTheFormula) {
  const struct {
    int32_t id;
    ControlKind kind;
    size_t valueSize;
  } kinds[] = {{FOV_TRACK, ControlKind::FLOAT, 4},
               {POSITION_TRACK, ControlKind::POSITION, 12},
               {ROTATION_TRACK, ControlKind::ROTATION, 16},
               {SCALE_TRACK, ControlKind::SCALE, 12},
               {COLOR_TRACK, ControlKind::POINT3, 12}};
  for (const auto& k : kinds) {
    for (int n : {1, 2, 7}) {
      std::vector<MemKey> keys;
      for (int i = 0; i < n; ++i) {
        MemKey key = KeyP(i * 10 * kTpf, Point3(1, 2, 3));
        key.f = 0.25f * i;
        key.q = QuatFromAngAxis(0.1f * i, Point3(0, 0, 1));
        keys.push_back(key);
      }
      std::vector<uint8_t> b = TrackBytes(k.id, Ctl(scene, k.kind, false, keys));
      EXPECT_EQ(b.size(), 6 + 14 + n * (6 + k.valueSize)) << std::hex << k.id << " n=" << n;
      DecodedTrack t = DecodeTrackChunk(b);
      EXPECT_TRUE(t.complete);
      EXPECT_EQ(t.first, 0);
      EXPECT_EQ(t.last, (n - 1) * 10);
      for (const DecodedKey& key : t.keys) EXPECT_EQ(key.spline, 0);
    }
  }
}

TEST_F(TrackTest, CopiedKeysCarryTheirNonzeroSplineParametersInBitOrder) {
  MemController* c =
      Ctl(scene, ControlKind::POSITION, true,
          {KeyP(0, {1, 2, 3}), KeyP(10 * kTpf, {4, 5, 6}), KeyP(20 * kTpf, {7, 8, 9})});
  c->keys[0].tens = 0.5f;
  c->keys[1].tens = 1;
  c->keys[1].cont = 2;
  c->keys[1].bias = 3;
  c->keys[1].easeIn = 4;
  c->keys[1].easeOut = 5;
  c->keys[2].tens = -0.0f;  // negative zero counts as zero
  c->keys[2].bias = 0.0f;
  std::vector<uint8_t> b = TrackBytes(POSITION_TRACK, c);
  EXPECT_EQ(b.size(), 20u + 3 * 18 + 4 + 20);
  DecodedTrack t = DecodeTrackChunk(b);
  ASSERT_TRUE(t.complete);
  EXPECT_EQ(t.flags, 0);
  EXPECT_EQ(t.first, 0);
  EXPECT_EQ(t.last, 20);
  ASSERT_EQ(t.keys.size(), 3u);
  EXPECT_EQ(t.keys[0].spline, 0x0001);
  EXPECT_EQ(t.keys[0].params, std::vector<float>({0.5f}));
  EXPECT_EQ(t.keys[1].spline, 0x001F);
  EXPECT_EQ(t.keys[1].params, std::vector<float>({1, 2, 3, 4, 5}));
  EXPECT_EQ(t.keys[2].spline, 0);
  EXPECT_EQ(t.keys[1].frame, 10);
  EXPECT_EQ(t.keys[2].value, std::vector<float>({7, 8, 9}));
}

TEST_F(TrackTest, FramesAreTicksTruncatedTowardZero) {
  const struct {
    TimeValue ticks;
    int32_t frame;
  } cases[] = {{0, 0}, {159, 0}, {160, 1}, {250, 1}, {-159, 0}, {-240, -1}, {-320, -2}};
  for (const auto& c : cases) EXPECT_EQ(FrameOfTicks(c.ticks), c.frame) << c.ticks;
  for (bool keyed : {true, false}) {
    std::vector<uint8_t> b = TrackBytes(
        HOTSPOT_TRACK,
        Ctl(scene, ControlKind::FLOAT, keyed, {KeyF(-240, 1), KeyF(250, 2), KeyF(16000, 3)}));
    DecodedTrack t = DecodeTrackChunk(b);
    EXPECT_EQ(t.first, -1);
    EXPECT_EQ(t.last, 100);
    EXPECT_EQ(GetU32(b, 8), 0xFFFFFFFFu);
    ASSERT_EQ(t.keys.size(), 3u);
    EXPECT_EQ(t.keys[0].frame, -1);
    EXPECT_EQ(t.keys[1].frame, 1);
  }
}

TEST_F(TrackTest, FloatTracksApplyTheirFactors) {
  const float deg = 57.29578f;
  MemController* fov = Ctl(scene, ControlKind::FLOAT, true);
  fov->constF = 0.5f;
  MemController* roll = Ctl(scene, ControlKind::FLOAT, true, {KeyF(0, 0.1f), KeyF(kTpf, 0.1f)});
  MemController* sampledRoll =
      Ctl(scene, ControlKind::FLOAT, false, {KeyF(0, 0.1f), KeyF(kTpf, 0.1f)});
  MemController* hotspot = Ctl(scene, ControlKind::FLOAT, true, {KeyF(0, 30)});
  TrackStatics statics;
  statics.floatValue = 12.5f;
  const struct {
    int32_t id;
    HostController* c;
    float value;
  } cases[] = {
      {FOV_TRACK, fov, 0.5f * deg},
      {ROLL_TRACK, roll, -0.1f * deg},
      {ROLL_TRACK, sampledRoll, -0.1f * deg},
      {HOTSPOT_TRACK, hotspot, 30},
      {FOV_TRACK, nullptr, 12.5f},
      {FALLOFF_TRACK, nullptr, 12.5f},
  };
  for (const auto& c : cases) {
    DecodedTrack t = DecodeTrackChunk(TrackBytes(c.id, c.c, statics));
    ASSERT_FALSE(t.keys.empty());
    for (const DecodedKey& k : t.keys) EXPECT_FLOAT_EQ(k.value[0], c.value) << std::hex << c.id;
  }
  EXPECT_NEAR(-0.1f * deg, -5.73f, 0.001f);
}

TEST_F(TrackTest, StaticTransformAndColourFallbacks) {
  TrackStatics statics;
  statics.transformMode = true;
  statics.translation = Point3(1, 2, 3);
  statics.rotation = QuatFromAngAxis(0.5f, Point3(0, 1, 0));
  statics.scale = Point3(-2, 1, 1);
  statics.color = Point3(0.1f, 0.2f, 0.3f);
  // The controller is not used in static mode.
  MemController* keyed = Ctl(scene, ControlKind::POSITION, true, {KeyP(0, {9, 9, 9})});
  EXPECT_EQ(DecodeTrackChunk(TrackBytes(POSITION_TRACK, keyed, statics)).keys[0].value,
            std::vector<float>({1, 2, 3}));
  std::vector<float> rot =
      DecodeTrackChunk(TrackBytes(ROTATION_TRACK, keyed, statics)).keys[0].value;
  EXPECT_NEAR(rot[0], 0.5f, 1e-6f);
  EXPECT_EQ(std::vector<float>(rot.begin() + 1, rot.end()), std::vector<float>({0, 1, 0}));
  EXPECT_EQ(DecodeTrackChunk(TrackBytes(SCALE_TRACK, keyed, statics)).keys[0].value,
            std::vector<float>({-2, 1, 1}));
  EXPECT_EQ(DecodeTrackChunk(TrackBytes(COLOR_TRACK, nullptr, statics)).keys[0].value,
            std::vector<float>({0.1f, 0.2f, 0.3f}));
  // The identity rotation has a unit axis.
  statics.rotation = Quat();
  EXPECT_EQ(DecodeTrackChunk(TrackBytes(ROTATION_TRACK, nullptr, statics)).keys[0].value,
            std::vector<float>({0, 0, 0, 1}));
}

TEST_F(TrackTest, OnlyTheFiveKeyBearingClassesHaveSplineKeys) {
  const struct {
    Class_ID id;
    bool spline;
  } cases[] = {{Class_ID(0x442310, 0), false}, {Class_ID(0x442311, 0), true},
               {Class_ID(0x442313, 0), true},  {Class_ID(0x442315, 0), true},
               {Class_ID(0x442316, 0), false}, {Class_ID(0x442312, 1), false},
               {kSampledPositionClass, false}};
  for (const auto& c : cases) {
    MemController ctl(ControlKind::POSITION, true);
    ctl.classId = c.id;
    EXPECT_EQ(HasSplineKeys(&ctl), c.spline) << std::hex << c.id.PartA();
  }
  EXPECT_FALSE(HasSplineKeys(nullptr));
}

// Rotation tracks of both paths decode back to the scene's rotation at every key time:
// the first key absolute, each later one applied after the rotation before it.
TEST_F(TrackTest, RotationTracksOfBothPathsRecoverTheScenesRotation) {
  MemController* keyed =
      Ctl(scene, ControlKind::ROTATION, true,
          {KeyAA(0, 0.3f, {0, 0, 1}), KeyAA(10 * kTpf, 1.2f, {1, 1, 0}),
           KeyAA(25 * kTpf, 0.0f, {0, 0, 1}), KeyAA(40 * kTpf, 2.5f, {0, -1, 0.5f})});
  MemController* sampled =
      Ctl(scene, ControlKind::ROTATION, false,
          {KeyQ(-5 * kTpf, QuatFromAngAxis(0.7f, {1, 0, 0})), KeyQ(3 * kTpf, Quat()),
           KeyQ(9 * kTpf, QuatFromAngAxis(3.0f, {0, 1, 1})),
           KeyQ(20 * kTpf, QuatFromAngAxis(-2.0f, {1, 2, 3}))});
  for (MemController* c : {keyed, sampled}) {
    DecodedTrack t = DecodeTrackChunk(TrackBytes(ROTATION_TRACK, c));
    ASSERT_TRUE(t.complete);
    ASSERT_EQ(t.keys.size(), c->keys.size());
    Quat absolute;
    for (size_t i = 0; i < t.keys.size(); ++i) {
      const std::vector<float>& v = t.keys[i].value;
      EXPECT_NEAR(Length(Point3(v[1], v[2], v[3])), 1.0f, 1e-5f) << i;
      absolute = KeyRotation(t.keys[i]) * absolute;
      Quat expected;
      Interval valid;
      c->ControllerValue(c->keys[i].time, &expected, valid, 1);
      ExpectSameRotation(absolute, expected);
    }
  }
}

}  // namespace
}  // namespace tsm
