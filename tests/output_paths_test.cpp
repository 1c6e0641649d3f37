// Where the run's bytes go: symbolic links, names of open descriptors, temporary files and
// signals, owners and set-ID bits, paths near the system's limits, folders that may not be
// written, and what the command line adds around all of that.
#include "run/output_paths.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "run/export_run.h"
#include "io/output_file.h"
#include "run/scene_lists.h"
#include "scene/mem_scene.h"
#include "tests/test_util.h"

namespace tsm {
namespace {

namespace fs = std::filesystem;
typedef std::vector<std::string> Names;

const std::string kTool = TSM_BINARY_DIR "/tsmexport";
const std::string kExamples = TSM_SOURCE_DIR "/examples";
constexpr uid_t kNobody = 65534;

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

ino_t InodeOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

// Runs body in a child process as the unprivileged user 65534 and answers its exit code;
// 77 when this process can't switch users (not the superuser).
int AsNobody(const std::function<int()>& body) {
  if (::geteuid() != 0) return 77;
  pid_t child = ::fork();
  if (child == 0) {
    if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
      std::_Exit(77);
    std::_Exit(body());
  }
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

// Runs the hook when the run opens its stream.
std::function<void()> onOpen;
std::unique_ptr<RunStream> MakeHookedStream(int fd) {
  if (onOpen) onOpen();
  return MakeFileRunStream(fd);
}
// Fails the first write, after the hook.
std::unique_ptr<RunStream> MakeFailingStream(int fd) {
  class Failing : public RunStream {
   public:
    explicit Failing(std::unique_ptr<RunStream> inner) : inner_(std::move(inner)) {}
    size_t Write(const void*, size_t) override { return 0; }
    uint64_t Tell() override { return inner_->Tell(); }
    bool Seek(uint64_t pos) override { return inner_->Seek(pos); }
    int Close() override { return inner_->Close(); }

   private:
    std::unique_ptr<RunStream> inner_;
  };
  if (onOpen) onOpen();
  return std::unique_ptr<RunStream>(new Failing(MakeFileRunStream(fd)));
}

class OutputPathsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tsm_paths_test_XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir = pattern;
    ::chmod(dir.c_str(), 0777);
    ei.scene = &scene;
    scene.AddNode("Box01")->object = scene.AddObject(16, Class_ID(0x10, 0), true);
    scene.AddNode("Helper")->object = scene.AddObject(kFamilyHelper, kDummyClass);
    onOpen = nullptr;
    good = Export(dir + "/good.tsm");
    fs::remove(dir + "/good.tsm");
    sink.boxes.clear();
  }
  void TearDown() override {
    onOpen = nullptr;
    SetRunStreamFactory(nullptr);
    AllowAnonymousTemporaryFiles(true);
    std::error_code ec;
    fs::remove_all(dir, ec);
  }

  int Run(const std::string& p) { return RunExport(p.c_str(), &ei, &scene); }
  std::string Export(const std::string& p) {
    EXPECT_EQ(Run(p), 1) << p;
    return ReadFileText(p);
  }
  std::vector<std::string> Texts() const {
    std::vector<std::string> texts;
    for (const CapturedBox& b : sink.boxes) texts.push_back(b.text);
    return texts;
  }

  ModuleHandleScope module;
  CaptureSink sink;
  MemScene scene;
  ExportInterface ei;
  std::string dir;
  std::string good;
};

TEST_F(OutputPathsTest, SymbolicLinksAreFollowedAndNeverReplaced) {
  // A chain of two links, relative and absolute, leads to the file that is replaced.
  fs::create_directory(dir + "/real");
  WriteFile(dir + "/real/file.tsm", "previous");
  fs::create_symlink("real/file.tsm", dir + "/first");
  fs::create_symlink(dir + "/first", dir + "/second");
  ASSERT_EQ(Run(dir + "/second"), 1);
  EXPECT_TRUE(fs::is_symlink(dir + "/first"));
  EXPECT_TRUE(fs::is_symlink(dir + "/second"));
  EXPECT_EQ(ReadFileText(dir + "/real/file.tsm"), good);
  EXPECT_EQ(FolderListing(dir + "/real"), Names{"file.tsm"});

  // A link that leads nowhere can't be created: the link stays, nothing appears.
  fs::create_symlink(dir + "/missing.tsm", dir + "/dangling");
  EXPECT_EQ(Run(dir + "/dangling"), 0);
  EXPECT_EQ(Texts(), Names{"Can't create output file"});
  EXPECT_EQ(LastRunOutputFailure().error, ENOENT);
  EXPECT_EQ(LastRunOutputFailure().step, "symbolic link to a missing file");
  EXPECT_TRUE(fs::is_symlink(dir + "/dangling"));
  EXPECT_FALSE(fs::exists(dir + "/missing.tsm"));

  // A loop of links fails too, and stays a loop.
  fs::create_symlink(dir + "/loop2", dir + "/loop1");
  fs::create_symlink(dir + "/loop1", dir + "/loop2");
  EXPECT_EQ(Run(dir + "/loop1"), 0);
  EXPECT_EQ(LastRunOutputFailure().error, ELOOP);
  EXPECT_TRUE(fs::is_symlink(dir + "/loop1"));
}

TEST_F(OutputPathsTest, DescriptorNamesAreWrittenInPlaceAfterWhatTheyHold) {
  std::string log = dir + "/log";
  std::string pid = std::to_string(::getpid());
  struct Case {
    int flags;
    std::string before;  // what the file holds; the descriptor stands at its end
  };
  for (const Case& c : {Case{O_WRONLY | O_APPEND, "first line\n"}, Case{O_WRONLY, "first line\n"},
                        Case{O_WRONLY, ""}}) {
    for (const std::string& folder : {std::string("/dev/fd/"), std::string("/proc/self/fd/"),
                                      "/proc/" + pid + "/fd/", std::string("link")}) {
      SCOPED_TRACE(folder + " after \"" + c.before + "\", flags " + std::to_string(c.flags));
      WriteFile(log, c.before);
      ino_t inode = InodeOf(log);
      int fd = ::open(log.c_str(), c.flags);
      ASSERT_GE(fd, 0);
      ASSERT_EQ(::lseek(fd, 0, SEEK_END), static_cast<off_t>(c.before.size()));
      std::string name = folder + std::to_string(fd);
      if (folder == "link") {  // a link of the user's own to a descriptor name
        name = dir + "/to_fd";
        fs::remove(name);
        fs::create_symlink("/dev/fd/" + std::to_string(fd), name);
      }
      EXPECT_EQ(Run(name), 1);
      EXPECT_TRUE(sink.boxes.empty());
      EXPECT_EQ(::write(fd, "after\n", 6), 6) << "the descriptor stays open, past the file";
      ::close(fd);
      EXPECT_EQ(ReadFileText(log), c.before + good + "after\n");
      EXPECT_EQ(InodeOf(log), inode) << "the file was replaced";
    }
  }
  EXPECT_EQ(DescriptorNamedBy("/dev/stdout"), 1);
  EXPECT_EQ(DescriptorNamedBy("/dev/stderr"), 2);
  EXPECT_EQ(DescriptorNamedBy("/proc/thread-self/fd/12"), 12);
  EXPECT_EQ(DescriptorNamedBy("/dev/fd/1x"), -1);
  EXPECT_EQ(DescriptorNamedBy("/dev/fd/"), -1);
  EXPECT_EQ(DescriptorNamedBy("/dev/fdx/1"), -1);
}

// A pipe gets the file in order, also one larger than what the stream holds in memory
// (the rest waits in a holding file); lengths patched long after their bytes included.
TEST_F(OutputPathsTest, PipeReceivesALargeFileInOrder) {
  for (size_t size : {size_t(1000), size_t(20u << 20)}) {
    SCOPED_TRACE(size);
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    std::string received;
    std::thread reader([&] {
      char buffer[65536];
      for (ssize_t n; (n = ::read(ends[0], buffer, sizeof(buffer))) > 0;)
        received.append(buffer, static_cast<size_t>(n));
    });
    std::unique_ptr<RunStream> stream = MakeFileRunStream(ends[1]);
    ASSERT_TRUE(stream);
    std::string expected;
    std::string block(4096, '\0');
    ASSERT_EQ(stream->Write("HEAD", 4), 4u);
    for (size_t at = 4; at < size; at += block.size()) {
      for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>((at + i) * 7);
      size_t n = std::min(block.size(), size - at);
      ASSERT_EQ(stream->Write(block.data(), n), n);
      expected.append(block, 0, n);
    }
    ASSERT_TRUE(stream->Seek(0));
    ASSERT_EQ(stream->Write("head", 4), 4u);
    ASSERT_TRUE(stream->Seek(size));
    EXPECT_EQ(stream->Close(), 0);
    reader.join();
    ::close(ends[0]);
    ASSERT_EQ(received.size(), size);
    EXPECT_TRUE(received.compare(0, 4, "head") == 0);
    EXPECT_TRUE(received.compare(4, std::string::npos, expected) == 0) << "bytes out of order";
  }
}

TEST_F(OutputPathsTest, ClosedDescriptorCantBeCreatedAndNothingIsReplaced) {
  int fd = ::open("/dev/null", O_RDONLY);
  ASSERT_GE(fd, 0);
  ::close(fd);
  EXPECT_EQ(Run("/dev/fd/" + std::to_string(fd)), 0);
  EXPECT_EQ(Texts(), Names{"Can't create output file"});
  EXPECT_EQ(LastRunOutputFailure().error, EBADF);
  EXPECT_TRUE(fs::is_symlink("/dev/stdout") || !fs::exists("/dev/stdout"));
}

// The unfinished file while it is written, for both kinds of temporary file.
TEST_F(OutputPathsTest, TemporaryFileIsNamelessOrNoLongerThanTheTarget) {
  for (bool anonymous : {true, false}) {
    AllowAnonymousTemporaryFiles(anonymous);
    for (const std::string& name : {std::string("a"), std::string("ab.tsm"),
                                    std::string("scene.tsm"), std::string(255, 'n')}) {
      SCOPED_TRACE((anonymous ? "nameless, " : "named, ") + name);
      std::string target = dir + "/" + name;
      WriteFile(target, "previous");
      Names during;
      onOpen = [&] { during = FolderListing(dir); };
      SetRunStreamFactory(MakeHookedStream);
      ASSERT_EQ(Run(target), 1);
      EXPECT_EQ(ReadFileText(target), good);
      EXPECT_EQ(FolderListing(dir), Names{name});
      if (anonymous) {
        EXPECT_EQ(during, Names{name});
      } else {
        ASSERT_EQ(during.size(), 2u);
        std::string temp = during[0] == name ? during[1] : during[0];
        EXPECT_LE(temp.size(), name.size()) << temp;
        if (name.size() >= 8) {
          EXPECT_EQ(temp.substr(0, name.size() - 6), "." + name.substr(0, name.size() - 8) + ".");
        }
      }
      // A failed run leaves the previous file and nothing else.
      SetRunStreamFactory(MakeFailingStream);
      onOpen = nullptr;
      EXPECT_EQ(Run(target), 0);
      EXPECT_EQ(ReadFileText(target), good);
      EXPECT_EQ(FolderListing(dir), Names{name});
      SetRunStreamFactory(nullptr);
      fs::remove(target);
    }
  }
}

TEST_F(OutputPathsTest, PathOfFourThousandNinetyCharactersIsWritten) {
  // Folders of 200 characters down to a target whose whole path is 4090 characters.
  std::string path = dir;
  while (path.size() + 201 + 20 < 4090) {
    path += "/" + std::string(200, 'd');
    ASSERT_EQ(::mkdir(path.c_str(), 0755), 0) << path.size();
  }
  std::string target = path + "/" + std::string(4090 - path.size() - 1, 'f');
  ASSERT_EQ(target.size(), 4090u);
  for (bool anonymous : {true, false}) {
    AllowAnonymousTemporaryFiles(anonymous);
    WriteFile(target, "previous");
    EXPECT_EQ(Run(target), 1) << (anonymous ? "nameless" : "named");
    EXPECT_EQ(ReadFileText(target), good);
    EXPECT_EQ(FolderListing(path).size(), 1u);
  }
}

// A signal that ends the process while the file is written leaves nothing behind.
TEST_F(OutputPathsTest, SignalWhileWritingLeavesOnlyThePreviousFile) {
  std::string target = dir + "/out.tsm";
  for (bool anonymous : {true, false}) {
    for (int signal : {SIGTERM, SIGHUP, SIGINT, SIGQUIT, SIGKILL}) {
      if (signal == SIGKILL && !anonymous) continue;  // only a nameless file survives that
      SCOPED_TRACE(std::string(anonymous ? "nameless" : "named") + ", signal " +
                   std::to_string(signal));
      WriteFile(target, "previous");
      pid_t child = ::fork();
      ASSERT_GE(child, 0);
      if (child == 0) {
        PrepareProcessForOutput();
        AllowAnonymousTemporaryFiles(anonymous);
        onOpen = [signal] { ::raise(signal); };
        SetRunStreamFactory(MakeHookedStream);
        Run(target);
        std::_Exit(0);
      }
      int status = 0;
      ASSERT_EQ(::waitpid(child, &status, 0), child);
      ASSERT_TRUE(WIFSIGNALED(status)) << "the process ends as the signal would end it";
      EXPECT_EQ(WTERMSIG(status), signal);
      EXPECT_EQ(FolderListing(dir), Names{"out.tsm"});
      EXPECT_EQ(ReadFileText(target), "previous");
    }
  }
}

TEST_F(OutputPathsTest, ReplacedFileKeepsOwnerAndNeverGivesSetIdBitsToAnother) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs the superuser to own files of others";
  std::string target = dir + "/out.tsm";
  struct Case {
    uid_t owner;
    gid_t group;
    mode_t mode;
    bool asNobody;  // the export is made by user 65534 rather than the superuser
    uid_t ownerAfter;
    gid_t groupAfter;
    mode_t modeAfter;
  };
  const Case cases[] = {
      // The superuser keeps another user's file his, with its bits.
      {kNobody, kNobody, 06755, false, kNobody, kNobody, 06755},
      // An ordinary user can't keep the superuser's file his: it becomes the user's, and
      // loses the set-ID bits on the way.
      {0, 0, 06777, true, kNobody, kNobody, 0777},
      {0, 0, 0666, true, kNobody, kNobody, 0666},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.mode) + (c.asNobody ? " by user 65534" : " by root"));
    WriteFile(target, "previous");
    ASSERT_EQ(::chown(target.c_str(), c.owner, c.group), 0);
    ASSERT_EQ(::chmod(target.c_str(), c.mode), 0);
    if (c.asNobody) {
      int code = AsNobody([&] { return Run(target) == 1 ? 0 : 1; });
      ASSERT_NE(code, 77);
      EXPECT_EQ(code, 0);
    } else {
      ASSERT_EQ(Run(target), 1);
    }
    struct stat st {};
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, c.ownerAfter);
    EXPECT_EQ(st.st_gid, c.groupAfter);
    EXPECT_EQ(st.st_mode & 07777, c.modeAfter);
    EXPECT_EQ(ReadFileText(target), good);
  }
}

TEST_F(OutputPathsTest, WritableFileInFolderThatMayNotBeWrittenIsWrittenInPlace) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs the superuser to make the folder and file";
  std::string folder = dir + "/locked";
  std::string target = folder + "/out.tsm";
  ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
  WriteFile(target, "previous");
  ASSERT_EQ(::chown(target.c_str(), kNobody, kNobody), 0);
  ino_t inode = InodeOf(target);
  static std::string noticed;
  int code = AsNobody([&] {
    SetInPlaceNotice([](const char* p) { noticed += p; });
    sink.boxes.clear();
    bool written = Run(target) == 1 && sink.boxes.empty() && noticed == target;
    // A failure can't remove the file and leaves it empty rather than half-written.
    SetRunStreamFactory(MakeFailingStream);
    bool failed = Run(target) == 0 && Texts() == Names{"Write error on file"};
    return written && failed ? 0 : 1;
  });
  ASSERT_NE(code, 77);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(InodeOf(target), inode);
  EXPECT_EQ(fs::file_size(target), 0u);
  EXPECT_EQ(FolderListing(folder), Names{"out.tsm"});

  // Without a writable file there, the folder refuses.
  fs::remove(target);
  code = AsNobody([&] { return Run(target) == 0 && LastRunOutputFailure().error == EACCES; });
  EXPECT_EQ(code, 1);
  EXPECT_FALSE(fs::exists(target));
}

// The command line, as a user runs it.
class TsmexportPathsTest : public OutputPathsTest {
 protected:
  struct Outcome {
    int status = -1;
    std::string out, err;
  };
  // Runs the tool under sh with the given redirections of its own.
  Outcome Tool(const std::string& args, const std::string& redirect = "",
               const std::string& prefix = "") {
    std::string outFile = dir + "/.stdout", errFile = dir + "/.stderr";
    std::string cmd = "cd '" + dir + "' && " + prefix + "'" + kTool + "' " + args + " 2>'" +
                      errFile + "' " + (redirect.empty() ? ">'" + outFile + "'" : redirect);
    Outcome o;
    int raw = std::system(("sh -c \"" + cmd + "\" </dev/null").c_str());
    o.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    o.out = ReadFileText(outFile);
    o.err = ReadFileText(errFile);
    fs::remove(outFile);
    fs::remove(errFile);
    return o;
  }
  std::string Minimal() const { return kExamples + "/minimal.json"; }
  std::string MinimalBytes() {
    Outcome o = Tool("'" + Minimal() + "' -o mini.tsm");
    EXPECT_EQ(o.status, 0) << o.err;
    std::string bytes = ReadFileText(dir + "/mini.tsm");
    fs::remove(dir + "/mini.tsm");
    return bytes;
  }
};

TEST_F(TsmexportPathsTest, StandardOutputIsWrittenInPlace) {
  std::string bytes = MinimalBytes();
  ASSERT_FALSE(bytes.empty());
  for (const std::string& name : {std::string("-"), std::string("/dev/stdout")}) {
    SCOPED_TRACE(name);
    Outcome o = Tool("'" + Minimal() + "' -o " + name);
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out, bytes);
    WriteFile(dir + "/log", "log line\n");
    o = Tool("'" + Minimal() + "' -o " + name, ">>log");
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(ReadFileText(dir + "/log"), "log line\n" + bytes) << "the log was replaced";
    o = Tool("'" + Minimal() + "' -o /dev/stdout", "| cat >piped");
    EXPECT_EQ(ReadFileText(dir + "/piped"), bytes);
  }
  // With standard output closed there is nothing to write to, and nothing is replaced.
  Outcome o = Tool("'" + Minimal() + "' -o /dev/stdout", ">&-");
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err,
            "TSMEXP4: Can't create output file\ntsmexport: /dev/stdout: Bad file descriptor\n");
  EXPECT_TRUE(fs::is_symlink("/dev/stdout"));
}

TEST_F(TsmexportPathsTest, DefaultOutputNameOnlyFromARegularFile) {
  for (const std::string& path : {std::string("/dev/stdin"), std::string("-"), dir}) {
    SCOPED_TRACE(path);
    Outcome o = Tool("'" + path + "'");
    EXPECT_EQ(o.status, 2);
    EXPECT_NE(o.err.find("name the output with -o"), std::string::npos) << o.err;
  }
  EXPECT_FALSE(fs::exists("/dev/stdin.tsm"));
  EXPECT_FALSE(fs::exists(dir + ".tsm"));
}

TEST_F(TsmexportPathsTest, DoubleDashEndsTheOptions) {
  fs::copy_file(Minimal(), dir + "/-x.json");
  Outcome o = Tool("-- -x.json");
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(ReadFileText(dir + "/-x.tsm"), MinimalBytes());
  EXPECT_EQ(Tool("-x.json").status, 2) << "without --, it is an unknown option";
  EXPECT_EQ(Tool("-- -x.json -- ").status, 2) << "a second -- is a second scene";
}

TEST_F(TsmexportPathsTest, OutputFailuresNameThePathAndTheReason) {
  fs::create_symlink(dir + "/missing/out.tsm", dir + "/dangling.tsm");
  Outcome o = Tool("'" + Minimal() + "' -o dangling.tsm");
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err,
            "TSMEXP4: Can't create output file\ntsmexport: dangling.tsm: symbolic link to a "
            "missing file: No such file or directory\n");
  EXPECT_TRUE(fs::is_symlink(dir + "/dangling.tsm"));
  fs::create_directory(dir + "/folder.tsm");
  o = Tool("'" + Minimal() + "' -o folder.tsm");
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, "TSMEXP4: Can't create output file\ntsmexport: folder.tsm: Is a directory\n");
}

TEST_F(TsmexportPathsTest, FileInLockedFolderIsWrittenInPlaceWithANotice) {
  if (::geteuid() != 0 || ::access("/usr/bin/setpriv", X_OK) != 0)
    GTEST_SKIP() << "needs the superuser and setpriv to run the tool as another user";
  std::string bytes = MinimalBytes();
  ASSERT_EQ(::mkdir((dir + "/locked").c_str(), 0755), 0);
  std::string target = dir + "/locked/out.tsm";
  WriteFile(target, "previous");
  ASSERT_EQ(::chown(target.c_str(), kNobody, kNobody), 0);
  Outcome o = Tool("'" + Minimal() + "' -o locked/out.tsm", ">/dev/null",
                   "/usr/bin/setpriv --reuid=65534 --regid=65534 --clear-groups ");
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.err,
            "tsmexport: locked/out.tsm: its folder can't be written, so the file is written in "
            "place; if the export fails now, its previous contents are lost\n");
  EXPECT_EQ(ReadFileText(target), bytes);
}

TEST_F(TsmexportPathsTest, FileSizeLimitFailsTheWriteInsteadOfEndingTheProcess) {
  WriteFile(dir + "/out.tsm", "previous");
  // The tool's messages and its status travel through a pipe, which the limit spares.
  std::string cmd = "cd '" + dir + "' && (ulimit -f 0; '" + kTool + "' '" + Minimal() +
                    "' -o out.tsm 2>&1; echo $?)";
  std::FILE* pipe = ::popen(cmd.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string said;
  for (int c; (c = std::fgetc(pipe)) != EOF;) said += static_cast<char>(c);
  ASSERT_EQ(::pclose(pipe), 0);
  EXPECT_EQ(said, "TSMEXP4: Write error on file\ntsmexport: out.tsm: File too large\n1\n");
  EXPECT_EQ(ReadFileText(dir + "/out.tsm"), "previous");
  EXPECT_EQ(FolderListing(dir), Names{"out.tsm"});
}

}  // namespace
}  // namespace tsm
