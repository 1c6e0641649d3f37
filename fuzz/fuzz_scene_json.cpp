// Raw bytes as a JSON scene file. A load either succeeds with a scene that passes its
// check, or fails with one message that names the source and holds no control character.
// The general reader alone (the typed fast paths off) must give the same outcome and the
// same message.
#include <cstddef>
#include <cstdint>
#include <string>

#include "formats/json/scene_json.h"
#include "scene/mem_scene.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  tsm::MemScene scene;
  const tsm::LoadResult r = tsm::LoadJsonSceneText(text, "fuzz", scene);
  tsm::MemScene general;
  const tsm::LoadResult g = tsm::LoadJsonSceneText(text, "fuzz", general, false);
  if (g.ok != r.ok || g.error != r.error) __builtin_trap();
  if (r.ok) {
    if (!tsm::CheckScene(scene).empty()) __builtin_trap();
    return 0;
  }
  if (r.error.rfind("fuzz: ", 0) != 0) __builtin_trap();
  for (char c : r.error)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) __builtin_trap();
  return 0;
}
