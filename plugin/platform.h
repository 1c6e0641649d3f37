// The small platform layer under the plug-in: module handles, string resources, message
// boxes and the common controls. On Windows (plugin/win/platform_win.cpp) these are the
// system's own: string resources of the module, the system's message box owned by the
// active window. Elsewhere (platform.cpp) string resources come from the compiled string
// table and message boxes go to standard error. On both, a message sink that the program
// (a tool, a test, a host) installs receives the boxes instead.
#ifndef TSM_PLUGIN_PLATFORM_H
#define TSM_PLUGIN_PLATFORM_H

#include <string>

namespace tsm {

typedef void* ModuleHandle;
typedef void* WindowHandle;

// Box types and answers.
constexpr unsigned MB_OK = 0x0;
constexpr int IDOK = 1;

// Receives every message box. Show answers like a box with an OK button (IDOK).
class MessageSink {
 public:
  virtual ~MessageSink() = default;
  virtual int Show(const char* caption, const char* text, unsigned type) = 0;
};

// Prints "CAPTION: text" and a newline to standard error, or just the text when the
// caption is empty.
class StderrMessageSink : public MessageSink {
 public:
  int Show(const char* caption, const char* text, unsigned type) override;
};

// Installs the sink that boxes go to; null restores the platform's own boxes (standard
// error, or the system's box on Windows). The sink is not owned. Answers the sink that
// was installed before.
MessageSink* SetMessageSink(MessageSink* sink);

// Loads string resource id of module into buffer (at most size - 1 characters and a NUL).
// Answers the number of characters copied, 0 when the module is null or has no such id.
int LoadStringA(ModuleHandle module, unsigned id, char* buffer, int size);
// Shows a modal box through the installed sink and answers its button.
int MessageBoxA(WindowHandle owner, const char* text, const char* caption, unsigned type);
// The window of the host that is active; there is none outside Windows.
WindowHandle GetActiveWindow();
// Registers the platform's common controls. Counted so tests can tell it ran.
void InitCommonControls();
int CommonControlsInitCount();

}  // namespace tsm

#endif  // TSM_PLUGIN_PLATFORM_H
