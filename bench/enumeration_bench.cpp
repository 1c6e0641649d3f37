// Enumeration and list building grow linearly with the scene: scenes of 1,000 to 100,000
// nodes, with many mesh instances, cameras and lights with targets, dummies and shapes,
// enumerated, named and listed, then looked up the way the writers look them up.
#include <benchmark/benchmark.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "material/material_table.h"
#include "plugin/platform.h"
#include "run/export_run.h"
#include "run/scene_lists.h"
#include "scene/mem_material.h"
#include "scene/mem_scene.h"

namespace tsm {
namespace {

constexpr int kFamilyGeometry = 16;
constexpr int kMaterials = 8;  // few materials: the table is not what is measured
constexpr int kInstancesPerMesh = 4;

class SilentSink : public MessageSink {
 public:
  int Show(const char*, const char*, unsigned) override { return IDOK; }
};

// Groups of ten nodes under a dummy: four mesh instances, a camera and its target, a
// spot and its target, a dummy child and a shape. Every group's dummy also lists the
// camera among its dependents, so target lookups walk more than the nodes themselves.
std::unique_ptr<MemScene> MakeScene(int nodes) {
  std::unique_ptr<MemScene> scene(new MemScene);
  std::vector<MemMaterial*> materials;
  for (int i = 0; i < kMaterials; ++i) {
    materials.push_back(scene->Own(std::unique_ptr<MemMaterial>(new MemMaterial)));
    materials.back()->name = "Material" + std::to_string(i);
  }
  MemObject* mesh = nullptr;
  int meshes = 0;
  for (int n = 0; n < nodes;) {
    std::string g = std::to_string(n);
    MemNode* group = scene->AddNode("Group" + g);
    group->object = scene->AddObject(kFamilyHelper, kDummyClass);
    ++n;
    for (int i = 0; i < 4 && n < nodes; ++i, ++n) {
      if (meshes++ % kInstancesPerMesh == 0)
        mesh = scene->AddObject(kFamilyGeometry, Class_ID(0x10, 0), true);
      MemNode* m = scene->AddNode("Mesh" + std::to_string(n), group);
      m->object = mesh;
      m->material = materials[n % kMaterials];
    }
    if (n + 2 <= nodes) {
      MemNode* camera = scene->AddNode("Camera" + g, group);
      camera->object = scene->AddObject(kFamilyCamera, kCameraClass);
      MemNode* target = scene->AddNode("Camera" + g + ".Target", group);
      target->object = scene->AddObject(kFamilyHelper, Class_ID(0x1020, 0));
      MemScene::SetLookAt(camera, target);
      group->extraDependents.push_back(camera);
      n += 2;
    }
    if (n + 2 <= nodes) {
      MemNode* spot = scene->AddNode("Spot" + g, group);
      spot->object = scene->AddObject(kFamilyLight, kSpotLightClass);
      MemNode* target = scene->AddNode("Spot" + g + ".Target", group);
      target->object = scene->AddObject(kFamilyHelper, Class_ID(0x1020, 0));
      MemScene::SetLookAt(spot, target);
      n += 2;
    }
    if (n < nodes) {
      scene->AddNode("Shape" + g, group)->object = scene->AddObject(kFamilyShape, kShapeClass);
      ++n;
    }
  }
  return scene;
}

MemScene& SceneOf(int nodes) {
  static std::map<int, std::unique_ptr<MemScene>> scenes;
  std::unique_ptr<MemScene>& scene = scenes[nodes];
  if (!scene) scene = MakeScene(nodes);
  return *scene;
}

void BM_EnumerateAndList(benchmark::State& state) {
  SilentSink sink;
  MessageSink* previous = SetMessageSink(&sink);
  MemScene& scene = SceneOf(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    MaterialTable table;
    SceneEnumerator entries(&scene, scene.currentTime, &scene, &table);
    entries.NamePass();
    ObjectList objects;
    objects.Build(entries);
    int64_t found = 0;
    for (SceneEntry* e = entries.First(); e != nullptr; e = e->next) {
      if (e->kind == ENTRY_CAMERA_TARGET || e->kind == ENTRY_LIGHT_TARGET)
        found += objects.FindItemByTarget(e->node) != nullptr;
      if (e->kind == ENTRY_MESH) found += objects.FindItemByObject(e->object) != nullptr;
      found += entries.FindEntryByNode(e->node->ParentNode()) != nullptr;
    }
    benchmark::DoNotOptimize(found);
  }
  state.SetComplexityN(state.range(0));
  SetMessageSink(previous);
}
BENCHMARK(BM_EnumerateAndList)
    ->RangeMultiplier(10)
    ->Range(1000, 100000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

// The whole run into a device, so that the file system is not what is measured.
void BM_RunExport(benchmark::State& state) {
  SilentSink sink;
  MessageSink* previous = SetMessageSink(&sink);
  MemScene& scene = SceneOf(static_cast<int>(state.range(0)));
  ExportInterface ei;
  ei.scene = &scene;
  for (auto _ : state) benchmark::DoNotOptimize(RunExport("/dev/null", &ei, &scene));
  state.SetComplexityN(state.range(0));
  SetMessageSink(previous);
}
BENCHMARK(BM_RunExport)
    ->RangeMultiplier(10)
    ->Range(1000, 100000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

}  // namespace
}  // namespace tsm
