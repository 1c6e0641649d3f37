#include "formats/obj/obj_loader.h"

#include <tiny_obj_loader.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <istream>
#include <map>
#include <memory>
#include <functional>
#include <sstream>
#include <unordered_map>
#include <vector>

#include "formats/import_util.h"
#include "io/input_file.h"
#include "scene/mem_material.h"

namespace tsm {
namespace {

// The file's name without folder and extension: the name of faces outside any group.
std::string StemOf(const std::string& path) {
  size_t slash = path.find_last_of("/\\");
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  size_t dot = name.find_last_of('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

float Fraction(double v) {
  return std::isfinite(v) ? float(std::min(1.0, std::max(0.0, v))) : 0.0f;
}

bool Finite3(const tinyobj::real_t* v) {
  for (int i = 0; i < 3; ++i)
    if (!std::isfinite(v[i]) || std::fabs(v[i]) > 3.4028235e38) return false;
  return true;
}

Point3 Color(const tinyobj::real_t* c) {
  return Point3(Fraction(c[0]), Fraction(c[1]), Fraction(c[2]));
}

bool IsNumber(const std::string& token) {
  char* end = nullptr;
  std::strtod(token.c_str(), &end);
  return !token.empty() && end == token.c_str() + token.size();
}

// A map statement of an MTL file with each numeric option given all its values: the last
// ones may be left out (-s 2 1), and the parser reads them all in any case, so a short
// option would swallow the image's name. The options stop at the first token that is
// not one; the rest of the line, the file name, is kept as it stands.
std::string WithFullMapOptions(const std::string& line) {
  std::istringstream in(line);
  std::string keyword;
  in >> keyword;
  if (keyword.rfind("map_", 0) != 0 && keyword != "bump" && keyword != "disp" &&
      keyword != "decal" && keyword != "refl" && keyword != "norm")
    return line;
  std::string out = keyword;
  std::string option, value;
  std::streampos rest = in.tellg();
  while (in >> option && option.size() > 1 && option[0] == '-' && !IsNumber(option)) {
    out += " " + option;
    // The defaults of the numeric options' values; any other option takes one word.
    const char* defaults = option == "-s"                          ? "111"
                           : option == "-o" || option == "-t"      ? "000"
                           : option == "-mm"                       ? "01"
                           : option == "-bm" || option == "-boost" ? "1"
                                                                   : nullptr;
    const int most = defaults != nullptr ? int(std::strlen(defaults)) : 1;
    int given = 0;
    rest = in.tellg();
    while (given < most && in >> value && (defaults == nullptr || IsNumber(value))) {
      out += " " + value;
      ++given;
      rest = in.tellg();
    }
    in.clear();
    in.seekg(rest);
    for (; defaults != nullptr && given < most; ++given) out += std::string(" ") + defaults[given];
  }
  if (rest == std::streampos(-1)) return out;
  return out + line.substr(size_t(rest));
}

// The numbers of an OBJ text checked line by line before the parser reads them, since
// it wraps large indices and reads nan and inf: coordinates must be finite floats, and
// face, line and point indices integers that name a vertex (a negative one counting back
// from the last so far). Answers whether any vertex has a colour (x y z r g b).
// The most corners of a polygon the parser triangulates itself; its way takes time that
// grows with the square of the corners. Larger polygons become fans.
constexpr size_t kMaxClippedCorners = 256;

struct ObjScan {
  bool anyColor = false;  // some vertex has a colour
  std::vector<std::pair<size_t, size_t>> hugeFaces;  // the lines [begin, end) of such faces
};

bool Blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

ObjScan CheckObjNumbers(const std::string& text) {
  ObjScan scan;
  const char* const kinds[3] = {"vertex", "texture coordinate", "normal"};
  long long counts[3] = {0, 0, 0};  // v, vt, vn so far
  size_t lineNo = 0;
  auto at = [&lineNo] { return "line " + std::to_string(lineNo) + ": "; };
  const char* p = text.data();
  const size_t size = text.size();
  size_t start = 0;
  while (start < size) {
    const void* nl = std::memchr(p + start, '\n', size - start);
    size_t end = nl == nullptr ? size : size_t(static_cast<const char*>(nl) - p);
    ++lineNo;
    size_t i = start;
    while (i < end && Blank(p[i])) ++i;
    size_t k = i;
    while (k < end && !Blank(p[k])) ++k;
    std::string keyword(p + i, k - i);
    int kind = keyword == "v" ? 0 : keyword == "vt" ? 1 : keyword == "vn" ? 2 : -1;
    bool faces = keyword == "f" || keyword == "l" || keyword == "p";
    if (kind >= 0 || faces) {
      int numbers = 0;
      size_t corners = 0;
      for (size_t t = k;;) {
        while (t < end && Blank(p[t])) ++t;
        if (t >= end) break;
        size_t e = t;
        while (e < end && !Blank(p[e])) ++e;
        ++corners;
        if (kind >= 0) {
          std::string token(p + t, e - t);
          char* stop = nullptr;
          double v = std::strtod(token.c_str(), &stop);
          if (*stop != '\0') break;  // the rest is not numbers; the parser ignores it
          if (!std::isfinite(v) || std::fabs(v) > 3.4028235e38)
            throw ImportError(at() + "\"" + token + "\" is not a finite number");
          ++numbers;
          t = e;
          continue;
        }
        // v, v/vt, v//vn or v/vt/vn: each part an index of its kind.
        size_t from = t;
        for (int part = 0; part < 3 && from <= e; ++part) {
          size_t to = from;
          while (to < e && p[to] != '/') ++to;
          if (to > from) {
            bool negative = p[from] == '-';
            unsigned long long value = 0;
            bool digits = to - from > (negative ? 1u : 0u);
            for (size_t c = from + (negative ? 1 : 0); c < to && digits; ++c) {
              digits = p[c] >= '0' && p[c] <= '9';
              if (value <= 0x7FFFFFFFull) value = value * 10 + unsigned(p[c] - '0');
            }
            std::string n(p + from, to - from);
            if (!digits) throw ImportError(at() + "\"" + n + "\" is not an index");
            if (value == 0)
              throw ImportError(at() + "index 0 names no " + kinds[part] + "; indices start at 1");
            if (value > 0x7FFFFFFFull)
              throw ImportError(at() + kinds[part] + " index " + n + " is out of range");
            if (negative && (long long)value > counts[part])
              throw ImportError(at() + kinds[part] + " index " + n +
                                " counts back past the first " + kinds[part] + " (there are " +
                                std::to_string(counts[part]) + " before this line)");
          }
          from = to + 1;
        }
        t = e;
      }
      if (keyword == "f" && corners > kMaxClippedCorners) scan.hugeFaces.emplace_back(k, end);
      if (kind >= 0) ++counts[kind];
      if (kind == 0) scan.anyColor = scan.anyColor || numbers >= 6;
    }
    start = end + 1;
  }
  return scan;
}

// The text with each huge face's line replaced by the triangles of a fan around its first
// corner: linear in the corners, and right for convex polygons.
std::string WithFans(const std::string& text, const ObjScan& scan) {
  std::string out;
  size_t copied = 0;
  for (const auto& face : scan.hugeFaces) {
    out.append(text, copied, face.first - copied);  // up to and including "f"
    std::istringstream tokens(text.substr(face.first, face.second - face.first));
    std::string first, prev, token;
    tokens >> first >> prev;
    bool any = false;
    while (tokens >> token) {
      out += (any ? "\nf " : " ") + first + " " + prev + " " + token;
      any = true;
      prev = token;
    }
    copied = face.second;
  }
  out.append(text, copied, std::string::npos);
  return out;
}

// A stream over text held elsewhere, so that a large file is not copied to be parsed.
class TextStream : private std::streambuf, public std::istream {
 public:
  explicit TextStream(const std::string& text) : std::istream(this) {
    char* begin = const_cast<char*>(text.data());  // only read
    setg(begin, begin, begin + text.size());
  }
};

// Reads the MTL files the OBJ names from its folder through the guarded reader, map
// options completed. A file that is not there is a notice; one refused (outside the
// folder, not a regular file, too large) ends the load.
class MtlReader : public tinyobj::MaterialReader {
 public:
  explicit MtlReader(const InputFolder& folder) : folder_(folder) {}

  bool operator()(const std::string& name, std::vector<tinyobj::material_t>* materials,
                  std::map<std::string, int>* ids, std::string* warn, std::string* err) override {
    std::string bytes;
    InputRead read = folder_.Read(name, kMaxInputFileSize, &bytes);
    if (read.fault == InputFault::kOpen && read.errnum == ENOENT) {
      *warn += "material file \"" + name + "\" is missing; its materials are left default\n";
      return false;
    }
    if (!read.ok()) {
      if (refused.empty()) refused = "material file \"" + name + "\" " + read.message;
      return false;
    }
    std::string text;
    TextStream in(bytes);
    std::string line;
    while (std::getline(in, line)) text += WithFullMapOptions(line) + "\n";
    TextStream mtl(text);
    tinyobj::LoadMtl(ids, materials, &mtl, warn, err);
    return true;
  }

  std::string refused;  // why the first refused material file was not read

 private:
  const InputFolder& folder_;
};

class ObjImport {
 public:
  ObjImport(const std::string& path, const ImportOptions& options, MemScene& scene,
            std::vector<std::string>& notices)
      : path_(path),
        axes_(options.yUp),
        split_(options.split),
        scene_(scene),
        notices_(notices),
        folder_(path, options.anyFolder) {}

  void Run() {
    InputRules rules;
    rules.streams = true;
    // Text holds no NUL: a stream that starts with one is read no further.
    rules.hopeless = [](const char* data, size_t) { return data[0] == '\0'; };
    InputRead read = ReadInputFile(path_, rules, &source_);
    if (read.fault == InputFault::kOpen) throw ImportError("cannot open the file");
    if (!read.ok()) throw ImportError(read.message);
    ObjScan scan = CheckObjNumbers(source_);
    std::string fanned;  // the text with huge faces as fans, when there are any
    anyColor_ = scan.anyColor;
    if (!scan.hugeFaces.empty()) {
      Notice(std::to_string(scan.hugeFaces.size()) + " face(s) of more than " +
             std::to_string(kMaxClippedCorners) +
             " corners are cut into fans around their first corner, right for convex faces");
      fanned = WithFans(source_, scan);
    }
    TextStream in(fanned.empty() ? source_ : fanned);
    std::string warn, err;
    MtlReader mtl(folder_);
    // Vertices without a colour get white when others have one.
    bool ok =
        tinyobj::LoadObj(&attrib_, &shapes_, &materials_, &warn, &err, &in, &mtl, true, true);
    if (!mtl.refused.empty()) throw ImportError(mtl.refused);
    Lines(warn, [&](const std::string& line) { Notice(Reworded(line)); });
    if (!ok) {
      std::string message;
      Lines(err, [&](const std::string& line) { message += (message.empty() ? "" : "; ") + line; });
      throw ImportError(message.empty() ? "not an OBJ file that can be read" : message);
    }
    objectNames_ = ObjectNames();
    for (size_t s = 0; s < shapes_.size(); ++s) AddShape(s);
    if (split_) SplitLargeMeshes(scene_, meshNodes_, path_, names_, notices_);
  }

 private:
  template <class F>
  static void Lines(const std::string& text, F each) {
    size_t start = 0;
    while (start < text.size()) {
      size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      std::string line = text.substr(start, end - start);
      while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
      if (!line.empty()) each(line);
      start = end + 1;
    }
  }

  void Notice(const std::string& text) { notices_.push_back(path_ + ": " + text); }

  // The name of the `o` statement in effect where each shape of the file starts, by
  // shape: the library names a shape after its last `o` or `g` only. Empty when the
  // statements can't be matched with the library's shapes one for one.
  std::vector<std::string> ObjectNames() const {
    std::vector<std::string> names;
    std::string object;
    bool fresh = true;  // an `o` or `g` came since the last element: a new shape starts
    ForEachStatement([&](size_t, const std::string& keyword, const std::string& rest) {
      if (keyword == "o") object = rest;
      if (keyword == "o" || keyword == "g") fresh = true;
      if ((keyword == "f" || keyword == "l" || keyword == "p") && fresh) {
        names.push_back(object);
        fresh = false;
      }
    });
    if (names.size() != shapes_.size()) names.clear();
    return names;
  }

  // Calls each(number, keyword, rest) for every line of the OBJ text: its number from 1,
  // its first word, and the rest of it without the spaces around it.
  void ForEachStatement(
      const std::function<void(size_t, const std::string&, const std::string&)>& each) const {
    std::istringstream in(source_);
    std::string text;
    size_t number = 0;
    while (std::getline(in, text)) {
      ++number;
      std::istringstream words(text);
      std::string keyword, rest;
      words >> keyword >> std::ws;
      std::getline(words, rest);
      while (!rest.empty() && (rest.back() == '\r' || rest.back() == ' ')) rest.pop_back();
      each(number, keyword, rest);
    }
  }

  // The parent of shape s: a dummy named after its object when the shape is a group of
  // that object under another name (`o Walls`, then `g Walls_Brick`); else none.
  MemNode* ObjectNode(size_t s, const std::string& shapeName) {
    if (s >= objectNames_.size() || objectNames_[s].empty() || objectNames_[s] == shapeName)
      return nullptr;
    const std::string& object = objectNames_[s];
    if (objectNode_ == nullptr || objectNodeName_ != object) {
      objectNode_ = scene_.AddNode(names_.Unique(object, "Object"));
      objectNode_->object = scene_.Own(std::make_unique<MemDummyObject>());
      objectNodeName_ = object;
    }
    return objectNode_;
  }

  // Our own wording of what the OBJ library says about a material that no material file
  // holds: the line that first uses it and the material files the OBJ names. Other
  // notices are kept as they are.
  std::string Reworded(const std::string& line) const {
    const std::string head = "material [ '", tail = "' ] not found in .mtl";
    if (line.size() < head.size() + tail.size() || line.rfind(head, 0) != 0 ||
        line.compare(line.size() - tail.size(), tail.size(), tail) != 0)
      return line;
    std::string name = line.substr(head.size(), line.size() - head.size() - tail.size());
    std::string libs;
    size_t at = 0;
    ForEachStatement([&](size_t number, const std::string& keyword, const std::string& rest) {
      if (keyword == "mtllib") libs += (libs.empty() ? "\"" : ", \"") + rest + "\"";
      if (keyword == "usemtl" && at == 0 && rest == name) at = number;
    });
    return (at != 0 ? "line " + std::to_string(at) + ": " : std::string()) + "material \"" + name +
           "\" is not in " + (libs.empty() ? std::string("any material file") : libs) +
           "; its faces get the default material";
  }

  void AddShape(size_t s) {
    const tinyobj::shape_t& shape = shapes_[s];
    std::string name = names_.Unique(shape.name, StemOf(path_));
    if (!shape.lines.indices.empty() || !shape.points.indices.empty())
      Notice("\"" + name + "\": points and lines are not exported; left out");
    const tinyobj::mesh_t& m = shape.mesh;
    if (m.num_face_vertices.empty()) return;
    size_t vcount = attrib_.vertices.size() / 3;
    size_t tcount = attrib_.texcoords.size() / 2;
    bool colors = anyColor_ && attrib_.colors.size() == attrib_.vertices.size();
    auto* mesh = scene_.Own(std::make_unique<MemMeshObject>());
    std::unordered_map<int, int> vmap, tmap;
    std::vector<int> slots;  // MTL material of each sub-material slot
    bool anyUv = false;
    int noUv = -1;  // the texture vertex of faces without texture coordinates
    size_t corner = 0;
    for (size_t f = 0; f < m.num_face_vertices.size(); ++f) {
      size_t n = m.num_face_vertices[f];
      if (corner + n > m.indices.size())
        throw ImportError("\"" + name + "\": face data is cut short");
      if (n != 3) {
        corner += n;
        continue;
      }
      MemFace face;
      std::array<int, 3> tf{{-1, -1, -1}};
      for (size_t k = 0; k < 3; ++k) {
        const tinyobj::index_t& ix = m.indices[corner + k];
        if (ix.vertex_index < 0 || size_t(ix.vertex_index) >= vcount)
          throw ImportError("\"" + name + "\", face " + std::to_string(f + 1) + ": vertex " +
                            std::to_string(ix.vertex_index + 1) + " does not exist (the file has " +
                            std::to_string(vcount) + ")");
        auto v = vmap.emplace(ix.vertex_index, int(mesh->vertices.size()));
        if (v.second) {
          const tinyobj::real_t* p = &attrib_.vertices[3 * size_t(ix.vertex_index)];
          const tinyobj::real_t* c = colors ? &attrib_.colors[3 * size_t(ix.vertex_index)] : p;
          if (!Finite3(p) || !Finite3(c))
            throw ImportError("vertex " + std::to_string(ix.vertex_index + 1) +
                              " holds a value that is not a finite number");
          mesh->vertices.push_back(axes_.Point(Point3(p[0], p[1], p[2])));
          if (colors) mesh->vertexColors.emplace_back(c[0], c[1], c[2]);
        }
        face.v[k] = v.first->second;
        if (ix.texcoord_index >= 0) {
          if (size_t(ix.texcoord_index) >= tcount)
            throw ImportError("\"" + name + "\", face " + std::to_string(f + 1) +
                              ": texture coordinate " + std::to_string(ix.texcoord_index + 1) +
                              " does not exist (the file has " + std::to_string(tcount) + ")");
          auto t = tmap.emplace(ix.texcoord_index, int(mesh->texVerts.size()));
          if (t.second) {
            const tinyobj::real_t* uv = &attrib_.texcoords[2 * size_t(ix.texcoord_index)];
            if (!std::isfinite(uv[0]) || !std::isfinite(uv[1]))
              throw ImportError("texture coordinate " + std::to_string(ix.texcoord_index + 1) +
                                " holds a value that is not a finite number");
            mesh->texVerts.emplace_back(uv[0], uv[1], 0.0f);
          }
          tf[k] = t.first->second;
          anyUv = true;
        }
      }
      corner += 3;
      int id = f < m.material_ids.size() ? m.material_ids[f] : -1;
      if (id >= int(materials_.size())) id = -1;
      auto slot = std::find(slots.begin(), slots.end(), id);
      face.materialId = int(slot - slots.begin());
      if (slot == slots.end()) slots.push_back(id);
      unsigned group = f < m.smoothing_group_ids.size() ? m.smoothing_group_ids[f] : 0;
      face.smoothing = group == 0 ? 0u : 1u << ((group - 1) % 32);
      mesh->faces.push_back(face);
      mesh->texFaces.push_back(tf);
    }
    if (mesh->faces.empty()) {
      Notice("\"" + name + "\" has no triangles; left out");
      return;
    }
    if (!anyUv) {
      mesh->texFaces.clear();
    } else {
      for (auto& tf : mesh->texFaces)
        for (int& t : tf)
          if (t < 0) {
            if (noUv < 0) {
              noUv = int(mesh->texVerts.size());
              mesh->texVerts.emplace_back();
            }
            t = noUv;
          }
    }
    MemNode* node = scene_.AddNode(name, ObjectNode(s, shape.name));
    node->object = mesh;
    if (slots.size() == 1) {
      node->material = Material(slots[0]);
    } else {
      auto* multi = scene_.Own(std::make_unique<MemMaterial>());
      multi->classId = kMultiMaterialClass;
      multi->name = name + " Materials";
      for (int id : slots) multi->subMaterials.push_back(Material(id));
      node->material = multi;
    }
    meshNodes_.push_back(node);
  }

  MemMaterial* Material(int id) {
    auto found = made_.find(id);
    if (found != made_.end()) return found->second;
    auto* m = scene_.Own(std::make_unique<MemMaterial>());
    made_[id] = m;
    if (id < 0) {
      m->name = "Default";
      return m;
    }
    const tinyobj::material_t& t = materials_[id];
    m->name = WithoutNul(t.name);
    m->ambient = Color(t.ambient);
    m->diffuse = Color(t.diffuse);
    m->specular = Color(t.specular);
    m->shininess = Fraction(t.shininess / 1000.0);  // Ns runs from 0 to 1000
    m->shininessStrength = std::max({m->specular.x, m->specular.y, m->specular.z});
    m->transparency = Fraction(1.0 - t.dissolve);  // d, or 1 - Tr
    SetMap(*m, kChannelDiffuse, t.diffuse_texname, t.diffuse_texopt, 1.0);
    SetMap(*m, kChannelSpecular, t.specular_texname, t.specular_texopt, 1.0);
    SetMap(*m, kChannelBump, t.bump_texname, t.bump_texopt, t.bump_texopt.bump_multiplier);
    SetMap(*m, kChannelOpacity, t.alpha_texname, t.alpha_texopt, 1.0);
    return m;
  }

  void SetMap(MemMaterial& m, int channel, const std::string& file,
              const tinyobj::texture_option_t& opt, double amount) {
    if (file.empty()) return;
    auto* map = scene_.Own(std::make_unique<MemMap>());
    map->fileName = WithoutNul(file);
    auto finite = [](double v, float fallback) { return std::isfinite(v) ? float(v) : fallback; };
    map->uOffset = finite(opt.origin_offset[0], 0.0f);
    map->vOffset = finite(opt.origin_offset[1], 0.0f);
    map->uTiling = finite(opt.scale[0], 1.0f);
    map->vTiling = finite(opt.scale[1], 1.0f);
    if (opt.clamp) map->tilingBits = 0;
    m.channels[channel].map = map;
    m.channels[channel].amount = finite(amount, 1.0f);
    if (!folder_.Exists(map->fileName) && missing_.insert(map->fileName).second)
      Notice("image file \"" + map->fileName + "\" is missing; its map keeps the name");
  }

  std::string path_;
  AxisChange axes_;
  bool split_;
  MemScene& scene_;
  std::vector<std::string>& notices_;
  InputFolder folder_;
  bool anyColor_ = false;  // some vertex has a colour
  tinyobj::attrib_t attrib_;
  std::vector<tinyobj::shape_t> shapes_;
  std::vector<tinyobj::material_t> materials_;
  NameKeeper names_;
  std::map<int, MemMaterial*> made_;
  std::unordered_set<std::string> missing_;
  std::vector<MemNode*> meshNodes_;
  std::string source_;                    // the file's text as read
  std::vector<std::string> objectNames_;  // by shape; see ObjectNames
  MemNode* objectNode_ = nullptr;         // the dummy of the object being read
  std::string objectNodeName_;
};

}  // namespace

ImportResult LoadObjScene(const std::string& path, const ImportOptions& options, MemScene& scene) {
  return RunImport(path, scene, [&](std::vector<std::string>& notices) {
    ObjImport(path, options, scene, notices).Run();
  });
}

}  // namespace tsm
