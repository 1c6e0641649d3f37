#include "plugin/platform.h"

#include <cstring>

#include "resources/string_table.h"

namespace tsm {

namespace {
StderrMessageSink stderrSink;
MessageSink* currentSink = &stderrSink;
int commonControlsInits = 0;
}  // namespace

MessageSink* SetMessageSink(MessageSink* sink) {
  MessageSink* previous = currentSink;
  currentSink = sink != nullptr ? sink : &stderrSink;
  return previous;
}

int LoadStringA(ModuleHandle module, unsigned id, char* buffer, int size) {
  if (module == nullptr || buffer == nullptr || size <= 0) return 0;
  const char* text = FindStringResource(id);
  if (text == nullptr) {
    buffer[0] = '\0';
    return 0;
  }
  size_t n = std::strlen(text);
  if (n > static_cast<size_t>(size - 1)) n = static_cast<size_t>(size - 1);
  std::memcpy(buffer, text, n);
  buffer[n] = '\0';
  return static_cast<int>(n);
}

int MessageBoxA(WindowHandle /*owner*/, const char* text, const char* caption, unsigned type) {
  return currentSink->Show(caption ? caption : "", text ? text : "", type);
}

WindowHandle GetActiveWindow() {
  return nullptr;
}

void InitCommonControls() {
  ++commonControlsInits;
}

int CommonControlsInitCount() {
  return commonControlsInits;
}

}  // namespace tsm
