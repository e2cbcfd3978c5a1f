// Writes the generated big message of the MIME benchmarks to a file, so the host program and
// GMime's side of host_bench.sh read the same bytes: `vorlund_bench_sample MB OUT`.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "MessageSamples.h"
#include "charset/EncodingConvert.h"

int main(int argc, char** argv) {
  const ScopedCodePageConverter engine(convertWithEngine);
  if (argc != 3) {
    std::fputs("usage: vorlund_bench_sample MB OUT\n", stderr);
    return 2;
  }
  const std::string m = bench::bigMessage(std::strtoul(argv[1], nullptr, 10) * bench::kMb);
  FILE* f = std::fopen(argv[2], "wb");
  if (f == nullptr) return 1;
  const bool ok = std::fwrite(m.data(), 1, m.size(), f) == m.size();
  return std::fclose(f) == 0 && ok ? 0 : 1;
}
