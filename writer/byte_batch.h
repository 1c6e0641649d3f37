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

}  // namespace tsm

#endif  // TSM_WRITER_BYTE_BATCH_H
