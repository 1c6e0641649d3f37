#include "view/scene_view.h"

#include <cstring>
#include <map>

#include "reader/chunk_dump.h"
#include "reader/chunk_reader.h"
#include "writer/chunk_ids.h"

namespace tsm {

namespace {

// The host's usual ticks per frame; the file does not record its own.
constexpr double kTicksPerFrame = 160.0;

// Reads little-endian values from [pos, end) of the file; a read past end fails and
// every later read fails too.
class Cursor {
 public:
  Cursor(const uint8_t* data, uint64_t begin, uint64_t end) : d_(data), pos_(begin), end_(end) {}

  bool Ok() const { return ok_; }
  bool AtEnd() const { return pos_ >= end_; }

  uint16_t U16() {
    if (!Need(2)) return 0;
    uint16_t v = static_cast<uint16_t>(d_[pos_] | (d_[pos_ + 1] << 8));
    pos_ += 2;
    return v;
  }
  uint32_t U32() {
    if (!Need(4)) return 0;
    uint32_t v = uint32_t(d_[pos_]) | (uint32_t(d_[pos_ + 1]) << 8) |
                 (uint32_t(d_[pos_ + 2]) << 16) | (uint32_t(d_[pos_ + 3]) << 24);
    pos_ += 4;
    return v;
  }
  float F32() {
    uint32_t bits = U32();
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
  }
  Vec3 Point() {
    Vec3 p;
    p.x = F32();
    p.y = F32();
    p.z = F32();
    return p;
  }
  uint8_t U8() {
    if (!Need(1)) return 0;
    return d_[pos_++];
  }
  // A NUL-terminated text; fails when no NUL comes before the end.
  std::string Text() {
    if (!ok_) return std::string();
    const void* nul = std::memchr(d_ + pos_, 0, static_cast<size_t>(end_ - pos_));
    if (nul == nullptr) {
      ok_ = false;
      return std::string();
    }
    const char* s = reinterpret_cast<const char*>(d_ + pos_);
    size_t n = static_cast<const uint8_t*>(nul) - (d_ + pos_);
    pos_ += n + 1;
    return std::string(s, n);
  }
  void Skip(uint64_t n) {
    if (Need(n)) pos_ += n;
  }

 private:
  bool Need(uint64_t n) {
    if (!ok_ || end_ - pos_ < n) ok_ = false;
    return ok_;
  }

  const uint8_t* d_;
  uint64_t pos_;
  uint64_t end_;
  bool ok_ = true;
};

bool Finite(const Vec3& p) {
  return p.x - p.x == 0.0 && p.y - p.y == 0.0 && p.z - p.z == 0.0;
}

class Reader {
 public:
  Reader(const uint8_t* data, ViewScene* scene) : d_(data), scene_(scene) {}

  void Top(const Chunk& top) {
    for (const Chunk& section : top.children) {
      if (section.id == EDITOR_DATA) Editor(section);
      if (section.id == KEYFRAMER_DATA) Keyframer(section);
    }
  }

 private:
  Cursor Payload(const Chunk& c) const { return Cursor(d_, c.payloadBegin, c.payloadEnd); }

  void Editor(const Chunk& section) {
    // Materials first, so that faces can name them wherever the blocks stand.
    for (const Chunk& c : section.children) {
      if (c.id == MATERIAL_BLOCK) Material(c);
    }
    for (const Chunk& c : section.children) {
      if (c.id == NAMED_OBJECT) NamedObject(c);
    }
  }

  void Material(const Chunk& block) {
    ViewMaterial m;
    for (const Chunk& c : block.children) {
      if (c.id == MATERIAL_NAME) {
        m.name = Payload(c).Text();
      } else if (c.id == MATERIAL_TWO_SIDED) {
        m.twoSided = true;
      } else if (c.id == MATERIAL_DIFFUSE) {
        // The colour as it was set: the uncorrected bytes when the file has both.
        const Chunk* bytes = nullptr;
        for (const Chunk& col : c.children) {
          if (col.id == COLOR_BYTES_LINEAR || (col.id == COLOR_BYTES && bytes == nullptr))
            bytes = &col;
        }
        if (bytes != nullptr && bytes->PayloadSize() >= 3) {
          Cursor p = Payload(*bytes);
          m.diffuse.r = p.U8() / 255.0f;
          m.diffuse.g = p.U8() / 255.0f;
          m.diffuse.b = p.U8() / 255.0f;
        }
      }
    }
    if (byName_.count(m.name) == 0) byName_[m.name] = static_cast<int>(scene_->materials.size());
    scene_->materials.push_back(m);
  }

  void NamedObject(const Chunk& c) {
    const std::string name = Payload(c).Text();
    for (const Chunk& o : c.children) {
      switch (o.id) {
        case TRIANGLE_MESH:
          Mesh(name, o);
          break;
        case LIGHT:
          Light(name, o);
          break;
        case CAMERA:
          Camera(name, o);
          break;
        case SHAPE_POINTS:
          Shape(name, o);
          break;
        default:
          break;
      }
    }
  }

  void Mesh(const std::string& name, const Chunk& mesh) {
    ViewMesh m;
    m.name = name;
    for (const Chunk& c : mesh.children) {
      if (c.id == MESH_VERTICES) {
        Cursor p = Payload(c);
        uint16_t n = p.U16();
        for (uint16_t i = 0; i < n && p.Ok(); ++i) {
          Vec3 v = p.Point();
          if (p.Ok()) m.vertices.push_back(v);
        }
      } else if (c.id == MESH_FACES) {
        Faces(c, &m);
      }
    }
    // A face that names a vertex the mesh does not have is left out.
    std::vector<ViewFace> kept;
    for (const ViewFace& f : m.faces) {
      if (f.v[0] < m.vertices.size() && f.v[1] < m.vertices.size() && f.v[2] < m.vertices.size())
        kept.push_back(f);
    }
    m.faces.swap(kept);
    scene_->meshes.push_back(std::move(m));
  }

  void Faces(const Chunk& c, ViewMesh* m) {
    Cursor p = Payload(c);
    uint16_t n = p.U16();
    for (uint16_t i = 0; i < n && p.Ok(); ++i) {
      ViewFace f;
      f.v[0] = p.U16();
      f.v[1] = p.U16();
      f.v[2] = p.U16();
      p.Skip(2 + 24);  // edge flags, mapping coordinates
      if (p.Ok()) m->faces.push_back(f);
    }
    for (const Chunk& g : c.children) {
      if (g.id != FACE_MATERIAL) continue;
      Cursor q = Payload(g);
      std::string material = q.Text();
      uint16_t count = q.U16();
      if (!q.Ok()) continue;  // a group left empty by a soft error
      auto found = byName_.find(material);
      int index = found == byName_.end() ? -1 : found->second;
      for (uint16_t i = 0; i < count; ++i) {
        uint16_t face = q.U16();
        if (!q.Ok()) break;
        if (face < m->faces.size()) m->faces[face].material = index;
      }
    }
  }

  void Light(const std::string& name, const Chunk& c) {
    ViewLight l;
    l.name = name;
    l.position = Payload(c).Point();
    for (const Chunk& k : c.children) {
      Cursor p = Payload(k);
      if (k.id == COLOR_FLOAT) {
        ColorF col;
        col.r = p.F32();
        col.g = p.F32();
        col.b = p.F32();
        if (p.Ok()) l.color = col;
      } else if (k.id == LIGHT_MULTIPLIER) {
        float m = p.F32();
        if (p.Ok() && m - m == 0.0f) l.multiplier = m;
      } else if (k.id == LIGHT_OFF) {
        l.off = true;
      } else if (k.id == SPOT_LIGHT) {
        l.spot = true;
        l.target = p.Point();
      }
    }
    if (Finite(l.position)) scene_->lights.push_back(l);
  }

  void Camera(const std::string& name, const Chunk& c) {
    ViewCamera cam;
    cam.name = name;
    Cursor p = Payload(c);
    cam.position = p.Point();
    cam.target = p.Point();
    p.F32();  // roll, always 0
    cam.lens = p.F32();
    if (p.Ok() && Finite(cam.position) && Finite(cam.target)) scene_->cameras.push_back(cam);
  }

  void Shape(const std::string& name, const Chunk& c) {
    ViewShape s;
    s.name = name;
    Cursor p = Payload(c);
    p.Text();  // the parent's name
    uint32_t count = p.U32();
    for (uint32_t i = 0; i < count && p.Ok(); ++i) {
      Vec3 v = p.Point();
      if (p.Ok()) s.points.push_back(v);
    }
    scene_->shapes.push_back(std::move(s));
  }

  void Keyframer(const Chunk& section) {
    for (const Chunk& c : section.children) {
      if (c.id == KF_CURRENT_TIME) {
        Cursor p = Payload(c);
        int32_t t = static_cast<int32_t>(p.U32());
        if (p.Ok()) scene_->currentTime = t;
      } else if (c.id == OBJECT_NODE) {
        Node(c);
      }
    }
  }

  void Node(const Chunk& node) {
    ViewNode n;
    for (const Chunk& c : node.children) {
      Cursor p = Payload(c);
      if (c.id == NODE_ID) {
        uint16_t id = p.U16();
        if (p.Ok()) n.id = id;
      } else if (c.id == NODE_HEADER) {
        n.name = p.Text();
        uint16_t flags = p.U16();
        p.U16();
        uint16_t parent = p.U16();
        if (p.Ok()) {
          n.instance = n.instance || (flags & 0x4000) == 0;
          n.parent = parent == NO_PARENT ? -1 : parent;
        }
      } else if (c.id == INSTANCE_NAME) {
        n.instance = true;
      } else if (c.id == POSITION_TRACK) {
        PositionTrack(c, &n.position);
      }
    }
    scene_->nodes.push_back(std::move(n));
  }

  // Track header (u16 flags, u32 first, u32 last, u32 count), then per key: u32 frame,
  // u16 spline flags, one float per flag bit, and the position.
  void PositionTrack(const Chunk& c, std::vector<PositionKey>* keys) {
    Cursor p = Payload(c);
    p.Skip(10);
    uint32_t count = p.U32();
    for (uint32_t i = 0; i < count && p.Ok(); ++i) {
      PositionKey k;
      k.frame = static_cast<int32_t>(p.U32());
      uint16_t flags = p.U16();
      for (int bit = 0; bit < 5; ++bit) {
        if (flags & (1u << bit)) p.F32();
      }
      k.value = p.Point();
      if (p.Ok() && Finite(k.value)) keys->push_back(k);
    }
  }

  const uint8_t* d_;
  ViewScene* scene_;
  std::map<std::string, int> byName_;  // first material of each name
};

}  // namespace

bool ReadViewScene(const uint8_t* data, size_t size, ViewScene* scene, std::string* error) {
  *scene = ViewScene();
  FileCheck check = CheckChunkFile(data, size);
  if (!check.ok) {
    *error = check.error;
    return false;
  }
  Reader(data, scene).Top(check.tree.top);
  return true;
}

Vec3 PositionAt(const std::vector<PositionKey>& keys, double frame) {
  if (keys.empty()) return Vec3();
  if (frame <= keys.front().frame) return keys.front().value;
  for (size_t i = 1; i < keys.size(); ++i) {
    const PositionKey& a = keys[i - 1];
    const PositionKey& b = keys[i];
    if (frame <= b.frame) {
      double span = static_cast<double>(b.frame) - a.frame;
      double t = span > 0.0 ? (frame - a.frame) / span : 1.0;
      return {a.value.x + (b.value.x - a.value.x) * t, a.value.y + (b.value.y - a.value.y) * t,
              a.value.z + (b.value.z - a.value.z) * t};
    }
  }
  return keys.back().value;
}

void ApplyPositionTracks(ViewScene* scene, int32_t frame) {
  const double current = static_cast<double>(scene->currentTime) / kTicksPerFrame;
  // Each node's own change, then summed along its parents.
  std::map<int, size_t> byId;
  std::vector<Vec3> own(scene->nodes.size());
  for (size_t i = 0; i < scene->nodes.size(); ++i) {
    const ViewNode& n = scene->nodes[i];
    if (n.id >= 0 && byId.count(n.id) == 0) byId[n.id] = i;
    Vec3 a = PositionAt(n.position, frame), b = PositionAt(n.position, current);
    own[i] = {a.x - b.x, a.y - b.y, a.z - b.z};
  }
  auto total = [&](size_t i) {
    Vec3 d;
    // Parents come before their children in the file; the walk stops at a loop.
    for (size_t steps = 0; steps <= scene->nodes.size(); ++steps) {
      d.x += own[i].x;
      d.y += own[i].y;
      d.z += own[i].z;
      auto parent = byId.find(scene->nodes[i].parent);
      if (scene->nodes[i].parent < 0 || parent == byId.end()) break;
      i = parent->second;
    }
    return d;
  };
  for (ViewMesh& m : scene->meshes) {
    for (size_t i = 0; i < scene->nodes.size(); ++i) {
      const ViewNode& n = scene->nodes[i];
      if (n.instance || n.name != m.name) continue;
      Vec3 d = total(i);
      for (Vec3& v : m.vertices) {
        v.x += d.x;
        v.y += d.y;
        v.z += d.z;
      }
      break;
    }
  }
}

}  // namespace tsm
