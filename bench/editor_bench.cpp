// Cost of the editor section on a scene of large meshes: a whole export (enumeration,
// materials, every mesh chunk, the keyframer section) into a file of more than 100 MB,
// against writing the same bytes into a file with one sequential write (and the sync that
// the run also makes before it puts its file in place). The export should take at most
// 1.5 times as long.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "bench/export_runs.h"
#include "bench/mesh_scenes.h"
#include "run/export_run.h"
#include "scene/mem_material.h"
#include "scene/mem_objects.h"
#include "scene/mem_scene.h"
#include "writer/chunk_io.h"

namespace {

constexpr int kMeshes = 32;

std::unique_ptr<tsm::MemScene> LargeMeshScene() {
  return tsm::GridMeshScene(kMeshes);
}

std::string BenchPath(const char* what) {
  return "/tmp/tsm_editor_bench_" + std::to_string(::getpid()) + "_" + what + ".tsm";
}

// The file of the exported scene, made once and shared by both benchmarks.
const std::vector<uint8_t>& ExportedBytes(tsm::MemScene& scene) {
  static std::vector<uint8_t> bytes;
  if (bytes.empty()) {
    std::string path = BenchPath("reference");
    ExportInterface ei;
    ei.scene = &scene;
    tsm::ExportToFile(path.c_str(), &ei, &scene, 1, 0);
    std::ifstream in(path, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
    std::remove(path.c_str());
  }
  return bytes;
}

tsm::MemScene& Scene() {
  static std::unique_ptr<tsm::MemScene> scene = LargeMeshScene();
  return *scene;
}

void BM_ExportLargeMeshes(benchmark::State& state) {
  tsm::MemScene& scene = Scene();
  const std::vector<uint8_t>& reference = ExportedBytes(scene);  // warms the meshes too
  std::string path = BenchPath("export");
  tsm::ExportEachIteration(state, scene, path);
  state.counters["file_MB"] = double(reference.size()) / 1e6;
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(reference.size()));
}
BENCHMARK(BM_ExportLargeMeshes)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SequentialWriteOfTheSameBytes(benchmark::State& state) {
  const std::vector<uint8_t>& bytes = ExportedBytes(Scene());
  std::string path = BenchPath("plain");
  for (auto _ : state) {
    // A new file each time, as the run makes one and renames it over the old.
    std::remove(path.c_str());
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    // The run syncs its file before it puts it in place; so does the reference.
    if (fd < 0 || !tsm::WriteAll(fd, bytes.data(), bytes.size()) || ::fsync(fd) != 0 ||
        ::close(fd) != 0) {
      state.SkipWithError("write failed");
      break;
    }
  }
  std::remove(path.c_str());
  state.counters["file_MB"] = double(bytes.size()) / 1e6;
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes.size()));
}
BENCHMARK(BM_SequentialWriteOfTheSameBytes)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
