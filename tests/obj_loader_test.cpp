// The OBJ importer: groups as nodes, per-face materials, smoothing groups, MTL values and
// maps, the up axis; and the split of meshes too large for the file (shared by both
// importers).
#include "formats/obj/obj_loader.h"

#include <gtest/gtest.h>

#include <sstream>

#include "scene/mem_material.h"
#include "scene/mem_objects.h"
#include "tests/import_builders.h"

namespace tsm {
namespace {

const char kObj[] =
    "mtllib two.mtl\n"
    "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 0 0 1\n"
    "vt 0 0\nvt 1 0\nvt 1 1\n"
    "f 1 2 3\n"  // before any group: named after the file
    "g Panel\nusemtl Red\ns 1\nf 1/1 2/2 3/3\nusemtl Green\ns 2\nf 1/1 3/3 4/3 5/2\n"
    "g Tip\nusemtl Green\ns off\nf 1 2 5\n";

const char kMtl[] =
    "newmtl Red\nKa 0.1 0 0\nKd 0.8 0 0\nKs 0.5 0.5 0.5\nNs 250\nd 0.75\n"
    "map_Kd -o 0.5 0.25 0 -s 2 3 1 red.png\nmap_bump -bm 2 bump.png\n"
    "newmtl Green\nKd 0 1 0\nTr 0.25\nmap_Ks -s 4 5 specular.png\nmap_d -o 0.5 alpha.png\n";

class ObjLoaderTest : public ::testing::Test {
 protected:
  ScratchFolder dir{"obj_loader"};
  MemScene scene;

  ImportResult Load(const std::string& obj, const ImportOptions& options = ImportOptions()) {
    dir.Write("two.mtl", kMtl);
    return LoadObjScene(dir.Write("room.obj", obj), options, scene);
  }
};

MemMeshObject* MeshOf(MemNode* n) {
  return n == nullptr ? nullptr : dynamic_cast<MemMeshObject*>(n->object);
}

TEST_F(ObjLoaderTest, GroupsMaterialsSmoothingAndMaps) {
  dir.Write("bump.png", "x");
  ImportResult r = Load(kObj);
  ASSERT_TRUE(r.ok) << r.error;
  std::vector<std::string> names;
  for (const auto& n : scene.Nodes()) names.push_back(n->name);
  EXPECT_EQ(names, (std::vector<std::string>{"room", "Panel", "Tip"}));

  MemMeshObject* panel = MeshOf(Node(scene, "Panel"));
  ASSERT_NE(panel, nullptr);
  // The quad is split in two; vertices are the group's own, Y-up turned to Z-up.
  ASSERT_EQ(panel->faces.size(), 3u);
  ASSERT_EQ(panel->vertices.size(), 5u);
  EXPECT_EQ(panel->vertices[2], Point3(1, 0, 1));
  EXPECT_EQ(panel->vertices[4], Point3(0, -1, 0));
  std::vector<int> ids;
  std::vector<uint32_t> groups;
  for (const MemFace& f : panel->faces) {
    ids.push_back(f.materialId);
    groups.push_back(f.smoothing);
  }
  EXPECT_EQ(ids, (std::vector<int>{0, 1, 1}));
  EXPECT_EQ(groups, (std::vector<uint32_t>{1, 2, 2}));
  ASSERT_EQ(panel->texFaces.size(), 3u);
  EXPECT_EQ(panel->texVerts[panel->texFaces[0][2]], Point3(1, 1, 0));  // V as in the file
  EXPECT_EQ(MeshOf(Node(scene, "Tip"))->faces[0].smoothing, 0u);
  EXPECT_TRUE(MeshOf(Node(scene, "Tip"))->texFaces.empty());

  auto* multi = dynamic_cast<MemMaterial*>(Node(scene, "Panel")->material);
  ASSERT_NE(multi, nullptr);
  EXPECT_EQ(multi->classId, kMultiMaterialClass);
  ASSERT_EQ(multi->subMaterials.size(), 2u);
  auto* red = static_cast<MemMaterial*>(multi->subMaterials[0]);
  auto* green = static_cast<MemMaterial*>(multi->subMaterials[1]);
  EXPECT_EQ(Node(scene, "Tip")->material, green) << "one material per MTL entry";
  EXPECT_EQ(red->name, "Red");
  EXPECT_EQ(red->ambient, Point3(0.1f, 0, 0));
  EXPECT_EQ(red->diffuse, Point3(0.8f, 0, 0));
  EXPECT_EQ(red->specular, Point3(0.5f, 0.5f, 0.5f));
  EXPECT_FLOAT_EQ(red->shininess, 0.25f);
  EXPECT_FLOAT_EQ(red->transparency, 0.25f);
  EXPECT_FLOAT_EQ(green->transparency, 0.25f);  // Tr
  struct MapCase {
    MemMaterial* material;
    int channel;
    const char* file;
    float amount;
  };
  for (const MapCase& c : {MapCase{red, kChannelDiffuse, "red.png", 1.0f},
                           MapCase{red, kChannelBump, "bump.png", 2.0f},
                           MapCase{green, kChannelSpecular, "specular.png", 1.0f},
                           MapCase{green, kChannelOpacity, "alpha.png", 1.0f}}) {
    auto* map = dynamic_cast<MemMap*>(c.material->channels[c.channel].map);
    ASSERT_NE(map, nullptr) << c.file;
    EXPECT_EQ(map->fileName, c.file);
    EXPECT_FLOAT_EQ(c.material->channels[c.channel].amount, c.amount) << c.file;
  }
  auto* diffuse = static_cast<MemMap*>(red->channels[kChannelDiffuse].map);
  EXPECT_FLOAT_EQ(diffuse->uOffset, 0.5f);
  EXPECT_FLOAT_EQ(diffuse->vTiling, 3.0f);
  // Options with values left out keep the image's name.
  EXPECT_FLOAT_EQ(static_cast<MemMap*>(green->channels[kChannelSpecular].map)->vTiling, 5.0f);
  EXPECT_FLOAT_EQ(static_cast<MemMap*>(green->channels[kChannelOpacity].map)->uOffset, 0.5f);
  std::string notices = Joined(r.notices);
  EXPECT_NE(notices.find("image file \"red.png\" is missing"), std::string::npos) << notices;
  EXPECT_EQ(notices.find("bump.png"), std::string::npos) << notices;
}

TEST_F(ObjLoaderTest, UpAxisZKeepsCoordinates) {
  ImportOptions options;
  options.yUp = false;
  ASSERT_TRUE(Load(kObj, options).ok);
  EXPECT_EQ(MeshOf(Node(scene, "Panel"))->vertices[2], Point3(1, 1, 0));
}

TEST_F(ObjLoaderTest, BadFilesGiveOneMessageNamingTheFile) {
  struct Case {
    const char* obj;
    const char* expected;
  };
  for (const Case& c : {Case{"v 0 0 0\nf 1 2 3\n", "vertex 2 does not exist"},
                        Case{"v 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0 0\nf 1/1 2/4 3/1\n",
                             "texture coordinate 4 does not exist"},
                        Case{"v 1e999 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n", "not a finite number"}}) {
    MemScene s;
    std::string path = dir.Write("bad.obj", c.obj);
    ImportResult r = LoadObjScene(path, ImportOptions(), s);
    EXPECT_FALSE(r.ok) << c.obj;
    EXPECT_EQ(r.error.rfind(path + ": ", 0), 0u) << r.error;
    EXPECT_NE(r.error.find(c.expected), std::string::npos) << r.error;
  }
  ImportResult missingMtl = Load("mtllib gone.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
  EXPECT_TRUE(missingMtl.ok) << missingMtl.error;
  EXPECT_NE(Joined(missingMtl.notices).find("gone.mtl"), std::string::npos);
}

TEST_F(ObjLoaderTest, EveryCutOfAFileLoadsOrFailsWithItsName) {
  std::string text = kObj;
  dir.Write("two.mtl", kMtl);
  for (size_t n = 0; n <= text.size(); ++n) {
    MemScene s;
    std::string path = dir.Write("cut.obj", text.substr(0, n));
    ImportResult r = LoadObjScene(path, ImportOptions(), s);
    if (!r.ok) {
      EXPECT_EQ(r.error.rfind(path + ": ", 0), 0u) << n << ": " << r.error;
    }
  }
}

// A mesh above the file's limit, as an OBJ: a grid of quads (too many faces) or separate
// triangles (too many vertices, fewer faces).
std::string LargeObj(bool grid) {
  std::ostringstream o;
  if (grid) {
    const int n = 182;  // 182 * 182 * 2 = 66248 faces, 33489 vertices
    for (int y = 0; y <= n; ++y)
      for (int x = 0; x <= n; ++x) o << "v " << x << " 0 " << y << "\n";
    o << "g Grid\n";
    for (int y = 0; y < n; ++y)
      for (int x = 0; x < n; ++x) {
        int a = y * (n + 1) + x + 1;
        o << "f " << a << " " << a + 1 << " " << a + n + 2 << " " << a + n + 1 << "\n";
      }
  } else {
    const int n = 22000;  // 66000 vertices, 22000 faces
    for (int t = 0; t < n; ++t) o << "v " << t << " 0 0\nv " << t << " 1 0\nv " << t << " 0 1\n";
    o << "g Grid\n";
    for (int t = 0; t < n; ++t)
      o << "f " << 3 * t + 1 << " " << 3 * t + 2 << " " << 3 * t + 3 << "\n";
  }
  return o.str();
}

TEST_F(ObjLoaderTest, LargeMeshIsSplitIntoChildNodesThatFit) {
  for (bool grid : {true, false}) {
    std::string text = LargeObj(grid);
    MemScene whole;
    ImportOptions noSplit;
    noSplit.split = false;
    ImportResult w = LoadObjScene(dir.Write("big.obj", text), noSplit, whole);
    ASSERT_TRUE(w.ok) << w.error;
    EXPECT_TRUE(w.notices.empty());
    MemMeshObject* original = MeshOf(whole.FindNode("Grid"));
    ASSERT_NE(original, nullptr);

    MemScene s;
    ImportResult r = LoadObjScene(dir.Write("big.obj", text), ImportOptions(), s);
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_EQ(r.notices.size(), 1u);
    EXPECT_NE(r.notices[0].find("split into 2 pieces"), std::string::npos) << r.notices[0];
    MemNode* node = Node(s, "Grid");
    EXPECT_EQ(node->object->ClassIdentity(), kDummyObjectClass);
    ASSERT_EQ(node->children.size(), 2u);
    // The pieces hold every face once, in order, at the same corners.
    size_t face = 0;
    for (MemNode* piece : node->children) {
      MemMeshObject* m = MeshOf(piece);
      ASSERT_NE(m, nullptr);
      EXPECT_EQ(piece->material, node->material);
      EXPECT_LE(m->faces.size(), size_t(kMaxFileMeshSize));
      EXPECT_LE(m->vertices.size(), size_t(kMaxFileMeshSize));
      for (const MemFace& f : m->faces) {
        for (int k = 0; k < 3; ++k)
          ASSERT_EQ(m->vertices[f.v[k]], original->vertices[original->faces[face].v[k]]);
        EXPECT_EQ(f.smoothing, original->faces[face].smoothing);
        ++face;
      }
    }
    EXPECT_EQ(face, original->faces.size());
  }
}

}  // namespace
}  // namespace tsm
