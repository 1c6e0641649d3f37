// The drawable content of a chunk file: every mesh with its faces and face colours, held
// once, and every node that places one (each instance of a shared mesh apart), the
// lights, cameras and shapes, and the nodes with their position tracks. Taken from the
// scene that the file's loader (formats/tsm) rebuilds, so the file is read by one
// reader; nothing here draws.
#ifndef TSM_VIEW_SCENE_VIEW_H
#define TSM_VIEW_SCENE_VIEW_H

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "host/geometry.h"

namespace tsm {

struct Vec3 {
  double x = 0.0, y = 0.0, z = 0.0;
};

// A colour as three floats, nominally 0..1.
struct ColorF {
  float r = 0.0f, g = 0.0f, b = 0.0f;
};

// A material as the preview needs it.
struct ViewMaterial {
  std::string name;
  ColorF diffuse{0.7f, 0.7f, 0.7f};  // from MATERIAL_DIFFUSE; grey when the block has none
  bool twoSided = false;             // MATERIAL_TWO_SIDED: back faces are drawn too
};

struct ViewFace {
  uint16_t v[3] = {0, 0, 0};  // vertex indices as written
  int material = -1;          // index into ViewScene::materials; -1: no material (grey)
};

// A run of elements that the scene holds in its blocks.
template <class T>
struct ViewRun {
  const T* first = nullptr;
  size_t count = 0;
  const T* begin() const { return first; }
  const T* end() const { return first + count; }
  size_t size() const { return count; }
  const T& operator[](size_t i) const { return first[i]; }
};

// A mesh as the preview draws it, held once however many nodes place it (a chunk file
// gives the face materials with the mesh): its vertices in its own space and its faces
// with their colours.
struct ViewMesh {
  ViewRun<Point3> vertices;  // object space
  ViewRun<ViewFace> faces;
};

// A mesh placed by one node.
struct ViewInstance {
  int mesh = -1;      // index into ViewScene::meshes
  int node = -1;      // index into ViewScene::nodes of the node that places it
  Matrix3 placement;  // object space to world space, as the writers place the node's mesh
};

struct ViewLight {
  std::string name;
  Vec3 position;
  ColorF color{1.0f, 1.0f, 1.0f};
  float multiplier = 1.0f;  // LIGHT_MULTIPLIER
  bool off = false;         // LIGHT_OFF
  bool spot = false;        // has SPOT_LIGHT
  Vec3 target;              // spot lights: where the spot points
};

struct ViewCamera {
  std::string name;
  Vec3 position;
  Vec3 target;
  float lens = 0.0f;  // 2400 / field of view in degrees
};

struct ViewShape {
  std::string name;
  std::vector<Vec3> points;  // world space, in the order written
};

// One key of a position track.
// A key as the file holds it: single-precision, so that a long track takes less room
// than the file gave it.
struct PositionKey {
  int32_t frame = 0;
  float x = 0.0f, y = 0.0f, z = 0.0f;
};

// A node of the scene.
struct ViewNode {
  int id = -1;                        // its index in ViewScene::nodes
  int parent = -1;                    // parent's id; -1 for none
  std::vector<PositionKey> position;  // the position track's keys; empty: no track, or one
                                      // key of finite values (no change at any frame)
};

struct ViewScene {
  ViewScene() = default;
  ViewScene(ViewScene&&) = default;
  ViewScene& operator=(ViewScene&&) = default;
  // The meshes' runs point into the blocks of the scene they were read into.
  ViewScene(const ViewScene&) = delete;
  ViewScene& operator=(const ViewScene&) = delete;

  std::vector<ViewMaterial> materials;  // in file order
  std::deque<ViewMesh> meshes;
  // What the meshes' vertices and faces are held in: blocks that many small meshes share
  // (a mesh each costs no allocation of its own) and that never move.
  std::deque<std::vector<Point3>> vertexBlocks;
  std::deque<std::vector<ViewFace>> faceBlocks;
  // Every mesh node, in the file's order. A file holds many of these and of the nodes: a
  // deque grows without a second copy of what it holds.
  std::deque<ViewInstance> instances;
  std::vector<ViewLight> lights;
  std::vector<ViewCamera> cameras;
  std::vector<ViewShape> shapes;
  std::deque<ViewNode> nodes;   // every node, parents before children
  std::vector<Vec3> moves;      // by node: what ApplyPositionTracks moved it by; empty: none
  int64_t currentTime = 0;      // KF_CURRENT_TIME, ticks

  // True when there is nothing to draw.
  bool Empty() const {
    return instances.empty() && lights.empty() && cameras.empty() && shapes.empty();
  }
};

// Reads data[0, size) into *scene through the file's loader. Answers false with the chunk
// reader's message in *error ("offset N: ...") when the file is not a sound chunk file,
// or the loader's message when its scene cannot be rebuilt; the loader's notices go to
// notices when given (a face naming a vertex the mesh does not have is left out).
bool ReadViewScene(const uint8_t* data, size_t size, ViewScene* scene, std::string* error,
                   std::vector<std::string>* notices = nullptr);

// The world-space vertices of one instance of scene, in the mesh's order, into *out;
// answers the instance's mesh, or null (and no vertices) when it names none.
const ViewMesh* InstanceVertices(const ViewScene& scene, const ViewInstance& instance,
                                 std::vector<Vec3>* out);

// Moves every mesh instance by the change of its node's position track between the file's
// current time and frame (a frame number). A child node moves with its parents' changes
// as well. The file holds its current time in ticks; it is turned into a frame with the
// host's usual 160 ticks per frame. Between keys the position is interpolated linearly;
// before the first and after the last key it is that key's value. A later call replaces
// the change of an earlier one.
void ApplyPositionTracks(ViewScene* scene, int32_t frame);

// The position of a track at frame (see ApplyPositionTracks); (0, 0, 0) without keys.
Vec3 PositionAt(const std::vector<PositionKey>& keys, double frame);

}  // namespace tsm

#endif  // TSM_VIEW_SCENE_VIEW_H
