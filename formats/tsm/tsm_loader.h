// Reading an exported chunk file (.tsm) back into the in-memory scene: materials, meshes,
// lights, cameras, shapes, the hierarchy and every track, so that exporting the scene
// again gives the file back. docs/importers.md says what a read-back scene holds and
// what the file cannot give back.
#ifndef TSM_FORMATS_TSM_TSM_LOADER_H
#define TSM_FORMATS_TSM_TSM_LOADER_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "formats/scene_import.h"
#include "scene/mem_controllers.h"

namespace tsm {

// Loads the chunk file at path into scene, which must be empty. A file that cannot be
// read or whose chunks are damaged fails with the chunk reader's message ("offset N:
// ..."), prefixed with the path; chunks of unknown ids are skipped with a notice naming
// the id and the offset.
ImportResult LoadTsmScene(const std::string& path, MemScene& scene);

// How a file is read back for a reader that needs the scene at its current time only (a
// preview): the scene never holds the keys. A node's position, rotation and scale tracks
// become its static transform at the file's current time (without controllers; a roll
// track is left out), and every other track a controller without keys that answers the
// track's value there. Each position track is handed to positionTrack first, with the
// node it moves.
//
// Such a reader may also take the nodes one by one instead of the whole scene: nodeDone
// is then called once for every node, complete, with its number (the order the nodes
// were made in, from 0) and its parent's (-1: the root); the node leaves the scene after
// the call, so that the nodes are never all held at once. Mesh and dummy nodes go as
// soon as they are read; cameras, lights, their targets and shapes at the end, in the
// order they were made. A node's parent may then be a stand-in outside the scene that
// holds the parent's world transform at the current time. A small mesh is then read
// from the file again when its first node needs it, and every mesh is let go after the
// last node that holds it: objectDone is told of it first, as no later node holds that
// object.
struct TsmReadOptions {
  bool holdAtCurrentTime = false;
  std::function<void(const MemNode* node, const MemController& track)> positionTrack;
  std::function<void(MemNode* node, int number, int parent)> nodeDone;
  std::function<void(const MemObject* object)> objectDone;
};

// The same from the bytes data[0, size) of a file; label names it in messages.
ImportResult ReadTsmScene(const uint8_t* data, size_t size, const std::string& label,
                          MemScene& scene, const TsmReadOptions& options = TsmReadOptions());

}  // namespace tsm

#endif  // TSM_FORMATS_TSM_TSM_LOADER_H
