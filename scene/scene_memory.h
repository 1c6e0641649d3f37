// Storage for the in-memory scene's bulk arrays (mesh vertices and faces, controller
// keys). A loader writes a scene of tens or hundreds of MB into memory the process has
// never touched, and a first touch of a small page is the dearest part of a large load on
// a virtual machine. So the arrays ask the system for large pages where it offers them:
// - an array of kLargeBlock bytes or more gets a mapping of its own whose aligned body is
//   advised for large pages (its tail stays in small pages, so it holds no more memory
//   than it uses);
// - smaller arrays allocated while a PackedScope lives on the thread (a loader's exact
//   copies) are packed one after another into shared blocks advised the same way; a
//   block is emptied once all of its arrays are freed, and a few emptied blocks are kept
//   for the next arrays (a scene loaded after another reuses its pages), the rest given
//   back;
// - any other array comes from the heap.
// Where the system has no such advice (or in sanitizer builds, so that every array stays
// under the sanitizer's eye) every array comes from the heap.
#ifndef TSM_SCENE_SCENE_MEMORY_H
#define TSM_SCENE_SCENE_MEMORY_H

#include <cstddef>
#include <new>
#include <vector>

namespace tsm {

constexpr size_t kLargeBlock = size_t(2) << 20;  // the large page

// Raw storage of at least `bytes` (16-byte aligned); throws std::bad_alloc.
void* SceneAllocate(size_t bytes);
// Gives back what SceneAllocate answered for the same byte count.
void SceneFree(void* p, size_t bytes) noexcept;

// While one lives on this thread, small scene arrays are packed into shared blocks.
class PackedScope {
 public:
  PackedScope();
  ~PackedScope();
  PackedScope(const PackedScope&) = delete;
  PackedScope& operator=(const PackedScope&) = delete;
};

// What the scene storage holds outside the heap (for tests and benchmarks).
struct SceneMemoryStats {
  bool mapped = false;      // this build maps arrays at all (else all come from the heap)
  size_t packedBlocks = 0;  // shared blocks in use
  size_t keptBlocks = 0;    // emptied shared blocks kept mapped for reuse (a few at most)
  size_t largeArrays = 0;   // arrays with a mapping of their own
};
SceneMemoryStats SceneMemoryNow();

template <class T>
struct SceneAllocator {
  using value_type = T;
  SceneAllocator() = default;
  template <class U>
  SceneAllocator(const SceneAllocator<U>&) noexcept {}
  T* allocate(size_t n) {
    if (n > size_t(-1) / sizeof(T)) throw std::bad_alloc();
    return static_cast<T*>(SceneAllocate(n * sizeof(T)));
  }
  void deallocate(T* p, size_t n) noexcept { SceneFree(p, n * sizeof(T)); }
  template <class U>
  bool operator==(const SceneAllocator<U>&) const noexcept {
    return true;
  }
  template <class U>
  bool operator!=(const SceneAllocator<U>&) const noexcept {
    return false;
  }
};

template <class T>
using SceneVector = std::vector<T, SceneAllocator<T>>;

// Makes room for n elements in v, packed when small: for an array filled once to a size
// known beforehand.
template <class T>
void ReservePacked(SceneVector<T>& v, size_t n) {
  PackedScope packed;
  v.reserve(n);
}

}  // namespace tsm

#endif  // TSM_SCENE_SCENE_MEMORY_H
