#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>

#include "reader/chunk_reader.h"
#include "tests/test_util.h"
#include "writer/byte_batch.h"
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

// A chunk gathered by ChunkBatch gives the bytes of the one framing mechanism for every
// body size, below, at and past the batch (where it goes on as an open chunk), inside a
// parent chunk; a body that fits goes out with its length and patches nothing.
TEST(ChunkBatch, GivesTheBytesOfTheFramingForEveryBodySize) {
  const size_t room = ChunkBatch::kSize - 6;
  const std::string path = testing::TempDir() + "chunk_batch_" + std::to_string(::getpid());
  for (size_t size : {size_t(0), size_t(1), room - 1, room, room + 1, 3 * room + 7}) {
    SCOPED_TRACE("body of " + std::to_string(size) + " bytes");
    auto body = [size](size_t i) { return static_cast<uint8_t>(i * 31 + size); };
    auto parent = [](OutStream& s, auto&& child) {
      return ChunkFraming(s, 0x1111, [&] { return WriteU16(s, 7) && child(s); }) == 1;
    };
    MemoryStream framed;
    ASSERT_TRUE(parent(framed, [&](OutStream& s) {
      return ChunkFraming(s, 0x2222, [&] {
        bool ok = true;
        for (size_t i = 0; i < size && ok; ++i) ok = WriteU8(s, body(i));
        return ok;
      }) == 1;
    }));
    auto batched = [&](OutStream& s) {
      ChunkBatch batch(s, 0x2222);
      for (size_t i = 0; i < size; i += 3) {  // in pieces of up to 3 bytes
        size_t n = std::min<size_t>(3, size - i);
        uint8_t* p = batch.Reserve(n);
        if (p == nullptr) return false;
        for (size_t k = 0; k < n; ++k) p[k] = body(i + k);
      }
      return batch.Finish();
    };
    MemoryStream memory;
    ASSERT_TRUE(parent(memory, batched));
    ExpectBytes(memory.Bytes(), framed.Bytes());

    FileStream file(1024);  // the parent's header leaves the buffer for every large body
    ASSERT_TRUE(file.Open(path.c_str()));
    ASSERT_TRUE(parent(file, batched));
    const int expectedPatches = (size > 1024 ? 1 : 0) + (size > room ? 1 : 0);
    EXPECT_EQ(file.PositionedWrites(), expectedPatches);
    ASSERT_EQ(file.Close(), 0);
    std::vector<uint8_t> back;
    std::string error;
    ASSERT_TRUE(ReadFileBytes(path.c_str(), &back, &error)) << error;
    ExpectBytes(back, framed.Bytes());
  }
  std::remove(path.c_str());
}

}  // namespace
}  // namespace tsm
