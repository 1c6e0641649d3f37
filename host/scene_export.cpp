#include "host/scene_export.h"

SceneExport::~SceneExport() = default;

int SceneExport::OptionsSupported(int /*ext*/, uint32_t /*options*/) {
  return 0;
}
