// The output stream that every writer sees, its implementations, the little-endian value
// writers and the chunk framing.
//
// A write succeeds only when the stream reports the full count written. Results of seeks
// and position queries are not examined by the writers.
#ifndef TSM_WRITER_CHUNK_IO_H
#define TSM_WRITER_CHUNK_IO_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tsm {

class OutStream {
 public:
  virtual ~OutStream() = default;
  // Writes size bytes at the current position; answers the count actually written.
  virtual size_t Write(const void* data, size_t size) = 0;
  // The current position, in bytes from the start.
  virtual uint64_t Tell() = 0;
  // Moves to pos bytes from the start; answers false when the stream cannot go there.
  virtual bool Seek(uint64_t pos) = 0;
};

// A stream into a growing byte vector. Seeking past the end and writing fills the gap
// with zero bytes. A write whose end the vector cannot hold answers 0 and changes nothing.
class MemoryStream : public OutStream {
 public:
  size_t Write(const void* data, size_t size) override;
  uint64_t Tell() override { return pos_; }
  bool Seek(uint64_t pos) override;
  const std::vector<uint8_t>& Bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
  uint64_t pos_ = 0;
};

// A memory stream that stops writing at a chosen byte offset: a write that would put
// a byte at offset failAt or beyond writes only the bytes before it and answers the
// shorter count. Used by tests to fail a writer at every possible byte.
class ShortWriteStream : public MemoryStream {
 public:
  explicit ShortWriteStream(uint64_t failAt) : failAt_(failAt) {}
  size_t Write(const void* data, size_t size) override;
  // Number of writes that came back short.
  int ShortWrites() const { return shortWrites_; }

 private:
  uint64_t failAt_;
  int shortWrites_ = 0;
};

// A buffered binary file stream. Bytes collect in its own buffer and reach the file in
// large writes. Seeking inside the buffered bytes costs nothing, so patching a chunk
// length that is still buffered is a memory copy; a patch of bytes already in the file is
// one positioned write. A write that the system does not complete makes Write answer a
// short count.
class FileStream : public OutStream {
 public:
  static constexpr size_t kDefaultBufferSize = 64 * 1024;

  explicit FileStream(size_t bufferSize = kDefaultBufferSize);
  ~FileStream() override;
  FileStream(const FileStream&) = delete;
  FileStream& operator=(const FileStream&) = delete;

  // Creates or truncates path for writing. Answers false (errno kept) when it can't.
  bool Open(const char* path);
  // Opens an already open descriptor; the stream takes it over and closes it.
  bool Attach(int fd);
  bool IsOpen() const { return fd_ >= 0; }
  // Flushes and closes; answers 0 on success, non-zero when a flush or the close failed.
  // Closing a stream that is not open answers 0.
  int Close();

  size_t Write(const void* data, size_t size) override;
  uint64_t Tell() override { return pos_; }
  bool Seek(uint64_t pos) override;

  // Counters for tests and benchmarks: system writes issued (plain and positioned).
  int SystemWrites() const { return systemWrites_; }
  int PositionedWrites() const { return positionedWrites_; }

 private:
  bool Flush();
  bool WriteAt(uint64_t offset, const uint8_t* data, size_t size);

  int fd_ = -1;
  // Bytes of the file from bufStart_ on, not yet written: the first bufUsed_ of capacity_.
  // Never zero-filled: every byte below bufUsed_ has been written by Write.
  std::unique_ptr<uint8_t[]> buf_;
  size_t bufUsed_ = 0;
  size_t capacity_;
  uint64_t bufStart_ = 0;  // file offset of buf_[0]
  uint64_t pos_ = 0;       // current position
  bool failed_ = false;    // a system write came back short
  int systemWrites_ = 0;
  int positionedWrites_ = 0;
};

// Writes all of size bytes to the descriptor fd at its position, retrying interrupted and
// partial writes; answers false when the system stops short.
bool WriteAll(int fd, const void* data, size_t size);

// Little-endian value writers. Each answers true when every byte was written.
bool WriteU8(OutStream& s, uint8_t v);
bool WriteU16(OutStream& s, uint16_t v);
bool WriteU32(OutStream& s, uint32_t v);
bool WriteI32(OutStream& s, int32_t v);
bool WriteF32(OutStream& s, float v);
// The text's bytes followed by one NUL byte.
bool WriteText(OutStream& s, const char* text);
bool WriteBytes(OutStream& s, const void* data, size_t size);

// Chunk ids travel as 32-bit signed integers; only their low 16 bits are written. The
// low half is answered as an int (0 to 65535), not as a 16-bit type: the writers switch on
// it, and GCC 12 at -O3 (the Windows module's build) misjudged a switch on the masked 16-bit
// value once the id was known at the call, took every case for unreachable and dropped the
// chunk writes behind it.
inline int32_t ChunkLow(int32_t id) {
  return id & 0xFFFF;
}

// Where an open chunk started and where its length field is.
struct ChunkMark {
  uint64_t start = 0;
  uint64_t lengthPos = 0;
};

// Starts a chunk: writes its id and, as a placeholder for the length, the position of
// the length field itself. Answers false on a short write.
bool OpenChunk(OutStream& s, int32_t id, ChunkMark* mark);
// Ends a chunk: patches its length (end - start) and returns to its end. Answers false
// on a short write, and also when the chunk is 4 GiB or longer, which a 32-bit length
// can't describe.
bool CloseChunk(OutStream& s, const ChunkMark& mark);

// Writes one chunk: header, body, patched length. body() answers true when the body was
// written (a writer that stops early after a soft error also answers true, so the chunk
// is closed with the length of what it holds), false when a write failed; then the
// chunk is left unpatched and ChunkFraming answers 0. Otherwise it answers 1.
template <class Body>
int ChunkFraming(OutStream& s, int32_t id, Body&& body) {
  ChunkMark mark;
  if (!OpenChunk(s, id, &mark)) return 0;
  if (!body()) return 0;
  return CloseChunk(s, mark) ? 1 : 0;
}

}  // namespace tsm

#endif  // TSM_WRITER_CHUNK_IO_H
