// Material and map definitions of the scene format, and the references to them.
#include <cfloat>
#include <memory>

#include "formats/json/scene_json_parts.h"

namespace tsm {
namespace {

constexpr double kPi = 3.14159265358979323846;

const std::vector<std::string> kMaterialTypes = {"standard", "multi", "other"};
const std::vector<std::string> kMapTypes = {"bitmap", "reflection", "mirror", "other"};

// Members every material can have, whatever its class.
const std::vector<std::string> kCommonMaterialMembers = {
    "ambient", "diffuse", "specular", "shininess", "shininessStrength", "transparency", "wireSize"};

struct NamedChannel {
  const char* name;
  int channel;
};
const NamedChannel kNamedChannels[] = {
    {"diffuse", kChannelDiffuse},      {"specular", kChannelSpecular},
    {"shininess", kChannelShininess},  {"selfIllumination", kChannelSelfIllum},
    {"opacity", kChannelOpacity},      {"bump", kChannelBump},
    {"reflection", kChannelReflection}};

// The channel number a member of "maps" names, or -1.
int ChannelOf(const std::string& key) {
  for (const NamedChannel& c : kNamedChannels)
    if (key == c.name) return c.channel;
  if (key.size() >= 1 && key.size() <= 2 &&
      key.find_first_not_of("0123456789") == std::string::npos &&
      (key.size() == 1 || key[0] != '0')) {
    int n = std::stoi(key);
    if (n < kChannelCount) return n;
  }
  return -1;
}

int ReadShading(const Json& value, const std::string& path) {
  if (value.is_string()) {
    const std::string& s = value.get_ref<const std::string&>();
    if (s == "constant") return 0;
    if (s == "phong") return 1;
    if (s == "metal") return 2;
    Fail(path, "unknown shading " + Quote(s) +
                   "; expected \"constant\", \"phong\", \"metal\" or a mode number");
  }
  return static_cast<int>(ReadInteger(value, path, INT32_MIN, INT32_MAX));
}

int ReadFilter(const Json& value, const std::string& path) {
  std::string s = ReadString(value, path);
  if (s == "pyramidal") return 0;
  if (s == "summedArea") return 1;
  if (s == "none") return 2;
  Fail(path, "unknown filter " + Quote(s) + "; expected \"pyramidal\", \"summedArea\" or \"none\"");
}

int ReadTilingBits(const Json& value, const std::string& path) {
  Members t(value, path, {"repeatU", "repeatV", "mirrorU", "mirrorV"});
  return (t.Bool("repeatU", true) ? 0x1 : 0) | (t.Bool("repeatV", true) ? 0x2 : 0) |
         (t.Bool("mirrorU", false) ? 0x4 : 0) | (t.Bool("mirrorV", false) ? 0x8 : 0);
}

}  // namespace

void MaterialReader::ReadMaps(const Json& value, const std::string& path) {
  const Json& list = ReadArray(value, path);
  for (size_t i = 0; i < list.size(); ++i) {
    std::string at = ChildPath(path, i);
    MemMap* map = scene_.Own(std::make_unique<MemMap>());
    FillMap(*map, list[i], at, true);
    size_t index = maps_.Add(map, at);
    if (list[i].contains("id")) maps_.SetId(index, list[i]["id"], ChildPath(at, "id"));
    if (list[i].contains("name")) maps_.SetName(index, list[i]["name"].get<std::string>());
  }
}

void MaterialReader::FillMap(MemMap& map, const Json& value, const std::string& path,
                             bool topLevel) {
  std::string type = ReadType(value, path, "bitmap", kMapTypes);
  if (!topLevel && (value.contains("id") || value.contains("name")))
    Fail(ChildPath(path, value.contains("id") ? "id" : "name"),
         "only maps of the top-level \"maps\" list have an id or a name; define the map there "
         "to share it");
  std::vector<std::string> allowed = {"type"};
  if (topLevel) allowed.insert(allowed.end(), {"id", "name"});
  if (type == "bitmap")
    allowed.insert(allowed.end(), {"file", "uOffset", "vOffset", "uTiling", "vTiling", "angle",
                                   "blur", "tiling", "inverted", "filter"});
  if (type == "reflection" || type == "mirror")
    allowed.insert(allowed.end(), {"everyNthFrame", "nthFrame"});
  if (type == "reflection") allowed.push_back("size");
  if (type == "other") allowed.push_back("classId");
  Members m(value, path, allowed);
  if (topLevel) m.Text("name", "");

  if (type == "bitmap") {
    map.classId = kBitmapMapClass;
    map.fileName = m.Text("file", "");
    map.uOffset = m.Float("uOffset", map.uOffset);
    map.vOffset = m.Float("vOffset", map.vOffset);
    map.uTiling = m.Float("uTiling", map.uTiling);
    map.vTiling = m.Float("vTiling", map.vTiling);
    if (const Json* a = m.Find("angle"))
      map.rotationAngle = static_cast<float>(ReadFloat(*a, m.At("angle")) * kPi / 180.0);
    map.blur = m.FloatIn("blur", map.blur, 0.0, FLT_MAX);
    if (const Json* t = m.Find("tiling")) map.tilingBits = ReadTilingBits(*t, m.At("tiling"));
    map.outputInverted = m.Bool("inverted", map.outputInverted);
    if (const Json* f = m.Find("filter")) map.filterType = ReadFilter(*f, m.At("filter"));
  } else if (type == "reflection" || type == "mirror") {
    map.classId = type == "reflection" ? kReflectionMapClass : kMirrorMapClass;
    map.everyNthFrame = m.Bool("everyNthFrame", map.everyNthFrame);
    map.nthFrame = static_cast<int>(m.Integer("nthFrame", map.nthFrame, 1, INT32_MAX));
    map.reflectionSize = static_cast<int>(m.Integer("size", map.reflectionSize, 1, INT32_MAX));
  } else {
    map.classId = ReadClassId(m.Need("classId", "a map of type \"other\" needs its class identity"),
                              m.At("classId"));
  }
}

MemMap* MaterialReader::MapRef(const Json& value, const std::string& path) {
  if (value.is_null()) return nullptr;
  if (value.is_object()) {
    MemMap* map = scene_.Own(std::make_unique<MemMap>());
    FillMap(*map, value, path, false);
    return map;
  }
  return maps_[maps_.Resolve(value, path)];
}

void MaterialReader::ReadMaterials(const Json& value, const std::string& path) {
  const Json& list = ReadArray(value, path);
  // Every material exists and is named before any is filled, so that multi/sub
  // materials can refer to materials defined after them.
  for (size_t i = 0; i < list.size(); ++i) {
    std::string at = ChildPath(path, i);
    ReadType(list[i], at, "standard", kMaterialTypes);
    MemMaterial* material = scene_.Own(std::make_unique<MemMaterial>());
    size_t index = materials_.Add(material, at);
    materialPaths_[material] = at;
    if (list[i].contains("id")) materials_.SetId(index, list[i]["id"], ChildPath(at, "id"));
    if (list[i].contains("name"))
      materials_.SetName(index, ReadText(list[i]["name"], ChildPath(at, "name")));
  }
  for (size_t i = 0; i < list.size(); ++i)
    FillMaterial(*materials_[i], list[i], materials_.PathOf(i), true);
  CheckMaterialCycles();
}

MemMaterial* MaterialReader::MaterialRef(const Json& value, const std::string& path) {
  if (value.is_null()) return nullptr;
  if (value.is_object()) {
    MemMaterial* material = scene_.Own(std::make_unique<MemMaterial>());
    materialPaths_[material] = path;
    FillMaterial(*material, value, path, false);
    return material;
  }
  return materials_[materials_.Resolve(value, path)];
}

void MaterialReader::FillMaterial(MemMaterial& material, const Json& value, const std::string& path,
                                  bool topLevel) {
  std::string type = ReadType(value, path, "standard", kMaterialTypes);
  if (!topLevel && value.contains("id"))
    Fail(ChildPath(path, "id"),
         "only materials of the top-level \"materials\" list have an id; define the material "
         "there to share it");
  std::vector<std::string> allowed = {"type", "name"};
  if (topLevel) allowed.push_back("id");
  if (type != "multi")
    allowed.insert(allowed.end(), kCommonMaterialMembers.begin(), kCommonMaterialMembers.end());
  if (type == "standard")
    allowed.insert(allowed.end(),
                   {"shading", "transparencyFalloff", "selfIllumination", "twoSided", "wireframe",
                    "falloffOut", "faceMap", "soften", "wireInUnits", "transparencyType", "maps"});
  if (type == "other") allowed.push_back("classId");
  if (type == "multi") allowed.push_back("subMaterials");
  Members m(value, path, allowed);
  material.name = m.Text("name", "");

  if (type == "multi") {
    material.classId = kMultiMaterialClass;
    if (const Json* subs = m.Find("subMaterials")) {
      const Json& list = ReadArray(*subs, m.At("subMaterials"));
      for (size_t i = 0; i < list.size(); ++i)
        material.subMaterials.push_back(MaterialRef(list[i], ChildPath(m.At("subMaterials"), i)));
    }
    return;
  }
  material.classId = type == "standard"
                         ? kStandardMaterialClass
                         : ReadClassId(m.Need("classId",
                                              "a material of type \"other\" needs its class "
                                              "identity"),
                                       m.At("classId"));
  material.ambient = m.Vec("ambient", material.ambient);
  material.diffuse = m.Vec("diffuse", material.diffuse);
  material.specular = m.Vec("specular", material.specular);
  material.shininess = m.Float("shininess", material.shininess);
  material.shininessStrength = m.Float("shininessStrength", material.shininessStrength);
  material.transparency = m.Float("transparency", material.transparency);
  material.wireSize = m.FloatIn("wireSize", material.wireSize, 0.0, FLT_MAX);
  if (type != "standard") return;

  if (const Json* s = m.Find("shading")) material.shadingMode = ReadShading(*s, m.At("shading"));
  material.transparencyFalloff = m.Float("transparencyFalloff", material.transparencyFalloff);
  material.selfIllumination = m.Float("selfIllumination", material.selfIllumination);
  material.twoSided = m.Bool("twoSided", material.twoSided);
  material.wireframe = m.Bool("wireframe", material.wireframe);
  material.falloffOut = m.Bool("falloffOut", material.falloffOut);
  material.faceMap = m.Bool("faceMap", material.faceMap);
  material.soften = m.Bool("soften", material.soften);
  material.wireInUnits = m.Bool("wireInUnits", material.wireInUnits);
  material.transparencyType = static_cast<int>(
      m.Integer("transparencyType", material.transparencyType, INT32_MIN, INT32_MAX));
  if (const Json* maps = m.Find("maps")) ReadChannels(material, *maps, m.At("maps"));
}

void MaterialReader::ReadChannels(MemMaterial& material, const Json& value,
                                  const std::string& path) {
  if (!value.is_object()) Fail(path, "expected an object, found " + KindOf(value));
  std::string seen[kChannelCount];
  for (auto it = value.begin(); it != value.end(); ++it) {
    const std::string& key = it.key();
    std::string at = ChildPath(path, key);
    if (key == "comment") {
      ReadString(it.value(), at);
      continue;
    }
    int channel = ChannelOf(key);
    if (channel < 0)
      Fail(at,
           "unknown map channel; expected \"diffuse\", \"specular\", \"shininess\", "
           "\"selfIllumination\", \"opacity\", \"bump\", \"reflection\" or a channel number "
           "0 to 11");
    if (!seen[channel].empty())
      Fail(at,
           "channel " + std::to_string(channel) + " is already given as " + Quote(seen[channel]));
    seen[channel] = key;
    Members c(it.value(), at, {"map", "amount", "enabled"});
    MemChannel& slot = material.channels[channel];
    if (const Json* map = c.Find("map")) slot.map = MapRef(*map, c.At("map"));
    slot.amount = c.Float("amount", slot.amount);
    slot.enabled = c.Bool("enabled", slot.enabled);
  }
}

void MaterialReader::CheckMaterialCycles() const {
  // Depth-first over the sub-material links with an explicit stack: long chains of
  // multi/sub materials must not exhaust the call stack.
  enum State { kNew = 0, kOpen, kDone };
  std::unordered_map<const MemMaterial*, State> state;
  struct Frame {
    const MemMaterial* material;
    size_t next;
  };
  for (size_t i = 0; i < materials_.Size(); ++i) {
    std::vector<Frame> stack;
    if (state[materials_[i]] != kNew) continue;
    stack.push_back({materials_[i], 0});
    state[materials_[i]] = kOpen;
    while (!stack.empty()) {
      Frame& top = stack.back();
      if (top.next >= top.material->subMaterials.size()) {
        state[top.material] = kDone;
        stack.pop_back();
        continue;
      }
      size_t slot = top.next++;
      // Every sub-material of a loaded scene is one of our own materials.
      const auto* sub = static_cast<const MemMaterial*>(top.material->subMaterials[slot]);
      if (sub == nullptr) continue;
      State& s = state[sub];
      if (s == kOpen) {
        std::vector<std::string> cycle;
        bool inCycle = false;
        for (const Frame& f : stack) {
          inCycle = inCycle || f.material == sub;
          if (inCycle) cycle.push_back(f.material->name);
        }
        Fail(materialPaths_.at(top.material) + "/subMaterials/" + std::to_string(slot),
             "multi/sub materials contain each other: " + CycleText(cycle));
      }
      if (s == kNew) {
        s = kOpen;
        stack.push_back({sub, 0});
      }
    }
  }
}

}  // namespace tsm
