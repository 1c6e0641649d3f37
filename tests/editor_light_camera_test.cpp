// Lights and cameras in the editor section: exact chunk sizes and bytes, the order of the
// conditional spot chunks, targets, roll and the lens.
#include "tests/editor_scene.h"
#include "tests/sample_files.h"

namespace tsm {
namespace {

// The LIGHT or CAMERA chunk of the one object of a scene named "L".
std::vector<uint8_t> ObjectChunk(MemScene& scene, int32_t id) {
  EditorRun run(scene);
  int ok = 0;
  std::vector<uint8_t> b = run.Write(id, run.Item("L"), &ok);
  EXPECT_EQ(ok, 1);
  return b;
}

TEST(EditorLight, PointLightIsSixtySixBytes) {
  MemScene scene;
  MemLightObject* light = NewLight(scene, false);
  light->color = Point3(1.0f, 0.5f, 0.25f);
  light->intensity = 2.0f;
  light->attenStart = 5.0f;
  light->attenEnd = 50.0f;
  AddObjectNode(scene, "L", light, Point3(1, 2, 3));
  ChunkBuilder expect;
  expect.Begin(LIGHT).F32s({1, 2, 3});
  expect.Begin(COLOR_FLOAT).F32s({1.0f, 0.5f, 0.25f}).End();
  expect.Begin(LIGHT_OUTER_RANGE).F32(50).End();
  expect.Begin(LIGHT_INNER_RANGE).F32(5).End();
  expect.Begin(LIGHT_MULTIPLIER).F32(2).End();
  std::vector<uint8_t> b = ObjectChunk(scene, LIGHT);
  ExpectBytes(b, expect.End().Bytes());
  EXPECT_EQ(b.size(), 66u);
}

TEST(EditorLight, OffAndAttenuationFollowTheRanges) {
  struct Case {
    bool on, attenuate;
    std::vector<uint16_t> tail;
  } cases[] = {{true, false, {}},
               {false, false, {LIGHT_OFF}},
               {true, true, {LIGHT_ATTENUATE}},
               {false, true, {LIGHT_OFF, LIGHT_ATTENUATE}}};
  for (const Case& c : cases) {
    MemScene scene;
    MemLightObject* light = NewLight(scene, false);
    light->on = c.on;
    light->attenuate = c.attenuate;
    AddObjectNode(scene, "L", light);
    ChunkTree t = ParseOk(ObjectChunk(scene, LIGHT));
    std::vector<uint16_t> ids = {COLOR_FLOAT, LIGHT_OUTER_RANGE, LIGHT_INNER_RANGE,
                                 LIGHT_MULTIPLIER};
    ids.insert(ids.end(), c.tail.begin(), c.tail.end());
    EXPECT_EQ(ChildIds(t.top), ids) << c.on << c.attenuate;
  }
}

TEST(EditorLight, PlainSpotIsFortySixBytes) {
  MemScene scene;
  MemLightObject* spot = NewLight(scene, true);
  spot->hotspot = 20.0f;
  spot->falloff = 30.0f;
  spot->rayTraceBias = 0.5f;
  AddTargeted(scene, "L", spot, Point3(1, 2, 3), Point3(4, 5, 6));
  ChunkBuilder expect;
  expect.Begin(SPOT_LIGHT).F32s({4, 5, 6, 20, 30});
  expect.Begin(SPOT_ROLL).F32(0).End();
  expect.Begin(SPOT_RAY_BIAS).F32(0.5f).End();
  std::vector<uint8_t> b = ObjectChunk(scene, SPOT_LIGHT);
  ExpectBytes(b, expect.End().Bytes());
  EXPECT_EQ(b.size(), 46u);
  ChunkTree t = ParseOk(ObjectChunk(scene, LIGHT));
  EXPECT_EQ(ChildIds(t.top).back(), SPOT_LIGHT);
}

TEST(EditorLight, SpotChildrenComeInTheirOrder) {
  MemScene scene;
  MemLightObject* spot = NewLight(scene, true);
  spot->castShadows = true;
  spot->useGlobalShadows = false;
  spot->shadowMapBias = 0.25f;
  spot->shadowMapRange = 3.0f;
  spot->shadowMapSize = 512;
  spot->coneDisplayed = true;
  spot->rectangular = true;
  spot->aspect = 1.5f;
  spot->overshoot = true;
  spot->rayTracedShadows = true;
  AddTargeted(scene, "L", spot, Point3(1, 2, 3), Point3(4, 5, 6));
  std::vector<uint8_t> b = ObjectChunk(scene, SPOT_LIGHT);
  ChunkTree t = ParseOk(b);
  EXPECT_EQ(ChildIds(t.top),
            (std::vector<uint16_t>{SPOT_ROLL, SPOT_SHADOWED, SPOT_SHADOW_MAP, SPOT_SHOW_CONE,
                                   SPOT_RECTANGULAR, SPOT_ASPECT, SPOT_OVERSHOOT, SPOT_RAY_BIAS,
                                   SPOT_RAYTRACE_SHADOWS}));
  ChunkBuilder map;
  map.Begin(SPOT_SHADOW_MAP).F32(0.25f).F32(3.0f).Bytes({0x00, 0x02}).End();
  ExpectBytes(ChunkBytes(b, t.top.children[2]), map.Bytes());
  EXPECT_EQ(GetF32(b, t.top.children[5].payloadBegin), 1.5f);
}

TEST(EditorLight, SpotTargetAndRollFallBackWhenMissing) {
  struct Case {
    bool target, transform, roll;
    Point3 aim;
    float rollValue;
  } cases[] = {
      {true, true, true, Point3(4, 5, 6), 0.75f},
      {false, true, true, Point3(1, 2, 3), 0.75f},  // no target: its own position
      {true, true, false, Point3(4, 5, 6), 0.0f},   // no roll controller: 0
      {true, false, false, Point3(4, 5, 6), 0.0f},  // no transform controller: 0
  };
  for (const Case& c : cases) {
    MemScene scene;
    MemLightObject* spot = NewLight(scene, true);
    MemNode* node = c.target ? AddTargeted(scene, "L", spot, Point3(1, 2, 3), Point3(4, 5, 6))
                             : AddObjectNode(scene, "L", spot, Point3(1, 2, 3));
    if (c.transform) {
      auto* tc = scene.Own(std::make_unique<MemTransformController>());
      if (c.roll) {
        tc->roll = scene.Own(std::make_unique<MemController>(ControlKind::FLOAT, true));
        tc->roll->constF = 0.75f;
      }
      node->transform = tc;
    }
    std::vector<uint8_t> b = ObjectChunk(scene, SPOT_LIGHT);
    ExpectBytes(std::vector<uint8_t>(b.begin() + 6, b.begin() + 18),
                F32Bytes({c.aim.x, c.aim.y, c.aim.z}));
    EXPECT_EQ(GetF32(b, 26 + 6), c.rollValue);
  }
}

TEST(EditorCamera, CameraIsFiftyTwoBytesWithItsLens) {
  struct Case {
    bool target;
    float fovDegrees;
  } cases[] = {{true, 45.0f}, {false, 45.0f}, {true, 90.0f}};
  for (const Case& c : cases) {
    MemScene scene;
    auto* camera = scene.Own(std::make_unique<MemCameraObject>());
    camera->fov = static_cast<float>(c.fovDegrees * 3.14159265358979323846 / 180.0);
    camera->nearRange = 2.0f;
    camera->farRange = 900.0f;
    if (c.target)
      AddTargeted(scene, "L", camera, Point3(1, 2, 3), Point3(4, 5, 6));
    else
      AddObjectNode(scene, "L", camera, Point3(1, 2, 3));
    float lens =
        static_cast<float>(2400.0 / (static_cast<double>(camera->fov) * double(57.29578f)));
    ChunkBuilder expect;
    expect.Begin(CAMERA).F32s({1, 2, 3});
    if (c.target)
      expect.F32s({4, 5, 6});
    else
      expect.F32s({1, 2, 3});
    expect.F32s({0.0f, lens});
    expect.Begin(CAMERA_RANGES).F32s({2, 900}).End();
    std::vector<uint8_t> b = ObjectChunk(scene, CAMERA);
    ExpectBytes(b, expect.End().Bytes());
    EXPECT_EQ(b.size(), 52u);
    if (c.fovDegrees == 45.0f) {
      EXPECT_NEAR(lens, 53.333f, 0.001f);
    }
  }
}

}  // namespace
}  // namespace tsm
