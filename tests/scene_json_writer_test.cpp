// The JSON scene writer: an imported scene written and loaded back is the same scene,
// field by field, and exports to the same bytes; animation is written in the agreed
// controller syntax; the example imports export to files that tsmdump accepts.
#include "scene/scene_json_writer.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <nlohmann/json.hpp>

#include "reader/chunk_dump.h"
#include "scene/gltf_loader.h"
#include "scene/mem_controllers.h"
#include "scene/mem_material.h"
#include "scene/mem_objects.h"
#include "scene/obj_loader.h"
#include "scene/scene_json.h"
#include "tests/import_builders.h"

namespace tsm {
namespace {

const std::string kExamples = TSM_SOURCE_DIR "/examples";

// Compares two scenes member by member, following links by position.
class SceneCompare {
 public:
  SceneCompare(const MemScene& a, const MemScene& b) : a_(a), b_(b) {}

  void Run() {
    EXPECT_EQ(a_.ticksPerFrame, b_.ticksPerFrame);
    EXPECT_EQ(a_.animationRange.Start(), b_.animationRange.Start());
    EXPECT_EQ(a_.animationRange.End(), b_.animationRange.End());
    EXPECT_EQ(a_.currentTime, b_.currentTime);
    EXPECT_EQ(a_.masterUnitType, b_.masterUnitType);
    ASSERT_EQ(a_.Nodes().size(), b_.Nodes().size());
    for (size_t i = 0; i < a_.Nodes().size(); ++i) {
      index_[a_.Nodes()[i].get()] = i;
      indexB_[b_.Nodes()[i].get()] = i;
    }
    for (size_t i = 0; i < a_.Nodes().size(); ++i) Node(*a_.Nodes()[i], *b_.Nodes()[i]);
  }

 private:
  long Index(const MemNode* n, bool second) const {
    const auto& m = second ? indexB_ : index_;
    auto it = m.find(n);
    return it == m.end() ? -1 : long(it->second);
  }

  void Node(const MemNode& a, const MemNode& b) {
    SCOPED_TRACE("node " + a.name);
    EXPECT_EQ(a.name, b.name);
    EXPECT_EQ(Index(a.parent, false), Index(b.parent, true));
    EXPECT_EQ(a.local, b.local);
    EXPECT_EQ(Index(a.lookAt, false), Index(b.lookAt, true));
    EXPECT_EQ(a.isTarget, b.isTarget);
    EXPECT_EQ(Index(a.owner, false), Index(b.owner, true));
    EXPECT_EQ(a.meshAccepted, b.meshAccepted);
    ASSERT_EQ(a.object == nullptr, b.object == nullptr);
    if (a.object != nullptr) Object(*a.object, *b.object);
    Material(a.material, b.material);
  }

  void Object(MemObject& a, MemObject& b) {
    EXPECT_EQ(a.family, b.family);
    EXPECT_EQ(a.classId, b.classId);
    EXPECT_EQ(a.convertibleToMesh, b.convertibleToMesh);
    if (auto* ma = dynamic_cast<MemMeshObject*>(&a)) {
      auto* mb = dynamic_cast<MemMeshObject*>(&b);
      ASSERT_NE(mb, nullptr);
      EXPECT_EQ(ma->vertices, mb->vertices);
      EXPECT_EQ(ma->texVerts, mb->texVerts);
      EXPECT_EQ(ma->texFaces, mb->texFaces);
      EXPECT_EQ(ma->vertexColors, mb->vertexColors);
      ASSERT_EQ(ma->faces.size(), mb->faces.size());
      for (size_t f = 0; f < ma->faces.size(); ++f) {
        EXPECT_EQ(ma->faces[f].v, mb->faces[f].v);
        EXPECT_EQ(ma->faces[f].smoothing, mb->faces[f].smoothing);
        EXPECT_EQ(ma->faces[f].materialId, mb->faces[f].materialId);
        EXPECT_EQ(ma->faces[f].edgeVisible, mb->faces[f].edgeVisible);
      }
    } else if (auto* ca = dynamic_cast<MemCameraObject*>(&a)) {
      auto* cb = dynamic_cast<MemCameraObject*>(&b);
      ASSERT_NE(cb, nullptr);
      EXPECT_EQ(ca->fov, cb->fov);
      EXPECT_EQ(ca->nearRange, cb->nearRange);
      EXPECT_EQ(ca->farRange, cb->farRange);
    } else if (auto* la = dynamic_cast<MemLightObject*>(&a)) {
      auto* lb = dynamic_cast<MemLightObject*>(&b);
      ASSERT_NE(lb, nullptr);
      EXPECT_EQ(la->color, lb->color);
      EXPECT_EQ(la->intensity, lb->intensity);
      EXPECT_EQ(la->attenuate, lb->attenuate);
      EXPECT_EQ(la->attenStart, lb->attenStart);
      EXPECT_EQ(la->attenEnd, lb->attenEnd);
      if (la->IsSpot()) {
        EXPECT_EQ(la->hotspot, lb->hotspot);
        EXPECT_EQ(la->falloff, lb->falloff);
      }
    } else if (auto* da = dynamic_cast<MemDummyObject*>(&a)) {
      auto* db = dynamic_cast<MemDummyObject*>(&b);
      ASSERT_NE(db, nullptr);
      EXPECT_EQ(da->box.pmin, db->box.pmin);
      EXPECT_EQ(da->box.pmax, db->box.pmax);
    }
  }

  void Material(HostMaterial* ha, HostMaterial* hb) {
    ASSERT_EQ(ha == nullptr, hb == nullptr);
    if (ha == nullptr) return;
    auto* a = dynamic_cast<MemMaterial*>(ha);
    auto* b = dynamic_cast<MemMaterial*>(hb);
    ASSERT_TRUE(a != nullptr && b != nullptr);
    EXPECT_EQ(a->name, b->name);
    EXPECT_EQ(a->classId, b->classId);
    EXPECT_EQ(a->ambient, b->ambient);
    EXPECT_EQ(a->diffuse, b->diffuse);
    EXPECT_EQ(a->specular, b->specular);
    EXPECT_EQ(a->shininess, b->shininess);
    EXPECT_EQ(a->shininessStrength, b->shininessStrength);
    EXPECT_EQ(a->transparency, b->transparency);
    EXPECT_EQ(a->selfIllumination, b->selfIllumination);
    EXPECT_EQ(a->twoSided, b->twoSided);
    ASSERT_EQ(a->subMaterials.size(), b->subMaterials.size());
    for (size_t i = 0; i < a->subMaterials.size(); ++i)
      Material(a->subMaterials[i], b->subMaterials[i]);
    for (int c = 0; c < kChannelCount; ++c) {
      EXPECT_EQ(a->channels[c].amount, b->channels[c].amount);
      EXPECT_EQ(a->channels[c].enabled, b->channels[c].enabled);
      auto* ma = dynamic_cast<MemMap*>(a->channels[c].map);
      auto* mb = dynamic_cast<MemMap*>(b->channels[c].map);
      ASSERT_EQ(ma == nullptr, mb == nullptr) << "channel " << c;
      if (ma == nullptr) continue;
      EXPECT_EQ(ma->fileName, mb->fileName);
      EXPECT_EQ(ma->uOffset, mb->uOffset);
      EXPECT_EQ(ma->vOffset, mb->vOffset);
      EXPECT_EQ(ma->uTiling, mb->uTiling);
      EXPECT_EQ(ma->vTiling, mb->vTiling);
      EXPECT_EQ(ma->rotationAngle, mb->rotationAngle);
      EXPECT_EQ(ma->tilingBits, mb->tilingBits);
    }
  }

  const MemScene& a_;
  const MemScene& b_;
  std::map<const MemNode*, size_t> index_, indexB_;
};

// Imports path, writes it as JSON, loads that back: both scenes must agree field by field
// and export to the same bytes.
void ExpectRoundTrip(const std::string& path, const ScratchFolder& dir) {
  SCOPED_TRACE(path);
  MemScene imported;
  ImportResult r = path.find(".obj") != std::string::npos
                       ? LoadObjScene(path, ImportOptions(), imported)
                       : LoadGltfScene(path, ImportOptions(), imported);
  ASSERT_TRUE(r.ok) << r.error;
  std::string text;
  WriteResult w = WriteJsonSceneText(imported, text);
  ASSERT_TRUE(w.ok) << w.error;
  MemScene reloaded;
  LoadResult l = LoadJsonSceneText(text, "written.json", reloaded);
  ASSERT_TRUE(l.ok) << l.error;
  SceneCompare(imported, reloaded).Run();
  std::vector<uint8_t> direct = ExportedBytes(imported, dir.Path("direct.tsm"));
  std::vector<uint8_t> again = ExportedBytes(reloaded, dir.Path("again.tsm"));
  ASSERT_FALSE(direct.empty());
  ExpectBytes(again, direct);
  EXPECT_TRUE(CheckChunkFile(direct).ok) << CheckChunkFile(direct).error;
}

TEST(SceneJsonWriterTest, ImportsWrittenAndLoadedBackAreTheSameScene) {
  ScratchFolder dir("json_writer");
  // The static parts of the example glTF (the JSON loader learns animation separately).
  nlohmann::json gltf = nlohmann::json::parse(ReadFileText(kExamples + "/turntable.gltf"));
  gltf.erase("animations");
  ExpectRoundTrip(dir.Write("static.gltf", gltf.dump()), dir);
  ExpectRoundTrip(kExamples + "/crate.obj", dir);
}

TEST(SceneJsonWriterTest, AnimationIsWrittenInTheControllerSyntax) {
  MemScene scene;
  MemNode* node = scene.AddNode("Spinner");
  auto* tc = scene.Own(std::make_unique<MemTransformController>());
  auto* rot = scene.Own(std::make_unique<MemController>(ControlKind::ROTATION, false));
  MemKey k;
  k.time = 4800;
  k.q = Quat(0, 0, 0.6f, 0.8f);
  rot->keys.push_back(k);
  auto* roll = scene.Own(std::make_unique<MemController>(ControlKind::FLOAT, true));
  k.time = 160;
  k.f = 0.5f;
  k.tens = 0.25f;
  roll->keys.push_back(k);
  tc->rotation = rot;
  tc->roll = roll;
  node->transform = tc;
  std::string text;
  ASSERT_TRUE(WriteJsonSceneText(scene, text).ok);
  nlohmann::ordered_json t = nlohmann::ordered_json::parse(text)["nodes"][0]["transform"];
  EXPECT_EQ(t["rotation"].dump(),
            R"({"class":"sampled","value":{"quat":[0.0,0.0,0.0,1.0]},)"
            R"("keys":[{"time":{"ticks":4800},"value":{"quat":[0.0,0.0,0.6,0.8]}}]})");
  EXPECT_EQ(t["roll"]["class"], "keyed");
  EXPECT_NEAR(t["roll"]["keys"][0]["value"].get<double>(), 28.6478897, 1e-6);  // degrees
  EXPECT_EQ(t["roll"]["keys"][0]["time"].dump(), R"({"ticks":160})");
  EXPECT_EQ(t["roll"]["keys"][0]["tension"], 0.25);
  EXPECT_FALSE(t.contains("position"));
  // What the format cannot hold fails with its place.
  k.q = Quat(0, 0, 0, std::nanf(""));
  rot->keys.push_back(k);
  WriteResult bad = WriteJsonSceneText(scene, text);
  EXPECT_FALSE(bad.ok);
  EXPECT_EQ(bad.error, "node \"Spinner\" rotation: a value is not a finite number");
}

// The examples as a user runs them: tsmexport, then tsmdump --check on the file.
TEST(SceneJsonWriterTest, ExampleImportsExportToFilesThatTsmdumpAccepts) {
  ScratchFolder dir("import_tools");
  for (const char* name : {"turntable.gltf", "crate.obj"}) {
    std::string out = dir.Path(std::string(name) + ".tsm");
    std::string json = dir.Path(std::string(name) + ".json");
    std::string cmd = "'" TSM_BINARY_DIR "/tsmexport' '" + kExamples + "/" + name + "' -o '" + out +
                      "' -q 2>/dev/null && '" TSM_BINARY_DIR "/tsmdump' --check '" + out +
                      "' >/dev/null && '" TSM_BINARY_DIR "/tsmexport' '" + kExamples + "/" + name +
                      "' --to-json '" + json + "' 2>/dev/null";
    int raw = std::system(cmd.c_str());
    EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0) << cmd;
    EXPECT_NE(ReadFileText(json).find("\"format\": \"tsm-scene\""), std::string::npos) << name;
  }
}

}  // namespace
}  // namespace tsm
