#include "formats/json/json_bulk.h"

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string_view>
#include <utility>

namespace tsm {
namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Powers of ten that a double holds exactly.
constexpr double kExactPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                   1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                   1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// Reads the JSON grammar at a position; every reader answers false on anything it does
// not take, and the caller then gives up the whole array.
class Cursor {
 public:
  Cursor(const std::string& text, size_t at)
      : begin_(text.data()), p_(text.data() + at), end_(text.data() + text.size()) {}

  size_t Offset() const { return static_cast<size_t>(p_ - begin_); }

  void Space() {
    // Most values follow their ',' or ':' at once or after one space; indented text has
    // runs of spaces, taken eight at a time.
    constexpr uint64_t kEightSpaces = 0x2020202020202020u;
    while (p_ < end_ && static_cast<unsigned char>(*p_) <= ' ') {
      uint64_t eight = 0;
      if (end_ - p_ >= 8 && (std::memcpy(&eight, p_, 8), eight == kEightSpaces)) {
        p_ += 8;
        continue;
      }
      if (*p_ != ' ' && *p_ != '\n' && *p_ != '\r' && *p_ != '\t') return;
      ++p_;
    }
  }
  // The next byte after whitespace, or NUL at the end.
  char Peek() {
    Space();
    return p_ < end_ ? *p_ : '\0';
  }
  bool Eat(char c) {
    if (Peek() != c) return false;
    ++p_;
    return true;
  }

  // A number, with the value the general parser and ReadNumber give it: an integer
  // converted from its 64-bit form (so "-0" is +0), anything else correctly rounded.
  bool Number(double* value) {
    Space();
    const char* s = p_;
    const char* q = p_;
    bool negative = false;
    if (q < end_ && *q == '-') {
      negative = true;
      ++q;
    }
    if (q >= end_ || !IsDigit(*q)) return false;
    uint64_t mantissa = 0;
    int digits = 0;  // digits in mantissa
    if (*q == '0') {
      ++q;
    } else {
      for (; q < end_ && IsDigit(*q); ++q, ++digits) mantissa = mantissa * 10 + unsigned(*q - '0');
    }
    bool integral = true;
    int fraction = 0;  // digits after the point
    if (q < end_ && *q == '.') {
      integral = false;
      ++q;
      if (q >= end_ || !IsDigit(*q)) return false;
      for (; q < end_ && IsDigit(*q); ++q, ++fraction) {
        mantissa = mantissa * 10 + unsigned(*q - '0');
        if (mantissa != 0) ++digits;  // leading zeros of "0.00x" do not count
      }
    }
    int exponent = 0;
    bool exponentSmall = true;
    if (q < end_ && (*q == 'e' || *q == 'E')) {
      integral = false;
      ++q;
      bool minus = false;
      if (q < end_ && (*q == '+' || *q == '-')) minus = *q++ == '-';
      if (q >= end_ || !IsDigit(*q)) return false;
      for (; q < end_ && IsDigit(*q); ++q) {
        if (exponent < 10000) exponent = exponent * 10 + (*q - '0');
        else exponentSmall = false;
      }
      if (minus) exponent = -exponent;
    }
    p_ = q;
    if (mantissa == 0 && digits == 0) {  // zero, whatever its exponent: no division
      *value = negative && !integral ? -0.0 : 0.0;
      return true;
    }
    if (integral && digits <= 18) {
      *value = mantissa == 0 ? 0.0 : negative ? -double(mantissa) : double(mantissa);
      return true;
    }
    // Exact operands and one rounding: the correctly rounded value.
    const int power = exponent - fraction;
    if (!integral && exponentSmall && digits <= 15 && fraction <= 40 && power >= -22 &&
        power <= 22) {
      double d = double(mantissa);
      d = power < 0 ? d / kExactPowers[-power] : d * kExactPowers[power];
      *value = negative ? -d : d;
      return true;
    }
    double d = 0.0;
    auto r = std::from_chars(s, q, d);
    if (r.ec != std::errc() || r.ptr != q) return false;  // out of range: the slow way
    *value = d;
    return true;
  }

  // A number that fits a single-precision float, as ReadFloat gives it.
  bool Float(float* value) {
    double d = 0.0;
    if (!Number(&d) || std::fabs(d) > FLT_MAX) return false;
    *value = static_cast<float>(d);
    return true;
  }

  // An integer written without fraction or exponent, lo <= v <= hi, as ReadInteger.
  bool Integer(int64_t lo, int64_t hi, int64_t* value) {
    Space();
    const char* q = p_;
    bool negative = q < end_ && *q == '-';
    if (negative) ++q;
    if (q >= end_ || !IsDigit(*q)) return false;
    int64_t v = 0;
    if (*q == '0') {
      ++q;
    } else {
      for (int n = 0; q < end_ && IsDigit(*q); ++q) {
        if (++n > 12) return false;  // far beyond any range asked for
        v = v * 10 + (*q - '0');
      }
    }
    if (q < end_ && (*q == '.' || *q == 'e' || *q == 'E')) return false;
    if (negative) v = -v;
    if (v < lo || v > hi) return false;
    p_ = q;
    *value = v;
    return true;
  }

  bool Index(int* value) {
    int64_t v = 0;
    if (!Integer(0, INT32_MAX, &v)) return false;
    *value = static_cast<int>(v);
    return true;
  }

  bool Bool(bool* value) {
    Space();
    if (end_ - p_ >= 4 && std::memcmp(p_, "true", 4) == 0) {
      p_ += 4;
      *value = true;
      return true;
    }
    if (end_ - p_ >= 5 && std::memcmp(p_, "false", 5) == 0) {
      p_ += 5;
      *value = false;
      return true;
    }
    return false;
  }

  // A member name of plain printable ASCII and its ':'; answers it in *name.
  bool Name(std::string_view* name) {
    if (!Eat('"')) return false;
    const char* s = p_;
    while (p_ < end_ && *p_ != '"') {
      unsigned char c = static_cast<unsigned char>(*p_);
      if (c < 0x20 || c >= 0x7F || c == '\\') return false;
      ++p_;
    }
    if (p_ >= end_) return false;
    *name = std::string_view(s, static_cast<size_t>(p_ - s));
    ++p_;
    return Eat(':');
  }

  // After an element: ',' (true, more follow) or the closing byte (*done set).
  bool Next(char close, bool* done) {
    char c = Peek();
    if (c == ',') {
      ++p_;
      return true;
    }
    if (c != close) return false;
    ++p_;
    *done = true;
    return true;
  }

  // [a, b, c] of floats, count of them, into out.
  bool Floats(float* out, int count) {
    if (!Eat('[')) return false;
    for (int k = 0; k < count; ++k) {
      if (k > 0 && !Eat(',')) return false;
      if (!Float(&out[k])) return false;
    }
    return Eat(']');
  }

  bool Triangle(std::array<int, 3>* t) {
    return Eat('[') && Index(&(*t)[0]) && Eat(',') && Index(&(*t)[1]) && Eat(',') &&
           Index(&(*t)[2]) && Eat(']');
  }

 private:
  const char* begin_;
  const char* p_;
  const char* end_;
};

// Reads the elements of the array at the cursor (its '[') with element(); false when one
// is refused.
template <class F>
bool Elements(Cursor& c, F element) {
  if (!c.Eat('[')) return false;
  if (c.Eat(']')) return true;
  for (bool done = false; !done;)
    if (!element() || !c.Next(']', &done)) return false;
  return true;
}

// The members of the object at the cursor, each by member(name); a name given twice is
// refused through the bits member() answers for it (0: unknown, refused).
template <class F>
bool Object(Cursor& c, uint32_t* seen, F member) {
  if (!c.Eat('{')) return false;
  if (c.Eat('}')) return true;
  for (bool done = false; !done;) {
    std::string_view name;
    if (!c.Name(&name)) return false;
    uint32_t bit = member(name);
    if (bit == 0 || (*seen & bit) != 0) return false;
    *seen |= bit;
    if (!c.Next('}', &done)) return false;
  }
  return true;
}

bool ReadPointList(Cursor& c, int least, std::vector<Point3>* out) {
  return Elements(c, [&] {
    float v[3] = {0.0f, 0.0f, 0.0f};
    if (!c.Eat('[')) return false;
    int n = 0;
    for (bool done = false; !done; ++n)
      if (n == 3 || !c.Float(&v[n]) || !c.Next(']', &done)) return false;
    if (n < least) return false;
    out->emplace_back(v[0], v[1], v[2]);
    return true;
  });
}

// A face: [a, b, c], or {"v": [a, b, c], "smoothing", "materialId", "edges"}.
bool ReadFace(Cursor& c, MemFace* face) {
  if (c.Peek() == '[') return c.Triangle(&face->v);
  uint32_t seen = 0;
  bool ok = true;
  auto member = [&](std::string_view name) -> uint32_t {
    int64_t v = 0;
    if (name == "v") {
      ok = c.Triangle(&face->v);
      return 1;
    }
    if (name == "smoothing") {
      ok = c.Integer(0, 0xFFFFFFFFLL, &v);
      face->smoothing = static_cast<uint32_t>(v);
      return 2;
    }
    if (name == "materialId") {
      ok = c.Integer(0, 65535, &v);
      face->materialId = static_cast<int>(v);
      return 4;
    }
    if (name == "edges") {
      bool e[3] = {false, false, false};
      ok = c.Eat('[') && c.Bool(&e[0]) && c.Eat(',') && c.Bool(&e[1]) && c.Eat(',') &&
           c.Bool(&e[2]) && c.Eat(']');
      face->edgeVisible = (e[0] ? 1 : 0) | (e[1] ? 2 : 0) | (e[2] ? 4 : 0);
      return 8;
    }
    return 0;
  };
  // Each member reports failure through ok; a refused one stops Object at once.
  return Object(c, &seen, [&](std::string_view n) { return ok ? member(n) : 0; }) && ok &&
         (seen & 1) != 0;
}

// A key's value: a number, [x, y, z], {"axis": [x, y, z], "angle": a} or {"quat": [...]}.
bool ReadKeyValue(Cursor& c, MemKey* key, uint8_t* form) {
  char first = c.Peek();
  if (first == '[') {
    *form = BulkKeys::kArray3;
    return c.Floats(&key->p.x, 3);
  }
  if (first != '{') {
    *form = BulkKeys::kNumber;
    return c.Float(&key->f);
  }
  uint32_t seen = 0;
  bool ok = true;
  float axis[3] = {}, quat[4] = {};
  bool read = Object(c, &seen, [&](std::string_view name) -> uint32_t {
    if (!ok) return 0;
    if (name == "axis") return (ok = c.Floats(axis, 3)) ? 1 : 0;
    if (name == "angle") return (ok = c.Float(&key->aa.angle)) ? 2 : 0;
    if (name == "quat") return (ok = c.Floats(quat, 4)) ? 4 : 0;
    return 0;
  });
  if (!read || !ok) return false;
  if (seen == 3) {
    *form = BulkKeys::kAxisAngle;
    key->aa.axis = Point3(axis[0], axis[1], axis[2]);
    return true;
  }
  if (seen == 4) {
    *form = BulkKeys::kQuat;
    key->q = Quat(quat[0], quat[1], quat[2], quat[3]);
    return true;
  }
  return false;
}

bool ReadKey(Cursor& c, BulkKeys* out) {
  MemKey key;
  uint8_t form = 0;
  uint32_t seen = 0;
  bool ok = true;
  auto member = [&](std::string_view name) -> uint32_t {
    using namespace std::string_view_literals;
    struct Param {
      std::string_view name;
      float MemKey::*field;
      uint8_t bit;
    };
    static constexpr Param kParams[] = {{"tension"sv, &MemKey::tens, BulkKeys::kTension},
                                        {"continuity"sv, &MemKey::cont, BulkKeys::kContinuity},
                                        {"bias"sv, &MemKey::bias, BulkKeys::kBias},
                                        {"easeTo"sv, &MemKey::easeIn, BulkKeys::kEaseTo},
                                        {"easeFrom"sv, &MemKey::easeOut, BulkKeys::kEaseFrom}};
    if (name == "time"sv) {
      int64_t time = 0;
      if (c.Peek() == '{') {  // {"ticks": n}
        uint32_t ticks = 0;
        ok = Object(c, &ticks, [&](std::string_view n) -> uint32_t {
          return n == "ticks" && c.Integer(INT32_MIN, INT32_MAX, &time) ? 1 : 0;
        });
        ok = ok && ticks == 1;
        form |= BulkKeys::kTicks;
      } else {
        ok = c.Integer(INT32_MIN, INT32_MAX, &time);
      }
      key.time = static_cast<TimeValue>(time);
      return 1;
    }
    if (name == "value"sv) {
      uint8_t valueForm = 0;
      ok = ReadKeyValue(c, &key, &valueForm);
      form |= valueForm;
      return 2;
    }
    for (const Param& p : kParams)
      if (name == p.name) {
        ok = c.Float(&(key.*p.field));
        form |= p.bit;
        return p.bit;
      }
    return 0;
  };
  if (!Object(c, &seen, [&](std::string_view n) { return ok ? member(n) : 0; }) || !ok ||
      (seen & 3) != 3)
    return false;
  out->keys.push_back(key);
  out->forms.push_back(form);
  return true;
}

constexpr uint64_t Subtype(BulkKind kind, size_t index) {
  return (uint64_t(kind) << 32) | uint64_t(index);
}

// The index a marker of kind holds, or -1.
int64_t MarkerIndex(const Json& value, BulkKind kind) {
  if (!value.is_binary()) return -1;
  const Json::binary_t& b = value.get_binary();
  if (!b.has_subtype() || (b.subtype() >> 32) != uint64_t(kind)) return -1;
  return static_cast<int64_t>(b.subtype() & 0xFFFFFFFFu);
}

template <class T>
bool TakeAt(const Json& value, BulkKind kind, std::vector<T>& from, T* out) {
  int64_t i = MarkerIndex(value, kind);
  if (i < 0 || static_cast<size_t>(i) >= from.size()) return false;
  *out = std::move(from[static_cast<size_t>(i)]);
  from[static_cast<size_t>(i)] = T();
  return true;
}

template <class T, class A>
SceneVector<T> ExactCopy(const std::vector<T, A>& v) {
  PackedScope packed;
  return SceneVector<T>(v.begin(), v.end());
}

thread_local BulkValues* current = nullptr;

}  // namespace

BulkKind BulkKindOfMember(const std::string& key) {
  if (key == "vertices" || key == "vertexColors") return BulkKind::kPoints;
  if (key == "faces") return BulkKind::kFaces;
  if (key == "uvs") return BulkKind::kTexPoints;
  if (key == "uvFaces") return BulkKind::kTriangles;
  if (key == "keys") return BulkKind::kKeys;
  return BulkKind::kNone;
}

size_t BulkValues::Read(BulkKind kind, const std::string& text, size_t start, Json* marker) {
  Cursor c(text, start);
  size_t index = 0;
  bool ok = false;
  switch (kind) {
    case BulkKind::kNone:
      return 0;
    case BulkKind::kPoints:
    case BulkKind::kTexPoints:
      scratchPoints_.clear();
      ok = ReadPointList(c, kind == BulkKind::kPoints ? 3 : 2, &scratchPoints_);
      index = points_.size();
      if (ok) points_.push_back(ExactCopy(scratchPoints_));
      break;
    case BulkKind::kFaces:
      scratchFaces_.clear();
      ok = Elements(c, [&] {
        scratchFaces_.emplace_back();
        return ReadFace(c, &scratchFaces_.back());
      });
      index = faces_.size();
      if (ok) faces_.push_back(ExactCopy(scratchFaces_));
      break;
    case BulkKind::kTriangles:
      scratchTriangles_.clear();
      ok = Elements(c, [&] {
        scratchTriangles_.emplace_back();
        return c.Triangle(&scratchTriangles_.back());
      });
      index = triangles_.size();
      if (ok) triangles_.push_back(ExactCopy(scratchTriangles_));
      break;
    case BulkKind::kKeys:
      scratchKeys_.keys.clear();
      scratchKeys_.forms.clear();
      ok = Elements(c, [&] { return ReadKey(c, &scratchKeys_); });
      index = keys_.size();
      if (ok) keys_.push_back(BulkKeys{ExactCopy(scratchKeys_.keys), scratchKeys_.forms});
      break;
  }
  if (!ok || index > 0xFFFFFFFFu) return 0;
  *marker = Json::binary(Json::binary_t::container_type(), Subtype(kind, index));
  return c.Offset();
}

bool BulkValues::Take(const Json& value, BulkKind kind, SceneVector<Point3>* out) {
  return TakeAt(value, kind, points_, out);
}

bool BulkValues::Take(const Json& value, SceneVector<MemFace>* out) {
  return TakeAt(value, BulkKind::kFaces, faces_, out);
}

bool BulkValues::Take(const Json& value, SceneVector<std::array<int, 3>>* out) {
  return TakeAt(value, BulkKind::kTriangles, triangles_, out);
}

bool BulkValues::Take(const Json& value, BulkKeys* out) {
  return TakeAt(value, BulkKind::kKeys, keys_, out);
}

void FailBulk(const std::string& path) {
  Fail(path, "the typed data fails a check");
}

BulkValues* CurrentBulk() {
  return current;
}

BulkScope::BulkScope(BulkValues* bulk) : previous_(current) {
  current = bulk;
}

BulkScope::~BulkScope() {
  current = previous_;
}

}  // namespace tsm
