// Our stand-in of the host's mesh library: a triangle mesh as the host holds it, and the
// Bezier shape whose knots the shape writer reads. Plain data; the scene object that
// answers them owns them.
#ifndef TSM_HOST_MESH_H
#define TSM_HOST_MESH_H

#include <cstdint>
#include <vector>

#include "host/geometry.h"

// One triangle of a host mesh.
struct Face {
  uint32_t v[3] = {0, 0, 0};  // vertex indices
  uint32_t smGroup = 0;       // smoothing-group bits; 0: in no group
  // Bits 0, 1, 2: the edges first->second, second->third, third->first are visible;
  // bits 16..31: the face's material id.
  uint32_t flags = 0;

  int getMatID() const { return static_cast<int>(flags >> 16); }
  void setMatID(int id) { flags = (flags & 0xFFFFu) | (static_cast<uint32_t>(id) << 16); }
};

// The texture-vertex indices of one face's three corners.
struct TVFace {
  uint32_t t[3] = {0, 0, 0};
};

// A host triangle mesh. An empty texture-vertex, texture-face or vertex-colour array is
// an absent one. The host does not promise consistency: a texture face may name a
// texture vertex past the end, and the vertex-colour count may differ from the vertex
// count; readers check before they index.
class Mesh {
 public:
  std::vector<Point3> verts;  // object space
  std::vector<Face> faces;
  std::vector<Point3> tVerts;   // (U, V, W)
  std::vector<TVFace> tvFace;   // one per face when present
  std::vector<Point3> vertCol;  // three floats per colour

  int getNumVerts() const { return static_cast<int>(verts.size()); }
  int getNumFaces() const { return static_cast<int>(faces.size()); }
  int getNumTVerts() const { return static_cast<int>(tVerts.size()); }
  int getNumVertCol() const { return static_cast<int>(vertCol.size()); }
  // The material id of face f (the upper 16 bits of its flag word); f must be a face.
  int getFaceMtlIndex(int f) const { return faces[f].getMatID(); }
};

// A host Bezier shape: splines of knots, each knot stored as three vertices (its
// incoming handle, the knot point, its outgoing handle), in object space.
class BezierShape {
 public:
  std::vector<std::vector<Point3>> splines;  // per spline: 3 vertices per knot

  int SplineCount() const { return static_cast<int>(splines.size()); }
  // Vertices of every spline together.
  int GetNumVerts() const;
  // Vertices of spline s alone; 0 when s is not a spline of the shape.
  int SplineVertCount(int s) const;
  // Vertex v of spline s; the origin when (s, v) is outside the shape.
  Point3 GetVert(int s, int v) const;
};

#endif  // TSM_HOST_MESH_H
