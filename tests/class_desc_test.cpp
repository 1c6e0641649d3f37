#include "host/class_desc.h"

#include <gtest/gtest.h>

#include "host/host_table.h"

namespace {

// The least a descriptor must say; everything else is the base's.
class BareDesc : public ClassDesc {
 public:
  int IsPublic() override { return 0; }
  void* Create(int) override { return nullptr; }
  const char* ClassName() override { return "Bare"; }
  uint32_t SuperClassNumber() override { return 1; }
  Class_ID ClassIdentity() override { return Class_ID(1, 2); }
  const char* Category() override { return ""; }
};

TEST(ClassDesc, StartsWithEmptyInterfaceTable) {
  BareDesc desc;
  EXPECT_EQ(desc.NumInterfaces(), 0);
  EXPECT_EQ(desc.Interfaces().Header(), nullptr);
}

TEST(ClassDesc, BaseDefaults) {
  BareDesc desc;
  EXPECT_EQ(desc.Reserved1(nullptr), 0);
  EXPECT_EQ(desc.Reserved2(&desc), 0);
  EXPECT_EQ(desc.GetRsrcString(40216), nullptr);
}

TEST(ClassDesc, FindsInterfacesByIdAndByName) {
  BaseInterface first(Interface_ID(0x100, 1), "first");
  BaseInterface second(Interface_ID(0x100, 2), "second");
  BareDesc desc;
  desc.AddInterface(&first);
  desc.AddInterface(&second);
  ASSERT_EQ(desc.NumInterfaces(), 2);
  EXPECT_NE(desc.Interfaces().Header(), nullptr);
  EXPECT_EQ(desc.GetInterfaceAt(0), &first);
  EXPECT_EQ(desc.GetInterfaceAt(1), &second);
  EXPECT_EQ(desc.GetInterface(Interface_ID(0x100, 2)), &second);
  EXPECT_EQ(desc.GetInterface(Interface_ID(0x100, 1)), &first);
  EXPECT_EQ(desc.GetInterface("second"), &second);
  EXPECT_EQ(desc.GetInterface("first"), &first);
}

TEST(ClassDesc, UnknownInterfacesAreNone) {
  BaseInterface only(Interface_ID(7, 7), "only");
  BareDesc desc;
  EXPECT_EQ(desc.GetInterface(Interface_ID(7, 7)), nullptr);
  desc.AddInterface(&only);
  EXPECT_EQ(desc.GetInterface(Interface_ID(7, 8)), nullptr);
  EXPECT_EQ(desc.GetInterface(Interface_ID(8, 7)), nullptr);
  EXPECT_EQ(desc.GetInterface("Only"), nullptr);
  EXPECT_EQ(desc.GetInterface("onl"), nullptr);
  EXPECT_EQ(desc.GetInterface(static_cast<const char*>(nullptr)), nullptr);
}

TEST(ClassDesc, AddIgnoresNullAndRepeatedIds) {
  BaseInterface a(Interface_ID(3, 4), "a");
  BaseInterface sameId(Interface_ID(3, 4), "b");
  BareDesc desc;
  desc.AddInterface(nullptr);
  desc.AddInterface(&a);
  desc.AddInterface(&a);
  desc.AddInterface(&sameId);
  EXPECT_EQ(desc.NumInterfaces(), 1);
  EXPECT_EQ(desc.GetInterface("b"), nullptr);
}

TEST(ClassDesc, IndexOutsideCountCallsAssert) {
  BaseInterface a(Interface_ID(5, 6), "a");
  BareDesc desc;
  int failures = Assert1Count();
  EXPECT_EQ(desc.GetInterfaceAt(0), nullptr);
  desc.AddInterface(&a);
  EXPECT_EQ(desc.GetInterfaceAt(1), nullptr);
  EXPECT_EQ(desc.GetInterfaceAt(-1), nullptr);
  EXPECT_EQ(Assert1Count(), failures + 3);
  EXPECT_EQ(desc.GetInterfaceAt(0), &a);
  EXPECT_EQ(Assert1Count(), failures + 3);
}

TEST(ClassDesc, InterfaceTableReleaseEmptiesIt) {
  BaseInterface a(Interface_ID(1, 1), "a");
  InterfaceTable table;
  ASSERT_TRUE(table.Append(&a));
  EXPECT_EQ(table.Count(), 1);
  table.Release();
  EXPECT_EQ(table.Count(), 0);
  EXPECT_EQ(table.Header(), nullptr);
  table.Release();  // releasing an empty table is fine
}

}  // namespace
