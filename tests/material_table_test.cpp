#include "material/material_table.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "scene/mem_material.h"
#include "scene/mem_scene.h"
#include "tests/material_builders.h"

namespace tsm {
namespace {

class MaterialTableTest : public ::testing::Test {
 protected:
  MemMaterial* Mat(const std::string& name, Class_ID cls = kStandardMaterialClass) {
    return NewMaterial(scene_, name, cls);
  }
  MemMaterial* Multi(const std::vector<HostMaterial*>& subs) {
    MemMaterial* m = Mat("Multi", kMultiMaterialClass);
    m->subMaterials = subs;
    return m;
  }
  // Enters base and every numbered name of base up to last as host names, so that one
  // more material on base has to go past all of them.
  void FillNumberedNames(const char* base, int last) {
    MaterialRecord r;
    table_.AddNodeMaterial(Mat(base));
    for (int n = 1; n <= last; ++n) {
      MakeUniqueName(base, r, n);
      table_.AddNodeMaterial(Mat(r.name));
    }
  }
  std::string Name(int32_t i) const { return table_.Record(i)->name; }
  std::vector<std::string> AllNames() const {
    std::vector<std::string> names;
    for (int32_t i = 0; i < table_.Count(); ++i) names.push_back(Name(i));
    return names;
  }

  MemScene scene_;
  MaterialTable table_;
};

using Names = std::vector<std::string>;

TEST_F(MaterialTableTest, NodeWithoutMaterialAddsNothing) {
  table_.AddNodeMaterial(nullptr);
  EXPECT_EQ(table_.Count(), 0);
}

TEST_F(MaterialTableTest, SameMaterialOnSeveralNodesEntersOnceAtFirstPosition) {
  MemMaterial* a = Mat("A");
  MemMaterial* b = Mat("B");
  table_.AddNodeMaterial(a);
  table_.AddNodeMaterial(b);
  table_.AddNodeMaterial(a);
  ASSERT_EQ(table_.Count(), 2);
  EXPECT_EQ(table_.FindByHostMaterial(a), 0);
  EXPECT_EQ(table_.FindByHostMaterial(b), 1);
  EXPECT_EQ(table_.HostMaterialAt(0), a);
  EXPECT_EQ(AllNames(), (Names{"A", "B"}));
}

TEST_F(MaterialTableTest, LookupIsByIdentityNotByContents) {
  MemMaterial* a = Mat("Same");
  MemMaterial* b = Mat("Same");
  table_.AddNodeMaterial(a);
  EXPECT_EQ(table_.FindByHostMaterial(b), -1);
  table_.AddNodeMaterial(b);
  EXPECT_EQ(table_.Count(), 2);
  EXPECT_EQ(table_.FindByHostMaterial(b), 1);
}

TEST_F(MaterialTableTest, FindByNameOfNoNameFindsNothing) {
  table_.AddNodeMaterial(Mat(""));
  EXPECT_EQ(table_.FindByName(nullptr), -1);
}

TEST_F(MaterialTableTest, FindByNameIsExactAndCaseSensitive) {
  table_.AddNodeMaterial(Mat("Brick"));
  table_.AddNodeMaterial(Mat("brick"));
  EXPECT_EQ(AllNames(), (Names{"Brick", "brick"}));
  EXPECT_EQ(table_.FindByName("brick"), 1);
  EXPECT_EQ(table_.FindByName("Bric"), -1);
  EXPECT_EQ(table_.FindByName("BRICK"), -1);
}

TEST_F(MaterialTableTest, RepeatedNamesAreNumberedInOrder) {
  table_.AddNodeMaterial(Mat("Brick"));
  table_.AddNodeMaterial(Mat("Brick"));
  table_.AddNodeMaterial(Mat("Brick"));
  EXPECT_EQ(AllNames(), (Names{"Brick", "Brick  1", "Brick  2"}));
}

TEST_F(MaterialTableTest, UnnamedMaterialsAreMatl) {
  table_.AddNodeMaterial(Mat(""));
  table_.AddNodeMaterial(Mat(""));
  EXPECT_EQ(AllNames(), (Names{"Matl", "Matl  1"}));
}

TEST_F(MaterialTableTest, NumberIsRightAlignedInThreeCharacters) {
  for (int i = 0; i < 101; ++i) table_.AddNodeMaterial(Mat(""));
  EXPECT_EQ(Name(9), "Matl  9");
  EXPECT_EQ(Name(10), "Matl 10");
  EXPECT_EQ(Name(99), "Matl 99");
  EXPECT_EQ(Name(100), "Matl100");
}

TEST_F(MaterialTableTest, HostNameIsCutToSixteenCharacters) {
  table_.AddNodeMaterial(Mat("ABCDEFGHIJKLMNOPQRSTUVWXYZ"));
  EXPECT_EQ(Name(0), "ABCDEFGHIJKLMNOP");
}

TEST_F(MaterialTableTest, NamesAgreeingInSixteenCharactersCollide) {
  table_.AddNodeMaterial(Mat("ABCDEFGHIJKLMNOPQ"));
  table_.AddNodeMaterial(Mat("ABCDEFGHIJKLMNOPR"));
  EXPECT_EQ(AllNames(), (Names{"ABCDEFGHIJKLMNOP", "ABCDEFGHIJKLM  1"}));
  EXPECT_EQ(Name(1).size(), 16u);
}

TEST_F(MaterialTableTest, NumberingStartsFromTheBaseNotThePreviousAttempt) {
  table_.AddNodeMaterial(Mat("Matl  1"));
  table_.AddNodeMaterial(Mat(""));
  table_.AddNodeMaterial(Mat(""));
  EXPECT_EQ(AllNames(), (Names{"Matl  1", "Matl", "Matl  2"}));
}

TEST_F(MaterialTableTest, NumberingSkipsNamesTakenBeforeAndAfterwards) {
  table_.AddNodeMaterial(Mat("Brick"));
  table_.AddNodeMaterial(Mat("Brick  2"));
  table_.AddNodeMaterial(Mat("Brick"));     // 1 is free
  table_.AddNodeMaterial(Mat("Brick"));     // 2 is taken by a host name
  table_.AddNodeMaterial(Mat("Brick  5"));  // taken after the numbering went past 3
  table_.AddNodeMaterial(Mat("Brick"));
  table_.AddNodeMaterial(Mat("Brick"));
  EXPECT_EQ(AllNames(), (Names{"Brick", "Brick  2", "Brick  1", "Brick  3", "Brick  5", "Brick  4",
                               "Brick  6"}));
}

TEST_F(MaterialTableTest, LookupsAnswerTheFirstEntryAfterManyMaterials) {
  std::vector<MemMaterial*> mats;
  for (int i = 0; i < 3000; ++i) mats.push_back(Mat(i % 2 ? "Odd" : "Even"));
  for (MemMaterial* m : mats) table_.AddNodeMaterial(m);
  ASSERT_EQ(table_.Count(), 3000);
  EXPECT_EQ(table_.FindByHostMaterial(mats[2999]), 2999);
  EXPECT_EQ(table_.FindByName("Odd"), 1);
  EXPECT_EQ(table_.FindByName("Even1499"), 2998);  // base cut to 13 + "%3d" past 999
  Names names = AllNames();
  std::set<std::string> unique(names.begin(), names.end());
  EXPECT_EQ(unique.size(), 3000u);
  table_.ClearMaterialTable();
  EXPECT_EQ(table_.FindByName("Odd"), -1);
  EXPECT_EQ(table_.FindByHostMaterial(mats[0]), -1);
}

TEST_F(MaterialTableTest, MakeUniqueNameKeepsThirteenCharactersOfBase) {
  MaterialRecord r;
  MakeUniqueName("ABCDEFGHIJKLMNOP", r, 7);
  EXPECT_STREQ(r.name, "ABCDEFGHIJKLM  7");
  MakeUniqueName("Wood", r, 42);
  EXPECT_STREQ(r.name, "Wood 42");
  MakeUniqueName("ABCDEFGHIJKLMNOP", r, 999);
  EXPECT_STREQ(r.name, "ABCDEFGHIJKLM999");
}

TEST_F(MaterialTableTest, MakeUniqueNameShortensBaseForLongNumbers) {
  MaterialRecord r;
  MakeUniqueName("ABCDEFGHIJKLMNOP", r, 1000);
  EXPECT_STREQ(r.name, "ABCDEFGHIJKL1000");
  MakeUniqueName("ABCDEFGHIJKLMNOP", r, 10000);
  EXPECT_STREQ(r.name, "ABCDEFGHIJK10000");
  MakeUniqueName("Wood", r, 12345);
  EXPECT_STREQ(r.name, "Wood12345");
  // Every number of one base gives its own name, none longer than 16 characters.
  std::set<std::string> seen;
  for (int n = 1; n <= 120000; ++n) {
    MakeUniqueName("ABCDEFGHIJKLMNOP", r, n);
    ASSERT_LE(std::strlen(r.name), 16u) << n;
    ASSERT_TRUE(seen.insert(r.name).second) << "repeated " << r.name;
  }
}

TEST_F(MaterialTableTest, MoreThan999OnOneBaseStayUniqueAndShort) {
  FillNumberedNames("ABCDEFGHIJKLMNOP", 999);
  ASSERT_EQ(table_.Count(), 1000);
  table_.AddNodeMaterial(Mat("ABCDEFGHIJKLMNOPQ"));
  table_.AddNodeMaterial(Mat("ABCDEFGHIJKLMNOPZ"));
  EXPECT_EQ(Name(1000), "ABCDEFGHIJKL1000");
  EXPECT_EQ(Name(1001), "ABCDEFGHIJKL1001");
  std::set<std::string> unique;
  for (const std::string& n : AllNames()) {
    EXPECT_LE(n.size(), 16u);
    unique.insert(n);
  }
  EXPECT_EQ(unique.size(), static_cast<size_t>(table_.Count()));
}

TEST_F(MaterialTableTest, MoreThan9999OnOneBaseStayUniqueAndShort) {
  FillNumberedNames("ABCDEFGHIJKLMNOP", 9999);
  ASSERT_EQ(table_.Count(), 10000);
  table_.AddNodeMaterial(Mat("ABCDEFGHIJKLMNOP"));
  EXPECT_EQ(Name(10000), "ABCDEFGHIJK10000");
  std::set<std::string> unique;
  for (const std::string& n : AllNames()) {
    EXPECT_LE(n.size(), 16u);
    unique.insert(n);
  }
  EXPECT_EQ(unique.size(), static_cast<size_t>(table_.Count()));
}

TEST_F(MaterialTableTest, UnnamedPastMatl999KeepTheWholeBase) {
  FillNumberedNames("Matl", 999);
  ASSERT_EQ(Name(999), "Matl999");
  table_.AddNodeMaterial(Mat(""));
  table_.AddNodeMaterial(Mat(""));
  EXPECT_EQ(Name(1000), "Matl1000");
  EXPECT_EQ(Name(1001), "Matl1001");
}

TEST_F(MaterialTableTest, MultiSubAddsItsSubMaterialsOnlyOnce) {
  MemMaterial* a = Mat("A");
  MemMaterial* b = Mat("B");
  MemMaterial* multi = Multi({a, nullptr, b, a});
  table_.AddNodeMaterial(multi);
  EXPECT_EQ(AllNames(), (Names{"A", "B"}));
  EXPECT_EQ(table_.FindByHostMaterial(multi), -1);
  table_.AddNodeMaterial(a);
  EXPECT_EQ(table_.Count(), 2);
}

TEST_F(MaterialTableTest, SubMaterialSharedByTwoMultisEntersOnce) {
  MemMaterial* shared = Mat("Shared");
  MemMaterial* x = Mat("X");
  MemMaterial* y = Mat("Y");
  table_.AddNodeMaterial(Multi({shared, x}));
  table_.AddNodeMaterial(Multi({y, shared}));
  EXPECT_EQ(AllNames(), (Names{"Shared", "X", "Y"}));
}

TEST_F(MaterialTableTest, NestedMultiSubEntersWhole) {
  MemMaterial* inner1 = Mat("Inner1");
  MemMaterial* inner2 = Mat("Inner2");
  MemMaterial* nested = Multi({inner1, inner2});
  nested->name = "Nested";
  MemMaterial* c = Mat("C");
  table_.AddNodeMaterial(Multi({nested, c}));
  EXPECT_EQ(AllNames(), (Names{"Nested", "C"}));
  EXPECT_EQ(table_.FindByHostMaterial(nested), 0);
  EXPECT_EQ(table_.FindByHostMaterial(inner1), -1);
}

TEST_F(MaterialTableTest, MultiMaterialIsRecognisedByItsClassOnly) {
  EXPECT_TRUE(MaterialTable::IsMultiMaterial(Mat("m", kMultiMaterialClass)));
  EXPECT_FALSE(MaterialTable::IsMultiMaterial(Mat("m", Class_ID(0x200, 1))));
  EXPECT_FALSE(MaterialTable::IsMultiMaterial(Mat("m", kStandardMaterialClass)));
  EXPECT_FALSE(MaterialTable::IsMultiMaterial(nullptr));
}

TEST_F(MaterialTableTest, NodeMaterialIsUpdatedBeforeEntering) {
  MemMaterial* a = Mat("A");
  MemMaterial* multi = Multi({a});
  table_.AddNodeMaterial(multi);
  EXPECT_GE(multi->updates, 1);
  EXPECT_GE(a->updates, 1);
}

TEST_F(MaterialTableTest, EnteredRecordIsConverted) {
  MemMaterial* a = Mat("A");
  a->diffuse = Point3(1.0f, 0.5f, 0.0f);
  table_.AddNodeMaterial(a);
  const MaterialRecord* r = table_.Record(0);
  EXPECT_EQ(r->diffuse[0], 255);
  EXPECT_EQ(r->diffuse[1], 127);
  EXPECT_EQ(r->shading, 3);
}

TEST_F(MaterialTableTest, StorageGrowsByTwenty) {
  EXPECT_EQ(table_.Capacity(), 0u);
  table_.AddNodeMaterial(Mat(""));
  EXPECT_EQ(table_.Capacity(), 20u);
  for (int i = 1; i < 20; ++i) table_.AddNodeMaterial(Mat(""));
  EXPECT_EQ(table_.Capacity(), 20u);
  table_.AddNodeMaterial(Mat(""));
  EXPECT_EQ(table_.Capacity(), 40u);
  EXPECT_EQ(table_.Count(), 21);
}

TEST_F(MaterialTableTest, ClearEmptiesTheTable) {
  MemMaterial* a = Mat("");
  a->channels[kChannelDiffuse].map = scene_.Own(std::make_unique<MemMap>());
  table_.AddNodeMaterial(a);
  table_.AddNodeMaterial(Mat(""));
  ASSERT_NE(table_.Record(0)->maps[SLOT_TEXTURE], nullptr);
  table_.ClearMaterialTable();
  EXPECT_EQ(table_.Count(), 0);
  EXPECT_EQ(table_.Capacity(), 0u);
  EXPECT_EQ(table_.FindByHostMaterial(a), -1);
  EXPECT_EQ(table_.FindByName("Matl"), -1);
  // The released names no longer count.
  table_.AddNodeMaterial(Mat(""));
  EXPECT_EQ(AllNames(), (Names{"Matl"}));
}

}  // namespace
}  // namespace tsm
