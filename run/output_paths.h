// What the command line adds around the run's output: the output name it derives from a
// scene path, "-" for standard output, and the line that follows a failed output's box.
// (Removal of the temporary file on signals is the output file's: io/output_file.h.)
#ifndef TSM_RUN_OUTPUT_PATHS_H
#define TSM_RUN_OUTPUT_PATHS_H

#include <string>

#include "io/output_file.h"  // PrepareProcessForOutput

namespace tsm {

// The output name derived from a scene path: the path with its extension replaced by
// .tsm (added when it has none). Only a regular file's path, or a path where nothing is
// yet (the loader then says what is wrong), gives one; for "-", a stream, a device, a
// pipe or a folder it answers false with the reason in *why.
bool DefaultOutputPath(const std::string& scene, std::string* out, std::string* why);

// The path that an output argument names: "-" is standard output; anything else stands
// as it is.
std::string OutputPathArgument(const std::string& arg);

// "PATH: REASON" for the output at path when the last run could not create or write it
// (REASON is the system's wording, after the failed step when there is one); empty after
// any other outcome.
std::string DescribeOutputFailure(const std::string& path);

// The notice for a file written in place because its folder may not be written.
std::string InPlaceNoticeText(const std::string& path);

}  // namespace tsm

#endif  // TSM_RUN_OUTPUT_PATHS_H
