// The scene rebuilt from a chunk file's content: one node per keyframer node in the file's
// order (which is the order the exporter visited them), the shapes and the objects
// without a keyframer node placed among them by the editor section's order, every track
// as a key-bearing controller with the file's keys, and the values of the editor section
// solved back into object space so that the writers give the file's values again.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "formats/tsm/tsm_loader.h"
#include "formats/tsm/tsm_parts.h"
#include "reader/chunk_dump.h"
#include "scene/mem_controllers.h"
#include "writer/chunk_ids.h"

namespace tsm {

namespace {

constexpr float kDegreesPerRadian = 57.29578f;
// The host's usual ticks per frame: the file holds frames and does not say.
constexpr int kTicksPerFrame = 160;
// Where the mesh writer moves a mesh whose node stands at the world's origin.
const Point3 kOriginMark(0.001f, 0.001f, 0.001f);
// The header name of every dummy's node.
const char kDummyNodeName[] = "$$$DUMMY";

// Tries x and its neighbours up to eight units in the last place each way until
// made(candidate) == target; answers x when none gives it.
template <class F>
float Nudge(float x, float target, F made) {
  if (made(x) == target) return x;
  float lo = x, hi = x;
  for (int i = 0; i < 8; ++i) {
    lo = std::nextafter(lo, -std::numeric_limits<float>::infinity());
    if (made(lo) == target) return lo;
    hi = std::nextafter(hi, std::numeric_limits<float>::infinity());
    if (made(hi) == target) return hi;
  }
  return x;
}

class SceneBuilder {
 public:
  SceneBuilder(const uint8_t* data, FileContent& content, MemScene& scene,
               std::vector<std::string>& notices, const TsmReadOptions& options)
      : data_(data),
        c_(content),
        scene_(scene),
        notices_(notices),
        options_(options),
        passing_(options.holdAtCurrentTime && options.nodeDone) {}

  // After the editor section: the objects by kind and name.
  void IndexObjects() {
    std::vector<FileObject>& all = c_.objects;
    std::vector<uint32_t> order;
    order.reserve(all.size());
    for (size_t i = 0; i < all.size(); ++i) {
      if (all[i].kind != 0) order.push_back(static_cast<uint32_t>(i));
      if (all[i].kind == SHAPE_POINTS) shapeParents_.emplace(all[i].detail->parentName, Named());
    }
    std::stable_sort(order.begin(), order.end(),
                     [&all](uint32_t a, uint32_t b) { return Before(all[a], all[b]); });
    // The first of each kind and name holds the others, chained in the file's order.
    for (size_t k = 0; k < order.size(); ++k) {
      FileObject& o = all[order[k]];
      const bool first = k == 0 || Before(all[order[k - 1]], o);
      if (first) {
        o.firstFresh = static_cast<int32_t>(order[k]);
        byName_.push_back(order[k]);
      } else {
        all[order[k - 1]].sameNext = static_cast<int32_t>(order[k]);
      }
      o.sameFirst = static_cast<int32_t>(byName_.back());
    }
    byName_.shrink_to_fit();
  }

  // One node of the file that names a mesh: the mesh is let go only after the last one
  // (node by node).
  void CountMeshNode(const std::string& name) {
    if (name == kDummyNodeName) return;
    FileObject* first = FirstOfName(name, TRIANGLE_MESH);
    if (first != nullptr) ++first->usersLeft;
  }

  // Before the first node: the scene's settings and the materials by name.
  void Start() {
    Settings();
    for (size_t i = 0; i < c_.materials.size(); ++i)
      materialByName_.emplace(c_.materials[i]->name, c_.materials[i]);
  }

  // The NODE_IDs that nodes of the file name as their parents: only these are kept for
  // their children when the nodes are handed over (TsmReadOptions::nodeDone).
  void NoteParents(std::vector<bool> ids) { parentIds_ = std::move(ids); }
  // Whether the nodes are handed over as they are done (TsmReadOptions::nodeDone).
  bool Passing() const { return passing_; }

  // After the last node: the objects that no node holds, the targets without an owner,
  // the meshes' vertices and the notices of materials that no face uses.
  void Finish() {
    Flush(c_.objects.size());
    for (const auto& p : pendingTargets_)
      notices_.push_back("the target of \"" + p.first + "\" has no camera or light of that name");
    for (FileObject& o : c_.objects)
      if (o.kind == TRIANGLE_MESH && owner_.count(&o) != 0) MeshVertices(o);
    for (FileObject& o : c_.objects) LetGo(o);
    UnusedMaterials();
    if (!passing_) return;
    // The nodes still held (cameras, lights, targets and shapes, which link to each other
    // until the end) go over in the order they were made, then leave the scene as well.
    const std::vector<std::unique_ptr<MemNode>>& held = scene_.Nodes();
    for (const auto& node : held) Give(node.get(), numberOf_.at(node.get()));
    while (!held.empty()) scene_.RemoveNode(held.back().get());
  }

 private:
  void Settings() {
    scene_.ticksPerFrame = kTicksPerFrame;
    scene_.currentTime = c_.currentTime;
    scene_.animationRange =
        Interval(Ticks(c_.segmentStart, 0), Ticks(c_.segmentEnd, kTicksPerFrame * 100));
    if (scene_.animationRange.End() < scene_.animationRange.Start())
      scene_.animationRange = Interval(scene_.animationRange.Start(), scene_.animationRange.Start());
    scene_.masterUnitType = 0;
    if (c_.hasMasterScale && c_.masterScale > 0.0f && std::isfinite(c_.masterScale))
      scene_.masterUnitScale = c_.masterScale;
    scene_.gammaEnabled = c_.linearColors;
  }

  // A frame in ticks; fallback when it lies beyond the times the host can count.
  static TimeValue Ticks(int32_t frame, TimeValue fallback) {
    int64_t t = int64_t(frame) * kTicksPerFrame;
    if (t < std::numeric_limits<TimeValue>::min() || t > std::numeric_limits<TimeValue>::max())
      return fallback;
    return static_cast<TimeValue>(t);
  }

  // ---- objects without a node of their own, placed by the editor section's order ----

  // Places every object before index end that no node holds yet.
  void Flush(size_t end) {
    for (; nextObject_ < end && nextObject_ < c_.objects.size(); ++nextObject_) {
      FileObject& o = c_.objects[nextObject_];
      if (o.placed) continue;
      if (o.kind == 0) {
        notices_.push_back("offset " + std::to_string(o.offset) + ": named object \"" + o.name +
                           "\" holds no object and is skipped");
        continue;
      }
      Place(o);
      if (o.kind == SHAPE_POINTS) {
        Shape(o);
        continue;
      }
      Made(o);
      const ObjectDetail& d = *o.detail;
      MemNode* node = AddNode(o.name);
      NodeOfObject(node, o);
      if (o.kind == TRIANGLE_MESH) {
        node->local = d.hasMatrix ? d.matrix : Matrix3();
        owner_[&o] = node;
        Material(node, o);
        o.material = node->material;
        if (passing_) {
          HandOver(node, -1, &o);
          if (c_.objects[o.sameFirst].usersLeft == 0) LetGo(o);
        }
      } else {
        PlaceAt(node, d.position);
        if ((o.kind == CAMERA || d.spot) && !(d.target == d.position)) {
          MemNode* target = AddTarget(node, o);
          PlaceAt(target, d.target);
        }
      }
    }
  }

  void Shape(FileObject& o) {
    MemNode* parent = FindNode(o.detail->parentName);
    MemNode* node = AddNode(o.name, parent);
    NodeOfObject(node, o);
    auto* shape = static_cast<MemShapeObject*>(o.object);
    // One spline: the file holds the same number of knots for every spline, so a single
    // spline gives the same points back.
    MemSpline spline;
    Matrix3 t = node->NodeTransform(scene_.currentTime);
    for (const Point3& p : o.detail->points) {
      MemKnot k;
      k.point = k.inVec = k.outVec = PointPreimage(p, t);
      spline.knots.push_back(k);
    }
    if (!spline.knots.empty()) shape->splines.push_back(std::move(spline));
  }

  // ---- nodes of the keyframer section ----

  // The first object of the kind named name that no node holds yet when fresh, else the
  // last one that a node holds.
  FileObject* FindObject(const std::string& name, uint16_t kind, bool fresh) {
    return FindAmong(FirstOfName(name, kind), fresh);
  }
  // The same among the objects of the kind and name whose first is first (null: none).
  FileObject* FindAmong(FileObject* first, bool fresh) {
    if (first == nullptr) return nullptr;
    if (!fresh) return first->lastPlaced < 0 ? nullptr : &c_.objects[first->lastPlaced];
    // Objects are only ever placed, never taken back: the placed ones before the first
    // fresh one stay behind it.
    while (first->firstFresh >= 0 && c_.objects[first->firstFresh].placed)
      first->firstFresh = c_.objects[first->firstFresh].sameNext;
    return first->firstFresh < 0 ? nullptr : &c_.objects[first->firstFresh];
  }

  // The file's first object of the kind named name; null when none.
  FileObject* FirstOfName(const std::string& name, uint16_t kind) {
    auto it = std::lower_bound(byName_.begin(), byName_.end(), 0u,
                               [&](uint32_t i, uint32_t) {
                                 const FileObject& o = c_.objects[i];
                                 return o.kind != kind ? o.kind < kind : o.name < name;
                               });
    if (it == byName_.end()) return nullptr;
    FileObject& o = c_.objects[*it];
    return o.kind == kind && o.name == name ? &o : nullptr;
  }

  // Objects by kind, then by name.
  static bool Before(const FileObject& a, const FileObject& b) {
    return a.kind != b.kind ? a.kind < b.kind : a.name < b.name;
  }

  // Marks o as held by a node.
  void Place(FileObject& o) {
    o.placed = true;
    const int32_t index = static_cast<int32_t>(&o - c_.objects.data());
    FileObject& first = c_.objects[o.sameFirst];
    if (index > first.lastPlaced) first.lastPlaced = index;
  }

  // Reads o again when it is a mesh read when used and not yet read (or let go).
  void Made(FileObject& o) {
    if (o.object != nullptr) return;
    ReadingBack back;
    ReadObjectAgain(data_, o);
    NoteWalkedTo(o.offset + o.length);
  }

  // Lets go of o's own scene object, which no later node holds.
  void LetGo(FileObject& o) {
    if (o.made == nullptr) return;
    if (options_.objectDone) options_.objectDone(o.made.get());
    o.made.reset();
    o.object = nullptr;
    o.detail.reset();
  }

  // Adds a node, which FindNode then finds by its name unless an earlier node has it.
  MemNode* AddNode(const std::string& name, MemNode* parent = nullptr) {
    MemNode* node = scene_.AddNode(name, parent);
    if (passing_) numberOf_[node] = nextNumber_++;
    auto named = shapeParents_.find(name);
    if (named != shapeParents_.end() && named->second.number < 0) {
      named->second.live = node;
      named->second.number = passing_ ? numberOf_[node] : 0;
    }
    return node;
  }
  // The first node named name that a shape names as its parent; null when none.
  MemNode* FindNode(const std::string& name) {
    auto named = shapeParents_.find(name);
    if (named == shapeParents_.end() || named->second.number < 0) return nullptr;
    return named->second.live != nullptr ? named->second.live : StandIn(named->second, true);
  }

  // ---- nodes handed over as they are done (TsmReadOptions::nodeDone) ----

  // A node that left the scene, as its children and shapes still ask for it.
  struct Named {
    MemNode* live = nullptr;  // while it is in the scene
    int number = -1;          // -1: no node yet
    Matrix3 world;            // once it has left
    MemNode* standIn = nullptr;
  };

  // The number of node, a node of the scene or a stand-in; -1 for the root.
  int NumberOf(const MemNode* node) const {
    return node == scene_.Root() ? -1 : numberOf_.at(node);
  }

  // The parent whose NODE_ID is id; null when no node has it. A node that left the scene
  // stands in by its transform: a node that leaves at once borrows one stand-in, one that
  // stays gets one of its own.
  MemNode* ParentById(int id, bool staying) {
    auto live = byId_.find(id);
    if (live != byId_.end()) return live->second;
    auto gone = goneById_.find(id);
    return gone == goneById_.end() ? nullptr : StandIn(gone->second, staying);
  }

  // A node outside the scene whose transform is gone's world transform at the current
  // time, so that a child's transform is the same product as below gone itself.
  MemNode* StandIn(Named& gone, bool staying) {
    MemNode* standIn = &borrowed_;
    if (staying) {
      if (gone.standIn == nullptr) {
        standIns_.push_back(std::make_unique<MemNode>());
        gone.standIn = standIns_.back().get();
      }
      standIn = gone.standIn;
    }
    standIn->children.clear();
    standIn->local = gone.world;
    numberOf_[standIn] = gone.number;
    return standIn;
  }

  // Hands node over, checked as the scene's check would check it: the scene never holds
  // the nodes that went over.
  void Give(MemNode* node, int number) {
    std::string problem = CheckNodeAlone(scene_, *node, static_cast<size_t>(number));
    if (!problem.empty()) throw SceneCheckFailure(problem);
    options_.nodeDone(node, number, NumberOf(node->parent));
  }

  // Hands a mesh or dummy node over once it is complete and takes it out of the scene;
  // id is its NODE_ID (-1: none), first the mesh it is the first node of (solved first).
  void HandOver(MemNode* node, int id, FileObject* first) {
    if (first != nullptr) {
      MeshVertices(*first);
      owner_.erase(first);
      // The detail of a mesh that is let go after its last node is its first node's alone.
      if (first->made != nullptr) first->detail.reset();
    }
    const int number = numberOf_.at(node);
    const bool parent = id >= 0 && static_cast<size_t>(id) < parentIds_.size() && parentIds_[id];
    auto named = shapeParents_.find(node->name);
    const bool shapes = named != shapeParents_.end() && named->second.live == node;
    if (parent || shapes) {
      Named gone;
      gone.number = number;
      gone.world = node->NodeTransform(scene_.currentTime);
      if (parent) goneById_[id] = gone;
      if (shapes) named->second = gone;
    }
    if (id >= 0) byId_.erase(id);
    Give(node, number);
    numberOf_.erase(node);
    scene_.RemoveNode(node);
  }

 public:
  // One node of the keyframer section, in the file's order.
  void Node(const FileNode& n) {
    bool target = n.chunkId == CAMERA_TARGET_NODE || n.chunkId == LIGHT_TARGET_NODE;
    if (!n.hasHeader && !target) {
      notices_.push_back("offset " + std::to_string(n.offset) +
                         ": node without a header skipped");
      return;
    }
    MemNode* parent = n.parent >= 0 ? ParentById(n.parent, n.chunkId != OBJECT_NODE) : nullptr;
    MemNode* node = nullptr;
    switch (n.chunkId) {
      case OBJECT_NODE:
        node = ObjectNode(n, parent);
        break;
      case CAMERA_NODE:
      case POINT_LIGHT_NODE:
      case SPOT_LIGHT_NODE:
        node = OwnerNode(n, parent);
        break;
      default:
        node = TargetNode(n, parent);
    }
    if (node == nullptr) return;
    if (n.id >= 0) byId_[n.id] = node;
    if (n.hasPivot) node->objectOffsetPos = Point3(-n.pivot.x, -n.pivot.y, -n.pivot.z);
    Transform(n, node);
    FileObject* first = firstUser_;
    if (first != nullptr) StaticWithOffset(n, node, *first);
    firstUser_ = nullptr;
    if (n.hasBounds) {
      if (auto* dummy = dynamic_cast<MemDummyObject*>(node->object)) {
        const Point3& o = node->objectOffsetPos;
        dummy->box.pmin = Point3(AddendPreimage(n.bounds.pmin.x, o.x),
                                 AddendPreimage(n.bounds.pmin.y, o.y),
                                 AddendPreimage(n.bounds.pmin.z, o.z));
        dummy->box.pmax = Point3(AddendPreimage(n.bounds.pmax.x, o.x),
                                 AddendPreimage(n.bounds.pmax.y, o.y),
                                 AddendPreimage(n.bounds.pmax.z, o.z));
      }
    }
    // Mesh and dummy nodes go over at once; the others link to each other until the end.
    if (passing_ && n.chunkId == OBJECT_NODE) {
      HandOver(node, n.id, first);
      // After the last node that names them, the meshes of that name that nodes hold.
      if (lastOfName_ != nullptr)
        for (int32_t i = lastOfName_->sameFirst; i >= 0; i = c_.objects[i].sameNext)
          if (c_.objects[i].placed) LetGo(c_.objects[i]);
      lastOfName_ = nullptr;
    }
  }

 private:
  MemNode* ObjectNode(const FileNode& n, MemNode* parent) {
    std::string name = n.hasInstance ? n.instanceName : n.headerName;
    if (n.headerName == kDummyNodeName) {
      MemNode* node = AddNode(name, parent);
      node->object = Dummy();
      return node;
    }
    // Only nodes handed over count the nodes still to come for a mesh.
    FileObject* named = FirstOfName(n.headerName, TRIANGLE_MESH);
    if (named != nullptr && named->usersLeft > 0 && --named->usersLeft == 0) lastOfName_ = named;
    bool first = n.flags != 0 && (!n.hasInstance || n.instanceName == n.headerName);
    FileObject* o = FindAmong(named, first);
    if (o == nullptr && first) o = FindAmong(named, false);
    if (o == nullptr) o = FindAmong(named, true);
    if (o == nullptr) {
      notices_.push_back("offset " + std::to_string(n.offset) + ": node \"" + name +
                         "\" names no mesh of the file and becomes a dummy");
      MemNode* node = AddNode(name, parent);
      node->object = Dummy();
      return node;
    }
    // A mesh read when used is made for its first node (or again, for a node the outline
    // did not count, after it was let go).
    if (!o->placed || o->object == nullptr) {
      if (!o->placed) {
        Flush(static_cast<size_t>(o - c_.objects.data()));
        Place(*o);
      }
      Made(*o);
      MemNode* node = AddNode(name, parent);
      NodeOfObject(node, *o);
      owner_[o] = node;
      firstUser_ = o;
      Material(node, *o);
      o->material = node->material;
      return node;
    }
    MemNode* node = AddNode(name, parent);
    node->object = o->object;
    node->material = o->material;
    return node;
  }

  // A dummy node's object: its own, or, for nodes handed over, one that they share (the
  // nodes go before another one is made; a dummy is not drawn).
  MemObject* Dummy() {
    if (!passing_) return scene_.Own(std::make_unique<MemDummyObject>());
    if (sharedDummy_ == nullptr) sharedDummy_ = scene_.Own(std::make_unique<MemDummyObject>());
    return sharedDummy_;
  }

  MemNode* OwnerNode(const FileNode& n, MemNode* parent) {
    uint16_t kind = n.chunkId == CAMERA_NODE ? CAMERA : LIGHT;
    FileObject* o = FindObject(n.headerName, kind, true);
    if (o == nullptr) {
      notices_.push_back("offset " + std::to_string(n.offset) + ": node \"" + n.headerName +
                         "\" names no " + (kind == CAMERA ? "camera" : "light") +
                         " of the file and is skipped");
      return nullptr;
    }
    Flush(static_cast<size_t>(o - c_.objects.data()));
    Place(*o);
    MemNode* node = AddNode(n.headerName, parent);
    NodeOfObject(node, *o);
    if (!n.position.present) PlaceAt(node, o->detail->position);
    if (kind == CAMERA) CameraValues(n, *o);
    if (kind == LIGHT) LightValues(n, *static_cast<MemLightObject*>(o->object));
    owners_[n.headerName] = {node, o};
    auto pending = pendingTargets_.find(n.headerName);
    if (pending != pendingTargets_.end()) {
      MemScene::SetLookAt(node, pending->second);
      pendingTargets_.erase(pending);
    }
    return node;
  }

  MemNode* TargetNode(const FileNode& n, MemNode* parent) {
    bool camera = n.chunkId == CAMERA_TARGET_NODE;
    if (!n.hasHeader) {
      // The target of a camera or light that the export left out (its class is none the
      // exporter knows): such an owner stands in for it, so the target keeps its place.
      std::string name = "Target " + std::to_string(n.id);
      MemNode* owner = AddNode("Owner of " + name);
      owner->object = scene_.AddObject(camera ? kFamilyCamera : kFamilyLight, Class_ID(0, 0));
      MemNode* target = AddNode(name, parent);
      target->object = scene_.AddObject(kFamilyHelper, kTargetObjectClass);
      MemScene::SetLookAt(owner, target);
      notices_.push_back("offset " + std::to_string(n.offset) +
                         ": the target's owner was not exported; it stands in as \"" +
                         owner->name + "\"");
      return target;
    }
    MemNode* target = AddNode(n.headerName + ".Target", parent);
    target->object = scene_.AddObject(kFamilyHelper, kTargetObjectClass);
    auto it = owners_.find(n.headerName);
    const FileObject* o = nullptr;
    if (it != owners_.end() && it->second.node->lookAt == nullptr) {
      MemScene::SetLookAt(it->second.node, target);
      o = it->second.object;
    } else {
      // The owner comes later in the file: it takes the target when it is made.
      pendingTargets_[n.headerName] = target;
      o = FindObject(n.headerName, camera ? CAMERA : LIGHT, true);
    }
    if (!n.position.present && o != nullptr) PlaceAt(target, o->detail->target);
    return target;
  }

  MemNode* AddTarget(MemNode* owner, const FileObject& o, MemNode* parent = nullptr) {
    MemNode* target = AddNode(o.name + ".Target", parent);
    target->object = scene_.AddObject(kFamilyHelper, kTargetObjectClass);
    MemScene::SetLookAt(owner, target);
    return target;
  }

  // The object, its property text and its transform locks for node, the object's first
  // user. The file names the last unlocked pair of the lock search; the pairs after it are
  // locked, those before it are taken for unlocked.
  void NodeOfObject(MemNode* node, const FileObject& o) {
    const ObjectDetail& d = *o.detail;
    node->object = o.object;
    node->propertyText = d.properties;
    bool searched = node->parent != scene_.Root() && !o.name.empty() && o.name[0] != '$';
    if (!searched) return;
    int last = d.lockGroup >= 0 && d.lockGroup < 2 && d.lockAxis >= 0 && d.lockAxis < 3
                   ? d.lockGroup * 3 + d.lockAxis
                   : -1;
    for (int pair = last + 1; pair < 6; ++pair) node->transformLocked[pair / 3][pair % 3] = true;
  }

  // Places a node without a position track at a world position.
  void PlaceAt(MemNode* node, const Point3& world) {
    Matrix3 parent = node->parent->NodeTransform(scene_.currentTime);
    node->local = TransMatrix(PointPreimage(world, parent));
  }

  // ---- tracks ----

  // A key-bearing controller of kind with the track's keys: the writer copies them back
  // unchanged. factor: the writer's factor of a float track (1 for none).
  MemController* Controller(const FileTrack& t, ControlKind kind, float factor,
                            const MemNode* moved = nullptr) {
    return scene_.Own(MakeController(t, kind, factor, moved));
  }
  std::unique_ptr<MemController> MakeController(const FileTrack& t, ControlKind kind,
                                                float factor, const MemNode* moved = nullptr) {
    auto c = std::make_unique<MemController>(kind, true);
    TimeValue previous = 0;
    size_t i = 0;
    c->keys.reserve(t.count);
    t.ForEachKey([&](const FileKey& k) {
      // Keys of one frame (the exporter truncates times to frames) stay apart by a tick.
      int64_t time = int64_t(k.frame) * kTicksPerFrame;
      if (i > 0 && time <= previous) time = int64_t(previous) + 1;
      if (time < std::numeric_limits<TimeValue>::min() ||
          time > std::numeric_limits<TimeValue>::max() || time / kTicksPerFrame != k.frame) {
        notices_.push_back("offset " + std::to_string(t.offset) + ": key " + std::to_string(i) +
                           " at frame " + std::to_string(k.frame) +
                           " does not follow its track's order and is skipped");
        ++i;
        return;
      }
      MemKey key;
      key.time = previous = static_cast<TimeValue>(time);
      key.tens = k.params[0];
      key.cont = k.params[1];
      key.bias = k.params[2];
      key.easeIn = k.params[3];
      key.easeOut = k.params[4];
      switch (kind) {
        case ControlKind::FLOAT:
          key.f = factor == 1.0f ? k.value[0] : FactorPreimage(k.value[0], factor);
          break;
        case ControlKind::ROTATION:
          key.aa = AngAxis(Point3(k.value[1], k.value[2], k.value[3]), k.value[0]);
          break;
        default:
          key.p = Point3(k.value[0], k.value[1], k.value[2]);
      }
      c->keys.push_back(key);
      ++i;
    });
    // Without keys the controller answers its constant: the first key's value.
    if (!c->keys.empty()) {
      // Only the member of the kind holds the key's value; the others get an unset key's.
      const MemKey& k = c->keys[0];
      const MemKey unset;
      const bool isFloat = kind == ControlKind::FLOAT, isRotation = kind == ControlKind::ROTATION;
      c->constF = isFloat ? k.f : unset.f;
      c->constP = !isFloat && !isRotation ? k.p : unset.p;
      c->constQ = isRotation ? QuatFromAngAxis(k.aa.angle, k.aa.axis) : Quat();
      if (kind == ControlKind::SCALE) c->constS = k.p;
    }
    if (options_.holdAtCurrentTime) {
      if (moved != nullptr && options_.positionTrack) options_.positionTrack(moved, *c);
      HoldAt(*c, scene_.currentTime);
    }
    return c;
  }

  // Makes c answer its value at t at every time, without keys.
  static void HoldAt(MemController& c, TimeValue t) {
    Interval valid(t, t);
    switch (c.kind) {
      case ControlKind::FLOAT:
        c.ControllerValue(t, &c.constF, valid, 1);
        break;
      case ControlKind::POSITION:
      case ControlKind::POINT3:
        c.ControllerValue(t, &c.constP, valid, 1);
        break;
      case ControlKind::ROTATION:
        c.ControllerValue(t, &c.constQ, valid, 1);
        break;
      case ControlKind::SCALE: {
        ScaleValue v;
        c.ControllerValue(t, &v, valid, 1);
        c.constS = v.s;
        break;
      }
    }
    SceneVector<MemKey>().swap(c.keys);
  }

  void Transform(const FileNode& n, MemNode* node) {
    if (!n.position.present && !n.rotation.present && !n.scale.present && !n.roll.present)
      return;
    if (options_.holdAtCurrentTime) {
      HeldTransform(n, node);
      return;
    }
    auto* tc = scene_.Own(std::make_unique<MemTransformController>());
    if (n.position.present)
      tc->position = Controller(n.position, ControlKind::POSITION, 1.0f, node);
    if (n.rotation.present) tc->rotation = Controller(n.rotation, ControlKind::ROTATION, 1.0f);
    if (n.scale.present) tc->scale = Controller(n.scale, ControlKind::SCALE, 1.0f);
    if (n.roll.present)
      tc->roll = Controller(n.roll, ControlKind::FLOAT, -kDegreesPerRadian);
    node->transform = tc;
  }

  // The node's transform at the scene's current time, taken from its tracks as the
  // controllers made of them answer it there, and kept as its static transform: a node
  // of a held scene keeps no controllers of its transform.
  void HeldTransform(const FileNode& n, MemNode* node) {
    MemTransformController tc;
    std::unique_ptr<MemController> position, rotation, scale;
    if (n.position.present) {
      position = MakeController(n.position, ControlKind::POSITION, 1.0f, node);
      tc.position = position.get();
    }
    if (n.rotation.present) {
      rotation = MakeController(n.rotation, ControlKind::ROTATION, 1.0f);
      tc.rotation = rotation.get();
    }
    if (n.scale.present) {
      scale = MakeController(n.scale, ControlKind::SCALE, 1.0f);
      tc.scale = scale.get();
    }
    node->transform = &tc;
    node->local = node->LocalTransform(scene_.currentTime);
    node->transform = nullptr;
  }

  // A mesh node without animation whose tracks hold its object offset as well: the writer
  // puts a node without transform controllers into the file as its object's placement
  // (the offset times the node's transform), while the mesh matrix holds the node's own
  // transform. Such a node comes back without controllers: its transform solved from the
  // mesh matrix, its object offset from the tracks (position from the pivot; a rotation or
  // scale that differs from none by less than a millionth is taken for none).
  void StaticWithOffset(const FileNode& n, MemNode* node, const FileObject& object) {
    const ObjectDetail& o = *object.detail;
    if (!o.hasMatrix || !n.position.Single() || !n.rotation.Single() || !n.scale.Single()) return;
    const FileKey pk = n.position.First(), rk = n.rotation.First(), sk = n.scale.First();
    const float* pv = pk.value;
    const float* rv = rk.value;
    const float* sv = sk.value;
    Matrix3 placement = ScaleMatrix(Point3(sv[0], sv[1], sv[2])) *
                        QuatToMatrix(Normalize(QuatFromAngAxis(rv[0], Point3(rv[1], rv[2], rv[3])))) *
                        TransMatrix(Point3(pv[0], pv[1], pv[2]));
    Matrix3 parent = node->parent->NodeTransform(scene_.currentTime);
    Matrix3 world = placement * parent;
    Point3 at = world.GetRow(3);
    if (at.x == 0.0f && at.y == 0.0f && at.z == 0.0f) world.SetTrans(kOriginMark);
    bool same = true;
    for (int r = 0; r < 4 && same; ++r)
      for (int k = 0; k < 3 && same; ++k) {
        float a = world.GetRow(r)[k], b = o.matrix.GetRow(r)[k];
        same = std::fabs(a - b) <= 1e-4f * std::max(1.0f, std::fabs(b));
      }
    if (same) return;
    Matrix3 linear = parent;
    linear.SetTrans(Point3());
    Matrix3 local;
    for (int r = 0; r < 3; ++r) local.SetRow(r, PointPreimage(o.matrix.GetRow(r), linear));
    local.SetTrans(PointPreimage(o.matrix.GetRow(3), parent));
    Point3 t, scale;
    Quat rot;
    DecomposeMatrix(placement * Inverse(local), t, rot, scale);
    if (std::fabs(rot.x) < 1e-6f && std::fabs(rot.y) < 1e-6f && std::fabs(rot.z) < 1e-6f)
      rot = Quat();
    for (int k = 0; k < 3; ++k)
      if (std::fabs(scale[k] - 1.0f) < 1e-6f) scale[k] = 1.0f;
    node->transform = nullptr;
    node->local = local;
    node->objectOffsetRot = Normalize(rot);
    node->objectOffsetScale = scale;
    if (!n.hasPivot) node->objectOffsetPos = PointPreimage(Point3(pv[0], pv[1], pv[2]), local);
  }

  void CameraValues(const FileNode& n, const FileObject& o) {
    auto* cam = static_cast<MemCameraObject*>(o.object);
    if (n.fov.Single()) {
      cam->fov = FactorPreimage(n.fov.First().value[0], kDegreesPerRadian);
    } else if (n.fov.present) {
      cam->fovController = Controller(n.fov, ControlKind::FLOAT, kDegreesPerRadian);
    }
  }

  void LightValues(const FileNode& n, MemLightObject& l) {
    if (n.color.Single()) {
      const FileKey k = n.color.First();
      l.color = Point3(k.value[0], k.value[1], k.value[2]);
    } else if (n.color.present) {
      l.colorController = Controller(n.color, ControlKind::POINT3, 1.0f);
    }
    if (n.hotspot.Single())
      l.hotspot = n.hotspot.First().value[0];
    else if (n.hotspot.present)
      l.hotspotController = Controller(n.hotspot, ControlKind::FLOAT, 1.0f);
    if (n.falloff.Single())
      l.falloff = n.falloff.First().value[0];
    else if (n.falloff.present)
      l.falloffController = Controller(n.falloff, ControlKind::FLOAT, 1.0f);
  }

  // ---- meshes ----

  // The face-material groups as the node's material: one plain material when one group
  // holds every face in order, else a multi/sub material whose slots follow the groups'
  // order (a face in no group gets an empty slot).
  void Material(MemNode* node, const FileObject& object) {
    auto* mesh = static_cast<MemMeshObject*>(object.object);
    const ObjectDetail& o = *object.detail;
    std::vector<MemMaterial*> slots;
    for (const FaceGroup& g : o.groups) {
      auto it = materialByName_.find(g.material);
      if (it == materialByName_.end())
        notices_.push_back("offset " + std::to_string(g.offset) + ": face group names material \"" +
                           g.material + "\", which the file does not hold");
      slots.push_back(it == materialByName_.end() ? nullptr : it->second);
    }
    if (slots.empty()) return;
    bool whole = slots.size() == 1 && slots[0] != nullptr &&
                 o.groups[0].faces.size() == mesh->faces.size();
    for (size_t f = 0; whole && f < o.groups[0].faces.size(); ++f)
      whole = o.groups[0].faces[f] == f;
    if (whole) {
      node->material = slots[0];
      used_.insert(slots[0]);
      return;
    }
    auto* multi = scene_.Own(std::make_unique<MemMaterial>());
    multi->classId = kMultiMaterialClass;
    multi->name = object.name + " faces";
    std::vector<bool> given(mesh->faces.size(), false);
    for (size_t s = 0; s < o.groups.size(); ++s)
      for (uint16_t f : o.groups[s].faces)
        if (!given[f]) {
          given[f] = true;
          mesh->faces[f].materialId = static_cast<int>(s);
        }
    bool rest = false;
    for (size_t f = 0; f < given.size(); ++f)
      if (!given[f]) {
        rest = true;
        mesh->faces[f].materialId = static_cast<int>(slots.size());
      }
    for (MemMaterial* m : slots) {
      multi->subMaterials.push_back(m);
      used_.insert(m);
    }
    if (rest) multi->subMaterials.push_back(nullptr);
    node->material = multi;
  }

  // The object-space vertices that the mesh's first user turns into the file's vertices.
  void MeshVertices(FileObject& o) {
    MemNode* node = owner_[&o];
    auto* mesh = static_cast<MemMeshObject*>(o.object);
    std::vector<Point3>& world = o.detail->worldVertices;
    Matrix3 g = node->NodeTransform(scene_.currentTime);
    Point3 t = g.GetRow(3);
    if (t.x == 0.0f && t.y == 0.0f && t.z == 0.0f) g.SetTrans(kOriginMark);
    mesh->vertices.resize(world.size());
    for (size_t i = 0; i < world.size(); ++i) mesh->vertices[i] = PointPreimage(world[i], g);
    std::vector<Point3>().swap(world);  // no longer needed
    mesh->MeshChanged();
  }

  void UnusedMaterials() {
    for (MemMaterial* m : c_.materials)
      if (used_.count(m) == 0)
        notices_.push_back("material \"" + m->name +
                           "\" is used by no face of the file; the scene holds it on no node");
  }

  struct Owner {
    MemNode* node;
    FileObject* object;
  };

  const uint8_t* data_;
  FileContent& c_;
  MemScene& scene_;
  std::vector<std::string>& notices_;
  const TsmReadOptions& options_;
  std::unordered_map<std::string, MemMaterial*> materialByName_;
  std::unordered_map<int, MemNode*> byId_;
  std::unordered_map<std::string, Owner> owners_;
  std::unordered_map<std::string, MemNode*> pendingTargets_;
  std::unordered_map<const FileObject*, MemNode*> owner_;
  // The first object of each kind and name, by kind and name (see FileObject::sameFirst).
  std::vector<uint32_t> byName_;
  // The names that shapes give as their parents' and the first node of each name.
  std::unordered_map<std::string, Named> shapeParents_;
  // Handing nodes over: each node's number, the nodes that left as their children and
  // shapes may ask for them, and the stand-ins for them.
  const bool passing_;
  std::vector<bool> parentIds_;
  std::unordered_map<const MemNode*, int> numberOf_;
  int nextNumber_ = 0;
  std::unordered_map<int, Named> goneById_;
  MemNode borrowed_;
  std::vector<std::unique_ptr<MemNode>> standIns_;
  MemObject* sharedDummy_ = nullptr;
  std::unordered_set<const MemMaterial*> used_;
  size_t nextObject_ = 0;
  FileObject* firstUser_ = nullptr;  // the mesh whose first user was just made
  FileObject* lastOfName_ = nullptr;  // the meshes whose last node was just made
};

}  // namespace

float AddendPreimage(float target, float addend) {
  float x = static_cast<float>(static_cast<double>(target) - static_cast<double>(addend));
  return Nudge(x, target, [addend](float c) { return c + addend; });
}

float FactorPreimage(float target, float factor) {
  float x = static_cast<float>(static_cast<double>(target) / static_cast<double>(factor));
  return Nudge(x, target, [factor](float c) { return c * factor; });
}

Point3 PointPreimage(const Point3& target, const Matrix3& m) {
  double a[3][3];
  for (int r = 0; r < 3; ++r) {
    Point3 row = m.GetRow(r);
    a[r][0] = row.x;
    a[r][1] = row.y;
    a[r][2] = row.z;
  }
  // p * A = v - t, solved with the inverse of A by its cofactors.
  double det = a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) -
               a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
               a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
  if (!(std::fabs(det) > 1e-30) || !std::isfinite(det)) return target;
  double inv[3][3];
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      int i1 = (i + 1) % 3, i2 = (i + 2) % 3, j1 = (j + 1) % 3, j2 = (j + 2) % 3;
      inv[j][i] = (a[i1][j1] * a[i2][j2] - a[i1][j2] * a[i2][j1]) / det;
    }
  Point3 t = m.GetRow(3);
  auto solve = [&inv](double x, double y, double z, int j) {
    return x * inv[0][j] + y * inv[1][j] + z * inv[2][j];
  };
  double v[3] = {double(target.x) - t.x, double(target.y) - t.y, double(target.z) - t.z};
  Point3 guess(static_cast<float>(solve(v[0], v[1], v[2], 0)),
               static_cast<float>(solve(v[0], v[1], v[2], 1)),
               static_cast<float>(solve(v[0], v[1], v[2], 2)));
  auto hits = [&](const Point3& q) {
    Point3 r = q * m;
    return r.x == target.x && r.y == target.y && r.z == target.z;
  };
  // The float product misses the exact solution by its rounding: correct the guess by the
  // solution of what is still missing, a few times.
  for (int round = 0; round < 4; ++round) {
    if (hits(guess)) return guess;
    Point3 r = guess * m;
    double d[3] = {double(target.x) - r.x, double(target.y) - r.y, double(target.z) - r.z};
    Point3 next(static_cast<float>(guess.x + solve(d[0], d[1], d[2], 0)),
                static_cast<float>(guess.y + solve(d[0], d[1], d[2], 1)),
                static_cast<float>(guess.z + solve(d[0], d[1], d[2], 2)));
    if (next == guess) break;
    guess = next;
  }
  // Then the neighbours, up to two units in the last place each way.
  float c[3][5];
  for (int j = 0; j < 3; ++j) {
    c[j][2] = guess[j];
    c[j][1] = std::nextafter(guess[j], -std::numeric_limits<float>::infinity());
    c[j][0] = std::nextafter(c[j][1], -std::numeric_limits<float>::infinity());
    c[j][3] = std::nextafter(guess[j], std::numeric_limits<float>::infinity());
    c[j][4] = std::nextafter(c[j][3], std::numeric_limits<float>::infinity());
  }
  for (int x = 0; x < 5; ++x)
    for (int y = 0; y < 5; ++y)
      for (int z = 0; z < 5; ++z) {
        Point3 q(c[0][x], c[1][y], c[2][z]);
        if (hits(q)) return q;
      }
  return guess;
}

ImportResult ReadTsmScene(const uint8_t* data, size_t size, const std::string& label,
                          MemScene& scene, const TsmReadOptions& options) {
  return RunImport(label, scene, [&](std::vector<std::string>& notices) {
    FileCheck check = CheckChunkFile(data, size, false);
    if (!check.ok) throw ImportError(check.error);
    FileContent content;
    // The build's notices follow the reading's, whenever the nodes are built.
    std::vector<std::string> built;
    SceneBuilder builder(data, content, scene, built, options);
    content.meshesWhenUsed = builder.Passing();
    bool started = false;
    auto start = [&] {
      if (!started) builder.Start();
      started = true;
    };
    // A file of many nodes is not held node by node before its scene is built.
    bool stream = false;
    auto node = [&](FileNode& n) {
      if (!stream) {
        content.nodes.push_back(std::move(n));
        return;
      }
      start();
      builder.Node(n);
    };
    ForEachChild(check.tree.top, data, [&](const Chunk& c) {
      if (c.id == EDITOR_DATA) {
        ReadEditorSection(data, c, scene, content, notices);
        builder.IndexObjects();
      } else if (c.id == KEYFRAMER_DATA) {
        // The editor section comes first in every sound file: the nodes can be built as
        // they are read unless the keyframer's times come after them.
        KeyframerOutline outline =
            OutlineKeyframer(data, c, builder.Passing(), [&builder](const std::string& name) {
              builder.CountMeshNode(name);
            });
        stream = outline.timesBeforeNodes;
        builder.NoteParents(std::move(outline.parentIds));
        ReadKeyframerSection(data, c, content, notices, node);
      } else if (c.id != FILE_VERSION) {
        notices.push_back(SkippedChunkNotice(c));
      }
      return true;
    });
    start();
    for (const FileNode& n : content.nodes) builder.Node(n);
    builder.Finish();
    notices.insert(notices.end(), std::make_move_iterator(built.begin()),
                   std::make_move_iterator(built.end()));
    for (std::string& n : notices) n = label + ": " + n;
  });
}

ImportResult LoadTsmScene(const std::string& path, MemScene& scene) {
  MappedFile file;
  std::string why;
  ImportResult r;
  try {
    if (!file.Open(path.c_str(), &why)) {
      r.error = path + ": " + why;
      return r;
    }
  } catch (const std::bad_alloc&) {
    r.error = path + ": out of memory while reading the file";
    return r;
  }
  WalkRelease release(file);
  return ReadTsmScene(file.Data(), file.Size(), path, scene);
}

}  // namespace tsm
