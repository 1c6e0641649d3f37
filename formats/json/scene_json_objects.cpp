// Object definitions of the scene format: meshes, shapes, cameras, lights, dummies,
// targets and objects of any other family and class.
#include <cfloat>
#include <memory>

#include "formats/json/json_bulk.h"
#include "formats/json/scene_json_parts.h"
#include "scene/mem_objects.h"

namespace tsm {
namespace {

constexpr double kPi = 3.14159265358979323846;

const std::vector<std::string> kObjectTypes = {"mesh",      "shape", "camera", "pointLight",
                                               "spotLight", "dummy", "target", "other"};

std::vector<std::string> AllowedMembers(const std::string& type, bool topLevel) {
  std::vector<std::string> a = {"type", "family", "classId", "convertibleToMesh"};
  if (topLevel) a.insert(a.end(), {"id", "name"});
  if (type == "mesh") a.insert(a.end(), {"vertices", "faces", "uvs", "uvFaces", "vertexColors"});
  if (type == "shape") a.insert(a.end(), {"splines"});
  if (type == "camera") a.insert(a.end(), {"fov", "near", "far", "fovController"});
  if (type == "pointLight" || type == "spotLight")
    a.insert(a.end(), {"on", "color", "intensity", "attenuate", "attenStart", "attenEnd",
                       "castShadows", "colorController"});
  if (type == "spotLight") a.insert(a.end(), {"hotspotController", "falloffController"});
  if (type == "spotLight")
    a.insert(a.end(), {"hotspot", "falloff", "overshoot", "globalShadows", "shadowMapBias",
                       "shadowMapRange", "shadowMapSize", "showCone", "rectangular", "aspect",
                       "rayTraceBias", "rayTracedShadows"});
  if (type == "dummy") a.insert(a.end(), {"box"});
  return a;
}

// An index into a list of count items of the named kind.
int ReadIndex(const Json& value, const std::string& path, size_t count, const char* what) {
  int64_t i = ReadInteger(value, path, 0, INT32_MAX);
  if (static_cast<size_t>(i) >= count)
    Fail(path, "index " + std::to_string(i) + " is out of range: the mesh has " +
                   (count == 0 ? std::string("no ") + what : std::to_string(count) + " " + what));
  return static_cast<int>(i);
}

std::array<int, 3> ReadTriangle(const Json& value, const std::string& path, size_t count,
                                const char* what) {
  if (!value.is_array() || value.size() != 3)
    Fail(path,
         std::string("expected three ") + what + " indices, found " +
             (value.is_array() ? "an array of " + std::to_string(value.size()) : KindOf(value)));
  std::array<int, 3> t{};
  for (size_t k = 0; k < 3; ++k) t[k] = ReadIndex(value[k], ChildPath(path, k), count, what);
  return t;
}

MemFace ReadFace(const Json& value, const std::string& path, size_t vertexCount) {
  MemFace face;
  if (value.is_array()) {
    face.v = ReadTriangle(value, path, vertexCount, "vertices");
    return face;
  }
  Members m(value, path, {"v", "smoothing", "materialId", "edges"});
  face.v = ReadTriangle(m.Need("v", "a face needs its three vertex indices"), m.At("v"),
                        vertexCount, "vertices");
  face.smoothing = static_cast<uint32_t>(m.Integer("smoothing", 0, 0, 0xFFFFFFFFLL));
  face.materialId = static_cast<int>(m.Integer("materialId", 0, 0, 65535));
  if (const Json* e = m.Find("edges")) {
    std::string at = m.At("edges");
    if (!e->is_array() || e->size() != 3)
      Fail(at, "expected three booleans (edges first-second, second-third, third-first)");
    face.edgeVisible = 0;
    for (size_t k = 0; k < 3; ++k)
      if (ReadBool((*e)[k], ChildPath(at, k))) face.edgeVisible |= 1 << k;
  }
  return face;
}

SceneVector<Point3> ReadPoints(const Members& m, const std::string& key, BulkKind kind) {
  SceneVector<Point3> points;
  if (const Json* v = m.Find(key)) {
    if (BulkValues* bulk = CurrentBulk(); bulk != nullptr && bulk->Take(*v, kind, &points))
      return points;
    const Json& list = ReadArray(*v, m.At(key));
    points.reserve(list.size());
    for (size_t i = 0; i < list.size(); ++i)
      points.push_back(ReadPoint3(list[i], ChildPath(m.At(key), i)));
  }
  return points;
}

// Fails when a triangle of typed data names an item at count or beyond.
void CheckBulkTriangles(const SceneVector<std::array<int, 3>>& triangles, size_t count,
                        const std::string& path) {
  for (const std::array<int, 3>& t : triangles)
    for (int k : t)
      if (static_cast<size_t>(k) >= count) FailBulk(path);
}

void ReadMesh(MemMeshObject& mesh, const Members& m) {
  BulkValues* bulk = CurrentBulk();
  mesh.vertices = ReadPoints(m, "vertices", BulkKind::kPoints);
  const Json* faces = m.Find("faces");
  if (faces != nullptr && bulk != nullptr && bulk->Take(*faces, &mesh.faces)) {
    for (const MemFace& f : mesh.faces)
      for (int k : f.v)
        if (static_cast<size_t>(k) >= mesh.vertices.size()) FailBulk(m.At("faces"));
  } else if (const Json* v = faces) {
    const Json& list = ReadArray(*v, m.At("faces"));
    mesh.faces.reserve(list.size());
    for (size_t i = 0; i < list.size(); ++i)
      mesh.faces.push_back(ReadFace(list[i], ChildPath(m.At("faces"), i), mesh.vertices.size()));
  }
  const Json* uvs = m.Find("uvs");
  if (uvs != nullptr &&
      !(bulk != nullptr && bulk->Take(*uvs, BulkKind::kTexPoints, &mesh.texVerts))) {
    const Json* v = uvs;
    const Json& list = ReadArray(*v, m.At("uvs"));
    for (size_t i = 0; i < list.size(); ++i) {
      std::string at = ChildPath(m.At("uvs"), i);
      const Json& uv = list[i];
      if (!uv.is_array() || uv.size() < 2 || uv.size() > 3)
        Fail(at, "expected [u, v] or [u, v, w], found " +
                     (uv.is_array() ? "an array of " + std::to_string(uv.size()) : KindOf(uv)));
      Point3 p(ReadFloat(uv[0], ChildPath(at, size_t(0))), ReadFloat(uv[1], ChildPath(at, 1)),
               0.0f);
      if (uv.size() == 3) p.z = ReadFloat(uv[2], ChildPath(at, 2));
      mesh.texVerts.push_back(p);
    }
  }
  if (const Json* v = m.Find("uvFaces");
      v != nullptr && bulk != nullptr && bulk->Take(*v, &mesh.texFaces)) {
    if (mesh.texFaces.size() != mesh.faces.size()) FailBulk(m.At("uvFaces"));
    CheckBulkTriangles(mesh.texFaces, mesh.texVerts.size(), m.At("uvFaces"));
  } else if (v != nullptr) {
    const Json& list = ReadArray(*v, m.At("uvFaces"));
    if (list.size() != mesh.faces.size())
      Fail(m.At("uvFaces"), "has " + std::to_string(list.size()) + " entries but the mesh has " +
                                std::to_string(mesh.faces.size()) +
                                " faces: one texture face per face is needed");
    for (size_t i = 0; i < list.size(); ++i)
      mesh.texFaces.push_back(ReadTriangle(list[i], ChildPath(m.At("uvFaces"), i),
                                           mesh.texVerts.size(), "texture vertices"));
  }
  mesh.vertexColors = ReadPoints(m, "vertexColors", BulkKind::kPoints);
}

MemKnot ReadKnot(const Json& value, const std::string& path) {
  MemKnot knot;
  if (value.is_array()) {
    knot.point = ReadPoint3(value, path);
    knot.inVec = knot.outVec = knot.point;
    return knot;
  }
  Members m(value, path, {"point", "in", "out"});
  knot.point = ReadPoint3(m.Need("point", "a knot needs its point"), m.At("point"));
  knot.inVec = m.Vec("in", knot.point);
  knot.outVec = m.Vec("out", knot.point);
  return knot;
}

void ReadShape(MemShapeObject& shape, const Members& m) {
  const Json* v = m.Find("splines");
  if (v == nullptr) return;
  const Json& list = ReadArray(*v, m.At("splines"));
  for (size_t i = 0; i < list.size(); ++i) {
    Members s(list[i], ChildPath(m.At("splines"), i), {"closed", "knots"});
    MemSpline spline;
    spline.closed = s.Bool("closed", false);
    if (const Json* k = s.Find("knots")) {
      const Json& knots = ReadArray(*k, s.At("knots"));
      for (size_t j = 0; j < knots.size(); ++j)
        spline.knots.push_back(ReadKnot(knots[j], ChildPath(s.At("knots"), j)));
    }
    shape.splines.push_back(std::move(spline));
  }
}

// An angle in degrees strictly between 0 and 180.
float ReadConeAngle(const Members& m, const std::string& key, float def) {
  const Json* v = m.Find(key);
  if (v == nullptr) return def;
  float deg = ReadFloat(*v, m.At(key));
  if (!(deg > 0.0f && deg < 180.0f))
    Fail(m.At(key), "the angle must be above 0 and below 180 degrees");
  return deg;
}

void ReadCamera(MemCameraObject& camera, const Members& m) {
  float fovDegrees = ReadConeAngle(m, "fov", 45.0f);
  camera.fov = static_cast<float>(fovDegrees * kPi / 180.0);
  camera.nearRange = m.FloatIn("near", camera.nearRange, 0.0, FLT_MAX);
  camera.farRange = m.FloatIn("far", camera.farRange, 0.0, FLT_MAX);
  if (camera.farRange < camera.nearRange)
    Fail(m.Has("far") ? m.At("far") : m.At("near"), "the far range lies below the near range");
}

void ReadLight(MemLightObject& light, const Members& m) {
  light.on = m.Bool("on", light.on);
  light.color = m.Vec("color", light.color);
  light.intensity = m.Float("intensity", light.intensity);
  light.attenuate = m.Bool("attenuate", light.attenuate);
  light.attenStart = m.FloatIn("attenStart", light.attenStart, 0.0, FLT_MAX);
  light.attenEnd = m.FloatIn("attenEnd", light.attenEnd, 0.0, FLT_MAX);
  if (light.attenEnd < light.attenStart)
    Fail(m.Has("attenEnd") ? m.At("attenEnd") : m.At("attenStart"),
         "the attenuation end lies below its start");
  light.castShadows = m.Bool("castShadows", light.castShadows);
  if (!light.IsSpot()) return;
  light.hotspot = ReadConeAngle(m, "hotspot", light.hotspot);
  light.falloff = ReadConeAngle(m, "falloff", light.falloff);
  if (light.falloff < light.hotspot)
    Fail(m.Has("falloff") ? m.At("falloff") : m.At("hotspot"),
         "the falloff cone is narrower than the hotspot");
  light.overshoot = m.Bool("overshoot", light.overshoot);
  light.useGlobalShadows = m.Bool("globalShadows", light.useGlobalShadows);
  light.shadowMapBias = m.Float("shadowMapBias", light.shadowMapBias);
  light.shadowMapRange = m.FloatIn("shadowMapRange", light.shadowMapRange, 0.0, FLT_MAX);
  light.shadowMapSize = static_cast<int>(m.Integer("shadowMapSize", 512, 1, INT32_MAX));
  light.coneDisplayed = m.Bool("showCone", light.coneDisplayed);
  light.rectangular = m.Bool("rectangular", light.rectangular);
  light.aspect = m.FloatIn("aspect", light.aspect, FLT_MIN, FLT_MAX);
  light.rayTraceBias = m.Float("rayTraceBias", light.rayTraceBias);
  light.rayTracedShadows = m.Bool("rayTracedShadows", light.rayTracedShadows);
}

void ReadDummy(MemDummyObject& dummy, const Members& m) {
  const Json* v = m.Find("box");
  if (v == nullptr) return;
  Members b(*v, m.At("box"), {"min", "max"});
  dummy.box.pmin = b.Vec("min", dummy.box.pmin);
  dummy.box.pmax = b.Vec("max", dummy.box.pmax);
  for (int k = 0; k < 3; ++k)
    if (dummy.box.pmin[k] > dummy.box.pmax[k])
      Fail(b.At("max"), "the box's maximum lies below its minimum");
}

}  // namespace

MemObject* ReadObject(const Json& value, const std::string& path, MemScene& scene, bool topLevel) {
  std::string type = ReadType(value, path, "", kObjectTypes);
  if (!topLevel && (value.contains("id") || value.contains("name")))
    Fail(ChildPath(path, value.contains("id") ? "id" : "name"),
         "only objects of the top-level \"objects\" list have an id or a name; define the "
         "object there to share it");
  Members m(value, path, AllowedMembers(type, topLevel));
  if (topLevel && m.Has("name")) m.Text("name", "");

  MemObject* object = nullptr;
  if (type == "mesh") {
    auto mesh = std::make_unique<MemMeshObject>();
    ReadMesh(*mesh, m);
    object = scene.Own(std::move(mesh));
  } else if (type == "shape") {
    auto shape = std::make_unique<MemShapeObject>();
    ReadShape(*shape, m);
    object = scene.Own(std::move(shape));
  } else if (type == "camera") {
    auto camera = std::make_unique<MemCameraObject>();
    ReadCamera(*camera, m);
    object = scene.Own(std::move(camera));
  } else if (type == "pointLight" || type == "spotLight") {
    auto light = std::make_unique<MemLightObject>(type == "spotLight");
    ReadLight(*light, m);
    object = scene.Own(std::move(light));
  } else if (type == "dummy") {
    auto dummy = std::make_unique<MemDummyObject>();
    ReadDummy(*dummy, m);
    object = scene.Own(std::move(dummy));
  } else if (type == "target") {
    object = scene.AddObject(kFamilyHelper, kTargetObjectClass);
  } else {
    m.Need("family", "an object of type \"other\" needs its family code");
    m.Need("classId", "an object of type \"other\" needs its class identity");
    object = scene.AddObject(kFamilyHelper, Class_ID(0, 0));
  }
  object->family = static_cast<int>(m.Integer("family", object->family, INT32_MIN, INT32_MAX));
  if (const Json* c = m.Find("classId")) object->classId = ReadClassId(*c, m.At("classId"));
  object->convertibleToMesh = m.Bool("convertibleToMesh", object->convertibleToMesh);
  ReadObjectControllers(*object, m, scene);
  return object;
}

}  // namespace tsm
