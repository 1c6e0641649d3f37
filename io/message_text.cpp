#include "io/message_text.h"

#include <cstdarg>
#include <vector>

namespace tsm {

namespace {

void AppendEscape(const char* form, unsigned value, std::string* out) {
  char buf[8];
  std::snprintf(buf, sizeof buf, form, value);
  *out += buf;
}

// The length of the valid UTF-8 sequence of two to four bytes at text[i], or 0. Overlong
// forms, surrogates and values past U+10FFFF are not valid.
size_t Utf8Length(const std::string& text, size_t i) {
  unsigned char c = static_cast<unsigned char>(text[i]);
  size_t n = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
  if (n == 0 || i + n > text.size()) return 0;
  unsigned char lo = 0x80, hi = 0xBF;  // the range of the second byte
  if (c == 0xE0) lo = 0xA0;
  if (c == 0xED) hi = 0x9F;
  if (c == 0xF0) lo = 0x90;
  if (c == 0xF4) hi = 0x8F;
  for (size_t k = 1; k < n; ++k) {
    unsigned char d = static_cast<unsigned char>(text[i + k]);
    if (d < (k == 1 ? lo : 0x80) || d > (k == 1 ? hi : 0xBF)) return 0;
  }
  return n;
}

std::string Escape(const std::string& text, bool keepLines) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    if (keepLines && (text[i] == '\n' || text[i] == '\t')) {
      out.push_back(text[i++]);
      continue;
    }
    i += AppendMessageCharacter(text, i, &out);
  }
  return out;
}

}  // namespace

size_t AppendMessageCharacter(const std::string& text, size_t i, std::string* out) {
  unsigned char c = static_cast<unsigned char>(text[i]);
  if (c >= 0x20 && c < 0x7F) {
    out->push_back(static_cast<char>(c));
    return 1;
  }
  size_t n = c >= 0x80 ? Utf8Length(text, i) : 0;
  if (n == 0) {
    AppendEscape("\\x%02X", c, out);
    return 1;
  }
  unsigned char d = static_cast<unsigned char>(text[i + 1]);
  if (c == 0xC2 && d <= 0x9F) {
    AppendEscape("\\u%04X", d, out);  // a C1 control
  } else {
    out->append(text, i, n);
  }
  return n;
}

std::string EscapeControls(const std::string& text) {
  return Escape(text, false);
}

std::string MessageText(const std::string& text) {
  return Escape(text, true);
}

void PrintMessage(std::FILE* to, const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  int n = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string text;
  if (n > 0) {
    std::vector<char> buffer(static_cast<size_t>(n) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), format, again);
    text.assign(buffer.data(), static_cast<size_t>(n));
  }
  va_end(again);
  std::fputs(MessageText(text).c_str(), to);
}

}  // namespace tsm
