// Checked reading of JSON values for the scene loader: typed values with ranges, the
// members of an object against the members its kind allows, and registries that resolve
// references by name or id. Every problem stops the load with one LoadError naming the
// JSON path; LoadJsonSceneText turns it into the load's result, so it never leaves the
// loader.
#ifndef TSM_FORMATS_JSON_JSON_READ_H
#define TSM_FORMATS_JSON_JSON_READ_H

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <nlohmann/json.hpp>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "host/geometry.h"
#include "io/message_text.h"  // EscapeControls for the loaders' messages

namespace tsm {

// Objects keep their members in file order, so the first unknown member is the first
// one in the file.
using Json = nlohmann::ordered_json;

// Frees the arrays and objects of a value from the leaves up, leaving it an empty
// container, without allocating: the library's own destructor gathers the children of a
// container it frees into a vector first, and that allocation fails when memory has run
// out, which would end the process from inside a destructor. Recursive, so only for
// trees of bounded depth, as the parser builds them.
void ReleaseJson(Json& value) noexcept;

// Releases a value with ReleaseJson when it goes out of scope, also while an exception
// unwinds: declare it just after the value.
class JsonRelease {
 public:
  explicit JsonRelease(Json& value) : value_(value) {}
  JsonRelease(const JsonRelease&) = delete;
  JsonRelease& operator=(const JsonRelease&) = delete;
  ~JsonRelease() { ReleaseJson(value_); }

 private:
  Json& value_;
};

// The first problem of a load: a JSON pointer ("" for the whole document), a message and,
// when the problem was found in the text itself, its byte offset there.
struct LoadError {
  static constexpr size_t kNoOffset = static_cast<size_t>(-1);
  std::string path;
  std::string message;
  size_t offset = kNoOffset;  // kNoOffset: placed at the value the path names
};

[[noreturn]] void Fail(const std::string& path, const std::string& message);
// The same for a problem at a known byte offset of the text.
[[noreturn]] void FailAt(size_t offset, const std::string& path, const std::string& message);

// path + "/" + key (escaped as a pointer token), and path + "/" + index.
std::string ChildPath(const std::string& path, const std::string& key);
std::string ChildPath(const std::string& path, size_t index);

// Text in double quotes for messages, with quotes, backslashes and control characters
// (C0, DEL, C1 and bytes that are not UTF-8) escaped by the message escaper
// (io/message_text.h) and anything past 60 bytes cut to "...".
std::string Quote(const std::string& text);

// A cycle for a message: its members quoted, in order, and the first again at the end
// ("a" -> "b" -> "a"). A long cycle shows only its first few members and its length.
std::string CycleText(const std::vector<std::string>& names);

// "a string", "an array", "null", ...: the kind of a value for "expected ..., found ...".
std::string KindOf(const Json& value);

// Typed values. Each fails with the path when the value has another type or is out of
// range. Numbers must be finite; floats must fit a single-precision float.
double ReadNumber(const Json& value, const std::string& path);
float ReadFloat(const Json& value, const std::string& path);
// A float with lo <= v <= hi.
float ReadFloatIn(const Json& value, const std::string& path, double lo, double hi);
// An integer (no fraction, no exponent) with lo <= v <= hi.
int64_t ReadInteger(const Json& value, const std::string& path, int64_t lo, int64_t hi);
bool ReadBool(const Json& value, const std::string& path);
std::string ReadString(const Json& value, const std::string& path);
// A string that becomes host text: it may not hold a NUL character.
std::string ReadText(const Json& value, const std::string& path);
// [x, y, z], three floats.
Point3 ReadPoint3(const Json& value, const std::string& path);
// A class identity [a, b]; each word an integer 0..0xFFFFFFFF or a hex string "0x...".
Class_ID ReadClassId(const Json& value, const std::string& path);
// The array at path; fails when value is something else.
const Json& ReadArray(const Json& value, const std::string& path);
// The "type" member of a definition, which must be an object: one of types, or def when
// the member is absent (an empty def makes it required).
std::string ReadType(const Json& value, const std::string& path, const std::string& def,
                     const std::vector<std::string>& types);

// The members of one JSON object. Construction fails when the value is not an object or
// has a member that is not in allowed; "comment" (a string) is allowed everywhere.
class Members {
 public:
  Members(const Json& value, std::string path, const std::vector<std::string>& allowed);

  const std::string& Path() const { return path_; }
  std::string At(const std::string& key) const { return ChildPath(path_, key); }
  // The member's value, or null when it is absent (a JSON null counts as present).
  const Json* Find(const std::string& key) const;
  bool Has(const std::string& key) const { return Find(key) != nullptr; }
  // The member's value; fails with "missing" when it is absent.
  const Json& Need(const std::string& key, const std::string& why) const;

  // Optional members with their defaults.
  float Float(const std::string& key, float def) const;
  float FloatIn(const std::string& key, float def, double lo, double hi) const;
  int64_t Integer(const std::string& key, int64_t def, int64_t lo, int64_t hi) const;
  bool Bool(const std::string& key, bool def) const;
  std::string Text(const std::string& key, const std::string& def) const;
  Point3 Vec(const std::string& key, const Point3& def) const;

 private:
  const Json& value_;
  std::string path_;
};

// Items of one kind (nodes, objects, materials, maps) that references can name: by a
// string, the item's name, which must then be unique among the items; by an integer,
// the item's id, which is unique by construction.
template <class T>
class Registry {
 public:
  explicit Registry(const char* what) : what_(what) {}

  // Adds an item defined at path and answers its index.
  size_t Add(T item, const std::string& path) {
    items_.push_back(std::move(item));
    paths_.push_back(path);
    return items_.size() - 1;
  }
  // Gives item index the id read from value at idPath; fails when another item has it.
  void SetId(size_t index, const Json& value, const std::string& idPath) {
    int64_t id = ReadInteger(value, idPath, 0, INT64_MAX);
    auto found = byId_.find(id);
    if (found != byId_.end())
      Fail(idPath, "id " + std::to_string(id) + " is already used by " + PathOf(found->second));
    byId_.emplace(id, index);
  }
  void SetName(size_t index, const std::string& name) {
    auto& entry = byName_[name];
    if (entry.second++ == 0) entry.first = index;
  }
  // The index of the item a reference names; fails when it names none, or a name that
  // several items share.
  size_t Resolve(const Json& ref, const std::string& path) const {
    if (ref.is_string()) {
      const std::string& name = ref.get_ref<const std::string&>();
      auto found = byName_.find(name);
      if (found == byName_.end()) Fail(path, std::string("no ") + what_ + " named " + Quote(name));
      if (found->second.second > 1)
        Fail(path, std::to_string(found->second.second) + " " + what_ + "s are named " +
                       Quote(name) + "; refer to one by its id");
      return found->second.first;
    }
    if (ref.is_number_integer()) {
      int64_t id = ReadInteger(ref, path, 0, INT64_MAX);
      auto found = byId_.find(id);
      if (found == byId_.end())
        Fail(path, std::string("no ") + what_ + " with id " + std::to_string(id));
      return found->second;
    }
    Fail(path, std::string("expected a ") + what_ + " name (a string) or id (an integer), found " +
                   KindOf(ref));
  }
  T& operator[](size_t index) { return items_[index]; }
  const T& operator[](size_t index) const { return items_[index]; }
  // Where item index is defined: its path as added, or as the path function builds it.
  std::string PathOf(size_t index) const { return pathOf_ ? pathOf_(index) : paths_[index]; }
  // Builds the paths on demand instead of keeping those given to Add (which may then
  // be empty): for items whose paths are long, such as nodes deep in a hierarchy.
  void SetPathFunction(std::function<std::string(size_t)> pathOf) { pathOf_ = std::move(pathOf); }
  size_t Size() const { return items_.size(); }

 private:
  const char* what_;
  std::vector<T> items_;
  std::vector<std::string> paths_;
  std::function<std::string(size_t)> pathOf_;  // when set, builds the paths instead
  std::unordered_map<int64_t, size_t> byId_;
  std::unordered_map<std::string, std::pair<size_t, size_t>> byName_;  // first, count
};

}  // namespace tsm

#endif  // TSM_FORMATS_JSON_JSON_READ_H
