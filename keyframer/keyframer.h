// The keyframer section: one node chunk per exported scene entry, with its number, its
// parent's number, its names, pivot, bounds and animation tracks, and the encoding of
// those tracks from the host's controllers.
//
// Times in the file are frames: host ticks divided by GetTicksPerFrame, truncated toward
// zero, except KF_CURRENT_TIME, which holds ticks. Angles: field of view and roll are
// written in degrees (roll with its sign reversed), hotspot and falloff as the host holds
// them, rotations as an angle in radians and a unit axis.
#ifndef TSM_KEYFRAMER_KEYFRAMER_H
#define TSM_KEYFRAMER_KEYFRAMER_H

#include <cstdint>

#include "run/host_scene.h"
#include "run/scene_lists.h"
#include "writer/chunk_io.h"

namespace tsm {

// The name a dummy's node header carries; its own name follows in INSTANCE_NAME.
constexpr const char* DUMMY_NODE_NAME = "$$$DUMMY";
// Node numbers are 16 bits wide and 0xFFFF means "no parent", so a file numbers at most
// this many nodes, 0 to 65534.
constexpr int32_t kMaxKeyframerNodes = 65535;
// Degrees per radian as the file's float tracks use it (the float 0x42652EE1).
constexpr float kDegreesPerRadian = 57.29578f;

// The node chunk id of an entry kind (OBJECT_NODE, CAMERA_NODE, ...), or 0 for a kind
// that has none (shapes): such an entry gets no node number.
int32_t KeyframerNodeChunk(EntryKind kind);

// The number of entries, from first on, that get a node chunk and therefore a number.
int32_t KeyframerNodeCount(const SceneEntry* first);

// Makes stream the keyframer writer's stream and writes the whole KEYFRAMER_DATA chunk
// from the run's lists (RunEntries, RunObjects): header, segment, current time and one
// node chunk per entry that has one, numbering the entries as it goes. Answers true on
// success, false as soon as a write fails; then the chunks still open are left
// unpatched. A scene with more than kMaxKeyframerNodes numbered entries is refused
// before anything is written (false): no number is ever wrapped. Without a run (null
// RunEntries) the section is an empty chunk.
bool WriteKeyframerSection(OutStream& stream);

// The section's one recursive chunk writer, on the stream WriteKeyframerSection set.
// data depends on id: unused for KEYFRAMER_DATA and the three KF_ chunks; the SceneEntry
// for the node chunks, NODE_ID, NODE_HEADER, NODE_PIVOT and NODE_BOUNDS; the name text
// for INSTANCE_NAME; the HostController (or null) for the tracks (the transform tracks of
// a node without controllers are written by the node's chunk). Answers 1 when the chunk was
// written, also after a soft error (a box, and the chunk ends early with the length of
// what it holds), and 0 when a write failed or no section has set a stream yet. The
// stream stays the writer's after the section, until the next section sets another.
int WriteKeyframerChunk(int32_t id, void* data);

// Track encoding.

enum TrackKind : int32_t {
  TRACK_FLOAT = 0,     // one float, times the track's factor
  TRACK_POSITION = 1,  // x, y, z
  TRACK_ROTATION = 2,  // angle (radians), axis x, y, z
  TRACK_SCALE = 3,     // x, y, z factors
  TRACK_COLOR = 4,     // r, g, b
};

enum TrackResult {
  TRACK_WRITTEN,  // the header and every key were written
  TRACK_NO_KEYS,  // the controller has no keys; nothing was written
  TRACK_FAILED,   // a write came back short
};

// The frame of a time in ticks: divided by GetTicksPerFrame, truncated toward zero
// (-1.5 frames gives -1).
int32_t FrameOfTicks(TimeValue t);

// True when controller is of one of the five key-bearing classes whose keys carry spline
// parameters. A null controller has none.
bool HasSplineKeys(HostController* controller);

// The 20 bytes of a one-key track up to its value: flags 0, first and last frame 0, one
// key, frame 0, no spline parameters. The caller writes the value.
bool WriteSingleKeyHeader(OutStream& s);

// The track header and every key of controller (not null): copied with their spline
// parameters from a key-bearing controller that offers its key interface, else sampled at
// the key times (rotations as the rotation from the previous key time, the first
// absolute). factor multiplies the values of TRACK_FLOAT only.
TrackResult WriteControllerTrack(OutStream& s, HostController* controller, TrackKind kind,
                                 float factor);

// A float track (field of view, roll, hotspot, falloff) from controller, which may be
// null: then one key holding staticValue as it is, without the factor. A controller
// without keys gives one key holding its value at time 0 times the factor.
bool WriteFloatTrack(OutStream& s, HostController* controller, float factor, float staticValue);

// The values a node writer hands the tracks that may have no controller.
struct TrackStatics {
  bool transformMode = false;  // StaticTransformMode: the transform tracks hold these:
  Point3 translation;
  Quat rotation;
  Point3 scale{1.0f, 1.0f, 1.0f};
  float floatValue = 0.0f;  // StaticFloatValue: a float track without a controller
  Point3 color;             // StaticColor: a colour track without a controller
};

// The body of track chunk id (POSITION_TRACK to FALLOFF_TRACK) from controller (null
// where the track may have none) or from statics. Answers false on a short write.
bool WriteTrackBody(OutStream& s, int32_t id, HostController* controller,
                    const TrackStatics& statics);

// The whole track chunk id: its body as WriteTrackBody writes it, gathered first, so that
// the header goes out with its length and nothing is patched (a body of more than some
// kilobytes is sent on in pieces and its length patched at the end). Answers false on a
// short write.
bool WriteTrackChunk(OutStream& s, int32_t id, HostController* controller,
                     const TrackStatics& statics);

}  // namespace tsm

#endif  // TSM_KEYFRAMER_KEYFRAMER_H
