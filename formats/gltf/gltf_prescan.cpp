#include "formats/gltf/gltf_prescan.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstring>
#include <vector>

#include "formats/import_util.h"
#include "io/input_file.h"

namespace tsm {
namespace {

using Json = nlohmann::json;

uint32_t LoadU32(const std::string& b, size_t at) {
  return uint32_t(uint8_t(b[at])) | uint32_t(uint8_t(b[at + 1])) << 8 |
         uint32_t(uint8_t(b[at + 2])) << 16 | uint32_t(uint8_t(b[at + 3])) << 24;
}

std::string Text(double v) {
  if (v > -1e15 && v < 1e15 && v == double(static_cast<long long>(v))) return std::to_string(static_cast<long long>(v));
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
        uint64_t& most = out_.buffers[DecodeUri(uri_)];
        most = std::max(most, length_);
      }
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
    std::string key;  // the member being read, in an object
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
        if (at == name)
          throw ImportError(Where() + " is " + Text(v) + "; it cannot be negative");
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
};

}  // namespace

GltfPrescan PrescanGltf(const std::string& bytes) {
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
