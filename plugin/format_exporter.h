// The exporter object: the one class the module offers. It writes scenes into .tsm files
// and holds no data; every export is a self-contained run.
#ifndef TSM_PLUGIN_FORMAT_EXPORTER_H
#define TSM_PLUGIN_FORMAT_EXPORTER_H

#include "host/scene_export.h"

namespace tsm {

class FormatExporter : public SceneExport {
 public:
  // 1: the exporter writes one file type.
  int ExtensionCount() override;
  // "tsm" for n = 0; an empty text (not null) for any other n.
  const char* Extension(int n) override;
  // Texts 40220, 40221, 40222 and 40223 of the string table, in its shared buffer until
  // the next text is loaded; null when the text can't be loaded (no module handle yet).
  const char* LongDescription() override;
  const char* ShortDescription() override;
  const char* AuthorName() override;
  const char* CopyrightMessage() override;
  // Empty texts.
  const char* FirstOtherMessage() override;
  const char* SecondOtherMessage() override;
  // 100.
  unsigned int Version() override;
  // There is no about box: does nothing.
  void ShowAboutBox(void* owner) override;
  // Runs one export through ExportToFile. Failures reach the user through the run's own
  // message boxes; the answer is ExportToFile's, which is 1 after every export.
  int Export(const char* name, ExportInterface* ei, HostInterface* ip, int quiet,
             uint32_t options) override;
  // OptionsSupported keeps the base's answer: no export options.
};

}  // namespace tsm

#endif  // TSM_PLUGIN_FORMAT_EXPORTER_H
