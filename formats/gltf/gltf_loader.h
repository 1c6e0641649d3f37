// The glTF 2.0 importer: a .gltf file with its buffers, or a .glb, into the in-memory
// scene. docs/importers.md lists what becomes of each part of the file.
#ifndef TSM_FORMATS_GLTF_LOADER_H
#define TSM_FORMATS_GLTF_LOADER_H

#include <string>

#include "formats/scene_import.h"

namespace tsm {

// Loads the glTF file at path into scene, which must be empty. Images are referenced by
// file name only and never read; a missing image file is a notice. On failure the scene
// must be discarded. CheckScene runs after loading.
ImportResult LoadGltfScene(const std::string& path, const ImportOptions& options, MemScene& scene);

}  // namespace tsm

#endif  // TSM_FORMATS_GLTF_LOADER_H
