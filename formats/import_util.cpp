#include "formats/import_util.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <new>
#include <unordered_map>

#include "scene/mem_material.h"

namespace tsm {

Matrix3 AxisChange::Transform(const Matrix3& m) const {
  if (!yUp_) return m;
  // The host's X axis is the file's X, its Y the file's -Z and its Z the file's Y.
  return Matrix3(Point(m.GetRow(0)), Point(Point3() - m.GetRow(2)), Point(m.GetRow(1)),
                 Point(m.GetRow(3)));
}

Matrix3 AxisChange::FileTransform(const Matrix3& m) const {
  if (!yUp_) return m;
  return Matrix3(FilePoint(m.GetRow(0)), FilePoint(m.GetRow(2)), Point3() - FilePoint(m.GetRow(1)),
                 FilePoint(m.GetRow(3)));
}

std::string WithoutNul(const std::string& text) {
  std::string out = text;
  out.erase(std::remove(out.begin(), out.end(), '\0'), out.end());
  return out;
}

std::string NameKeeper::Unique(const std::string& wanted, const std::string& fallback) {
  std::string base = WithoutNul(wanted);
  if (base.empty()) base = fallback;
  std::string name = base;
  for (int n = 2; !used_.insert(name).second; ++n) name = base + "." + std::to_string(n);
  return name;
}

namespace {

// The owner's local transform at time t: its controllers where present, else the parts
// of its static transform.
Matrix3 LocalAt(const MemNode& node, const MemTransformController& tc, TimeValue t) {
  Point3 pos, scale;
  Quat rot;
  DecomposeMatrix(node.local, pos, rot, scale);
  Interval valid;
  if (tc.position != nullptr) tc.position->ControllerValue(t, &pos, valid, 0);
  if (tc.rotation != nullptr) tc.rotation->ControllerValue(t, &rot, valid, 0);
  if (tc.scale != nullptr) {
    ScaleValue s;
    tc.scale->ControllerValue(t, &s, valid, 0);
    scale = s.s;
  }
  return ScaleMatrix(scale) * QuatToMatrix(rot) * TransMatrix(pos);
}

}  // namespace

MemNode* AddLookAtTarget(MemScene& scene, MemNode* owner, const Point3& direction, float distance,
                         NameKeeper& names) {
  MemNode* parent = owner->parent == scene.Root() ? nullptr : owner->parent;
  MemNode* target = scene.AddNode(names.Unique(owner->name + ".Target", "Target"), parent);
  target->object = scene.AddObject(kFamilyHelper, kTargetObjectClass);
  Point3 local = direction * distance;
  target->local = TransMatrix(local * owner->local);
  MemScene::SetLookAt(owner, target);
  auto* tc = dynamic_cast<MemTransformController*>(owner->transform);
  if (tc == nullptr) return target;
  std::vector<TimeValue> times;
  for (MemController* c : {tc->position, tc->rotation, tc->scale})
    if (c != nullptr)
      for (const MemKey& k : c->keys) times.push_back(k.time);
  std::sort(times.begin(), times.end());
  times.erase(std::unique(times.begin(), times.end()), times.end());
  if (times.empty()) return target;
  auto* position = scene.Own(std::make_unique<MemController>(ControlKind::POSITION, false));
  position->constP = target->local.GetRow(3);
  for (TimeValue t : times) {
    MemKey key;
    key.time = t;
    key.p = local * LocalAt(*owner, *tc, t);
    position->keys.push_back(key);
  }
  auto* follow = scene.Own(std::make_unique<MemTransformController>());
  follow->position = position;
  target->transform = follow;
  return target;
}

namespace {

// A piece of a split mesh and the original's material slots its faces use, in order:
// face material id i of the piece is the original's slot slots[i].
struct Piece {
  MemMeshObject* mesh = nullptr;
  std::vector<int> slots;
};

// Renumbers the pieces' face material ids to the slots they use, so that a piece carries
// only its own materials (and no more than a file can number).
std::vector<int> CompactSlots(MemMeshObject& piece) {
  std::vector<int> slots;
  for (const MemFace& f : piece.faces) slots.push_back(f.materialId);
  std::sort(slots.begin(), slots.end());
  slots.erase(std::unique(slots.begin(), slots.end()), slots.end());
  for (MemFace& f : piece.faces)
    f.materialId = int(std::lower_bound(slots.begin(), slots.end(), f.materialId) - slots.begin());
  return slots;
}

// The material of a piece: the node's own, or for a multi/sub material one that holds
// only the slots the piece uses.
HostMaterial* PieceMaterial(MemScene& scene, HostMaterial* material,
                            const std::vector<int>& slots) {
  auto* multi = dynamic_cast<MemMaterial*>(material);
  if (multi == nullptr || multi->classId != kMultiMaterialClass) return material;
  bool same = slots.size() == multi->subMaterials.size();
  for (size_t i = 0; same && i < slots.size(); ++i) same = slots[i] == int(i);
  if (same) return material;
  auto* own = scene.Own(std::make_unique<MemMaterial>());
  own->classId = kMultiMaterialClass;
  own->name = multi->name;
  for (int s : slots)
    own->subMaterials.push_back(s < int(multi->subMaterials.size()) ? multi->subMaterials[s]
                                                                    : nullptr);
  return own;
}

// One piece of a split mesh: the faces from first to end (exclusive) of the original.
std::unique_ptr<MemMeshObject> MakePiece(const MemMeshObject& mesh, size_t first, size_t end) {
  auto piece = std::make_unique<MemMeshObject>();
  std::unordered_map<int, int> vmap, tmap;
  bool colors = mesh.vertexColors.size() == mesh.vertices.size();
  bool uv = !mesh.texFaces.empty();
  for (size_t f = first; f < end; ++f) {
    MemFace face = mesh.faces[f];
    for (int& v : face.v) {
      auto it = vmap.emplace(v, static_cast<int>(piece->vertices.size()));
      if (it.second) {
        piece->vertices.push_back(mesh.vertices[v]);
        if (colors) piece->vertexColors.push_back(mesh.vertexColors[v]);
      }
      v = it.first->second;
    }
    piece->faces.push_back(face);
    if (uv) {
      std::array<int, 3> tf = mesh.texFaces[f];
      for (int& t : tf) {
        auto it = tmap.emplace(t, static_cast<int>(piece->texVerts.size()));
        if (it.second) piece->texVerts.push_back(mesh.texVerts[t]);
        t = it.first->second;
      }
      piece->texFaces.push_back(tf);
    }
  }
  return piece;
}

// The ends of the pieces: runs of faces in order, each with at most kMaxFileMeshSize
// faces and distinct vertices.
std::vector<size_t> PieceEnds(const MemMeshObject& mesh) {
  std::vector<size_t> ends;
  std::vector<size_t> seenIn(mesh.vertices.size(), 0);  // piece number + 1 of last use
  size_t piece = 1, faces = 0, verts = 0;
  for (size_t f = 0; f < mesh.faces.size(); ++f) {
    int fresh = 0;
    for (int k = 0; k < 3; ++k) {
      int v = mesh.faces[f].v[k];
      bool repeated = (k > 0 && mesh.faces[f].v[0] == v) || (k > 1 && mesh.faces[f].v[1] == v);
      if (seenIn[v] != piece && !repeated) ++fresh;
    }
    if (faces + 1 > size_t(kMaxFileMeshSize) || verts + fresh > size_t(kMaxFileMeshSize)) {
      ends.push_back(f);
      ++piece;
      faces = verts = 0;
    }
    for (int v : mesh.faces[f].v)
      if (seenIn[v] != piece) {
        seenIn[v] = piece;
        ++verts;
      }
    ++faces;
  }
  ends.push_back(mesh.faces.size());
  return ends;
}

bool TooLarge(const MemMeshObject& mesh) {
  return mesh.faces.size() > size_t(kMaxFileMeshSize) ||
         mesh.vertices.size() > size_t(kMaxFileMeshSize);
}

}  // namespace

void SplitLargeMeshes(MemScene& scene, const std::vector<MemNode*>& meshNodes,
                      const std::string& label, NameKeeper& names,
                      std::vector<std::string>& notices) {
  std::map<const MemMeshObject*, std::vector<Piece>> pieces;  // shared by instances
  for (MemNode* node : meshNodes) {
    auto* mesh = dynamic_cast<MemMeshObject*>(node->object);
    if (mesh == nullptr || !TooLarge(*mesh)) continue;
    auto found = pieces.find(mesh);
    if (found == pieces.end()) {
      std::vector<size_t> ends = PieceEnds(*mesh);
      std::vector<Piece> made;
      size_t first = 0;
      for (size_t end : ends) {
        Piece piece;
        piece.mesh = scene.Own(MakePiece(*mesh, first, end));
        piece.slots = CompactSlots(*piece.mesh);
        made.push_back(std::move(piece));
        first = end;
      }
      found = pieces.emplace(mesh, std::move(made)).first;
      notices.push_back(
          label + ": mesh of \"" + node->name + "\" has " + std::to_string(mesh->faces.size()) +
          " faces and " + std::to_string(mesh->vertices.size()) +
          " vertices, more than one object of the file holds (" + std::to_string(kMaxFileMeshSize) +
          "); split into " + std::to_string(found->second.size()) + " pieces");
    }
    auto* dummy = scene.Own(std::make_unique<MemDummyObject>());
    if (!mesh->vertices.empty()) {
      dummy->box.pmin = dummy->box.pmax = mesh->vertices[0];
      for (const Point3& p : mesh->vertices) dummy->box += p;
    }
    node->object = dummy;
    for (size_t i = 0; i < found->second.size(); ++i) {
      MemNode* child =
          scene.AddNode(names.Unique(node->name + ".part" + std::to_string(i + 1), "Part"), node);
      child->object = found->second[i].mesh;
      child->material = PieceMaterial(scene, node->material, found->second[i].slots);
    }
  }
}

ImportError SceneCheckFailure(const std::string& problem) {
  return ImportError("the loaded scene fails its check: " + problem);
}

ImportResult RunImport(const std::string& label, MemScene& scene,
                       const std::function<void(std::vector<std::string>& notices)>& load) {
  ImportResult result;
  try {
    if (!scene.Nodes().empty()) throw ImportError("the scene to load into is not empty");
    load(result.notices);
    std::string problem = CheckScene(scene);
    if (!problem.empty()) throw SceneCheckFailure(problem);
    result.ok = true;
  } catch (const ImportError& e) {
    result.error = label + ": " + e.what();
  } catch (const std::bad_alloc&) {
    result.error = label + ": out of memory while loading the scene";
  } catch (const std::exception& e) {
    result.error = label + ": " + e.what();
  }
  return result;
}

}  // namespace tsm
