// The parts of the output file that are the same on every system; the rest is in
// output_file.cpp and, for Windows, win/output_file_win.cpp.
#include "io/output_file.h"

namespace tsm {

namespace {
RunStreamFactory runStreamFactory = MakeFileRunStream;
}  // namespace

RunStreamFactory SetRunStreamFactory(RunStreamFactory factory) {
  RunStreamFactory previous = runStreamFactory;
  runStreamFactory = factory != nullptr ? factory : MakeFileRunStream;
  return previous;
}

std::unique_ptr<RunStream> MakeRunStream(int fd) {
  return runStreamFactory(fd);
}

OutputFile::~OutputFile() {
  CloseIfOpen();
  Discard();
}

}  // namespace tsm
