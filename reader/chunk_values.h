// The numbers of a chunk file that frame and decode well but that no reader can use: a
// vertex, camera, light, colour or shape point that is NaN or infinite, a face naming a
// vertex past its mesh's count. Checked one chunk at a time, so that a reader walking the
// file in pieces can call it as each chunk's payload arrives.
#ifndef TSM_READER_CHUNK_VALUES_H
#define TSM_READER_CHUNK_VALUES_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace tsm {

// What one chunk leaves for the next: the vertex count of the mesh being read.
struct ChunkValueState {
  uint64_t meshVertices = 0;  // set by MESH_VERTICES, reset by TRIANGLE_MESH
  bool haveVertices = false;  // the mesh's MESH_VERTICES came
};

// Checks the payload (size bytes after the header) of a chunk of the given id whose
// layout decoded well. Answers "" when its values are sound, else the problem, with *at
// set to the problem's byte offset within the payload.
std::string ChunkValuesProblem(uint16_t id, const uint8_t* payload, size_t size,
                               ChunkValueState& state, size_t* at);

}  // namespace tsm

#endif  // TSM_READER_CHUNK_VALUES_H
