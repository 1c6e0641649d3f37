#include "host/geometry.h"

#include <algorithm>
#include <cmath>

const Class_ID triObjectClassID(0x0009, 0);

float Length(const Point3& p) {
  return static_cast<float>(std::sqrt(double(p.x) * p.x + double(p.y) * p.y + double(p.z) * p.z));
}

float DotProd(const Point3& a, const Point3& b) {
  return a.x * b.x + a.y * b.y + a.z * b.z;
}

Point3 CrossProd(const Point3& a, const Point3& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

Point3 Normalize(const Point3& p) {
  float len = Length(p);
  if (len == 0.0f) return p;
  return p * (1.0f / len);
}

void Matrix3::IdentityMatrix() {
  rows_[0] = {1, 0, 0};
  rows_[1] = {0, 1, 0};
  rows_[2] = {0, 0, 1};
  rows_[3] = {0, 0, 0};
}

Matrix3 Matrix3::operator*(const Matrix3& b) const {
  Matrix3 r;
  for (int i = 0; i < 3; ++i) r.rows_[i] = VectorTransform(b, rows_[i]);
  r.rows_[3] = rows_[3] * b;
  return r;
}

bool Matrix3::operator==(const Matrix3& o) const {
  for (int i = 0; i < 4; ++i)
    if (rows_[i] != o.rows_[i]) return false;
  return true;
}

Point3 operator*(const Point3& p, const Matrix3& m) {
  return VectorTransform(m, p) + m.GetRow(3);
}

Point3 VectorTransform(const Matrix3& m, const Point3& p) {
  Point3 r0 = m.GetRow(0), r1 = m.GetRow(1), r2 = m.GetRow(2);
  return {p.x * r0.x + p.y * r1.x + p.z * r2.x, p.x * r0.y + p.y * r1.y + p.z * r2.y,
          p.x * r0.z + p.y * r1.z + p.z * r2.z};
}

Matrix3 Inverse(const Matrix3& m) {
  // Work in double: the 3x3 part by its adjugate, the translation by -t * A^-1.
  double a[3][3];
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) a[i][j] = m.GetRow(i)[j];
  double c00 = a[1][1] * a[2][2] - a[1][2] * a[2][1];
  double c01 = a[1][2] * a[2][0] - a[1][0] * a[2][2];
  double c02 = a[1][0] * a[2][1] - a[1][1] * a[2][0];
  double det = a[0][0] * c00 + a[0][1] * c01 + a[0][2] * c02;
  if (det == 0.0) return Matrix3();
  double inv[3][3];
  inv[0][0] = c00 / det;
  inv[1][0] = c01 / det;
  inv[2][0] = c02 / det;
  inv[0][1] = (a[0][2] * a[2][1] - a[0][1] * a[2][2]) / det;
  inv[1][1] = (a[0][0] * a[2][2] - a[0][2] * a[2][0]) / det;
  inv[2][1] = (a[0][1] * a[2][0] - a[0][0] * a[2][1]) / det;
  inv[0][2] = (a[0][1] * a[1][2] - a[0][2] * a[1][1]) / det;
  inv[1][2] = (a[0][2] * a[1][0] - a[0][0] * a[1][2]) / det;
  inv[2][2] = (a[0][0] * a[1][1] - a[0][1] * a[1][0]) / det;
  Matrix3 r;
  for (int i = 0; i < 3; ++i)
    r.SetRow(i, Point3(float(inv[i][0]), float(inv[i][1]), float(inv[i][2])));
  Point3 t = m.GetTrans();
  Point3 rt;
  for (int j = 0; j < 3; ++j) rt[j] = float(-(t.x * inv[0][j] + t.y * inv[1][j] + t.z * inv[2][j]));
  r.SetTrans(rt);
  return r;
}

Matrix3 TransMatrix(const Point3& p) {
  Matrix3 m;
  m.SetTrans(p);
  return m;
}

Matrix3 ScaleMatrix(const Point3& s) {
  return Matrix3({s.x, 0, 0}, {0, s.y, 0}, {0, 0, s.z}, {0, 0, 0});
}

Quat operator*(const Quat& a, const Quat& b) {
  return {
      a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y, a.w * b.y - a.x * b.z + a.y * b.w + a.z * b.x,
      a.w * b.z + a.x * b.y - a.y * b.x + a.z * b.w, a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z};
}

Quat Conjugate(const Quat& q) {
  return {-q.x, -q.y, -q.z, q.w};
}

Quat operator/(const Quat& q, const Quat& p) {
  return q * Conjugate(p);
}

Quat Normalize(const Quat& q) {
  double n =
      std::sqrt(double(q.x) * q.x + double(q.y) * q.y + double(q.z) * q.z + double(q.w) * q.w);
  if (n == 0.0) return Quat();
  return {float(q.x / n), float(q.y / n), float(q.z / n), float(q.w / n)};
}

Quat QuatFromAngAxis(float angle, const Point3& axis) {
  Point3 a = Normalize(axis);
  double h = angle * 0.5;
  float s = float(std::sin(h));
  return {a.x * s, a.y * s, a.z * s, float(std::cos(h))};
}

Matrix3 QuatToMatrix(const Quat& q) {
  // Row-vector form: row i is the image of unit axis i.
  double x = q.x, y = q.y, z = q.z, w = q.w;
  Matrix3 m;
  m.SetRow(0, Point3(float(1 - 2 * (y * y + z * z)), float(2 * (x * y + w * z)),
                     float(2 * (x * z - w * y))));
  m.SetRow(1, Point3(float(2 * (x * y - w * z)), float(1 - 2 * (x * x + z * z)),
                     float(2 * (y * z + w * x))));
  m.SetRow(2, Point3(float(2 * (x * z + w * y)), float(2 * (y * z - w * x)),
                     float(1 - 2 * (x * x + y * y))));
  return m;
}

Quat MatrixToQuat(const Matrix3& m) {
  // Column-vector rotation R has R[i][j] = m.row(j)[i].
  double r[3][3];
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) r[i][j] = m.GetRow(j)[i];
  double tr = r[0][0] + r[1][1] + r[2][2];
  double x, y, z, w;
  if (tr > 0) {
    double s = std::sqrt(tr + 1.0) * 2;
    w = 0.25 * s;
    x = (r[2][1] - r[1][2]) / s;
    y = (r[0][2] - r[2][0]) / s;
    z = (r[1][0] - r[0][1]) / s;
  } else if (r[0][0] > r[1][1] && r[0][0] > r[2][2]) {
    double s = std::sqrt(1.0 + r[0][0] - r[1][1] - r[2][2]) * 2;
    w = (r[2][1] - r[1][2]) / s;
    x = 0.25 * s;
    y = (r[0][1] + r[1][0]) / s;
    z = (r[0][2] + r[2][0]) / s;
  } else if (r[1][1] > r[2][2]) {
    double s = std::sqrt(1.0 + r[1][1] - r[0][0] - r[2][2]) * 2;
    w = (r[0][2] - r[2][0]) / s;
    x = (r[0][1] + r[1][0]) / s;
    y = 0.25 * s;
    z = (r[1][2] + r[2][1]) / s;
  } else {
    double s = std::sqrt(1.0 + r[2][2] - r[0][0] - r[1][1]) * 2;
    w = (r[1][0] - r[0][1]) / s;
    x = (r[0][2] + r[2][0]) / s;
    y = (r[1][2] + r[2][1]) / s;
    z = 0.25 * s;
  }
  if (w < 0) {
    x = -x;
    y = -y;
    z = -z;
    w = -w;
  }
  return Normalize(Quat(float(x), float(y), float(z), float(w)));
}

void AngAxisFromQ(const Quat& q, float* angle, Point3& axis) {
  Quat u = Normalize(q);
  double w = u.w, x = u.x, y = u.y, z = u.z;
  if (w < 0) {  // the same rotation with a non-negative scalar part keeps the angle in [0, pi]
    w = -w;
    x = -x;
    y = -y;
    z = -z;
  }
  double s = std::sqrt(x * x + y * y + z * z);
  if (s < 1e-12) {
    *angle = 0.0f;
    axis = Point3(0, 0, 1);
    return;
  }
  *angle = float(2.0 * std::atan2(s, w));
  axis = Point3(float(x / s), float(y / s), float(z / s));
}

AngAxis::AngAxis(const Quat& q) {
  AngAxisFromQ(q, &angle, axis);
}

void DecomposeMatrix(const Matrix3& m, Point3& t, Quat& q, Point3& s) {
  t = m.GetTrans();
  Point3 r0 = m.GetRow(0), r1 = m.GetRow(1), r2 = m.GetRow(2);
  s = Point3(Length(r0), Length(r1), Length(r2));
  Point3 u0 = Normalize(r0), u1 = Normalize(r1), u2 = Normalize(r2);
  if (DotProd(CrossProd(u0, u1), u2) < 0) {  // mirrored: fold the flip into the x scale
    s.x = -s.x;
    u0 = -u0;
  }
  // Degenerate rows leave the rotation part incomplete; rebuild them orthogonally.
  if (s.x == 0 || s.y == 0 || s.z == 0) {
    if (Length(u0) == 0) u0 = Normalize(CrossProd(u1, u2));
    if (Length(u1) == 0) u1 = Normalize(CrossProd(u2, u0));
    if (Length(u2) == 0) u2 = Normalize(CrossProd(u0, u1));
    if (Length(u0) == 0 || Length(u1) == 0 || Length(u2) == 0) {
      q = Quat();
      return;
    }
  }
  q = MatrixToQuat(Matrix3(u0, u1, u2, Point3()));
}

Box3& Box3::operator+=(const Point3& p) {
  pmin = Point3(std::min(pmin.x, p.x), std::min(pmin.y, p.y), std::min(pmin.z, p.z));
  pmax = Point3(std::max(pmax.x, p.x), std::max(pmax.y, p.y), std::max(pmax.z, p.z));
  return *this;
}
