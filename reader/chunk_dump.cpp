#include "reader/chunk_dump.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <nlohmann/json.hpp>

#include "reader/chunk_values.h"
#include "writer/chunk_ids.h"

namespace tsm {

namespace {

using Json = nlohmann::ordered_json;

// Payloads up to this size without a known layout show their bytes: in the text line
// (kept short) and in JSON.
constexpr size_t kTextHexBytes = 16;
constexpr size_t kJsonHexBytes = 64;
// Texts longer than this are cut in the text line (never in JSON).
constexpr size_t kTextShown = 64;
// Spline parameter bits of a track key; any other bit is damage.
constexpr uint16_t kSplineBits = 0x001F;
// The most bytes one track key takes: frame, flags, five parameters, four value floats.
constexpr size_t kMaxTrackKeyBytes = 4 + 2 + 5 * 4 + 4 * 4;

std::string Latin1ToUtf8(const std::string& s) {
  std::string out;
  out.reserve(s.size());
  for (unsigned char b : s) {
    if (b < 0x80) {
      out += static_cast<char>(b);
    } else {
      out += static_cast<char>(0xC0 | (b >> 6));
      out += static_cast<char>(0x80 | (b & 0x3F));
    }
  }
  return out;
}

// A text as it appears in the text line: quoted, non-printable bytes as \xNN, cut after
// kTextShown characters.
std::string QuoteText(const std::string& s) {
  std::string out = "\"";
  size_t shown = 0;
  for (unsigned char b : s) {
    if (shown == kTextShown) {
      out += "...";
      break;
    }
    if (b == '"' || b == '\\') {
      out += '\\';
      out += static_cast<char>(b);
    } else if (b < 0x20 || b >= 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", b);
      out += buf;
    } else {
      out += static_cast<char>(b);
    }
    ++shown;
  }
  return out + "\"";
}

// The shortest decimal that reads back as the same float: 0.001f shows as 0.001, not as
// the digits of the nearest double.
std::string FloatText(float f) {
  char buf[32];
  for (int precision = 6; precision <= 9; ++precision) {
    std::snprintf(buf, sizeof buf, "%.*g", precision, static_cast<double>(f));
    if (std::strtof(buf, nullptr) == f) break;
  }
  return buf;
}

// JSON has no NaN or infinity; those become strings. Finite values go through their
// shortest decimal so that the JSON shows the float's digits.
Json FloatJson(float f) {
  if (std::isnan(f)) return "nan";
  if (std::isinf(f)) return f > 0 ? "inf" : "-inf";
  return std::strtod(FloatText(f).c_str(), nullptr);
}

std::string HexBytes(const uint8_t* p, size_t n) {
  std::string out;
  char buf[4];
  for (size_t i = 0; i < n; ++i) {
    std::snprintf(buf, sizeof buf, "%02X", p[i]);
    out += buf;
  }
  return out;
}

std::string Hex16Text(uint16_t v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "0x%04X", v);
  return buf;
}

// Reads a payload field by field and records each field twice: as "key=value" for the
// text line and as a member of a JSON object. The first read that finds too few bytes
// marks the decoder failed; every later read then does nothing and answers 0.
class Decoder {
 public:
  // A quiet decoder checks the payload without recording any field: what the check of a
  // file needs, without the texts.
  Decoder(const uint8_t* p, size_t n, bool quiet = false) : p_(p), n_(n), quiet_(quiet) {}

  bool Quiet() const { return quiet_; }
  bool Failed() const { return failed_; }
  bool Raw() const { return raw_; }
  size_t Size() const { return n_; }
  size_t Left() const { return n_ - pos_; }
  const std::string& Line() const { return line_; }
  const std::string& Problem() const { return problem_; }
  const Json& Fields() const { return fields_; }

  void Fail(const std::string& problem) {
    if (failed_) return;
    failed_ = true;
    problem_ = problem;
  }

  // Raw readers: no field recorded; what names the value in a failure message.
  const uint8_t* Take(size_t k, const char* what) {
    if (failed_) return nullptr;
    if (k > Left()) {
      Fail("payload of " + std::to_string(n_) + " bytes ends inside " + what + " at byte " +
           std::to_string(pos_));
      return nullptr;
    }
    const uint8_t* at = p_ + pos_;
    pos_ += k;
    return at;
  }
  uint16_t RawU16(const char* what) {
    const uint8_t* b = Take(2, what);
    return b ? static_cast<uint16_t>(b[0] | (b[1] << 8)) : 0;
  }
  uint32_t RawU32(const char* what) {
    const uint8_t* b = Take(4, what);
    return b ? uint32_t(b[0]) | (uint32_t(b[1]) << 8) | (uint32_t(b[2]) << 16) |
                   (uint32_t(b[3]) << 24)
             : 0;
  }
  float RawF32(const char* what) {
    uint32_t bits = RawU32(what);
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
  }
  // Skips count elements of size bytes each, without overflow for any count.
  bool Skip(uint64_t count, size_t size, const char* what) {
    if (failed_) return false;
    if (size != 0 && count > Left() / size) {
      Fail(std::to_string(count) + " " + what + " need " + std::to_string(count * size) +
           " bytes, " + std::to_string(Left()) + " are left");
      return false;
    }
    pos_ += static_cast<size_t>(count * size);
    return true;
  }

  // Field readers.
  void Add(const char* key, const std::string& text, Json value) {
    if (quiet_) return;
    AddText(key, text);
    fields_[key] = std::move(value);
  }
  // Adds a field whose key no earlier field has (the keys of a track's keys, numbered):
  // appended without looking for the key among the fields before, which would make a
  // track's decoding quadratic in its keys.
  void AddNew(const std::string& key, const std::string& text, Json value) {
    if (quiet_) return;
    AddText(key.c_str(), text);
    static_cast<Json::object_t::Container&>(fields_.get_ref<Json::object_t&>())
        .emplace_back(key, std::move(value));
  }
  uint16_t U16(const char* key) {
    uint16_t v = RawU16(key);
    if (!failed_ && !quiet_) Add(key, std::to_string(v), v);
    return v;
  }
  uint16_t Hex16(const char* key) {
    uint16_t v = RawU16(key);
    if (!failed_ && !quiet_) Add(key, Hex16Text(v), v);
    return v;
  }
  uint32_t U32(const char* key) {
    uint32_t v = RawU32(key);
    if (!failed_ && !quiet_) Add(key, std::to_string(v), v);
    return v;
  }
  int32_t I32(const char* key) {
    int32_t v = static_cast<int32_t>(RawU32(key));
    if (!failed_ && !quiet_) Add(key, std::to_string(v), v);
    return v;
  }
  float F32(const char* key) {
    float v = RawF32(key);
    if (!failed_ && !quiet_) Add(key, FloatText(v), FloatJson(v));
    return v;
  }
  void Floats(const char* key, int count) {
    float v[12];
    for (int i = 0; i < count; ++i) v[i] = RawF32(key);
    if (failed_ || quiet_) return;
    AddFloats(key, v, count, 0);
  }
  // count floats as one field; rowSize > 0 separates rows with " | " in the text.
  void AddFloats(const char* key, const float* v, int count, int rowSize) {
    if (quiet_) return;
    std::string text = "(";
    Json arr = Json::array();
    for (int i = 0; i < count; ++i) {
      if (i > 0) text += (rowSize > 0 && i % rowSize == 0) ? " | " : ", ";
      text += FloatText(v[i]);
      arr.push_back(FloatJson(v[i]));
    }
    Add(key, text + ")", std::move(arr));
  }
  void Rgb(const char* key) {
    const uint8_t* b = Take(3, key);
    if (!b || quiet_) return;
    Add(key,
        "(" + std::to_string(b[0]) + ", " + std::to_string(b[1]) + ", " + std::to_string(b[2]) +
            ")",
        Json::array({b[0], b[1], b[2]}));
  }
  std::string Text(const char* key) {
    if (failed_) return std::string();
    const void* nul = std::memchr(p_ + pos_, 0, Left());
    if (nul == nullptr) {
      Fail(std::string(key) + " text at byte " + std::to_string(pos_) + " has no terminating NUL");
      return std::string();
    }
    size_t len = static_cast<size_t>(static_cast<const uint8_t*>(nul) - (p_ + pos_));
    std::string s(reinterpret_cast<const char*>(p_ + pos_), len);
    pos_ += len + 1;
    if (!quiet_) Add(key, QuoteText(s), Latin1ToUtf8(s));
    return s;
  }
  // Bytes without a layout: their count, and their hex when few.
  void RawBytes() {
    raw_ = true;
    if (quiet_) {
      pos_ = n_;
      return;
    }
    std::string text = std::to_string(Left());
    if (Left() <= kTextHexBytes && Left() > 0) text += " hex=" + HexBytes(p_ + pos_, Left());
    if (!line_.empty()) line_ += ' ';
    line_ += "bytes=" + text;
    pos_ = n_;
  }

 private:
  void AddText(const char* key, const std::string& text) {
    if (!line_.empty()) line_ += ' ';
    line_ += key;
    line_ += '=';
    line_ += text;
  }

  const uint8_t* p_;
  size_t n_;
  bool quiet_;
  size_t pos_ = 0;
  bool failed_ = false;
  bool raw_ = false;
  std::string line_;
  std::string problem_;
  Json fields_ = Json::object();
};

// Number of floats in the value of one key of a track chunk.
int TrackValueFloats(uint16_t id) {
  switch (id) {
    case ROTATION_TRACK:
      return 4;  // angle, axis x, y, z
    case POSITION_TRACK:
    case SCALE_TRACK:
    case COLOR_TRACK:
      return 3;
    default:
      return 1;  // FOV, roll, hotspot, falloff
  }
}

void DecodeTrack(uint16_t id, Decoder& d) {
  d.Hex16("flags");
  d.I32("first");
  d.I32("last");
  const uint32_t keys = d.U32("keys");
  const int valueFloats = TrackValueFloats(id);
  for (uint32_t i = 0; i < keys && !d.Failed(); ++i) {
    // What names the key in a failure, made only where the payload may end inside it.
    std::string whatText;
    const char* what = "key";
    if (d.Left() < kMaxTrackKeyBytes) {
      whatText = "key " + std::to_string(i);
      what = whatText.c_str();
    }
    const int32_t frame = static_cast<int32_t>(d.RawU32(what));
    const uint16_t spline = d.RawU16(what);
    if (d.Failed()) return;
    if (spline & ~kSplineBits) {
      d.Fail("key " + std::to_string(i) + " has unknown spline flag bits " + Hex16Text(spline));
      return;
    }
    float params[5];
    int paramCount = 0;
    for (uint16_t bit = 1; bit <= 0x10; bit <<= 1) {
      if (spline & bit) params[paramCount++] = d.RawF32(what);
    }
    float value[4];
    for (int k = 0; k < valueFloats; ++k) value[k] = d.RawF32(what);
    if (d.Failed()) return;
    if (d.Quiet()) continue;
    if (keys == 1) {
      // A single key is worth showing in full: it is the static value of the track.
      d.Add("frame", std::to_string(frame), frame);
      if (spline != 0) {
        d.Add("spline", Hex16Text(spline), spline);
        d.AddFloats("params", params, paramCount, 0);
      }
      if (valueFloats == 1) {
        d.Add("value", FloatText(value[0]), FloatJson(value[0]));
      } else {
        d.AddFloats("value", value, valueFloats, 0);
      }
      continue;
    }
    // Every key of a longer track: key<i>=[frame spline (params) value].
    std::string text = "[" + std::to_string(frame);
    Json key = Json::object();
    key["frame"] = frame;
    if (spline != 0) {
      text += " " + Hex16Text(spline) + " (";
      key["spline"] = spline;
      Json ps = Json::array();
      for (int k = 0; k < paramCount; ++k) {
        text += (k > 0 ? ", " : "") + FloatText(params[k]);
        ps.push_back(FloatJson(params[k]));
      }
      text += ")";
      key["params"] = std::move(ps);
    }
    Json vs = Json::array();
    text += valueFloats == 1 ? " " : " (";
    for (int k = 0; k < valueFloats; ++k) {
      text += (k > 0 ? ", " : "") + FloatText(value[k]);
      vs.push_back(FloatJson(value[k]));
    }
    text += valueFloats == 1 ? "]" : ")]";
    key["value"] = valueFloats == 1 ? vs[0] : vs;
    d.AddNew("key" + std::to_string(i), text, std::move(key));
  }
}

// Chunks that a writer leaves without payload after a soft error.
bool EmptyAllowed(uint16_t id) {
  return id == MESH_VERTEX_COLORS || id == FACE_MATERIAL || id == NODE_HEADER;
}

void DecodeInto(uint16_t id, Decoder& d) {
  switch (id) {
    case FILE_VERSION:
    case MESH_VERSION:
      d.U32("version");
      return;
    case MASTER_SCALE:
      d.F32("scale");
      return;
    case NAMED_OBJECT:
      d.Text("name");
      return;
    case OBJECT_PROPERTIES:
      d.Text("properties");
      d.I32("lockGroup");
      d.I32("axis");
      return;
    case MESH_VERTICES:
      d.Skip(d.U16("vertices"), 12, "vertices");
      return;
    case MESH_VERTEX_COLORS:
      d.Skip(d.U16("colors"), 12, "colors");
      return;
    case MESH_MATRIX: {
      float m[12];
      for (float& f : m) f = d.RawF32("the matrix");
      if (!d.Failed()) d.AddFloats("matrix", m, 12, 3);
      return;
    }
    case MESH_FACES:
      d.Skip(d.U16("faces"), 32, "face records");
      return;
    case FACE_MATERIAL:
      d.Text("material");
      d.Skip(d.U16("faces"), 2, "face numbers");
      return;
    case FACE_SMOOTHING:
      if (d.Size() % 4 != 0) {
        d.Fail(std::to_string(d.Size()) + " bytes are not a whole number of u32 words");
        return;
      }
      d.Add("words", std::to_string(d.Size() / 4), d.Size() / 4);
      d.Skip(d.Size() / 4, 4, "words");
      return;
    case LIGHT:
      d.Floats("position", 3);
      return;
    case COLOR_FLOAT:
      d.Floats("color", 3);
      return;
    case LIGHT_OUTER_RANGE:
    case LIGHT_INNER_RANGE:
      d.F32("range");
      return;
    case LIGHT_MULTIPLIER:
      d.F32("multiplier");
      return;
    case SPOT_LIGHT:
      d.Floats("target", 3);
      d.F32("hotspot");
      d.F32("falloff");
      return;
    case SPOT_ROLL:
      d.F32("roll");
      return;
    case SPOT_SHADOW_MAP:
      d.F32("bias");
      d.F32("range");
      d.U16("size");
      return;
    case SPOT_ASPECT:
      d.F32("aspect");
      return;
    case SPOT_RAY_BIAS:
      d.F32("bias");
      return;
    case CAMERA:
      d.Floats("position", 3);
      d.Floats("target", 3);
      d.F32("roll");
      d.F32("lens");
      return;
    case CAMERA_RANGES:
      d.F32("near");
      d.F32("far");
      return;
    case SHAPE_POINTS: {
      d.Text("parent");
      int32_t count = d.I32("points");
      if (d.Failed()) return;
      if (count < 0) {
        d.Fail("negative point count " + std::to_string(count));
        return;
      }
      d.Skip(static_cast<uint64_t>(count), 12, "points");
      return;
    }
    case MATERIAL_NAME:
      d.Text("name");
      return;
    case MAP_FILE_NAME:
      d.Text("file");
      return;
    case COLOR_BYTES:
    case COLOR_BYTES_LINEAR:
    case MAP_COLOR_1:
    case MAP_COLOR_2:
    case MAP_RED_TINT:
    case MAP_GREEN_TINT:
    case MAP_BLUE_TINT:
      d.Rgb("rgb");
      return;
    case PERCENTAGE:
      d.U16("percent");
      return;
    case MATERIAL_SHADING:
      d.U16("shading");
      return;
    case MAP_BUMP_AMOUNT:
      d.U16("amount");
      return;
    case MAP_TILING:
      d.Hex16("flags");
      return;
    case MATERIAL_WIRE_SIZE:
      d.F32("size");
      return;
    case MAP_BLUR:
      d.F32("blur");
      return;
    case MAP_U_SCALE:
    case MAP_V_SCALE:
      d.F32("scale");
      return;
    case MAP_U_OFFSET:
    case MAP_V_OFFSET:
      d.F32("offset");
      return;
    case MAP_ROTATION:
      d.F32("degrees");
      return;
    case MAP_AUTO_REFLECTION: {
      const uint8_t* b = d.Take(2, "kind and reserved byte");
      if (!b) return;
      d.Add("kind", std::to_string(b[0]), b[0]);
      d.Add("reserved", std::to_string(b[1]), b[1]);
      d.Hex16("flags");
      d.I32("size");
      d.I32("nthFrame");
      return;
    }
    case KF_HEADER:
      d.U16("revision");
      d.Text("scene");
      d.I32("end");
      return;
    case KF_SEGMENT:
      d.I32("start");
      d.I32("end");
      return;
    case KF_CURRENT_TIME:
      d.I32("ticks");
      return;
    case NODE_ID:
      d.U16("id");
      return;
    case NODE_HEADER: {
      d.Text("name");
      d.Hex16("flags1");
      d.Hex16("flags2");
      uint16_t parent = d.RawU16("parent");
      if (!d.Failed())
        d.Add("parent", parent == NO_PARENT ? "none" : std::to_string(parent), parent);
      return;
    }
    case INSTANCE_NAME:
      d.Text("name");
      return;
    case NODE_PIVOT:
      d.Floats("pivot", 3);
      return;
    case NODE_BOUNDS:
      d.Floats("min", 3);
      d.Floats("max", 3);
      return;
    case POSITION_TRACK:
    case ROTATION_TRACK:
    case SCALE_TRACK:
    case FOV_TRACK:
    case ROLL_TRACK:
    case COLOR_TRACK:
    case HOTSPOT_TRACK:
    case FALLOFF_TRACK:
      DecodeTrack(id, d);
      return;
    // Switches: a bare header.
    case LIGHT_OFF:
    case LIGHT_ATTENUATE:
    case SPOT_SHADOWED:
    case SPOT_SHOW_CONE:
    case SPOT_RECTANGULAR:
    case SPOT_OVERSHOOT:
    case SPOT_RAYTRACE_SHADOWS:
    case MATERIAL_USE_FALLOFF:
    case MATERIAL_USE_REFLECTION_BLUR:
    case MATERIAL_TWO_SIDED:
    case MATERIAL_ADDITIVE:
    case MATERIAL_WIREFRAME:
    case MATERIAL_FACE_MAP:
    case MATERIAL_FALLOFF_IN:
    case MATERIAL_SOFTEN:
    case MATERIAL_WIRE_IN_UNITS:
      return;
    default:
      // Containers without payload decode nothing; anything left over is reported below.
      // Data blocks and ids outside the catalogue are opaque.
      if (LayoutOf(id).kind == BodyKind::kLeaf) d.RawBytes();
      return;
  }
}

// Runs the decoder of id over the payload and checks that it used every byte.
void Decode(uint16_t id, Decoder& d) {
  if (d.Size() == 0 && EmptyAllowed(id)) {
    d.Add("payload", "none", nullptr);
    return;
  }
  DecodeInto(id, d);
  if (!d.Failed() && d.Left() > 0) {
    d.Fail(std::to_string(d.Left()) + " unexpected bytes after the payload's last field");
  }
}

std::string IdText(uint16_t id) {
  return Hex16Text(id);
}

// Writes the line of c and those of its children to sink, one line at a time; answers
// false as soon as the sink refuses one.
bool WriteTextLines(const Chunk& c, const uint8_t* data, int depth, const ChunkTextSink& sink) {
  std::string line(static_cast<size_t>(depth) * 2, ' ');
  const char* name = ChunkName(c.id);
  line += std::to_string(c.offset) + " " + IdText(c.id) + " " + (name ? name : "?") +
          " len=" + std::to_string(c.length);
  Decoder d(data + c.payloadBegin, static_cast<size_t>(c.PayloadSize()));
  Decode(c.id, d);
  if (!d.Line().empty()) line += " " + d.Line();
  if (d.Failed()) line += " (bad payload: " + d.Problem() + ")";
  line += '\n';
  if (!sink(line.data(), line.size())) return false;
  return ForEachChild(
      c, data, [&](const Chunk& child) { return WriteTextLines(child, data, depth + 1, sink); });
}

// The chunk's own members as JSON, without its children.
Json ChunkOwnJson(const Chunk& c, const uint8_t* data) {
  Json j = Json::object();
  j["offset"] = c.offset;
  j["id"] = IdText(c.id);
  const char* name = ChunkName(c.id);
  if (name) {
    j["name"] = name;
  } else {
    j["name"] = nullptr;
  }
  j["length"] = c.length;
  const uint8_t* payload = data + c.payloadBegin;
  const size_t size = static_cast<size_t>(c.PayloadSize());
  Decoder d(payload, size);
  Decode(c.id, d);
  if (d.Failed() || d.Raw()) {
    j["payloadSize"] = size;
    if (size <= kJsonHexBytes) j["hex"] = HexBytes(payload, size);
    if (d.Failed()) j["problem"] = d.Problem();
  } else if (!d.Fields().empty()) {
    j["fields"] = d.Fields();
  }
  return j;
}

// Writes the tree as JSON while walking it: one chunk's own members at a time, so the
// memory used grows with the nesting depth, not with the number of chunks. The text is
// the same as a dump of the whole tree as one JSON value would give.
class JsonTreeWriter {
 public:
  JsonTreeWriter(const uint8_t* data, int indent, const ChunkTextSink& sink)
      : data_(data), indent_(indent), sink_(sink) {}

  // Answers false as soon as the sink refuses a piece.
  bool Write(const Chunk& c, int level) {
    std::string own =
        ChunkOwnJson(c, data_).dump(indent_, ' ', false, Json::error_handler_t::replace);
    const bool pretty = indent_ >= 0;
    const std::string pad =
        pretty ? "\n" + std::string(size_t(level) * size_t(indent_), ' ') : std::string();
    if (pretty && level > 0) {
      // Every line of a nested object moves right by its level.
      std::string shifted;
      shifted.reserve(own.size() + 64);
      for (char ch : own) {
        if (ch == '\n')
          shifted += pad;
        else
          shifted += ch;
      }
      own.swap(shifted);
    }
    if (!IsContainer(c.id)) return Put(own);
    // Open the object again before its closing brace to append the children.
    own.erase(own.size() - (pretty ? pad.size() + 1 : 1));
    const std::string inner =
        pretty ? "\n" + std::string(size_t(level + 1) * size_t(indent_), ' ') : std::string();
    own += pretty ? ",\n" + inner.substr(1) + "\"children\": [" : ",\"children\":[";
    const std::string item =
        pretty ? "\n" + std::string(size_t(level + 2) * size_t(indent_), ' ') : std::string();
    bool first = true;
    const bool done = ForEachChild(c, data_, [&](const tsm::Chunk& child) {
      // The text so far goes out before the first child; an empty list stays on the line.
      if (first) {
        if (!Put(own)) return false;
        own.clear();
      }
      if (!Put((first ? "" : ",") + item)) return false;
      first = false;
      return Write(child, level + 2);
    });
    if (!done) return false;
    if (first) return Put(own + "]" + pad + "}");
    return Put(inner + "]" + pad + "}");
  }

 private:
  bool Put(const std::string& text) { return sink_(text.data(), text.size()); }

  const uint8_t* data_;
  int indent_;
  const ChunkTextSink& sink_;
};

class Checker {
 public:
  Checker(const uint8_t* data, FileCheck* out, bool values)
      : data_(data), out_(out), values_(values) {}

  bool Skeleton(const Chunk& top) {
    if (top.id != MOD_MAIN && top.id != MAIN) {
      return Fail(top.offset, "top chunk " + IdText(top.id) +
                                  " is neither MOD_MAIN (0xBEEF) nor MAIN (0x4D4D)");
    }
    static const uint16_t kOrder[] = {FILE_VERSION, EDITOR_DATA, KEYFRAMER_DATA};
    const char* topName = ChunkName(top.id);
    std::vector<Chunk> children;  // the first four are all it takes
    ForEachChild(top, data_, [&children](const Chunk& child) {
      children.push_back(child);
      return children.size() < 4;
    });
    for (size_t i = 0; i < 3; ++i) {
      if (i >= children.size()) {
        return Fail(top.End(), std::string(topName) + " ends after " + std::to_string(i) +
                                   " children, without " + ChunkName(kOrder[i]));
      }
      const Chunk& c = children[i];
      if (c.id != kOrder[i]) {
        const char* name = ChunkName(c.id);
        return Fail(c.offset, std::string(topName) + " child " + std::to_string(i + 1) + " is " +
                                  IdText(c.id) + " " + (name ? name : "?") + ", expected " +
                                  ChunkName(kOrder[i]));
      }
    }
    if (children.size() > 3) {
      return Fail(children[3].offset,
                  "unexpected chunk " + IdText(children[3].id) + " after KEYFRAMER_DATA");
    }
    return true;
  }

  bool Payloads(const Chunk& c, const Chunk* parent) {
    Decoder d(data_ + c.payloadBegin, static_cast<size_t>(c.PayloadSize()), true);
    Decode(c.id, d);
    if (d.Failed()) return Fail(c.offset, Name(c) + " payload: " + d.Problem());
    size_t at = 0;
    std::string bad = values_ ? ChunkValuesProblem(c.id, data_ + c.payloadBegin,
                                                   static_cast<size_t>(c.PayloadSize()),
                                                   valueState_, &at)
                              : std::string();
    if (!bad.empty()) return Fail(c.payloadBegin + at, Name(c) + ": " + bad);
    if (c.id == FACE_SMOOTHING && parent != nullptr && parent->id == MESH_FACES) {
      // One word per face of the enclosing MESH_FACES, which carries the count.
      const uint8_t* p = data_ + parent->payloadBegin;
      const uint64_t faces = static_cast<uint16_t>(p[0] | (p[1] << 8));
      if (c.PayloadSize() / 4 != faces) {
        return Fail(c.offset, "FACE_SMOOTHING holds " + std::to_string(c.PayloadSize() / 4) +
                                  " words for " + std::to_string(faces) + " faces");
      }
    }
    return ForEachChild(c, data_, [this, &c](const Chunk& child) { return Payloads(child, &c); });
  }

 private:
  static std::string Name(const Chunk& c) {
    const char* name = ChunkName(c.id);
    return "chunk " + IdText(c.id) + (name ? std::string(" ") + name : std::string());
  }

  bool Fail(uint64_t offset, const std::string& what) {
    out_->ok = false;
    out_->errorOffset = offset;
    out_->error = "offset " + std::to_string(offset) + ": " + what;
    return false;
  }

  const uint8_t* data_;
  FileCheck* out_;
  bool values_;
  ChunkValueState valueState_;
};

// Fills out from its parsed tree: the framing error, or the first skeleton or payload
// problem, or ok.
void CheckTree(const uint8_t* data, FileCheck* out, bool values) {
  if (!out->tree.ok) {
    out->error = out->tree.error;
    out->errorOffset = out->tree.errorOffset;
    return;
  }
  Checker checker(data, out, values);
  if (!checker.Skeleton(out->tree.top)) return;
  if (!checker.Payloads(out->tree.top, nullptr)) return;
  out->ok = true;
}

}  // namespace

DecodedPayload DecodePayload(uint16_t id, const uint8_t* payload, size_t size) {
  DecodedPayload result;
  if (payload == nullptr) size = 0;
  static const uint8_t kNone = 0;
  Decoder d(payload ? payload : &kNone, size);
  Decode(id, d);
  result.ok = !d.Failed();
  result.text = d.Line();
  result.problem = d.Problem();
  return result;
}

FileCheck CheckChunkFile(const uint8_t* data, size_t size, bool keepChildren, bool values) {
  FileCheck check;
  check.tree = ReadChunkTree(data, size, keepChildren);
  try {
    CheckTree(data, &check, values);
  } catch (const std::exception&) {
    check.ok = false;
    check.error = "offset 0: out of memory while checking the file";
    check.errorOffset = 0;
  }
  return check;
}

bool WriteChunkTreeText(const Chunk& top, const uint8_t* data, size_t size,
                        const ChunkTextSink& sink) {
  if (data == nullptr || top.End() > size) return true;
  return WriteTextLines(top, data, 0, sink);
}

std::string FormatChunkTreeText(const Chunk& top, const uint8_t* data, size_t size) {
  std::string out;
  try {
    WriteChunkTreeText(top, data, size, [&out](const char* text, size_t n) {
      out.append(text, n);
      return true;
    });
  } catch (const std::exception&) {
    out += "... out of memory\n";
  }
  return out;
}

bool WriteChunkTreeJson(const Chunk& top, const uint8_t* data, size_t size,
                        const ChunkTextSink& sink, int indent) {
  if (data == nullptr || top.End() > size) return sink("null", 4);
  return JsonTreeWriter(data, indent, sink).Write(top, 0);
}

std::string FormatChunkTreeJson(const Chunk& top, const uint8_t* data, size_t size, int indent) {
  std::string out;
  try {
    WriteChunkTreeJson(
        top, data, size,
        [&out](const char* text, size_t n) {
          out.append(text, n);
          return true;
        },
        indent);
    return out;
  } catch (const std::bad_alloc&) {
    // Answer valid JSON all the same.
    return "{\"error\": \"out of memory\"}";
  }
}

}  // namespace tsm
