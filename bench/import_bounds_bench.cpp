// Work that hostile inputs once made quadratic, each beside a case of the same size that
// never was: one OBJ polygon of many corners against the same corners as triangles, and
// the faces of one mesh each in its own material slot against all in one slot.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>

#include "bench/export_runs.h"
#include "formats/scene_import.h"
#include "run/export_run.h"
#include "scene/mem_material.h"
#include "scene/mem_objects.h"
#include "scene/mem_scene.h"

namespace {

std::string BenchPath(const std::string& what) {
  return "/tmp/tsm_bounds_bench_" + std::to_string(::getpid()) + "_" + what;
}

// An OBJ of n vertices on a circle: one face of all of them, or n - 2 triangles of a fan.
std::string PolygonObj(int n, bool oneFace) {
  std::string path = BenchPath(std::to_string(n) + (oneFace ? "_polygon.obj" : "_fan.obj"));
  std::ofstream out(path);
  for (int i = 0; i < n; ++i) {
    double a = 6.283185307179586 * i / n;
    out << "v " << std::cos(a) << ' ' << std::sin(a) << " 0\n";
  }
  if (oneFace) {
    out << 'f';
    for (int i = 1; i <= n; ++i) out << ' ' << i;
    out << '\n';
  } else {
    for (int i = 2; i < n; ++i) out << "f 1 " << i << ' ' << i + 1 << '\n';
  }
  return path;
}

void LoadObj(benchmark::State& state, bool oneFace) {
  std::string path = PolygonObj(int(state.range(0)), oneFace);
  for (auto _ : state) {
    tsm::MemScene scene;
    tsm::ImportOptions options;
    tsm::ImportResult r = tsm::LoadSceneFile(path, options, scene);
    if (!r.ok) {
      state.SkipWithError(r.error.c_str());
      break;
    }
  }
  std::remove(path.c_str());
}

void BM_ObjOnePolygon(benchmark::State& state) { LoadObj(state, true); }
void BM_ObjSameCornersAsTriangles(benchmark::State& state) { LoadObj(state, false); }
BENCHMARK(BM_ObjOnePolygon)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ObjSameCornersAsTriangles)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

// One mesh of n faces under a multi/sub material of n slots; each face in its own slot,
// or all in slot 0.
std::unique_ptr<tsm::MemScene> SlotScene(int n, bool ownSlots) {
  auto scene = std::make_unique<tsm::MemScene>();
  auto mesh = std::make_unique<tsm::MemMeshObject>();
  auto* multi = scene->Own(std::make_unique<tsm::MemMaterial>());
  multi->classId = kMultiMaterialClass;
  multi->name = "Slots";
  for (int f = 0; f < n; ++f) {
    mesh->vertices.emplace_back(float(f % 256), float(f / 256), 0.0f);
    tsm::MemFace face;
    face.v = {f, (f + 1) % n, (f + 2) % n};
    face.materialId = ownSlots ? f : 0;
    mesh->faces.push_back(face);
    auto* m = scene->Own(std::make_unique<tsm::MemMaterial>());
    m->name = "m" + std::to_string(f);
    multi->subMaterials.push_back(m);
  }
  tsm::MemNode* node = scene->AddNode("Mesh");
  node->object = scene->Own(std::move(mesh));
  node->material = multi;
  return scene;
}

void ExportSlots(benchmark::State& state, bool ownSlots) {
  std::unique_ptr<tsm::MemScene> scene = SlotScene(int(state.range(0)), ownSlots);
  std::string path = BenchPath("slots.tsm");
  tsm::ExportEachIteration(state, *scene, path);
}

void BM_ExportFacesEachInOwnSlot(benchmark::State& state) { ExportSlots(state, true); }
void BM_ExportFacesAllInOneSlot(benchmark::State& state) { ExportSlots(state, false); }
BENCHMARK(BM_ExportFacesEachInOwnSlot)->Arg(65530)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExportFacesAllInOneSlot)->Arg(65530)->Unit(benchmark::kMillisecond);

}  // namespace
