// The run's lookup tables and record stores, made for scenes of a million nodes: an index
// that keeps its slots in one array (no allocation per element, no list to walk on a
// lookup), and a store that hands out records from large blocks, so that making and
// freeing the records of a run costs a few allocations, not one per record.
#ifndef TSM_RUN_FLAT_INDEX_H
#define TSM_RUN_FLAT_INDEX_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

namespace tsm {

// Hashes of the keys the run indexes by: pointers (mixed, since their low bits are
// alike) and texts.
struct FlatHash {
  size_t operator()(const void* p) const {
    uint64_t x = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(p));
    x ^= x >> 29;
    x *= 0xBF58476D1CE4E5B9ull;
    return static_cast<size_t>(x ^ (x >> 32));
  }
  size_t operator()(std::string_view s) const { return std::hash<std::string_view>()(s); }
};

// A map from Key to Value that keeps the first value inserted for a key. Open addressing
// with linear probing over a power-of-two number of slots, at most half of them used.
template <class Key, class Value>
class FlatIndex {
 public:
  // Makes room for n keys without growing.
  void Reserve(size_t n) {
    size_t want = 16;
    while (want < 2 * n) want *= 2;
    if (want > slots_.size()) Rehash(want);
  }

  // Inserts key with value unless key is there already; answers true when it inserted.
  bool Emplace(const Key& key, const Value& value) {
    if (2 * (used_ + 1) > slots_.size()) Rehash(slots_.empty() ? 16 : 2 * slots_.size());
    const size_t hash = FlatHash()(key);
    for (size_t i = hash & mask_;; i = (i + 1) & mask_) {
      Slot& s = slots_[i];
      if (!s.used) {
        s = Slot{key, value, hash, true};
        ++used_;
        return true;
      }
      if (s.hash == hash && s.key == key) return false;
    }
  }

  // The value of key, or null when key is not there.
  const Value* Find(const Key& key) const {
    if (used_ == 0) return nullptr;
    const size_t hash = FlatHash()(key);
    for (size_t i = hash & mask_;; i = (i + 1) & mask_) {
      const Slot& s = slots_[i];
      if (!s.used) return nullptr;
      if (s.hash == hash && s.key == key) return &s.value;
    }
  }

  size_t Size() const { return used_; }

  // Empties the index and gives its memory back.
  void Clear() {
    std::vector<Slot>().swap(slots_);
    used_ = 0;
    mask_ = 0;
  }

 private:
  struct Slot {
    Key key{};
    Value value{};
    size_t hash = 0;
    bool used = false;
  };

  void Rehash(size_t count) {
    std::vector<Slot> old(count);
    old.swap(slots_);
    mask_ = count - 1;
    for (const Slot& s : old) {
      if (!s.used) continue;
      size_t i = s.hash & mask_;
      while (slots_[i].used) i = (i + 1) & mask_;
      slots_[i] = s;
    }
  }

  std::vector<Slot> slots_;
  size_t used_ = 0;
  size_t mask_ = 0;
};

// Records of type T made from blocks of many, which stay put until Clear: a record's
// address never changes while the store lives.
template <class T>
class RecordStore {
 public:
  static constexpr size_t kFirstBlock = 64;  // records in the first block; each block
  static constexpr size_t kLargestBlock = 4096;  // doubles the last, up to this

  // A new record, value-initialised.
  T* Make() {
    if (blocks_.empty() || inLast_ == lastSize_) {
      lastSize_ = blocks_.empty() ? kFirstBlock : std::min(2 * lastSize_, kLargestBlock);
      blocks_.emplace_back(new T[lastSize_]);
      inLast_ = 0;
    }
    T* record = &blocks_.back()[inLast_++];
    *record = T();
    return record;
  }

  // Frees every record.
  void Clear() {
    blocks_.clear();
    inLast_ = 0;
  }

 private:
  std::vector<std::unique_ptr<T[]>> blocks_;
  size_t lastSize_ = 0;  // records in the last block
  size_t inLast_ = 0;    // of which in use
};

}  // namespace tsm

#endif  // TSM_RUN_FLAT_INDEX_H
