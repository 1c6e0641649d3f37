#include "run/output_paths.h"

// The command line's side of the output; it runs on POSIX systems only (the Windows build
// makes the module alone).
#ifndef _WIN32

#include <sys/stat.h>

#include <cerrno>

#include "io/output_file.h"
#include "run/export_run.h"

namespace tsm {

bool DefaultOutputPath(const std::string& scene, std::string* out, std::string* why) {
  struct stat st;
  bool missing = ::stat(scene.c_str(), &st) != 0 && (errno == ENOENT || errno == ENOTDIR);
  if (scene == "-" || DescriptorNamedBy(scene) >= 0 || (!missing && !S_ISREG(st.st_mode))) {
    *why = scene +
           " is not a regular file, so no output name can be derived from it; "
           "name the output with -o";
    return false;
  }
  size_t slash = scene.find_last_of("/\\");
  size_t dot = scene.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash) ||
      dot == (slash == std::string::npos ? 0 : slash + 1))
    *out = scene + ".tsm";
  else
    *out = scene.substr(0, dot) + ".tsm";
  return true;
}

std::string OutputPathArgument(const std::string& arg) {
  return arg == "-" ? std::string("/dev/stdout") : arg;
}

std::string DescribeOutputFailure(const std::string& path) {
  RunOutcome outcome = LastRunOutcome();
  if (outcome != RunOutcome::CANT_CREATE && outcome != RunOutcome::WRITE_ERROR) return "";
  const RunOutputFailure& failure = LastRunOutputFailure();
  if (failure.error == 0 && failure.step.empty())
    return path + ": " +
           (outcome == RunOutcome::CANT_CREATE ? "can't be opened" : "a write did not complete");
  return DescribeOutputError(path, failure.error, failure.step);
}

std::string InPlaceNoticeText(const std::string& path) {
  return path +
         ": its folder can't be written, so the file is written in place; if the export "
         "fails now, its previous contents are lost";
}

}  // namespace tsm

#endif  // _WIN32
