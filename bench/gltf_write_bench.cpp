// The glTF writer on a scene of large meshes: the whole write as tsmexport -o OUT.glb
// makes it (the file put together in memory, then written, synced and put in place
// through the guarded output), against the export of the same scene into a chunk file.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>

#include "bench/export_runs.h"
#include "bench/mesh_scenes.h"
#include "formats/gltf/gltf_writer.h"
#include "run/export_run.h"
#include "io/output_file.h"

namespace {

constexpr int kGltfMeshes = 8;

tsm::MemScene& GltfScene() {
  static std::unique_ptr<tsm::MemScene> scene = tsm::GridMeshScene(kGltfMeshes);
  return *scene;
}

std::string GltfBenchPath(const char* ext) {
  return "/tmp/tsm_gltf_bench_" + std::to_string(::getpid()) + ext;
}

void BM_GltfWriteLargeMeshes(benchmark::State& state) {
  tsm::MemScene& scene = GltfScene();
  scene.ApplyHostSettings();
  tsm::GltfWriteOptions options;
  options.binary = true;
  std::string path = GltfBenchPath(".glb"), bytes;
  for (auto _ : state) {
    if (!tsm::WriteGltf(scene, scene, options, bytes).ok ||
        !tsm::WriteOutputFile(path, [&](auto& out, std::string*) {
           return out.Write(bytes.data(), bytes.size()) == bytes.size();
         }).ok) {
      state.SkipWithError("glTF write failed");
      break;
    }
  }
  std::remove(path.c_str());
  state.counters["file_MB"] = double(bytes.size()) / 1e6;
}
BENCHMARK(BM_GltfWriteLargeMeshes)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ChunkExportOfTheSameMeshes(benchmark::State& state) {
  tsm::MemScene& scene = GltfScene();
  scene.ApplyHostSettings();
  std::string path = GltfBenchPath(".tsm");
  tsm::ExportEachIteration(state, scene, path);
}
BENCHMARK(BM_ChunkExportOfTheSameMeshes)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
