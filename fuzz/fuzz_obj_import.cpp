// Raw bytes as an OBJ file. Material libraries it names are looked up beside it, where
// there are none, or wherever an absolute name points.
// fuzz-requires: formats/obj/obj_loader.cpp
#include "formats/obj/obj_loader.h"
#include "fuzz/import_fuzz_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = WriteFuzzFile(data, size, "obj");
  tsm::MemScene scene;
  tsm::ImportOptions options;
  CheckImport(tsm::LoadObjScene(path, options, scene), scene, path);
  return 0;
}
