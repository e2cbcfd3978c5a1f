// Throughput of the conversion engine, each path beside glibc's iconv doing the same work
// on the same 10 MB of text (compare the bytes_per_second of the pairs), and the cost of
// building a double-byte code page's tables on first use. The Ascii cases are mail as a
// message's text is: base64 lines, all ASCII.
#include <benchmark/benchmark.h>
#include <iconv.h>

#include <map>
#include <memory>
#include <string>

#include "charset/ConversionTables.h"
#include "charset/EncodingConvert.h"
#include "charset/HashConvert.h"
#include "charset/tables/StoredTables.h"
#include "foundation/DataBuffer.h"
#include "foundation/StringBuffer.h"

namespace {

constexpr size_t kTextSize = 10u << 20;

const char* kLatin = "Grüße aus Köln, déjà vu — 100 € pro Stück. Plain ASCII mail text. ";
const char* kJapanese = "日本語のメールを変換します。ｶﾀｶﾅ and ASCII mixed. ";
const char* kChinese = "中文邮件的字符集转换测试，包括标点符号。ASCII too. ";

std::string convertOnce(int32_t from, int32_t to, const std::string& in) {
  EncodingConvert engine;
  DataBuffer out;
  engine.convert(from, to, reinterpret_cast<const unsigned char*>(in.data()),
                 static_cast<uint32_t>(in.size()), out);
  return std::string(reinterpret_cast<const char*>(out.getData()), out.getSize());
}

// About 10 MB of the sample in the given code page.
const std::string& sample(const char* utf8, int32_t codePage) {
  static std::map<std::pair<const char*, int32_t>, std::string> cache;
  auto& slot = cache[{utf8, codePage}];
  if (slot.empty()) {
    std::string text;
    while (text.size() < kTextSize) text += utf8;
    slot = codePage == 65001 ? text : convertOnce(65001, codePage, text);
  }
  return slot;
}

// About 10 MB of base64 lines in the given code page.
const std::string& base64Lines(int32_t codePage) {
  static std::map<int32_t, std::string> cache;
  std::string& slot = cache[codePage];
  if (slot.empty()) {
    static const char* alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    uint32_t x = 1;
    while (text.size() < kTextSize) {
      for (int i = 0; i < 76; ++i) {
        x = x * 1103515245u + 12345u;
        text += alphabet[(x >> 16) & 63];
      }
      text += "\r\n";
    }
    slot = codePage == 1252 ? text : convertOnce(1252, codePage, text);
  }
  return slot;
}

void ours(benchmark::State& state, int32_t from, int32_t to, const std::string& input) {
  EncodingConvert engine;
  for (auto _ : state) {
    DataBuffer out;
    engine.convert(from, to, reinterpret_cast<const unsigned char*>(input.data()),
                   static_cast<uint32_t>(input.size()), out);
    benchmark::DoNotOptimize(out.getData());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(input.size()));
}

void theirs(benchmark::State& state, const char* from, const char* to, const std::string& input) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    state.SkipWithError("iconv does not know the pair");
    return;
  }
  std::string out(input.size() * 3 + 16, '\0');
  for (auto _ : state) {
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char* in = const_cast<char*>(input.data());
    size_t inLeft = input.size();
    char* dst = out.data();
    size_t outLeft = out.size();
    iconv(cd, &in, &inLeft, &dst, &outLeft);
    benchmark::DoNotOptimize(dst);
  }
  iconv_close(cd);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(input.size()));
}

void BM_Cp1252ToUtf8(benchmark::State& s) { ours(s, 1252, 65001, sample(kLatin, 1252)); }
void BM_Cp1252ToUtf8_iconv(benchmark::State& s) {
  theirs(s, "CP1252", "UTF-8", sample(kLatin, 1252));
}
void BM_Utf8ToCp1252(benchmark::State& s) { ours(s, 65001, 1252, sample(kLatin, 65001)); }
void BM_Utf8ToCp1252_iconv(benchmark::State& s) {
  theirs(s, "UTF-8", "CP1252", sample(kLatin, 65001));
}
void BM_Cp932ToUtf16(benchmark::State& s) { ours(s, 932, 1200, sample(kJapanese, 932)); }
void BM_Cp932ToUtf16_iconv(benchmark::State& s) {
  theirs(s, "CP932", "UTF-16LE", sample(kJapanese, 932));
}
void BM_Utf16ToCp932(benchmark::State& s) { ours(s, 1200, 932, sample(kJapanese, 1200)); }
void BM_Utf16ToCp932_iconv(benchmark::State& s) {
  theirs(s, "UTF-16LE", "CP932", sample(kJapanese, 1200));
}
void BM_Cp936ToUtf8(benchmark::State& s) { ours(s, 936, 65001, sample(kChinese, 936)); }
void BM_Cp936ToUtf8_iconv(benchmark::State& s) {
  theirs(s, "CP936", "UTF-8", sample(kChinese, 936));
}
void BM_Utf8ToCp936(benchmark::State& s) { ours(s, 65001, 936, sample(kChinese, 65001)); }
void BM_Utf8ToCp936_iconv(benchmark::State& s) {
  theirs(s, "UTF-8", "CP936", sample(kChinese, 65001));
}
void BM_Utf8ToUtf16(benchmark::State& s) { ours(s, 65001, 1200, sample(kLatin, 65001)); }
void BM_Utf8ToUtf16_iconv(benchmark::State& s) {
  theirs(s, "UTF-8", "UTF-16LE", sample(kLatin, 65001));
}

void BM_AsciiCp1252ToUtf16(benchmark::State& s) { ours(s, 1252, 1200, base64Lines(1252)); }
void BM_AsciiCp1252ToUtf16_iconv(benchmark::State& s) {
  theirs(s, "CP1252", "UTF-16LE", base64Lines(1252));
}
void BM_AsciiUtf16ToCp1252(benchmark::State& s) { ours(s, 1200, 1252, base64Lines(1200)); }
void BM_AsciiUtf16ToCp1252_iconv(benchmark::State& s) {
  theirs(s, "UTF-16LE", "CP1252", base64Lines(1200));
}
void BM_AsciiUtf8ToUtf16(benchmark::State& s) { ours(s, 65001, 1200, base64Lines(65001)); }
void BM_AsciiUtf8ToUtf16_iconv(benchmark::State& s) {
  theirs(s, "UTF-8", "UTF-16LE", base64Lines(65001));
}
void BM_AsciiUtf16ToUtf8(benchmark::State& s) { ours(s, 1200, 65001, base64Lines(1200)); }
void BM_AsciiUtf16ToUtf8_iconv(benchmark::State& s) {
  theirs(s, "UTF-16LE", "UTF-8", base64Lines(1200));
}

// The work of a first conversion from and to 932: the stored text decoded and decompressed
// twice and both lookup tables filled. Items are table builds; bytes are the stored text.
void BM_FirstUseTables932(benchmark::State& state) {
  const StoredTable* stored = findStoredTable(932);
  StringBuffer text;
  for (uint32_t i = 0; i < stored->numPieces; ++i) text.append(stored->pieces[i]);
  for (auto _ : state) {
    auto forward = std::make_unique<HashConvert>(4919);
    auto reverse = std::make_unique<HashConvert>(4919);
    loadTableText(text, *forward, false);
    loadTableText(text, *reverse, true);
    benchmark::DoNotOptimize(forward->numEntries() + reverse->numEntries());
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * text.getSize());
}

}  // namespace

#define VORLUND_PAIR(name)                        \
  BENCHMARK(name)->Unit(benchmark::kMillisecond); \
  BENCHMARK(name##_iconv)->Unit(benchmark::kMillisecond)
VORLUND_PAIR(BM_Cp1252ToUtf8);
VORLUND_PAIR(BM_Utf8ToCp1252);
VORLUND_PAIR(BM_Cp932ToUtf16);
VORLUND_PAIR(BM_Utf16ToCp932);
VORLUND_PAIR(BM_Cp936ToUtf8);
VORLUND_PAIR(BM_Utf8ToCp936);
VORLUND_PAIR(BM_Utf8ToUtf16);
VORLUND_PAIR(BM_AsciiCp1252ToUtf16);
VORLUND_PAIR(BM_AsciiUtf16ToCp1252);
VORLUND_PAIR(BM_AsciiUtf8ToUtf16);
VORLUND_PAIR(BM_AsciiUtf16ToUtf8);
BENCHMARK(BM_FirstUseTables932)->Unit(benchmark::kMillisecond);
