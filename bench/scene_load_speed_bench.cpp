// Loading large JSON scenes against the JSON parser's own limit: a mesh-heavy and a
// keyframe-heavy scene, generated here, each loaded into a scene and, side by side,
// parsed by simdjson with a full walk of every value (the on-demand API and the DOM
// API), so the ratio is measured in one run on the same machine; each load also with the
// memory of the load before (warm) and simdjson with a new parser each time, so both can
// be compared with the same memory. Then the peak memory of a load from a file, against
// the file's size. bench/README.md records the figures.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "bench/bench_memory.h"
#include "formats/json/scene_json.h"
#include "formats/json/scene_json_writer.h"
#include "scene/mem_scene.h"

#ifdef TSM_BENCH_SIMDJSON
#include <simdjson.h>
#endif

namespace tsm {
namespace {

// Deterministic numbers that look like exported geometry.
struct Numbers {
  uint32_t state = 12345;
  uint32_t Next() {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
  }
  // A coordinate with four decimals, -500..500.
  std::string Coordinate() {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.4f", double(Next() % 10000000) / 10000.0 - 500.0);
    return buf;
  }
  std::string Unit() {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.5f", double(Next() % 100000) / 100000.0);
    return buf;
  }
};

const char kHeader[] = "{\"format\": \"tsm-scene\", \"version\": 1,\n";

// Meshes of `faces` triangles in all, each with texture coordinates and texture faces.
std::string MeshHeavyScene(int faces) {
  const int kMeshes = 8;
  Numbers r;
  std::string t = kHeader;
  t += "\"objects\": [\n";
  for (int m = 0; m < kMeshes; ++m) {
    const int f = faces / kMeshes, v = f / 2 + 2;
    t += m ? ",\n" : "";
    t += "{\"type\": \"mesh\", \"name\": \"M" + std::to_string(m) + "\",\n\"vertices\": [";
    for (int i = 0; i < v; ++i)
      t += (i ? ", [" : "[") + r.Coordinate() + ", " + r.Coordinate() + ", " + r.Coordinate() + "]";
    t += "],\n\"uvs\": [";
    for (int i = 0; i < v; ++i) t += (i ? ", [" : "[") + r.Unit() + ", " + r.Unit() + "]";
    for (const char* key : {"faces", "uvFaces"}) {
      t += std::string("],\n\"") + key + "\": [";
      for (int i = 0; i < f; ++i)
        t += (i ? ",\n[" : "[") + std::to_string(r.Next() % v) + ", " +
             std::to_string(r.Next() % v) + ", " + std::to_string(r.Next() % v) + "]";
    }
    t += "]}";
  }
  t += "],\n\"nodes\": [";
  for (int m = 0; m < kMeshes; ++m)
    t += std::string(m ? ", " : "") + "{\"name\": \"N" + std::to_string(m) + "\", \"object\": \"M" +
         std::to_string(m) + "\"}";
  return t + "]}\n";
}

// `nodes` dummies, each with a key-bearing position track (with spline parameters), a
// sampled rotation track of quaternions and a sampled scale track, `keys` keys each.
std::string KeyframeHeavyScene(int nodes, int keys) {
  Numbers r;
  std::string t = kHeader;
  t += "\"settings\": {\"animationRange\": [0, " + std::to_string(keys * 2) + "]},\n";
  t += "\"objects\": [{\"type\": \"dummy\", \"name\": \"D\"}],\n\"nodes\": [\n";
  for (int n = 0; n < nodes; ++n) {
    t += n ? ",\n" : "";
    t += "{\"name\": \"N" + std::to_string(n) + "\", \"object\": \"D\", \"transform\": {\n";
    t += "\"position\": {\"class\": \"keyed\", \"keys\": [";
    for (int k = 0; k < keys; ++k)
      t += std::string(k ? ",\n" : "") + "{\"time\": " + std::to_string(k * 2) + ", \"value\": [" +
           r.Coordinate() + ", " + r.Coordinate() + ", " + r.Coordinate() +
           "], \"tension\": 0.25, \"continuity\": 0, \"bias\": -0.5}";
    t += "]},\n\"rotation\": {\"class\": \"sampled\", \"keys\": [";
    for (int k = 0; k < keys; ++k)
      t += std::string(k ? ",\n" : "") + "{\"time\": " + std::to_string(k * 2) +
           ", \"value\": {\"quat\": [" + r.Unit() + ", " + r.Unit() + ", " + r.Unit() + ", 1]}}";
    t += "]},\n\"scale\": {\"class\": \"sampled\", \"keys\": [";
    for (int k = 0; k < keys; ++k)
      t += std::string(k ? ",\n" : "") + "{\"time\": " + std::to_string(k * 2) + ", \"value\": [1, " +
           "1." + std::to_string(k % 10) + ", 2]}";
    t += "]}}}";
  }
  return t + "]}\n";
}

// The keyframe-heavy scene as the exporter's own JSON writer writes it (`--to-json`):
// indented, times in ticks, every spline parameter given.
std::string WrittenScene(const std::string& text) {
  MemScene scene;
  std::string written;
  if (!LoadJsonSceneText(text, "bench.json", scene).ok || !WriteJsonSceneText(scene, written).ok)
    return std::string();
  return written;
}

// 0: the mesh-heavy scene; 1: the keyframe-heavy scene; 2: the same as written.
// Each generated when first asked.
const std::string& SceneText(int which) {
  if (which == 0) {
    static const std::string mesh = MeshHeavyScene(1000000);
    return mesh;
  }
  if (which == 1) {
    static const std::string keys = KeyframeHeavyScene(2000, 100);
    return keys;
  }
  static const std::string written = WrittenScene(KeyframeHeavyScene(1000, 100));
  return written;
}

void Report(benchmark::State& state, const std::string& text) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(text.size()));
  state.counters["MB"] = static_cast<double>(text.size()) / 1e6;
}

// Minor page faults of the process so far: first touches of fresh memory, which cost
// much of a load's time on a virtual machine.
int64_t MinorFaults() {
  struct rusage u;
  getrusage(RUSAGE_SELF, &u);
  return u.ru_minflt;
}

// Loads the scene of state.range(0) at every iteration. With freshMemory the allocator
// gives its free pages back after each load (malloc_trim), so every load starts in fresh
// memory as in a process that loads one file; without it the pages of the previous load
// are reused and the figure is the loader's own work.
void Load(benchmark::State& state, bool fastPaths, bool freshMemory = true) {
  const std::string& text = SceneText(static_cast<int>(state.range(0)));
  int64_t faults = 0;
  for (auto _ : state) {
    const int64_t before = MinorFaults();
    {
      MemScene scene;
      LoadResult r = LoadJsonSceneText(text, "bench.json", scene, fastPaths);
      if (!r.ok) {
        state.SkipWithError(r.error.c_str());
        break;
      }
    }
    state.PauseTiming();
    faults += MinorFaults() - before;
    if (freshMemory) malloc_trim(0);
    state.ResumeTiming();
  }
  Report(state, text);
  state.counters["faults"] = double(faults) / double(std::max<int64_t>(1, state.iterations()));
}

void BM_LoadLargeScene(benchmark::State& state) {
  Load(state, true);
}
BENCHMARK(BM_LoadLargeScene)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

// The same reusing the memory of the load before.
void BM_LoadLargeSceneWarmMemory(benchmark::State& state) {
  Load(state, true, false);
}
BENCHMARK(BM_LoadLargeSceneWarmMemory)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

// The same with the typed fast paths off: the general reader alone.
void BM_LoadLargeSceneGeneralReader(benchmark::State& state) {
  Load(state, false);
}
BENCHMARK(BM_LoadLargeSceneGeneralReader)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

// Peak resident memory of a load from a file, beyond what the process held before,
// against the file's size (reported as "peak_per_text").
void BM_LoadLargeScenePeakMemory(benchmark::State& state) {
  const std::string& text = SceneText(static_cast<int>(state.range(0)));
  const std::string path = "/tmp/tsm_load_bench_" + std::to_string(::getpid()) + ".json";
  {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr || std::fwrite(text.data(), 1, text.size(), f) != text.size()) {
      if (f) std::fclose(f);
      state.SkipWithError("cannot write the scene file");
      return;
    }
    std::fclose(f);
  }
  int64_t extraKiB = 0;
  bool measured = true;
  for (auto _ : state) {
    malloc_trim(0);
    const int64_t before = StatusKiB("VmRSS");
    measured = ResetPeakRss() && measured;
    {
      MemScene scene;
      LoadResult r = LoadJsonScene(path, scene);
      if (!r.ok) state.SkipWithError(r.error.c_str());
    }
    extraKiB = std::max(extraKiB, StatusKiB("VmHWM") - before);
  }
  std::remove(path.c_str());
  if (!measured) state.SkipWithError("the peak resident set cannot be reset here");
  state.counters["MB"] = static_cast<double>(text.size()) / 1e6;
  state.counters["peak_MiB"] = static_cast<double>(extraKiB) / 1024.0;
  state.counters["peak_per_text"] = static_cast<double>(extraKiB) * 1024.0 / double(text.size());
}
BENCHMARK(BM_LoadLargeScenePeakMemory)->Arg(0)->Arg(1)->Arg(2)->Iterations(1)->Unit(benchmark::kMillisecond);

#ifdef TSM_BENCH_SIMDJSON
// Every value of the document visited and read: numbers as doubles, strings unescaped.
void WalkOnDemand(simdjson::ondemand::value v, double* sum) {
  switch (v.type().value()) {
    case simdjson::ondemand::json_type::array:
      for (auto e : v.get_array()) WalkOnDemand(e.value(), sum);
      break;
    case simdjson::ondemand::json_type::object:
      for (auto m : v.get_object()) {
        *sum += double(m.unescaped_key().value().size());
        WalkOnDemand(m.value().value(), sum);
      }
      break;
    case simdjson::ondemand::json_type::number:
      *sum += v.get_double().value();
      break;
    case simdjson::ondemand::json_type::string:
      *sum += double(v.get_string().value().size());
      break;
    case simdjson::ondemand::json_type::boolean:
      *sum += v.get_bool().value() ? 1.0 : 0.0;
      break;
    case simdjson::ondemand::json_type::null:
      break;
  }
}

void WalkDom(simdjson::dom::element e, double* sum) {
  switch (e.type()) {
    case simdjson::dom::element_type::ARRAY:
      for (simdjson::dom::element c : e.get_array()) WalkDom(c, sum);
      break;
    case simdjson::dom::element_type::OBJECT:
      for (simdjson::dom::key_value_pair m : e.get_object()) {
        *sum += double(m.key.size());
        WalkDom(m.value, sum);
      }
      break;
    case simdjson::dom::element_type::INT64:
    case simdjson::dom::element_type::UINT64:
    case simdjson::dom::element_type::DOUBLE:
      *sum += e.get_double().value();
      break;
    case simdjson::dom::element_type::STRING:
      *sum += double(e.get_string().value().size());
      break;
    case simdjson::dom::element_type::BOOL:
      *sum += e.get_bool().value() ? 1.0 : 0.0;
      break;
    case simdjson::dom::element_type::NULL_VALUE:
      break;
  }
}

void BM_SimdjsonOnDemandWalk(benchmark::State& state) {
  const std::string& text = SceneText(static_cast<int>(state.range(0)));
  simdjson::padded_string padded(text);
  simdjson::ondemand::parser parser;
  for (auto _ : state) {
    double sum = 0.0;
    simdjson::ondemand::document doc = parser.iterate(padded);
    WalkOnDemand(doc.get_value().value(), &sum);
    benchmark::DoNotOptimize(sum);
  }
  Report(state, text);
}
BENCHMARK(BM_SimdjsonOnDemandWalk)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

// The same with a new parser for every document and its memory given back after each, as
// BM_LoadLargeScene builds a new scene: the parser's index of the text starts in fresh
// memory, as in a process that loads one file.
void BM_SimdjsonOnDemandWalkFreshParser(benchmark::State& state) {
  const std::string& text = SceneText(static_cast<int>(state.range(0)));
  simdjson::padded_string padded(text);
  int64_t faults = 0;
  for (auto _ : state) {
    const int64_t before = MinorFaults();
    {
      double sum = 0.0;
      simdjson::ondemand::parser parser;
      simdjson::ondemand::document doc = parser.iterate(padded);
      WalkOnDemand(doc.get_value().value(), &sum);
      benchmark::DoNotOptimize(sum);
    }
    state.PauseTiming();
    faults += MinorFaults() - before;
    malloc_trim(0);
    state.ResumeTiming();
  }
  Report(state, text);
  state.counters["faults"] = double(faults) / double(std::max<int64_t>(1, state.iterations()));
}
BENCHMARK(BM_SimdjsonOnDemandWalkFreshParser)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

void BM_SimdjsonDomWalk(benchmark::State& state) {
  const std::string& text = SceneText(static_cast<int>(state.range(0)));
  simdjson::padded_string padded(text);
  simdjson::dom::parser parser;
  for (auto _ : state) {
    double sum = 0.0;
    WalkDom(parser.parse(padded).value(), &sum);
    benchmark::DoNotOptimize(sum);
  }
  Report(state, text);
}
BENCHMARK(BM_SimdjsonDomWalk)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
#endif

}  // namespace
}  // namespace tsm
