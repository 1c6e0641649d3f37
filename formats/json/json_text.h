// Positions in JSON text for the loaders' messages: a byte offset as line and column,
// and the place of the value a JSON pointer names. The parser we use keeps no
// positions in the values it builds, so an error found after parsing is placed by
// walking the text again.
#ifndef TSM_FORMATS_JSON_JSON_TEXT_H
#define TSM_FORMATS_JSON_JSON_TEXT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tsm {

struct TextPosition {
  size_t line = 1;    // from 1
  size_t column = 1;  // from 1, in bytes
};

// The line and column of byte offset in text; an offset past the end is taken as the
// end of the text.
TextPosition PositionOfOffset(const std::string& text, size_t offset);

// Appends the UTF-8 bytes of code point cp (at most 0x10FFFF) to out.
void AppendUtf8(uint32_t cp, std::string* out);

// Splits a JSON pointer ("/nodes/3/name") into its reference tokens, undoing the "~1"
// and "~0" escapes. The empty pointer gives no token.
std::vector<std::string> SplitPointer(const std::string& pointer);

// Escapes one reference token for a JSON pointer ("~" as "~0", "/" as "~1").
std::string EscapePointerToken(const std::string& token);

// Finds in text, which must be valid JSON, the first byte of the value named by the
// pointer's tokens. When a token names nothing (a missing member or an index past the
// end), the value of the longest prefix that exists is answered. Walks the text without
// recursion, so any depth is safe.
size_t LocatePointer(const std::string& text, const std::vector<std::string>& tokens);

}  // namespace tsm

#endif  // TSM_FORMATS_JSON_JSON_TEXT_H
