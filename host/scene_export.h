// Our stand-in of the host's scene-exporter base: what the host asks of an exporter to
// offer a file type and to write a scene into a file of that type. Its operations are
// declared in the host's order; all but the last are abstract.
#ifndef TSM_HOST_SCENE_EXPORT_H
#define TSM_HOST_SCENE_EXPORT_H

#include <cstdint>

struct ExportInterface;
class HostInterface;

// Super-class number of scene exporters.
constexpr uint32_t kSceneExportSuperClass = 0xA20;

class SceneExport {
 public:
  SceneExport() = default;
  SceneExport(const SceneExport&) = delete;
  SceneExport& operator=(const SceneExport&) = delete;

  virtual ~SceneExport();
  // Number of file extensions the exporter writes.
  virtual int ExtensionCount() = 0;
  // Extension n without a leading dot; never null.
  virtual const char* Extension(int n) = 0;
  // Texts for the host's file dialogs and lists. They may live in a shared buffer that
  // the next text overwrites; null when the text is missing.
  virtual const char* LongDescription() = 0;
  virtual const char* ShortDescription() = 0;
  virtual const char* AuthorName() = 0;
  virtual const char* CopyrightMessage() = 0;
  virtual const char* FirstOtherMessage() = 0;
  virtual const char* SecondOtherMessage() = 0;
  // The exporter's version times 100.
  virtual unsigned int Version() = 0;
  // Shows the exporter's about box, owned by window owner.
  virtual void ShowAboutBox(void* owner) = 0;
  // Writes the scene of ei into the file at name (a full path). quiet non-zero asks for
  // no warnings; options are the host's export options. Answers non-zero when the host
  // should consider the export done.
  virtual int Export(const char* name, ExportInterface* ei, HostInterface* ip, int quiet,
                     uint32_t options) = 0;
  // Whether the exporter takes export options for extension ext; the base answers 0.
  virtual int OptionsSupported(int ext, uint32_t options);
};

#endif  // TSM_HOST_SCENE_EXPORT_H
