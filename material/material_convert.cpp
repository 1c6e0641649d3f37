#include "material/material_convert.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "material/material_table.h"

namespace tsm {

namespace {

// Channels of the maps, by slot; slot 1 is never converted.
const int kSlotChannels[SLOT_COUNT] = {kChannelDiffuse,   1,
                                       kChannelOpacity,   kChannelBump,
                                       kChannelSpecular,  kChannelShininess,
                                       kChannelSelfIllum, kChannelReflection};

// Slots in the order the conversion fills them.
const int kConvertedSlots[] = {0, 2, 3, 4, 5, 6, 7};

void PackInto(uint8_t* rgb, const Point3& c) {
  PackedColor p = PackColor(c.x, c.y, c.z);
  std::memcpy(rgb, p.rgb, 3);
}

// Reflection classes in the reflection slot: an automatic reflection record.
void ConvertReflection(MaterialRecord& r, HostMaterial* m, HostMap* map, int channel,
                       bool withSize) {
  std::unique_ptr<MapRecord> rec = NewMapRecord(SLOT_REFLECTION);
  if (!rec) return;
  rec->amount = ToPercent(m->ChannelAmount(channel, 0));
  rec->enabled = m->ChannelEnabled(channel) ? 1 : 0;
  rec->map.flags = withSize ? 0x0001 : 0x0011;
  if (!map->EveryNthFrame()) rec->map.flags |= 0x0008;
  rec->map.nthFrame = map->NthFrame();
  if (withSize) rec->map.reflectionSize = map->ReflectionSize(0);
  r.maps[SLOT_REFLECTION] = std::move(rec);
}

void ConvertBitmap(MaterialRecord& r, HostMaterial* m, HostMap* map, int slot, int channel) {
  std::unique_ptr<MapRecord> rec = NewMapRecord(slot);
  if (!rec) return;
  rec->amount = ToPercent(m->ChannelAmount(channel, 0));
  if (slot == SLOT_BUMP) rec->amount = std::abs(rec->amount) / 100;
  rec->enabled = m->ChannelEnabled(channel) ? 1 : 0;
  CopyFilePart(map->MapFileName(), rec->map.fileName, sizeof(rec->map.fileName));

  if (slot != SLOT_REFLECTION) {
    MapParams& p = rec->map;
    p.kind = 1;
    HostMapCoords* k = map->MapCoordinates();
    if (k != nullptr) {
      p.uOffset = k->UOffset(0);
      p.vOffset = -k->VOffset(0);
      p.uScale = k->UTiling(0);
      p.vScale = k->VTiling(0);
      float a = k->RotationAngle(0);
      p.rotationSin = -std::sin(a);
      p.rotationCos = std::cos(a);
      p.blur = k->MapBlur(0) - 1.0f;
      int t = k->TilingBits();
      if (t & 0xC) p.flags |= 0x0002;
      if (t & 0x3)
        p.flags &= ~0x0010;
      else
        p.flags |= 0x0010;
    }
    if (map->MapOutputInverted()) p.flags |= 0x0008;
    if (map->MapFilterType() == 1) p.flags |= 0x0020;
  }
  // A bitmap in the reflection slot keeps its automatic-reflection defaults.
  r.maps[slot] = std::move(rec);
}

}  // namespace

PackedColor PackColor(float r, float g, float b) {
  // Each component is clamped to 0..1 first, so an over-bright colour saturates instead
  // of wrapping around to a dark one; NaN counts as 0.
  auto pack = [](float v) -> uint8_t {
    if (!(v > 0.0f)) return 0;
    if (v >= 1.0f) return 255;
    return static_cast<uint8_t>(static_cast<int>(static_cast<double>(v) * 255.0));
  };
  PackedColor c;
  c.rgb[0] = pack(r);
  c.rgb[1] = pack(g);
  c.rgb[2] = pack(b);
  return c;
}

int32_t ToPercent(float v) {
  double p = static_cast<double>(v) * 100.0 + 0.5;
  if (!(p > -2147483648.0 && p < 2147483648.0)) return 0;  // out of range or NaN
  return static_cast<int32_t>(p);
}

int SlotChannel(int slot) {
  if (slot < 0 || slot >= SLOT_COUNT || slot == SLOT_TEXTURE2) return 1;
  return kSlotChannels[slot];
}

void CopyFilePart(const char* path, char* out, size_t outSize) {
  if (outSize == 0) return;
  out[0] = '\0';
  if (path == nullptr) return;
  const char* file = path;
  for (const char* p = path; *p != '\0'; ++p)
    if (*p == '\\' || *p == '/') file = p + 1;
  std::strncpy(out, file, outSize - 1);
  out[outSize - 1] = '\0';
}

void ConvertMaterial(MaterialRecord& r, HostMaterial* m) {
  Interval valid;
  m->UpdateMaterial(0, valid);
  PackInto(r.ambient, m->AmbientColor(0, false));
  PackInto(r.diffuse, m->DiffuseColor(0, false));
  PackInto(r.specular, m->SpecularColor(0, false));
  r.shading = 3;
  r.shininess = static_cast<uint16_t>(ToPercent(m->Shininess(0, false)));
  r.shininessStrength = static_cast<uint16_t>(ToPercent(m->ShininessStrength(0, false)));
  r.transparency = static_cast<uint16_t>(ToPercent(m->Transparency(0, false)));
  r.wireSize = m->WireSize(0, false);

  if (m->ClassIdentity() != kStandardMaterialClass) return;

  switch (m->ShadingMode()) {
    case 0:
      r.shading = 1;
      break;
    case 1:
      r.shading = 3;
      break;
    case 2:
      r.shading = 4;
      break;
    default:
      break;
  }
  r.transparencyFalloff = static_cast<uint16_t>(ToPercent(m->TransparencyFalloff(0)));
  r.selfIllumination = static_cast<uint16_t>(ToPercent(m->SelfIllumination(0)));

  uint32_t flags = 0;
  if (m->TwoSided()) flags |= 0x0001;
  if (m->Wireframe()) flags |= 0x0010;
  if (!m->FalloffOut()) flags |= 0x0080;
  if (m->FaceMap()) flags |= 0x1000;
  if (m->Soften()) flags |= 0x2000;
  if (m->WireInUnits()) flags |= 0x4000;
  if (m->TransparencyType() == 1) flags |= 0x0008;
  r.flags = flags;

  for (int slot : kConvertedSlots) {
    int c = SlotChannel(slot);
    HostMap* map = m->ChannelMap(c);
    if (map == nullptr) continue;
    Class_ID id = map->ClassIdentity();
    if (slot == SLOT_REFLECTION) {
      if (id == kReflectionMapClass) {
        ConvertReflection(r, m, map, c, true);
        continue;
      }
      if (id == kMirrorMapClass) {
        ConvertReflection(r, m, map, c, false);
        continue;
      }
    }
    if (id != kBitmapMapClass) continue;
    ConvertBitmap(r, m, map, slot, c);
  }
}

}  // namespace tsm
