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

  // Each Put answers false when a write the batch had to make came back short.
  bool PutU16(uint16_t v) {
    if (!Room(2)) return false;
    buf_[n_++] = static_cast<uint8_t>(v);
    buf_[n_++] = static_cast<uint8_t>(v >> 8);
    return true;
  }
  bool PutU32(uint32_t v) {
    if (!Room(4)) return false;
    buf_[n_++] = static_cast<uint8_t>(v);
    buf_[n_++] = static_cast<uint8_t>(v >> 8);
    buf_[n_++] = static_cast<uint8_t>(v >> 16);
    buf_[n_++] = static_cast<uint8_t>(v >> 24);
    return true;
  }
  bool PutF32(float v) {
    uint32_t bits;
    std::memcpy(&bits, &v, 4);
    return PutU32(bits);
  }

  // Writes what is collected; answers false on a short write. Call before the chunk
  // goes on with anything written directly to the stream.
  bool Flush() {
    bool ok = WriteBytes(stream_, buf_, n_);
    n_ = 0;
    return ok;
  }

 private:
  bool Room(size_t need) { return n_ + need <= kSize || Flush(); }

  OutStream& stream_;
  uint8_t buf_[kSize];
  size_t n_ = 0;
};

}  // namespace tsm

#endif  // TSM_WRITER_BYTE_BATCH_H
