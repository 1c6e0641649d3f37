// The Wavefront OBJ importer: an OBJ file with the MTL files it names, into the in-memory
// scene. docs/importers.md lists what becomes of each statement.
#ifndef TSM_FORMATS_OBJ_LOADER_H
#define TSM_FORMATS_OBJ_LOADER_H

#include <string>

#include "formats/scene_import.h"

namespace tsm {

// Loads the OBJ file at path into scene, which must be empty: one node per object or
// group. A missing MTL or image file is a notice. On failure the scene must be discarded.
// CheckScene runs after loading.
ImportResult LoadObjScene(const std::string& path, const ImportOptions& options, MemScene& scene);

}  // namespace tsm

#endif  // TSM_FORMATS_OBJ_LOADER_H
