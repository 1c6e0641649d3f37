#include "writer/chunk_io.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>

#ifdef _WIN32
#include <io.h>
#endif

namespace tsm {

size_t MemoryStream::Write(const void* data, size_t size) {
  if (size == 0) return 0;
  // An end past what a vector can hold (or past what 64 bits can count) is a failed
  // write, like a full disk: nothing is written and no exception leaves the writers.
  if (pos_ > bytes_.max_size() || size > bytes_.max_size() - pos_) return 0;
  const uint8_t* p = static_cast<const uint8_t*>(data);
  try {
    if (pos_ == bytes_.size()) {
      // Appending, the common case: the vector grows by what is written, nothing is
      // zero-filled first.
      bytes_.insert(bytes_.end(), p, p + size);
      pos_ += size;
      return size;
    }
    if (bytes_.size() < pos_ + size) bytes_.resize(pos_ + size, 0);
  } catch (const std::exception&) {
    return 0;
  }
  std::memcpy(bytes_.data() + pos_, p, size);
  pos_ += size;
  return size;
}

bool MemoryStream::Seek(uint64_t pos) {
  pos_ = pos;
  return true;
}

size_t ShortWriteStream::Write(const void* data, size_t size) {
  uint64_t pos = Tell();
  if (pos + size <= failAt_) return MemoryStream::Write(data, size);
  ++shortWrites_;
  size_t allowed = pos >= failAt_ ? 0 : static_cast<size_t>(failAt_ - pos);
  if (allowed > 0) MemoryStream::Write(data, allowed);
  return allowed;
}

bool WriteAll(int fd, const void* data, size_t size) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  while (size > 0) {
    ssize_t n = ::write(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

#ifdef _WIN32
namespace {

bool SeekTo(int fd, uint64_t offset) {
#ifdef _WIN32
  return _lseeki64(fd, static_cast<long long>(offset), SEEK_SET) >= 0;
#else
  return ::lseek(fd, static_cast<off_t>(offset), SEEK_SET) >= 0;
#endif
}

}  // namespace
#endif

FileStream::FileStream(size_t bufferSize)
    : buf_(new uint8_t[bufferSize == 0 ? 1 : bufferSize]),
      capacity_(bufferSize == 0 ? 1 : bufferSize) {}

FileStream::~FileStream() {
  Close();
}

bool FileStream::Open(const char* path) {
  Close();
#ifdef _WIN32
  int fd = ::_open(path, _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, 0666);
#else
  int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
#endif
  if (fd < 0) return false;
  return Attach(fd);
}

bool FileStream::Attach(int fd) {
  Close();
  fd_ = fd;
  bufUsed_ = 0;
  bufStart_ = 0;
  pos_ = 0;
  failed_ = false;
  return fd_ >= 0;
}

int FileStream::Close() {
  if (fd_ < 0) return 0;
  bool ok = Flush() && !failed_;
  if (::close(fd_) != 0) ok = false;
  fd_ = -1;
  bufUsed_ = 0;
  return ok ? 0 : -1;
}

bool FileStream::WriteAt(uint64_t offset, const uint8_t* data, size_t size) {
  ++systemWrites_;
#ifdef _WIN32
  // No positioned write here: move, write, and let the next flush move again.
  bool ok = SeekTo(fd_, offset) && WriteAll(fd_, data, size);
#else
  bool ok = true;
  while (size > 0) {
    ssize_t n = ::pwrite(fd_, data, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    data += n;
    size -= static_cast<size_t>(n);
    offset += static_cast<uint64_t>(n);
  }
#endif
  if (!ok) failed_ = true;
  return ok;
}

bool FileStream::Flush() {
  if (fd_ < 0) return false;
  if (bufUsed_ == 0) return !failed_;
  bool ok = WriteAt(bufStart_, buf_.get(), bufUsed_);
  bufStart_ += bufUsed_;
  bufUsed_ = 0;
  return ok;
}

bool FileStream::Seek(uint64_t pos) {
  pos_ = pos;
  return fd_ >= 0;
}

size_t FileStream::Write(const void* data, size_t size) {
  if (fd_ < 0 || failed_ || size == 0) return 0;
  const uint8_t* p = static_cast<const uint8_t*>(data);
  uint64_t bufEnd = bufStart_ + bufUsed_;

  if (pos_ < bufStart_) {
    // Bytes that already reached the file: the part before the buffer goes out as one
    // positioned write, the rest (if any) lands in the buffer below.
    size_t before = static_cast<size_t>(std::min<uint64_t>(size, bufStart_ - pos_));
    ++positionedWrites_;
    if (!WriteAt(pos_, p, before)) return 0;
    pos_ += before;
    if (before == size) return size;
    size_t rest = Write(p + before, size - before);
    return before + rest;
  }

  if (pos_ > bufEnd) {
    // A jump past the buffered bytes: start a new buffer there.
    if (!Flush()) return 0;
    bufStart_ = pos_;
    bufEnd = pos_;
  }

  size_t written = 0;
  while (written < size) {
    size_t offset = static_cast<size_t>(pos_ - bufStart_);
    if (offset >= capacity_) {
      if (!Flush()) return written;
      bufStart_ = pos_;
      offset = 0;
    }
    size_t n = std::min(size - written, capacity_ - offset);
    std::memcpy(buf_.get() + offset, p + written, n);
    if (offset + n > bufUsed_) bufUsed_ = offset + n;
    written += n;
    pos_ += n;
  }
  return written;
}

bool WriteBytes(OutStream& s, const void* data, size_t size) {
  if (size == 0) return true;
  return s.Write(data, size) == size;
}

bool WriteU8(OutStream& s, uint8_t v) {
  return WriteBytes(s, &v, 1);
}

bool WriteU16(OutStream& s, uint16_t v) {
  uint8_t b[2] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
  return WriteBytes(s, b, 2);
}

bool WriteU32(OutStream& s, uint32_t v) {
  uint8_t b[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                  static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)};
  return WriteBytes(s, b, 4);
}

bool WriteI32(OutStream& s, int32_t v) {
  return WriteU32(s, static_cast<uint32_t>(v));
}

bool WriteF32(OutStream& s, float v) {
  uint32_t bits;
  std::memcpy(&bits, &v, 4);
  return WriteU32(s, bits);
}

bool WriteText(OutStream& s, const char* text) {
  if (text == nullptr) text = "";
  return WriteBytes(s, text, std::strlen(text) + 1);
}

bool OpenChunk(OutStream& s, int32_t id, ChunkMark* mark) {
  mark->start = s.Tell();
  if (!WriteU16(s, ChunkLow(id))) return false;
  mark->lengthPos = s.Tell();
  return WriteU32(s, static_cast<uint32_t>(mark->lengthPos));
}

bool CloseChunk(OutStream& s, const ChunkMark& mark) {
  uint64_t end = s.Tell();
  uint64_t length = end - mark.start;
  if (length > 0xFFFFFFFFull) return false;  // a 32-bit length can't describe it
  s.Seek(mark.lengthPos);
  if (!WriteU32(s, static_cast<uint32_t>(length))) return false;
  s.Seek(end);
  return true;
}

}  // namespace tsm
