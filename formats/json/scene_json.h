// The JSON scene format: a whole host scene in one file, loaded into the in-memory
// scene. docs/scene-format.md describes the format.
#ifndef TSM_FORMATS_JSON_SCENE_JSON_H
#define TSM_FORMATS_JSON_SCENE_JSON_H

#include <cstdint>
#include <string>

#include "scene/mem_scene.h"

namespace tsm {

// The outcome of a load. On failure, error says what is wrong and where: the file, the
// JSON path (e.g. /nodes/3/parent) and, where the parser gives one, the line.
struct LoadResult {
  bool ok = false;
  std::string error;
};

// The largest scene file a load reads (4 GiB); larger ones are refused before reading.
constexpr uint64_t kMaxSceneFileSize = uint64_t(4) << 30;

// Loads the scene file at path into scene, which must be empty. On failure the scene
// must be discarded: nothing of a failed load may be exported. The scene's host settings
// are not applied; the caller does that with ApplyHostSettings once the load succeeded.
LoadResult LoadJsonScene(const std::string& path, MemScene& scene);

// The same from text already in memory; label names the source in messages.
LoadResult LoadJsonSceneText(const std::string& text, const std::string& label, MemScene& scene);
// The same with the typed fast paths for bulk data off (fastPaths false): the general
// reader alone, which gives the same scenes and messages more slowly. For the tests and
// the fuzz target, which compare the two.
LoadResult LoadJsonSceneText(const std::string& text, const std::string& label, MemScene& scene,
                             bool fastPaths);

}  // namespace tsm

#endif  // TSM_FORMATS_JSON_SCENE_JSON_H
