#include "formats/scene_import.h"

#include <algorithm>
#include <cctype>

#include "formats/gltf/gltf_loader.h"
#include "formats/json/scene_json.h"
#include "formats/obj/obj_loader.h"
#include "formats/tsm/tsm_loader.h"

namespace tsm {

ImportResult LoadSceneFile(const std::string& path, const ImportOptions& options, MemScene& scene) {
  size_t slash = path.find_last_of("/\\");
  size_t dot = path.find_last_of('.');
  std::string ext;
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash))
    ext = path.substr(dot + 1);
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (ext == "gltf" || ext == "glb") return LoadGltfScene(path, options, scene);
  if (ext == "obj") return LoadObjScene(path, options, scene);
  if (ext == "tsm") return LoadTsmScene(path, scene);
  ImportResult result;
  // A name without an extension (/dev/stdin, a pipe) is taken for our own format.
  if (ext == "json" || ext.empty()) {
    LoadResult loaded = LoadJsonScene(path, scene);
    result.ok = loaded.ok;
    result.error = loaded.error;
    return result;
  }
  result.error = path +
                 ": unknown kind of scene file; the name must end in .json, .gltf, "
                 ".glb, .obj or .tsm";
  return result;
}

}  // namespace tsm
