#include "host/custom_controls.h"

namespace {
int customControlsInits = 0;
void* customControlsModule = nullptr;
}  // namespace

void InitCustomControls(void* module) {
  ++customControlsInits;
  customControlsModule = module;
}

int CustomControlsInitCount() {
  return customControlsInits;
}

void* CustomControlsModule() {
  return customControlsModule;
}
