// tsmview: draws a preview picture of what a chunk file holds.
//
//   tsmview FILE.tsm -o preview.png [--size WxH] [--camera NAME] [--frame N]
//
// Exit status: 0 the picture was written (also for a file with nothing to draw); 1 the
// file could not be read or is damaged, the camera is not in it, or the picture could
// not be written; 2 usage error (also a picture that would overwrite the file it shows)
// or out of memory.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "io/message_text.h"
#include "io/output_file.h"
#include "reader/chunk_reader.h"
#include "tools/tool_main.h"
#include "view/png_write.h"
#include "view/render.h"
#include "view/scene_view.h"

namespace {

const char kUsage[] =
    "usage: tsmview FILE.tsm -o PREVIEW.png [--size WxH] [--camera NAME] [--frame N]\n"
    "\n"
    "Draws a preview picture of the scene a chunk file holds: its meshes in their\n"
    "material colours, its lights and cameras as small symbols, its shapes as lines.\n"
    "\n"
    "  -o, --output PREVIEW.png  the picture to write (PNG; - for standard output)\n"
    "  --size WxH                picture size in pixels (default 800x600)\n"
    "  --camera NAME             look through the camera of that name (default: the\n"
    "                            file's first camera, or a three-quarter view of all\n"
    "                            meshes when it has none)\n"
    "  --frame N                 move the meshes along their position tracks to frame N\n"
    "  -h, --help                show this help\n"
    "      --version             show the version\n"
    "\n"
    "Exit status: 0 the picture was written; 1 the file could not be read or is\n"
    "damaged, the camera is not in it, or the picture could not be written; 2 usage\n"
    "error (also a picture that would overwrite FILE.tsm), or out of memory.\n";

int Usage(const std::string& problem) {
  tsm::PrintMessage(stderr, "tsmview: %s\n%s", problem.c_str(), kUsage);
  return 2;
}

// A whole decimal integer in [lo, hi].
bool ParseInt(const char* text, long lo, long hi, long* out) {
  if (text == nullptr || *text == '\0') return false;
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(text, &end, 10);
  if (errno != 0 || *end != '\0' || v < lo || v > hi) return false;
  *out = v;
  return true;
}

// "WxH" with both sides 1..kMaxImageSide.
bool ParseSize(const std::string& text, int* w, int* h) {
  size_t x = text.find_first_of("xX");
  if (x == std::string::npos) return false;
  long a, b;
  if (!ParseInt(text.substr(0, x).c_str(), 1, tsm::kMaxImageSide, &a) ||
      !ParseInt(text.substr(x + 1).c_str(), 1, tsm::kMaxImageSide, &b))
    return false;
  *w = static_cast<int>(a);
  *h = static_cast<int>(b);
  return true;
}

int Run(int argc, char** argv) {
  std::string input, output;
  tsm::RenderOptions options;
  bool frameGiven = false;
  long frame = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    if (a == "-h" || a == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (a == "--version") {
      std::printf("tsmview 1.1\n");
      return 0;
    }
    if (a == "-o" || a == "--output") {
      if (value == nullptr || *value == '\0') return Usage(a + " needs a file name");
      if (!output.empty()) return Usage("-o given twice");
      output = argv[++i];
    } else if (a == "--size") {
      if (value == nullptr || !ParseSize(value, &options.width, &options.height))
        return Usage("--size needs WxH, each side 1 to " + std::to_string(tsm::kMaxImageSide));
      ++i;
    } else if (a == "--camera") {
      if (value == nullptr || *value == '\0') return Usage("--camera needs a camera name");
      options.camera = argv[++i];
    } else if (a == "--frame") {
      if (value == nullptr || !ParseInt(value, INT_MIN, INT_MAX, &frame))
        return Usage("--frame needs a whole frame number");
      frameGiven = true;
      ++i;
    } else if (a.size() > 1 && a[0] == '-') {
      return Usage("unknown option " + a);
    } else {
      if (!input.empty()) return Usage("only one file can be drawn at a time");
      input = a;
    }
  }
  if (input.empty()) return Usage("no file given");
  if (output.empty()) return Usage("no picture given: name it with -o PREVIEW.png");

  // The picture never replaces the file it is drawn from (by any name or link).
  tsm::NoteInputFile(input);
  output = output == "-" ? "/dev/stdout" : output;
  if (tsm::IsInputFile(output)) {
    tsm::PrintMessage(stderr,
                      "tsmview: %s: the picture would overwrite the file it shows; name another\n",
                      output.c_str());
    return 2;
  }
  tsm::PrepareProcessForOutput();

  // The file is mapped and its pages go behind the reader's walks: only the scene rebuilt
  // from it stays.
  tsm::MappedFile file;
  std::string error;
  if (!file.Open(input.c_str(), &error)) {
    tsm::PrintMessage(stderr, "tsmview: %s: cannot read: %s\n", input.c_str(), error.c_str());
    return 1;
  }
  tsm::ViewScene scene;
  std::vector<std::string> notices;
  bool read;
  {
    tsm::WalkRelease release(file);
    read = tsm::ReadViewScene(file.Data(), file.Size(), &scene, &error, &notices);
  }
  for (const std::string& n : notices)
    tsm::PrintMessage(stderr, "tsmview: notice: %s: %s\n", input.c_str(), n.c_str());
  if (!read) {
    tsm::PrintMessage(stderr, "tsmview: %s: %s\n", input.c_str(), error.c_str());
    return 1;
  }
  if (frameGiven) tsm::ApplyPositionTracks(&scene, static_cast<int32_t>(frame));

  tsm::Image image;
  tsm::RenderResult drawn = tsm::RenderPreview(scene, options, &image);
  if (!drawn.ok) {
    tsm::PrintMessage(stderr, "tsmview: %s: %s\n", input.c_str(), drawn.error.c_str());
    return 1;
  }
  if (!tsm::WritePng(output.c_str(), image, &error)) {
    tsm::PrintMessage(stderr, "tsmview: cannot write the picture: %s\n", error.c_str());
    return 1;
  }
  if (drawn.empty) {
    tsm::PrintMessage(stderr,
                      "tsmview: %s holds nothing to draw (no meshes, lights, cameras or shapes); "
                      "%s shows the background only\n",
                      input.c_str(), output.c_str());
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  return tsm::RunTool("tsmview", Run, argc, argv, 1);
}
