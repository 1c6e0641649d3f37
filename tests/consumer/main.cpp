// Uses the installed library twice: linked statically (entry point called at startup,
// the exporter made through the class descriptor, a scene exported), and the installed
// module loaded by path like a host. Usage: tsm_consumer OUTPUT_FILE. Exits 0 when all
// is well, else prints what is wrong and exits 1.
#include <dlfcn.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "host/class_desc.h"
#include "host/scene_export.h"
#include "plugin/plugin.h"
#include "scene/mem_scene.h"

namespace {

int Fail(const char* what) {
  std::fprintf(stderr, "tsm_consumer: %s\n", what);
  return 1;
}

bool FileLooksExported(const char* path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<unsigned char> b(std::istreambuf_iterator<char>(in), {});
  if (b.size() < 16 || b[0] != 0xEF || b[1] != 0xBE) return false;
  uint32_t size =
      uint32_t(b[2]) | uint32_t(b[3]) << 8 | uint32_t(b[4]) << 16 | uint32_t(b[5]) << 24;
  return size == b.size();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Fail("usage: tsm_consumer OUTPUT_FILE");

  tsm::ModuleEntry(tsm::StaticModuleHandle(), tsm::DLL_PROCESS_ATTACH, nullptr);
  ClassDesc* desc = tsm::ModuleClassDesc(0);
  if (desc == nullptr || desc->ClassName() == nullptr ||
      std::strcmp(desc->ClassName(), "Tessarin Quadrel") != 0)
    return Fail("static class descriptor");
  SceneExport* exporter = static_cast<SceneExport*>(desc->Create(0));
  if (exporter == nullptr) return Fail("create");

  tsm::MemScene scene;
  tsm::MemNode* node = scene.AddNode("Dummy01");
  node->object = scene.AddObject(kFamilyHelper, Class_ID(0x876234, 0));
  ExportInterface ei;
  ei.scene = &scene;
  int answer = exporter->Export(argv[1], &ei, &scene, 1, 0);
  delete exporter;
  if (answer != 1) return Fail("export answer");
  if (!FileLooksExported(argv[1])) return Fail("exported file");

  void* module = dlopen(TSM_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) return Fail(dlerror());
  auto version = reinterpret_cast<unsigned long (*)()>(dlsym(module, "LibVersion"));
  auto classDesc = reinterpret_cast<ClassDesc* (*)(int)>(dlsym(module, "LibClassDesc"));
  if (version == nullptr || classDesc == nullptr) return Fail("module exports");
  if (version() != 0x10680800ul) return Fail("module version");
  ClassDesc* moduleDesc = classDesc(0);
  if (moduleDesc == nullptr || moduleDesc->SuperClassNumber() != 0xA20u)
    return Fail("module class descriptor");
  dlclose(module);

  std::printf("tsm_consumer: ok\n");
  return 0;
}
