// The host scene as the exporter sees it: abstract host objects with the operations the
// writers and the run call, under the host's names. The host owns every object reached
// through these interfaces; the exporter never frees one, except the triangle-mesh objects
// it obtains by conversion and releases itself with ReleaseObject.
//
// Pointers answered here are non-owning; null stands for "none". Times are ticks; angles
// are radians; colours are three floats, nominally 0..1.
#ifndef TSM_RUN_HOST_SCENE_H
#define TSM_RUN_HOST_SCENE_H

#include "host/geometry.h"
#include "host/host_core.h"

class SceneNode;
class SceneObject;
class HostMaterial;
class HostMap;

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
};

class SceneObject {
 public:
  virtual ~SceneObject() = default;
  virtual int FamilyCode() = 0;
  virtual Class_ID ClassIdentity() = 0;
  // Non-zero when the object can be turned into an object of class id.
  virtual int ConvertibleTo(Class_ID id) = 0;
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
