// Entering many materials: lookups and numbering are indexed, so a table of n materials
// fills in time linear in n, also when they all share one name.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "material/material_table.h"
#include "scene/mem_material.h"

namespace tsm {
namespace {

void FillTable(benchmark::State& state, bool sameName) {
  int n = static_cast<int>(state.range(0));
  std::vector<std::unique_ptr<MemMaterial>> mats;
  for (int i = 0; i < n; ++i) {
    mats.emplace_back(new MemMaterial);
    mats.back()->name = sameName ? "Brick" : "Brick" + std::to_string(i);
  }
  for (auto _ : state) {
    MaterialTable table;
    for (auto& m : mats) table.AddNodeMaterial(m.get());
    benchmark::DoNotOptimize(table.Count());
  }
  state.SetComplexityN(n);
}

void BM_MaterialsOfDistinctNames(benchmark::State& state) {
  FillTable(state, false);
}
void BM_MaterialsOfOneName(benchmark::State& state) {
  FillTable(state, true);
}

BENCHMARK(BM_MaterialsOfDistinctNames)
    ->RangeMultiplier(10)
    ->Range(100, 100000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);
BENCHMARK(BM_MaterialsOfOneName)
    ->RangeMultiplier(10)
    ->Range(100, 100000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

}  // namespace
}  // namespace tsm
