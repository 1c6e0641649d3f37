// The in-memory scene: the host scene interface implemented over plain data. Tests build
// scenes in code; the loaders fill them from files. The scene owns every node, object,
// material and map it holds; the pointers between them are non-owning.
#ifndef TSM_SCENE_MEM_SCENE_H
#define TSM_SCENE_MEM_SCENE_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "run/host_scene.h"

namespace tsm {

class MemScene;

// Any object a node can hold. Its family and class decide how the exporter sees it.
class MemObject : public SceneObject {
 public:
  int family = kFamilyHelper;      // family code; a helper unless set
  Class_ID classId{0, 0};          // class identity
  bool convertibleToMesh = false;  // answer of ConvertibleTo(triObjectClassID)

  int FamilyCode() override { return family; }
  Class_ID ClassIdentity() override { return classId; }
  int ConvertibleTo(Class_ID id) override;
  // The object itself for its own class; for the triangle-mesh class, when the object is
  // convertible, a new MemConvertedMesh of ConvertedMesh() that the caller releases with
  // ReleaseObject; else null.
  SceneObject* ConvertToClass(TimeValue t, Class_ID id) override;
  // The mesh a conversion to a triangle mesh gives; empty unless a payload has one.
  virtual Mesh ConvertedMesh() const { return Mesh(); }
};

// A dependent of a node that is not itself a node (a modifier, a controller, ...).
class MemDependent : public HostDependent {
 public:
  int family = 0;               // family code the host reports for it
  SceneNode* lookAt = nullptr;  // what it answers as look-at target
  int FamilyCode() override { return family; }
  SceneNode* LookAtTarget() override { return lookAt; }
};

class MemNode : public SceneNode {
 public:
  std::string name;
  MemNode* parent = nullptr;                    // null only for the root
  std::vector<MemNode*> children;               // in the host's visit order
  MemObject* object = nullptr;                  // what the node evaluates to; null: none
  HostMaterial* material = nullptr;             // null: no material
  MemNode* lookAt = nullptr;                    // the node's look-at target
  bool isTarget = false;                        // the node is some node's look-at target
  MemNode* owner = nullptr;                     // the node that looks at this one, if known
  bool meshAccepted = true;                     // answer of MeshNodeAccepted
  Matrix3 local;                                // static transform relative to the parent;
                                                // identity
  std::vector<HostDependent*> extraDependents;  // visited after the node itself
  std::string propertyText;                     // free-form property text; empty
  bool transformLocked[3][3] = {};              // [lock group][axis x, y, z]; all unlocked
  bool nodeQuery96 = false;                     // answer of NodeQuery(96)
  Point3 objectOffsetPos;                       // object offset position; (0, 0, 0)
  Quat objectOffsetRot;                         // object offset rotation; identity
  Point3 objectOffsetScale{1.0f, 1.0f, 1.0f};   // object offset scale; none
  HostController* transform = nullptr;          // transform controller; null: none
                                                // (then local is the transform at any time)

  // HostDependent
  int FamilyCode() override { return kFamilyNode; }
  SceneNode* LookAtTarget() override { return lookAt; }
  // SceneNode
  ObjectState EvaluateAtTime(TimeValue t, int mode) override;
  int MeshNodeAccepted() override { return meshAccepted ? 1 : 0; }
  int IsLookAtTarget() override { return isTarget ? 1 : 0; }
  SceneNode* TargetOwner() override { return owner; }
  const char* NodeName() override { return name.c_str(); }
  HostMaterial* NodeMaterial() override { return material; }
  // The node itself first, then its extra dependents, until the visitor answers 1.
  void EnumerateDependents(DependentVisitor& visitor) override;
  SceneNode* ParentNode() override { return parent; }
  int IsSceneRoot() override { return parent == nullptr ? 1 : 0; }
  // LocalTransform(t) times the parent's NodeTransform(t). Once the scene has been
  // enumerated, the answer for a time is kept and given again until the next enumeration
  // (see MemScene::EnumerateNodes), so a hierarchy is computed once per time from the top
  // down, not once per node along its whole chain of parents.
  Matrix3 NodeTransform(TimeValue t) override;
  Matrix3 ObjectTransform(TimeValue t) override;
  Point3 ObjectOffsetPosition() override { return objectOffsetPos; }
  int NodeQuery(int code) override { return code == 96 && nodeQuery96 ? 1 : 0; }
  void NodePropertyText(CStr& text) override { text = propertyText; }
  int TransformLocked(int group, int axis) override;
  HostController* TransformController() override { return transform; }
  // The object-offset matrix: the offset's scale, then rotation, then position.
  Matrix3 ObjectOffsetMatrix() const;
  // The transform relative to the parent at time t. Without a transform controller, or
  // with one that has no position, rotation or scale sub-controller, it is local.
  // Otherwise local is split into position, rotation and scale (DecomposeMatrix), each
  // present sub-controller replaces its part by its value at t, and the parts are put
  // together again: the scale, then the rotation, then the position. The roll
  // sub-controller does not enter the matrix (the writers read it as a track).
  Matrix3 LocalTransform(TimeValue t);

 private:
  friend class MemScene;
  const uint64_t* enumeration_ = nullptr;  // the scene's enumeration count; null: none
  uint64_t keptEnumeration_ = 0;           // the enumeration the kept transform is from
  TimeValue keptTime_ = 0;                 // and its time
  Matrix3 keptWorld_;                      // NodeTransform(keptTime_)
};

class MemScene : public HostScene, public HostInterface {
 public:
  MemScene();
  MemScene(const MemScene&) = delete;
  MemScene& operator=(const MemScene&) = delete;

  // The root node, parent of every top-level node; never visited.
  MemNode* Root() { return root_.get(); }
  const MemNode* Root() const { return root_.get(); }

  // Adds a node named name below parent (the root when null) and answers it.
  MemNode* AddNode(const std::string& name, MemNode* parent = nullptr);
  // Takes node out of the scene and deletes it; it must have no children. A node made
  // last is found at once.
  void RemoveNode(MemNode* node);
  // Adds an object of the given family and class and answers it.
  MemObject* AddObject(int family, Class_ID classId, bool convertibleToMesh = false);
  // Takes ownership of any host object (a material, a map, a dependent, an object of a
  // derived type) and answers it.
  template <class T>
  T* Own(std::unique_ptr<T> item) {
    T* raw = item.get();
    owned_.push_back(std::shared_ptr<void>(std::move(item)));
    return raw;
  }
  // Empties the scene: it is then as a new one, settings included.
  void Clear();
  // Makes target the look-at target of owner.
  static void SetLookAt(MemNode* owner, MemNode* target);

  // Every node except the root, in the order they were added.
  const std::vector<std::unique_ptr<MemNode>>& Nodes() const { return nodes_; }
  // First node with the given name, or null.
  MemNode* FindNode(const std::string& name) const;

  // HostScene: visits the nodes depth first from the root's children, parents before
  // children, siblings in order. An export starts with it: the world transforms the nodes
  // keep from before are dropped, so changes made to the scene in between count; a change
  // made after it counts from the next one.
  void EnumerateNodes(SceneVisitor& visitor) override;
  // HostInterface
  TimeValue CurrentTime() override { return currentTime; }
  Interval AnimationRange() override { return animationRange; }

  TimeValue currentTime = 0;              // ticks
  Interval animationRange{0, 100 * 160};  // ticks; frames 0 to 100 at 160 ticks a frame

  // Scene-wide host settings; ApplyHostSettings puts them into the host's globals.
  int ticksPerFrame = 160;
  int masterUnitType = 0;        // inches
  double masterUnitScale = 1.0;  // master units per scene unit
  bool gammaEnabled = false;     // gamma correction of output colours off
  float gamma = 2.2f;            // display gamma when on
  // Makes this scene's settings the host's current ones (ticks per frame, master unit,
  // gamma manager). Called once a scene is loaded and checked, before it is exported.
  void ApplyHostSettings() const;

 private:
  std::unique_ptr<MemNode> root_;
  std::vector<std::unique_ptr<MemNode>> nodes_;
  std::vector<std::unique_ptr<MemObject>> objects_;
  std::vector<std::shared_ptr<void>> owned_;
  uint64_t enumerations_ = 0;  // EnumerateNodes calls so far; 0: no world transform is kept
};

// Checks a scene before it is exported: every node has a name, parents and children
// agree, the hierarchy has no cycle, look-at links point at nodes of this scene and agree
// with their owners, the controllers of the in-memory kinds hold values of the kind their
// place asks and keys in strictly increasing time order. Answers an empty text when the scene is
// sound, else what is wrong and where.
std::string CheckScene(const MemScene& scene);
// The same checks of one node on its own, for a reader that takes the nodes one by one:
// its name (index: its place among the scene's nodes), controllers and values, and its
// transform at the scene's current time below its parent's. The node's parent must be
// the root or answer its world transform; empty when the node is sound.
std::string CheckNodeAlone(const MemScene& scene, MemNode& node, size_t index);

// True when none of the count floats stored from floats on (in the machine's byte order,
// not necessarily aligned) is infinite or not a number. One pass without branches, for
// the bulk arrays of meshes and accessors.
bool AllFinite(const void* floats, size_t count);

}  // namespace tsm

#endif  // TSM_SCENE_MEM_SCENE_H
