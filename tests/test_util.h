// Helpers shared by the tests: byte comparison with the first differing offset, a
// message sink that captures boxes, and little-endian readers.
#ifndef TSM_TESTS_TEST_UTIL_H
#define TSM_TESTS_TEST_UTIL_H

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "plugin/messages.h"

namespace tsm {

// Compares bytes with the expectation and reports the first differing offset.
inline void ExpectBytes(const std::vector<uint8_t>& actual, const std::vector<uint8_t>& expected) {
  size_t n = std::min(actual.size(), expected.size());
  for (size_t i = 0; i < n; ++i) {
    if (actual[i] != expected[i]) {
      ADD_FAILURE() << "first difference at offset " << i << ": got 0x" << std::hex
                    << int(actual[i]) << ", expected 0x" << int(expected[i]);
      return;
    }
  }
  EXPECT_EQ(actual.size(), expected.size()) << "sizes differ after " << n << " equal bytes";
}

inline uint16_t GetU16(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint16_t>(b.at(at) | (b.at(at + 1) << 8));
}
inline uint32_t GetU32(const std::vector<uint8_t>& b, size_t at) {
  return uint32_t(b.at(at)) | (uint32_t(b.at(at + 1)) << 8) | (uint32_t(b.at(at + 2)) << 16) |
         (uint32_t(b.at(at + 3)) << 24);
}
inline float GetF32(const std::vector<uint8_t>& b, size_t at) {
  uint32_t bits = GetU32(b, at);
  float f;
  std::memcpy(&f, &bits, 4);
  return f;
}

// The whole contents of a file; empty when it can't be read.
inline std::string ReadFileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Creates or replaces the file at path with text.
inline void WriteFileText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// What a shell command line did: its exit status (-1 when it did not exit) and what it
// printed on standard error.
struct ShellOutcome {
  int status = -1;
  std::string err;
};
// Runs line with sh in the folder dir, standard error captured (its file is removed after).
inline ShellOutcome RunShell(const std::string& dir, const std::string& line) {
  std::string errFile = dir + "/.stderr";
  int raw = std::system(("cd '" + dir + "' && (" + line + ") 2>'" + errFile + "'").c_str());
  ShellOutcome o;
  o.status = raw != -1 && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  o.err = ReadFileText(errFile);
  std::remove(errFile.c_str());
  return o;
}

// The names in a folder, hidden ones included, sorted; empty when it can't be read.
inline std::vector<std::string> FolderListing(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
    names.push_back(it->path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// One message box as the sink received it.
struct CapturedBox {
  std::string caption;
  std::string text;
  unsigned type;
};

// Installs itself as the message sink for its lifetime and records every box.
class CaptureSink : public MessageSink {
 public:
  CaptureSink() { previous_ = SetMessageSink(this); }
  ~CaptureSink() override { SetMessageSink(previous_); }
  int Show(const char* caption, const char* text, unsigned type) override {
    boxes.push_back({caption, text, type});
    return IDOK;
  }
  std::vector<CapturedBox> boxes;

 private:
  MessageSink* previous_;
};

// Records a module handle for its lifetime, so string resources load.
class ModuleHandleScope {
 public:
  ModuleHandleScope() {
    previous_ = GetRecordedModuleHandle();
    SetModuleHandle(reinterpret_cast<ModuleHandle>(&previous_));
  }
  ~ModuleHandleScope() { SetModuleHandle(previous_); }

 private:
  ModuleHandle previous_;
};

}  // namespace tsm

#endif  // TSM_TESTS_TEST_UTIL_H
