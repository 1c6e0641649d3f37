#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "reader/chunk_dump.h"
#include "reader/chunk_reader.h"
#include "tests/test_util.h"
#include "writer/chunk_io.h"
#include "writer/file_writer.h"

namespace tsm {
namespace {

std::string TempPath(const std::string& name) {
  return testing::TempDir() + "file_stream_" + std::to_string(::getpid()) + "_" + name;
}

std::vector<uint8_t> FileBytes(const std::string& path) {
  std::vector<uint8_t> bytes;
  std::string error;
  EXPECT_TRUE(ReadFileBytes(path.c_str(), &bytes, &error)) << error;
  return bytes;
}

// pad filler bytes, then a top chunk with nested chunks of several sizes, so that with a
// small buffer the length fields land before, inside and across the buffered bytes.
bool WriteNestedSample(OutStream& s, int pad) {
  for (int i = 0; i < pad; ++i) {
    if (!WriteU8(s, 0xAA)) return false;
  }
  return ChunkFraming(s, MOD_MAIN, [&] {
           return WriteTopChunk(FILE_VERSION, s, nullptr) == 1 &&
                  ChunkFraming(s, EDITOR_DATA,
                               [&] {
                                 return ChunkFraming(
                                            s, NAMED_OBJECT,
                                            [&] {
                                              return WriteText(s, "Straddle") &&
                                                     ChunkFraming(s, OBJECT_PROPERTIES, [&] {
                                                       return WriteText(s, "") && WriteI32(s, -1) &&
                                                              WriteI32(s, -1);
                                                     }) == 1;
                                            }) == 1 &&
                                        ChunkFraming(s, MESH_VERTICES, [&] {
                                          bool ok = WriteU16(s, 5);
                                          for (int i = 0; i < 15 && ok; ++i)
                                            ok = WriteF32(s, i * 0.5f);
                                          return ok;
                                        }) == 1;
                               }) == 1 &&
                  WriteKeyframerSection(s);
         }) == 1;
}

TEST(FileStream, PatchingABufferedLengthCostsNoSystemWrite) {
  std::string path = TempPath("buffered.tsm");
  FileStream fs;
  ASSERT_TRUE(fs.Open(path.c_str()));
  ASSERT_EQ(WriteTopChunk(MOD_MAIN, fs, nullptr), 1);
  EXPECT_EQ(fs.SystemWrites(), 0);  // four chunks patched, all in the buffer
  EXPECT_EQ(fs.PositionedWrites(), 0);
  ASSERT_EQ(fs.Close(), 0);
  EXPECT_EQ(fs.SystemWrites(), 1);  // the one flush at close
  EXPECT_EQ(fs.PositionedWrites(), 0);

  MemoryStream mem;
  ASSERT_EQ(WriteTopChunk(MOD_MAIN, mem, nullptr), 1);
  ExpectBytes(FileBytes(path), mem.Bytes());
  std::remove(path.c_str());
}

TEST(FileStream, PatchingALengthAlreadyInTheFileIsOnePositionedWrite) {
  std::string path = TempPath("positioned.tsm");
  FileStream fs(8);
  ASSERT_TRUE(fs.Open(path.c_str()));
  ChunkMark mark;
  ASSERT_TRUE(OpenChunk(fs, 0x1234, &mark));
  std::vector<uint8_t> body(20);
  for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<uint8_t>(i + 1);
  ASSERT_TRUE(WriteBytes(fs, body.data(), body.size()));
  const int systemBefore = fs.SystemWrites();
  const int positionedBefore = fs.PositionedWrites();
  EXPECT_EQ(systemBefore, 3);  // 24 of the 26 bytes went out in buffers of 8
  ASSERT_TRUE(CloseChunk(fs, mark));
  EXPECT_EQ(fs.SystemWrites() - systemBefore, 1);
  EXPECT_EQ(fs.PositionedWrites() - positionedBefore, 1);
  EXPECT_EQ(fs.Tell(), 26u);
  ASSERT_EQ(fs.Close(), 0);

  std::vector<uint8_t> expected = {0x34, 0x12, 26, 0, 0, 0};
  expected.insert(expected.end(), body.begin(), body.end());
  ExpectBytes(FileBytes(path), expected);
  std::remove(path.c_str());
}

TEST(FileStream, SmallBuffersGiveTheSameBytesAsMemory) {
  std::string path = TempPath("small.tsm");
  int positioned = 0;
  for (int pad = 0; pad < 8; ++pad) {
    MemoryStream mem;
    ASSERT_TRUE(WriteNestedSample(mem, pad));
    for (size_t size : {1, 2, 3, 5, 7, 8, 11, 13, 16, 17, 24, 32, 64}) {
      SCOPED_TRACE("pad " + std::to_string(pad) + ", buffer " + std::to_string(size));
      FileStream fs(size);
      ASSERT_TRUE(fs.Open(path.c_str()));
      ASSERT_TRUE(WriteNestedSample(fs, pad));
      positioned += fs.PositionedWrites();
      ASSERT_EQ(fs.Close(), 0);
      std::vector<uint8_t> bytes = FileBytes(path);
      ExpectBytes(bytes, mem.Bytes());
      if (pad == 0) {
        EXPECT_TRUE(CheckChunkFile(bytes).ok);
      }
    }
  }
  EXPECT_GT(positioned, 0);  // small buffers did send patches to the file
  std::remove(path.c_str());
}

// Seeks anywhere up to well past the end, each followed by writes of any size, so that
// writes land before the buffer, across its start, inside it, past its end and beyond a
// gap; the file must hold what a memory stream holds (gaps read back as zero bytes).
TEST(FileStream, RandomSeeksAndWritesGiveTheSameBytesAsMemory) {
  std::string path = TempPath("random.tsm");
  uint32_t state = 4242;
  auto next = [&state] {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
  };
  int positioned = 0;
  for (int round = 0; round < 400; ++round) {
    const size_t bufferSize = 1 + next() % 24;
    SCOPED_TRACE("round " + std::to_string(round) + ", buffer " + std::to_string(bufferSize));
    FileStream fs(bufferSize);
    ASSERT_TRUE(fs.Open(path.c_str()));
    MemoryStream mem;
    uint64_t end = 0;
    for (int op = 0; op < 40; ++op) {
      if (next() % 3 == 0) {
        uint64_t to = next() % (end + 40);
        EXPECT_TRUE(fs.Seek(to));
        mem.Seek(to);
      } else {
        std::vector<uint8_t> data(1 + next() % 50);
        for (uint8_t& b : data) b = static_cast<uint8_t>(next());
        ASSERT_EQ(fs.Write(data.data(), data.size()), data.size());
        mem.Write(data.data(), data.size());
        end = std::max<uint64_t>(end, mem.Tell());
      }
      ASSERT_EQ(fs.Tell(), mem.Tell());
    }
    positioned += fs.PositionedWrites();
    ASSERT_EQ(fs.Close(), 0);
    ExpectBytes(FileBytes(path), mem.Bytes());
  }
  EXPECT_GT(positioned, 0);  // writes before the buffer did happen
  std::remove(path.c_str());
}

TEST(FileStream, WriteTheSystemRefusesAnswersAShortCountAndCloseFails) {
  if (::access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full here";
  FileStream fs(4);
  ASSERT_TRUE(fs.Open("/dev/full"));
  const uint8_t data[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  EXPECT_EQ(fs.Write(data, sizeof data), 4u);  // the buffer took 4, the flush failed
  EXPECT_EQ(fs.Write(data, 1), 0u);            // nothing after a failure
  EXPECT_NE(fs.Close(), 0);
}

TEST(FileStream, FailedFlushAtCloseIsReported) {
  if (::access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full here";
  FileStream fs;
  ASSERT_TRUE(fs.Open("/dev/full"));
  EXPECT_EQ(WriteTopChunk(MOD_MAIN, fs, nullptr), 1);  // all of it fits in the buffer
  EXPECT_NE(fs.Close(), 0);
}

TEST(FileStream, StreamThatIsNotOpenWritesNothing) {
  FileStream fs;
  EXPECT_FALSE(fs.Open("/nonexistent/dir/out.tsm"));
  EXPECT_FALSE(fs.IsOpen());
  EXPECT_EQ(fs.Write("x", 1), 0u);
  EXPECT_EQ(WriteTopChunk(MOD_MAIN, fs, nullptr), 0);
  EXPECT_EQ(fs.Close(), 0);
}

// Counts bytes without storing them, except the first 16, and lets a test jump ahead as
// if gigabytes had been written.
class CountingStream : public OutStream {
 public:
  size_t Write(const void* data, size_t size) override {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < size; ++i) {
      if (pos_ + i < sizeof head) head[pos_ + i] = p[i];
    }
    pos_ += size;
    return size;
  }
  uint64_t Tell() override { return pos_; }
  bool Seek(uint64_t pos) override {
    pos_ = pos;
    return true;
  }
  uint32_t LengthAt(size_t at) const {
    return uint32_t(head[at]) | (uint32_t(head[at + 1]) << 8) | (uint32_t(head[at + 2]) << 16) |
           (uint32_t(head[at + 3]) << 24);
  }

  uint8_t head[16] = {};

 private:
  uint64_t pos_ = 0;
};

TEST(FileStream, ChunkJustUnderFourGibibytesGetsItsLength) {
  CountingStream s;
  ChunkMark mark;
  ASSERT_TRUE(OpenChunk(s, EDITOR_DATA, &mark));
  s.Seek(0xFFFFFFFFull);  // the body ends one byte short of 4 GiB
  EXPECT_TRUE(CloseChunk(s, mark));
  EXPECT_EQ(s.LengthAt(2), 0xFFFFFFFFu);
  EXPECT_EQ(s.Tell(), 0xFFFFFFFFull);
}

TEST(FileStream, ChunkOfFourGibibytesOrMoreFailsInsteadOfWrapping) {
  for (uint64_t start : {0ull, 10ull}) {
    for (uint64_t length : {0x100000000ull, 0x100000006ull, 0x300000000ull}) {
      CountingStream s;
      s.Seek(start);
      ChunkMark mark;
      ASSERT_TRUE(OpenChunk(s, EDITOR_DATA, &mark));
      s.Seek(start + length);
      EXPECT_FALSE(CloseChunk(s, mark)) << "start " << start << ", length " << length;
      // The placeholder (the length field's own position) is still there.
      EXPECT_EQ(s.LengthAt(static_cast<size_t>(start) + 2), start + 2);
    }
  }
  CountingStream s;
  EXPECT_EQ(ChunkFraming(s, MOD_MAIN, [&] { return s.Seek(0x100000000ull); }), 0);
}

}  // namespace
}  // namespace tsm
