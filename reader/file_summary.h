// What a written chunk file holds, counted from the file itself: named objects by kind,
// materials, faces, keyframer nodes, tracks and keys, and its size. The export tool
// prints it after an export; anything that has a file can ask for it.
#ifndef TSM_READER_FILE_SUMMARY_H
#define TSM_READER_FILE_SUMMARY_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tsm {

struct FileSummary {
  bool ok = false;             // false: the file could not be read or its framing is broken
  std::string error;           // when !ok: why, "offset N: ..." for a broken file
  int64_t meshes = 0;          // named objects holding TRIANGLE_MESH
  int64_t lights = 0;          // named objects holding LIGHT (spots included)
  int64_t cameras = 0;         // named objects holding CAMERA
  int64_t shapes = 0;          // named objects holding SHAPE_POINTS
  int64_t materials = 0;       // MATERIAL_BLOCK chunks
  int64_t faces = 0;           // face counts of every MESH_FACES
  int64_t keyframerNodes = 0;  // node chunks of the keyframer section
  int64_t tracks = 0;          // track chunks
  int64_t keys = 0;            // key counts of every track header
  uint64_t bytes = 0;          // size of the file
};

// Counts what data[0, size) holds. The framing is checked by the chunk reader; a track or
// face list whose count field is cut short adds nothing.
FileSummary SummarizeChunkFile(const uint8_t* data, size_t size);
inline FileSummary SummarizeChunkFile(const std::vector<uint8_t>& bytes) {
  return SummarizeChunkFile(bytes.data(), bytes.size());
}

// Reads the file at path and counts what it holds.
FileSummary SummarizeFile(const char* path);

// One line without a newline, e.g. "2 meshes, 1 light, 1 camera, 0 shapes, 3 materials,
// 24 faces, 5 keyframer nodes, 15 tracks, 17 keys, 4096 bytes".
std::string FormatFileSummary(const FileSummary& summary);

}  // namespace tsm

#endif  // TSM_READER_FILE_SUMMARY_H
