// The JSON scene writer: an imported scene written and loaded back is the same scene,
// field by field, and exports to the same bytes; animation is written in the agreed
// controller syntax; the example imports export to files that tsmdump accepts.
#include "formats/json/scene_json_writer.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "formats/json/scene_json.h"
#include "formats/scene_import.h"
#include "reader/chunk_dump.h"
#include "scene/mem_controllers.h"
#include "scene/mem_material.h"
#include "scene/mem_objects.h"
#include "tests/import_builders.h"

namespace tsm {
namespace {

const std::string kExamples = TSM_SOURCE_DIR "/examples";

// Compares two scenes member by member, following links by position.
class SceneCompare {
 public:
  SceneCompare(const MemScene& a, const MemScene& b) : a_(a), b_(b) {}

  // Compares everything; the count of controllers compared is Controllers().
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

  int Controllers() const { return controllers_; }

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
    Transform(a.transform, b.transform);
    ASSERT_EQ(a.object == nullptr, b.object == nullptr);
    if (a.object != nullptr) Object(*a.object, *b.object);
    Material(a.material, b.material);
  }

  void Transform(HostController* ha, HostController* hb) {
    ASSERT_EQ(ha == nullptr, hb == nullptr);
    if (ha == nullptr) return;
    auto* a = dynamic_cast<MemTransformController*>(ha);
    auto* b = dynamic_cast<MemTransformController*>(hb);
    ASSERT_TRUE(a != nullptr && b != nullptr);
    Controller(a->position, b->position, "position");
    Controller(a->rotation, b->rotation, "rotation");
    Controller(a->scale, b->scale, "scale");
    Controller(a->roll, b->roll, "roll");
  }

  // Class, kind, value without keys and every key, bit for bit.
  void Controller(HostController* ha, HostController* hb, const std::string& what) {
    SCOPED_TRACE(what + " controller");
    ASSERT_EQ(ha == nullptr, hb == nullptr);
    if (ha == nullptr) return;
    auto* a = dynamic_cast<MemController*>(ha);
    auto* b = dynamic_cast<MemController*>(hb);
    ASSERT_TRUE(a != nullptr && b != nullptr);
    ++controllers_;
    EXPECT_EQ(a->classId, b->classId);
    ASSERT_EQ(a->kind, b->kind);
    // The value members that the kind reads; the others are unused.
    switch (a->kind) {
      case ControlKind::FLOAT:
        EXPECT_EQ(a->constF, b->constF);
        break;
      case ControlKind::POSITION:
      case ControlKind::POINT3:
        EXPECT_EQ(a->constP, b->constP);
        break;
      case ControlKind::ROTATION:
        EXPECT_EQ(a->constQ, b->constQ);
        break;
      case ControlKind::SCALE:
        EXPECT_EQ(a->constS, b->constS);
        break;
    }
    ASSERT_EQ(a->keys.size(), b->keys.size());
    for (size_t i = 0; i < a->keys.size(); ++i) {
      const MemKey& ka = a->keys[i];
      const MemKey& kb = b->keys[i];
      SCOPED_TRACE("key " + std::to_string(i));
      EXPECT_EQ(ka.time, kb.time);
      if (a->kind == ControlKind::FLOAT) {
        EXPECT_EQ(ka.f, kb.f);
      } else if (a->kind != ControlKind::ROTATION) {
        EXPECT_EQ(ka.p, kb.p);
      } else if (a->KeyBearing()) {
        EXPECT_EQ(ka.aa.axis, kb.aa.axis);
        EXPECT_EQ(ka.aa.angle, kb.aa.angle);
      } else {
        EXPECT_EQ(ka.q, kb.q);
      }
      EXPECT_EQ(ka.tens, kb.tens);
      EXPECT_EQ(ka.cont, kb.cont);
      EXPECT_EQ(ka.bias, kb.bias);
      EXPECT_EQ(ka.easeIn, kb.easeIn);
      EXPECT_EQ(ka.easeOut, kb.easeOut);
    }
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
      Controller(ca->fovController, cb->fovController, "field-of-view");
    } else if (auto* la = dynamic_cast<MemLightObject*>(&a)) {
      auto* lb = dynamic_cast<MemLightObject*>(&b);
      ASSERT_NE(lb, nullptr);
      EXPECT_EQ(la->color, lb->color);
      EXPECT_EQ(la->intensity, lb->intensity);
      EXPECT_EQ(la->attenuate, lb->attenuate);
      EXPECT_EQ(la->attenStart, lb->attenStart);
      EXPECT_EQ(la->attenEnd, lb->attenEnd);
      Controller(la->colorController, lb->colorController, "colour");
      if (la->IsSpot()) {
        EXPECT_EQ(la->hotspot, lb->hotspot);
        EXPECT_EQ(la->falloff, lb->falloff);
        Controller(la->hotspotController, lb->hotspotController, "hotspot");
        Controller(la->falloffController, lb->falloffController, "falloff");
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
  int controllers_ = 0;
  std::map<const MemNode*, size_t> index_, indexB_;
};

// Every loadable example: the imports with their animation, and a JSON scene whose nodes,
// camera and lights are animated. Each is loaded, written as JSON and loaded back: both
// scenes must agree field by field, controllers and keys included, and export to the same
// bytes, editor and keyframer sections included.
TEST(SceneJsonWriterTest, ScenesWrittenAndLoadedBackAreTheSameScene) {
  ScratchFolder dir("json_writer");
  const struct {
    const char* file;
    int controllers;  // how many the scene holds, so that none goes unchecked
  } cases[] = {
      {"turntable.gltf", 3},  // the vase turns and rises; its scale holds still
      {"crate.obj", 0},
      {"animated.json", 21},  // transforms, field of view, colours and cones
  };
  for (const auto& c : cases) {
    std::string path = kExamples + "/" + c.file;
    SCOPED_TRACE(path);
    MemScene loaded;
    ImportResult r = LoadSceneFile(path, ImportOptions(), loaded);
    ASSERT_TRUE(r.ok) << r.error;
    std::string text;
    WriteResult w = WriteJsonSceneText(loaded, text);
    ASSERT_TRUE(w.ok) << w.error;
    MemScene reloaded;
    LoadResult l = LoadJsonSceneText(text, "written.json", reloaded);
    ASSERT_TRUE(l.ok) << l.error;
    SceneCompare compare(loaded, reloaded);
    compare.Run();
    EXPECT_EQ(compare.Controllers(), c.controllers);
    std::vector<uint8_t> direct = ExportedBytes(loaded, dir.Path("direct.tsm"));
    std::vector<uint8_t> again = ExportedBytes(reloaded, dir.Path("again.tsm"));
    ASSERT_FALSE(direct.empty());
    ExpectBytes(again, direct);
    EXPECT_TRUE(CheckChunkFile(direct).ok) << CheckChunkFile(direct).error;
  }
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
  // An object's controller: a field of view held in radians is written in degrees; a cone
  // angle that the loader would refuse fails with its place.
  MemScene lit;
  auto* cam = lit.Own(std::make_unique<MemCameraObject>());
  auto* fov = lit.Own(std::make_unique<MemController>(ControlKind::FLOAT, true));
  fov->constF = 0.5f;
  cam->fovController = fov;
  lit.AddNode("Camera")->object = cam;
  auto* spot = lit.Own(std::make_unique<MemLightObject>(true));
  auto* falloff = lit.Own(std::make_unique<MemController>(ControlKind::FLOAT, false));
  falloff->constF = 40.0f;
  spot->falloffController = falloff;
  lit.AddNode("Lamp")->object = spot;
  ASSERT_TRUE(WriteJsonSceneText(lit, text).ok);
  nlohmann::json objects = nlohmann::json::parse(text)["objects"];
  EXPECT_NEAR(objects[0]["fovController"]["value"].get<double>(), 28.6478897, 1e-6);
  EXPECT_EQ(objects[1]["falloffController"].dump(),
            R"({"class":"sampled","keys":[],"value":40.0})");
  k.f = 180.0f;
  falloff->keys.push_back(k);
  bad = WriteJsonSceneText(lit, text);
  EXPECT_EQ(bad.error,
            "node \"Lamp\" falloffController: an angle of 180.000000 degrees; it must lie above 0 "
            "and below 180");
}

// The file is written an object or node at a time. A scene whose text passes the size at
// which pieces are handed on gives the same bytes in the file as in memory; a scene with
// problems in a node and in an object reports the one the file's order meets first (an
// object where a node first reaches it), and the file at the path stays as it was.
TEST(SceneJsonWriterTest, WritesInPiecesAndReportsTheFirstProblemInTheFilesOrder) {
  ScratchFolder dir("json_writer_pieces");
  auto build = [](MemScene& scene, bool lampFirst, bool bad) {
    auto* mesh = scene.Own(std::make_unique<MemMeshObject>());
    for (int i = 0; i < 60000; ++i) mesh->vertices.push_back(Point3(i * 0.001f, -i, 0.5f));
    scene.AddNode("Mesh")->object = mesh;
    auto lamp = [&] {
      auto* spot = scene.Own(std::make_unique<MemLightObject>(true));
      auto* falloff = scene.Own(std::make_unique<MemController>(ControlKind::FLOAT, false));
      falloff->constF = bad ? 180.0f : 40.0f;
      spot->falloffController = falloff;
      scene.AddNode("Lamp")->object = spot;
    };
    auto spinner = [&] {
      auto* tc = scene.Own(std::make_unique<MemTransformController>());
      tc->rotation = scene.Own(std::make_unique<MemController>(ControlKind::ROTATION, false));
      tc->rotation->constQ = Quat(0, 0, 0, bad ? std::nanf("") : 1.0f);
      scene.AddNode("Spinner")->transform = tc;
    };
    if (lampFirst) lamp();
    spinner();
    if (!lampFirst) lamp();
  };
  const std::string lampError =
      "node \"Lamp\" falloffController: an angle of 180.000000 degrees; it must lie above 0 and "
      "below 180";
  const std::string spinnerError = "node \"Spinner\" rotation: a value is not a finite number";
  for (bool lampFirst : {true, false}) {
    MemScene good, bad;
    build(good, lampFirst, false);
    build(bad, lampFirst, true);
    std::string text, path = dir.Path("scene.json");
    ASSERT_TRUE(WriteJsonSceneText(good, text).ok);
    ASSERT_GT(text.size(), size_t(1) << 20);  // handed on in more than one piece
    ASSERT_TRUE(WriteJsonScene(good, path).ok);
    EXPECT_TRUE(ReadFileText(path) == text) << "the file differs from the text";
    WriteResult inMemory = WriteJsonSceneText(bad, text);
    WriteResult toFile = WriteJsonScene(bad, path);
    const std::string& first = lampFirst ? lampError : spinnerError;
    EXPECT_EQ(inMemory.error, first);
    EXPECT_EQ(toFile.error, path + ": " + first);
    EXPECT_TRUE(ReadFileText(path).find("\"Spinner\"") != std::string::npos);
    size_t entries = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.Path("")))
      entries += !e.is_directory();
    EXPECT_EQ(entries, 1u) << "nothing is left beside the file";
  }
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
