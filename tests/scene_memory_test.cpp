#include "scene/scene_memory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>
#include <vector>

namespace tsm {
namespace {

using Array = SceneVector<uint32_t>;

// An array of n elements counting up from first, allocated packed or not.
std::unique_ptr<Array> Filled(size_t n, bool packed, uint32_t first) {
  auto a = std::make_unique<Array>();
  if (packed) {
    ReservePacked(*a, n);
  } else {
    a->reserve(n);
  }
  for (size_t i = 0; i < n; ++i) a->push_back(first + uint32_t(i));
  return a;
}

bool Intact(const Array& a, uint32_t first) {
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i] != first + uint32_t(i)) return false;
  return true;
}

// Each case allocates its arrays, checks where they went, frees them in the given order
// (an array that grows first is moved out of its block) and checks that every block is
// emptied and every mapping given back, whatever the order; a few emptied blocks are kept.
TEST(SceneMemory, ArraysGoWhereTheirSizeSaysAndEveryBlockIsEmptied) {
  const size_t large = kLargeBlock / 4;  // elements of a large array
  enum Order { kForward, kBackward, kGrowFirst };
  const struct {
    const char* name;
    std::vector<size_t> sizes;
    bool packed;
    size_t blocks;  // packed blocks while all live
    size_t larges;  // own mappings while all live
    Order order;
  } cases[] = {
      {"small arrays, not packed: the heap", {10, 1000, 5000}, false, 0, 0, kForward},
      {"small arrays, packed: one block", {10, 1000, 5000, 1}, true, 1, 0, kBackward},
      {"packed arrays filling more than one block", std::vector<size_t>(40, 100000), true, 2, 0,
       kForward},
      {"packed arrays freed out of order", std::vector<size_t>(40, 100000), true, 2, 0, kBackward},
      {"a packed array that grows leaves its block", {100, 200}, true, 1, 0, kGrowFirst},
      {"large arrays map their own, packed or not",
       {large, large + 1, 3 * large + 7},
       true,
       0,
       3,
       kForward},
      {"large and small together", {large, 64}, false, 0, 1, kBackward},
  };
  const SceneMemoryStats before = SceneMemoryNow();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::unique_ptr<Array>> arrays;
    for (size_t i = 0; i < c.sizes.size(); ++i)
      arrays.push_back(Filled(c.sizes[i], c.packed, uint32_t(i * 7919)));
    SceneMemoryStats live = SceneMemoryNow();
    if (live.mapped) {
      EXPECT_EQ(live.packedBlocks - before.packedBlocks, c.blocks);
      EXPECT_EQ(live.largeArrays - before.largeArrays, c.larges);
    }
    if (c.order == kGrowFirst) {
      arrays[0]->push_back(0);
      arrays[0]->pop_back();
      EXPECT_TRUE(Intact(*arrays[0], 0));
    }
    if (c.order == kBackward) std::reverse(arrays.begin(), arrays.end());
    for (size_t i = 0; i < arrays.size(); ++i) {
      size_t at = c.order == kBackward ? arrays.size() - 1 - i : i;
      EXPECT_TRUE(Intact(*arrays[i], uint32_t(at * 7919))) << "array " << at;
      arrays[i].reset();
    }
    SceneMemoryStats after = SceneMemoryNow();
    EXPECT_EQ(after.packedBlocks, before.packedBlocks);
    EXPECT_EQ(after.largeArrays, before.largeArrays);
    EXPECT_LE(after.keptBlocks, 4u);
  }
  // A size no system can give is refused, packed or not, and nothing is kept of it.
  for (bool packed : {false, true}) {
    Array a;
    EXPECT_THROW(packed ? ReservePacked(a, a.max_size()) : a.reserve(a.max_size()), std::bad_alloc);
    EXPECT_EQ(SceneMemoryNow().largeArrays, before.largeArrays);
  }
}

}  // namespace
}  // namespace tsm
