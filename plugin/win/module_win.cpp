// The loadable module's binding to Windows: DllMain as the entry point, and the five
// exports under their C names. Which names the module exports is decided by qdlexp.def
// alone; nothing here is marked for export.
//
// The module's headers come before <windows.h>: their constants share their names with
// the system's macros, which would otherwise rewrite them.
// clang-format off
#include "plugin/plugin.h"

#include <windows.h>
// clang-format on

extern "C" const char* LibDescription() {
  return tsm::ModuleDescription();
}

extern "C" int LibNumberClasses() {
  return tsm::ModuleClassCount();
}

extern "C" ClassDesc* LibClassDesc(int i) {
  return tsm::ModuleClassDesc(i);
}

extern "C" unsigned long LibVersion() {
  return tsm::kModuleLibVersion;
}

extern "C" int CanAutoDefer() {
  return tsm::ModuleCanAutoDefer();
}

// Called by the system on load, on unload and when threads start and end. The module's
// static objects (the class descriptor) are made before the load notification arrives
// and destroyed after the unload notification.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  return tsm::ModuleEntry(instance, reason, reserved) != 0 ? TRUE : FALSE;
}
