// Raw bytes as a glTF file: binary (.glb) when they start with the binary magic, text
// (.gltf) otherwise.
// fuzz-requires: formats/gltf/gltf_loader.cpp
#include <cstring>

#include "formats/gltf/gltf_loader.h"
#include "fuzz/import_fuzz_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  bool binary = size >= 4 && std::memcmp(data, "glTF", 4) == 0;
  const std::string path = WriteFuzzFile(data, size, binary ? "glb" : "gltf");
  tsm::MemScene scene;
  tsm::ImportOptions options;
  CheckImport(tsm::LoadGltfScene(path, options, scene), scene, path);
  return 0;
}
