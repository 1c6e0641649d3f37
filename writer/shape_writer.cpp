// Shape points: the knots of a spline shape in world coordinates, with the name of the
// shape's parent node.
#include "writer/editor_writer.h"
#include "writer/file_writer.h"

namespace tsm {

namespace {

// Knot k of spline s: its middle vertex 3k + 1. A request past the spline's last knot
// (the knot count is the same for every spline, taken from the whole shape's vertex
// count) repeats the spline's last knot; a spline without knots gives the origin.
Point3 KnotOf(const BezierShape& shape, int s, int k) {
  int knots = shape.SplineVertCount(s) / 3;
  if (k >= knots) k = knots - 1;
  if (k < 0) return Point3();
  return shape.GetVert(s, 3 * k + 1);
}

bool WriteShapePoints(OutStream& stream, const ObjectListItem& item) {
  SceneNode* node = item.entry->node;
  BezierShape* shape = item.entry->object->ObjectShape();
  Matrix3 t = node->NodeTransform(RunTime());
  if (node->NodeQuery(96)) t.IdentityMatrix();

  // The object offset, turned by the transform's axes (no translation), in double
  // precision, then held as single-precision values.
  Point3 p = node->ObjectOffsetPosition();
  Point3 o;
  for (int c = 0; c < 3; ++c)
    o[c] = static_cast<float>(static_cast<double>(p.x) * t.GetRow(0)[c] +
                              static_cast<double>(p.y) * t.GetRow(1)[c] +
                              static_cast<double>(p.z) * t.GetRow(2)[c]);

  int splines = shape != nullptr ? shape->SplineCount() : 0;
  int knots = shape != nullptr ? shape->GetNumVerts() / 3 : 0;
  SceneNode* parent = node->ParentNode();
  if (!WriteText(stream, parent != nullptr ? parent->NodeName() : "")) return false;
  if (!WriteI32(stream, static_cast<int32_t>(static_cast<int64_t>(knots) * splines))) return false;
  for (int s = 0; s < splines; ++s) {
    for (int k = 0; k < knots; ++k) {
      Point3 q = KnotOf(*shape, s, k) * t;
      if (!WriteF32(stream, q.x + o.x) || !WriteF32(stream, q.y + o.y) ||
          !WriteF32(stream, q.z + o.z))
        return false;
    }
  }
  return true;
}

}  // namespace

bool WriteShapeBody(uint16_t id, OutStream& stream, void* context, bool* known) {
  *known = id == SHAPE_POINTS;
  if (!*known) return true;
  if (context == nullptr) return SoftError(kUnknownChunkText);
  return WriteShapePoints(stream, *static_cast<const ObjectListItem*>(context));
}

}  // namespace tsm
