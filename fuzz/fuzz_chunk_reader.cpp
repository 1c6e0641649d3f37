// Raw bytes as a chunk file: the framing parse, the whole-file check, and both dumps of
// whatever parses. Nothing may crash, read outside the input or leak; the JSON dump must
// be valid JSON.
#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

#include "reader/chunk_dump.h"
#include "reader/chunk_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const tsm::FileCheck check = tsm::CheckChunkFile(data, size);
  if (check.ok && !check.tree.ok) __builtin_trap();
  if (!check.ok && check.error.rfind("offset ", 0) != 0) __builtin_trap();
  if (!check.tree.ok) return 0;
  tsm::FormatChunkTreeText(check.tree.top, data, size);
  const std::string json = tsm::FormatChunkTreeJson(check.tree.top, data, size, -1);
  if (!nlohmann::json::accept(json)) __builtin_trap();
  return 0;
}
