// What is checked of a glTF file before the glTF library sees it: the JSON's nesting (the
// library recurses and would run out of stack), the GLB header, the values the standard
// forbids that the library would take or wrap (negative offsets, strides and lengths, a
// negative default scene, a zero aspect ratio), and the external buffers the file names,
// so that only those are ever read.
#ifndef TSM_FORMATS_GLTF_GLTF_PRESCAN_H
#define TSM_FORMATS_GLTF_GLTF_PRESCAN_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace tsm {

// The most levels of arrays and objects within each other, as in our JSON scene format.
constexpr int kMaxGltfNesting = 1000;

struct GltfPrescan {
  bool binary = false;     // a GLB: the JSON is its first chunk
  size_t jsonBegin = 0;     // where the JSON text lies in the file's bytes
  size_t jsonSize = 0;
  // Each external buffer's reference, decoded as the library decodes it, with the
  // largest byteLength any buffer gives it.
  std::map<std::string, uint64_t> buffers;
  // Each of those references with the index of the first buffer that names it.
  std::map<std::string, size_t> bufferIndex;
};

// Checks the file's bytes; throws ImportError naming what is wrong and where. A GLB whose
// chunks do not add up, or JSON that does not parse, is left to the library's message.
GltfPrescan PrescanGltf(std::string_view bytes);

// A GLB as the glTF library is given it when its buffers can be read where they lie: the
// library copies every buffer of the binary chunk into memory of its own, which for a
// large file costs more than all the rest of the load.
struct GlbShadow {
  // The file's header, its JSON chunk with the byteLength of every buffer without "uri"
  // written as 1 (padded with spaces, so that every offset in the text stays), and a
  // binary chunk of four zero bytes. The library then checks and parses it as the file.
  std::string bytes;
  const unsigned char* binary = nullptr;  // the file's binary chunk, where it lies
  size_t binarySize = 0;
  // The buffers of the binary chunk: index among the JSON's buffers, and byteLength.
  std::map<size_t, uint64_t> embedded;
};

// Makes the shadow of the GLB in bytes and answers true, or answers false when the file
// is anything but plain: a header and JSON chunk and binary chunk that fit each other and
// the file exactly, JSON this reader follows to its end, each embedded buffer with one
// byteLength of digits from 1 to the binary chunk's size, and no image read from a
// buffer view. The library then gets the file itself and says what it finds.
bool MakeGlbShadow(std::string_view bytes, GlbShadow* out);

}  // namespace tsm

#endif  // TSM_FORMATS_GLTF_GLTF_PRESCAN_H
