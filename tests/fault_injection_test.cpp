// Failures injected into the export of every example scene: a write that comes back short
// at a byte offset, and a close that fails after every byte went through. Each must show
// "Write error on file", keep the previous target byte for byte, and leave nothing else in
// its folder. And a soak: many exports in one process give the same bytes every time.
// Some examples are meant to draw warnings (a camera whose target can't be found): a
// failing run may show those of them that come before the fault, in the same order, and
// then the write error.
//
// Which offsets: every byte of an output up to kEveryOffsetLimit bytes. Larger outputs
// (once meshes and tracks fill the sections) get the first kEveryOffsetLimit / 2 bytes
// one by one, every byte of every chunk header and the byte at every chunk end (where the
// length patches and the seeks back happen), and an even sample of the rest, so that one
// scene costs a few thousand runs whatever its size. The runs use a nameless temporary
// file; the first 64 of those offsets and the failed close are repeated with a named one
// (as on file systems that make no nameless files), since only the file's making differs.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "formats/json/scene_json.h"
#include "reader/chunk_reader.h"
#include "run/export_run.h"
#include "io/output_file.h"
#include "scene/mem_scene.h"
#include "tests/test_util.h"

namespace tsm {
namespace {

namespace fs = std::filesystem;
typedef std::vector<uint8_t> Bytes;
typedef std::vector<std::string> Names;

constexpr uint64_t kEveryOffsetLimit = 8192;
constexpr uint64_t kSampledOffsets = 2048;  // beyond the dense part and the boundaries
// 2,000 exports of the largest example (about 9 KB): a few seconds under the address
// sanitizer, where 10,000 took most of a minute; the 10,000-export soak with its memory
// figures is a benchmark (BM_SoakExports).
constexpr int kSoakExports = 2000;

const char kPrevious[] = "previous contents of the target";

// The injected fault: a write that reaches failAt comes back short, and/or the close
// fails although everything was written.
uint64_t failAt = UINT64_MAX;
bool failClose = false;
// What the last stream was given, for the soak.
Bytes* captured = nullptr;

class InjectedStream : public RunStream {
 public:
  explicit InjectedStream(std::unique_ptr<RunStream> inner) : inner_(std::move(inner)) {}
  size_t Write(const void* data, size_t size) override {
    uint64_t pos = inner_->Tell();
    if (captured != nullptr) {
      if (captured->size() < pos + size) captured->resize(pos + size);
      std::copy_n(static_cast<const uint8_t*>(data), size, captured->begin() + pos);
    }
    if (pos + size <= failAt) return inner_->Write(data, size);
    size_t allowed = pos >= failAt ? 0 : static_cast<size_t>(failAt - pos);
    return allowed > 0 ? inner_->Write(data, allowed) : 0;
  }
  uint64_t Tell() override { return inner_->Tell(); }
  bool Seek(uint64_t pos) override { return inner_->Seek(pos); }
  int Close() override {
    int r = inner_->Close();
    return failClose ? -1 : r;
  }

 private:
  std::unique_ptr<RunStream> inner_;
};

std::unique_ptr<RunStream> MakeInjectedStream(int fd) {
  return std::unique_ptr<RunStream>(new InjectedStream(MakeFileRunStream(fd)));
}

void CollectBoundaries(const Chunk& chunk, std::set<uint64_t>* offsets) {
  for (uint64_t i = 0; i < kChunkHeaderSize; ++i) offsets->insert(chunk.offset + i);
  offsets->insert(chunk.End());
  for (const Chunk& child : chunk.children) CollectBoundaries(child, offsets);
}

// The offsets at which a short write is injected into an output of these bytes.
std::vector<uint64_t> FaultOffsets(const Bytes& good) {
  uint64_t size = good.size();
  std::set<uint64_t> offsets;
  uint64_t dense = size <= kEveryOffsetLimit ? size : kEveryOffsetLimit / 2;
  for (uint64_t at = 0; at < dense; ++at) offsets.insert(at);
  if (dense < size) {
    ChunkTree tree = ReadChunkTree(good);
    EXPECT_TRUE(tree.ok) << tree.error;
    if (tree.ok) CollectBoundaries(tree.top, &offsets);
    uint64_t stride = std::max<uint64_t>(1, (size - dense) / kSampledOffsets);
    for (uint64_t at = dense; at < size; at += stride) offsets.insert(at);
  }
  offsets.erase(size);  // a fault at the very end is no fault
  return std::vector<uint64_t>(offsets.begin(), offsets.end());
}

std::vector<std::string> ExampleScenes() {
  std::vector<std::string> paths;
  for (const auto& entry : fs::directory_iterator(TSM_SOURCE_DIR "/examples"))
    if (entry.path().extension() == ".json") paths.push_back(entry.path().string());
  std::sort(paths.begin(), paths.end());
  return paths;
}

class FaultInjectionTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    // In memory where the system offers it: thousands of runs replace and empty files,
    // which a disk would turn into waits for its writes.
    std::string pattern = (::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
    pattern += "/tsm_fault_test_XXXXXX";
    ASSERT_NE(::mkdtemp(&pattern[0]), nullptr);
    dir = pattern;
    target = dir + "/out.tsm";
    LoadResult loaded = LoadJsonScene(GetParam(), scene);
    ASSERT_TRUE(loaded.ok) << loaded.error;
    scene.ApplyHostSettings();
    ei.scene = &scene;
    failAt = UINT64_MAX;
    failClose = false;
    captured = nullptr;
    ASSERT_EQ(Run(), 1);
    good = AsBytes(ReadFileText(target));
    fs::remove(target);
    for (const CapturedBox& box : sink.boxes) goodBoxes.push_back(box.text);
    sink.boxes.clear();
  }
  void TearDown() override {
    SetRunStreamFactory(nullptr);
    AllowAnonymousTemporaryFiles(true);
    captured = nullptr;
    std::error_code ec;
    fs::remove_all(dir, ec);
  }

  static Bytes AsBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }
  Names BoxTexts() const {
    Names texts;
    for (const CapturedBox& box : sink.boxes) texts.push_back(box.text);
    return texts;
  }
  int Run() { return RunExport(target.c_str(), &ei, &scene); }

  // One failing run over a previous target: the box, the untouched target, no other file.
  void ExpectFailureKeepsThePreviousTarget() {
    std::ofstream(target, std::ios::binary) << kPrevious;
    sink.boxes.clear();
    ASSERT_EQ(Run(), 0);
    Names texts = BoxTexts();
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts.back(), "Write error on file");
    texts.pop_back();
    // The warnings before the fault: the first ones of the good run.
    ASSERT_LE(texts.size(), goodBoxes.size());
    EXPECT_TRUE(std::equal(texts.begin(), texts.end(), goodBoxes.begin()));
    EXPECT_EQ(LastRunOutcome(), RunOutcome::WRITE_ERROR);
    EXPECT_EQ(ReadFileText(target), kPrevious);
    EXPECT_EQ(FolderListing(dir), Names{"out.tsm"});
  }

  ModuleHandleScope module;
  CaptureSink sink;
  MemScene scene;
  ExportInterface ei;
  std::string dir, target;
  Bytes good;
  Names goodBoxes;  // what the run without a fault showed
};

TEST_P(FaultInjectionTest, ShortWriteAtEveryOffsetAndFailedCloseKeepThePreviousTarget) {
  ASSERT_GE(good.size(), kChunkHeaderSize);
  SetRunStreamFactory(MakeInjectedStream);
  for (bool anonymous : {true, false}) {
    AllowAnonymousTemporaryFiles(anonymous);
    std::vector<uint64_t> offsets = FaultOffsets(good);
    if (!anonymous && offsets.size() > 64) offsets.resize(64);
    for (uint64_t at : offsets) {
      SCOPED_TRACE(std::string(anonymous ? "nameless" : "named") + " temporary file, short " +
                   "write at byte " + std::to_string(at) + " of " + std::to_string(good.size()));
      failAt = at;
      ExpectFailureKeepsThePreviousTarget();
      if (HasFatalFailure() || HasNonfatalFailure()) return;
    }
    SCOPED_TRACE("failed close");
    failAt = UINT64_MAX;
    failClose = true;
    ExpectFailureKeepsThePreviousTarget();
    failClose = false;
  }
  // Without a fault the same stream writes the same bytes.
  ASSERT_EQ(Run(), 1);
  EXPECT_EQ(AsBytes(ReadFileText(target)), good);
}

TEST_P(FaultInjectionTest, ManyExportsInOneProcessGiveTheSameBytes) {
  // Into a device, so that the run's own work is what repeats; the bytes are taken from
  // the stream as the writers give them.
  SetRunStreamFactory(MakeInjectedStream);
  Bytes bytes;
  captured = &bytes;
  int exports = GetParam().find("showroom") != std::string::npos ? kSoakExports : 100;
  for (int i = 0; i < exports; ++i) {
    bytes.clear();
    sink.boxes.clear();
    ASSERT_EQ(RunExport("/dev/null", &ei, &scene), 1) << "export " << i;
    ASSERT_EQ(bytes, good) << "export " << i << " differs";
    ASSERT_EQ(BoxTexts(), goodBoxes) << "export " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Examples, FaultInjectionTest, ::testing::ValuesIn(ExampleScenes()),
                         [](const ::testing::TestParamInfo<std::string>& param) {
                           std::string name = fs::path(param.param).stem().string();
                           for (char& c : name)
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           return name;
                         });

}  // namespace
}  // namespace tsm
