// Shared set-up of the editor-section tests: scene builders for meshes, lights, cameras
// and shapes, a prepared run whose lists the editor writer reads, and lookups in the
// chunk tree of what it wrote.
#ifndef TSM_TESTS_EDITOR_SCENE_H
#define TSM_TESTS_EDITOR_SCENE_H

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "material/material_table.h"
#include "reader/chunk_reader.h"
#include "run/export_run.h"
#include "run/scene_lists.h"
#include "scene/mem_controllers.h"
#include "scene/mem_material.h"
#include "scene/mem_objects.h"
#include "scene/mem_scene.h"
#include "tests/test_util.h"
#include "writer/editor_writer.h"
#include "writer/file_writer.h"

namespace tsm {

// A mesh object of n vertices (i, 2i, 3i) and f faces (0, 1, 2), owned by scene.
inline MemMeshObject* NewMesh(MemScene& scene, int n, int f) {
  auto mesh = std::make_unique<MemMeshObject>();
  for (int i = 0; i < n; ++i) mesh->vertices.emplace_back(float(i), float(2 * i), float(3 * i));
  mesh->faces.resize(static_cast<size_t>(f));
  for (MemFace& face : mesh->faces) face.v = {{0, 1, 2}};
  return scene.Own(std::move(mesh));
}

// A top-level node named name holding object, at position pos.
inline MemNode* AddObjectNode(MemScene& scene, const char* name, MemObject* object,
                              const Point3& pos = Point3(10, 20, 30), MemNode* parent = nullptr) {
  MemNode* node = scene.AddNode(name, parent);
  node->object = object;
  node->local.SetTrans(pos);
  return node;
}

inline MemLightObject* NewLight(MemScene& scene, bool spot) {
  return scene.Own(std::make_unique<MemLightObject>(spot));
}

// A node with its look-at target node (named name + ".Target") at target.
inline MemNode* AddTargeted(MemScene& scene, const char* name, MemObject* object, const Point3& pos,
                            const Point3& target) {
  MemNode* node = AddObjectNode(scene, name, object, pos);
  MemNode* t = AddObjectNode(scene, (std::string(name) + ".Target").c_str(),
                             scene.AddObject(kFamilyHelper, kTargetObjectClass), target);
  MemScene::SetLookAt(node, t);
  return node;
}

// The run's lists over a scene, set as the run-wide pointers while it lives. Materials
// in first enter the table before the scene's, so they get the numbers 0, 1, ...
class EditorRun {
 public:
  explicit EditorRun(MemScene& scene, const std::vector<HostMaterial*>& first = {}) {
    for (HostMaterial* m : first) materials_.AddMaterial(m);
    entries_ = std::make_unique<SceneEnumerator>(&scene, scene.CurrentTime(), &scene, &materials_);
    entries_->NamePass();
    objects_.Build(*entries_);
    RunEntries = entries_.get();
    RunMaterials = &materials_;
    RunObjects = &objects_;
  }
  ~EditorRun() {
    RunEntries = nullptr;
    RunMaterials = nullptr;
    RunObjects = nullptr;
  }

  // The object-list item of the node named name, or null.
  ObjectListItem* Item(const std::string& name) const {
    for (ObjectListItem* i = objects_.First(); i != nullptr; i = i->next)
      if (i->entry->name == name) return i;
    return nullptr;
  }

  // Writes chunk id with context; *result gets the writer's answer.
  std::vector<uint8_t> Write(int32_t id, void* context, int* result = nullptr) const {
    MemoryStream s;
    int r = WriteEditorChunk(id, s, context);
    if (result != nullptr) *result = r;
    return s.Bytes();
  }
  std::vector<uint8_t> Section(int* result = nullptr) const {
    return Write(EDITOR_DATA, nullptr, result);
  }

  MaterialTable& Materials() { return materials_; }

 private:
  MaterialTable materials_;
  std::unique_ptr<SceneEnumerator> entries_;
  ObjectList objects_;
};

// Every chunk of id in the tree below c (c included), depth first in file order.
inline void FindAll(const Chunk& c, uint16_t id, std::vector<const Chunk*>* out) {
  if (c.id == id) out->push_back(&c);
  for (const Chunk& child : c.children) FindAll(child, id, out);
}
inline std::vector<const Chunk*> FindAll(const Chunk& c, uint16_t id) {
  std::vector<const Chunk*> out;
  FindAll(c, id, &out);
  return out;
}

// The ids of c's children in order.
inline std::vector<uint16_t> ChildIds(const Chunk& c) {
  std::vector<uint16_t> ids;
  for (const Chunk& child : c.children) ids.push_back(child.id);
  return ids;
}

// The bytes of chunk c, header included.
inline std::vector<uint8_t> ChunkBytes(const std::vector<uint8_t>& file, const Chunk& c) {
  return std::vector<uint8_t>(file.begin() + c.offset, file.begin() + c.End());
}

// Parses bytes as one chunk tree; fails the test when its framing is broken.
inline ChunkTree ParseOk(const std::vector<uint8_t>& bytes) {
  ChunkTree t = ReadChunkTree(bytes);
  EXPECT_TRUE(t.ok) << t.error;
  return t;
}

// Little-endian bytes of a float.
inline std::vector<uint8_t> F32Bytes(std::initializer_list<float> vs) {
  std::vector<uint8_t> b;
  for (float v : vs) {
    uint32_t bits;
    std::memcpy(&bits, &v, 4);
    for (int k = 0; k < 4; ++k) b.push_back(static_cast<uint8_t>(bits >> (8 * k)));
  }
  return b;
}

// Restores QuietMode when it ends.
struct QuietScope {
  explicit QuietScope(int quiet) : saved(QuietMode) { QuietMode = quiet; }
  ~QuietScope() { QuietMode = saved; }
  int saved;
};

}  // namespace tsm

#endif  // TSM_TESTS_EDITOR_SCENE_H
