#include "reader/chunk_reader.h"


#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>

#include "io/input_file.h"
#include "writer/chunk_ids.h"

namespace tsm {

ChunkLayout LayoutOf(uint16_t id) {
  switch (id) {
    // Sections and groups whose body is nothing but chunks.
    case MOD_MAIN:
    case MAIN:
    case EDITOR_DATA:
    case TRIANGLE_MESH:
    case MATERIAL_BLOCK:
    case MATERIAL_AMBIENT:
    case MATERIAL_DIFFUSE:
    case MATERIAL_SPECULAR:
    case MATERIAL_SHININESS:
    case MATERIAL_SHININESS_STRENGTH:
    case MATERIAL_TRANSPARENCY:
    case MATERIAL_FALLOFF:
    case MATERIAL_REFLECTION_BLUR:
    case MATERIAL_SELF_ILLUMINATION:
    case MAP_TEXTURE:
    case MAP_TEXTURE2:
    case MAP_OPACITY:
    case MAP_BUMP:
    case MAP_SPECULAR:
    case MAP_SHININESS:
    case MAP_SELF_ILLUMINATION:
    case MAP_REFLECTION:
    case MASK_TEXTURE:
    case MASK_TEXTURE2:
    case MASK_OPACITY:
    case MASK_BUMP:
    case MASK_SPECULAR:
    case MASK_SHININESS:
    case MASK_SELF_ILLUMINATION:
    case MASK_REFLECTION:
    case KEYFRAMER_DATA:
    case OBJECT_NODE:
    case CAMERA_NODE:
    case CAMERA_TARGET_NODE:
    case POINT_LIGHT_NODE:
    case LIGHT_TARGET_NODE:
    case SPOT_LIGHT_NODE:
      return {BodyKind::kChildren, 0};
    case NAMED_OBJECT:
      return {BodyKind::kTextThenChildren, 0};
    case MESH_FACES:
      return {BodyKind::kFacesThenChildren, 0};
    case LIGHT:
      return {BodyKind::kFixedThenChildren, 12};  // position
    case SPOT_LIGHT:
      return {BodyKind::kFixedThenChildren, 20};  // target, hotspot, falloff
    case CAMERA:
      return {BodyKind::kFixedThenChildren, 32};  // position, target, roll, lens
    default:
      return {BodyKind::kLeaf, 0};
  }
}

namespace {

uint16_t LoadU16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t LoadU32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

// "chunk 0x4600 LIGHT", or "chunk 0x1234" for an id outside the catalogue.
std::string Describe(uint16_t id) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "chunk 0x%04X", id);
  std::string s = buf;
  if (const char* name = ChunkName(id)) {
    s += ' ';
    s += name;
  }
  return s;
}

// The observer the walks tell where they are; see SetWalkObserver.
WalkObserver walkObserver = nullptr;
void* walkContext = nullptr;
int walkTrack = 0;

void NoteWalk(uint64_t offset) {
  if (walkObserver != nullptr) walkObserver(offset, walkTrack, walkContext);
}

class Parser {
 public:
  Parser(const uint8_t* data, size_t size, bool keepChildren, ChunkTree* out)
      : data_(data), size_(size), keep_(keepChildren), out_(out) {}

  void Run() {
    if (size_ < kChunkHeaderSize) {
      Fail(0, size_ == 0 ? "the file is empty"
                         : "file of " + std::to_string(size_) +
                               " bytes is too short for a 6-byte chunk header");
      return;
    }
    if (!ParseChunk(0, size_, nullptr, 0, &out_->top)) {
      out_->top = Chunk();  // half a tree is of no use to anyone
      return;
    }
    if (out_->top.End() < size_) {
      uint64_t end = out_->top.End();
      Fail(end, std::to_string(size_ - end) + " trailing bytes after the top chunk");
      return;
    }
    out_->ok = true;
  }

 private:
  bool Fail(uint64_t offset, const std::string& what) {
    out_->ok = false;
    out_->errorOffset = offset;
    out_->error = "offset " + std::to_string(offset) + ": " + what;
    return false;
  }

  // Parses the chunk whose header is at offset. Its parent's body ends at limit (the
  // file's end for the top chunk, parent null); the caller has made sure that the six
  // header bytes lie before limit.
  bool ParseChunk(uint64_t offset, uint64_t limit, const Chunk* parent, int depth, Chunk* c) {
    NoteWalk(offset);
    const uint8_t* h = data_ + offset;
    c->offset = offset;
    c->id = LoadU16(h);
    c->length = LoadU32(h + 2);
    if (depth > kMaxChunkDepth) {
      return Fail(offset, Describe(c->id) + " is nested deeper than " +
                              std::to_string(kMaxChunkDepth) + " levels");
    }
    if (c->length < kChunkHeaderSize) {
      return Fail(offset, Describe(c->id) + " length " + std::to_string(c->length) +
                              " is shorter than its 6-byte header");
    }
    if (c->length > limit - offset) {
      return Fail(offset, Describe(c->id) + " length " + std::to_string(c->length) +
                              " runs past the end of " +
                              (parent ? "its parent at " : "the file at ") + std::to_string(limit));
    }
    c->payloadBegin = offset + kChunkHeaderSize;
    if (!FindPayloadEnd(c)) return false;

    uint64_t pos = c->payloadEnd;
    const uint64_t end = c->End();
    while (pos < end) {
      if (end - pos < kChunkHeaderSize) {
        return Fail(pos, std::to_string(end - pos) + " bytes left before the end of " +
                             Describe(c->id) + " at " + std::to_string(end) +
                             ", too few for a chunk header");
      }
      // Without children kept, one chunk per level is alive at a time.
      Chunk local;
      Chunk* child = &local;
      if (keep_) {
        c->children.emplace_back();
        child = &c->children.back();
      }
      if (!ParseChunk(pos, end, c, depth + 1, child)) return false;
      pos = child->End();
    }
    return true;
  }

  // Sets c->payloadEnd from the layout of c's id; fails when the payload that the layout
  // asks for does not fit in the body.
  bool FindPayloadEnd(Chunk* c) {
    const ChunkLayout layout = LayoutOf(c->id);
    const uint64_t body = c->length - kChunkHeaderSize;
    const uint8_t* p = data_ + c->payloadBegin;
    switch (layout.kind) {
      case BodyKind::kLeaf:
        c->payloadEnd = c->End();
        return true;
      case BodyKind::kChildren:
        c->payloadEnd = c->payloadBegin;
        return true;
      case BodyKind::kFixedThenChildren:
        if (body < layout.fixedSize) {
          return Fail(c->offset, Describe(c->id) + " body of " + std::to_string(body) +
                                     " bytes is shorter than its " +
                                     std::to_string(layout.fixedSize) + "-byte payload");
        }
        c->payloadEnd = c->payloadBegin + layout.fixedSize;
        return true;
      case BodyKind::kTextThenChildren: {
        const void* nul = std::memchr(p, 0, static_cast<size_t>(body));
        if (nul == nullptr) {
          return Fail(c->offset, Describe(c->id) + " has no NUL-terminated name in its body");
        }
        c->payloadEnd = c->payloadBegin + (static_cast<const uint8_t*>(nul) - p) + 1;
        return true;
      }
      case BodyKind::kFacesThenChildren: {
        if (body < 2) {
          return Fail(c->offset, Describe(c->id) + " body of " + std::to_string(body) +
                                     " bytes has no room for its face count");
        }
        const uint64_t count = LoadU16(p);
        const uint64_t need = 2 + count * kFaceRecordSize;
        if (need > body) {
          return Fail(c->offset, Describe(c->id) + " count " + std::to_string(count) + " needs " +
                                     std::to_string(need) + " payload bytes, its body has " +
                                     std::to_string(body));
        }
        c->payloadEnd = c->payloadBegin + need;
        return true;
      }
    }
    return true;
  }

  const uint8_t* data_;
  size_t size_;
  bool keep_;
  ChunkTree* out_;
};

}  // namespace

ChunkTree ReadChunkTree(const uint8_t* data, size_t size, bool keepChildren) {
  ChunkTree tree;
  if (data == nullptr) size = 0;
  try {
    Parser(data, size, keepChildren, &tree).Run();
  } catch (const std::exception&) {
    // A tree of millions of tiny chunks can exhaust memory; say so instead of throwing.
    tree = ChunkTree();
    tree.error = "offset 0: out of memory while reading the chunk tree";
  }
  return tree;
}

Chunk ChunkAt(const uint8_t* data, uint64_t offset) {
  Chunk c;
  const uint8_t* h = data + offset;
  c.offset = offset;
  c.id = LoadU16(h);
  c.length = LoadU32(h + 2);
  c.payloadBegin = offset + kChunkHeaderSize;
  const ChunkLayout layout = LayoutOf(c.id);
  switch (layout.kind) {
    case BodyKind::kLeaf:
      c.payloadEnd = c.End();
      break;
    case BodyKind::kChildren:
      c.payloadEnd = c.payloadBegin;
      break;
    case BodyKind::kFixedThenChildren:
      c.payloadEnd = c.payloadBegin + layout.fixedSize;
      break;
    case BodyKind::kTextThenChildren: {
      const uint8_t* p = data + c.payloadBegin;
      const void* nul = std::memchr(p, 0, c.length - kChunkHeaderSize);
      c.payloadEnd = c.payloadBegin + (static_cast<const uint8_t*>(nul) - p) + 1;
      break;
    }
    case BodyKind::kFacesThenChildren:
      c.payloadEnd =
          c.payloadBegin + 2 + uint64_t(LoadU16(data + c.payloadBegin)) * kFaceRecordSize;
      break;
  }
  return c;
}

bool ForEachChild(const Chunk& c, const uint8_t* data,
                  const std::function<bool(const Chunk&)>& visit) {
  uint64_t pos = c.payloadEnd;
  const uint64_t end = c.End();
  while (pos < end) {
    NoteWalk(pos);
    const Chunk child = ChunkAt(data, pos);
    if (!visit(child)) return false;
    pos = child.End();
  }
  return true;
}

namespace {

// How a chunk file is read: up to the largest chunk file, a stream too.
InputRules ChunkFileRules() {
  InputRules rules;
  rules.maxSize = kMaxChunkFileSize;
  rules.streams = true;
  // A top chunk claiming less than its own header fails at offset 0 whatever follows it,
  // so an endless stream of zeros is not read any further.
  rules.hopeless = [](const char* data, size_t size) {
    return size >= kChunkHeaderSize &&
           LoadU32(reinterpret_cast<const uint8_t*>(data) + 2) < kChunkHeaderSize;
  };
  return rules;
}

// The one-line reason of a failed read; true when the read succeeded.
bool ChunkFileRead(const InputRead& read, std::string* error) {
  switch (read.fault) {
    case InputFault::kNone:
      return true;
    case InputFault::kOpen:
    case InputFault::kRead:
      *error = std::strerror(read.errnum);
      break;
    case InputFault::kTooLarge:
      *error = "the file is " + std::to_string(read.size) + " bytes; a chunk file is at most " +
               std::to_string(kMaxChunkFileSize);
      break;
    case InputFault::kStreamTooLarge:
      *error = "more than " + std::to_string(kMaxChunkFileSize) +
               " bytes; a chunk file is never larger";
      break;
    default:
      *error = read.message;
  }
  return false;
}

}  // namespace

bool ReadFileBytes(const char* path, std::vector<uint8_t>* bytes, std::string* error) {
  return ChunkFileRead(ReadInputFile(path, ChunkFileRules(), bytes), error);
}

void NoteWalkedTo(uint64_t offset) {
  NoteWalk(offset);
}

ReadingBack::ReadingBack() : before_(walkTrack) {
  walkTrack = 1;
}

ReadingBack::~ReadingBack() {
  walkTrack = before_;
}

WalkObserver SetWalkObserver(WalkObserver observer, void* context) {
  WalkObserver before = walkObserver;
  walkObserver = observer;
  walkContext = context;
  return before;
}

bool MappedFile::Open(const char* path, std::string* error) {
  return ChunkFileRead(mapping_.Open(path, ChunkFileRules()), error);
}

}  // namespace tsm
