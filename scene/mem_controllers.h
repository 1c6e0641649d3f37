// Animation controllers of the in-memory scene: plain keys that the loaders fill and the
// host controller operations that the keyframer writer reads. The scene owns every
// controller (MemScene::Own); the pointers between them are non-owning.
#ifndef TSM_SCENE_MEM_CONTROLLERS_H
#define TSM_SCENE_MEM_CONTROLLERS_H

#include <vector>

#include "run/host_scene.h"
#include "scene/scene_memory.h"

namespace tsm {

// What a controller's values are.
enum class ControlKind {
  FLOAT,     // one float (field of view and roll in radians, hotspot and falloff in degrees)
  POSITION,  // a Point3
  ROTATION,  // a rotation
  SCALE,     // per-axis scale factors (the orientation of the scale axes is the identity)
  POINT3,    // a Point3 that is not a position: a colour
};

// The five key-bearing controller classes: their keys carry spline parameters and are
// read through the key interface.
const Class_ID kKeyFloatClass(0x442311, 0);
const Class_ID kKeyPositionClass(0x442312, 0);
const Class_ID kKeyRotationClass(0x442313, 0);
const Class_ID kKeyScaleClass(0x442314, 0);
const Class_ID kKeyPoint3Class(0x442315, 0);
// Our own classes of controllers whose keys hold plain values: the exporter samples them
// at their key times.
const Class_ID kSampledFloatClass(0x74730001, 0);
const Class_ID kSampledPositionClass(0x74730002, 0);
const Class_ID kSampledRotationClass(0x74730003, 0);
const Class_ID kSampledScaleClass(0x74730004, 0);
const Class_ID kSampledPoint3Class(0x74730005, 0);
// Our transform controller: position, rotation, scale and roll sub-controllers.
const Class_ID kTransformControlClass(0x74730010, 0);

// The class of a controller of kind, key-bearing or sampled.
Class_ID ControllerClassFor(ControlKind kind, bool keyBearing);

// One key. Which value member counts depends on the controller's kind, and only that one
// is kept: the members share their storage (a scene of many keys holds 40 bytes a key), so
// a key's value is read through the member of its controller's kind only. Until its value
// is set a key reads as f 0, p the origin and q the identity rotation (aa is meaningful
// only once set). The spline parameters count only for key-bearing controllers.
struct MemKey {
  MemKey() : q() {}

  TimeValue time = 0;  // ticks
  float tens = 0.0f;   // tension
  float cont = 0.0f;   // continuity
  float bias = 0.0f;
  float easeIn = 0.0f;   // ease to
  float easeOut = 0.0f;  // ease from
  union {
    Quat q;           // ROTATION of a sampled controller: the absolute rotation
    float f;          // FLOAT
    Point3 p;         // POSITION, POINT3; SCALE: the factors
    AngAxis aa;       // ROTATION of a key-bearing controller: the rotation from the
                      // previous key; the first key's is absolute
  };
};

// A controller of one kind with keys in strictly increasing time order (the loaders and
// CheckScene see to that). Its value at time t, for the ControllerValue of its kind:
// - no keys: the const value of its kind;
// - before the first key, the first key's value; after the last, the last key's;
// - between two keys, the linear blend by time; rotations blend along the shorter arc
//   (spherical-linear). A key-bearing rotation controller first composes its keys: the
//   absolute rotation at key i is key i's rotation applied after that at key i - 1, so a
//   query walks the keys up to t.
// The spline parameters are kept for the file and do not shape the values. A query of a
// value type that is not the controller's leaves the value as it was.
class MemController : public HostController, public HostKeyControl {
 public:
  MemController(ControlKind k, bool keyBearing)
      : kind(k), classId(ControllerClassFor(k, keyBearing)) {}

  ControlKind kind;
  Class_ID classId;
  SceneVector<MemKey> keys;
  // The value without keys: the controller answers it at every time.
  float constF = 0.0f;
  Point3 constP;
  Quat constQ;
  Point3 constS{1.0f, 1.0f, 1.0f};

  bool KeyBearing() const;

  // HostController
  Class_ID ClassIdentity() override { return classId; }
  int KeyCount() override { return static_cast<int>(keys.size()); }
  TimeValue KeyTime(int i) override { return keys[i].time; }
  HostKeyControl* KeyInterface(uint32_t id) override;
  void ControllerValue(TimeValue t, float* v, Interval& valid, int mode) override;
  void ControllerValue(TimeValue t, Point3* v, Interval& valid, int mode) override;
  void ControllerValue(TimeValue t, Quat* v, Interval& valid, int mode) override;
  void ControllerValue(TimeValue t, ScaleValue* v, Interval& valid, int mode) override;
  // HostKeyControl
  void GetKey(int i, SplineKey* key) override;

 private:
  size_t hint_ = 0;  // the first key of the span a value query found last
};

// A node's transform controller. Any sub-controller may be absent.
class MemTransformController : public HostController {
 public:
  MemController* position = nullptr;
  MemController* rotation = nullptr;
  MemController* scale = nullptr;
  MemController* roll = nullptr;

  Class_ID ClassIdentity() override { return kTransformControlClass; }
  int KeyCount() override { return 0; }
  TimeValue KeyTime(int /*i*/) override { return 0; }
  HostController* PositionController() override { return position; }
  HostController* RotationController() override { return rotation; }
  HostController* ScaleController() override { return scale; }
  HostController* RollController() override { return roll; }
};

}  // namespace tsm

#endif  // TSM_SCENE_MEM_CONTROLLERS_H
