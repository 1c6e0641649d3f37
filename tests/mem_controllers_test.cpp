#include <cmath>
#include <cstring>

#include "formats/json/scene_json.h"
#include "tests/keyframer_builders.h"

namespace tsm {
namespace {

constexpr TimeValue kTpf = 160;

template <class T>
T ValueAt(HostController* c, TimeValue t, T v = T()) {
  Interval valid;
  c->ControllerValue(t, &v, valid, 1);
  return v;
}

TEST(MemControllers, ValuesHoldBeforeAndAfterAndMoveLinearlyBetweenKeys) {
  MemScene scene;
  MemController* f = Ctl(scene, ControlKind::FLOAT, true, {KeyF(0, 1), KeyF(100, 3), KeyF(200, 3)});
  MemController* p =
      Ctl(scene, ControlKind::POSITION, false, {KeyP(-100, {0, 0, 0}), KeyP(100, {2, 4, 6})});
  MemController* none = Ctl(scene, ControlKind::POINT3, false);
  none->constP = Point3(7, 8, 9);
  const struct {
    TimeValue t;
    float f;
    Point3 p;
  } cases[] = {{-500, 1, {0, 0, 0}},
               {0, 1, {1, 2, 3}},
               {50, 2, {1.5f, 3, 4.5f}},
               {150, 3, {2, 4, 6}},
               {900, 3, {2, 4, 6}}};
  for (const auto& c : cases) {
    EXPECT_FLOAT_EQ(ValueAt<float>(f, c.t), c.f) << c.t;
    ExpectNearP(ValueAt<Point3>(p, c.t), c.p);
    EXPECT_EQ(ValueAt<Point3>(none, c.t), Point3(7, 8, 9));
  }
  // A value of another type is left as it was.
  EXPECT_EQ(ValueAt<float>(p, 0, 42.0f), 42.0f);
}

TEST(MemControllers, RotationsMoveAlongTheShorterArcAndKeyedOnesCompose) {
  MemScene scene;
  Point3 z(0, 0, 1);
  MemController* sampled = Ctl(scene, ControlKind::ROTATION, false,
                               {KeyQ(0, Quat()), KeyQ(100, QuatFromAngAxis(1.0f, z))});
  MemController* keyed =
      Ctl(scene, ControlKind::ROTATION, true,
          {KeyAA(0, 0.5f, z), KeyAA(100, 1.0f, z), KeyAA(200, 0.25f, {1, 0, 0})});
  ExpectSameRotation(ValueAt<Quat>(sampled, 50), QuatFromAngAxis(0.5f, z));
  ExpectSameRotation(ValueAt<Quat>(keyed, 0), QuatFromAngAxis(0.5f, z));
  ExpectSameRotation(ValueAt<Quat>(keyed, 50), QuatFromAngAxis(1.0f, z));
  ExpectSameRotation(ValueAt<Quat>(keyed, 100), QuatFromAngAxis(1.5f, z));
  // The last key is applied after the rotation before it.
  ExpectSameRotation(ValueAt<Quat>(keyed, 300),
                     QuatFromAngAxis(0.25f, {1, 0, 0}) * QuatFromAngAxis(1.5f, z));
  // Key access: only the key-bearing controller offers it, with the key as held.
  EXPECT_EQ(sampled->KeyInterface(KEY_INTERFACE_ID), nullptr);
  ASSERT_NE(keyed->KeyInterface(KEY_INTERFACE_ID), nullptr);
  SplineKey k;
  keyed->KeyInterface(KEY_INTERFACE_ID)->GetKey(1, &k);
  EXPECT_EQ(k.time, 100);
  EXPECT_FLOAT_EQ(k.aval.angle, 1.0f);
  EXPECT_EQ(k.aval.axis, z);
}

TEST(MemControllers, NodeAndObjectTransformsFollowTheControllers) {
  MemScene scene;
  MemNode* parent = scene.AddNode("P");
  parent->local = TransMatrix({100, 0, 0});
  MemNode* node = scene.AddNode("N", parent);
  Quat staticRot = QuatFromAngAxis(0.3f, {0, 1, 0});
  node->local = ScaleMatrix({2, 2, 2}) * QuatToMatrix(staticRot) * TransMatrix({1, 2, 3});
  node->objectOffsetPos = Point3(0, 0, 5);
  EXPECT_EQ(node->NodeTransform(0), node->local * parent->local);  // no controller
  // Position animated; no rotation sub-controller; the scale has no keys.
  MemController* scl = Ctl(scene, ControlKind::SCALE, false);
  scl->constS = Point3(1, -1, 3);
  Animate(scene, node,
          Ctl(scene, ControlKind::POSITION, true, {KeyP(0, {0, 0, 0}), KeyP(100, {10, 0, 0})}),
          nullptr, scl);
  for (TimeValue t : {0, 50, 100}) {
    Matrix3 local =
        ScaleMatrix({1, -1, 3}) * QuatToMatrix(staticRot) * TransMatrix({t / 10.0f, 0, 0});
    ExpectNearM(node->NodeTransform(t), local * parent->local, 1e-4f);
    ExpectNearM(node->ObjectTransform(t), TransMatrix({0, 0, 5}) * local * parent->local, 1e-4f);
  }
}

TEST(MemControllers, LightsAndCamerasAnswerTheirControllersAtAnyTime) {
  MemScene scene;
  MemLightObject spot(true);
  spot.colorController =
      Ctl(scene, ControlKind::POINT3, false, {KeyP(0, {1, 0, 0}), KeyP(100, {0, 0, 1})});
  spot.hotspotController = Ctl(scene, ControlKind::FLOAT, true, {KeyF(0, 10), KeyF(100, 30)});
  spot.falloffController = Ctl(scene, ControlKind::FLOAT, false, {KeyF(0, 40)});
  MemCameraObject camera;
  camera.fovController = Ctl(scene, ControlKind::FLOAT, true, {KeyF(0, 0.5f), KeyF(100, 1.0f)});
  Interval valid;
  LightParams lp;
  spot.EvaluateLight(50, valid, lp);
  ExpectNearP(lp.color, {0.5f, 0, 0.5f});
  EXPECT_FLOAT_EQ(lp.hotspot, 20);
  EXPECT_FLOAT_EQ(lp.falloff, 40);
  ExpectNearP(spot.LightColor(100, valid), {0, 0, 1});
  CameraParams cp;
  camera.EvaluateCamera(50, valid, cp);
  EXPECT_FLOAT_EQ(cp.fov, 0.75f);
  EXPECT_FLOAT_EQ(camera.CameraFov(0, valid), 0.5f);
  EXPECT_EQ(camera.FovController(), camera.fovController);
  EXPECT_EQ(spot.HotspotController(), spot.hotspotController);
}

TEST(MemControllers, TheSceneCheckFindsMisplacedOrUnorderedControllers) {
  MemScene scene;
  MemNode* n = scene.AddNode("N");
  MemController* pos = Ctl(scene, ControlKind::POSITION, true, {KeyP(0, {}), KeyP(10, {})});
  Animate(scene, n, pos, nullptr, nullptr);
  EXPECT_EQ(CheckScene(scene), "");
  pos->keys[1].time = 0;
  EXPECT_EQ(CheckScene(scene),
            "node \"N\": its position controller's key 1 is not later than the key before");
  Animate(scene, n, nullptr, Ctl(scene, ControlKind::SCALE, false), nullptr);
  EXPECT_EQ(CheckScene(scene), "node \"N\": its rotation controller holds values of another kind");
  n->transform = nullptr;
  auto* cam = scene.Own(std::make_unique<MemCameraObject>());
  cam->fovController = Ctl(scene, ControlKind::POINT3, false);
  n->object = cam;
  EXPECT_EQ(CheckScene(scene),
            "node \"N\": its field-of-view controller holds values of another kind");
}

std::string SceneWith(const std::string& nodeMembers, const std::string& objects = "[]") {
  return R"({"format": "tsm-scene", "version": 1, "objects": )" + objects +
         R"(, "nodes": [{"name": "N")" + nodeMembers + "}]}";
}

TEST(MemControllers, TheLoaderFillsControllersFromTheAgreedSyntax) {
  MemScene scene;
  std::string text = SceneWith(
      R"(, "position": [1, 2, 3], "object": "cam", "transform": {
        "position": {"class": "keyed", "keys": [
          {"time": 0, "value": [0, 0, 0], "tension": 0.5, "easeFrom": -1},
          {"time": {"ticks": 200}, "value": [1, 1, 1]}]},
        "rotation": {"class": "keyed", "keys": [{"time": 0, "value": {"axis": [0, 0, 2], "angle": 90}}]},
        "scale": {"class": "sampled", "value": 2},
        "roll": {"class": "sampled", "keys": [{"time": 1, "value": 180}]}})",
      R"([{"type": "camera", "name": "cam", "fov": 60,
          "fovController": {"class": "keyed", "keys": [{"time": 0, "value": 90}]}}])");
  LoadResult r = LoadJsonSceneText(text, "s.json", scene);
  ASSERT_TRUE(r.ok) << r.error;
  MemNode* n = scene.FindNode("N");
  auto* tc = dynamic_cast<MemTransformController*>(n->transform);
  ASSERT_NE(tc, nullptr);
  ASSERT_EQ(tc->position->keys.size(), 2u);
  EXPECT_EQ(tc->position->classId, kKeyPositionClass);
  EXPECT_EQ(tc->position->keys[0].tens, 0.5f);
  EXPECT_EQ(tc->position->keys[0].easeOut, -1.0f);
  EXPECT_EQ(tc->position->keys[1].time, 200);
  EXPECT_NEAR(tc->rotation->keys[0].aa.angle, 1.5707963f, 1e-6f);
  EXPECT_EQ(tc->rotation->keys[0].aa.axis, Point3(0, 0, 1));
  EXPECT_EQ(tc->scale->classId, kSampledScaleClass);
  EXPECT_EQ(tc->scale->constS, Point3(2, 2, 2));
  EXPECT_EQ(tc->roll->keys[0].time, 160);
  EXPECT_NEAR(tc->roll->keys[0].f, 3.14159265f, 1e-6f);
  auto* cam = dynamic_cast<MemCameraObject*>(n->object);
  ASSERT_NE(cam->fovController, nullptr);
  EXPECT_NEAR(dynamic_cast<MemController*>(cam->fovController)->keys[0].f, 1.5707963f, 1e-6f);
  // A scene without controllers has none.
  MemScene plain;
  ASSERT_TRUE(LoadJsonSceneText(SceneWith(R"(, "scale": -2)"), "p.json", plain).ok);
  EXPECT_EQ(plain.FindNode("N")->transform, nullptr);
}

TEST(MemControllers, TheLoaderRefusesBadAnimation) {
  const struct {
    std::string text;
    const char* where;
  } cases[] = {
      {SceneWith(R"(, "scale": [1, 0, 1])"), "/nodes/0/scale: a scale factor cannot be 0"},
      {SceneWith(R"(, "matrix": [[1, 0, 0], [0, 1, 0], [0, 0, 0], [0, 0, 0]])"),
       "/nodes/0/matrix: the matrix's axes are flat"},
      {SceneWith(R"(, "objectOffset": {"scale": 0})"), "/nodes/0/objectOffset/scale: a scale"},
      {SceneWith(
           R"(, "transform": {"scale": {"class": "keyed", "keys": [{"time": 0, "value": [1, 1, 0]}]}})"),
       "/nodes/0/transform/scale/keys/0/value: a scale factor cannot be 0"},
      {SceneWith(R"(, "transform": {"scale": {"class": "sampled", "value": 0}})"),
       "/nodes/0/transform/scale/value: a scale"},
      {SceneWith(
           R"(, "transform": {"position": {"class": "sampled", "keys": [{"time": 5, "value": [0, 0, 0]}, {"time": 5, "value": [0, 0, 0]}]}})"),
       "/nodes/0/transform/position/keys/1/time: key times must increase strictly"},
      {SceneWith(
           R"(, "transform": {"rotation": {"class": "keyed", "keys": [{"time": 0, "value": {"quat": [0, 0, 0, 1]}}]}})"),
       "/nodes/0/transform/rotation/keys/0/value/quat: unknown"},
      {SceneWith(R"(, "transform": {"position": {"class": "tcb"}})"),
       "/nodes/0/transform/position/class: unknown controller class"},
      {SceneWith(R"(, "transform": {"spin": {}})"), "/nodes/0/transform/spin: unknown"},
      {SceneWith(
           R"(, "object": {"type": "camera", "fovController": {"class": "sampled", "keys": [{"time": 0, "value": 180}]}})"),
       "/nodes/0/object/fovController/keys/0/value: the angle must be above 0"},
      {SceneWith(
           R"(, "object": {"type": "pointLight", "hotspotController": {"class": "sampled"}})"),
       "/nodes/0/object/hotspotController: unknown"},
  };
  for (const auto& c : cases) {
    MemScene scene;
    LoadResult r = LoadJsonSceneText(c.text, "s.json", scene);
    EXPECT_FALSE(r.ok) << c.where;
    EXPECT_NE(r.error.find(c.where), std::string::npos) << r.error;
  }
}

// A controller remembers the span it answered last; whatever the order of the queries,
// every answer must be the one a controller never asked before gives, bit for bit.
TEST(MemControllers, AnswersDoNotDependOnTheOrderOfQueries) {
  MemScene scene;
  std::vector<MemKey> keys;
  for (int i = 0; i < 12; ++i) {
    MemKey k = KeyP(i * kTpf + (i % 3) * 40, {float(i), float(i * i) * 0.5f, -float(i)});
    k.q = QuatFromAngAxis(0.3f * float(i), Normalize(Point3(1, float(i % 4), 2)));
    k.f = float(i) * 1.5f;
    keys.push_back(k);
  }
  std::vector<TimeValue> times;
  for (TimeValue t = -200; t <= 12 * kTpf + 200; t += 40) times.push_back(t);  // forward
  for (size_t i = times.size(); i-- > 0;) times.push_back(times[i]);           // back
  for (size_t i = 0; i < 300; ++i) times.push_back(TimeValue((i * 7919) % 2200) - 100);
  for (ControlKind kind : {ControlKind::FLOAT, ControlKind::POSITION, ControlKind::ROTATION}) {
    MemController* asked = Ctl(scene, kind, false, keys);
    for (TimeValue t : times) {
      SCOPED_TRACE("time " + std::to_string(t));
      MemController fresh(kind, false);
      fresh.keys.assign(keys.begin(), keys.end());
      EXPECT_EQ(ValueAt<float>(asked, t), ValueAt<float>(&fresh, t));
      EXPECT_EQ(ValueAt<Point3>(asked, t), ValueAt<Point3>(&fresh, t));
      Quat a = ValueAt<Quat>(asked, t), b = ValueAt<Quat>(&fresh, t);
      EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0);
    }
  }
}

}  // namespace
}  // namespace tsm

namespace tsm {
namespace {

// A key holds the value of its controller's kind only: the key interface answers that
// member, and for the others what an unset key holds (0, the origin, no rotation).
TEST(MemControllers, AKeyAnswersTheValueOfItsControllersKindOnly) {
  MemScene scene;
  const Point3 p(1, -2, 3), axis(0, 1, 0);
  const struct {
    ControlKind kind;
    MemKey key;
    float fval;
    Point3 pval;
    AngAxis aval;
  } cases[] = {
      {ControlKind::FLOAT, KeyF(10, 2.5f), 2.5f, {}, {}},
      {ControlKind::POSITION, KeyP(10, p), 0, p, {}},
      {ControlKind::POINT3, KeyP(10, p), 0, p, {}},
      {ControlKind::SCALE, KeyP(10, p), 0, p, {}},
      {ControlKind::ROTATION, KeyAA(10, 0.75f, axis), 0, {}, AngAxis(axis, 0.75f)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.kind));
    MemKey key = c.key;
    key.tens = 0.25f;
    MemController* ctl = Ctl(scene, c.kind, true, {key});
    SplineKey k;
    ctl->KeyInterface(KEY_INTERFACE_ID)->GetKey(0, &k);
    EXPECT_EQ(k.time, 10);
    EXPECT_EQ(k.tens, 0.25f);
    EXPECT_EQ(k.fval, c.fval);
    EXPECT_EQ(k.pval, c.pval);
    EXPECT_EQ(k.sval.s, c.pval);
    EXPECT_EQ(k.aval.axis, c.aval.axis);
    EXPECT_EQ(k.aval.angle, c.aval.angle);
  }
  // A sampled rotation's key holds a quaternion, never an angle and axis.
  MemController* sampled =
      Ctl(scene, ControlKind::ROTATION, false, {KeyQ(0, QuatFromAngAxis(0.5f, axis))});
  SplineKey k;
  sampled->GetKey(0, &k);
  EXPECT_EQ(k.aval.axis, AngAxis().axis);
  EXPECT_EQ(k.aval.angle, 0.0f);
  EXPECT_EQ(MemKey().q, Quat());  // an unset key: no rotation, 0 and the origin
  EXPECT_EQ(MemKey().f, 0.0f);
  EXPECT_EQ(MemKey().p, Point3());
}

// An angle-and-axis key as a loader may hold it, the axis not made unit.
MemKey RawAA(TimeValue t, Point3 axis) {
  MemKey k;
  k.time = t;
  k.aa = AngAxis(axis, 1.0f);
  return k;
}

// The scene check looks at the member of the controller's kind only.
TEST(MemControllers, TheSceneCheckReadsTheValueOfTheControllersKind) {
  const float nan = std::nanf(""), big = 3e38f;
  const struct {
    ControlKind kind;
    bool keyed;
    std::vector<MemKey> keys;
    const char* problem;  // "" for none
  } cases[] = {
      {ControlKind::POSITION, false, {KeyP(0, {nan, 0, 0})}, "holds a value that is not finite"},
      {ControlKind::POSITION, false, {KeyP(0, {big, 0, 0}), KeyP(1, {-big, 0, 0})},
       "lies too far from the key before"},
      {ControlKind::FLOAT, true, {KeyF(0, big), KeyF(1, -big)}, "lies too far from the key before"},
      {ControlKind::FLOAT, true, {KeyF(0, nan)}, "holds a value that is not finite"},
      {ControlKind::ROTATION, false, {KeyQ(0, Quat(0, 0, nan, 1))}, "not finite"},
      {ControlKind::ROTATION, true, {KeyAA(0, nan, {0, 0, 1})}, "not finite"},
      // Angle-and-axis keys are composed, not blended as points: axes far apart are no
      // overflow.
      {ControlKind::ROTATION, true, {RawAA(0, {big, 0, 0}), RawAA(1, {-big, 0, 0})}, ""},
      {ControlKind::SCALE, false, {KeyP(0, {1, 2, 3}), KeyP(1, {2, 2, 2})}, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.problem);
    MemScene scene;
    MemNode* n = scene.AddNode("N");
    MemController* ctl = Ctl(scene, c.kind, c.keyed, c.keys);
    MemController* slot[4] = {};  // position, rotation, scale, roll
    slot[c.kind == ControlKind::POSITION   ? 0
         : c.kind == ControlKind::ROTATION ? 1
         : c.kind == ControlKind::SCALE    ? 2
                                           : 3] = ctl;
    Animate(scene, n, slot[0], slot[1], slot[2], slot[3]);
    std::string problem = CheckScene(scene);
    EXPECT_EQ(problem.empty(), *c.problem == '\0') << problem;
    EXPECT_NE(problem.find(c.problem), std::string::npos) << problem;
  }
}

}  // namespace
}  // namespace tsm
