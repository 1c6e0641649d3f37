#include <filesystem>

#include "formats/json/scene_json.h"
#include "reader/chunk_dump.h"
#include "tests/export_check.h"
#include "tests/keyframer_builders.h"

namespace tsm {
namespace {

constexpr TimeValue kTpf = 160;

std::vector<uint8_t> Bytes(std::initializer_list<uint8_t> b) {
  return b;
}

// One node of each kind with animation, for the tests that walk the whole section.
void BuildFullScene(MemScene& scene) {
  MemNode* a = AddMesh(scene, "A");
  Animate(scene, a,
          Ctl(scene, ControlKind::POSITION, true, {KeyP(0, {0, 0, 0}), KeyP(10 * kTpf, {5, 0, 0})}),
          Ctl(scene, ControlKind::ROTATION, false, {KeyQ(0, Quat()), KeyQ(kTpf, Quat(0, 0, 1, 0))}),
          Ctl(scene, ControlKind::SCALE, true, {KeyP(0, {1, 1, 1})}));
  AddMesh(scene, "B", a->object, a);  // an instance below A
  MemNode* d = scene.AddNode("D");
  d->object = scene.Own(std::make_unique<MemDummyObject>());
  auto* cam = AddObjectNode<MemCameraObject>(scene, "Cam", nullptr);
  MemNode* camNode = scene.FindNode("Cam");
  cam->fovController = Ctl(scene, ControlKind::FLOAT, true, {KeyF(0, 0.5f), KeyF(kTpf, 0.6f)});
  Animate(scene, camNode, Ctl(scene, ControlKind::POSITION, false, {KeyP(0, {1, 2, 3})}), nullptr,
          nullptr, Ctl(scene, ControlKind::FLOAT, true, {KeyF(0, 0.1f)}));
  MemNode* camTarget = scene.AddNode("Cam.Target");
  camTarget->object = scene.AddObject(kFamilyHelper, kTargetObjectClass);
  MemScene::SetLookAt(camNode, camTarget);
  auto* spot = AddObjectNode<MemLightObject>(scene, "Spot", nullptr, true);
  spot->hotspotController = Ctl(scene, ControlKind::FLOAT, false, {KeyF(0, 20), KeyF(kTpf, 30)});
  MemNode* spotTarget = scene.AddNode("Spot.Target");
  spotTarget->object = scene.AddObject(kFamilyHelper, kTargetObjectClass);
  MemScene::SetLookAt(scene.FindNode("Spot"), spotTarget);
  auto* omni = AddObjectNode<MemLightObject>(scene, "Omni", nullptr, false);
  omni->colorController = Ctl(scene, ControlKind::POINT3, true, {KeyP(0, {1, 0, 0})});
}

class KeyframerTest : public ::testing::Test {
 protected:
  ModuleHandleScope handle;  // so the caption loads
  MemScene scene;
  CaptureSink sink;
};

TEST_F(KeyframerTest, OneKeylessMeshGivesTheSectionOf219Bytes) {
  MemNode* box = AddMesh(scene, "Box01");
  AnimateKeyless(scene, box);
  Section s = WriteSection(scene);
  EXPECT_EQ(s.bytes.size(), 219u);
  EXPECT_EQ(ChildIds(s.top),
            std::vector<uint16_t>({KF_HEADER, KF_SEGMENT, KF_CURRENT_TIME, OBJECT_NODE}));
  std::vector<uint32_t> lengths;
  for (const Chunk& c : s.top.children) lengths.push_back(c.length);
  EXPECT_EQ(lengths, std::vector<uint32_t>({21, 14, 10, 168}));
  const Chunk& node = s.Node(0);
  EXPECT_EQ(ChildIds(node), std::vector<uint16_t>({NODE_ID, NODE_HEADER, NODE_PIVOT, POSITION_TRACK,
                                                   ROTATION_TRACK, SCALE_TRACK}));
  lengths.clear();
  for (const Chunk& c : node.children) lengths.push_back(c.length);
  EXPECT_EQ(lengths, std::vector<uint32_t>({8, 18, 18, 38, 42, 38}));
  ExpectBytes(PayloadBytes(s.bytes, node.children[0]), Bytes({0, 0}));
  ExpectBytes(PayloadBytes(s.bytes, node.children[1]),
              Bytes({'B', 'o', 'x', '0', '1', 0, 0x00, 0x40, 0, 0, 0xFF, 0xFF}));
  ExpectBytes(PayloadBytes(s.bytes, s.top.children[0]),
              Bytes({5, 0, 'O', 'R', 'B', 'S', 'C', 'E', 'N', 'E', 0, 100, 0, 0, 0}));
  EXPECT_TRUE(sink.boxes.empty());
}

TEST_F(KeyframerTest, RangeAndCurrentTime) {
  const struct {
    Interval range;
    TimeValue now;
    int32_t start, end;
  } cases[] = {{Interval(0, 100 * kTpf), 10 * kTpf, 0, 100},
               {Interval(-240, 50 * kTpf + 80), 7, -1, 50},
               {Interval(-3 * kTpf, -kTpf - 1), -5, -3, -1}};
  AddMesh(scene, "M");
  for (const auto& c : cases) {
    scene.animationRange = c.range;
    scene.currentTime = c.now;
    Section s = WriteSection(scene);
    const std::vector<uint8_t>& b = s.bytes;
    EXPECT_EQ(static_cast<int32_t>(GetU32(b, s.top.children[0].payloadBegin + 11)), c.end);
    EXPECT_EQ(static_cast<int32_t>(GetU32(b, s.top.children[1].payloadBegin)), c.start);
    EXPECT_EQ(static_cast<int32_t>(GetU32(b, s.top.children[1].payloadBegin + 4)), c.end);
    EXPECT_EQ(static_cast<int32_t>(GetU32(b, s.top.children[2].payloadBegin)), c.now);
  }
}

// Header name, first flag word and whether INSTANCE_NAME follows, for nodes sharing one
// mesh object and for a dummy.
TEST_F(KeyframerTest, InstancesSameNamedInstancesAndDummies) {
  MemObject* shared = scene.Own(std::make_unique<MemMeshObject>());
  AddMesh(scene, "A", shared);
  AddMesh(scene, "B", shared);
  MemObject* twice = scene.Own(std::make_unique<MemMeshObject>());
  AddMesh(scene, "C", twice);
  AddMesh(scene, "C", twice);
  MemNode* d = scene.AddNode("D");
  auto* dummy = scene.Own(std::make_unique<MemDummyObject>());
  dummy->box.pmin = Point3(-1, -2, -3);
  dummy->box.pmax = Point3(4, 5, 6);
  d->object = dummy;
  d->objectOffsetPos = Point3(1, 0, 0);
  Section s = WriteSection(scene);
  const struct {
    const char* header;
    uint16_t flag;
    const char* instance;  // null: no INSTANCE_NAME
  } expected[] = {{"A", 0x4000, nullptr},
                  {"A", 0, "B"},
                  {"C", 0x4000, nullptr},
                  {"C", 0x4000, nullptr},
                  {"$$$DUMMY", 0x4000, "D"}};
  ASSERT_EQ(s.Nodes().size(), 3u + 5u);
  for (size_t i = 0; i < 5; ++i) {
    const Chunk& node = s.Node(i);
    const Chunk& h = ChildOf(node, NODE_HEADER);
    std::string name(reinterpret_cast<const char*>(&s.bytes[h.payloadBegin]));
    EXPECT_EQ(name, expected[i].header) << i;
    EXPECT_EQ(GetU16(s.bytes, h.payloadBegin + name.size() + 1), expected[i].flag) << i;
    std::vector<uint16_t> ids = ChildIds(node);
    bool hasInstance = std::count(ids.begin(), ids.end(), INSTANCE_NAME) == 1;
    EXPECT_EQ(hasInstance, expected[i].instance != nullptr) << i;
    if (hasInstance) {
      EXPECT_STREQ(
          reinterpret_cast<const char*>(&s.bytes[ChildOf(node, INSTANCE_NAME).payloadBegin]),
          expected[i].instance);
    }
  }
  EXPECT_EQ(ChildIds(s.Node(4)),
            std::vector<uint16_t>({NODE_ID, NODE_HEADER, NODE_PIVOT, INSTANCE_NAME, POSITION_TRACK,
                                   ROTATION_TRACK, SCALE_TRACK, NODE_BOUNDS}));
  // The pivot is the negated offset; the bounds are the box moved by the offset.
  const Chunk& pivot = ChildOf(s.Node(4), NODE_PIVOT);
  EXPECT_EQ(GetF32(s.bytes, pivot.payloadBegin), -1.0f);
  const Chunk& bounds = ChildOf(s.Node(4), NODE_BOUNDS);
  std::vector<float> box;
  for (int k = 0; k < 6; ++k) box.push_back(GetF32(s.bytes, bounds.payloadBegin + 4 * k));
  EXPECT_EQ(box, std::vector<float>({0, -2, -3, 5, 5, 6}));
}

TEST_F(KeyframerTest, NumbersSkipShapesAndParentsNameEarlierNodes) {
  MemNode* m0 = AddMesh(scene, "M0");
  MemNode* shape = scene.AddNode("S");
  shape->object = scene.Own(std::make_unique<MemShapeObject>());
  AddMesh(scene, "UnderShape", nullptr, shape);
  AddMesh(scene, "M1");
  AddMesh(scene, "UnderM0", nullptr, m0);
  // Visit order: M0, UnderM0, S, UnderShape, M1.
  KeyframerRun run(scene);
  std::vector<uint8_t> b = run.Write();
  ChunkTree tree = ReadChunkTree(b);
  ASSERT_TRUE(tree.ok) << tree.error;
  const struct {
    const char* name;
    int32_t number;
    uint16_t parent;
  } expected[] = {
      {"M0", 0, NO_PARENT}, {"UnderM0", 1, 0}, {"UnderShape", 2, NO_PARENT}, {"M1", 3, NO_PARENT}};
  ASSERT_EQ(tree.top.children.size(), 3u + 4u);
  for (size_t i = 0; i < 4; ++i) {
    const Chunk& node = tree.top.children[3 + i];
    EXPECT_EQ(GetU16(b, ChildOf(node, NODE_ID).payloadBegin), expected[i].number);
    const Chunk& h = ChildOf(node, NODE_HEADER);
    EXPECT_EQ(GetU16(b, h.payloadEnd - 2), expected[i].parent) << expected[i].name;
  }
  for (SceneEntry* e = run.Entries().First(); e != nullptr; e = e->next)
    EXPECT_EQ(e->NodeNumber == kNoNodeNumber, e->kind == ENTRY_SHAPE) << e->name;
}

TEST_F(KeyframerTest, MissingSubControllerGivesDecomposedSingleKeys) {
  MemNode* parent = AddMesh(scene, "P");
  parent->local = ScaleMatrix({2, 2, 2}) * TransMatrix({10, 0, 0});
  MemNode* child = AddMesh(scene, "C", nullptr, parent);
  child->local = ScaleMatrix({1, -3, 2}) * QuatToMatrix(QuatFromAngAxis(0.4f, {0, 0, 1})) *
                 TransMatrix({1, 2, 3});
  // Position and scale are animated, the rotation has no sub-controller.
  Animate(scene, child,
          Ctl(scene, ControlKind::POSITION, true, {KeyP(0, {1, 2, 3}), KeyP(10 * kTpf, {3, 2, 1})}),
          nullptr,
          Ctl(scene, ControlKind::SCALE, true, {KeyP(0, {1, 3, 2}), KeyP(kTpf, {1, 3, 2})}));
  scene.currentTime = 5 * kTpf;
  Section s = WriteSection(scene);
  const Chunk& node = s.Node(1);
  Point3 t, sc;
  Quat q;
  DecomposeMatrix(
      child->ObjectTransform(scene.currentTime) * Inverse(parent->NodeTransform(scene.currentTime)),
      t, q, sc);
  DecodedTrack pos = DecodeTrackChunk(s, ChildOf(node, POSITION_TRACK));
  DecodedTrack rot = DecodeTrackChunk(s, ChildOf(node, ROTATION_TRACK));
  DecodedTrack scl = DecodeTrackChunk(s, ChildOf(node, SCALE_TRACK));
  for (const DecodedTrack* tr : {&pos, &rot, &scl}) {
    ASSERT_EQ(tr->keys.size(), 1u);
    EXPECT_EQ(tr->keys[0].frame, 0);
    EXPECT_TRUE(tr->complete);
  }
  ExpectNearP(Point3(pos.keys[0].value[0], pos.keys[0].value[1], pos.keys[0].value[2]), {2, 2, 2});
  ExpectNearP(Point3(scl.keys[0].value[0], scl.keys[0].value[1], scl.keys[0].value[2]), sc);
  ExpectSameRotation(KeyRotation(rot.keys[0]), q);
  EXPECT_NEAR(std::fabs(sc.y), 3.0f, 1e-4f);
}

TEST_F(KeyframerTest, ChildrenOfEveryNodeKindInOrder) {
  BuildFullScene(scene);
  AddObjectNode<MemCameraObject>(scene, "PlainCam", nullptr);  // no controllers at all
  AddObjectNode<MemLightObject>(scene, "PlainOmni", nullptr, false);
  Section s = WriteSection(scene);
  // Visit order: A, B, D, Cam, Cam.Target, Spot, Spot.Target, Omni, PlainCam, PlainOmni.
  const std::vector<std::vector<uint16_t>> expected = {
      {NODE_ID, NODE_HEADER, NODE_PIVOT, POSITION_TRACK, ROTATION_TRACK, SCALE_TRACK},
      {NODE_ID, NODE_HEADER, NODE_PIVOT, INSTANCE_NAME, POSITION_TRACK, ROTATION_TRACK,
       SCALE_TRACK},
      {NODE_ID, NODE_HEADER, NODE_PIVOT, INSTANCE_NAME, POSITION_TRACK, ROTATION_TRACK, SCALE_TRACK,
       NODE_BOUNDS},
      {NODE_ID, NODE_HEADER, POSITION_TRACK, FOV_TRACK, ROLL_TRACK},
      {NODE_ID, NODE_HEADER},
      {NODE_ID, NODE_HEADER, COLOR_TRACK, HOTSPOT_TRACK, FALLOFF_TRACK},
      {NODE_ID, NODE_HEADER},
      {NODE_ID, NODE_HEADER, COLOR_TRACK},
      {NODE_ID, NODE_HEADER, FOV_TRACK},
      {NODE_ID, NODE_HEADER, COLOR_TRACK}};
  const std::vector<uint16_t> nodeIds = {
      OBJECT_NODE,     OBJECT_NODE,       OBJECT_NODE,      CAMERA_NODE, CAMERA_TARGET_NODE,
      SPOT_LIGHT_NODE, LIGHT_TARGET_NODE, POINT_LIGHT_NODE, CAMERA_NODE, POINT_LIGHT_NODE};
  ASSERT_EQ(s.Nodes().size(), 3 + expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(s.Node(i).id, nodeIds[i]) << i;
    EXPECT_EQ(ChildIds(s.Node(i)), expected[i]) << i;
  }
  // Targets carry their owner's name; the roll is reversed degrees; the plain camera's
  // field of view is its static one in degrees; the plain light's colour its own.
  EXPECT_STREQ(
      reinterpret_cast<const char*>(&s.bytes[ChildOf(s.Node(4), NODE_HEADER).payloadBegin]), "Cam");
  EXPECT_NEAR(DecodeTrackChunk(s, ChildOf(s.Node(3), ROLL_TRACK)).keys[0].value[0], -5.7296f,
              1e-3f);
  EXPECT_FLOAT_EQ(DecodeTrackChunk(s, ChildOf(s.Node(8), FOV_TRACK)).keys[0].value[0],
                  0.785398163f * 57.29578f);
  EXPECT_EQ(DecodeTrackChunk(s, ChildOf(s.Node(9), COLOR_TRACK)).keys[0].value,
            std::vector<float>({1, 1, 1}));
  EXPECT_TRUE(sink.boxes.empty());
}

TEST_F(KeyframerTest, TargetOfAnUnexportedLightGetsABoxAndAnEmptyHeader) {
  MemNode* owner = scene.AddNode("Odd");
  owner->object = scene.AddObject(kFamilyLight, Class_ID(0x1013, 0));  // not classified
  MemNode* target = scene.AddNode("Odd.Target");
  target->object = scene.AddObject(kFamilyHelper, kTargetObjectClass);
  MemScene::SetLookAt(owner, target);
  Animate(scene, target, Ctl(scene, ControlKind::POSITION, false, {KeyP(0, {1, 2, 3})}), nullptr,
          nullptr);
  AddMesh(scene, "After");
  for (int quiet : {0, 1}) {
    sink.boxes.clear();
    QuietMode = quiet;
    Section s = WriteSection(scene);
    QuietMode = 0;
    ASSERT_EQ(s.Nodes().size(), 3u + 2u);
    EXPECT_EQ(s.Node(0).id, LIGHT_TARGET_NODE);
    EXPECT_EQ(ChildIds(s.Node(0)), std::vector<uint16_t>({NODE_ID, NODE_HEADER, POSITION_TRACK}));
    EXPECT_EQ(ChildOf(s.Node(0), NODE_HEADER).length, 6u);
    ASSERT_EQ(sink.boxes.size(), quiet ? 0u : 1u);
    if (!quiet) {
      EXPECT_EQ(sink.boxes[0].text, "Error finding camera's look at target!");
      EXPECT_EQ(sink.boxes[0].caption, "Export Error");
    }
  }
}

TEST_F(KeyframerTest, AnIdTheWriterDoesNotKnowIsABareChunkAndABox) {
  AddMesh(scene, "M");
  KeyframerRun run(scene);
  MemoryStream s;
  ASSERT_TRUE(WriteKeyframerSection(s));
  size_t before = s.Bytes().size();
  EXPECT_EQ(WriteKeyframerChunk(0xB0FF, nullptr), 1);
  ExpectBytes(std::vector<uint8_t>(s.Bytes().begin() + before, s.Bytes().end()),
              Bytes({0xFF, 0xB0, 6, 0, 0, 0}));
  ASSERT_EQ(sink.boxes.size(), 1u);
  EXPECT_EQ(sink.boxes[0].text, "Unknown Tag Type");
}

TEST_F(KeyframerTest, AShortWriteAnywhereFailsTheSection) {
  BuildFullScene(scene);
  KeyframerRun run(scene);
  std::vector<uint8_t> good = run.Write();
  ASSERT_GT(good.size(), 500u);
  for (uint64_t at = 0; at < good.size(); ++at) {
    ShortWriteStream s(at);
    EXPECT_FALSE(WriteKeyframerSection(s)) << at;
    EXPECT_GE(s.ShortWrites(), 1) << at;
  }
  ShortWriteStream enough(good.size());
  EXPECT_TRUE(WriteKeyframerSection(enough));
  EXPECT_EQ(enough.Bytes(), good);
}

// A file numbers at most 65535 nodes: one more is refused before anything is written,
// by the writer and, before any file is touched, by the run.
TEST_F(KeyframerTest, TheNodeLimitIsAClearFailure) {
  MemObject* shared = scene.Own(std::make_unique<MemMeshObject>());
  for (int i = 0; i < kMaxKeyframerNodes; ++i) AddMesh(scene, "N" + std::to_string(i), shared);
  {
    KeyframerRun run(scene);
    std::vector<uint8_t> b = run.Write();
    EXPECT_EQ(run.Entries().Last()->NodeNumber, 65534);
  }
  AddMesh(scene, "Last", shared);
  {
    KeyframerRun run(scene);
    MemoryStream s;
    EXPECT_FALSE(WriteKeyframerSection(s));
    EXPECT_TRUE(s.Bytes().empty());
  }
  std::string path = TestOutputPath("too_many_nodes.tsm");
  { std::ofstream(path) << "previous"; }
  ExportInterface ei;
  ei.scene = &scene;
  sink.boxes.clear();
  EXPECT_EQ(ExportToFile(path.c_str(), &ei, &scene, 1, 0), 1);
  EXPECT_EQ(LastRunOutcome(), RunOutcome::TOO_MANY_NODES);
  ASSERT_FALSE(sink.boxes.empty());
  EXPECT_EQ(sink.boxes.back().text, kTooManyNodesText);
  EXPECT_NE(sink.boxes.back().text.find("65535"), std::string::npos);
  EXPECT_EQ(ReadFileText(path), "previous");
}

// A scene file's controllers round-trip: what the file holds at each key time is the
// scene's own value there.
TEST_F(KeyframerTest, SceneFileControllersRoundTrip) {
  std::string path = std::string(TSM_SOURCE_DIR) + "/examples/animated.json";
  LoadResult r = LoadJsonScene(path, scene);
  ASSERT_TRUE(r.ok) << r.error;
  Section s = WriteSection(scene);
  scene.ApplyHostSettings();
  int tracksChecked = 0;
  KeyframerRun run(scene);  // for the entries in the same order as the section
  size_t i = 0;
  for (SceneEntry* e = run.Entries().First(); e != nullptr; e = e->next) {
    if (KeyframerNodeChunk(e->kind) == 0) continue;
    const Chunk& node = s.Node(i++);
    HostController* tc = e->node->TransformController();
    for (const Chunk& c : node.children) {
      HostController* ctl = nullptr;
      switch (c.id) {
        case POSITION_TRACK:
          ctl = tc ? tc->PositionController() : nullptr;
          break;
        case ROTATION_TRACK:
          ctl = tc ? tc->RotationController() : nullptr;
          break;
        case SCALE_TRACK:
          ctl = tc ? tc->ScaleController() : nullptr;
          break;
        case ROLL_TRACK:
          ctl = tc->RollController();
          break;
        case FOV_TRACK:
          ctl = e->object->FovController();
          break;
        case COLOR_TRACK:
          ctl = e->object->ColorController();
          break;
        case HOTSPOT_TRACK:
          ctl = e->object->HotspotController();
          break;
        case FALLOFF_TRACK:
          ctl = e->object->FalloffController();
          break;
        default:
          continue;
      }
      DecodedTrack t = DecodeTrackChunk(s, c);
      ASSERT_TRUE(t.complete) << e->name;
      if (ctl == nullptr || ctl->KeyCount() <= 0 || t.keys.size() < 2) continue;
      if (c.id >= POSITION_TRACK && c.id <= SCALE_TRACK &&
          (!tc->PositionController() || !tc->RotationController() || !tc->ScaleController()))
        continue;  // decomposed
      ASSERT_EQ(t.keys.size(), static_cast<size_t>(ctl->KeyCount())) << e->name;
      ++tracksChecked;
      Quat absolute;
      for (int k = 0; k < ctl->KeyCount(); ++k) {
        TimeValue time = ctl->KeyTime(k);
        EXPECT_EQ(t.keys[k].frame, FrameOfTicks(time));
        Interval valid;
        const std::vector<float>& v = t.keys[k].value;
        if (c.id == ROTATION_TRACK) {
          absolute = KeyRotation(t.keys[k]) * absolute;
          Quat q;
          ctl->ControllerValue(time, &q, valid, 1);
          ExpectSameRotation(absolute, q);
        } else if (c.id == SCALE_TRACK) {
          ScaleValue sv;
          ctl->ControllerValue(time, &sv, valid, 1);
          ExpectNearP(Point3(v[0], v[1], v[2]), sv.s);
        } else if (v.size() == 3) {
          Point3 p;
          ctl->ControllerValue(time, &p, valid, 1);
          ExpectNearP(Point3(v[0], v[1], v[2]), p);
        } else {
          float f = 0;
          ctl->ControllerValue(time, &f, valid, 1);
          float factor = c.id == FOV_TRACK ? 57.29578f : c.id == ROLL_TRACK ? -57.29578f : 1.0f;
          EXPECT_NEAR(v[0], f * factor, 1e-3f) << e->name;
        }
      }
    }
  }
  EXPECT_GE(tracksChecked, 10);
}

// Every example scene exports completely into a file that the check accepts.
TEST_F(KeyframerTest, EveryExampleExportsAndPassesTheCheck) {
  namespace fs = std::filesystem;
  int examples = 0;
  for (const auto& f : fs::directory_iterator(fs::path(TSM_SOURCE_DIR) / "examples")) {
    if (f.path().extension() != ".json") continue;
    ++examples;
    MemScene example;
    LoadResult r = LoadJsonScene(f.path().string(), example);
    ASSERT_TRUE(r.ok) << r.error;
    example.ApplyHostSettings();
    std::string out = TestOutputPath(f.path().stem().string() + ".tsm");
    ExportInterface ei;
    ei.scene = &example;
    QuietMode = 1;
    EXPECT_EQ(RunExport(out.c_str(), &ei, &example), 1) << f.path();
    QuietMode = 0;
    ResetHostCore();
    std::vector<uint8_t> bytes = ReadFileBytes(out);
    FileCheck check = CheckChunkFile(bytes);
    EXPECT_TRUE(check.ok) << f.path() << ": " << check.error;
  }
  EXPECT_GE(examples, 4);
}

}  // namespace
}  // namespace tsm
