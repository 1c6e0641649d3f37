// The keyframer section of a chunk file read back: the section's times and one record per
// node chunk with its header, pivot, bounds and tracks, keys as the file holds them.
#include "formats/tsm/tsm_parts.h"
#include "writer/chunk_ids.h"

namespace tsm {

namespace {

// Floats in the value of one key of a track chunk.
int ValueFloats(uint16_t trackId) {
  switch (trackId) {
    case POSITION_TRACK:
    case SCALE_TRACK:
    case COLOR_TRACK:
      return 3;
    case ROTATION_TRACK:
      return 4;
    default:
      return 1;
  }
}

// Reads a track chunk's header; answers its key count, checked against the payload.
uint32_t TrackHeader(PayloadCursor& p, uint16_t trackId) {
  p.U16();  // track flags
  p.U32();  // first frame
  p.U32();  // last frame
  uint32_t n = p.U32();
  // Each key takes at least its frame, its spline flags and its value.
  if (static_cast<uint64_t>(n) * (6 + 4 * ValueFloats(trackId)) > p.Left())
    p.Fail("the key count " + std::to_string(n) + " does not fit the track");
  return n;
}

FileKey NextKey(PayloadCursor& p, int floats) {
  FileKey k;
  k.frame = static_cast<int32_t>(p.U32());
  k.splineFlags = p.U16();
  if (k.splineFlags & ~0x1F) p.Fail("a key has spline flags beyond the five parameters");
  for (int b = 0; b < 5; ++b)
    if (k.splineFlags & (1 << b)) k.params[b] = p.F32();
  for (int i = 0; i < floats; ++i) k.value[i] = p.F32();
  return k;
}

// Checks every key of the track and keeps its place; the keys are read again when used.
void ReadTrack(const uint8_t* data, const Chunk& c, FileTrack& track) {
  PayloadCursor p(data, c);
  track.present = true;
  track.id = c.id;
  track.offset = c.offset;
  track.data = data;
  track.payloadBegin = c.payloadBegin;
  track.payloadEnd = c.payloadEnd;
  track.count = TrackHeader(p, c.id);
  const int floats = ValueFloats(c.id);
  for (uint32_t i = 0; i < track.count; ++i) NextKey(p, floats);
}

// A NODE_HEADER's name, first flags word and parent's NODE_ID (-1: none); the second
// flags word is passed over.
void HeaderFields(PayloadCursor& p, std::string* name, uint16_t* flags, int* parent) {
  *name = p.Text();
  *flags = p.U16();
  p.U16();
  const uint16_t id = p.U16();
  *parent = id == NO_PARENT ? -1 : id;
}

FileNode ReadNode(const uint8_t* data, const Chunk& node, std::vector<std::string>& notices) {
  FileNode n;
  n.chunkId = node.id;
  n.offset = node.offset;
  ForEachChild(node, data, [&](const Chunk& c) {
    PayloadCursor p(data, c);
    switch (c.id) {
      case NODE_ID:
        n.id = p.U16();
        break;
      case NODE_HEADER:
        if (c.PayloadSize() == 0) break;  // the writer's mark of an owner it did not find
        n.hasHeader = true;
        HeaderFields(p, &n.headerName, &n.flags, &n.parent);
        break;
      case INSTANCE_NAME:
        n.hasInstance = true;
        n.instanceName = p.Text();
        break;
      case NODE_PIVOT:
        n.hasPivot = true;
        n.pivot = p.Point();
        break;
      case NODE_BOUNDS:
        n.hasBounds = true;
        n.bounds.pmin = p.Point();
        n.bounds.pmax = p.Point();
        break;
      case POSITION_TRACK:
        ReadTrack(data, c, n.position);
        break;
      case ROTATION_TRACK:
        ReadTrack(data, c, n.rotation);
        break;
      case SCALE_TRACK:
        ReadTrack(data, c, n.scale);
        break;
      case FOV_TRACK:
        ReadTrack(data, c, n.fov);
        break;
      case ROLL_TRACK:
        ReadTrack(data, c, n.roll);
        break;
      case COLOR_TRACK:
        ReadTrack(data, c, n.color);
        break;
      case HOTSPOT_TRACK:
        ReadTrack(data, c, n.hotspot);
        break;
      case FALLOFF_TRACK:
        ReadTrack(data, c, n.falloff);
        break;
      default:
        notices.push_back(SkippedChunkNotice(c));
    }
    return true;
  });
  return n;
}

}  // namespace

namespace {

// The track's chunk, without children, for reading its payload again.
Chunk TrackChunk(const FileTrack& t) {
  Chunk c;
  c.offset = t.offset;
  c.id = t.id;
  c.payloadBegin = t.payloadBegin;
  c.payloadEnd = t.payloadEnd;
  return c;
}

}  // namespace

bool FileTrack::Single() const {
  if (!present || count != 1) return false;
  const FileKey k = First();
  return k.frame == 0 && k.splineFlags == 0;
}

FileKey FileTrack::First() const {
  PayloadCursor p(data, TrackChunk(*this));
  TrackHeader(p, id);
  const FileKey k = NextKey(p, ValueFloats(id));
  NoteWalkedTo(payloadEnd);
  return k;
}

void FileTrack::ForEachKey(const std::function<void(const FileKey&)>& visit) const {
  if (!present) return;
  PayloadCursor p(data, TrackChunk(*this));
  const uint32_t n = TrackHeader(p, id);
  const int floats = ValueFloats(id);
  for (uint32_t i = 0; i < n; ++i) visit(NextKey(p, floats));
  NoteWalkedTo(payloadEnd);
}

KeyframerOutline OutlineKeyframer(const uint8_t* data, const Chunk& keyframer, bool headers,
                                  const std::function<void(const std::string&)>& meshNode) {
  KeyframerOutline outline;
  bool nodeSeen = false;
  ForEachChild(keyframer, data, [&](const Chunk& node) {
    if (node.id == KF_SEGMENT || node.id == KF_CURRENT_TIME)
      outline.timesBeforeNodes = outline.timesBeforeNodes && !nodeSeen;
    if (!IsKeyframerNode(node.id)) return outline.timesBeforeNodes || headers;
    nodeSeen = true;
    if (!headers) return outline.timesBeforeNodes;
    bool named = false;
    std::string name;
    int parent = -1;
    ForEachChild(node, data, [&](const Chunk& c) {
      if (c.id != NODE_HEADER || c.PayloadSize() == 0) return true;
      try {
        PayloadCursor p(data, c);
        uint16_t flags;
        HeaderFields(p, &name, &flags, &parent);
        named = true;
      } catch (const ImportError&) {
        named = false;
        return false;
      }
      return true;
    });
    if (!named) return true;
    if (parent >= 0) {
      if (outline.parentIds.size() <= static_cast<size_t>(parent))
        outline.parentIds.resize(parent + 1u, false);
      outline.parentIds[parent] = true;
    }
    if (node.id == OBJECT_NODE && meshNode) meshNode(name);
    return true;
  });
  return outline;
}

void ReadKeyframerSection(const uint8_t* data, const Chunk& keyframer, FileContent& content,
                          std::vector<std::string>& notices,
                          const std::function<void(FileNode&)>& node) {
  content.hasKeyframer = true;
  ForEachChild(keyframer, data, [&](const Chunk& c) {
    if (IsKeyframerNode(c.id)) {
      FileNode n = ReadNode(data, c, notices);
      node(n);
      return true;
    }
    PayloadCursor p(data, c);
    switch (c.id) {
      case KF_HEADER:
        break;  // revision, scene name and the end frame, which the segment repeats
      case KF_SEGMENT:
        content.segmentStart = p.I32();
        content.segmentEnd = p.I32();
        break;
      case KF_CURRENT_TIME:
        content.hasCurrentTime = true;
        content.currentTime = p.I32();
        break;
      default:
        notices.push_back(SkippedChunkNotice(c));
    }
    return true;
  });
}

}  // namespace tsm
