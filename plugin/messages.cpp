#include "plugin/messages.h"

#include "host/host_core.h"
#include "run/export_run.h"

namespace tsm {

namespace {
ModuleHandle moduleHandle = nullptr;
char sharedBuffer[256];
}  // namespace

void SetModuleHandle(ModuleHandle handle) {
  moduleHandle = handle;
}

ModuleHandle GetRecordedModuleHandle() {
  return moduleHandle;
}

const char* LoadResourceString(unsigned id) {
  if (moduleHandle == nullptr) return nullptr;
  if (LoadStringA(moduleHandle, id, sharedBuffer, sizeof(sharedBuffer)) == 0) return nullptr;
  return sharedBuffer;
}

int ShowResourceMessage(unsigned textId, unsigned captionId, unsigned type) {
  // Both texts pass through the shared buffer, so each is copied before the next load.
  const char* t = LoadResourceString(textId);
  CStr text = t ? t : "";
  const char* c = LoadResourceString(captionId);
  CStr caption = c ? c : "";
  return MessageBoxA(GetActiveWindow(), text.c_str(), caption.c_str(), type);
}

void ShowExportErrorBox(const char* text) {
  // The text may itself live in the shared buffer, which loading the caption overwrites.
  CStr copy = text ? text : "";
  const char* c = LoadResourceString(IDS_EXPORT_ERROR);
  CStr caption = c ? c : "";
  MessageBoxA(GetActiveWindow(), copy.c_str(), caption.c_str(), MB_OK);
}

void ShowWriterWarning(const char* text) {
  if (QuietMode != 0) return;
  ShowExportErrorBox(text);
}

std::string FormatWithName(const char* format, const char* name) {
  std::string text;
  if (format == nullptr) return text;
  if (name == nullptr) name = "";
  bool named = false;
  for (const char* p = format; *p != '\0'; ++p) {
    if (p[0] == '%' && p[1] == '%') {
      text += '%';
      ++p;
    } else if (p[0] == '%' && p[1] == 's' && !named) {
      text += name;
      named = true;
      ++p;
    } else {
      text += *p;
    }
  }
  return text;
}

}  // namespace tsm
