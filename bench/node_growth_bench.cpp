// The cost of a node as scenes grow from ten thousand to a million nodes, flat (every
// node at the top) and deep (chains of 100, each node the child of the one before).
// Every 20th node is a dummy, the others spline shapes of four knots sharing one shape
// object, so that a million nodes number 50,000 keyframer nodes, within the 65535 a
// file can number. Each node has its own translation and a turn, so that world
// transforms are real products. The whole run goes into /dev/null, so the disk is not
// what is measured; items_per_second counts nodes per second of processor time. Each
// export starts from the memory a fresh process has (malloc_trim, outside the timing).
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <memory>
#include <string>

#include "plugin/platform.h"
#include "run/export_run.h"
#include "run/scene_lists.h"
#include "scene/mem_objects.h"
#include "scene/mem_scene.h"

namespace tsm {
namespace {

class SilentSink : public MessageSink {
 public:
  int Show(const char*, const char*, unsigned) override { return IDOK; }
};

constexpr int kChain = 100;        // nodes in one chain of a deep scene
constexpr int kDummyEvery = 20;    // one node in this many is a dummy

std::unique_ptr<MemScene> MakeScene(int nodes, bool deep) {
  std::unique_ptr<MemScene> scene(new MemScene);
  std::unique_ptr<MemShapeObject> shape(new MemShapeObject);
  shape->splines.resize(1);
  for (int k = 0; k < 4; ++k) {
    MemKnot knot;
    knot.point = Point3(float(k), float(k % 2), 0.5f);
    knot.inVec = knot.outVec = knot.point;
    shape->splines[0].knots.push_back(knot);
  }
  MemShapeObject* sharedShape = scene->Own(std::move(shape));
  MemNode* previous = nullptr;
  for (int i = 0; i < nodes; ++i) {
    MemNode* parent = deep && i % kChain != 0 ? previous : nullptr;
    MemNode* node = scene->AddNode("N" + std::to_string(i), parent);
    if (i % kDummyEvery == 0)
      node->object = scene->AddObject(kFamilyHelper, kDummyClass);
    else
      node->object = sharedShape;
    node->local = QuatToMatrix(QuatFromAngAxis(0.01f * float(i % 7), Point3(0, 0, 1))) *
                  TransMatrix(Point3(1.0f, 0.0f, 0.1f));
    previous = node;
  }
  scene->ApplyHostSettings();
  return scene;
}

// One scene at a time: a million nodes take hundreds of megabytes.
MemScene& SceneOf(int nodes, bool deep) {
  static std::unique_ptr<MemScene> scene;
  static int madeNodes = -1;
  static bool madeDeep = false;
  if (!scene || madeNodes != nodes || madeDeep != deep) {
    scene.reset();
    scene = MakeScene(nodes, deep);
    madeNodes = nodes;
    madeDeep = deep;
  }
  return *scene;
}

void BM_ExportNodeGrowth(benchmark::State& state) {
  SilentSink sink;
  MessageSink* previous = SetMessageSink(&sink);
  const int nodes = static_cast<int>(state.range(0));
  const bool deep = state.range(1) != 0;
  MemScene& scene = SceneOf(nodes, deep);
  ExportInterface ei;
  ei.scene = &scene;
  for (auto _ : state) {
    // Every export starts from the memory a fresh process has, whatever size ran before:
    // the allocator gives back what earlier exports freed, outside the timing.
    state.PauseTiming();
    malloc_trim(0);
    state.ResumeTiming();
    RunExport("/dev/null", &ei, &scene);
    if (LastRunOutcome() != RunOutcome::WRITTEN) {
      state.SkipWithError("export failed");
      break;
    }
  }
  state.SetLabel(deep ? "deep" : "flat");
  state.SetItemsProcessed(state.iterations() * nodes);
  SetMessageSink(previous);
}
BENCHMARK(BM_ExportNodeGrowth)
    ->ArgsProduct({{10000, 100000, 1000000}, {0, 1}})
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tsm
