// The editor section as a whole: a scene with every chunk kind, short writes at every
// byte of it, and the example scenes.
#include <set>

#include "formats/json/scene_json.h"
#include "reader/chunk_dump.h"
#include "tests/editor_scene.h"
#include "tests/export_check.h"
#include "tests/material_builders.h"

namespace tsm {
namespace {

// Every chunk id that the editor writer itself writes.
const std::set<uint16_t> kEditorIds = {EDITOR_DATA,
                                       MESH_VERSION,
                                       MASTER_SCALE,
                                       NAMED_OBJECT,
                                       OBJECT_PROPERTIES,
                                       TRIANGLE_MESH,
                                       MESH_VERTICES,
                                       MESH_VERTEX_COLORS,
                                       MESH_MATRIX,
                                       MESH_FACES,
                                       FACE_MATERIAL,
                                       FACE_SMOOTHING,
                                       LIGHT,
                                       COLOR_FLOAT,
                                       LIGHT_OUTER_RANGE,
                                       LIGHT_INNER_RANGE,
                                       LIGHT_MULTIPLIER,
                                       LIGHT_OFF,
                                       LIGHT_ATTENUATE,
                                       SPOT_LIGHT,
                                       SPOT_ROLL,
                                       SPOT_SHADOWED,
                                       SPOT_SHADOW_MAP,
                                       SPOT_SHOW_CONE,
                                       SPOT_RECTANGULAR,
                                       SPOT_ASPECT,
                                       SPOT_OVERSHOOT,
                                       SPOT_RAY_BIAS,
                                       SPOT_RAYTRACE_SHADOWS,
                                       CAMERA,
                                       CAMERA_RANGES,
                                       SHAPE_POINTS};

void CollectIds(const Chunk& c, std::set<uint16_t>* ids) {
  if (kEditorIds.count(c.id)) ids->insert(c.id);
  for (const Chunk& child : c.children) CollectIds(child, ids);
}

// A scene with every chunk kind of the section; its mesh converts to a new object.
void BuildFullScene(MemScene& scene) {
  MemMaterial* wood = NewMaterial(scene, "Wood");
  MemMaterial* multi = NewMaterial(scene, "Multi", kMultiMaterialClass);
  multi->subMaterials = {wood, nullptr, NewMaterial(scene, "Stone")};
  MemMeshObject* mesh = NewMesh(scene, 3, 2);
  mesh->classId = Class_ID(0x77, 0);
  mesh->vertexColors.assign(3, Point3(1, 0, 0));
  mesh->faces[0].smoothing = 1;
  mesh->faces[1].materialId = 2;
  mesh->texVerts = {Point3(0, 0, 0), Point3(1, 1, 0)};
  mesh->texFaces = {{{0, 1, 0}}, {{1, 1, 1}}};
  MemNode* parent = AddObjectNode(scene, "Box", mesh);
  parent->material = multi;
  MemLightObject* off = NewLight(scene, false);
  off->on = false;
  off->attenuate = true;
  AddObjectNode(scene, "Omni", off);
  MemLightObject* spot = NewLight(scene, true);
  spot->castShadows = spot->coneDisplayed = spot->rectangular = spot->overshoot = true;
  spot->rayTracedShadows = true;
  spot->useGlobalShadows = false;
  AddTargeted(scene, "Spot", spot, Point3(1, 2, 3), Point3(0, 0, 0));
  AddTargeted(scene, "Cam", scene.Own(std::make_unique<MemCameraObject>()), Point3(5, 5, 5),
              Point3(0, 0, 0));
  auto* shape = scene.Own(std::make_unique<MemShapeObject>());
  shape->splines.resize(2);
  shape->splines[0].knots.resize(2);
  shape->splines[1].knots.resize(2);
  AddObjectNode(scene, "Rope", shape, Point3(1, 1, 1), parent);
}

TEST(EditorSection, ShortWriteAtEveryByteFailsAndReleasesTheConvertedMesh) {
  QuietScope quiet(1);
  MemScene scene;
  BuildFullScene(scene);
  EditorRun run(scene);
  int ok = 0;
  std::vector<uint8_t> good = run.Section(&ok);
  ASSERT_EQ(ok, 1);
  ChunkTree t = ParseOk(good);
  std::set<uint16_t> ids;
  CollectIds(t.top, &ids);
  EXPECT_EQ(ids, kEditorIds);
  EXPECT_EQ(MemConvertedMesh::LiveCount(), 0);
  for (uint64_t at = 0; at < good.size(); ++at) {
    ShortWriteStream s(at);
    EXPECT_EQ(WriteEditorChunk(EDITOR_DATA, s, nullptr), 0) << "fail at " << at;
    EXPECT_EQ(MemConvertedMesh::LiveCount(), 0) << "fail at " << at;
    // Nothing was patched: the section's length still holds its placeholder.
    if (s.Bytes().size() >= 6) {
      EXPECT_EQ(GetU32(s.Bytes(), 2), 2u) << "fail at " << at;
    }
  }
}

TEST(EditorSection, ExamplesTogetherCarryEveryChunkKindAndPassTheCheck) {
  std::set<uint16_t> ids;
  for (const char* name : {"showroom", "minimal"}) {
    MemScene scene;
    LoadResult r = LoadJsonScene(std::string(TSM_SOURCE_DIR "/examples/") + name + ".json", scene);
    ASSERT_TRUE(r.ok) << r.error;
    scene.ApplyHostSettings();
    std::string path = TestOutputPath(std::string(name) + "_editor.tsm");
    ExportInterface ei;
    ei.scene = &scene;
    ASSERT_EQ(ExportToFile(path.c_str(), &ei, &scene, 1, 0), 1);
    ResetHostCore();
    ASSERT_EQ(LastRunOutcome(), RunOutcome::WRITTEN) << name;
    std::vector<uint8_t> bytes = ReadFileBytes(path);
    FileCheck check = CheckChunkFile(bytes);
    EXPECT_TRUE(check.ok) << name << ": " << check.error;
    CollectIds(ParseOk(bytes).top, &ids);
  }
  EXPECT_EQ(ids, kEditorIds);
}

}  // namespace
}  // namespace tsm
