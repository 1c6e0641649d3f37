// Chunk files for the reader and tool tests: a builder that frames chunks through the
// writers' own OpenChunk/CloseChunk, a file that holds every kind of container and most
// payload layouts, and the corrupted copies that the tool tests feed to tsmdump.
#ifndef TSM_TESTS_SAMPLE_FILES_H
#define TSM_TESTS_SAMPLE_FILES_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "writer/chunk_ids.h"
#include "writer/chunk_io.h"
#include "writer/file_writer.h"

namespace tsm {

// Builds a file in memory: Begin/End frame a chunk, the value writers fill payloads.
class ChunkBuilder {
 public:
  ChunkBuilder& Begin(int32_t id) {
    marks_.emplace_back();
    ok_ = OpenChunk(s_, id, &marks_.back()) && ok_;
    return *this;
  }
  ChunkBuilder& End() {
    ok_ = CloseChunk(s_, marks_.back()) && ok_;
    marks_.pop_back();
    return *this;
  }
  ChunkBuilder& U8(uint8_t v) { return Ok(WriteU8(s_, v)); }
  ChunkBuilder& U16(uint16_t v) { return Ok(WriteU16(s_, v)); }
  ChunkBuilder& U32(uint32_t v) { return Ok(WriteU32(s_, v)); }
  ChunkBuilder& I32(int32_t v) { return Ok(WriteI32(s_, v)); }
  ChunkBuilder& F32(float v) { return Ok(WriteF32(s_, v)); }
  ChunkBuilder& F32s(std::initializer_list<float> vs) {
    for (float v : vs) F32(v);
    return *this;
  }
  ChunkBuilder& Text(const char* t) { return Ok(WriteText(s_, t)); }
  ChunkBuilder& Bytes(std::initializer_list<uint8_t> bs) {
    for (uint8_t b : bs) U8(b);
    return *this;
  }
  // A chunk with no payload.
  ChunkBuilder& Flag(int32_t id) { return Begin(id).End(); }

  // The bytes; every chunk must have been ended and every write must have succeeded.
  std::vector<uint8_t> Bytes() const { return ok_ && marks_.empty() ? s_.Bytes() : Empty(); }

 private:
  static std::vector<uint8_t> Empty() { return {}; }
  ChunkBuilder& Ok(bool ok) {
    ok_ = ok && ok_;
    return *this;
  }
  MemoryStream s_;
  std::vector<ChunkMark> marks_;
  bool ok_ = true;
};

// The bare skeleton of a file, 28 bytes: MOD_MAIN with FILE_VERSION and both sections
// empty. Built chunk by chunk, so that it stays the same while the writers fill the
// sections.
inline std::vector<uint8_t> SkeletonFile() {
  ChunkBuilder b;
  b.Begin(MOD_MAIN).Begin(FILE_VERSION).U32(3).End();
  b.Flag(EDITOR_DATA).Flag(KEYFRAMER_DATA);
  return b.End().Bytes();
}

// A one-key track body: header with frames 0, 0 and count 1, key at frame 0 without
// spline parameters; the caller adds the value.
inline ChunkBuilder& SingleKeyTrack(ChunkBuilder& b, int32_t id) {
  return b.Begin(id).U16(0).U32(0).U32(0).U32(1).U32(0).U16(0);
}

// A valid file with a material, a mesh, a spot light, a camera, a shape and keyframer
// nodes: every kind of container and most payload layouts.
inline std::vector<uint8_t> RichFile() {
  ChunkBuilder b;
  b.Begin(MOD_MAIN);
  b.Begin(FILE_VERSION).U32(3).End();
  b.Begin(EDITOR_DATA);
  b.Begin(MESH_VERSION).U32(3).End();

  b.Begin(MATERIAL_BLOCK);
  b.Begin(MATERIAL_NAME).Text("Matl").End();
  b.Begin(MATERIAL_AMBIENT);
  b.Begin(COLOR_BYTES).Bytes({10, 20, 30}).End();
  b.Begin(COLOR_BYTES_LINEAR).Bytes({1, 2, 3}).End();
  b.End();
  b.Begin(MATERIAL_SHININESS).Begin(PERCENTAGE).U16(50).End().End();
  b.Begin(MATERIAL_SHADING).U16(3).End();
  b.Flag(MATERIAL_TWO_SIDED);
  b.Begin(MATERIAL_WIRE_SIZE).F32(1.0f).End();
  b.Begin(MAP_TEXTURE);
  b.Begin(PERCENTAGE).U16(100).End();
  b.Begin(MAP_FILE_NAME).Text("wood.png").End();
  b.Begin(MAP_TILING).U16(0x10).End();
  b.Begin(MAP_BLUR).F32(0.5f).End();
  b.Begin(MAP_ROTATION).F32(-90.0f).End();
  b.End();
  b.Begin(MAP_DATA_TEXTURE).Bytes({0xDE, 0xAD, 0xBE, 0xEF}).End();
  b.Begin(MASK_TEXTURE).Begin(MAP_FILE_NAME).Text("mask.png").End().End();
  b.Begin(MAP_AUTO_REFLECTION).U8(4).U8(0).U16(1).I32(100).I32(1).End();
  b.End();  // MATERIAL_BLOCK

  b.Begin(MASTER_SCALE).F32(1.0f).End();

  b.Begin(NAMED_OBJECT).Text("Box01");
  b.Begin(OBJECT_PROPERTIES).Text("").I32(-1).I32(-1).End();
  b.Begin(TRIANGLE_MESH);
  b.Begin(MESH_VERTICES).U16(3).F32s({0, 0, 0, 1, 0, 0, 0, 1, 0}).End();
  b.Begin(MESH_MATRIX).F32s({1, 0, 0, 0, 1, 0, 0, 0, 1, 0.001f, 0.001f, 0.001f}).End();
  b.Begin(MESH_FACES).U16(1).U16(0).U16(1).U16(2).U16(7).F32s({0, 0, 1, 0, 0, 1});
  b.Begin(FACE_MATERIAL).Text("Matl").U16(1).U16(0).End();
  b.Begin(FACE_SMOOTHING).U32(1).End();
  b.End();  // MESH_FACES
  b.End();  // TRIANGLE_MESH
  b.End();  // NAMED_OBJECT

  b.Begin(NAMED_OBJECT).Text("Spot");
  b.Begin(OBJECT_PROPERTIES).Text("").I32(-1).I32(-1).End();
  b.Begin(LIGHT).F32s({1, 2, 3});
  b.Begin(COLOR_FLOAT).F32s({1, 1, 1}).End();
  b.Begin(LIGHT_OUTER_RANGE).F32(100).End();
  b.Begin(LIGHT_INNER_RANGE).F32(10).End();
  b.Begin(LIGHT_MULTIPLIER).F32(1).End();
  b.Begin(SPOT_LIGHT).F32s({0, 0, 0, 30, 45});
  b.Begin(SPOT_ROLL).F32(0).End();
  b.Begin(SPOT_SHADOW_MAP).F32(1).F32(4).U16(512).End();
  b.Begin(SPOT_RAY_BIAS).F32(0.2f).End();
  b.End();  // SPOT_LIGHT
  b.Flag(LIGHT_OFF);
  b.End();  // LIGHT
  b.End();  // NAMED_OBJECT

  b.Begin(NAMED_OBJECT).Text("Cam");
  b.Begin(OBJECT_PROPERTIES).Text("").I32(-1).I32(-1).End();
  b.Begin(CAMERA).F32s({0, -10, 0, 0, 0, 0, 0, 50});
  b.Begin(CAMERA_RANGES).F32(1).F32(1000).End();
  b.End();  // CAMERA
  b.End();  // NAMED_OBJECT

  b.Begin(NAMED_OBJECT).Text("Line");
  b.Begin(OBJECT_PROPERTIES).Text("").I32(-1).I32(-1).End();
  b.Begin(SHAPE_POINTS).Text("Scene Root").I32(2).F32s({0, 0, 0, 1, 1, 1}).End();
  b.End();  // NAMED_OBJECT
  b.End();  // EDITOR_DATA

  b.Begin(KEYFRAMER_DATA);
  b.Begin(KF_HEADER).U16(5).Text("ORBSCENE").U32(100).End();
  b.Begin(KF_SEGMENT).U32(0).U32(100).End();
  b.Begin(KF_CURRENT_TIME).U32(1600).End();
  b.Begin(OBJECT_NODE);
  b.Begin(NODE_ID).U16(0).End();
  b.Begin(NODE_HEADER).Text("Box01").U16(0x4000).U16(0).U16(NO_PARENT).End();
  b.Begin(NODE_PIVOT).F32s({0, 0, 0}).End();
  SingleKeyTrack(b, POSITION_TRACK).F32s({0, 0, 0}).End();
  // Two keys, the second with tension and ease-from parameters.
  b.Begin(ROTATION_TRACK).U16(0).U32(0).U32(20).U32(2);
  b.U32(0).U16(0).F32s({0, 0, 0, 1});
  b.U32(20).U16(0x11).F32s({0.5f, 0.25f}).F32s({1.5f, 0, 0, 1});
  b.End();
  SingleKeyTrack(b, SCALE_TRACK).F32s({1, 1, 1}).End();
  b.End();  // OBJECT_NODE
  b.Begin(CAMERA_NODE);
  b.Begin(NODE_ID).U16(1).End();
  b.Begin(NODE_HEADER).Text("Cam").U16(0x4000).U16(0).U16(0).End();
  SingleKeyTrack(b, FOV_TRACK).F32(45).End();
  b.End();  // CAMERA_NODE
  b.End();  // KEYFRAMER_DATA
  b.End();  // MOD_MAIN
  return b.Bytes();
}

// Little-endian patches for corrupting copies.
inline void PutU16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
  b.at(at) = static_cast<uint8_t>(v);
  b.at(at + 1) = static_cast<uint8_t>(v >> 8);
}
inline void PutU32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.at(at + i) = static_cast<uint8_t>(v >> (8 * i));
}

// Writes bytes to path; answers false when that fails.
inline bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace tsm

#endif  // TSM_TESTS_SAMPLE_FILES_H
