#include "material/material_writer.h"

#include <cmath>
#include <cstring>
#include <string>

#include "host/host_core.h"

namespace tsm {

const MaterialRecord* CurrentMaterial = nullptr;

namespace {

// The chunk ids of one map slot. A slot without a map data chunk holds 0 there.
struct SlotChunkIds {
  int32_t map;
  int32_t mapData;
  int32_t mask;
  int32_t maskData;
};

// Indexed by MapSlot; the block visits the slots in this order, not in id order.
const SlotChunkIds kSlotChunks[SLOT_COUNT] = {
    {MAP_TEXTURE, MAP_DATA_TEXTURE, MASK_TEXTURE, MASK_DATA_TEXTURE},
    {MAP_TEXTURE2, MAP_DATA_TEXTURE2, MASK_TEXTURE2, MASK_DATA_TEXTURE2},
    {MAP_OPACITY, MAP_DATA_OPACITY, MASK_OPACITY, MASK_DATA_OPACITY},
    {MAP_BUMP, MAP_DATA_BUMP, MASK_BUMP, MASK_DATA_BUMP},
    {MAP_SPECULAR, MAP_DATA_SPECULAR, MASK_SPECULAR, MASK_DATA_SPECULAR},
    {MAP_SHININESS, MAP_DATA_SHININESS, MASK_SHININESS, MASK_DATA_SHININESS},
    {MAP_SELF_ILLUMINATION, MAP_DATA_SELF_ILLUMINATION, MASK_SELF_ILLUMINATION,
     MASK_DATA_SELF_ILLUMINATION},
    {MAP_REFLECTION, 0, MASK_REFLECTION, MASK_DATA_REFLECTION},
};

// The switch chunks, in the order they are written, with the record flag of each.
struct SwitchChunk {
  uint32_t flag;
  int32_t id;
};
const SwitchChunk kSwitchChunks[] = {
    {0x0001, MATERIAL_TWO_SIDED},     {0x0008, MATERIAL_ADDITIVE},   {0x0010, MATERIAL_WIREFRAME},
    {0x1000, MATERIAL_FACE_MAP},      {0x0080, MATERIAL_FALLOFF_IN}, {0x2000, MATERIAL_SOFTEN},
    {0x4000, MATERIAL_WIRE_IN_UNITS},
};

// Second-flags bits.
constexpr uint32_t kUseFalloff = 0x1;
constexpr uint32_t kUseReflectionBlur = 0x2;
// Automatic-reflection flag bit that asks for MAP_AUTO_REFLECTION.
constexpr uint16_t kAutoReflectionOn = 0x0001;

constexpr float kDegreesPerRadian = 57.29578f;

enum class SlotPart { MAP, MAP_DATA, MASK, MASK_DATA };

// The slot whose chunk of the given part has the id low, or -1.
int SlotOf(uint16_t low, SlotPart part) {
  for (int s = 0; s < SLOT_COUNT; ++s) {
    const SlotChunkIds& ids = kSlotChunks[s];
    int32_t id = part == SlotPart::MAP        ? ids.map
                 : part == SlotPart::MAP_DATA ? ids.mapData
                 : part == SlotPart::MASK     ? ids.mask
                                              : ids.maskData;
    if (id != 0 && ChunkLow(id) == low) return s;
  }
  return -1;
}

// The map record of slot of CurrentMaterial, or null.
const MapRecord* CurrentMap(int slot) {
  if (CurrentMaterial == nullptr || slot < 0 || slot >= SLOT_COUNT) return nullptr;
  return CurrentMaterial->maps[slot].get();
}

// Child requests. The context only ever travels down to be read.
int Child(int32_t id, OutStream& s, const void* data) {
  return WriteMaterialChunk(id, s, const_cast<void*>(data));
}
int ChildU16(int32_t id, OutStream& s, uint16_t v) {
  return Child(id, s, &v);
}
int ChildF32(int32_t id, OutStream& s, float v) {
  return Child(id, s, &v);
}

// A text field of a record, up to its last byte even when a hand-made record forgot the
// NUL, so a text chunk never reads past its field.
template <size_t N>
int ChildText(int32_t id, OutStream& s, const char (&field)[N]) {
  std::string text(field, strnlen(field, N - 1));
  return Child(id, s, text.c_str());
}

// A float test against a default; a value that is not a number counts as the default.
bool IsDefault(float v, float def) {
  return std::isnan(v) || v == def;
}

bool IsRgb(const uint8_t* c, uint8_t r, uint8_t g, uint8_t b) {
  return c[0] == r && c[1] == g && c[2] == b;
}

// The rotation of a parameter block in degrees, -180..180. The block keeps the negated
// sine, so this is the host's angle negated.
float RotationDegrees(const MapParams& p) {
  double radians =
      std::atan2(static_cast<double>(p.rotationSin), static_cast<double>(p.rotationCos));
  return static_cast<float>(radians * static_cast<double>(kDegreesPerRadian));
}

// Body of MATERIAL_AMBIENT, MATERIAL_DIFFUSE or MATERIAL_SPECULAR. With gamma correction
// on, the corrected colour comes first and the colour as stored follows it.
bool WriteColorChunks(OutStream& s, const uint8_t* c) {
  if (!gammaMgr.GammaEnabled()) return Child(COLOR_BYTES, s, c) == 1;
  uint8_t corrected[3];
  for (int i = 0; i < 3; ++i) corrected[i] = gammaMgr.GammaCorrect(c[i]);
  return Child(COLOR_BYTES, s, corrected) == 1 && Child(COLOR_BYTES_LINEAR, s, c) == 1;
}

bool WriteAutoReflection(OutStream& s, const MapParams& p) {
  return WriteU8(s, p.kind) && WriteU8(s, p.reserved) && WriteU16(s, p.flags) &&
         WriteI32(s, p.reflectionSize) && WriteI32(s, p.nthFrame);
}

bool WriteDataBlock(OutStream& s, const DataBlock& block) {
  return WriteBytes(s, block.bytes.data(), block.bytes.size());
}

// The chunks of one enabled map slot: map, map data, mask and mask data, each where the
// record holds it.
bool WriteSlotChunks(OutStream& s, const MapRecord& m, int slot) {
  const SlotChunkIds& ids = kSlotChunks[slot];
  if (!Child(ids.map, s, nullptr)) return false;
  if (ids.mapData != 0 && m.map.autoReflection == 0 && m.map.data)
    if (!Child(ids.mapData, s, m.map.data.get())) return false;
  if (m.mask.fileName[0] != '\0')
    if (!Child(ids.mask, s, nullptr)) return false;
  if (m.mask.autoReflection == 0 && m.mask.data)
    if (!Child(ids.maskData, s, m.mask.data.get())) return false;
  return true;
}

bool WriteBlockBody(OutStream& s, const MaterialRecord& r) {
  if (!ChildText(MATERIAL_NAME, s, r.name)) return false;

  if (!Child(MATERIAL_AMBIENT, s, r.ambient) || !Child(MATERIAL_DIFFUSE, s, r.diffuse) ||
      !Child(MATERIAL_SPECULAR, s, r.specular))
    return false;

  if (!ChildU16(MATERIAL_SHININESS, s, r.shininess) ||
      !ChildU16(MATERIAL_SHININESS_STRENGTH, s, r.shininessStrength) ||
      !ChildU16(MATERIAL_TRANSPARENCY, s, r.transparency) ||
      !ChildU16(MATERIAL_FALLOFF, s, r.transparencyFalloff) ||
      !ChildU16(MATERIAL_REFLECTION_BLUR, s, r.reflectionBlur))
    return false;

  if (!ChildU16(MATERIAL_SHADING, s, r.shading)) return false;
  if (!ChildU16(MATERIAL_SELF_ILLUMINATION, s, r.selfIllumination)) return false;

  if ((r.secondFlags & kUseFalloff) && !Child(MATERIAL_USE_FALLOFF, s, nullptr)) return false;
  if ((r.secondFlags & kUseReflectionBlur) && !Child(MATERIAL_USE_REFLECTION_BLUR, s, nullptr))
    return false;

  for (const SwitchChunk& sw : kSwitchChunks)
    if ((r.flags & sw.flag) && !Child(sw.id, s, nullptr)) return false;

  if (!ChildF32(MATERIAL_WIRE_SIZE, s, r.wireSize)) return false;

  // A slot whose map is missing or switched off writes nothing, whatever its mask holds.
  for (int slot = 0; slot < SLOT_COUNT; ++slot) {
    const MapRecord* m = r.maps[slot].get();
    if (m == nullptr || m->enabled == 0) continue;
    if (!WriteSlotChunks(s, *m, slot)) return false;
  }

  const MapRecord* reflection = r.maps[SLOT_REFLECTION].get();
  if (reflection != nullptr && reflection->enabled != 0 &&
      (reflection->map.flags & kAutoReflectionOn))
    if (!Child(MAP_AUTO_REFLECTION, s, &reflection->map)) return false;

  if (r.extraData && !Child(EXTRA_DATA, s, r.extraData.get())) return false;
  return true;
}

// The body of chunk low with the context of its id (see the header). Answers false only
// on a failed write; missing data gives an empty body.
bool WriteBody(uint16_t low, OutStream& s, const void* context) {
  int slot = SlotOf(low, SlotPart::MAP);
  if (slot >= 0) return CurrentMap(slot) == nullptr || WriteMapChunk(slot, s) == 1;
  slot = SlotOf(low, SlotPart::MASK);
  if (slot >= 0) return CurrentMap(slot) == nullptr || WriteMaskChunk(slot, s) == 1;
  if (SlotOf(low, SlotPart::MAP_DATA) >= 0 || SlotOf(low, SlotPart::MASK_DATA) >= 0)
    return context == nullptr || WriteDataBlock(s, *static_cast<const DataBlock*>(context));

  if (low == ChunkLow(MATERIAL_BLOCK))
    return CurrentMaterial == nullptr || WriteBlockBody(s, *CurrentMaterial);
  if (context == nullptr) return true;

  const auto* u16 = static_cast<const uint16_t*>(context);
  const auto* f32 = static_cast<const float*>(context);
  const auto* rgb = static_cast<const uint8_t*>(context);
  switch (low) {
    case MATERIAL_NAME:
    case MAP_FILE_NAME:
      return WriteText(s, static_cast<const char*>(context));
    case MATERIAL_AMBIENT:
    case MATERIAL_DIFFUSE:
    case MATERIAL_SPECULAR:
      return WriteColorChunks(s, rgb);
    case COLOR_BYTES:
    case COLOR_BYTES_LINEAR:
    case MAP_COLOR_1:
    case MAP_COLOR_2:
    case MAP_RED_TINT:
    case MAP_GREEN_TINT:
    case MAP_BLUE_TINT:
      return WriteBytes(s, rgb, 3);
    case MATERIAL_SHININESS:
    case MATERIAL_SHININESS_STRENGTH:
    case MATERIAL_TRANSPARENCY:
    case MATERIAL_FALLOFF:
    case MATERIAL_REFLECTION_BLUR:
    case MATERIAL_SELF_ILLUMINATION:
      return ChildU16(PERCENTAGE, s, *u16) == 1;
    case PERCENTAGE:
    case MATERIAL_SHADING:
    case MAP_BUMP_AMOUNT:
    case MAP_TILING:
      return WriteU16(s, *u16);
    case MATERIAL_WIRE_SIZE:
    case MAP_BLUR:
    case MAP_U_SCALE:
    case MAP_V_SCALE:
    case MAP_U_OFFSET:
    case MAP_V_OFFSET:
    case MAP_ROTATION:
      return WriteF32(s, *f32);
    case MAP_AUTO_REFLECTION:
      return WriteAutoReflection(s, *static_cast<const MapParams*>(context));
    case EXTRA_DATA:
      return WriteDataBlock(s, *static_cast<const DataBlock*>(context));
    default:
      // The switch chunks and the two second-flag chunks have no body; an id outside
      // the catalogue is a bare header too.
      return true;
  }
}

}  // namespace

int WriteMaterialChunk(int32_t id, OutStream& stream, void* context) {
  return ChunkFraming(stream, id, [&]() { return WriteBody(ChunkLow(id), stream, context); });
}

int WriteMapChunk(int slot, OutStream& stream) {
  const MapRecord* m = CurrentMap(slot);
  if (m == nullptr) return 1;
  const MapParams& p = m->map;
  if (slot == SLOT_BUMP) {
    // The percentage of a bump map is a quarter of its amount; the amount follows whole.
    if (!ChildU16(PERCENTAGE, stream, static_cast<uint16_t>(m->amount / 4)) ||
        !ChildText(MAP_FILE_NAME, stream, p.fileName) ||
        !ChildU16(MAP_BUMP_AMOUNT, stream, static_cast<uint16_t>(m->amount)))
      return 0;
  } else {
    if (!ChildU16(PERCENTAGE, stream, static_cast<uint16_t>(m->amount)) ||
        !ChildText(MAP_FILE_NAME, stream, p.fileName))
      return 0;
  }
  // An automatic reflection has no coordinates of its own.
  if (p.autoReflection == 0) return WriteMapParams(p, stream);
  return 1;
}

int WriteMaskChunk(int slot, OutStream& stream) {
  const MapRecord* m = CurrentMap(slot);
  if (m == nullptr) return 1;
  const MapParams& q = m->mask;
  if (!ChildText(MAP_FILE_NAME, stream, q.fileName)) return 0;
  if (q.autoReflection == 0) return WriteMapParams(q, stream);
  return 1;
}

int WriteMapParams(const MapParams& p, OutStream& s) {
  if (!ChildU16(MAP_TILING, s, p.flags) || !ChildF32(MAP_BLUR, s, p.blur)) return 0;
  if (!IsDefault(p.uScale, 1.0f) && !ChildF32(MAP_U_SCALE, s, p.uScale)) return 0;
  if (!IsDefault(p.vScale, 1.0f) && !ChildF32(MAP_V_SCALE, s, p.vScale)) return 0;
  if (!IsDefault(p.uOffset, 0.0f) && !ChildF32(MAP_U_OFFSET, s, p.uOffset)) return 0;
  if (!IsDefault(p.vOffset, 0.0f) && !ChildF32(MAP_V_OFFSET, s, p.vOffset)) return 0;
  if (!IsDefault(p.rotationSin, 0.0f) && !ChildF32(MAP_ROTATION, s, RotationDegrees(p))) return 0;
  if (!IsRgb(p.color1, 0, 0, 0) && !Child(MAP_COLOR_1, s, p.color1)) return 0;
  if (!IsRgb(p.color2, 255, 255, 255) && !Child(MAP_COLOR_2, s, p.color2)) return 0;
  if (!IsRgb(p.redTint, 255, 0, 0) && !Child(MAP_RED_TINT, s, p.redTint)) return 0;
  if (!IsRgb(p.greenTint, 0, 255, 0) && !Child(MAP_GREEN_TINT, s, p.greenTint)) return 0;
  if (!IsRgb(p.blueTint, 0, 0, 255) && !Child(MAP_BLUE_TINT, s, p.blueTint)) return 0;
  return 1;
}

}  // namespace tsm
