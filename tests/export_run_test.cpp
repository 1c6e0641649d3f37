#include "run/export_run.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "material/material_table.h"
#include "run/scene_lists.h"
#include "scene/mem_material.h"
#include "scene/mem_scene.h"
#include "tests/test_util.h"

namespace tsm {
namespace {

namespace fs = std::filesystem;
typedef std::vector<uint8_t> Bytes;

const char kNoData[] = "No data to export";
const char kCantCreate[] = "Can't create output file";
const char kWriteError[] = "Write error on file";
const char kDuplicateNames[] =
    "Two or more object names are the same in file being exported.  All object names must "
    "be unique.";

Bytes AsBytes(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

Bytes ReadFile(const std::string& path) {
  return AsBytes(ReadFileText(path));
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

// Installs a stream factory for its lifetime.
class FactoryScope {
 public:
  explicit FactoryScope(RunStreamFactory f) : previous_(SetRunStreamFactory(f)) {}
  ~FactoryScope() { SetRunStreamFactory(previous_); }

 private:
  RunStreamFactory previous_;
};

// A run stream over the real one that comes back short once a write would reach byte
// failAt, and/or whose close fails although everything was written.
class FaultyStream : public RunStream {
 public:
  FaultyStream(std::unique_ptr<RunStream> inner, uint64_t failAt, bool failClose)
      : inner_(std::move(inner)), failAt_(failAt), failClose_(failClose) {}
  size_t Write(const void* data, size_t size) override {
    uint64_t pos = inner_->Tell();
    if (pos + size <= failAt_) return inner_->Write(data, size);
    ++shortWrites;
    size_t allowed = pos >= failAt_ ? 0 : static_cast<size_t>(failAt_ - pos);
    return allowed > 0 ? inner_->Write(data, allowed) : 0;
  }
  uint64_t Tell() override { return inner_->Tell(); }
  bool Seek(uint64_t pos) override { return inner_->Seek(pos); }
  int Close() override {
    ++closes;
    int r = inner_->Close();
    return failClose_ ? -1 : r;
  }

  static int shortWrites;
  static int closes;

 private:
  std::unique_ptr<RunStream> inner_;
  uint64_t failAt_;
  bool failClose_;
};
int FaultyStream::shortWrites = 0;
int FaultyStream::closes = 0;

uint64_t failAt = UINT64_MAX;
std::unique_ptr<RunStream> MakeShortStream(int fd) {
  return std::unique_ptr<RunStream>(new FaultyStream(MakeFileRunStream(fd), failAt, false));
}
std::unique_ptr<RunStream> MakeFailingCloseStream(int fd) {
  return std::unique_ptr<RunStream>(new FaultyStream(MakeFileRunStream(fd), UINT64_MAX, true));
}

// A run stream whose writes throw, as running out of memory deep inside a writer does.
class ThrowingStream : public RunStream {
 public:
  explicit ThrowingStream(std::unique_ptr<RunStream> inner) : inner_(std::move(inner)) {}
  size_t Write(const void*, size_t) override { throw std::bad_alloc(); }
  uint64_t Tell() override { return inner_->Tell(); }
  bool Seek(uint64_t pos) override { return inner_->Seek(pos); }
  int Close() override { return inner_->Close(); }

 private:
  std::unique_ptr<RunStream> inner_;
};
std::unique_ptr<RunStream> MakeThrowingStream(int fd) {
  return std::unique_ptr<RunStream>(new ThrowingStream(MakeFileRunStream(fd)));
}

// Runs a hook when the run opens its stream, then makes the real one.
std::function<void()> onOpen;
int opens = 0;
std::unique_ptr<RunStream> MakeWatchedStream(int fd) {
  ++opens;
  if (onOpen) onOpen();
  return MakeFileRunStream(fd);
}

// A capture sink that also runs a check while each box is up.
class WatchingSink : public CaptureSink {
 public:
  std::function<void()> whileShown;
  int Show(const char* caption, const char* text, unsigned type) override {
    if (whileShown) whileShown();
    return CaptureSink::Show(caption, text, type);
  }
};

class ExportRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tsm_run_test_XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir = pattern;
    path = dir + "/out.tsm";
    ei.scene = &scene;
    savedQuiet = QuietMode;
    failAt = UINT64_MAX;
    onOpen = nullptr;
    opens = 0;
    FaultyStream::shortWrites = 0;
    FaultyStream::closes = 0;
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir, ec);
    QuietMode = savedQuiet;
    onOpen = nullptr;
  }

  // A small scene with something of every written kind.
  void Populate() {
    MemMaterial* red = scene.Own(std::unique_ptr<MemMaterial>(new MemMaterial));
    red->name = "Red";
    MemNode* box = scene.AddNode("Box01");
    box->object = scene.AddObject(16, Class_ID(0x10, 0), true);
    box->material = red;
    MemNode* camera = scene.AddNode("Camera01");
    camera->object = scene.AddObject(kFamilyCamera, kCameraClass);
    MemNode* target = scene.AddNode("Camera01.Target");
    target->object = scene.AddObject(kFamilyHelper, Class_ID(0x1020, 0));
    MemScene::SetLookAt(camera, target);
  }

  int Run(const std::string& p) { return RunExport(p.c_str(), &ei, &scene); }
  int Run() { return Run(path); }

  std::vector<std::string> Texts() const {
    std::vector<std::string> texts;
    for (const CapturedBox& b : sink.boxes) {
      EXPECT_EQ(b.caption, "TSMEXP4");
      EXPECT_EQ(b.type, MB_OK);
      texts.push_back(b.text);
    }
    return texts;
  }

  // The bytes of a good export of the scene, made in a folder of their own.
  Bytes GoodBytes() {
    std::string p = dir + "/good.tsm";
    EXPECT_EQ(Run(p), 1);
    Bytes b = ReadFile(p);
    fs::remove(p);
    sink.boxes.clear();
    return b;
  }

  ModuleHandleScope module;
  WatchingSink sink;
  MemScene scene;
  ExportInterface ei;
  std::string dir;
  std::string path;
  int savedQuiet = 0;
};

typedef std::vector<std::string> TextList;

TEST_F(ExportRunTest, WrittenFileStartsWithSkeleton) {
  Populate();
  ASSERT_EQ(ExportToFile(path.c_str(), &ei, &scene, 0, 0), 1);
  EXPECT_TRUE(sink.boxes.empty());
  Bytes b = ReadFile(path);
  ASSERT_GE(b.size(), 16u);
  EXPECT_EQ(b[0], 0xEF);
  EXPECT_EQ(b[1], 0xBE);
  EXPECT_EQ(GetU32(b, 2), b.size());
  ExpectBytes(Bytes(b.begin() + 6, b.begin() + 16),
              {0x02, 0x00, 0x0A, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00});
  EXPECT_EQ(FolderListing(dir), TextList{"out.tsm"}) << "no temporary file is left";
  EXPECT_EQ(LastRunOutcome(), RunOutcome::WRITTEN);
}

TEST_F(ExportRunTest, TwoExportsOfOneSceneAreByteIdentical) {
  Populate();
  std::string second = dir + "/second.tsm";
  ASSERT_EQ(Run(), 1);
  ASSERT_EQ(Run(second), 1);
  ExpectBytes(ReadFile(second), ReadFile(path));
  ASSERT_EQ(Run(), 1);  // over the first file
  ExpectBytes(ReadFile(path), ReadFile(second));
}

TEST_F(ExportRunTest, SuccessReplacesAnExistingFileWhole) {
  Populate();
  Bytes good = GoodBytes();
  WriteFile(path, std::string(good.size() * 3, 'x'));
  ASSERT_EQ(Run(), 1);
  ExpectBytes(ReadFile(path), good);
}

TEST_F(ExportRunTest, EmptySceneShowsNoDataAndCreatesNoFile) {
  scene.AddNode("unconvertible")->object = scene.AddObject(16, Class_ID(0x10, 0), false);
  scene.AddNode("nothing");
  FactoryScope watch(MakeWatchedStream);
  EXPECT_EQ(RunExport(path.c_str(), &ei, &scene), 1);
  EXPECT_EQ(Texts(), TextList{kNoData});
  EXPECT_EQ(ExportToFile(path.c_str(), &ei, &scene, 0, 0), 1);
  EXPECT_EQ(FolderListing(dir), TextList{});
  EXPECT_EQ(opens, 0) << "no file is opened";
  EXPECT_EQ(LastRunOutcome(), RunOutcome::NO_DATA);
}

TEST_F(ExportRunTest, EmptySceneLeavesAnExistingFileUntouched) {
  WriteFile(path, "previous contents");
  EXPECT_EQ(ExportToFile(path.c_str(), &ei, &scene, 0, 0), 1);
  EXPECT_EQ(Texts(), TextList{kNoData});
  ExpectBytes(ReadFile(path), AsBytes("previous contents"));
  EXPECT_EQ(FolderListing(dir), TextList{"out.tsm"});
}

TEST_F(ExportRunTest, MissingFolderCantCreateOutputFile) {
  Populate();
  std::string missing = dir + "/no such folder/out.tsm";
  EXPECT_EQ(Run(missing), 0);
  EXPECT_EQ(Texts(), TextList{kCantCreate});
  sink.boxes.clear();
  EXPECT_EQ(ExportToFile(missing.c_str(), &ei, &scene, 0, 0), 1);
  EXPECT_EQ(Texts(), TextList{kCantCreate});
  EXPECT_EQ(FolderListing(dir), TextList{});
  EXPECT_EQ(LastRunOutcome(), RunOutcome::CANT_CREATE);
}

TEST_F(ExportRunTest, UnusableNamesCantCreateOutputFile) {
  Populate();
  EXPECT_EQ(RunExport(nullptr, &ei, &scene), 0);
  EXPECT_EQ(Run(""), 0);
  EXPECT_EQ(Run(dir + "/"), 0);
  EXPECT_EQ(Run(dir), 0);  // an existing folder is not a file
  EXPECT_EQ(Texts(), (TextList{kCantCreate, kCantCreate, kCantCreate, kCantCreate}));
  EXPECT_TRUE(fs::is_directory(dir));
  EXPECT_EQ(FolderListing(dir), TextList{});
  std::string strayPrefix = "." + fs::path(dir).filename().string() + ".";
  for (const std::string& name : FolderListing(fs::path(dir).parent_path()))
    EXPECT_NE(name.rfind(strayPrefix, 0), 0u) << "temporary file " << name;
}

TEST_F(ExportRunTest, ShortWriteAtEveryOffsetKeepsThePreviousFile) {
  Populate();
  Bytes good = GoodBytes();
  ASSERT_GT(good.size(), 16u);
  FactoryScope faulty(MakeShortStream);
  for (uint64_t at = 0; at < good.size(); ++at) {
    SCOPED_TRACE("short write at byte " + std::to_string(at));
    WriteFile(path, "previous");
    failAt = at;
    sink.boxes.clear();
    int seenWhileShown = 0;
    sink.whileShown = [&] {
      // The box is up before anything is removed: the unfinished file is still there
      // (without a name where the file system allows it, else under a temporary name no
      // longer than the target's), next to the untouched previous file.
      std::vector<std::string> names = FolderListing(dir);
      ASSERT_GE(names.size(), 1u);
      ASSERT_LE(names.size(), 2u);
      EXPECT_EQ(names.back(), "out.tsm");
      if (names.size() == 2) {
        EXPECT_EQ(names[0][0], '.') << names[0];
        EXPECT_EQ(names[0].size(), std::string("out.tsm").size());
      }
      ExpectBytes(ReadFile(path), AsBytes("previous"));
      ++seenWhileShown;
    };
    int shortBefore = FaultyStream::shortWrites;
    EXPECT_EQ(Run(), 0);
    sink.whileShown = nullptr;
    EXPECT_GT(FaultyStream::shortWrites, shortBefore);
    EXPECT_EQ(seenWhileShown, 1);
    EXPECT_EQ(Texts(), TextList{kWriteError});
    EXPECT_EQ(FolderListing(dir), TextList{"out.tsm"});
    ExpectBytes(ReadFile(path), AsBytes("previous"));
  }
}

TEST_F(ExportRunTest, ShortWriteLeavesNoFileWhereThereWasNone) {
  Populate();
  FactoryScope faulty(MakeShortStream);
  failAt = 20;
  EXPECT_EQ(ExportToFile(path.c_str(), &ei, &scene, 0, 0), 1);
  EXPECT_EQ(Texts(), TextList{kWriteError});
  EXPECT_EQ(FolderListing(dir), TextList{});
}

TEST_F(ExportRunTest, FailedCloseAloneIsAWriteError) {
  Populate();
  Bytes good = GoodBytes();
  WriteFile(path, "previous");
  FactoryScope faulty(MakeFailingCloseStream);
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(FaultyStream::shortWrites, 0) << "every write went through";
  EXPECT_EQ(FaultyStream::closes, 1);
  EXPECT_EQ(Texts(), TextList{kWriteError});
  EXPECT_EQ(LastRunOutcome(), RunOutcome::WRITE_ERROR);
  EXPECT_EQ(FolderListing(dir), TextList{"out.tsm"});
  ExpectBytes(ReadFile(path), AsBytes("previous"));
}

TEST_F(ExportRunTest, FileThatMayNotBeWrittenIsNotReplaced) {
  Populate();
  WriteFile(path, "previous");
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  ASSERT_EQ(::chmod(dir.c_str(), 0777), 0);  // the folder itself would let it be replaced
  // The superuser may write any file, so the run is made by an ordinary user in a child
  // process; where the user can't be switched, there is nothing to show.
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::geteuid() == 0 &&
        (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0))
      std::_Exit(3);
    int r = Run();
    bool cantCreate = sink.boxes.size() == 1 && sink.boxes[0].text == kCantCreate;
    bool untouched = ReadFile(path) == AsBytes("previous");
    std::_Exit(r == 0 && cantCreate && untouched ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 3) GTEST_SKIP() << "can't run as an ordinary user here";
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the run replaced the file or showed other boxes";
  ExpectBytes(ReadFile(path), AsBytes("previous"));
  EXPECT_EQ(FolderListing(dir), TextList{"out.tsm"});
}

TEST_F(ExportRunTest, FailedRenameIsAWriteError) {
  Populate();
  FactoryScope watch(MakeWatchedStream);
  // Once the temporary file is open, something that a file can't replace takes the
  // target's place.
  onOpen = [&] { fs::create_directory(path); };
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(opens, 1);
  EXPECT_EQ(Texts(), TextList{kWriteError});
  EXPECT_EQ(FolderListing(dir), TextList{"out.tsm"});
  EXPECT_TRUE(fs::is_directory(path));
}

TEST_F(ExportRunTest, RunWidePointersHoldTheListsWhileTheFileIsWritten) {
  Populate();
  FactoryScope watch(MakeWatchedStream);
  int32_t entries = -1, items = -1, materials = -1;
  std::string firstName;
  onOpen = [&] {
    ASSERT_NE(RunEntries, nullptr);
    ASSERT_NE(RunObjects, nullptr);
    ASSERT_NE(RunMaterials, nullptr);
    entries = RunEntries->Count();
    items = RunObjects->Count();
    materials = RunMaterials->Count();
    firstName = RunEntries->First()->name;
  };
  ASSERT_EQ(Run(), 1);
  EXPECT_EQ(entries, 3);
  EXPECT_EQ(items, 3);
  EXPECT_EQ(materials, 1);
  EXPECT_EQ(firstName, "Box01") << "the name pass runs before the file is opened";
  EXPECT_EQ(RunEntries, nullptr);
  EXPECT_EQ(RunObjects, nullptr);
  EXPECT_EQ(RunMaterials, nullptr);
}

TEST_F(ExportRunTest, RunLeftByAnExceptionClearsTheRunWidePointersAndItsFile) {
  Populate();
  WriteFile(path, "previous");
  FactoryScope throwing(MakeThrowingStream);
  EXPECT_THROW(Run(), std::bad_alloc);
  EXPECT_EQ(RunEntries, nullptr);
  EXPECT_EQ(RunObjects, nullptr);
  EXPECT_EQ(RunMaterials, nullptr);
  EXPECT_EQ(FolderListing(dir), TextList{"out.tsm"});
  ExpectBytes(ReadFile(path), AsBytes("previous"));
}

TEST_F(ExportRunTest, MessagesComeInRunOrder) {
  Populate();
  scene.AddNode("Box01")->object = scene.AddObject(kFamilyHelper, kDummyClass);
  EXPECT_EQ(Run(dir + "/missing/out.tsm"), 0);
  EXPECT_EQ(Texts(), (TextList{kDuplicateNames, kCantCreate}));
  sink.boxes.clear();
  {
    FactoryScope faulty(MakeShortStream);
    failAt = 0;
    EXPECT_EQ(Run(), 0);
  }
  EXPECT_EQ(Texts(), (TextList{kDuplicateNames, kWriteError}));
  sink.boxes.clear();
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(Texts(), TextList{kDuplicateNames});
}

TEST_F(ExportRunTest, QuietModeLeavesTheRunsMessagesOn) {
  EXPECT_EQ(ExportToFile(path.c_str(), &ei, &scene, 1, 0), 1);
  Populate();
  scene.AddNode("Box01")->object = scene.AddObject(kFamilyHelper, kDummyClass);
  std::string missing = dir + "/missing/out.tsm";
  EXPECT_EQ(ExportToFile(missing.c_str(), &ei, &scene, 1, 0), 1);
  {
    FactoryScope faulty(MakeShortStream);
    failAt = 7;
    EXPECT_EQ(ExportToFile(path.c_str(), &ei, &scene, 1, 0), 1);
  }
  EXPECT_EQ(QuietMode, 1);
  EXPECT_EQ(Texts(),
            (TextList{kNoData, kDuplicateNames, kCantCreate, kDuplicateNames, kWriteError}));
}

TEST_F(ExportRunTest, QuietFlagOfEachExportDecidesWriterWarnings) {
  Populate();
  ASSERT_EQ(ExportToFile(path.c_str(), &ei, &scene, 7, 0), 1);
  EXPECT_EQ(QuietMode, 1) << "any non-zero flag gives 1";
  ShowWriterWarning("quiet warning");
  EXPECT_TRUE(sink.boxes.empty());

  ASSERT_EQ(ExportToFile(path.c_str(), &ei, &scene, 0, 0), 1);
  EXPECT_EQ(QuietMode, 0);
  ShowWriterWarning("loud warning");
  ASSERT_EQ(sink.boxes.size(), 1u);
  EXPECT_EQ(sink.boxes[0].caption, "Export Error");
  EXPECT_EQ(sink.boxes[0].text, "loud warning");
}

TEST_F(ExportRunTest, DeviceTargetIsWrittenInPlaceAndKept) {
  Populate();
  struct stat before;
  ASSERT_EQ(::stat("/dev/null", &before), 0);
  ASSERT_TRUE(S_ISCHR(before.st_mode));
  EXPECT_EQ(Run("/dev/null"), 1);
  EXPECT_TRUE(sink.boxes.empty());
  struct stat after;
  ASSERT_EQ(::stat("/dev/null", &after), 0);
  EXPECT_TRUE(S_ISCHR(after.st_mode));
  EXPECT_EQ(after.st_rdev, before.st_rdev);
  for (const std::string& name : FolderListing("/dev"))
    EXPECT_NE(name.rfind(".null.", 0), 0u) << "temporary file " << name << " in /dev";
}

TEST_F(ExportRunTest, FailedWriteToDeviceNeverRemovesIt) {
  Populate();
  FactoryScope faulty(MakeShortStream);
  failAt = 3;
  EXPECT_EQ(Run("/dev/null"), 0);
  EXPECT_EQ(Texts(), TextList{kWriteError});
  struct stat st;
  ASSERT_EQ(::stat("/dev/null", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
}

TEST_F(ExportRunTest, PipeTargetReceivesTheWholeFileInOrder) {
  Populate();
  Bytes good = GoodBytes();
  std::string fifo = dir + "/pipe.tsm";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  // The reading end is open first, so the run's open doesn't wait; the file is small
  // enough to fit the pipe, so it is read once the run is over.
  int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  EXPECT_EQ(Run(fifo), 1);
  EXPECT_TRUE(sink.boxes.empty());
  Bytes received;
  uint8_t buffer[4096];
  for (ssize_t n; (n = ::read(reader, buffer, sizeof(buffer))) > 0;)
    received.insert(received.end(), buffer, buffer + n);
  ::close(reader);
  ExpectBytes(received, good);
  EXPECT_TRUE(fs::is_fifo(fifo));
  EXPECT_EQ(FolderListing(dir), TextList{"pipe.tsm"});
}

TEST_F(ExportRunTest, SymbolicLinkStaysAndItsFileIsReplaced) {
  Populate();
  Bytes good = GoodBytes();
  fs::create_directory(dir + "/real");
  std::string real = dir + "/real/scene.tsm";
  WriteFile(real, "previous");
  fs::create_symlink(real, path);
  ASSERT_EQ(Run(), 1);
  EXPECT_TRUE(fs::is_symlink(path));
  ExpectBytes(ReadFile(real), good);
  EXPECT_EQ(FolderListing(dir + "/real"), TextList{"scene.tsm"});
}

TEST_F(ExportRunTest, NewFileGetsTheUsualModeAndAReplacedFileKeepsItsOwn) {
  Populate();
  mode_t mask = ::umask(022);
  ASSERT_EQ(Run(), 1);
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0644u);

  ::umask(027);
  std::string other = dir + "/other.tsm";
  ASSERT_EQ(Run(other), 1);
  ASSERT_EQ(::stat(other.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  ::umask(mask);

  ASSERT_EQ(::chmod(path.c_str(), 0604), 0);
  ASSERT_EQ(Run(), 1);
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0604u);
}

TEST_F(ExportRunTest, LongFileNameStillGetsATemporaryFile) {
  Populate();
  std::string longPath = dir + "/" + std::string(250, 'n') + ".tsm";
  ASSERT_EQ(Run(longPath), 1);
  EXPECT_TRUE(sink.boxes.empty());
  EXPECT_EQ(FolderListing(dir).size(), 1u);
  EXPECT_EQ(GetU32(ReadFile(longPath), 2), fs::file_size(longPath));
}

}  // namespace
}  // namespace tsm
