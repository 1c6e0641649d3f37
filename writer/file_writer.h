// The writers of the file's sections: the top-level chunk, the editor section and the
// keyframer section. Each writer takes a chunk id (its low 16 bits count), the stream and
// a context, and answers 1 when the chunk and everything below it was written, 0 when a
// write failed; a 0 leaves every chunk still open unpatched.
#ifndef TSM_WRITER_FILE_WRITER_H
#define TSM_WRITER_FILE_WRITER_H

#include "writer/chunk_ids.h"
#include "writer/chunk_io.h"

namespace tsm {

// MOD_MAIN or MAIN: the whole file (FILE_VERSION, EDITOR_DATA, KEYFRAMER_DATA);
// FILE_VERSION: the version chunk; any other id: a bare 6-byte chunk. context is unused.
int WriteTopChunk(int32_t id, OutStream& stream, void* context);

// The editor section, EDITOR_DATA, with context null.
int WriteEditorChunk(int32_t id, OutStream& stream, void* context);

// Makes stream the keyframer writer's stream and writes KEYFRAMER_DATA. Answers true on
// success.
bool WriteKeyframerSection(OutStream& stream);

}  // namespace tsm

#endif  // TSM_WRITER_FILE_WRITER_H
