#include "run/export_run.h"

#include "keyframer/keyframer.h"
#include "material/material_table.h"
#include "plugin/messages.h"
#include "io/output_file.h"
#include "run/progress.h"
#include "run/scene_lists.h"
#include "writer/file_writer.h"

namespace tsm {

namespace {

RunOutcome lastOutcome = RunOutcome::NONE;
RunOutputFailure lastFailure;

void NoteOutputFailure(const OutputFile& output) {
  lastFailure.error = output.Error();
  lastFailure.step = output.FailedStep();
}

// The run's own boxes: a string-table text, caption "TSMEXP4", OK only, shown whatever
// QuietMode says.
void ShowRunMessage(unsigned textId) {
  ShowResourceMessage(textId, IDS_RUN_CAPTION, MB_OK);
}

// Points the run-wide pointers at one run's lists while it lives, so that they are null
// again however the run ends, an exception that leaves it included.
class RunPointers {
 public:
  RunPointers(SceneEnumerator* entries, MaterialTable* materials, ObjectList* objects) {
    RunEntries = entries;
    RunMaterials = materials;
    RunObjects = objects;
  }
  ~RunPointers() {
    RunObjects = nullptr;
    RunEntries = nullptr;
    RunMaterials = nullptr;
  }
  RunPointers(const RunPointers&) = delete;
  RunPointers& operator=(const RunPointers&) = delete;
};

// Releases what a run built, in this order: the object list, the entries, the material
// table. The same on every path; the run-wide pointers go too, since what they point at
// lives no longer than the run.
void ReleaseRun(ObjectList& objects, SceneEnumerator& entries, MaterialTable& materials) {
  RunObjects = nullptr;
  RunEntries = nullptr;
  RunMaterials = nullptr;
  objects.Release();
  entries.ReleaseEntries();
  materials.ClearMaterialTable();
}

}  // namespace

const char* const kTooManyNodesText =
    "Too many nodes to export: a file holds at most 65535 animated nodes (meshes, dummies, "
    "cameras, lights and their targets). Nothing was written; an existing file of that name "
    "was kept.";

RunOutcome LastRunOutcome() {
  return lastOutcome;
}

const RunOutputFailure& LastRunOutputFailure() {
  return lastFailure;
}

int ExportToFile(const char* name, ExportInterface* ei, HostInterface* ip, int quiet,
                 uint32_t /*options*/) {
  QuietMode = quiet != 0 ? 1 : 0;
  int r = RunExport(name, ei, ip);
  if (r == 0) return 1;
  return r > 0 ? r : 0;
}

int RunExport(const char* name, ExportInterface* ei, HostInterface* ip) {
  lastFailure = RunOutputFailure();
  TimeValue time = ip != nullptr ? ip->CurrentTime() : 0;
  MaterialTable materials;
  ReportProgress(ProgressStage::ENUMERATING, 0.0);
  SceneEnumerator entries(ei != nullptr ? ei->scene : nullptr, time, ip, &materials);
  ObjectList objects;  // after the entries and the table, so unwinding frees it first
  ReportProgress(ProgressStage::ENUMERATING, 1.0);

  if (entries.Count() == 0) {
    ShowRunMessage(IDS_NO_DATA);
    ReleaseRun(objects, entries, materials);
    lastOutcome = RunOutcome::NO_DATA;
    return 1;
  }

  entries.NamePass();
  // Node numbers are 16 bits wide: a scene that needs more is refused before the file is
  // touched, rather than written with wrapped numbers.
  if (KeyframerNodeCount(entries.First()) > kMaxKeyframerNodes) {
    ShowExportErrorBox(kTooManyNodesText);
    ReleaseRun(objects, entries, materials);
    lastOutcome = RunOutcome::TOO_MANY_NODES;
    return 0;
  }
  objects.Build(entries);
  RunPointers pointers(&entries, &materials, &objects);

  OutputFile output;
  output.CloseIfOpen();
  if (!output.Open(name)) {
    NoteOutputFailure(output);
    ShowRunMessage(IDS_CANT_CREATE);
    output.CloseIfOpen();
    ReleaseRun(objects, entries, materials);
    lastOutcome = RunOutcome::CANT_CREATE;
    return 0;
  }

  int written = WriteTopChunk(MOD_MAIN, *output.Stream(), nullptr);
  int closed = output.CloseIfOpen();
  // A rename that fails leaves the file short of its place: as bad as a failed write.
  if (written == 0 || closed != 0 || !output.Commit()) {
    NoteOutputFailure(output);
    ShowRunMessage(IDS_WRITE_ERROR);  // before the unfinished file goes
    output.Discard();
    output.CloseIfOpen();
    ReleaseRun(objects, entries, materials);
    lastOutcome = RunOutcome::WRITE_ERROR;
    return 0;
  }

  ReleaseRun(objects, entries, materials);
  lastOutcome = RunOutcome::WRITTEN;
  return 1;
}

}  // namespace tsm
