// Base64 and quoted-printable bodies, encoded and decoded, on 1 MB and 64 MB; and the
// encoder's own quoted-printable text checked and copied.
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "foundation/ByteCodecs.h"
#include "foundation/DataBuffer.h"
#include "foundation/StringBuffer.h"

namespace {

// Binary for base64; mostly-ASCII mail text with some 8-bit bytes for quoted-printable.
std::string input(size_t n, bool text) {
  std::mt19937 rng(7);
  std::string s(n, '\0');
  const char* words = "The quick brown fox jumps over the lazy dog. caf\xE9 =\r\n";
  for (size_t i = 0; i < n; ++i) s[i] = text ? words[i % 52] : static_cast<char>(rng());
  return s;
}

void BM_Base64Encode(benchmark::State& state) {
  const std::string in = input(static_cast<size_t>(state.range(0)), false);
  for (auto _ : state) {
    StringBuffer out;
    encodeBase64Lines(in.data(), static_cast<uint32_t>(in.size()), 72, out);
    benchmark::DoNotOptimize(out.getString());
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_Base64Decode(benchmark::State& state) {
  const std::string raw = input(static_cast<size_t>(state.range(0)), false);
  StringBuffer encoded;
  encodeBase64Lines(raw.data(), static_cast<uint32_t>(raw.size()), 72, encoded);
  for (auto _ : state) {
    DataBuffer out;
    decodeBase64Strict(encoded.getString(), encoded.getSize(), out);
    benchmark::DoNotOptimize(out.getData());
  }
  state.SetBytesProcessed(state.iterations() * encoded.getSize());
}

void BM_QuotedPrintableEncode(benchmark::State& state) {
  const std::string in = input(static_cast<size_t>(state.range(0)), true);
  for (auto _ : state) {
    StringBuffer out;
    encodeQuotedPrintable(in.data(), static_cast<uint32_t>(in.size()), 72, out);
    benchmark::DoNotOptimize(out.getString());
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

// The quoted-printable text of the input as the encoder writes it.
std::string qpText(const benchmark::State& state) {
  const std::string raw = input(static_cast<size_t>(state.range(0)), true);
  StringBuffer encoded;
  encodeQuotedPrintable(raw.data(), static_cast<uint32_t>(raw.size()), 72, encoded);
  return std::string(encoded.getString(), encoded.getSize());
}

void BM_QuotedPrintableDecode(benchmark::State& state) {
  const std::string encoded = qpText(state);
  for (auto _ : state) {
    DataBuffer out;
    decodeQuotedPrintable(encoded.data(), static_cast<uint32_t>(encoded.size()), out);
    benchmark::DoNotOptimize(out.getData());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * encoded.size()));
}

// The encoder's own text checked and copied, as writing a loaded body does instead of
// decoding and encoding it again.
void BM_QuotedPrintableCopy(benchmark::State& state) {
  const std::string encoded = qpText(state);
  for (auto _ : state) {
    StringBuffer out;
    if (!copyQuotedPrintableLines(encoded.data(), static_cast<uint32_t>(encoded.size()), 72,
                                  nullptr, out))
      state.SkipWithError("the encoder's text was refused");
    benchmark::DoNotOptimize(out.getString());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * encoded.size()));
}

}  // namespace

BENCHMARK(BM_Base64Encode)->Arg(1 << 20)->Arg(64 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Base64Decode)->Arg(1 << 20)->Arg(64 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QuotedPrintableEncode)->Arg(1 << 20)->Arg(64 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QuotedPrintableDecode)->Arg(1 << 20)->Arg(64 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QuotedPrintableCopy)->Arg(1 << 20)->Arg(64 << 20)->Unit(benchmark::kMillisecond);
