// Progress of long loads and exports: the stages of one export and a hook through which
// the library tells whoever installed it how far a stage has come. The library never
// draws anything; a tool installs a callback and draws its own bar.
//
// Calling the hook costs one test of a pointer when nothing is installed, so writers may
// report as often as they like. For a loop over many items, ProgressCounter reports at
// most about two hundred times per stage, however many items there are:
//
//   ProgressCounter progress(ProgressStage::EDITOR_SECTION, objectCount);
//   for (item ...) { ...write the item...; progress.Step(); }
//
// Where the stages are reported: the export run reports ENUMERATING at its start and
// end, the top-level writer reports each section at 0 before writing it and at 1 once it
// is written, and the editor and keyframer writers step a ProgressCounter once per
// object and per entry. A loader reports LOADING the same way.
#ifndef TSM_RUN_PROGRESS_H
#define TSM_RUN_PROGRESS_H

#include <cstdint>

namespace tsm {

enum class ProgressStage {
  LOADING,            // reading the scene file into the in-memory scene
  ENUMERATING,        // visiting and classifying the scene's nodes
  EDITOR_SECTION,     // writing materials and objects
  KEYFRAMER_SECTION,  // writing nodes and tracks
};

// "loading", "enumerating", "editor section", "keyframer section".
const char* ProgressStageName(ProgressStage stage);

// Called with the stage and the fraction of it that is done, 0.0 to 1.0; context is the
// value given to SetProgressCallback. Runs on the thread that reports, inside the
// library's call; it must not call back into the export.
typedef void (*ProgressCallback)(ProgressStage stage, double fraction, void* context);

// Installs callback (null: none) with its context and answers the callback installed
// before. The hook is process-wide, like the rest of the run's state.
ProgressCallback SetProgressCallback(ProgressCallback callback, void* context);

// Tells the installed callback, if any, that stage is fraction done. A fraction outside
// 0..1 (or not a number) is clamped into it.
void ReportProgress(ProgressStage stage, double fraction);

// Reports one stage of a known number of items: 0 when made, then whenever Step has
// advanced another 1/200 of total. total <= 0 reports 0 and nothing else until Done.
class ProgressCounter {
 public:
  ProgressCounter(ProgressStage stage, int64_t total);
  // One more item done.
  void Step() {
    if (++done_ >= next_) Report();
  }
  // Reports the stage as complete.
  void Done();

 private:
  void Report();

  ProgressStage stage_;
  int64_t total_;
  int64_t done_ = 0;
  int64_t next_;  // the count at which the next report is due
};

// Scenes from this size on take long enough to export that a progress display helps.
constexpr int64_t kProgressMinNodes = 2000;
constexpr int64_t kProgressMinFaces = 1000000;
// Scene files from this size on take long enough to load.
constexpr int64_t kProgressMinSceneBytes = 8 * 1024 * 1024;

// True for a scene of at least kProgressMinNodes nodes or kProgressMinFaces faces.
inline bool WorthShowingProgress(int64_t nodes, int64_t faces) {
  return nodes >= kProgressMinNodes || faces >= kProgressMinFaces;
}

}  // namespace tsm

#endif  // TSM_RUN_PROGRESS_H
