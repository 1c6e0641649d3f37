// Our stand-in of the host's geometry library: points, matrices, rotations, boxes,
// intervals and class identities, under the host's own names.
//
// Conventions, used everywhere in the system:
// - Points are row vectors. A Matrix3 holds four rows of three floats: rows 0 to 2 are
//   the axes of a coordinate system, row 3 its origin (the translation). The product
//   `p * m` is x*row0 + y*row1 + z*row2 + row3, and `a * b` applies a first, then b.
// - A Quat (x, y, z, w) is a unit quaternion with w the scalar part. The Quat of a
//   rotation by angle t (radians) about the unit axis a is (a*sin(t/2), cos(t/2)); the
//   rotation turns points counter-clockwise about a when a points at the viewer
//   (right-hand rule). `QuatToMatrix` gives the row-vector matrix of that rotation.
// - Quat products are Hamilton products. Because points are row vectors,
//   QuatToMatrix(p * q) == QuatToMatrix(q) * QuatToMatrix(p): `p * q` applies q first,
//   then p. The quotient `q / p` is q * Conjugate(p): the rotation d that, applied
//   after p, gives q (QuatToMatrix(p) * QuatToMatrix(d) == QuatToMatrix(q)).
// - An AngAxis holds a unit axis and an angle in radians, the same rotation as its Quat.
#ifndef TSM_HOST_GEOMETRY_H
#define TSM_HOST_GEOMETRY_H

#include <cstdint>

// A signed count of host ticks.
typedef int32_t TimeValue;

// The most negative time; an interval of (TIME_NegInfinity, TIME_NegInfinity) is the
// "nothing known yet" validity that queries start from.
constexpr TimeValue TIME_NegInfinity = static_cast<TimeValue>(0x80000000u);

// Host class identity: two unsigned 32-bit words, compared word by word.
class Class_ID {
 public:
  Class_ID() = default;
  Class_ID(uint32_t a, uint32_t b) : a_(a), b_(b) {}
  uint32_t PartA() const { return a_; }
  uint32_t PartB() const { return b_; }
  bool operator==(const Class_ID& o) const { return a_ == o.a_ && b_ == o.b_; }
  bool operator!=(const Class_ID& o) const { return !(*this == o); }

 private:
  uint32_t a_ = 0xFFFFFFFFu;  // the host's "no class"
  uint32_t b_ = 0xFFFFFFFFu;
};

// The host's class of triangle-mesh objects.
extern const Class_ID triObjectClassID;

// A time interval [start, end] in ticks.
class Interval {
 public:
  Interval() = default;
  Interval(TimeValue s, TimeValue e) : start_(s), end_(e) {}
  TimeValue Start() const { return start_; }
  TimeValue End() const { return end_; }
  void Set(TimeValue s, TimeValue e) {
    start_ = s;
    end_ = e;
  }

 private:
  TimeValue start_ = TIME_NegInfinity;  // empty until set
  TimeValue end_ = TIME_NegInfinity;
};

class Point2 {
 public:
  float x = 0.0f;  // a default-constructed Point2 is (0, 0)
  float y = 0.0f;
  Point2() = default;
  Point2(float px, float py) : x(px), y(py) {}
  bool operator==(const Point2& o) const { return x == o.x && y == o.y; }
};

class Point3 {
 public:
  float x = 0.0f;  // a default-constructed Point3 is the origin
  float y = 0.0f;
  float z = 0.0f;
  Point3() = default;
  Point3(float px, float py, float pz) : x(px), y(py), z(pz) {}
  float& operator[](int i) { return i == 0 ? x : (i == 1 ? y : z); }
  float operator[](int i) const { return i == 0 ? x : (i == 1 ? y : z); }
  Point3 operator+(const Point3& o) const { return {x + o.x, y + o.y, z + o.z}; }
  Point3 operator-(const Point3& o) const { return {x - o.x, y - o.y, z - o.z}; }
  Point3 operator-() const { return {-x, -y, -z}; }
  Point3 operator*(float s) const { return {x * s, y * s, z * s}; }
  bool operator==(const Point3& o) const { return x == o.x && y == o.y && z == o.z; }
  bool operator!=(const Point3& o) const { return !(*this == o); }
};

float Length(const Point3& p);
float DotProd(const Point3& a, const Point3& b);
Point3 CrossProd(const Point3& a, const Point3& b);
// The unit vector along p; p itself when its length is 0.
Point3 Normalize(const Point3& p);

class Matrix3 {
 public:
  // A default-constructed Matrix3 is the identity.
  Matrix3() { IdentityMatrix(); }
  Matrix3(const Point3& r0, const Point3& r1, const Point3& r2, const Point3& r3)
      : rows_{r0, r1, r2, r3} {}
  // Makes this matrix the identity.
  void IdentityMatrix();
  Point3 GetRow(int i) const { return rows_[i]; }
  void SetRow(int i, const Point3& p) { rows_[i] = p; }
  Point3 GetTrans() const { return rows_[3]; }
  void SetTrans(const Point3& p) { rows_[3] = p; }
  Matrix3 operator*(const Matrix3& b) const;
  bool operator==(const Matrix3& o) const;

 private:
  Point3 rows_[4];
};

// x*row0 + y*row1 + z*row2 + row3.
Point3 operator*(const Point3& p, const Matrix3& m);
// x*row0 + y*row1 + z*row2: the direction part only.
Point3 VectorTransform(const Matrix3& m, const Point3& p);
// The inverse of an affine matrix; the identity when m is singular.
Matrix3 Inverse(const Matrix3& m);
Matrix3 TransMatrix(const Point3& p);
Matrix3 ScaleMatrix(const Point3& s);

class Quat {
 public:
  float x = 0.0f;  // a default-constructed Quat is the identity rotation
  float y = 0.0f;
  float z = 0.0f;
  float w = 1.0f;
  Quat() = default;
  Quat(float qx, float qy, float qz, float qw) : x(qx), y(qy), z(qz), w(qw) {}
  void Identity() { *this = Quat(); }
  bool operator==(const Quat& o) const { return x == o.x && y == o.y && z == o.z && w == o.w; }
};

class AngAxis;
// Hamilton product: applies b first, then a (see the conventions above).
Quat operator*(const Quat& a, const Quat& b);
// The quotient q / p = q * Conjugate(p): the rotation from p to q.
Quat operator/(const Quat& q, const Quat& p);
Quat Conjugate(const Quat& q);
Quat Normalize(const Quat& q);
Quat QuatFromAngAxis(float angle, const Point3& axis);
Matrix3 QuatToMatrix(const Quat& q);
// The unit quaternion of the rotation part of m (its rows must be orthonormal).
Quat MatrixToQuat(const Matrix3& m);

class AngAxis {
 public:
  Point3 axis{0.0f, 0.0f, 1.0f};  // unit axis; (0, 0, 1) for no rotation
  float angle = 0.0f;             // radians
  AngAxis() = default;
  AngAxis(const Point3& a, float ang) : axis(a), angle(ang) {}
  // The angle and axis of q, by AngAxisFromQ.
  explicit AngAxis(const Quat& q);
};

// A scale with the orientation of its axes, as scale controllers answer it.
struct ScaleValue {
  Point3 s{1.0f, 1.0f, 1.0f};  // per-axis factors; no scaling
  Quat q;                      // orientation of the scale axes; identity
};

// Converts a quaternion to an angle in [0, pi] radians and a unit axis. The axis is
// always of unit length: the identity rotation (and any quaternion too close to it to
// have a direction) gives angle 0 and the axis (0, 0, 1), so a reader that normalises
// the axis never divides by zero. This is the one conversion used on every path.
void AngAxisFromQ(const Quat& q, float* angle, Point3& axis);

// Splits m into translation t, unit rotation q and per-axis scale s so that
// ScaleMatrix(s) * QuatToMatrix(q) * TransMatrix(t) rebuilds m (for a matrix without
// shear). A mirroring matrix gets a negative x scale.
void DecomposeMatrix(const Matrix3& m, Point3& t, Quat& q, Point3& s);

// An axis-aligned box; empty (pmin > pmax) when default-constructed.
class Box3 {
 public:
  Point3 pmin{1e30f, 1e30f, 1e30f};
  Point3 pmax{-1e30f, -1e30f, -1e30f};
  void Init() { *this = Box3(); }
  bool IsEmpty() const { return pmin.x > pmax.x || pmin.y > pmax.y || pmin.z > pmax.z; }
  Box3& operator+=(const Point3& p);
};

#endif  // TSM_HOST_GEOMETRY_H
