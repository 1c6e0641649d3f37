// What tsmexport shows around an export: a progress bar on standard error while a large
// scene loads and exports (only when standard error is a terminal), and the one-line
// summary of the written file on standard output afterwards.
#ifndef TSM_TOOLS_EXPORT_REPORT_H
#define TSM_TOOLS_EXPORT_REPORT_H

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "io/message_text.h"
#include "reader/file_summary.h"
#include "run/progress.h"
#include "scene/mem_objects.h"
#include "scene/mem_scene.h"

namespace tsm {

// A one-line bar, "editor section     [##########----------]  50%", redrawn in place
// with a carriage return whenever the stage or the whole percentage changes, and wiped
// when a stage is complete so that messages never land in the middle of it. It draws
// only while installed and only when its stream is a terminal.
class ProgressBar {
 public:
  explicit ProgressBar(std::FILE* to) : to_(to), terminal_(::isatty(::fileno(to)) == 1) {}
  ~ProgressBar() { Remove(); }
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  bool IsTerminal() const { return terminal_; }

  // Becomes the library's progress callback (when the stream is a terminal).
  void Install() {
    if (terminal_ && !installed_) {
      SetProgressCallback(&ProgressBar::OnProgress, this);
      installed_ = true;
    }
  }
  // Stops drawing and wipes a bar that is showing.
  void Remove() {
    if (!installed_) return;
    SetProgressCallback(nullptr, nullptr);
    installed_ = false;
    Wipe();
  }

 private:
  static constexpr int kCells = 30;

  static void OnProgress(ProgressStage stage, double fraction, void* self) {
    static_cast<ProgressBar*>(self)->Draw(stage, fraction);
  }

  void Draw(ProgressStage stage, double fraction) {
    int percent = static_cast<int>(fraction * 100.0);
    if (fraction >= 1.0) {
      Wipe();
      lastPercent_ = -1;
      return;
    }
    if (shown_ && stage == stage_ && percent == lastPercent_) return;
    stage_ = stage;
    lastPercent_ = percent;
    int filled = static_cast<int>(fraction * kCells);
    std::string cells(static_cast<size_t>(filled), '#');
    cells.append(static_cast<size_t>(kCells - filled), '-');
    std::fprintf(to_, "\r%-18s [%s] %3d%%", ProgressStageName(stage), cells.c_str(), percent);
    std::fflush(to_);
    shown_ = true;
  }

  void Wipe() {
    if (!shown_) return;
    std::fprintf(to_, "\r%*s\r", 18 + 2 + kCells + 2 + 4, "");
    std::fflush(to_);
    shown_ = false;
  }

  std::FILE* to_;
  bool terminal_;
  bool installed_ = false;
  bool shown_ = false;  // a bar is on the line now
  ProgressStage stage_ = ProgressStage::LOADING;
  int lastPercent_ = -1;
};

// True when the scene file is large enough that loading it deserves a bar.
inline bool LargeSceneFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && st.st_size >= kProgressMinSceneBytes;
}

// True when the loaded scene is large enough that exporting it deserves a bar.
inline bool LargeScene(const MemScene& scene) {
  int64_t faces = 0;
  for (const auto& node : scene.Nodes()) {
    if (const auto* mesh = dynamic_cast<const MemMeshObject*>(node->object))
      faces += static_cast<int64_t>(mesh->faces.size());
  }
  return WorthShowingProgress(static_cast<int64_t>(scene.Nodes().size()), faces);
}

// Prints "wrote OUT: 2 meshes, ..., 4096 bytes" for the file just written at path, read back
// from the disk. Output that is not a regular file (standard output, a pipe, a device)
// is not read back and gets no line.
inline void PrintExportSummary(const std::string& path) {
  struct stat st, out;
  if (path == "-" || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
  // A file that is our own standard output (-o /dev/stdout > file) holds the export: a
  // line printed there would be appended to it.
  if (::fstat(STDOUT_FILENO, &out) == 0 && out.st_dev == st.st_dev && out.st_ino == st.st_ino)
    return;
  FileSummary summary = SummarizeFile(path.c_str());
  if (summary.ok) {
    PrintMessage(stdout, "wrote %s: %s\n", path.c_str(), FormatFileSummary(summary).c_str());
  } else {
    PrintMessage(stderr, "tsmexport: %s was written but does not read back: %s\n", path.c_str(),
                 summary.error.c_str());
  }
}

}  // namespace tsm

#endif  // TSM_TOOLS_EXPORT_REPORT_H
