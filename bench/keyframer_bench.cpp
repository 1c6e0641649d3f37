// The keyframer section of animation-heavy scenes, written through the buffered file
// stream, against one sequential write of the same bytes: thousands of nodes with short
// tracks, and a few nodes whose tracks hold thousands of keys. Half the controllers are
// key-bearing (keys copied), half sampled (values asked at every key time); the same
// scenes with key-bearing controllers only, and with sampled ones only, show what each
// kind of key costs.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "keyframer/keyframer.h"
#include "material/material_table.h"
#include "plugin/platform.h"
#include "run/export_run.h"
#include "run/scene_lists.h"
#include "scene/mem_controllers.h"
#include "scene/mem_objects.h"

namespace tsm {
namespace {

constexpr TimeValue kTpf = 160;

class SilentSink : public MessageSink {
 public:
  int Show(const char*, const char*, unsigned) override { return IDOK; }
};

// Every track of the scene, as the floor measurement below walks them.
struct Track {
  HostController* c;
  ControlKind kind;
};

MemController* MakeTrack(MemScene& scene, ControlKind kind, bool keyed, int keys, int seed,
                         std::vector<Track>& tracks) {
  auto c = std::make_unique<MemController>(kind, keyed);
  c->keys.resize(static_cast<size_t>(keys));
  for (int k = 0; k < keys; ++k) {
    MemKey& key = c->keys[static_cast<size_t>(k)];
    key.time = k * kTpf;
    float v = static_cast<float>((k * 7 + seed) % 100) * 0.1f;
    // A key holds the value of its controller's kind only.
    if (kind == ControlKind::FLOAT)
      key.f = v;
    else if (kind != ControlKind::ROTATION)
      key.p = Point3(v, v + 1, v + 2);
    else if (keyed)
      key.aa = AngAxis(Point3(0, 0, 1), 0.01f * v);
    else
      key.q = QuatFromAngAxis(v, Point3(0, 0, 1));
    key.tens = (k % 3 == 0) ? 0.5f : 0.0f;
  }
  tracks.push_back({c.get(), kind});
  return scene.Own(std::move(c));
}

// nodes mesh nodes sharing one mesh, in chains of ten, each with position, rotation and
// scale tracks of keys keys; of each two nodes, sampledOfTwo have sampled controllers and
// the others key-bearing ones.
std::unique_ptr<MemScene> MakeScene(int nodes, int keys, int sampledOfTwo,
                                    std::vector<Track>& tracks) {
  std::unique_ptr<MemScene> scene(new MemScene);
  MemObject* mesh = scene->Own(std::make_unique<MemMeshObject>());
  MemNode* parent = nullptr;
  for (int i = 0; i < nodes; ++i) {
    MemNode* node = scene->AddNode("Node" + std::to_string(i), i % 10 == 0 ? nullptr : parent);
    node->object = mesh;
    bool keyed = i % 2 < 2 - sampledOfTwo;
    auto tc = std::make_unique<MemTransformController>();
    tc->position = MakeTrack(*scene, ControlKind::POSITION, keyed, keys, i, tracks);
    tc->rotation = MakeTrack(*scene, ControlKind::ROTATION, keyed, keys, i + 1, tracks);
    tc->scale = MakeTrack(*scene, ControlKind::SCALE, keyed, keys, i + 2, tracks);
    node->transform = scene->Own(std::move(tc));
    parent = node;
  }
  scene->animationRange = Interval(0, keys * kTpf);
  return scene;
}

bool WriteSectionFile(const std::string& path, std::vector<uint8_t>* copy) {
  FileStream s;
  if (!s.Open(path.c_str())) return false;
  bool ok = WriteKeyframerSection(s);
  if (s.Close() != 0 || !ok) return false;
  if (copy != nullptr) {
    MemoryStream m;
    if (!WriteKeyframerSection(m)) return false;
    *copy = m.Bytes();
  }
  return true;
}

// What any writer of these bytes must do through the host interface, and nothing else: a
// key-bearing controller's keys fetched one by one, a sampled controller's value asked at
// each key time and a sampled rotation turned into the angle and axis from the previous
// one. No encoding, no stream. Answers a sum of the results, so none is left out.
double QueryKeys(const std::vector<Track>& tracks) {
  double sum = 0;
  for (const Track& t : tracks) {
    HostController* c = t.c;
    HostKeyControl* keys = HasSplineKeys(c) ? c->KeyInterface(KEY_INTERFACE_ID) : nullptr;
    Quat prev;
    Interval valid(TIME_NegInfinity, TIME_NegInfinity);
    for (int i = 0, n = c->KeyCount(); i < n; ++i) {
      if (keys != nullptr) {
        SplineKey key;
        keys->GetKey(i, &key);
        sum += key.time + key.tens + key.pval.x + key.aval.angle;
        continue;
      }
      TimeValue time = c->KeyTime(i);
      if (t.kind == ControlKind::ROTATION) {
        Quat q;
        c->ControllerValue(time, &q, valid, 1);
        AngAxis d(q / prev);
        prev = q;
        sum += d.angle + d.axis.x;
      } else if (t.kind == ControlKind::SCALE) {
        ScaleValue v;
        c->ControllerValue(time, &v, valid, 1);
        sum += v.s.x;
      } else {
        Point3 v;
        c->ControllerValue(time, &v, valid, 1);
        sum += v.x;
      }
    }
  }
  return sum;
}

// The rotations a sampled rotation track writes, gathered beforehand (one run per track).
std::vector<std::vector<Quat>> SampledRotations(const std::vector<Track>& tracks) {
  std::vector<std::vector<Quat>> runs;
  for (const Track& t : tracks) {
    if (t.kind != ControlKind::ROTATION || HasSplineKeys(t.c)) continue;
    std::vector<Quat>& run = runs.emplace_back();
    Interval valid(TIME_NegInfinity, TIME_NegInfinity);
    for (int i = 0, n = t.c->KeyCount(); i < n; ++i)
      t.c->ControllerValue(t.c->KeyTime(i), &run.emplace_back(), valid, 1);
  }
  return runs;
}

// The arithmetic alone that turns those rotations into the bytes: the rotation from the
// previous one, as an angle and an axis.
double AnglesAndAxes(const std::vector<std::vector<Quat>>& runs) {
  double sum = 0;
  for (const std::vector<Quat>& run : runs) {
    Quat prev;
    for (const Quat& q : run) {
      AngAxis d(q / prev);
      prev = q;
      sum += d.angle + d.axis.x;
    }
  }
  return sum;
}

bool WriteOnce(const std::string& path, const std::vector<uint8_t>& bytes) {
  FileStream s;
  if (!s.Open(path.c_str())) return false;
  bool ok = WriteBytes(s, bytes.data(), bytes.size());
  return s.Close() == 0 && ok;
}

void BM_KeyframerSection(benchmark::State& state) {
  SilentSink sink;
  MessageSink* previous = SetMessageSink(&sink);
  const int nodes = static_cast<int>(state.range(0));
  const int keys = static_cast<int>(state.range(1));
  std::vector<Track> tracks;
  std::unique_ptr<MemScene> scene =
      MakeScene(nodes, keys, static_cast<int>(state.range(2)), tracks);
  scene->ApplyHostSettings();
  MaterialTable materials;
  SceneEnumerator entries(scene.get(), 0, scene.get(), &materials);
  entries.NamePass();
  ObjectList objects;
  objects.Build(entries);
  RunEntries = &entries;
  RunMaterials = &materials;
  RunObjects = &objects;
  const std::string path = "/tmp/tsm_kf_bench_" + std::to_string(::getpid()) + ".bin";

  std::vector<uint8_t> bytes;
  if (!WriteSectionFile(path, &bytes)) state.SkipWithError("write failed");
  for (auto _ : state) {
    if (!WriteSectionFile(path, nullptr)) {
      state.SkipWithError("write failed");
      break;
    }
  }
  // The same bytes in one sequential write, timed the same way, for the ratio: processor
  // time (user and system) of the process, which a busy machine disturbs less than the
  // wall clock, and the wall clock too.
  struct Times {
    double cpu, wall;
  };
  auto timeOf = [&](int rounds, auto&& write) {
    std::clock_t c0 = std::clock();
    auto w0 = std::chrono::steady_clock::now();
    for (int i = 0; i < rounds; ++i) write();
    double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - w0).count();
    return Times{double(std::clock() - c0) / CLOCKS_PER_SEC / rounds, wall / rounds};
  };
  Times once = timeOf(20, [&] { WriteOnce(path, bytes); });
  Times section = timeOf(5, [&] { WriteSectionFile(path, nullptr); });
  volatile double answers = 0;
  Times queries = timeOf(5, [&] { answers = answers + QueryKeys(tracks); });
  const std::vector<std::vector<Quat>> rotations = SampledRotations(tracks);
  Times angles = timeOf(5, [&] { answers = answers + AnglesAndAxes(rotations); });
  std::remove(path.c_str());

  state.counters["bytes"] = static_cast<double>(bytes.size());
  state.counters["keys"] = 3.0 * nodes * keys;
  state.counters["sequential_ms"] = once.wall * 1e3;
  state.counters["ratio"] = once.cpu > 0 ? section.cpu / once.cpu : 0;
  state.counters["wall_ratio"] = once.wall > 0 ? section.wall / once.wall : 0;
  // The least ratio any writer through this interface could reach: the sequential write
  // plus the host's answers alone.
  state.counters["floor_ratio"] = once.cpu > 0 ? (once.cpu + queries.cpu) / once.cpu : 0;
  // Of that, the angle and axis of the sampled rotations, with the host's answers at hand.
  state.counters["angles_ratio"] = once.cpu > 0 ? angles.cpu / once.cpu : 0;
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes.size()));
  RunEntries = nullptr;
  RunMaterials = nullptr;
  RunObjects = nullptr;
  SetMessageSink(previous);
}
// Thousands of nodes with short tracks; a few nodes with tracks of thousands of keys. The
// third argument: how many of each two nodes have sampled controllers.
BENCHMARK(BM_KeyframerSection)
    ->ArgsProduct({{4000}, {10}, {1, 0, 2}})
    ->ArgsProduct({{2000}, {100}, {1, 0, 2}})
    ->ArgsProduct({{20}, {5000}, {1, 0, 2}})
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tsm
