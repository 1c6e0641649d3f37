// One export: from the host's export call to the closed file.
#ifndef TSM_RUN_EXPORT_RUN_H
#define TSM_RUN_EXPORT_RUN_H

#include <cstdint>

#include "run/host_scene.h"

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
// could not be created or written. An empty scene answers 1 without creating a file.
int RunExport(const char* name, ExportInterface* ei, HostInterface* ip);

}  // namespace tsm

#endif  // TSM_RUN_EXPORT_RUN_H
