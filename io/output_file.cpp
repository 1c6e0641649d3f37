#include "io/output_file.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <utility>
#include <vector>

namespace tsm {

namespace {

// A buffered file stream over a file that can seek. On close the descriptor's offset is
// left at the end of what was written, so that whoever shares it (a redirected standard
// output) goes on after the file rather than over it.
class FileRunStream : public RunStream {
 public:
  bool Attach(int fd) {
    fd_ = fd;
    return file_.Attach(fd);
  }
  size_t Write(const void* data, size_t size) override {
    errno = 0;
    size_t n = file_.Write(data, size);
    if (n != size) Note();
    uint64_t at = file_.Tell();
    if (at > end_) end_ = at;
    return n;
  }
  uint64_t Tell() override { return file_.Tell(); }
  bool Seek(uint64_t pos) override { return file_.Seek(pos); }
  int Close() override {
    if (fd_ < 0) return 0;
    (void)::lseek(fd_, static_cast<off_t>(end_), SEEK_SET);
    fd_ = -1;
    errno = 0;
    int r = file_.Close();
    if (r != 0) Note();
    return r;
  }
  int Error() const override { return error_; }

 private:
  void Note() {
    if (error_ == 0) error_ = errno;
  }
  FileStream file_;
  int fd_ = -1;
  uint64_t end_ = 0;
  int error_ = 0;
};

// Bytes of a sequential output held in memory; beyond them the file goes into a
// temporary file without a name, so that a large output into a pipe costs disk rather
// than memory.
constexpr uint64_t kSequentialMemoryLimit = 16u << 20;

// A file that can seek, for holding a sequential output: without a name in $TMPDIR (or
// /tmp), else a named one removed at once. Answers its descriptor, or -1 with errno set.
int OpenHoldingFile() {
  const char* folder = std::getenv("TMPDIR");
  std::string dir = folder != nullptr && *folder != '\0' ? folder : "/tmp";
  int fd = -1;
#ifdef O_TMPFILE
  fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0) return fd;
#endif
  std::string path = dir + "/.tsm-XXXXXX";
  fd = ::mkostemp(&path[0], O_CLOEXEC);
  if (fd >= 0) (void)::unlink(path.c_str());
  return fd;
}

// A stream over something that can't seek (a pipe, a terminal) or that others write too
// (a descriptor in append mode or past its start): chunk lengths are patched after their
// bodies, so the file is held (in memory up to kSequentialMemoryLimit bytes, then in a
// holding file) and goes out in order on Close.
class SequentialRunStream : public RunStream {
 public:
  explicit SequentialRunStream(int fd) : fd_(fd) {}
  ~SequentialRunStream() override {
    Close();
    if (holdingFd_ >= 0) ::close(holdingFd_);
  }
  SequentialRunStream(const SequentialRunStream&) = delete;
  SequentialRunStream& operator=(const SequentialRunStream&) = delete;

  size_t Write(const void* data, size_t size) override {
    if (fd_ < 0) return 0;
    if (!holding_ && memory_.Tell() + size > kSequentialMemoryLimit && !Hold()) {
      Note(errno != 0 ? errno : EIO);
      return 0;
    }
    errno = 0;
    size_t n = holding_ ? holding_->Write(data, size) : memory_.Write(data, size);
    if (n != size) Note(holding_ ? (errno != 0 ? errno : EIO) : ENOMEM);
    uint64_t at = Tell();
    if (at > end_) end_ = at;
    return n;
  }
  uint64_t Tell() override { return holding_ ? holding_->Tell() : memory_.Tell(); }
  bool Seek(uint64_t pos) override { return holding_ ? holding_->Seek(pos) : memory_.Seek(pos); }
  int Close() override {
    if (fd_ < 0) return 0;
    bool ok;
    if (holding_) {
      ok = holding_->Close() == 0;
      if (!ok) Note(errno != 0 ? errno : EIO);
      ok = ok && CopyHeldBytes();
    } else {
      const std::vector<uint8_t>& bytes = memory_.Bytes();
      ok = WriteAll(fd_, bytes.data(), bytes.size());
      if (!ok) Note(errno);
    }
    if (::close(fd_) != 0) {
      Note(errno);
      ok = false;
    }
    fd_ = -1;
    return ok ? 0 : -1;
  }
  int Error() const override { return error_; }

 private:
  void Note(int error) {
    if (error_ == 0) error_ = error;
  }
  // Moves what memory holds into a holding file and goes on there.
  bool Hold() {
    int fd = OpenHoldingFile();
    if (fd < 0) return false;
    holdingFd_ = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    std::unique_ptr<FileStream> file(new FileStream);
    if (holdingFd_ < 0 || !file->Attach(fd)) {
      if (holdingFd_ < 0) ::close(fd);
      return false;
    }
    const std::vector<uint8_t>& bytes = memory_.Bytes();
    uint64_t pos = memory_.Tell();
    if (!bytes.empty() && file->Write(bytes.data(), bytes.size()) != bytes.size()) return false;
    file->Seek(pos);
    holding_ = std::move(file);
    memory_ = MemoryStream();
    return true;
  }
  // Sends the held file out in order.
  bool CopyHeldBytes() {
    std::vector<uint8_t> buffer(FileStream::kDefaultBufferSize);
    for (uint64_t at = 0; at < end_;) {
      size_t want = static_cast<size_t>(std::min<uint64_t>(buffer.size(), end_ - at));
      ssize_t n = ::pread(holdingFd_, buffer.data(), want, static_cast<off_t>(at));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        Note(n < 0 ? errno : EIO);
        return false;
      }
      if (!WriteAll(fd_, buffer.data(), static_cast<size_t>(n))) {
        Note(errno);
        return false;
      }
      at += static_cast<uint64_t>(n);
    }
    return true;
  }

  int fd_;
  MemoryStream memory_;
  std::unique_ptr<FileStream> holding_;  // once the file outgrew memory
  int holdingFd_ = -1;                   // a second descriptor of the holding file
  uint64_t end_ = 0;                     // bytes of the file so far
  int error_ = 0;
};

InPlaceNotice inPlaceNotice = nullptr;
bool anonymousAllowed = true;

constexpr int kTemporaryAttempts = 100;
constexpr int kMaxLinks = 40;  // as the system follows them

// The named temporary file of the output being written, for RemovePendingTemporary. Set
// before the file gets its name and cleared once it is gone or renamed, so that a signal
// at any moment removes at most a name that no longer exists.
char pendingPath[PATH_MAX + 1];
volatile std::sig_atomic_t pendingSet = 0;

void SetPending(const std::string& path) {
  pendingSet = 0;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  if (path.size() > PATH_MAX) return;
  std::memcpy(pendingPath, path.c_str(), path.size() + 1);
  std::atomic_signal_fence(std::memory_order_seq_cst);
  pendingSet = 1;
}

void ClearPending() {
  pendingSet = 0;
}

// n letters and digits, different on every call.
std::string RandomLetters(size_t n) {
  static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  static std::mt19937_64 generator(
      std::random_device{}() ^
      static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
      (static_cast<uint64_t>(::getpid()) << 32));
  std::string letters(n, 'X');
  for (char& c : letters) c = kLetters[generator() % (sizeof(kLetters) - 1)];
  return letters;
}

// A temporary name for a file named base, never longer than base itself, so that a
// target that fits the system's limits on names and paths gives a temporary file that
// fits them too: ".<head of base>.XXXXXX" with as much of base as fits, and for names
// shorter than eight bytes "." and random letters (a single random letter for a name of
// one byte).
std::string TemporaryName(const std::string& base) {
  size_t n = base.size();
  if (n >= 8) return "." + base.substr(0, n - 8) + "." + RandomLetters(6);
  if (n >= 2) return "." + RandomLetters(n - 1);
  return RandomLetters(1);
}

// The folder part of path with its slash ("" when there is none), and the name after it.
void SplitPath(const std::string& path, std::string* prefix, std::string* base) {
  size_t slash = path.rfind('/');
  *prefix = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  *base = slash == std::string::npos ? path : path.substr(slash + 1);
}

// Files the process reads (NoteInputFile), by device and inode.
std::vector<std::pair<dev_t, ino_t>> inputFiles;

constexpr char kInputStep[] = "the output would overwrite a file being read; name another";

bool IsNotedInput(const struct stat& st) {
  return S_ISREG(st.st_mode) && std::find(inputFiles.begin(), inputFiles.end(),
                                          std::make_pair(st.st_dev, st.st_ino)) != inputFiles.end();
}

void RemoveTemporaryAndDie(int signal) {
  RemovePendingTemporary();
  std::signal(signal, SIG_DFL);
  std::raise(signal);  // delivered once the handler returns, with the default action
}

// The descriptor number that text (decimal digits only) names, or -1.
int DescriptorNumber(const char* text) {
  if (*text == '\0') return -1;
  long value = 0;
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9') return -1;
    value = value * 10 + (*c - '0');
    if (value > INT_MAX) return -1;
  }
  return static_cast<int>(value);
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// For an entry of a process's descriptor folder reached by a path that does not spell it
// out (a folder link such as one to /dev/fd): 1 and *fd when it is one of this process's
// descriptors, 2 when it is another process's, 0 when path is not in such a folder.
int ProcessDescriptorEntry(const std::string& path, int* fd) {
  std::string prefix, base;
  SplitPath(path, &prefix, &base);
  int number = DescriptorNumber(base.c_str());
  if (number < 0 || prefix.empty()) return 0;
  char* real = ::realpath(prefix.c_str(), nullptr);
  if (real == nullptr) return 0;
  std::string folder(real);
  std::free(real);
  if (!StartsWith(folder, "/proc/") || folder.size() < 4 ||
      folder.compare(folder.size() - 3, 3, "/fd") != 0)
    return 0;
  std::string own = "/proc/" + std::to_string(::getpid()) + "/";
  if (!StartsWith(folder, own)) return 2;
  *fd = number;
  return 1;
}

// Keeps a replaced file's owner, group and permission bits on the file that replaces it,
// as far as this process may. A set-user-ID or set-group-ID bit is kept only when the
// owner, or the group, stayed the same.
void KeepOwnerAndMode(int fd, const struct stat& previous) {
  struct stat now;
  if (::fstat(fd, &now) != 0) return;
  if (now.st_uid != previous.st_uid || now.st_gid != previous.st_gid) {
    if (::fchown(fd, previous.st_uid, previous.st_gid) != 0)
      (void)::fchown(fd, static_cast<uid_t>(-1), previous.st_gid);
    if (::fstat(fd, &now) != 0) return;
  }
  mode_t mode = previous.st_mode & 07777;
  if (now.st_uid != previous.st_uid) mode &= ~static_cast<mode_t>(S_ISUID);
  if (now.st_gid != previous.st_gid) mode &= ~static_cast<mode_t>(S_ISGID);
  (void)::fchmod(fd, mode);
}

// The path through which a descriptor's file can be given a name.
std::string DescriptorLink(int fd) {
  return "/proc/self/fd/" + std::to_string(fd);
}

}  // namespace

int DescriptorNamedBy(const std::string& path) {
  if (path == "/dev/stdin") return 0;
  if (path == "/dev/stdout") return 1;
  if (path == "/dev/stderr") return 2;
  for (const std::string& folder :
       {std::string("/dev/fd/"), std::string("/proc/self/fd/"),
        std::string("/proc/thread-self/fd/"), "/proc/" + std::to_string(::getpid()) + "/fd/"}) {
    if (StartsWith(path, folder)) return DescriptorNumber(path.c_str() + folder.size());
  }
  return -1;
}

void NoteInputFile(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && !IsNotedInput(st))
    inputFiles.emplace_back(st.st_dev, st.st_ino);
}

bool IsInputFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && IsNotedInput(st);
}

void ForgetInputFiles() {
  inputFiles.clear();
}

void PrepareProcessForOutput() {
  for (int signal : {SIGHUP, SIGINT, SIGQUIT, SIGTERM}) {
    struct sigaction previous;
    if (::sigaction(signal, nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN) continue;
    struct sigaction action;
    std::memset(&action, 0, sizeof(action));
    action.sa_handler = RemoveTemporaryAndDie;
    sigemptyset(&action.sa_mask);
    (void)::sigaction(signal, &action, nullptr);
  }
  std::signal(SIGXFSZ, SIG_IGN);
}

int FinishStandardOutput() {
  errno = 0;
  int error = 0;
  if (std::fflush(stdout) != 0) error = errno != 0 ? errno : EIO;
  if (std::ferror(stdout) && error == 0) error = EIO;
  // A standard output that was never open has nothing to close; what was printed into
  // it failed at the flush above.
  if (::fcntl(STDOUT_FILENO, F_GETFD) < 0) return error;
  errno = 0;
  if (std::fclose(stdout) != 0 && error == 0) error = errno != 0 ? errno : EIO;
  return error;
}

std::string DescribeOutputError(const std::string& path, int error, const std::string& step) {
  std::string line = path + ": " + step;
  if (error != 0) line += (step.empty() ? "" : ": ") + std::string(std::strerror(error));
  if (error == 0 && step.empty()) line += "it could not be written";
  return line;
}

OutputResult WriteOutputFile(const std::string& path, const OutputWriter& write) {
  OutputResult result;
  OutputFile output;
  if (!output.Open(path.c_str())) {
    result.message = DescribeOutputError(path, output.Error(), output.FailedStep());
    return result;
  }
  std::string why;
  bool written = write(*output.Stream(), &why);
  bool closed = output.CloseIfOpen() == 0;
  if (written && closed && output.Commit()) {
    result.ok = true;
    return result;
  }
  result.message = !why.empty() ? path + ": " + why
                                : DescribeOutputError(path, output.Error(), output.FailedStep());
  output.Discard();
  return result;
}

void RemovePendingTemporary() {
  if (pendingSet) (void)::unlink(pendingPath);
}

bool AllowAnonymousTemporaryFiles(bool allowed) {
  bool previous = anonymousAllowed;
  anonymousAllowed = allowed;
  return previous;
}

InPlaceNotice SetInPlaceNotice(InPlaceNotice notice) {
  InPlaceNotice previous = inPlaceNotice;
  inPlaceNotice = notice;
  return previous;
}

std::unique_ptr<RunStream> MakeFileRunStream(int fd) {
  if (fd < 0) return nullptr;
  off_t at = ::lseek(fd, 0, SEEK_CUR);
  int flags = ::fcntl(fd, F_GETFL);
  bool sequential = at < 0 ? errno == ESPIPE : at != 0 || (flags >= 0 && (flags & O_APPEND) != 0);
  if (sequential) return std::unique_ptr<RunStream>(new SequentialRunStream(fd));
  std::unique_ptr<FileRunStream> stream(new FileRunStream);
  if (!stream->Attach(fd)) return nullptr;
  return std::unique_ptr<RunStream>(std::move(stream));
}

bool OutputFile::Fail(int error, const char* step) {
  error_ = error;
  step_ = step;
  return false;
}

bool OutputFile::Open(const char* path) {
  CloseIfOpen();
  Discard();
  mode_ = OutputMode::NONE;
  error_ = 0;
  step_ = "";
  target_.clear();
  if (path == nullptr || *path == '\0') return Fail(ENOENT, "");

  // Symbolic links are followed one at a time, so that a link to a descriptor of this
  // process (/dev/stdout is one) is known as such rather than as the file behind it.
  std::string p(path);
  for (int hops = 0;; ++hops) {
    int fd = DescriptorNamedBy(p);
    int entry = fd >= 0 ? 1 : ProcessDescriptorEntry(p, &fd);
    if (entry == 1) {
      target_ = p;
      int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
      if (copy < 0) return Fail(errno, "");
      struct stat held;
      if (::fstat(copy, &held) == 0 && IsNotedInput(held)) {
        ::close(copy);
        return Fail(0, kInputStep);
      }
      mode_ = OutputMode::STREAM;
      return Attach(copy);
    }
    struct stat st;
    if (entry == 2) {
      st = {};
      st.st_mode = S_IFCHR;  // another process's descriptor: written in place
    } else if (::lstat(p.c_str(), &st) != 0) {
      int e = errno;
      if (e == ENOENT && hops > 0) return Fail(ENOENT, "symbolic link to a missing file");
      if (e != ENOENT) return Fail(e, "");
      target_ = p;
      return OpenRegular(false, st);
    }
    if (S_ISLNK(st.st_mode)) {
      if (hops >= kMaxLinks) return Fail(ELOOP, "");
      std::vector<char> link(static_cast<size_t>(st.st_size > 0 ? st.st_size : PATH_MAX) + 1);
      ssize_t n = ::readlink(p.c_str(), link.data(), link.size());
      if (n < 0) return Fail(errno, "");
      if (static_cast<size_t>(n) >= link.size()) return Fail(ENAMETOOLONG, "");
      std::string next(link.data(), static_cast<size_t>(n));
      if (next.empty()) return Fail(ENOENT, "symbolic link to a missing file");
      if (next[0] != '/') {
        std::string prefix, base;
        SplitPath(p, &prefix, &base);
        next = prefix + next;
      }
      p = next;
      continue;
    }
    target_ = p;
    if (S_ISREG(st.st_mode)) return OpenRegular(true, st);
    if (S_ISDIR(st.st_mode)) return Fail(EISDIR, "");
    // A device or a pipe is written where it is; it can be neither replaced nor removed.
    int device = ::open(p.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    if (device < 0) return Fail(errno, "");
    mode_ = OutputMode::DEVICE;
    return Attach(device);
  }
}

bool OutputFile::OpenRegular(bool exists, const struct stat& st) {
  std::string prefix, base;
  SplitPath(target_, &prefix, &base);
  if (base.empty()) return Fail(EISDIR, "");
  if (exists && IsNotedInput(st)) return Fail(0, kInputStep);
  // Renaming would replace a file that may not be written as well; such a file can't be
  // opened for writing, and so the output can't be created.
  if (exists && ::faccessat(AT_FDCWD, target_.c_str(), W_OK, AT_EACCESS) != 0)
    return Fail(errno, "");
  std::string folder = prefix.empty() ? "." : prefix.size() == 1 ? "/" : prefix;

  int fd = -1;
#ifdef O_TMPFILE
  // A file without a name can't be left behind, however the process ends; it needs a
  // file system that makes them and a way to name it at the end.
  if (anonymousAllowed) fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  if (fd >= 0) {
    keep_ = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    struct stat linked;
    if (keep_ < 0 || ::stat(DescriptorLink(keep_).c_str(), &linked) != 0) {
      if (keep_ >= 0) ::close(keep_);
      keep_ = -1;
      ::close(fd);
      fd = -1;
    } else {
      mode_ = OutputMode::ANONYMOUS;
    }
  }
#endif
  int error = 0;
  for (int attempt = 0; fd < 0 && attempt < kTemporaryAttempts; ++attempt) {
    std::string candidate = prefix + TemporaryName(base);
    SetPending(candidate);
    fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd >= 0) {
      temp_ = candidate;
      mode_ = OutputMode::NAMED;
      keep_ = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
      if (keep_ < 0) {
        int e = errno;
        ::close(fd);
        Discard();
        return Fail(e, "");
      }
      break;
    }
    error = errno;
    ClearPending();
    if (error != EEXIST) break;
  }

  if (fd < 0) {
    if (!exists || (error != EACCES && error != EPERM)) return Fail(error, "");
    // The folder may not be written but the file may: it is written in place, and a
    // failure from now on loses what it held.
    fd = ::open(target_.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY);
    if (fd < 0) return Fail(errno, "");
    keep_ = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (keep_ < 0) {
      int e = errno;
      ::close(fd);
      return Fail(e, "");
    }
    if (inPlaceNotice != nullptr) inPlaceNotice(target_.c_str());
    mode_ = OutputMode::IN_PLACE;
    if (::ftruncate(fd, 0) != 0) {
      int e = errno;
      ::close(fd);
      Discard();
      return Fail(e, "");
    }
    return Attach(fd);
  }
  if (exists) KeepOwnerAndMode(fd, st);
  return Attach(fd);
}

bool OutputFile::Attach(int fd) {
  errno = 0;
  stream_ = MakeRunStream(fd);
  if (!stream_) {
    int e = errno != 0 ? errno : EIO;
    Discard();
    return Fail(e, "");
  }
  return true;
}

int OutputFile::CloseIfOpen() {
  if (!stream_) return 0;
  int result = stream_->Close();
  if (error_ == 0) error_ = stream_->Error();
  stream_.reset();
  return result;
}

bool OutputFile::LinkAnonymous() {
  std::string prefix, base;
  SplitPath(target_, &prefix, &base);
  std::string link = DescriptorLink(keep_);
  for (int attempt = 0; attempt < kTemporaryAttempts; ++attempt) {
    std::string candidate = prefix + TemporaryName(base);
    SetPending(candidate);
    temp_ = candidate;
    if (::linkat(AT_FDCWD, link.c_str(), AT_FDCWD, candidate.c_str(), AT_SYMLINK_FOLLOW) == 0)
      return true;
    int e = errno;
    temp_.clear();
    ClearPending();
    if (e != EEXIST) return Fail(e, "can't give the finished file a name");
  }
  return Fail(EEXIST, "can't give the finished file a name");
}

bool OutputFile::Commit() {
  if (keep_ < 0) return true;  // a stream or a device: nothing to do
  // The bytes reach the disk before the name does, so that a crash can't leave an empty
  // file where the previous one was.
  if (::fsync(keep_) != 0 && errno != EINVAL) return Fail(errno, "can't save the file");
  if (mode_ == OutputMode::ANONYMOUS && !LinkAnonymous()) return false;
  if (mode_ == OutputMode::ANONYMOUS || mode_ == OutputMode::NAMED) {
    if (std::rename(temp_.c_str(), target_.c_str()) != 0)
      return Fail(errno, "can't put the finished file in place");
    ClearPending();
    temp_.clear();
  }
  ::close(keep_);
  keep_ = -1;
  return true;
}

void OutputFile::Discard() {
  if (!temp_.empty()) {
    (void)::unlink(temp_.c_str());
    ClearPending();
    temp_.clear();
  }
  if (keep_ >= 0) {
    if (mode_ == OutputMode::IN_PLACE) (void)::ftruncate(keep_, 0);
    ::close(keep_);
    keep_ = -1;
  }
}

}  // namespace tsm
