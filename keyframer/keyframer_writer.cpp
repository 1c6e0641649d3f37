#include "writer/file_writer.h"

namespace tsm {

namespace {
// The keyframer writer takes its stream from here for the whole section.
OutStream* keyframerStream = nullptr;
}  // namespace

// The keyframer section. Its nodes and tracks are added as their writers land; until then
// the section is an empty chunk.
bool WriteKeyframerSection(OutStream& stream) {
  keyframerStream = &stream;
  return ChunkFraming(*keyframerStream, KEYFRAMER_DATA, [] { return true; }) == 1;
}

}  // namespace tsm
