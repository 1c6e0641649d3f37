#include "resources/string_table.h"

namespace tsm {

namespace {

struct StringResource {
  unsigned id;
  const char* text;
};

const StringResource kStrings[] = {
#define TSM_STRING(id, text) {id, text},
#include "resources/string_texts.inc"
#undef TSM_STRING
};

}  // namespace

const char* FindStringResource(unsigned id) {
  for (const StringResource& s : kStrings)
    if (s.id == id) return s.text;
  return nullptr;
}

}  // namespace tsm
