// The editor section: mesh version, materials, master scale and one named object per
// object of the run's object list, with its property chunk.
#include "writer/editor_writer.h"

#include "material/material_table.h"
#include "material/material_writer.h"
#include "plugin/messages.h"
#include "run/export_run.h"
#include "run/progress.h"
#include "writer/file_writer.h"

namespace tsm {

const char* const kUnknownChunkText = "Unknown Chunk";
const char* const kVertColorSizeText = "Vert color size is wrong!";
const char* const kMaterialMissingText = "Material on Object doesn't exist!";
const char* const kMaterialGetErrorText = "Error getting material on Object!";
const char* const kBogusMaterialIdFormat = "Object %s's with face id %d has bogus material index";

namespace {

constexpr uint32_t kMeshVersion = 3;

// The mesh of an item's converted object, or null when there is none.
const Mesh* ConvertedMesh(const ObjectListItem& item) {
  return item.converted != nullptr ? item.converted->ObjectMesh() : nullptr;
}

bool TooLarge(const Mesh* mesh) {
  return mesh != nullptr &&
         (mesh->getNumFaces() > kMaxMeshElements || mesh->getNumVerts() > kMaxMeshElements);
}

// The box of a mesh that is too large: the name in the text of 40236, caption
// "Export Error", shown also in quiet mode.
void ShowTooLarge(const ObjectListItem& item) {
  const char* format = LoadResourceString(IDS_TOO_LARGE);
  ShowExportErrorBox(FormatWithName(format, item.entry->name.c_str()).c_str());
}

bool WriteSection(OutStream& stream) {
  if (!WriteEditorChunk(MESH_VERSION, stream, nullptr)) return false;
  // The count is read again before each pass.
  for (int32_t i = 0; RunMaterials != nullptr && i < RunMaterials->Count(); ++i) {
    CurrentMaterial = RunMaterials->Record(i);
    if (!WriteMaterialChunk(MATERIAL_BLOCK, stream, nullptr)) return false;
  }
  if (!WriteEditorChunk(MASTER_SCALE, stream, nullptr)) return false;
  if (RunObjects == nullptr) return true;
  ProgressCounter progress(ProgressStage::EDITOR_SECTION, RunObjects->Count());
  for (ObjectListItem* item = RunObjects->First(); item != nullptr; item = item->next) {
    progress.Step();
    SceneEntry* entry = item->entry;
    switch (entry->kind) {
      case ENTRY_DUMMY:
      case ENTRY_CAMERA_TARGET:
      case ENTRY_LIGHT_TARGET:
        continue;
      case ENTRY_MESH: {
        item->converted = entry->object->ConvertToClass(HostCurrentTime(), triObjectClassID);
        if (TooLarge(ConvertedMesh(*item))) {
          ShowTooLarge(*item);
          ReleaseConverted(item);
          continue;
        }
        int ok = WriteEditorChunk(NAMED_OBJECT, stream, item);
        // TRIANGLE_MESH releases what it was given; a failure before it reached the mesh
        // leaves the object here.
        ReleaseConverted(item);
        if (!ok) return false;
        continue;
      }
      default:
        if (!WriteEditorChunk(NAMED_OBJECT, stream, item)) return false;
    }
  }
  return true;
}

bool WriteNamedObject(OutStream& stream, ObjectListItem* item) {
  if (!WriteText(stream, item->entry->name.c_str())) return false;
  if (!WriteEditorChunk(OBJECT_PROPERTIES, stream, item)) return false;
  switch (item->entry->kind) {
    case ENTRY_MESH:
      return WriteEditorChunk(TRIANGLE_MESH, stream, item);
    case ENTRY_CAMERA:
      return WriteEditorChunk(CAMERA, stream, item);
    case ENTRY_POINT_LIGHT:
    case ENTRY_SPOT_LIGHT:
      return WriteEditorChunk(LIGHT, stream, item);
    case ENTRY_SHAPE:
      return WriteEditorChunk(SHAPE_POINTS, stream, item);
    default:
      return SoftError(kUnknownChunkText);
  }
}

// The node's property text, then the last unlocked transform axis (position x, y, z,
// then rotation x, y, z) of a node linked below another node; -1, -1 when there is none,
// for a top-level node, and for a name that begins with '$'.
bool WriteObjectProperties(OutStream& stream, const ObjectListItem& item) {
  SceneNode* node = item.entry->node;
  CStr text;
  node->NodePropertyText(text);
  if (!WriteText(stream, text.c_str())) return false;
  int32_t group = -1;
  int32_t axis = -1;
  SceneNode* parent = node->ParentNode();
  bool linked = parent != nullptr && !parent->IsSceneRoot();
  if (linked && item.entry->name.compare(0, 1, "$") != 0) {
    for (int g = 0; g < 2; ++g)
      for (int a = 0; a < 3; ++a)
        if (!node->TransformLocked(g, a)) {
          group = g;
          axis = a;
        }
  }
  return WriteI32(stream, group) && WriteI32(stream, axis);
}

bool WriteMasterScale(OutStream& stream) {
  int type = 0;
  float unitScale = 0.0f;  // not used
  GetMasterUnitInfo(&type, &unitScale);
  return WriteF32(stream, static_cast<float>(GetMasterScale(type)));
}

bool WriteEditorBody(uint16_t id, OutStream& stream, void* context) {
  switch (id) {
    case EDITOR_DATA:
      return WriteSection(stream);
    case MESH_VERSION:
      return WriteU32(stream, kMeshVersion);
    case MASTER_SCALE:
      return WriteMasterScale(stream);
    case NAMED_OBJECT:
      if (context == nullptr) break;
      return WriteNamedObject(stream, static_cast<ObjectListItem*>(context));
    case OBJECT_PROPERTIES:
      if (context == nullptr) break;
      return WriteObjectProperties(stream, *static_cast<ObjectListItem*>(context));
    default:
      break;
  }
  bool known = true;
  bool ok = WriteMeshBody(id, stream, context, &known);
  if (known) return ok;
  known = true;
  ok = WriteLightCameraBody(id, stream, context, &known);
  if (known) return ok;
  known = true;
  ok = WriteShapeBody(id, stream, context, &known);
  if (known) return ok;
  return SoftError(kUnknownChunkText);
}

}  // namespace

bool SoftError(const char* text) {
  ShowWriterWarning(text);
  return true;
}

TimeValue RunTime() {
  return RunEntries != nullptr ? RunEntries->Time() : 0;
}

TimeValue HostCurrentTime() {
  if (RunEntries != nullptr && RunEntries->Host() != nullptr)
    return RunEntries->Host()->CurrentTime();
  return RunTime();
}

void ReleaseConverted(ObjectListItem* item) {
  // An object that already was a triangle mesh stays in the field and is not released.
  if (item->converted == nullptr || item->converted == item->entry->object) return;
  item->converted->ReleaseObject();
  item->converted = nullptr;
}

int WriteEditorChunk(int32_t id, OutStream& stream, void* context) {
  return ChunkFraming(stream, id, [&] { return WriteEditorBody(ChunkLow(id), stream, context); });
}

}  // namespace tsm
