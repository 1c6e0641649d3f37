#include <gtest/gtest.h>

#include <cstdint>

#include "tests/test_util.h"
#include "writer/chunk_io.h"
#include "writer/file_writer.h"

namespace tsm {
namespace {

TEST(ChunkFraming, FileVersionIsTenExactBytes) {
  MemoryStream s;
  ASSERT_EQ(WriteTopChunk(FILE_VERSION, s, nullptr), 1);
  ExpectBytes(s.Bytes(), {0x02, 0x00, 0x0A, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00});
}

TEST(ChunkFraming, UnknownIdIsBareHeader) {
  MemoryStream s;
  ASSERT_EQ(WriteTopChunk(0x1234, s, nullptr), 1);
  ExpectBytes(s.Bytes(), {0x34, 0x12, 0x06, 0x00, 0x00, 0x00});
}

TEST(ChunkFraming, OnlyLowSixteenBitsOfIdCount) {
  MemoryStream s;
  ASSERT_EQ(WriteTopChunk(0x7FFF0002, s, nullptr), 1);
  ExpectBytes(s.Bytes(), {0x02, 0x00, 0x0A, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00});
}

TEST(ChunkFraming, SkeletonBytes) {
  MemoryStream s;
  ASSERT_EQ(WriteTopChunk(MOD_MAIN, s, nullptr), 1);
  // MOD_MAIN, FILE_VERSION, the editor section of an empty scene (mesh version and
  // master scale), then the keyframer section.
  ExpectBytes(s.Bytes(), {0xEF, 0xBE, 48,   0, 0, 0,                       //
                          0x02, 0x00, 0x0A, 0, 0, 0, 0x03, 0, 0,    0,     //
                          0x3D, 0x3D, 26,   0, 0, 0,                       //
                          0x3E, 0x3D, 0x0A, 0, 0, 0, 0x03, 0, 0,    0,     //
                          0x00, 0x01, 0x0A, 0, 0, 0, 0,    0, 0x80, 0x3F,  //
                          0x00, 0xB0, 6,    0, 0, 0});
}

TEST(ChunkFraming, MainWritesSameChildrenAsModMain) {
  MemoryStream a, b;
  ASSERT_EQ(WriteTopChunk(MOD_MAIN, a, nullptr), 1);
  ASSERT_EQ(WriteTopChunk(MAIN, b, nullptr), 1);
  ASSERT_EQ(a.Bytes().size(), b.Bytes().size());
  EXPECT_EQ(b.Bytes()[0], 0x4D);
  EXPECT_EQ(b.Bytes()[1], 0x4D);
  EXPECT_TRUE(std::equal(a.Bytes().begin() + 2, a.Bytes().end(), b.Bytes().begin() + 2));
}

TEST(ChunkFraming, ShortWriteAtEveryOffsetFailsWithoutPatching) {
  MemoryStream good;
  ASSERT_EQ(WriteTopChunk(MOD_MAIN, good, nullptr), 1);
  for (uint64_t at = 0; at < good.Bytes().size(); ++at) {
    ShortWriteStream s(at);
    EXPECT_EQ(WriteTopChunk(MOD_MAIN, s, nullptr), 0) << "fail at " << at;
    // Nothing is written after the failure, so the top length never got patched: it
    // still holds the placeholder (the position of the length field, 2) when present.
    if (s.Bytes().size() >= 6) {
      EXPECT_EQ(s.Bytes()[2], 2) << "fail at " << at;
    }
    EXPECT_LE(s.Bytes().size(), at);
  }
}

TEST(ChunkFraming, ShortWriteInFileVersionStopsBeforeEditorData) {
  ShortWriteStream s(12);  // inside the version number
  EXPECT_EQ(WriteTopChunk(MOD_MAIN, s, nullptr), 0);
  EXPECT_EQ(s.Bytes().size(), 12u);
  EXPECT_EQ(s.ShortWrites(), 1);
}

TEST(ChunkFraming, MemoryStreamThatCannotHoldAWriteAnswersAShortCount) {
  MemoryStream s;
  ASSERT_EQ(WriteTopChunk(FILE_VERSION, s, nullptr), 1);
  // A position whose end does not fit a size_t, and one no vector can reach: both are a
  // failed write, never a write somewhere in memory or an exception.
  for (uint64_t at : {UINT64_MAX - 1, uint64_t{1} << 63}) {
    s.Seek(at);
    EXPECT_EQ(s.Write("abcd", 4), 0u) << at;
    EXPECT_FALSE(WriteU32(s, 7)) << at;
  }
  ExpectBytes(s.Bytes(), {0x02, 0x00, 0x0A, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00});
}

}  // namespace
}  // namespace tsm
