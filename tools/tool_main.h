// What every tool's main shares around its run: out of memory anywhere ends the tool
// with a message and exit status 2, never with an abort; what it printed on standard
// output is flushed and closed, and output that never reached its reader is a failure.
#ifndef TSM_TOOLS_TOOL_MAIN_H
#define TSM_TOOLS_TOOL_MAIN_H

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "io/message_text.h"
#include "io/output_file.h"

namespace tsm {

// Memory held back for the moment it runs out: freed when an allocation first fails, so
// that what unwinds after (destructors that allocate, as a JSON tree's does) has room,
// instead of ending the process from inside a destructor.
constexpr size_t kMemoryReserve = 16u << 20;
inline void*& MemoryReserve() {
  static void* reserve = nullptr;
  return reserve;
}
inline void ReleaseReserveAndThrow() {
  std::free(MemoryReserve());
  MemoryReserve() = nullptr;
  throw std::bad_alloc();
}

// Runs run(argc, argv) and answers its exit status; 2 when memory ran out, and
// outputFailed when standard output could not be written (a status that already says
// failure stays).
inline int RunTool(const char* tool, int (*run)(int, char**), int argc, char** argv,
                   int outputFailed) {
  MemoryReserve() = std::malloc(kMemoryReserve);
  std::set_new_handler(ReleaseReserveAndThrow);
  int status;
  try {
    status = run(argc, argv);
  } catch (const std::bad_alloc&) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s: out of memory\n", tool);  // nothing to allocate on the way
    return 2;
  }
  if (int error = FinishStandardOutput()) {
    PrintMessage(stderr, "%s: cannot write the output: %s\n", tool, std::strerror(error));
    if (status == 0) status = outputFailed;
  }
  return status;
}

}  // namespace tsm

#endif  // TSM_TOOLS_TOOL_MAIN_H
