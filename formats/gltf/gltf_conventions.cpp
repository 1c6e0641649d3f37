#include "formats/gltf/gltf_conventions.h"

#include <algorithm>
#include <cmath>

namespace tsm {

namespace {

constexpr double kPi = 3.14159265358979323846;

double Clamp01(double v) {
  return std::isfinite(v) ? std::min(1.0, std::max(0.0, v)) : 0.0;
}

double Aspect(double aspect) {
  return std::isfinite(aspect) && aspect > 0 ? aspect : kDefaultAspectRatio;
}

// Keeps a field of view inside (0, pi), where its tangent is finite and positive.
double OpenAngle(double fov) {
  return std::min(kPi - 1e-6, std::max(1e-6, fov));
}

}  // namespace

// The sRGB transfer function and its inverse, computed in double precision.
float LinearFromDisplay(float c) {
  double v = Clamp01(c);
  return float(v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4));
}

float DisplayFromLinear(float c) {
  double v = Clamp01(c);
  return float(v <= 0.0031308 ? v * 12.92 : 1.055 * std::pow(v, 1.0 / 2.4) - 0.055);
}

Point3 LinearFromDisplay(const Point3& c) {
  return Point3(LinearFromDisplay(c.x), LinearFromDisplay(c.y), LinearFromDisplay(c.z));
}

Point3 DisplayFromLinear(const Point3& c) {
  return Point3(DisplayFromLinear(c.x), DisplayFromLinear(c.y), DisplayFromLinear(c.z));
}

double VerticalFov(double horizontal, double aspect) {
  return OpenAngle(2.0 * std::atan(std::tan(OpenAngle(horizontal) / 2.0) / Aspect(aspect)));
}

double HorizontalFov(double vertical, double aspect) {
  return OpenAngle(2.0 * std::atan(std::tan(OpenAngle(vertical) / 2.0) * Aspect(aspect)));
}

double RoughnessFromShininess(double shininess) {
  return 1.0 - Clamp01(shininess);
}

double ShininessFromRoughness(double roughness) {
  return 1.0 - Clamp01(roughness);
}

double HalfAngleFromCone(double degrees) {
  return degrees * kPi / 360.0;
}

double ConeFromHalfAngle(double radians) {
  return radians * 360.0 / kPi;
}

}  // namespace tsm
