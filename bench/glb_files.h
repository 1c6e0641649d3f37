// A large binary glTF file for the benchmarks: grid meshes (bench/mesh_scenes.h) written
// by our glTF writer, so it holds what the importer meets in files from other tools
// (positions, normals, texture coordinates, colours, indices, one primitive each).
#ifndef TSM_BENCH_GLB_FILES_H
#define TSM_BENCH_GLB_FILES_H

#include <unistd.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include "bench/mesh_scenes.h"
#include "formats/gltf/gltf_writer.h"

namespace tsm {

// Removes the files it made when the benchmark process ends.
class BenchFiles {
 public:
  ~BenchFiles() {
    for (auto& f : paths_) std::remove(f.second.c_str());
  }
  std::map<int, std::string> paths_;
};

// The path of a .glb of meshes grid meshes (64,800 triangles each), written into /tmp
// the first time it is asked for and removed at exit; empty when it could not be made.
inline std::string GlbBenchFile(int meshes) {
  static BenchFiles files;
  auto found = files.paths_.find(meshes);
  if (found != files.paths_.end()) return found->second;
  std::string path = "/tmp/tsm_glb_bench_" + std::to_string(::getpid()) + "_" +
                     std::to_string(meshes) + ".glb";
  std::string bytes;
  {
    std::unique_ptr<MemScene> scene = GridMeshScene(meshes);
    scene->ApplyHostSettings();
    GltfWriteOptions options;
    options.binary = true;
    if (!WriteGltf(*scene, *scene, options, bytes).ok) return std::string();
  }
  std::FILE* f = std::fopen(path.c_str(), "wb");
  bool ok = f != nullptr && std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  if (f != nullptr && std::fclose(f) != 0) ok = false;
  if (!ok) {
    std::remove(path.c_str());
    return std::string();
  }
  files.paths_[meshes] = path;
  return path;
}

}  // namespace tsm

#endif  // TSM_BENCH_GLB_FILES_H
