// A large binary glTF file for the benchmarks: grid meshes (bench/mesh_scenes.h) written
// by our glTF writer, so it holds what the importer meets in files from other tools
// (positions, normals, texture coordinates, colours, indices, one primitive each).
#ifndef TSM_BENCH_GLB_FILES_H
#define TSM_BENCH_GLB_FILES_H

#include <unistd.h>

#include <cstdint>
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
  std::map<std::string, std::string> paths_;  // by name
};

// Writes bytes to path; a file cut short is removed. Answers whether all were written.
inline bool WriteBenchFile(const std::string& path, const std::string& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  bool ok = f != nullptr && std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  if (f != nullptr && std::fclose(f) != 0) ok = false;
  if (!ok) std::remove(path.c_str());
  return ok;
}

// The path of the file /tmp/tsm_glb_bench_PID_NAME.glb, written with the bytes make
// answers (empty: it could not make them) the first time it is asked for and removed at
// exit; empty when it could not be made.
template <class Make>
std::string CachedBenchFile(const std::string& name, Make&& make) {
  static BenchFiles files;
  auto found = files.paths_.find(name);
  if (found != files.paths_.end()) return found->second;
  std::string path = "/tmp/tsm_glb_bench_" + std::to_string(::getpid()) + "_" + name + ".glb";
  std::string bytes = make();
  if (bytes.empty() || !WriteBenchFile(path, bytes)) return std::string();
  files.paths_[name] = path;
  return path;
}

// The path of a .glb of meshes grid meshes (64,800 triangles each), made once as
// CachedBenchFile says.
inline std::string GlbBenchFile(int meshes) {
  return CachedBenchFile(std::to_string(meshes), [meshes] {
    std::string bytes;
    std::unique_ptr<MemScene> scene = GridMeshScene(meshes);
    scene->ApplyHostSettings();
    GltfWriteOptions options;
    options.binary = true;
    if (!WriteGltf(*scene, *scene, options, bytes).ok) bytes.clear();
    return bytes;
  });
}

// The bytes of a .glb of meshes grid meshes of positions and 32-bit indices only (kGrid
// by kGrid vertices each, every vertex shared by its faces): the smallest file of that
// many triangles.
inline std::string PlainGlbBytes(int meshes) {
  std::string bin, views, accessors, meshList, nodes, roots;
  auto put = [&](const void* p, size_t n) { bin.append(static_cast<const char*>(p), n); };
  auto sep = [](std::string& list) { list += list.empty() ? "" : ","; };
  for (int m = 0; m < meshes; ++m) {
    size_t at = bin.size();
    for (int y = 0; y < kGrid; ++y)
      for (int x = 0; x < kGrid; ++x) {
        float v[3] = {float(x), float((x * y + m) % 7), float(y)};
        put(v, sizeof v);
      }
    size_t posBytes = bin.size() - at;
    for (int y = 0; y + 1 < kGrid; ++y)
      for (int x = 0; x + 1 < kGrid; ++x) {
        uint32_t a = uint32_t(y * kGrid + x), b = a + 1, c = a + kGrid, d = c + 1;
        uint32_t tris[6] = {a, d, b, a, c, d};
        put(tris, sizeof tris);
      }
    size_t idxBytes = bin.size() - at - posBytes;
    std::string n = std::to_string(2 * m);
    sep(views);
    views += "{\"buffer\":0,\"byteOffset\":" + std::to_string(at) +
             ",\"byteLength\":" + std::to_string(posBytes) +
             "},{\"buffer\":0,\"byteOffset\":" + std::to_string(at + posBytes) +
             ",\"byteLength\":" + std::to_string(idxBytes) + "}";
    sep(accessors);
    accessors += "{\"bufferView\":" + n +
                 ",\"componentType\":5126,\"count\":" + std::to_string(kGrid * kGrid) +
                 ",\"type\":\"VEC3\",\"min\":[0,0,0],\"max\":[" + std::to_string(kGrid - 1) +
                 ",6," + std::to_string(kGrid - 1) +
                 "]},{\"bufferView\":" + std::to_string(2 * m + 1) +
                 ",\"componentType\":5125,\"count\":" + std::to_string(idxBytes / 4) +
                 ",\"type\":\"SCALAR\"}";
    sep(meshList);
    meshList += "{\"primitives\":[{\"attributes\":{\"POSITION\":" + n +
                "},\"indices\":" + std::to_string(2 * m + 1) + "}]}";
    sep(nodes);
    nodes += "{\"name\":\"Mesh" + std::to_string(m) + "\",\"mesh\":" + std::to_string(m) + "}";
    sep(roots);
    roots += std::to_string(m);
  }
  std::string json = "{\"asset\":{\"version\":\"2.0\"},\"buffers\":[{\"byteLength\":" +
                     std::to_string(bin.size()) + "}],\"bufferViews\":[" + views +
                     "],\"accessors\":[" + accessors + "],\"meshes\":[" + meshList +
                     "],\"nodes\":[" + nodes + "],\"scenes\":[{\"nodes\":[" + roots +
                     "]}],\"scene\":0}";
  while (json.size() % 4 != 0) json += ' ';
  auto u32 = [](size_t v) {
    std::string b;
    for (int i = 0; i < 4; ++i) b += char((v >> (8 * i)) & 0xFF);
    return b;
  };
  return "glTF" + u32(2) + u32(28 + json.size() + bin.size()) + u32(json.size()) + "JSON" + json +
         u32(bin.size()) + std::string("BIN\0", 4) + bin;
}

// The path of PlainGlbBytes(meshes) as a file, made once as CachedBenchFile says.
inline std::string PlainGlbBenchFile(int meshes) {
  return CachedBenchFile("plain_" + std::to_string(meshes),
                         [meshes] { return PlainGlbBytes(meshes); });
}

}  // namespace tsm

#endif  // TSM_BENCH_GLB_FILES_H
