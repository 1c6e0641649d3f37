// The editor section of a chunk file read back: material blocks into materials and maps,
// named objects into mesh, light, camera and shape objects. Placing them in the scene's
// hierarchy is the scene builder's (tsm_scene.cpp).
#include <cmath>
#include <cstdio>
#include <memory>
#include <unordered_map>

#include "formats/tsm/tsm_parts.h"
#include "writer/chunk_ids.h"

namespace tsm {

namespace {

// Degrees per radian as the writers use it (a single-precision constant).
constexpr float kDegreesPerRadian = 57.29578f;

// The children of c, in file order.
std::vector<Chunk> Children(const uint8_t* data, const Chunk& c) {
  std::vector<Chunk> out;
  ForEachChild(c, data, [&out](const Chunk& child) {
    out.push_back(child);
    return true;
  });
  return out;
}

// A colour byte back as the fraction the conversion packs into that byte again.
float ByteColor(uint8_t b) {
  if (b == 0) return 0.0f;
  if (b == 255) return 1.0f;
  return (static_cast<float>(b) + 0.5f) / 255.0f;
}

// A percentage back as the fraction the conversion rounds to it again.
float Fraction(uint16_t percent) {
  return static_cast<float>(percent) / 100.0f;
}

struct MapSlotIds {
  uint16_t map, data, mask, maskData;
  int channel;  // -1: no channel of the scene's materials holds this slot
};

// By slot, as the material writer visits them.
const MapSlotIds kSlots[8] = {
    {MAP_TEXTURE, MAP_DATA_TEXTURE, MASK_TEXTURE, MASK_DATA_TEXTURE, kChannelDiffuse},
    {MAP_TEXTURE2, MAP_DATA_TEXTURE2, MASK_TEXTURE2, MASK_DATA_TEXTURE2, -1},
    {MAP_OPACITY, MAP_DATA_OPACITY, MASK_OPACITY, MASK_DATA_OPACITY, kChannelOpacity},
    {MAP_BUMP, MAP_DATA_BUMP, MASK_BUMP, MASK_DATA_BUMP, kChannelBump},
    {MAP_SPECULAR, MAP_DATA_SPECULAR, MASK_SPECULAR, MASK_DATA_SPECULAR, kChannelSpecular},
    {MAP_SHININESS, MAP_DATA_SHININESS, MASK_SHININESS, MASK_DATA_SHININESS, kChannelShininess},
    {MAP_SELF_ILLUMINATION, MAP_DATA_SELF_ILLUMINATION, MASK_SELF_ILLUMINATION,
     MASK_DATA_SELF_ILLUMINATION, kChannelSelfIllum},
    {MAP_REFLECTION, 0, MASK_REFLECTION, MASK_DATA_REFLECTION, kChannelReflection},
};

std::string Hex(uint16_t id) {
  char buf[8];
  std::snprintf(buf, sizeof(buf), "0x%04X", id);
  return buf;
}

// A chunk whose content the scene has no place for: skipped, with a notice.
std::string NotHeldNotice(const Chunk& c) {
  const char* name = ChunkName(c.id);
  return "offset " + std::to_string(c.offset) + ": chunk " + Hex(c.id) + " (" +
         (name != nullptr ? name : "?") + ") skipped: the scene holds no such value";
}

class EditorReader {
 public:
  // Without a scene, the objects made are their own (FileObject::made) and nothing else
  // is read but named objects.
  EditorReader(const uint8_t* data, MemScene* scene, FileContent* content,
               std::vector<std::string>& notices)
      : d_(data), scene_(scene), content_(content), notices_(notices) {}

  void Section(const Chunk& editor) {
    const std::vector<Chunk> children = Children(d_, editor);
    // A file of many objects holds them once, not twice while their list grows.
    size_t objects = content_->objects.size();
    for (const Chunk& c : children) objects += c.id == NAMED_OBJECT ? 1 : 0;
    content_->objects.reserve(objects);
    for (const Chunk& c : children) {
      switch (c.id) {
        case MESH_VERSION:
          break;
        case MATERIAL_BLOCK:
          content_->materials.push_back(Material(c));
          break;
        case MASTER_SCALE: {
          PayloadCursor p(d_, c);
          content_->hasMasterScale = true;
          content_->masterScale = p.F32();
          break;
        }
        case NAMED_OBJECT: {
          content_->objects.push_back(NamedObject(c));
          FileObject& o = content_->objects.back();
          if (ReadWhenUsed(o)) {
            // Read for its notices; read again when a node needs it.
            o.object = nullptr;
            o.made.reset();
            o.detail.reset();
          }
          break;
        }
        default:
          notices_.push_back(SkippedChunkNotice(c));
      }
    }
  }

 private:
  // ---- materials ----

  Point3 Color(const Chunk& c) {
    bool haveCorrected = false, haveLinear = false;
    uint8_t corrected[3] = {0, 0, 0}, linear[3] = {0, 0, 0};
    for (const Chunk& k : Children(d_, c)) {
      if (k.id != COLOR_BYTES && k.id != COLOR_BYTES_LINEAR) {
        notices_.push_back(SkippedChunkNotice(k));
        continue;
      }
      PayloadCursor p(d_, k);
      uint8_t* out = k.id == COLOR_BYTES ? corrected : linear;
      for (int i = 0; i < 3; ++i) out[i] = p.U8();
      (k.id == COLOR_BYTES ? haveCorrected : haveLinear) = true;
    }
    // The linear bytes are the material's own; the others are corrected for display.
    const uint8_t* b = haveLinear ? linear : corrected;
    if (haveLinear) content_->linearColors = true;
    (void)haveCorrected;
    return Point3(ByteColor(b[0]), ByteColor(b[1]), ByteColor(b[2]));
  }

  uint16_t Percentage(const Chunk& c) {
    uint16_t value = 0;
    for (const Chunk& k : Children(d_, c)) {
      if (k.id != PERCENTAGE) {
        notices_.push_back(SkippedChunkNotice(k));
        continue;
      }
      PayloadCursor p(d_, k);
      value = p.U16();
    }
    return value;
  }

  MemMaterial* Material(const Chunk& block) {
    auto* m = scene_->Own(std::make_unique<MemMaterial>());
    MemMap* maps[8] = {};
    for (const Chunk& c : Children(d_, block)) {
      switch (c.id) {
        case MATERIAL_NAME: {
          PayloadCursor p(d_, c);
          m->name = p.Text();
          break;
        }
        case MATERIAL_AMBIENT:
          m->ambient = Color(c);
          break;
        case MATERIAL_DIFFUSE:
          m->diffuse = Color(c);
          break;
        case MATERIAL_SPECULAR:
          m->specular = Color(c);
          break;
        case MATERIAL_SHININESS:
          m->shininess = Fraction(Percentage(c));
          break;
        case MATERIAL_SHININESS_STRENGTH:
          m->shininessStrength = Fraction(Percentage(c));
          break;
        case MATERIAL_TRANSPARENCY:
          m->transparency = Fraction(Percentage(c));
          break;
        case MATERIAL_FALLOFF:
          m->transparencyFalloff = Fraction(Percentage(c));
          break;
        case MATERIAL_SELF_ILLUMINATION:
          m->selfIllumination = Fraction(Percentage(c));
          break;
        case MATERIAL_REFLECTION_BLUR:
          if (Percentage(c) != 0) notices_.push_back(NotHeldNotice(c));
          break;
        case MATERIAL_SHADING: {
          PayloadCursor p(d_, c);
          uint16_t s = p.U16();
          if (s == 1)
            m->shadingMode = 0;
          else if (s == 3)
            m->shadingMode = 1;
          else if (s == 4)
            m->shadingMode = 2;
          else
            notices_.push_back(NotHeldNotice(c));
          break;
        }
        case MATERIAL_TWO_SIDED:
          m->twoSided = true;
          break;
        case MATERIAL_ADDITIVE:
          m->transparencyType = 1;
          break;
        case MATERIAL_WIREFRAME:
          m->wireframe = true;
          break;
        case MATERIAL_FACE_MAP:
          m->faceMap = true;
          break;
        case MATERIAL_FALLOFF_IN:
          m->falloffOut = false;
          break;
        case MATERIAL_SOFTEN:
          m->soften = true;
          break;
        case MATERIAL_WIRE_IN_UNITS:
          m->wireInUnits = true;
          break;
        case MATERIAL_WIRE_SIZE: {
          PayloadCursor p(d_, c);
          m->wireSize = p.F32();
          break;
        }
        case MAP_AUTO_REFLECTION:
          AutoReflection(c, maps[7]);
          break;
        default:
          if (!SlotChunk(c, *m, maps)) notices_.push_back(SkippedChunkNotice(c));
      }
    }
    return m;
  }

  // A map chunk of a slot: answers false when c is none of the slots' chunks.
  bool SlotChunk(const Chunk& c, MemMaterial& m, MemMap* (&maps)[8]) {
    for (int slot = 0; slot < 8; ++slot) {
      const MapSlotIds& s = kSlots[slot];
      if (c.id == s.mask || c.id == s.maskData || (s.data != 0 && c.id == s.data)) {
        notices_.push_back(NotHeldNotice(c));
        return true;
      }
      if (c.id != s.map) continue;
      if (s.channel < 0) {
        notices_.push_back(NotHeldNotice(c));
        return true;
      }
      auto* map = scene_->Own(std::make_unique<MemMap>());
      maps[slot] = map;
      MemChannel& channel = m.channels[s.channel];
      channel.map = map;
      channel.enabled = true;
      MapBody(c, slot, *map, channel);
      return true;
    }
    return false;
  }

  void MapBody(const Chunk& c, int slot, MemMap& map, MemChannel& channel) {
    bool haveBumpAmount = false;
    uint16_t percent = 100;
    for (const Chunk& k : Children(d_, c)) {
      PayloadCursor p(d_, k);
      switch (k.id) {
        case PERCENTAGE:
          percent = p.U16();
          break;
        case MAP_FILE_NAME:
          map.fileName = p.Text();
          break;
        case MAP_BUMP_AMOUNT:
          haveBumpAmount = true;
          channel.amount = static_cast<float>(p.U16());
          break;
        case MAP_TILING: {
          uint16_t f = p.U16();
          map.tilingBits = ((f & 0x0010) ? 0 : 0x3) | ((f & 0x0002) ? 0xC : 0);
          map.outputInverted = (f & 0x0008) != 0;
          map.filterType = (f & 0x0020) ? 1 : 0;
          break;
        }
        case MAP_BLUR:
          map.blur = p.F32() + 1.0f;
          break;
        case MAP_U_SCALE:
          map.uTiling = p.F32();
          break;
        case MAP_V_SCALE:
          map.vTiling = p.F32();
          break;
        case MAP_U_OFFSET:
          map.uOffset = p.F32();
          break;
        case MAP_V_OFFSET:
          map.vOffset = -p.F32();
          break;
        case MAP_ROTATION:
          map.rotationAngle = static_cast<float>(-static_cast<double>(p.F32()) /
                                                 static_cast<double>(kDegreesPerRadian));
          break;
        case MAP_COLOR_1:
        case MAP_COLOR_2:
        case MAP_RED_TINT:
        case MAP_GREEN_TINT:
        case MAP_BLUE_TINT:
          notices_.push_back(NotHeldNotice(k));
          break;
        default:
          notices_.push_back(SkippedChunkNotice(k));
      }
    }
    // The bump slot's amount is the whole number the conversion made of the channel's
    // fraction; its percentage chunk holds a quarter of it.
    if (!haveBumpAmount)
      channel.amount = slot == 3 ? static_cast<float>(percent) * 4.0f : Fraction(percent);
  }

  void AutoReflection(const Chunk& c, MemMap* map) {
    if (map == nullptr) {
      notices_.push_back(NotHeldNotice(c));
      return;
    }
    PayloadCursor p(d_, c);
    p.U8();  // kind
    p.U8();  // reserved
    uint16_t flags = p.U16();
    int32_t size = p.I32();
    int32_t nth = p.I32();
    map->classId = (flags & 0x0010) ? kMirrorMapClass : kReflectionMapClass;
    map->everyNthFrame = (flags & 0x0008) == 0;
    map->nthFrame = nth;
    if (!(flags & 0x0010)) map->reflectionSize = size;
  }

  // ---- named objects ----

  // Whether o is a mesh read here for its notices alone, and again when a node needs it:
  // a small mesh, whose scene object and detail take more room than its bytes in the
  // file. A large one takes about as much room held as in the file, and is held.
  bool ReadWhenUsed(const FileObject& o) const {
    constexpr uint32_t kReadAgainBelow = 64 * 1024;
    return scene_ != nullptr && content_->meshesWhenUsed && o.kind == TRIANGLE_MESH &&
           o.length < kReadAgainBelow;
  }

  // A scene object for o: the scene's, or o's own without a scene or when its meshes are
  // let go after their last node.
  template <class T>
  T* Make(FileObject& o, std::unique_ptr<T> object) {
    T* made = object.get();
    if (scene_ != nullptr && !(o.kind == TRIANGLE_MESH && content_->meshesWhenUsed))
      scene_->Own(std::move(object));
    else
      o.made = std::move(object);
    o.object = made;
    return made;
  }

 public:
  FileObject NamedObject(const Chunk& named) {
    FileObject o;
    o.offset = named.offset;
    o.length = named.length;
    o.detail = std::make_unique<ObjectDetail>();
    ObjectDetail& d = *o.detail;
    PayloadCursor p(d_, named);
    o.name = p.Text();
    for (const Chunk& c : Children(d_, named)) {
      switch (c.id) {
        case OBJECT_PROPERTIES: {
          PayloadCursor q(d_, c);
          d.properties = q.Text();
          d.lockGroup = q.I32();
          d.lockAxis = q.I32();
          break;
        }
        case TRIANGLE_MESH:
        case LIGHT:
        case CAMERA:
        case SHAPE_POINTS:
          if (o.kind != 0) {
            notices_.push_back("offset " + std::to_string(c.offset) +
                               ": a second object chunk in one named object skipped");
            break;
          }
          o.kind = c.id;
          if (c.id == TRIANGLE_MESH) Mesh(c, o);
          if (c.id == LIGHT) Light(c, o);
          if (c.id == CAMERA) Camera(c, o);
          if (c.id == SHAPE_POINTS) Shape(c, o);
          break;
        default:
          notices_.push_back(SkippedChunkNotice(c));
      }
    }
    return o;
  }

 private:
  void Mesh(const Chunk& mesh, FileObject& o) {
    auto* m = Make(o, std::make_unique<MemMeshObject>());
    ObjectDetail& d = *o.detail;
    for (const Chunk& c : Children(d_, mesh)) {
      PayloadCursor p(d_, c);
      switch (c.id) {
        case MESH_VERTICES: {
          uint16_t n = p.U16();
          d.worldVertices.resize(n);
          for (Point3& v : d.worldVertices) v = p.Point();
          break;
        }
        case MESH_VERTEX_COLORS: {
          if (c.PayloadSize() == 0) break;  // the writer's mark of a wrong colour count
          uint16_t n = p.U16();
          m->vertexColors.resize(n);
          for (Point3& v : m->vertexColors) v = p.Point();
          break;
        }
        case MESH_MATRIX: {
          Point3 r[4];
          for (Point3& row : r) row = p.Point();
          d.matrix = Matrix3(r[0], r[1], r[2], r[3]);
          d.hasMatrix = true;
          break;
        }
        case MESH_FACES:
          Faces(c, d, *m);
          break;
        default:
          notices_.push_back(SkippedChunkNotice(c));
      }
    }
    DropBrokenFaces(mesh, d, *m);
    // A mesh read for its notices alone is let go at once.
    if (!ReadWhenUsed(o)) TextureCoordinates(d, *m);
    std::vector<std::array<float, 6>>().swap(d.uv);  // no longer needed
  }

  // A face that names a vertex the mesh does not have is left out, with a notice; the
  // face groups follow the faces' new numbers.
  void DropBrokenFaces(const Chunk& mesh, ObjectDetail& o, MemMeshObject& m) {
    const size_t vertices = o.worldVertices.size();
    std::vector<int> number(m.faces.size(), -1);
    size_t kept = 0;
    for (size_t f = 0; f < m.faces.size(); ++f) {
      const MemFace& face = m.faces[f];
      bool sound = true;
      for (int k = 0; k < 3; ++k) sound = sound && static_cast<size_t>(face.v[k]) < vertices;
      if (!sound) {
        notices_.push_back("offset " + std::to_string(mesh.offset) + ": face " +
                           std::to_string(f) + " names a vertex beyond the mesh's " +
                           std::to_string(vertices) + " vertices and is left out");
        continue;
      }
      number[f] = static_cast<int>(kept);
      m.faces[kept] = face;
      if (!o.uv.empty()) o.uv[kept] = o.uv[f];
      ++kept;
    }
    if (kept == m.faces.size()) return;
    m.faces.resize(kept);
    if (!o.uv.empty()) o.uv.resize(kept);
    for (FaceGroup& g : o.groups) {
      std::vector<uint16_t> faces;
      for (uint16_t f : g.faces)
        if (number[f] >= 0) faces.push_back(static_cast<uint16_t>(number[f]));
      g.faces.swap(faces);
    }
  }

  void Faces(const Chunk& c, ObjectDetail& o, MemMeshObject& m) {
    PayloadCursor p(d_, c);
    uint16_t n = p.U16();
    m.faces.resize(n);
    for (size_t f = 0; f < n; ++f) {
      MemFace& face = m.faces[f];
      for (int k = 0; k < 3; ++k) face.v[k] = p.U16();
      uint16_t edges = p.U16();
      face.edgeVisible = ((edges & 4) ? 1 : 0) | ((edges & 2) ? 2 : 0) | ((edges & 1) ? 4 : 0);
      std::array<float, 6> uv;
      bool any = false;
      for (float& t : uv) {
        t = p.F32();
        any = any || t != 0.0f;
      }
      // The pairs are kept from the first that is not zero on: a mesh whose pairs are all
      // zero is one without texture coordinates, and its faces need no room for them.
      if (any && o.uv.empty()) o.uv.resize(n);
      if (!o.uv.empty()) o.uv[f] = uv;
    }
    for (const Chunk& k : Children(d_, c)) {
      PayloadCursor q(d_, k);
      if (k.id == FACE_MATERIAL) {
        if (k.PayloadSize() == 0) continue;  // the writer's mark of a failed group
        FaceGroup g;
        g.offset = k.offset;
        g.material = q.Text();
        g.faces.resize(q.U16());
        for (uint16_t& f : g.faces) {
          f = q.U16();
          if (f >= n)
            q.Fail("face number " + std::to_string(f) + " is beyond the mesh's " +
                   std::to_string(n) + " faces");
        }
        o.groups.push_back(std::move(g));
      } else if (k.id == FACE_SMOOTHING) {
        if (k.PayloadSize() != 4ull * n)
          q.Fail("the smoothing groups do not number one per face (" + std::to_string(n) + ")");
        for (MemFace& face : m.faces) face.smoothing = q.U32();
      } else {
        notices_.push_back(SkippedChunkNotice(k));
      }
    }
  }

  // The corners' (U, V) pairs as texture vertices, one per distinct pair. A mesh whose
  // pairs are all zero is taken for one without texture coordinates.
  void TextureCoordinates(const ObjectDetail& o, MemMeshObject& m) {
    if (o.uv.empty()) return;
    std::unordered_map<uint64_t, int> index;
    m.texFaces.resize(o.uv.size());
    for (size_t f = 0; f < o.uv.size(); ++f) {
      for (int k = 0; k < 3; ++k) {
        float u = o.uv[f][2 * k], v = o.uv[f][2 * k + 1];
        uint32_t ub, vb;
        std::memcpy(&ub, &u, 4);
        std::memcpy(&vb, &v, 4);
        uint64_t key = (uint64_t(ub) << 32) | vb;
        auto it = index.find(key);
        if (it == index.end()) {
          it = index.emplace(key, static_cast<int>(m.texVerts.size())).first;
          m.texVerts.emplace_back(u, v, 0.0f);
        }
        m.texFaces[f][k] = it->second;
      }
    }
  }

  void Light(const Chunk& light, FileObject& o) {
    auto* l = Make(o, std::make_unique<MemLightObject>(false));
    PayloadCursor p(d_, light);
    o.detail->position = p.Point();
    for (const Chunk& c : Children(d_, light)) {
      PayloadCursor q(d_, c);
      switch (c.id) {
        case COLOR_FLOAT:
          l->color = q.Point();
          break;
        case LIGHT_OUTER_RANGE:
          l->attenEnd = q.F32();
          break;
        case LIGHT_INNER_RANGE:
          l->attenStart = q.F32();
          break;
        case LIGHT_MULTIPLIER:
          l->intensity = q.F32();
          break;
        case LIGHT_OFF:
          l->on = false;
          break;
        case LIGHT_ATTENUATE:
          l->attenuate = true;
          break;
        case SPOT_LIGHT:
          l->classId = kSpotLightObjectClass;
          o.detail->spot = true;
          Spot(c, *o.detail, *l);
          break;
        default:
          notices_.push_back(SkippedChunkNotice(c));
      }
    }
  }

  void Spot(const Chunk& spot, ObjectDetail& o, MemLightObject& l) {
    PayloadCursor p(d_, spot);
    o.target = p.Point();
    l.hotspot = p.F32();
    l.falloff = p.F32();
    for (const Chunk& c : Children(d_, spot)) {
      PayloadCursor q(d_, c);
      switch (c.id) {
        case SPOT_ROLL:  // the roll controller's value; its track gives the controller
          break;
        case SPOT_SHADOWED:
          l.castShadows = true;
          break;
        case SPOT_SHADOW_MAP:
          l.useGlobalShadows = false;
          l.shadowMapBias = q.F32();
          l.shadowMapRange = q.F32();
          l.shadowMapSize = q.U16();
          break;
        case SPOT_SHOW_CONE:
          l.coneDisplayed = true;
          break;
        case SPOT_RECTANGULAR:
          l.rectangular = true;
          break;
        case SPOT_ASPECT:
          l.aspect = q.F32();
          break;
        case SPOT_OVERSHOOT:
          l.overshoot = true;
          break;
        case SPOT_RAY_BIAS:
          l.rayTraceBias = q.F32();
          break;
        case SPOT_RAYTRACE_SHADOWS:
          l.rayTracedShadows = true;
          break;
        default:
          notices_.push_back(SkippedChunkNotice(c));
      }
    }
  }

  void Camera(const Chunk& camera, FileObject& o) {
    auto* cam = Make(o, std::make_unique<MemCameraObject>());
    ObjectDetail& d = *o.detail;
    PayloadCursor p(d_, camera);
    d.position = p.Point();
    d.target = p.Point();
    p.F32();  // roll: always 0 in the file
    d.lens = p.F32();
    if (d.lens > 0.0f && std::isfinite(d.lens))
      cam->fov = static_cast<float>(2400.0 / static_cast<double>(d.lens) /
                                    static_cast<double>(kDegreesPerRadian));
    for (const Chunk& c : Children(d_, camera)) {
      PayloadCursor q(d_, c);
      if (c.id == CAMERA_RANGES) {
        cam->nearRange = q.F32();
        cam->farRange = q.F32();
      } else {
        notices_.push_back(SkippedChunkNotice(c));
      }
    }
  }

  void Shape(const Chunk& shape, FileObject& o) {
    Make(o, std::make_unique<MemShapeObject>());
    ObjectDetail& d = *o.detail;
    PayloadCursor p(d_, shape);
    d.parentName = p.Text();
    int32_t n = p.I32();
    if (n < 0 || static_cast<uint64_t>(n) * 12 > p.Left())
      p.Fail("the point count " + std::to_string(n) + " does not fit the chunk");
    d.points.resize(static_cast<size_t>(n));
    for (Point3& q : d.points) q = p.Point();
  }

  const uint8_t* d_;
  MemScene* scene_;
  FileContent* content_;
  std::vector<std::string>& notices_;
};

}  // namespace

std::string SkippedChunkNotice(const Chunk& c) {
  return "offset " + std::to_string(c.offset) + ": unknown chunk " + Hex(c.id) + " skipped";
}

void ReadEditorSection(const uint8_t* data, const Chunk& editor, MemScene& scene,
                       FileContent& content, std::vector<std::string>& notices) {
  EditorReader(data, &scene, &content, notices).Section(editor);
}

void ReadObjectAgain(const uint8_t* data, FileObject& o) {
  std::vector<std::string> given;  // when it was first read
  FileContent content;
  FileObject again =
      EditorReader(data, nullptr, &content, given).NamedObject(ChunkAt(data, o.offset));
  o.detail = std::move(again.detail);
  o.made = std::move(again.made);
  o.object = o.made.get();
}

}  // namespace tsm
