// Raw bytes as a chunk file: the framing parse, the whole-file check, and both dumps of
// whatever parses. Nothing may crash, read outside the input or leak; the JSON dump must
// be valid JSON, and the parse without children must give the same results.
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
  // The parse that keeps no children (tsmdump's) must agree in everything.
  const tsm::FileCheck lean = tsm::CheckChunkFile(data, size, false);
  if (lean.ok != check.ok || lean.error != check.error) __builtin_trap();
  if (!check.tree.ok) return 0;
  const std::string text = tsm::FormatChunkTreeText(check.tree.top, data, size);
  if (text != tsm::FormatChunkTreeText(lean.tree.top, data, size)) __builtin_trap();
  const std::string json = tsm::FormatChunkTreeJson(check.tree.top, data, size, -1);
  if (!nlohmann::json::accept(json)) __builtin_trap();
  if (json != tsm::FormatChunkTreeJson(lean.tree.top, data, size, -1)) __builtin_trap();
  return 0;
}
