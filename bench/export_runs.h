// The timed loop the export benchmarks share: one whole export per iteration.
#ifndef TSM_BENCH_EXPORT_RUNS_H
#define TSM_BENCH_EXPORT_RUNS_H

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "run/export_run.h"
#include "scene/mem_scene.h"

namespace tsm {

// Exports scene into path once per iteration of state, as tsmexport -o does, and stops
// the benchmark with an error when an export writes no file. The file goes at the end.
inline void ExportEachIteration(benchmark::State& state, MemScene& scene,
                                const std::string& path) {
  ExportInterface ei;
  ei.scene = &scene;
  for (auto _ : state) {
    ExportToFile(path.c_str(), &ei, &scene, 1, 0);
    if (LastRunOutcome() != RunOutcome::WRITTEN) {
      state.SkipWithError("export failed");
      break;
    }
  }
  std::remove(path.c_str());
}

}  // namespace tsm

#endif  // TSM_BENCH_EXPORT_RUNS_H
