// Triangle meshes: vertices, vertex colours, the mesh matrix, faces with their edge flags
// and corner texture coordinates, face-material groups and smoothing groups.
#include <algorithm>
#include <string>

#include "material/material_table.h"
#include "plugin/messages.h"
#include "run/export_run.h"
#include "writer/byte_batch.h"
#include "writer/editor_writer.h"
#include "writer/file_writer.h"

namespace tsm {

namespace {

// 0.001 in single precision (bits 0x3A83126F): where a mesh at the world origin is put.
constexpr float kOriginOffset = 0.001f;

constexpr size_t kFaceRecordBytes = 32;

bool WriteTriangleMesh(OutStream& stream, ObjectListItem* item) {
  Matrix3 identity;
  identity.IdentityMatrix();
  SceneNode* node = item->entry->node;
  Matrix3 t = node->NodeTransform(RunTime());
  Point3 origin = t.GetTrans();
  // Negative zero compares equal to zero too.
  if (origin.x == 0.0f && origin.y == 0.0f && origin.z == 0.0f)
    t.SetTrans(Point3(kOriginOffset, kOriginOffset, kOriginOffset));

  MeshContext mc;
  mc.geometry = node->NodeQuery(96) ? identity : t;
  mc.mesh = item->converted != nullptr ? item->converted->ObjectMesh() : nullptr;
  mc.node = node;

  bool ok = true;
  if (mc.mesh != nullptr) {
    if (mc.mesh->getNumVerts() != 0) {
      ok = WriteEditorChunk(MESH_VERTICES, stream, &mc) &&
           (mc.mesh->getNumVertCol() == 0 || WriteEditorChunk(MESH_VERTEX_COLORS, stream, &mc)) &&
           WriteEditorChunk(MESH_MATRIX, stream, &t);
    }
    if (ok && mc.mesh->getNumFaces() != 0) ok = WriteEditorChunk(MESH_FACES, stream, &mc);
  }
  // Released whether the children were written or not.
  ReleaseConverted(item);
  return ok;
}

bool WriteVertices(OutStream& stream, const MeshContext& mc) {
  const Mesh& mesh = *mc.mesh;
  ByteBatch out(stream);
  if (!out.PutU16(static_cast<uint16_t>(mesh.getNumVerts()))) return false;
  for (const Point3& v : mesh.verts) {
    Point3 p = v * mc.geometry;
    uint8_t* at = out.Reserve(12);
    if (at == nullptr) return false;
    ByteBatch::StoreF32(ByteBatch::StoreF32(ByteBatch::StoreF32(at, p.x), p.y), p.z);
  }
  return out.Flush();
}

bool WriteVertexColors(OutStream& stream, const MeshContext& mc) {
  const Mesh& mesh = *mc.mesh;
  if (mesh.getNumVertCol() != mesh.getNumVerts()) return SoftError(kVertColorSizeText);
  ByteBatch out(stream);
  if (!out.PutU16(static_cast<uint16_t>(mesh.getNumVertCol()))) return false;
  for (const Point3& c : mesh.vertCol) {
    uint8_t* at = out.Reserve(12);
    if (at == nullptr) return false;
    ByteBatch::StoreF32(ByteBatch::StoreF32(ByteBatch::StoreF32(at, c.x), c.y), c.z);
  }
  return out.Flush();
}

bool WriteMatrix(OutStream& stream, const Matrix3& m) {
  for (int r = 0; r < 4; ++r) {
    Point3 row = m.GetRow(r);
    if (!WriteF32(stream, row.x) || !WriteF32(stream, row.y) || !WriteF32(stream, row.z))
      return false;
  }
  return true;
}

// Edge flags of the file from the host's flag word: 4 first->second, 2 second->third,
// 1 third->first.
uint16_t EdgeFlags(uint32_t hostFlags) {
  return static_cast<uint16_t>(((hostFlags & 1u) ? 4 : 0) | ((hostFlags & 2u) ? 2 : 0) |
                               ((hostFlags & 4u) ? 1 : 0));
}

bool WriteFaceRecords(OutStream& stream, const Mesh& mesh, bool* smoothed) {
  // The corner pairs keep their values from face to face where a face has no texture
  // coordinates of its own.
  Point2 uv[3];
  bool textured = mesh.getNumTVerts() > 0 && !mesh.tVerts.empty() && !mesh.tvFace.empty();
  size_t texVerts = mesh.tVerts.size();
  ByteBatch out(stream);
  if (!out.PutU16(static_cast<uint16_t>(mesh.getNumFaces()))) return false;
  for (size_t f = 0; f < mesh.faces.size(); ++f) {
    const Face& face = mesh.faces[f];
    if (face.smGroup != 0) *smoothed = true;
    if (textured && f < mesh.tvFace.size()) {
      for (int k = 0; k < 3; ++k) {
        // An index past the texture vertices leaves the corner's pair as it was.
        uint32_t ti = mesh.tvFace[f].t[k];
        if (ti < texVerts) uv[k] = Point2(mesh.tVerts[ti].x, mesh.tVerts[ti].y);
      }
    }
    uint8_t* at = out.Reserve(kFaceRecordBytes);
    if (at == nullptr) return false;
    for (int k = 0; k < 3; ++k) at = ByteBatch::StoreU16(at, static_cast<uint16_t>(face.v[k]));
    at = ByteBatch::StoreU16(at, EdgeFlags(face.flags));
    for (int k = 0; k < 3; ++k) at = ByteBatch::StoreF32(ByteBatch::StoreF32(at, uv[k].x), uv[k].y);
  }
  return out.Flush();
}

bool WriteFaces(OutStream& stream, MeshContext& mc) {
  bool smoothed = false;
  if (!WriteFaceRecords(stream, *mc.mesh, &smoothed)) return false;

  HostMaterial* material = mc.node->NodeMaterial();
  if (material != nullptr && MaterialTable::IsMultiMaterial(material)) {
    MaterialTable* table = RunMaterials;
    mc.slotMapInUse = true;
    mc.slotMap.assign(static_cast<size_t>(std::max(0, material->SubMaterialCount())), 0);
    for (int s = 0; s < material->SubMaterialCount() && s < static_cast<int>(mc.slotMap.size());
         ++s) {
      HostMaterial* sub = material->SubMaterial(s);
      if (sub != nullptr) mc.slotMap[s] = table != nullptr ? table->FindByHostMaterial(sub) : -1;
    }
    // One pass over the faces, so that each group's chunk costs its own faces only.
    mc.facesByMaterial.clear();
    mc.bogusFace = -1;
    const Mesh& mesh = *mc.mesh;
    for (int f = 0; f < mesh.getNumFaces(); ++f) {
      size_t m = static_cast<size_t>(mesh.getFaceMtlIndex(f));
      if (m >= mc.slotMap.size()) {
        mc.bogusFace = f;
        break;
      }
      mc.facesByMaterial[mc.slotMap[m]].push_back(static_cast<uint16_t>(f));
    }
    for (int s = 0; s < material->SubMaterialCount() && s < static_cast<int>(mc.slotMap.size());
         ++s) {
      if (material->SubMaterial(s) == nullptr) continue;
      mc.groupMaterial = mc.slotMap[s];
      if (!WriteEditorChunk(FACE_MATERIAL, stream, &mc)) return false;
    }
  } else if (material != nullptr) {
    mc.slotMapInUse = false;
    mc.groupMaterial = RunMaterials != nullptr ? RunMaterials->FindByHostMaterial(material) : -1;
    if (!WriteEditorChunk(FACE_MATERIAL, stream, &mc)) return false;
  }
  if (smoothed && !WriteEditorChunk(FACE_SMOOTHING, stream, const_cast<Mesh*>(mc.mesh)))
    return false;
  return true;
}

// "Object %s's with face id %d has bogus material index", with the node's name and the
// face's material id plus 1; a box without caption, shown also in quiet mode.
void ShowBogusMaterialId(SceneNode* node, int materialId) {
  std::string text = FormatWithName(kBogusMaterialIdFormat, node->NodeName());
  size_t at = text.find("%d");
  if (at != std::string::npos) text.replace(at, 2, std::to_string(materialId + 1));
  MessageBoxA(GetActiveWindow(), text.c_str(), "", MB_OK);
}

bool WriteFaceMaterial(OutStream& stream, const MeshContext& mc) {
  int32_t d = mc.groupMaterial;
  MaterialTable* table = RunMaterials;
  if (table == nullptr || d < 0 || d >= table->Count()) return SoftError(kMaterialMissingText);
  const MaterialRecord* record = table->Record(d);
  if (record == nullptr) return SoftError(kMaterialGetErrorText);

  const Mesh& mesh = *mc.mesh;
  int faces = mesh.getNumFaces();
  ByteBatch out(stream);
  if (mc.slotMapInUse) {
    // Every face's material id is checked before any payload byte is written.
    if (mc.bogusFace >= 0) {
      ShowBogusMaterialId(mc.node, static_cast<int>(mesh.faces[mc.bogusFace].flags >> 16));
      return false;
    }
    auto bucket = mc.facesByMaterial.find(d);
    size_t count = bucket == mc.facesByMaterial.end() ? 0 : bucket->second.size();
    if (!WriteText(stream, record->name) || !out.PutU16(static_cast<uint16_t>(count)))
      return false;
    for (size_t i = 0; i < count; ++i)
      if (!out.PutU16(bucket->second[i])) return false;
    return out.Flush();
  }
  if (!WriteText(stream, record->name) || !out.PutU16(static_cast<uint16_t>(faces))) return false;
  for (int f = 0; f < faces; ++f)
    if (!out.PutU16(static_cast<uint16_t>(f))) return false;
  return out.Flush();
}

bool WriteSmoothing(OutStream& stream, const Mesh& mesh) {
  ByteBatch out(stream);
  for (const Face& face : mesh.faces)
    if (!out.PutU32(face.smGroup)) return false;
  return out.Flush();
}

}  // namespace

bool WriteMeshBody(uint16_t id, OutStream& stream, void* context, bool* known) {
  *known = true;
  MeshContext* mc = static_cast<MeshContext*>(context);
  switch (id) {
    case TRIANGLE_MESH:
      if (context == nullptr) break;
      return WriteTriangleMesh(stream, static_cast<ObjectListItem*>(context));
    case MESH_MATRIX:
      if (context == nullptr) break;
      return WriteMatrix(stream, *static_cast<const Matrix3*>(context));
    case FACE_SMOOTHING:
      if (context == nullptr) break;
      return WriteSmoothing(stream, *static_cast<const Mesh*>(context));
    case MESH_VERTICES:
      if (mc == nullptr || mc->mesh == nullptr) break;
      return WriteVertices(stream, *mc);
    case MESH_VERTEX_COLORS:
      if (mc == nullptr || mc->mesh == nullptr) break;
      return WriteVertexColors(stream, *mc);
    case MESH_FACES:
      if (mc == nullptr || mc->mesh == nullptr || mc->node == nullptr) break;
      return WriteFaces(stream, *mc);
    case FACE_MATERIAL:
      if (mc == nullptr || mc->mesh == nullptr || mc->node == nullptr) break;
      return WriteFaceMaterial(stream, *mc);
    default:
      *known = false;
      return true;
  }
  return SoftError(kUnknownChunkText);  // a mesh chunk without its data
}

}  // namespace tsm
