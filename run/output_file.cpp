#include "run/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
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

// A stream over something that can't seek (a pipe): chunk lengths are patched after
// their bodies, so the whole file is kept in memory and goes out in order on Close.
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
    if (::close(fd_) != 0) ok = false;
    fd_ = -1;
    return ok ? 0 : -1;
  }

 private:
  int fd_;
  MemoryStream memory_;
};

RunStreamFactory runStreamFactory = MakeFileRunStream;

// Longest piece of the target's name that goes into a temporary name, so that the
// temporary name stays within the usual 255-byte limit of a file name.
constexpr size_t kMaxBaseInTemporaryName = 200;
constexpr int kTemporaryAttempts = 100;

// Six characters for a temporary name, different on every call.
std::string RandomSuffix() {
  static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  static std::mt19937_64 generator(
      std::random_device{}() ^
      static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
      (static_cast<uint64_t>(::getpid()) << 32));
  std::string suffix(6, 'X');
  for (char& c : suffix) c = kLetters[generator() % (sizeof(kLetters) - 1)];
  return suffix;
}

// The file that writing to path would reach: a symbolic link is followed, so that the
// link stays and the file it points at is replaced. A link that leads nowhere is taken
// as it is.
std::string ResolveTarget(const char* path) {
  struct stat st;
  if (::lstat(path, &st) == 0 && S_ISLNK(st.st_mode)) {
    if (char* real = ::realpath(path, nullptr)) {
      std::string resolved(real);
      std::free(real);
      return resolved;
    }
  }
  return path;
}

// Creates a new file ".<base>.XXXXXX" next to target with exclusive creation, so that no
// existing file is ever opened, and answers its descriptor (and its path in *temp), or -1
// with errno set.
int CreateTemporary(const std::string& target, std::string* temp) {
  size_t slash = target.rfind('/');
  std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  if (base.empty()) {
    errno = EISDIR;
    return -1;
  }
  if (base.size() > kMaxBaseInTemporaryName) base.resize(kMaxBaseInTemporaryName);
  for (int attempt = 0; attempt < kTemporaryAttempts; ++attempt) {
    std::string candidate = folder + "." + base + "." + RandomSuffix();
    int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
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
  if (::lseek(fd, 0, SEEK_CUR) < 0 && errno == ESPIPE)
    return std::unique_ptr<RunStream>(new SequentialRunStream(fd));
  std::unique_ptr<FileRunStream> stream(new FileRunStream);
  if (!stream->Attach(fd)) return nullptr;
  return std::unique_ptr<RunStream>(std::move(stream));
}

RunStreamFactory SetRunStreamFactory(RunStreamFactory factory) {
  RunStreamFactory previous = runStreamFactory;
  runStreamFactory = factory != nullptr ? factory : MakeFileRunStream;
  return previous;
}

OutputFile::~OutputFile() {
  CloseIfOpen();
  Discard();
}

bool OutputFile::Open(const char* path) {
  CloseIfOpen();
  Discard();
  if (path == nullptr) return false;
  target_ = ResolveTarget(path);

  int fd;
  struct stat st {};
  bool exists = ::stat(target_.c_str(), &st) == 0;
  if (exists && !S_ISREG(st.st_mode)) {
    // A device or a pipe is written where it is; it can be neither replaced nor removed.
    fd = ::open(target_.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
  } else {
    // Renaming would replace a file that may not be written as well; such a file can't be
    // opened for writing, and so the output can't be created.
    if (exists && ::faccessat(AT_FDCWD, target_.c_str(), W_OK, AT_EACCESS) != 0) return false;
    fd = CreateTemporary(target_, &temp_);
    if (fd < 0) return false;
    // A replaced file keeps its permissions, as it would if it were truncated in place.
    if (exists) (void)::fchmod(fd, st.st_mode & 07777);
  }

  stream_ = runStreamFactory(fd);
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
  int fd = ::open(temp_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool synced = ::fsync(fd) == 0 || errno == EINVAL;  // EINVAL: the system can't sync it
  ::close(fd);
  if (!synced || std::rename(temp_.c_str(), target_.c_str()) != 0) return false;
  temp_.clear();
  return true;
}

void OutputFile::Discard() {
  if (temp_.empty()) return;
  (void)std::remove(temp_.c_str());
  temp_.clear();
}

}  // namespace tsm
