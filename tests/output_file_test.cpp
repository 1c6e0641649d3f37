// The output file that every writer goes through: its guarantees over every kind of target,
// checked once here, and one check per writer that it writes through it.
#include "io/output_file.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tests/test_util.h"

namespace tsm {
namespace {

namespace fs = std::filesystem;
typedef std::vector<std::string> Names;

constexpr uid_t kNobody = 65534;
const std::string kNew = "new contents, written in three pieces";

// What a write in a child process answered: its exit status or signal, and its message.
struct ChildOutcome {
  bool exited = false;
  int code = -1;    // exit code: 0 written, 1 not
  int signal = 0;   // the signal that ended it
  std::string message;
};

// Runs WriteOutputFile(path) in a child, after prepare; the writer writes kNew in three
// pieces and calls midway between the first and the second.
ChildOutcome WriteInChild(const std::string& path, const std::function<void()>& prepare,
                          const std::function<void()>& midway) {
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return {};
  pid_t child = ::fork();
  if (child == 0) {
    ::close(pipeFds[0]);
    PrepareProcessForOutput();
    if (prepare) prepare();
    OutputResult r = WriteOutputFile(path, [&](OutStream& out, std::string*) {
      size_t third = kNew.size() / 3;
      bool ok = out.Write(kNew.data(), third) == third;
      if (midway) midway();
      return ok && out.Write(kNew.data() + third, third) == third &&
             out.Write(kNew.data() + 2 * third, kNew.size() - 2 * third) ==
                 kNew.size() - 2 * third;
    });
    (void)!::write(pipeFds[1], r.message.data(), r.message.size());
    std::_Exit(r.ok ? 0 : 1);
  }
  ::close(pipeFds[1]);
  ChildOutcome o;
  char buffer[512];
  for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;) o.message.append(buffer, n);
  ::close(pipeFds[0]);
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child) return o;
  o.exited = WIFEXITED(status);
  o.code = o.exited ? WEXITSTATUS(status) : -1;
  o.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  return o;
}

void BecomeNobody() {
  if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
    std::_Exit(77);
}

class OutputFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tsm_output_test_XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir = pattern;
    ::chmod(dir.c_str(), 0777);
  }
  void TearDown() override {
    ForgetInputFiles();
    ::chmod((dir + "/locked").c_str(), 0777);
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  std::string dir;
};

// One kind of target: what is set up in the folder (answering the path to write), what the
// child does before and in the middle of writing, and what is expected afterwards.
struct TargetCase {
  const char* kind;
  std::function<std::string(const std::string& dir)> setUp;
  std::function<void()> prepare;
  std::function<void()> midway;
  int code;              // exit code, or -1 when the child ends by signal
  const char* message;   // fragment of the failure message ("" when written)
  Names listing;         // the folder afterwards
  const char* keeps;     // file in the folder and what it holds afterwards
  std::string expected;  // its contents
};

TEST_F(OutputFileTest, EveryKindOfTargetKeepsItsGuarantees) {
  const bool root = ::geteuid() == 0;
  auto previous = [](const std::string& name) {
    return [name](const std::string& d) {
      WriteFileText(d + "/" + name, "previous");
      return d + "/" + name;
    };
  };
  std::vector<TargetCase> cases = {
      {"new regular file", [](const std::string& d) { return d + "/out"; }, nullptr, nullptr, 0,
       "", {"out"}, "out", kNew},
      {"regular file replaced", previous("out"), nullptr, nullptr, 0, "", {"out"}, "out", kNew},
      {"symbolic link followed, not replaced",
       [](const std::string& d) {
         WriteFileText(d + "/real", "previous");
         fs::create_symlink("real", d + "/link");
         return d + "/link";
       },
       nullptr, nullptr, 0, "", {"link", "real"}, "real", kNew},
      {"character device written in place, never removed",
       [](const std::string& d) {
         if (::mknod((d + "/null").c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0)
           fs::create_symlink("/dev/null", d + "/null");
         return d + "/null";
       },
       nullptr, nullptr, 0, "", {"null"}, "null", ""},
      {"standard output appended to, not truncated",
       [](const std::string& d) {
         WriteFileText(d + "/log", "log line\n");
         return std::string("/dev/stdout");
       },
       [this] {
         int fd = ::open((dir + "/log").c_str(), O_WRONLY | O_APPEND);
         ::dup2(fd, STDOUT_FILENO);
       },
       nullptr, 0, "", {"log"}, "log", "log line\n" + kNew},
      {"standard output closed",
       [](const std::string& d) {
         WriteFileText(d + "/out", "previous");
         return std::string("/dev/stdout");
       },
       [] { ::close(STDOUT_FILENO); }, nullptr, 1, "/dev/stdout: Bad file descriptor", {"out"},
       "out", "previous"},
      {"full disk: a device that is full stays",
       [](const std::string& d) {
         fs::create_symlink("/dev/full", d + "/full");
         return d + "/full";
       },
       nullptr, nullptr, 1, "full: No space left on device", {"full"}, nullptr, ""},
      {"read-only folder: nothing is created",
       [](const std::string& d) {
         fs::create_directory(d + "/locked");
         ::chmod((d + "/locked").c_str(), 0555);
         return d + "/locked/out";
       },
       root ? BecomeNobody : std::function<void()>(), nullptr, 1,
       "locked/out: Permission denied", {"locked"}, nullptr, ""},
      {"signal while writing: the previous file stays", previous("out"), nullptr,
       [] { ::raise(SIGTERM); }, -1, "", {"out"}, "out", "previous"},
      {"size limit: the write fails, the previous file stays", previous("out"),
       [] {
         struct rlimit limit = {4, 4};
         ::setrlimit(RLIMIT_FSIZE, &limit);
       },
       nullptr, 1, "out: File too large", {"out"}, "out", "previous"},
      {"an input file, through a hard link, is refused",
       [](const std::string& d) {
         WriteFileText(d + "/in", "previous");
         fs::create_hard_link(d + "/in", d + "/other");
         NoteInputFile(d + "/in");
         return d + "/other";
       },
       nullptr, nullptr, 1, "other: the output would overwrite a file being read",
       {"in", "other"}, "in", "previous"},
  };
  for (const TargetCase& c : cases) {
    SCOPED_TRACE(c.kind);
    fs::remove_all(dir);
    fs::create_directory(dir);
    ForgetInputFiles();
    std::string path = c.setUp(dir);
    ChildOutcome o = WriteInChild(path, c.prepare, c.midway);
    if (c.code < 0) {
      EXPECT_EQ(o.signal, SIGTERM);
    } else {
      EXPECT_TRUE(o.exited);
      EXPECT_EQ(o.code, c.code) << o.message;
    }
    EXPECT_NE(o.message.find(c.message), std::string::npos) << o.message;
    EXPECT_EQ(FolderListing(dir), c.listing);
    if (c.keeps != nullptr) {
      EXPECT_EQ(ReadFileText(dir + "/" + c.keeps), c.expected);
    }
  }
  struct stat st;
  ASSERT_EQ(::stat("/dev/full", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode)) << "/dev/full is still the device";
}

// Each writer's output takes the same guarded way: a device that is full stays, a full
// standard output fails the tool, a redirected log is appended to.
struct WriterCase {
  std::string command;  // run in the test folder
  int status;
  const char* message;
  const char* log;  // what the log holds afterwards (its "log line" and what follows), or null
};

void ExpectWritersCases(const std::string& dir, const std::vector<WriterCase>& cases,
                        const Names& listing) {
  for (const WriterCase& c : cases) {
    SCOPED_TRACE(c.command);
    WriteFileText(dir + "/log", "log line\n");
    ShellOutcome o = RunShell(dir, c.command);
    EXPECT_EQ(o.status, c.status) << o.err;
    EXPECT_NE(o.err.find(c.message), std::string::npos) << o.err;
    if (c.log != nullptr) {
      EXPECT_EQ(ReadFileText(dir + "/log").substr(0, std::string(c.log).size()), c.log);
    }
  }
  EXPECT_TRUE(fs::is_symlink(dir + "/full")) << "the link to the full device is never removed";
  EXPECT_EQ(FolderListing(dir), listing);
}

const std::string kExport = "'" TSM_BINARY_DIR "/tsmexport' '" TSM_SOURCE_DIR "/examples/";

TEST_F(OutputFileTest, JsonSceneGoesThroughTheOutputFile) {
  fs::create_symlink("/dev/full", dir + "/full");
  const std::string tool = kExport + "minimal.json' --to-json ";
  ExpectWritersCases(dir,
                     {
                         {tool + "full", 1, "full: No space left on device", nullptr},
                         {tool + "- >/dev/full", 1, "/dev/stdout: No space left on device", nullptr},
                         {tool + "- >>log", 0, "", "log line\n{"},
                     },
                     {"full", "log"});
}

TEST_F(OutputFileTest, PictureGoesThroughTheOutputFile) {
  fs::create_symlink("/dev/full", dir + "/full");
  ASSERT_EQ(RunShell(dir, kExport + "showroom.json' -o in.tsm >/dev/null").status, 0);
  const std::string in = ReadFileText(dir + "/in.tsm");
  const std::string tool = "'" TSM_BINARY_DIR "/tsmview' in.tsm --size 8x8 -o ";
  ExpectWritersCases(dir,
                     {
                         {tool + "full", 1, "full: No space left on device", nullptr},
                         {tool + "in.tsm", 2, "in.tsm: the picture would overwrite", nullptr},
                         {tool + "- >>log", 0, "", "log line\n\x89PNG"},
                     },
                     {"full", "in.tsm", "log"});
  EXPECT_EQ(ReadFileText(dir + "/in.tsm"), in);
}

}  // namespace
}  // namespace tsm
