// Scenes from other tools: glTF 2.0 (.gltf, .glb) and Wavefront OBJ with MTL, read into
// the in-memory scene, and one entry point that picks the loader by the file's extension
// (our JSON scene format included). docs/importers.md describes what is read and how.
#ifndef TSM_FORMATS_SCENE_IMPORT_H
#define TSM_FORMATS_SCENE_IMPORT_H

#include <string>
#include <vector>

#include "scene/mem_scene.h"

namespace tsm {

// The most faces and vertices one mesh object of the file holds.
constexpr int kMaxFileMeshSize = 65530;

// How an imported scene is made.
struct ImportOptions {
  bool yUp = true;    // the file is Y-up: (x, y, z) lands at (x, -z, y); false: keep as is
  bool split = true;  // meshes above kMaxFileMeshSize are split into child nodes
  double fps = 30.0;  // frames a second: converts key times in seconds to frames
  bool anyFolder = false;  // files the scene refers to may lie outside its folder
};

// The outcome of a load. On failure, error names the file and what is wrong, and the
// scene must be discarded. Notices are things the user should know that did not stop
// the load (a missing image, skipped lines, a mesh split in pieces), each naming the file.
struct ImportResult {
  bool ok = false;
  std::string error;
  std::vector<std::string> notices;
};

// Loads path by its extension: .json (our scene format; the options do not apply), .gltf,
// .glb, .obj or .tsm (an exported file read back; the options do not apply)
// (case-insensitive); a name without an extension (/dev/stdin, a pipe) is
// taken for our scene format. Any other extension is an error.
ImportResult LoadSceneFile(const std::string& path, const ImportOptions& options, MemScene& scene);

}  // namespace tsm

#endif  // TSM_FORMATS_SCENE_IMPORT_H
