#include "run/progress.h"
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
        // Each section is reported before and after it is written; the section writers
        // may report finer steps in between.
        if (!WriteTopChunk(FILE_VERSION, stream, nullptr)) return false;
        ReportProgress(ProgressStage::EDITOR_SECTION, 0.0);
        if (!WriteEditorChunk(EDITOR_DATA, stream, nullptr)) return false;
        ReportProgress(ProgressStage::EDITOR_SECTION, 1.0);
        ReportProgress(ProgressStage::KEYFRAMER_SECTION, 0.0);
        if (!WriteKeyframerSection(stream)) return false;
        ReportProgress(ProgressStage::KEYFRAMER_SECTION, 1.0);
        return true;
      default:
        return true;  // an id without a body here: a bare header
    }
  });
}

}  // namespace tsm
