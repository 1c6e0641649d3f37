// The whole export against plain ways of writing the same bytes, its growth with the
// number of nodes, its memory beyond the loaded scene, and many exports in one process.
//
// Scenes come from a generator: distinct grid meshes of many faces (each its own object,
// so none collapses into another's item) under a few materials, and dummy nodes in groups
// of ten under parents, so that the keyframer section has many nodes to write. Dummies
// may be animated: position, rotation and scale tracks of a few keys each, key-bearing
// on every other node and sampled on the rest, so that the keyframer section has tracks
// of both kinds to write.
//
// Files go to $TSM_BENCH_DIR (default /tmp). Memory is counted by this binary's own
// operator new (live and peak heap bytes) and read from the system (resident set, and
// its peak after a reset through /proc/self/clear_refs where the system allows it).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "bench/bench_memory.h"
#include "bench/glb_files.h"
#include "formats/scene_import.h"
#include "plugin/platform.h"
#include "reader/chunk_reader.h"
#include "run/export_run.h"
#include "run/scene_lists.h"
#include "scene/mem_controllers.h"
#include "scene/mem_material.h"
#include "scene/mem_objects.h"
#include "scene/mem_scene.h"

// Heap bytes in use and their peak, counted by every operator new and delete of this
// binary (usable sizes, so the counts match whatever the allocator rounds to).
namespace {
std::atomic<int64_t> heapLive{0};
std::atomic<int64_t> heapPeak{0};

// Kept out of line: inlined into the replaced operator delete, the free below would look
// to the compiler like the release of memory from operator new.
__attribute__((noinline)) void* CountedAlloc(size_t size) {
  void* p = std::malloc(size == 0 ? 1 : size);
  if (p == nullptr) return nullptr;
  int64_t live = heapLive += static_cast<int64_t>(malloc_usable_size(p));
  int64_t peak = heapPeak.load();
  while (live > peak && !heapPeak.compare_exchange_weak(peak, live)) {
  }
  return p;
}
__attribute__((noinline)) void CountedFree(void* p) {
  if (p == nullptr) return;
  heapLive -= static_cast<int64_t>(malloc_usable_size(p));
  std::free(p);
}
}  // namespace

void* operator new(size_t size) {
  void* p = CountedAlloc(size);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
void* operator new[](size_t size) {
  return operator new(size);
}
void* operator new(size_t size, const std::nothrow_t&) noexcept {
  return CountedAlloc(size);
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
  return CountedAlloc(size);
}
void operator delete(void* p) noexcept {
  CountedFree(p);
}
void operator delete[](void* p) noexcept {
  CountedFree(p);
}
void operator delete(void* p, size_t) noexcept {
  CountedFree(p);
}
void operator delete[](void* p, size_t) noexcept {
  CountedFree(p);
}

namespace tsm {
namespace {

class SilentSink : public MessageSink {
 public:
  int Show(const char*, const char*, unsigned) override { return IDOK; }
};

std::string BenchDir() {
  const char* dir = std::getenv("TSM_BENCH_DIR");
  return dir != nullptr && *dir != '\0' ? dir : "/tmp";
}

std::string BenchPath(const char* name) {
  return BenchDir() + "/tsm_export_bench_" + std::to_string(::getpid()) + "_" + name;
}

// The scene generator. facesPerMesh is rounded down to whole grid rows of 256 faces and
// kept within the 65535 faces and vertices that a mesh chunk can count. keysPerTrack
// above 0 animates every dummy with that many keys on each of its three tracks.
struct SceneShape {
  int meshes = 0;
  int facesPerMesh = 0;
  int dummies = 0;
  int keysPerTrack = 0;
  // Every other child in a group is a spline shape instead of a dummy. Shapes are no
  // keyframer nodes, so a scene can have more nodes than the 65535 a file can number.
  bool halfShapes = false;

  std::vector<int> Key() const {
    return {meshes, facesPerMesh, dummies, keysPerTrack, halfShapes ? 1 : 0};
  }
};

constexpr TimeValue kTicksPerKey = 160;  // a key at every frame

// A track of keys keys, one a frame from frame 0; values vary with seed so that no two
// tracks are alike.
MemController* MakeTrack(MemScene& scene, ControlKind kind, bool keyBearing, int keys, int seed) {
  std::unique_ptr<MemController> c(new MemController(kind, keyBearing));
  c->keys.resize(static_cast<size_t>(keys));
  for (int k = 0; k < keys; ++k) {
    MemKey& key = c->keys[static_cast<size_t>(k)];
    key.time = k * kTicksPerKey;
    float v = static_cast<float>((k * 7 + seed) % 100) * 0.1f;
    // A key holds the value of its controller's kind only.
    if (kind != ControlKind::ROTATION)
      key.p = kind == ControlKind::SCALE ? Point3(1 + 0.1f * v, 1, 1 + 0.05f * v)
                                         : Point3(v, v + 1, v + 2);
    else if (keyBearing)
      key.aa = AngAxis(Point3(0, 0, 1), 0.01f * v);
    else
      key.q = QuatFromAngAxis(0.1f * v, Point3(0, 0, 1));
    key.tens = k % 3 == 0 ? 0.5f : 0.0f;
    key.easeIn = k % 4 == 0 ? 0.25f : 0.0f;
  }
  return scene.Own(std::move(c));
}

std::unique_ptr<MemScene> GenerateScene(const SceneShape& shape) {
  std::unique_ptr<MemScene> scene(new MemScene);
  std::vector<MemMaterial*> materials;
  for (int i = 0; i < 4; ++i) {
    materials.push_back(scene->Own(std::unique_ptr<MemMaterial>(new MemMaterial)));
    materials.back()->name = "Material" + std::to_string(i);
  }
  const int columns = 128;  // quads across; two faces each
  int rows = std::max(1, std::min(shape.facesPerMesh, 65534) / (2 * columns));
  while ((columns + 1) * (rows + 1) > 65535) --rows;
  for (int m = 0; m < shape.meshes; ++m) {
    std::unique_ptr<MemMeshObject> mesh(new MemMeshObject);
    mesh->vertices.reserve(static_cast<size_t>((columns + 1) * (rows + 1)));
    for (int y = 0; y <= rows; ++y)
      for (int x = 0; x <= columns; ++x)
        mesh->vertices.push_back(Point3(float(x), float(y), float((x * 7 + y * 3 + m) % 5)));
    mesh->faces.reserve(static_cast<size_t>(2 * columns * rows));
    for (int y = 0; y < rows; ++y) {
      for (int x = 0; x < columns; ++x) {
        int a = y * (columns + 1) + x, b = a + 1, c = a + columns + 1, d = c + 1;
        MemFace f;
        f.smoothing = 1u << (y % 32);
        f.materialId = x % 4;
        f.v = {{a, b, d}};
        mesh->faces.push_back(f);
        f.v = {{a, d, c}};
        mesh->faces.push_back(f);
      }
    }
    MemNode* node = scene->AddNode("Mesh" + std::to_string(m));
    node->object = scene->Own(std::move(mesh));
    node->material = materials[m % materials.size()];
  }
  MemNode* group = nullptr;
  for (int d = 0; d < shape.dummies; ++d) {
    bool parent = d % 10 == 0;
    if (shape.halfShapes && d % 2 == 1) {
      MemNode* node = scene->AddNode("Shape" + std::to_string(d), group);
      std::unique_ptr<MemShapeObject> spline(new MemShapeObject);
      spline->splines.resize(1);
      for (int k = 0; k < 4; ++k) {
        MemKnot knot;
        knot.point = Point3(float(k), float(k % 2), float(d % 7));
        knot.inVec = knot.outVec = knot.point;
        spline->splines[0].knots.push_back(knot);
      }
      node->object = scene->Own(std::move(spline));
      node->local.SetTrans(Point3(float(d % 100), float(d / 100 % 100), 1.0f));
      continue;
    }
    MemNode* node = scene->AddNode("Dummy" + std::to_string(d), parent ? nullptr : group);
    node->object = scene->AddObject(kFamilyHelper, kDummyClass);
    node->local.SetTrans(Point3(float(d % 100), float(d / 100 % 100), 0.0f));
    if (shape.keysPerTrack > 0) {
      bool keyBearing = d % 2 == 0;
      std::unique_ptr<MemTransformController> tc(new MemTransformController);
      tc->position = MakeTrack(*scene, ControlKind::POSITION, keyBearing, shape.keysPerTrack, d);
      tc->rotation =
          MakeTrack(*scene, ControlKind::ROTATION, keyBearing, shape.keysPerTrack, d + 1);
      tc->scale = MakeTrack(*scene, ControlKind::SCALE, keyBearing, shape.keysPerTrack, d + 2);
      node->transform = scene->Own(std::move(tc));
    }
    if (parent) group = node;
  }
  if (shape.keysPerTrack > 0)
    scene->animationRange = Interval(0, (shape.keysPerTrack - 1) * kTicksPerKey);
  scene->ApplyHostSettings();
  return scene;
}

// Scenes are built once per shape and kept for the whole process.
MemScene& SceneOf(const SceneShape& shape) {
  static std::map<std::vector<int>, std::unique_ptr<MemScene>> scenes;
  std::unique_ptr<MemScene>& scene = scenes[shape.Key()];
  if (!scene) scene = GenerateScene(shape);
  return *scene;
}

bool Export(MemScene& scene, const std::string& path) {
  SilentSink sink;
  MessageSink* previous = SetMessageSink(&sink);
  ExportInterface ei;
  ei.scene = &scene;
  RunExport(path.c_str(), &ei, &scene);
  SetMessageSink(previous);
  return LastRunOutcome() == RunOutcome::WRITTEN;
}

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// The exported bytes of a scene, made once per shape.
const std::vector<uint8_t>& BytesOf(const SceneShape& shape) {
  static std::map<std::vector<int>, std::vector<uint8_t>> files;
  std::vector<uint8_t>& bytes = files[shape.Key()];
  if (bytes.empty()) {
    std::string path = BenchPath("reference.tsm");
    if (Export(SceneOf(shape), path)) bytes = ReadAll(path);
    std::remove(path.c_str());
  }
  return bytes;
}

// A mesh-heavy scene and a node-heavy, keyframer-heavy one: 20,000 animated dummies.
const SceneShape kMeshScene{96, 8192, 100, 0};
const SceneShape kNodeScene{0, 0, 20000, 10};

SceneShape ShapeOf(int kind) {
  return kind == 0 ? kMeshScene : kNodeScene;
}
const char* KindName(int kind) {
  return kind == 0 ? "mesh-heavy" : "node-heavy";
}

// The whole run into a regular file: enumeration, lists, writers, a nameless temporary
// file synced and renamed into place.
void BM_Export(benchmark::State& state) {
  SceneShape shape = ShapeOf(static_cast<int>(state.range(0)));
  MemScene& scene = SceneOf(shape);
  std::string path = BenchPath("export.tsm");
  for (auto _ : state) {
    if (!Export(scene, path)) {
      state.SkipWithError("export failed");
      break;
    }
  }
  int64_t bytes = static_cast<int64_t>(BytesOf(shape).size());
  std::remove(path.c_str());
  state.SetLabel(KindName(static_cast<int>(state.range(0))));
  state.SetBytesProcessed(state.iterations() * bytes);
  state.counters["file_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_Export)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The same bytes in one write, synced, closed: the floor of any writer.
void BM_SequentialWrite(benchmark::State& state) {
  const std::vector<uint8_t>& bytes = BytesOf(ShapeOf(static_cast<int>(state.range(0))));
  std::string path = BenchPath("sequential.tsm");
  for (auto _ : state) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    bool ok =
        fd >= 0 && ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    ok = fd >= 0 && ::fsync(fd) == 0 && ok;
    if (fd < 0 || ::close(fd) != 0 || !ok) {
      state.SkipWithError("write failed");
      break;
    }
  }
  std::remove(path.c_str());
  state.SetLabel(KindName(static_cast<int>(state.range(0))));
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes.size()));
}
BENCHMARK(BM_SequentialWrite)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// A plain buffered-stdio writer of the same chunk tree: header with a placeholder length,
// payload, children, then a seek back to patch the length and a seek forward to the end,
// at every chunk close.
bool WriteStdioChunk(std::FILE* f, const uint8_t* data, const Chunk& chunk) {
  long start = std::ftell(f);
  uint8_t header[6];
  std::memcpy(header, data + chunk.offset, 2);
  std::memset(header + 2, 0, 4);
  if (std::fwrite(header, 1, 6, f) != 6) return false;
  size_t payload = static_cast<size_t>(chunk.PayloadSize());
  if (payload > 0 && std::fwrite(data + chunk.payloadBegin, 1, payload, f) != payload) return false;
  for (const Chunk& child : chunk.children)
    if (!WriteStdioChunk(f, data, child)) return false;
  long end = std::ftell(f);
  uint32_t length = static_cast<uint32_t>(end - start);
  uint8_t le[4] = {uint8_t(length), uint8_t(length >> 8), uint8_t(length >> 16),
                   uint8_t(length >> 24)};
  return std::fseek(f, start + 2, SEEK_SET) == 0 && std::fwrite(le, 1, 4, f) == 4 &&
         std::fseek(f, end, SEEK_SET) == 0;
}

void BM_StdioSeekBackWriter(benchmark::State& state) {
  const std::vector<uint8_t>& bytes = BytesOf(ShapeOf(static_cast<int>(state.range(0))));
  ChunkTree tree = ReadChunkTree(bytes);
  if (!tree.ok) {
    state.SkipWithError(tree.error.c_str());
    return;
  }
  std::string path = BenchPath("stdio.tsm");
  for (auto _ : state) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    bool ok = f != nullptr && WriteStdioChunk(f, bytes.data(), tree.top) && std::fflush(f) == 0 &&
              ::fsync(::fileno(f)) == 0;
    if (f == nullptr || std::fclose(f) != 0 || !ok) {
      state.SkipWithError("write failed");
      break;
    }
  }
  if (ReadAll(path) != bytes) state.SkipWithError("the stdio writer wrote other bytes");
  std::remove(path.c_str());
  state.SetLabel(KindName(static_cast<int>(state.range(0))));
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes.size()));
}
BENCHMARK(BM_StdioSeekBackWriter)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Growth with the number of nodes: 10,000 against 100,000, half dummies and half spline
// shapes (a file numbers at most 65535 keyframer nodes, and shapes take no number).
void BM_ExportNodes(benchmark::State& state) {
  SceneShape shape{0, 0, static_cast<int>(state.range(0)), 0, true};
  MemScene& scene = SceneOf(shape);
  std::string path = BenchPath("nodes.tsm");
  for (auto _ : state) {
    if (!Export(scene, path)) {
      state.SkipWithError("export failed");
      break;
    }
  }
  state.counters["file_bytes"] = static_cast<double>(BytesOf(shape).size());
  std::remove(path.c_str());
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ExportNodes)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

// Memory of one export beyond the loaded scene, for a file of about 1 GB (350 meshes of
// 65,280 faces, about 2.9 MB each in the file): the peak of live heap bytes during the
// export less those before it, and the same for the resident set.
// Exports scene once per iteration and reports the heap and resident set beyond the
// loaded scene at the export's peak, with the file's size.
void MeasureExportMemory(benchmark::State& state, MemScene& scene) {
  std::string path = BenchPath("big.tsm");
  int64_t heapExtra = 0, rssExtra = -1;
  for (auto _ : state) {
    int64_t heapBefore = heapLive.load();
    heapPeak = heapBefore;
    int64_t rssBefore = StatusKiB("VmRSS");
    bool peakReset = ResetPeakRss();
    if (!Export(scene, path)) {
      state.SkipWithError("export failed");
      break;
    }
    heapExtra = std::max(heapExtra, heapPeak.load() - heapBefore);
    if (peakReset) rssExtra = std::max(rssExtra, StatusKiB("VmHWM") - rssBefore);
  }
  struct stat st {};
  ::stat(path.c_str(), &st);
  std::remove(path.c_str());
  state.counters["file_MiB"] = static_cast<double>(st.st_size) / (1 << 20);
  state.counters["heap_extra_MiB"] = static_cast<double>(heapExtra) / (1 << 20);
  state.counters["rss_extra_MiB"] = rssExtra < 0 ? -1.0 : static_cast<double>(rssExtra) / 1024;
  state.counters["scene_heap_MiB"] = static_cast<double>(heapLive.load()) / (1 << 20);
}

void BM_ExportPeakMemory(benchmark::State& state) {
  MeasureExportMemory(state, SceneOf(SceneShape{350, 65280, 1000}));
}
BENCHMARK(BM_ExportPeakMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

// The same for a scene imported from a .glb of range(0) grid meshes of 64,800 triangles
// (bench/glb_files.h): the importer's objects, split into pieces of at most 65,530
// vertices, with texture coordinates and vertex colours.
void BM_ExportPeakMemoryFromGlb(benchmark::State& state) {
  std::string glb = GlbBenchFile(int(state.range(0)));
  MemScene scene;
  if (glb.empty() || !LoadSceneFile(glb, ImportOptions(), scene).ok) {
    state.SkipWithError("could not make and load the .glb");
    return;
  }
  scene.ApplyHostSettings();
  MeasureExportMemory(state, scene);
}
BENCHMARK(BM_ExportPeakMemoryFromGlb)->Arg(31)->Iterations(1)->Unit(benchmark::kMillisecond);

// Soak: 10,000 exports of a mid-size scene in one process (a few meshes, a few hundred
// nodes), each file compared with the first; the growth of live heap and resident set
// between export 100 and the last, both taken while the copy of the first file lives.
void BM_SoakExports(benchmark::State& state) {
  MemScene& scene = SceneOf(SceneShape{8, 2048, 300, 0});
  std::string path = BenchPath("soak.tsm");
  const int kExports = 10000;
  int64_t differing = 0, heapAt100 = 0, rssAt100 = 0, heapAtEnd = 0, rssAtEnd = 0, size = 0;
  for (auto _ : state) {
    std::vector<uint8_t> first;
    for (int i = 0; i < kExports; ++i) {
      if (i == 100) {
        heapAt100 = heapLive.load();
        rssAt100 = StatusKiB("VmRSS");
      }
      if (!Export(scene, path)) {
        state.SkipWithError("export failed");
        return;
      }
      std::vector<uint8_t> bytes = ReadAll(path);
      if (i == 0) first = bytes;
      if (bytes != first || bytes.empty()) ++differing;
    }
    heapAtEnd = heapLive.load();
    rssAtEnd = StatusKiB("VmRSS");
    size = static_cast<int64_t>(first.size());
  }
  std::remove(path.c_str());
  state.counters["exports"] = kExports;
  state.counters["differing_files"] = static_cast<double>(differing);
  state.counters["file_bytes"] = static_cast<double>(size);
  state.counters["heap_growth_bytes"] = static_cast<double>(heapAtEnd - heapAt100);
  state.counters["rss_growth_KiB"] = static_cast<double>(rssAtEnd - rssAt100);
}
BENCHMARK(BM_SoakExports)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tsm
