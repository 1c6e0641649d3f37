// One export: from the host's export call to the closed file.
#ifndef TSM_RUN_EXPORT_RUN_H
#define TSM_RUN_EXPORT_RUN_H

#include <cstdint>
#include <memory>
#include <string>

#include "io/output_file.h"
#include "run/host_scene.h"
#include "writer/chunk_io.h"

namespace tsm {

class SceneEnumerator;
class ObjectList;
class MaterialTable;

// 1 while the writers' warning boxes are to be suppressed. Set at the start of every
// export call from its quiet flag; it keeps the value of the last call.
extern int QuietMode;

// The lists of the run that is writing, for the writers; meaningful only while a run
// writes. Set after the object list is built, before the file is opened.
extern SceneEnumerator* RunEntries;
extern MaterialTable* RunMaterials;
extern ObjectList* RunObjects;

// The exporter's export operation: sets QuietMode from quiet (non-zero gives 1), runs the
// export into the file at name and maps its result r to the host's answer (r = 0 gives
// 1, r > 0 gives r, r < 0 gives 0), so the host receives 1 after every export. Failures
// reach the user through the run's message boxes. options is not used.
int ExportToFile(const char* name, ExportInterface* ei, HostInterface* ip, int quiet,
                 uint32_t options);

// The run: enumerates the scene, writes the whole file and answers 1, or 0 when the file
// could not be created or written. A scene with more keyframer nodes than a file can
// number (kMaxKeyframerNodes) is refused before any file is opened: the box
// kTooManyNodesText (caption "Export Error", shown whatever QuietMode says) and 0. An empty scene
// answers 1 without creating a file.
//
// The file never replaces what is at name until it is complete: the bytes go into a new
// file in the same folder, one without a name where the file system makes those, or else
// a temporary one whose name is no longer than the target's; it is put in place by
// rename once it has been written, closed and synced. A failed run removes only that
// file, so a file that was at name before stays as it was. A symbolic link at name is
// never replaced: the file it leads to is, and a link that leads nowhere can't be created.
// A file that may not be written is not replaced either: the output can't be created. A
// new file gets the mode 0666 less the umask; a replaced file keeps its permission bits
// and, as far as the process may, its owner and group (set-ID bits only with their own
// owner or group). An existing file in a folder that may not be written is written in
// place, and emptied when the run fails. A name of an open descriptor of the process
// (/dev/stdout, /dev/fd/N, ...), a device or a pipe is written in place and never
// removed.
// The run-wide pointers are set while the file is written and null again afterwards, also
// when an exception (out of memory) leaves the run.
int RunExport(const char* name, ExportInterface* ei, HostInterface* ip);

// How the last run ended, for callers that need more than the host's answer (the
// command-line tool reports it in its exit status).
enum class RunOutcome {
  NONE,            // no run yet
  WRITTEN,         // the file was written
  NO_DATA,         // the scene had nothing to export; no file was made
  CANT_CREATE,     // the output file could not be created
  WRITE_ERROR,     // a write or the close failed; the unfinished file was removed
  TOO_MANY_NODES,  // more keyframer nodes than a file can number; no file was made
};
RunOutcome LastRunOutcome();

// Why the output of the last run could not be created or written, for callers that say
// more than the run's boxes: the system's error number (0 when unknown) and the step that
// failed ("" for plain opens and writes). Both empty after any other outcome.
struct RunOutputFailure {
  int error = 0;
  std::string step;
};
const RunOutputFailure& LastRunOutputFailure();

// The text of the box that refuses a scene with too many keyframer nodes.
extern const char* const kTooManyNodesText;

}  // namespace tsm

#endif  // TSM_RUN_EXPORT_RUN_H
