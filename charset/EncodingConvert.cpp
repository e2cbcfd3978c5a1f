#include "charset/EncodingConvert.h"

#include <bit>
#include <cstring>

#include "charset/CharsetNames.h"
#include "charset/ConversionTables.h"
#include "charset/EncodingUtf8.h"
#include "charset/Iso2022.h"
#include "charset/UnicodeForms.h"
#include "foundation/Conversion.h"
#include "foundation/DataBuffer.h"
#include "platform/CodePage.h"

namespace {

constexpr int32_t kUtf7 = 65000;
constexpr int32_t kUtf32 = 65005;
constexpr int32_t kUtf32Be = 65006;
constexpr int32_t kShiftJis = 932;
constexpr int32_t kKorean = 949;
constexpr int32_t kMacArabic = 10004;

bool isIso2022Jp(int32_t cp) { return cp >= 50220 && cp <= 50222; }
bool isTablePage(int32_t cp) { return isSingleByteTablePage(cp) || isMultiByteTablePage(cp); }

// Mail text is nearly all ASCII. Where both sides write ASCII as itself, the converters take
// blocks of 16 ASCII characters at once: one test of the high bits of whole words, then a
// block copy, widening or narrowing (vector moves once compiled). Anything else is converted
// as without blocks. Where characters differ in length, a block is looked for at an ASCII
// character, and after a failed look not again within the next block's length, so mixed
// text pays at most one test in 16 bytes.
static_assert(std::endian::native == std::endian::little, "UTF-16LE units are moved as words");

constexpr uint32_t kBlock = 16;  // characters

inline uint64_t word(const unsigned char* p) {
  uint64_t w;
  std::memcpy(&w, p, 8);
  return w;
}

// The block's bytes at p are all ASCII.
inline bool asciiBlock(const unsigned char* p) {
  return ((word(p) | word(p + 8)) & 0x8080808080808080ULL) == 0;
}

// The block's UTF-16LE units at p are all ASCII.
inline bool asciiUnitBlock(const unsigned char* p) {
  return ((word(p) | word(p + 8) | word(p + 16) | word(p + 24)) & 0xFF80FF80FF80FF80ULL) == 0;
}

// A block of bytes at p as UTF-16LE units at dst.
inline void widenBlock(const unsigned char* p, unsigned char* dst) {
  unsigned char bytes[kBlock];
  uint16_t units[kBlock];
  std::memcpy(bytes, p, kBlock);
  for (uint32_t k = 0; k < kBlock; ++k) units[k] = bytes[k];
  std::memcpy(dst, units, sizeof units);
}

// A block of UTF-16LE units at p as their low bytes at dst.
inline void narrowBlock(const unsigned char* p, unsigned char* dst) {
  uint16_t units[kBlock];
  unsigned char bytes[kBlock];
  std::memcpy(units, p, sizeof units);
  for (uint32_t k = 0; k < kBlock; ++k) bytes[k] = static_cast<unsigned char>(units[k]);
  std::memcpy(dst, bytes, kBlock);
}

// The units in n bytes of UTF-16LE at p as UTF-8 at dst; returns the end.
unsigned char* unitsToUtf8(const EncodingUtf8& codec, const unsigned char* p, uint32_t n,
                           unsigned char* dst) {
  for (uint32_t i = 0; i + 1 < n; i += 2)
    dst += codec.encodeUnit(static_cast<uint16_t>(p[i] | (p[i + 1] << 8)), dst);
  return dst;
}

void utf16ToUtf8(const unsigned char* p, uint32_t n, CodePageOutput& out) {
  const EncodingUtf8& codec = EncodingUtf8::instance();
  unsigned char* dst = out.reserve(static_cast<uint64_t>(n / 2) * 3 + 4);
  uint32_t i = 0;
  for (; i + 2 * kBlock <= n; i += 2 * kBlock) {
    if (!asciiUnitBlock(p + i)) {
      dst = unitsToUtf8(codec, p + i, 2 * kBlock, dst);
      continue;
    }
    narrowBlock(p + i, dst);
    dst += kBlock;
  }
  out.commit(unitsToUtf8(codec, p + i, n - i, dst));
}

// Invalid and incomplete sequences are skipped without making the result false.
void utf8ToUtf16(const unsigned char* p, uint32_t n, CodePageOutput& out) {
  const EncodingUtf8& codec = EncodingUtf8::instance();
  unsigned char* dst = out.reserve(static_cast<uint64_t>(n) * 2 + 4);
  ConvertState state{p, p + n};
  const unsigned char* look = p;  // where a block of ASCII is looked for next
  while (state.pos < state.end) {
    if (*state.pos < 0x80) {  // the common case without the call
      if (state.pos >= look && state.end - state.pos >= kBlock) {
        if (asciiBlock(state.pos)) {
          widenBlock(state.pos, dst);
          state.pos += kBlock;
          dst += 2 * kBlock;
          continue;
        }
        look = state.pos + kBlock;
      }
      *dst++ = *state.pos++;
      *dst++ = 0;
      continue;
    }
    uint16_t unit = 0;
    if (codec.decodeChar(state, &unit) == DecodeResult::kOk) {
      *dst++ = static_cast<unsigned char>(unit);
      *dst++ = static_cast<unsigned char>(unit >> 8);
    }
  }
  out.commit(dst);
}

void utf8ToUtf8(const unsigned char* p, uint32_t n, CodePageOutput& out) {
  DataBuffer units;
  DataBufferOutput unitsOut(units);
  utf8ToUtf16(p, n, unitsOut);
  utf16ToUtf8(units.getData(), units.getSize(), out);
}

// n bytes of a single-byte page as UTF-16 at dst; a byte the page does not map is left out
// and clears `ok`. Returns the end.
unsigned char* singleBytesToUtf16(const UnicodeLookup& table, const unsigned char* p, uint32_t n,
                                  unsigned char* dst, bool& ok) {
  for (uint32_t i = 0; i < n; ++i) {
    const uint16_t u = p[i] == 0 ? 0 : table.units[p[i]];
    if (u == 0 && p[i] != 0) {
      ok = false;
      continue;
    }
    *dst++ = static_cast<unsigned char>(u);
    *dst++ = static_cast<unsigned char>(u >> 8);
  }
  return dst;
}

bool singleToUtf16(int32_t cp, const unsigned char* p, uint32_t n, CodePageOutput& out) {
  const UnicodeLookup* table = singleByteForward(cp);
  if (table == nullptr) return false;
  bool ok = true;
  unsigned char* dst = out.reserve(static_cast<uint64_t>(n) * 2 + 4);
  uint32_t i = 0;
  const bool runs = table->asciiRuns;  // held, as the writes could change it for all we know
  for (; runs && i + kBlock <= n; i += kBlock) {
    if (asciiBlock(p + i)) {
      widenBlock(p + i, dst);
      dst += 2 * kBlock;
      continue;
    }
    // Mixed text: its halves, either of which may still be all ASCII.
    for (uint32_t half = i; half < i + kBlock; half += 8) {
      if ((word(p + half) & 0x8080808080808080ULL) != 0) {
        dst = singleBytesToUtf16(*table, p + half, 8, dst, ok);
        continue;
      }
      for (uint32_t k = 0; k < 8; ++k) {
        dst[2 * k] = p[half + k];
        dst[2 * k + 1] = 0;
      }
      dst += 16;
    }
  }
  dst = singleBytesToUtf16(*table, p + i, n - i, dst, ok);
  out.commit(dst);
  return ok;
}

// kRuns: t.asciiRuns, fixed for the loop.
template <bool kRuns>
bool denseMultiToUtf16(const DenseForward& t, const unsigned char* p, uint32_t n,
                       CodePageOutput& out) {
  bool ok = true;
  unsigned char* dst = out.reserve(static_cast<uint64_t>(n) * 2 + 4);
  auto put = [&dst](uint16_t u) {
    *dst++ = static_cast<unsigned char>(u);
    *dst++ = static_cast<unsigned char>(u >> 8);
  };
  // A block starts where a character does, and no two-byte code starts with an ASCII byte.
  uint32_t look = 0;  // where a block of ASCII is looked for next
  uint32_t i = 0;
  while (i < n) {
    const unsigned char b = p[i];
    if (kRuns && b < 0x80) {
      if (i >= look && n - i >= kBlock) {
        if (asciiBlock(p + i)) {
          widenBlock(p + i, dst);
          i += kBlock;
          dst += 2 * kBlock;
          continue;
        }
        look = i + kBlock;
      }
      put(b);
      ++i;
      continue;
    }
    if (i + 1 < n) {
      const uint16_t u = t.pair[(b << 8) | p[i + 1]];
      if (u != 0) {
        put(u);
        i += 2;
        continue;
      }
    }
    ++i;
    if (b == 0 || (t.asciiTransparent && b < 0x80))
      put(b);
    else if (t.single[b] != 0)
      put(t.single[b]);
    else
      ok = false;
  }
  out.commit(dst);
  return ok;
}

bool multiToUtf16(int32_t cp, const unsigned char* p, uint32_t n, CodePageOutput& out) {
  if (const DenseForward* dense = denseMultiByteForward(cp)) {
    return dense->asciiRuns ? denseMultiToUtf16<true>(*dense, p, n, out)
                            : denseMultiToUtf16<false>(*dense, p, n, out);
  }
  const HashConvert* table = multiByteForward(cp);
  if (table == nullptr) return false;
  bool ok = true;
  unsigned char* dst = out.reserve(static_cast<uint64_t>(n) * 2 + 4);
  auto put = [&dst](const unsigned char* v, uint32_t len) {
    for (uint32_t k = 0; k < len; ++k) *dst++ = v[k];
  };
  uint32_t i = 0;
  while (i < n) {
    uint32_t len = 0;
    const unsigned char* v = nullptr;
    // Longer keys first; a byte no longer key starts with cannot match one.
    if (i + 1 < n && table->isLeadByte(p[i])) {
      const uint32_t remaining = n - i;
      for (uint32_t k = 2; k <= 4 && k <= remaining; ++k) {
        v = table->lookup(p + i, k, &len);
        if (len > 0) {
          put(v, len);
          i += k;
          break;
        }
      }
      if (len > 0) continue;
    }
    const unsigned char b = p[i++];
    if (b == 0 || (table->asciiTransparent() && b < 0x80)) {
      *dst++ = b;
      *dst++ = 0;
      continue;
    }
    v = table->lookup(&b, 1, &len);
    if (len > 0)
      put(v, len);
    else
      ok = false;
  }
  out.commit(dst);
  return ok;
}

// Writes the code of one UTF-16 unit; false when the code page has none.
inline bool encodeDense(const DenseReverse& t, uint16_t u, unsigned char*& dst) {
  if (u == 0 || (t.asciiTransparent && u < 0x80)) {
    *dst++ = static_cast<unsigned char>(u);
    return true;
  }
  const unsigned char len = t.length[u];
  if (len == 0) return false;
  if (len == 2) *dst++ = static_cast<unsigned char>(t.code[u] >> 8);
  *dst++ = static_cast<unsigned char>(t.code[u]);
  return true;
}

// The units in n bytes of UTF-16LE at p in the code page at dst; a unit it has no code for
// is left out and clears `ok`. Returns the end.
unsigned char* unitsToDense(const DenseReverse& t, const unsigned char* p, uint32_t n,
                            unsigned char* dst, bool& ok) {
  for (uint32_t i = 0; i + 1 < n; i += 2)
    if (!encodeDense(t, static_cast<uint16_t>(p[i] | (p[i + 1] << 8)), dst)) ok = false;
  return dst;
}

bool utf16ToTable(int32_t cp, const unsigned char* p, uint32_t n, CodePageOutput& out) {
  if (n == 1) return false;
  if (const DenseReverse* dense = denseReverse(cp)) {
    bool ok = true;
    unsigned char* dst = out.reserve(n + 4);
    uint32_t i = 0;
    const bool runs = dense->asciiTransparent;
    for (; runs && i + 2 * kBlock <= n; i += 2 * kBlock) {
      if (asciiUnitBlock(p + i)) {
        narrowBlock(p + i, dst);
        dst += kBlock;
        continue;
      }
      // Mixed text: its quarters, any of which may still be all ASCII.
      for (uint32_t quarter = i; quarter < i + 2 * kBlock; quarter += 8) {
        if ((word(p + quarter) & 0xFF80FF80FF80FF80ULL) != 0) {
          dst = unitsToDense(*dense, p + quarter, 8, dst, ok);
          continue;
        }
        for (uint32_t k = 0; k < 4; ++k) dst[k] = p[quarter + 2 * k];
        dst += 4;
      }
    }
    out.commit(unitsToDense(*dense, p + i, n - i, dst, ok));
    return ok;
  }
  const HashConvert* table = reverseTable(cp);
  if (table == nullptr) return false;
  bool ok = true;
  const bool ascii = table->asciiTransparent();
  uint64_t room = n + 4;
  unsigned char* dst = out.reserve(room);
  unsigned char* limit = dst + room;
  for (uint32_t i = 0; i + 1 < n; i += 2) {
    const uint16_t u = static_cast<uint16_t>(p[i] | (p[i + 1] << 8));
    if (u == 0 || (ascii && u < 0x80)) {
      *dst++ = static_cast<unsigned char>(u);
      continue;
    }
    uint32_t len = 0;
    const unsigned char* v = table->lookup(p + i, 2, &len);
    if (len == 0) {
      ok = false;
      continue;
    }
    if (dst + len > limit) {  // only values longer than the unit get here
      out.commit(dst);
      room = (n - i) + len + 16;
      dst = out.reserve(room);
      limit = dst + room;
    }
    for (uint32_t k = 0; k < len; ++k) *dst++ = v[k];
  }
  out.commit(dst);
  return ok;
}

// n bytes of a single-byte page as UTF-8 at dst, which has room for 3n + 4 bytes; a byte the
// page does not map is left out and clears `ok`. Returns the end.
unsigned char* singleBytesToUtf8(const UnicodeLookup& table, const unsigned char* p, uint32_t n,
                                 unsigned char* dst, bool& ok) {
  for (uint32_t i = 0; i < n; ++i) {
    const size_t b = p[i];
    const unsigned char l = table.utf8Length[b];
    if (l == 0) {
      ok = false;
      continue;
    }
    std::memcpy(dst, table.utf8[b], 4);  // the room makes the over-copy safe
    dst += l;
  }
  return dst;
}

// A single-byte page straight to UTF-8: the same result as through UTF-16, in one pass.
bool singleToUtf8(int32_t cp, const unsigned char* p, uint32_t n, CodePageOutput& out) {
  const UnicodeLookup* table = singleByteForward(cp);
  if (table == nullptr) return false;
  bool ok = true;
  unsigned char* dst = out.reserve(static_cast<uint64_t>(n) * 3 + 4);
  uint32_t i = 0;
  const bool runs = table->asciiRuns;
  for (; runs && i + kBlock <= n; i += kBlock) {
    if (!asciiBlock(p + i)) {
      dst = singleBytesToUtf8(*table, p + i, kBlock, dst, ok);
      continue;
    }
    std::memcpy(dst, p + i, kBlock);
    dst += kBlock;
  }
  dst = singleBytesToUtf8(*table, p + i, n - i, dst, ok);
  out.commit(dst);
  return ok;
}

// UTF-8 straight to a table page; UTF-8 errors are skipped, unmapped characters reported.
bool utf8ToDense(const DenseReverse& t, const unsigned char* p, uint32_t n, CodePageOutput& out) {
  const EncodingUtf8& codec = EncodingUtf8::instance();
  bool ok = true;
  unsigned char* dst = out.reserve(static_cast<uint64_t>(n) + 4);
  ConvertState state{p, p + n};
  const bool runs = t.asciiTransparent;
  const unsigned char* look = p;  // where a block of ASCII is looked for next
  while (state.pos < state.end) {
    uint16_t unit = *state.pos;
    if (unit < 0x80) {
      if (runs && state.pos >= look && state.end - state.pos >= kBlock) {
        if (asciiBlock(state.pos)) {
          std::memcpy(dst, state.pos, kBlock);
          state.pos += kBlock;
          dst += kBlock;
          continue;
        }
        look = state.pos + kBlock;
      }
      ++state.pos;
    } else if (codec.decodeChar(state, &unit) != DecodeResult::kOk) {
      continue;
    }
    if (!encodeDense(t, unit, dst)) ok = false;
  }
  out.commit(dst);
  return ok;
}

}  // namespace

bool isConvertibleCodePage(int32_t cp) {
  return cp == CP_UTF16LE || cp == CP_UTF16BE || cp == kUtf7 || cp == CP_UTF8 || cp == kUtf32 ||
         cp == kUtf32Be || isIso2022Jp(cp) || cp == 50225 || isTablePage(cp);
}

bool EncodingConvert::convert(int32_t from, int32_t to, const unsigned char* bytes, uint32_t length,
                              DataBuffer& out) {
  DataBufferOutput sink(out);
  return convert(from, to, bytes, length, sink);
}

bool EncodingConvert::convert(int32_t from, int32_t to, const unsigned char* bytes, uint32_t length,
                              CodePageOutput& out) {
  if (bytes == nullptr || length == 0) return true;
  if (from == to) {
    out.append(bytes, length);
    return true;
  }
  if (isIso2022Jp(from)) {
    DataBuffer sjis;
    decodeIso2022Jp(bytes, length, sjis);
    return convert(kShiftJis, to, sjis.getData(), sjis.getSize(), out);
  }
  if (from == 50225) {
    DataBuffer korean;
    decodeIso2022Kr(bytes, length, korean);
    return convert(kKorean, to, korean.getData(), korean.getSize(), out);
  }
  if (from == kMacArabic) {
    DataBuffer logical;
    rewriteMacArabic(bytes, length, logical);
    return convertTo(from, to, logical.getData(), logical.getSize(), out);
  }
  return convertTo(from, to, bytes, length, out);
}

bool EncodingConvert::convertTo(int32_t from, int32_t to, const unsigned char* bytes,
                                uint32_t length, CodePageOutput& out) {
  // The stateful and 4-byte forms are encoded into a buffer of their own and copied out once.
  DataBuffer encoded;
  if (to == kUtf7) {
    DataBuffer units;
    if (!convert(from, CP_UTF16LE, bytes, length, units)) return false;
    encodeUtf7(units.getData(), units.getSize(), encoded);
    out.append(encoded.getData(), encoded.getSize());
    return true;
  }
  if (to == kUtf32 || to == kUtf32Be) {
    DataBuffer utf8;
    if (!convert(from, CP_UTF8, bytes, length, utf8)) return false;
    utf8ToUtf32(utf8.getData(), utf8.getSize(), to == kUtf32Be, encoded);
    out.append(encoded.getData(), encoded.getSize());
    return true;
  }
  if (to == CP_UTF16BE) {
    DataBuffer units;
    const bool ok = convert(from, CP_UTF16LE, bytes, length, units);
    appendSwapped16(units.getData(), units.getSize(), out);
    return ok;
  }
  if (isIso2022Jp(to)) {
    DataBuffer sjis;
    const bool ok = convert(from, kShiftJis, bytes, length, sjis);
    encodeIso2022Jp(sjis.getData(), sjis.getSize(), encoded);
    out.append(encoded.getData(), encoded.getSize());
    return ok;
  }
  if (to == 50225) {
    DataBuffer korean;
    const bool ok = convert(from, kKorean, bytes, length, korean);
    encodeIso2022Kr(korean.getData(), korean.getSize(), encoded);
    out.append(encoded.getData(), encoded.getSize());
    return ok;
  }
  return core(from, to, bytes, length, out);
}

bool EncodingConvert::core(int32_t from, int32_t to, const unsigned char* p, uint32_t n,
                           CodePageOutput& out) {
  fromCodePage_ = from;
  toCodePage_ = to;
  // Byte-order marks go; for UTF-16 the mark decides the byte order whatever was declared.
  if (from == CP_UTF8 && n >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) {
    p += 3;
    n -= 3;
  } else if ((from == CP_UTF16LE || from == CP_UTF16BE) && n >= 2) {
    if (p[0] == 0xFE && p[1] == 0xFF) {
      from = CP_UTF16BE;
      p += 2;
      n -= 2;
    } else if (p[0] == 0xFF && p[1] == 0xFE) {
      from = CP_UTF16LE;
      p += 2;
      n -= 2;
    }
  }
  if (n == 0) return true;

  DataBuffer normalised;
  const int32_t declared = from;
  if (from == CP_UTF16BE) {
    DataBufferOutput normalisedOut(normalised);
    appendSwapped16(p, n, normalisedOut);
    from = CP_UTF16LE;
  } else if (from == kUtf32Be || from == kUtf32) {
    if (n < 4) return true;
    if (from == kUtf32Be) {
      DataBuffer little;
      DataBufferOutput littleOut(little);
      appendSwapped32(p, n, littleOut);
      utf32ToUtf8(little.getData(), little.getSize(), normalised);
    } else {
      utf32ToUtf8(p, n, normalised);
    }
    from = CP_UTF8;
  } else if (from == kUtf7) {
    decodeUtf7(p, n, normalised);  // its report of stray bits does not make a loss
    from = CP_UTF16LE;
  }
  if (from != declared || declared == CP_UTF16BE) {
    p = normalised.getData();
    n = normalised.getSize();
    if (n == 0) return true;
  }
  return pivot(from, to, p, n, out);
}

bool EncodingConvert::pivot(int32_t from, int32_t to, const unsigned char* p, uint32_t n,
                            CodePageOutput& out) {
  if (from == to) {
    if (from == CP_UTF8) {
      utf8ToUtf8(p, n, out);
    } else {
      out.append(p, n);
    }
    return true;
  }
  if (from == CP_UTF16LE && to == CP_UTF8) {
    utf16ToUtf8(p, n, out);
    return true;
  }
  if (from == CP_UTF8 && to == CP_UTF16LE) {
    utf8ToUtf16(p, n, out);
    return true;
  }
  if (from == CP_UTF16LE && isTablePage(to)) return utf16ToTable(to, p, n, out);
  if (to == CP_UTF16LE && isSingleByteTablePage(from)) return singleToUtf16(from, p, n, out);
  if (to == CP_UTF16LE && isMultiByteTablePage(from)) return multiToUtf16(from, p, n, out);
  if (from == CP_UTF16LE || to == CP_UTF16LE || !isConvertibleCodePage(from) ||
      !isConvertibleCodePage(to))
    return false;
  if (to == CP_UTF8 && isSingleByteTablePage(from)) return singleToUtf8(from, p, n, out);
  if (from == CP_UTF8 && isTablePage(to)) {
    if (const DenseReverse* dense = denseReverse(to)) return utf8ToDense(*dense, p, n, out);
  }

  DataBuffer units;
  DataBufferOutput unitsOut(units);
  firstHalf_ = true;
  const bool firstOk = pivot(from, CP_UTF16LE, p, n, unitsOut);
  firstHalf_ = false;
  secondHalf_ = true;
  const bool secondOk = pivot(CP_UTF16LE, to, units.getData(), units.getSize(), out);
  secondHalf_ = false;
  return firstOk && secondOk;
}

bool EncodingConvert::convertFromAnsi(int32_t toCodePage, const unsigned char* bytes,
                                      uint32_t length, DataBuffer& out) {
  return convert(static_cast<int32_t>(GetACP()), toCodePage, bytes, length, out);
}

bool EncodingConvert::convertToAnsi(int32_t fromCodePage, const unsigned char* bytes,
                                    uint32_t length, DataBuffer& out) {
  return convert(fromCodePage, static_cast<int32_t>(GetACP()), bytes, length, out);
}

bool convertByName(const char* fromName, const char* toName, const unsigned char* bytes,
                   uint32_t length, DataBuffer& out) {
  const int32_t from = codePageFromName(fromName);
  const int32_t to = codePageFromName(toName);
  if (from == 0 || to == 0) return false;
  EncodingConvert engine;
  return engine.convert(from, to, bytes, length, out);
}

bool convertWithEngine(UINT fromCp, UINT toCp, const void* bytes, size_t n, CodePageOutput& out) {
  EncodingConvert engine;
  return engine.convert(static_cast<int32_t>(fromCp), static_cast<int32_t>(toCp),
                        static_cast<const unsigned char*>(bytes), static_cast<uint32_t>(n), out);
}
