#include "run/export_run.h"

namespace tsm {

int QuietMode = 0;
SceneEnumerator* RunEntries = nullptr;
MaterialTable* RunMaterials = nullptr;
ObjectList* RunObjects = nullptr;

}  // namespace tsm
