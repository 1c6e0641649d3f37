// Loading a JSON scene grows linearly with the file, whatever its shape: each shape is
// loaded at a base size (argument 1) and at ten times that (argument 10). The text is
// generated once, outside the timed loop; bench/README.md records the figures.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <functional>
#include <string>

#include "formats/json/scene_json.h"
#include "scene/mem_scene.h"

namespace tsm {
namespace {

const char kHeader[] = "{\"format\": \"tsm-scene\", \"version\": 1,\n";

// A mesh of n faces, each face an object with its smoothing group, or a plain array.
std::string MeshScene(int n, bool faceObjects) {
  std::string t = kHeader;
  t += "\"objects\": [{\"type\": \"mesh\", \"name\": \"M\", \"vertices\": [";
  for (int i = 0; i < n + 2; ++i)
    t += (i ? ", [" : "[") + std::to_string(i) + ", " + std::to_string(i % 7) + ", 0.5]";
  t += "],\n\"faces\": [";
  for (int i = 0; i < n; ++i) {
    std::string v = std::to_string(i) + ", " + std::to_string(i + 1) + ", " + std::to_string(i + 2);
    if (i) t += ",\n";
    t += faceObjects ? "{\"v\": [" + v + "], \"smoothing\": 1}" : "[" + v + "]";
  }
  return t + "]}],\n\"nodes\": [{\"name\": \"N\", \"object\": \"M\"}]}\n";
}

// n nodes side by side at the top level.
std::string FlatScene(int n) {
  std::string t = kHeader;
  t += "\"nodes\": [";
  for (int i = 0; i < n; ++i)
    t += std::string(i ? ",\n" : "") + "{\"name\": \"N" + std::to_string(i) +
         "\", \"position\": [1, 2, 3]}";
  return t + "]}\n";
}

// n nodes as chains of 100 nested through "children": deep rather than wide.
std::string DeepScene(int n) {
  const int kChain = 100;
  std::string t = kHeader;
  t += "\"nodes\": [";
  for (int c = 0; c < n / kChain; ++c) {
    if (c) t += ",\n";
    for (int k = 0; k < kChain; ++k)
      t += "{\"name\": \"N" + std::to_string(c * kChain + k) +
           "\", \"position\": [1, 0, 0], \"children\": [";
    for (int k = 0; k < kChain; ++k) t += "]}";
  }
  return t + "]}\n";
}

// One node object with n members; the load stops at the first unknown one, but only
// after the whole text has been parsed.
std::string WideObjectScene(int n) {
  std::string t = kHeader;
  t += "\"nodes\": [{\"name\": \"N\"";
  for (int i = 0; i < n; ++i) t += ",\n\"m" + std::to_string(i) + "\": " + std::to_string(i);
  return t + "}]}\n";
}

void Load(benchmark::State& state, const std::function<std::string(int)>& make, int base,
          bool expectOk) {
  const std::string text = make(base * static_cast<int>(state.range(0)));
  for (auto _ : state) {
    {
      MemScene scene;
      LoadResult r = LoadJsonSceneText(text, "bench.json", scene);
      if (r.ok != expectOk) {
        state.SkipWithError(r.error.c_str());
        break;
      }
      benchmark::DoNotOptimize(r);
    }
    // Every load starts with the memory a fresh process has: the small scene would
    // otherwise reuse pages the allocator kept from its last round while the large one
    // faults in new ones, and the comparison would measure the allocator, not the load.
    state.PauseTiming();
    malloc_trim(0);
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(text.size()));
  state.counters["MB"] = static_cast<double>(text.size()) / 1e6;
}

void BM_LoadFacesAsObjects(benchmark::State& state) {
  Load(
      state, [](int n) { return MeshScene(n, true); }, 40000, true);
}
void BM_LoadFacesAsArrays(benchmark::State& state) {
  Load(
      state, [](int n) { return MeshScene(n, false); }, 40000, true);
}
void BM_LoadTopLevelNodes(benchmark::State& state) {
  Load(state, FlatScene, 30000, true);
}
void BM_LoadDeepHierarchy(benchmark::State& state) {
  Load(state, DeepScene, 30000, true);
}
void BM_LoadManyMembersInOneObject(benchmark::State& state) {
  Load(state, WideObjectScene, 10000, false);
}

BENCHMARK(BM_LoadFacesAsObjects)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadFacesAsArrays)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadTopLevelNodes)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadDeepHierarchy)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadManyMembersInOneObject)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tsm
