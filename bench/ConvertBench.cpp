// Throughput of the conversion engine on the paths mail takes most: UTF-8 to and from
// UTF-16, a Western single-byte page to UTF-8, and a Japanese multi-byte page to UTF-8.
#include <benchmark/benchmark.h>

#include <string>

#include "charset/EncodingConvert.h"
#include "foundation/DataBuffer.h"

namespace {

// About 1 MB of text of the given sample, in its source code page.
std::string sample(int32_t fromUtf8To, const std::string& utf8) {
  std::string text;
  while (text.size() < (1u << 20)) text += utf8;
  if (fromUtf8To == 65001) return text;
  EncodingConvert engine;
  DataBuffer out;
  engine.convert(65001, fromUtf8To, reinterpret_cast<const unsigned char*>(text.data()),
                 static_cast<uint32_t>(text.size()), out);
  return std::string(reinterpret_cast<const char*>(out.getData()), out.getSize());
}

void convertLoop(benchmark::State& state, int32_t from, int32_t to, const std::string& input) {
  EncodingConvert engine;
  for (auto _ : state) {
    DataBuffer out;
    engine.convert(from, to, reinterpret_cast<const unsigned char*>(input.data()),
                   static_cast<uint32_t>(input.size()), out);
    benchmark::DoNotOptimize(out.getData());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(input.size()));
}

const char* kLatin = "Grüße aus Köln, déjà vu — 100 € pro Stück. Plain ASCII mail text. ";
const char* kJapanese = "日本語のメールを変換します。ｶﾀｶﾅ and ASCII mixed. ";

void BM_Utf8ToUtf16(benchmark::State& s) { convertLoop(s, 65001, 1200, sample(65001, kLatin)); }
void BM_Utf16ToUtf8(benchmark::State& s) { convertLoop(s, 1200, 65001, sample(1200, kLatin)); }
void BM_Cp1252ToUtf8(benchmark::State& s) { convertLoop(s, 1252, 65001, sample(1252, kLatin)); }
void BM_Utf8ToCp1252(benchmark::State& s) { convertLoop(s, 65001, 1252, sample(65001, kLatin)); }
void BM_ShiftJisToUtf8(benchmark::State& s) {
  convertLoop(s, 932, 65001, sample(932, kJapanese));
}
void BM_Utf8ToIso2022Jp(benchmark::State& s) {
  convertLoop(s, 65001, 50220, sample(65001, kJapanese));
}

}  // namespace

BENCHMARK(BM_Utf8ToUtf16)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Utf16ToUtf8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Cp1252ToUtf8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Utf8ToCp1252)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ShiftJisToUtf8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Utf8ToIso2022Jp)->Unit(benchmark::kMillisecond);
