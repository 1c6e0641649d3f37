#include "view/png_write.h"

#include <png.h>

#include <csetjmp>

#include "io/output_file.h"

namespace tsm {

namespace {

// libpng reports its errors through a callback that must not return; the message is
// kept for the caller and the jump goes back to WritePng.
void OnPngError(png_structp png, png_const_charp message) {
  std::string* error = static_cast<std::string*>(png_get_error_ptr(png));
  if (error != nullptr && error->empty()) *error = message;
  png_longjmp(png, 1);
}

void OnPngWarning(png_structp, png_const_charp) {}

// The message of a write that failed: the stream's own error says why.
const char kStreamFailed[] = "the stream failed";

void OnPngWrite(png_structp png, png_bytep data, png_size_t size) {
  OutStream* out = static_cast<OutStream*>(png_get_io_ptr(png));
  if (out->Write(data, size) != size) png_error(png, kStreamFailed);
}

void OnPngFlush(png_structp) {}

// Writes the picture into out; answers false when libpng gave up. Kept apart from
// WritePng so that nothing with a destructor lives between setjmp and longjmp.
bool WriteRows(OutStream& out, const Image& image, std::string* pngError) {
  png_structp png =
      png_create_write_struct(PNG_LIBPNG_VER_STRING, pngError, OnPngError, OnPngWarning);
  if (png == nullptr) return false;
  png_infop info = png_create_info_struct(png);
  if (info == nullptr) {
    png_destroy_write_struct(&png, nullptr);
    return false;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_set_write_fn(png, &out, OnPngWrite, OnPngFlush);
  png_set_IHDR(png, info, static_cast<png_uint_32>(image.width),
               static_cast<png_uint_32>(image.height), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < image.height; ++y) {
    png_write_row(png, const_cast<png_bytep>(image.At(0, y)));
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace

bool WritePng(const char* path, const Image& image, std::string* error) {
  if (image.width < 1 || image.height < 1 ||
      image.rgb.size() != static_cast<size_t>(image.width) * image.height * 3) {
    *error = std::string(path) + ": the picture is empty";
    return false;
  }
  OutputResult written = WriteOutputFile(path, [&image](OutStream& out, std::string* why) {
    std::string pngError;
    if (WriteRows(out, image, &pngError)) return true;
    if (pngError != kStreamFailed)
      *why = pngError.empty() ? "the picture could not be made" : pngError;
    return false;
  });
  if (!written.ok) *error = written.message;
  return written.ok;
}

}  // namespace tsm
