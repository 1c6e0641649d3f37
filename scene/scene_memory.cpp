#include "scene/scene_memory.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(memory_sanitizer) || \
    __has_feature(thread_sanitizer)
#define TSM_SCENE_MEMORY_HEAP_ONLY 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__) || !defined(__linux__)
#define TSM_SCENE_MEMORY_HEAP_ONLY 1
#endif

#ifndef TSM_SCENE_MEMORY_HEAP_ONLY
#include <sys/mman.h>

#include <algorithm>
#include <mutex>
#endif

namespace tsm {

namespace {

thread_local int packedDepth = 0;

void* HeapAllocate(size_t bytes) {
  void* p = std::malloc(bytes ? bytes : 1);
  if (!p) throw std::bad_alloc();
  return p;
}

#ifndef TSM_SCENE_MEMORY_HEAP_ONLY

constexpr size_t kPage = 4096;
constexpr size_t kBlockBytes = 4 * kLargeBlock;  // a shared block of packed arrays

size_t RoundUp(size_t n, size_t to) {
  return (n + to - 1) / to * to;
}

// A mapping of `bytes` (a multiple of the small page, far below the size type's limit:
// SceneAllocate refuses larger sizes) starting on a large page, with its whole large pages
// advised; nullptr when the system refuses.
char* MapAligned(size_t bytes) {
  size_t raw = bytes + kLargeBlock;
  void* m = mmap(nullptr, raw, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (m == MAP_FAILED) return nullptr;
  uintptr_t start = reinterpret_cast<uintptr_t>(m);
  uintptr_t aligned = (start + kLargeBlock - 1) & ~uintptr_t(kLargeBlock - 1);
  if (aligned > start) munmap(m, aligned - start);
  size_t tail = start + raw - (aligned + bytes);
  if (tail > 0) munmap(reinterpret_cast<void*>(aligned + bytes), tail);
  size_t advised = bytes / kLargeBlock * kLargeBlock;
  // Advice only: without large pages the mapping works as well, only slower to touch.
  if (advised > 0) madvise(reinterpret_cast<void*>(aligned), advised, MADV_HUGEPAGE);
  return reinterpret_cast<char*>(aligned);
}

struct Block {
  char* base;
  size_t used;  // bytes handed out from base on
  size_t live;  // arrays not given back yet
};

// Emptied blocks kept mapped for the next arrays, as an allocator keeps freed memory: a
// scene loaded after another one freed reuses its pages instead of touching new ones.
constexpr size_t kKeptBlocks = 4;

struct Packed {
  Packed() { kept.reserve(kKeptBlocks); }  // so that freeing never allocates
  std::mutex lock;
  std::vector<Block> blocks;  // in use, sorted by base
  char* current = nullptr;    // the block new arrays go to
  std::vector<char*> kept;    // emptied blocks, still mapped
};

Packed& Pack() {
  static Packed* pack = new Packed;  // never destroyed: scenes in statics free late
  return *pack;
}

std::atomic<size_t> blockCount{0};
std::atomic<size_t> keptCount{0};
std::atomic<size_t> largeCount{0};

void* PackedAllocate(size_t bytes) {
  size_t need = RoundUp(bytes ? bytes : 1, 16);
  Packed& pack = Pack();
  std::lock_guard<std::mutex> hold(pack.lock);
  auto find = [&](const char* base) {
    return std::lower_bound(pack.blocks.begin(), pack.blocks.end(), base,
                            [](const Block& b, const char* p) { return b.base < p; });
  };
  if (pack.current) {
    Block& b = *find(pack.current);
    if (kBlockBytes - b.used >= need) {
      char* p = b.base + b.used;
      b.used += need;
      ++b.live;
      return p;
    }
  }
  char* base = nullptr;
  if (!pack.kept.empty()) {
    base = pack.kept.back();
    pack.kept.pop_back();
    --keptCount;
  } else {
    base = MapAligned(kBlockBytes);
    if (!base) throw std::bad_alloc();
  }
  try {
    pack.blocks.insert(find(base), Block{base, need, 1});
  } catch (...) {
    munmap(base, kBlockBytes);
    throw;
  }
  ++blockCount;
  // A block that still has room stays current unless the new one has more.
  if (pack.current && kBlockBytes - find(pack.current)->used >= kBlockBytes - need) {
    return base;
  }
  pack.current = base;
  return base;
}

// True when p was packed (and is now given back).
bool PackedFree(void* p) {
  if (blockCount.load(std::memory_order_relaxed) == 0) return false;
  Packed& pack = Pack();
  std::lock_guard<std::mutex> hold(pack.lock);
  char* c = static_cast<char*>(p);
  auto it = std::upper_bound(pack.blocks.begin(), pack.blocks.end(), c,
                             [](const char* q, const Block& b) { return q < b.base; });
  if (it == pack.blocks.begin()) return false;
  --it;
  if (c >= it->base + kBlockBytes) return false;
  if (--it->live == 0) {
    if (it->base == pack.current) pack.current = nullptr;
    if (pack.kept.size() < kKeptBlocks) {
      pack.kept.push_back(it->base);
      ++keptCount;
    } else {
      munmap(it->base, kBlockBytes);
    }
    pack.blocks.erase(it);
    --blockCount;
  }
  return true;
}

#endif  // TSM_SCENE_MEMORY_HEAP_ONLY

}  // namespace

void* SceneAllocate(size_t bytes) {
  // Beyond what any system maps (64 PiB; half the space where size_t has 32 bits): refused
  // here, before a size is rounded up or handed to an allocator that may abort on it.
  constexpr size_t kMostBytes = sizeof(size_t) > 4 ? size_t(-1) >> 8 : size_t(-1) >> 1;
  if (bytes > kMostBytes) throw std::bad_alloc();
#ifndef TSM_SCENE_MEMORY_HEAP_ONLY
  if (bytes >= kLargeBlock) {
    char* p = MapAligned(RoundUp(bytes, kPage));
    if (!p) throw std::bad_alloc();
    ++largeCount;
    return p;
  }
  if (packedDepth > 0) return PackedAllocate(bytes);
#endif
  return HeapAllocate(bytes);
}

void SceneFree(void* p, size_t bytes) noexcept {
  if (!p) return;
#ifndef TSM_SCENE_MEMORY_HEAP_ONLY
  if (bytes >= kLargeBlock) {
    munmap(p, RoundUp(bytes, kPage));
    --largeCount;
    return;
  }
  if (PackedFree(p)) return;
#else
  (void)bytes;
#endif
  std::free(p);
}

PackedScope::PackedScope() {
  ++packedDepth;
}

PackedScope::~PackedScope() {
  --packedDepth;
}

SceneMemoryStats SceneMemoryNow() {
  SceneMemoryStats s;
#ifndef TSM_SCENE_MEMORY_HEAP_ONLY
  s.mapped = true;
  s.packedBlocks = blockCount.load();
  s.keptBlocks = keptCount.load();
  s.largeArrays = largeCount.load();
#endif
  return s;
}

}  // namespace tsm
