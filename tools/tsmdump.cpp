// tsmdump: prints or checks the chunk tree of a file.
//
//   tsmdump FILE           the tree, one line per chunk, with decoded payloads
//   tsmdump --json FILE    the tree as JSON
//   tsmdump --check FILE   validation only
//
// Exit status: 0 the file is valid, 1 it is not (one line on stderr says where),
// 2 usage error, unreadable file (also one above 4 GiB, which no valid file can be), out
// of memory, or output that could not be written.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "io/message_text.h"
#include "reader/chunk_dump.h"
#include "reader/chunk_reader.h"
#include "tools/tool_main.h"

namespace {

constexpr const char* kVersion = "1.1.0";

constexpr int kExitValid = 0;
constexpr int kExitInvalid = 1;
constexpr int kExitUsage = 2;

void PrintUsage(std::FILE* to) {
  std::fputs(
      "usage: tsmdump [--check | --json] FILE\n"
      "       tsmdump --help | --version\n"
      "Prints the chunk tree of FILE, one line per chunk: offset, id, name, length and\n"
      "the decoded payload.\n"
      "  --check    only validate the file: exit 0 when valid, 1 when not\n"
      "  --json     print the tree as JSON\n"
      "  --help     show this text\n"
      "  --version  show the version\n"
      "Exit status: 0 valid, 1 invalid (the first problem is printed with its offset),\n"
      "2 usage error, unreadable file (or one above 4 GiB), out of memory, or output\n"
      "that could not be written.\n",
      to);
}

int UsageError(const std::string& what) {
  tsm::PrintMessage(stderr, "tsmdump: %s\n", what.c_str());
  PrintUsage(stderr);
  return kExitUsage;
}

// The dumps' sink: stops the walk once a write fails.
bool ToStdout(const char* text, size_t n) {
  return std::fwrite(text, 1, n, stdout) == n;
}

// Everything but the final check of the output; answers the exit status.
int Run(int argc, char** argv) {
  enum class Mode { kTree, kJson, kCheck } mode = Mode::kTree;
  bool modeGiven = false;
  const char* path = nullptr;
  bool optionsDone = false;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (!optionsDone && arg[0] == '-' && arg[1] != '\0') {
      if (std::strcmp(arg, "--") == 0) {
        optionsDone = true;
      } else if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
        PrintUsage(stdout);
        return kExitValid;
      } else if (std::strcmp(arg, "--version") == 0) {
        std::printf("tsmdump %s\n", kVersion);
        return kExitValid;
      } else if (std::strcmp(arg, "--check") == 0 || std::strcmp(arg, "--json") == 0) {
        if (modeGiven) return UsageError("--check and --json are given more than once");
        modeGiven = true;
        mode = arg[2] == 'c' ? Mode::kCheck : Mode::kJson;
      } else {
        return UsageError(std::string("unknown option ") + arg);
      }
    } else if (path == nullptr) {
      path = arg;
    } else {
      return UsageError("more than one FILE");
    }
  }
  if (path == nullptr) return UsageError("no FILE given");

  // The file is mapped, not copied, and no chunk keeps its children: the walks read the
  // bytes where they lie, so memory does not grow with the file.
  tsm::MappedFile file;
  std::string readError;
  if (!file.Open(path, &readError)) {
    tsm::PrintMessage(stderr, "tsmdump: %s: cannot read: %s\n", path, readError.c_str());
    return kExitUsage;
  }
  const uint8_t* data = file.Data();
  const size_t size = file.Size();
  // The walks go in file order: the pages behind them go, so memory stays bounded too.
  tsm::WalkRelease release(file);
  const tsm::FileCheck check = tsm::CheckChunkFile(data, size, false, true);
  if (mode != Mode::kCheck && check.tree.ok) {
    // A file whose framing holds is printed even when a payload is wrong, so the line
    // with the problem can be seen in its place. Both dumps are written while walking
    // the chunks: the text of a big file is never held whole.
    if (mode == Mode::kJson) {
      tsm::WriteChunkTreeJson(check.tree.top, data, size, ToStdout);
      std::fputc('\n', stdout);
    } else {
      tsm::WriteChunkTreeText(check.tree.top, data, size, ToStdout);
    }
  }
  if (!check.ok) {
    std::fflush(stdout);
    tsm::PrintMessage(stderr, "tsmdump: %s: %s\n", path, check.error.c_str());
    return kExitInvalid;
  }
  if (mode == Mode::kCheck) std::printf("ok\n");
  return kExitValid;
}

}  // namespace

int main(int argc, char** argv) {
  return tsm::RunTool("tsmdump", Run, argc, argv, kExitUsage);
}
