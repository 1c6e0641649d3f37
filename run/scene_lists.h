// The lists of one export run: the scene's accepted nodes as entries in visit order, and
// the object list that the editor section writes from. The writers reach both through
// the run-wide pointers of export_run.h and find records through the lookups here.
//
// Lists are singly linked, hold first, last and count, append at the end and are walked
// from the first element. Each list owns its records, made from blocks of many and freed
// together. Host objects that a record points at are never owned.
#ifndef TSM_RUN_SCENE_LISTS_H
#define TSM_RUN_SCENE_LISTS_H

#include <cstdint>

#include "host/host_core.h"
#include "run/flat_index.h"
#include "run/host_scene.h"

namespace tsm {

class MaterialTable;

// Class identities that decide a node's kind, together with the object's family code.
const Class_ID kShapeClass(10, 0);           // family 64: a spline shape
const Class_ID kCameraClass(0x1002, 0);      // family 32: a target camera
const Class_ID kPointLightClass(0x1011, 0);  // family 48: an omni light
const Class_ID kSpotLightClass(0x1012, 0);   // family 48: a target spot
const Class_ID kDummyClass(0x876234, 0);     // family 80: a dummy helper

// What an accepted node is exported as. Value 4 is never produced.
enum EntryKind : int32_t {
  ENTRY_MESH = 0,           // converts to a triangle mesh and passes MeshNodeAccepted
  ENTRY_CAMERA = 1,         // family 32, kCameraClass
  ENTRY_POINT_LIGHT = 2,    // family 48, kPointLightClass
  ENTRY_SPOT_LIGHT = 3,     // family 48, kSpotLightClass
  ENTRY_DUMMY = 5,          // family 80, kDummyClass
  ENTRY_CAMERA_TARGET = 6,  // a look-at target whose owner's object is of family 32
  ENTRY_LIGHT_TARGET = 7,   // a look-at target whose owner's object is of family 48
  ENTRY_SHAPE = 8,          // family 64, kShapeClass
};

// The NodeNumber of an entry that has none: every entry starts with it, and the
// keyframer writer replaces it when it writes the entry's node chunk. An ENTRY_SHAPE
// entry keeps it for good, so whoever reads a parent's number must test for it.
constexpr int32_t kNoNodeNumber = -1;

// One accepted scene node. Made and owned by the SceneEnumerator.
struct SceneEntry {
  CStr name;                      // empty until the name pass sets the node's name
  SceneNode* node = nullptr;      // the visited node
  SceneNode* target = nullptr;    // the node's LookAtTarget when the entry was made; may be null
  SceneObject* object = nullptr;  // the node's object at the run's time (a target's own object)
  EntryKind kind = ENTRY_MESH;
  int32_t NodeNumber = kNoNodeNumber;  // running number of its keyframer node chunk
  SceneEntry* next = nullptr;          // list link in visit order; maintained by the list only
};

// Visits a scene once and keeps its accepted nodes as SceneEntry records in visit order.
// Mesh nodes' materials go into the run's material table while the scene is visited.
class SceneEnumerator : public SceneVisitor {
 public:
  // Fills the fields with an empty list and at once asks scene to enumerate its nodes
  // with this enumerator as the visitor: when the constructor returns, the enumeration is
  // complete. Every node is evaluated at time (ticks). host is kept for the writers; it
  // may be null for an enumeration without writers. A null scene gives an empty list.
  // materials must outlive the enumerator.
  SceneEnumerator(HostScene* scene, TimeValue time, HostInterface* host, MaterialTable* materials);
  ~SceneEnumerator() override;
  SceneEnumerator(const SceneEnumerator&) = delete;
  SceneEnumerator& operator=(const SceneEnumerator&) = delete;

  // Classifies node and appends an entry for it when it is accepted; always answers 0, so
  // the host goes on to the next node. A null node, and a node whose evaluation gives no
  // object, are left out.
  int Visit(SceneNode* node) override;

  // Gives every entry its node's name, in entry order, and shows the duplicate-names
  // warning (40239, caption 40229, OK) once for every entry whose name equals, byte for
  // byte, the name of an earlier entry. Never stops the run.
  void NamePass();

  // The first entry whose node is node, or null. Constant time: entries are indexed by
  // node as they are appended.
  SceneEntry* FindEntryByNode(SceneNode* node) const;

  // Frees every entry (the names first, in list order) and leaves the list empty, count 0.
  // Safe to call again; the destructor calls it.
  void ReleaseEntries();

  SceneEntry* First() const { return first_; }
  SceneEntry* Last() const { return last_; }
  int32_t Count() const { return count_; }
  HostScene* Scene() const { return scene_; }
  HostInterface* Host() const { return host_; }
  MaterialTable* Materials() const { return materials_; }
  TimeValue Time() const { return time_; }  // the run's current time, ticks

 private:
  void AddEntry(SceneNode* node, SceneObject* object, EntryKind kind);

  HostInterface* host_;
  SceneEntry* first_ = nullptr;
  SceneEntry* last_ = nullptr;
  HostScene* scene_;
  int32_t count_ = 0;
  MaterialTable* materials_;
  TimeValue time_;
  RecordStore<SceneEntry> store_;                // where the entries live
  FlatIndex<SceneNode*, SceneEntry*> byNode_;  // first entry of each node
};

// One object to be written in the editor section. Made and owned by the ObjectList.
struct ObjectListItem {
  SceneObject* converted = nullptr;  // the triangle mesh the editor writer obtained; null
                                     // until then; never freed by the list
  SceneEntry* entry = nullptr;       // the entry the item stands for; not owned
  ObjectListItem* next = nullptr;    // list link in entry order; maintained by the list only
};

// One item per entry, except that mesh entries sharing one object are represented by the
// first of them only.
class ObjectList {
 public:
  ObjectList() = default;
  ~ObjectList();
  ObjectList(const ObjectList&) = delete;
  ObjectList& operator=(const ObjectList&) = delete;

  // Appends, in entry order, one item per entry of entries, leaving out an ENTRY_MESH
  // entry whose object an earlier item already stands for. Entries of every other kind
  // always get an item. Releases anything the list held before. The entries must outlive
  // the list's use. Linear in the number of entries.
  void Build(const SceneEnumerator& entries);

  // The first item whose entry's object is object, or null. Constant time.
  ObjectListItem* FindItemByObject(SceneObject* object) const;

  // The first item, in list order, one of whose node's dependents is a node (family 1)
  // whose LookAtTarget is target; null when there is none. The node itself counts when
  // the host lists it among its dependents. The first call walks the dependents of every
  // item once and indexes what they look at; later calls are constant time. The host's
  // answers must not change while the list lives.
  ObjectListItem* FindItemByTarget(SceneNode* target);

  // Frees every item (never the converted mesh it holds) and leaves the list empty,
  // count 0. Safe to call again; the destructor calls it.
  void Release();

  ObjectListItem* First() const { return first_; }
  ObjectListItem* Last() const { return last_; }
  int32_t Count() const { return count_; }

 private:
  void Append(SceneEntry* entry);
  void IndexTargets();

  ObjectListItem* first_ = nullptr;
  ObjectListItem* last_ = nullptr;
  int32_t count_ = 0;
  RecordStore<ObjectListItem> store_;                   // where the items live
  FlatIndex<SceneObject*, ObjectListItem*> byObject_;  // first item of each object
  FlatIndex<SceneNode*, ObjectListItem*> byTarget_;    // first item looking at it
  bool targetsIndexed_ = false;
};

}  // namespace tsm

#endif  // TSM_RUN_SCENE_LISTS_H
