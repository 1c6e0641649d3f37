// Helpers of the importer tests: a glTF document built in code with its buffer embedded as
// base64, a scratch folder for files, and an export of a scene into bytes.
#ifndef TSM_TESTS_IMPORT_BUILDERS_H
#define TSM_TESTS_IMPORT_BUILDERS_H

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "plugin/plugin.h"
#include "run/export_run.h"
#include "scene/mem_scene.h"
#include "tests/export_check.h"

namespace tsm {

inline std::string Base64(const std::string& bytes) {
  static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    uint32_t n = uint8_t(bytes[i]) << 16;
    if (i + 1 < bytes.size()) n |= uint8_t(bytes[i + 1]) << 8;
    if (i + 2 < bytes.size()) n |= uint8_t(bytes[i + 2]);
    out += kDigits[(n >> 18) & 63];
    out += kDigits[(n >> 12) & 63];
    out += i + 1 < bytes.size() ? kDigits[(n >> 6) & 63] : '=';
    out += i + 2 < bytes.size() ? kDigits[n & 63] : '=';
  }
  return out;
}

// A glTF document: add accessors over one buffer, fill the other members in doc, then
// take Text().
class GltfBuilder {
 public:
  nlohmann::json doc = {{"asset", {{"version", "2.0"}}}};

  // A float accessor of the given type ("SCALAR", "VEC2", ...) over values.
  int Floats(const std::vector<float>& values, const char* type) {
    static const std::map<std::string, int> kComps = {
        {"SCALAR", 1}, {"VEC2", 2}, {"VEC3", 3}, {"VEC4", 4}};
    return Add(values.data(), values.size() * 4, 5126, values.size() / kComps.at(type), type);
  }
  int Indices(const std::vector<uint16_t>& values) {
    return Add(values.data(), values.size() * 2, 5123, values.size(), "SCALAR");
  }
  std::string Text() {
    nlohmann::json d = doc;
    d["buffers"] = {{{"byteLength", bin_.size()},
                     {"uri", "data:application/octet-stream;base64," + Base64(bin_)}}};
    return d.dump(1);
  }
  // The document as a GLB, its buffer in the binary chunk without "uri"; edit may change
  // the JSON text (compact, members sorted) before it is framed.
  std::string Glb(const std::function<void(std::string&)>& edit = nullptr) const {
    nlohmann::json d = doc;
    d["buffers"] = {{{"byteLength", bin_.size()}}};
    std::string text = d.dump();
    if (edit) edit(text);
    while (text.size() % 4 != 0) text += ' ';
    std::string bin = bin_;
    while (bin.size() % 4 != 0) bin += '\0';
    auto u32 = [](size_t v) {
      std::string b;
      for (int i = 0; i < 4; ++i) b += char((v >> (8 * i)) & 0xFF);
      return b;
    };
    return "glTF" + u32(2) + u32(28 + text.size() + bin.size()) + u32(text.size()) + "JSON" +
           text + u32(bin.size()) + std::string("BIN\0", 4) + bin;
  }
  size_t BinarySize() const { return bin_.size(); }

 private:
  int Add(const void* data, size_t bytes, int componentType, size_t count, const char* type) {
    while (bin_.size() % 4 != 0) bin_.push_back('\0');
    size_t offset = bin_.size();
    bin_.append(static_cast<const char*>(data), bytes);
    doc["bufferViews"].push_back({{"buffer", 0}, {"byteOffset", offset}, {"byteLength", bytes}});
    doc["accessors"].push_back({{"bufferView", doc["bufferViews"].size() - 1},
                                {"componentType", componentType},
                                {"count", count},
                                {"type", type}});
    return int(doc["accessors"].size() - 1);
  }
  std::string bin_;
};

// A fresh folder for a test's files, removed with the object. Its name holds the process
// id, so that tests run in parallel processes never share one.
class ScratchFolder {
 public:
  explicit ScratchFolder(const std::string& name)
      : path_((std::filesystem::path(TSM_BINARY_DIR) / "test_out" /
               (name + "_" + std::to_string(::getpid())))
                  .string()) {
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~ScratchFolder() { std::filesystem::remove_all(path_); }
  std::string Write(const std::string& name, const std::string& text) const {
    std::string p = path_ + "/" + name;
    std::ofstream(p, std::ios::binary) << text;
    return p;
  }
  std::string Path(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// The file the export writes for scene (quiet, no boxes shown); empty when none.
inline std::vector<uint8_t> ExportedBytes(MemScene& scene, const std::string& path) {
  CaptureSink sink;
  ModuleHandleScope handle;
  scene.ApplyHostSettings();
  ExportInterface ei;
  ei.scene = &scene;
  std::filesystem::remove(path);
  ExportToFile(path.c_str(), &ei, &scene, 1, 0);
  return ReadFileBytes(path);
}

// Every node by name, for tests that look nodes up.
inline MemNode* Node(const MemScene& scene, const std::string& name) {
  MemNode* n = scene.FindNode(name);
  EXPECT_NE(n, nullptr) << "no node " << name;
  return n;
}

inline std::string Joined(const std::vector<std::string>& lines) {
  std::string out;
  for (const auto& l : lines) out += l + "\n";
  return out;
}

}  // namespace tsm

#endif  // TSM_TESTS_IMPORT_BUILDERS_H
