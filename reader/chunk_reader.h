// Reading a chunk file back: the layout of every chunk id (leaf or container, and how many
// payload bytes stand before the children), and the parse of a byte buffer into a chunk
// tree whose framing has been checked.
//
// The reader never reads outside the buffer it is given and never throws; every problem
// comes back as a result whose message starts with the file offset it concerns.
#ifndef TSM_READER_CHUNK_READER_H
#define TSM_READER_CHUNK_READER_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "io/input_file.h"

namespace tsm {

// Size of the id and length fields at the start of every chunk.
constexpr uint32_t kChunkHeaderSize = 6;

// Deepest nesting the reader accepts; the top chunk is depth 0. The exporter nests at most
// six levels, so anything near this is damage, and the limit keeps the recursive parse
// (and everything that walks the tree) far from the end of the stack.
constexpr int kMaxChunkDepth = 1024;

// How a chunk's body is laid out.
enum class BodyKind {
  kLeaf,               // the whole body is payload; unknown ids are leaves
  kChildren,           // no payload, children only
  kFixedThenChildren,  // fixedSize payload bytes, then children
  kTextThenChildren,   // a NUL-terminated text, then children
  kFacesThenChildren,  // u16 count, count face records of kFaceRecordSize bytes, children
};

// Bytes of one face record in MESH_FACES.
constexpr uint32_t kFaceRecordSize = 32;

struct ChunkLayout {
  BodyKind kind = BodyKind::kLeaf;
  uint32_t fixedSize = 0;  // payload bytes for kFixedThenChildren, 0 otherwise
};

// The layout of a chunk id (its low 16 bits).
ChunkLayout LayoutOf(uint16_t id);

// True when chunks of this id hold nested chunks after their payload.
inline bool IsContainer(uint16_t id) {
  return LayoutOf(id).kind != BodyKind::kLeaf;
}

// One chunk of a parsed file. All positions are absolute byte offsets into the buffer that
// was parsed; the tree does not keep the bytes.
struct Chunk {
  uint64_t offset = 0;  // first byte of the header
  uint16_t id = 0;
  uint32_t length = 0;        // as stored: header, payload and children
  uint64_t payloadBegin = 0;  // offset + 6
  uint64_t payloadEnd = 0;    // end of the chunk's own payload, where its children start
  std::vector<Chunk> children;

  uint64_t End() const { return offset + length; }
  uint64_t PayloadSize() const { return payloadEnd - payloadBegin; }
};

// What ReadChunkTree found. When ok is false, error says what is wrong and where, as
// "offset N: ...", errorOffset is that N, and top holds nothing of use.
struct ChunkTree {
  bool ok = false;
  std::string error;
  uint64_t errorOffset = 0;
  Chunk top;
};

// Parses data[0, size) as one top chunk that spans the whole buffer exactly. Checks that
// every length covers at least its header, that every child fits its parent and the
// children fill the parent's body exactly, that each container's payload fits its body,
// and that nesting stays within kMaxChunkDepth. Reports the first problem in file order.
// With keepChildren false the same checks run but no chunk keeps its children: memory
// grows with the nesting depth, not with the number of chunks; ForEachChild walks them.
ChunkTree ReadChunkTree(const uint8_t* data, size_t size, bool keepChildren = true);
inline ChunkTree ReadChunkTree(const std::vector<uint8_t>& bytes, bool keepChildren = true) {
  return ReadChunkTree(bytes.data(), bytes.size(), keepChildren);
}

// The chunk at offset, rebuilt from the bytes with its children left empty. offset must be
// where a chunk of a successful parse of data starts.
Chunk ChunkAt(const uint8_t* data, uint64_t offset);

// Calls visit with each child of c in file order, rebuilt from the bytes (its own
// children left empty), until visit answers false; answers false then. c must come from
// a successful parse of data, with or without its children kept.
bool ForEachChild(const Chunk& c, const uint8_t* data,
                  const std::function<bool(const Chunk&)>& visit);

// Told by the reader's walks (ReadChunkTree and ForEachChild) the offset of every chunk
// they reach, and on which track: 0 for the walks through the file, 1 for a reader's
// reads back over what it passed (see ReadingBack). On one track the offsets grow, save
// for a walk's return to an earlier place. A tool that maps its file lets the pages
// behind each track go (MappedFile::Release).
using WalkObserver = void (*)(uint64_t offset, int track, void* context);
// Installs observer with its context for every later walk (null: none); answers the
// observer installed before. Not for use by several threads at once.
WalkObserver SetWalkObserver(WalkObserver observer, void* context);
// Tells the observer, as a walk would, that a reader that went back over the bytes before
// offset (to read a chunk's payload again) is done with them.
void NoteWalkedTo(uint64_t offset);

// While it lives, the walks are told to the observer on track 1: a reader that reads
// parts of the file again, in their own order far behind its walk through the file, lets
// their pages go behind them without holding back the pages of that walk.
class ReadingBack {
 public:
  ReadingBack();
  ~ReadingBack();
  ReadingBack(const ReadingBack&) = delete;
  ReadingBack& operator=(const ReadingBack&) = delete;

 private:
  int before_;
};

// The largest chunk file: the top chunk's length field has 32 bits.
constexpr uint64_t kMaxChunkFileSize = 0xFFFFFFFFu;

// Reads the whole file at path into bytes. Answers false with a one-line reason in *error
// (the system's own wording) when the file cannot be opened or read, and when it is
// larger than kMaxChunkFileSize: a regular file is refused before anything is read, a
// stream once it passes the limit. A stream whose first six bytes already make the file
// invalid (a top chunk shorter than its header) is read no further. Throws
// std::bad_alloc when memory runs out.
bool ReadFileBytes(const char* path, std::vector<uint8_t>* bytes, std::string* error);

// A chunk file's bytes for reading without a copy: a regular file is mapped, anything
// else (a pipe, a device) read into memory, with ReadFileBytes' limits and wording of
// errors (see InputMapping).
class MappedFile {
 public:
  // Opens path; answers false with a one-line reason in *error (as ReadFileBytes). May
  // throw std::bad_alloc for a file that is read into memory.
  bool Open(const char* path, std::string* error);
  const uint8_t* Data() const { return mapping_.Data(); }
  size_t Size() const { return mapping_.Size(); }
  // The pages of a mapped file wholly before offset on a walk's track leave the process.
  void Release(uint64_t offset, int track = 0) { mapping_.Release(offset, track); }

 private:
  InputMapping mapping_;
};

// While it lives, the pages of file behind every walk leave the process (a page read
// again after that comes back from the file), so that reading a file end to end holds
// little more than the walk's place in memory. Only one at a time.
class WalkRelease {
 public:
  explicit WalkRelease(MappedFile& file) {
    SetWalkObserver(
        [](uint64_t offset, int track, void* mapped) {
          static_cast<MappedFile*>(mapped)->Release(offset, track);
        },
        &file);
  }
  WalkRelease(const WalkRelease&) = delete;
  WalkRelease& operator=(const WalkRelease&) = delete;
  ~WalkRelease() { SetWalkObserver(nullptr, nullptr); }
};

}  // namespace tsm

#endif  // TSM_READER_CHUNK_READER_H
