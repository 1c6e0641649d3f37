// The loadable module's binding to the platform: the five exports under their C names,
// and the entry point run at load and unload. Built only into qdlexp.dle, with every
// other symbol hidden.
#include <dlfcn.h>

#include "plugin/plugin.h"

#define TSM_MODULE_EXPORT extern "C" __attribute__((visibility("default")))

TSM_MODULE_EXPORT const char* LibDescription() {
  return tsm::ModuleDescription();
}

TSM_MODULE_EXPORT int LibNumberClasses() {
  return tsm::ModuleClassCount();
}

TSM_MODULE_EXPORT ClassDesc* LibClassDesc(int i) {
  return tsm::ModuleClassDesc(i);
}

TSM_MODULE_EXPORT unsigned long LibVersion() {
  return tsm::kModuleLibVersion;
}

TSM_MODULE_EXPORT int CanAutoDefer() {
  return tsm::ModuleCanAutoDefer();
}

namespace {

const char moduleAnchor = 0;

// The module's handle: the address the module is loaded at, or, should the loader not
// tell, the address of a byte of the module, which identifies it as well.
tsm::ModuleHandle ThisModule() {
  Dl_info info;
  if (dladdr(&moduleAnchor, &info) != 0 && info.dli_fbase != nullptr) return info.dli_fbase;
  return const_cast<char*>(&moduleAnchor);
}

__attribute__((constructor)) void OnModuleLoad() {
  tsm::ModuleEntry(ThisModule(), tsm::DLL_PROCESS_ATTACH, nullptr);
}

__attribute__((destructor)) void OnModuleUnload() {
  tsm::ModuleEntry(ThisModule(), tsm::DLL_PROCESS_DETACH, nullptr);
}

}  // namespace
