// The material writer: one MATERIAL_BLOCK per material record, with its name, colours,
// percentages, shading, switches and maps as nested chunks.
#ifndef TSM_MATERIAL_MATERIAL_WRITER_H
#define TSM_MATERIAL_MATERIAL_WRITER_H

#include <cstdint>

#include "material/material_table.h"
#include "writer/chunk_ids.h"
#include "writer/chunk_io.h"

namespace tsm {

// The record that a MATERIAL_BLOCK request writes. The editor writer sets it before each
// request; it must stay valid while the block is written. Not owned.
extern const MaterialRecord* CurrentMaterial;

// Writes the chunk id (its low 16 bits count) and everything below it; answers 1 when
// all of it was written, 0 as soon as a write fails (the chunks still open keep their
// placeholder lengths). From outside, only MATERIAL_BLOCK is requested, with context
// null; the block and its map and mask chunks read CurrentMaterial.
//
// The block writes its nested chunks by calling this function again with the child's id;
// context then points at the child's data:
//   MATERIAL_NAME, MAP_FILE_NAME                    const char* (NUL-terminated text)
//   MATERIAL_AMBIENT/DIFFUSE/SPECULAR, COLOR_BYTES,
//   COLOR_BYTES_LINEAR, MAP_COLOR_1/2, MAP_*_TINT   const uint8_t[3] (red, green, blue)
//   the six percentage chunks, PERCENTAGE,
//   MATERIAL_SHADING, MAP_BUMP_AMOUNT, MAP_TILING   const uint16_t*
//   MATERIAL_WIRE_SIZE, MAP_BLUR, MAP_U/V_SCALE,
//   MAP_U/V_OFFSET, MAP_ROTATION                    const float* (MAP_ROTATION in degrees)
//   map and mask data chunks, EXTRA_DATA            const DataBlock*
//   MAP_AUTO_REFLECTION                             const MapParams* (the reflection map's)
//   map and mask chunks of the slots                null: the slot of CurrentMaterial
// A chunk whose data is missing (null context, or no CurrentMaterial) is written as a
// bare 6-byte header, as is any id outside the material catalogue; both answer 1.
int WriteMaterialChunk(int32_t id, OutStream& stream, void* context);

// Body of the map chunk of slot (0..7) of CurrentMaterial: PERCENTAGE (for the bump slot
// amount / 4, then the file name and MAP_BUMP_AMOUNT), MAP_FILE_NAME, and the parameter
// chunks unless the map is an automatic reflection. Answers 1, or 0 on a failed write.
// Expects CurrentMaterial to hold a map record in slot.
int WriteMapChunk(int slot, OutStream& stream);

// Body of the mask chunk of slot (0..7) of CurrentMaterial: MAP_FILE_NAME, then the
// parameter chunks unless the mask is an automatic reflection. Answers 1 or 0. Expects
// CurrentMaterial to hold a map record in slot.
int WriteMaskChunk(int slot, OutStream& stream);

// The parameter chunks of a map or mask block: MAP_TILING and MAP_BLUR always; scales,
// offsets, MAP_ROTATION (degrees), colour 1, colour 2 and the three tints only where they
// differ from their defaults. A float that is not a number counts as its default.
// Answers 1 or 0.
int WriteMapParams(const MapParams& params, OutStream& stream);

}  // namespace tsm

#endif  // TSM_MATERIAL_MATERIAL_WRITER_H
