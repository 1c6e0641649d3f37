#include "formats/json/json_text.h"

#include <cstdint>

namespace tsm {
namespace {

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

size_t SkipSpace(const std::string& t, size_t i) {
  while (i < t.size() && IsSpace(t[i])) ++i;
  return i;
}

// Four hex digits at t[i]; answers false when they are not there.
bool ReadHex4(const std::string& t, size_t i, uint32_t* value) {
  if (i + 4 > t.size()) return false;
  uint32_t v = 0;
  for (size_t k = i; k < i + 4; ++k) {
    char c = t[k];
    v <<= 4;
    if (c >= '0' && c <= '9')
      v |= uint32_t(c - '0');
    else if (c >= 'a' && c <= 'f')
      v |= uint32_t(c - 'a' + 10);
    else if (c >= 'A' && c <= 'F')
      v |= uint32_t(c - 'A' + 10);
    else
      return false;
  }
  *value = v;
  return true;
}

// Reads the string whose opening quote is at t[i], decoding its escapes into out when
// out is given; answers the offset just after the closing quote.
size_t ReadString(const std::string& t, size_t i, std::string* out) {
  ++i;
  while (i < t.size() && t[i] != '"') {
    char c = t[i++];
    if (c != '\\') {
      if (out) out->push_back(c);
      continue;
    }
    if (i >= t.size()) break;
    char e = t[i++];
    if (e != 'u') {
      if (!out) continue;
      switch (e) {
        case 'b':
          out->push_back('\b');
          break;
        case 'f':
          out->push_back('\f');
          break;
        case 'n':
          out->push_back('\n');
          break;
        case 'r':
          out->push_back('\r');
          break;
        case 't':
          out->push_back('\t');
          break;
        default:
          out->push_back(e);
          break;  // '"', '\\', '/'
      }
      continue;
    }
    uint32_t cp = 0;
    if (!ReadHex4(t, i, &cp)) continue;
    i += 4;
    uint32_t low = 0;
    if (cp >= 0xD800 && cp < 0xDC00 && i + 6 <= t.size() && t[i] == '\\' && t[i + 1] == 'u' &&
        ReadHex4(t, i + 2, &low) && low >= 0xDC00 && low < 0xE000) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
      i += 6;
    }
    if (out) AppendUtf8(cp, out);
  }
  return i < t.size() ? i + 1 : i;
}

// Answers the offset just after the value that starts at t[i].
size_t SkipValue(const std::string& t, size_t i) {
  size_t depth = 0;
  while (i < t.size()) {
    char c = t[i];
    if (c == '"') {
      i = ReadString(t, i, nullptr);
      if (depth == 0) return i;
    } else if (c == '{' || c == '[') {
      ++depth;
      ++i;
    } else if (c == '}' || c == ']') {
      if (depth == 0) return i;
      ++i;
      if (--depth == 0) return i;
    } else if (depth == 0) {
      while (i < t.size() && !IsSpace(t[i]) && t[i] != ',' && t[i] != '}' && t[i] != ']') ++i;
      return i;
    } else {
      ++i;
    }
  }
  return i;
}

bool ParseIndex(const std::string& token, size_t* index) {
  if (token.empty() || token.size() > 18) return false;
  size_t v = 0;
  for (char c : token) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + size_t(c - '0');
  }
  *index = v;
  return true;
}

}  // namespace

void AppendUtf8(uint32_t cp, std::string* out) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

TextPosition PositionOfOffset(const std::string& text, size_t offset) {
  if (offset > text.size()) offset = text.size();
  TextPosition p;
  size_t lineStart = 0;
  for (size_t i = 0; i < offset; ++i) {
    if (text[i] == '\n') {
      ++p.line;
      lineStart = i + 1;
    }
  }
  p.column = offset - lineStart + 1;
  return p;
}

std::vector<std::string> SplitPointer(const std::string& pointer) {
  std::vector<std::string> tokens;
  size_t i = 0;
  while (i < pointer.size()) {
    // Every token starts after a '/'.
    size_t end = pointer.find('/', i + 1);
    if (end == std::string::npos) end = pointer.size();
    std::string raw = pointer.substr(i + 1, end - i - 1);
    std::string token;
    for (size_t k = 0; k < raw.size(); ++k) {
      if (raw[k] == '~' && k + 1 < raw.size() && (raw[k + 1] == '0' || raw[k + 1] == '1')) {
        token.push_back(raw[k + 1] == '0' ? '~' : '/');
        ++k;
      } else {
        token.push_back(raw[k]);
      }
    }
    tokens.push_back(token);
    i = end;
  }
  return tokens;
}

std::string EscapePointerToken(const std::string& token) {
  std::string out;
  for (char c : token) {
    if (c == '~')
      out += "~0";
    else if (c == '/')
      out += "~1";
    else
      out.push_back(c);
  }
  return out;
}

size_t LocatePointer(const std::string& text, const std::vector<std::string>& tokens) {
  size_t pos = SkipSpace(text, 0);
  for (const std::string& token : tokens) {
    if (pos >= text.size()) return pos;
    bool found = false;
    size_t i = SkipSpace(text, pos + 1);
    if (text[pos] == '{') {
      while (!found && i < text.size() && text[i] == '"') {
        std::string key;
        i = SkipSpace(text, ReadString(text, i, &key));
        if (i < text.size() && text[i] == ':') i = SkipSpace(text, i + 1);
        if (key == token) {
          pos = i;
          found = true;
          break;
        }
        i = SkipSpace(text, SkipValue(text, i));
        if (i >= text.size() || text[i] != ',') break;
        i = SkipSpace(text, i + 1);
      }
    } else if (text[pos] == '[') {
      size_t index = 0;
      if (!ParseIndex(token, &index)) return pos;
      for (size_t k = 0; i < text.size() && text[i] != ']'; ++k) {
        if (k == index) {
          pos = i;
          found = true;
          break;
        }
        i = SkipSpace(text, SkipValue(text, i));
        if (i >= text.size() || text[i] != ',') break;
        i = SkipSpace(text, i + 1);
      }
    }
    if (!found) return pos;
  }
  return pos;
}

}  // namespace tsm
