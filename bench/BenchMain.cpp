// The main of the benchmark programs that run the layers above foundation/: the conversion
// engine installed as the host program installs it, then Google Benchmark's own main.
#include <benchmark/benchmark.h>

#include "charset/EncodingConvert.h"

int main(int argc, char** argv) {
  const ScopedCodePageConverter engine(convertWithEngine);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
