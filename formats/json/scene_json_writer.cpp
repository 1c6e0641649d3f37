#include "formats/json/scene_json_writer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <unordered_set>
#include <utility>
#include <vector>

#include "formats/json/json_read.h"
#include "io/output_file.h"
#include "scene/mem_controllers.h"
#include "scene/mem_material.h"
#include "scene/mem_objects.h"

namespace tsm {
namespace {

using Json = nlohmann::ordered_json;

constexpr double kPi = 3.14159265358979323846;
const char* const kUnitNames[] = {"inches",      "feet",   "miles",     "millimeters",
                                  "centimeters", "meters", "kilometers"};

struct WriteError : std::runtime_error {
  explicit WriteError(const std::string& what) : std::runtime_error(what) {}
};

// A float as the shortest decimal that reads back as the same float.
Json Num(float f, const std::string& where) {
  if (!std::isfinite(f)) throw WriteError(where + ": a value is not a finite number");
  char buf[32];
  for (int digits = 6; digits <= 9; ++digits) {
    std::snprintf(buf, sizeof buf, "%.*g", digits, double(f));
    if (std::strtof(buf, nullptr) == f) break;
  }
  return Json(std::strtod(buf, nullptr));
}

// An angle held in radians, written in degrees to full precision so that the loader's
// conversion gives the same float back.
Json Degrees(float radians, const std::string& where) {
  if (!std::isfinite(radians)) throw WriteError(where + ": an angle is not a finite number");
  return Json(double(radians) * 180.0 / kPi);
}

Json Vec(const Point3& p, const std::string& where) {
  return Json::array({Num(p.x, where), Num(p.y, where), Num(p.z, where)});
}

Json QuatJson(const Quat& q, const std::string& where) {
  return Json{
      {"quat", Json::array({Num(q.x, where), Num(q.y, where), Num(q.z, where), Num(q.w, where)})}};
}

Json Ticks(TimeValue t) {
  return Json{{"ticks", t}};
}

Json ClassJson(const Class_ID& id) {
  return Json::array({id.PartA(), id.PartB()});
}

bool Scalar(const Json& j) {
  return !j.is_array() && !j.is_object();
}

// Short arrays and objects of scalars stay on one line; the rest is indented.
bool Inline(const Json& j) {
  if (Scalar(j)) return true;
  size_t n = 0;
  for (const auto& item : j.items()) {
    const Json& v = item.value();
    if (!Scalar(v) && !(v.is_array() && v.size() <= 4 && std::all_of(v.begin(), v.end(), Scalar)))
      return false;
    ++n;
  }
  return j.is_array() ? std::all_of(j.begin(), j.end(), Scalar) || n <= 4 : n <= 3;
}

// An indented container of count items at indent: its opening bracket, each item on a
// line of its own after the line's indent (item(i) prints the member's key and value, or
// the element), its closing bracket. Answers false as soon as item does.
template <class Item>
bool PrintBlock(bool array, size_t count, int indent, std::string& out, Item&& item) {
  std::string pad(size_t(indent + 2), ' ');
  out += array ? "[\n" : "{\n";
  for (size_t i = 0; i < count; ++i) {
    if (i > 0) out += ",\n";
    out += pad;
    if (!item(i)) return false;
  }
  out += "\n" + std::string(size_t(indent), ' ') + (array ? "]" : "}");
  return true;
}

void PrintJson(const Json& j, int indent, std::string& out) {
  if (Scalar(j) || j.empty() || Inline(j)) {
    out += j.dump();
    return;
  }
  auto it = j.begin();
  PrintBlock(j.is_array(), j.size(), indent, out, [&](size_t) {
    if (j.is_object()) out += Json(it.key()).dump() + ": ";
    PrintJson(*it++, indent + 2, out);
    return true;
  });
}

class SceneWriter {
 public:
  // With buildObjects, Prepare builds each object (and lets it go) where the nodes first
  // reach it, so that the first problem it finds is the one the file's order meets;
  // without, the objects are built only while printing.
  SceneWriter(const MemScene& scene, bool buildObjects)
      : scene_(scene), buildObjects_(buildObjects) {}
  SceneWriter(const SceneWriter&) = delete;
  SceneWriter& operator=(const SceneWriter&) = delete;
  ~SceneWriter() {
    ReleaseJson(settings_);
    ReleaseJson(maps_);
    ReleaseJson(materials_);
  }

  // Gives every node, object, material and map the scene reaches its id and builds the
  // settings, materials and maps (a scene holds few). Throws WriteError on the first value
  // the format cannot hold.
  void Prepare() {
    settings_ = Settings();
    std::vector<const MemNode*> stack(scene_.Root()->children.rbegin(),
                                      scene_.Root()->children.rend());
    while (!stack.empty()) {
      const MemNode* n = stack.back();
      stack.pop_back();
      nodeIds_[n] = int(order_.size());
      order_.push_back(n);
      stack.insert(stack.end(), n->children.rbegin(), n->children.rend());
    }
    for (const auto& n : scene_.Nodes())
      if (n->lookAt != nullptr) lookedAt_.insert(n->lookAt);
    // Nodes first, so that every object, material and map they reach gets its id.
    for (const MemNode* n : order_) {
      Json j = Node(*n);
      JsonRelease release(j);
    }
  }

  // Prints the prepared scene into out as the whole document would print (the settings,
  // maps, materials, objects, nodes), an object or node at a time. After each, flush (when
  // given) may take what out holds; it answers false when it cannot, which ends the print
  // (answered false then). Throws WriteError like Prepare.
  bool Print(std::string& out, const std::function<bool(std::string&)>& flush) {
    // An array of objects built one at a time: never on one line, and [] when empty.
    auto items = [&](size_t count, const std::function<Json(size_t)>& item) {
      if (count == 0) {
        out += "[]";
        return true;
      }
      return PrintBlock(true, count, 2, out, [&](size_t i) {
        Json j = item(i);
        JsonRelease release(j);
        PrintJson(j, 4, out);
        return !flush || out.size() < kFlushBytes || flush(out);
      });
    };
    const char* const keys[] = {"format",    "version", "settings", "maps",
                                "materials", "objects", "nodes"};
    bool ok = PrintBlock(false, 7, 0, out, [&](size_t i) {
      out += Json(keys[i]).dump() + ": ";
      switch (i) {
        case 0:
          out += "\"tsm-scene\"";
          return true;
        case 1:
          out += "1";
          return true;
        case 2:
          PrintJson(settings_, 2, out);
          return true;
        case 3:
          PrintJson(maps_, 2, out);
          return true;
        case 4:
          PrintJson(materials_, 2, out);
          return true;
        case 5:
          return items(objectOrder_.size(), [&](size_t k) {
            return ObjectJson(objectOrder_[k].first, int(k), objectOrder_[k].second);
          });
        default:
          return items(order_.size(), [&](size_t k) { return Node(*order_[k]); });
      }
    });
    if (!ok) return false;
    out += "\n";
    return !flush || flush(out);
  }

 private:
  Json Settings() {
    Json s;
    s["ticksPerFrame"] = scene_.ticksPerFrame;
    s["animationRange"] =
        Json::array({Ticks(scene_.animationRange.Start()), Ticks(scene_.animationRange.End())});
    s["currentTime"] = Ticks(scene_.currentTime);
    if (scene_.masterUnitType < 0 || scene_.masterUnitType > 6)
      throw WriteError("settings: unknown master unit type " +
                       std::to_string(scene_.masterUnitType));
    if (!std::isfinite(scene_.masterUnitScale))
      throw WriteError("settings: the master unit scale is not a finite number");
    s["masterUnit"] = {{"type", kUnitNames[scene_.masterUnitType]},
                       {"scale", scene_.masterUnitScale}};
    s["gamma"] = {{"enabled", scene_.gammaEnabled}, {"value", Num(scene_.gamma, "settings")}};
    return s;
  }

  int NodeId(const MemNode* n, const std::string& where) {
    auto it = nodeIds_.find(n);
    if (it == nodeIds_.end()) throw WriteError(where + ": links to a node outside the scene");
    return it->second;
  }

  Json Node(const MemNode& n) {
    std::string at = "node \"" + n.name + "\"";
    Json j;
    j["id"] = nodeIds_[&n];
    j["name"] = n.name;
    if (n.parent != scene_.Root()) j["parent"] = NodeId(n.parent, at);
    if (!(n.local == Matrix3())) {
      Json rows = Json::array();
      for (int r = 0; r < 4; ++r) rows.push_back(Vec(n.local.GetRow(r), at));
      j["matrix"] = std::move(rows);
    }
    j["object"] = n.object == nullptr ? Json(nullptr) : Json(ObjectId(n.object, at));
    if (n.material != nullptr) j["material"] = MaterialId(n.material, at);
    if (!n.meshAccepted) j["meshAccepted"] = false;
    if (n.lookAt != nullptr) j["lookAt"] = NodeId(n.lookAt, at);
    if (n.isTarget && lookedAt_.count(&n) == 0) j["target"] = true;
    if (!n.extraDependents.empty()) {
      Json deps = Json::array();
      for (HostDependent* d : n.extraDependents) {
        if (auto* node = dynamic_cast<const MemNode*>(d)) {
          deps.push_back(NodeId(node, at));
        } else if (auto* other = dynamic_cast<const MemDependent*>(d)) {
          auto* look = dynamic_cast<const MemNode*>(other->lookAt);
          if (other->lookAt != nullptr && look == nullptr)
            throw WriteError(at + ": a dependent looks at something that is not a node");
          deps.push_back({{"family", other->family},
                          {"lookAt", look == nullptr ? Json(nullptr) : Json(NodeId(look, at))}});
        } else {
          throw WriteError(at + ": a dependent of a kind the format does not know");
        }
      }
      j["dependents"] = std::move(deps);
    }
    if (!n.propertyText.empty()) j["properties"] = n.propertyText;
    bool locked = false;
    Json locks = Json::array();
    for (int g = 0; g < 3; ++g) {
      Json group = Json::array();
      for (int a = 0; a < 3; ++a) {
        group.push_back(n.transformLocked[g][a]);
        locked = locked || n.transformLocked[g][a];
      }
      locks.push_back(std::move(group));
    }
    if (locked) j["locks"] = std::move(locks);
    if (n.nodeQuery96) j["nodeQuery96"] = true;
    if (n.objectOffsetPos != Point3() || !(n.objectOffsetRot == Quat()) ||
        n.objectOffsetScale != Point3(1, 1, 1))
      j["objectOffset"] = {{"position", Vec(n.objectOffsetPos, at)},
                           {"rotation", QuatJson(n.objectOffsetRot, at)},
                           {"scale", Vec(n.objectOffsetScale, at)}};
    if (n.transform != nullptr) j["transform"] = Transform(n.transform, at);
    return j;
  }

  // ---- animation ----

  Json Transform(HostController* c, const std::string& at) {
    auto* tc = dynamic_cast<MemTransformController*>(c);
    if (tc == nullptr) throw WriteError(at + ": a transform controller the format does not know");
    Json j = Json::object();
    if (tc->position != nullptr) j["position"] = Controller(tc->position, at + " position");
    if (tc->rotation != nullptr) j["rotation"] = Controller(tc->rotation, at + " rotation");
    if (tc->scale != nullptr) j["scale"] = Controller(tc->scale, at + " scale");
    if (tc->roll != nullptr) j["roll"] = Controller(tc->roll, at + " roll", FloatUnit::RADIANS);
    return j;
  }

  // How a FLOAT controller's values are written.
  enum class FloatUnit {
    PLAIN,
    RADIANS,       // an angle held in radians, written in degrees (the roll)
    CONE_RADIANS,  // the same, and it must lie strictly between 0 and 180 degrees (field of view)
    CONE_DEGREES,  // an angle held in degrees strictly between 0 and 180 (hotspot, falloff)
  };

  static Json FloatValue(float f, FloatUnit unit, const std::string& at) {
    if (unit == FloatUnit::PLAIN) return Num(f, at);
    Json j = unit == FloatUnit::CONE_DEGREES ? Num(f, at) : Degrees(f, at);
    if (unit != FloatUnit::RADIANS) {
      float degrees = static_cast<float>(j.get<double>());  // as the loader reads it
      if (!(degrees > 0.0f && degrees < 180.0f))
        throw WriteError(at + ": an angle of " + std::to_string(degrees) +
                         " degrees; it must lie above 0 and below 180");
    }
    return j;
  }

  // An object's animated parameter (a field of view, a light's colour or cone).
  void ObjectController(HostController* c, const char* key, Json& j, const std::string& at,
                        FloatUnit unit = FloatUnit::PLAIN) {
    if (c != nullptr) j[key] = Controller(c, at + " " + key, unit);
  }

  Json Controller(HostController* hc, const std::string& at, FloatUnit unit = FloatUnit::PLAIN) {
    auto* mc = dynamic_cast<MemController*>(hc);
    if (mc == nullptr) throw WriteError(at + ": a controller the format does not know");
    const MemController& c = *mc;
    bool keyed = c.KeyBearing();
    Json j;
    j["class"] = keyed ? "keyed" : "sampled";
    switch (c.kind) {
      case ControlKind::FLOAT:
        j["value"] = FloatValue(c.constF, unit, at);
        break;
      case ControlKind::POSITION:
      case ControlKind::POINT3:
        j["value"] = Vec(c.constP, at);
        break;
      case ControlKind::ROTATION:
        j["value"] = QuatJson(c.constQ, at);
        break;
      case ControlKind::SCALE:
        j["value"] = Vec(c.constS, at);
        break;
    }
    Json keys = Json::array();
    JsonRelease releaseKeys(keys);
    for (const MemKey& k : c.keys) {
      Json key;
      key["time"] = Ticks(k.time);
      switch (c.kind) {
        case ControlKind::FLOAT:
          key["value"] = FloatValue(k.f, unit, at);
          break;
        case ControlKind::POSITION:
        case ControlKind::POINT3:
        case ControlKind::SCALE:
          key["value"] = Vec(k.p, at);
          break;
        case ControlKind::ROTATION:
          key["value"] =
              keyed ? Json{{"axis", Vec(k.aa.axis, at)}, {"angle", Degrees(k.aa.angle, at)}}
                    : QuatJson(k.q, at);
          break;
      }
      if (keyed) {
        key["tension"] = Num(k.tens, at);
        key["continuity"] = Num(k.cont, at);
        key["bias"] = Num(k.bias, at);
        key["easeTo"] = Num(k.easeIn, at);
        key["easeFrom"] = Num(k.easeOut, at);
      }
      keys.push_back(std::move(key));
    }
    j["keys"] = std::move(keys);
    return j;
  }

  // ---- objects ----

  int ObjectId(MemObject* o, const std::string& at) {
    auto it = objectIds_.find(o);
    if (it != objectIds_.end()) return it->second;
    int id = int(objectIds_.size());
    objectIds_[o] = id;
    objectOrder_.emplace_back(o, at);
    if (buildObjects_) {
      Json j = ObjectJson(o, id, at);
      JsonRelease release(j);
    }
    return id;
  }

  Json ObjectJson(MemObject* o, int id, const std::string& at) {
    Json j;
    j["id"] = id;
    Json base;  // the family, class and convertibility the type gives
    if (auto* mesh = dynamic_cast<MemMeshObject*>(o)) {
      j["type"] = "mesh";
      Mesh(*mesh, j, at);
      MemMeshObject def;
      Identity(*o, def, j);
    } else if (auto* shape = dynamic_cast<MemShapeObject*>(o)) {
      j["type"] = "shape";
      Json splines = Json::array();
      for (const MemSpline& s : shape->splines) {
        Json knots = Json::array();
        for (const MemKnot& k : s.knots)
          knots.push_back(
              {{"point", Vec(k.point, at)}, {"in", Vec(k.inVec, at)}, {"out", Vec(k.outVec, at)}});
        splines.push_back({{"closed", s.closed}, {"knots", std::move(knots)}});
      }
      j["splines"] = std::move(splines);
      MemShapeObject def;
      Identity(*o, def, j);
    } else if (auto* cam = dynamic_cast<MemCameraObject*>(o)) {
      j["type"] = "camera";
      j["fov"] = Degrees(cam->fov, at);
      j["near"] = Num(cam->nearRange, at);
      j["far"] = Num(cam->farRange, at);
      ObjectController(cam->fovController, "fovController", j, at, FloatUnit::CONE_RADIANS);
      MemCameraObject def;
      Identity(*o, def, j);
    } else if (auto* light = dynamic_cast<MemLightObject*>(o)) {
      Light(*light, j, at);
    } else if (auto* dummy = dynamic_cast<MemDummyObject*>(o)) {
      j["type"] = "dummy";
      j["box"] = {{"min", Vec(dummy->box.pmin, at)}, {"max", Vec(dummy->box.pmax, at)}};
      MemDummyObject def;
      Identity(*o, def, j);
    } else if (o->family == kFamilyHelper && o->classId == kTargetObjectClass &&
               !o->convertibleToMesh) {
      j["type"] = "target";
    } else {
      j["type"] = "other";
      j["family"] = o->family;
      j["classId"] = ClassJson(o->classId);
      if (o->convertibleToMesh) j["convertibleToMesh"] = true;
    }
    return j;
  }

  // Family, class and convertibility where they differ from the type's.
  static void Identity(const MemObject& o, const MemObject& type, Json& j) {
    if (o.family != type.family) j["family"] = o.family;
    if (o.classId != type.classId) j["classId"] = ClassJson(o.classId);
    if (o.convertibleToMesh != type.convertibleToMesh) j["convertibleToMesh"] = o.convertibleToMesh;
  }

  void Mesh(const MemMeshObject& m, Json& j, const std::string& at) {
    Json verts = Json::array();
    for (const Point3& p : m.vertices) verts.push_back(Vec(p, at));
    Json faces = Json::array();
    for (const MemFace& f : m.faces) {
      Json v = Json::array({f.v[0], f.v[1], f.v[2]});
      if (f.smoothing == 0 && f.materialId == 0 && f.edgeVisible == 7) {
        faces.push_back(std::move(v));
        continue;
      }
      Json face{{"v", std::move(v)}};
      if (f.smoothing != 0) face["smoothing"] = f.smoothing;
      if (f.materialId != 0) face["materialId"] = f.materialId;
      if (f.edgeVisible != 7)
        face["edges"] = Json::array(
            {(f.edgeVisible & 1) != 0, (f.edgeVisible & 2) != 0, (f.edgeVisible & 4) != 0});
      faces.push_back(std::move(face));
    }
    j["vertices"] = std::move(verts);
    j["faces"] = std::move(faces);
    if (!m.texVerts.empty()) {
      Json uvs = Json::array();
      for (const Point3& t : m.texVerts)
        uvs.push_back(t.z == 0.0f && !std::signbit(t.z) ? Json::array({Num(t.x, at), Num(t.y, at)})
                                                        : Vec(t, at));
      j["uvs"] = std::move(uvs);
    }
    if (!m.texFaces.empty()) {
      Json tf = Json::array();
      for (const auto& t : m.texFaces) tf.push_back(Json::array({t[0], t[1], t[2]}));
      j["uvFaces"] = std::move(tf);
    }
    if (!m.vertexColors.empty()) {
      Json colors = Json::array();
      for (const Point3& c : m.vertexColors) colors.push_back(Vec(c, at));
      j["vertexColors"] = std::move(colors);
    }
  }

  void Light(const MemLightObject& l, Json& j, const std::string& at) {
    bool spot = l.IsSpot();
    j["type"] = spot ? "spotLight" : "pointLight";
    j["on"] = l.on;
    j["color"] = Vec(l.color, at);
    j["intensity"] = Num(l.intensity, at);
    j["attenuate"] = l.attenuate;
    j["attenStart"] = Num(l.attenStart, at);
    j["attenEnd"] = Num(l.attenEnd, at);
    j["castShadows"] = l.castShadows;
    if (spot) {
      j["hotspot"] = Num(l.hotspot, at);
      j["falloff"] = Num(l.falloff, at);
      j["overshoot"] = l.overshoot;
      j["globalShadows"] = l.useGlobalShadows;
      j["shadowMapBias"] = Num(l.shadowMapBias, at);
      j["shadowMapRange"] = Num(l.shadowMapRange, at);
      j["shadowMapSize"] = l.shadowMapSize;
      j["showCone"] = l.coneDisplayed;
      j["rectangular"] = l.rectangular;
      j["aspect"] = Num(l.aspect, at);
      j["rayTraceBias"] = Num(l.rayTraceBias, at);
      j["rayTracedShadows"] = l.rayTracedShadows;
    }
    ObjectController(l.colorController, "colorController", j, at);
    // A point light has no cone: its cone controllers, if any, have no place in the file.
    if (spot) {
      ObjectController(l.hotspotController, "hotspotController", j, at, FloatUnit::CONE_DEGREES);
      ObjectController(l.falloffController, "falloffController", j, at, FloatUnit::CONE_DEGREES);
    }
  }

  // ---- materials and maps ----

  int MaterialId(HostMaterial* hm, const std::string& at) {
    auto it = materialIds_.find(hm);
    if (it != materialIds_.end()) return it->second;
    auto* m = dynamic_cast<MemMaterial*>(hm);
    if (m == nullptr) throw WriteError(at + ": a material the in-memory scene did not make");
    int id = int(materialIds_.size());
    materialIds_[hm] = id;
    size_t slot = materials_.size();
    materials_.push_back(Json());  // its place; sub-materials follow it
    std::string mat = "material \"" + m->name + "\"";
    Json j;
    j["id"] = id;
    j["name"] = m->name;
    if (m->classId == kMultiMaterialClass) {
      j["type"] = "multi";
      Json subs = Json::array();
      for (HostMaterial* s : m->subMaterials)
        subs.push_back(s == nullptr ? Json(nullptr) : Json(MaterialId(s, mat)));
      j["subMaterials"] = std::move(subs);
      materials_[slot] = std::move(j);
      return id;
    }
    bool standard = m->classId == kStandardMaterialClass;
    j["type"] = standard ? "standard" : "other";
    if (!standard) j["classId"] = ClassJson(m->classId);
    j["ambient"] = Vec(m->ambient, mat);
    j["diffuse"] = Vec(m->diffuse, mat);
    j["specular"] = Vec(m->specular, mat);
    j["shininess"] = Num(m->shininess, mat);
    j["shininessStrength"] = Num(m->shininessStrength, mat);
    j["transparency"] = Num(m->transparency, mat);
    j["wireSize"] = Num(m->wireSize, mat);
    if (standard) {
      j["shading"] = m->shadingMode;
      j["transparencyFalloff"] = Num(m->transparencyFalloff, mat);
      j["selfIllumination"] = Num(m->selfIllumination, mat);
      j["twoSided"] = m->twoSided;
      j["wireframe"] = m->wireframe;
      j["falloffOut"] = m->falloffOut;
      j["faceMap"] = m->faceMap;
      j["soften"] = m->soften;
      j["wireInUnits"] = m->wireInUnits;
      j["transparencyType"] = m->transparencyType;
      Json maps = Json::object();
      for (int c = 0; c < kChannelCount; ++c) {
        const MemChannel& ch = m->channels[c];
        if (ch.map == nullptr && ch.amount == 1.0f && ch.enabled) continue;
        Json cj;
        cj["map"] = ch.map == nullptr ? Json(nullptr) : Json(MapId(ch.map, mat));
        cj["amount"] = Num(ch.amount, mat);
        cj["enabled"] = ch.enabled;
        maps[ChannelName(c)] = std::move(cj);
      }
      if (!maps.empty()) j["maps"] = std::move(maps);
    }
    materials_[slot] = std::move(j);
    return id;
  }

  static std::string ChannelName(int c) {
    switch (c) {
      case kChannelDiffuse:
        return "diffuse";
      case kChannelSpecular:
        return "specular";
      case kChannelShininess:
        return "shininess";
      case kChannelSelfIllum:
        return "selfIllumination";
      case kChannelOpacity:
        return "opacity";
      case kChannelBump:
        return "bump";
      case kChannelReflection:
        return "reflection";
      default:
        return std::to_string(c);
    }
  }

  int MapId(HostMap* hm, const std::string& at) {
    auto it = mapIds_.find(hm);
    if (it != mapIds_.end()) return it->second;
    auto* m = dynamic_cast<MemMap*>(hm);
    if (m == nullptr) throw WriteError(at + ": a map the in-memory scene did not make");
    int id = int(mapIds_.size());
    mapIds_[hm] = id;
    Json j;
    j["id"] = id;
    if (m->classId == kBitmapMapClass) {
      j["type"] = "bitmap";
      j["file"] = m->fileName;
      j["uOffset"] = Num(m->uOffset, at);
      j["vOffset"] = Num(m->vOffset, at);
      j["uTiling"] = Num(m->uTiling, at);
      j["vTiling"] = Num(m->vTiling, at);
      j["angle"] = Degrees(m->rotationAngle, at);
      j["blur"] = Num(m->blur, at);
      j["tiling"] = {{"repeatU", (m->tilingBits & 1) != 0},
                     {"repeatV", (m->tilingBits & 2) != 0},
                     {"mirrorU", (m->tilingBits & 4) != 0},
                     {"mirrorV", (m->tilingBits & 8) != 0}};
      j["inverted"] = m->outputInverted;
      static const char* const kFilters[] = {"pyramidal", "summedArea", "none"};
      if (m->filterType < 0 || m->filterType > 2)
        throw WriteError(at + ": unknown map filter " + std::to_string(m->filterType));
      j["filter"] = kFilters[m->filterType];
    } else if (m->classId == kReflectionMapClass || m->classId == kMirrorMapClass) {
      j["type"] = m->classId == kReflectionMapClass ? "reflection" : "mirror";
      j["everyNthFrame"] = m->everyNthFrame;
      j["nthFrame"] = m->nthFrame;
      if (m->classId == kReflectionMapClass) j["size"] = m->reflectionSize;
    } else {
      j["type"] = "other";
      j["classId"] = ClassJson(m->classId);
    }
    maps_.push_back(std::move(j));
    return id;
  }

  // What Print gathers before it hands the text on.
  static constexpr size_t kFlushBytes = size_t(1) << 20;

  const MemScene& scene_;
  const bool buildObjects_;
  std::vector<const MemNode*> order_;  // the nodes in the file's order
  std::unordered_set<const MemNode*> lookedAt_;
  std::map<const MemNode*, int> nodeIds_;
  std::map<const MemObject*, int> objectIds_;
  std::vector<std::pair<MemObject*, std::string>> objectOrder_;  // by id, where first reached
  std::map<const HostMaterial*, int> materialIds_;
  std::map<const HostMap*, int> mapIds_;
  Json settings_;
  Json maps_ = Json::array();
  Json materials_ = Json::array();
};

// Writes scene as text, handed a piece at a time to flush (or all left in text when
// flush is empty). A problem with a value goes back as the one the file's order meets
// first.
WriteResult WriteText(const MemScene& scene, std::string& text,
                      const std::function<bool(std::string&)>& flush, bool* flushFailed) {
  WriteResult result;
  try {
    try {
      SceneWriter writer(scene, false);
      writer.Prepare();
      text.clear();
      if (writer.Print(text, flush)) {
        result.ok = true;
      } else {
        *flushFailed = true;
      }
    } catch (const WriteError& e) {
      // The objects were built after the nodes: the first problem in the file's order may
      // be another one.
      result.error = e.what();
      SceneWriter check(scene, true);
      check.Prepare();
    }
  } catch (const WriteError& e) {
    result.error = e.what();
  } catch (const std::bad_alloc&) {
    result.error = "out of memory; nothing was written";
    result.outOfMemory = true;
  } catch (const std::exception& e) {
    result.error = std::string("the scene could not be written: ") + e.what();
  }
  return result;
}

}  // namespace

WriteResult WriteJsonSceneText(const MemScene& scene, std::string& text) {
  bool unused = false;
  return WriteText(scene, text, nullptr, &unused);
}

WriteResult WriteJsonScene(const MemScene& scene, const std::string& path) {
  WriteResult result;
  OutputResult written = WriteOutputFile(path, [&](OutStream& out, std::string* why) {
    std::string text;
    bool flushFailed = false;
    result = WriteText(
        scene, text,
        [&out](std::string& piece) {
          bool ok = out.Write(piece.data(), piece.size()) == piece.size();
          piece.clear();
          return ok;
        },
        &flushFailed);
    if (!result.ok && !flushFailed) *why = result.error;  // else the stream says why
    return result.ok;
  });
  result.ok = written.ok;
  result.error = written.message;
  return result;
}

}  // namespace tsm
