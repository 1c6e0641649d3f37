// Our stand-in of the host utility library's growable tables. A table is one pointer to
// a block that starts with a header (count, capacity) followed by the elements; an empty
// table has no block at all (a null pointer). Tables are plain memory: elements are
// copied bytewise, so they hold pointers or other trivially copyable values.
//
// An index outside a table's count is a programming error; the helpers report it through
// assert1 and then leave the table unchanged.
#ifndef TSM_HOST_HOST_TABLE_H
#define TSM_HOST_HOST_TABLE_H

#include <cstddef>

// The block header. Elements start right after it (at sizeof(TableHeader), which keeps
// them aligned for any type).
struct alignas(alignof(std::max_align_t)) TableHeader {
  int count = 0;     // elements in use
  int capacity = 0;  // elements the block has room for
};

// The elements of a table's block; null for an empty table.
inline void* TableElements(TableHeader* table) {
  return table ? reinterpret_cast<char*>(table) + sizeof(TableHeader) : nullptr;
}

// Number of elements of a table; 0 for an empty table.
inline int TableCount(const TableHeader* table) {
  return table ? table->count : 0;
}

// Inserts num elements of elSize bytes each, copied from el (zero-filled when el is null),
// at index at (0 to the count; the count appends). The block grows by at least extra
// elements beyond what it needs whenever it has to grow. Answers at, or -1 when at is
// outside 0..count (after assert1), when the count would pass INT_MAX or when memory runs
// out; the table is then unchanged.
int TBInsertAt(TableHeader** table, int at, int num, const void* el, int elSize, int extra = 0);

// Sets the count of a table of elSize-byte elements to n; new elements are zero-filled.
// A count of 0 keeps the block. Answers 1, or 0 when n is negative (after assert1) or
// memory runs out; the table is then unchanged.
int TBSetCount(TableHeader** table, int n, int elSize);

// Frees the block *p points to (null is fine) and sets *p to null.
void zfree(void** p);

// Reports a failed check at file:line. It never aborts: it writes
// "assert1: check failed at FILE:LINE" to standard error, counts the failure and returns,
// and the caller goes on with a safe answer. The count lets a program (or a test) see
// that a check failed.
void assert1(int line, const char* file);
int Assert1Count();

#endif  // TSM_HOST_HOST_TABLE_H
