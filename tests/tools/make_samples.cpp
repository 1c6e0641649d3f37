// Writes the files that the tsmdump tests feed to the tool: valid ones and corrupted
// copies, each broken in one known place.
//
//   tsmdump_samples DIR
#include <cstdio>
#include <string>
#include <vector>

#include "tests/sample_files.h"

namespace {

using tsm::PutU16;
using tsm::PutU32;

std::vector<uint8_t> Garbage(size_t size) {
  std::vector<uint8_t> bytes(size);
  uint32_t state = 2024;
  for (auto& b : bytes) {
    state = state * 1664525u + 1013904223u;
    b = static_cast<uint8_t>(state >> 24);
  }
  return bytes;
}

// depth EDITOR_DATA chunks, each holding the next.
std::vector<uint8_t> Nested(size_t depth) {
  std::vector<uint8_t> bytes(depth * 6);
  for (size_t i = 0; i < depth; ++i) {
    PutU16(bytes, i * 6, tsm::EDITOR_DATA);
    PutU32(bytes, i * 6 + 2, static_cast<uint32_t>((depth - i) * 6));
  }
  return bytes;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: tsmdump_samples DIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  const std::vector<uint8_t> rich = tsm::RichFile();
  const std::vector<uint8_t> skeleton = tsm::SkeletonFile();
  if (rich.size() != 1040 || skeleton.size() != 28) {
    std::fprintf(stderr, "tsmdump_samples: the sample files changed size\n");
    return 1;
  }

  std::vector<std::pair<std::string, std::vector<uint8_t>>> files;
  files.emplace_back("valid.tsm", rich);
  files.emplace_back("skeleton.tsm", skeleton);
  files.emplace_back("empty.tsm", std::vector<uint8_t>());
  files.emplace_back("truncated.tsm", std::vector<uint8_t>(rich.begin(), rich.begin() + 500));

  std::vector<uint8_t> overrun = skeleton;
  PutU32(overrun, 18, 13);  // EDITOR_DATA past the end of MOD_MAIN
  files.emplace_back("overrun.tsm", overrun);

  std::vector<uint8_t> shortLength = skeleton;
  PutU32(shortLength, 18, 4);  // EDITOR_DATA shorter than its header
  files.emplace_back("short_length.tsm", shortLength);

  std::vector<uint8_t> trailing = skeleton;
  trailing.insert(trailing.end(), {1, 2, 3, 4});
  files.emplace_back("trailing.tsm", trailing);

  std::vector<uint8_t> badPayload = rich;
  PutU16(badPayload, 266, 4);  // MESH_VERTICES at 260 claims 4 vertices, holds 3
  files.emplace_back("bad_payload.tsm", badPayload);

  files.emplace_back("garbage.tsm", Garbage(64));
  files.emplace_back("deep.tsm", Nested(5000));

  for (const auto& f : files) {
    const std::string path = dir + "/" + f.first;
    if (!tsm::WriteFileBytes(path, f.second)) {
      std::fprintf(stderr, "tsmdump_samples: cannot write %s\n", path.c_str());
      return 1;
    }
  }
  return 0;
}
