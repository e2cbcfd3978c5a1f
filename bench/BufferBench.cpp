// Appending to the two buffer classes in chunks, up to 200 MB: growth must stay linear, so
// bytes per second should not fall as the total grows. And replacing a file of 50 MB as the
// save members do, the price of writing beside it and putting it in place.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "foundation/DataBuffer.h"
#include "foundation/FileAccess.h"
#include "foundation/StringBuffer.h"

namespace {

constexpr int64_t kKB = 1024;
constexpr int64_t kMB = 1024 * 1024;

// Appends `total` bytes in pieces of `chunk`.
void BM_StringBufferAppend(benchmark::State& state) {
  const int64_t chunk = state.range(0);
  const int64_t total = state.range(1);
  const std::string piece(static_cast<size_t>(chunk), 'm');
  for (auto _ : state) {
    StringBuffer sb;
    for (int64_t done = 0; done < total; done += chunk) sb.appendN(piece.data(), chunk);
    benchmark::DoNotOptimize(sb.getString());
  }
  state.SetBytesProcessed(state.iterations() * total);
}

void BM_DataBufferAppend(benchmark::State& state) {
  const int64_t chunk = state.range(0);
  const int64_t total = state.range(1);
  const std::string piece(static_cast<size_t>(chunk), 'd');
  for (auto _ : state) {
    DataBuffer db;
    for (int64_t done = 0; done < total; done += chunk)
      db.append(piece.data(), static_cast<uint32_t>(chunk));
    benchmark::DoNotOptimize(db.getData());
  }
  state.SetBytesProcessed(state.iterations() * total);
}

void BM_StringBufferAppendChar(benchmark::State& state) {
  const int64_t total = state.range(0);
  for (auto _ : state) {
    StringBuffer sb;
    for (int64_t i = 0; i < total; ++i) sb.appendChar('c');
    benchmark::DoNotOptimize(sb.getString());
  }
  state.SetBytesProcessed(state.iterations() * total);
}

// Writes the bytes over the same file again and again, in a directory of $TMPDIR (else /tmp).
void BM_ReplaceFile(benchmark::State& state) {
  const std::string bytes(static_cast<size_t>(state.range(0)), 'f');
  const char* base = std::getenv("TMPDIR");
  std::string dir =
      std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/vbench-XXXXXX";
  if (mkdtemp(dir.data()) == nullptr) {
    state.SkipWithError("no temporary directory");
    return;
  }
  const std::string path = dir + "/saved.eml";
  writeFileUtf8(path.c_str(), bytes.data(), static_cast<uint32_t>(bytes.size()), nullptr);
  for (auto _ : state)
    if (!writeFileUtf8(path.c_str(), bytes.data(), static_cast<uint32_t>(bytes.size()), nullptr))
      state.SkipWithError("the write failed");
  unlink(path.c_str());
  rmdir(dir.c_str());
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void sizes(benchmark::internal::Benchmark* b) {
  for (int64_t chunk : {kKB, kMB})
    for (int64_t total : {kKB, kMB, 16 * kMB, 200 * kMB})
      if (chunk <= total) b->Args({chunk, total});
}

}  // namespace

BENCHMARK(BM_StringBufferAppend)->Apply(sizes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DataBufferAppend)->Apply(sizes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReplaceFile)->Arg(50 * kMB)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_StringBufferAppendChar)->Arg(kMB)->Arg(64 * kMB)->Unit(benchmark::kMillisecond);
