// Resident memory of the benchmark process, for the peak-memory figures.
#ifndef TSM_BENCH_BENCH_MEMORY_H
#define TSM_BENCH_BENCH_MEMORY_H

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace tsm {

// A value of /proc/self/status in KiB ("VmRSS", "VmHWM"); 0 where there is none.
inline int64_t StatusKiB(const char* field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  size_t n = std::strlen(field);
  while (std::getline(in, line))
    if (line.compare(0, n, field) == 0 && line.size() > n && line[n] == ':')
      return std::atoll(line.c_str() + n + 1);
  return 0;
}

// Resets the peak resident set to the current one; false where the system can't.
inline bool ResetPeakRss() {
  std::ofstream out("/proc/self/clear_refs");
  out << "5";
  out.flush();
  return static_cast<bool>(out);
}

}  // namespace tsm

#endif  // TSM_BENCH_BENCH_MEMORY_H
