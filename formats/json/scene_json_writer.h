// Writes an in-memory scene in our JSON scene format (docs/scene-format.md), animation
// controllers included, so that an imported scene can be inspected, edited and loaded
// again. Loading what is written gives a scene that exports to the same file.
#ifndef TSM_FORMATS_JSON_SCENE_JSON_WRITER_H
#define TSM_FORMATS_JSON_SCENE_JSON_WRITER_H

#include <string>

#include "scene/mem_scene.h"

namespace tsm {

struct WriteResult {
  bool ok = false;
  std::string error;  // on failure: what the format cannot hold, and where
  bool outOfMemory = false;  // the failure was memory running out
};

// Writes scene as JSON text into text. Every node, object, material and map the scene
// reaches is written with its id; values are written so that they load back bit for bit.
// Fails on a value the format cannot hold (a number that is not finite, an unknown unit,
// a material or map the in-memory scene did not make).
WriteResult WriteJsonSceneText(const MemScene& scene, std::string& text);

// The same into the file at path, through the output file (io/output_file.h): a file at
// path stays as it was unless the new one is complete; on failure the error is "PATH:
// what failed: the system's reason".
WriteResult WriteJsonScene(const MemScene& scene, const std::string& path);

}  // namespace tsm

#endif  // TSM_FORMATS_JSON_SCENE_JSON_WRITER_H
