// The standard-error sink, the same on every platform. Names in the boxes come from the
// scene, so every box passes through the message escaper on its way to the terminal.
#include <cstdio>
#include <new>
#include <string>

#include "io/message_text.h"
#include "plugin/platform.h"

namespace tsm {

int StderrMessageSink::Show(const char* caption, const char* text, unsigned /*type*/) {
  try {
    std::string body = text ? text : "";
    if (caption != nullptr && caption[0] != '\0') body = std::string(caption) + ": " + body;
    std::fputs((MessageText(body) + "\n").c_str(), stderr);
  } catch (const std::bad_alloc&) {
    // A box is no place to end the run; the run meets the shortage itself soon enough.
    std::fputs("(a message was lost: out of memory)\n", stderr);
  }
  return IDOK;
}

}  // namespace tsm
