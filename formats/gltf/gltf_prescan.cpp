#include "formats/gltf/gltf_prescan.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <nlohmann/json.hpp>
#include <vector>

#include "formats/import_util.h"
#include "io/input_file.h"

namespace tsm {
namespace {

using Json = nlohmann::json;

uint32_t LoadU32(std::string_view b, size_t at) {
  return uint32_t(uint8_t(b[at])) | uint32_t(uint8_t(b[at + 1])) << 8 |
         uint32_t(uint8_t(b[at + 2])) << 16 | uint32_t(uint8_t(b[at + 3])) << 24;
}

std::string Text(double v) {
  if (v > -1e15 && v < 1e15 && v == double(static_cast<long long>(v)))
    return std::to_string(static_cast<long long>(v));
  return Json(v).dump();
}

// Members whose values the standard requires to be at least 0.
const char* const kNotNegative[] = {
    "scene",
    "buffers/[]/byteLength",
    "bufferViews/[]/byteOffset",
    "bufferViews/[]/byteLength",
    "bufferViews/[]/byteStride",
    "accessors/[]/byteOffset",
    "accessors/[]/count",
    "accessors/[]/sparse/count",
    "accessors/[]/sparse/indices/byteOffset",
    "accessors/[]/sparse/values/byteOffset",
};

// A SAX reader that keeps where it is: one frame per open array or object.
class Scan {
 public:
  explicit Scan(GltfPrescan& out) : out_(out) {}

  bool null() { return Value(); }
  bool boolean(bool) { return Value(); }
  bool number_integer(Json::number_integer_t v) { return Number(double(v)); }
  bool number_unsigned(Json::number_unsigned_t v) { return Number(double(v)); }
  bool number_float(Json::number_float_t v, const Json::string_t&) { return Number(v); }
  bool string(Json::string_t& s) {
    Value();
    if (frames_.size() == 3 && Signature() == "buffers/[]/uri") uri_ = s;
    return true;
  }
  bool binary(Json::binary_t&) { return Value(); }
  bool start_object(std::size_t) { return Open(false); }
  bool start_array(std::size_t) { return Open(true); }
  bool key(Json::string_t& k) {
    frames_.back().key = k;
    return true;
  }
  bool end_object() {
    if (frames_.size() == 3 && frames_[1].array && frames_[0].key == "buffers") {
      if (!uri_.empty() && uri_.compare(0, 5, "data:") != 0) {
        std::string reference = DecodeUri(uri_);
        uint64_t& most = out_.buffers[reference];
        most = std::max(most, length_);
        out_.bufferIndex.emplace(reference, bufferCount_);
      }
      ++bufferCount_;
      uri_.clear();
      length_ = 0;
    }
    frames_.pop_back();
    return true;
  }
  bool end_array() {
    frames_.pop_back();
    return true;
  }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) {
    return false;  // the library's own parse says what is wrong
  }

 private:
  struct Frame {
    bool array = false;
    std::string key;       // the member being read, in an object
    long long index = -1;  // the element being read, in an array
  };

  bool Value() {
    if (!frames_.empty() && frames_.back().array) ++frames_.back().index;
    return true;
  }

  bool Open(bool array) {
    Value();
    if (frames_.size() >= size_t(kMaxGltfNesting))
      throw ImportError("the JSON nests arrays and objects more than " +
                        std::to_string(kMaxGltfNesting) + " levels deep (at " + Where() + ")");
    frames_.push_back(Frame());
    frames_.back().array = array;
    return true;
  }

  bool Number(double v) {
    Value();
    if (frames_.size() > 5 || (v > 0 && frames_.size() != 3 && frames_.size() != 4)) return true;
    std::string at = Signature();
    if (v < 0)
      for (const char* name : kNotNegative)
        if (at == name) throw ImportError(Where() + " is " + Text(v) + "; it cannot be negative");
    if (at == "cameras/[]/perspective/aspectRatio" && !(v > 0))
      throw ImportError(Where() + " is " + Text(v) + "; an aspect ratio lies above 0");
    if (at == "buffers/[]/byteLength") length_ = uint64_t(v);
    return true;
  }

  // The path of the value being read, array elements as "[]": "bufferViews/[]/byteOffset".
  std::string Signature() const {
    std::string s;
    for (const Frame& f : frames_) {
      if (!s.empty()) s += '/';
      s += f.array ? "[]" : f.key;
    }
    return s;
  }

  // The same with the elements' numbers, for messages: "bufferViews[2].byteOffset".
  std::string Where() const {
    std::string s;
    for (const Frame& f : frames_) {
      if (f.array)
        s += "[" + std::to_string(f.index) + "]";
      else
        s += (s.empty() ? "" : ".") + f.key;
    }
    return s.empty() ? "the top" : s;
  }

  GltfPrescan& out_;
  std::vector<Frame> frames_;
  std::string uri_;
  uint64_t length_ = 0;
  size_t bufferCount_ = 0;  // the buffers seen so far
};

// A walk over the JSON of a GLB that knows where each value lies, for the members the
// shadow changes or must not change: the buffers' "uri" and "byteLength", and the images'
// "bufferView". It follows strict JSON only and answers false for anything else.
class ShadowWalk {
 public:
  ShadowWalk(std::string_view text, GlbShadow* out) : t_(text), out_(out) {}

  bool Run() {
    Space();
    if (!Value(kTop, 0)) return false;
    Space();
    return at_ == t_.size();
  }

  // Where each embedded buffer's byteLength lies in the text, to be written as 1.
  std::vector<std::pair<size_t, size_t>> lengths;

 private:
  enum Kind { kOther, kTop, kBuffers, kBuffer, kImages, kImage };

  bool More() const { return at_ < t_.size(); }
  char Peek() const { return t_[at_]; }

  void Space() {
    while (More() && (Peek() == ' ' || Peek() == '\t' || Peek() == '\n' || Peek() == '\r')) ++at_;
  }

  bool Value(Kind kind, int depth) {
    if (!More() || depth > kMaxGltfNesting) return false;
    char c = Peek();
    if (c == '{') return Object(kind, depth + 1);
    if (c == '[') return Array(kind, depth + 1);
    if (kind != kOther)
      return false;  // buffers, images and each of theirs: as the standard has them
    if (c == '"') return String(nullptr, nullptr);
    if (c == '-' || (c >= '0' && c <= '9')) return Number(nullptr, nullptr);
    for (const char* word : {"true", "false", "null"}) {
      std::string_view w(word);
      if (t_.compare(at_, w.size(), w) == 0) {
        at_ += w.size();
        return true;
      }
    }
    return false;
  }

  // A string at the opening quote; *raw is its text between the quotes, *escaped whether
  // it holds an escape.
  bool String(std::string_view* raw, bool* escaped) {
    size_t begin = ++at_;
    bool any = false;
    while (More() && Peek() != '"') {
      unsigned char c = static_cast<unsigned char>(Peek());
      if (c < 0x20) return false;
      if (c == '\\') {
        any = true;
        if (++at_ >= t_.size()) return false;
        char e = Peek();
        if (e == 'u') {
          for (int i = 0; i < 4; ++i)
            if (++at_ >= t_.size() || !std::isxdigit(static_cast<unsigned char>(Peek())))
              return false;
        } else if (std::strchr("\"\\/bfnrt", e) == nullptr || e == '\0') {
          return false;
        }
      }
      ++at_;
    }
    if (!More()) return false;
    if (raw != nullptr) *raw = t_.substr(begin, at_ - begin);
    if (escaped != nullptr) *escaped = any;
    ++at_;
    return true;
  }

  // A number; *digitsOnly whether it is a plain unsigned integer, *value its value then.
  bool Number(bool* digitsOnly, uint64_t* value) {
    size_t begin = at_;
    auto digits = [&] {
      size_t from = at_;
      while (More() && Peek() >= '0' && Peek() <= '9') ++at_;
      return at_ - from;
    };
    if (Peek() == '-') ++at_;
    size_t whole = at_;
    size_t n = digits();
    if (n == 0 || (n > 1 && t_[whole] == '0')) return false;
    bool plain = t_[begin] != '-';
    if (More() && Peek() == '.') {
      ++at_;
      if (digits() == 0) return false;
      plain = false;
    }
    if (More() && (Peek() == 'e' || Peek() == 'E')) {
      ++at_;
      if (More() && (Peek() == '+' || Peek() == '-')) ++at_;
      if (digits() == 0) return false;
      plain = false;
    }
    if (digitsOnly != nullptr) *digitsOnly = plain && at_ - begin <= 15;
    if (value != nullptr) {
      *value = 0;
      for (size_t i = begin; plain && i < at_; ++i) *value = *value * 10 + uint64_t(t_[i] - '0');
    }
    return true;
  }

  bool Object(Kind kind, int depth) {
    ++at_;
    Space();
    bool hasUri = false, hasLength = false;
    uint64_t length = 0;
    size_t lengthAt = 0, lengthEnd = 0;
    std::vector<std::string_view> keys;  // the members that matter, to refuse repeats
    if (More() && Peek() == '}') {
      ++at_;
    } else {
      for (;;) {
        Space();
        if (!More() || Peek() != '"') return false;
        std::string_view key;
        bool escaped = false;
        if (!String(&key, &escaped)) return false;
        Space();
        if (!More() || Peek() != ':') return false;
        ++at_;
        Space();
        if (!More()) return false;
        Kind child = kOther;
        if (kind == kTop || kind == kBuffer || kind == kImage) {
          if (escaped) return false;  // a key that might be one of those below, escaped
          if (std::find(keys.begin(), keys.end(), key) != keys.end()) return false;
          keys.push_back(key);
        }
        if (kind == kTop && key == "buffers") child = kBuffers;
        if (kind == kTop && key == "images") child = kImages;
        if (kind == kImage && key == "bufferView") return false;  // the library reads it
        if (kind == kBuffer && key == "uri") hasUri = true;
        if (kind == kBuffer && key == "byteLength") {
          bool plain = false;
          lengthAt = at_;
          if (Peek() == '"' || !(Peek() == '-' || (Peek() >= '0' && Peek() <= '9')) ||
              !Number(&plain, &length) || !plain)
            return false;
          lengthEnd = at_;
          hasLength = true;
        } else if (!Value(child, depth)) {
          return false;
        }
        Step step = AfterItem('}');
        if (step == Step::kBad) return false;
        if (step == Step::kEnd) break;
      }
    }
    if (kind == kBuffer) {
      if (!hasUri) {
        if (!hasLength || length < 1 || length > out_->binarySize) return false;
        out_->embedded[bufferIndex_] = length;
        lengths.emplace_back(lengthAt, lengthEnd);
      }
      ++bufferIndex_;
    }
    return true;
  }

  bool Array(Kind kind, int depth) {
    ++at_;
    Space();
    if (More() && Peek() == ']') {
      ++at_;
      return true;
    }
    Kind child = kind == kBuffers ? kBuffer : kind == kImages ? kImage : kOther;
    for (;;) {
      Space();
      if (!More()) return false;
      if (child != kOther && Peek() != '{') return false;
      if (!Value(child, depth)) return false;
      Step step = AfterItem(']');
      if (step != Step::kMore) return step == Step::kEnd;
    }
  }

  // After a member or element: a comma (another follows), the container's close (it
  // ends; both are passed over) or anything else (the text is refused).
  enum class Step { kMore, kEnd, kBad };
  Step AfterItem(char close) {
    Space();
    if (!More()) return Step::kBad;
    char c = Peek();
    if (c != ',' && c != close) return Step::kBad;
    ++at_;
    return c == ',' ? Step::kMore : Step::kEnd;
  }

  std::string_view t_;
  GlbShadow* out_;
  size_t at_ = 0;
  size_t bufferIndex_ = 0;
};

void PutU32(std::string& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(char((v >> (8 * i)) & 0xFF));
}

}  // namespace

bool MakeGlbShadow(std::string_view bytes, GlbShadow* out) {
  *out = GlbShadow();
  constexpr uint32_t kJson = 0x4E4F534Au, kBin = 0x004E4942u;
  if (bytes.size() < 20 || bytes.compare(0, 4, "glTF") != 0 || LoadU32(bytes, 4) != 2) return false;
  uint64_t length = LoadU32(bytes, 8), jsonLength = LoadU32(bytes, 12);
  uint64_t jsonEnd = 20 + jsonLength;  // where the binary chunk's header begins
  if (LoadU32(bytes, 16) != kJson || jsonLength < 1 || jsonEnd % 4 != 0 || length > bytes.size() ||
      jsonEnd + 8 > length)
    return false;
  uint64_t binLength = LoadU32(bytes, size_t(jsonEnd));
  if (LoadU32(bytes, size_t(jsonEnd + 4)) != kBin || binLength < 4 || binLength % 4 != 0 ||
      jsonEnd + 8 + binLength > length)
    return false;
  out->binary = reinterpret_cast<const unsigned char*>(bytes.data()) + jsonEnd + 8;
  out->binarySize = size_t(binLength);
  std::string_view json = bytes.substr(20, size_t(jsonLength));
  ShadowWalk walk(json, out);
  if (!walk.Run() || out->embedded.empty()) {
    *out = GlbShadow();
    return false;
  }
  std::string& b = out->bytes;
  b.reserve(size_t(jsonEnd) + 12);
  b.append(bytes.data(), 8);  // magic and version
  PutU32(b, uint32_t(jsonEnd + 12));
  b.append(bytes.data() + 12, 8);  // the JSON chunk's header
  size_t textAt = b.size();
  b.append(json.data(), json.size());
  for (const auto& span : walk.lengths) {
    b[textAt + span.first] = '1';
    std::fill(b.begin() + long(textAt + span.first + 1), b.begin() + long(textAt + span.second),
              ' ');
  }
  PutU32(b, 4);
  PutU32(b, kBin);
  PutU32(b, 0);
  return true;
}

GltfPrescan PrescanGltf(std::string_view bytes) {
  GltfPrescan out;
  out.jsonSize = bytes.size();
  if (bytes.size() >= 4 && bytes.compare(0, 4, "glTF") == 0) {
    out.binary = true;
    if (bytes.size() < 20) return out;  // too short: the library says so
    uint32_t version = LoadU32(bytes, 4);
    if (version != 2)
      throw ImportError("a binary glTF of version " + std::to_string(version) +
                        "; only version 2 is read");
    uint64_t length = LoadU32(bytes, 12);
    if (LoadU32(bytes, 16) != 0x4E4F534Au || length > bytes.size() - 20) return out;
    out.jsonBegin = 20;
    out.jsonSize = size_t(length);
  }
  Scan scan(out);
  const char* begin = bytes.data() + out.jsonBegin;
  Json::sax_parse(begin, begin + out.jsonSize, &scan);
  return out;
}

}  // namespace tsm
