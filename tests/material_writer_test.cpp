#include "material/material_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "host/host_core.h"
#include "material/material_table.h"
#include "scene/mem_material.h"
#include "scene/mem_scene.h"
#include "tests/material_builders.h"
#include "tests/test_util.h"

namespace tsm {
namespace {

using Bytes = std::vector<uint8_t>;

// One chunk found in written bytes.
struct Chunk {
  uint16_t id = 0;
  uint32_t length = 0;
  size_t offset = 0;  // of its header
};

// The chunks that follow one another from begin up to end. A length that runs past end
// or is shorter than a header fails the test.
std::vector<Chunk> ChunksIn(const Bytes& b, size_t begin, size_t end) {
  std::vector<Chunk> chunks;
  size_t at = begin;
  while (at < end) {
    Chunk c;
    c.offset = at;
    c.id = GetU16(b, at);
    c.length = GetU32(b, at + 2);
    if (c.length < 6 || at + c.length > end) {
      ADD_FAILURE() << "bad length " << c.length << " at offset " << at;
      break;
    }
    chunks.push_back(c);
    at += c.length;
  }
  EXPECT_EQ(at, end) << "chunks do not end where their parent ends";
  return chunks;
}

// The nested chunks of a chunk whose body holds only chunks.
std::vector<Chunk> Children(const Bytes& b, const Chunk& parent) {
  return ChunksIn(b, parent.offset + 6, parent.offset + parent.length);
}

std::vector<uint16_t> Ids(const std::vector<Chunk>& chunks) {
  std::vector<uint16_t> ids;
  for (const Chunk& c : chunks) ids.push_back(c.id);
  return ids;
}

// The first chunk with id among chunks; fails the test when there is none.
Chunk Find(const std::vector<Chunk>& chunks, uint16_t id) {
  for (const Chunk& c : chunks)
    if (c.id == id) return c;
  ADD_FAILURE() << "no chunk 0x" << std::hex << id;
  return Chunk();
}

bool Has(const std::vector<Chunk>& chunks, uint16_t id) {
  for (const Chunk& c : chunks)
    if (c.id == id) return true;
  return false;
}

Bytes Slice(const Bytes& b, const Chunk& c) {
  return Bytes(b.begin() + c.offset, b.begin() + c.offset + c.length);
}

// Little-endian bytes of a float, for expected byte lists.
void PushF32(Bytes& out, float f) {
  uint32_t bits;
  std::memcpy(&bits, &f, 4);
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(bits >> (8 * i)));
}

class MaterialWriterTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetHostCore(); }
  void TearDown() override {
    ResetHostCore();
    CurrentMaterial = nullptr;
  }

  MemMaterial* Mat(const std::string& name, Class_ID cls = kStandardMaterialClass) {
    return NewMaterial(scene_, name, cls);
  }
  MemMap* Map(Class_ID cls = kBitmapMapClass, const std::string& path = "brick.bmp") {
    return NewMap(scene_, cls, path);
  }
  // Enters m into the table and answers its record.
  const MaterialRecord* Enter(MemMaterial* m) {
    table_.AddNodeMaterial(m);
    return table_.Record(table_.FindByHostMaterial(m));
  }
  // The bytes of the MATERIAL_BLOCK of r; the request must succeed.
  Bytes Block(const MaterialRecord* r) {
    MemoryStream s;
    CurrentMaterial = r;
    EXPECT_EQ(WriteMaterialChunk(MATERIAL_BLOCK, s, nullptr), 1);
    return s.Bytes();
  }
  // The children of the block of r, with the block's bytes kept in bytes_.
  std::vector<Chunk> BlockChildren(const MaterialRecord* r) {
    bytes_ = Block(r);
    std::vector<Chunk> top = ChunksIn(bytes_, 0, bytes_.size());
    if (top.size() != 1 || top[0].id != MATERIAL_BLOCK) {
      ADD_FAILURE() << "not one material block";
      return {};
    }
    return Children(bytes_, top[0]);
  }
  // A material "Matl" of another class with the given colours, entered.
  const MaterialRecord* PlainMatl() {
    MemMaterial* m = Mat("Matl", Class_ID(0x1234, 0));
    m->ambient = Point3(0.2f, 0.4f, 0.6f);   // 51 102 153
    m->diffuse = Point3(1.0f, 0.5f, 0.0f);   // 255 127 0
    m->specular = Point3(0.0f, 0.0f, 0.2f);  // 0 0 51
    m->shininess = 0.25f;
    m->shininessStrength = 0.5f;
    m->transparency = 0.1f;
    m->wireSize = 2.0f;
    return Enter(m);
  }
  // A standard material with a bitmap in the diffuse channel and nothing else special.
  MemMaterial* WithMap(int channel, MemMap* map, float amount = 1.0f) {
    MemMaterial* m = Mat("Mapped");
    m->channels[channel].map = map;
    m->channels[channel].amount = amount;
    return m;
  }

  MemScene scene_;
  MaterialTable table_;
  Bytes bytes_;
};

void Append(Bytes& out, const Bytes& part) {
  out.insert(out.end(), part.begin(), part.end());
}

// A colour chunk (low byte of its id) of colour c: its COLOR_BYTES, and with gamma on the
// corrected bytes first and COLOR_BYTES_LINEAR with c after them.
Bytes ColourChunk(uint8_t idLow, const uint8_t* c, bool gamma) {
  Bytes out = {idLow, 0xA0, uint8_t(gamma ? 24 : 15), 0, 0, 0, 0x11, 0x00, 9, 0, 0, 0};
  if (gamma) {
    for (int i = 0; i < 3; ++i) out.push_back(gammaMgr.GammaCorrect(c[i]));
    Append(out, {0x12, 0x00, 9, 0, 0, 0});
  }
  Append(out, {c[0], c[1], c[2]});
  return out;
}

Bytes PercentChunk(uint8_t idLow, uint16_t value) {
  return {idLow, 0xA0, 14, 0, 0, 0, 0x30, 0x00, 8, 0, 0, 0, uint8_t(value), uint8_t(value >> 8)};
}

// The whole block of PlainMatl(), worked out by hand.
Bytes MatlBlock(bool gamma) {
  const uint8_t colours[3][3] = {{51, 102, 153}, {255, 127, 0}, {0, 0, 51}};
  Bytes b = {0xFF, 0xAF, uint8_t(gamma ? 191 : 164), 0, 0, 0};
  Append(b, {0x00, 0xA0, 11, 0, 0, 0, 'M', 'a', 't', 'l', 0});
  for (int i = 0; i < 3; ++i) Append(b, ColourChunk(uint8_t(0x10 * (i + 1)), colours[i], gamma));
  Append(b, PercentChunk(0x40, 25));                             // shininess
  Append(b, PercentChunk(0x41, 50));                             // shininess strength
  Append(b, PercentChunk(0x50, 10));                             // transparency
  Append(b, PercentChunk(0x52, 0));                              // transparency falloff
  Append(b, PercentChunk(0x53, 0));                              // reflection blur
  Append(b, {0x00, 0xA1, 8, 0, 0, 0, 3, 0});                     // shading
  Append(b, PercentChunk(0x84, 0));                              // self-illumination
  Append(b, {0x87, 0xA0, 10, 0, 0, 0, 0x00, 0x00, 0x00, 0x40});  // wire size 2.0
  return b;
}

TEST_F(MaterialWriterTest, PlainMaterialBlockIs164ExactBytes) {
  Bytes expected = MatlBlock(false);
  ASSERT_EQ(expected.size(), 164u);
  ExpectBytes(Block(PlainMatl()), expected);
}

TEST_F(MaterialWriterTest, GammaOnWritesCorrectedThenLinearColours191Bytes) {
  gammaMgr.enable = true;
  gammaMgr.dispGamma = 2.2f;
  ASSERT_NE(gammaMgr.GammaCorrect(51), 51);  // so corrected and linear bytes differ
  Bytes expected = MatlBlock(true);
  ASSERT_EQ(expected.size(), 191u);
  ExpectBytes(Block(PlainMatl()), expected);
}

TEST_F(MaterialWriterTest, BlockOrderOfAStandardMaterial) {
  MemMaterial* m = Mat("Std");
  m->twoSided = m->wireframe = m->faceMap = m->soften = m->wireInUnits = true;
  m->falloffOut = false;
  m->transparencyType = 1;
  std::vector<Chunk> children = BlockChildren(Enter(m));
  EXPECT_EQ(
      Ids(children),
      (std::vector<uint16_t>{MATERIAL_NAME, MATERIAL_AMBIENT, MATERIAL_DIFFUSE, MATERIAL_SPECULAR,
                             MATERIAL_SHININESS, MATERIAL_SHININESS_STRENGTH, MATERIAL_TRANSPARENCY,
                             MATERIAL_FALLOFF, MATERIAL_REFLECTION_BLUR, MATERIAL_SHADING,
                             MATERIAL_SELF_ILLUMINATION, MATERIAL_TWO_SIDED, MATERIAL_ADDITIVE,
                             MATERIAL_WIREFRAME, MATERIAL_FACE_MAP, MATERIAL_FALLOFF_IN,
                             MATERIAL_SOFTEN, MATERIAL_WIRE_IN_UNITS, MATERIAL_WIRE_SIZE}));
  for (uint16_t id : {MATERIAL_TWO_SIDED, MATERIAL_ADDITIVE, MATERIAL_WIREFRAME, MATERIAL_FACE_MAP,
                      MATERIAL_FALLOFF_IN, MATERIAL_SOFTEN, MATERIAL_WIRE_IN_UNITS})
    EXPECT_EQ(Find(children, id).length, 6u) << std::hex << id;
}

TEST_F(MaterialWriterTest, BitmapWithDefaultCoordinatesGivesFourChunks) {
  std::vector<Chunk> children =
      BlockChildren(Enter(WithMap(kChannelDiffuse, Map(kBitmapMapClass, "C:\\maps\\brick.bmp"))));
  Chunk texture = Find(children, MAP_TEXTURE);
  Bytes expected = {0x00, 0xA2, 48, 0, 0, 0,                                                  //
                    0x30, 0x00, 8,  0, 0, 0, 100, 0,                                          //
                    0x00, 0xA3, 16, 0, 0, 0, 'b', 'r', 'i', 'c', 'k', '.', 'b', 'm', 'p', 0,  //
                    0x51, 0xA3, 8,  0, 0, 0, 0,   0,                                          //
                    0x53, 0xA3, 10, 0, 0, 0};
  PushF32(expected, 0.0f);  // the host's blur 1.0, less one
  ExpectBytes(Slice(bytes_, texture), expected);
  EXPECT_EQ(Ids(Children(bytes_, texture)),
            (std::vector<uint16_t>{PERCENTAGE, MAP_FILE_NAME, MAP_TILING, MAP_BLUR}));
  EXPECT_EQ(children.back().id, MAP_TEXTURE);
}

TEST_F(MaterialWriterTest, DisabledMapWritesNothingForItsSlot) {
  MemMaterial* m = WithMap(kChannelDiffuse, Map());
  m->channels[kChannelDiffuse].enabled = false;
  const MaterialRecord* converted = Enter(m);
  ASSERT_NE(converted->maps[SLOT_TEXTURE], nullptr);
  EXPECT_EQ(BlockChildren(converted).back().id, MATERIAL_WIRE_SIZE);

  // Even a mask and data in the slot stay out.
  MaterialRecord r;
  r.maps[SLOT_TEXTURE] = NewMapRecord(SLOT_TEXTURE);
  MapRecord& t = *r.maps[SLOT_TEXTURE];
  t.map.data = std::make_unique<DataBlock>();
  std::strcpy(t.mask.fileName, "mask.bmp");
  t.mask.data = std::make_unique<DataBlock>();
  EXPECT_EQ(BlockChildren(&r).back().id, MATERIAL_WIRE_SIZE);
}

// The PERCENTAGE and MAP_BUMP_AMOUNT values of a bump slot with the given amount.
void ExpectBump(const Bytes& bytes, const std::vector<Chunk>& children, uint16_t percent,
                uint16_t amount) {
  Chunk bump = Find(children, MAP_BUMP);
  std::vector<Chunk> inner = Children(bytes, bump);
  ASSERT_GE(inner.size(), 3u);
  EXPECT_EQ(inner[0].id, PERCENTAGE);
  EXPECT_EQ(GetU16(bytes, inner[0].offset + 6), percent);
  EXPECT_EQ(inner[1].id, MAP_FILE_NAME);
  EXPECT_EQ(inner[2].id, MAP_BUMP_AMOUNT);
  EXPECT_EQ(inner[2].length, 8u);
  EXPECT_EQ(GetU16(bytes, inner[2].offset + 6), amount);
  EXPECT_EQ(Ids(std::vector<Chunk>(inner.begin() + 3, inner.end())),
            (std::vector<uint16_t>{MAP_TILING, MAP_BLUR}));
}

TEST_F(MaterialWriterTest, BumpPercentageIsAQuarterOfItsAmount) {
  std::vector<Chunk> c2 = BlockChildren(Enter(WithMap(kChannelBump, Map(), 2.0f)));
  ExpectBump(bytes_, c2, 0, 2);
  std::vector<Chunk> c9 = BlockChildren(Enter(WithMap(kChannelBump, Map(), 9.0f)));
  ExpectBump(bytes_, c9, 2, 9);
}

TEST_F(MaterialWriterTest, BumpQuarterTruncatesTowardZeroAndKeepsLow16Bits) {
  MaterialRecord r;
  std::strcpy(r.name, "Hand");
  r.maps[SLOT_BUMP] = NewMapRecord(SLOT_BUMP);
  r.maps[SLOT_BUMP]->enabled = 1;
  r.maps[SLOT_BUMP]->amount = -9;
  std::vector<Chunk> c = BlockChildren(&r);
  ExpectBump(bytes_, c, static_cast<uint16_t>(-2), static_cast<uint16_t>(-9));

  r.maps[SLOT_BUMP]->amount = 0x12345;
  c = BlockChildren(&r);
  ExpectBump(bytes_, c, static_cast<uint16_t>(0x12345 / 4), 0x2345);
}

TEST_F(MaterialWriterTest, OtherSlotsCarryTheAmountAsPercentage) {
  MaterialRecord r;
  r.maps[SLOT_OPACITY] = NewMapRecord(SLOT_OPACITY);
  r.maps[SLOT_OPACITY]->enabled = 1;
  r.maps[SLOT_OPACITY]->amount = 70000;
  std::vector<Chunk> children = BlockChildren(&r);
  std::vector<Chunk> inner = Children(bytes_, Find(children, MAP_OPACITY));
  ASSERT_FALSE(inner.empty());
  EXPECT_EQ(inner[0].id, PERCENTAGE);
  EXPECT_EQ(GetU16(bytes_, inner[0].offset + 6), 70000 & 0xFFFF);
  EXPECT_FALSE(Has(inner, MAP_BUMP_AMOUNT));
}

TEST_F(MaterialWriterTest, RotationOfQuarterTurnIsMinus90Degrees) {
  MemMap* map = Map();
  map->rotationAngle = static_cast<float>(M_PI / 2);
  std::vector<Chunk> children = BlockChildren(Enter(WithMap(kChannelDiffuse, map)));
  std::vector<Chunk> inner = Children(bytes_, Find(children, MAP_TEXTURE));
  Chunk rotation = Find(inner, MAP_ROTATION);
  EXPECT_EQ(rotation.length, 10u);
  EXPECT_EQ(GetF32(bytes_, rotation.offset + 6), -90.0f);
  EXPECT_EQ(inner.back().id, MAP_ROTATION);
}

TEST_F(MaterialWriterTest, RotationUsesAtan2OfTheStoredSineAndCosine) {
  MapParams p;
  InitMapParams(p, SLOT_TEXTURE, MapPart::MAP);
  p.rotationSin = 0.5f;
  p.rotationCos = -0.8f;
  MemoryStream s;
  ASSERT_EQ(WriteMapParams(p, s), 1);
  std::vector<Chunk> chunks = ChunksIn(s.Bytes(), 0, s.Bytes().size());
  Chunk rotation = Find(chunks, MAP_ROTATION);
  float expected = static_cast<float>(std::atan2(0.5, static_cast<double>(-0.8f)) *
                                      static_cast<double>(57.29578f));
  EXPECT_EQ(GetF32(s.Bytes(), rotation.offset + 6), expected);
  EXPECT_GT(expected, 140.0f);  // the second quadrant, not the fourth
}

TEST_F(MaterialWriterTest, ParameterChunksOnlyWhereTheyDifferFromDefaults) {
  MapParams p;
  InitMapParams(p, SLOT_TEXTURE, MapPart::MAP);
  MemoryStream plain;
  ASSERT_EQ(WriteMapParams(p, plain), 1);
  EXPECT_EQ(Ids(ChunksIn(plain.Bytes(), 0, plain.Bytes().size())),
            (std::vector<uint16_t>{MAP_TILING, MAP_BLUR}));

  p.flags = 0x0032;
  p.uScale = 2.0f;
  p.vScale = 3.0f;
  p.uOffset = 0.25f;
  p.vOffset = -0.5f;
  p.rotationSin = -1.0f;
  p.rotationCos = 0.0f;
  p.color1[2] = 1;
  p.color2[0] = 254;
  p.redTint[1] = 1;
  p.greenTint[0] = 7;
  p.blueTint[2] = 0;
  MemoryStream s;
  ASSERT_EQ(WriteMapParams(p, s), 1);
  Bytes expected = {0x51, 0xA3, 8, 0, 0, 0, 0x32, 0x00, 0x53, 0xA3, 10, 0, 0, 0};
  PushF32(expected, p.blur);
  const struct {
    uint8_t low;
    float v;
  } floats[] = {{0x54, 2.0f}, {0x56, 3.0f}, {0x58, 0.25f}, {0x5A, -0.5f}, {0x5C, -90.0f}};
  for (const auto& f : floats) {
    Bytes c = {f.low, 0xA3, 10, 0, 0, 0};
    expected.insert(expected.end(), c.begin(), c.end());
    PushF32(expected, f.v);
  }
  Bytes colours = {0x60, 0xA3, 9, 0, 0, 0, 0,   0,   1,    //
                   0x62, 0xA3, 9, 0, 0, 0, 254, 255, 255,  //
                   0x64, 0xA3, 9, 0, 0, 0, 255, 1,   0,    //
                   0x66, 0xA3, 9, 0, 0, 0, 7,   255, 0,    //
                   0x68, 0xA3, 9, 0, 0, 0, 0,   0,   0};
  expected.insert(expected.end(), colours.begin(), colours.end());
  ExpectBytes(s.Bytes(), expected);
}

TEST_F(MaterialWriterTest, NotANumberCountsAsTheDefault) {
  MapParams p;
  InitMapParams(p, SLOT_TEXTURE, MapPart::MAP);
  p.uScale = std::nanf("");
  p.vScale = std::nanf("");
  p.uOffset = std::nanf("");
  p.vOffset = std::nanf("");
  p.rotationSin = std::nanf("");
  p.blur = std::nanf("");  // written always
  MemoryStream s;
  ASSERT_EQ(WriteMapParams(p, s), 1);
  EXPECT_EQ(Ids(ChunksIn(s.Bytes(), 0, s.Bytes().size())),
            (std::vector<uint16_t>{MAP_TILING, MAP_BLUR}));
}

TEST_F(MaterialWriterTest, SlotsAreWrittenInSlotOrder) {
  MemMaterial* m = Mat("Three");
  m->channels[kChannelSpecular].map = Map();
  m->channels[kChannelBump].map = Map();
  m->channels[kChannelDiffuse].map = Map();
  std::vector<Chunk> children = BlockChildren(Enter(m));
  ASSERT_GE(children.size(), 3u);
  EXPECT_EQ(Ids(std::vector<Chunk>(children.end() - 3, children.end())),
            (std::vector<uint16_t>{0xA200, 0xA230, 0xA204}));
}

TEST_F(MaterialWriterTest, ReflectionClassGivesBareMapAndAutoReflection) {
  MemMap* map = Map(kReflectionMapClass, "");
  map->reflectionSize = 256;
  map->nthFrame = 3;
  MemMaterial* m = WithMap(kChannelReflection, map, 0.5f);
  m->channels[kChannelDiffuse].map = Map();
  std::vector<Chunk> children = BlockChildren(Enter(m));
  ASSERT_GE(children.size(), 3u);
  Chunk reflection = children[children.size() - 2];
  ASSERT_EQ(reflection.id, MAP_REFLECTION);
  EXPECT_EQ(children[children.size() - 3].id, MAP_TEXTURE);
  ExpectBytes(Slice(bytes_, reflection), {0x20, 0xA2, 21, 0, 0, 0,         //
                                          0x30, 0x00, 8,  0, 0, 0, 50, 0,  //
                                          0x00, 0xA3, 7,  0, 0, 0, 0});
  Chunk autoReflection = children.back();
  ASSERT_EQ(autoReflection.id, MAP_AUTO_REFLECTION);
  ExpectBytes(Slice(bytes_, autoReflection),
              {0x10, 0xA3, 18, 0, 0, 0, 4, 0, 0x01, 0x00, 0x00, 0x01, 0, 0, 3, 0, 0, 0});
}

TEST_F(MaterialWriterTest, DisabledReflectionGivesNoAutoReflection) {
  MemMaterial* m = WithMap(kChannelReflection, Map(kMirrorMapClass, ""));
  m->channels[kChannelReflection].enabled = false;
  std::vector<Chunk> children = BlockChildren(Enter(m));
  EXPECT_FALSE(Has(children, MAP_REFLECTION));
  EXPECT_FALSE(Has(children, MAP_AUTO_REFLECTION));
}

TEST_F(MaterialWriterTest, OtherReflectionClassFlagsReachTheAutoReflection) {
  MemMap* map = Map(kMirrorMapClass, "");
  map->everyNthFrame = false;
  std::vector<Chunk> children = BlockChildren(Enter(WithMap(kChannelReflection, map)));
  Chunk autoReflection = Find(children, MAP_AUTO_REFLECTION);
  EXPECT_EQ(GetU16(bytes_, autoReflection.offset + 8), 0x0019);
  EXPECT_EQ(GetU32(bytes_, autoReflection.offset + 10), 100u);
  EXPECT_EQ(GetU32(bytes_, autoReflection.offset + 14), 1u);
}

TEST_F(MaterialWriterTest, BitmapInReflectionSlotGivesFileNameAndNoAutoReflection) {
  MemMap* map = Map(kBitmapMapClass, "/env/chrome.bmp");
  map->uTiling = 4.0f;
  std::vector<Chunk> children = BlockChildren(Enter(WithMap(kChannelReflection, map)));
  Chunk reflection = children.back();
  ASSERT_EQ(reflection.id, MAP_REFLECTION);
  ExpectBytes(Slice(bytes_, reflection),
              {0x20, 0xA2, 31, 0, 0, 0,          //
               0x30, 0x00, 8,  0, 0, 0, 100, 0,  //
               0x00, 0xA3, 17, 0, 0, 0, 'c', 'h', 'r', 'o', 'm', 'e', '.', 'b', 'm', 'p', 0});
  EXPECT_FALSE(Has(children, MAP_AUTO_REFLECTION));
}

// A record by hand that holds everything the conversion never fills.
struct RichRecord {
  MaterialRecord r;
  RichRecord() {
    std::strcpy(r.name, "Rich");
    r.shading = 3;
    r.secondFlags = 0x3;
    r.flags = 0x0001 | 0x4000;
    r.wireSize = 1.0f;
    // Texture: a mask with its own data, tints on the map.
    r.maps[SLOT_TEXTURE] = NewMapRecord(SLOT_TEXTURE);
    MapRecord& t = *r.maps[SLOT_TEXTURE];
    t.enabled = 1;
    std::strcpy(t.map.fileName, "wood.bmp");
    t.map.redTint[1] = 9;
    t.map.blueTint[0] = 8;
    std::strcpy(t.mask.fileName, "mask.bmp");
    t.mask.uScale = 2.0f;
    t.mask.data = std::make_unique<DataBlock>();
    t.mask.data->bytes = {0xAA, 0xBB};
    // Second texture with procedural data.
    r.maps[SLOT_TEXTURE2] = NewMapRecord(SLOT_TEXTURE2);
    MapRecord& t2 = *r.maps[SLOT_TEXTURE2];
    t2.enabled = 1;
    t2.map.data = std::make_unique<DataBlock>();
    t2.map.data->bytes = {1, 2, 3, 4, 5};
    t2.map.color1[0] = 1;
    t2.map.color2[1] = 2;
    t2.map.greenTint[2] = 3;
    // Reflection with mask data but no mask file: the data goes, the mask chunk doesn't.
    r.maps[SLOT_REFLECTION] = NewMapRecord(SLOT_REFLECTION);
    MapRecord& refl = *r.maps[SLOT_REFLECTION];
    refl.enabled = 1;
    refl.map.flags = 0x0009;
    refl.map.reflectionSize = 64;
    refl.mask.data = std::make_unique<DataBlock>();
    refl.mask.data->bytes = {7};
    r.extraData = std::make_unique<DataBlock>();
    r.extraData->bytes = {0xDE, 0xAD, 0xBE};
  }
};

TEST_F(MaterialWriterTest, HandBuiltRecordWritesEveryChunkItHolds) {
  RichRecord rich;
  std::vector<Chunk> children = BlockChildren(&rich.r);
  EXPECT_EQ(Ids(children), (std::vector<uint16_t>{MATERIAL_NAME,
                                                  MATERIAL_AMBIENT,
                                                  MATERIAL_DIFFUSE,
                                                  MATERIAL_SPECULAR,
                                                  MATERIAL_SHININESS,
                                                  MATERIAL_SHININESS_STRENGTH,
                                                  MATERIAL_TRANSPARENCY,
                                                  MATERIAL_FALLOFF,
                                                  MATERIAL_REFLECTION_BLUR,
                                                  MATERIAL_SHADING,
                                                  MATERIAL_SELF_ILLUMINATION,
                                                  MATERIAL_USE_FALLOFF,
                                                  MATERIAL_USE_REFLECTION_BLUR,
                                                  MATERIAL_TWO_SIDED,
                                                  MATERIAL_WIRE_IN_UNITS,
                                                  MATERIAL_WIRE_SIZE,
                                                  MAP_TEXTURE,
                                                  MASK_TEXTURE,
                                                  MASK_DATA_TEXTURE,
                                                  MAP_TEXTURE2,
                                                  MAP_DATA_TEXTURE2,
                                                  MAP_REFLECTION,
                                                  MASK_DATA_REFLECTION,
                                                  MAP_AUTO_REFLECTION,
                                                  EXTRA_DATA}));

  EXPECT_EQ(Find(children, MATERIAL_USE_FALLOFF).length, 6u);
  EXPECT_EQ(Find(children, MATERIAL_USE_REFLECTION_BLUR).length, 6u);
  ExpectBytes(Slice(bytes_, Find(children, EXTRA_DATA)),
              {0x00, 0x80, 9, 0, 0, 0, 0xDE, 0xAD, 0xBE});
  ExpectBytes(Slice(bytes_, Find(children, MASK_DATA_TEXTURE)),
              {0x2A, 0xA3, 8, 0, 0, 0, 0xAA, 0xBB});
  ExpectBytes(Slice(bytes_, Find(children, MAP_DATA_TEXTURE2)),
              {0x21, 0xA3, 11, 0, 0, 0, 1, 2, 3, 4, 5});
  ExpectBytes(Slice(bytes_, Find(children, MASK_DATA_REFLECTION)), {0x38, 0xA3, 7, 0, 0, 0, 7});

  std::vector<Chunk> texture = Children(bytes_, Find(children, MAP_TEXTURE));
  EXPECT_EQ(Ids(texture), (std::vector<uint16_t>{PERCENTAGE, MAP_FILE_NAME, MAP_TILING, MAP_BLUR,
                                                 MAP_RED_TINT, MAP_BLUE_TINT}));
  ExpectBytes(Slice(bytes_, texture[4]), {0x64, 0xA3, 9, 0, 0, 0, 255, 9, 0});
  ExpectBytes(Slice(bytes_, texture[5]), {0x68, 0xA3, 9, 0, 0, 0, 8, 0, 255});

  std::vector<Chunk> mask = Children(bytes_, Find(children, MASK_TEXTURE));
  EXPECT_EQ(Ids(mask), (std::vector<uint16_t>{MAP_FILE_NAME, MAP_TILING, MAP_BLUR, MAP_U_SCALE}));
  ExpectBytes(Slice(bytes_, mask[0]),
              {0x00, 0xA3, 15, 0, 0, 0, 'm', 'a', 's', 'k', '.', 'b', 'm', 'p', 0});

  std::vector<Chunk> second = Children(bytes_, Find(children, MAP_TEXTURE2));
  EXPECT_EQ(Ids(second), (std::vector<uint16_t>{PERCENTAGE, MAP_FILE_NAME, MAP_TILING, MAP_BLUR,
                                                MAP_COLOR_1, MAP_COLOR_2, MAP_GREEN_TINT}));

  ExpectBytes(Slice(bytes_, Find(children, MAP_AUTO_REFLECTION)),
              {0x10, 0xA3, 18, 0, 0, 0, 4, 0, 0x09, 0x00, 64, 0, 0, 0, 1, 0, 0, 0});
}

TEST_F(MaterialWriterTest, EverySlotUsesItsOwnChunkIds) {
  const struct {
    int slot;
    uint16_t map, mapData, mask, maskData;
  } slots[] = {
      {0, 0xA200, 0xA320, 0xA33E, 0xA32A}, {1, 0xA33A, 0xA321, 0xA340, 0xA32C},
      {2, 0xA210, 0xA322, 0xA342, 0xA32E}, {3, 0xA230, 0xA324, 0xA344, 0xA330},
      {4, 0xA204, 0xA325, 0xA348, 0xA332}, {5, 0xA33C, 0xA326, 0xA346, 0xA334},
      {6, 0xA33D, 0xA328, 0xA34A, 0xA336}, {7, 0xA220, 0, 0xA34C, 0xA338},
  };
  for (const auto& s : slots) {
    MaterialRecord r;
    r.maps[s.slot] = NewMapRecord(s.slot);
    MapRecord& m = *r.maps[s.slot];
    m.enabled = 1;
    m.map.data = std::make_unique<DataBlock>();  // only a block with marker 0 counts
    std::strcpy(m.mask.fileName, "m.bmp");
    m.mask.data = std::make_unique<DataBlock>();
    std::vector<Chunk> children = BlockChildren(&r);
    std::vector<uint16_t> expected = {s.map};
    if (s.mapData != 0) expected.push_back(s.mapData);
    expected.push_back(s.mask);
    expected.push_back(s.maskData);
    ASSERT_GE(children.size(), expected.size());
    EXPECT_EQ(Ids(std::vector<Chunk>(children.end() - expected.size(), children.end())), expected)
        << "slot " << s.slot;
  }
}

TEST_F(MaterialWriterTest, AutoReflectionBlocksHaveNoParametersOrData) {
  // A slot-2 map made an automatic reflection by hand: no tiling chunks, no data chunk.
  MaterialRecord r;
  r.maps[SLOT_OPACITY] = NewMapRecord(SLOT_OPACITY);
  MapRecord& m = *r.maps[SLOT_OPACITY];
  m.enabled = 1;
  m.map.autoReflection = 1;
  m.map.data = std::make_unique<DataBlock>();
  m.mask.autoReflection = 1;
  std::strcpy(m.mask.fileName, "m.bmp");
  m.mask.data = std::make_unique<DataBlock>();
  std::vector<Chunk> children = BlockChildren(&r);
  EXPECT_FALSE(Has(children, MAP_DATA_OPACITY));
  EXPECT_FALSE(Has(children, MASK_DATA_OPACITY));
  EXPECT_EQ(Ids(Children(bytes_, Find(children, MAP_OPACITY))),
            (std::vector<uint16_t>{PERCENTAGE, MAP_FILE_NAME}));
  EXPECT_EQ(Ids(Children(bytes_, Find(children, MASK_OPACITY))),
            (std::vector<uint16_t>{MAP_FILE_NAME}));
}

TEST_F(MaterialWriterTest, UnknownIdIsABareChunk) {
  MemoryStream s;
  EXPECT_EQ(WriteMaterialChunk(0x1234, s, nullptr), 1);
  ExpectBytes(s.Bytes(), {0x34, 0x12, 0x06, 0x00, 0x00, 0x00});
}

TEST_F(MaterialWriterTest, OnlyTheLowSixteenBitsOfTheIdCount) {
  const MaterialRecord* r = PlainMatl();
  Bytes plain = Block(r);
  MemoryStream s;
  CurrentMaterial = r;
  ASSERT_EQ(WriteMaterialChunk(0x0001AFFF, s, nullptr), 1);
  ExpectBytes(s.Bytes(), plain);
}

TEST_F(MaterialWriterTest, BlockWithoutCurrentMaterialIsBare) {
  MemoryStream s;
  CurrentMaterial = nullptr;
  EXPECT_EQ(WriteMaterialChunk(MATERIAL_BLOCK, s, nullptr), 1);
  ExpectBytes(s.Bytes(), {0xFF, 0xAF, 0x06, 0x00, 0x00, 0x00});
}

TEST_F(MaterialWriterTest, NameWithoutTerminatorStopsAtItsField) {
  MaterialRecord r;
  std::memset(r.name, 'N', sizeof(r.name));
  std::vector<Chunk> children = BlockChildren(&r);
  Bytes expected = {0x00, 0xA0, 23, 0, 0, 0};
  expected.insert(expected.end(), 16, 'N');
  expected.push_back(0);
  ExpectBytes(Slice(bytes_, Find(children, MATERIAL_NAME)), expected);
}

TEST_F(MaterialWriterTest, ShortWriteAtEveryOffsetFails) {
  RichRecord rich;
  gammaMgr.enable = true;  // the longest colour chunks too
  Bytes good = Block(&rich.r);
  ASSERT_GT(good.size(), 300u);
  for (uint64_t at = 0; at < good.size(); ++at) {
    ShortWriteStream s(at);
    CurrentMaterial = &rich.r;
    EXPECT_EQ(WriteMaterialChunk(MATERIAL_BLOCK, s, nullptr), 0) << "fail at " << at;
    EXPECT_LE(s.Bytes().size(), at);
    EXPECT_EQ(s.ShortWrites(), 1) << "writing went on after the failure at " << at;
    // The block's length was never patched: it still holds its placeholder (2).
    if (s.Bytes().size() >= 6) {
      EXPECT_EQ(GetU32(s.Bytes(), 2), 2u) << "fail at " << at;
    }
  }
}

TEST_F(MaterialWriterTest, ShortWriteInsideAMapChunkFailsTheBlock) {
  const MaterialRecord* r = Enter(WithMap(kChannelDiffuse, Map()));
  Bytes good = Block(r);
  std::vector<Chunk> children = ChunksIn(good, 6, good.size());
  Chunk texture = Find(children, MAP_TEXTURE);
  ShortWriteStream s(texture.offset + 20);
  CurrentMaterial = r;
  EXPECT_EQ(WriteMaterialChunk(MATERIAL_BLOCK, s, nullptr), 0);
}

}  // namespace
}  // namespace tsm
