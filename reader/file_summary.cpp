#include "reader/file_summary.h"

#include "reader/chunk_reader.h"
#include "writer/chunk_ids.h"

namespace tsm {

namespace {

// Track header: u16 flags, u32 first frame, u32 last frame, u32 key count.
constexpr uint64_t kTrackCountOffset = 10;

bool IsTrack(uint16_t id) {
  switch (id) {
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

class Counter {
 public:
  Counter(const uint8_t* data, FileSummary* out) : data_(data), out_(out) {}

  void Walk(const Chunk& c, uint16_t parent) {
    switch (c.id) {
      case MATERIAL_BLOCK:
        if (parent == EDITOR_DATA) ++out_->materials;
        break;
      case TRIANGLE_MESH:
        if (parent == NAMED_OBJECT) ++out_->meshes;
        break;
      case LIGHT:
        if (parent == NAMED_OBJECT) ++out_->lights;
        break;
      case CAMERA:
        if (parent == NAMED_OBJECT) ++out_->cameras;
        break;
      case SHAPE_POINTS:
        if (parent == NAMED_OBJECT) ++out_->shapes;
        break;
      case MESH_FACES:
        if (c.PayloadSize() >= 2) out_->faces += U16(c.payloadBegin);
        break;
      default:
        if (parent == KEYFRAMER_DATA && IsKeyframerNode(c.id)) ++out_->keyframerNodes;
        if (IsKeyframerNode(parent) && IsTrack(c.id)) {
          ++out_->tracks;
          if (c.PayloadSize() >= kTrackCountOffset + 4) {
            out_->keys += U32(c.payloadBegin + kTrackCountOffset);
          }
        }
        break;
    }
    ForEachChild(c, data_, [this, &c](const Chunk& child) {
      Walk(child, c.id);
      return true;
    });
  }

 private:
  uint32_t U16(uint64_t at) const { return data_[at] | (data_[at + 1] << 8); }
  uint32_t U32(uint64_t at) const {
    return uint32_t(data_[at]) | (uint32_t(data_[at + 1]) << 8) | (uint32_t(data_[at + 2]) << 16) |
           (uint32_t(data_[at + 3]) << 24);
  }

  const uint8_t* data_;
  FileSummary* out_;
};

// "1 mesh" or "2 meshes".
std::string Count(int64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

FileSummary SummarizeChunkFile(const uint8_t* data, size_t size) {
  FileSummary s;
  s.bytes = size;
  // No chunk keeps its children: the walk reads them from the bytes, so memory does not
  // grow with the file.
  ChunkTree tree = ReadChunkTree(data, size, false);
  if (!tree.ok) {
    s.error = tree.error;
    return s;
  }
  Counter(data, &s).Walk(tree.top, 0);
  s.ok = true;
  return s;
}

FileSummary SummarizeFile(const char* path) {
  MappedFile file;
  std::string error;
  if (!file.Open(path, &error)) {
    FileSummary s;
    s.error = error;
    return s;
  }
  WalkRelease release(file);
  return SummarizeChunkFile(file.Data(), file.Size());
}

std::string FormatFileSummary(const FileSummary& s) {
  return Count(s.meshes, "mesh", "meshes") + ", " + Count(s.lights, "light", "lights") + ", " +
         Count(s.cameras, "camera", "cameras") + ", " + Count(s.shapes, "shape", "shapes") + ", " +
         Count(s.materials, "material", "materials") + ", " + Count(s.faces, "face", "faces") +
         ", " + Count(s.keyframerNodes, "keyframer node", "keyframer nodes") + ", " +
         Count(s.tracks, "track", "tracks") + ", " + Count(s.keys, "key", "keys") + ", " +
         Count(static_cast<int64_t>(s.bytes), "byte", "bytes");
}

}  // namespace tsm
