// Materials and maps for tests, owned by an in-memory scene.
#ifndef TSM_TESTS_MATERIAL_BUILDERS_H
#define TSM_TESTS_MATERIAL_BUILDERS_H

#include <memory>
#include <string>

#include "scene/mem_material.h"
#include "scene/mem_scene.h"

namespace tsm {

// A material named name of class cls, owned by scene.
inline MemMaterial* NewMaterial(MemScene& scene, const std::string& name,
                                Class_ID cls = kStandardMaterialClass) {
  auto m = std::make_unique<MemMaterial>();
  m->name = name;
  m->classId = cls;
  return scene.Own(std::move(m));
}

// A map of class cls with the file path, owned by scene.
inline MemMap* NewMap(MemScene& scene, Class_ID cls = kBitmapMapClass,
                      const std::string& path = "brick.bmp") {
  auto map = std::make_unique<MemMap>();
  map->classId = cls;
  map->fileName = path;
  return scene.Own(std::move(map));
}

}  // namespace tsm

#endif  // TSM_TESTS_MATERIAL_BUILDERS_H
