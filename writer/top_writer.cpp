#include "writer/file_writer.h"

namespace tsm {

namespace {
constexpr uint32_t kFileVersion = 3;
}  // namespace

int WriteTopChunk(int32_t id, OutStream& stream, void* /*context*/) {
  return ChunkFraming(stream, id, [&]() -> bool {
    switch (ChunkLow(id)) {
      case FILE_VERSION:
        return WriteU32(stream, kFileVersion);
      case MAIN:
      case MOD_MAIN:
        return WriteTopChunk(FILE_VERSION, stream, nullptr) &&
               WriteEditorChunk(EDITOR_DATA, stream, nullptr) && WriteKeyframerSection(stream);
      default:
        return true;  // an id without a body here: a bare header
    }
  });
}

}  // namespace tsm
