// The preview picture of a file's scene: a small software rasteriser with a depth
// buffer and flat shading, seen through one of the file's cameras or from an automatic
// three-quarter view. Lights and cameras are marked with small symbols, shapes are drawn
// as lines through their points.
#ifndef TSM_VIEW_RENDER_H
#define TSM_VIEW_RENDER_H

#include <cstdint>
#include <string>
#include <vector>

#include "view/scene_view.h"

namespace tsm {

// An 8-bit RGB picture, rows from the top, three bytes per pixel.
struct Image {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;  // width * height * 3 bytes

  void Resize(int w, int h);
  uint8_t* At(int x, int y) { return &rgb[(static_cast<size_t>(y) * width + x) * 3]; }
  const uint8_t* At(int x, int y) const { return &rgb[(static_cast<size_t>(y) * width + x) * 3]; }
};

// What the picture's background is filled with.
constexpr uint8_t kBackground[3] = {38, 42, 50};
// The colour of faces without a material (0..1).
constexpr float kNoMaterialGrey = 0.7f;
// Field of view of the automatic view, horizontal, degrees.
constexpr double kAutoFovDegrees = 45.0;
// Largest picture side accepted.
constexpr int kMaxImageSide = 8192;

struct RenderOptions {
  int width = 800;     // pixels, 1..kMaxImageSide
  int height = 600;    // pixels, 1..kMaxImageSide
  std::string camera;  // the camera to look through; empty: the file's first camera
};

// How a picture was made.
struct RenderResult {
  bool ok = false;
  std::string error;   // when !ok: what is wrong ("no camera named ...")
  bool empty = false;  // the scene had nothing to draw: the picture is the background
  std::string view;    // the camera looked through, or "three-quarter view"
};

// Draws scene into *image at the size the options give. The view is the named camera,
// else the first camera, else an automatic three-quarter view that fits the bounds of
// all meshes (of everything else when there is no mesh). Faces are lit by a fixed light
// from above the viewer plus every light of the file that is not off; back faces are
// drawn only for two-sided materials. A camera's lens gives its horizontal field of view
// as 2400 / lens degrees.
RenderResult RenderPreview(const ViewScene& scene, const RenderOptions& options, Image* image);

}  // namespace tsm

#endif  // TSM_VIEW_RENDER_H
