#include "reader/chunk_dump.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/sample_files.h"
#include "writer/chunk_ids.h"

namespace tsm {
namespace {

// The payload of the single chunk that b holds.
std::vector<uint8_t> PayloadOf(const ChunkBuilder& b) {
  std::vector<uint8_t> bytes = b.Bytes();
  return std::vector<uint8_t>(bytes.begin() + 6, bytes.end());
}

// Decodes the payload of the one chunk in b, which must be well formed.
std::string Decoded(const ChunkBuilder& b) {
  std::vector<uint8_t> bytes = b.Bytes();
  EXPECT_GE(bytes.size(), 6u);
  uint16_t id = static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
  std::vector<uint8_t> payload = PayloadOf(b);
  DecodedPayload d = DecodePayload(id, payload.data(), payload.size());
  EXPECT_TRUE(d.ok) << d.problem;
  return d.text;
}

DecodedPayload DecodeBytes(uint16_t id, const std::vector<uint8_t>& payload) {
  return DecodePayload(id, payload.data(), payload.size());
}

TEST(ChunkDump, DecodesEditorPayloads) {
  ChunkBuilder version, scale, props, vertices, matrix, material, smoothing, shape;
  version.Begin(MESH_VERSION).U32(3).End();
  EXPECT_EQ(Decoded(version), "version=3");
  scale.Begin(MASTER_SCALE).F32(2.5f).End();
  EXPECT_EQ(Decoded(scale), "scale=2.5");
  ChunkBuilder third;
  third.Begin(MASTER_SCALE).F32(1.0f / 3.0f).End();
  EXPECT_EQ(Decoded(third), "scale=0.33333334");  // every digit the float needs
  props.Begin(OBJECT_PROPERTIES).Text("mass=2").I32(1).I32(0).End();
  EXPECT_EQ(Decoded(props), "properties=\"mass=2\" lockGroup=1 axis=0");
  vertices.Begin(MESH_VERTICES).U16(2).F32s({1, 2, 3, 4, 5, 6}).End();
  EXPECT_EQ(Decoded(vertices), "vertices=2");
  matrix.Begin(MESH_MATRIX).F32s({1, 0, 0, 0, 1, 0, 0, 0, 1, 0.001f, 5, -7}).End();
  EXPECT_EQ(Decoded(matrix), "matrix=(1, 0, 0 | 0, 1, 0 | 0, 0, 1 | 0.001, 5, -7)");
  material.Begin(FACE_MATERIAL).Text("Matl").U16(3).U16(0).U16(1).U16(2).End();
  EXPECT_EQ(Decoded(material), "material=\"Matl\" faces=3");
  smoothing.Begin(FACE_SMOOTHING).U32(1).U32(0).End();
  EXPECT_EQ(Decoded(smoothing), "words=2");
  shape.Begin(SHAPE_POINTS).Text("Root").I32(1).F32s({1, 2, 3}).End();
  EXPECT_EQ(Decoded(shape), "parent=\"Root\" points=1");
}

TEST(ChunkDump, DecodesLightAndCameraPayloads) {
  ChunkBuilder shadow, camera, ranges, color;
  shadow.Begin(SPOT_SHADOW_MAP).F32(0.5f).F32(4).U16(512).End();
  EXPECT_EQ(Decoded(shadow), "bias=0.5 range=4 size=512");
  camera.Begin(CAMERA).F32s({0, -10, 0, 0, 0, 0, 0, 53.3333f}).End();
  EXPECT_EQ(Decoded(camera), "position=(0, -10, 0) target=(0, 0, 0) roll=0 lens=53.3333");
  ranges.Begin(CAMERA_RANGES).F32(1).F32(1000).End();
  EXPECT_EQ(Decoded(ranges), "near=1 far=1000");
  color.Begin(COLOR_FLOAT).F32s({1, 0.5f, 0}).End();
  EXPECT_EQ(Decoded(color), "color=(1, 0.5, 0)");
}

TEST(ChunkDump, DecodesMaterialPayloads) {
  ChunkBuilder rgb, percent, tiling, reflection, file;
  rgb.Begin(COLOR_BYTES).Bytes({255, 128, 0}).End();
  EXPECT_EQ(Decoded(rgb), "rgb=(255, 128, 0)");
  percent.Begin(PERCENTAGE).U16(75).End();
  EXPECT_EQ(Decoded(percent), "percent=75");
  tiling.Begin(MAP_TILING).U16(0x0011).End();
  EXPECT_EQ(Decoded(tiling), "flags=0x0011");
  reflection.Begin(MAP_AUTO_REFLECTION).U8(4).U8(0).U16(1).I32(100).I32(-1).End();
  EXPECT_EQ(Decoded(reflection), "kind=4 reserved=0 flags=0x0001 size=100 nthFrame=-1");
  file.Begin(MAP_FILE_NAME).Text("").End();
  EXPECT_EQ(Decoded(file), "file=\"\"");
}

TEST(ChunkDump, DecodesKeyframerPayloads) {
  ChunkBuilder header, segment, node, orphan, bounds;
  header.Begin(KF_HEADER).U16(5).Text("ORBSCENE").U32(100).End();
  EXPECT_EQ(Decoded(header), "revision=5 scene=\"ORBSCENE\" end=100");
  segment.Begin(KF_SEGMENT).U32(0xFFFFFFFFu).U32(100).End();
  EXPECT_EQ(Decoded(segment), "start=-1 end=100");
  node.Begin(NODE_HEADER).Text("A").U16(0).U16(0).U16(3).End();
  EXPECT_EQ(Decoded(node), "name=\"A\" flags1=0x0000 flags2=0x0000 parent=3");
  orphan.Begin(NODE_HEADER).Text("$$$DUMMY").U16(0x4000).U16(0).U16(NO_PARENT).End();
  EXPECT_EQ(Decoded(orphan), "name=\"$$$DUMMY\" flags1=0x4000 flags2=0x0000 parent=none");
  bounds.Begin(NODE_BOUNDS).F32s({-1, -2, -3, 1, 2, 3}).End();
  EXPECT_EQ(Decoded(bounds), "min=(-1, -2, -3) max=(1, 2, 3)");
}

TEST(ChunkDump, SingleKeyTrackShowsItsValue) {
  ChunkBuilder fov, rotation;
  SingleKeyTrack(fov, FOV_TRACK).F32(45).End();
  EXPECT_EQ(Decoded(fov), "flags=0x0000 first=0 last=0 keys=1 frame=0 value=45");
  SingleKeyTrack(rotation, ROTATION_TRACK).F32s({1.5f, 0, 0, 1}).End();
  EXPECT_EQ(Decoded(rotation), "flags=0x0000 first=0 last=0 keys=1 frame=0 value=(1.5, 0, 0, 1)");
}

TEST(ChunkDump, KeyedTrackWithSplineParametersIsWalkedToItsEnd) {
  ChunkBuilder b;
  b.Begin(POSITION_TRACK).U16(0).U32(0).U32(20).U32(3);
  b.U32(0).U16(0x0001).F32(0.5f).F32s({1, 2, 3});               // tension
  b.U32(10).U16(0x001F).F32s({1, 2, 3, 4, 5}).F32s({4, 5, 6});  // all five
  b.U32(20).U16(0).F32s({7, 8, 9});
  b.End();
  EXPECT_EQ(Decoded(b),
            "flags=0x0000 first=0 last=20 keys=3 key0=[0 0x0001 (0.5) (1, 2, 3)] "
            "key1=[10 0x001F (1, 2, 3, 4, 5) (4, 5, 6)] key2=[20 (7, 8, 9)]");
}

TEST(ChunkDump, TrackWithMissingOrExtraKeyBytesIsMalformed) {
  ChunkBuilder shortKey;
  shortKey.Begin(SCALE_TRACK).U16(0).U32(0).U32(0).U32(2).U32(0).U16(0).F32s({1, 1, 1}).End();
  DecodedPayload d = DecodeBytes(SCALE_TRACK, PayloadOf(shortKey));
  EXPECT_FALSE(d.ok);
  EXPECT_EQ(d.problem, "payload of 32 bytes ends inside key 1 at byte 32");

  ChunkBuilder spline;
  spline.Begin(FOV_TRACK).U16(0).U32(0).U32(0).U32(1).U32(0).U16(0x0020).F32(1).End();
  d = DecodeBytes(FOV_TRACK, PayloadOf(spline));
  EXPECT_FALSE(d.ok);
  EXPECT_EQ(d.problem, "key 0 has unknown spline flag bits 0x0020");

  ChunkBuilder extra;
  SingleKeyTrack(extra, HOTSPOT_TRACK).F32(1).F32(2).End();
  d = DecodeBytes(HOTSPOT_TRACK, PayloadOf(extra));
  EXPECT_FALSE(d.ok);
  EXPECT_EQ(d.problem, "4 unexpected bytes after the payload's last field");
}

TEST(ChunkDump, HugeCountsInSmallPayloadsAreMalformed) {
  ChunkBuilder vertices;
  vertices.Begin(MESH_VERTICES).U16(1000).F32s({1, 2, 3}).End();
  DecodedPayload d = DecodeBytes(MESH_VERTICES, PayloadOf(vertices));
  EXPECT_FALSE(d.ok);
  EXPECT_EQ(d.problem, "1000 vertices need 12000 bytes, 12 are left");

  ChunkBuilder track;
  track.Begin(COLOR_TRACK).U16(0).U32(0).U32(0).U32(0xFFFFFFFFu).End();
  EXPECT_FALSE(DecodeBytes(COLOR_TRACK, PayloadOf(track)).ok);

  ChunkBuilder points;
  points.Begin(SHAPE_POINTS).Text("").I32(-2).End();
  d = DecodeBytes(SHAPE_POINTS, PayloadOf(points));
  EXPECT_FALSE(d.ok);
  EXPECT_EQ(d.problem, "negative point count -2");
}

TEST(ChunkDump, FixedPayloadOfWrongSizeIsMalformed) {
  DecodedPayload d = DecodeBytes(FILE_VERSION, {3, 0, 0});
  EXPECT_FALSE(d.ok);
  EXPECT_EQ(d.problem, "payload of 3 bytes ends inside version at byte 0");
  d = DecodeBytes(LIGHT_OFF, {0});
  EXPECT_FALSE(d.ok);
  EXPECT_EQ(d.problem, "1 unexpected bytes after the payload's last field");
  d = DecodeBytes(MATERIAL_NAME, {'M', 'a'});
  EXPECT_FALSE(d.ok);
  EXPECT_EQ(d.problem, "name text at byte 0 has no terminating NUL");
  d = DecodeBytes(FACE_SMOOTHING, {1, 0, 0, 0, 0});
  EXPECT_FALSE(d.ok);
  EXPECT_EQ(d.problem, "5 bytes are not a whole number of u32 words");
}

TEST(ChunkDump, EmptyPayloadIsAcceptedOnlyWhereASoftErrorLeavesOne) {
  for (uint16_t id : {MESH_VERTEX_COLORS, FACE_MATERIAL, NODE_HEADER}) {
    DecodedPayload d = DecodePayload(id, nullptr, 0);
    EXPECT_TRUE(d.ok) << ChunkName(id);
    EXPECT_EQ(d.text, "payload=none") << ChunkName(id);
  }
  for (uint16_t id : {MESH_VERTICES, OBJECT_PROPERTIES, NODE_ID, PERCENTAGE, KF_HEADER}) {
    EXPECT_FALSE(DecodePayload(id, nullptr, 0).ok) << ChunkName(id);
  }
  EXPECT_TRUE(DecodePayload(LIGHT_ATTENUATE, nullptr, 0).ok);
  EXPECT_EQ(DecodePayload(LIGHT_ATTENUATE, nullptr, 0).text, "");
}

TEST(ChunkDump, OpaquePayloadsShowSizeAndSmallOnesTheirBytes) {
  EXPECT_EQ(DecodeBytes(0x1234, {0x01, 0xAB}).text, "bytes=2 hex=01AB");
  EXPECT_EQ(DecodeBytes(EXTRA_DATA, std::vector<uint8_t>(17, 0)).text, "bytes=17");
  EXPECT_EQ(DecodeBytes(MASK_DATA_BUMP, {}).text, "bytes=0");
}

TEST(ChunkDump, TextsAreQuotedEscapedAndCut) {
  EXPECT_EQ(DecodeBytes(INSTANCE_NAME, {'a', '"', '\n', 0xE9, 0}).text, "name=\"a\\\"\\x0A\\xE9\"");
  std::vector<uint8_t> longName(100, 'x');
  longName.push_back(0);
  EXPECT_EQ(DecodeBytes(INSTANCE_NAME, longName).text, "name=\"" + std::string(64, 'x') + "...\"");
}

TEST(ChunkDump, SkeletonTreeAsText) {
  std::vector<uint8_t> file = SkeletonFile();
  ChunkTree t = ReadChunkTree(file);
  ASSERT_TRUE(t.ok);
  EXPECT_EQ(FormatChunkTreeText(t.top, file.data(), file.size()),
            "0 0xBEEF MOD_MAIN len=28\n"
            "  6 0x0002 FILE_VERSION len=10 version=3\n"
            "  16 0x3D3D EDITOR_DATA len=6\n"
            "  22 0xB000 KEYFRAMER_DATA len=6\n");
}

TEST(ChunkDump, TextTreeMarksUnknownIdsAndBadPayloads) {
  ChunkBuilder b;
  b.Begin(EDITOR_DATA);
  b.Begin(0x7777).U8(9).End();
  b.Begin(MESH_VERSION).U16(3).End();
  b.End();
  std::vector<uint8_t> file = b.Bytes();
  ChunkTree t = ReadChunkTree(file);
  ASSERT_TRUE(t.ok) << t.error;
  EXPECT_EQ(FormatChunkTreeText(t.top, file.data(), file.size()),
            "0 0x3D3D EDITOR_DATA len=21\n"
            "  6 0x7777 ? len=7 bytes=1 hex=09\n"
            "  13 0x3D3E MESH_VERSION len=8 (bad payload: payload of 2 bytes ends inside "
            "version at byte 0)\n");
}

TEST(ChunkDump, JsonTreeCarriesFieldsHexAndChildren) {
  ChunkBuilder b;
  b.Begin(MOD_MAIN);
  b.Begin(FILE_VERSION).U32(3).End();
  b.Begin(EDITOR_DATA);
  b.Begin(NAMED_OBJECT).Text("Caf\xE9");
  b.Begin(0x1234).Bytes({0xCA, 0xFE}).End();
  b.End().End();
  b.Begin(KEYFRAMER_DATA).Begin(NODE_PIVOT).F32s({-1, 0.1f, 2}).End().End();
  b.End();
  std::vector<uint8_t> file = b.Bytes();
  ChunkTree t = ReadChunkTree(file);
  ASSERT_TRUE(t.ok) << t.error;
  nlohmann::json j = nlohmann::json::parse(FormatChunkTreeJson(t.top, file.data(), file.size()));
  EXPECT_EQ(j["offset"], 0);
  EXPECT_EQ(j["id"], "0xBEEF");
  EXPECT_EQ(j["name"], "MOD_MAIN");
  EXPECT_EQ(j["length"], file.size());
  ASSERT_EQ(j["children"].size(), 3u);
  EXPECT_EQ(j["children"][0]["fields"]["version"], 3);
  const nlohmann::json& named = j["children"][1]["children"][0];
  EXPECT_EQ(named["fields"]["name"], "Caf\xC3\xA9");  // Latin-1 é as UTF-8
  const nlohmann::json& unknown = named["children"][0];
  EXPECT_TRUE(unknown["name"].is_null());
  EXPECT_EQ(unknown["hex"], "CAFE");
  EXPECT_EQ(unknown["payloadSize"], 2);
  EXPECT_FALSE(unknown.contains("children"));
  const nlohmann::json& pivot = j["children"][2]["children"][0];
  // The float 0.1f appears with its own shortest digits, not those of the nearest double.
  EXPECT_EQ(pivot["fields"]["pivot"], nlohmann::json::array({-1.0, 0.1, 2.0}));
}

TEST(ChunkDump, JsonTreeReportsAMalformedPayload) {
  ChunkBuilder b;
  b.Begin(NODE_ID).U8(1).End();
  std::vector<uint8_t> file = b.Bytes();
  ChunkTree t = ReadChunkTree(file);
  ASSERT_TRUE(t.ok);
  nlohmann::json j =
      nlohmann::json::parse(FormatChunkTreeJson(t.top, file.data(), file.size(), -1));
  EXPECT_EQ(j["problem"], "payload of 1 bytes ends inside id at byte 0");
  EXPECT_EQ(j["hex"], "01");
  EXPECT_FALSE(j.contains("fields"));
}

TEST(ChunkDump, RichFileChecksOk) {
  FileCheck check = CheckChunkFile(RichFile());
  EXPECT_TRUE(check.ok) << check.error;
  EXPECT_TRUE(check.error.empty());
  EXPECT_TRUE(CheckChunkFile(SkeletonFile()).ok);
}

TEST(ChunkDump, CheckReportsTheFirstBadPayloadWithItsOffset) {
  std::vector<uint8_t> file = RichFile();
  ChunkTree t = ReadChunkTree(file);
  ASSERT_TRUE(t.ok);
  // MESH_VERTICES of the mesh: claim 4 vertices where 3 are stored.
  const Chunk& vertices = t.top.children[1].children[3].children[1].children[0];
  ASSERT_EQ(vertices.id, MESH_VERTICES);
  PutU16(file, static_cast<size_t>(vertices.payloadBegin), 4);
  FileCheck check = CheckChunkFile(file);
  EXPECT_TRUE(check.tree.ok);
  EXPECT_FALSE(check.ok);
  EXPECT_EQ(check.errorOffset, vertices.offset);
  EXPECT_EQ(check.error, "offset " + std::to_string(vertices.offset) +
                             ": chunk 0x4110 MESH_VERTICES payload: 4 vertices need 48 bytes, "
                             "36 are left");
}

TEST(ChunkDump, CheckWantsOneSmoothingWordPerFace) {
  ChunkBuilder b;
  b.Begin(MOD_MAIN);
  b.Begin(FILE_VERSION).U32(3).End();
  b.Begin(EDITOR_DATA);
  b.Begin(MESH_FACES).U16(1);
  for (int i = 0; i < 32; ++i) b.U8(0);
  b.Begin(FACE_SMOOTHING).U32(1).U32(2).End();
  b.End().End();
  b.Begin(KEYFRAMER_DATA).End();
  b.End();
  FileCheck check = CheckChunkFile(b.Bytes());
  EXPECT_FALSE(check.ok);
  EXPECT_EQ(check.error, "offset 62: FACE_SMOOTHING holds 2 words for 1 faces");
}

TEST(ChunkDump, CheckWantsTheSkeleton) {
  std::vector<uint8_t> file = SkeletonFile();
  PutU16(file, 0, 0x1234);  // a leaf top chunk of the right length
  EXPECT_EQ(CheckChunkFile(file).error,
            "offset 0: top chunk 0x1234 is neither MOD_MAIN (0xBEEF) nor MAIN (0x4D4D)");

  std::vector<uint8_t> main = SkeletonFile();
  PutU16(main, 0, MAIN);
  EXPECT_TRUE(CheckChunkFile(main).ok);

  std::vector<uint8_t> swapped = SkeletonFile();
  PutU16(swapped, 16, KEYFRAMER_DATA);
  PutU16(swapped, 22, EDITOR_DATA);
  EXPECT_EQ(CheckChunkFile(swapped).error,
            "offset 16: MOD_MAIN child 2 is 0xB000 KEYFRAMER_DATA, expected EDITOR_DATA");

  ChunkBuilder missing;
  missing.Begin(MOD_MAIN).Begin(FILE_VERSION).U32(3).End().Begin(EDITOR_DATA).End().End();
  EXPECT_EQ(CheckChunkFile(missing.Bytes()).error,
            "offset 22: MOD_MAIN ends after 2 children, without KEYFRAMER_DATA");

  ChunkBuilder extra;
  extra.Begin(MOD_MAIN).Begin(FILE_VERSION).U32(3).End().Flag(EDITOR_DATA).Flag(KEYFRAMER_DATA);
  extra.Flag(0x4242).End();
  EXPECT_EQ(CheckChunkFile(extra.Bytes()).error,
            "offset 28: unexpected chunk 0x4242 after KEYFRAMER_DATA");
}

TEST(ChunkDump, CheckPassesFramingErrorsThrough) {
  std::vector<uint8_t> file = SkeletonFile();
  file.push_back(0);
  FileCheck check = CheckChunkFile(file);
  EXPECT_FALSE(check.ok);
  EXPECT_FALSE(check.tree.ok);
  EXPECT_EQ(check.errorOffset, 28u);
  EXPECT_EQ(check.error, "offset 28: 1 trailing bytes after the top chunk");
}

// The check decodes quietly (no texts) and must find what the dump finds: for every cut of
// a track, its message is the decoded payload's problem at the track's offset.
TEST(ChunkDump, CheckOfEveryCutTrackReportsTheDecodersProblem) {
  ChunkBuilder track;
  track.Begin(ROTATION_TRACK).U16(0).U32(0).U32(20).U32(3);
  track.U32(0).U16(0x0011).F32s({0.5f, 0.25f}).F32s({1, 0, 0, 1});
  track.U32(10).U16(0).F32s({2, 0, 1, 0});
  track.U32(20).U16(0x0040).F32s({3, 1, 0, 0});  // an unknown spline bit
  track.End();
  const std::vector<uint8_t> payload = PayloadOf(track);
  for (size_t cut = 0; cut <= payload.size(); ++cut) {
    SCOPED_TRACE("payload cut to " + std::to_string(cut) + " bytes");
    ChunkBuilder b;
    b.Begin(MOD_MAIN).Begin(FILE_VERSION).U32(3).End().Begin(EDITOR_DATA).End();
    b.Begin(KEYFRAMER_DATA).Begin(OBJECT_NODE).Begin(ROTATION_TRACK);
    for (size_t i = 0; i < cut; ++i) b.U8(payload[i]);
    b.End().End().End().End();
    const std::vector<uint8_t> file = b.Bytes();
    const DecodedPayload decoded = DecodePayload(ROTATION_TRACK, payload.data(), cut);
    ASSERT_FALSE(decoded.ok);
    const FileCheck check = CheckChunkFile(file);
    EXPECT_FALSE(check.ok);
    const size_t at = 6 + 10 + 6 + 6 + 6;  // MOD_MAIN, FILE_VERSION, EDITOR_DATA, the node
    EXPECT_EQ(check.error, "offset " + std::to_string(at) + ": chunk 0xB021 ROTATION_TRACK payload: " +
                               decoded.problem);
  }
}

}  // namespace
}  // namespace tsm
