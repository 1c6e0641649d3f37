// How the host scene's values and glTF's correspond, in both directions: the glTF
// importer and the glTF writer convert through these functions and nothing else, so that
// a scene written and read back keeps its colours, fields of view, cones, times and
// material values. docs/importers.md lists the conventions; the up axis is AxisChange
// (formats/import_util.h), the same for both directions.
#ifndef TSM_FORMATS_GLTF_CONVENTIONS_H
#define TSM_FORMATS_GLTF_CONVENTIONS_H

#include "host/geometry.h"

namespace tsm {

// The aspect ratio (width / height) of a camera when a file gives none: 4:3, the
// proportions of tsmview's default picture.
constexpr double kDefaultAspectRatio = 4.0 / 3.0;

// Colours. glTF's colour factors, light colours and vertex colours are linear; the host's
// colours are display (sRGB) colours. Components are clamped to 0..1 first; the two
// functions are each other's inverse within float rounding.
float LinearFromDisplay(float c);
float DisplayFromLinear(float c);
Point3 LinearFromDisplay(const Point3& c);
Point3 DisplayFromLinear(const Point3& c);

// Fields of view in radians. The host's is horizontal, glTF's yfov vertical; aspect is
// width / height (kDefaultAspectRatio when a file gives none or a value that is not
// positive). Each answers a value strictly between 0 and pi for an input in that range.
double VerticalFov(double horizontal, double aspect);
double HorizontalFov(double vertical, double aspect);

// Shininess (0..1) and glTF's roughness factor (0..1): roughness = 1 - shininess, both
// clamped to 0..1.
double RoughnessFromShininess(double shininess);
double ShininessFromRoughness(double roughness);

// Spot cones: the host's full cone angle in degrees, glTF's half-angle in radians.
double HalfAngleFromCone(double degrees);
double ConeFromHalfAngle(double radians);

}  // namespace tsm

#endif  // TSM_FORMATS_GLTF_CONVENTIONS_H
