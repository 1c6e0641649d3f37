#include "writer/file_writer.h"

namespace tsm {

// The editor section. Its objects and materials are added as their writers land; until
// then the section is an empty chunk.
int WriteEditorChunk(int32_t id, OutStream& stream, void* /*context*/) {
  return ChunkFraming(stream, id, [] { return true; });
}

}  // namespace tsm
