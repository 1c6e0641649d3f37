// Reading exported chunk files back into a scene: the round trip of every example and
// test scene (export, read back, export: the same file within float tolerance; once more:
// the same bytes), the values a read-back scene holds, and the loader's answers to
// unknown chunks and damaged files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <unordered_map>

#include "formats/scene_import.h"
#include "formats/tsm/tsm_loader.h"
#include "reader/chunk_dump.h"
#include "scene/mem_material.h"
#include "tests/import_builders.h"
#include "tests/keyframer_builders.h"
#include "tests/material_builders.h"
#include "tests/sample_files.h"
#include "tests/view_files.h"

namespace tsm {
namespace {

// Where two files differ: empty when every differing byte lies in a 4-byte word that
// reads as nearly the same float in both (relative tolerance tol); else the first offset
// that does not.
std::string FloatDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b,
                            float tol = 2e-5f) {
  if (a.size() != b.size())
    return "sizes differ: " + std::to_string(a.size()) + " and " + std::to_string(b.size());
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i] == b[i]) continue;
    bool near = false;
    for (size_t s = i >= 3 ? i - 3 : 0; s <= i && s + 4 <= a.size() && !near; ++s) {
      float x, y;
      std::memcpy(&x, &a[s], 4);
      std::memcpy(&y, &b[s], 4);
      if (std::isfinite(x) && std::isfinite(y) &&
          std::fabs(x - y) <= tol * std::max(1.0f, std::fabs(x))) {
        near = true;
        i = s + 3;
      }
    }
    if (!near) return "offset " + std::to_string(i) + " differs beyond float tolerance";
  }
  return "";
}

std::string FirstDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  for (size_t i = 0; i < std::min(a.size(), b.size()); ++i)
    if (a[i] != b[i]) return "first difference at offset " + std::to_string(i);
  return a.size() == b.size() ? "" : "sizes differ";
}

// Reads bytes back and exports the scene; the notices of the read go to notices.
std::vector<uint8_t> ReadAndExport(const std::vector<uint8_t>& bytes, const std::string& out,
                                   std::vector<std::string>* notices = nullptr) {
  MemScene scene;
  ImportResult r = ReadTsmScene(bytes.data(), bytes.size(), out, scene);
  EXPECT_TRUE(r.ok) << r.error;
  if (!r.ok) return {};
  if (notices != nullptr) *notices = r.notices;
  return ExportedBytes(scene, out);
}

// A scene with what the examples lack: a multi/sub material with an empty slot, maps in
// several slots with their parameters, gamma-corrected colours, vertex colours, texture
// coordinates, smoothing and edge flags, instances, a dummy with an object offset, a
// spot light with every switch, a camera with animated field of view and roll, sampled
// and key-bearing controllers with spline parameters, a shape below a mesh.
void FeatureScene(MemScene& s) {
  s.gammaEnabled = true;
  s.currentTime = 8 * 160;
  auto* red = NewMaterial(s, "Red");
  red->diffuse = Point3(0.8f, 0.1f, 0.1f);
  red->twoSided = red->soften = true;
  red->shininess = 0.37f;
  red->channels[kChannelDiffuse].map = NewMap(s, kBitmapMapClass, "C:\\maps\\brick.bmp");
  auto* bump = NewMap(s, kBitmapMapClass, "bump.png");
  bump->uTiling = 2.0f;
  bump->vOffset = 0.25f;
  bump->rotationAngle = 0.5f;
  bump->blur = 1.5f;
  bump->tilingBits = 0xC;
  bump->filterType = 1;
  red->channels[kChannelBump] = {bump, 3.0f, true};
  red->channels[kChannelReflection].map = NewMap(s, kReflectionMapClass, "");
  auto* blue = NewMaterial(s, "Blue");
  blue->shadingMode = 2;
  blue->transparencyType = 1;
  blue->channels[kChannelOpacity].map = NewMap(s, kMirrorMapClass, "");
  blue->channels[kChannelReflection].map = NewMap(s, kMirrorMapClass, "");
  auto* multi = NewMaterial(s, "Multi", kMultiMaterialClass);
  multi->subMaterials = {blue, nullptr, red};

  auto* mesh = s.Own(std::make_unique<MemMeshObject>());
  mesh->vertices = {{0, 0, 0}, {4, 0, 0}, {0, 3, 0}, {0, 0, 5}};
  mesh->faces.resize(3);
  mesh->faces[0].v = {{0, 1, 2}};
  mesh->faces[0].smoothing = 5;
  mesh->faces[1].v = {{0, 2, 3}};
  mesh->faces[1].materialId = 2;
  mesh->faces[1].edgeVisible = 4;
  mesh->faces[2].v = {{1, 2, 3}};
  mesh->faces[2].materialId = 1;
  mesh->texVerts = {{0.5f, 0.25f, 0}, {1, 0, 0}, {0, 1, 0}};
  mesh->texFaces = {{{0, 1, 2}}, {{2, 1, 0}}, {{1, 1, 2}}};
  mesh->vertexColors = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 1, 1}};
  MemNode* a = AddMesh(s, "Hull", mesh);
  a->material = multi;
  a->local = ScaleMatrix(Point3(2, 2, 2)) * QuatToMatrix(QuatFromAngAxis(0.3f, Point3(0, 0, 1))) *
             TransMatrix(Point3(5, -2, 1));
  MemController* pos = Ctl(s, ControlKind::POSITION, true,
                           {KeyP(0, Point3(5, -2, 1)), KeyP(1600, Point3(9, 0, 2))});
  pos->keys[1].tens = 0.5f;
  pos->keys[1].easeOut = 0.25f;
  MemController* rot = Ctl(s, ControlKind::ROTATION, false,
                           {KeyQ(0, Quat()), KeyQ(800, QuatFromAngAxis(1.0f, Point3(0, 1, 0))),
                            KeyQ(1600, QuatFromAngAxis(2.0f, Point3(1, 0, 0)))});
  Animate(s, a, pos, rot, Ctl(s, ControlKind::SCALE, true, {KeyP(0, Point3(1, 2, 1))}));
  MemNode* b = AddMesh(s, "HullCopy", mesh, a);
  b->material = multi;
  b->local = TransMatrix(Point3(0, 10, 0));
  b->transformLocked[0][0] = true;

  MemNode* d = s.AddNode("Helper", a);
  auto* dummy = s.Own(std::make_unique<MemDummyObject>());
  dummy->box.pmin = Point3(-1, -2, -3);
  d->object = dummy;
  d->objectOffsetPos = Point3(0.5f, 0, -1);
  AnimateKeyless(s, d);

  auto* shape = s.Own(std::make_unique<MemShapeObject>());
  shape->splines.resize(1);
  for (float x : {0.0f, 1.0f, 3.0f}) {
    MemKnot k;
    k.point = k.inVec = k.outVec = Point3(x, x * x, 1);
    shape->splines[0].knots.push_back(k);
  }
  MemNode* sh = s.AddNode("Path", a);
  sh->object = shape;
  sh->local = TransMatrix(Point3(1, 1, 1));

  auto* spot = s.Own(std::make_unique<MemLightObject>(true));
  spot->castShadows = spot->coneDisplayed = spot->rectangular = spot->overshoot = true;
  spot->rayTracedShadows = spot->attenuate = true;
  spot->on = false;
  spot->useGlobalShadows = false;
  spot->aspect = 1.5f;
  spot->color = Point3(1, 0.5f, 0.25f);
  spot->hotspotController = Ctl(s, ControlKind::FLOAT, true, {KeyF(0, 20), KeyF(1600, 30)});
  MemNode* sp = s.AddNode("Spot", a);
  sp->object = spot;
  sp->local = TransMatrix(Point3(0, 0, 40));
  MemNode* st = s.AddNode("Spot.Target", a);
  st->object = s.AddObject(kFamilyHelper, kTargetObjectClass);
  MemScene::SetLookAt(sp, st);
  Animate(s, sp, nullptr, nullptr, nullptr, Ctl(s, ControlKind::FLOAT, true, {KeyF(0, 0.1f)}));

  auto* cam = s.Own(std::make_unique<MemCameraObject>());
  cam->fovController = Ctl(s, ControlKind::FLOAT, false, {KeyF(0, 0.7f), KeyF(1600, 0.9f)});
  MemNode* c = s.AddNode("Cam");
  c->object = cam;
  Animate(s, c, Ctl(s, ControlKind::POSITION, true, {KeyP(0, Point3(0, -50, 10))}), nullptr,
          nullptr, Ctl(s, ControlKind::FLOAT, true, {KeyF(0, 0.2f), KeyF(160, -0.1f)}));
  MemNode* ct = s.AddNode("Cam.Target");
  ct->object = s.AddObject(kFamilyHelper, kTargetObjectClass);
  MemScene::SetLookAt(c, ct);
}

struct RoundTripCase {
  const char* name;
  // Fills the scene (from an example file, or in code); or, for chunk files that are not
  // exports, gives the bytes to read first.
  std::function<void(MemScene&)> scene;
  std::function<std::vector<uint8_t>()> file;
  // Notices the first read gives, for what the file holds that the scene does not.
  std::vector<const char*> notices;
};

void FromExample(MemScene& scene, const char* file) {
  ImportOptions options;
  ImportResult r =
      LoadSceneFile(std::string(TSM_SOURCE_DIR) + "/examples/" + file, options, scene);
  ASSERT_TRUE(r.ok) << r.error;
}

// A file of the skeleton whose editor section holds body (built into b).
std::vector<uint8_t> EditorFile(const std::function<void(ChunkBuilder&)>& body) {
  ChunkBuilder b;
  b.Begin(MOD_MAIN).Begin(FILE_VERSION).U32(3).End();
  b.Begin(EDITOR_DATA);
  body(b);
  b.End().Flag(KEYFRAMER_DATA);
  return b.End().Bytes();
}

struct LoadCase {
  const char* name;
  std::vector<uint8_t> bytes;
  bool ok;
  std::vector<const char*> fragments;  // in the error, or else in the notices
};

TEST(TsmLoader, SkipsUnknownChunksAndRefusesDamagedFiles) {
  std::vector<uint8_t> rich = RichFile();
  std::vector<uint8_t> longTop = rich;
  PutU32(longTop, 2, static_cast<uint32_t>(rich.size() + 1));
  const LoadCase cases[] = {
      {"unknown chunk", EditorFile([](ChunkBuilder& b) { b.Begin(0x1234).U32(5).End(); }), true,
       {"offset 22: unknown chunk 0x1234 skipped"}},
      {"chunks the scene cannot hold", rich, true,
       {"MAP_DATA_TEXTURE) skipped", "MASK_TEXTURE) skipped"}},
      {"face beyond the vertices",
       EditorFile([](ChunkBuilder& b) {
         b.Begin(NAMED_OBJECT).Text("M").Begin(TRIANGLE_MESH);
         b.Begin(MESH_VERTICES).U16(1).F32s({0, 0, 0}).End();
         b.Begin(MESH_FACES).U16(1).U16(0).U16(1).U16(0).U16(7).F32s({0, 0, 0, 0, 0, 0}).End();
         b.End().End();
       }),
       true,
       {"t.tsm: offset 30: face 0 names a vertex beyond the mesh's 1 vertices and is left out"}},
      {"top chunk longer than the file", longTop, false, {"t.tsm: offset 0: "}},
  };
  for (const LoadCase& c : cases) {
    SCOPED_TRACE(c.name);
    MemScene scene;
    ImportResult r = ReadTsmScene(c.bytes.data(), c.bytes.size(), "t.tsm", scene);
    ASSERT_EQ(r.ok, c.ok) << r.error;
    std::string said = c.ok ? Joined(r.notices) : r.error;
    for (const char* f : c.fragments) EXPECT_NE(said.find(f), std::string::npos) << said;
  }
  // Every truncation of an export fails with the chunk reader's message.
  MemScene features;
  FeatureScene(features);
  std::vector<uint8_t> file = ExportedBytes(features, TestOutputPath("features.tsm"));
  ASSERT_FALSE(file.empty());
  for (size_t n = 0; n < file.size(); ++n) {
    MemScene scene;
    ImportResult r = ReadTsmScene(file.data(), n, "t.tsm", scene);
    ASSERT_FALSE(r.ok) << n;
    EXPECT_EQ(r.error.rfind("t.tsm: offset ", 0), 0u) << r.error;
  }
}

// What the issue names: face groups as a multi/sub material in the file's order, edge
// flags, smoothing and texture coordinates, shapes as knots, lights' switches, instances.
TEST(TsmLoader, RebuildsTheSceneTheFileDescribes) {
  MemScene original;
  FeatureScene(original);
  std::vector<uint8_t> file = ExportedBytes(original, TestOutputPath("features.tsm"));
  MemScene s;
  ImportResult r = ReadTsmScene(file.data(), file.size(), "f.tsm", s);
  ASSERT_TRUE(r.ok) << r.error;
  MemNode* hull = Node(s, "Hull");
  auto* multi = static_cast<MemMaterial*>(hull->material);
  ASSERT_EQ(multi->ClassIdentity(), kMultiMaterialClass);
  ASSERT_EQ(multi->subMaterials.size(), 2u);  // the empty slot has no group in the file
  EXPECT_STREQ(multi->subMaterials[0]->MaterialName(), "Blue");
  EXPECT_STREQ(multi->subMaterials[1]->MaterialName(), "Red");
  auto* mesh = static_cast<MemMeshObject*>(hull->object);
  ASSERT_EQ(mesh->faces.size(), 3u);
  EXPECT_EQ(mesh->faces[0].materialId, 0);
  EXPECT_EQ(mesh->faces[1].materialId, 1);
  EXPECT_EQ(mesh->faces[1].edgeVisible, 4);
  EXPECT_EQ(mesh->faces[0].smoothing, 5u);
  ASSERT_EQ(mesh->texFaces.size(), 3u);
  EXPECT_EQ(mesh->texVerts[mesh->texFaces[0][0]], Point3(0.5f, 0.25f, 0));
  ExpectNearP(mesh->vertices[1], Point3(4, 0, 0));
  EXPECT_EQ(Node(s, "HullCopy")->object, mesh);
  EXPECT_EQ(Node(s, "HullCopy")->parent, hull);
  auto* red = static_cast<MemMaterial*>(multi->subMaterials[1]);
  EXPECT_TRUE(s.gammaEnabled);
  EXPECT_NEAR(red->diffuse.x, 0.8f, 1.0f / 255);
  EXPECT_FLOAT_EQ(red->channels[kChannelBump].amount, 3.0f);
  EXPECT_EQ(static_cast<MemMap*>(red->channels[kChannelDiffuse].map)->fileName, "brick.bmp");
  auto* spot = static_cast<MemLightObject*>(Node(s, "Spot")->object);
  EXPECT_TRUE(spot->IsSpot() && spot->rectangular && !spot->on && spot->rayTracedShadows);
  EXPECT_NE(spot->hotspotController, nullptr);
  EXPECT_EQ(Node(s, "Spot")->lookAt->parent, hull);
  auto* path = static_cast<MemShapeObject*>(Node(s, "Path")->object);
  ASSERT_EQ(path->splines.size(), 1u);
  ASSERT_EQ(path->splines[0].knots.size(), 3u);
  Matrix3 world = Node(s, "Path")->NodeTransform(s.currentTime);
  // The knots come back where they stood in the world.
  ExpectNearP(path->splines[0].knots[2].point * world,
              Point3(3, 9, 1) * original.FindNode("Path")->NodeTransform(original.currentTime),
              1e-3f);
  auto* helper = static_cast<MemDummyObject*>(Node(s, "Helper")->object);
  EXPECT_EQ(helper->box.pmin, Point3(-1, -2, -3));
}

TEST(TsmLoader, EveryExportSurvivesItsRoundTrip) {
  const RoundTripCase cases[] = {
      {"minimal.json", [](MemScene& s) { FromExample(s, "minimal.json"); }, nullptr, {}},
      {"animated.json", [](MemScene& s) { FromExample(s, "animated.json"); }, nullptr, {}},
      // The file holds frames, not the scene's ticks per frame (the orrery counts 200): a
      // read-back scene counts 160, and would evaluate the animation at another frame of
      // the current time. So the orrery goes out at 160 ticks a frame here. Its target whose
      // light is not exported comes back with a stand-in owner.
      {"orrery.json",
       [](MemScene& s) {
         FromExample(s, "orrery.json");
         s.ticksPerFrame = 160;
       },
       nullptr,
       {"stands in as \"Owner of Target 8\""}},
      {"showroom.json", [](MemScene& s) { FromExample(s, "showroom.json"); }, nullptr, {}},
      {"turntable.gltf", [](MemScene& s) { FromExample(s, "turntable.gltf"); }, nullptr, {}},
      {"crate.obj", [](MemScene& s) { FromExample(s, "crate.obj"); }, nullptr, {}},
      {"features", FeatureScene, nullptr, {}},
      {"rich file", nullptr, RichFile, {}},
      {"preview file", nullptr, [] { return BuildFile(RedTriangleScene()); }, {}},
  };
  for (const RoundTripCase& c : cases) {
    SCOPED_TRACE(c.name);
    // Each round keeps its file, to compare by hand when the test fails.
    std::string out = TestOutputPath(std::string("roundtrip_") + c.name + ".1.tsm");
    std::string out2 = TestOutputPath(std::string("roundtrip_") + c.name + ".2.tsm");
    std::string out3 = TestOutputPath(std::string("roundtrip_") + c.name + ".3.tsm");
    std::vector<uint8_t> first;
    std::vector<std::string> notices;
    if (c.scene) {
      MemScene scene;
      c.scene(scene);
      first = ExportedBytes(scene, out);
    } else {
      first = ReadAndExport(c.file(), out);
    }
    ASSERT_FALSE(first.empty());
    std::vector<uint8_t> second = ReadAndExport(first, out2, &notices);
    EXPECT_EQ(FloatDifference(first, second), "");
    std::vector<uint8_t> third = ReadAndExport(second, out3);
    EXPECT_EQ(FirstDifference(second, third), "");
    ASSERT_EQ(notices.size(), c.notices.size()) << Joined(notices);
    for (size_t i = 0; i < notices.size(); ++i)
      EXPECT_NE(notices[i].find(c.notices[i]), std::string::npos) << notices[i];
  }
}

// A read for the scene at its current time answers there what the full read answers, and
// holds no key: each node's world transform, the lights' and cameras' values, and each
// position track handed over whole before it goes.
TEST(TsmLoader, AReadHeldAtTheCurrentTimeAnswersWhatTheFullReadAnswersThere) {
  for (const char* example : {"animated.json", "orrery.json", "showroom.json", "turntable.gltf"}) {
    SCOPED_TRACE(example);
    MemScene original;
    FromExample(original, example);
    original.ticksPerFrame = 160;
    const std::vector<uint8_t> bytes =
        ExportedBytes(original, TestOutputPath(std::string("held_") + example + ".tsm"));
    MemScene full, held;
    ASSERT_TRUE(ReadTsmScene(bytes.data(), bytes.size(), "f", full).ok);
    TsmReadOptions options;
    options.holdAtCurrentTime = true;
    std::unordered_map<const MemNode*, size_t> handed;
    options.positionTrack = [&handed](const MemNode* node, const MemController& track) {
      handed[node] = track.keys.size();
    };
    ASSERT_TRUE(ReadTsmScene(bytes.data(), bytes.size(), "f", held, options).ok);
    ASSERT_EQ(full.Nodes().size(), held.Nodes().size());
    const TimeValue t = full.currentTime;
    for (size_t i = 0; i < full.Nodes().size(); ++i) {
      MemNode* a = full.Nodes()[i].get();
      MemNode* b = held.Nodes()[i].get();
      SCOPED_TRACE(a->name);
      EXPECT_TRUE(a->NodeTransform(t) == b->NodeTransform(t));
      Interval valid;
      if (auto* la = dynamic_cast<MemLightObject*>(a->object)) {
        LightParams pa, pb;
        la->EvaluateLight(t, valid, pa);
        static_cast<MemLightObject*>(b->object)->EvaluateLight(t, valid, pb);
        EXPECT_EQ(pa.color, pb.color);
        EXPECT_EQ(pa.hotspot, pb.hotspot);
        EXPECT_EQ(pa.falloff, pb.falloff);
      }
      if (auto* ca = dynamic_cast<MemCameraObject*>(a->object)) {
        auto* cb = static_cast<MemCameraObject*>(b->object);
        EXPECT_EQ(ca->CameraFov(t, valid), cb->CameraFov(t, valid));
      }
      auto* ta = dynamic_cast<MemTransformController*>(a->transform);
      // The held node keeps its transform at that time, without controllers.
      EXPECT_EQ(b->transform, nullptr);
      if (ta == nullptr) continue;
      if (ta->position != nullptr) {
        EXPECT_EQ(handed[b], ta->position->keys.size());
      }
    }
  }
}

// bytes with the children of the top chunk's child parent put in the order of rank
// (stable); every length stays the same.
std::vector<uint8_t> Reordered(const std::vector<uint8_t>& bytes, uint16_t parent,
                               const std::function<int(uint16_t)>& rank) {
  FileCheck check = CheckChunkFile(bytes.data(), bytes.size(), false);
  EXPECT_TRUE(check.ok) << check.error;
  Chunk within;
  ForEachChild(check.tree.top, bytes.data(), [&](const Chunk& c) {
    if (c.id == parent) within = c;
    return true;
  });
  std::vector<Chunk> children;
  ForEachChild(within, bytes.data(), [&](const Chunk& c) {
    children.push_back(c);
    return true;
  });
  std::stable_sort(children.begin(), children.end(),
                   [&](const Chunk& a, const Chunk& b) { return rank(a.id) < rank(b.id); });
  std::vector<uint8_t> out(bytes.begin(), bytes.begin() + within.payloadEnd);
  for (const Chunk& c : children)
    out.insert(out.end(), bytes.begin() + c.offset, bytes.begin() + c.End());
  out.insert(out.end(), bytes.begin() + within.End(), bytes.end());
  return out;
}

// The keyframer's nodes are built as they are read when the keyframer's times come first,
// as the writer orders them; a file that names them after its nodes gives the same scene,
// read whole or held at its current time.
TEST(TsmLoader, TheKeyframersTimesAfterItsNodesDoNotChangeTheScene) {
  MemScene original;
  FromExample(original, "animated.json");
  original.ticksPerFrame = 160;
  original.animationRange = Interval(160 * 5, 160 * 60);
  const std::vector<uint8_t> written = ExportedBytes(original, TestOutputPath("order.tsm"));
  auto last = [](uint16_t id) { return [id](uint16_t c) { return c == id ? 1 : 0; }; };
  const std::pair<const char*, std::vector<uint8_t>> files[] = {
      {"current time after the nodes", Reordered(written, KEYFRAMER_DATA, last(KF_CURRENT_TIME))},
      {"segment after the nodes", Reordered(written, KEYFRAMER_DATA, last(KF_SEGMENT))},
  };
  for (bool held : {false, true}) {
    TsmReadOptions options;
    options.holdAtCurrentTime = held;
    MemScene expected;
    ImportResult want = ReadTsmScene(written.data(), written.size(), "f", expected, options);
    ASSERT_TRUE(want.ok) << want.error;
    for (const auto& file : files) {
      SCOPED_TRACE(std::string(file.first) + (held ? ", held" : ""));
      ASSERT_NE(file.second, written);
      MemScene s;
      ImportResult r = ReadTsmScene(file.second.data(), file.second.size(), "f", s, options);
      ASSERT_TRUE(r.ok) << r.error;
      EXPECT_EQ(r.notices, want.notices);
      EXPECT_EQ(s.currentTime, expected.currentTime);
      EXPECT_EQ(s.animationRange.Start(), expected.animationRange.Start());
      EXPECT_EQ(s.animationRange.End(), expected.animationRange.End());
      ASSERT_EQ(s.Nodes().size(), expected.Nodes().size());
      for (size_t i = 0; i < s.Nodes().size(); ++i) {
        MemNode* a = expected.Nodes()[i].get();
        MemNode* b = s.Nodes()[i].get();
        EXPECT_EQ(b->name, a->name);
        EXPECT_EQ(b->object->ClassIdentity(), a->object->ClassIdentity()) << a->name;
        EXPECT_TRUE(b->NodeTransform(s.currentTime) == a->NodeTransform(s.currentTime)) << a->name;
      }
    }
  }
}

// A chain of twelve meshes, each below the one before and moved along x, two of them
// one mesh, with a camera and its target below the chain's middle and a dummy at its end;
// and a large mesh on two nodes.
void ChainScene(MemScene& s) {
  MemNode* parent = nullptr;
  MemMeshObject* shared = nullptr;
  for (int i = 0; i < 12; ++i) {
    auto* mesh = i == 7 ? shared : s.Own(std::make_unique<MemMeshObject>());
    if (i != 7) {
      mesh->vertices = {Point3(0, 0, 0), Point3(1, 0, 0), Point3(0, 1, float(i))};
      mesh->faces.push_back(MemFace{{0, 1, 2}});
    }
    if (i == 3) shared = mesh;
    MemNode* node = s.AddNode("Link" + std::to_string(i), parent);
    node->object = mesh;
    node->local = TransMatrix(Point3(1.5f, 0.25f * i, 0));
    parent = node;
    if (i == 5) {
      MemNode* camera = s.AddNode("Eye", node);
      camera->object = s.Own(std::make_unique<MemCameraObject>());
      MemNode* target = s.AddNode("Eye.Target", node);
      target->object = s.AddObject(kFamilyHelper, kTargetObjectClass);
      target->local = TransMatrix(Point3(0, 9, 0));
      MemScene::SetLookAt(camera, target);
    }
  }
  s.AddNode("End", parent)->object = s.Own(std::make_unique<MemDummyObject>());
  // A mesh large enough to be held from its first read, on two nodes.
  auto* large = s.Own(std::make_unique<MemMeshObject>());
  for (int i = 0; i < 3000; ++i) {
    large->vertices.push_back(Point3(float(i % 50), float(i / 50), 0.5f * float(i % 7)));
    large->faces.push_back(MemFace{{i, (i + 1) % 3000, (i + 50) % 3000}});
  }
  for (const char* name : {"Large", "Large copy"}) {
    MemNode* node = s.AddNode(name);
    node->object = large;
    node->local = TransMatrix(Point3(0, 0, name[5] == 0 ? 2.0f : -2.0f));
  }
}

// ChainScene's file with a first header that names no parent put before the real header
// of the node "Link4" (whose parent is "Link3"): the node's last header is the one read.
std::vector<uint8_t> TwoHeaderChain() {
  MemScene original;
  ChainScene(original);
  original.ticksPerFrame = 160;
  std::vector<uint8_t> bytes = ExportedBytes(original, TestOutputPath("two_headers.tsm"));
  ChunkBuilder header;
  header.Begin(NODE_HEADER).Text("Link4").U16(0x4000).U16(0).U16(NO_PARENT).End();
  const std::vector<uint8_t> extra = header.Bytes();
  // The chunks that hold the node (the top chunk, the keyframer section, the node).
  std::vector<uint64_t> holders = {0};
  Chunk top = ReadChunkTree(bytes, false).top;
  ForEachChild(top, bytes.data(), [&](const Chunk& section) {
    if (section.id != KEYFRAMER_DATA) return true;
    holders.push_back(section.offset);
    ForEachChild(section, bytes.data(), [&](const Chunk& node) {
      ForEachChild(node, bytes.data(), [&](const Chunk& c) {
        const char* name = reinterpret_cast<const char*>(bytes.data() + c.payloadBegin);
        if (c.id == NODE_HEADER && std::strcmp(name, "Link4") == 0) holders.push_back(node.offset);
        return true;
      });
      return holders.size() < 3;
    });
    return false;
  });
  EXPECT_EQ(holders.size(), 3u);
  for (uint64_t at : holders) {
    uint32_t length;
    std::memcpy(&length, &bytes[at + 2], 4);
    length += static_cast<uint32_t>(extra.size());
    std::memcpy(&bytes[at + 2], &length, 4);
  }
  bytes.insert(bytes.begin() + holders.back() + kChunkHeaderSize, extra.begin(), extra.end());
  return bytes;
}

// A read that hands its nodes over one by one gives every node once, complete, with its
// parent, where the full read has it: the same name, object kind and world transform at
// the current time, and a mesh node the same mesh, shared by the same nodes (read again
// from the file, or held, and let go after its last node); the scene keeps none of them.
TEST(TsmLoader, NodesHandedOverOneByOneAreTheNodesOfTheFullRead) {
  const RoundTripCase cases[] = {
      {"animated.json", [](MemScene& s) { FromExample(s, "animated.json"); }, nullptr, {}},
      {"orrery.json", [](MemScene& s) { FromExample(s, "orrery.json"); }, nullptr, {}},
      {"showroom.json", [](MemScene& s) { FromExample(s, "showroom.json"); }, nullptr, {}},
      {"features", FeatureScene, nullptr, {}},
      {"chain", ChainScene, nullptr, {}},
      {"a node of two headers", nullptr, TwoHeaderChain, {}},
  };
  for (const RoundTripCase& c : cases) {
    SCOPED_TRACE(c.name);
    MemScene original;
    if (c.scene) c.scene(original);
    original.ticksPerFrame = 160;
    const std::vector<uint8_t> bytes =
        c.file ? c.file()
               : ExportedBytes(original, TestOutputPath(std::string("handed_") + c.name + ".tsm"));
    MemScene full, passed;
    ASSERT_TRUE(ReadTsmScene(bytes.data(), bytes.size(), "f", full).ok);
    std::unordered_map<const MemNode*, int> number;
    for (size_t i = 0; i < full.Nodes().size(); ++i) number[full.Nodes()[i].get()] = int(i);
    struct Handed {
      int times = 0, parent = -2;
      std::string name;
      Class_ID object;
      Matrix3 world;
      MemMeshObject mesh;  // as handed over
      int lent = -1;       // the mesh's number among those handed over
    };
    std::vector<Handed> handed(full.Nodes().size());
    // The meshes handed over, by number while they are held; those let go.
    std::unordered_map<const MemObject*, int> lent;
    int meshes = 0, letGo = 0;
    TsmReadOptions options;
    options.holdAtCurrentTime = true;
    options.nodeDone = [&](MemNode* node, int n, int parent) {
      ASSERT_LT(static_cast<size_t>(n), handed.size());
      Handed& h = handed[n];
      h.times += 1;
      h.parent = parent;
      h.name = node->name;
      h.object = node->object != nullptr ? node->object->ClassIdentity() : Class_ID();
      h.world = node->NodeTransform(passed.currentTime);
      if (auto* mesh = dynamic_cast<MemMeshObject*>(node->object)) {
        handed[n].mesh.vertices = mesh->vertices;
        handed[n].mesh.faces = mesh->faces;
        handed[n].mesh.texVerts = mesh->texVerts;
        handed[n].lent = lent.emplace(mesh, meshes).first->second;
        meshes += handed[n].lent == meshes;
      }
    };
    options.objectDone = [&](const MemObject* object) {
      EXPECT_EQ(lent.erase(object), 1u);
      ++letGo;
    };
    ASSERT_TRUE(ReadTsmScene(bytes.data(), bytes.size(), "f", passed, options).ok);
    EXPECT_TRUE(passed.Nodes().empty());
    EXPECT_EQ(letGo, meshes);
    // The full read's mesh by number handed over, and the other way.
    std::unordered_map<const MemObject*, int> sharedAs;
    std::unordered_map<int, const MemObject*> fullOf;
    for (size_t i = 0; i < handed.size(); ++i) {
      MemNode* a = full.Nodes()[i].get();
      SCOPED_TRACE(a->name);
      EXPECT_EQ(handed[i].times, 1);
      EXPECT_EQ(handed[i].name, a->name);
      EXPECT_EQ(handed[i].parent, a->parent == full.Root() ? -1 : number.at(a->parent));
      const Class_ID object = a->object != nullptr ? a->object->ClassIdentity() : Class_ID();
      EXPECT_TRUE(handed[i].object == object);
      EXPECT_TRUE(handed[i].world == a->NodeTransform(full.currentTime));
      auto* mesh = dynamic_cast<MemMeshObject*>(a->object);
      if (mesh == nullptr) continue;
      EXPECT_EQ(sharedAs.emplace(mesh, handed[i].lent).first->second, handed[i].lent);
      EXPECT_EQ(fullOf.emplace(handed[i].lent, mesh).first->second, mesh);
      const MemMeshObject& got = handed[i].mesh;
      EXPECT_TRUE(std::equal(got.vertices.begin(), got.vertices.end(), mesh->vertices.begin(),
                             mesh->vertices.end()));
      EXPECT_TRUE(std::equal(got.texVerts.begin(), got.texVerts.end(), mesh->texVerts.begin(),
                             mesh->texVerts.end()));
      ASSERT_EQ(got.faces.size(), mesh->faces.size());
      for (size_t f = 0; f < got.faces.size(); ++f) {
        EXPECT_EQ(got.faces[f].v, mesh->faces[f].v);
        EXPECT_EQ(got.faces[f].materialId, mesh->faces[f].materialId);
        EXPECT_EQ(got.faces[f].smoothing, mesh->faces[f].smoothing);
      }
    }
  }
}

// Read node by node, a small mesh is read again from the editor section when its node
// needs it: those reads are told to the walk's observer on a track of their own, and the
// walk through the keyframer section never goes back for them (so its pages keep leaving).
TEST(TsmLoader, MeshesReadAgainWalkOnTheirOwnTrack) {
  MemScene original;
  ChainScene(original);
  original.ticksPerFrame = 160;
  const std::vector<uint8_t> bytes = ExportedBytes(original, TestOutputPath("read_back.tsm"));
  uint64_t keyframer = 0;
  ForEachChild(ReadChunkTree(bytes, false).top, bytes.data(), [&keyframer](const Chunk& c) {
    if (c.id == KEYFRAMER_DATA) keyframer = c.offset;
    return true;
  });
  ASSERT_GT(keyframer, 0u);
  static std::vector<std::pair<uint64_t, int>> notes;
  notes.clear();
  WalkObserver before = SetWalkObserver(
      [](uint64_t offset, int track, void*) { notes.emplace_back(offset, track); }, nullptr);
  MemScene scene;
  TsmReadOptions options;
  options.holdAtCurrentTime = true;
  options.nodeDone = [](MemNode*, int, int) {};
  const bool ok = ReadTsmScene(bytes.data(), bytes.size(), "f", scene, options).ok;
  SetWalkObserver(before, nullptr);
  ASSERT_TRUE(ok);
  // The first read back comes with the first node: from then on the walk is in the
  // keyframer section.
  size_t again = 0;
  for (const auto& n : notes) {
    EXPECT_TRUE(n.second == 0 || n.first < keyframer) << n.first;
    EXPECT_TRUE(n.second == 1 || again == 0 || n.first >= keyframer) << n.first;
    again += n.second == 1;
  }
  EXPECT_GT(again, 0u);
}

// A read that hands its nodes over checks each node as the scene's check checks the whole
// scene held at the current time, and fails with the same message.
TEST(TsmLoader, NodesHandedOverAreCheckedAsTheHeldScene) {
  auto mesh = [](std::initializer_list<float> matrix, float u) {
    return EditorFile([matrix, u](ChunkBuilder& b) {
      b.Begin(NAMED_OBJECT).Text("M").Begin(TRIANGLE_MESH);
      b.Begin(MESH_VERTICES).U16(3).F32s({0, 0, 0, 1, 0, 0, 0, 1, 0}).End();
      b.Begin(MESH_MATRIX).F32s(matrix).End();
      b.Begin(MESH_FACES).U16(1).U16(0).U16(1).U16(2).U16(7).F32s({0, 0, u, 0, 0, 1}).End();
      b.End().End();
    });
  };
  const std::initializer_list<float> placed = {1, 0, 0, 0, 1, 0, 0, 0, 1, 5, 5, 5};
  const LoadCase cases[] = {
      {"sound", mesh(placed, 1.0f), true, {}},
      {"texture vertex not finite", mesh(placed, std::nanf("")), false,
       {"t.tsm: the loaded scene fails its check: node \"M\": a texture vertex of its mesh is "
        "not finite"}},
      {"flat placement", mesh({0, 0, 0, 0, 0, 0, 0, 0, 0, 5, 5, 5}, 1.0f), false,
       {"t.tsm: the loaded scene fails its check: node \"M\" at "}},
  };
  for (const LoadCase& c : cases) {
    SCOPED_TRACE(c.name);
    TsmReadOptions options;
    options.holdAtCurrentTime = true;
    MemScene held;
    const ImportResult want = ReadTsmScene(c.bytes.data(), c.bytes.size(), "t.tsm", held, options);
    int handed = 0;
    options.nodeDone = [&handed](MemNode*, int, int) { ++handed; };
    MemScene passed;
    const ImportResult r = ReadTsmScene(c.bytes.data(), c.bytes.size(), "t.tsm", passed, options);
    EXPECT_EQ(r.ok, c.ok);
    EXPECT_EQ(want.ok, c.ok);
    EXPECT_EQ(r.error, want.error);
    EXPECT_EQ(handed, c.ok ? 1 : 0);
    for (const char* f : c.fragments) EXPECT_EQ(r.error.rfind(f, 0), 0u) << r.error;
  }
}

}  // namespace
}  // namespace tsm
