#include "formats/json/json_read.h"

#include <algorithm>
#include <cctype>
#include <cfloat>
#include <cmath>
#include <cstdio>

#include "formats/json/json_text.h"

namespace tsm {
namespace {

std::string FormatNumber(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.9g", v);
  return buf;
}

// What a value outside lo..hi must be: the violated side alone when a bound is merely the
// limit of the storage type, else the whole range.
std::string RangeText(bool below, int64_t lo, int64_t hi) {
  bool wide = lo <= INT32_MIN || hi >= INT32_MAX;
  if (!wide) return "between " + std::to_string(lo) + " and " + std::to_string(hi);
  return below ? "at least " + std::to_string(lo) : "at most " + std::to_string(hi);
}

std::string Lower(const std::string& s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// Edit distance of two short texts, ignoring letter case.
size_t Distance(const std::string& a0, const std::string& b0) {
  std::string a = Lower(a0), b = Lower(b0);
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      size_t up = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = up;
    }
  }
  return row[b.size()];
}

// The allowed member a misspelt one most likely meant, or empty.
std::string Suggest(const std::string& key, const std::vector<std::string>& allowed) {
  if (key.size() > 64) return std::string();
  std::string best;
  size_t bestDistance = 3;
  for (const std::string& a : allowed) {
    size_t d = Distance(key, a);
    if (d < bestDistance) {
      bestDistance = d;
      best = a;
    }
  }
  return best;
}

}  // namespace

void Fail(const std::string& path, const std::string& message) {
  throw LoadError{path, message, LoadError::kNoOffset};
}

void FailAt(size_t offset, const std::string& path, const std::string& message) {
  throw LoadError{path, message, offset};
}

std::string ChildPath(const std::string& path, const std::string& key) {
  return path + "/" + EscapePointerToken(key);
}

std::string ChildPath(const std::string& path, size_t index) {
  return path + "/" + std::to_string(index);
}

std::string Quote(const std::string& text) {
  std::string out = "\"";
  size_t n = std::min<size_t>(text.size(), 60);
  for (size_t i = 0; i < n;) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back(static_cast<char>(c));
      ++i;
    } else {
      i += AppendMessageCharacter(text, i, &out);
    }
  }
  if (text.size() > n) out += "...";
  return out + "\"";
}

std::string CycleText(const std::vector<std::string>& names) {
  constexpr size_t kShown = 4;
  std::string text;
  for (size_t i = 0; i < names.size() && i < kShown; ++i) text += Quote(names[i]) + " -> ";
  if (names.size() > kShown) text += "... -> ";
  if (!names.empty()) text += Quote(names[0]);
  if (names.size() > kShown) text += " (" + std::to_string(names.size()) + " in the cycle)";
  return text;
}

void ReleaseJson(Json& value) noexcept {
  if (value.is_array()) {
    Json::array_t& items = value.get_ref<Json::array_t&>();
    for (Json& item : items) ReleaseJson(item);
    items.clear();  // each item is now a leaf or an empty container
  } else if (value.is_object()) {
    Json::object_t& members = value.get_ref<Json::object_t&>();
    for (auto& member : members) ReleaseJson(member.second);
    members.clear();
  }
}

std::string KindOf(const Json& value) {
  switch (value.type()) {
    case Json::value_t::null:
      return "null";
    case Json::value_t::boolean:
      return "a boolean";
    case Json::value_t::string:
      return "a string";
    case Json::value_t::array:
      return "an array";
    case Json::value_t::object:
      return "an object";
    case Json::value_t::number_integer:
    case Json::value_t::number_unsigned:
      return "an integer";
    case Json::value_t::number_float:
      return "a number";
    default:
      return "an unexpected value";
  }
}

double ReadNumber(const Json& value, const std::string& path) {
  if (!value.is_number()) Fail(path, "expected a number, found " + KindOf(value));
  double v = value.get<double>();
  if (!std::isfinite(v)) Fail(path, "expected a finite number");
  return v;
}

float ReadFloat(const Json& value, const std::string& path) {
  double v = ReadNumber(value, path);
  if (std::fabs(v) > FLT_MAX)
    Fail(path, FormatNumber(v) + " is out of range for a single-precision number");
  return static_cast<float>(v);
}

float ReadFloatIn(const Json& value, const std::string& path, double lo, double hi) {
  float v = ReadFloat(value, path);
  if (v < lo || v > hi) {
    std::string range = hi >= FLT_MAX ? "at least " + FormatNumber(lo)
                        : lo <= -FLT_MAX
                            ? "at most " + FormatNumber(hi)
                            : "between " + FormatNumber(lo) + " and " + FormatNumber(hi);
    Fail(path, FormatNumber(v) + " is out of range: it must be " + range);
  }
  return v;
}

int64_t ReadInteger(const Json& value, const std::string& path, int64_t lo, int64_t hi) {
  if (value.is_number_float()) {
    Fail(path, "expected an integer, found " + FormatNumber(value.get<double>()));
  }
  if (!value.is_number_integer()) Fail(path, "expected an integer, found " + KindOf(value));
  if (value.is_number_unsigned()) {
    uint64_t u = value.get<uint64_t>();
    if (u > static_cast<uint64_t>(hi) || (lo > 0 && u < static_cast<uint64_t>(lo)))
      Fail(path, std::to_string(u) + " is out of range: it must be " +
                     RangeText(u < static_cast<uint64_t>(hi), lo, hi));
    return static_cast<int64_t>(u);
  }
  int64_t v = value.get<int64_t>();
  if (v < lo || v > hi)
    Fail(path, std::to_string(v) + " is out of range: it must be " + RangeText(v < lo, lo, hi));
  return v;
}

bool ReadBool(const Json& value, const std::string& path) {
  if (!value.is_boolean()) Fail(path, "expected true or false, found " + KindOf(value));
  return value.get<bool>();
}

std::string ReadString(const Json& value, const std::string& path) {
  if (!value.is_string()) Fail(path, "expected a string, found " + KindOf(value));
  return value.get<std::string>();
}

std::string ReadText(const Json& value, const std::string& path) {
  std::string s = ReadString(value, path);
  if (s.find('\0') != std::string::npos) Fail(path, "the text may not contain a NUL character");
  return s;
}

Point3 ReadPoint3(const Json& value, const std::string& path) {
  if (!value.is_array() || value.size() != 3)
    Fail(path,
         "expected [x, y, z], three numbers, found " +
             (value.is_array() ? "an array of " + std::to_string(value.size()) : KindOf(value)));
  return Point3(ReadFloat(value[0], ChildPath(path, size_t(0))),
                ReadFloat(value[1], ChildPath(path, size_t(1))),
                ReadFloat(value[2], ChildPath(path, size_t(2))));
}

Class_ID ReadClassId(const Json& value, const std::string& path) {
  if (!value.is_array() || value.size() != 2)
    Fail(path,
         "expected a class identity [a, b], two integers, found " +
             (value.is_array() ? "an array of " + std::to_string(value.size()) : KindOf(value)));
  uint32_t words[2];
  for (size_t i = 0; i < 2; ++i) {
    std::string at = ChildPath(path, i);
    const Json& w = value[i];
    if (w.is_string()) {
      const std::string& s = w.get_ref<const std::string&>();
      bool hex = s.size() > 2 && s.size() <= 10 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X') &&
                 std::all_of(s.begin() + 2, s.end(),
                             [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
      if (!hex) Fail(at, "expected an integer or a hex text like \"0x1A2B\", found " + Quote(s));
      words[i] = static_cast<uint32_t>(std::stoul(s.substr(2), nullptr, 16));
    } else {
      words[i] = static_cast<uint32_t>(ReadInteger(w, at, 0, 0xFFFFFFFFLL));
    }
  }
  return Class_ID(words[0], words[1]);
}

const Json& ReadArray(const Json& value, const std::string& path) {
  if (!value.is_array()) Fail(path, "expected an array, found " + KindOf(value));
  return value;
}

std::string ReadType(const Json& value, const std::string& path, const std::string& def,
                     const std::vector<std::string>& types) {
  if (!value.is_object()) Fail(path, "expected an object, found " + KindOf(value));
  auto it = value.find("type");
  if (it == value.end()) {
    if (def.empty()) Fail(ChildPath(path, "type"), "missing: the definition needs a type");
    return def;
  }
  std::string type = ReadString(*it, ChildPath(path, "type"));
  if (std::find(types.begin(), types.end(), type) != types.end()) return type;
  std::string list;
  for (const std::string& t : types) list += (list.empty() ? "" : ", ") + Quote(t);
  Fail(ChildPath(path, "type"), "unknown type " + Quote(type) + "; expected one of " + list);
}

Members::Members(const Json& value, std::string path, const std::vector<std::string>& allowed)
    : value_(value), path_(std::move(path)) {
  if (!value.is_object()) Fail(path_, "expected an object, found " + KindOf(value));
  for (auto it = value.begin(); it != value.end(); ++it) {
    const std::string& key = it.key();
    if (key == "comment") {
      ReadString(it.value(), At(key));
      continue;
    }
    if (std::find(allowed.begin(), allowed.end(), key) != allowed.end()) continue;
    std::string guess = Suggest(key, allowed);
    Fail(At(key), "unknown field" +
                      (guess.empty() ? std::string() : "; did you mean " + Quote(guess) + "?"));
  }
}

const Json* Members::Find(const std::string& key) const {
  auto it = value_.find(key);
  return it == value_.end() ? nullptr : &*it;
}

const Json& Members::Need(const std::string& key, const std::string& why) const {
  const Json* v = Find(key);
  if (v == nullptr) Fail(At(key), "missing: " + why);
  return *v;
}

float Members::Float(const std::string& key, float def) const {
  const Json* v = Find(key);
  return v ? ReadFloat(*v, At(key)) : def;
}

float Members::FloatIn(const std::string& key, float def, double lo, double hi) const {
  const Json* v = Find(key);
  return v ? ReadFloatIn(*v, At(key), lo, hi) : def;
}

int64_t Members::Integer(const std::string& key, int64_t def, int64_t lo, int64_t hi) const {
  const Json* v = Find(key);
  return v ? ReadInteger(*v, At(key), lo, hi) : def;
}

bool Members::Bool(const std::string& key, bool def) const {
  const Json* v = Find(key);
  return v ? ReadBool(*v, At(key)) : def;
}

std::string Members::Text(const std::string& key, const std::string& def) const {
  const Json* v = Find(key);
  return v ? ReadText(*v, At(key)) : def;
}

Point3 Members::Vec(const std::string& key, const Point3& def) const {
  const Json* v = Find(key);
  return v ? ReadPoint3(*v, At(key)) : def;
}

}  // namespace tsm
