// tsmexport: loads a scene file and exports it into a chunk file.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "formats/gltf/gltf_writer.h"
#include "formats/json/scene_json_writer.h"
#include "formats/scene_import.h"
#include "io/message_text.h"
#include "io/output_file.h"
#include "plugin/messages.h"
#include "plugin/plugin.h"
#include "run/export_run.h"
#include "run/output_paths.h"
#include "tools/export_report.h"
#include "tools/tool_main.h"

namespace {

const char kUsage[] =
    "usage: tsmexport SCENE [-o OUT.tsm|OUT.gltf|OUT.glb] [--quiet] [--up-axis y|z] [--no-split]\n"
    "                       [--fps N] [--sample-animation] [--any-folder] [--to-json OUT.json]\n"
    "\n"
    "Loads SCENE (a JSON scene file, glTF 2.0 .gltf/.glb, OBJ with MTL, or an exported\n"
    ".tsm file read back) and exports it into a chunk file, or into glTF 2.0 when OUT ends\n"
    "in .gltf or .glb.\n"
    "\n"
    "  -o, --output OUT.tsm  the file to write, - for standard output (default: SCENE\n"
    "                        with the extension .tsm; SCENE must then be a regular file)\n"
    "  -q, --quiet           suppress the writers' warnings, the progress bar and the\n"
    "                        summary line (errors are still shown)\n"
    "  -h, --help            show this help\n"
    "      --version         show the version\n"
    "  --                    end of options: what follows is the scene file\n"
    "      --to-json OUT.json  write the loaded scene in the JSON scene format instead\n"
    "                        of exporting (- for standard output)\n"
    "  for glTF and OBJ scenes:\n"
    "      --up-axis y|z     the file's up axis (default y: turned to the Z-up world)\n"
    "      --no-split        leave meshes above 65530 faces or vertices whole (they are\n"
    "                        then left out of the export) instead of splitting them\n"
    "      --fps N           frames a second for key times in seconds (default 30)\n"
    "      --sample-animation  glTF: sample every channel at every frame (by default only\n"
    "                        channels with keys between frames or not linear)\n"
    "      --any-folder      also read buffers and material files the scene names outside\n"
    "                        its own folder (absolute paths, .., links leading out);\n"
    "                        without it they are refused. Only for trusted scenes\n"
    "  for glTF output (-o OUT.gltf: JSON with the buffer embedded; -o OUT.glb: binary):\n"
    "      --up-axis y|z     the written file's up axis (default y)\n"
    "      --fps N           frames a second of the written key times (default 30)\n"
    "\n"
    "Messages are printed to standard error as CAPTION: text. After an export, one line\n"
    "on standard output sums up what the written file holds. Large scenes show a\n"
    "progress bar on standard error when it is a terminal.\n"
    "Exit status: 0 the file was written; 1 no file was written (nothing to export, the\n"
    "file could not be created or written, or more than 65535 animated nodes); 2 usage or\n"
    "scene errors (also a scene above 4 GiB), or out of memory.\n";

int Usage(const char* problem) {
  tsm::PrintMessage(stderr, "tsmexport: %s\n%s", problem, kUsage);
  return 2;
}

void PrintInPlaceNotice(const char* path) {
  tsm::PrintMessage(stderr, "tsmexport: %s\n", tsm::InPlaceNoticeText(path).c_str());
}

// Prepares the process for writing the output; after the run, adds the path and the
// system's reason below the box of a failed output.
void PrepareOutput() {
  tsm::PrepareProcessForOutput();
  tsm::SetInPlaceNotice(PrintInPlaceNotice);
}
void ReportOutputFailure(const std::string& outPath) {
  std::string line = tsm::DescribeOutputFailure(outPath);
  if (!line.empty()) tsm::PrintMessage(stderr, "tsmexport: %s\n", line.c_str());
}

// The options of the importers and of --to-json.
struct ImportArgs {
  tsm::ImportOptions options;
  std::string toJson;  // empty: export as usual
};

// Reads argv[i] (and its value) when it is an import option. Answers 1 when it was one,
// 0 when it is not, and -1 with problem set when it was given wrongly.
int ParseImportOption(int argc, char** argv, int& i, ImportArgs& args, std::string& problem) {
  std::string a = argv[i];
  if (a == "--no-split") {
    args.options.split = false;
    return 1;
  }
  if (a == "--any-folder") {
    args.options.anyFolder = true;
    return 1;
  }
  if (a == "--sample-animation") {
    args.options.sampleAlways = true;
    return 1;
  }
  if (a != "--up-axis" && a != "--fps" && a != "--to-json") return 0;
  if (i + 1 >= argc || argv[i + 1][0] == '\0') {
    problem = a + " needs a value";
    return -1;
  }
  std::string v = argv[++i];
  if (a == "--up-axis") {
    if (v != "y" && v != "z" && v != "Y" && v != "Z") {
      problem = "--up-axis takes y or z, not " + v;
      return -1;
    }
    args.options.yUp = v == "y" || v == "Y";
  } else if (a == "--fps") {
    char* end = nullptr;
    double fps = std::strtod(v.c_str(), &end);
    if (end == v.c_str() || *end != '\0' || !(fps > 0 && fps <= 1000)) {
      problem = "--fps takes a number above 0 and at most 1000, not " + v;
      return -1;
    }
    args.options.fps = fps;
  } else {
    args.toJson = tsm::OutputPathArgument(v);
  }
  return 1;
}

// Loads the scene by its file's extension and prints the notices; answers false (after
// printing the error) when nothing can be exported.
bool LoadScene(const std::string& path, const tsm::ImportOptions& options, tsm::MemScene& scene) {
  tsm::ImportResult loaded = tsm::LoadSceneFile(path, options, scene);
  for (const std::string& n : loaded.notices)
    tsm::PrintMessage(stderr, "tsmexport: notice: %s\n", n.c_str());
  if (!loaded.ok) tsm::PrintMessage(stderr, "tsmexport: %s\n", loaded.error.c_str());
  return loaded.ok;
}

// --to-json: writes the loaded scene as a JSON scene file. Answers the exit status.
int WriteSceneJson(const tsm::MemScene& scene, const std::string& jsonPath) {
  tsm::WriteResult written = tsm::WriteJsonScene(scene, jsonPath);
  if (!written.ok) {
    tsm::PrintMessage(stderr, "tsmexport: %s\n", written.error.c_str());
    return written.outOfMemory ? 2 : 1;
  }
  return 0;
}

// -o OUT.gltf / OUT.glb: writes the loaded scene as glTF. Answers the exit status.
int WriteSceneGltf(tsm::MemScene& scene, const std::string& scenePath, const std::string& outPath,
                   bool binary, const tsm::ImportOptions& importOptions, bool quiet) {
  tsm::GltfWriteOptions options;
  options.binary = binary;
  options.yUp = importOptions.yUp;
  options.fps = importOptions.fps;
  if (tsm::DescriptorNamedBy(outPath) < 0) options.imagePrefix = tsm::ImagePrefixFor(scenePath, outPath);
  std::string bytes;
  tsm::GltfWriteResult written = tsm::WriteGltf(scene, scene, options, bytes);
  if (!quiet)
    for (const std::string& n : written.notices)
      tsm::PrintMessage(stderr, "tsmexport: notice: %s: %s\n", outPath.c_str(), n.c_str());
  if (!written.ok) {
    tsm::PrintMessage(stderr, "tsmexport: %s: %s; nothing was written\n", outPath.c_str(),
                      written.error.c_str());
    return written.outOfMemory ? 2 : 1;
  }
  // All the bytes or, on failure, nothing: a file that was there stays as it was.
  tsm::OutputResult out = tsm::WriteOutputFile(outPath, [&](auto& stream, std::string*) {
    return stream.Write(bytes.data(), bytes.size()) == bytes.size();
  });
  if (!out.ok) tsm::PrintMessage(stderr, "tsmexport: %s\n", out.message.c_str());
  return out.ok ? 0 : 1;
}

int Run(int argc, char** argv) {
  std::string scenePath, outPath;
  bool quiet = false;
  ImportArgs importArgs;
  bool optionsDone = false;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    if (optionsDone || a[0] != '-' || a[1] == '\0') {
      if (!scenePath.empty()) return Usage("only one scene file can be exported at a time");
      scenePath = a;
      continue;
    }
    if (std::strcmp(a, "--") == 0) {
      optionsDone = true;
      continue;
    }
    std::string problem;
    int import = ParseImportOption(argc, argv, i, importArgs, problem);
    if (import < 0) return Usage(problem.c_str());
    if (import > 0) continue;
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
      outPath = tsm::OutputPathArgument(argv[++i]);
      if (outPath.empty()) return Usage("-o needs a file name");
    } else {
      return Usage((std::string("unknown option ") + a).c_str());
    }
  }
  if (scenePath.empty()) return Usage("no scene file given");
  std::string why;
  bool exporting = importArgs.toJson.empty();
  if (exporting && outPath.empty() && !tsm::DefaultOutputPath(scenePath, &outPath, &why))
    return Usage(why.c_str());
  // The output module refuses to write over the scene; saying so now spares the loading.
  tsm::NoteInputFile(scenePath);
  const std::string& target = exporting ? outPath : importArgs.toJson;
  if (tsm::IsInputFile(target)) {
    tsm::PrintMessage(stderr,
                      "tsmexport: %s: the output would overwrite the scene file; name "
                      "another with %s\n",
                      target.c_str(), exporting ? "-o" : "--to-json");
    return 2;
  }

  tsm::ProgressBar progress(stderr);
  if (!quiet && tsm::LargeSceneFile(scenePath)) progress.Install();
  tsm::ReportProgress(tsm::ProgressStage::LOADING, 0.0);
  tsm::MemScene scene;
  bool ok = LoadScene(scenePath, importArgs.options, scene);
  tsm::ReportProgress(tsm::ProgressStage::LOADING, 1.0);
  if (!ok) return 2;
  if (!exporting) {
    tsm::PrepareProcessForOutput();
    return WriteSceneJson(scene, importArgs.toJson);
  }
  if (!quiet && tsm::LargeScene(scene)) progress.Install();
  scene.ApplyHostSettings();
  bool binary = false;
  if (tsm::IsGltfPath(outPath, &binary)) {
    PrepareOutput();
    int status = WriteSceneGltf(scene, scenePath, outPath, binary, importArgs.options, quiet);
    progress.Remove();
    return status;
  }

  // The module's load notification: records the handle the string table is read through.
  tsm::ModuleEntry(tsm::StaticModuleHandle(), tsm::DLL_PROCESS_ATTACH, nullptr);

  // The same call a host makes; it answers 1 whatever happened, so the run's own outcome
  // decides the exit status.
  ExportInterface ei;
  ei.scene = &scene;
  PrepareOutput();
  try {
    tsm::ExportToFile(outPath.c_str(), &ei, &scene, quiet ? 1 : 0, 0);
    ReportOutputFailure(outPath);
  } catch (const std::bad_alloc&) {
    tsm::PrintMessage(stderr, "tsmexport: out of memory; %s was not written\n", outPath.c_str());
    return 2;
  }
  progress.Remove();
  if (tsm::LastRunOutcome() != tsm::RunOutcome::WRITTEN) return 1;
  if (!quiet) tsm::PrintExportSummary(outPath);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  return tsm::RunTool("tsmexport", Run, argc, argv, 1);
}
