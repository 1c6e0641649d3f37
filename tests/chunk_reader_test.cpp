#include "reader/chunk_reader.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "reader/chunk_dump.h"
#include "tests/sample_files.h"
#include "tests/test_util.h"
#include "writer/chunk_ids.h"

namespace tsm {
namespace {

// Walks a parsed tree independently of the reader and reports the first broken invariant:
// children tile their parent's body after its payload, and everything lies in the file.
std::string TreeInvariantError(const Chunk& c, uint64_t limit) {
  if (c.length < kChunkHeaderSize) return "length under 6 at " + std::to_string(c.offset);
  if (c.End() > limit) return "chunk past its limit at " + std::to_string(c.offset);
  if (c.payloadBegin != c.offset + 6) return "payload start at " + std::to_string(c.offset);
  if (c.payloadEnd < c.payloadBegin || c.payloadEnd > c.End()) {
    return "payload end at " + std::to_string(c.offset);
  }
  uint64_t pos = c.payloadEnd;
  for (const Chunk& child : c.children) {
    if (child.offset != pos) return "gap before child at " + std::to_string(child.offset);
    std::string e = TreeInvariantError(child, c.End());
    if (!e.empty()) return e;
    pos = child.End();
  }
  if (pos != c.End()) return "children do not fill " + std::to_string(c.offset);
  return "";
}

// A chain of depth containers (EDITOR_DATA in EDITOR_DATA ...), the innermost empty.
std::vector<uint8_t> NestedFile(size_t depth) {
  std::vector<uint8_t> b(depth * 6);
  for (size_t i = 0; i < depth; ++i) {
    PutU16(b, i * 6, EDITOR_DATA);
    PutU32(b, i * 6 + 2, static_cast<uint32_t>((depth - i) * 6));
  }
  return b;
}

// Deterministic pseudo-random numbers for the fuzz loops.
struct Lcg {
  uint32_t state;
  uint32_t Next() {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
  }
};

TEST(ChunkReader, SkeletonFromTopWriterParsesToFourChunks) {
  std::vector<uint8_t> file = SkeletonFile();
  ASSERT_EQ(file.size(), 28u);
  ChunkTree t = ReadChunkTree(file);
  ASSERT_TRUE(t.ok) << t.error;
  EXPECT_EQ(t.top.id, MOD_MAIN);
  EXPECT_EQ(t.top.offset, 0u);
  EXPECT_EQ(t.top.length, 28u);
  EXPECT_EQ(t.top.payloadEnd, 6u);  // children only
  ASSERT_EQ(t.top.children.size(), 3u);
  const Chunk& version = t.top.children[0];
  EXPECT_EQ(version.id, FILE_VERSION);
  EXPECT_EQ(version.offset, 6u);
  EXPECT_EQ(version.length, 10u);
  EXPECT_EQ(version.payloadBegin, 12u);
  EXPECT_EQ(version.payloadEnd, 16u);  // a leaf: the whole body is payload
  EXPECT_EQ(t.top.children[1].id, EDITOR_DATA);
  EXPECT_EQ(t.top.children[1].offset, 16u);
  EXPECT_EQ(t.top.children[1].length, 6u);
  EXPECT_EQ(t.top.children[2].id, KEYFRAMER_DATA);
  EXPECT_EQ(t.top.children[2].offset, 22u);
  EXPECT_EQ(t.top.children[2].End(), 28u);
}

TEST(ChunkReader, RichFileParsesWithPayloadPrefixesOfContainers) {
  std::vector<uint8_t> file = RichFile();
  ASSERT_FALSE(file.empty());
  ChunkTree t = ReadChunkTree(file);
  ASSERT_TRUE(t.ok) << t.error;
  EXPECT_EQ(TreeInvariantError(t.top, file.size()), "");
  const Chunk& editor = t.top.children.at(1);
  ASSERT_EQ(editor.children.size(), 7u);  // version, material, scale, four objects

  const Chunk& box = editor.children[3];
  ASSERT_EQ(box.id, NAMED_OBJECT);
  EXPECT_EQ(box.PayloadSize(), 6u);  // "Box01" and its NUL
  const Chunk& faces = box.children.at(1).children.at(2);
  ASSERT_EQ(faces.id, MESH_FACES);
  EXPECT_EQ(faces.PayloadSize(), 2u + 32u);  // count 1, one record
  ASSERT_EQ(faces.children.size(), 2u);
  EXPECT_EQ(faces.children[0].id, FACE_MATERIAL);
  EXPECT_EQ(faces.children[1].id, FACE_SMOOTHING);

  const Chunk& light = editor.children[4].children.at(1);
  ASSERT_EQ(light.id, LIGHT);
  EXPECT_EQ(light.PayloadSize(), 12u);
  ASSERT_EQ(light.children.size(), 6u);
  const Chunk& spot = light.children[4];
  ASSERT_EQ(spot.id, SPOT_LIGHT);
  EXPECT_EQ(spot.PayloadSize(), 20u);
  EXPECT_EQ(spot.children.size(), 3u);

  const Chunk& camera = editor.children[5].children.at(1);
  ASSERT_EQ(camera.id, CAMERA);
  EXPECT_EQ(camera.PayloadSize(), 32u);
  ASSERT_EQ(camera.children.size(), 1u);
  EXPECT_EQ(camera.children[0].id, CAMERA_RANGES);

  const Chunk& keyframer = t.top.children.at(2);
  ASSERT_EQ(keyframer.children.size(), 5u);
  EXPECT_EQ(keyframer.children[3].id, OBJECT_NODE);
  EXPECT_EQ(keyframer.children[3].children.size(), 6u);
}

TEST(ChunkReader, LayoutsOfContainersAndLeaves) {
  EXPECT_EQ(LayoutOf(MOD_MAIN).kind, BodyKind::kChildren);
  EXPECT_EQ(LayoutOf(MAIN).kind, BodyKind::kChildren);
  EXPECT_EQ(LayoutOf(MATERIAL_DIFFUSE).kind, BodyKind::kChildren);
  EXPECT_EQ(LayoutOf(MATERIAL_SELF_ILLUMINATION).kind, BodyKind::kChildren);
  EXPECT_EQ(LayoutOf(MAP_REFLECTION).kind, BodyKind::kChildren);
  EXPECT_EQ(LayoutOf(MASK_DATA_REFLECTION).kind, BodyKind::kLeaf);
  EXPECT_EQ(LayoutOf(MASK_SELF_ILLUMINATION).kind, BodyKind::kChildren);
  EXPECT_EQ(LayoutOf(SPOT_LIGHT_NODE).kind, BodyKind::kChildren);
  EXPECT_EQ(LayoutOf(NAMED_OBJECT).kind, BodyKind::kTextThenChildren);
  EXPECT_EQ(LayoutOf(MESH_FACES).kind, BodyKind::kFacesThenChildren);
  EXPECT_EQ(LayoutOf(LIGHT).fixedSize, 12u);
  EXPECT_EQ(LayoutOf(SPOT_LIGHT).fixedSize, 20u);
  EXPECT_EQ(LayoutOf(CAMERA).fixedSize, 32u);
  EXPECT_FALSE(IsContainer(OBJECT_PROPERTIES));
  EXPECT_FALSE(IsContainer(SHAPE_POINTS));
  EXPECT_FALSE(IsContainer(POSITION_TRACK));
  EXPECT_FALSE(IsContainer(0x1234));
}

TEST(ChunkReader, EveryTruncationOfTheSkeletonFailsAtOffsetZero) {
  std::vector<uint8_t> file = SkeletonFile();
  for (size_t n = 0; n < file.size(); ++n) {
    ChunkTree t = ReadChunkTree(file.data(), n);
    EXPECT_FALSE(t.ok) << "length " << n;
    EXPECT_EQ(t.errorOffset, 0u) << "length " << n;
    EXPECT_TRUE(t.top.children.empty());
  }
  EXPECT_EQ(ReadChunkTree(file.data(), 0).error, "offset 0: the file is empty");
  EXPECT_EQ(ReadChunkTree(file.data(), 5).error,
            "offset 0: file of 5 bytes is too short for a 6-byte chunk header");
  EXPECT_EQ(ReadChunkTree(file.data(), 20).error,
            "offset 0: chunk 0xBEEF MOD_MAIN length 28 runs past the end of the file at 20");
}

TEST(ChunkReader, EveryTruncationOfTheRichFileFails) {
  std::vector<uint8_t> file = RichFile();
  for (size_t n = 0; n < file.size(); ++n) {
    std::vector<uint8_t> cut(file.begin(), file.begin() + n);
    ChunkTree t = ReadChunkTree(cut);
    EXPECT_FALSE(t.ok) << "length " << n;
    EXPECT_FALSE(CheckChunkFile(cut).ok) << "length " << n;
  }
}

TEST(ChunkReader, TruncationWithTopLengthPatchedFailsInsideExceptAtSectionBoundaries) {
  // The top length agrees with the cut, so each problem has to be found further in. Only
  // cuts between the top chunk's children leave a well-framed (if incomplete) file, and
  // the file check still rejects those for their missing sections.
  std::vector<uint8_t> file = RichFile();
  ChunkTree whole = ReadChunkTree(file);
  ASSERT_TRUE(whole.ok);
  const uint64_t editorEnd = whole.top.children[1].End();
  for (size_t n = 6; n < file.size(); ++n) {
    std::vector<uint8_t> cut(file.begin(), file.begin() + n);
    PutU32(cut, 2, static_cast<uint32_t>(n));
    ChunkTree t = ReadChunkTree(cut);
    bool boundary = n == 6 || n == 16 || n == editorEnd;
    EXPECT_EQ(t.ok, boundary) << "length " << n << ": " << t.error;
    if (!t.ok) {
      EXPECT_LE(t.errorOffset, n) << "length " << n;
    }
    EXPECT_FALSE(CheckChunkFile(cut).ok) << "length " << n;
  }
}

TEST(ChunkReader, ChildRunningPastItsParentIsReportedAtTheChild) {
  std::vector<uint8_t> file = SkeletonFile();
  PutU32(file, 18, 13);  // EDITOR_DATA would end at 29, MOD_MAIN ends at 28
  ChunkTree t = ReadChunkTree(file);
  EXPECT_FALSE(t.ok);
  EXPECT_EQ(t.errorOffset, 16u);
  EXPECT_EQ(t.error,
            "offset 16: chunk 0x3D3D EDITOR_DATA length 13 runs past the end of its parent at 28");
}

TEST(ChunkReader, LeftoverTooShortForAHeaderIsReportedWhereItStarts) {
  std::vector<uint8_t> file = SkeletonFile();
  PutU32(file, 18, 8);  // EDITOR_DATA swallows two bytes of KEYFRAMER_DATA's header
  ChunkTree t = ReadChunkTree(file);
  EXPECT_FALSE(t.ok);
  EXPECT_EQ(t.error,
            "offset 22: 2 bytes left before the end of chunk 0x3D3D EDITOR_DATA at 24, too few "
            "for a chunk header");
  // Once EDITOR_DATA's body is whole again, the remaining four bytes of the top chunk are
  // the first problem.
  std::vector<uint8_t> shifted = SkeletonFile();
  shifted.erase(shifted.begin() + 22, shifted.begin() + 24);
  PutU32(shifted, 2, 26);
  EXPECT_EQ(ReadChunkTree(shifted).error,
            "offset 22: 4 bytes left before the end of chunk 0xBEEF MOD_MAIN at 26, too few for "
            "a chunk header");
}

TEST(ChunkReader, LengthShorterThanHeaderIsRejected) {
  std::vector<uint8_t> file = SkeletonFile();
  PutU32(file, 18, 4);
  ChunkTree t = ReadChunkTree(file);
  EXPECT_FALSE(t.ok);
  EXPECT_EQ(t.errorOffset, 16u);
  EXPECT_EQ(t.error,
            "offset 16: chunk 0x3D3D EDITOR_DATA length 4 is shorter than its 6-byte "
            "header");

  std::vector<uint8_t> zero = SkeletonFile();
  PutU32(zero, 2, 0);
  EXPECT_EQ(ReadChunkTree(zero).error,
            "offset 0: chunk 0xBEEF MOD_MAIN length 0 is shorter than its 6-byte header");
}

TEST(ChunkReader, TrailingBytesAfterTheTopChunkAreRejected) {
  std::vector<uint8_t> file = SkeletonFile();
  file.insert(file.end(), {0, 0, 0, 0});
  ChunkTree t = ReadChunkTree(file);
  EXPECT_FALSE(t.ok);
  EXPECT_EQ(t.errorOffset, 28u);
  EXPECT_EQ(t.error, "offset 28: 4 trailing bytes after the top chunk");
}

TEST(ChunkReader, ContainerPayloadMustFitItsBody) {
  // LIGHT with 8 of its 12 position bytes.
  ChunkBuilder light;
  light.Begin(LIGHT).F32(1).F32(2).End();
  EXPECT_EQ(ReadChunkTree(light.Bytes()).error,
            "offset 0: chunk 0x4600 LIGHT body of 8 bytes is shorter than its 12-byte payload");

  ChunkBuilder noName;
  noName.Begin(NAMED_OBJECT).Bytes({'B', 'o', 'x'}).End();
  EXPECT_EQ(ReadChunkTree(noName.Bytes()).error,
            "offset 0: chunk 0x4000 NAMED_OBJECT has no NUL-terminated name in its body");

  ChunkBuilder faces;
  faces.Begin(MESH_FACES).U16(2).F32s({0, 0, 0, 0, 0, 0, 0, 0}).End();
  EXPECT_EQ(ReadChunkTree(faces.Bytes()).error,
            "offset 0: chunk 0x4120 MESH_FACES count 2 needs 66 payload bytes, its body has 34");

  ChunkBuilder noCount;
  noCount.Begin(MESH_FACES).U8(1).End();
  EXPECT_EQ(ReadChunkTree(noCount.Bytes()).error,
            "offset 0: chunk 0x4120 MESH_FACES body of 1 bytes has no room for its face count");
}

TEST(ChunkReader, ChildrenOfAContainerStartAfterItsPayload) {
  ChunkBuilder b;
  b.Begin(NAMED_OBJECT).Text("Box01");
  b.Begin(OBJECT_PROPERTIES).Text("x").I32(-1).I32(-1).End().End();
  ChunkTree t = ReadChunkTree(b.Bytes());
  ASSERT_TRUE(t.ok) << t.error;
  EXPECT_EQ(t.top.payloadEnd, 12u);
  ASSERT_EQ(t.top.children.size(), 1u);
  EXPECT_EQ(t.top.children[0].offset, 12u);
  EXPECT_EQ(t.top.children[0].id, OBJECT_PROPERTIES);
}

TEST(ChunkReader, UnknownIdIsALeafEvenWhenItsPayloadLooksLikeChunks) {
  ChunkBuilder b;
  b.Begin(0x1234).Begin(FILE_VERSION).U32(3).End().End();
  ChunkTree t = ReadChunkTree(b.Bytes());
  ASSERT_TRUE(t.ok) << t.error;
  EXPECT_TRUE(t.top.children.empty());
  EXPECT_EQ(t.top.PayloadSize(), 10u);
}

TEST(ChunkReader, NestingUpToTheLimitIsAcceptedAndOneDeeperIsNot) {
  ChunkTree ok = ReadChunkTree(NestedFile(kMaxChunkDepth + 1));  // depths 0 .. limit
  EXPECT_TRUE(ok.ok) << ok.error;
  ChunkTree deep = ReadChunkTree(NestedFile(kMaxChunkDepth + 2));
  EXPECT_FALSE(deep.ok);
  EXPECT_EQ(deep.errorOffset, 6u * (kMaxChunkDepth + 1));
  EXPECT_EQ(deep.error, "offset " + std::to_string(6 * (kMaxChunkDepth + 1)) +
                            ": chunk 0x3D3D EDITOR_DATA is nested deeper than " +
                            std::to_string(kMaxChunkDepth) + " levels");
}

TEST(ChunkReader, VeryDeepNestingFailsWithoutExhaustingTheStack) {
  ChunkTree t = ReadChunkTree(NestedFile(200000));
  EXPECT_FALSE(t.ok);
  EXPECT_EQ(t.errorOffset, 6u * (kMaxChunkDepth + 1));
}

TEST(ChunkReader, HugeLengthsFailCleanly) {
  std::vector<uint8_t> file = SkeletonFile();
  PutU32(file, 2, 0xFFFFFFFFu);
  EXPECT_EQ(ReadChunkTree(file).error,
            "offset 0: chunk 0xBEEF MOD_MAIN length 4294967295 runs past the end of the file at "
            "28");
  std::vector<uint8_t> child = SkeletonFile();
  PutU32(child, 24, 0xFFFFFFFAu);
  EXPECT_EQ(ReadChunkTree(child).errorOffset, 22u);
}

TEST(ChunkReader, NullBufferIsAnEmptyFile) {
  EXPECT_EQ(ReadChunkTree(nullptr, 100).error, "offset 0: the file is empty");
}

// Checks everything a result must satisfy, whatever the input.
void ExpectConsistent(const std::vector<uint8_t>& in, const std::string& label) {
  ChunkTree t = ReadChunkTree(in);
  if (t.ok) {
    EXPECT_EQ(t.top.End(), in.size()) << label;
    EXPECT_EQ(TreeInvariantError(t.top, in.size()), "") << label;
    EXPECT_TRUE(t.error.empty()) << label;
    // Decoding and printing must cope with any payload inside a well-framed tree.
    EXPECT_FALSE(FormatChunkTreeText(t.top, in.data(), in.size()).empty()) << label;
    EXPECT_FALSE(FormatChunkTreeJson(t.top, in.data(), in.size()).empty()) << label;
  } else {
    EXPECT_LE(t.errorOffset, in.size()) << label;
    EXPECT_EQ(t.error.rfind("offset " + std::to_string(t.errorOffset) + ": ", 0), 0u)
        << label << ": " << t.error;
  }
  FileCheck check = CheckChunkFile(in);
  if (check.ok) {
    EXPECT_TRUE(t.ok) << label;
  } else {
    EXPECT_FALSE(check.error.empty()) << label;
  }
}

TEST(ChunkReader, RandomGarbageNeverBreaksTheReader) {
  // Plausible headers (catalogue ids, lengths near the remaining size) mixed with noise,
  // so that many inputs get past the first chunk.
  static const uint16_t kIds[] = {MOD_MAIN,       EDITOR_DATA, NAMED_OBJECT, MESH_FACES,
                                  LIGHT,          SPOT_LIGHT,  CAMERA,       KEYFRAMER_DATA,
                                  POSITION_TRACK, NODE_HEADER, 0x1234};
  Lcg rng{12345};
  int parsed = 0;
  for (int round = 0; round < 4000; ++round) {
    std::vector<uint8_t> in(rng.Next() % 80);
    for (auto& b : in) b = static_cast<uint8_t>(rng.Next());
    for (size_t at = 0; at + 6 <= in.size(); at += 6 + rng.Next() % 8) {
      if (rng.Next() % 3 == 0) continue;
      PutU16(in, at, kIds[rng.Next() % (sizeof kIds / sizeof kIds[0])]);
      PutU32(in, at + 2, static_cast<uint32_t>(in.size() - at - rng.Next() % 4));
    }
    ExpectConsistent(in, "round " + std::to_string(round));
    if (ReadChunkTree(in).ok) ++parsed;
  }
  EXPECT_GT(parsed, 100);  // the loop reaches past the top header often enough
}

TEST(ChunkReader, MutatedRichFilesNeverBreakTheReader) {
  const std::vector<uint8_t> file = RichFile();
  Lcg rng{777};
  for (int round = 0; round < 3000; ++round) {
    std::vector<uint8_t> in = file;
    int flips = 1 + rng.Next() % 4;
    for (int i = 0; i < flips; ++i) in[rng.Next() % in.size()] = static_cast<uint8_t>(rng.Next());
    if (rng.Next() % 4 == 0) in.resize(rng.Next() % in.size());
    ExpectConsistent(in, "round " + std::to_string(round));
  }
}

TEST(ChunkReader, ReadFileBytesReportsAMissingFile) {
  std::vector<uint8_t> bytes{1, 2, 3};
  std::string error;
  EXPECT_FALSE(ReadFileBytes("/nonexistent/dir/file.tsm", &bytes, &error));
  EXPECT_TRUE(bytes.empty());
  EXPECT_EQ(error, "No such file or directory");
}

TEST(ChunkReader, ReadFileBytesReadsWhatWasWritten) {
  std::string path = testing::TempDir() + "reader_bytes_" + std::to_string(::getpid()) + ".tsm";
  std::vector<uint8_t> file = RichFile();
  ASSERT_TRUE(WriteFileBytes(path, file));
  std::vector<uint8_t> back;
  std::string error;
  ASSERT_TRUE(ReadFileBytes(path.c_str(), &back, &error)) << error;
  ExpectBytes(back, file);
  std::remove(path.c_str());
}

// A regular file is mapped, a pipe read; both give the file's bytes, and a missing file
// the reason ReadFileBytes gives. Release and the walk observer change no byte read.
TEST(ChunkReader, MappedFileGivesTheBytesOfAFileOrAPipe) {
  const std::string path =
      testing::TempDir() + "reader_mapped_" + std::to_string(::getpid()) + ".tsm";
  const std::vector<uint8_t> file = RichFile();
  ASSERT_TRUE(WriteFileBytes(path, file));
  const struct {
    std::string path;
    bool ok;
    const char* error;
  } cases[] = {{path, true, ""},
               {"/nonexistent/dir/file.tsm", false, "No such file or directory"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    MappedFile mapped;
    std::string error;
    ASSERT_EQ(mapped.Open(c.path.c_str(), &error), c.ok);
    EXPECT_EQ(error, c.error);
    if (!c.ok) continue;
    uint64_t walked = 0;
    WalkObserver before = SetWalkObserver(
        [](uint64_t offset, int, void* count) { *static_cast<uint64_t*>(count) += offset > 0; },
        &walked);
    mapped.Release(mapped.Size());
    EXPECT_TRUE(CheckChunkFile(mapped.Data(), mapped.Size(), false).ok);
    SetWalkObserver(before, nullptr);
    EXPECT_GT(walked, 0u);
    ExpectBytes(std::vector<uint8_t>(mapped.Data(), mapped.Data() + mapped.Size()), file);
  }
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ASSERT_EQ(::write(fds[1], file.data(), file.size()), static_cast<ssize_t>(file.size()));
  ::close(fds[1]);
  MappedFile fromPipe;
  std::string error;
  ASSERT_TRUE(fromPipe.Open(("/dev/fd/" + std::to_string(fds[0])).c_str(), &error)) << error;
  ExpectBytes(std::vector<uint8_t>(fromPipe.Data(), fromPipe.Data() + fromPipe.Size()), file);
  ::close(fds[0]);
  std::remove(path.c_str());
}

}  // namespace
}  // namespace tsm
