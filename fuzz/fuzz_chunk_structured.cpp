// The chunk reader on files whose lengths are always consistent: the input is read as a
// program that opens and closes chunks of the catalogue's ids (and odd ones) and fills
// their payloads, under the skeleton every file has. The framing must then parse, so the
// fuzzer spends its time in the payload decoders and the checks instead of being stopped
// by a wrong length at offset 0.
#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "reader/chunk_dump.h"
#include "reader/chunk_reader.h"
#include "writer/chunk_ids.h"

namespace {

class Program {
 public:
  Program(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool Done() const { return pos_ >= size_; }
  uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  uint16_t Word() { return static_cast<uint16_t>(Byte() | (Byte() << 8)); }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

const std::vector<uint16_t>& KnownIds() {
  static const std::vector<uint16_t> ids = [] {
    std::vector<uint16_t> v;
    for (uint32_t id = 0; id <= 0xFFFF; ++id)
      if (tsm::ChunkName(static_cast<uint16_t>(id)) != nullptr) v.push_back(uint16_t(id));
    return v;
  }();
  return ids;
}

class Builder {
 public:
  // Opens a chunk; its length is patched when it closes.
  void Open(uint16_t id) {
    open_.push_back(out_.size());
    Put16(id);
    Put16(0);
    Put16(0);
  }
  void Close() {
    size_t at = open_.back();
    open_.pop_back();
    uint32_t length = static_cast<uint32_t>(out_.size() - at);
    for (int i = 0; i < 4; ++i) out_[at + 2 + i] = static_cast<uint8_t>(length >> (8 * i));
  }
  void Put(uint8_t b) { out_.push_back(b); }
  void Put16(uint16_t w) {
    Put(static_cast<uint8_t>(w));
    Put(static_cast<uint8_t>(w >> 8));
  }
  size_t Depth() const { return open_.size(); }
  std::vector<uint8_t>& Bytes() { return out_; }

 private:
  std::vector<uint8_t> out_;
  std::vector<size_t> open_;
};

// One chunk of the program's choosing, with the payload its layout asks for; containers
// stay open.
void Chunk(Program& p, Builder& b) {
  const uint8_t op = p.Byte();
  const uint16_t id = (op & 0x80) ? p.Word() : KnownIds()[p.Byte() % KnownIds().size()];
  const tsm::ChunkLayout layout = tsm::LayoutOf(id);
  b.Open(id);
  switch (layout.kind) {
    case tsm::BodyKind::kLeaf: {
      size_t n = p.Byte();
      if (op & 0x40) n = n * 4;  // room for arrays of records
      for (size_t i = 0; i < n; ++i) b.Put(p.Byte());
      b.Close();
      return;
    }
    case tsm::BodyKind::kChildren:
      break;
    case tsm::BodyKind::kFixedThenChildren:
      for (uint32_t i = 0; i < layout.fixedSize; ++i) b.Put(p.Byte());
      break;
    case tsm::BodyKind::kTextThenChildren: {
      size_t n = p.Byte() % 16;
      for (size_t i = 0; i < n; ++i) b.Put(static_cast<uint8_t>(p.Byte() | 1));
      b.Put(0);
      break;
    }
    case tsm::BodyKind::kFacesThenChildren: {
      uint16_t count = p.Byte() % 8;
      b.Put16(count);
      for (uint32_t i = 0; i < count * tsm::kFaceRecordSize; ++i) b.Put(p.Byte());
      break;
    }
  }
  if (!(op & 0x20)) b.Close();  // an empty container, or one that takes the next chunks
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Program p(data, size);
  Builder b;
  b.Open(p.Byte() & 1 ? tsm::MAIN : tsm::MOD_MAIN);
  b.Open(tsm::FILE_VERSION);
  for (int i = 0; i < 4; ++i) b.Put(p.Byte());
  b.Close();
  for (uint16_t section : {uint16_t(tsm::EDITOR_DATA), uint16_t(tsm::KEYFRAMER_DATA)}) {
    b.Open(section);
    const size_t base = b.Depth();
    while (!p.Done()) {
      const uint8_t op = p.Byte();
      if (op == 0xFF) break;  // on to the next section
      if (op >= 0xC0 && b.Depth() > base)
        b.Close();
      else if (b.Depth() < 200)
        Chunk(p, b);
    }
    while (b.Depth() >= base) b.Close();
  }
  b.Close();

  const std::vector<uint8_t>& file = b.Bytes();
  const tsm::FileCheck check = tsm::CheckChunkFile(file);
  if (!check.tree.ok) __builtin_trap();  // consistent lengths always frame
  tsm::FormatChunkTreeText(check.tree.top, file.data(), file.size());
  const std::string json = tsm::FormatChunkTreeJson(check.tree.top, file.data(), file.size());
  if (!nlohmann::json::accept(json)) __builtin_trap();
  const tsm::FileCheck lean = tsm::CheckChunkFile(file, false);
  if (lean.ok != check.ok || lean.error != check.error) __builtin_trap();
  if (json != tsm::FormatChunkTreeJson(lean.tree.top, file.data(), file.size())) __builtin_trap();
  return 0;
}
