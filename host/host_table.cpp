#include "host/host_table.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

int assertFailures = 0;

// Makes room for at least n elements of elSize bytes, growing by extra more. Answers
// false when memory runs out; *table is then untouched.
bool Reserve(TableHeader** table, int n, int elSize, int extra) {
  int capacity = *table != nullptr ? (*table)->capacity : 0;
  if (n <= capacity) return true;
  size_t want = static_cast<size_t>(n) + static_cast<size_t>(extra > 0 ? extra : 0);
  if (want > static_cast<size_t>(INT_MAX)) want = INT_MAX;  // the most a count can say
  size_t bytes = sizeof(TableHeader) + want * static_cast<size_t>(elSize);
  void* block = std::realloc(*table, bytes);
  if (block == nullptr) return false;
  TableHeader* grown = static_cast<TableHeader*>(block);
  if (*table == nullptr) grown->count = 0;
  grown->capacity = static_cast<int>(want);
  *table = grown;
  return true;
}

}  // namespace

int TBInsertAt(TableHeader** table, int at, int num, const void* el, int elSize, int extra) {
  int count = TableCount(*table);
  if (at < 0 || at > count || num < 0 || elSize <= 0) {
    assert1(__LINE__, __FILE__);
    return -1;
  }
  if (num == 0) return at;
  if (num > INT_MAX - count) return -1;  // more elements than a count can hold
  if (!Reserve(table, count + num, elSize, extra)) return -1;
  char* data = static_cast<char*>(TableElements(*table));
  size_t size = static_cast<size_t>(elSize);
  std::memmove(data + (at + num) * size, data + at * size, (count - at) * size);
  if (el != nullptr)
    std::memcpy(data + at * size, el, num * size);
  else
    std::memset(data + at * size, 0, num * size);
  (*table)->count = count + num;
  return at;
}

int TBSetCount(TableHeader** table, int n, int elSize) {
  if (n < 0 || elSize <= 0) {
    assert1(__LINE__, __FILE__);
    return 0;
  }
  int count = TableCount(*table);
  if (n == count) return 1;
  if (n > count) {
    if (!Reserve(table, n, elSize, 0)) return 0;
    char* data = static_cast<char*>(TableElements(*table));
    std::memset(data + count * static_cast<size_t>(elSize), 0,
                (n - count) * static_cast<size_t>(elSize));
  }
  (*table)->count = n;
  return 1;
}

void zfree(void** p) {
  if (p == nullptr) return;
  std::free(*p);
  *p = nullptr;
}

void assert1(int line, const char* file) {
  ++assertFailures;
  std::fprintf(stderr, "assert1: check failed at %s:%d\n", file ? file : "?", line);
}

int Assert1Count() {
  return assertFailures;
}
