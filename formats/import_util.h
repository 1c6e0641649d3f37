// What the glTF and OBJ loaders share: the change of up axis, node names, look-at targets
// along a view direction, the split of meshes too large for the file, and the one error
// type that ends a load.
#ifndef TSM_FORMATS_IMPORT_UTIL_H
#define TSM_FORMATS_IMPORT_UTIL_H

#include <functional>
#include <stdexcept>
#include <string>
#include <unordered_set>
#include <vector>

#include "formats/scene_import.h"
#include "scene/mem_controllers.h"
#include "scene/mem_objects.h"

namespace tsm {

// Ends a load; the message says what is wrong (the boundary adds the file name).
struct ImportError : std::runtime_error {
  explicit ImportError(const std::string& what) : std::runtime_error(what) {}
};

// The change from the file's axes to the host's Z-up world. With yUp, the file's
// (x, y, z) lands at (x, -z, y), a rotation of 90 degrees about X; without, nothing moves.
class AxisChange {
 public:
  explicit AxisChange(bool yUp) : yUp_(yUp) {}
  // (0 - z keeps a zero positive, so that files read "0" rather than "-0".)
  Point3 Point(const Point3& p) const { return yUp_ ? Point3(p.x, 0.0f - p.z, p.y) : p; }
  // A rotation of the file's axes as a rotation of the host's: the same rotation turned
  // about the changed axis.
  Quat Rotation(const Quat& q) const { return yUp_ ? Quat(q.x, 0.0f - q.z, q.y, q.w) : q; }
  // Per-axis scale factors: the Y and Z factors trade places.
  Point3 Scale(const Point3& s) const { return yUp_ ? Point3(s.x, s.z, s.y) : s; }
  // A transform of the file's space as one of the host's (C^-1 * M * C for row vectors).
  Matrix3 Transform(const Matrix3& m) const;
  // The other way, from the host's world to the file's axes (the writers' direction):
  // each undoes its counterpart above.
  Point3 FilePoint(const Point3& p) const { return yUp_ ? Point3(p.x, p.z, 0.0f - p.y) : p; }
  Quat FileRotation(const Quat& q) const { return yUp_ ? Quat(q.x, q.z, 0.0f - q.y, q.w) : q; }
  Point3 FileScale(const Point3& s) const { return Scale(s); }
  Matrix3 FileTransform(const Matrix3& m) const;

 private:
  bool yUp_;
};

// Node names that are unique within one load: empty names get fallback, repeated ones a
// ".2", ".3", ... suffix, and NUL characters are dropped.
class NameKeeper {
 public:
  std::string Unique(const std::string& wanted, const std::string& fallback);

 private:
  std::unordered_set<std::string> used_;
};

// Text without NUL characters, which host texts cannot hold.
std::string WithoutNul(const std::string& text);

// Makes a look-at target for owner: a node beside it (same parent) at distance along
// direction from owner's origin, in owner's local axes (dir need not be unit). When
// owner has a transform controller, the target's position follows it at the owner's key
// times. Answers the target node.
MemNode* AddLookAtTarget(MemScene& scene, MemNode* owner, const Point3& direction, float distance,
                         NameKeeper& names);

// Splits every mesh of the given nodes that has more than kMaxFileMeshSize faces or
// vertices into pieces that fit, each a child node of the original with the same material;
// the original node becomes a dummy. Instances of one mesh share the pieces. Adds one
// notice per split mesh, prefixed with label.
void SplitLargeMeshes(MemScene& scene, const std::vector<MemNode*>& meshNodes,
                      const std::string& label, NameKeeper& names,
                      std::vector<std::string>& notices);

// The failure of a loaded scene (or of one of its nodes) that fails CheckScene.
ImportError SceneCheckFailure(const std::string& problem);

// Runs load with the boundary every importer shares: the scene must be empty, failures
// (ImportError, out of memory, anything thrown) become one message prefixed with label,
// and CheckScene runs after a load that succeeded.
ImportResult RunImport(const std::string& label, MemScene& scene,
                       const std::function<void(std::vector<std::string>& notices)>& load);

}  // namespace tsm

#endif  // TSM_FORMATS_IMPORT_UTIL_H
