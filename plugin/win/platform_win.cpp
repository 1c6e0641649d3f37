// The platform layer on Windows: string resources of the module, the system's message
// boxes and common controls. A message sink that a program installs takes the boxes
// instead of the system.
//
// The platform header comes before <windows.h>: its constants share their names with
// the system's macros, which would otherwise rewrite them.
// clang-format off
#include "plugin/platform.h"

#include <windows.h>
#include <commctrl.h>
// clang-format on

namespace tsm {

namespace {
MessageSink* currentSink = nullptr;  // null: the system's message box
int commonControlsInits = 0;
}  // namespace

MessageSink* SetMessageSink(MessageSink* sink) {
  MessageSink* previous = currentSink;
  currentSink = sink;
  return previous;
}

int LoadStringA(ModuleHandle module, unsigned id, char* buffer, int size) {
  if (module == nullptr || buffer == nullptr || size <= 0) return 0;
  int n = ::LoadStringA(static_cast<HINSTANCE>(module), id, buffer, size);
  if (n <= 0) {
    buffer[0] = '\0';
    return 0;
  }
  return n;
}

int MessageBoxA(WindowHandle owner, const char* text, const char* caption, unsigned type) {
  if (currentSink != nullptr)
    return currentSink->Show(caption ? caption : "", text ? text : "", type);
  return ::MessageBoxA(static_cast<HWND>(owner), text ? text : "", caption ? caption : "", type);
}

WindowHandle GetActiveWindow() {
  return ::GetActiveWindow();
}

void InitCommonControls() {
  ++commonControlsInits;
  ::InitCommonControls();
}

int CommonControlsInitCount() {
  return commonControlsInits;
}

}  // namespace tsm
