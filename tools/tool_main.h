// What every tool's main shares around its run: out of memory anywhere ends the tool
// with a message and exit status 2, never with an abort; what it printed on standard
// output is flushed and closed, and output that never reached its reader is a failure.
#ifndef TSM_TOOLS_TOOL_MAIN_H
#define TSM_TOOLS_TOOL_MAIN_H

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>

#include "io/message_text.h"
#include "io/output_file.h"

namespace tsm {

// Memory held back for what runs while an out-of-memory failure unwinds: destructors
// that allocate, as a JSON tree's does, would otherwise end the process from inside a
// destructor. A failure outside unwinding throws and keeps the reserve (taking it back
// first when an earlier failure spent it and there is room again); one during unwinding
// frees the reserve and lets the allocation try again.
constexpr size_t kMemoryReserve = 16u << 20;
inline void*& MemoryReserve() {
  static void* reserve = nullptr;
  return reserve;
}
inline const char*& ToolName() {
  static const char* name = "tool";
  return name;
}
inline void OnAllocationFailure() {
  void*& reserve = MemoryReserve();
  if (std::uncaught_exceptions() > 0) {
    if (reserve == nullptr) throw std::bad_alloc();  // nothing left to give
    std::free(reserve);
    reserve = nullptr;
    return;
  }
  if (reserve == nullptr) reserve = std::malloc(kMemoryReserve);
  throw std::bad_alloc();
}

// The last resort, for a failure no handler can take: one inside a destructor (which may
// not throw) or one while unwinding with the reserve spent. The tool ends as it does for
// any other out-of-memory failure, its unfinished output removed; anything else that
// reaches here aborts as usual.
[[noreturn]] inline void OnTerminate() {
  if (std::exception_ptr failure = std::current_exception()) {
    try {
      std::rethrow_exception(failure);
    } catch (const std::bad_alloc&) {
      RemovePendingTemporary();
      std::fflush(stdout);
      std::fprintf(stderr, "%s: out of memory\n", ToolName());
      std::_Exit(2);
    } catch (...) {
    }
  }
  std::abort();
}

// Runs run(argc, argv) and answers its exit status; 2 when memory ran out, and
// outputFailed when standard output could not be written (a status that already says
// failure stays).
inline int RunTool(const char* tool, int (*run)(int, char**), int argc, char** argv,
                   int outputFailed) {
  ToolName() = tool;
  MemoryReserve() = std::malloc(kMemoryReserve);
  std::set_new_handler(OnAllocationFailure);
  std::set_terminate(OnTerminate);
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
