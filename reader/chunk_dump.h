// Making a parsed chunk file readable: the decoded payload of every chunk id whose layout
// is known, the check of a whole file (framing, skeleton and payloads), and the tree as
// indented text or as JSON. Nothing here prints; callers get strings.
#ifndef TSM_READER_CHUNK_DUMP_H
#define TSM_READER_CHUNK_DUMP_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "reader/chunk_reader.h"

namespace tsm {

// The one-line reading of a chunk's own payload (the bytes between its header and its
// first child).
struct DecodedPayload {
  bool ok = true;       // false: the bytes do not match the id's layout
  std::string text;     // "key=value" pairs separated by spaces; empty when nothing to show
  std::string problem;  // when !ok: what does not match, without an offset
};

// Decodes size payload bytes of a chunk of the given id. Big arrays are summarised by
// their count ("vertices=12"); payloads of ids outside the catalogue, and data blocks,
// show their size and, when small, their bytes in hex. Never reads outside
// payload[0, size).
DecodedPayload DecodePayload(uint16_t id, const uint8_t* payload, size_t size);

// The result of checking a whole file.
struct FileCheck {
  ChunkTree tree;     // the parse; tree.ok false means the framing itself is broken
  bool ok = false;    // framing, skeleton and every payload are right
  std::string error;  // the first problem, "offset N: ..."; empty when ok
  uint64_t errorOffset = 0;
};

// Parses data[0, size) (see ReadChunkTree), then checks the skeleton (a MOD_MAIN or MAIN
// top chunk holding FILE_VERSION, EDITOR_DATA and KEYFRAMER_DATA in that order) and the
// payload of every chunk, in file order. Payloads that the writers leave empty after a
// soft error (MESH_VERTEX_COLORS, FACE_MATERIAL, NODE_HEADER) are accepted.
// keepChildren false keeps no child in tree (see ReadChunkTree): the dumps below walk the
// bytes either way. values also checks the numbers no reader can use (ChunkValuesProblem
// in reader/chunk_values.h: NaN or infinite values, faces past the vertices), as
// tsmdump does; the preview draws such files, leaving out what it cannot draw.
FileCheck CheckChunkFile(const uint8_t* data, size_t size, bool keepChildren = true,
                         bool values = false);
inline FileCheck CheckChunkFile(const std::vector<uint8_t>& bytes, bool keepChildren = true,
                                bool values = false) {
  return CheckChunkFile(bytes.data(), bytes.size(), keepChildren, values);
}

// Receives a dump piece by piece; answers false to stop the walk (e.g. a failed write).
using ChunkTextSink = std::function<bool(const char* text, size_t size)>;

// The tree as text, one line per chunk, indented two spaces per level:
//   "<offset> 0x<ID> <NAME or ?> len=<length>[ <decoded payload>]"
// top must come from a successful parse of data[0, size). Ends with a newline.
std::string FormatChunkTreeText(const Chunk& top, const uint8_t* data, size_t size);
// Writes the same text to sink one line at a time, walking the tree: memory grows with
// the nesting depth only. Answers false when the sink stopped the walk.
bool WriteChunkTreeText(const Chunk& top, const uint8_t* data, size_t size,
                        const ChunkTextSink& sink);

// The tree as JSON: per chunk "offset", "id" ("0xBEEF"), "name" (null when unknown),
// "length", then "fields" (decoded payload) or "hex" (payloads of up to 64 bytes without a
// known layout) or "payloadSize", "problem" when the payload is malformed, and "children"
// for containers. Texts are read as 8-bit Latin-1. indent < 0 gives one line. The whole
// text is held in memory; WriteChunkTreeJson writes the same text piece by piece.
std::string FormatChunkTreeJson(const Chunk& top, const uint8_t* data, size_t size, int indent = 2);

// Writes the text of FormatChunkTreeJson to sink while walking the tree, holding one
// chunk's own members at a time: memory grows with the nesting depth, not with the file.
// Answers false when the sink stopped the walk. May throw std::bad_alloc.
bool WriteChunkTreeJson(const Chunk& top, const uint8_t* data, size_t size,
                        const ChunkTextSink& sink, int indent = 2);

}  // namespace tsm

#endif  // TSM_READER_CHUNK_DUMP_H
