// Objects of the in-memory scene with their payload: mesh geometry, spline knots, camera
// and light values, dummy bounds. The payload is plain data, filled by the loaders or by
// tests; the writers read it through the host operations that the in-memory objects
// answer. Each type starts with the family and class under which the enumeration
// recognises it, and every default below is the one the JSON scene format documents
// (docs/scene-format.md).
#ifndef TSM_SCENE_MEM_OBJECTS_H
#define TSM_SCENE_MEM_OBJECTS_H

#include <array>
#include <cstdint>
#include <vector>

#include "scene/mem_scene.h"
#include "scene/scene_memory.h"

namespace tsm {

// Family of geometric objects (meshes and other objects that can become meshes).
constexpr int kFamilyGeometry = 16;  // 0x10

// Class identities of the object kinds the exporter classifies.
const Class_ID kShapeObjectClass(10, 0);
const Class_ID kCameraObjectClass(0x1002, 0);  // camera with a look-at target
const Class_ID kPointLightObjectClass(0x1011, 0);
const Class_ID kSpotLightObjectClass(0x1012, 0);  // spot light with a look-at target
const Class_ID kDummyObjectClass(0x876234, 0);
// Our own class for the object a look-at target node holds; the enumeration knows
// targets by the node's target flag, not by this class.
const Class_ID kTargetObjectClass(0x7461, 0x7267);

// One triangle of a mesh.
struct MemFace {
  std::array<int, 3> v{{0, 0, 0}};  // vertex indices, each below the vertex count
  uint32_t smoothing = 0;           // smoothing-group bits; 0: in no group
  int materialId = 0;               // 0..65535: material id (multi/sub slot) of the face
  int edgeVisible = 7;              // bit 0: edge first-second, bit 1: second-third,
                                    // bit 2: third-first visible; all visible
};

// A triangle-mesh object (family 16, class triObjectClassID, convertible to a mesh).
class MemMeshObject : public MemObject {
 public:
  MemMeshObject() {
    family = kFamilyGeometry;
    classId = triObjectClassID;
    convertibleToMesh = true;
  }
  SceneVector<Point3> vertices;  // object space
  SceneVector<MemFace> faces;
  SceneVector<Point3> texVerts;              // (U, V, W); empty: none
  SceneVector<std::array<int, 3>> texFaces;  // one per face, or empty: none
  SceneVector<Point3> vertexColors;          // three floats each; empty: none; the
                                             // count may differ from the vertex count

  ~MemMeshObject() override;

  // The fields as a host mesh: face flags carry the edge bits and the material id in
  // their upper 16 bits. Built when asked and held by the in-memory host for the last
  // object asked only: the answer stays valid until ObjectMesh is asked of another mesh
  // object, this object is destroyed, or its fields change. An export thus holds one
  // object's host mesh at a time, however many the scene has. Built again whenever a
  // field's size or its data has moved since; a caller that changes values in place
  // without changing sizes calls MeshChanged. Single-threaded, as the host is.
  Mesh* ObjectMesh() override;
  void MeshChanged();
  Mesh ConvertedMesh() const override { return BuildMesh(); }
  Mesh BuildMesh() const;
  // Bytes of the host mesh the in-memory host holds (for whichever object), 0 when none.
  static size_t HeldMeshBytes();

  // Where the fields stood when a host mesh was built from them.
  struct Shape {
    const void* data[5] = {};
    size_t size[5] = {};
    bool operator==(const Shape& o) const;
  };

 private:
  Shape CurrentShape() const;
};

// A triangle mesh that a conversion made from an object of another class. It lives until
// its ReleaseObject; LiveCount tells how many are alive, so tests can see that every
// converted mesh was released.
class MemConvertedMesh : public MemObject {
 public:
  explicit MemConvertedMesh(Mesh m);
  ~MemConvertedMesh() override;
  MemConvertedMesh(const MemConvertedMesh&) = delete;
  MemConvertedMesh& operator=(const MemConvertedMesh&) = delete;

  Mesh mesh;

  Mesh* ObjectMesh() override { return &mesh; }
  // Frees the object.
  void ReleaseObject() override { delete this; }
  static int LiveCount();
};

// One knot of a Bezier spline with its two handles, all in object space.
struct MemKnot {
  Point3 inVec;  // incoming handle; the knot point itself unless set
  Point3 point;
  Point3 outVec;  // outgoing handle; the knot point itself unless set
};

struct MemSpline {
  bool closed = false;
  std::vector<MemKnot> knots;
};

// A spline shape (family 64, class (10, 0)). Its vertex count, as the host counts it,
// is three per knot: in handle, knot, out handle.
class MemShapeObject : public MemObject {
 public:
  MemShapeObject() {
    family = kFamilyShape;
    classId = kShapeObjectClass;
  }
  std::vector<MemSpline> splines;

  // The knots as a host shape (in handle, knot, out handle per knot), rebuilt from
  // splines at each call.
  BezierShape* ObjectShape() override;

 private:
  BezierShape shape_;
};

// A camera with a look-at target (family 32, class (0x1002, 0)).
class MemCameraObject : public MemObject {
 public:
  MemCameraObject() {
    family = kFamilyCamera;
    classId = kCameraObjectClass;
  }
  float fov = 0.785398163f;  // field of view, radians; 45 degrees
  float nearRange = 0.0f;    // CameraRange 0
  float farRange = 1000.0f;  // CameraRange 1
  // Field of view in radians at any time; null: fov at every time. Owned by the scene.
  HostController* fovController = nullptr;

  void EvaluateCamera(TimeValue t, Interval& valid, CameraParams& params) override;
  float CameraRange(TimeValue t, int which, Interval& valid) override;
  float CameraFov(TimeValue t, Interval& valid) override;
  HostController* FovController() override { return fovController; }
};

// A point light (family 48, class (0x1011, 0)) or a spot light (class (0x1012, 0)).
// The spot values are kept for point lights too but only spot lights are asked for them.
class MemLightObject : public MemObject {
 public:
  explicit MemLightObject(bool spot = false) {
    family = kFamilyLight;
    classId = spot ? kSpotLightObjectClass : kPointLightObjectClass;
  }
  bool IsSpot() const { return classId == kSpotLightObjectClass; }

  bool on = true;
  Point3 color{1.0f, 1.0f, 1.0f};
  float intensity = 1.0f;    // multiplier
  bool attenuate = false;    // attenuation in use
  float attenStart = 80.0f;  // attenuation start distance
  float attenEnd = 200.0f;   // attenuation end distance
  bool castShadows = false;
  // Spot lights:
  float hotspot = 43.0f;  // degrees, as the host holds it
  float falloff = 45.0f;  // degrees, as the host holds it
  bool overshoot = false;
  bool useGlobalShadows = true;  // false: the spot's own shadow-map values below
  float shadowMapBias = 1.0f;
  float shadowMapRange = 4.0f;  // sample range
  int shadowMapSize = 512;
  bool coneDisplayed = false;
  bool rectangular = false;  // SpotShape answers 0 when rectangular, 1 when circular
  float aspect = 1.0f;       // of a rectangular spot
  float rayTraceBias = 0.2f;
  bool rayTracedShadows = false;
  // Animated values; null: the static value above at every time. Owned by the scene.
  HostController* colorController = nullptr;    // colour, a Point3
  HostController* hotspotController = nullptr;  // degrees
  HostController* falloffController = nullptr;  // degrees

  void EvaluateLight(TimeValue t, Interval& valid, LightParams& params) override;
  float SpotAspect(TimeValue, Interval&) override { return aspect; }
  float ShadowMapBias(TimeValue, Interval&) override { return shadowMapBias; }
  float ShadowMapRange(TimeValue, Interval&) override { return shadowMapRange; }
  int ShadowMapSize(TimeValue, Interval&) override { return shadowMapSize; }
  float RayTraceBias(TimeValue, Interval&) override { return rayTraceBias; }
  bool UsesGlobalShadows() override { return useGlobalShadows; }
  bool ConeDisplayed() override { return coneDisplayed; }
  bool RayTracedShadows() override { return rayTracedShadows; }
  int SpotShape() override { return rectangular ? 0 : 1; }
  Point3 LightColor(TimeValue t, Interval& valid) override;
  float LightHotspot(TimeValue t, Interval& valid) override;
  float LightFalloff(TimeValue t, Interval& valid) override;
  HostController* ColorController() override { return colorController; }
  HostController* HotspotController() override { return hotspotController; }
  HostController* FalloffController() override { return falloffController; }
};

// A dummy helper (family 80, class (0x876234, 0)) with its box in object space.
class MemDummyObject : public MemObject {
 public:
  MemDummyObject() {
    family = kFamilyHelper;
    classId = kDummyObjectClass;
    box.pmin = Point3(-1.0f, -1.0f, -1.0f);
    box.pmax = Point3(1.0f, 1.0f, 1.0f);
  }
  Box3 box;  // (-1, -1, -1) to (1, 1, 1)

  // The box's corners carried into the node's space by the node's object offset, added
  // to box.
  void ObjectBounds(TimeValue t, SceneNode* node, void* viewport, Box3& bounds) override;
};

}  // namespace tsm

#endif  // TSM_SCENE_MEM_OBJECTS_H
