// The host scene as the exporter sees it: abstract host objects with the operations the
// writers and the run call, under the host's names. The host owns every object reached
// through these interfaces; the exporter never frees one, except the triangle-mesh objects
// it obtains by conversion and releases itself with ReleaseObject.
//
// Pointers answered here are non-owning; null stands for "none". Times are ticks; angles
// are radians; colours are three floats, nominally 0..1.
#ifndef TSM_RUN_HOST_SCENE_H
#define TSM_RUN_HOST_SCENE_H

#include <cstdint>

#include "host/geometry.h"
#include "host/host_core.h"
#include "host/mesh.h"

class SceneNode;
class SceneObject;
class HostMaterial;
class HostMap;
class HostController;

// Family codes of the objects the exporter knows.
constexpr int kFamilyNode = 1;     // a scene node seen as a dependent
constexpr int kFamilyCamera = 32;  // 0x20
constexpr int kFamilyLight = 48;   // 0x30
constexpr int kFamilyShape = 64;   // 0x40
constexpr int kFamilyHelper = 80;  // 0x50

// What a node evaluates to at a time.
struct ObjectState {
  SceneObject* obj = nullptr;
};

// Something that depends on a node: another node (family 1) or any other host object.
class HostDependent {
 public:
  virtual ~HostDependent() = default;
  virtual int FamilyCode() = 0;
  // The look-at target of a dependent that is a node; null for anything else.
  virtual SceneNode* LookAtTarget() = 0;
};

// Called by the host for each node of a scene; answering 0 goes on to the next node.
class SceneVisitor {
 public:
  virtual ~SceneVisitor() = default;
  virtual int Visit(SceneNode* node) = 0;
};

// Called by a node for each of its dependents; answering 1 stops the enumeration.
class DependentVisitor {
 public:
  virtual ~DependentVisitor() = default;
  virtual int VisitDependent(HostDependent* dependent) = 0;
};

class SceneNode : public HostDependent {
 public:
  // The node's object at time t; mode is passed on unchanged (the run passes 1).
  virtual ObjectState EvaluateAtTime(TimeValue t, int mode) = 0;
  // Non-zero when a mesh node is to be exported.
  virtual int MeshNodeAccepted() = 0;
  // Non-zero when this node is the look-at target of another node.
  virtual int IsLookAtTarget() = 0;
  // The node that looks at this target; null when there is none.
  virtual SceneNode* TargetOwner() = 0;
  // The node's name, NUL-terminated; valid while the node lives.
  virtual const char* NodeName() = 0;
  // The node's material, or null.
  virtual HostMaterial* NodeMaterial() = 0;
  // Visits the node's dependents in the host's order until the visitor answers 1.
  virtual void EnumerateDependents(DependentVisitor& visitor) = 0;
  // The parent node; the scene root for a top-level node; null for the root itself.
  virtual SceneNode* ParentNode() = 0;
  // Non-zero for the scene's root node.
  virtual int IsSceneRoot() = 0;
  // The node's world transform at time t.
  virtual Matrix3 NodeTransform(TimeValue t) = 0;
  // The world transform of the node's object at time t: the object-offset matrix (the
  // offset's scale, then rotation, then position) times NodeTransform(t).
  virtual Matrix3 ObjectTransform(TimeValue t) = 0;
  // The object offset's position, relative to the node.
  virtual Point3 ObjectOffsetPosition() = 0;
  // A yes-or-no query of the host by code; the writers ask code 96.
  virtual int NodeQuery(int code) = 0;
  // Replaces text with the node's free-form property text.
  virtual void NodePropertyText(CStr& text) = 0;
  // Non-zero when axis (0 x, 1 y, 2 z) of lock group group (0 position, 1 rotation,
  // 2 scale) is locked.
  virtual int TransformLocked(int group, int axis) = 0;
  // The node's transform controller, or null when the node has none.
  virtual HostController* TransformController() = 0;
};

// What EvaluateLight fills. Angles in degrees, as the host holds them.
struct LightParams {
  int on = 0;               // non-zero: the light is on
  Point3 color;             // three floats, nominally 0..1
  float intensity = 0.0f;   // multiplier
  float hotspot = 0.0f;     // degrees
  float falloff = 0.0f;     // degrees
  int useAtten = 0;         // non-zero: attenuation in use
  float attenStart = 0.0f;  // distance where attenuation starts
  float attenEnd = 0.0f;    // distance where it ends
  int overshoot = 0;        // non-zero: overshoot on
  int shadow = 0;           // non-zero: casts shadows
};

// What EvaluateCamera fills: ten 32-bit fields. The caller sets size to 40 before the
// call; the writers read only fov.
struct CameraParams {
  uint32_t size = 40;
  int32_t isOrtho = 0;
  float fov = 0.0f;  // field of view, radians
  float tdist = 0.0f;
  int32_t horzLine = 0;
  int32_t manualClip = 0;
  float hither = 0.0f;
  float yon = 0.0f;
  float nearRange = 0.0f;
  float farRange = 0.0f;
};

// An object a node evaluates to. Operations that only some kinds of object answer have
// neutral answers here (zero, none, false), so a caller may ask any object; the objects
// of each kind override what they answer.
class SceneObject {
 public:
  virtual ~SceneObject() = default;
  virtual int FamilyCode() = 0;
  virtual Class_ID ClassIdentity() = 0;
  // Non-zero when the object can be turned into an object of class id.
  virtual int ConvertibleTo(Class_ID id) = 0;

  // Geometry. ConvertToClass answers the object itself when it already is of class id,
  // else a new object that the caller must release with ReleaseObject, or null when it
  // can't be converted.
  virtual SceneObject* ConvertToClass(TimeValue /*t*/, Class_ID /*id*/) { return nullptr; }
  // A triangle-mesh object's mesh; null for other objects. Owned by the object.
  virtual Mesh* ObjectMesh() { return nullptr; }
  // Releases an object that ConvertToClass made; the object is gone afterwards.
  virtual void ReleaseObject() {}
  // A shape object's shape; null for other objects. Owned by the object.
  virtual BezierShape* ObjectShape() { return nullptr; }
  // The bounding box of the object for node at time t, in the node's space; box is made
  // empty by the caller first. viewport is the host's, passed on unchanged.
  virtual void ObjectBounds(TimeValue /*t*/, SceneNode* /*node*/, void* /*viewport*/,
                            Box3& /*box*/) {}

  // Lights. valid may be narrowed by the host; callers don't read it back.
  virtual void EvaluateLight(TimeValue /*t*/, Interval& /*valid*/, LightParams& /*params*/) {}
  virtual float SpotAspect(TimeValue /*t*/, Interval& /*valid*/) { return 0.0f; }
  virtual float ShadowMapBias(TimeValue /*t*/, Interval& /*valid*/) { return 0.0f; }
  virtual float ShadowMapRange(TimeValue /*t*/, Interval& /*valid*/) { return 0.0f; }
  virtual int ShadowMapSize(TimeValue /*t*/, Interval& /*valid*/) { return 0; }
  virtual float RayTraceBias(TimeValue /*t*/, Interval& /*valid*/) { return 0.0f; }
  virtual bool UsesGlobalShadows() { return true; }
  virtual bool ConeDisplayed() { return false; }
  virtual bool RayTracedShadows() { return false; }
  // 0 for a rectangular spot, 1 for a circular one.
  virtual int SpotShape() { return 1; }
  virtual Point3 LightColor(TimeValue /*t*/, Interval& /*valid*/) { return Point3(); }
  virtual float LightHotspot(TimeValue /*t*/, Interval& /*valid*/) { return 0.0f; }  // degrees
  virtual float LightFalloff(TimeValue /*t*/, Interval& /*valid*/) { return 0.0f; }  // degrees
  virtual HostController* ColorController() { return nullptr; }
  virtual HostController* HotspotController() { return nullptr; }
  virtual HostController* FalloffController() { return nullptr; }

  // Cameras.
  virtual void EvaluateCamera(TimeValue /*t*/, Interval& /*valid*/, CameraParams& /*params*/) {}
  // which: 0 the near range, 1 the far range.
  virtual float CameraRange(TimeValue /*t*/, int /*which*/, Interval& /*valid*/) { return 0.0f; }
  virtual float CameraFov(TimeValue /*t*/, Interval& /*valid*/) { return 0.0f; }  // radians
  virtual HostController* FovController() { return nullptr; }
};

// The id under which a key-bearing controller offers its keys.
constexpr uint32_t KEY_INTERFACE_ID = 0x1060;

// One key of a key-bearing controller as the key interface gives it. Which value member
// holds the key's value depends on the controller's kind.
struct SplineKey {
  TimeValue time = 0;  // ticks
  uint32_t flags = 0;  // the host's key flags; not read by the exporter
  float tens = 0.0f;   // tension
  float cont = 0.0f;   // continuity
  float bias = 0.0f;
  float easeIn = 0.0f;   // ease to
  float easeOut = 0.0f;  // ease from
  float fval = 0.0f;     // float keys
  Point3 pval;           // position and colour keys
  ScaleValue sval;       // scale keys
  AngAxis aval;          // rotation keys: the rotation from the previous key (the first absolute)
};

// The key access of a key-bearing controller.
class HostKeyControl {
 public:
  virtual ~HostKeyControl() = default;
  // Fills key with key i, 0 <= i < the controller's KeyCount.
  virtual void GetKey(int i, SplineKey* key) = 0;
};

// An animation controller: keys and values at any time. A transform controller also has
// sub-controllers. A value query of a type the controller does not hold leaves the value
// as it was.
class HostController {
 public:
  virtual ~HostController() = default;
  virtual Class_ID ClassIdentity() = 0;
  // The number of keys; -1 or 0: none.
  virtual int KeyCount() = 0;
  // The time of key i in ticks, 0 <= i < KeyCount().
  virtual TimeValue KeyTime(int i) = 0;
  // The key access for id KEY_INTERFACE_ID, or null when the controller offers none.
  virtual HostKeyControl* KeyInterface(uint32_t /*id*/) { return nullptr; }
  // The value at time t. valid may be narrowed; mode is passed on unchanged (callers pass 1).
  virtual void ControllerValue(TimeValue /*t*/, float* /*v*/, Interval& /*valid*/, int /*mode*/) {}
  virtual void ControllerValue(TimeValue /*t*/, Point3* /*v*/, Interval& /*valid*/, int /*mode*/) {}
  virtual void ControllerValue(TimeValue /*t*/, Quat* /*v*/, Interval& /*valid*/, int /*mode*/) {}
  virtual void ControllerValue(TimeValue /*t*/, ScaleValue* /*v*/, Interval& /*valid*/,
                               int /*mode*/) {}
  // Sub-controllers of a transform controller; null when absent.
  virtual HostController* PositionController() { return nullptr; }
  virtual HostController* RotationController() { return nullptr; }
  virtual HostController* ScaleController() { return nullptr; }
  virtual HostController* RollController() { return nullptr; }
};

class HostScene {
 public:
  virtual ~HostScene() = default;
  // Calls visitor.Visit once for each node of the scene, in the host's order, until a
  // visit answers non-zero.
  virtual void EnumerateNodes(SceneVisitor& visitor) = 0;
};

// What the host hands the export call as its export interface: the scene comes first.
struct ExportInterface {
  HostScene* scene = nullptr;
};

class HostInterface {
 public:
  virtual ~HostInterface() = default;
  virtual TimeValue CurrentTime() = 0;
  // Start and end of the animation, in ticks.
  virtual Interval AnimationRange() = 0;
  // The host's viewport number n, only passed on to ObjectBounds; may be null.
  virtual void* ViewportHandle(int /*n*/) { return nullptr; }
};

// Channel numbers of a standard material's maps.
constexpr int kChannelDiffuse = 1;
constexpr int kChannelSpecular = 2;
constexpr int kChannelShininess = 3;
constexpr int kChannelSelfIllum = 5;
constexpr int kChannelOpacity = 6;
constexpr int kChannelBump = 8;
constexpr int kChannelReflection = 9;
constexpr int kChannelCount = 12;

// Class identities of the materials and maps the conversion knows.
const Class_ID kStandardMaterialClass(2, 0);
const Class_ID kMultiMaterialClass(0x200, 0);
const Class_ID kBitmapMapClass(0x240, 0);
const Class_ID kReflectionMapClass(0x250, 0);  // with its own reflection size
const Class_ID kMirrorMapClass(0x260, 0);      // the other reflection class

// The coordinates of a bitmap map. Values are at time t; angles in radians.
class HostMapCoords {
 public:
  virtual ~HostMapCoords() = default;
  virtual float UOffset(TimeValue t) = 0;
  virtual float VOffset(TimeValue t) = 0;
  virtual float UTiling(TimeValue t) = 0;
  virtual float VTiling(TimeValue t) = 0;
  virtual float RotationAngle(TimeValue t) = 0;
  virtual float MapBlur(TimeValue t) = 0;
  // Bits 0x1, 0x2: repeat in U, V; 0x4, 0x8: mirror in U, V.
  virtual int TilingBits() = 0;
};

class HostMap {
 public:
  virtual ~HostMap() = default;
  virtual Class_ID ClassIdentity() = 0;
  // Bitmap maps: the image path as the host holds it (any directory separators).
  virtual const char* MapFileName() = 0;
  // Bitmap maps: the coordinates; never null for a bitmap map.
  virtual HostMapCoords* MapCoordinates() = 0;
  virtual bool MapOutputInverted() = 0;
  // 0 pyramidal, 1 summed-area, 2 none.
  virtual int MapFilterType() = 0;
  // Reflection maps: whether the reflection is made every nth frame (else the first only).
  virtual bool EveryNthFrame() = 0;
  virtual int NthFrame() = 0;
  // Reflection maps of the class with a size: the map size at time t.
  virtual int ReflectionSize(TimeValue t) = 0;
};

class HostMaterial {
 public:
  virtual ~HostMaterial() = default;
  virtual Class_ID ClassIdentity() = 0;
  // Brings the material up to date for time t, narrowing valid.
  virtual void UpdateMaterial(TimeValue t, Interval& valid) = 0;
  virtual const char* MaterialName() = 0;
  // Multi/sub materials: the number of slots and the material of slot i (or null).
  virtual int SubMaterialCount() = 0;
  virtual HostMaterial* SubMaterial(int i) = 0;

  // Every material; the values of the last update. mtlNum and backFace are passed 0.
  virtual Point3 AmbientColor(int mtlNum, bool backFace) = 0;
  virtual Point3 DiffuseColor(int mtlNum, bool backFace) = 0;
  virtual Point3 SpecularColor(int mtlNum, bool backFace) = 0;
  virtual float Shininess(int mtlNum, bool backFace) = 0;
  virtual float ShininessStrength(int mtlNum, bool backFace) = 0;
  virtual float Transparency(int mtlNum, bool backFace) = 0;
  virtual float WireSize(int mtlNum, bool backFace) = 0;

  // Standard materials only (class (2, 0)).
  virtual int ShadingMode() = 0;  // 0 constant, 1 phong, 2 metal, others
  virtual float TransparencyFalloff(TimeValue t) = 0;
  virtual float SelfIllumination(TimeValue t) = 0;
  virtual bool TwoSided() = 0;
  virtual bool Wireframe() = 0;
  virtual bool FalloffOut() = 0;
  virtual bool FaceMap() = 0;
  virtual bool Soften() = 0;
  virtual bool WireInUnits() = 0;
  virtual int TransparencyType() = 0;  // 1 additive
  virtual HostMap* ChannelMap(int channel) = 0;
  virtual float ChannelAmount(int channel, TimeValue t) = 0;
  virtual bool ChannelEnabled(int channel) = 0;
};

#endif  // TSM_RUN_HOST_SCENE_H
