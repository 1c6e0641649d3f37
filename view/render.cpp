#include "view/render.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace tsm {

namespace {

constexpr double kPi = 3.14159265358979323846;

Vec3 Add(const Vec3& a, const Vec3& b) {
  return {a.x + b.x, a.y + b.y, a.z + b.z};
}
Vec3 Sub(const Vec3& a, const Vec3& b) {
  return {a.x - b.x, a.y - b.y, a.z - b.z};
}
Vec3 Scale(const Vec3& a, double s) {
  return {a.x * s, a.y * s, a.z * s};
}
double Dot(const Vec3& a, const Vec3& b) {
  return a.x * b.x + a.y * b.y + a.z * b.z;
}
Vec3 Cross(const Vec3& a, const Vec3& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
double Length(const Vec3& a) {
  return std::sqrt(Dot(a, a));
}
Vec3 Normalize(const Vec3& a) {
  double l = Length(a);
  return l > 0.0 ? Scale(a, 1.0 / l) : Vec3();
}
bool Finite(const Vec3& p) {
  return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
}

// A point in camera space: x to the right, y up, z the distance along the view.
struct CamPoint {
  double x, y, z;
};

// An eye, its axes and its projection onto the picture.
class View {
 public:
  View(const Vec3& eye, const Vec3& target, double fovXDegrees, int w, int h, double nearZ)
      : eye_(eye), w_(w), h_(h), near_(nearZ) {
    forward_ = Normalize(Sub(target, eye));
    if (Length(forward_) == 0.0) forward_ = {0.0, 1.0, 0.0};
    // The host's up is +Z; a view straight up or down takes +Y instead.
    Vec3 up = std::fabs(forward_.z) > 0.999 ? Vec3{0.0, 1.0, 0.0} : Vec3{0.0, 0.0, 1.0};
    right_ = Normalize(Cross(forward_, up));
    up_ = Cross(right_, forward_);
    fovX = std::min(std::max(fovXDegrees, 1.0), 170.0);
    tanX_ = std::tan(fovX * kPi / 360.0);
    tanY_ = tanX_ * h / w;
  }

  CamPoint ToCamera(const Vec3& p) const {
    Vec3 d = Sub(p, eye_);
    return {Dot(d, right_), Dot(d, up_), Dot(d, forward_)};
  }
  // Picture coordinates of a camera-space point in front of the near plane.
  void Project(const CamPoint& c, double* sx, double* sy) const {
    *sx = w_ * 0.5 * (1.0 + c.x / (c.z * tanX_));
    *sy = h_ * 0.5 * (1.0 - c.y / (c.z * tanY_));
  }

  const Vec3& Eye() const { return eye_; }
  const Vec3& Forward() const { return forward_; }
  const Vec3& Right() const { return right_; }
  const Vec3& Up() const { return up_; }
  double Near() const { return near_; }

  double fovX;

 private:
  Vec3 eye_, forward_, right_, up_;
  int w_, h_;
  double near_;
  double tanX_ = 1.0, tanY_ = 1.0;
};

struct Bounds {
  Vec3 lo{std::numeric_limits<double>::max(), std::numeric_limits<double>::max(),
          std::numeric_limits<double>::max()};
  Vec3 hi{-std::numeric_limits<double>::max(), -std::numeric_limits<double>::max(),
          -std::numeric_limits<double>::max()};
  bool any = false;
  bool meshesOnly = false;  // the points were the meshes' alone

  void Add(const Vec3& p) {
    if (!Finite(p)) return;
    lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
    hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
    any = true;
  }
  Vec3 Center() const { return Scale(tsm::Vec3{lo.x + hi.x, lo.y + hi.y, lo.z + hi.z}, 0.5); }
  double Radius() const { return 0.5 * Length(Sub(hi, lo)); }
};

// Calls fn(corners, face) for every face of every mesh instance, its corners in world
// space.
template <class Fn>
void ForEachFace(const ViewScene& scene, Fn&& fn) {
  std::vector<Vec3> vertices;
  for (const ViewInstance& i : scene.instances) {
    const ViewMesh* mesh = InstanceVertices(scene, i, &vertices);
    if (mesh == nullptr) continue;
    for (const ViewFace& f : mesh->faces) {
      const Vec3 p[3] = {vertices[f.v[0]], vertices[f.v[1]], vertices[f.v[2]]};
      fn(p, f);
    }
  }
}

// Calls fn for every vertex of a mesh face, or, when meshesOnly is false, for every
// point of the scene: mesh vertices, shape points, lights and cameras.
template <class Fn>
void ForEachPoint(const ViewScene& scene, bool meshesOnly, Fn&& fn) {
  ForEachFace(scene, [&fn](const Vec3 (&p)[3], const ViewFace&) {
    for (const Vec3& v : p) {
      if (Finite(v)) fn(v);
    }
  });
  if (meshesOnly) return;
  for (const ViewShape& s : scene.shapes) {
    for (const Vec3& p : s.points) {
      if (Finite(p)) fn(p);
    }
  }
  for (const ViewLight& l : scene.lights) fn(l.position);
  for (const ViewCamera& c : scene.cameras) fn(c.position);
}

// The bounds of the meshes, or of every point when no mesh has a face (meshesOnly then
// false), or of every point when all is true.
Bounds SceneBounds(const ViewScene& scene, bool all) {
  Bounds b;
  if (!all) ForEachPoint(scene, true, [&](const Vec3& p) { b.Add(p); });
  b.meshesOnly = b.any;
  if (!b.any) ForEachPoint(scene, false, [&](const Vec3& p) { b.Add(p); });
  return b;
}

class Rasterizer {
 public:
  Rasterizer(const View& view, Image* image)
      : view_(view),
        image_(image),
        depth_(static_cast<size_t>(image->width) * image->height, 0.0f) {}

  // One triangle in world space with its flat colour (bytes).
  void Triangle(const Vec3 (&p)[3], const uint8_t color[3]) {
    CamPoint in[3] = {view_.ToCamera(p[0]), view_.ToCamera(p[1]), view_.ToCamera(p[2])};
    // Clip against the near plane: at most four corners remain.
    CamPoint poly[4];
    int n = 0;
    for (int i = 0; i < 3; ++i) {
      const CamPoint& a = in[i];
      const CamPoint& b = in[(i + 1) % 3];
      bool aIn = a.z >= view_.Near(), bIn = b.z >= view_.Near();
      if (aIn) poly[n++] = a;
      if (aIn != bIn) {
        double t = (view_.Near() - a.z) / (b.z - a.z);
        poly[n++] = {a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t, view_.Near()};
      }
    }
    for (int i = 1; i + 1 < n; ++i) Fill(poly[0], poly[i], poly[i + 1], color);
  }

  // A line in world space, depth-tested, clipped to the near plane.
  void Line(const Vec3& p0, const Vec3& p1, const uint8_t color[3]) {
    CamPoint a = view_.ToCamera(p0), b = view_.ToCamera(p1);
    if (a.z < view_.Near() && b.z < view_.Near()) return;
    if (a.z < view_.Near() || b.z < view_.Near()) {
      double t = (view_.Near() - a.z) / (b.z - a.z);
      CamPoint c{a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t, view_.Near()};
      (a.z < view_.Near() ? a : b) = c;
    }
    double ax, ay, bx, by;
    view_.Project(a, &ax, &ay);
    view_.Project(b, &bx, &by);
    double wa = 1.0 / a.z, wb = 1.0 / b.z;
    // Keep the part inside the picture (and a pixel round it): the projection of a line
    // is a line, and 1/z varies linearly along it.
    double t0 = 0.0, t1 = 1.0;
    const double lo[2] = {-1.0, -1.0}, hi[2] = {image_->width + 1.0, image_->height + 1.0};
    const double from[2] = {ax, ay}, delta[2] = {bx - ax, by - ay};
    for (int k = 0; k < 2; ++k) {
      if (!std::isfinite(from[k]) || !std::isfinite(delta[k])) return;
      if (delta[k] == 0.0) {
        if (from[k] < lo[k] || from[k] > hi[k]) return;
        continue;
      }
      double ta = (lo[k] - from[k]) / delta[k], tb = (hi[k] - from[k]) / delta[k];
      t0 = std::max(t0, std::min(ta, tb));
      t1 = std::min(t1, std::max(ta, tb));
    }
    if (t0 > t1) return;
    double sx = ax + delta[0] * t0, sy = ay + delta[1] * t0, sw = wa + (wb - wa) * t0;
    double ex = ax + delta[0] * t1, ey = ay + delta[1] * t1, ew = wa + (wb - wa) * t1;
    double steps = std::ceil(std::max(std::fabs(ex - sx), std::fabs(ey - sy)));
    for (int i = 0; i <= static_cast<int>(steps); ++i) {
      double t = steps > 0.0 ? i / steps : 0.0;
      // A line lies on the surfaces it is drawn over; a little slack keeps it visible.
      Plot(static_cast<int>(std::floor(sx + (ex - sx) * t)),
           static_cast<int>(std::floor(sy + (ey - sy) * t)),
           static_cast<float>((sw + (ew - sw) * t) * 1.001), color);
    }
  }

  // Marks a point with a filled diamond (lights) or a hollow box with a nose (cameras),
  // drawn over everything.
  void Marker(const Vec3& p, const uint8_t color[3], bool box, const Vec3* toward) {
    CamPoint c = view_.ToCamera(p);
    if (c.z < view_.Near()) return;
    double sx, sy;
    view_.Project(c, &sx, &sy);
    if (!(std::fabs(sx) < 1e6 && std::fabs(sy) < 1e6)) return;
    int x = static_cast<int>(std::floor(sx)), y = static_cast<int>(std::floor(sy));
    static const uint8_t kOutline[3] = {0, 0, 0};
    const int r = 5;
    if (!box) {
      for (int dy = -r - 1; dy <= r + 1; ++dy) {
        for (int dx = -r - 1; dx <= r + 1; ++dx) {
          int d = std::abs(dx) + std::abs(dy);
          if (d <= r + 1) Put(x + dx, y + dy, d <= r ? color : kOutline);
        }
      }
      return;
    }
    for (int dy = -r; dy <= r; ++dy) {
      for (int dx = -r - 2; dx <= r + 2; ++dx) {
        bool edge = std::abs(dy) == r || std::abs(dx) == r + 2;
        if (edge) Put(x + dx, y + dy, color);
      }
    }
    if (toward != nullptr) {
      CamPoint t = view_.ToCamera(*toward);
      if (t.z >= view_.Near()) {
        double tx, ty;
        view_.Project(t, &tx, &ty);
        double dx = tx - sx, dy = ty - sy, l = std::sqrt(dx * dx + dy * dy);
        if (l > 0.0) {
          for (int i = 0; i <= 3 * r; ++i) {
            Put(static_cast<int>(std::floor(sx + dx / l * i)),
                static_cast<int>(std::floor(sy + dy / l * i)), color);
          }
        }
      }
    }
  }

 private:
  void Put(int x, int y, const uint8_t color[3]) {
    if (x < 0 || y < 0 || x >= image_->width || y >= image_->height) return;
    uint8_t* px = image_->At(x, y);
    px[0] = color[0];
    px[1] = color[1];
    px[2] = color[2];
  }

  void Plot(int x, int y, float invZ, const uint8_t color[3]) {
    if (x < 0 || y < 0 || x >= image_->width || y >= image_->height) return;
    float& d = depth_[static_cast<size_t>(y) * image_->width + x];
    if (invZ <= d) return;
    d = invZ;
    Put(x, y, color);
  }

  // Fills a triangle whose corners are in front of the near plane. The depth test uses
  // 1/z, which varies linearly across the picture.
  void Fill(const CamPoint& a, const CamPoint& b, const CamPoint& c, const uint8_t color[3]) {
    double x[3], y[3], w[3] = {1.0 / a.z, 1.0 / b.z, 1.0 / c.z};
    view_.Project(a, &x[0], &y[0]);
    view_.Project(b, &x[1], &y[1]);
    view_.Project(c, &x[2], &y[2]);
    for (int i = 0; i < 3; ++i) {
      if (!(std::fabs(x[i]) < 1e9 && std::fabs(y[i]) < 1e9)) return;  // nowhere near
    }
    double area = (x[1] - x[0]) * (y[2] - y[0]) - (x[2] - x[0]) * (y[1] - y[0]);
    if (!(std::fabs(area) > 1e-12)) return;  // degenerate
    double minX = std::max(0.0, std::floor(std::min({x[0], x[1], x[2]})));
    double maxX = std::min(image_->width - 1.0, std::ceil(std::max({x[0], x[1], x[2]})));
    double minY = std::max(0.0, std::floor(std::min({y[0], y[1], y[2]})));
    double maxY = std::min(image_->height - 1.0, std::ceil(std::max({y[0], y[1], y[2]})));
    if (minX > maxX || minY > maxY) return;
    for (int py = static_cast<int>(minY); py <= static_cast<int>(maxY); ++py) {
      for (int px = static_cast<int>(minX); px <= static_cast<int>(maxX); ++px) {
        double cx = px + 0.5, cy = py + 0.5;
        double e0 = ((x[2] - x[1]) * (cy - y[1]) - (y[2] - y[1]) * (cx - x[1])) / area;
        double e1 = ((x[0] - x[2]) * (cy - y[2]) - (y[0] - y[2]) * (cx - x[2])) / area;
        double e2 = 1.0 - e0 - e1;
        if (e0 < 0.0 || e1 < 0.0 || e2 < 0.0) continue;
        Plot(px, py, static_cast<float>(e0 * w[0] + e1 * w[1] + e2 * w[2]), color);
      }
    }
  }

  const View& view_;
  Image* image_;
  std::vector<float> depth_;  // 1/z of what each pixel shows; 0: nothing
};

uint8_t ToByte(double v) {
  if (!(v > 0.0)) return 0;
  return v >= 1.0 ? 255 : static_cast<uint8_t>(v * 255.0 + 0.5);
}

// Flat shading of a face with unit normal n (facing the viewer) at point c.
void Shade(const ViewScene& scene, const View& view, const Vec3& n, const Vec3& c,
           const ColorF& base, uint8_t out[3]) {
  const double kAmbient = 0.3, kFixed = 0.65, kFileLight = 0.5;
  // The fixed light comes from behind the viewer, above and to the left.
  Vec3 fixedDir = Normalize(
      Add(Add(Scale(view.Forward(), -1.0), Scale(view.Up(), 0.8)), Scale(view.Right(), -0.5)));
  double light = kAmbient + kFixed * std::max(0.0, Dot(n, fixedDir));
  double r = light, g = light, b = light;
  for (const ViewLight& l : scene.lights) {
    if (l.off) continue;
    Vec3 toLight = Normalize(Sub(l.position, c));
    double k = kFileLight * std::max(0.0, Dot(n, toLight)) * std::max(0.0f, l.multiplier);
    r += k * l.color.r;
    g += k * l.color.g;
    b += k * l.color.b;
  }
  out[0] = ToByte(base.r * std::min(r, 1.25));
  out[1] = ToByte(base.g * std::min(g, 1.25));
  out[2] = ToByte(base.b * std::min(b, 1.25));
}

}  // namespace

void Image::Resize(int w, int h) {
  width = w;
  height = h;
  rgb.assign(static_cast<size_t>(w) * h * 3, 0);
}

RenderResult RenderPreview(const ViewScene& scene, const RenderOptions& options, Image* image) {
  RenderResult result;
  if (options.width < 1 || options.height < 1 || options.width > kMaxImageSide ||
      options.height > kMaxImageSide) {
    result.error = "the picture size must be between 1 and " + std::to_string(kMaxImageSide) +
                   " pixels each way";
    return result;
  }
  image->Resize(options.width, options.height);
  for (size_t i = 0; i < image->rgb.size(); i += 3) {
    image->rgb[i] = kBackground[0];
    image->rgb[i + 1] = kBackground[1];
    image->rgb[i + 2] = kBackground[2];
  }

  const ViewCamera* camera = nullptr;
  if (!options.camera.empty()) {
    for (const ViewCamera& c : scene.cameras) {
      if (c.name == options.camera) {
        camera = &c;
        break;
      }
    }
    if (camera == nullptr) {
      result.error = "the file has no camera named \"" + options.camera + "\"";
      if (!scene.cameras.empty()) {
        result.error += " (its cameras:";
        for (const ViewCamera& c : scene.cameras) result.error += " \"" + c.name + "\"";
        result.error += ")";
      }
      return result;
    }
  } else if (!scene.cameras.empty()) {
    camera = &scene.cameras.front();
  }

  result.ok = true;
  if (scene.Empty()) {
    result.empty = true;
    result.view = "nothing";
    return result;
  }

  Bounds all = SceneBounds(scene, true);
  double extent = all.any ? std::max(all.Radius(), 1e-3) : 1.0;
  Vec3 eye, target;
  double fov = kAutoFovDegrees;
  if (camera != nullptr) {
    eye = camera->position;
    target = camera->target;
    if (camera->lens > 0.0f && std::isfinite(camera->lens)) fov = 2400.0 / camera->lens;
    result.view = "camera \"" + camera->name + "\"";
  } else {
    Bounds fit = SceneBounds(scene, false);
    target = fit.Center();
    // Looking down from the front right, 45 degrees round and 30 degrees up, from just
    // far enough that every corner of the bounds lies inside nine tenths of the picture.
    const double kRound = kPi / 4.0, kUp = kPi / 6.0, kMargin = 0.9;
    Vec3 dir{std::cos(kUp) * std::sin(kRound), -std::cos(kUp) * std::cos(kRound), std::sin(kUp)};
    View axes(Add(target, dir), target, kAutoFovDegrees, options.width, options.height, 1.0);
    double tanX = std::tan(kAutoFovDegrees * kPi / 360.0) * kMargin;
    double tanY = tanX * options.height / options.width;
    double dist = std::max(fit.Radius(), 1e-3) * 0.01;
    ForEachPoint(scene, fit.meshesOnly, [&](const Vec3& p) {
      Vec3 d = Sub(p, target);
      double along = Dot(d, dir);
      dist = std::max(dist, along + std::fabs(Dot(d, axes.Right())) / tanX);
      dist = std::max(dist, along + std::fabs(Dot(d, axes.Up())) / tanY);
    });
    eye = Add(target, Scale(dir, dist));
    result.view = "three-quarter view";
  }
  double reach = Length(Sub(eye, all.Center())) + extent;
  View view(eye, target, fov, options.width, options.height, std::max(reach * 1e-5, 1e-6));
  Rasterizer raster(view, image);

  ForEachFace(scene, [&](const Vec3 (&p)[3], const ViewFace& f) {
    if (!Finite(p[0]) || !Finite(p[1]) || !Finite(p[2])) return;
    Vec3 n = Normalize(Cross(Sub(p[1], p[0]), Sub(p[2], p[0])));
    if (Length(n) == 0.0) return;
    const ViewMaterial* mat = f.material >= 0 ? &scene.materials[f.material] : nullptr;
    // Faces are counter-clockwise seen from the front: a normal pointing away from the
    // eye is a back face.
    if (Dot(n, Sub(view.Eye(), p[0])) < 0.0) {
      if (mat == nullptr || !mat->twoSided) return;
      n = Scale(n, -1.0);
    }
    ColorF base =
        mat != nullptr ? mat->diffuse : ColorF{kNoMaterialGrey, kNoMaterialGrey, kNoMaterialGrey};
    Vec3 centre = Scale(Add(Add(p[0], p[1]), p[2]), 1.0 / 3.0);
    uint8_t color[3];
    Shade(scene, view, n, centre, base, color);
    raster.Triangle(p, color);
  });

  static const uint8_t kShapeColor[3] = {255, 205, 40};
  for (const ViewShape& s : scene.shapes) {
    for (size_t i = 1; i < s.points.size(); ++i) {
      if (Finite(s.points[i - 1]) && Finite(s.points[i]))
        raster.Line(s.points[i - 1], s.points[i], kShapeColor);
    }
  }
  for (const ViewLight& l : scene.lights) {
    uint8_t c[3] = {ToByte(l.color.r), ToByte(l.color.g), ToByte(l.color.b)};
    if (l.off) c[0] = c[1] = c[2] = 90;
    if (c[0] < 60 && c[1] < 60 && c[2] < 60) c[0] = c[1] = c[2] = 200;  // keep it visible
    raster.Marker(l.position, c, false, nullptr);
  }
  static const uint8_t kCameraColor[3] = {235, 235, 235};
  for (const ViewCamera& c : scene.cameras) {
    if (&c == camera) continue;
    raster.Marker(c.position, kCameraColor, true, &c.target);
  }
  return result;
}

}  // namespace tsm
