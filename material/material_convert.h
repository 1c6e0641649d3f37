// Conversion of host materials into material records, and its small helpers.
#ifndef TSM_MATERIAL_MATERIAL_CONVERT_H
#define TSM_MATERIAL_MATERIAL_CONVERT_H

#include <cstddef>
#include <cstdint>

namespace tsm {

struct PackedColor {
  uint8_t rgb[3] = {};
};

// Three float components (nominally 0..1) as bytes: each clamped to 0..1, times 255,
// truncated toward zero. 1.0 gives 255, 0.5 gives 127, 1.01 gives 255, -0.2 gives 0.
PackedColor PackColor(float r, float g, float b);

// A fraction as a percentage: v * 100 + 0.5 in double precision, truncated toward zero.
// 0.3 gives 30, 0.125 gives 13, -0.3 gives -29.
int32_t ToPercent(float v);

// The host map channel of a map slot; 1 for slot 1 and for any number outside 0..7.
int SlotChannel(int slot);

// Copies the file part of path (after the last '\' or '/'; the whole path when it has
// neither) into out, cut to outSize - 1 characters and NUL-terminated.
void CopyFilePart(const char* path, char* out, size_t outSize);

}  // namespace tsm

#endif  // TSM_MATERIAL_MATERIAL_CONVERT_H
