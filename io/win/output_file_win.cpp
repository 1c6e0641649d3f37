// The run's output file on Windows: the same holder as io/output_file.cpp, over the
// system's file services. The file is written into a new temporary file next to the
// target and moved over the target once complete; a device or a pipe is written in place.
//
// The exporter's headers come before <windows.h>, whose macros would rewrite names in them.
// clang-format off
#include "io/output_file.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
// clang-format on

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <random>

namespace tsm {

namespace {

// A buffered file stream over a file that can seek.
class FileRunStream : public RunStream {
 public:
  bool Attach(int fd) { return file_.Attach(fd); }
  size_t Write(const void* data, size_t size) override { return file_.Write(data, size); }
  uint64_t Tell() override { return file_.Tell(); }
  bool Seek(uint64_t pos) override { return file_.Seek(pos); }
  int Close() override { return file_.Close(); }

 private:
  FileStream file_;
};

// A stream over something that can't seek (a pipe, a device): chunk lengths are patched
// after their bodies, so the whole file is kept in memory and goes out in order on Close.
class SequentialRunStream : public RunStream {
 public:
  explicit SequentialRunStream(int fd) : fd_(fd) {}
  ~SequentialRunStream() override { Close(); }
  SequentialRunStream(const SequentialRunStream&) = delete;
  SequentialRunStream& operator=(const SequentialRunStream&) = delete;

  size_t Write(const void* data, size_t size) override {
    return fd_ < 0 ? 0 : memory_.Write(data, size);
  }
  uint64_t Tell() override { return memory_.Tell(); }
  bool Seek(uint64_t pos) override { return memory_.Seek(pos); }
  int Close() override {
    if (fd_ < 0) return 0;
    const std::vector<uint8_t>& bytes = memory_.Bytes();
    bool ok = WriteAll(fd_, bytes.data(), bytes.size());
    if (::_close(fd_) != 0) ok = false;
    fd_ = -1;
    return ok ? 0 : -1;
  }

 private:
  int fd_;
  MemoryStream memory_;
};

// Longest piece of the target's name that goes into a temporary name, so that the
// temporary name stays within the usual 255-character limit of a file name.
constexpr size_t kMaxBaseInTemporaryName = 200;
constexpr int kTemporaryAttempts = 100;

// Six characters for a temporary name, different on every call.
std::string RandomSuffix() {
  static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  static std::mt19937_64 generator(
      std::random_device{}() ^
      static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
      (static_cast<uint64_t>(::GetCurrentProcessId()) << 32));
  std::string suffix(6, 'X');
  for (char& c : suffix) c = kLetters[generator() % (sizeof(kLetters) - 1)];
  return suffix;
}

// What is at a path before the run writes it.
enum class Existing {
  NONE,       // nothing: a new file is made
  REPLACE,    // a file that this process may write: it is replaced
  IN_PLACE,   // a device or a pipe, open for writing in *fd
  FORBIDDEN,  // a file or folder that may not be written, or that another program holds
};

// Looks at path by opening it for writing without changing it: that succeeds only for
// something this process may write, and tells a file on disk from a device or a pipe. A
// file marked read-only is never written, whoever asks.
Existing Examine(const std::string& path, int* fd) {
  DWORD attributes = ::GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0)
    return Existing::FORBIDDEN;
  HANDLE h = ::CreateFileA(path.c_str(), GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND ? Existing::NONE : Existing::FORBIDDEN;
  }
  if (::GetFileType(h) == FILE_TYPE_DISK) {
    ::CloseHandle(h);
    return Existing::REPLACE;
  }
  *fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(h), _O_WRONLY | _O_BINARY);
  if (*fd < 0) {
    ::CloseHandle(h);
    return Existing::FORBIDDEN;
  }
  return Existing::IN_PLACE;
}

// Creates a new file ".<base>.XXXXXX" next to target with exclusive creation, so that no
// existing file is ever opened, and answers its descriptor (and its path in *temp), or -1.
// The file is binary: no byte is translated on the way out.
int CreateTemporary(const std::string& target, std::string* temp) {
  size_t slash = target.find_last_of("/\\:");
  std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  if (base.empty()) return -1;
  if (base.size() > kMaxBaseInTemporaryName) base.resize(kMaxBaseInTemporaryName);
  for (int attempt = 0; attempt < kTemporaryAttempts; ++attempt) {
    std::string candidate = folder + "." + base + "." + RandomSuffix();
    int fd = ::_open(candidate.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                     _S_IREAD | _S_IWRITE);
    if (fd >= 0) {
      *temp = candidate;
      return fd;
    }
    if (errno != EEXIST) return -1;
  }
  return -1;
}

}  // namespace

std::unique_ptr<RunStream> MakeFileRunStream(int fd) {
  if (fd < 0) return nullptr;
  HANDLE h = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
  if (h != INVALID_HANDLE_VALUE && ::GetFileType(h) != FILE_TYPE_DISK)
    return std::unique_ptr<RunStream>(new SequentialRunStream(fd));
  std::unique_ptr<FileRunStream> stream(new FileRunStream);
  if (!stream->Attach(fd)) return nullptr;
  return std::unique_ptr<RunStream>(std::move(stream));
}

bool OutputFile::Open(const char* path) {
  CloseIfOpen();
  Discard();
  if (path == nullptr || path[0] == '\0') return false;
  target_ = path;

  int fd = -1;
  switch (Examine(target_, &fd)) {
    case Existing::FORBIDDEN:
      return false;
    case Existing::IN_PLACE:
      break;
    case Existing::NONE:
    case Existing::REPLACE:
      fd = CreateTemporary(target_, &temp_);
      if (fd < 0) return false;
      break;
  }

  stream_ = MakeRunStream(fd);
  if (!stream_) {
    Discard();
    return false;
  }
  return true;
}

int OutputFile::CloseIfOpen() {
  if (!stream_) return 0;
  int result = stream_->Close();
  stream_.reset();
  return result;
}

bool OutputFile::Commit() {
  if (temp_.empty()) return true;
  // The bytes reach the disk before the name does, so that a crash can't leave an empty
  // file where the previous one was.
  int fd = ::_open(temp_.c_str(), _O_RDWR | _O_BINARY | _O_NOINHERIT);
  if (fd < 0) return false;
  bool synced = ::_commit(fd) == 0;
  ::_close(fd);
  if (!synced) return false;
  if (!::MoveFileExA(temp_.c_str(), target_.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return false;
  temp_.clear();
  return true;
}

void OutputFile::Discard() {
  if (temp_.empty()) return;
  (void)std::remove(temp_.c_str());
  temp_.clear();
}

}  // namespace tsm
