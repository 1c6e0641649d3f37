// The editor section's writer split by concern: the section and named objects
// (editor_writer.cpp), triangle meshes (mesh_writer.cpp), lights and cameras
// (light_camera_writer.cpp) and shape points (shape_writer.cpp). Every chunk is still
// written by WriteEditorChunk (file_writer.h); the functions here write the bodies of the
// chunk ids of one concern, inside the framing that WriteEditorChunk opened.
//
// A body answers true when it was written, and also after a soft error (a warning box,
// suppressed in quiet mode): its chunk is then closed with the length of what it holds.
// It answers false when a write failed or a hard error ends the export; the chunk and
// every enclosing one are then left unpatched.
#ifndef TSM_WRITER_EDITOR_WRITER_H
#define TSM_WRITER_EDITOR_WRITER_H

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "run/host_scene.h"
#include "run/scene_lists.h"
#include "writer/chunk_io.h"

namespace tsm {

// A mesh with more faces or more vertices than this is left out of the file.
constexpr int kMaxMeshElements = 65530;

// The warning texts of the editor section.
extern const char* const kUnknownChunkText;       // "Unknown Chunk"
extern const char* const kVertColorSizeText;      // "Vert color size is wrong!"
extern const char* const kMaterialMissingText;    // "Material on Object doesn't exist!"
extern const char* const kMaterialGetErrorText;   // "Error getting material on Object!"
extern const char* const kBogusMaterialIdFormat;  // "Object %s's with face id %d has ..."

// What TRIANGLE_MESH hands to its vertex, colour, face and face-material chunks.
struct MeshContext {
  Matrix3 geometry;            // what the vertices are multiplied by
  const Mesh* mesh = nullptr;  // the converted object's mesh; not owned
  SceneNode* node = nullptr;   // the mesh's node
  // Set by MESH_FACES before each FACE_MATERIAL it requests:
  std::vector<int32_t> slotMap;  // material number per multi/sub slot
  bool slotMapInUse = false;     // the node's material is a multi/sub material
  int32_t groupMaterial = -1;    // material number of the group being written
  // With slotMapInUse: the faces of each material number in face order, bucketed in one
  // pass, and the first face whose material id has no slot (-1: none).
  std::unordered_map<int32_t, std::vector<uint16_t>> facesByMaterial;
  int bogusFace = -1;
};

// Shows the soft-error warning text (unless QuietMode) and answers true, so that the
// chunk ends with what it holds and the export goes on.
bool SoftError(const char* text);

// The run's current time (ticks) and the host's current time; 0 outside a run.
TimeValue RunTime();
TimeValue HostCurrentTime();

// Bodies of NAMED_OBJECT's object chunks and their children, by concern. Each answers
// true or false as above; *known is set false when the id is not of that concern.
bool WriteMeshBody(uint16_t id, OutStream& stream, void* context, bool* known);
bool WriteLightCameraBody(uint16_t id, OutStream& stream, void* context, bool* known);
bool WriteShapeBody(uint16_t id, OutStream& stream, void* context, bool* known);

// Releases the converted object an item holds when the conversion made it (it is not
// the entry's own object) and clears the field; an object that already was a triangle
// mesh stays in the field. Safe to call again.
void ReleaseConverted(ObjectListItem* item);

}  // namespace tsm

#endif  // TSM_WRITER_EDITOR_WRITER_H
