// Shape points: knots in world coordinates, the object offset, the point count and its
// truncation, splines of different lengths, and the parent's name.
#include "tests/editor_scene.h"
#include "tests/sample_files.h"

namespace tsm {
namespace {

// A shape object that answers a host shape as it is given, vertex by vertex.
class RawShapeObject : public MemObject {
 public:
  RawShapeObject() {
    family = kFamilyShape;
    classId = kShapeObjectClass;
  }
  BezierShape shape;
  BezierShape* ObjectShape() override { return &shape; }
};

// A spline of n knots whose knot i is (i, 10i, 100i) + base, with handles around it.
std::vector<Point3> SplineVerts(int n, float base, int extra = 0) {
  std::vector<Point3> v;
  for (int i = 0; i < n; ++i) {
    Point3 k(base + i, base + 10.0f * i, base + 100.0f * i);
    v.push_back(k - Point3(0.5f, 0, 0));
    v.push_back(k);
    v.push_back(k + Point3(0.5f, 0, 0));
  }
  for (int i = 0; i < extra; ++i) v.push_back(Point3(-7, -7, -7));
  return v;
}

struct ShapeScene {
  MemScene scene;
  RawShapeObject* object;
  MemNode* parent;
  MemNode* node;
  ShapeScene() {
    object = scene.Own(std::make_unique<RawShapeObject>());
    parent = scene.AddNode("Holder");
    node = AddObjectNode(scene, "S", object, Point3(10, 20, 30), parent);
    parent->local.SetTrans(Point3(0, 0, 0));
  }
  std::vector<uint8_t> Chunk() {
    EditorRun run(scene);
    int ok = 0;
    std::vector<uint8_t> b = run.Write(SHAPE_POINTS, run.Item("S"), &ok);
    EXPECT_EQ(ok, 1);
    return b;
  }
};

// The expected chunk: parent name, count, then the points.
std::vector<uint8_t> Expected(const char* parent, const std::vector<Point3>& points) {
  ChunkBuilder b;
  b.Begin(SHAPE_POINTS).Text(parent).I32(static_cast<int32_t>(points.size()));
  for (const Point3& p : points) b.F32s({p.x, p.y, p.z});
  return b.End().Bytes();
}

TEST(EditorShape, KnotsAreMovedByTheNodeAndShiftedByTheOffset) {
  ShapeScene s;
  s.object->shape.splines = {SplineVerts(4, 0)};
  s.node->local.SetRow(0, Point3(0, 2, 0));   // x goes to y, doubled
  s.node->local.SetRow(1, Point3(-1, 0, 0));  // y goes to -x
  s.node->objectOffsetPos = Point3(1, 0, 2);
  std::vector<Point3> expect;
  for (int i = 0; i < 4; ++i) {
    Point3 k(float(i), 10.0f * i, 100.0f * i);
    // k x T, then the offset turned by T's axes: (1, 0, 2) -> (0, 2, 2).
    expect.push_back(Point3(-k.y + 10, 2 * k.x + 20, k.z + 30) + Point3(0, 2, 2));
  }
  std::vector<uint8_t> b = s.Chunk();
  ExpectBytes(b, Expected("Holder", expect));
  EXPECT_EQ(b.size(), 6u + 7 + 4 + 12 * 4);
}

TEST(EditorShape, NodeQuery96GivesUntransformedKnotsShiftedByTheOffset) {
  ShapeScene s;
  s.object->shape.splines = {SplineVerts(2, 0)};
  s.node->nodeQuery96 = true;
  s.node->objectOffsetPos = Point3(1, 2, 3);
  ExpectBytes(s.Chunk(), Expected("Holder", {Point3(1, 2, 3), Point3(2, 12, 103)}));
}

TEST(EditorShape, CountsAndTruncation) {
  struct Case {
    std::vector<std::vector<Point3>> splines;
    int32_t count;
  } cases[] = {
      {{}, 0},
      {{SplineVerts(4, 0)}, 4},
      {{SplineVerts(4, 0, 1)}, 4},  // 13 vertices give four knots
      {{SplineVerts(4, 0, 2)}, 4},  // 14 too
  };
  for (const Case& c : cases) {
    ShapeScene s;
    s.object->shape.splines = c.splines;
    s.node->nodeQuery96 = true;
    std::vector<uint8_t> b = s.Chunk();
    ASSERT_EQ(b.size(), 6u + 7 + 4 + 12 * static_cast<size_t>(c.count));
    EXPECT_EQ(int32_t(GetU32(b, 13)), c.count);
  }
}

TEST(EditorShape, SplinesOfDifferentLengthsRepeatTheirLastKnot) {
  ShapeScene s;
  s.node->nodeQuery96 = true;
  s.object->shape.splines = {SplineVerts(2, 0), SplineVerts(4, 1000), {}};
  // 18 vertices: six knots per spline, three splines.
  std::vector<Point3> expect;
  for (int k = 0; k < 6; ++k) {
    int i = k < 2 ? k : 1;
    expect.push_back(Point3(float(i), 10.0f * i, 100.0f * i));
  }
  for (int k = 0; k < 6; ++k) {
    int i = k < 4 ? k : 3;
    expect.push_back(Point3(1000.0f + i, 1000.0f + 10.0f * i, 1000.0f + 100.0f * i));
  }
  for (int k = 0; k < 6; ++k) expect.push_back(Point3());  // a spline without knots
  ExpectBytes(s.Chunk(), Expected("Holder", expect));
}

TEST(EditorShape, TopLevelShapeNamesTheSceneRoot) {
  MemScene scene;
  auto* shape = scene.Own(std::make_unique<MemShapeObject>());
  MemSpline spline;
  spline.knots.resize(1);
  shape->splines.push_back(spline);
  AddObjectNode(scene, "S", shape, Point3(1, 1, 1));
  EditorRun run(scene);
  ExpectBytes(run.Write(SHAPE_POINTS, run.Item("S")), Expected("Scene Root", {Point3(1, 1, 1)}));
}

}  // namespace
}  // namespace tsm
