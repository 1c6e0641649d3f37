// tsmexport: loads a scene file and exports it into a chunk file.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "plugin/messages.h"
#include "plugin/plugin.h"
#include "run/export_run.h"
#include "scene/scene_json.h"

namespace {

const char kUsage[] =
    "usage: tsmexport SCENE [-o OUT.tsm] [--quiet]\n"
    "\n"
    "Loads SCENE (a JSON scene file) and exports it into a chunk file.\n"
    "\n"
    "  -o, --output OUT.tsm  the file to write (default: SCENE with the extension .tsm)\n"
    "  -q, --quiet           suppress the writers' warnings (errors are still shown)\n"
    "  -h, --help            show this help\n"
    "      --version         show the version\n"
    "\n"
    "Messages are printed to standard error as CAPTION: text.\n"
    "Exit status: 0 the file was written; 1 no file was written (nothing to export, the\n"
    "file could not be created or written); 2 usage or scene errors (also a scene above\n"
    "4 GiB), or out of memory.\n";

// The scene's path with its extension replaced by .tsm (added when it has none).
std::string DefaultOutput(const std::string& scene) {
  size_t slash = scene.find_last_of("/\\");
  size_t dot = scene.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash) ||
      dot == (slash == std::string::npos ? 0 : slash + 1))
    return scene + ".tsm";
  return scene.substr(0, dot) + ".tsm";
}

// True when both paths name one existing file.
bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

int Usage(const char* problem) {
  std::fprintf(stderr, "tsmexport: %s\n%s", problem, kUsage);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string scenePath, outPath;
  bool quiet = false;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    if (std::strcmp(a, "-h") == 0 || std::strcmp(a, "--help") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (std::strcmp(a, "--version") == 0) {
      std::printf("tsmexport 1.1\n");
      return 0;
    }
    if (std::strcmp(a, "-q") == 0 || std::strcmp(a, "--quiet") == 0) {
      quiet = true;
    } else if (std::strcmp(a, "-o") == 0 || std::strcmp(a, "--output") == 0) {
      if (i + 1 >= argc) return Usage("-o needs a file name");
      if (!outPath.empty()) return Usage("-o given twice");
      outPath = argv[++i];
      if (outPath.empty()) return Usage("-o needs a file name");
    } else if (a[0] == '-' && a[1] != '\0') {
      return Usage((std::string("unknown option ") + a).c_str());
    } else {
      if (!scenePath.empty()) return Usage("only one scene file can be exported at a time");
      scenePath = a;
    }
  }
  if (scenePath.empty()) return Usage("no scene file given");
  if (outPath.empty()) outPath = DefaultOutput(scenePath);
  if (SameFile(scenePath, outPath)) {
    std::fprintf(stderr,
                 "tsmexport: %s: the output would overwrite the scene file; name "
                 "another with -o\n",
                 outPath.c_str());
    return 2;
  }

  tsm::MemScene scene;
  tsm::LoadResult loaded = tsm::LoadJsonScene(scenePath, scene);
  if (!loaded.ok) {
    std::fprintf(stderr, "tsmexport: %s\n", loaded.error.c_str());
    return 2;
  }
  scene.ApplyHostSettings();

  // The module's load notification: records the handle the string table is read through.
  tsm::ModuleEntry(tsm::StaticModuleHandle(), tsm::DLL_PROCESS_ATTACH, nullptr);

  // The same call a host makes; it answers 1 whatever happened, so the run's own outcome
  // decides the exit status.
  ExportInterface ei;
  ei.scene = &scene;
  try {
    tsm::ExportToFile(outPath.c_str(), &ei, &scene, quiet ? 1 : 0, 0);
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "tsmexport: out of memory; %s was not written\n", outPath.c_str());
    return 2;
  }
  return tsm::LastRunOutcome() == tsm::RunOutcome::WRITTEN ? 0 : 1;
}
