#include "host/geometry.h"

#include <gtest/gtest.h>

#include <cmath>

#include "host/host_core.h"

namespace {

constexpr float kPi = 3.14159265358979f;

void ExpectNear(const Point3& a, const Point3& b, float eps = 1e-5f) {
  EXPECT_NEAR(a.x, b.x, eps);
  EXPECT_NEAR(a.y, b.y, eps);
  EXPECT_NEAR(a.z, b.z, eps);
}

void ExpectNear(const Matrix3& a, const Matrix3& b, float eps = 1e-5f) {
  for (int i = 0; i < 4; ++i) ExpectNear(a.GetRow(i), b.GetRow(i), eps);
}

TEST(Geometry, PointTimesMatrixIsRowCombinationPlusTranslation) {
  Matrix3 m({1, 2, 3}, {4, 5, 6}, {7, 8, 9}, {10, 11, 12});
  Point3 p = Point3(1, 10, 100) * m;
  // x*row0 + y*row1 + z*row2 + row3
  EXPECT_EQ(p, Point3(1 + 40 + 700 + 10, 2 + 50 + 800 + 11, 3 + 60 + 900 + 12));
}

TEST(Geometry, MatrixProductAppliesLeftFirst) {
  Matrix3 a = TransMatrix({1, 0, 0});
  Matrix3 b = ScaleMatrix({2, 2, 2});
  // Translate, then scale: (0,0,0) -> (1,0,0) -> (2,0,0).
  ExpectNear(Point3(0, 0, 0) * (a * b), Point3(2, 0, 0));
  ExpectNear(Point3(0, 0, 0) * (b * a), Point3(1, 0, 0));
}

TEST(Geometry, InverseUndoesAffineMatrix) {
  Matrix3 m = ScaleMatrix({2, 3, 4}) * QuatToMatrix(QuatFromAngAxis(0.7f, {1, 2, 3})) *
              TransMatrix({5, -6, 7});
  ExpectNear(m * Inverse(m), Matrix3(), 1e-5f);
  ExpectNear(Inverse(m) * m, Matrix3(), 1e-5f);
}

TEST(Geometry, InverseOfSingularMatrixIsIdentity) {
  EXPECT_EQ(Inverse(ScaleMatrix({0, 1, 1})), Matrix3());
}

TEST(Geometry, QuarterTurnAboutZTurnsXIntoY) {
  Matrix3 r = QuatToMatrix(QuatFromAngAxis(kPi / 2, {0, 0, 1}));
  ExpectNear(Point3(1, 0, 0) * r, Point3(0, 1, 0));
  ExpectNear(Point3(0, 1, 0) * r, Point3(-1, 0, 0));
}

TEST(Geometry, QuatProductMatchesMatrixProduct) {
  Quat p = QuatFromAngAxis(0.5f, {1, 0, 0});
  Quat q = QuatFromAngAxis(1.1f, {0, 1, 1});
  // p * q applies q first, then p.
  ExpectNear(QuatToMatrix(p * q), QuatToMatrix(q) * QuatToMatrix(p));
}

TEST(Geometry, QuotientIsRotationFromPToQ) {
  Quat p = QuatFromAngAxis(0.4f, {0, 0, 1});
  Quat q = QuatFromAngAxis(1.0f, {0, 0, 1});
  Quat d = q / p;
  ExpectNear(QuatToMatrix(p) * QuatToMatrix(d), QuatToMatrix(q));
  AngAxis aa(d);
  EXPECT_NEAR(aa.angle, 0.6f, 1e-5f);
  ExpectNear(aa.axis, Point3(0, 0, 1));
}

TEST(Geometry, AngAxisFromQKeepsAngleInZeroToPi) {
  float angle;
  Point3 axis;
  AngAxisFromQ(QuatFromAngAxis(1.5f * kPi, {0, 1, 0}), &angle, axis);
  EXPECT_NEAR(angle, 0.5f * kPi, 1e-5f);
  ExpectNear(axis, Point3(0, -1, 0));
  AngAxisFromQ(Quat(), &angle, axis);
  EXPECT_EQ(angle, 0.0f);
  EXPECT_EQ(axis, Point3(0, 0, 1));
}

TEST(Geometry, DecomposeRebuildsMatrix) {
  Quat q0 = QuatFromAngAxis(2.0f, {1, -1, 0.5f});
  Matrix3 m = ScaleMatrix({2, 0.5f, 3}) * QuatToMatrix(q0) * TransMatrix({1, 2, 3});
  Point3 t, s;
  Quat q;
  DecomposeMatrix(m, t, q, s);
  ExpectNear(t, Point3(1, 2, 3));
  ExpectNear(s, Point3(2, 0.5f, 3));
  EXPECT_NEAR(q.x * q.x + q.y * q.y + q.z * q.z + q.w * q.w, 1.0f, 1e-5f);
  ExpectNear(ScaleMatrix(s) * QuatToMatrix(q) * TransMatrix(t), m, 1e-4f);
}

TEST(Geometry, DecomposeMirroredMatrixFoldsFlipIntoScale) {
  Matrix3 m = ScaleMatrix({-1, 1, 1}) * TransMatrix({0, 0, 4});
  Point3 t, s;
  Quat q;
  DecomposeMatrix(m, t, q, s);
  ExpectNear(ScaleMatrix(s) * QuatToMatrix(q) * TransMatrix(t), m, 1e-5f);
  EXPECT_LT(s.x * s.y * s.z, 0.0f);
}

TEST(Geometry, DecomposeDegenerateMatrixGivesUnitRotation) {
  Point3 t, s;
  Quat q;
  DecomposeMatrix(ScaleMatrix({0, 0, 0}), t, q, s);
  EXPECT_EQ(q, Quat());
  EXPECT_EQ(s, Point3(0, 0, 0));
}

TEST(HostCore, TicksPerFrameDefaultsAndRejectsNonPositive) {
  ResetHostCore();
  EXPECT_EQ(GetTicksPerFrame(), 160);
  SetTicksPerFrame(0);
  EXPECT_EQ(GetTicksPerFrame(), 160);
  SetTicksPerFrame(4800);
  EXPECT_EQ(GetTicksPerFrame(), 4800);
  ResetHostCore();
}

TEST(HostCore, MasterScaleOfOwnTypeIsUnitScale) {
  SetMasterUnit(5, 0.01);  // a scene unit is a centimetre given in metres
  int type;
  float scale;
  GetMasterUnitInfo(&type, &scale);
  EXPECT_EQ(type, 5);
  EXPECT_FLOAT_EQ(scale, 0.01f);
  EXPECT_DOUBLE_EQ(GetMasterScale(5), 0.01);
  EXPECT_NEAR(GetMasterScale(4), 1.0, 1e-12);   // one centimetre
  EXPECT_NEAR(GetMasterScale(3), 10.0, 1e-12);  // ten millimetres, not a tenth of one
  ResetHostCore();
}

TEST(HostCore, GammaCorrectIsPowerCurveOverBytes) {
  GammaMgr g;
  g.dispGamma = 2.2f;
  EXPECT_EQ(g.GammaCorrect(0), 0);
  EXPECT_EQ(g.GammaCorrect(255), 255);
  EXPECT_EQ(g.GammaCorrect(128), 186);  // 255 * (128/255)^(1/2.2) = 186.1
  g.dispGamma = 1.0f;
  EXPECT_EQ(g.GammaCorrect(77), 77);
  g.dispGamma = 0.0f;
  EXPECT_EQ(g.GammaCorrect(77), 77);
}

}  // namespace
