#include "material/material_convert.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>

#include "material/material_table.h"
#include "scene/mem_material.h"
#include "scene/mem_scene.h"
#include "tests/material_builders.h"

namespace tsm {
namespace {

uint32_t FloatBits(float f) {
  uint32_t bits;
  std::memcpy(&bits, &f, 4);
  return bits;
}

class MaterialConvertTest : public ::testing::Test {
 protected:
  MemMaterial* Mat(Class_ID cls = kStandardMaterialClass) { return NewMaterial(scene_, "", cls); }
  MemMap* Map(Class_ID cls = kBitmapMapClass, const std::string& path = "brick.bmp") {
    return NewMap(scene_, cls, path);
  }
  // A standard material with one map in channel, converted.
  const MaterialRecord& ConvertWithMap(int channel, MemMap* map, float amount = 1.0f,
                                       bool enabled = true) {
    MemMaterial* m = Mat();
    m->channels[channel].map = map;
    m->channels[channel].amount = amount;
    m->channels[channel].enabled = enabled;
    ConvertMaterial(record_, m);
    return record_;
  }
  // The tiling flags that a bitmap in the diffuse channel gets.
  uint16_t TilingFlags(int tilingBits) {
    MemMap* map = Map();
    map->tilingBits = tilingBits;
    MaterialRecord r;
    MemMaterial* m = Mat();
    m->channels[kChannelDiffuse].map = map;
    ConvertMaterial(r, m);
    return r.maps[SLOT_TEXTURE]->map.flags;
  }

  MemScene scene_;
  MaterialRecord record_;
};

TEST_F(MaterialConvertTest, NonStandardMaterialGetsOnlyTheCommonFields) {
  MemMaterial* m = Mat(Class_ID(0x1234, 0));
  m->ambient = Point3(0.2f, 0.4f, 0.6f);
  m->diffuse = Point3(1.0f, 0.5f, 0.0f);
  m->specular = Point3(0.0f, 0.0f, 1.0f);
  m->shininess = 0.25f;
  m->shininessStrength = 0.5f;
  m->transparency = 0.3f;
  m->wireSize = 2.5f;
  // Everything below belongs to standard materials and must be ignored.
  m->shadingMode = 2;
  m->transparencyFalloff = 0.4f;
  m->selfIllumination = 0.7f;
  m->twoSided = m->wireframe = m->faceMap = m->soften = m->wireInUnits = true;
  m->falloffOut = false;
  m->transparencyType = 1;
  for (int c = 0; c < kChannelCount; ++c) m->channels[c].map = Map();
  std::strcpy(record_.name, "Kept");

  ConvertMaterial(record_, m);

  EXPECT_STREQ(record_.name, "Kept");
  EXPECT_EQ(record_.ambient[0], 51);
  EXPECT_EQ(record_.ambient[1], 102);
  EXPECT_EQ(record_.ambient[2], 153);
  EXPECT_EQ(record_.diffuse[0], 255);
  EXPECT_EQ(record_.specular[2], 255);
  EXPECT_EQ(record_.shininess, 25);
  EXPECT_EQ(record_.shininessStrength, 50);
  EXPECT_EQ(record_.transparency, 30);
  EXPECT_EQ(record_.wireSize, 2.5f);
  EXPECT_EQ(record_.shading, 3);
  EXPECT_EQ(record_.transparencyFalloff, 0);
  EXPECT_EQ(record_.selfIllumination, 0);
  EXPECT_EQ(record_.flags, 0u);
  EXPECT_EQ(record_.secondFlags, 0u);
  EXPECT_EQ(record_.reflectionBlur, 0);
  for (int s = 0; s < SLOT_COUNT; ++s) EXPECT_EQ(record_.maps[s], nullptr) << "slot " << s;
  EXPECT_EQ(record_.extraData, nullptr);
  EXPECT_GE(m->updates, 1);
}

TEST_F(MaterialConvertTest, ColoursArePackedIntoTheirOwnFields) {
  MemMaterial* m = Mat();
  m->ambient = Point3(0.0f, 0.0f, 0.0f);
  m->diffuse = Point3(1.0f, 0.5f, 0.0f);
  m->specular = Point3(0.2f, 0.2f, 0.2f);
  ConvertMaterial(record_, m);
  EXPECT_EQ(record_.ambient[0], 0);
  EXPECT_EQ(record_.diffuse[0], 255);
  EXPECT_EQ(record_.diffuse[1], 127);
  EXPECT_EQ(record_.diffuse[2], 0);
  EXPECT_EQ(record_.specular[1], 51);
}

TEST_F(MaterialConvertTest, PackColorTruncatesTowardZero) {
  PackedColor c = PackColor(1.0f, 0.5f, 0.999f);
  EXPECT_EQ(c.rgb[0], 255);
  EXPECT_EQ(c.rgb[1], 127);
  EXPECT_EQ(c.rgb[2], 254);
}

TEST_F(MaterialConvertTest, PackColorClampsOutOfRangeComponents) {
  PackedColor c = PackColor(1.01f, -0.2f, 7.0f);
  EXPECT_EQ(c.rgb[0], 255);
  EXPECT_EQ(c.rgb[1], 0);
  EXPECT_EQ(c.rgb[2], 255);
  PackedColor n = PackColor(std::nanf(""), 0.0f, -0.0f);
  EXPECT_EQ(n.rgb[0], 0);
  EXPECT_EQ(n.rgb[1], 0);
  EXPECT_EQ(n.rgb[2], 0);
}

TEST_F(MaterialConvertTest, ToPercentRoundsHalfUpInDouble) {
  EXPECT_EQ(ToPercent(0.3f), 30);
  EXPECT_EQ(ToPercent(0.125f), 13);
  EXPECT_EQ(ToPercent(-0.3f), -29);
  EXPECT_EQ(ToPercent(1.0f), 100);
  EXPECT_EQ(ToPercent(0.0f), 0);
  EXPECT_EQ(ToPercent(2.5f), 250);
}

TEST_F(MaterialConvertTest, PercentagesKeepTheLowSixteenBits) {
  MemMaterial* m = Mat();
  m->transparency = 0.3f;
  m->shininess = -0.3f;
  m->shininessStrength = 700.0f;  // 70000
  m->transparencyFalloff = 0.25f;
  m->selfIllumination = 0.5f;
  ConvertMaterial(record_, m);
  EXPECT_EQ(record_.transparency, 30);
  EXPECT_EQ(record_.shininess, static_cast<uint16_t>(-29));
  EXPECT_EQ(record_.shininess, 0xFFE3);
  EXPECT_EQ(record_.shininessStrength, 70000 & 0xFFFF);
  EXPECT_EQ(record_.transparencyFalloff, 25);
  EXPECT_EQ(record_.selfIllumination, 50);
}

TEST_F(MaterialConvertTest, ShadingModes) {
  const struct {
    int mode;
    uint16_t shading;
  } cases[] = {{0, 1}, {1, 3}, {2, 4}, {3, 3}, {7, 3}, {-1, 3}};
  for (const auto& c : cases) {
    MemMaterial* m = Mat();
    m->shadingMode = c.mode;
    MaterialRecord r;
    ConvertMaterial(r, m);
    EXPECT_EQ(r.shading, c.shading) << "mode " << c.mode;
  }
}

TEST_F(MaterialConvertTest, SwitchesBecomeFlagBits) {
  MemMaterial* m = Mat();
  ConvertMaterial(record_, m);
  EXPECT_EQ(record_.flags, 0u);  // falloff out, nothing switched on

  auto flagsWith = [this](void (*set)(MemMaterial*)) {
    MemMaterial* mat = Mat();
    set(mat);
    MaterialRecord r;
    ConvertMaterial(r, mat);
    return r.flags;
  };
  EXPECT_EQ(flagsWith([](MemMaterial* x) { x->twoSided = true; }), 0x0001u);
  EXPECT_EQ(flagsWith([](MemMaterial* x) { x->transparencyType = 1; }), 0x0008u);
  EXPECT_EQ(flagsWith([](MemMaterial* x) { x->transparencyType = 2; }), 0x0000u);
  EXPECT_EQ(flagsWith([](MemMaterial* x) { x->wireframe = true; }), 0x0010u);
  EXPECT_EQ(flagsWith([](MemMaterial* x) { x->falloffOut = false; }), 0x0080u);
  EXPECT_EQ(flagsWith([](MemMaterial* x) { x->faceMap = true; }), 0x1000u);
  EXPECT_EQ(flagsWith([](MemMaterial* x) { x->soften = true; }), 0x2000u);
  EXPECT_EQ(flagsWith([](MemMaterial* x) { x->wireInUnits = true; }), 0x4000u);
  EXPECT_EQ(flagsWith([](MemMaterial* x) {
              x->twoSided = x->wireframe = x->faceMap = x->soften = x->wireInUnits = true;
              x->falloffOut = false;
              x->transparencyType = 1;
            }),
            0x7099u);
}

TEST_F(MaterialConvertTest, BumpAmountIsWholeHundreds) {
  EXPECT_EQ(ConvertWithMap(kChannelBump, Map(), 2.5f).maps[SLOT_BUMP]->amount, 2);
  EXPECT_EQ(ConvertWithMap(kChannelBump, Map(), 0.3f).maps[SLOT_BUMP]->amount, 0);
  EXPECT_EQ(ConvertWithMap(kChannelBump, Map(), 0.99f).maps[SLOT_BUMP]->amount, 0);
  EXPECT_EQ(ConvertWithMap(kChannelBump, Map(), -2.5f).maps[SLOT_BUMP]->amount, 2);
}

TEST_F(MaterialConvertTest, OtherAmountsArePercentages) {
  EXPECT_EQ(ConvertWithMap(kChannelDiffuse, Map(), 0.75f).maps[SLOT_TEXTURE]->amount, 75);
  EXPECT_EQ(ConvertWithMap(kChannelOpacity, Map(), 2.5f).maps[SLOT_OPACITY]->amount, 250);
}

TEST_F(MaterialConvertTest, FileNameLosesItsDirectory) {
  EXPECT_STREQ(ConvertWithMap(kChannelDiffuse, Map(kBitmapMapClass, "C:\\maps\\brick.bmp"))
                   .maps[SLOT_TEXTURE]
                   ->map.fileName,
               "brick.bmp");
  EXPECT_STREQ(ConvertWithMap(kChannelDiffuse, Map(kBitmapMapClass, "/x/y/brick.bmp"))
                   .maps[SLOT_TEXTURE]
                   ->map.fileName,
               "brick.bmp");
}

TEST_F(MaterialConvertTest, CopyFilePartTakesThePartAfterTheLastSeparator) {
  char out[kMapFileNameSize];
  CopyFilePart("brick.bmp", out, sizeof(out));
  EXPECT_STREQ(out, "brick.bmp");
  CopyFilePart("D:/a\\b/c\\wall.tga", out, sizeof(out));
  EXPECT_STREQ(out, "wall.tga");
  CopyFilePart("C:\\maps\\", out, sizeof(out));
  EXPECT_STREQ(out, "");
  CopyFilePart(nullptr, out, sizeof(out));
  EXPECT_STREQ(out, "");
}

TEST_F(MaterialConvertTest, LongFilePartIsCutTo129Characters) {
  std::string file(200, 'f');
  const MaterialRecord& r = ConvertWithMap(kChannelDiffuse, Map(kBitmapMapClass, "C:\\d\\" + file));
  EXPECT_EQ(std::string(r.maps[SLOT_TEXTURE]->map.fileName), std::string(129, 'f'));

  char out[kMapFileNameSize];
  std::string exact(129, 'e');
  CopyFilePart(("/dir/" + exact).c_str(), out, sizeof(out));
  EXPECT_EQ(std::string(out), exact);
  char small[4];
  CopyFilePart("/dir/abcdef", small, sizeof(small));
  EXPECT_STREQ(small, "abc");
}

TEST_F(MaterialConvertTest, BitmapCoordinatesAreConverted) {
  MemMap* map = Map();
  map->uOffset = 0.25f;
  map->vOffset = 0.5f;
  map->uTiling = 2.0f;
  map->vTiling = 3.0f;
  map->blur = 1.5f;
  const MapParams& p = ConvertWithMap(kChannelDiffuse, map).maps[SLOT_TEXTURE]->map;
  EXPECT_EQ(p.autoReflection, 0);
  EXPECT_EQ(p.kind, 1);
  EXPECT_EQ(p.uOffset, 0.25f);
  EXPECT_EQ(p.vOffset, -0.5f);
  EXPECT_EQ(p.uScale, 2.0f);
  EXPECT_EQ(p.vScale, 3.0f);
  EXPECT_EQ(p.blur, 0.5f);
  EXPECT_EQ(p.rotationSin, 0.0f);
  EXPECT_EQ(p.rotationCos, 1.0f);
}

TEST_F(MaterialConvertTest, RotationKeepsNegatedSineAndCosine) {
  MemMap* map = Map();
  map->rotationAngle = static_cast<float>(M_PI / 2);
  const MapParams& p = ConvertWithMap(kChannelDiffuse, map).maps[SLOT_TEXTURE]->map;
  EXPECT_EQ(p.rotationSin, -1.0f);
  EXPECT_NEAR(p.rotationCos, 0.0f, 1e-6f);

  MemMap* other = Map();
  other->rotationAngle = 0.5f;
  const MapParams& q = ConvertWithMap(kChannelDiffuse, other).maps[SLOT_TEXTURE]->map;
  EXPECT_FLOAT_EQ(q.rotationSin, -std::sin(0.5f));
  EXPECT_FLOAT_EQ(q.rotationCos, std::cos(0.5f));
}

TEST_F(MaterialConvertTest, TilingBitsBecomeTilingFlags) {
  EXPECT_EQ(TilingFlags(0x3), 0x0000);
  EXPECT_EQ(TilingFlags(0x0), 0x0010);
  EXPECT_EQ(TilingFlags(0xF), 0x0002);
  EXPECT_EQ(TilingFlags(0x4), 0x0012);
  EXPECT_EQ(TilingFlags(0x8), 0x0012);
  EXPECT_EQ(TilingFlags(0x1), 0x0000);
  EXPECT_EQ(TilingFlags(0x2), 0x0000);
}

TEST_F(MaterialConvertTest, InvertedOutputAndSummedAreaFilterSetFlags) {
  MemMap* inverted = Map();
  inverted->outputInverted = true;
  EXPECT_EQ(ConvertWithMap(kChannelDiffuse, inverted).maps[SLOT_TEXTURE]->map.flags, 0x0008);
  MemMap* summed = Map();
  summed->filterType = 1;
  EXPECT_EQ(ConvertWithMap(kChannelDiffuse, summed).maps[SLOT_TEXTURE]->map.flags, 0x0020);
  MemMap* none = Map();
  none->filterType = 2;
  EXPECT_EQ(ConvertWithMap(kChannelDiffuse, none).maps[SLOT_TEXTURE]->map.flags, 0x0000);
}

TEST_F(MaterialConvertTest, ReflectionClassWithSize) {
  MemMap* map = Map(kReflectionMapClass, "");
  map->everyNthFrame = true;
  map->nthFrame = 3;
  map->reflectionSize = 256;
  const MapRecord& m = *ConvertWithMap(kChannelReflection, map, 0.4f).maps[SLOT_REFLECTION];
  EXPECT_EQ(m.map.flags, 0x0001);
  EXPECT_EQ(m.map.autoReflection, 1);
  EXPECT_EQ(m.map.kind, 4);
  EXPECT_EQ(m.map.nthFrame, 3);
  EXPECT_EQ(m.map.reflectionSize, 256);
  EXPECT_EQ(m.amount, 40);
  EXPECT_EQ(m.enabled, 1);

  MemMap* first = Map(kReflectionMapClass, "");
  first->everyNthFrame = false;
  EXPECT_EQ(ConvertWithMap(kChannelReflection, first).maps[SLOT_REFLECTION]->map.flags, 0x0009);
}

TEST_F(MaterialConvertTest, OtherReflectionClassKeepsDefaultSize) {
  MemMap* map = Map(kMirrorMapClass, "");
  map->everyNthFrame = false;
  map->nthFrame = 5;
  map->reflectionSize = 512;  // not asked of this class
  const MapRecord& m = *ConvertWithMap(kChannelReflection, map).maps[SLOT_REFLECTION];
  EXPECT_EQ(m.map.flags, 0x0019);
  EXPECT_EQ(m.map.nthFrame, 5);
  EXPECT_EQ(m.map.reflectionSize, 100);

  MemMap* every = Map(kMirrorMapClass, "");
  every->everyNthFrame = true;
  EXPECT_EQ(ConvertWithMap(kChannelReflection, every).maps[SLOT_REFLECTION]->map.flags, 0x0011);
}

TEST_F(MaterialConvertTest, ReflectionClassOutsideReflectionSlotIsLeftOut) {
  const MaterialRecord& r = ConvertWithMap(kChannelDiffuse, Map(kReflectionMapClass, ""));
  for (int s = 0; s < SLOT_COUNT; ++s) EXPECT_EQ(r.maps[s], nullptr) << "slot " << s;
}

TEST_F(MaterialConvertTest, BitmapInReflectionSlotKeepsAutoReflectionDefaults) {
  MemMap* map = Map(kBitmapMapClass, "C:\\env\\chrome.bmp");
  map->uTiling = 4.0f;
  map->outputInverted = true;
  const MapRecord& m = *ConvertWithMap(kChannelReflection, map, 0.6f, false).maps[SLOT_REFLECTION];
  EXPECT_EQ(m.amount, 60);
  EXPECT_EQ(m.enabled, 0);
  EXPECT_STREQ(m.map.fileName, "chrome.bmp");
  EXPECT_EQ(m.map.autoReflection, 1);
  EXPECT_EQ(m.map.kind, 4);
  EXPECT_EQ(m.map.flags, 0);
  EXPECT_EQ(m.map.reflectionSize, 100);
  EXPECT_EQ(m.map.nthFrame, 1);
  EXPECT_EQ(m.map.uScale, 0.0f);
}

TEST_F(MaterialConvertTest, ProceduralMapLeavesItsSlotEmpty) {
  for (int c = 0; c < kChannelCount; ++c) {
    MaterialRecord r;
    MemMaterial* m = Mat();
    m->channels[c].map = Map(Class_ID(0x1234, 0x5678), "");
    ConvertMaterial(r, m);
    for (int s = 0; s < SLOT_COUNT; ++s) EXPECT_EQ(r.maps[s], nullptr) << c << " " << s;
  }
}

TEST_F(MaterialConvertTest, EachChannelFillsItsSlot) {
  const struct {
    int channel;
    int slot;
  } cases[] = {{1, SLOT_TEXTURE},   {6, SLOT_OPACITY},   {8, SLOT_BUMP},
               {2, SLOT_SPECULAR},  {3, SLOT_SHININESS}, {5, SLOT_SELF_ILLUMINATION},
               {9, SLOT_REFLECTION}};
  for (const auto& c : cases) {
    MaterialRecord r;
    MemMaterial* m = Mat();
    m->channels[c.channel].map = Map();
    ConvertMaterial(r, m);
    for (int s = 0; s < SLOT_COUNT; ++s)
      EXPECT_EQ(r.maps[s] != nullptr, s == c.slot) << "channel " << c.channel << " slot " << s;
  }
  // Channels without a slot give nothing.
  for (int channel : {0, 4, 7, 10, 11}) {
    MaterialRecord r;
    MemMaterial* m = Mat();
    m->channels[channel].map = Map();
    ConvertMaterial(r, m);
    for (int s = 0; s < SLOT_COUNT; ++s) EXPECT_EQ(r.maps[s], nullptr) << channel;
  }
}

TEST_F(MaterialConvertTest, DisabledChannelStillGivesARecord) {
  const MapRecord* m =
      ConvertWithMap(kChannelSpecular, Map(), 1.0f, false).maps[SLOT_SPECULAR].get();
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->enabled, 0);
}

TEST_F(MaterialConvertTest, SlotChannels) {
  EXPECT_EQ(SlotChannel(0), 1);
  EXPECT_EQ(SlotChannel(1), 1);
  EXPECT_EQ(SlotChannel(2), 6);
  EXPECT_EQ(SlotChannel(3), 8);
  EXPECT_EQ(SlotChannel(4), 2);
  EXPECT_EQ(SlotChannel(5), 3);
  EXPECT_EQ(SlotChannel(6), 5);
  EXPECT_EQ(SlotChannel(7), 9);
  EXPECT_EQ(SlotChannel(8), 1);
  EXPECT_EQ(SlotChannel(-1), 1);
}

TEST_F(MaterialConvertTest, InitMapParamsDefaults) {
  MapParams p;
  p.data = std::make_unique<DataBlock>();
  p.flags = 0x55;
  std::strcpy(p.fileName, "old.bmp");
  InitMapParams(p, SLOT_TEXTURE, MapPart::MAP);
  EXPECT_EQ(p.autoReflection, 0);
  EXPECT_STREQ(p.fileName, "");
  EXPECT_EQ(p.kind, 0);
  EXPECT_EQ(p.flags, 0);
  EXPECT_EQ(p.data, nullptr);
  EXPECT_EQ(FloatBits(p.blur), 0x3DCCCCCCu);
  EXPECT_EQ(p.uScale, 1.0f);
  EXPECT_EQ(p.vScale, 1.0f);
  EXPECT_EQ(p.uOffset, 0.0f);
  EXPECT_EQ(p.vOffset, 0.0f);
  EXPECT_EQ(p.rotationSin, 0.0f);
  EXPECT_EQ(p.rotationCos, 1.0f);
  const uint8_t black[3] = {0, 0, 0}, white[3] = {255, 255, 255};
  const uint8_t red[3] = {255, 0, 0}, green[3] = {0, 255, 0}, blue[3] = {0, 0, 255};
  EXPECT_EQ(std::memcmp(p.color1, black, 3), 0);
  EXPECT_EQ(std::memcmp(p.color2, white, 3), 0);
  EXPECT_EQ(std::memcmp(p.redTint, red, 3), 0);
  EXPECT_EQ(std::memcmp(p.greenTint, green, 3), 0);
  EXPECT_EQ(std::memcmp(p.blueTint, blue, 3), 0);
}

TEST_F(MaterialConvertTest, InitMapParamsReflectionMapDefaults) {
  MapParams p;
  p.blur = 3.0f;
  InitMapParams(p, SLOT_REFLECTION, MapPart::MAP);
  EXPECT_EQ(p.autoReflection, 1);
  EXPECT_EQ(p.kind, 4);
  EXPECT_EQ(p.reserved, 0);
  EXPECT_EQ(p.flags, 0);
  EXPECT_EQ(p.reflectionSize, 100);
  EXPECT_EQ(p.nthFrame, 1);
  EXPECT_EQ(p.blur, 0.0f);
  EXPECT_EQ(p.uScale, 0.0f);
  EXPECT_EQ(p.rotationCos, 0.0f);
  EXPECT_EQ(p.color2[0], 0);

  // The reflection slot's mask is an ordinary block.
  InitMapParams(p, SLOT_REFLECTION, MapPart::MASK);
  EXPECT_EQ(p.autoReflection, 0);
  EXPECT_EQ(p.kind, 0);
  EXPECT_EQ(p.uScale, 1.0f);
  EXPECT_EQ(FloatBits(p.blur), 0x3DCCCCCCu);
}

TEST_F(MaterialConvertTest, NewMapRecordIsDisabledWithAmount100) {
  std::unique_ptr<MapRecord> m = NewMapRecord(SLOT_REFLECTION);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->enabled, 0);
  EXPECT_EQ(m->amount, 100);
  EXPECT_EQ(m->map.autoReflection, 1);
  EXPECT_EQ(m->mask.autoReflection, 0);
  EXPECT_EQ(m->mask.uScale, 1.0f);
  std::unique_ptr<MapRecord> t = NewMapRecord(SLOT_TEXTURE);
  EXPECT_EQ(t->map.autoReflection, 0);
  EXPECT_EQ(t->map.vScale, 1.0f);
}

}  // namespace
}  // namespace tsm
