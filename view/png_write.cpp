#include "view/png_write.h"

#include <png.h>
#include <sys/stat.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>

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

// Writes the rows; answers false when libpng gave up. Kept apart from WritePng so that
// nothing with a destructor lives between setjmp and longjmp.
bool WriteRows(std::FILE* f, const Image& image, std::string* pngError) {
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
  png_init_io(png, f);
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
    *error = "the picture is empty";
    return false;
  }
  std::FILE* f = std::fopen(path, "wb");
  if (f == nullptr) {
    *error = std::strerror(errno);
    return false;
  }
  // Only a regular file is removed after a failure; a device or a pipe stays.
  struct stat st;
  const bool regular = ::fstat(fileno(f), &st) == 0 && S_ISREG(st.st_mode);
  std::string pngError;
  bool ok = WriteRows(f, image, &pngError);
  if (ok && std::fflush(f) != 0) {
    ok = false;
    pngError = std::strerror(errno);
  }
  if (std::ferror(f) && pngError.empty()) pngError = "write error";
  ok = ok && !std::ferror(f);
  if (std::fclose(f) != 0 && ok) {
    ok = false;
    pngError = std::strerror(errno);
  }
  if (!ok) {
    if (regular) std::remove(path);
    *error = pngError.empty() ? "the picture could not be written" : pngError;
  }
  return ok;
}

}  // namespace tsm
