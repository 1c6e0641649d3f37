#include "keyframer/keyframer.h"
#include "plugin/messages.h"
#include "run/export_run.h"
#include "run/progress.h"
#include "writer/file_writer.h"

namespace tsm {

namespace {

constexpr uint16_t kKeyframerRevision = 5;
constexpr const char* kSceneName = "ORBSCENE";
constexpr uint16_t kOwnNameFlag = 0x4000;  // the header names the node itself

// The writer's state for one section. The stream is set by WriteKeyframerSection; the
// static values are set by a node writer just before it asks for a track that may fall
// back on them.
struct KeyframerState {
  OutStream* stream = nullptr;
  TrackStatics statics;
  int32_t counter = 0;  // the next node number
};
KeyframerState state;

SceneEnumerator* Entries() {
  return RunEntries;
}

HostInterface* Host() {
  return RunEntries != nullptr ? RunEntries->Host() : nullptr;
}

TimeValue CurrentTime() {
  HostInterface* host = Host();
  if (host != nullptr) return host->CurrentTime();
  return RunEntries != nullptr ? RunEntries->Time() : 0;
}

Interval AnimationRange() {
  HostInterface* host = Host();
  return host != nullptr ? host->AnimationRange() : Interval(0, 0);
}

ObjectListItem* FindItemByObject(SceneObject* object) {
  return RunObjects != nullptr ? RunObjects->FindItemByObject(object) : nullptr;
}

ObjectListItem* FindItemByTarget(SceneNode* node) {
  return RunObjects != nullptr ? RunObjects->FindItemByTarget(node) : nullptr;
}

HostController* TransformPart(SceneEntry* e, HostController* (HostController::*part)()) {
  HostController* tc = e->node->TransformController();
  return tc != nullptr ? (tc->*part)() : nullptr;
}

bool Child(int32_t id, void* data) {
  return WriteKeyframerChunk(id, data) == 1;
}

bool WritePoint(OutStream& s, const Point3& p) {
  return WriteF32(s, p.x) && WriteF32(s, p.y) && WriteF32(s, p.z);
}

// NODE_HEADER: the name, the two flag words and the parent's number. A lookup that finds
// nothing shows its box and leaves the header without payload.
bool WriteNodeHeader(OutStream& s, SceneEntry* e) {
  CStr name;
  switch (e->kind) {
    case ENTRY_DUMMY:
      name = DUMMY_NODE_NAME;
      break;
    case ENTRY_CAMERA_TARGET:
    case ENTRY_LIGHT_TARGET: {
      ObjectListItem* owner = FindItemByTarget(e->node);
      if (owner == nullptr) {
        ShowWriterWarning("Error finding camera's look at target!");
        return true;
      }
      name = owner->entry->name;
      break;
    }
    case ENTRY_MESH: {
      ObjectListItem* first = FindItemByObject(e->object);
      if (first == nullptr) {
        ShowWriterWarning("Unknown Error 1!");
        return true;
      }
      name = first->entry->name;
      break;
    }
    default:
      name = e->name;
      break;
  }
  const bool instance = e->kind == ENTRY_MESH && name != e->name;
  uint16_t parent = NO_PARENT;
  SceneEntry* p = Entries()->FindEntryByNode(e->node->ParentNode());
  if (p != nullptr && p->NodeNumber != kNoNodeNumber) parent = static_cast<uint16_t>(p->NodeNumber);
  return WriteText(s, name.c_str()) && WriteU16(s, instance ? 0 : kOwnNameFlag) && WriteU16(s, 0) &&
         WriteU16(s, parent);
}

// The three transform tracks of a mesh or dummy: from the position, rotation and scale
// controllers when all three exist, else one key each from the node's matrix relative to
// its parent's at the current time.
bool WriteTransformTracks(SceneEntry* e) {
  HostController* pos = TransformPart(e, &HostController::PositionController);
  HostController* rot = TransformPart(e, &HostController::RotationController);
  HostController* scl = TransformPart(e, &HostController::ScaleController);
  if (pos != nullptr && rot != nullptr && scl != nullptr)
    return Child(POSITION_TRACK, pos) && Child(ROTATION_TRACK, rot) && Child(SCALE_TRACK, scl);

  const TimeValue t = CurrentTime();
  Matrix3 m = e->node->ObjectTransform(t);
  SceneNode* parent = e->node->ParentNode();
  if (parent != nullptr) m = m * Inverse(parent->NodeTransform(t));
  Point3 translation, scale;
  Quat rotation;
  DecomposeMatrix(m, translation, rotation, scale);
  TrackStatics statics = state.statics;
  statics.transformMode = true;
  statics.translation = translation;
  statics.rotation = rotation;
  statics.scale = scale;
  // Straight to the track writer with the values in hand: nothing to look up by id, and
  // no section-wide flag to raise and lower around the three calls.
  OutStream& s = *state.stream;
  return WriteTrackChunk(s, POSITION_TRACK, nullptr, statics) &&
         WriteTrackChunk(s, ROTATION_TRACK, nullptr, statics) &&
         WriteTrackChunk(s, SCALE_TRACK, nullptr, statics);
}

bool WriteObjectNode(SceneEntry* e) {
  if (!(Child(NODE_ID, e) && Child(NODE_HEADER, e) && Child(NODE_PIVOT, e))) return false;
  ObjectListItem* first = FindItemByObject(e->object);
  if (first == nullptr) {
    ShowWriterWarning("Unknown Error 2");
    return true;
  }
  if (e->kind == ENTRY_DUMMY || e->name != first->entry->name) {
    if (!Child(INSTANCE_NAME, const_cast<char*>(e->name.c_str()))) return false;
  }
  if (!WriteTransformTracks(e)) return false;
  return e->kind != ENTRY_DUMMY || Child(NODE_BOUNDS, e);
}

// A position track from the node's position sub-controller, when it has one.
bool OptionalPosition(SceneEntry* e) {
  HostController* pos = TransformPart(e, &HostController::PositionController);
  return pos == nullptr || Child(POSITION_TRACK, pos);
}

bool OptionalRoll(SceneEntry* e) {
  HostController* roll = TransformPart(e, &HostController::RollController);
  return roll == nullptr || Child(ROLL_TRACK, roll);
}

bool WriteCameraNode(SceneEntry* e) {
  if (!(Child(NODE_ID, e) && Child(NODE_HEADER, e) && OptionalPosition(e))) return false;
  Interval at0(0, 0);
  state.statics.floatValue = e->object->CameraFov(0, at0) * kDegreesPerRadian;
  return Child(FOV_TRACK, e->object->FovController()) && OptionalRoll(e);
}

bool WritePointLightNode(SceneEntry* e) {
  if (!(Child(NODE_ID, e) && Child(NODE_HEADER, e))) return false;
  Interval at0(0, 0);
  state.statics.color = e->object->LightColor(0, at0);
  return Child(COLOR_TRACK, e->object->ColorController()) && OptionalPosition(e);
}

bool WriteSpotLightNode(SceneEntry* e) {
  if (!(Child(NODE_ID, e) && Child(NODE_HEADER, e) && OptionalPosition(e))) return false;
  SceneObject* light = e->object;
  Interval at0(0, 0);
  state.statics.color = light->LightColor(0, at0);
  if (!Child(COLOR_TRACK, light->ColorController())) return false;
  state.statics.floatValue = light->LightHotspot(0, at0);
  if (!Child(HOTSPOT_TRACK, light->HotspotController())) return false;
  state.statics.floatValue = light->LightFalloff(0, at0);
  if (!Child(FALLOFF_TRACK, light->FalloffController())) return false;
  return OptionalRoll(e);
}

bool WriteSection() {
  if (!(Child(KF_HEADER, nullptr) && Child(KF_SEGMENT, nullptr) && Child(KF_CURRENT_TIME, nullptr)))
    return false;
  state.counter = 0;
  ProgressCounter progress(ProgressStage::KEYFRAMER_SECTION, Entries()->Count());
  for (SceneEntry* e = Entries()->First(); e != nullptr; e = e->next) {
    progress.Step();
    int32_t id = KeyframerNodeChunk(e->kind);
    if (id == 0) continue;
    e->NodeNumber = state.counter++;
    if (!Child(id, e)) return false;
  }
  return true;
}

bool WriteBody(int32_t id, void* data) {
  OutStream& s = *state.stream;
  SceneEntry* e = static_cast<SceneEntry*>(data);
  switch (ChunkLow(id)) {
    case KEYFRAMER_DATA:
      return WriteSection();
    case KF_HEADER:
      return WriteU16(s, kKeyframerRevision) && WriteText(s, kSceneName) &&
             WriteI32(s, FrameOfTicks(AnimationRange().End()));
    case KF_SEGMENT: {
      Interval range = AnimationRange();
      return WriteI32(s, FrameOfTicks(range.Start())) && WriteI32(s, FrameOfTicks(range.End()));
    }
    case KF_CURRENT_TIME:
      return WriteI32(s, CurrentTime());
    case OBJECT_NODE:
      return WriteObjectNode(e);
    case CAMERA_NODE:
      return WriteCameraNode(e);
    case CAMERA_TARGET_NODE:
    case LIGHT_TARGET_NODE:
      return Child(NODE_ID, e) && Child(NODE_HEADER, e) && OptionalPosition(e);
    case POINT_LIGHT_NODE:
      return WritePointLightNode(e);
    case SPOT_LIGHT_NODE:
      return WriteSpotLightNode(e);
    case NODE_ID:
      return WriteU16(s, static_cast<uint16_t>(e->NodeNumber));
    case NODE_HEADER:
      return WriteNodeHeader(s, e);
    case INSTANCE_NAME:
      return WriteText(s, static_cast<const char*>(data));
    case NODE_PIVOT:
      return WritePoint(s, -e->node->ObjectOffsetPosition());
    case NODE_BOUNDS: {
      Box3 box;
      box.Init();
      HostInterface* host = Host();
      e->object->ObjectBounds(CurrentTime(), e->node, host ? host->ViewportHandle(0) : nullptr,
                              box);
      return WritePoint(s, box.pmin) && WritePoint(s, box.pmax);
    }
    default:
      ShowWriterWarning("Unknown Tag Type");
      return true;
  }
}

// True for the ids of the track chunks, which WriteTrack writes whole.
bool IsTrackChunk(int32_t id) {
  switch (ChunkLow(id)) {
    case POSITION_TRACK:
    case ROTATION_TRACK:
    case SCALE_TRACK:
    case FOV_TRACK:
    case ROLL_TRACK:
    case COLOR_TRACK:
    case HOTSPOT_TRACK:
    case FALLOFF_TRACK:
      return true;
    default:
      return false;
  }
}

// A track chunk, header and body: its keys are gathered before the header is written, so
// that the header carries its length from the start.
bool WriteTrack(int32_t id, void* data) {
  return WriteTrackChunk(*state.stream, id, static_cast<HostController*>(data), state.statics);
}

}  // namespace

int32_t KeyframerNodeChunk(EntryKind kind) {
  switch (kind) {
    case ENTRY_MESH:
    case ENTRY_DUMMY:
      return OBJECT_NODE;
    case ENTRY_CAMERA:
      return CAMERA_NODE;
    case ENTRY_CAMERA_TARGET:
      return CAMERA_TARGET_NODE;
    case ENTRY_POINT_LIGHT:
      return POINT_LIGHT_NODE;
    case ENTRY_LIGHT_TARGET:
      return LIGHT_TARGET_NODE;
    case ENTRY_SPOT_LIGHT:
      return SPOT_LIGHT_NODE;
    default:
      return 0;
  }
}

int32_t KeyframerNodeCount(const SceneEntry* first) {
  int32_t n = 0;
  for (const SceneEntry* e = first; e != nullptr; e = e->next)
    if (KeyframerNodeChunk(e->kind) != 0) ++n;
  return n;
}

int WriteKeyframerChunk(int32_t id, void* data) {
  if (state.stream == nullptr) return 0;  // no section has named a stream yet
  if (IsTrackChunk(id)) return WriteTrack(id, data) ? 1 : 0;
  return ChunkFraming(*state.stream, id, [&] { return WriteBody(id, data); });
}

bool WriteKeyframerSection(OutStream& stream) {
  state = KeyframerState();
  state.stream = &stream;
  if (RunEntries == nullptr)  // no run: nothing to describe
    return ChunkFraming(stream, KEYFRAMER_DATA, [] { return true; }) == 1;
  if (KeyframerNodeCount(RunEntries->First()) > kMaxKeyframerNodes) return false;
  return WriteKeyframerChunk(KEYFRAMER_DATA, nullptr) == 1;
}

}  // namespace tsm
