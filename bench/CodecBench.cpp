// Base64 and quoted-printable bodies, encoded and decoded, on 1 MB and 64 MB; the encoder's
// own quoted-printable text checked and copied; and loaded bodies broken into the writer's
// lines anew, as writing a loaded message does.
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

// Base64 lines of 76 characters, as the sample messages' attachments have them, broken anew at
// state.range(1) characters.
void BM_Base64Rewrap(benchmark::State& state) {
  const std::string raw = input(static_cast<size_t>(state.range(0)), false);
  StringBuffer encoded;
  encodeBase64Lines(raw.data(), static_cast<uint32_t>(raw.size()), 76, encoded);
  for (auto _ : state) {
    StringBuffer out;
    if (!rewrapBase64Lines(encoded.getString(), encoded.getSize(),
                           static_cast<int32_t>(state.range(1)), out))
      state.SkipWithError("the encoder's text was refused");
    benchmark::DoNotOptimize(out.getString());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * encoded.getSize()));
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

// Text as the sample messages' single-byte text parts have it: lines of words and accented
// letters in Latin-1, Latin-2 and Windows-1251 turns about, quoted-printable at 76 columns, so
// each line has a run of escapes and a soft break near its end.
std::string sampleQpText(size_t n) {
  static const char* const kSamples[] = {
      "Caf\xE9 na\xEFve r\xE9sum\xE9 \xFC\xF6\xE4 ",
      "\xAF\xF3\xB3\xE6 g\xEA\xB6l\xB1 ja\xBC\xF1 ",
      "\xCF\xF0\xE8\xE2\xE5\xF2 \xEC\xE8\xF0 ",
  };
  std::string raw;
  for (size_t i = 0; raw.size() < n; ++i)
    raw += std::string("The quick brown fox jumps over the lazy dog. ") + kSamples[i % 3] + "\r\n";
  StringBuffer encoded;
  encodeQuotedPrintable(raw.data(), static_cast<uint32_t>(raw.size()), 76, encoded);
  return std::string(encoded.getString(), encoded.getSize());
}

// That text written at 72 columns from its own tokens, as writing a loaded text part does when
// the writer's line length is not the text's.
void BM_QuotedPrintableRewrap(benchmark::State& state) {
  const std::string encoded = sampleQpText(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    StringBuffer out;
    if (!rewrapQuotedPrintable(encoded.data(), static_cast<uint32_t>(encoded.size()), 72, nullptr,
                               out))
      state.SkipWithError("the encoder's text was refused");
    benchmark::DoNotOptimize(out.getString());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * encoded.size()));
}

}  // namespace

BENCHMARK(BM_Base64Encode)->Arg(1 << 20)->Arg(64 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Base64Decode)->Arg(1 << 20)->Arg(64 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Base64Rewrap)
    ->Args({1 << 20, 76})
    ->Args({1 << 20, 72})
    ->Args({64 << 20, 76})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QuotedPrintableEncode)->Arg(1 << 20)->Arg(64 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QuotedPrintableDecode)->Arg(1 << 20)->Arg(64 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QuotedPrintableCopy)->Arg(1 << 20)->Arg(64 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QuotedPrintableRewrap)->Arg(1 << 20)->Arg(64 << 20)->Unit(benchmark::kMillisecond);
