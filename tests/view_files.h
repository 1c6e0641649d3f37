// Chunk files for the preview and summary tests, built with the writers' own framing:
// a scene description (materials, meshes, lights, cameras, shapes and keyframer nodes
// with position tracks) and the file that an export of such a scene holds.
#ifndef TSM_TESTS_VIEW_FILES_H
#define TSM_TESTS_VIEW_FILES_H

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "tests/sample_files.h"

namespace tsm {

using P3 = std::array<float, 3>;

struct TestMaterial {
  std::string name;
  std::array<uint8_t, 3> diffuse;
  bool twoSided = false;
};
struct TestMesh {
  std::string name;
  std::vector<P3> vertices;  // world space
  std::vector<std::array<uint16_t, 3>> faces;
  std::string material;  // empty: no FACE_MATERIAL
};
struct TestLight {
  std::string name;
  P3 position;
  P3 color{{1, 1, 1}};
};
struct TestCamera {
  std::string name;
  P3 position;
  P3 target;
  float lens;
};
struct TestShape {
  std::string name;
  std::vector<P3> points;
};
struct TestNode {
  uint16_t id;
  std::string name;
  uint16_t parent = NO_PARENT;
  std::vector<std::pair<uint32_t, P3>> keys;  // frame, position; empty: one key at origin
};
struct TestScene {
  std::vector<TestMaterial> materials;
  std::vector<TestMesh> meshes;
  std::vector<TestLight> lights;
  std::vector<TestCamera> cameras;
  std::vector<TestShape> shapes;
  std::vector<TestNode> nodes;
  uint32_t currentTime = 0;  // ticks
};

inline ChunkBuilder& Point(ChunkBuilder& b, const P3& p) {
  return b.F32s({p[0], p[1], p[2]});
}

inline ChunkBuilder& Properties(ChunkBuilder& b) {
  return b.Begin(OBJECT_PROPERTIES).Text("").I32(-1).I32(-1).End();
}

// A one-key track of three floats.
inline ChunkBuilder& Track3(ChunkBuilder& b, int32_t id, const P3& v) {
  return Point(SingleKeyTrack(b, id), v).End();
}

// The file an export of scene holds: skeleton, material blocks, named objects in the
// order meshes, lights, cameras, shapes, then the keyframer nodes.
inline std::vector<uint8_t> BuildFile(const TestScene& scene) {
  ChunkBuilder b;
  b.Begin(MOD_MAIN);
  b.Begin(FILE_VERSION).U32(3).End();
  b.Begin(EDITOR_DATA);
  b.Begin(MESH_VERSION).U32(3).End();
  for (const TestMaterial& m : scene.materials) {
    b.Begin(MATERIAL_BLOCK);
    b.Begin(MATERIAL_NAME).Text(m.name.c_str()).End();
    b.Begin(MATERIAL_AMBIENT).Begin(COLOR_BYTES).Bytes({0, 0, 0}).End().End();
    b.Begin(MATERIAL_DIFFUSE).Begin(COLOR_BYTES);
    b.U8(m.diffuse[0]).U8(m.diffuse[1]).U8(m.diffuse[2]).End().End();
    b.Begin(MATERIAL_SPECULAR).Begin(COLOR_BYTES).Bytes({255, 255, 255}).End().End();
    b.Begin(MATERIAL_SHADING).U16(1).End();
    if (m.twoSided) b.Flag(MATERIAL_TWO_SIDED);
    b.Begin(MATERIAL_WIRE_SIZE).F32(1.0f).End();
    b.End();
  }
  b.Begin(MASTER_SCALE).F32(1.0f).End();
  for (const TestMesh& m : scene.meshes) {
    Properties(b.Begin(NAMED_OBJECT).Text(m.name.c_str()));
    b.Begin(TRIANGLE_MESH);
    b.Begin(MESH_VERTICES).U16(static_cast<uint16_t>(m.vertices.size()));
    for (const P3& v : m.vertices) Point(b, v);
    b.End();
    b.Begin(MESH_MATRIX).F32s({1, 0, 0, 0, 1, 0, 0, 0, 1, 0.001f, 0.001f, 0.001f}).End();
    b.Begin(MESH_FACES).U16(static_cast<uint16_t>(m.faces.size()));
    for (const auto& f : m.faces) b.U16(f[0]).U16(f[1]).U16(f[2]).U16(7).F32s({0, 0, 0, 0, 0, 0});
    if (!m.material.empty()) {
      b.Begin(FACE_MATERIAL).Text(m.material.c_str()).U16(static_cast<uint16_t>(m.faces.size()));
      for (size_t i = 0; i < m.faces.size(); ++i) b.U16(static_cast<uint16_t>(i));
      b.End();
    }
    b.End().End().End();  // MESH_FACES, TRIANGLE_MESH, NAMED_OBJECT
  }
  for (const TestLight& l : scene.lights) {
    Properties(b.Begin(NAMED_OBJECT).Text(l.name.c_str()));
    Point(b.Begin(LIGHT), l.position);
    Point(b.Begin(COLOR_FLOAT), l.color).End();
    b.Begin(LIGHT_OUTER_RANGE).F32(1000).End();
    b.Begin(LIGHT_INNER_RANGE).F32(10).End();
    b.Begin(LIGHT_MULTIPLIER).F32(1).End();
    b.End().End();
  }
  for (const TestCamera& c : scene.cameras) {
    Properties(b.Begin(NAMED_OBJECT).Text(c.name.c_str()));
    Point(Point(b.Begin(CAMERA), c.position), c.target).F32(0).F32(c.lens);
    b.Begin(CAMERA_RANGES).F32(1).F32(1000).End();
    b.End().End();
  }
  for (const TestShape& s : scene.shapes) {
    Properties(b.Begin(NAMED_OBJECT).Text(s.name.c_str()));
    b.Begin(SHAPE_POINTS).Text("Scene Root").I32(static_cast<int32_t>(s.points.size()));
    for (const P3& p : s.points) Point(b, p);
    b.End().End();
  }
  b.End();  // EDITOR_DATA

  b.Begin(KEYFRAMER_DATA);
  b.Begin(KF_HEADER).U16(5).Text("ORBSCENE").U32(100).End();
  b.Begin(KF_SEGMENT).U32(0).U32(100).End();
  b.Begin(KF_CURRENT_TIME).U32(scene.currentTime).End();
  for (const TestNode& n : scene.nodes) {
    b.Begin(OBJECT_NODE);
    b.Begin(NODE_ID).U16(n.id).End();
    b.Begin(NODE_HEADER).Text(n.name.c_str()).U16(0x4000).U16(0).U16(n.parent).End();
    Point(b.Begin(NODE_PIVOT), {0, 0, 0}).End();
    if (n.keys.empty()) {
      Track3(b, POSITION_TRACK, {0, 0, 0});
    } else {
      b.Begin(POSITION_TRACK).U16(0).U32(n.keys.front().first).U32(n.keys.back().first);
      b.U32(static_cast<uint32_t>(n.keys.size()));
      for (const auto& k : n.keys) Point(b.U32(k.first).U16(0), k.second);
      b.End();
    }
    SingleKeyTrack(b, ROTATION_TRACK).F32s({0, 0, 0, 1}).End();
    Track3(b, SCALE_TRACK, {1, 1, 1});
    b.End();
  }
  b.End();  // KEYFRAMER_DATA
  b.End();  // MOD_MAIN
  return b.Bytes();
}

// A triangle in the plane y = depth, facing -y, spanning x and z from -size to size.
inline TestMesh FacingTriangle(const std::string& name, float depth, float size,
                               const std::string& material) {
  return {name,
          {{{-size, depth, -size}}, {{size, depth, -size}}, {{0, depth, size}}},
          {{{0, 1, 2}}},
          material};
}

// One red triangle at y = 0 seen by camera "Front" from (0, -10, 0), lens 48 (a field
// of view of 50 degrees), with a light off to the side.
inline TestScene RedTriangleScene() {
  TestScene s;
  s.materials.push_back({"Red", {{255, 0, 0}}});
  s.meshes.push_back(FacingTriangle("Tri", 0.0f, 1.0f, "Red"));
  s.lights.push_back({"Lamp", {{-30, -30, 30}}});
  s.cameras.push_back({"Front", {{0, -10, 0}}, {{0, 0, 0}}, 48.0f});
  return s;
}

}  // namespace tsm

#endif  // TSM_TESTS_VIEW_FILES_H
