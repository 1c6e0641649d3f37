// The editor section and its mesh objects: section layout, property chunks, mesh chunks,
// material groups, the size limit and the release of converted meshes.
#include <filesystem>

#include "tests/editor_scene.h"
#include "tests/export_check.h"
#include "tests/material_builders.h"
#include "tests/sample_files.h"

namespace tsm {
namespace {

TEST(EditorMesh, DummiesOnlySectionIsMeshVersionAndMasterScale) {
  MemScene scene;
  AddDummy(scene, "D1");
  AddDummy(scene, "D2");
  SetMasterUnit(0, 2.5);
  EditorRun run(scene);
  int ok = 0;
  std::vector<uint8_t> bytes = run.Section(&ok);
  ResetHostCore();
  EXPECT_EQ(ok, 1);
  ExpectBytes(bytes, ChunkBuilder()
                         .Begin(EDITOR_DATA)
                         .Begin(MESH_VERSION)
                         .U32(3)
                         .End()
                         .Begin(MASTER_SCALE)
                         .F32(2.5f)
                         .End()
                         .End()
                         .Bytes());
  EXPECT_EQ(bytes.size(), 26u);
}

TEST(EditorMesh, TopLevelNodeWithoutPropertiesGivesFifteenByteProperties) {
  MemScene scene;
  AddObjectNode(scene, "Box", NewMesh(scene, 3, 1));
  EditorRun run(scene);
  ExpectBytes(run.Write(OBJECT_PROPERTIES, run.Item("Box")),
              {0xAD, 0xDE, 15, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
}

TEST(EditorMesh, LockSearchTakesTheLastUnlockedPositionOrRotationAxis) {
  struct Case {
    const char* name;
    bool linked;
    std::vector<std::pair<int, int>> unlocked;  // all others locked
    int32_t group, axis;
  } cases[] = {
      {"AllLocked", true, {}, -1, -1},
      {"OnlyPosZ", true, {{0, 2}}, 0, 2},
      {"PosYRotX", true, {{0, 1}, {1, 0}}, 1, 0},
      {"AllFree", true, {{0, 0}, {0, 1}, {0, 2}, {1, 0}, {1, 1}, {1, 2}, {2, 2}}, 1, 2},
      {"ScaleOnly", true, {{2, 0}}, -1, -1},
      {"$Dollar", true, {{0, 2}}, -1, -1},
      {"TopLevel", false, {{0, 2}}, -1, -1},
  };
  for (const Case& c : cases) {
    MemScene scene;
    MemNode* parent = scene.AddNode("Parent");
    MemNode* node = AddObjectNode(scene, c.name, NewMesh(scene, 3, 1), Point3(1, 1, 1),
                                  c.linked ? parent : nullptr);
    node->propertyText = "k=v";
    for (auto& g : node->transformLocked)
      for (bool& a : g) a = true;
    for (auto [g, a] : c.unlocked) node->transformLocked[g][a] = false;
    EditorRun run(scene);
    std::vector<uint8_t> b = run.Write(OBJECT_PROPERTIES, run.Item(c.name));
    ASSERT_EQ(b.size(), 6u + 4 + 8) << c.name;
    EXPECT_EQ(std::string(b.begin() + 6, b.begin() + 10), std::string("k=v\0", 4)) << c.name;
    EXPECT_EQ(int32_t(GetU32(b, 10)), c.group) << c.name;
    EXPECT_EQ(int32_t(GetU32(b, 14)), c.axis) << c.name;
  }
}

// The mesh chunk of a one-mesh scene whose node has the transform t.
struct OneMesh {
  MemScene scene;
  MemMeshObject* mesh;
  MemNode* node;
  explicit OneMesh(int n = 3, int f = 1) {
    mesh = NewMesh(scene, n, f);
    node = AddObjectNode(scene, "M", mesh);
  }
  std::vector<uint8_t> MeshChunk() {
    EditorRun run(scene);
    ObjectListItem* item = run.Item("M");
    item->converted = item->entry->object->ConvertToClass(0, triObjectClassID);
    return run.Write(TRIANGLE_MESH, item);
  }
};

TEST(EditorMesh, MeshAtTheOriginIsMovedByOneThousandthOnEveryAxis) {
  for (float zero : {0.0f, -0.0f}) {
    OneMesh m(2, 0);
    m.node->local.SetRow(0, Point3(2, 0, 0));
    m.node->local.SetTrans(Point3(zero, 0.0f, zero));
    std::vector<uint8_t> b = m.MeshChunk();
    ChunkTree t = ParseOk(b);
    const Chunk* matrix = FindAll(t.top, MESH_MATRIX).at(0);
    for (int k = 0; k < 3; ++k)
      EXPECT_EQ(GetU32(b, matrix->payloadBegin + 36 + 4 * k), 0x3A83126Fu);
    const Chunk* verts = FindAll(t.top, MESH_VERTICES).at(0);
    // Vertex 1 is (1, 2, 3); the node doubles x.
    ExpectBytes(std::vector<uint8_t>(b.begin() + verts->payloadBegin + 14,
                                     b.begin() + verts->payloadBegin + 26),
                F32Bytes({2.0f + 0.001f, 2.0f + 0.001f, 3.0f + 0.001f}));
  }
}

TEST(EditorMesh, NodeQuery96WritesHostVerticesButStillTheNodeMatrix) {
  OneMesh m(2, 0);
  m.node->nodeQuery96 = true;
  std::vector<uint8_t> b = m.MeshChunk();
  ChunkBuilder expect;
  expect.Begin(TRIANGLE_MESH).Begin(MESH_VERTICES).U16(2).F32s({0, 0, 0, 1, 2, 3}).End();
  expect.Begin(MESH_MATRIX).F32s({1, 0, 0, 0, 1, 0, 0, 0, 1, 10, 20, 30}).End().End();
  ExpectBytes(b, expect.Bytes());
}

TEST(EditorMesh, ChunksOfAMeshFollowWhatItHas) {
  struct Case {
    int verts, faces, colors;
    std::vector<uint16_t> children;
  } cases[] = {
      {3, 1, 0, {MESH_VERTICES, MESH_MATRIX, MESH_FACES}},
      {3, 1, 3, {MESH_VERTICES, MESH_VERTEX_COLORS, MESH_MATRIX, MESH_FACES}},
      {3, 0, 0, {MESH_VERTICES, MESH_MATRIX}},
      {0, 1, 0, {MESH_FACES}},
      {0, 0, 3, {}},
  };
  for (const Case& c : cases) {
    OneMesh m(c.verts, c.faces);
    m.mesh->vertexColors.assign(static_cast<size_t>(c.colors), Point3(0.5f, 0.25f, 1.0f));
    ChunkTree t = ParseOk(m.MeshChunk());
    EXPECT_EQ(ChildIds(t.top), c.children) << c.verts << " " << c.faces << " " << c.colors;
  }
}

TEST(EditorMesh, WrongVertexColourCountLeavesAnEmptyChunkAndGoesOn) {
  for (int quiet : {0, 1}) {
    QuietScope q(quiet);
    CaptureSink sink;
    OneMesh m(3, 1);
    m.mesh->vertexColors.assign(2, Point3(1, 0, 0));
    std::vector<uint8_t> b = m.MeshChunk();
    ChunkTree t = ParseOk(b);
    ASSERT_EQ(ChildIds(t.top),
              (std::vector<uint16_t>{MESH_VERTICES, MESH_VERTEX_COLORS, MESH_MATRIX, MESH_FACES}));
    EXPECT_EQ(t.top.children[1].length, 6u);
    ASSERT_EQ(sink.boxes.size(), quiet ? 0u : 1u);
    if (!quiet) {
      EXPECT_EQ(sink.boxes[0].text, "Vert color size is wrong!");
    }
  }
}

TEST(EditorMesh, FaceRecordsCarryEdgeFlagsAndCornerTextureCoordinates) {
  OneMesh m(3, 4);
  int edges[] = {7, 1, 4, 2};  // host bits: all, first-second, third-first, second-third
  for (int f = 0; f < 4; ++f) {
    m.mesh->faces[f].edgeVisible = edges[f];
    m.mesh->faces[f].v = {{f % 3, (f + 1) % 3, (f + 2) % 3}};
  }
  m.mesh->texVerts = {Point3(0.5f, 0.25f, 9), Point3(1, 0, 0), Point3(0, 1, 0)};
  m.mesh->texFaces = {{{0, 1, 2}}, {{2, 1, 0}}, {{1, 99, 0}}, {{0, 0, 0}}};
  std::vector<uint8_t> b = m.MeshChunk();
  ChunkTree t = ParseOk(b);
  const Chunk* faces = FindAll(t.top, MESH_FACES).at(0);
  ChunkBuilder expect;
  expect.U16(4);
  expect.U16(0).U16(1).U16(2).U16(7).F32s({0.5f, 0.25f, 1, 0, 0, 1});
  expect.U16(1).U16(2).U16(0).U16(4).F32s({0, 1, 1, 0, 0.5f, 0.25f});
  // Texture index 99 lies past the three texture vertices: that corner keeps its pair.
  expect.U16(2).U16(0).U16(1).U16(1).F32s({1, 0, 1, 0, 0.5f, 0.25f});
  expect.U16(0).U16(1).U16(2).U16(2).F32s({0.5f, 0.25f, 0.5f, 0.25f, 0.5f, 0.25f});
  ExpectBytes(std::vector<uint8_t>(b.begin() + faces->payloadBegin, b.begin() + faces->payloadEnd),
              expect.Bytes());
}

TEST(EditorMesh, MeshWithoutTextureCoordinatesWritesZeroPairs) {
  OneMesh m(3, 1);
  std::vector<uint8_t> b = m.MeshChunk();
  ChunkTree tree = ParseOk(b);
  const Chunk* faces = FindAll(tree.top, MESH_FACES).at(0);
  for (uint64_t at = faces->payloadBegin + 2 + 8; at < faces->payloadEnd; at += 4)
    EXPECT_EQ(GetU32(b, at), 0u) << at;
}

TEST(EditorMesh, SmoothingChunkOnlyWhenAWordIsNotZero) {
  struct Case {
    std::vector<uint32_t> words;
    bool present;
  } cases[] = {{{0, 0, 0}, false}, {{0, 0x80000000u, 0}, true}, {{1, 2, 4}, true}};
  for (const Case& c : cases) {
    OneMesh m(3, 3);
    for (size_t f = 0; f < 3; ++f) m.mesh->faces[f].smoothing = c.words[f];
    std::vector<uint8_t> b = m.MeshChunk();
    ChunkTree tree = ParseOk(b);
    std::vector<const Chunk*> s = FindAll(tree.top, FACE_SMOOTHING);
    ASSERT_EQ(s.size(), c.present ? 1u : 0u);
    if (!c.present) continue;
    ChunkBuilder expect;
    expect.Begin(FACE_SMOOTHING);
    for (uint32_t w : c.words) expect.U32(w);
    ExpectBytes(ChunkBytes(b, *s[0]), expect.End().Bytes());
  }
}

TEST(EditorMesh, ThreeFacesWithOnePlainMaterialMakeOneGroup) {
  OneMesh m(3, 3);
  m.node->material = NewMaterial(m.scene, "Wood");
  std::vector<uint8_t> b = m.MeshChunk();
  ChunkTree tree = ParseOk(b);
  std::vector<const Chunk*> groups = FindAll(tree.top, FACE_MATERIAL);
  ASSERT_EQ(groups.size(), 1u);
  ExpectBytes(
      ChunkBytes(b, *groups[0]),
      ChunkBuilder().Begin(FACE_MATERIAL).Text("Wood").U16(3).U16(0).U16(1).U16(2).End().Bytes());
}

TEST(EditorMesh, NodeWithoutMaterialHasNoGroups) {
  OneMesh m(3, 3);
  EXPECT_TRUE(FindAll(ParseOk(m.MeshChunk()).top, FACE_MATERIAL).empty());
}

// A mesh with faces of material ids ids, its node carrying a multi/sub material whose
// slots are slots (indices into six numbered materials, -1 for an empty slot).
struct MultiMesh {
  MemScene scene;
  std::vector<HostMaterial*> numbered;
  MemNode* node;
  MultiMesh(const std::vector<int>& ids, const std::vector<int>& slots) {
    for (int i = 0; i < 6; ++i) numbered.push_back(NewMaterial(scene, "Mat" + std::to_string(i)));
    MemMaterial* multi = NewMaterial(scene, "Multi", kMultiMaterialClass);
    for (int s : slots) multi->subMaterials.push_back(s < 0 ? nullptr : numbered[s]);
    MemMeshObject* mesh = NewMesh(scene, 3, static_cast<int>(ids.size()));
    for (size_t f = 0; f < ids.size(); ++f) mesh->faces[f].materialId = ids[f];
    node = AddObjectNode(scene, "Multi01", mesh);
    node->material = multi;
  }
};

TEST(EditorMesh, MultiSubMaterialGroupsFollowTheSlots) {
  struct Case {
    std::vector<int> ids, slots;
    std::vector<std::pair<std::string, std::vector<uint16_t>>> groups;
  } cases[] = {
      {{0, 1, 0}, {5, 2}, {{"Mat5", {0, 2}}, {"Mat2", {1}}}},
      // An empty slot gets no chunk; its faces count as material 0.
      {{0, 1, 2}, {0, -1, 3}, {{"Mat0", {0, 1}}, {"Mat3", {2}}}},
      // Two slots of one material give two chunks with the same content.
      {{1, 0}, {4, 4}, {{"Mat4", {0, 1}}, {"Mat4", {0, 1}}}},
  };
  for (const Case& c : cases) {
    MultiMesh m(c.ids, c.slots);
    EditorRun run(m.scene, m.numbered);
    std::vector<uint8_t> b = run.Section();
    ChunkTree tree = ParseOk(b);
    std::vector<const Chunk*> groups = FindAll(tree.top, FACE_MATERIAL);
    ASSERT_EQ(groups.size(), c.groups.size());
    for (size_t g = 0; g < groups.size(); ++g) {
      ChunkBuilder expect;
      expect.Begin(FACE_MATERIAL)
          .Text(c.groups[g].first.c_str())
          .U16(uint16_t(c.groups[g].second.size()));
      for (uint16_t f : c.groups[g].second) expect.U16(f);
      ExpectBytes(ChunkBytes(b, *groups[g]), expect.End().Bytes());
    }
  }
}

TEST(EditorMesh, GroupOfAMaterialOutsideTheTableIsAnEmptyChunkWithAWarning) {
  OneMesh m(3, 2);
  m.node->material = NewMaterial(m.scene, "Wood");
  EditorRun run(m.scene);
  MeshContext mc;
  mc.mesh = m.mesh->ObjectMesh();
  mc.node = m.node;
  ModuleHandleScope module;
  CaptureSink sink;
  QuietScope q(0);
  for (int32_t d : {-1, 1}) {
    mc.groupMaterial = d;
    int ok = 0;
    ExpectBytes(run.Write(FACE_MATERIAL, &mc, &ok), {0x30, 0x41, 6, 0, 0, 0});
    EXPECT_EQ(ok, 1);
  }
  ASSERT_EQ(sink.boxes.size(), 2u);
  EXPECT_EQ(sink.boxes[0].text, "Material on Object doesn't exist!");
  EXPECT_EQ(sink.boxes[0].caption, "Export Error");
}

TEST(EditorMesh, UnknownIdIsAnEmptyChunkWithAWarning) {
  CaptureSink sink;
  QuietScope q(0);
  MemScene scene;
  EditorRun run(scene);
  int ok = 0;
  ExpectBytes(run.Write(0x4999, nullptr, &ok), {0x99, 0x49, 6, 0, 0, 0});
  EXPECT_EQ(ok, 1);
  ASSERT_EQ(sink.boxes.size(), 1u);
  EXPECT_EQ(sink.boxes[0].text, "Unknown Chunk");
}

// Exports scene into a file of the build tree with the quiet flag; answers the path.
std::string ExportQuiet(MemScene& scene, const char* file) {
  std::string path = TestOutputPath(file);
  ExportInterface ei;
  ei.scene = &scene;
  EXPECT_EQ(ExportToFile(path.c_str(), &ei, &scene, 1, 0), 1);
  return path;
}

TEST(EditorMesh, BogusMaterialIdFailsTheExportEvenInQuietMode) {
  ModuleHandleScope module;
  CaptureSink sink;
  MultiMesh m({0, 1, 2}, {5, 2});
  std::string path = ExportQuiet(m.scene, "bogus_material.tsm");
  EXPECT_EQ(LastRunOutcome(), RunOutcome::WRITE_ERROR);
  EXPECT_FALSE(std::filesystem::exists(path));
  ASSERT_GE(sink.boxes.size(), 1u);
  EXPECT_EQ(sink.boxes[0].text, "Object Multi01's with face id 3 has bogus material index");
  EXPECT_EQ(sink.boxes[0].caption, "");
  EXPECT_EQ(MemConvertedMesh::LiveCount(), 0);
}

TEST(EditorMesh, MeshesUpToTheLimitAreWrittenAndLargerOnesLeftOut) {
  ModuleHandleScope module;
  struct Case {
    int verts, faces;
    bool written;
  } cases[] = {{65530, 65530, true}, {65531, 1, false}, {3, 65531, false}};
  for (const Case& c : cases) {
    for (bool converted : {false, true}) {
      CaptureSink sink;
      MemScene scene;
      AddObjectNode(scene, "Before", NewMesh(scene, 3, 1));
      MemMeshObject* big = NewMesh(scene, c.verts, c.faces);
      if (converted) big->classId = Class_ID(0x1234, 0);  // converts to a new object
      AddObjectNode(scene, "Big", big);
      AddObjectNode(scene, "After", NewLight(scene, false));
      std::string path = ExportQuiet(scene, "limit.tsm");
      EXPECT_EQ(MemConvertedMesh::LiveCount(), 0);
      ASSERT_EQ(LastRunOutcome(), RunOutcome::WRITTEN);
      std::vector<uint8_t> file = ReadFileBytes(path);
      ChunkTree t = ParseOk(file);
      std::vector<std::string> names;
      for (const Chunk* n : FindAll(t.top, NAMED_OBJECT))
        names.push_back(reinterpret_cast<const char*>(file.data() + n->payloadBegin));
      std::vector<std::string> expect = {"Before", "Big", "After"};
      if (!c.written) expect = {"Before", "After"};
      EXPECT_EQ(names, expect) << c.verts << " " << c.faces;
      ASSERT_EQ(sink.boxes.size(), c.written ? 0u : 1u);
      if (!c.written) {
        EXPECT_EQ(sink.boxes[0].text, "Object Big is to large to export");
        EXPECT_EQ(sink.boxes[0].caption, "Export Error");
      }
    }
  }
}

TEST(EditorMesh, InstancesShareOneNamedObjectNamedAfterTheFirstNode) {
  MemScene scene;
  MemMeshObject* mesh = NewMesh(scene, 3, 1);
  AddObjectNode(scene, "First", mesh);
  AddObjectNode(scene, "Second", mesh);
  EditorRun run(scene);
  std::vector<uint8_t> b = run.Section();
  ChunkTree tree = ParseOk(b);
  std::vector<const Chunk*> objects = FindAll(tree.top, NAMED_OBJECT);
  ASSERT_EQ(objects.size(), 1u);
  EXPECT_STREQ(reinterpret_cast<const char*>(b.data() + objects[0]->payloadBegin), "First");
}

TEST(EditorMesh, ConvertedMeshesAreReleasedAndOwnMeshesKept) {
  MemScene scene;
  MemMeshObject* own = NewMesh(scene, 3, 1);
  MemMeshObject* other = NewMesh(scene, 3, 1);
  other->classId = Class_ID(0x1234, 0);
  AddObjectNode(scene, "Own", own);
  AddObjectNode(scene, "Other", other);
  MemObject* empty = scene.AddObject(kFamilyGeometry, Class_ID(0x55, 0), true);
  AddObjectNode(scene, "Empty", empty);
  EditorRun run(scene);
  int ok = 0;
  std::vector<uint8_t> b = run.Section(&ok);
  EXPECT_EQ(ok, 1);
  EXPECT_EQ(MemConvertedMesh::LiveCount(), 0);
  EXPECT_EQ(run.Item("Own")->converted, own);
  EXPECT_EQ(run.Item("Other")->converted, nullptr);
  ChunkTree t = ParseOk(b);
  std::vector<const Chunk*> meshes = FindAll(t.top, TRIANGLE_MESH);
  ASSERT_EQ(meshes.size(), 3u);
  EXPECT_EQ(ChunkBytes(b, *meshes[0]).size(), ChunkBytes(b, *meshes[1]).size());
  EXPECT_EQ(meshes[2]->length, 6u);  // converted to an empty mesh
}

}  // namespace
}  // namespace tsm
