// The readers of the parts of a scene file, shared by the loader's source files:
// objects (scene_json_objects.cpp), materials and maps (scene_json_materials.cpp); the
// settings, the nodes and the load itself are in scene_json.cpp.
#ifndef TSM_FORMATS_JSON_SCENE_JSON_PARTS_H
#define TSM_FORMATS_JSON_SCENE_JSON_PARTS_H

#include <string>
#include <unordered_map>

#include "formats/json/json_read.h"
#include "scene/mem_material.h"
#include "scene/mem_scene.h"

namespace tsm {

// Reads one object definition and answers the new object, owned by scene. A top-level
// definition (the "objects" list) may have an id and a name; an inline one may not.
MemObject* ReadObject(const Json& value, const std::string& path, MemScene& scene, bool topLevel);

// Animation (scene_json_controllers.cpp). The node's "transform" controller at path,
// owned by scene; a sub-controller's value without keys defaults to that part of local.
HostController* ReadTransformController(const Json& value, const std::string& path,
                                        const Matrix3& local, MemScene& scene);
// The "fovController" of a camera, the "colorController" of a light and the
// "hotspotController" and "falloffController" of a spot light, when m has them.
void ReadObjectControllers(MemObject& object, const Members& m, MemScene& scene);
// r's {"axis": [x, y, z], "angle": degrees} as an angle in radians and a unit axis,
// normalised in double precision; needAxis is the message when "axis" is missing.
AngAxis ReadAxisAngle(const Members& r, const char* needAxis);
// A rotation at path: {"axis": [x, y, z], "angle": degrees} or {"quat": [x, y, z, w]},
// as a unit quaternion; normalised in double precision.
Quat ReadRotation(const Json& value, const std::string& path);
// A time at path: an integer is a frame number, {"ticks": n} a count of ticks. Answers
// ticks; a frame outside the host's 32-bit time range fails.
TimeValue ReadTime(const Json& value, const std::string& path, int ticksPerFrame);
// frame at ticksPerFrame as ticks; false when outside the host's 32-bit time range.
bool TicksOfFrame(int64_t frame, int ticksPerFrame, TimeValue* ticks);
// axis and an angle in degrees as an angle in radians and a unit axis, normalised in
// double precision; false for an axis of length 0.
bool UnitAxisAngle(const Point3& axis, float degrees, AngAxis* out);
// q normalised in double precision; false for a quaternion of length about 0.
bool UnitQuat(const Quat& q, Quat* out);
// Fails at path when a scale factor is 0; negative factors (mirrors) pass.
void CheckScale(const Point3& s, const std::string& path);

// The materials and maps of one scene file, and the references to them.
class MaterialReader {
 public:
  explicit MaterialReader(MemScene& scene) : scene_(scene) {}

  // Reads the top-level "maps" list (value, at path).
  void ReadMaps(const Json& value, const std::string& path);
  // Reads the top-level "materials" list; its maps must have been read.
  void ReadMaterials(const Json& value, const std::string& path);
  // A material reference (a name or an id), an inline definition, or null for none.
  MemMaterial* MaterialRef(const Json& value, const std::string& path);

 private:
  MemMap* MapRef(const Json& value, const std::string& path);
  void FillMap(MemMap& map, const Json& value, const std::string& path, bool topLevel);
  void FillMaterial(MemMaterial& material, const Json& value, const std::string& path,
                    bool topLevel);
  void ReadChannels(MemMaterial& material, const Json& value, const std::string& path);
  // Fails when multi/sub materials contain each other.
  void CheckMaterialCycles() const;

  MemScene& scene_;
  Registry<MemMap*> maps_{"map"};
  Registry<MemMaterial*> materials_{"material"};
  std::unordered_map<const MemMaterial*, std::string> materialPaths_;  // every material
};

}  // namespace tsm

#endif  // TSM_FORMATS_JSON_SCENE_JSON_PARTS_H
