// A scratch file for the importer targets: the loaders read files, so each input is
// written to one file of this process (in memory where the system offers it) and loaded
// from there.
#ifndef TSM_FUZZ_IMPORT_FUZZ_FILE_H
#define TSM_FUZZ_IMPORT_FUZZ_FILE_H

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "formats/scene_import.h"

// Writes data to the process's scratch file with the given extension and answers its path.
inline std::string WriteFuzzFile(const uint8_t* data, size_t size, const char* ext) {
  const char* dir = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  std::string path = std::string(dir) + "/tsm_fuzz_" + std::to_string(::getpid()) + "." + ext;
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    if (size > 0) std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  return path;
}

// A load either succeeds with a scene that passes its check, or fails with a message
// that names the file; anything else stops the fuzzer.
inline void CheckImport(const tsm::ImportResult& r, const tsm::MemScene& scene,
                        const std::string& path) {
  if (r.ok) {
    if (!tsm::CheckScene(scene).empty()) __builtin_trap();
  } else if (r.error.find(path) == std::string::npos) {
    __builtin_trap();
  }
}

#endif  // TSM_FUZZ_IMPORT_FUZZ_FILE_H
