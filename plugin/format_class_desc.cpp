#include "plugin/format_class_desc.h"

#include <new>

#include "host/scene_export.h"
#include "plugin/format_exporter.h"
#include "plugin/messages.h"

namespace tsm {

int FormatClassDesc::IsPublic() {
  return 1;
}

void* FormatClassDesc::Create(int /*loading*/) {
  // Through SceneExport*, so the host may take the pointer back as its exporter base.
  SceneExport* exporter = new (std::nothrow) FormatExporter;
  return exporter;
}

const char* FormatClassDesc::ClassName() {
  return LoadResourceString(IDS_CLASS_NAME);
}

uint32_t FormatClassDesc::SuperClassNumber() {
  return kSceneExportSuperClass;
}

Class_ID FormatClassDesc::ClassIdentity() {
  return Class_ID(kFormatClassIdA, kFormatClassIdB);
}

const char* FormatClassDesc::Category() {
  return LoadResourceString(IDS_CATEGORY);
}

}  // namespace tsm
