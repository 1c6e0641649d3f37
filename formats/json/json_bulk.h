// The scene loader's typed fast paths for bulk data. A mesh's vertices, faces and texture
// coordinates and a controller's keys are most of a large scene's text; read as general
// JSON values they would cost a heap value per number and per [x, y, z]. The parser
// (ParseJsonText with a BulkValues) reads the arrays of these members straight into
// typed vectors instead and leaves a marker in the value tree; the loader takes the
// vectors from the markers.
//
// A fast path reads only the common, well-formed shape of its member and leaves anything
// else (another shape, a value out of the type's range, escapes in member names, ...) to
// the general parser, which then reads that array as before. What it reads is exactly
// what the general reader gives for the same text. The loader's checks on the typed
// data (indices in range, key times increasing, ...) only decide whether the load
// succeeds: on any failure the loader runs again without fast paths, for the message.
#ifndef TSM_FORMATS_JSON_JSON_BULK_H
#define TSM_FORMATS_JSON_JSON_BULK_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "formats/json/json_read.h"
#include "scene/mem_controllers.h"
#include "scene/mem_objects.h"

namespace tsm {

// The members whose arrays have a fast path; kNone for any other.
enum class BulkKind : uint8_t { kNone, kPoints, kTexPoints, kFaces, kTriangles, kKeys };
BulkKind BulkKindOfMember(const std::string& key);

// The keys of one controller as read, before its kind and class are known: per key the
// time as a frame number (or ticks, see kTicks) in time, the value in f (a number), p (an array of three),
// aa (an object of "axis" and angle in degrees) or q (an object of "quat"), and the
// spline parameters given.
struct BulkKeys {
  enum Form : uint8_t { kNumber = 0, kArray3 = 1, kAxisAngle = 2, kQuat = 3 };
  static constexpr uint8_t kFormMask = 3;
  // Bits above the form: "tension", "continuity", "bias", "easeTo", "easeFrom" given.
  static constexpr uint8_t kTension = 4, kContinuity = 8, kBias = 16, kEaseTo = 32,
                           kEaseFrom = 64;
  // The time was given as {"ticks": n}: time holds ticks, not a frame number.
  static constexpr uint8_t kTicks = 128;
  SceneVector<MemKey> keys;
  std::vector<uint8_t> forms;
};

// The typed arrays of one parse, in the order the parser met them.
class BulkValues {
 public:
  // Reads the array of a member of the given kind at text[start] (its '['). Answers the
  // offset just after it and sets *marker to the value that stands for it in the tree;
  // answers 0 when the array is not of the fast path's shape (nothing is kept then).
  size_t Read(BulkKind kind, const std::string& text, size_t start, Json* marker);

  // The arrays a marker stands for, moved out; false when value is no marker of that
  // kind. Vertices and colours are kPoints, texture coordinates kTexPoints.
  bool Take(const Json& value, BulkKind kind, SceneVector<Point3>* out);
  bool Take(const Json& value, SceneVector<MemFace>* out);
  bool Take(const Json& value, SceneVector<std::array<int, 3>>* out);
  bool Take(const Json& value, BulkKeys* out);

 private:
  // Arrays are read into these, kept from array to array, and copied out at their exact
  // size: no growth of every array and no unused capacity in the scene. The copies are
  // packed (PackedScope): a scene of many small arrays fills few large pages.
  std::vector<Point3> scratchPoints_;
  std::vector<MemFace> scratchFaces_;
  std::vector<std::array<int, 3>> scratchTriangles_;
  BulkKeys scratchKeys_;

  std::vector<SceneVector<Point3>> points_;
  std::vector<SceneVector<MemFace>> faces_;
  std::vector<SceneVector<std::array<int, 3>>> triangles_;
  std::vector<BulkKeys> keys_;
};

// Stops a load whose typed data fails one of the loader's checks. The message is never
// shown: the load runs again without fast paths, and the general reader gives it.
[[noreturn]] void FailBulk(const std::string& path);

// The BulkValues of the parse whose tree is being loaded on this thread, or null when the
// tree holds no markers; set for the duration of a load by a BulkScope.
BulkValues* CurrentBulk();

class BulkScope {
 public:
  explicit BulkScope(BulkValues* bulk);
  ~BulkScope();
  BulkScope(const BulkScope&) = delete;
  BulkScope& operator=(const BulkScope&) = delete;

 private:
  BulkValues* previous_;
};

}  // namespace tsm

#endif  // TSM_FORMATS_JSON_JSON_BULK_H
