// What the parts of the chunk-file loader share: a bounded reader of payload values, the
// file's content as read (before it becomes a scene), and the small solvers that find the
// scene values which the writers turn back into exactly the values of the file.
#ifndef TSM_FORMATS_TSM_TSM_PARTS_H
#define TSM_FORMATS_TSM_TSM_PARTS_H

#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "formats/import_util.h"
#include "formats/tsm/tsm_loader.h"
#include "reader/chunk_reader.h"
#include "scene/mem_material.h"
#include "scene/mem_objects.h"

namespace tsm {

// Reads little-endian values from one chunk's payload; a read beyond the payload ends the
// load with a message naming the chunk's offset (the chunk check makes that rare).
class PayloadCursor {
 public:
  PayloadCursor(const uint8_t* data, const Chunk& c)
      : d_(data), pos_(c.payloadBegin), end_(c.payloadEnd), offset_(c.offset) {}

  uint64_t Left() const { return end_ - pos_; }
  uint8_t U8() { return Need(1), d_[pos_++]; }
  uint16_t U16() {
    Need(2);
    uint16_t v = static_cast<uint16_t>(d_[pos_] | (d_[pos_ + 1] << 8));
    pos_ += 2;
    return v;
  }
  uint32_t U32() {
    Need(4);
    uint32_t v = uint32_t(d_[pos_]) | (uint32_t(d_[pos_ + 1]) << 8) |
                 (uint32_t(d_[pos_ + 2]) << 16) | (uint32_t(d_[pos_ + 3]) << 24);
    pos_ += 4;
    return v;
  }
  int32_t I32() { return static_cast<int32_t>(U32()); }
  float F32() {
    uint32_t bits = U32();
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
  }
  Point3 Point() {
    float x = F32(), y = F32();
    return Point3(x, y, F32());
  }
  std::string Text() {
    Need(1);
    const void* nul = std::memchr(d_ + pos_, 0, static_cast<size_t>(end_ - pos_));
    if (nul == nullptr) Fail("a text runs to the end of its chunk without its closing zero");
    size_t n = static_cast<const uint8_t*>(nul) - (d_ + pos_);
    std::string s(reinterpret_cast<const char*>(d_ + pos_), n);
    pos_ += n + 1;
    return s;
  }
  [[noreturn]] void Fail(const std::string& what) const {
    throw ImportError("offset " + std::to_string(offset_) + ": " + what);
  }

 private:
  void Need(uint64_t n) {
    if (end_ - pos_ < n) Fail("the chunk's payload is shorter than its content");
  }
  const uint8_t* d_;
  uint64_t pos_, end_, offset_;
};

// One key of a track as the file holds it.
struct FileKey {
  int32_t frame = 0;
  uint16_t splineFlags = 0;
  float params[5] = {0, 0, 0, 0, 0};  // tension, continuity, bias, ease to, ease from
  float value[4] = {0, 0, 0, 0};      // 1, 3 or 4 floats by the track's kind
};

// A track chunk: its keys, checked when it was read, stay in the file's bytes and are
// read again in order by ForEachKey, so that a long track is never held twice.
struct FileTrack {
  bool present = false;
  uint16_t id = 0;     // the track chunk's id
  uint32_t count = 0;  // keys
  uint64_t offset = 0;
  // One key at frame 0 without spline parameters: what a track without animation holds.
  bool Single() const;
  // The first key; count must be above 0.
  FileKey First() const;
  // Calls visit(key) for each key in file order.
  void ForEachKey(const std::function<void(const FileKey&)>& visit) const;

  const uint8_t* data = nullptr;  // the file's bytes
  uint64_t payloadBegin = 0, payloadEnd = 0;
};

// A node chunk of the keyframer section.
struct FileNode {
  uint16_t chunkId = 0;  // OBJECT_NODE, CAMERA_NODE, ...
  uint64_t offset = 0;
  int id = -1;  // NODE_ID; -1: none
  bool hasHeader = false;
  std::string headerName;
  uint16_t flags = 0x4000;
  int parent = -1;  // parent's NODE_ID; -1: none
  bool hasPivot = false;
  Point3 pivot;
  bool hasInstance = false;
  std::string instanceName;
  bool hasBounds = false;
  Box3 bounds;
  FileTrack position, rotation, scale, fov, roll, color, hotspot, falloff;
};

struct FaceGroup {
  uint64_t offset = 0;
  std::string material;
  std::vector<uint16_t> faces;
};

// What a named object of the editor section holds beyond its name and kind.
struct ObjectDetail {
  std::string properties;
  int32_t lockGroup = -1, lockAxis = -1;
  // Meshes: vertices as written (world space), the mesh matrix, face-material groups.
  std::vector<Point3> worldVertices;
  bool hasMatrix = false;
  Matrix3 matrix;
  std::vector<std::array<float, 6>> uv;  // per face, corner 0 to 2, U before V; empty:
                                         // every pair is zero
  std::vector<FaceGroup> groups;
  // Lights and cameras: world positions; spots and cameras have a target.
  Point3 position, target;
  bool spot = false;
  float lens = 0.0f;
  // Shapes: the parent's name and the knot points in world space.
  std::string parentName;
  std::vector<Point3> points;
};

// A named object of the editor section. When meshes are read when used
// (FileContent::meshesWhenUsed), a small mesh holds only its place in the file, its kind
// and its name until a node needs it, and every mesh lets go of its detail once its first
// node is done.
struct FileObject {
  uint16_t kind = 0;  // TRIANGLE_MESH, LIGHT, CAMERA, SHAPE_POINTS; 0: none
  bool placed = false;  // a node holds it
  uint64_t offset = 0;  // the NAMED_OBJECT chunk: its offset and length
  uint32_t length = 0;
  std::string name;
  MemObject* object = nullptr;  // the scene object made for it; null while not made
  std::unique_ptr<MemObject> made;  // the object when the scene does not own it
  HostMaterial* material = nullptr;  // meshes: the material of the first node that holds it
  std::unique_ptr<ObjectDetail> detail;  // null while not read
  // The objects of one kind and name, in the file's order: the first of them, the next
  // one; the first holds what the scene builder keeps of them all (the first that no node
  // holds yet, the last that one holds, the nodes still to come that name them).
  int32_t sameFirst = -1, sameNext = -1, firstFresh = -1, lastPlaced = -1;
  uint32_t usersLeft = 0;
};

// The file's content before it becomes a scene.
struct FileContent {
  std::vector<MemMaterial*> materials;  // in file order, owned by the scene
  bool linearColors = false;            // a COLOR_BYTES_LINEAR chunk was seen
  bool hasMasterScale = false;
  float masterScale = 1.0f;
  // Small meshes are read for their notices and then again when a node needs them; every
  // mesh is let go after its last node (for a reader that takes the nodes one by one).
  bool meshesWhenUsed = false;
  std::vector<FileObject> objects;
  bool hasKeyframer = false;
  int32_t segmentStart = 0, segmentEnd = 100;
  bool hasCurrentTime = false;
  int32_t currentTime = 0;  // ticks
  std::vector<FileNode> nodes;  // read before the scene is built (see ReadTsmScene)
};

// Reads EDITOR_DATA into content (materials and named objects); the objects' scene
// objects are made in scene.
void ReadEditorSection(const uint8_t* data, const Chunk& editor, MemScene& scene,
                       FileContent& content, std::vector<std::string>& notices);
// Reads the named object o (of the editor section at data) again, complete: its detail,
// and its scene object into o.made. Its notices were given when it was first read.
void ReadObjectAgain(const uint8_t* data, FileObject& o);
// Reads KEYFRAMER_DATA: its times into content, and each node chunk, in the file's
// order, into a record handed to node.
void ReadKeyframerSection(const uint8_t* data, const Chunk& keyframer, FileContent& content,
                          std::vector<std::string>& notices,
                          const std::function<void(FileNode&)>& node);
// What is known of KEYFRAMER_DATA from one walk before its nodes are read.
struct KeyframerOutline {
  // The section names its segment and current time before its first node (as the writer
  // orders it), so that its nodes can be built as they are read.
  bool timesBeforeNodes = true;
  // With headers: the NODE_IDs that its nodes name as their parents, by id; a header that
  // cannot be read names none (its read fails later, with its message).
  std::vector<bool> parentIds;
};
// The outline of KEYFRAMER_DATA; with headers, also the header name of every OBJECT_NODE,
// handed to meshNode. A node's header is its last NODE_HEADER that is not empty, as
// ReadKeyframerSection reads it.
KeyframerOutline OutlineKeyframer(const uint8_t* data, const Chunk& keyframer, bool headers,
                                  const std::function<void(const std::string&)>& meshNode);

// The notice for a chunk that the loader does not know and skips.
std::string SkippedChunkNotice(const Chunk& c);

// The float x whose sum x + addend, in single precision, is target (or the nearest try).
float AddendPreimage(float target, float addend);
// The float x whose product x * factor, in single precision, is target (or the nearest).
float FactorPreimage(float target, float factor);
// The point p whose product p * m (the writers' Point3 * Matrix3) is target, or the
// nearest that was found; m's axes must not be flat (then target is answered).
Point3 PointPreimage(const Point3& target, const Matrix3& m);

}  // namespace tsm

#endif  // TSM_FORMATS_TSM_TSM_PARTS_H
