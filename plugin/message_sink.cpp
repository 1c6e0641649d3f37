// The standard-error sink, the same on every platform.
#include <cstdio>

#include "plugin/platform.h"

namespace tsm {

int StderrMessageSink::Show(const char* caption, const char* text, unsigned /*type*/) {
  if (caption != nullptr && caption[0] != '\0')
    std::fprintf(stderr, "%s: %s\n", caption, text ? text : "");
  else
    std::fprintf(stderr, "%s\n", text ? text : "");
  return IDOK;
}

}  // namespace tsm
