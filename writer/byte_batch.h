// A little-endian encoder that collects values and hands them to a stream in large
// writes. The mesh chunks hold most of a file's bytes; encoding their records here and
// writing them in pieces of some kilobytes keeps the cost of a file close to that of one
// sequential write.
#ifndef TSM_WRITER_BYTE_BATCH_H
#define TSM_WRITER_BYTE_BATCH_H

#include <cstdint>
#include <cstring>

#include "writer/chunk_io.h"

namespace tsm {

class ByteBatch {
 public:
  static constexpr size_t kSize = 32 * 1024;

  explicit ByteBatch(OutStream& stream) : stream_(stream) {}

  // Room for n more bytes (n <= kSize): the place to store them, or null when a write
  // the batch had to make came back short. The caller fills all n bytes with the Store
  // helpers below.
  uint8_t* Reserve(size_t n) {
    if (n_ + n > kSize && !Flush()) return nullptr;
    uint8_t* p = buf_ + n_;
    n_ += n;
    return p;
  }

  // Each Put answers false when a write the batch had to make came back short.
  bool PutU16(uint16_t v) {
    uint8_t* p = Reserve(2);
    return p != nullptr && (StoreU16(p, v), true);
  }
  bool PutU32(uint32_t v) {
    uint8_t* p = Reserve(4);
    return p != nullptr && (StoreU32(p, v), true);
  }
  bool PutF32(float v) {
    uint8_t* p = Reserve(4);
    return p != nullptr && (StoreF32(p, v), true);
  }

  // Little-endian stores; each answers the byte after the value. On a little-endian
  // machine a value's bytes are already in file order and are copied as they stand.
  static uint8_t* StoreU16(uint8_t* p, uint16_t v) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    std::memcpy(p, &v, 2);
#else
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
#endif
    return p + 2;
  }
  static uint8_t* StoreU32(uint8_t* p, uint32_t v) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    std::memcpy(p, &v, 4);
#else
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
#endif
    return p + 4;
  }
  static uint8_t* StoreF32(uint8_t* p, float v) {
    uint32_t bits;
    std::memcpy(&bits, &v, 4);
    return StoreU32(p, bits);
  }

  // Writes what is collected; answers false on a short write. Call before the chunk
  // goes on with anything written directly to the stream.
  bool Flush() {
    bool ok = WriteBytes(stream_, buf_, n_);
    n_ = 0;
    return ok;
  }

 private:
  OutStream& stream_;
  uint8_t buf_[kSize];
  size_t n_ = 0;
};

// The body of one chunk gathered in memory before anything of the chunk is written, so
// that its length is known when its header goes out: header and body then reach the
// stream in one write and no length is patched later (a patch of bytes that already left
// the file stream's buffer costs a positioned write). A body that outgrows the batch is
// sent on as an open chunk, OpenChunk's placeholder and all, in pieces of kSize bytes,
// and is closed by CloseChunk at the end: the bytes are the same either way.
//
// Made without an id, it gathers plain bytes for a chunk the caller has already opened.
class ChunkBatch {
 public:
  static constexpr size_t kSize = 64 * 1024;

  ChunkBatch(OutStream& stream, int32_t id) : stream_(stream), id_(id), framed_(true) {
    n_ = kChunkHeaderBytes;  // room for the header, filled in by Finish
  }
  explicit ChunkBatch(OutStream& stream) : stream_(stream) {}
  ChunkBatch(const ChunkBatch&) = delete;
  ChunkBatch& operator=(const ChunkBatch&) = delete;

  // Room for n more bytes (n <= kSize - 6), to be filled with ByteBatch's Store helpers;
  // null when a write the batch had to make came back short.
  uint8_t* Reserve(size_t n) {
    if (n_ + n > kSize && !Spill()) return nullptr;
    uint8_t* p = buf_ + n_;
    n_ += n;
    return p;
  }

  // Gives back the end of a Reserve that was not filled: end is the byte after the last
  // one stored, within the room the last Reserve gave.
  void EndAt(const uint8_t* end) { n_ = static_cast<size_t>(end - buf_); }

  // Writes what is gathered and, for a chunk, its header or its patched length. Answers
  // false when a write came back short (or the chunk reached 4 GiB).
  bool Finish() {
    if (framed_ && !spilled_) {
      uint8_t* p = ByteBatch::StoreU16(buf_, ChunkLow(id_));
      ByteBatch::StoreU32(p, static_cast<uint32_t>(n_));
      return WriteBytes(stream_, buf_, n_);
    }
    bool ok = WriteBytes(stream_, buf_, n_);
    n_ = 0;
    return ok && (!framed_ || CloseChunk(stream_, mark_));
  }

 private:
  static constexpr size_t kChunkHeaderBytes = 6;

  // Sends what is gathered on; the first time for a chunk, with the header OpenChunk
  // would have written.
  bool Spill() {
    if (framed_ && !spilled_) {
      mark_.start = stream_.Tell();
      mark_.lengthPos = mark_.start + 2;
      uint8_t* p = ByteBatch::StoreU16(buf_, ChunkLow(id_));
      ByteBatch::StoreU32(p, static_cast<uint32_t>(mark_.lengthPos));
      spilled_ = true;
    }
    bool ok = WriteBytes(stream_, buf_, n_);
    n_ = 0;
    return ok;
  }

  OutStream& stream_;
  int32_t id_ = 0;
  bool framed_ = false;
  bool spilled_ = false;
  ChunkMark mark_;
  size_t n_ = 0;
  uint8_t buf_[kSize];
};

}  // namespace tsm

#endif  // TSM_WRITER_BYTE_BATCH_H
