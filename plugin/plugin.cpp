#include "plugin/plugin.h"

#include "host/custom_controls.h"
#include "plugin/messages.h"

namespace tsm {

namespace {
// Made when the module (or the program) is loaded, destroyed when it is unloaded.
FormatClassDesc formatClassDesc;
// 1 once the first notification did the one-time initialisation.
int initialised = 0;
// Its address is the static handle.
const char staticModuleAnchor = 0;
}  // namespace

int ModuleEntry(ModuleHandle handle, unsigned long /*reason*/, void* /*reserved*/) {
  SetModuleHandle(handle);
  if (initialised == 0) {
    initialised = 1;
    InitCustomControls(handle);
    InitCommonControls();
  }
  return 1;
}

ModuleHandle StaticModuleHandle() {
  return const_cast<char*>(&staticModuleAnchor);
}

const char* ModuleDescription() {
  return LoadResourceString(IDS_LIB_DESCRIPTION);
}

int ModuleClassCount() {
  return 1;
}

ClassDesc* ModuleClassDesc(int i) {
  return i == 0 ? &formatClassDesc : nullptr;
}

int ModuleCanAutoDefer() {
  return 1;
}

}  // namespace tsm
