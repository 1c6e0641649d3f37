// Loading a large .glb against reading its bytes: each repetition times, side by side,
// one plain read of the whole file (open, fstat, one read into a buffer of its size,
// close; the file is in the page cache after the first) and one load of the same file
// into a scene through the loader tsmexport uses. The counters give both times and their
// ratio; bench/README.md records the figures. Target: the load at most ten times the read.
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
  double read = 0, load = 0;
  size_t faces = 0;
  for (auto _ : state) {
    Clock::time_point t0 = Clock::now();
    if (!ReadBytes(path, bytes)) {
      state.SkipWithError("read failed");
      break;
    }
    benchmark::DoNotOptimize(bytes.data());
    Clock::time_point t1 = Clock::now();
    {
      MemScene scene;
      ImportResult r = LoadSceneFile(path, ImportOptions(), scene);
      if (!r.ok) {
        state.SkipWithError(r.error.c_str());
        break;
      }
      Clock::time_point t2 = Clock::now();
      read += Seconds(t0, t1);
      load += Seconds(t1, t2);
      faces = 0;
      for (const auto& node : scene.Nodes())
        if (auto* m = dynamic_cast<const MemMeshObject*>(node->object)) faces += m->faces.size();
    }
  }
  double n = double(state.iterations());
  state.counters["file_MB"] = double(bytes.size()) / 1e6;
  state.counters["triangles"] = double(faces);
  state.counters["read_ms"] = read / n * 1e3;
  state.counters["load_ms"] = load / n * 1e3;
  state.counters["ratio"] = read > 0 ? load / read : 0.0;
}
BENCHMARK(BM_GlbLoadAgainstRead)->Arg(31)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace tsm
