// The typed fast paths of the JSON scene loader against the general reader: for each
// text, whether the fast path takes the bulk array, and that both loads agree on the
// outcome, the message and the scene (written back as JSON).
#include <gtest/gtest.h>

#include <string>

#include "formats/json/json_bulk.h"
#include "formats/json/json_parse.h"
#include "formats/json/scene_json.h"
#include "formats/json/scene_json_writer.h"
#include "scene/mem_scene.h"

namespace tsm {
namespace {

struct Case {
  const char* members;  // of the scene, after "format" and "version"
  const char* bulk;     // the pointer of the bulk member the case is about
  bool typed;           // the fast path takes it
  bool loads;
};

// Meshes: the vertices and faces change, the rest stays.
#define MESH(payload) \
  R"("objects": [{"type": "mesh", "name": "M", )" payload R"(}], "nodes": [{"name": "N", "object": "M"}])"
// Controllers: a dummy node with a transform.
#define ANIM(transform) R"("nodes": [{"name": "N", "transform": {)" transform "}}]"

const Case kCases[] = {
    {MESH(R"("vertices": [[1, 2, 3], [4.5, -6e2, 0.125]], "faces": [[0, 1, 0]])"),
     "/objects/0/vertices", true, true},
    {MESH(R"("vertices": [ [ -0 ,0.1,1e-50] ,
           [123456789012345678901, -0.0, 3.4028234e38]], "faces": [])"),
     "/objects/0/vertices", true, true},
    {MESH(R"("vertices": [], "faces": [])"), "/objects/0/vertices", true, true},
    {MESH(R"("vertices": [[1, 2]])"), "/objects/0/vertices", false, false},
    {MESH(R"("vertices": [[1, 2, 3, 4]])"), "/objects/0/vertices", false, false},
    {MESH(R"("vertices": [[1, 2, 1e39]])"), "/objects/0/vertices", false, false},
    {MESH(R"("vertices": [[1, 2, "3"]])"), "/objects/0/vertices", false, false},
    {MESH(R"("vertices": [[1, 2, 3],], "faces": [])"), "/objects/0/vertices", false, false},
    {MESH(R"("vertices": [[1, 2, 3]], "faces": [[0, 0, 1]])"), "/objects/0/faces", true, false},
    {MESH(R"("vertices": [[1, 2, 3]], "faces": [[0, 0, 0.0]])"), "/objects/0/faces", false, false},
    {MESH(R"("vertices": [[1, 2, 3]], "faces": [[0, 0, -1]])"), "/objects/0/faces", false, false},
    {MESH(R"("vertices": [[1, 2, 3]], "faces": [{"smoothing": 4294967295, "v": [0, 0, 0],
           "materialId": 65535, "edges": [true, false, true]}, [0, 0, 0]])"),
     "/objects/0/faces", true, true},
    {MESH(R"("vertices": [[1, 2, 3]], "faces": [{"v": [0, 0, 0], "materialId": 65536}])"),
     "/objects/0/faces", false, false},
    {MESH(R"("vertices": [[1, 2, 3]], "faces": [{"v": [0, 0, 0], "v": [0, 0, 0]}])"),
     "/objects/0/faces", false, false},
    {MESH(R"("vertices": [[1, 2, 3]], "faces": [{"v": [0, 0, 0], "comment": "c"}])"),
     "/objects/0/faces", false, true},
    {MESH(R"("vertices": [[1, 2, 3]], "faces": [{"\u0076": [0, 0, 0]}])"), "/objects/0/faces",
     false, true},
    {MESH(R"("vertices": [[1, 2, 3]], "faces": [{"smoothing": 1}])"), "/objects/0/faces", false,
     false},
    {MESH(R"("vertices": [[1, 2, 3]], "faces": [[0, 0, 0]], "uvs": [[0.5, 1], [0, 1, 2]],
           "uvFaces": [[0, 1, 1]])"),
     "/objects/0/uvs", true, true},
    {MESH(R"("vertices": [[1, 2, 3]], "faces": [[0, 0, 0]], "uvs": [[0.5, 1]],
           "uvFaces": [[0, 1, 0]])"),
     "/objects/0/uvFaces", true, false},
    {MESH(R"("vertices": [[1, 2, 3]], "faces": [[0, 0, 0]], "uvs": [[0.5, 1]],
           "uvFaces": [])"),
     "/objects/0/uvFaces", true, false},
    {MESH(R"("vertices": [[1, 2, 3]], "vertexColors": [[1, 0.5, 0]])"),
     "/objects/0/vertexColors", true, true},
    {ANIM(R"("position": {"keys": [{"time": 0, "value": [1, 2, 3], "tension": 0.5,
           "easeFrom": 1}, {"value": [4, 5, 6], "time": 3}], "class": "keyed"})"),
     "/nodes/0/transform/position/keys", true, true},
    {ANIM(R"("position": {"class": "sampled", "keys": [{"time": 0, "value": [1, 2, 3],
           "bias": 0.5}]})"),
     "/nodes/0/transform/position/keys", true, false},
    {ANIM(R"("position": {"class": "keyed", "keys": [{"time": 2, "value": [1, 2, 3]},
           {"time": 2, "value": [1, 2, 3]}]})"),
     "/nodes/0/transform/position/keys", true, false},
    {ANIM(R"("position": {"class": "keyed", "keys": [{"time": {"ticks": 5},
           "value": [1, 2, 3]}]})"),
     "/nodes/0/transform/position/keys", true, true},
    {ANIM(R"("position": {"class": "keyed", "keys": [{"time": {"ticks": 5, "ticks": 6},
           "value": [1, 2, 3]}]})"),
     "/nodes/0/transform/position/keys", false, false},
    {ANIM(R"("position": {"class": "keyed", "keys": [{"time": {}, "value": [1, 2, 3]}]})"),
     "/nodes/0/transform/position/keys", false, false},
    {ANIM(R"("position": {"class": "keyed", "keys": [{"time": {"ticks": 9}, "value": [1, 2, 3]},
           {"time": 0, "value": [1, 2, 3]}]})"),
     "/nodes/0/transform/position/keys", true, false},
    {ANIM(R"("position": {"class": "keyed", "keys": [{"time": 20000000, "value": [1, 2, 3]}]})"),
     "/nodes/0/transform/position/keys", true, false},
    {ANIM(R"("rotation": {"class": "keyed", "keys": [{"time": -1, "value": {"axis": [0, 0, 2],
           "angle": 90}}, {"time": 1, "value": {"angle": 10, "axis": [1, 0, 0]}}]})"),
     "/nodes/0/transform/rotation/keys", true, true},
    {ANIM(R"("rotation": {"class": "keyed", "keys": [{"time": 0, "value": {"quat": [0, 0, 0, 1]}}]})"),
     "/nodes/0/transform/rotation/keys", true, false},
    {ANIM(R"("rotation": {"class": "sampled", "keys": [{"time": 0, "value": {"quat": [0, 0, 1, 1]}},
           {"time": 1, "value": {"axis": [0, 1, 0], "angle": 45}}]})"),
     "/nodes/0/transform/rotation/keys", true, true},
    {ANIM(R"("rotation": {"class": "sampled", "keys": [{"time": 0, "value": {"quat": [0, 0, 0, 0]}}]})"),
     "/nodes/0/transform/rotation/keys", true, false},
    {ANIM(R"("rotation": {"class": "sampled", "keys": [{"time": 0, "value": {"axis": [0, 0, 0],
           "angle": 5}}]})"),
     "/nodes/0/transform/rotation/keys", true, false},
    {ANIM(R"("scale": {"class": "sampled", "keys": [{"time": 0, "value": 2},
           {"time": 1, "value": [1, 2, 3]}]})"),
     "/nodes/0/transform/scale/keys", true, true},
    {ANIM(R"("scale": {"class": "sampled", "keys": [{"time": 0, "value": [1, 0, 3]}]})"),
     "/nodes/0/transform/scale/keys", true, false},
    {ANIM(R"("roll": {"class": "keyed", "keys": [{"time": 0, "value": 30}, {"time": 1,
           "value": [1, 2, 3]}]})"),
     "/nodes/0/transform/roll/keys", true, false},
    {ANIM(R"("roll": {"class": "keyed", "keys": [{"time": 0, "value": 30, "time": 1}]})"),
     "/nodes/0/transform/roll/keys", false, false},
    {ANIM(R"("roll": {"class": "keyed", "keys": [{"time": 0}]})"),
     "/nodes/0/transform/roll/keys", false, false},
    // Numbers of every length and form, spaces anywhere, constant values beside the keys.
    {ANIM(R"("roll": {"class": "keyed", "value": 5, "keys": [{"time": 0,
           "value": 60.000001669652114, "easeTo": 1e-7, "easeFrom": 0.30000001192092896},
           { "time" : 1 , "value" : -0.0 , "bias" : 12345678901234567890 },
           {"time": 2, "value": 2.5E+2, "continuity": -1.17549435e-38, "tension": 7e-46},
           {"time": 3, "value": -0e5, "bias": 0e99999, "easeTo": -0.000e-400, "easeFrom": -0}]})"),
     "/nodes/0/transform/roll/keys", true, true},
    {ANIM(R"("position": {"class": "sampled", "value": [1, 2, 3], "keys": [{"time": 0,
           "value": [0.1, 0.2, 0.3]}, {"time": 1, "value": [1e-320, 3.4028234e38, -9.5]}]})"),
     "/nodes/0/transform/position/keys", true, true},
    {ANIM(R"("position": {"class": "sampled", "keys": [{"time": 0, "value": [1, 2, 3.5e38]}]})"),
     "/nodes/0/transform/position/keys", false, false},
    {ANIM(R"("rotation": {"class": "sampled", "value": {"quat": [0, 0, 1, 1]}, "keys": []},
           "scale": {"class": "keyed", "value": 2, "keys": [{"time": 0, "value": 0.5}]})"),
     "/nodes/0/transform/scale/keys", true, true},
};

std::string Doc(const std::string& members) {
  return R"({"format": "tsm-scene", "version": 1, )" + members + "}";
}

TEST(SceneJsonFastPath, FastAndGeneralReadersAgree) {
  for (const Case& c : kCases) {
    const std::string text = Doc(c.members);
    SCOPED_TRACE(text);
    BulkValues bulk;
    try {
      Json tree = ParseJsonText(text, &bulk);
      EXPECT_EQ(tree.at(Json::json_pointer(c.bulk)).is_binary(), c.typed);
    } catch (const LoadError&) {
      EXPECT_FALSE(c.typed);  // a text that does not parse
    }

    MemScene fast, general;
    LoadResult f = LoadJsonSceneText(text, "t.json", fast, true);
    LoadResult g = LoadJsonSceneText(text, "t.json", general, false);
    EXPECT_EQ(f.ok, c.loads) << f.error;
    EXPECT_EQ(f.ok, g.ok);
    EXPECT_EQ(f.error, g.error);
    if (f.ok && g.ok) {
      std::string fastJson, generalJson;
      ASSERT_TRUE(WriteJsonSceneText(fast, fastJson).ok);
      ASSERT_TRUE(WriteJsonSceneText(general, generalJson).ok);
      EXPECT_EQ(fastJson, generalJson);
    }
  }
}

}  // namespace
}  // namespace tsm
