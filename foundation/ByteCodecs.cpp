#include "foundation/ByteCodecs.h"

#include <algorithm>
#include <array>
#include <cstring>

// SSE2, which every x86-64 machine has, checks 16 bytes at once where the codecs pass over text
// as it stands; elsewhere, or built with VORLUND_NO_SIMD defined (so the portable code can be
// tried on x86-64 too), the same checks go a byte or a word at a time.
#if defined(__SSE2__) && !defined(VORLUND_NO_SIMD)
#define VORLUND_SSE2 1
#include <emmintrin.h>
#endif

#include "foundation/DataBuffer.h"
#include "foundation/Fatal.h"
#include "foundation/Memory.h"
#include "foundation/StringBuffer.h"

namespace {

constexpr const char* kBase64 = kBase64Alphabet;
constexpr char kHex[] = "0123456789ABCDEF";

// Decoding values of the bytes "+" to "z"; the 16 bytes of that range outside the alphabet
// give 127, which is packed like any other value.
constexpr unsigned char kFirstBase64Byte = '+';
constexpr unsigned char kLastBase64Byte = 'z';
constexpr unsigned char kPlusValue = 62;
constexpr std::array<unsigned char, 80> kBase64Values = [] {
  std::array<unsigned char, 80> t{};
  for (auto& v : t) v = 127;
  for (unsigned char i = 0; i < 64; ++i)
    t[static_cast<unsigned char>(kBase64[i]) - kFirstBase64Byte] = i;
  return t;
}();

// Quoted-printable input is encoded in slices, so the room reserved for the worst case
// (3 characters per byte plus a soft break after it) stays small for large bodies.
constexpr uint32_t kQpSlice = 8192;
constexpr uint32_t kQpWorstPerByte = 6;
// Beyond that, room for the widest store of bytes that are then left behind.
constexpr uint32_t kQpSliceSlack = 64;
constexpr uint32_t kQpDecodeStartRoom = 3000;
// Quoted-printable text found to be as the encoder writes it is copied in runs of lines about
// this long, each while the scan has just read it.
constexpr uint32_t kQpCopyRun = 16384;

inline char* writeHex(char* d, unsigned char c) {
  d[0] = '=';
  d[1] = kHex[c >> 4];
  d[2] = kHex[c & 0x0F];
  return d + 3;
}

// The two alphabet characters of every 12-bit value, so three bytes are two lookups.
constexpr std::array<uint16_t, 4096> kBase64Pairs = [] {
  std::array<uint16_t, 4096> t{};
  for (uint32_t v = 0; v < 4096; ++v)  // first character in the low byte: memory order
    t[v] = static_cast<uint16_t>(static_cast<unsigned char>(kBase64[v >> 6]) |
                                 static_cast<unsigned char>(kBase64[v & 0x3F]) << 8);
  return t;
}();

// Three bytes into four characters.
inline char* writeGroup(char* d, const unsigned char* p) {
  const uint32_t v = static_cast<uint32_t>(p[0]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[2];
  std::memcpy(d, &kBase64Pairs[v >> 12], 2);
  std::memcpy(d + 2, &kBase64Pairs[v & 0xFFF], 2);
  return d + 4;
}

// `groups` groups of three bytes, two at a time from one 8-byte load while at least 8 bytes
// of input are left to read.
inline char* writeGroups(char* d, const unsigned char* p, uint32_t groups,
                         const unsigned char* end) {
  for (; groups >= 2 && end - p >= 8; groups -= 2, p += 6, d += 8) {
    uint64_t w;
    std::memcpy(&w, p, 8);
    w = __builtin_bswap64(w);
    const uint16_t c[4] = {kBase64Pairs[w >> 52], kBase64Pairs[(w >> 40) & 0xFFF],
                           kBase64Pairs[(w >> 28) & 0xFFF], kBase64Pairs[(w >> 16) & 0xFFF]};
    std::memcpy(d, c, 8);
  }
  for (; groups > 0; --groups, p += 3) d = writeGroup(d, p);
  return d;
}

// The last one or two bytes, with "=" fill.
inline char* writeTail(char* d, const unsigned char* p, uint32_t left) {
  d[0] = kBase64[p[0] >> 2];
  if (left == 1) {
    d[1] = kBase64[(p[0] & 0x03) << 4];
    d[2] = '=';
  } else {
    d[1] = kBase64[((p[0] & 0x03) << 4) | (p[1] >> 4)];
    d[2] = kBase64[(p[1] & 0x0F) << 2];
  }
  d[3] = '=';
  return d + 4;
}

inline uint64_t base64OneLineSize(uint32_t n) { return (static_cast<uint64_t>(n) + 2) / 3 * 4; }

// Writes the one-line base64 of n bytes at d; returns the end.
char* writeBase64(char* d, const unsigned char* p, uint32_t n) {
  d = writeGroups(d, p, n / 3, p + n);
  const uint32_t i = n / 3 * 3;
  if (i < n) d = writeTail(d, p + i, n - i);
  return d;
}

// Room for `need` more bytes behind the contents, growing by at least doubling so byte-wise
// producers stay linear; returns where to write.
unsigned char* roomFor(DataBuffer& out, uint32_t need, uint32_t minimum) {
  const uint64_t wanted = static_cast<uint64_t>(out.getSize()) + need;
  if (wanted > out.capacity()) {
    uint64_t grown = static_cast<uint64_t>(out.capacity()) * 2;
    if (grown < wanted) grown = wanted;
    if (grown < minimum) grown = minimum;
    if (grown > 0xFFFFFFF0ULL) grown = wanted;
    if (grown > 0xFFFFFFF0ULL) fatalError("DataBuffer larger than 4 GB");
    out.ensureCapacity(static_cast<uint32_t>(grown));
  }
  return out.getData() + out.getSize();
}

// The value of every alphabet byte, 0xFF for every other byte: the fast path takes four
// alphabet bytes at once and leaves everything else to the byte-wise rules.
constexpr std::array<unsigned char, 256> kAlphabetValues = [] {
  std::array<unsigned char, 256> t{};
  for (auto& v : t) v = 0xFF;
  for (unsigned char i = 0; i < 64; ++i) t[static_cast<unsigned char>(kBase64[i])] = i;
  return t;
}();

#if defined(VORLUND_SSE2)
// All ones in the lanes of v that hold alphabet bytes. A letter is a byte whose lower-case form
// (bit 5 set) is "a".."z", a digit is "0".."9", and "+" and "/" are the two bytes that give "/"
// with bit 2 set; each range test is one signed compare after moving the range to the bottom
// of the signed bytes.
inline __m128i alphabetLanes(__m128i v) {
  const __m128i letter = _mm_cmplt_epi8(_mm_add_epi8(_mm_or_si128(v, _mm_set1_epi8(0x20)),
                                                     _mm_set1_epi8(static_cast<char>(0x80 - 'a'))),
                                        _mm_set1_epi8(static_cast<char>(-0x80 + 26)));
  const __m128i digit =
      _mm_cmplt_epi8(_mm_add_epi8(v, _mm_set1_epi8(static_cast<char>(0x80 - '0'))),
                     _mm_set1_epi8(static_cast<char>(-0x80 + 10)));
  const __m128i sign = _mm_cmpeq_epi8(_mm_or_si128(v, _mm_set1_epi8(0x04)), _mm_set1_epi8('/'));
  return _mm_or_si128(_mm_or_si128(letter, digit), sign);
}
#endif

// How many bytes from p on are alphabet bytes, p short of `end`.
inline uint32_t alphabetRun(const unsigned char* p, const unsigned char* end) {
  const unsigned char* q = p;
#if defined(VORLUND_SSE2)
  for (; end - q >= 16; q += 16) {
    const auto ok = static_cast<uint32_t>(
        _mm_movemask_epi8(alphabetLanes(_mm_loadu_si128(reinterpret_cast<const __m128i*>(q)))));
    if (ok != 0xFFFF) return static_cast<uint32_t>(q - p) + __builtin_ctz(~ok);
  }
#else
  for (; end - q >= 8; q += 8) {
    if ((kAlphabetValues[q[0]] | kAlphabetValues[q[1]] | kAlphabetValues[q[2]] |
         kAlphabetValues[q[3]] | kAlphabetValues[q[4]] | kAlphabetValues[q[5]] |
         kAlphabetValues[q[6]] | kAlphabetValues[q[7]]) > 63)
      break;
  }
#endif
  while (q < end && kAlphabetValues[*q] < 64) ++q;
  return static_cast<uint32_t>(q - p);
}

// Whether the `len` bytes at p (at least 16) are all alphabet bytes, with one branch at the end.
inline bool allAlphabet(const unsigned char* p, uint32_t len) {
#if defined(VORLUND_SSE2)
  __m128i ok = _mm_set1_epi8(-1);
  uint32_t i = 0;
  for (; i + 16 <= len; i += 16)
    ok = _mm_and_si128(ok, alphabetLanes(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i))));
  if (i < len)  // the last bytes, overlapping some already checked
    ok = _mm_and_si128(
        ok, alphabetLanes(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + len - 16))));
  return _mm_movemask_epi8(ok) == 0xFFFF;
#else
  unsigned char values = 0;
  for (uint32_t i = 0; i < len; ++i) values |= kAlphabetValues[p[i]];
  return values < 64;
#endif
}

inline bool isBase64Blank(unsigned char c) {
  return c == '\t' || c == '\n' || c == '\r' || c == ' ';
}

bool decodeBase64Impl(const char* text, uint32_t n, DataBuffer& out, bool strict) {
  if (text == nullptr || n == 0) return true;
  const uint32_t before = out.getSize();
  unsigned char* const start = roomFor(out, n / 4 * 3 + (n % 4) * 3 / 4 + 4, 0);  // 3n/4 + 4
  unsigned char* d = start;
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  uint32_t acc = 0;  // only the low bits that are still pending matter; the rest wraps
  int bits = 0;
  for (uint32_t i = 0; i < n; ++i) {
    if (bits == 0) {
      while (i + 4 <= n) {
        const uint32_t a = kAlphabetValues[p[i]], b = kAlphabetValues[p[i + 1]],
                       c = kAlphabetValues[p[i + 2]], e = kAlphabetValues[p[i + 3]];
        if ((a | b | c | e) & 0x80) break;
        const uint32_t group = (a << 18) | (b << 12) | (c << 6) | e;
        d[0] = static_cast<unsigned char>(group >> 16);
        d[1] = static_cast<unsigned char>(group >> 8);
        d[2] = static_cast<unsigned char>(group);
        d += 3;
        i += 4;
      }
      if (i >= n) break;
    }
    const unsigned char c = p[i];
    if (c == '=' || c == 0) break;
    if (isBase64Blank(c)) continue;
    unsigned char v;
    if (c < kFirstBase64Byte || c > kLastBase64Byte) {
      if (strict) return false;  // nothing committed: the size is still `before`
      v = kPlusValue;
    } else {
      v = kBase64Values[c - kFirstBase64Byte];
    }
    acc = (acc << 6) | v;
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      *d++ = static_cast<unsigned char>(acc >> bits);
    }
  }
  out.setSize(before + static_cast<uint32_t>(d - start));
  return true;
}

inline int hexValue(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

inline int upperHexValue(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

constexpr bool isQpLiteral(unsigned char c) {
  return (c >= 33 && c <= 60) || (c >= 62 && c <= 126);
}

inline bool isQLiteral(unsigned char c) {
  return (c >= 33 && c <= 60) || c == 62 || (c >= 64 && c <= 94) || (c >= 96 && c <= 126);
}

// "=FFFFFFxx" with the first two Fs in either case and the other four in upper case, and
// xx two hex digits; `q` points at the "=" and has at least 9 bytes.
inline bool isSignExtendedEscape(const unsigned char* q) {
  auto f = [](unsigned char c) { return (c & 0x7F) == 'F' || (c & 0x7F) == 'f'; };
  if (!f(q[1]) || !f(q[2])) return false;
  for (int k = 3; k <= 6; ++k)
    if ((q[k] & 0x7F) != 'F') return false;
  return hexValue(q[7] & 0x7F) >= 0 && hexValue(q[8] & 0x7F) >= 0;
}

// The byte of the escape at q ("=" and two upper-case hex digits) when the decoder reads it as
// exactly that; false for a broken or lower-case escape and for the "=FFFFFFxx" form, which
// the decoder reads as the one byte xx.
inline bool exactEscapeAt(const unsigned char* q, const unsigned char* end, unsigned char* b) {
  if (end - q < 3 || upperHexValue(q[1]) < 0 || upperHexValue(q[2]) < 0) return false;
  if (q[1] == 'F' && q[2] == 'F' && end - q >= 9 && isSignExtendedEscape(q)) return false;
  *b = static_cast<unsigned char>(upperHexValue(q[1]) * 16 + upperHexValue(q[2]));
  return true;
}

// The first `want` bytes (at most 4) that the text from `q` decodes to, soft breaks skipped,
// into `b`; returns how many there are, fewer at the end of the text or at a token the encoder
// would not write (the scan refuses that token once it reaches it, so for accepted text the
// bytes are exact).
uint32_t peekQpBytes(const unsigned char* q, const unsigned char* end, unsigned char* b,
                     uint32_t want) {
  uint32_t k = 0;
  while (k < want && q < end) {
    if (*q != '=') {
      b[k++] = *q++;
    } else if (end - q >= 3 && q[1] == '\r' && q[2] == '\n') {
      q += 3;
    } else if (end - q >= 3 && upperHexValue(q[1]) >= 0 && upperHexValue(q[2]) >= 0) {
      b[k++] = static_cast<unsigned char>(upperHexValue(q[1]) * 16 + upperHexValue(q[2]));
      q += 3;
    } else {
      break;
    }
  }
  return k;
}

inline bool crlfFollows(const unsigned char* q, const unsigned char* end) {
  unsigned char b[2];
  return peekQpBytes(q, end, b, 2) == 2 && b[0] == '\r' && b[1] == '\n';
}

// Whether encodeQuotedPrintable writes byte c as an escape at `column`, the bytes after it
// decoded from `next` on: the encoder's rules but for line ends and soft breaks.
inline bool qpEscapes(unsigned char c, uint32_t column, const unsigned char* next,
                      const unsigned char* end) {
  if (c == '.') return column == 0;
  if (c == 'F') {
    unsigned char b[4];
    return column == 0 && peekQpBytes(next, end, b, 4) == 4 && std::memcmp(b, "rom ", 4) == 0;
  }
  if (isQpLiteral(c)) return false;
  if (c != ' ' && c != '\t' && c != '\r') return true;
  unsigned char b[2];
  const uint32_t k = peekQpBytes(next, end, b, 2);
  if (c == '\r') return k == 0 || b[0] != '\n';
  return k == 0 || (k == 2 && b[0] == '\r' && b[1] == '\n');
}

// A blank at p (short of `end`) is written literally when what follows starts neither a line
// end nor a soft break: a literal byte, an escape (one of CR would be refused where the scan
// finds LF after it), or a byte the scan refuses on reaching it.
inline bool blankStaysLiteral(const unsigned char* p, const unsigned char* end) {
  return end - p > 2 && p[1] != '\r' && (p[1] != '=' || p[2] != '\r');
}

// The upper-case hex digits' values, 0xFF for every other byte.
constexpr std::array<unsigned char, 256> kUpperHexValues = [] {
  std::array<unsigned char, 256> t{};
  for (auto& v : t) v = 0xFF;
  for (unsigned char i = 0; i < 16; ++i) t[static_cast<unsigned char>(kHex[i])] = i;
  return t;
}();

// How many of the eight bytes at p come before the first that is not literal wherever it
// stands in a line ("!" to "~" but "=", and the space). The bytes are read as one word with the
// first in its low byte; a borrow of the tests only reaches bytes after the first that fails.
inline uint32_t plainQpBytes(const unsigned char* p) {
  constexpr uint64_t kOnes = 0x0101010101010101ULL;
  constexpr uint64_t kHigh = 0x8080808080808080ULL;
  uint64_t w;
  std::memcpy(&w, p, 8);
  const uint64_t del = w ^ (kOnes * 0x7F);
  const uint64_t eq = w ^ (kOnes * '=');
  const uint64_t below = (w - kOnes * ' ') & ~w;
  const uint64_t stops = (w | below | ((del - kOnes) & ~del) | ((eq - kOnes) & ~eq)) & kHigh;
  return stops == 0 ? 8 : static_cast<uint32_t>(__builtin_ctzll(stops)) / 8;
}

// The bytes whose escape the encoder writes wherever they stand: all but the literal bytes,
// the blanks and CR (whose escapes depend on what follows).
constexpr std::array<bool, 256> kQpAlwaysEscaped = [] {
  std::array<bool, 256> t{};
  for (unsigned c = 0; c < 256; ++c)
    t[c] = !isQpLiteral(static_cast<unsigned char>(c)) && c != ' ' && c != '\t' && c != '\r';
  return t;
}();

// Every byte marked: the table of a caller that gave none.
constexpr std::array<bool, 256> kAllMarked = [] {
  std::array<bool, 256> t{};
  for (auto& v : t) v = true;
  return t;
}();

// The bytes verbatimQpRun may read from where it starts.
constexpr uint32_t kVerbatimQpRead = 80;

// Of the 16 bytes at p (the text goes on for two more), in bit i for p[i]: in *eqs the "="s,
// and in the result those that end a run of what the encoder writes as it stands: the bytes
// that are not literal wherever they stand ("!" to "~" but "=", and the space), but "=" where
// it starts an escape of 0x80 to 0xFE, which the encoder always escapes (0xFF aside, whose
// escape may start the sign-extended form; the escapes of other bytes take the rules one by
// one). Where `suspects` is given, it gets those escapes whose first digit is in
// `suspectDigits`, a range of the characters from "8" to "F".
struct QpDigitRange {
  char first;
  char last;
};
inline uint32_t qpStops16(const unsigned char* p, QpDigitRange suspectDigits, uint32_t* eqs,
                          uint32_t* suspects) {
#if defined(VORLUND_SSE2)
  auto bytes = [](char c) { return _mm_set1_epi8(c); };
  auto is = [](__m128i v, char c) { return _mm_cmpeq_epi8(v, _mm_set1_epi8(c)); };
  // Whether each byte is first..first+count-1: the range moved to the bottom of the signed bytes.
  auto in = [](__m128i v, char first, int count) {
    return _mm_cmplt_epi8(_mm_add_epi8(v, _mm_set1_epi8(static_cast<char>(0x80 - first))),
                          _mm_set1_epi8(static_cast<char>(-0x80 + count)));
  };
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i eq = is(v, '=');
  *eqs = static_cast<uint32_t>(_mm_movemask_epi8(eq));
  // Controls and the bytes from 0x80 on are the ones below the space as signed bytes.
  __m128i stops = _mm_or_si128(_mm_cmplt_epi8(v, bytes(' ')), is(v, 0x7F));
  if (*eqs != 0) {
    // The two bytes after each byte: an escape's digits where that byte is "=". The escapes
    // taken here are those of 0x80 to 0xFE, which most text has most of.
    const __m128i h = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1));
    const __m128i l = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 2));
    const __m128i high = _mm_or_si128(in(h, '8', 2), in(h, 'A', 6));
    const __m128i digit = _mm_or_si128(in(l, '0', 10), in(l, 'A', 6));
    const __m128i ff = _mm_and_si128(is(h, 'F'), is(l, 'F'));
    const __m128i escape = _mm_andnot_si128(ff, _mm_and_si128(high, digit));
    stops = _mm_or_si128(stops, _mm_andnot_si128(escape, eq));
    if (suspects != nullptr) {
      const __m128i named =
          in(h, suspectDigits.first, suspectDigits.last - suspectDigits.first + 1);
      *suspects =
          static_cast<uint32_t>(_mm_movemask_epi8(_mm_and_si128(_mm_and_si128(named, escape), eq)));
    }
  }
  return static_cast<uint32_t>(_mm_movemask_epi8(stops));
#else
  uint32_t s = 0, e = 0, named = 0;
  for (uint32_t i = 0; i < 16; ++i) {
    const unsigned char c = p[i];
    bool stop = c < ' ' || c >= 0x7F;
    if (c == '=') {
      e |= 1u << i;
      const unsigned hi = kUpperHexValues[p[i + 1]], lo = kUpperHexValues[p[i + 2]];
      stop = (hi | lo) > 0x0F || hi < 8 || (hi & lo) == 0x0F;
      if (!stop && p[i + 1] >= suspectDigits.first && p[i + 1] <= suspectDigits.last)
        named |= 1u << i;
    }
    s |= static_cast<uint32_t>(stop) << i;
  }
  *eqs = e;
  if (suspects != nullptr) *suspects = named;
  return s;
#endif
}

// How many bytes from p on encodeQuotedPrintable writes as they stand inside a line (past its
// start), all of them before its last column, which is `left` bytes ahead: literal bytes,
// blanks before a literal byte or an escape of anything but CR, and escapes of 0x80 to 0xFE
// that `marked` marks (read only with kSomeUnmarked, for the escapes whose first digit is in
// `unmarkedDigits`). At most 64 bytes; the text goes on for kVerbatimQpRead bytes from p.
template <bool kSomeUnmarked>
inline uint32_t verbatimQpRun(const unsigned char* p, uint32_t left, const bool* marked,
                              QpDigitRange unmarkedDigits) {
  const uint32_t most = left < 64 ? left : 64;
  uint32_t m = most;
  uint64_t eqs = 0;
  for (uint32_t o = 0; o < most; o += 16) {
    uint32_t eq = 0, suspects = 0;
    uint32_t stops = qpStops16(p + o, unmarkedDigits, &eq, kSomeUnmarked ? &suspects : nullptr);
    if (kSomeUnmarked) {
      for (; suspects != 0; suspects &= suspects - 1) {
        const uint32_t i = o + static_cast<uint32_t>(__builtin_ctz(suspects));
        if (!marked[kUpperHexValues[p[i + 1]] << 4 | kUpperHexValues[p[i + 2]]])
          stops |= 1u << (i - o);
      }
    }
    eqs |= static_cast<uint64_t>(eq) << o;
    if (stops != 0) {
      const uint32_t at = o + static_cast<uint32_t>(__builtin_ctz(stops));
      if (at < m) m = at;
      break;
    }
  }
  // An escape across the end is left to the rules that break the line after it. (Where the run
  // ends at a byte that stops it, that byte is no escape's digit.)
  if (m >= 1 && (eqs >> (m - 1) & 1) != 0)
    m -= 1;
  else if (m >= 2 && (eqs >> (m - 2) & 1) != 0)
    m -= 2;
  // A trailing blank only before a literal byte or an escape of anything but CR.
  if (m > 0 && p[m - 1] == ' ' && !isQpLiteral(p[m]) &&
      !(p[m] == '=' && (kUpperHexValues[p[m + 1]] | kUpperHexValues[p[m + 2]]) <= 0x0F &&
        !(p[m + 1] == '0' && p[m + 2] == 'D')))
    --m;
  return m;
}

// Passes over what is written so wherever it stands inside a line short of its last column:
// literal bytes (a word at a time where it can; a blank when no line end or soft break follows)
// and escapes of bytes the encoder always escapes. Stops at anything that needs the full
// rules, which the caller applies; p stays short of `end`.
const unsigned char* skipPlainQp(const unsigned char* p, const unsigned char* end, uint32_t limit,
                                 const bool* escapable, uint32_t* column) {
  uint32_t col = *column;
  for (;;) {
    if (*p == '=') {
      if (col + 3 >= limit || end - p <= 3 || (p[1] == 'F' && p[2] == 'F')) break;
      const unsigned hi = kUpperHexValues[p[1]], lo = kUpperHexValues[p[2]];
      if ((hi | lo) > 0x0F) break;
      const auto b = static_cast<unsigned char>(hi << 4 | lo);
      if (isQpLiteral(b) || b == ' ' || b == '\t' || b == '\r' ||
          (escapable != nullptr && !escapable[b]))
        break;
      p += 3;
      col += 3;
      continue;
    }
    if (col + 8 < limit && end - p > 8) {
      uint32_t k = plainQpBytes(p);
      if (k > 0 && p[k - 1] == ' ' && !blankStaysLiteral(p + k - 1, end)) --k;
      if (k > 0) {
        p += k;
        col += k;
        continue;
      }
    }
    if (col + 1 < limit && end - p > 1 &&
        (isQpLiteral(*p) || ((*p == ' ' || *p == '\t') && blankStaysLiteral(p, end)))) {
      ++p;
      ++col;
      continue;
    }
    break;
  }
  *column = col;
  return p;
}

// One line of quoted-printable text (trailing blanks and line end already cut off) into d.
// Returns the end; *softBreak tells whether the line ended with a lone "=".
unsigned char* decodeQpLine(const unsigned char* p, uint32_t len, unsigned char* d,
                            bool* softBreak) {
  *softBreak = false;
  auto digit = [&](uint32_t j) {
    if (j >= len) return 0;  // missing at the line end: counts like a line-end byte, as 0
    const int v = hexValue(p[j] & 0x7F);
    return v < 0 ? 0 : v;
  };
  constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7FULL;
  constexpr uint64_t kOnes = 0x0101010101010101ULL;
  constexpr uint64_t kHigh = 0x8080808080808080ULL;
  for (uint32_t j = 0; j < len;) {
    // Eight bytes without an "=" (the high bit dropped) go out in one store.
    if (len - j >= 8) {
      uint64_t w;
      std::memcpy(&w, p + j, 8);
      w &= kLow7;
      const uint64_t eq = w ^ (kOnes * '=');
      if (((eq - kOnes) & ~eq & kHigh) == 0) {
        std::memcpy(d, &w, 8);
        d += 8;
        j += 8;
        continue;
      }
    }
    const unsigned char c = p[j] & 0x7F;
    if (c != '=') {
      *d++ = c;
      ++j;
      continue;
    }
    if (j + 1 == len) {
      *softBreak = true;
      break;
    }
    if (j + 9 <= len && isSignExtendedEscape(p + j)) {
      *d++ = static_cast<unsigned char>(digit(j + 7) * 16 + digit(j + 8));
      j += 9;
      continue;
    }
    *d++ = static_cast<unsigned char>(digit(j + 1) * 16 + digit(j + 2));
    j += 3;
  }
  return d;
}

}  // namespace

void encodeBase64Lines(const void* bytes, uint32_t n, int32_t lineLength, StringBuffer& out) {
  if (bytes == nullptr || n == 0) return;
  const auto* p = static_cast<const unsigned char*>(bytes);
  const uint64_t v = (5 * static_cast<uint64_t>(n) + 10) / 3;
  const uint64_t room = (lineLength > 0 ? 2 * v / static_cast<uint64_t>(lineLength) : 0) + v + 3;
  if (room > 0x7FFFFFF0ULL) fatalError("base64 text larger than 2 GB");
  char* const start = out.appendPointer(static_cast<uint32_t>(room));
  char* d = start;
  // A line holds the groups that reach lineLength characters; a line that is full gets its
  // line end even when it is the last.
  const uint32_t perLine = lineLength > 0 ? (static_cast<uint32_t>(lineLength) + 3) / 4 : n / 3 + 1;
  uint32_t i = 0;
  for (uint32_t left = n / 3; left > 0;) {
    const uint32_t g = left < perLine ? left : perLine;
    d = writeGroups(d, p + i, g, p + n);
    i += 3 * g;
    left -= g;
    if (g == perLine) {
      *d++ = '\r';
      *d++ = '\n';
    }
  }
  if (i < n) d = writeTail(d, p + i, n - i);
  *d++ = '\r';
  *d++ = '\n';
  if (static_cast<uint64_t>(d - start) > room) fatalError("base64 lines overran their room");
  out.addLength(static_cast<uint32_t>(d - start));
}

bool rewrapBase64Lines(const char* text, uint32_t n, int32_t lineLength, StringBuffer& out) {
  if (text == nullptr || n == 0 || lineLength <= 0) return false;
  const uint32_t perLine = (static_cast<uint32_t>(lineLength) + 3) / 4;
  const int64_t lineChars = 4 * static_cast<int64_t>(perLine);
  const uint64_t room = static_cast<uint64_t>(n) + 2 * (n / (4 * perLine) + 2);
  if (room > 0x7FFFFFF0ULL) return false;
  char* const start = out.appendPointer(static_cast<uint32_t>(room));
  char* d = start;
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  const unsigned char* const end = p + n;
  uint32_t onLine = 0;
  bool padded = false;
  bool any = false;
  unsigned char g[4];
  int k = 0;
  while (p < end) {
    // Whole groups of four alphabet characters, the usual case, go out as they stand: the run
    // of alphabet bytes is found at once, its groups copied up to each line end at once, and
    // the text's own line ends after it passed over.
    if (k == 0 && !padded) {
      if (onLine == 0 && end - p >= lineChars + 2 && p[lineChars] == '\r' &&
          p[lineChars + 1] == '\n' && lineChars >= 16 && allAlphabet(p, lineChars)) {
        // A whole line of the writer's length as the text has it, and its line end.
        std::memcpy(d, p, lineChars + 2);
        d += lineChars + 2;
        p += lineChars + 2;
        any = true;
        continue;
      }
      uint32_t groups = alphabetRun(p, end) / 4;
      if (groups > 0) {
        any = true;
        do {
          const uint32_t take = groups < perLine - onLine ? groups : perLine - onLine;
          std::memcpy(d, p, 4 * take);
          d += 4 * take;
          p += 4 * take;
          groups -= take;
          onLine += take;
          if (onLine == perLine) {
            *d++ = '\r';
            *d++ = '\n';
            onLine = 0;
          }
        } while (groups > 0);
        while (p < end && (*p == '\r' || *p == '\n')) ++p;
        continue;
      }
    }
    const unsigned char c = *p++;
    if (c == '\r' || c == '\n') continue;
    if (padded) return false;  // nothing follows the padded group
    g[k++] = c;
    if (k < 4) continue;
    k = 0;
    const unsigned a = kAlphabetValues[g[0]], b = kAlphabetValues[g[1]], e = kAlphabetValues[g[2]],
                   f = kAlphabetValues[g[3]];
    if ((a | b) > 63) return false;
    if (g[3] == '=') {
      // The encoder pads one byte as "xy==" and two as "xyz=", the unused bits zero.
      padded = true;
      if (g[2] == '=' ? (b & 0x0F) != 0 : e > 63 || (e & 0x03) != 0) return false;
    } else if ((e | f) > 63) {
      return false;
    }
    std::memcpy(d, g, 4);
    d += 4;
    any = true;
    if (!padded && ++onLine == perLine) {
      *d++ = '\r';
      *d++ = '\n';
      onLine = 0;
    }
  }
  if (k != 0 || !any) return false;
  *d++ = '\r';
  *d++ = '\n';
  if (static_cast<uint64_t>(d - start) > room) fatalError("base64 lines overran their room");
  out.addLength(static_cast<uint32_t>(d - start));
  return true;
}

void encodeBase64(const void* bytes, uint32_t n, StringBuffer& out) {
  if (bytes == nullptr || n == 0) return;
  const uint64_t size = base64OneLineSize(n);
  if (size > 0x7FFFFFF0ULL) fatalError("base64 text larger than 2 GB");
  char* const start = out.appendPointer(static_cast<uint32_t>(size));
  char* d = writeBase64(start, static_cast<const unsigned char*>(bytes), n);
  out.addLength(static_cast<uint32_t>(d - start));
}

char* encodeBase64(const void* bytes, uint32_t n, uint32_t* length) {
  if (bytes == nullptr) n = 0;
  const uint64_t size = base64OneLineSize(n);
  if (size > 0xFFFFFFF0ULL) fatalError("base64 text larger than 4 GB");
  auto* block = static_cast<char*>(vorlundAlloc(static_cast<size_t>(size) + 1));
  char* d = writeBase64(block, static_cast<const unsigned char*>(bytes), n);
  *d = '\0';
  if (length != nullptr) *length = static_cast<uint32_t>(d - block);
  return block;
}

bool decodeBase64Strict(const char* text, uint32_t n, DataBuffer& out) {
  return decodeBase64Impl(text, n, out, true);
}

void decodeBase64(const char* text, uint32_t n, DataBuffer& out) {
  decodeBase64Impl(text, n, out, false);
}

void encodeQuotedPrintable(const void* bytes, uint32_t n, int32_t lineLength, StringBuffer& out) {
  if (bytes == nullptr || n == 0) return;
  const auto* p = static_cast<const unsigned char*>(bytes);
  const int32_t limit = lineLength < 1 ? 1 : lineLength;
  auto crlfAt = [&](uint32_t j) { return j + 1 < n && p[j] == '\r' && p[j + 1] == '\n'; };
  int32_t column = 0;
  uint32_t i = 0;
  while (i < n) {
    const uint32_t sliceEnd = n - i > kQpSlice ? i + kQpSlice : n;
    char* const start = out.appendPointer((sliceEnd - i) * kQpWorstPerByte + 3);
    char* d = start;
    while (i < sliceEnd) {
      if (column > 0 && static_cast<uint32_t>(column) + 8 < static_cast<uint32_t>(limit) &&
          sliceEnd - i > 8) {
        // Up to eight bytes at once that are literal here, short of the line's last column; a
        // trailing blank waits for what follows it.
        uint32_t k = plainQpBytes(p + i);
        if (k > 0 && p[i + k - 1] == ' ') --k;
        if (k > 0) {
          std::memcpy(d, p + i, 8);
          d += k;
          i += k;
          column += static_cast<int32_t>(k);
          continue;
        }
      }
      const unsigned char c = p[i];
      if (crlfAt(i)) {
        *d++ = '\r';
        *d++ = '\n';
        column = 0;
        i += 2;
        continue;
      }
      if (column > 0 && column + 1 < limit && isQpLiteral(c)) {
        // A run of literal bytes that stops short of the line's last column needs neither
        // the line-start nor the line-length checks.
        const uint32_t runEnd = sliceEnd - i < static_cast<uint32_t>(limit - 1 - column)
                                    ? sliceEnd
                                    : i + static_cast<uint32_t>(limit - 1 - column);
        do {
          *d++ = static_cast<char>(p[i++]);
          ++column;
        } while (i < runEnd && isQpLiteral(p[i]));
        continue;
      }
      if (column == 0 &&
          (c == '.' || (c == 'F' && i + 4 < n && std::memcmp(p + i + 1, "rom ", 4) == 0))) {
        d = writeHex(d, c);
        column = 3;
      } else if (isQpLiteral(c)) {
        *d++ = static_cast<char>(c);
        ++column;
      } else if ((c == ' ' || c == '\t') && i + 1 < n && !crlfAt(i + 1)) {
        *d++ = static_cast<char>(c);
        ++column;
      } else {
        d = writeHex(d, c);
        column += 3;
      }
      ++i;
      // Also at the very end of the input, where no CRLF follows: the soft break is harmless.
      if (column >= limit && !crlfAt(i)) {
        *d++ = '=';
        *d++ = '\r';
        *d++ = '\n';
        column = 0;
      }
    }
    out.addLength(static_cast<uint32_t>(d - start));
  }
}

bool copyQuotedPrintableLines(const char* text, uint32_t n, int32_t lineLength,
                              const bool* escapable, StringBuffer& out) {
  if (text == nullptr || n == 0) return true;
  const uint32_t limit = lineLength < 1 ? 1 : static_cast<uint32_t>(lineLength);
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  const unsigned char* const end = p + n;
  const unsigned char* copied = p;
  uint32_t appended = 0;
  auto copyThrough = [&](const unsigned char* q) {
    out.appendN(reinterpret_cast<const char*>(copied), q - copied);
    appended += static_cast<uint32_t>(q - copied);
    copied = q;
  };
  auto refuse = [&] {
    out.shorten(appended);
    return false;
  };
  uint32_t column = 0;
  while (p < end) {
    // Most of a line needs no look beyond the next few bytes; line starts, line ends, the
    // last columns and the rest take the rules below.
    if (column > 0) p = skipPlainQp(p, end, limit, escapable, &column);
    const unsigned char c = *p;
    if (c == '\r') {
      if (end - p < 2 || p[1] != '\n') return refuse();
      p += 2;
      column = 0;
      if (static_cast<uint32_t>(p - copied) >= kQpCopyRun) copyThrough(p);
      continue;
    }
    if (c == '=') {
      unsigned char b = 0;
      if (!exactEscapeAt(p, end, &b) || !qpEscapes(b, column, p + 3, end) ||
          (escapable != nullptr && !escapable[b]))
        return refuse();
      p += 3;
      column += 3;
    } else if ((isQpLiteral(c) || c == ' ' || c == '\t') && !qpEscapes(c, column, p + 1, end)) {
      ++p;
      ++column;
    } else {
      return refuse();
    }
    // A full line ends here: a CRLF of the bytes' own, else a soft break that no CRLF follows.
    if (column >= limit) {
      if (end - p >= 2 && p[0] == '\r' && p[1] == '\n') continue;
      if (end - p < 3 || p[0] != '=' || p[1] != '\r' || p[2] != '\n' || crlfFollows(p + 3, end))
        return refuse();
      p += 3;
      column = 0;
    }
  }
  copyThrough(end);
  return true;
}

bool rewrapQuotedPrintable(const char* text, uint32_t n, int32_t lineLength, const bool* escapable,
                           StringBuffer& out) {
  if (text == nullptr || n == 0) return true;
  const int32_t limit = lineLength < 1 ? 1 : lineLength;
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  const unsigned char* const end = p + n;
  const uint32_t start = out.getSize();
  // The full rules at the bottom read a literal byte against `escapable` too. The cases above
  // them pass literal bytes without that only where it marks every one; with a table that
  // does not, literal bytes take the one shortcut they have always had (as the encoder does,
  // eight at a time short of the line's last columns).
  bool literalsMarked = true;
  // The first digits of the escapes from 0x80 on of the bytes the table leaves out, from the
  // lowest to the highest ("F" to "8" where it leaves out none).
  QpDigitRange unmarkedDigits{'F', '8'};
  if (escapable != nullptr) {
    for (unsigned c = 0; c < 256; ++c) {
      if (escapable[c]) continue;
      if (c >= 0x80) {
        unmarkedDigits.first = std::min(unmarkedDigits.first, kHex[c >> 4]);
        unmarkedDigits.last = std::max(unmarkedDigits.last, kHex[c >> 4]);
      }
      if (c == '\t' || c == ' ' || isQpLiteral(static_cast<unsigned char>(c)))
        literalsMarked = false;
    }
  }
  const bool* const marked = escapable != nullptr ? escapable : kAllMarked.data();
  auto skipSoftBreaks = [&](const unsigned char* q) {
    while (end - q >= 3 && q[0] == '=' && q[1] == '\r' && q[2] == '\n') q += 3;
    return q;
  };
  // Whether the text at q starts with a byte the decoder reads as is, or with an escape of
  // anything but CR: a blank before it stays literal.
  auto literalOrEscapeAt = [&](const unsigned char* q) {
    return end - q >= 1 &&
           (isQpLiteral(*q) ||
            (*q == '=' && end - q >= 3 && (kUpperHexValues[q[1]] | kUpperHexValues[q[2]]) <= 0x0F &&
             !(q[1] == '0' && q[2] == 'D')));
  };
  // The byte of the token at q and the token's length; 0 for what only the decoder's full
  // rules read (lower-case or broken escapes, bare line ends, blanks it drops as trailing).
  auto token = [&](const unsigned char* q, unsigned char* b) -> uint32_t {
    const unsigned char c = *q;
    if (c == '=') {
      return exactEscapeAt(q, end, b) ? 3 : 0;
    }
    if (c == ' ' || c == '\t') {
      const unsigned char* r = q;
      while (r < end && (*r == ' ' || *r == '\t')) ++r;
      if (r == end || *r == '\r' || *r == '\n') return 0;
    } else if (!isQpLiteral(c)) {
      return 0;
    }
    *b = c;
    return 1;
  };
  int32_t column = 0;
  while (p < end) {
    // A slice of the text at a time into room for the most it can give.
    const unsigned char* const sliceEnd = end - p > kQpSlice ? p + kQpSlice : end;
    char* const room =
        out.appendPointer(static_cast<uint32_t>(sliceEnd - p) * kQpWorstPerByte + kQpSliceSlack);
    char* d = room;
    // A line full after the token just written gets a soft break, unless the text goes on with
    // a line end.
    auto breakIfFull = [&] {
      if (column >= limit && !crlfFollows(p, end)) {
        *d++ = '=';
        *d++ = '\r';
        *d++ = '\n';
        column = 0;
      }
    };
    while (p < sliceEnd) {
      // Each case up to the full rules writes what they write for the token at p, or for a
      // run of tokens what they write token by token, where the next few bytes tell it.
      const unsigned char c = *p;
      if (c == '=') {
        if (end - p >= 3) {
          const unsigned hi = kUpperHexValues[p[1]], lo = kUpperHexValues[p[2]];
          if ((hi | lo) <= 0x0F) {
            // An escape the encoder writes wherever it stands: of a byte it always escapes (but
            // in the sign-extended form, which the decoder reads otherwise), or of a blank
            // before a line end.
            const auto b = static_cast<unsigned char>(hi << 4 | lo);
            if ((kQpAlwaysEscaped[b]
                     ? b != 0xFF || end - p < 9 || !isSignExtendedEscape(p)
                     : (b == ' ' || b == '\t') && end - p >= 5 && p[3] == '\r' && p[4] == '\n') &&
                marked[b]) {
              std::memcpy(d, p, 3);
              d += 3;
              p += 3;
              column += 3;
              breakIfFull();
              continue;
            }
          } else if (p[1] == '\r' && p[2] == '\n') {
            p += 3;  // the text's own soft break
            continue;
          }
        }
      } else if (c == '\r') {
        if (end - p >= 2 && p[1] == '\n') {
          *d++ = '\r';
          *d++ = '\n';
          p += 2;
          column = 0;
          continue;
        }
      } else if (literalsMarked) {
        if ((column > 0 || (c != '.' && c != 'F')) && column + 1 < limit &&
            end - p >= kVerbatimQpRead) {
          // Inside a line, short of its last column, most of the text is written as it stands.
          const auto left = static_cast<uint32_t>(limit - 1 - column);
          const uint32_t m = unmarkedDigits.first > unmarkedDigits.last
                                 ? verbatimQpRun<false>(p, left, marked, unmarkedDigits)
                                 : verbatimQpRun<true>(p, left, marked, unmarkedDigits);
          if (m > 0) {
            std::memcpy(d, p, 64);
            d += m;
            p += m;
            column += static_cast<int32_t>(m);
            continue;
          }
        }
        if (isQpLiteral(c) ? column > 0 || (c != '.' && c != 'F')
                           : (c == ' ' || c == '\t') && literalOrEscapeAt(p + 1)) {
          // One such byte anywhere, but a line's leading "." or "F".
          *d++ = static_cast<char>(c);
          ++p;
          ++column;
          breakIfFull();
          continue;
        }
      } else if (column > 0 && column + 8 < limit && end - p > 8) {
        // With a table that leaves some literal byte out, literal bytes inside a line are
        // written eight at a time as they stand; a trailing blank waits for the rules below
        // unless an escape of anything but CR follows it.
        uint32_t k = plainQpBytes(p);
        if (k > 0 && p[k - 1] == ' ' &&
            !(end - (p + k) > 2 && p[k] == '=' && kUpperHexValues[p[k + 1]] <= 0x0F &&
              kUpperHexValues[p[k + 2]] <= 0x0F && !(p[k + 1] == '0' && p[k + 2] == 'D')))
          --k;
        if (k > 0) {
          std::memcpy(d, p, 8);
          d += k;
          p += k;
          column += static_cast<int32_t>(k);
          continue;
        }
      }
      // The full rules for what the cases above leave (soft breaks and CRLF they always take):
      // the token as the decoder reads it, and what the encoder writes for its byte.
      unsigned char b = 0;
      const uint32_t used = token(p, &b);
      if (used == 0 || (escapable != nullptr && !escapable[b])) {
        out.addLength(static_cast<uint32_t>(d - room));
        out.shorten(out.getSize() - start);
        return false;
      }
      const unsigned char* next = p + used;
      unsigned char ahead[4];
      const uint32_t k = peekQpBytes(next, end, ahead, 4);
      const bool crlfNext = k >= 2 && ahead[0] == '\r' && ahead[1] == '\n';
      if (b == '\r' && k >= 1 && ahead[0] == '\n') {
        // An escaped CR before a LF: the pair is a line end, when the LF is a token read here.
        const unsigned char* lf = skipSoftBreaks(next);
        unsigned char b2 = 0;
        const uint32_t used2 = token(lf, &b2);
        if (used2 == 0 || b2 != '\n') {
          out.addLength(static_cast<uint32_t>(d - room));
          out.shorten(out.getSize() - start);
          return false;
        }
        *d++ = '\r';
        *d++ = '\n';
        p = lf + used2;
        column = 0;
        continue;
      }
      const bool escape =
          (column == 0 &&
           (b == '.' || (b == 'F' && k == 4 && std::memcmp(ahead, "rom ", 4) == 0))) ||
          (!isQpLiteral(b) && !((b == ' ' || b == '\t') && k >= 1 && !crlfNext));
      if (escape) {
        d = writeHex(d, b);
        column += 3;
      } else {
        *d++ = static_cast<char>(b);
        ++column;
      }
      p = next;
      if (column >= limit && !crlfNext) {
        *d++ = '=';
        *d++ = '\r';
        *d++ = '\n';
        column = 0;
      }
    }
    out.addLength(static_cast<uint32_t>(d - room));
  }
  return true;
}

bool decodeQuotedPrintable(const char* text, uint32_t n, DataBuffer& out) {
  if (text == nullptr || n == 0) return true;
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  if (const auto* nul = static_cast<const unsigned char*>(std::memchr(p, 0, n)))
    n = static_cast<uint32_t>(nul - p);
  uint32_t pos = 0;
  while (pos < n) {
    const auto* lf = static_cast<const unsigned char*>(std::memchr(p + pos, '\n', n - pos));
    const uint32_t lineEnd = lf != nullptr ? static_cast<uint32_t>(lf - p) : n;
    uint32_t end = lineEnd;
    while (end > pos && (p[end - 1] == '\r' || p[end - 1] == ' ' || p[end - 1] == '\t')) --end;
    // Decoding never lengthens a line; the line end adds two bytes.
    unsigned char* const start = roomFor(out, end - pos + 2, kQpDecodeStartRoom);
    bool softBreak = false;
    unsigned char* d = decodeQpLine(p + pos, end - pos, start, &softBreak);
    if (lf != nullptr && !softBreak) {
      *d++ = '\r';
      *d++ = '\n';
    }
    out.setSize(out.getSize() + static_cast<uint32_t>(d - start));
    pos = lf != nullptr ? lineEnd + 1 : n;
  }
  return true;
}

void encodeQ(const void* bytes, uint32_t n, StringBuffer& out) {
  if (bytes == nullptr || n == 0) return;
  const auto* p = static_cast<const unsigned char*>(bytes);
  if (static_cast<uint64_t>(n) * 3 > 0x7FFFFFF0ULL) fatalError("Q text larger than 2 GB");
  char* const start = out.appendPointer(n * 3);
  char* d = start;
  for (uint32_t i = 0; i < n; ++i) {
    const unsigned char c = p[i];
    if (isQLiteral(c)) {
      *d++ = static_cast<char>(c);
    } else if (c == ' ') {
      *d++ = '_';
    } else {
      d = writeHex(d, c);
    }
  }
  out.addLength(static_cast<uint32_t>(d - start));
}

void decodeQ(const char* text, uint32_t n, DataBuffer& out) {
  if (text == nullptr || n == 0) return;
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  unsigned char* const start = roomFor(out, n, 0);
  unsigned char* d = start;
  for (uint32_t i = 0; i < n; ++i) {
    const unsigned char c = p[i];
    if (c == '=') {
      const int hi = i + 2 < n ? upperHexValue(p[i + 1]) : -1;
      const int lo = i + 2 < n ? upperHexValue(p[i + 2]) : -1;
      if (hi >= 0 && lo >= 0) {
        *d++ = static_cast<unsigned char>(hi * 16 + lo);
        i += 2;
      } else {
        *d++ = '=';
      }
    } else if (c == '_') {
      *d++ = ' ';
    } else if (isQLiteral(c) || c >= 160) {
      *d++ = c;
    }
  }
  out.setSize(out.getSize() + static_cast<uint32_t>(d - start));
}
