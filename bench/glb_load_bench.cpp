// Loading a large .glb against reading its bytes: each repetition times, side by side,
// one plain read of the whole file (open, fstat, one read into a buffer of its size that
// was used before, close; the file is in the page cache after the first), the same read
// into a buffer just allocated, and one load of the same file into a scene through the
// loader tsmexport uses. The counters give the times and the load's ratio to each read;
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
size_t Bytes(const std::vector<T>& v) {
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

// Argument: the number of grid meshes of 64,800 triangles (31: 2 million triangles).
void BM_GlbLoadAgainstRead(benchmark::State& state) {
  std::string path = GlbBenchFile(int(state.range(0)));
  if (path.empty()) {
    state.SkipWithError("could not write the .glb");
    return;
  }
  std::vector<char> bytes;
  ReadBytes(path, bytes);  // into the page cache
  double read = 0, readFresh = 0, load = 0, writeScene = 0, sceneMiB = 0;
  std::vector<std::vector<char>> blocks;
  size_t faces = 0;
  for (auto _ : state) {
    Clock::time_point t0 = Clock::now();
    if (!ReadBytes(path, bytes)) {
      state.SkipWithError("read failed");
      break;
    }
    benchmark::DoNotOptimize(bytes.data());
    double plain = Seconds(t0, Clock::now());
    {
      // The same read into memory just allocated, as a loader that reads the file does:
      // on a machine where a fresh page costs much, that is part of any load.
      std::vector<char> fresh;
      Clock::time_point f0 = Clock::now();
      if (!ReadBytes(path, fresh)) {
        state.SkipWithError("read failed");
        break;
      }
      benchmark::DoNotOptimize(fresh.data());
      readFresh += Seconds(f0, Clock::now());
    }
    Clock::time_point t1 = Clock::now();
    {
      MemScene scene;
      ImportResult r = LoadSceneFile(path, ImportOptions(), scene);
      if (!r.ok) {
        state.SkipWithError(r.error.c_str());
        break;
      }
      Clock::time_point t2 = Clock::now();
      read += plain;
      load += Seconds(t1, t2);
      faces = 0;
      size_t arrays = 0;  // bytes of the scene's mesh arrays
      for (const auto& node : scene.Nodes())
        if (auto* m = dynamic_cast<const MemMeshObject*>(node->object)) {
          faces += m->faces.size();
          arrays += Bytes(m->vertices) + Bytes(m->faces) + Bytes(m->texVerts) +
                    Bytes(m->texFaces) + Bytes(m->vertexColors);
        }
      sceneMiB = double(arrays) / (1 << 20);
      // The least any load of this scene costs: its arrays' bytes written once into memory
      // just allocated, in blocks of a mesh's size.
      Clock::time_point w0 = Clock::now();
      for (const auto& node : scene.Nodes())
        if (auto* m = dynamic_cast<const MemMeshObject*>(node->object)) {
          std::vector<char> block(Bytes(m->vertices) + Bytes(m->faces) + Bytes(m->texVerts) +
                                  Bytes(m->texFaces) + Bytes(m->vertexColors));
          benchmark::DoNotOptimize(block.data());
          blocks.push_back(std::move(block));
        }
      writeScene += Seconds(w0, Clock::now());
      blocks.clear();
    }
  }
  double n = double(state.iterations());
  state.counters["file_MB"] = double(bytes.size()) / 1e6;
  state.counters["triangles"] = double(faces);
  state.counters["read_ms"] = read / n * 1e3;
  state.counters["load_ms"] = load / n * 1e3;
  state.counters["read_fresh_ms"] = readFresh / n * 1e3;
  state.counters["scene_arrays_MiB"] = sceneMiB;
  state.counters["write_scene_ms"] = writeScene / n * 1e3;
  state.counters["ratio"] = read > 0 ? load / read : 0.0;
  state.counters["ratio_fresh"] = readFresh > 0 ? load / readFresh : 0.0;
}
BENCHMARK(BM_GlbLoadAgainstRead)->Arg(31)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace tsm
