#include "formats/json/json_parse.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <utility>
#include <vector>

#include "formats/json/json_text.h"

namespace tsm {
namespace {

// Objects with more members than this find repeated names through a hash set; smaller
// ones compare with the members read so far.
constexpr size_t kLinearKeyCheck = 8;

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The length of the well-formed UTF-8 sequence at s[0, n), or 0 when it is not one
// (overlong forms, surrogates and code points above U+10FFFF are not).
size_t Utf8Length(const unsigned char* s, size_t n) {
  unsigned char b = s[0];
  size_t len;
  unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
  if (b >= 0xC2 && b <= 0xDF) {
    len = 2;
  } else if (b >= 0xE0 && b <= 0xEF) {
    len = 3;
    if (b == 0xE0) lo = 0xA0;
    if (b == 0xED) hi = 0x9F;
  } else if (b >= 0xF0 && b <= 0xF4) {
    len = 4;
    if (b == 0xF0) lo = 0x90;
    if (b == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  if (n < len || s[1] < lo || s[1] > hi) return 0;
  for (size_t k = 2; k < len; ++k)
    if (s[k] < 0x80 || s[k] > 0xBF) return 0;
  return len;
}

class Parser {
 public:
  Parser(const std::string& text, BulkValues* bulk) : text_(text), bulk_(bulk) {}
  Parser(const Parser&) = delete;
  Parser& operator=(const Parser&) = delete;
  // A parse stopped by a problem or by memory running out leaves its open containers
  // here; they are freed without allocating.
  ~Parser() {
    for (Frame& f : frames_) ReleaseJson(f.value);
  }

  Json Run() {
    size_t i = 0;
    if (text_.compare(0, 3, "\xEF\xBB\xBF") == 0) i = 3;  // a byte order mark
    i = SkipSpace(i);
    if (i >= text_.size())
      Syntax(i, text_.empty() ? "the text is empty" : "the text holds no JSON value");
    Json result;
    JsonRelease release(result);  // only while a problem unwinds: it is moved out below
    size_t end = ParseValue(i, &result);
    end = SkipSpace(end);
    if (end < text_.size()) {
      if (text_[end] == '\0')
        Syntax(end, "a NUL byte follows the JSON value; nothing may follow it");
      Syntax(end, "found " + Describe(end) + " after the JSON value; nothing may follow it");
    }
    return Json(std::move(result));
  }

 private:
  // An array or object being read. Its value is built here and moved into its parent
  // once complete, so no pointer into a growing container is ever kept.
  struct Frame {
    Json value;
    bool object;
    std::string key;             // objects: the member being read
    size_t keyOffset = 0;        // objects: where its name starts
    std::vector<uint64_t> keys;  // objects with many members: see KeySeen
  };

  [[noreturn]] void Syntax(size_t offset, const std::string& what) const {
    FailAt(offset, std::string(), "syntax error: " + what);
  }

  // The byte at offset for a message: 'c' when printable, else its code.
  std::string Describe(size_t offset) const {
    if (offset >= text_.size()) return "the end of the text";
    unsigned char c = static_cast<unsigned char>(text_[offset]);
    char buf[16];
    if (c >= 0x20 && c < 0x7F)
      std::snprintf(buf, sizeof buf, "'%c'", c);
    else
      std::snprintf(buf, sizeof buf, "byte 0x%02X", c);
    return buf;
  }

  size_t SkipSpace(size_t i) const {
    while (i < text_.size() && IsSpace(text_[i])) ++i;
    return i;
  }

  // The pointer of the value being read: the keys and indices of the open frames.
  std::string Path() const {
    std::string path;
    for (const Frame& f : frames_)
      path = f.object ? ChildPath(path, f.key) : ChildPath(path, f.value.size());
    return path;
  }

  // Parses the value at text_[i] (no whitespace before it) into *out; answers the offset
  // just after it. Arrays and objects are read with frames_, not recursion.
  size_t ParseValue(size_t i, Json* out) {
    const size_t base = frames_.size();
    for (;;) {
      // i is at the start of a value.
      if (i >= text_.size()) Syntax(i, "unexpected end of the text; expected a value");
      Json scalar;
      JsonRelease release(scalar);  // a complete value still held when a problem unwinds
      char c = text_[i];
      if (c == '[' && bulk_ != nullptr && ReadBulk(&i, &scalar)) {
        // An array read by a typed fast path: complete.
      } else if (c == '{' || c == '[') {
        if (frames_.size() >= kMaxJsonNesting)
          FailAt(i, Path(),
                 "arrays and objects are nested more than " + std::to_string(kMaxJsonNesting) +
                     " levels deep");
        Frame f;
        f.object = c == '{';
        f.value = f.object ? Json::object() : Json::array();
        frames_.push_back(std::move(f));
        i = SkipSpace(i + 1);
        if (frames_.back().object) {
          if (i < text_.size() && text_[i] == '}') {
            ++i;
          } else {
            i = ReadKey(i);
            continue;
          }
        } else {
          if (i < text_.size() && text_[i] == ']') {
            ++i;
          } else {
            continue;
          }
        }
        // An empty array or object: complete at once.
        scalar = std::move(frames_.back().value);
        frames_.pop_back();
      } else if (c == '"') {
        std::string s;
        i = ReadString(i, &s);
        scalar = std::move(s);
      } else if (c == '-' || IsDigit(c)) {
        i = ReadNumber(i, &scalar);
      } else if (text_.compare(i, 4, "true") == 0) {
        scalar = true;
        i += 4;
      } else if (text_.compare(i, 5, "false") == 0) {
        scalar = false;
        i += 5;
      } else if (text_.compare(i, 4, "null") == 0) {
        i += 4;
      } else {
        Syntax(i, "expected a value, found " + Describe(i));
      }

      // A value is complete: store it in its container, and close every container that
      // ends after it.
      for (;;) {
        if (frames_.size() == base) {
          *out = std::move(scalar);
          return i;
        }
        Frame& top = frames_.back();
        if (top.object) {
          AddMember(top.value.get_ref<Json::object_t&>(), std::move(top.key), std::move(scalar));
        } else {
          top.value.get_ref<Json::array_t&>().push_back(std::move(scalar));
        }
        i = SkipSpace(i);
        if (i < text_.size() && text_[i] == ',') {
          i = SkipSpace(i + 1);
          if (top.object) i = ReadKey(i);
          break;  // the next value
        }
        const char close = top.object ? '}' : ']';
        if (i >= text_.size() || text_[i] != close)
          Syntax(i, std::string("expected ',' or '") + close + "', found " + Describe(i));
        ++i;
        scalar = std::move(top.value);
        frames_.pop_back();
      }
    }
  }

  // Adds a member to an object being read. The members are moved into a larger vector
  // here: the vector's own growth copies them whole (their names are const), which for a
  // large object costs its memory twice over and, when that runs out, a copy to undo.
  static void AddMember(Json::object_t& members, std::string&& key, Json&& value) {
    if (members.size() == members.capacity()) {
      Json::object_t grown;
      grown.reserve(members.empty() ? 4 : members.size() * 2);
      try {
        for (auto& m : members) grown.emplace_back(m.first, std::move(m.second));
      } catch (...) {
        // A name that could not be copied: the parse fails, and what was moved is freed
        // without allocating.
        for (auto& m : grown) ReleaseJson(m.second);
        throw;
      }
      members.swap(grown);
    }
    members.emplace_back(std::move(key), std::move(value));
  }

  // Reads the array at *i as bulk data when it is the value of a member with a fast path
  // and has its shape: then sets *out to its marker and *i past it.
  bool ReadBulk(size_t* i, Json* out) {
    // A fast path reads up to three levels of arrays and objects inside its array.
    if (frames_.empty() || !frames_.back().object || frames_.size() + 4 > kMaxJsonNesting)
      return false;
    BulkKind kind = BulkKindOfMember(frames_.back().key);
    if (kind == BulkKind::kNone) return false;
    size_t end = bulk_->Read(kind, text_, *i, out);
    if (end == 0) return false;
    *i = end;
    return true;
  }

  // Reads a member name and its ':' for the object on top of frames_, refusing a name
  // the object already has; answers the offset of the member's value.
  size_t ReadKey(size_t i) {
    Frame& top = frames_.back();
    if (i >= text_.size() || text_[i] != '"')
      Syntax(i, "expected a member name (a string), found " + Describe(i));
    top.keyOffset = i;
    top.key.clear();
    i = ReadString(i, &top.key);
    const bool repeated = KeySeen(top);
    if (repeated) {
      std::string key = top.key;
      size_t at = top.keyOffset;
      frames_.pop_back();  // the path names the object, not the member
      FailAt(at, Path(), "the member " + Quote(key) + " appears more than once in this object");
    }
    i = SkipSpace(i);
    if (i >= text_.size() || text_[i] != ':')
      Syntax(i, "expected ':' after the member name, found " + Describe(i));
    return SkipSpace(i + 1);
  }

  // Answers whether the object on top already has a member named top.key. Small objects
  // compare with each member; larger ones keep an open-addressing table of the members'
  // indices tagged with their hashes (0: an empty slot), at most half full, so that a
  // name costs one probe sequence and string compares happen only on equal hashes.
  static bool KeySeen(Frame& top) {
    const Json::object_t& members = top.value.get_ref<const Json::object_t&>();
    if (members.size() < kLinearKeyCheck) {
      for (const auto& m : members)
        if (m.first == top.key) return true;
      return false;
    }
    auto hash32 = [](const std::string& key) {
      uint64_t h = std::hash<std::string>()(key);
      return static_cast<uint32_t>(h ^ (h >> 32));
    };
    auto insert = [&top](uint32_t h, size_t index) {
      const size_t mask = top.keys.size() - 1;
      size_t slot = h & mask;
      while (top.keys[slot] != 0) slot = (slot + 1) & mask;
      top.keys[slot] = (uint64_t(h) << 32) | (index + 1);
    };
    if ((members.size() + 1) * 2 > top.keys.size()) {
      // Grow, and hash the members again (the first time: all of them).
      std::vector<uint64_t> old;
      old.swap(top.keys);
      top.keys.assign(std::max<size_t>(64, old.size() * 2), 0);
      if (old.empty()) {
        for (size_t i = 0; i < members.size(); ++i) insert(hash32(members.data()[i].first), i);
      } else {
        for (uint64_t e : old)
          if (e != 0)
            insert(static_cast<uint32_t>(e >> 32), static_cast<size_t>((e & 0xFFFFFFFFu) - 1));
      }
    }
    const uint32_t h = hash32(top.key);
    const size_t mask = top.keys.size() - 1;
    for (size_t slot = h & mask; top.keys[slot] != 0; slot = (slot + 1) & mask) {
      const uint64_t e = top.keys[slot];
      if (static_cast<uint32_t>(e >> 32) == h &&
          members.data()[(e & 0xFFFFFFFFu) - 1].first == top.key)
        return true;
    }
    // The member is stored next, at index members.size().
    insert(h, members.size());
    return false;
  }

  // Reads the string whose opening quote is at text_[i] into *out; answers the offset
  // just after the closing quote.
  size_t ReadString(size_t i, std::string* out) {
    const size_t n = text_.size();
    ++i;
    for (;;) {
      // Copy the plain run up to the next quote, backslash or byte that needs a look.
      size_t run = i;
      while (run < n) {
        unsigned char c = static_cast<unsigned char>(text_[run]);
        if (c == '"' || c == '\\' || c < 0x20 || c >= 0x80) break;
        ++run;
      }
      out->append(text_, i, run - i);
      i = run;
      if (i >= n) Syntax(i, "unexpected end of the text inside a string");
      unsigned char c = static_cast<unsigned char>(text_[i]);
      if (c == '"') return i + 1;
      if (c < 0x20) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "control character U+%04X inside a string must be escaped",
                      c);
        Syntax(i, buf);
      }
      if (c >= 0x80) {
        size_t len = Utf8Length(reinterpret_cast<const unsigned char*>(text_.data()) + i, n - i);
        if (len == 0) Syntax(i, "ill-formed UTF-8 byte " + Describe(i).substr(5) + " in a string");
        out->append(text_, i, len);
        i += len;
        continue;
      }
      // A backslash.
      if (i + 1 >= n) Syntax(i + 1, "unexpected end of the text inside a string");
      char e = text_[i + 1];
      const char* simple = nullptr;
      switch (e) {
        case '"':
          simple = "\"";
          break;
        case '\\':
          simple = "\\";
          break;
        case '/':
          simple = "/";
          break;
        case 'b':
          simple = "\b";
          break;
        case 'f':
          simple = "\f";
          break;
        case 'n':
          simple = "\n";
          break;
        case 'r':
          simple = "\r";
          break;
        case 't':
          simple = "\t";
          break;
        case 'u':
          break;
        default:
          Syntax(i, "invalid escape \\" + Describe(i + 1) + " in a string");
      }
      if (simple) {
        out->push_back(*simple);
        i += 2;
        continue;
      }
      uint32_t cp = 0;
      if (!ReadHex4(i + 2, &cp)) Syntax(i, "\\u must be followed by four hex digits");
      size_t next = i + 6;
      if (cp >= 0xDC00 && cp <= 0xDFFF)
        Syntax(i, "a low surrogate \\u" + Hex4(cp) + " must follow a high one");
      if (cp >= 0xD800 && cp <= 0xDBFF) {
        uint32_t low = 0;
        if (next + 1 >= n || text_[next] != '\\' || text_[next + 1] != 'u' ||
            !ReadHex4(next + 2, &low) || low < 0xDC00 || low > 0xDFFF)
          Syntax(i, "the high surrogate \\u" + Hex4(cp) + " must be followed by a low one");
        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        next += 6;
      }
      AppendUtf8(cp, out);
      i = next;
    }
  }

  static std::string Hex4(uint32_t v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%04X", v);
    return buf;
  }

  bool ReadHex4(size_t i, uint32_t* value) const {
    if (i + 4 > text_.size()) return false;
    uint32_t v = 0;
    for (size_t k = i; k < i + 4; ++k) {
      int d = HexDigit(text_[k]);
      if (d < 0) return false;
      v = (v << 4) | uint32_t(d);
    }
    *value = v;
    return true;
  }

  // Reads the number at text_[i] into *out; answers the offset just after it.
  size_t ReadNumber(size_t start, Json* out) const {
    const size_t n = text_.size();
    size_t i = start;
    bool negative = false;
    if (text_[i] == '-') {
      negative = true;
      ++i;
    }
    const size_t intBegin = i;
    if (i >= n || !IsDigit(text_[i]))
      Syntax(i, "expected a digit in a number, found " + Describe(i));
    if (text_[i] == '0')
      ++i;
    else
      while (i < n && IsDigit(text_[i])) ++i;
    const size_t intEnd = i;
    bool integral = true;
    if (i < n && text_[i] == '.') {
      integral = false;
      ++i;
      if (i >= n || !IsDigit(text_[i]))
        Syntax(i, "expected a digit after the decimal point, found " + Describe(i));
      while (i < n && IsDigit(text_[i])) ++i;
    }
    if (i < n && (text_[i] == 'e' || text_[i] == 'E')) {
      integral = false;
      ++i;
      if (i < n && (text_[i] == '+' || text_[i] == '-')) ++i;
      if (i >= n || !IsDigit(text_[i]))
        Syntax(i, "expected a digit in the exponent, found " + Describe(i));
      while (i < n && IsDigit(text_[i])) ++i;
    }
    const char* first = text_.data() + start;
    const char* last = text_.data() + i;
    if (integral) {
      if (negative) {
        int64_t v = 0;
        auto r = std::from_chars(first, last, v);
        if (r.ec == std::errc() && r.ptr == last) {
          *out = v;
          return i;
        }
      } else {
        uint64_t v = 0;
        auto r = std::from_chars(first, last, v);
        if (r.ec == std::errc() && r.ptr == last) {
          *out = v;
          return i;
        }
      }
      // Too large for 64 bits: a double, like any other number.
    }
    double d = 0.0;
    auto r = std::from_chars(first, last, d);
    if (r.ec == std::errc::result_out_of_range) {
      if (MagnitudeExponent(intBegin, intEnd, i) > 0) {
        std::string shown(first, std::min<size_t>(i - start, 40));
        if (i - start > 40) shown += "...";
        FailAt(start, std::string(),
               "number overflow: " + shown + " is beyond the range of a double");
      }
      d = negative ? -0.0 : 0.0;  // too small: rounds to zero
    } else if (r.ec != std::errc() || r.ptr != last) {
      Syntax(start, "invalid number");
    }
    *out = d;
    return i;
  }

  // The power of ten of the number's first significant digit, roughly: above 0 for a
  // number that overflows, below 0 for one that underflows.
  long long MagnitudeExponent(size_t intBegin, size_t intEnd, size_t end) const {
    long long e = 0;
    size_t k = intBegin;
    while (k < intEnd && text_[k] == '0') ++k;
    if (k < intEnd) {
      e = static_cast<long long>(intEnd - k) - 1;
    } else if (intEnd < end && text_[intEnd] == '.') {
      size_t f = intEnd + 1;
      while (f < end && text_[f] == '0') ++f;
      e = -static_cast<long long>(f - intEnd);
    }
    size_t x = text_.find_first_of("eE", intBegin);
    if (x != std::string::npos && x < end) {
      bool minus = text_[x + 1] == '-';
      size_t d = x + 1 + (text_[x + 1] == '+' || text_[x + 1] == '-');
      long long exp = 0;
      for (; d < end; ++d) exp = std::min<long long>(exp * 10 + (text_[d] - '0'), 1LL << 40);
      e += minus ? -exp : exp;
    }
    return e;
  }

  const std::string& text_;
  BulkValues* bulk_;  // null: no fast paths
  std::vector<Frame> frames_;
};

}  // namespace

Json ParseJsonText(const std::string& text, BulkValues* bulk) {
  return Parser(text, bulk).Run();
}

}  // namespace tsm
