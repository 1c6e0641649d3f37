// Materials and maps of the in-memory scene: every value the conversion reads, as plain
// fields. Values do not vary with time here.
#ifndef TSM_SCENE_MEM_MATERIAL_H
#define TSM_SCENE_MEM_MATERIAL_H

#include <string>
#include <vector>

#include "run/host_scene.h"

namespace tsm {

class MemMap : public HostMap, public HostMapCoords {
 public:
  Class_ID classId = kBitmapMapClass;  // a bitmap texture unless set
  std::string fileName;                // bitmap path as the host holds it
  float uOffset = 0.0f;
  float vOffset = 0.0f;
  float uTiling = 1.0f;  // no tiling
  float vTiling = 1.0f;
  float rotationAngle = 0.0f;  // radians
  float blur = 1.0f;           // the host's blur; the record stores blur - 1
  int tilingBits = 0x3;        // repeat in U and V
  bool outputInverted = false;
  int filterType = 0;         // 0 pyramidal, 1 summed-area, 2 none
  bool everyNthFrame = true;  // reflection maps: made every nth frame
  int nthFrame = 1;
  int reflectionSize = 100;

  // HostMap
  Class_ID ClassIdentity() override { return classId; }
  const char* MapFileName() override { return fileName.c_str(); }
  HostMapCoords* MapCoordinates() override { return this; }
  bool MapOutputInverted() override { return outputInverted; }
  int MapFilterType() override { return filterType; }
  bool EveryNthFrame() override { return everyNthFrame; }
  int NthFrame() override { return nthFrame; }
  int ReflectionSize(TimeValue) override { return reflectionSize; }
  // HostMapCoords
  float UOffset(TimeValue) override { return uOffset; }
  float VOffset(TimeValue) override { return vOffset; }
  float UTiling(TimeValue) override { return uTiling; }
  float VTiling(TimeValue) override { return vTiling; }
  float RotationAngle(TimeValue) override { return rotationAngle; }
  float MapBlur(TimeValue) override { return blur; }
  int TilingBits() override { return tilingBits; }
};

// One map channel of a standard material.
struct MemChannel {
  HostMap* map = nullptr;  // null: no map
  float amount = 1.0f;     // fraction
  bool enabled = true;
};

class MemMaterial : public HostMaterial {
 public:
  Class_ID classId = kStandardMaterialClass;  // a standard material unless set
  std::string name;
  std::vector<HostMaterial*> subMaterials;  // multi/sub slots; null: empty slot
  Point3 ambient{0.1f, 0.1f, 0.1f};
  Point3 diffuse{0.5f, 0.5f, 0.5f};
  Point3 specular{0.9f, 0.9f, 0.9f};
  float shininess = 0.1f;
  float shininessStrength = 0.0f;
  float transparency = 0.0f;
  float wireSize = 1.0f;
  int shadingMode = 1;  // phong
  float transparencyFalloff = 0.0f;
  float selfIllumination = 0.0f;
  bool twoSided = false;
  bool wireframe = false;
  bool falloffOut = true;
  bool faceMap = false;
  bool soften = false;
  bool wireInUnits = false;
  int transparencyType = 0;  // 1 additive
  MemChannel channels[kChannelCount];
  int updates = 0;  // how often UpdateMaterial was called

  Class_ID ClassIdentity() override { return classId; }
  void UpdateMaterial(TimeValue, Interval&) override { ++updates; }
  const char* MaterialName() override { return name.c_str(); }
  int SubMaterialCount() override { return static_cast<int>(subMaterials.size()); }
  HostMaterial* SubMaterial(int i) override {
    return i >= 0 && i < SubMaterialCount() ? subMaterials[i] : nullptr;
  }
  Point3 AmbientColor(int, bool) override { return ambient; }
  Point3 DiffuseColor(int, bool) override { return diffuse; }
  Point3 SpecularColor(int, bool) override { return specular; }
  float Shininess(int, bool) override { return shininess; }
  float ShininessStrength(int, bool) override { return shininessStrength; }
  float Transparency(int, bool) override { return transparency; }
  float WireSize(int, bool) override { return wireSize; }
  int ShadingMode() override { return shadingMode; }
  float TransparencyFalloff(TimeValue) override { return transparencyFalloff; }
  float SelfIllumination(TimeValue) override { return selfIllumination; }
  bool TwoSided() override { return twoSided; }
  bool Wireframe() override { return wireframe; }
  bool FalloffOut() override { return falloffOut; }
  bool FaceMap() override { return faceMap; }
  bool Soften() override { return soften; }
  bool WireInUnits() override { return wireInUnits; }
  int TransparencyType() override { return transparencyType; }
  HostMap* ChannelMap(int c) override { return InRange(c) ? channels[c].map : nullptr; }
  float ChannelAmount(int c, TimeValue) override { return InRange(c) ? channels[c].amount : 0.0f; }
  bool ChannelEnabled(int c) override { return InRange(c) && channels[c].enabled; }

 private:
  static bool InRange(int c) { return c >= 0 && c < kChannelCount; }
};

}  // namespace tsm

#endif  // TSM_SCENE_MEM_MATERIAL_H
