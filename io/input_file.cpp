#include "io/input_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifndef _WIN32
#include <sys/mman.h>
#endif

// The Windows build (the test host reads chunk files) has no non-blocking opens, no
// descriptor flags and no realpath; its pipes are not named in the file system.
#ifdef _WIN32
#define O_NONBLOCK 0
#define O_CLOEXEC 0
#ifndef S_ISSOCK
#define S_ISSOCK(m) 0
#endif
#define realpath(path, resolved) _fullpath(resolved, path, 0)
#endif

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "io/output_file.h"

namespace tsm {
namespace {

#ifdef O_BINARY
constexpr int kBinary = O_BINARY;
#else
constexpr int kBinary = 0;
#endif

const char* KindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a named pipe";
  if (S_ISSOCK(mode)) return "a socket";
  return "a device";
}

// Closes a descriptor on every way out.
struct Descriptor {
  int fd;
  ~Descriptor() {
    if (fd >= 0) ::close(fd);
  }
};

template <class Bytes>
InputRead ReadInto(const std::string& path, const InputRules& rules, Bytes* bytes) {
  bytes->clear();
  InputRead result;
  // Opened without blocking, so that a named pipe without a writer is seen for what it is
  // instead of waiting; a stream that is wanted is switched back to blocking reads.
  Descriptor file{::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | kBinary)};
  if (file.fd < 0) {
    result.fault = InputFault::kOpen;
    result.errnum = errno;
    result.message = std::string("cannot open the file: ") + std::strerror(errno);
    return result;
  }
  struct stat st;
  if (::fstat(file.fd, &st) != 0) {
    result.fault = InputFault::kRead;
    result.errnum = errno;
    result.message = std::string("cannot read the file: ") + std::strerror(errno);
    return result;
  }
  const bool regular = S_ISREG(st.st_mode);
  if (S_ISDIR(st.st_mode) || (!regular && !rules.streams)) {
    result.fault = InputFault::kNotRegular;
    result.message = std::string("is ") + KindOf(st.st_mode) + ", not a regular file";
    return result;
  }
  if (regular && static_cast<uint64_t>(st.st_size) > rules.maxSize) {
    result.fault = InputFault::kTooLarge;
    result.size = static_cast<uint64_t>(st.st_size);
    result.message = "the file is " + std::to_string(result.size) + " bytes; files above " +
                     std::to_string(rules.maxSize) + " bytes are refused";
    return result;
  }
#ifndef _WIN32
  int flags = ::fcntl(file.fd, F_GETFL);
  if (flags >= 0) ::fcntl(file.fd, F_SETFL, flags & ~O_NONBLOCK);
#endif
  if (regular) bytes->reserve(static_cast<size_t>(st.st_size));
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(file.fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      result.fault = InputFault::kRead;
      result.errnum = errno;
      result.message = std::string("cannot read the file: ") + std::strerror(errno);
      break;
    }
    if (n == 0) break;
    if (static_cast<uint64_t>(n) > rules.maxSize - bytes->size()) {
      // A regular file that grew while read, or a stream.
      result.fault = InputFault::kStreamTooLarge;
      result.message = "more than " + std::to_string(rules.maxSize) +
                       " bytes; files above that are refused";
      break;
    }
    bytes->insert(bytes->end(), buf, buf + n);
    if (!regular && rules.hopeless &&
        rules.hopeless(reinterpret_cast<const char*>(bytes->data()), bytes->size()))
      break;
  }
  if (!result.ok()) bytes->clear();
  return result;
}

bool IsAbsolute(const std::string& p) {
  return (!p.empty() && (p[0] == '/' || p[0] == '\\')) ||
         (p.size() >= 2 && p[1] == ':' && std::isalpha(static_cast<unsigned char>(p[0])));
}

// Whether one of the path's components (split at either slash) is "..".
bool ClimbsUp(const std::string& p) {
  size_t start = 0;
  while (start <= p.size()) {
    size_t end = p.find_first_of("/\\", start);
    if (end == std::string::npos) end = p.size();
    if (p.compare(start, end - start, "..") == 0 && end - start == 2) return true;
    start = end + 1;
  }
  return false;
}

std::string RealPath(const std::string& path) {
  char* real = ::realpath(path.empty() ? "." : path.c_str(), nullptr);
  if (real == nullptr) return std::string();
  std::string out(real);
  std::free(real);
  return out;
}

unsigned FromHex(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 0;
}

}  // namespace

InputRead ReadInputFile(const std::string& path, const InputRules& rules, std::string* bytes) {
  return ReadInto(path, rules, bytes);
}

InputRead ReadInputFile(const std::string& path, const InputRules& rules,
                        std::vector<uint8_t>* bytes) {
  return ReadInto(path, rules, bytes);
}

InputMapping::~InputMapping() {
  Close();
}

void InputMapping::Close() {
#ifndef _WIN32
  if (map_ != nullptr) ::munmap(map_, size_);
#endif
  map_ = nullptr;
  data_ = nullptr;
  size_ = 0;
  released_[0] = released_[1] = 0;
  std::vector<uint8_t>().swap(read_);
}

InputRead InputMapping::Open(const std::string& path, const InputRules& rules) {
  Close();
#ifndef _WIN32
  // Only a regular file is opened here, to be mapped; anything else is opened once, by
  // ReadInputFile (a pipe opened and closed twice would lose what its writer wrote).
  struct stat st;
  Descriptor file{::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)
                      ? ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)
                      : -1};
  if (file.fd >= 0 && ::fstat(file.fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 &&
      static_cast<uint64_t>(st.st_size) <= rules.maxSize) {
    void* map = ::mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_PRIVATE, file.fd, 0);
    if (map != MAP_FAILED) {
      map_ = map;
      data_ = static_cast<const uint8_t*>(map);
      size_ = static_cast<size_t>(st.st_size);
      (void)::madvise(map_, size_, MADV_SEQUENTIAL);  // the walks go in file order
      return InputRead();
    }
  }
#endif
  InputRead read = ReadInputFile(path, rules, &read_);
  data_ = read_.data();
  size_ = read_.size();
  return read;
}

void InputMapping::Release(uint64_t offset, int track) {
#ifndef _WIN32
  // Whole windows at a time: one call each, not one per chunk. A megabyte, or for a file
  // under four, a quarter of it (at least 256 KB), so that a small file lets go of its
  // pages too; smaller windows did worse, as the pages just behind the walk are mapped
  // again with the page it reads.
  uint64_t kWindow = 1u << 20;
  while (kWindow > (256u << 10) && kWindow * 4 > size_) kWindow /= 2;
  uint64_t& released = released_[track == 0 ? 0 : 1];
  if (offset < released) released = offset / kWindow * kWindow;  // a walk back
  if (map_ == nullptr || offset < released + kWindow) return;
  const uint64_t upTo = offset / kWindow * kWindow;
  (void)::madvise(static_cast<uint8_t*>(map_) + released, static_cast<size_t>(upTo - released),
                  MADV_DONTNEED);
  released = upTo;
#else
  (void)offset;
  (void)track;
#endif
}

std::string DecodeUri(const std::string& uri) {
  std::string out;
  for (size_t i = 0; i < uri.size(); ++i) {
    if (uri[i] == '+') {
      out += ' ';
    } else if (uri[i] == '%' && uri.size() > i + 2) {
      out += static_cast<char>((FromHex(uri[i + 1]) << 4) | FromHex(uri[i + 2]));
      i += 2;
    } else {
      out += uri[i];
    }
  }
  return out;
}

InputFolder::InputFolder(const std::string& sceneFile, bool anyFolder) : anyFolder_(anyFolder) {
  size_t slash = sceneFile.find_last_of('/');
  if (slash != std::string::npos) folder_ = sceneFile.substr(0, slash + 1);
}

std::string InputFolder::Resolve(const std::string& reference, std::string* why) const {
  if (reference.empty() || reference.find('\0') != std::string::npos) {
    *why = "is not a file name";
    return std::string();
  }
  const char* allow = "; files outside the scene's folder are read only when any folder is "
                      "allowed (tsmexport --any-folder)";
  if (anyFolder_) return IsAbsolute(reference) ? reference : folder_ + reference;
  if (IsAbsolute(reference)) {
    *why = std::string("is an absolute path") + allow;
    return std::string();
  }
  if (ClimbsUp(reference)) {
    *why = std::string("leads out of the scene's folder with \"..\"") + allow;
    return std::string();
  }
  std::string path = folder_ + reference;
  std::string real = RealPath(path);
  if (real.empty()) return path;  // nothing there (or unreachable): opening it says so
  std::string base = RealPath(folder_);
  if (base.empty() || (real != base && real.compare(0, base.size() + 1, base + "/") != 0 &&
                       base != "/")) {
    *why = std::string("is a symbolic link leading out of the scene's folder") + allow;
    return std::string();
  }
  return real;
}

InputRead InputFolder::Read(const std::string& reference, uint64_t maxSize,
                            std::string* bytes) const {
  bytes->clear();
  InputRead result;
  std::string path = Resolve(reference, &result.message);
  if (path.empty()) {
    result.fault = InputFault::kOutside;
    return result;
  }
  InputRules rules;
  rules.maxSize = maxSize;
  result = ReadInputFile(path, rules, bytes);
#ifndef _WIN32
  // A file the scene refers to is an input like the scene itself: no output may replace it.
  if (result.ok()) NoteInputFile(path);
#endif
  return result;
}

bool InputFolder::Exists(const std::string& reference) const {
  std::string why;
  std::string path = Resolve(reference, &why);
  struct stat st;
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace tsm
