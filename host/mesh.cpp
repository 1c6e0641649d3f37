#include "host/mesh.h"

int BezierShape::GetNumVerts() const {
  int n = 0;
  for (const auto& s : splines) n += static_cast<int>(s.size());
  return n;
}

int BezierShape::SplineVertCount(int s) const {
  if (s < 0 || s >= SplineCount()) return 0;
  return static_cast<int>(splines[s].size());
}

Point3 BezierShape::GetVert(int s, int v) const {
  if (v < 0 || v >= SplineVertCount(s)) return Point3();
  return splines[s][v];
}
