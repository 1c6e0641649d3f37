#include "reader/chunk_values.h"

#include <cmath>
#include <cstring>

#include "reader/chunk_reader.h"
#include "writer/chunk_ids.h"

namespace tsm {
namespace {

uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

float F32(const uint8_t* p) {
  uint32_t bits = uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) |
                  (uint32_t(p[3]) << 24);
  float f;
  std::memcpy(&f, &bits, 4);
  return f;
}

// The first of count floats from payload + from that is not finite, or "".
std::string Floats(const uint8_t* payload, size_t size, size_t from, size_t count,
                   const char* what, size_t* at) {
  for (size_t i = 0; i < count && from + 4 * (i + 1) <= size; ++i) {
    float f = F32(payload + from + 4 * i);
    if (!std::isfinite(f)) {
      *at = from + 4 * i;
      return std::string(what) + " holds " + (std::isnan(f) ? "NaN" : "an infinite value");
    }
  }
  return std::string();
}

}  // namespace

std::string ChunkValuesProblem(uint16_t id, const uint8_t* payload, size_t size,
                               ChunkValueState& state, size_t* at) {
  switch (id) {
    case TRIANGLE_MESH:
      state.meshVertices = 0;
      state.haveVertices = false;
      return std::string();
    case MESH_VERTICES: {
      if (size < 2) return std::string();
      state.meshVertices = U16(payload);
      state.haveVertices = true;
      size_t n = state.meshVertices;
      for (size_t v = 0; v < n; ++v) {
        std::string p = Floats(payload, size, 2 + 12 * v, 3, "a vertex", at);
        if (!p.empty()) return "vertex " + std::to_string(v) + ": " + p;
      }
      return std::string();
    }
    case MESH_FACES: {
      if (size < 2 || !state.haveVertices) return std::string();  // nothing to compare with
      size_t faces = U16(payload);
      for (size_t f = 0; f < faces && 2 + kFaceRecordSize * (f + 1) <= size; ++f) {
        const uint8_t* r = payload + 2 + kFaceRecordSize * f;
        for (int k = 0; k < 3; ++k)
          if (U16(r + 2 * k) >= state.meshVertices) {
            *at = 2 + kFaceRecordSize * f + 2 * k;
            return "face " + std::to_string(f) + " names vertex " + std::to_string(U16(r + 2 * k)) +
                   "; the mesh has " + std::to_string(state.meshVertices);
          }
        std::string p = Floats(payload, size, 2 + kFaceRecordSize * f + 8, 6,
                               "a texture coordinate", at);
        if (!p.empty()) return "face " + std::to_string(f) + ": " + p;
      }
      return std::string();
    }
    case MESH_MATRIX:
      return Floats(payload, size, 0, 12, "the mesh matrix", at);
    case LIGHT:
      return Floats(payload, size, 0, 3, "the light's position", at);
    case COLOR_FLOAT:
      return Floats(payload, size, 0, 3, "the colour", at);
    case SPOT_LIGHT:
      return Floats(payload, size, 0, 5, "the spot's target or cone", at);
    case CAMERA:
      return Floats(payload, size, 0, 8, "the camera", at);
    case CAMERA_RANGES:
      return Floats(payload, size, 0, 2, "the camera's ranges", at);
    case SHAPE_POINTS: {
      const void* nul = std::memchr(payload, 0, size);
      if (nul == nullptr) return std::string();
      size_t from = static_cast<size_t>(static_cast<const uint8_t*>(nul) - payload) + 1 + 4;
      if (from > size) return std::string();
      return Floats(payload, size, from, (size - from) / 4, "a shape point", at);
    }
    default:
      return std::string();
  }
}

}  // namespace tsm
