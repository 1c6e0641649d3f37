// The class descriptor of the exporter object: how the host learns the exporter's name,
// kind and identity and makes instances of it.
#ifndef TSM_PLUGIN_FORMAT_CLASS_DESC_H
#define TSM_PLUGIN_FORMAT_CLASS_DESC_H

#include <cstdint>

#include "host/class_desc.h"

namespace tsm {

// The exporter's class id.
constexpr uint32_t kFormatClassIdA = 0x62F46A5E;
constexpr uint32_t kFormatClassIdB = 0x037B1F42;

// Adds no data to the base; the interface table stays the base's. The further
// operations of the base (resource strings, interface registry) keep the base's answers.
class FormatClassDesc : public ClassDesc {
 public:
  // 1: the exporter is offered to the user.
  int IsPublic() override;
  // A new FormatExporter as a SceneExport*, owned by the caller (freed with delete), or
  // null when memory runs out. loading is ignored.
  void* Create(int loading) override;
  // Text 40216 "Tessarin Quadrel"; null when it can't be loaded.
  const char* ClassName() override;
  // kSceneExportSuperClass (0xA20).
  uint32_t SuperClassNumber() override;
  // (kFormatClassIdA, kFormatClassIdB).
  Class_ID ClassIdentity() override;
  // Text 40231 "Scene Export"; null when it can't be loaded.
  const char* Category() override;
};

}  // namespace tsm

#endif  // TSM_PLUGIN_FORMAT_CLASS_DESC_H
