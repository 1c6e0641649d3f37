// Writing a picture as a PNG file, through libpng.
#ifndef TSM_VIEW_PNG_WRITE_H
#define TSM_VIEW_PNG_WRITE_H

#include <string>

#include "view/render.h"

namespace tsm {

// Writes image as an 8-bit RGB PNG at path (created or replaced), through the output file
// (io/output_file.h): what was at path stays as it was unless the picture is complete.
// Answers false with "PATH: what failed: the system's reason" in *error when the file
// cannot be created or written.
bool WritePng(const char* path, const Image& image, std::string* error);

}  // namespace tsm

#endif  // TSM_VIEW_PNG_WRITE_H
