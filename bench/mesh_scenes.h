// A scene generator shared by the benchmarks: distinct grid meshes with texture
// coordinates, vertex colours, smoothing groups and one material each.
#ifndef TSM_BENCH_MESH_SCENES_H
#define TSM_BENCH_MESH_SCENES_H

#include <array>
#include <memory>
#include <string>

#include "scene/mem_material.h"
#include "scene/mem_objects.h"
#include "scene/mem_scene.h"

namespace tsm {

constexpr int kGrid = 181;  // kGrid x kGrid vertices, 2 (kGrid - 1)^2 faces: 32761, 64800

// A scene of meshes distinct grid meshes, each its own node and material; about 3.3 MB of
// chunk file per mesh. Each row of faces is in its own smoothing group.
inline std::unique_ptr<MemScene> GridMeshScene(int meshes) {
  auto scene = std::make_unique<MemScene>();
  for (int m = 0; m < meshes; ++m) {
    auto mesh = std::make_unique<MemMeshObject>();
    for (int y = 0; y < kGrid; ++y)
      for (int x = 0; x < kGrid; ++x) {
        mesh->vertices.emplace_back(float(x), float(y), float((x * y + m) % 7));
        mesh->texVerts.emplace_back(x / float(kGrid - 1), y / float(kGrid - 1), 0.0f);
        mesh->vertexColors.emplace_back(x / 255.0f, y / 255.0f, 0.5f);
      }
    for (int y = 0; y + 1 < kGrid; ++y)
      for (int x = 0; x + 1 < kGrid; ++x) {
        int a = y * kGrid + x, b = a + 1, c = a + kGrid, d = c + 1;
        for (const std::array<int, 3>& tri : {std::array<int, 3>{a, b, d}, {a, d, c}}) {
          MemFace face;
          face.v = tri;
          face.smoothing = 1u << (y % 32);
          mesh->faces.push_back(face);
          mesh->texFaces.push_back(tri);
        }
      }
    auto material = std::make_unique<MemMaterial>();
    material->name = "Grid" + std::to_string(m);
    MemNode* node = scene->AddNode("Mesh" + std::to_string(m));
    node->object = scene->Own(std::move(mesh));
    node->material = scene->Own(std::move(material));
    node->local.SetTrans(Point3(float(m), 0.0f, 0.0f));
  }
  return scene;
}

}  // namespace tsm

#endif  // TSM_BENCH_MESH_SCENES_H
