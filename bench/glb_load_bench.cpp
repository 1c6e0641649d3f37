// Loading a large .glb against reading its bytes: each iteration times, side by side, one
// plain read of the whole file (open, fstat, one read into a buffer of its size that was
// used before, close; the file is in the page cache) and one load of the same file into
// a scene through the loader tsmexport uses; the counters give both and their ratio.
// bench/README.md records the figures. Target: the load at most ten times the read.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "bench/glb_files.h"
#include "formats/scene_import.h"

namespace tsm {
namespace {

using Clock = std::chrono::steady_clock;

template <class T>
size_t Bytes(const SceneVector<T>& v) {
  return v.size() * sizeof(T);
}

double Seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

// Reads the whole file into bytes; false on any failure.
bool ReadBytes(const std::string& path, std::vector<char>& bytes) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0;
  if (ok) bytes.resize(size_t(st.st_size));
  size_t done = 0;
  while (ok && done < bytes.size()) {
    ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) ok = false;
    else done += size_t(n);
  }
  ::close(fd);
  return ok;
}

// The bytes of a loaded scene's mesh arrays, and the faces of its meshes.
size_t ArrayBytes(const MemScene& scene, size_t* faces) {
  size_t bytes = 0;
  *faces = 0;
  for (const auto& node : scene.Nodes())
    if (auto* m = dynamic_cast<const MemMeshObject*>(node->object)) {
      *faces += m->faces.size();
      bytes += Bytes(m->vertices) + Bytes(m->faces) + Bytes(m->texVerts) + Bytes(m->texFaces) +
               Bytes(m->vertexColors);
    }
  return bytes;
}

// Arguments: the number of grid meshes of 64,800 triangles (31: 2 million triangles), and
// the file: 0 written by our glTF writer (normals, texture coordinates, colours, vertices
// of their own along hard edges), 1 positions and indices only.
//
// Once, before the timed loop: the same read into memory just allocated (as a loader that
// reads the file does), the first load of the file in the process, and the writing of as
// many bytes as the loaded scene's mesh arrays hold into memory just allocated, in blocks
// of a mesh's size (what a first load costs at least where a fresh page costs much). Then
// each iteration times one read into a buffer used before and one load.
void BM_GlbLoadAgainstRead(benchmark::State& state) {
  std::string path = state.range(1) == 0 ? GlbBenchFile(int(state.range(0)))
                                          : PlainGlbBenchFile(int(state.range(0)));
  if (path.empty()) {
    state.SkipWithError("could not write the .glb");
    return;
  }
  std::vector<char> bytes;
  ReadBytes(path, bytes);  // into the page cache
  double readFresh = 0, firstLoad = 0, writeScene = 0;
  size_t faces = 0, arrays = 0;
  {
    std::vector<char> fresh;
    Clock::time_point f0 = Clock::now();
    bool ok = ReadBytes(path, fresh);
    readFresh = Seconds(f0, Clock::now());
    MemScene scene;
    Clock::time_point l0 = Clock::now();
    ImportResult r = LoadSceneFile(path, ImportOptions(), scene);
    firstLoad = Seconds(l0, Clock::now());
    if (!ok || !r.ok) {
      state.SkipWithError(ok ? r.error.c_str() : "read failed");
      return;
    }
    arrays = ArrayBytes(scene, &faces);
    std::vector<std::vector<char>> blocks;
    Clock::time_point w0 = Clock::now();
    for (const auto& node : scene.Nodes())
      if (auto* m = dynamic_cast<const MemMeshObject*>(node->object)) {
        blocks.emplace_back(Bytes(m->vertices) + Bytes(m->faces) + Bytes(m->texVerts) +
                            Bytes(m->texFaces) + Bytes(m->vertexColors));
        benchmark::DoNotOptimize(blocks.back().data());
      }
    writeScene = Seconds(w0, Clock::now());
  }
  double read = 0, load = 0;
  for (auto _ : state) {
    Clock::time_point t0 = Clock::now();
    if (!ReadBytes(path, bytes)) {
      state.SkipWithError("read failed");
      break;
    }
    benchmark::DoNotOptimize(bytes.data());
    Clock::time_point t1 = Clock::now();
    MemScene scene;
    ImportResult r = LoadSceneFile(path, ImportOptions(), scene);
    Clock::time_point t2 = Clock::now();
    if (!r.ok) {
      state.SkipWithError(r.error.c_str());
      break;
    }
    read += Seconds(t0, t1);
    load += Seconds(t1, t2);
  }
  double n = double(state.iterations());
  state.counters["file_MB"] = double(bytes.size()) / 1e6;
  state.counters["triangles"] = double(faces);
  state.counters["scene_arrays_MiB"] = double(arrays) / (1 << 20);
  state.counters["read_ms"] = read / n * 1e3;
  state.counters["load_ms"] = load / n * 1e3;
  state.counters["ratio"] = read > 0 ? load / read : 0.0;
  state.counters["read_fresh_ms"] = readFresh * 1e3;
  state.counters["first_load_ms"] = firstLoad * 1e3;
  state.counters["write_scene_ms"] = writeScene * 1e3;
}
BENCHMARK(BM_GlbLoadAgainstRead)->Args({31, 0})->Args({31, 1})->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace tsm
