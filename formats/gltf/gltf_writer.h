// The glTF 2.0 writer: any host scene, read through the host interface, as a .gltf (JSON
// with its buffer embedded) or a .glb, produced in memory; the caller hands the bytes to
// the output module. docs/importers.md lists what becomes of each part of the scene.
#ifndef TSM_FORMATS_GLTF_WRITER_H
#define TSM_FORMATS_GLTF_WRITER_H

#include <string>
#include <vector>

#include "run/host_scene.h"

namespace tsm {

struct GltfWriteOptions {
  bool binary = false;  // true: a .glb; false: a .gltf with its buffer as a data URI
  bool yUp = true;      // the file is Y-up: the host's (x, y, z) lands at (x, z, -y)
  double fps = 30.0;    // frames a second: key times in seconds are frames / fps
  // Put before every relative image name, so that the image is found from the written
  // file's folder (the way from there to the scene's folder, ending in '/'); empty: the
  // names as the scene holds them.
  std::string imagePrefix;
};

struct GltfWriteResult {
  bool ok = false;
  std::string error;                 // on failure: what could not be written, and where
  std::vector<std::string> notices;  // what the file cannot hold and was left out
  bool outOfMemory = false;          // the failure was memory running out
};

// Writes the scene that scene enumerates into bytes, which it replaces. host answers the
// animation range; the ticks per frame are the host's current ones (GetTicksPerFrame).
// Fails on a value glTF cannot hold (a number that is not finite) or when memory runs
// out; bytes are then empty.
GltfWriteResult WriteGltf(HostScene& scene, HostInterface& host, const GltfWriteOptions& options,
                          std::string& bytes);

// True when path ends in .gltf or .glb (in any letter case); binary is then set for .glb.
bool IsGltfPath(const std::string& path, bool* binary);

// The imagePrefix for a file written at outputPath from the scene at scenePath: the way
// from the output's folder to the scene's ("../scenes/"), empty when they are one folder
// or when no way can be found.
std::string ImagePrefixFor(const std::string& scenePath, const std::string& outputPath);

}  // namespace tsm

#endif  // TSM_FORMATS_GLTF_WRITER_H
