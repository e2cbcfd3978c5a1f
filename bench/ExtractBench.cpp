// Names for extracted attachments when a message repeats one name thousands of times: each
// name costs the same whatever came before, so items per second stay flat as the count grows.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "cli/SafeFileName.h"

namespace {

void BM_PickRepeatedName(benchmark::State& state) {
  const int64_t repeats = state.range(0);
  char pattern[] = "/tmp/vorlund_extract_bench_XXXXXX";
  const char* dir = mkdtemp(pattern);
  if (dir == nullptr) {
    state.SkipWithError("no temporary directory");
    return;
  }
  for (auto _ : state) {
    FileNamePicker picker(dir);
    for (int64_t i = 0; i < repeats; ++i) benchmark::DoNotOptimize(picker.pick("a.txt"));
  }
  std::filesystem::remove_all(dir);
  state.SetItemsProcessed(state.iterations() * repeats);
}
BENCHMARK(BM_PickRepeatedName)->Arg(5000)->Arg(20000)->Unit(benchmark::kMillisecond);

}  // namespace
