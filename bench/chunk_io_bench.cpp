// Cost of chunk framing on the buffered file stream: many small nested chunks, each
// closed by a length patch. Patches of buffered bytes are memory copies, so the number of
// system writes stays near file size / buffer size.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "writer/chunk_io.h"

namespace {

// Writes count leaf chunks of 14 bytes inside groups of 64, inside one top chunk.
bool WriteNested(tsm::OutStream& s, int count) {
  return tsm::ChunkFraming(s, 0x1000, [&] {
           for (int g = 0; g < count / 64; ++g) {
             if (!tsm::ChunkFraming(s, 0x2000, [&] {
                   for (int i = 0; i < 64; ++i)
                     if (!tsm::ChunkFraming(s, 0x3000, [&] {
                           return tsm::WriteF32(s, 1.0f) && tsm::WriteF32(s, 2.0f);
                         }))
                       return false;
                   return true;
                 }))
               return false;
           }
           return true;
         }) == 1;
}

void BM_FileStreamNestedChunks(benchmark::State& state) {
  std::string path = "/tmp/tsm_bench_" + std::to_string(::getpid()) + ".bin";
  int count = static_cast<int>(state.range(0));
  int systemWrites = 0;
  for (auto _ : state) {
    tsm::FileStream s;
    if (!s.Open(path.c_str()) || !WriteNested(s, count) || s.Close() != 0) {
      state.SkipWithError("write failed");
      break;
    }
    systemWrites = s.SystemWrites();
  }
  std::remove(path.c_str());
  state.counters["system_writes"] = systemWrites;
  state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_FileStreamNestedChunks)->Arg(1 << 10)->Arg(1 << 14)->Arg(1 << 18);

void BM_MemoryStreamNestedChunks(benchmark::State& state) {
  int count = static_cast<int>(state.range(0));
  for (auto _ : state) {
    tsm::MemoryStream s;
    WriteNested(s, count);
    benchmark::DoNotOptimize(s.Bytes().data());
  }
  state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_MemoryStreamNestedChunks)->Arg(1 << 10)->Arg(1 << 14)->Arg(1 << 18);

}  // namespace
