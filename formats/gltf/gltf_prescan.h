// What is checked of a glTF file before the glTF library sees it: the JSON's nesting (the
// library recurses and would run out of stack), the GLB header, the values the standard
// forbids that the library would take or wrap (negative offsets, strides and lengths, a
// negative default scene, a zero aspect ratio), and the external buffers the file names,
// so that only those are ever read.
#ifndef TSM_FORMATS_GLTF_GLTF_PRESCAN_H
#define TSM_FORMATS_GLTF_GLTF_PRESCAN_H

#include <cstdint>
#include <map>
#include <string>

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
};

// Checks the file's bytes; throws ImportError naming what is wrong and where. A GLB whose
// chunks do not add up, or JSON that does not parse, is left to the library's message.
GltfPrescan PrescanGltf(const std::string& bytes);

}  // namespace tsm

#endif  // TSM_FORMATS_GLTF_GLTF_PRESCAN_H
