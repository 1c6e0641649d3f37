#include "host/host_table.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

namespace {

// The elements of a table of ints, in order.
std::vector<int> Ints(TableHeader* table) {
  const int* data = static_cast<const int*>(TableElements(table));
  return std::vector<int>(data, data + TableCount(table));
}

void Free(TableHeader** table) {
  void* block = *table;
  zfree(&block);
  *table = nullptr;
}

TEST(HostTable, EmptyTableHasNoBlock) {
  TableHeader* table = nullptr;
  EXPECT_EQ(TableCount(table), 0);
  EXPECT_EQ(TableElements(table), nullptr);
  EXPECT_EQ(TBSetCount(&table, 0, sizeof(int)), 1);
  EXPECT_EQ(table, nullptr);
}

TEST(HostTable, InsertAppendsAndShifts) {
  TableHeader* table = nullptr;
  int v[] = {10, 20, 30};
  EXPECT_EQ(TBInsertAt(&table, 0, 1, &v[0], sizeof(int)), 0);
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(TBInsertAt(&table, 1, 1, &v[2], sizeof(int)), 1);
  EXPECT_EQ(TBInsertAt(&table, 1, 1, &v[1], sizeof(int)), 1);
  EXPECT_EQ(Ints(table), (std::vector<int>{10, 20, 30}));
  EXPECT_EQ(TBInsertAt(&table, 0, 2, v, sizeof(int)), 0);
  EXPECT_EQ(Ints(table), (std::vector<int>{10, 20, 10, 20, 30}));
  Free(&table);
}

TEST(HostTable, InsertWithoutElementsZeroFills) {
  TableHeader* table = nullptr;
  int v = 7;
  TBInsertAt(&table, 0, 1, &v, sizeof(int));
  EXPECT_EQ(TBInsertAt(&table, 1, 3, nullptr, sizeof(int)), 1);
  EXPECT_EQ(Ints(table), (std::vector<int>{7, 0, 0, 0}));
  Free(&table);
}

TEST(HostTable, InsertGrowsByExtra) {
  TableHeader* table = nullptr;
  int v = 1;
  TBInsertAt(&table, 0, 1, &v, sizeof(int), 20);
  ASSERT_NE(table, nullptr);
  EXPECT_GE(table->capacity, 21);
  Free(&table);
}

TEST(HostTable, ManyInsertsKeepEveryValue) {
  TableHeader* table = nullptr;
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(TBInsertAt(&table, i, 1, &i, sizeof(int)), i);
  std::vector<int> values = Ints(table);
  ASSERT_EQ(values.size(), 1000u);
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(values[i], i);
  Free(&table);
}

TEST(HostTable, InsertOutsideCountCallsAssertAndChangesNothing) {
  TableHeader* table = nullptr;
  int v = 5;
  int failures = Assert1Count();
  EXPECT_EQ(TBInsertAt(&table, 1, 1, &v, sizeof(int)), -1);
  EXPECT_EQ(table, nullptr);
  EXPECT_EQ(Assert1Count(), failures + 1);
  TBInsertAt(&table, 0, 1, &v, sizeof(int));
  EXPECT_EQ(TBInsertAt(&table, -1, 1, &v, sizeof(int)), -1);
  EXPECT_EQ(TBInsertAt(&table, 2, 1, &v, sizeof(int)), -1);
  EXPECT_EQ(Assert1Count(), failures + 3);
  EXPECT_EQ(Ints(table), (std::vector<int>{5}));
  Free(&table);
}

TEST(HostTable, InsertBeyondTheLargestCountFailsAndChangesNothing) {
  TableHeader* table = nullptr;
  int v[] = {4, 5};
  TBInsertAt(&table, 0, 2, v, sizeof(int));
  EXPECT_EQ(TBInsertAt(&table, 2, INT_MAX, nullptr, sizeof(int)), -1);
  EXPECT_EQ(TBInsertAt(&table, 1, INT_MAX - 1, nullptr, sizeof(int), 20), -1);
  EXPECT_EQ(Ints(table), (std::vector<int>{4, 5}));
  Free(&table);
}

TEST(HostTable, SetCountGrowsWithZerosAndShrinks) {
  TableHeader* table = nullptr;
  int v[] = {1, 2, 3};
  TBInsertAt(&table, 0, 3, v, sizeof(int));
  EXPECT_EQ(TBSetCount(&table, 5, sizeof(int)), 1);
  EXPECT_EQ(Ints(table), (std::vector<int>{1, 2, 3, 0, 0}));
  EXPECT_EQ(TBSetCount(&table, 2, sizeof(int)), 1);
  EXPECT_EQ(Ints(table), (std::vector<int>{1, 2}));
  EXPECT_EQ(TBSetCount(&table, 0, sizeof(int)), 1);
  EXPECT_NE(table, nullptr);  // the block is kept
  EXPECT_EQ(TableCount(table), 0);
  Free(&table);
}

TEST(HostTable, SetCountNegativeCallsAssertAndChangesNothing) {
  TableHeader* table = nullptr;
  int v = 9;
  TBInsertAt(&table, 0, 1, &v, sizeof(int));
  int failures = Assert1Count();
  EXPECT_EQ(TBSetCount(&table, -1, sizeof(int)), 0);
  EXPECT_EQ(Assert1Count(), failures + 1);
  EXPECT_EQ(Ints(table), (std::vector<int>{9}));
  Free(&table);
}

TEST(HostTable, ZfreeNullsThePointer) {
  TableHeader* table = nullptr;
  int v = 1;
  TBInsertAt(&table, 0, 1, &v, sizeof(int));
  void* block = table;
  zfree(&block);
  EXPECT_EQ(block, nullptr);
  zfree(&block);  // freeing nothing is fine
  EXPECT_EQ(block, nullptr);
  zfree(nullptr);
}

}  // namespace
