// Raw bytes as an exported chunk file read back into a scene: the load either succeeds
// with a scene that passes its check, or fails with a message that names the file and
// starts with the offset of the problem. A scene read back is then written as a JSON
// scene (what --to-json does): it succeeds with a whole document or fails with a message.
// fuzz-requires: formats/tsm/tsm_scene.cpp
#include <string>

#include "formats/json/scene_json_writer.h"
#include "formats/tsm/tsm_loader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string kLabel = "fuzz.tsm";
  tsm::MemScene scene;
  tsm::ImportResult r = tsm::ReadTsmScene(data, size, kLabel, scene);
  if (r.ok) {
    if (!tsm::CheckScene(scene).empty()) __builtin_trap();
    std::string text;
    tsm::WriteResult w = tsm::WriteJsonSceneText(scene, text);
    if (w.ok ? text.compare(0, 2, "{\n") != 0 || text.size() < 4 ||
                   text.compare(text.size() - 2, 2, "}\n") != 0
             : w.error.empty())
      __builtin_trap();
  } else if (r.error.rfind(kLabel + ": ", 0) != 0) {
    __builtin_trap();
  }
  return 0;
}
