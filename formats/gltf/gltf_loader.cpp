#include "formats/gltf/gltf_loader.h"

#include <tiny_gltf.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string_view>

#include "formats/gltf/gltf_conventions.h"
#include "formats/gltf/gltf_prescan.h"
#include "formats/import_util.h"
#include "io/input_file.h"
#include "scene/mem_material.h"

namespace tsm {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kMaxHierarchyDepth = 1000;       // as in our JSON scene format
constexpr size_t kMaxUnbackedCount = 1 << 24;  // elements of an accessor without data
constexpr size_t kMaxTriangles = 1 << 26;      // of one mesh, whatever its primitives say
constexpr float kTargetDistance = 1.0f;        // synthesised targets, in the node's units
// The values (floats and indices) accessor reads may make: a float takes 4 bytes of a
// buffer, so 16 a byte lets every accessor be read four times over; the free values
// cover small files and accessors without data of a reasonable size.
constexpr size_t kValuesPerByte = 16;
constexpr size_t kFreeValues = size_t(1) << 24;

// Images are referenced by name; their bytes are never decoded.
bool SkipImage(tinygltf::Image*, const int, std::string*, std::string*, int, int,
               const unsigned char*, int, void*) {
  return true;
}

std::string Text(int index) {
  return std::to_string(index);
}

bool Finite(double v) {
  return std::isfinite(v) && std::fabs(v) <= 3.4028235e38;
}

// What is wrong with the framing of a binary glTF file's bytes (its header and chunk
// headers), naming the byte where it goes wrong; empty when the framing is sound.
std::string GlbProblem(std::string_view file) {
  uint64_t size = file.size();
  auto u32 = [&](uint64_t at) {
    unsigned char b[4] = {0, 0, 0, 0};
    for (uint64_t i = 0; i < 4 && at + i < size; ++i)
      b[i] = static_cast<unsigned char>(file[at + i]);
    return uint32_t(b[0]) | (uint32_t(b[1]) << 8) | (uint32_t(b[2]) << 16) | (uint32_t(b[3]) << 24);
  };
  auto n = [](uint64_t v) { return std::to_string(v); };
  if (size < 12) return "the binary file ends at byte " + n(size) + ", inside its 12-byte header";
  uint32_t version = u32(4), length = u32(8);
  if (version != 2) return "the binary header gives version " + n(version) + "; only 2 is read";
  if (length > size)
    return "the binary header gives a length of " + n(length) +
           " bytes, but the file ends at byte " + n(size) + ": it is cut short";
  uint64_t at = 12;
  for (int chunk = 0; at < length; ++chunk) {
    std::string which = chunk == 0 ? "the JSON chunk" : "chunk " + n(uint64_t(chunk));
    if (length - at < 8)
      return which + " at byte " + n(at) + ": its 8-byte header is cut short by the end at byte " +
             n(length);
    uint32_t bytes = u32(at), type = u32(at + 4);
    if (chunk == 0 && type != 0x4E4F534Au)
      return "the chunk at byte 12 is not the JSON chunk that must come first";
    if (bytes > length - at - 8)
      return which + " at byte " + n(at) + " gives " + n(bytes) + " bytes, but only " +
             n(length - at - 8) + " follow before the end at byte " + n(length);
    at += 8 + uint64_t(bytes);
  }
  if (at == 12) return "the file ends after its header, without the JSON chunk";
  return std::string();
}

// The largest of n values (0 for none). Sixteen running maxima, a block of sixteen values
// at a time: a loop of fixed length the compiler turns into vector steps.
uint32_t Largest(const uint32_t* v, size_t n) {
  uint32_t m[16] = {};
  size_t i = 0;
  for (; i + 16 <= n; i += 16)
    for (int k = 0; k < 16; ++k) m[k] = m[k] > v[i + k] ? m[k] : v[i + k];
  uint32_t most = 0;
  for (; i < n; ++i) most = std::max(most, v[i]);
  for (uint32_t x : m) most = std::max(most, x);
  return most;
}

// The values of one accessor as floats, comps per element: in v, or, for an accessor
// of tightly packed floats read in place, where they lie in the input.
struct Values {
  int comps = 0;
  size_t count = 0;
  SceneVector<float> v;                    // unless in place
  const unsigned char* inPlace = nullptr;  // the first value in the input; null: in v
  float At(size_t element, int comp) const {
    size_t i = element * size_t(comps) + size_t(comp);
    if (inPlace == nullptr) return v[i];
    float f;
    std::memcpy(&f, inPlace + 4 * i, 4);  // the input need not align them
    return f;
  }
};

class GltfImport {
 public:
  GltfImport(const std::string& path, const ImportOptions& options, MemScene& scene,
             std::vector<std::string>& notices)
      : path_(path),
        options_(options),
        axes_(options.yUp),
        scene_(scene),
        notices_(notices),
        folder_(path, options.anyFolder) {}

  void Run() {
    Parse();
    scene_.masterUnitType = 5;  // glTF lengths are meters
    scene_.masterUnitScale = 1.0;
    BuildNodes();
    BuildAnimation();
    for (const Aimed& a : targets_) Aim(a);
    if (options_.split) SplitLargeMeshes(scene_, meshNodes_, path_, names_, notices_);
  }

 private:
  void Notice(const std::string& text) { notices_.push_back(path_ + ": " + text); }
  void NoticeOnce(const std::string& text) {
    if (said_.insert(text).second) Notice(text);
  }

  // The file is read through the guarded reader, checked before the library parses it,
  // and the library reads only the external buffers the file names, each from the
  // scene's folder; images are never read.
  void Parse() {
    InputRules rules;
    rules.maxSize = 0xFFFFFFFFu;  // the library takes a 32-bit length
    rules.streams = true;
    // A stream whose first byte begins neither a JSON object nor a GLB is read no further.
    rules.hopeless = [](const char* data, size_t size) {
      size_t i = 0;
      while (i < size && std::strchr(" \t\r\n", data[i]) != nullptr && data[i] != '\0') ++i;
      return i < size && std::strchr("{g\xEF", data[i]) == nullptr;
    };
    // Mapped rather than read: the library and the accessors read the binary chunk where
    // it lies, so the file is never copied into memory of our own.
    InputRead read = input_.Open(path_, rules);
    if (read.fault == InputFault::kOpen) throw ImportError("cannot open the file");
    if (!read.ok()) throw ImportError(read.message);
    static const char kNothing[1] = {0};  // where an empty file's bytes "lie"
    std::string_view bytes(
        input_.Size() != 0 ? reinterpret_cast<const char*>(input_.Data()) : kNothing,
        input_.Size());
    GltfPrescan scan = PrescanGltf(bytes);
    inputBytes_ = bytes.size();
    buffers_ = scan.buffers;
    bufferIndex_ = scan.bufferIndex;
    tinygltf::FsCallbacks fs;
    fs.FileExists = [](const std::string&, void*) { return true; };  // the read says
    fs.ExpandFilePath = [](const std::string& p, void*) { return p; };
    fs.ReadWholeFile = ReadReferenced;
    fs.WriteWholeFile = [](std::string*, const std::string&, const std::vector<unsigned char>&,
                           void*) { return false; };
    fs.user_data = this;
    tinygltf::TinyGLTF gltf;
    gltf.SetFsCallbacks(fs);
    gltf.SetImageLoader(SkipImage, nullptr);
    std::string err, warn;
    bool ok = false;
    if (!scan.binary) {
      ok = gltf.LoadASCIIFromString(&model_, &err, &warn, bytes.data(), unsigned(bytes.size()), "");
    } else if (MakeGlbShadow(bytes, &shadow_)) {
      // The library reads the file without its binary chunk; the accessors read the chunk
      // where it lies (BufferBytes).
      ok = gltf.LoadBinaryFromMemory(&model_, &err, &warn,
                                     reinterpret_cast<const unsigned char*>(shadow_.bytes.data()),
                                     unsigned(shadow_.bytes.size()), "");
      std::string().swap(shadow_.bytes);
    } else {
      // Anything unusual goes to the library as it always did, from a copy: its checks
      // of the chunks may read a little past the end of what they are given.
      std::string copy(bytes);
      ok = gltf.LoadBinaryFromMemory(&model_, &err, &warn,
                                     reinterpret_cast<const unsigned char*>(copy.data()),
                                     unsigned(copy.size()), "");
    }
    if (!readError_.empty()) throw ImportError(readError_);
    budget_ = kFreeValues + (inputBytes_ > (SIZE_MAX - kFreeValues) / kValuesPerByte
                                 ? SIZE_MAX - kFreeValues
                                 : inputBytes_ * kValuesPerByte);
    // Missing images are reported by our own check, once each; a missing buffer fails.
    size_t start = 0;
    while (start < warn.size()) {
      size_t end = warn.find('\n', start);
      if (end == std::string::npos) end = warn.size();
      std::string line = warn.substr(start, end - start);
      if (!line.empty() && line.find("external 'uri' for image") == std::string::npos &&
          line.rfind("File not found", 0) != 0 && line.rfind("File read error", 0) != 0)
        Notice(line);
      start = end + 1;
    }
    if (!ok) {
      if (scan.binary) {
        std::string why = GlbProblem(bytes);
        if (!why.empty()) throw ImportError(why);
      }
      for (char& c : err)
        if (c == '\n') c = ' ';
      while (!err.empty() && err.back() == ' ') err.pop_back();
      throw ImportError(err.empty() ? "not a glTF file that can be read" : err);
    }
  }

  // The library's file reads: an external buffer the file names, read from the scene's
  // folder up to its byteLength; anything else (an image) is not read.
  static bool ReadReferenced(std::vector<unsigned char>* out, std::string* err,
                             const std::string& reference, void* self) {
    auto* import = static_cast<GltfImport*>(self);
    auto buffer = import->buffers_.find(reference);
    if (buffer == import->buffers_.end()) {
      *err = "not read";
      return false;
    }
    std::string bytes;
    InputRead read = import->folder_.Read(reference, buffer->second, &bytes);
    if (!read.ok()) {
      auto index = import->bufferIndex_.find(reference);
      std::string which = index == import->bufferIndex_.end()
                              ? std::string("a buffer")
                              : "buffer " + std::to_string(index->second);
      import->readError_ =
          which + ": its file \"" + reference + "\" " +
          (read.fault == InputFault::kOpen && read.errnum == ENOENT ? std::string("is missing")
                                                                    : read.message);
      *err = read.message;
      return false;
    }
    out->assign(bytes.begin(), bytes.end());
    import->inputBytes_ += bytes.size();
    return true;
  }

  // ---- accessors ----

  Values Read(int index, std::initializer_list<int> types, const std::string& what) {
    Values out;
    Read(index, types, what, out);
    return out;
  }

  // The same into out, whose room is kept from one read to the next: the meshes' reads
  // go through a few such buffers rather than new memory for every primitive.
  // Reads accessor index into out. With inPlace, tightly packed floats are left where they
  // lie (out.v is then not filled; read them through At).
  void Read(int index, std::initializer_list<int> types, const std::string& what, Values& out,
            bool inPlace = false) {
    if (index < 0 || size_t(index) >= model_.accessors.size())
      throw ImportError(what + ": accessor " + Text(index) + " does not exist (the file has " +
                        std::to_string(model_.accessors.size()) + ")");
    const tinygltf::Accessor& a = model_.accessors[index];
    std::string at = what + ": accessor " + Text(index);
    if (std::find(types.begin(), types.end(), a.type) == types.end())
      throw ImportError(at + " has the wrong type for this use");
    int comps = tinygltf::GetNumComponentsInType(a.type);
    int size = tinygltf::GetComponentSizeInBytes(a.componentType);
    if (comps <= 0 || size <= 0) throw ImportError(at + " has an unknown component type");
    out.comps = comps;
    out.count = a.count;
    out.inPlace = nullptr;
    if (a.bufferView < 0 && a.count > kMaxUnbackedCount)
      throw ImportError(at + ": a count of " + std::to_string(a.count) +
                        " elements without data is beyond reason");
    Spend(a.count, comps, at);
    if (a.bufferView < 0) {
      out.v.assign(a.count * comps, 0.0f);
    } else {
      const unsigned char* data = nullptr;
      size_t stride = 0;
      View(a.bufferView, a.byteOffset, a.count, size_t(size) * comps, &data, &stride, at);
      if (inPlace && a.componentType == TINYGLTF_COMPONENT_TYPE_FLOAT &&
          stride == 4 * size_t(comps) && !a.sparse.isSparse) {
        out.inPlace = data;
      } else {
        out.v.resize(a.count * comps);
        float* to = out.v.data();
        if (a.componentType == TINYGLTF_COMPONENT_TYPE_FLOAT) {
          // Floats are taken as they lie, a whole element at a time.
          if (stride == 4 * size_t(comps) && a.count > 0)
            std::memcpy(to, data, a.count * stride);
          else
            for (size_t e = 0; e < a.count; ++e)
              std::memcpy(to + e * comps, data + e * stride, 4 * comps);
        } else {
          for (size_t e = 0; e < a.count; ++e)
            for (int c = 0; c < comps; ++c)
              to[e * comps + c] =
                  Component(data + e * stride + size_t(c) * size, a.componentType, a.normalized);
        }
      }
    }
    if (a.sparse.isSparse) ApplySparse(a, out, at);
    const void* values = out.inPlace != nullptr ? static_cast<const void*>(out.inPlace)
                                                : static_cast<const void*>(out.v.data());
    if (!AllFinite(values, a.count * size_t(comps)))
      throw ImportError(at + " holds a value that is not a finite number");
  }

  // Counts the values an accessor read makes against the budget of the input's size, so
  // that a small file cannot make the import build gigabytes (an accessor of millions of
  // elements without data, or one large accessor shared by thousands of primitives).
  void Spend(size_t count, int comps, const std::string& at) {
    size_t values = count > SIZE_MAX / 4 ? SIZE_MAX / 4 : count * size_t(comps);
    if (values > budget_ - spent_)
      throw ImportError(at + ": the import would make more than " + std::to_string(budget_) +
                        " values from " + std::to_string(inputBytes_) + " bytes of input (" +
                        std::to_string(kValuesPerByte) + " a byte, plus " +
                        std::to_string(kFreeValues) + "); refused as out of proportion");
    spent_ += values;
  }

  // The start and stride of count elements of size bytes at offset in a buffer view,
  // checked to lie within the view and its buffer.
  void View(int viewIndex, size_t offset, size_t count, size_t size, const unsigned char** data,
            size_t* stride, const std::string& at) {
    if (viewIndex < 0 || size_t(viewIndex) >= model_.bufferViews.size())
      throw ImportError(at + ": buffer view " + Text(viewIndex) + " does not exist");
    const tinygltf::BufferView& bv = model_.bufferViews[viewIndex];
    if (bv.buffer < 0 || size_t(bv.buffer) >= model_.buffers.size())
      throw ImportError(at + ": buffer " + Text(bv.buffer) + " does not exist");
    std::string_view buf = BufferBytes(size_t(bv.buffer));
    if (bv.byteOffset > buf.size() || bv.byteLength > buf.size() - bv.byteOffset)
      throw ImportError(at + ": buffer view " + Text(viewIndex) +
                        " reaches past the end of buffer " + Text(bv.buffer));
    *stride = bv.byteStride != 0 ? bv.byteStride : size;
    if (*stride < size)
      throw ImportError(at + ": the stride of buffer view " + Text(viewIndex) +
                        " is smaller than one element");
    if (count > 0) {
      // count elements need (count - 1) strides and one element; compared by division, so
      // that no product can overflow.
      size_t avail = offset > bv.byteLength ? 0 : bv.byteLength - offset;
      if (offset > bv.byteLength || size > avail || count - 1 > (avail - size) / *stride)
        throw ImportError(at + ": " + std::to_string(count) +
                          " elements do not fit in buffer view " + Text(viewIndex));
    }
    *data = reinterpret_cast<const unsigned char*>(buf.data()) + bv.byteOffset + offset;
  }

  // The bytes of buffer i: those the library read, or, for a buffer of a GLB's binary
  // chunk that the library was not given, the chunk's bytes where they lie.
  std::string_view BufferBytes(size_t i) const {
    auto embedded = shadow_.embedded.find(i);
    if (embedded != shadow_.embedded.end())
      return std::string_view(reinterpret_cast<const char*>(shadow_.binary),
                              size_t(embedded->second));
    const std::vector<unsigned char>& data = model_.buffers[i].data;
    return std::string_view(reinterpret_cast<const char*>(data.data()), data.size());
  }

  static float Component(const unsigned char* p, int type, bool normalized) {
    switch (type) {
      case TINYGLTF_COMPONENT_TYPE_FLOAT: {
        float f;
        std::memcpy(&f, p, 4);
        return f;
      }
      case TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE:
        return normalized ? p[0] / 255.0f : float(p[0]);
      case TINYGLTF_COMPONENT_TYPE_BYTE: {
        float v = float(static_cast<signed char>(p[0]));
        return normalized ? std::max(v / 127.0f, -1.0f) : v;
      }
      case TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT: {
        unsigned v = p[0] | (p[1] << 8);
        return normalized ? v / 65535.0f : float(v);
      }
      case TINYGLTF_COMPONENT_TYPE_SHORT: {
        float v = float(static_cast<int16_t>(p[0] | (p[1] << 8)));
        return normalized ? std::max(v / 32767.0f, -1.0f) : v;
      }
      case TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT: {
        uint32_t v = uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) |
                     (uint32_t(p[3]) << 24);
        return float(v);
      }
      default:
        return 0.0f;
    }
  }

  // The values of an index accessor, read as integers (floats would lose large ones).
  // Answers the largest.
  uint32_t Indices(int index, const std::string& what, SceneVector<uint32_t>& out) {
    if (index < 0 || size_t(index) >= model_.accessors.size())
      throw ImportError(what + ": accessor " + Text(index) + " does not exist");
    const tinygltf::Accessor& a = model_.accessors[index];
    std::string at = what + ": accessor " + Text(index);
    int size = tinygltf::GetComponentSizeInBytes(a.componentType);
    if (a.type != TINYGLTF_TYPE_SCALAR || a.normalized ||
        (a.componentType != TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE &&
         a.componentType != TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT &&
         a.componentType != TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT))
      throw ImportError(at + ": indices must be unsigned integer scalars");
    if (a.bufferView < 0 || a.sparse.isSparse)
      throw ImportError(at + ": indices need a buffer view and cannot be sparse");
    const unsigned char* data = nullptr;
    size_t stride = 0;
    View(a.bufferView, a.byteOffset, a.count, size_t(size), &data, &stride, at);
    Spend(a.count, 1, at);
    out.resize(a.count);
    uint32_t most = 0;
    if (size == 4 && stride == 4) {
      // Taken as they lie; only the largest is looked for.
      if (a.count > 0) std::memcpy(out.data(), data, a.count * 4);
      most = Largest(out.data(), out.size());
    } else {
      for (size_t e = 0; e < a.count; ++e) {
        const unsigned char* p = data + e * stride;
        uint32_t v = p[0];
        if (size >= 2) v |= uint32_t(p[1]) << 8;
        if (size == 4) v |= (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
        out[e] = v;
        most = std::max(most, v);
      }
    }
    return most;
  }

  void ApplySparse(const tinygltf::Accessor& a, Values& out, const std::string& at) {
    if (a.sparse.count < 0 || size_t(a.sparse.count) > a.count)
      throw ImportError(at + ": the sparse count is out of range");
    size_t n = size_t(a.sparse.count);
    int itype = a.sparse.indices.componentType;
    if (itype != TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE &&
        itype != TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT &&
        itype != TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT)
      throw ImportError(at + ": the sparse indices must be unsigned integers");
    int isize = tinygltf::GetComponentSizeInBytes(itype);
    int vsize = tinygltf::GetComponentSizeInBytes(a.componentType);
    const unsigned char* idata = nullptr;
    const unsigned char* vdata = nullptr;
    size_t istride = 0, vstride = 0;
    if (a.sparse.indices.byteOffset < 0 || a.sparse.values.byteOffset < 0)
      throw ImportError(at + ": a sparse byte offset is negative");
    View(a.sparse.indices.bufferView, size_t(a.sparse.indices.byteOffset), n, size_t(isize), &idata,
         &istride, at + " (sparse indices)");
    View(a.sparse.values.bufferView, size_t(a.sparse.values.byteOffset), n,
         size_t(vsize) * out.comps, &vdata, &vstride, at + " (sparse values)");
    for (size_t i = 0; i < n; ++i) {
      size_t e = size_t(Component(idata + i * istride, a.sparse.indices.componentType, false));
      if (e >= a.count)
        throw ImportError(at + ": sparse index " + std::to_string(e) + " is out of range");
      for (int c = 0; c < out.comps; ++c)
        out.v[e * out.comps + c] =
            Component(vdata + i * vstride + size_t(c) * vsize, a.componentType, a.normalized);
    }
  }

  // ---- materials ----

  MemMaterial* DefaultMaterial() {
    if (defaultMaterial_ == nullptr) {
      defaultMaterial_ = scene_.Own(std::make_unique<MemMaterial>());
      defaultMaterial_->name = "Default";  // the grey of every material's defaults
    }
    return defaultMaterial_;
  }

  MemMaterial* Material(int index) {
    if (index < 0) return DefaultMaterial();
    if (size_t(index) >= model_.materials.size())
      throw ImportError("material " + Text(index) + " does not exist");
    auto found = materials_.find(index);
    if (found != materials_.end()) return found->second;
    const tinygltf::Material& g = model_.materials[index];
    std::string at = "material " + Text(index);
    auto* m = scene_.Own(std::make_unique<MemMaterial>());
    materials_[index] = m;
    m->name = WithoutNul(g.name.empty() ? "Material" + Text(index) : g.name);
    const auto& pbr = g.pbrMetallicRoughness;
    std::vector<double> base = pbr.baseColorFactor;
    if (base.size() != 4) base = {1, 1, 1, 1};
    for (double v : base)
      if (!Finite(v)) throw ImportError(at + ": the base colour is not finite");
    m->diffuse = DisplayFromLinear(Point3(float(base[0]), float(base[1]), float(base[2])));
    m->ambient = m->diffuse * 0.2f;
    if (Finite(pbr.roughnessFactor))
      m->shininess = float(ShininessFromRoughness(pbr.roughnessFactor));
    if (g.alphaMode == "BLEND")
      m->transparency = float(std::min(1.0, std::max(0.0, 1.0 - base[3])));
    m->twoSided = g.doubleSided;
    double glow = 0.0;
    for (double e : g.emissiveFactor)
      if (Finite(e)) glow = std::max(glow, e);
    m->selfIllumination = float(std::min(glow, 1.0));
    SetChannel(*m, kChannelDiffuse, pbr.baseColorTexture.index, pbr.baseColorTexture.extensions,
               1.0, at, pbr.baseColorTexture.texCoord);
    SetChannel(*m, kChannelBump, g.normalTexture.index, g.normalTexture.extensions,
               g.normalTexture.scale, at, g.normalTexture.texCoord);
    SetChannel(*m, kChannelSelfIllum, g.emissiveTexture.index, g.emissiveTexture.extensions, 1.0,
               at, g.emissiveTexture.texCoord);
    return m;
  }

  void SetChannel(MemMaterial& m, int channel, int texture, const tinygltf::ExtensionMap& ext,
                  double amount, const std::string& at, int texCoord) {
    if (texture < 0) return;
    if (texCoord != 0)
      NoticeOnce(at + ": a map uses TEXCOORD_" + Text(texCoord) +
                 "; the file holds one set of texture coordinates, TEXCOORD_0");
    if (size_t(texture) >= model_.textures.size())
      throw ImportError(at + ": texture " + Text(texture) + " does not exist");
    const tinygltf::Texture& t = model_.textures[texture];
    if (t.source < 0) {
      NoticeOnce("texture " + Text(texture) + " has no image; its map is left out");
      return;
    }
    if (size_t(t.source) >= model_.images.size())
      throw ImportError("texture " + Text(texture) + ": image " + Text(t.source) +
                        " does not exist");
    auto* map = scene_.Own(std::make_unique<MemMap>());
    map->fileName = ImageName(t.source);
    if (t.sampler >= 0 && size_t(t.sampler) < model_.samplers.size()) {
      const tinygltf::Sampler& s = model_.samplers[t.sampler];
      map->tilingBits = WrapBits(s.wrapS, 0x1, 0x4) | WrapBits(s.wrapT, 0x2, 0x8);
    }
    auto tt = ext.find("KHR_texture_transform");
    if (tt != ext.end() && tt->second.IsObject()) {
      const tinygltf::Value& v = tt->second;
      const tinygltf::Value& off = v.Get("offset");
      const tinygltf::Value& sc = v.Get("scale");
      const tinygltf::Value& rot = v.Get("rotation");
      if (off.IsArray() && off.ArrayLen() == 2) {
        map->uOffset = Number(off.Get(0), 0.0);
        map->vOffset = 0.0f - Number(off.Get(1), 0.0);  // V runs the other way in the file
      }
      if (sc.IsArray() && sc.ArrayLen() == 2) {
        map->uTiling = Number(sc.Get(0), 1.0);
        map->vTiling = Number(sc.Get(1), 1.0);
      }
      if (rot.IsNumber()) map->rotationAngle = 0.0f - Number(rot, 0.0);
    }
    m.channels[channel].map = map;
    m.channels[channel].amount = Finite(amount) ? float(amount) : 1.0f;
  }

  static int WrapBits(int wrap, int repeat, int mirror) {
    if (wrap == TINYGLTF_TEXTURE_WRAP_MIRRORED_REPEAT) return mirror;
    if (wrap == TINYGLTF_TEXTURE_WRAP_CLAMP_TO_EDGE) return 0;
    return repeat;
  }

  static float Number(const tinygltf::Value& v, double fallback) {
    double d = v.IsNumber() || v.IsInt() ? v.GetNumberAsDouble() : fallback;
    return Finite(d) ? float(d) : float(fallback);
  }

  // The file name a map refers to; a missing file or an embedded image is a notice.
  std::string ImageName(int index) {
    const tinygltf::Image& img = model_.images[index];
    std::string name;
    bool embedded = img.uri.empty() || img.uri.compare(0, 5, "data:") == 0;
    if (embedded) {
      std::string ext = img.mimeType == "image/jpeg" ? ".jpg" : ".png";
      name = img.name.empty() ? "image" + Text(index) + ext : img.name;
    } else {
      name = DecodeUri(img.uri);
    }
    name = WithoutNul(name);
    if (embedded)
      NoticeOnce("image " + Text(index) + " is embedded in the file; its map refers to it as \"" +
                 name + "\"");
    else if (!folder_.Exists(name))
      NoticeOnce("image file \"" + name + "\" (image " + Text(index) +
                 ") is missing; its map keeps the name");
    return name;
  }

  // ---- meshes ----

  struct MeshData {
    MemMeshObject* object = nullptr;
    HostMaterial* material = nullptr;
  };

  MeshData Mesh(int index) {
    auto found = meshes_.find(index);
    if (found != meshes_.end()) return found->second;
    if (index < 0 || size_t(index) >= model_.meshes.size())
      throw ImportError("mesh " + Text(index) + " does not exist");
    const tinygltf::Mesh& g = model_.meshes[index];
    std::string at = "mesh " + Text(index);
    auto* mesh = scene_.Own(std::make_unique<MemMeshObject>());
    std::vector<int> slots;  // glTF material index of each sub-material slot
    SceneVector<Point3> uvs, colors;
    bool anyUv = false, anyColor = false;
    size_t vertexRoom = 0, faceRoom = 0;
    Room(g, &vertexRoom, &faceRoom);
    ReservePacked(mesh->vertices, vertexRoom);
    ReservePacked(mesh->faces, faceRoom);
    for (size_t p = 0; p < g.primitives.size(); ++p) {
      const tinygltf::Primitive& prim = g.primitives[p];
      std::string pat = at + ", primitive " + std::to_string(p);
      if (prim.mode >= TINYGLTF_MODE_POINTS && prim.mode <= TINYGLTF_MODE_LINE_STRIP) {
        Notice(pat + ": points and lines are not exported; left out");
        continue;
      }
      if (prim.mode != TINYGLTF_MODE_TRIANGLES && prim.mode != TINYGLTF_MODE_TRIANGLE_STRIP &&
          prim.mode != TINYGLTF_MODE_TRIANGLE_FAN)
        throw ImportError(pat + ": unknown mode " + Text(prim.mode));
      if (!prim.targets.empty())
        NoticeOnce(at + ": morph targets are not exported; the mesh keeps its rest shape");
      auto pos = prim.attributes.find("POSITION");
      if (pos == prim.attributes.end()) {
        Notice(pat + ": no POSITION attribute; left out");
        continue;
      }
      Values& v = scratch_[0];
      Read(pos->second, {TINYGLTF_TYPE_VEC3}, pat + " POSITION", v, true);
      size_t base = mesh->vertices.size();
      if (v.count > size_t(INT32_MAX) - base) throw ImportError(pat + ": too many vertices");
      for (size_t i = 0; i < v.count; ++i)
        mesh->vertices.push_back(axes_.Point(Point3(v.At(i, 0), v.At(i, 1), v.At(i, 2))));
      auto tex = prim.attributes.find("TEXCOORD_0");
      if (tex != prim.attributes.end()) {
        Values& t = scratch_[1];
        Read(tex->second, {TINYGLTF_TYPE_VEC2}, pat + " TEXCOORD_0", t, true);
        if (t.count != v.count) throw ImportError(pat + ": TEXCOORD_0 and POSITION counts differ");
        ReservePacked(uvs, vertexRoom);
        uvs.resize(base);  // earlier primitives without coordinates get (0, 0, 0)
        for (size_t i = 0; i < t.count; ++i) uvs.emplace_back(t.At(i, 0), 1.0f - t.At(i, 1), 0.0f);
        anyUv = true;
      }
      auto col = prim.attributes.find("COLOR_0");
      if (col != prim.attributes.end()) {
        Values& c = scratch_[1];
        Read(col->second, {TINYGLTF_TYPE_VEC3, TINYGLTF_TYPE_VEC4}, pat + " COLOR_0", c, true);
        if (c.count != v.count) throw ImportError(pat + ": COLOR_0 and POSITION counts differ");
        ReservePacked(colors, vertexRoom);
        colors.resize(base, Point3(1, 1, 1));  // earlier primitives without colours are white
        for (size_t i = 0; i < c.count; ++i)
          colors.emplace_back(Display(c.At(i, 0)), Display(c.At(i, 1)), Display(c.At(i, 2)));
        anyColor = true;
      }
      if (anyUv) uvs.resize(mesh->vertices.size());
      if (anyColor) colors.resize(mesh->vertices.size(), Point3(1, 1, 1));

      SceneVector<uint32_t>& idx = indices_;
      if (prim.indices >= 0) {
        if (Indices(prim.indices, pat + " indices", idx) >= v.count)
          for (size_t i : idx)
            if (i >= v.count)
              throw ImportError(pat + ": index " + std::to_string(i) +
                                " is out of range: the primitive has " + std::to_string(v.count) +
                                " vertices");
      } else {
        idx.resize(v.count);
        for (size_t i = 0; i < v.count; ++i) idx[i] = uint32_t(i);
      }
      if (idx.size() / 3 > kMaxTriangles - mesh->faces.size())
        throw ImportError(at + ": more than " + std::to_string(kMaxTriangles) +
                          " triangles is beyond reason");
      int slot =
          static_cast<int>(std::find(slots.begin(), slots.end(), prim.material) - slots.begin());
      if (slot == int(slots.size())) slots.push_back(prim.material);
      AddTriangles(*mesh, idx, prim.mode, base, slot);
    }
    if (anyUv) {
      uvs.resize(mesh->vertices.size());
      mesh->texVerts = std::move(uvs);
      ReservePacked(mesh->texFaces, mesh->faces.size());
      for (const MemFace& f : mesh->faces) mesh->texFaces.push_back(f.v);
    }
    if (anyColor) {
      colors.resize(mesh->vertices.size(), Point3(1, 1, 1));
      mesh->vertexColors = std::move(colors);
    }
    MeshData data;
    data.object = mesh;
    if (slots.size() == 1) {
      data.material = Material(slots[0]);
    } else if (slots.size() > 1) {
      auto* multi = scene_.Own(std::make_unique<MemMaterial>());
      multi->classId = kMultiMaterialClass;
      multi->name =
          WithoutNul(g.name.empty() ? "Mesh" + Text(index) + " Materials" : g.name + " Materials");
      for (int s : slots) multi->subMaterials.push_back(Material(s));
      data.material = multi;
    }
    meshes_[index] = data;
    return data;
  }

  // DisplayFromLinear of one colour component. Vertex colours repeat (bytes, a few
  // shades), so each distinct value is converted once and looked up after.
  float Display(float c) {
    uint32_t bits;
    std::memcpy(&bits, &c, 4);
    Converted& slot = displayed_[(bits ^ (bits >> 11) ^ (bits >> 22)) % kDisplayed];
    if (!slot.used || slot.bits != bits) slot = {true, bits, DisplayFromLinear(c)};
    return slot.value;
  }

  // Room for the vertices and faces of a mesh's triangle primitives, from the counts their
  // accessors give, each bounded by what its buffer view can hold, and all by the values
  // the import may still make; so that counts a file only claims cost nothing. A hint
  // only: the arrays grow as they must.
  void Room(const tinygltf::Mesh& g, size_t* vertices, size_t* faces) const {
    const size_t most = (budget_ - spent_) / 3;
    auto count = [&](int index) {
      if (index < 0 || size_t(index) >= model_.accessors.size()) return size_t(0);
      const tinygltf::Accessor& a = model_.accessors[index];
      int size = tinygltf::GetComponentSizeInBytes(a.componentType) *
                 tinygltf::GetNumComponentsInType(a.type);
      if (a.bufferView < 0 || size_t(a.bufferView) >= model_.bufferViews.size() || size <= 0)
        return size_t(0);
      return std::min(a.count, model_.bufferViews[a.bufferView].byteLength / size_t(size));
    };
    for (const tinygltf::Primitive& prim : g.primitives) {
      auto pos = prim.attributes.find("POSITION");
      if (pos == prim.attributes.end() || prim.mode < TINYGLTF_MODE_TRIANGLES) continue;
      size_t n = count(pos->second);
      size_t corners = prim.indices >= 0 ? count(prim.indices) : n;
      size_t tris = prim.mode == TINYGLTF_MODE_TRIANGLES ? corners / 3
                    : corners > 2                        ? corners - 2
                                                         : 0;
      *vertices = std::min(*vertices + n, most);
      *faces = std::min(*faces + tris, most);
    }
  }

  static void AddTriangles(MemMeshObject& mesh, const SceneVector<uint32_t>& idx, int mode,
                           size_t base, int slot) {
    auto add = [&](size_t a, size_t b, size_t c) {
      MemFace f;
      f.v = {int(base + a), int(base + b), int(base + c)};
      f.smoothing = 1;  // shared vertices are smooth; hard edges have vertices of their own
      f.materialId = slot;
      mesh.faces.push_back(f);
    };
    if (mode == TINYGLTF_MODE_TRIANGLES) {
      for (size_t i = 0; i + 2 < idx.size(); i += 3) add(idx[i], idx[i + 1], idx[i + 2]);
    } else if (mode == TINYGLTF_MODE_TRIANGLE_STRIP) {
      for (size_t i = 0; i + 2 < idx.size(); ++i) {
        size_t a = idx[i], b = idx[i + 1], c = idx[i + 2];
        if (a == b || b == c || a == c) continue;  // joins between strips
        if (i % 2 == 0)
          add(a, b, c);
        else
          add(b, a, c);
      }
    } else {
      for (size_t i = 1; i + 1 < idx.size(); ++i) add(idx[0], idx[i], idx[i + 1]);
    }
  }

  // ---- cameras and lights ----

  MemObject* Camera(int index, const std::string& node) {
    if (index < 0 || size_t(index) >= model_.cameras.size())
      throw ImportError("node \"" + node + "\": camera " + Text(index) + " does not exist");
    const tinygltf::Camera& c = model_.cameras[index];
    if (c.type != "perspective") {
      Notice("camera " + Text(index) + " of node \"" + node +
             "\" is not a perspective camera; the node is kept as a dummy");
      return nullptr;
    }
    const auto& p = c.perspective;
    if (!(p.yfov > 0 && p.yfov < kPi) || !Finite(p.znear) || p.znear < 0 || !Finite(p.zfar))
      throw ImportError("camera " + Text(index) + ": yfov, znear or zfar is out of range");
    if (p.zfar != 0 && p.zfar <= p.znear)  // 0: no far plane
      throw ImportError("camera " + Text(index) + ": zfar lies at or before znear");
    auto* cam = scene_.Own(std::make_unique<MemCameraObject>());
    cam->fov = float(HorizontalFov(p.yfov, p.aspectRatio));
    cam->nearRange = float(p.znear);
    cam->farRange = p.zfar > p.znear ? float(p.zfar) : std::max(1000.0f, cam->nearRange);
    return cam;
  }

  MemObject* Light(int index, const std::string& node) {
    if (index < 0 || size_t(index) >= model_.lights.size())
      throw ImportError("node \"" + node + "\": light " + Text(index) + " does not exist");
    const tinygltf::Light& l = model_.lights[index];
    std::string at = "light " + Text(index);
    if (l.type != "point" && l.type != "spot") {
      Notice(at + " of node \"" + node + "\" is a " + l.type +
             " light, which the file cannot hold; the node is kept as a dummy");
      return nullptr;
    }
    auto* light = scene_.Own(std::make_unique<MemLightObject>(l.type == "spot"));
    if (l.color.size() == 3) {
      for (double v : l.color)
        if (!Finite(v)) throw ImportError(at + ": the colour is not finite");
      light->color =
          DisplayFromLinear(Point3(float(l.color[0]), float(l.color[1]), float(l.color[2])));
    }
    if (!Finite(l.intensity)) throw ImportError(at + ": the intensity is not finite");
    light->intensity = float(l.intensity);
    if (l.range > 0 && Finite(l.range)) {
      light->attenuate = true;
      light->attenStart = 0.0f;
      light->attenEnd = float(l.range);
    }
    if (light->IsSpot()) {
      // Cone half-angles in radians become full cone angles in degrees.
      double outer =
          Finite(l.spot.outerConeAngle) ? ConeFromHalfAngle(l.spot.outerConeAngle) : 45.0;
      double inner = Finite(l.spot.innerConeAngle) ? ConeFromHalfAngle(l.spot.innerConeAngle) : 0.0;
      light->falloff = float(std::min(179.0, std::max(1.0, outer)));
      light->hotspot = float(std::min(double(light->falloff), std::max(0.5, inner)));
    }
    return light;
  }

  int NodeLight(const tinygltf::Node& n) {
    auto it = n.extensions.find("KHR_lights_punctual");
    if (it == n.extensions.end() || !it->second.IsObject()) return -1;
    const tinygltf::Value& l = it->second.Get("light");
    if (l.IsInt()) return l.Get<int>();
    double d = l.IsNumber() ? l.GetNumberAsDouble() : -1.0;
    return d >= 0 && d < 2147483647.0 ? int(d) : -1;
  }

  // ---- nodes ----

  Matrix3 LocalMatrix(const tinygltf::Node& n, const std::string& at) {
    if (!n.matrix.empty()) {
      if (n.matrix.size() != 16) throw ImportError(at + ": the matrix needs 16 numbers");
      for (double v : n.matrix)
        if (!Finite(v)) throw ImportError(at + ": the matrix holds a value that is not finite");
      auto col = [&](int c) {
        return Point3(float(n.matrix[c * 4]), float(n.matrix[c * 4 + 1]),
                      float(n.matrix[c * 4 + 2]));
      };
      return axes_.Transform(Matrix3(col(0), col(1), col(2), col(3)));
    }
    Point3 t, s(1, 1, 1);
    Quat q;
    if (!Vector(n.translation, 3, &t.x) || !Vector(n.scale, 3, &s.x))
      throw ImportError(at + ": translation and scale need three finite numbers");
    if (!n.rotation.empty()) {
      float r[4];
      if (!Vector(n.rotation, 4, r)) throw ImportError(at + ": rotation needs four finite numbers");
      q = Quat(r[0], r[1], r[2], r[3]);
      if (!(std::fabs(r[0]) + std::fabs(r[1]) + std::fabs(r[2]) + std::fabs(r[3]) > 0))
        throw ImportError(at + ": the rotation quaternion has length 0");
      q = Normalize(q);
    }
    return ScaleMatrix(axes_.Scale(s)) * QuatToMatrix(axes_.Rotation(q)) *
           TransMatrix(axes_.Point(t));
  }

  // Copies n numbers into out; an empty vector leaves out as it is.
  static bool Vector(const std::vector<double>& v, size_t n, float* out) {
    if (v.empty()) return true;
    if (v.size() != n) return false;
    for (size_t i = 0; i < n; ++i) {
      if (!Finite(v[i])) return false;
      out[i] = float(v[i]);
    }
    return true;
  }

  void BuildNodes() {
    std::vector<int> roots;
    int sceneIndex = model_.defaultScene >= 0 ? model_.defaultScene : 0;
    if (!model_.scenes.empty()) {
      if (size_t(sceneIndex) >= model_.scenes.size())
        throw ImportError("scene " + Text(sceneIndex) + " does not exist");
      roots = model_.scenes[sceneIndex].nodes;
      if (model_.scenes.size() > 1)
        Notice("the file holds " + std::to_string(model_.scenes.size()) + " scenes; only scene " +
               Text(sceneIndex) + " is loaded");
    } else {
      // No scene list: every node that is nobody's child.
      std::vector<bool> child(model_.nodes.size(), false);
      for (const auto& n : model_.nodes)
        for (int c : n.children)
          if (c >= 0 && size_t(c) < child.size()) child[c] = true;
      for (size_t i = 0; i < child.size(); ++i)
        if (!child[i]) roots.push_back(int(i));
    }
    nodes_.assign(model_.nodes.size(), nullptr);
    struct Pending {
      int index;
      MemNode* parent;
      int depth;
    };
    std::vector<Pending> stack;
    for (auto it = roots.rbegin(); it != roots.rend(); ++it) stack.push_back({*it, nullptr, 1});
    while (!stack.empty()) {
      Pending p = stack.back();
      stack.pop_back();
      if (p.index < 0 || size_t(p.index) >= model_.nodes.size())
        throw ImportError("node " + Text(p.index) + " does not exist (the file has " +
                          std::to_string(model_.nodes.size()) + " nodes)");
      if (nodes_[p.index] != nullptr)
        throw ImportError("node " + Text(p.index) +
                          " appears more than once in the hierarchy (or in a cycle)");
      if (p.depth > kMaxHierarchyDepth)
        throw ImportError("the node hierarchy is more than " + Text(kMaxHierarchyDepth) +
                          " levels deep");
      MemNode* node = AddNode(p.index, p.parent);
      const tinygltf::Node& g = model_.nodes[p.index];
      for (auto it = g.children.rbegin(); it != g.children.rend(); ++it)
        stack.push_back({*it, node, p.depth + 1});
    }
  }

  MemNode* AddNode(int index, MemNode* parent) {
    const tinygltf::Node& g = model_.nodes[index];
    std::string at = "node " + Text(index);
    MemNode* node = scene_.AddNode(names_.Unique(g.name, "Node" + Text(index)), parent);
    nodes_[index] = node;
    node->local = LocalMatrix(g, at);
    if (g.skin >= 0) NoticeOnce("skins are not exported; skinned meshes keep their rest pose");
    if (g.mesh >= 0) {
      MeshData m = Mesh(g.mesh);
      node->object = m.object;
      node->material = m.material;
      meshNodes_.push_back(node);
    }
    // A camera or light beside a mesh gets a child node of its own.
    auto holder = [&](const char* suffix) {
      if (node->object == nullptr) return node;
      MemNode* child = scene_.AddNode(names_.Unique(node->name + suffix, suffix + 1), node);
      return child;
    };
    if (g.camera >= 0) {
      MemObject* cam = Camera(g.camera, node->name);
      if (cam != nullptr) {
        MemNode* h = holder(".Camera");
        h->object = cam;
        targets_.push_back({h, axes_.Point(Point3(0, 0, -1)), LookAtIndex(g)});
      }
    }
    int lightIndex = NodeLight(g);
    if (lightIndex >= 0) {
      MemObject* light = Light(lightIndex, node->name);
      if (light != nullptr) {
        MemNode* h = holder(".Light");
        h->object = light;
        if (static_cast<MemLightObject*>(light)->IsSpot())
          targets_.push_back({h, axes_.Point(Point3(0, 0, -1)), LookAtIndex(g)});
      }
    }
    if (node->object == nullptr) node->object = scene_.Own(std::make_unique<MemDummyObject>());
    return node;
  }

  // A camera or spot: its target is the node that its extras name ("lookAt", as our
  // writer puts it), or else a new one along its view direction.
  struct Aimed {
    MemNode* owner;
    Point3 direction;
    int target;  // glTF node index from the extras, or -1
  };

  static int LookAtIndex(const tinygltf::Node& n) {
    if (!n.extras.IsObject() || !n.extras.Has("lookAt")) return -1;
    const tinygltf::Value& v = n.extras.Get("lookAt");
    return v.IsInt() ? v.Get<int>() : -1;
  }

  void Aim(const Aimed& a) {
    MemNode* target =
        a.target >= 0 && size_t(a.target) < nodes_.size() ? nodes_[a.target] : nullptr;
    bool usable = target != nullptr && target != a.owner && !target->isTarget &&
                  target->lookAt == nullptr &&
                  dynamic_cast<MemDummyObject*>(target->object) != nullptr;
    if (!usable) {
      AddLookAtTarget(scene_, a.owner, a.direction, kTargetDistance, names_);
      return;
    }
    target->object = scene_.AddObject(kFamilyHelper, kTargetObjectClass);
    MemScene::SetLookAt(a.owner, target);
  }

  // ---- animation ----

  TimeValue Ticks(double seconds, const std::string& at) {
    double ticks = std::round(seconds * options_.fps * scene_.ticksPerFrame);
    if (!std::isfinite(ticks) || ticks > 2147483647.0 || ticks < -2147483647.0)
      throw ImportError(at + ": key time " + std::to_string(seconds) +
                        " s does not fit in the host's time");
    return TimeValue(ticks);
  }

  void BuildAnimation() {
    if (model_.animations.empty()) return;
    const tinygltf::Animation& anim = model_.animations[0];
    if (model_.animations.size() > 1)
      Notice("the file holds " + std::to_string(model_.animations.size()) +
             " animations; only the first" + (anim.name.empty() ? "" : ", \"" + anim.name + "\",") +
             " is exported");
    bool any = false;
    TimeValue first = 0, last = 0;
    std::set<std::pair<int, std::string>> done;
    for (size_t ci = 0; ci < anim.channels.size(); ++ci) {
      const tinygltf::AnimationChannel& ch = anim.channels[ci];
      std::string at = "animation 0, channel " + std::to_string(ci);
      if (ch.target_path == "weights") {
        NoticeOnce("morph target weights are not animated in the file; left out");
        continue;
      }
      ControlKind kind;
      if (ch.target_path == "translation")
        kind = ControlKind::POSITION;
      else if (ch.target_path == "rotation")
        kind = ControlKind::ROTATION;
      else if (ch.target_path == "scale")
        kind = ControlKind::SCALE;
      else
        throw ImportError(at + ": unknown target path \"" + ch.target_path + "\"");
      if (ch.target_node < 0 || size_t(ch.target_node) >= model_.nodes.size())
        throw ImportError(at + ": node " + Text(ch.target_node) + " does not exist");
      MemNode* node = nodes_[ch.target_node];
      if (node == nullptr) continue;  // a node of another scene
      if (!done.insert({ch.target_node, ch.target_path}).second) {
        Notice(at + ": node \"" + node->name + "\" has its " + ch.target_path +
               " animated twice; the first is kept");
        continue;
      }
      if (ch.sampler < 0 || size_t(ch.sampler) >= anim.samplers.size())
        throw ImportError(at + ": sampler " + Text(ch.sampler) + " does not exist");
      const tinygltf::AnimationSampler& s = anim.samplers[ch.sampler];
      Values in = Read(s.input, {TINYGLTF_TYPE_SCALAR}, at + " input");
      Values out =
          Read(s.output, {kind == ControlKind::ROTATION ? TINYGLTF_TYPE_VEC4 : TINYGLTF_TYPE_VEC3},
               at + " output");
      bool cubic = s.interpolation == "CUBICSPLINE";
      bool step = s.interpolation == "STEP";
      if (out.count != in.count * (cubic ? 3 : 1))
        throw ImportError(at + ": the output holds " + std::to_string(out.count) + " values for " +
                          std::to_string(in.count) + " key times");
      for (size_t k = 1; k < in.count; ++k)
        if (in.v[k] < in.v[k - 1]) throw ImportError(at + ": key times must increase");
      bool onFrames = true;
      for (size_t k = 0; k < in.count; ++k) {
        double f = double(in.v[k]) * options_.fps;
        onFrames = onFrames && std::fabs(f - std::round(f)) < 1e-3;
      }
      MemController* c = ControllerFor(node, kind);
      if (step)
        StepKeys(*c, in, out, at);
      else if (cubic || !onFrames || options_.sampleAlways)
        SampledKeys(*c, in, out, cubic, at);
      else
        for (size_t k = 0; k < in.count; ++k) {
          TimeValue time = Ticks(in.v[k], at);
          if (k > 0 && !c->keys.empty() && c->keys.back().time == time)
            Notice(at + ": keys at " + std::to_string(in.v[k - 1]) + " s and " +
                   std::to_string(in.v[k]) + " s fall on one tick at " +
                   std::to_string(options_.fps) + " frames a second; the later is kept");
          Key(*c, time, &out.v[k * out.comps], at);
        }
      if (c->keys.empty()) continue;
      first = any ? std::min(first, c->keys.front().time) : c->keys.front().time;
      last = any ? std::max(last, c->keys.back().time) : c->keys.back().time;
      any = true;
    }
    if (any && last > 0) {
      int tpf = scene_.ticksPerFrame;
      int64_t end = (int64_t(last) + tpf - 1) / tpf * tpf;
      int64_t start = first < 0 ? int64_t(first) / tpf * tpf : 0;
      if (end <= 2147483647) scene_.animationRange = Interval(TimeValue(start), TimeValue(end));
    }
  }

  // Adds a key of c's kind at time from the file's values v (3 or 4 floats); a key at
  // the time of the last one replaces it, as the later key is the one that shows there.
  void Key(MemController& c, TimeValue time, const float* v, const std::string& at) {
    MemKey key;
    key.time = time;
    if (c.kind == ControlKind::ROTATION) {
      Quat q(v[0], v[1], v[2], v[3]);
      if (!(std::fabs(q.x) + std::fabs(q.y) + std::fabs(q.z) + std::fabs(q.w) > 0))
        throw ImportError(at + ": a rotation key has length 0");
      key.q = axes_.Rotation(Normalize(q));
    } else {
      Point3 p(v[0], v[1], v[2]);
      key.p = c.kind == ControlKind::SCALE ? axes_.Scale(p) : axes_.Point(p);
    }
    if (!c.keys.empty() && c.keys.back().time == time)
      c.keys.back() = key;
    else
      c.keys.push_back(key);
  }

  // Ticks of whole frame f, checked to fit in the host's time.
  TimeValue FrameTicks(double f, const std::string& at) {
    double ticks = f * scene_.ticksPerFrame;
    if (!(std::fabs(ticks) <= 2147483647.0))
      throw ImportError(at + ": frame " + std::to_string(f) + " does not fit in the host's time");
    return TimeValue(ticks);
  }

  // STEP: each value from the first whole frame at or after its key time, held up to one
  // tick before the next value's frame; keys within one frame leave the last one's value.
  void StepKeys(MemController& c, const Values& in, const Values& out, const std::string& at) {
    for (size_t k = 0; k < in.count; ++k) {
      TimeValue time = FrameTicks(std::ceil(double(in.v[k]) * options_.fps - 1e-6), at);
      if (!c.keys.empty() && time - 1 > c.keys.back().time) {
        MemKey hold = c.keys.back();
        hold.time = time - 1;
        c.keys.push_back(hold);
      }
      Key(c, time, &out.v[k * out.comps], at);
    }
  }

  // LINEAR keys off whole frames and CUBICSPLINE: the file's curve evaluated at every
  // whole frame from the one at or before the first key to the one at or after the last.
  void SampledKeys(MemController& c, const Values& in, const Values& out, bool cubic,
                   const std::string& at) {
    if (in.count == 0) return;
    double first = std::floor(double(in.v[0]) * options_.fps + 1e-6);
    double last = std::ceil(double(in.v[in.count - 1]) * options_.fps - 1e-6);
    if (last - first > double(kMaxUnbackedCount))
      throw ImportError(at + ": the animation is too long to be sampled at every frame");
    std::vector<float> v(size_t(out.comps));
    for (double f = first; f <= last; ++f) {
      Evaluate(in, out, cubic, f / options_.fps, v.data());
      Key(c, FrameTicks(f, at), v.data(), at);
    }
  }

  // The value of a LINEAR or CUBICSPLINE sampler at t seconds, into v (comps floats);
  // before the first key the first value, after the last the last. Rotations come out
  // normalised; linear ones blend spherically along the shorter arc.
  static void Evaluate(const Values& in, const Values& out, bool cubic, double t, float* v) {
    int n = out.comps;
    auto value = [&](size_t k) { return &out.v[(cubic ? 3 * k + 1 : k) * n]; };
    size_t k =
        size_t(std::upper_bound(in.v.begin(), in.v.begin() + in.count, float(t)) - in.v.begin());
    if (k == 0 || k >= in.count || !(in.v[k] > in.v[k - 1])) {
      const float* src = value(k == 0 ? 0 : std::min(k, in.count) - 1);
      std::copy(src, src + n, v);
      return;
    }
    double t0 = in.v[k - 1], d = double(in.v[k]) - t0, u = (t - t0) / d;
    const float* a = value(k - 1);
    const float* b = value(k);
    if (cubic) {
      const float* outTangent = &out.v[(3 * (k - 1) + 2) * n];
      const float* inTangent = &out.v[(3 * k) * n];
      double u2 = u * u, u3 = u2 * u;
      for (int i = 0; i < n; ++i)
        v[i] = float((2 * u3 - 3 * u2 + 1) * a[i] + (u3 - 2 * u2 + u) * d * outTangent[i] +
                     (-2 * u3 + 3 * u2) * b[i] + (u3 - u2) * d * inTangent[i]);
    } else if (n == 4) {
      double dot = 0;
      for (int i = 0; i < 4; ++i) dot += double(a[i]) * b[i];
      double sign = dot < 0 ? -1.0 : 1.0, wa = 1 - u, wb = u;
      dot = std::fabs(dot);
      if (dot < 0.9995) {
        double theta = std::acos(std::min(1.0, dot));
        wa = std::sin((1 - u) * theta) / std::sin(theta);
        wb = std::sin(u * theta) / std::sin(theta);
      }
      for (int i = 0; i < 4; ++i) v[i] = float(wa * a[i] + sign * wb * b[i]);
    } else {
      for (int i = 0; i < n; ++i) v[i] = float(a[i] + (double(b[i]) - a[i]) * u);
    }
    if (n == 4) {
      double len = 0;
      for (int i = 0; i < 4; ++i) len += double(v[i]) * v[i];
      len = std::sqrt(len);
      if (len > 0)
        for (int i = 0; i < 4; ++i) v[i] = float(v[i] / len);
    }
  }

  // The node's sub-controller of kind. An animated node gets all three: the file keeps a
  // node's animation only when position, rotation and scale controllers all exist, so the
  // parts its channels leave out hold the node's own value without keys.
  MemController* ControllerFor(MemNode* node, ControlKind kind) {
    auto* tc = dynamic_cast<MemTransformController*>(node->transform);
    if (tc == nullptr) {
      tc = scene_.Own(std::make_unique<MemTransformController>());
      node->transform = tc;
      Point3 t, s;
      Quat q;
      DecomposeMatrix(node->local, t, q, s);
      tc->position = StaticController(ControlKind::POSITION);
      tc->position->constP = t;
      tc->rotation = StaticController(ControlKind::ROTATION);
      tc->rotation->constQ = q;
      tc->scale = StaticController(ControlKind::SCALE);
      tc->scale->constS = s;
    }
    if (kind == ControlKind::POSITION) return tc->position;
    return kind == ControlKind::ROTATION ? tc->rotation : tc->scale;
  }

  MemController* StaticController(ControlKind kind) {
    return scene_.Own(std::make_unique<MemController>(kind, false));
  }

  std::string path_;
  InputMapping input_;  // the file's bytes; the binary chunk is read where it lies
  GlbShadow shadow_;    // of a plain GLB: its binary chunk and the buffers that lie in it
  ImportOptions options_;
  AxisChange axes_;
  MemScene& scene_;
  std::vector<std::string>& notices_;
  tinygltf::Model model_;
  NameKeeper names_;
  std::set<std::string> said_;
  std::vector<MemNode*> nodes_;  // by glTF node index; null: not in the loaded scene
  std::vector<MemNode*> meshNodes_;
  std::vector<Aimed> targets_;
  std::map<int, MemMaterial*> materials_;
  std::map<int, MeshData> meshes_;
  InputFolder folder_;
  std::map<std::string, uint64_t> buffers_;    // external buffers and their byteLengths
  std::map<std::string, size_t> bufferIndex_;  // the first buffer naming each of them
  std::string readError_;                      // why a buffer could not be read
  size_t inputBytes_ = 0;                      // the file's and its buffers' bytes
  size_t budget_ = 0;  // the values accessor reads may make, from inputBytes_
  size_t spent_ = 0;
  MemMaterial* defaultMaterial_ = nullptr;
  struct Converted {
    bool used = false;
    uint32_t bits = 0;  // the component's bits
    float value = 0.0f;
  };
  static constexpr size_t kDisplayed = 1024;
  std::vector<Converted> displayed_ = std::vector<Converted>(kDisplayed);
  Values scratch_[2];              // the accessor values of one primitive, kept for the next
  SceneVector<uint32_t> indices_;  // the indices of one primitive, kept likewise
};

}  // namespace

ImportResult LoadGltfScene(const std::string& path, const ImportOptions& options, MemScene& scene) {
  return RunImport(path, scene, [&](std::vector<std::string>& notices) {
    if (!(options.fps > 0 && options.fps <= 1000))
      throw ImportError("the frame rate must lie above 0 and at most 1000");
    GltfImport(path, options, scene, notices).Run();
  });
}

}  // namespace tsm
