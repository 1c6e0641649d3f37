// Helpers of the exporter and module tests: a small scene to export, output paths under
// the build folder, and the checks that hold for every exported file.
#ifndef TSM_TESTS_EXPORT_CHECK_H
#define TSM_TESTS_EXPORT_CHECK_H

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "scene/mem_scene.h"
#include "tests/test_util.h"

namespace tsm {

// One top-level dummy: a helper object of class (0x876234, 0).
inline void AddDummy(MemScene& scene, const char* name) {
  MemNode* node = scene.AddNode(name);
  node->object = scene.AddObject(kFamilyHelper, Class_ID(0x876234, 0));
}

// A path for an output file of a test, in a folder of the build tree; no file is there.
inline std::string TestOutputPath(const std::string& file) {
  std::filesystem::path dir = std::filesystem::path(TSM_BINARY_DIR) / "test_out";
  std::filesystem::create_directories(dir);
  std::filesystem::path path = dir / file;
  std::filesystem::remove(path);
  return path.string();
}

inline std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// What every exported file holds: MOD_MAIN with the whole file's size, then FILE_VERSION.
inline void ExpectExportedFile(const std::string& path) {
  ASSERT_TRUE(std::filesystem::exists(path)) << path;
  std::vector<uint8_t> bytes = ReadFileBytes(path);
  ASSERT_GE(bytes.size(), 16u);
  EXPECT_EQ(bytes[0], 0xEF);
  EXPECT_EQ(bytes[1], 0xBE);
  EXPECT_EQ(GetU32(bytes, 2), bytes.size());
  std::vector<uint8_t> version(bytes.begin() + 6, bytes.begin() + 16);
  ExpectBytes(version, {0x02, 0x00, 0x0A, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00});
}

}  // namespace tsm

#endif  // TSM_TESTS_EXPORT_CHECK_H
