// Every code of every table-driven code page, decoded and encoded by the engine and by glibc's
// iconv(3), which has tables of its own. Where the two legitimately disagree the difference is
// listed below, once; anything else fails.
#include <gtest/gtest.h>
#include <iconv.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "charset/ConversionTables.h"
#include "charset/EncodingConvert.h"
#include "charset/HashConvert.h"
#include "foundation/DataBuffer.h"

namespace {

// The reference: glibc's name for each code page compared.
struct IconvName {
  int32_t codePage;
  const char* name;
};

// clang-format off
constexpr IconvName kIconvNames[] = {
    {37, "IBM037"}, {437, "IBM437"}, {500, "IBM500"}, {708, "ISO-8859-6"}, {737, "CP737"},
    {775, "IBM775"}, {850, "IBM850"}, {852, "IBM852"}, {855, "IBM855"}, {857, "IBM857"},
    {858, "IBM858"}, {860, "IBM860"}, {861, "IBM861"}, {862, "IBM862"}, {863, "IBM863"},
    {864, "IBM864"}, {865, "IBM865"}, {866, "IBM866"}, {869, "IBM869"}, {870, "IBM870"},
    {874, "CP874"}, {875, "IBM875"}, {1026, "IBM1026"}, {1047, "IBM1047"}, {1140, "IBM1140"},
    {1141, "IBM1141"}, {1142, "IBM1142"}, {1143, "IBM1143"}, {1144, "IBM1144"}, {1145, "IBM1145"},
    {1146, "IBM1146"}, {1147, "IBM1147"}, {1148, "IBM1148"}, {1149, "IBM1149"}, {1250, "CP1250"},
    {1251, "CP1251"}, {1252, "CP1252"}, {1253, "CP1253"}, {1254, "CP1254"}, {1255, "CP1255"},
    {1256, "CP1256"}, {1257, "CP1257"}, {1258, "CP1258"}, {10000, "MACINTOSH"}, {10007, "CP10007"},
    {10017, "MAC-UK"}, {10029, "MAC-CENTRALEUROPE"}, {10079, "MAC-IS"}, {20105, "ISO_646.IRV:1991"},
    {20106, "ISO646-DE"}, {20107, "ISO646-SE2"}, {20108, "ISO646-NO2"}, {20127, "ANSI_X3.4-1968"},
    {20261, "T.61-8BIT"}, {20269, "ISO_6937"}, {20273, "IBM273"}, {20277, "IBM277"},
    {20278, "IBM278"}, {20280, "IBM280"}, {20284, "IBM284"}, {20285, "IBM285"}, {20290, "IBM290"},
    {20297, "IBM297"}, {20420, "IBM420"}, {20423, "IBM423"}, {20424, "IBM424"}, {20838, "IBM9030"},
    {20866, "KOI8-R"}, {20871, "IBM871"}, {20880, "IBM880"}, {20905, "IBM905"}, {21025, "IBM1025"},
    {21866, "KOI8-U"}, {28591, "ISO-8859-1"}, {28592, "ISO-8859-2"}, {28593, "ISO-8859-3"},
    {28594, "ISO-8859-4"}, {28595, "ISO-8859-5"}, {28596, "ISO-8859-6"}, {28597, "ISO-8859-7"},
    {28598, "ISO-8859-8"}, {28599, "ISO-8859-9"}, {28603, "ISO-8859-13"}, {28605, "ISO-8859-15"},
    {38598, "ISO-8859-8"},
    // Windows' 51936 decodes as 936 does, so GBK is its reference too.
    {932, "CP932"}, {936, "GBK"}, {949, "UHC"}, {950, "BIG5"}, {1361, "JOHAB"}, {51932, "EUC-JP"},
    {51936, "GBK"}, {51949, "EUC-KR"},
};
// clang-format on

// Pages glibc has no converter for: DOS Arabic, the Mac Japanese, Arabic, Hebrew, Greek,
// Romanian, Thai, Turkish and Croatian pages, IBM 924 (Latin-9 EBCDIC).
constexpr const char* kSkippedPages = "720 10001 10004-10006 10010 10021 10081 10082 20924";

// The known differences.
//
// A decoding row covers codes `first`-`last` (a byte, or lead << 8 | trail) and says what the
// engine and iconv give for them (UTF-16 units); an encoding row covers units and says which
// codes each writes. A unit decoded only from codes with a listed difference is not compared
// again when encoding: its encoding differs for the same reason.

enum class Row { kDecode, kEncode };

struct Gives {
  enum Kind { kNothing, kOwnNumber, kIn, kWrittenElsewhere, kAnything } kind;
  uint32_t lo = 0;
  uint32_t hi = 0;
};

constexpr Gives nothing{Gives::kNothing};
// The code's own number: the ASCII character or C1 control of that number.
constexpr Gives ownNumber{Gives::kOwnNumber};
// A unit the engine encodes with another code: a duplicate that decodes one way only.
constexpr Gives elsewhere{Gives::kWrittenElsewhere};
constexpr Gives anything{Gives::kAnything};
constexpr Gives is(uint32_t v) { return {Gives::kIn, v, v}; }
constexpr Gives in(uint32_t lo, uint32_t hi) { return {Gives::kIn, lo, hi}; }
constexpr Gives privateUse = in(0xE000, 0xF8FF);
constexpr Gives mapped = in(1, 0x10FFFF);

struct Difference {
  const char* pages;  // code pages: numbers and ranges, e.g. "870 28596-28598"
  Row row;
  uint32_t first;
  uint32_t last;
  Gives ours;
  Gives iconv;
  const char* why;
};

constexpr Row D = Row::kDecode;
constexpr Row E = Row::kEncode;

const Difference kDifferences[] = {
    {"20127 932 936 949 950 1361 51932 51936 51949", E, 0xA0, 0xA0, is(0x20), nothing,
     "no-break space written as a space (reverse-only entry); the page has no NBSP"},

    // Single-byte pages.
    {"708 857 864 874 1253 1255 1257 20261 20269 20420 28593 28596-28598 38598", D, 0x01, 0xFF,
     privateUse, nothing, "Windows: private use for bytes the page leaves undefined"},
    {"28591-28599", D, 0x80, 0x80, is(0x20AC), is(0x0080), "our deliberate euro on 0x80"},
    {"708", D, 0x80, 0xC0, mapped, anything,
     "DOS ASMO 708 box drawing and Latin letters; glibc's ASMO-708 is plain ISO-8859-6"},
    {"708", D, 0xDB, 0xFF, mapped, nothing, "DOS ASMO 708 box drawing and symbols"},
    {"864", D, 0x25, 0x25, is(0x25), is(0x066A), "Windows keeps ASCII '%'; IBM has U+066A"},
    {"870 20905", D, 0xB0, 0xB0, is(0x02D9), is(0x00B7), "dot above vs middle dot"},
    {"875 20423", D, 0x6A, 0x6A, is(0x7C), nothing, "Windows adds '|'"},
    {"875", D, 0x74, 0x74, is(0xA0), is(0x2207), "Windows: no-break space, glibc: nabla"},
    {"875", D, 0xDC, 0xFD, is(0x1A), nothing, "Windows fills unassigned bytes with SUB"},
    {"875", D, 0xDD, 0xDD, is(0x0387), is(0x00B7), "Greek ano teleia vs middle dot"},
    {"1026 20905", D, 0x9D, 0x9D, is(0xB8), is(0x02DB), "cedilla vs ogonek"},
    {"1026", D, 0xBC, 0xBC, is(0xAF), is(0x2014), "macron vs em dash"},
    {"1047", D, 0x15, 0x15, is(0x0A), is(0x85), "Windows' 1047 swaps LF and NEL"},
    {"1047", D, 0x25, 0x25, is(0x85), is(0x0A), "Windows' 1047 swaps LF and NEL"},
    {"1255", D, 0xCA, 0xCA, is(0x05BA), nothing, "Windows' later holam haser for vav"},
    {"10000 10079", D, 0xBD, 0xBD, is(0x2126), is(0x03A9), "ohm sign vs Greek omega"},
    {"10000 10079", D, 0xC6, 0xC6, is(0x2206), is(0x0394), "increment vs Greek delta"},
    {"10000 10079", D, 0xF0, 0xF0, is(0xF8FF), is(0xE01E), "Apple logo, another private use"},
    {"10007", D, 0xB6, 0xB6, is(0x2202), is(0x0491), "Windows: partial differential"},
    // glibc's MAC-IS keeps Mac Roman where Apple's Icelandic has its letters.
    {"10079", D, 0xA0, 0xA0, is(0xDD), is(0x2020), "Y acute vs dagger"},
    {"10079", D, 0xE0, 0xE0, is(0xFD), is(0x2021), "y acute vs double dagger"},
    {"10079", D, 0xD0, 0xD0, is(0x2013), is(0x2014), "glibc swaps the dashes"},
    {"10079", D, 0xD1, 0xD1, is(0x2014), is(0x2013), "glibc swaps the dashes"},
    {"10079", D, 0xD7, 0xD7, is(0x25CA), is(0x25C6), "lozenge vs diamond"},
    {"10079", D, 0xDC, 0xDC, is(0xD0), is(0x0110), "eth vs D with stroke"},
    {"10079", D, 0xDD, 0xDD, is(0xF0), is(0x0111), "eth vs d with stroke"},
    {"10079", D, 0xF6, 0xF6, is(0x02C6), nothing, "modifier circumflex"},
    {"10079", D, 0xF7, 0xF7, is(0x02DC), nothing, "small tilde"},
    // Windows' IA5 IRV is the 1983 edition (currency sign, overline); glibc's is ASCII.
    {"20105", D, 0x24, 0x24, is(0xA4), is(0x24), "IRV 1983 currency sign"},
    {"20105", D, 0x7E, 0x7E, is(0x203E), is(0x7E), "IRV 1983 overline"},
    {"20105", D, 0x7F, 0x7F, is(0x2207), is(0x7F), "Windows decodes DEL as nabla"},
    {"20261 20269", D, 0x7F, 0x7F, privateUse, is(0x7F), "Windows: private use for DEL"},
    // Windows' 20269 is an older ISO 6937 repertoire; a lone accent decodes by itself.
    {"20269", D, 0x23, 0x24, nothing, ownNumber, "Windows has # and $ only on 0xA6, 0xA4"},
    {"20269", D, 0xA4, 0xA6, in(0x23, 0x24), nothing, "glibc has # and $ only on 0x23, 0x24"},
    {"20269", D, 0x5E, 0x7E, nothing, ownNumber, "^ ` ~ are the accents 0xC1-0xC4 there"},
    {"20269", D, 0x9E, 0x9F, nothing, ownNumber, "Windows leaves these C1 controls out"},
    {"20269", D, 0xC1, 0xCF, mapped, nothing,
     "a lone non-spacing accent: Windows decodes it, glibc waits for its letter"},
    {"20269", D, 0xBE, 0xFF, privateUse, mapped, "Windows: private use for later additions"},
    {"20269", D, 0xD0, 0xD0, is(0x2015), is(0x2014), "horizontal bar vs em dash"},
    {"20269", D, 0xD5, 0xD5, is(0x2669), is(0x266A), "quarter note vs eighth note"},
    // Older IBM tables in glibc; its euro variants (1143, 1146, 1149) agree with Windows.
    {"20278", D, 0x71, 0x71, is(0x5C), is(0xC9), "glibc swaps backslash and E acute"},
    {"20278", D, 0xE0, 0xE0, is(0xC9), is(0x5C), "glibc swaps backslash and E acute"},
    {"20285", D, 0xA1, 0xA1, is(0xAF), is(0x203E), "macron vs overline"},
    {"20871", D, 0x4A, 0x4A, is(0xDE), is(0xFE), "glibc swaps thorn's cases"},
    {"20871", D, 0xC0, 0xC0, is(0xFE), is(0xDE), "glibc swaps thorn's cases"},
    {"20290", D, 0x41, 0xBF, in(0xFF61, 0xFF9F), in(0x3000, 0x30FF),
     "half-width katakana; glibc's IBM290 decodes to full-width"},
    {"20290", D, 0x01, 0xFF, in(0x5B, 0xA2), nothing,
     "Windows adds lower-case Latin, [ ] { } ^ ~ \\ and the cent sign"},
    {"20290", D, 0x6A, 0x6A, nothing, is(0xA6), "Windows leaves the broken bar out"},
    {"20420", D, 0x42, 0xDC, in(0xFE70, 0xFEFF), in(0x0600, 0x06FF),
     "Windows decodes Arabic letters as presentation forms"},
    {"20420", D, 0x77, 0x8D, privateUse, in(0x0600, 0x06FF), "Windows: private use forms"},
    {"20420", D, 0xE1, 0xE1, is(0x2007), nothing, "Windows' figure space"},
    {"20423", D, 0x74, 0x74, is(0xA0), nothing, "Windows adds no-break space"},
    {"20423", D, 0xCA, 0xCA, is(0xAD), nothing, "Windows adds soft hyphen"},
    {"20423", D, 0xAF, 0xAF, is(0x03C3), is(0x03C2), "glibc swaps the two sigmas"},
    {"20423", D, 0xBA, 0xBA, is(0x03C2), is(0x03C3), "glibc swaps the two sigmas"},
    {"20423", D, 0xCC, 0xCC, is(0xE2), is(0xC2), "a circumflex: lower vs upper case"},
    {"20424", D, 0x78, 0x78, is(0x2017), is(0x21D4), "double low line vs double arrow"},
    {"20424", D, 0x8F, 0x8F, is(0xB1), nothing, "Windows adds plus-minus"},
    {"20424", D, 0xB3, 0xB3, is(0x2022), is(0xB7), "bullet vs middle dot"},
    {"20424 28598 38598", D, 0xAF, 0xBC, is(0x203E), is(0xAF), "overline vs macron"},
    {"20838", D, 0x51, 0xFE, nothing, elsewhere,
     "IBM's second tone-mark positions, which Windows leaves undefined"},
    {"20880", D, 0x01, 0xFF, mapped, nothing, "Windows' 880 has more of Cyrillic and ASCII"},
    {"20880", D, 0x6A, 0x6A, is(0x7C), is(0xA6), "vertical line vs broken bar"},
    {"20905", D, 0x41, 0x41, is(0xA0), nothing, "Windows adds no-break space"},
    {"20905", D, 0xB7, 0xB7, is(0xB7), nothing, "Windows adds middle dot"},
    {"21866", D, 0xAE, 0xAE, is(0x045E), is(0x255D), "Windows' KOI8-U has Belarusian u"},
    {"21866", D, 0xBE, 0xBE, is(0x040E), is(0x256C), "Windows' KOI8-U has Belarusian U"},
    {"28597", D, 0xA1, 0xA2, in(0x02BC, 0x02BD), in(0x2018, 0x2019),
     "modifier apostrophes vs quotation marks"},
    {"28597", D, 0xA4, 0xAA, privateUse, mapped, "ISO-8859-7:2003 additions Windows lacks"},
    {"28598 38598", D, 0xFD, 0xFE, privateUse, in(0x200E, 0x200F), "LRM, RLM Windows lacks"},

    // Multi-byte pages.
    {"932 936 949 950 1361 51932 51936 51949", D, 0x80, 0xFF, privateUse, nothing,
     "Windows: private use for lone bytes (0xA0, 0xFD-0xFF, Johab's unused leads)"},
    {"936 51936", D, 0xA140, 0xFEFE, privateUse, nothing,
     "GBK user-defined areas and unassigned codes: private use in Windows"},
    {"949 51949", D, 0xC9A1, 0xFEFE, privateUse, nothing, "user-defined rows 0xC9 and 0xFE"},
    {"950", D, 0x8140, 0xFEFE, privateUse, nothing, "Big5 user-defined areas"},
    {"1361", D, 0xD831, 0xD8FE, privateUse, nothing, "Johab user-defined lead 0xD8"},
    {"51932", D, 0x8000, 0x92FF, privateUse, nothing,
     "932's user-defined area where the JIS arithmetic puts it: not EUC-JP codes"},
    {"51932", D, 0xFF00, 0xFFFF, privateUse, nothing,
     "932's user-defined area where the JIS arithmetic puts it: not EUC-JP codes"},
    {"932 949 1361", D, 0x80, 0x83, ownNumber, nothing,
     "Windows decodes these lone bytes as the C1 control of that number"},
    {"51932 51949", D, 0x81, 0x9F, nothing, ownNumber,
     "glibc's EUC passes lone C1 controls through"},
    {"932", D, 0x8790, 0x879C, nothing, elsewhere, "NEC row 13 duplicates of row 2"},
    {"932", D, 0xED40, 0xEEFC, nothing, elsewhere, "NEC-selected IBM extensions"},
    {"932", D, 0xFA4A, 0xFA5B, nothing, elsewhere, "IBM duplicates of NEC row 13"},
    {"950", D, 0xA2A4, 0xA2A7, nothing, elsewhere, "box drawing Windows writes at 0xF9xx"},
    {"950", D, 0xA2CC, 0xA2CE, nothing, elsewhere, "Big5 duplicates of two hanzi"},
    {"950", D, 0xF9FA, 0xF9FD, nothing, elsewhere, "ETEN arcs Windows writes at 0xA27E-0xA2A3"},
    {"950", E, 0x2550, 0x256A, in(0xF9E9, 0xF9F9), in(0xA2A4, 0xA2A7),
     "Windows writes the ETEN box drawing codes, glibc the Big5 ones"},
    {"1361", D, 0x5C, 0x5C, is(0x5C), is(0x20A9), "glibc: KS X 1003 won sign"},
    {"1361", D, 0x8441, 0xDAFE, in(0x1100, 0x11FF), in(0x3130, 0x318F),
     "lone jamo: conjoining vs compatibility jamo"},
    {"1361", D, 0x8441, 0xD3FF, in(0x1100, 0x11FF), nothing,
     "lone jamo glibc has no compatibility jamo for"},
    {"1361", D, 0xD9E8, 0xD9E8, nothing, is(0x327E), "KS X 1001:2002 postal mark"},
    {"51949", D, 0xA2E8, 0xA2E8, nothing, is(0x327E), "KS X 1001:2002 postal mark"},
    // Microsoft's JIS X 0208 mapping against the JIS one.
    {"51932", D, 0xA1C1, 0xA1C1, is(0xFF5E), is(0x301C), "fullwidth tilde vs wave dash"},
    {"51932", D, 0xA1C2, 0xA1C2, is(0x2225), is(0x2016), "parallel vs double vertical line"},
    {"51932", D, 0xA1DD, 0xA1DD, is(0xFF0D), is(0x2212), "fullwidth hyphen vs minus"},
    {"51932", D, 0xA1F1, 0xA1F2, in(0xFFE0, 0xFFE1), in(0xA2, 0xA3), "fullwidth cent, pound"},
    {"51932", D, 0xA2CC, 0xA2CC, is(0xFFE2), is(0xAC), "fullwidth not sign"},
    {"51932", D, 0xADA1, 0xADFE, mapped, nothing, "NEC row 13, not in glibc's EUC-JP"},
    {"51932", D, 0xF9A1, 0xFCFE, mapped, nothing, "NEC-selected IBM extensions (rows 89-92)"},
    {"51932", E, 0xE000, 0xF8FF, in(0x8EA1, 0x8EDF), nothing,
     "user-defined row 110 shares its codes with the half-width katakana"},
};

bool pageListed(const char* pages, int32_t cp) {
  const char* p = pages;
  while (*p != '\0') {
    char* end = nullptr;
    const long lo = std::strtol(p, &end, 10);
    long hi = lo;
    if (*end == '-') hi = std::strtol(end + 1, &end, 10);
    if (cp >= lo && cp <= hi) return true;
    p = end;
    while (*p == ' ') ++p;
  }
  return false;
}

bool skipped(int32_t cp) { return pageListed(kSkippedPages, cp); }

const char* iconvName(int32_t cp) {
  for (const IconvName& n : kIconvNames)
    if (n.codePage == cp) return n.name;
  return nullptr;
}

// Both sides. A result is a unit or a code (bytes packed big-endian); 0 is nothing.

constexpr uint32_t kNothing = 0;
constexpr uint32_t kSeveral = 0xFFFFFFFF;  // iconv decoded one code to more than one character

uint32_t pack(const unsigned char* b, uint32_t n) {
  if (n == 0 || n > 4) return n == 0 ? kNothing : kSeveral;
  uint32_t v = 0;
  for (uint32_t i = 0; i < n; ++i) v = v << 8 | b[i];
  return v;
}

uint32_t unpack(uint32_t code, unsigned char* b) {
  uint32_t n = code > 0xFFFFFF ? 4 : code > 0xFFFF ? 3 : code > 0xFF ? 2 : 1;
  for (uint32_t i = 0; i < n; ++i) b[i] = static_cast<unsigned char>(code >> (8 * (n - 1 - i)));
  return n;
}

class Ours {
 public:
  explicit Ours(int32_t cp) : cp_(cp) {}
  // The unit of a code: nothing unless the whole code converts, without loss, to one unit.
  uint32_t decode(uint32_t code) {
    unsigned char b[4];
    const uint32_t n = unpack(code, b);
    out_.setSize(0);
    if (!engine_.convert(cp_, 1200, b, n, out_) || out_.getSize() != 2) return kNothing;
    return static_cast<uint32_t>(out_.getData()[0] | out_.getData()[1] << 8);
  }
  uint32_t encode(uint32_t unit) {
    const unsigned char u[2] = {static_cast<unsigned char>(unit),
                                static_cast<unsigned char>(unit >> 8)};
    out_.setSize(0);
    if (!engine_.convert(1200, cp_, u, 2, out_)) return kNothing;
    return pack(out_.getData(), out_.getSize());
  }

 private:
  int32_t cp_;
  EncodingConvert engine_;
  DataBuffer out_;
};

class Iconv {
 public:
  explicit Iconv(const char* name)
      : decoder_(iconv_open("UTF-32LE", name)), encoder_(iconv_open(name, "UTF-32LE")) {}
  ~Iconv() {
    if (decoder_ != bad()) iconv_close(decoder_);
    if (encoder_ != bad()) iconv_close(encoder_);
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;
  bool ok() const { return decoder_ != bad() && encoder_ != bad(); }

  uint32_t decode(uint32_t code) {
    unsigned char b[4];
    const uint32_t n = unpack(code, b);
    unsigned char out[64];
    const uint32_t got = run(decoder_, b, n, out, sizeof out);
    if (got == 0) return kNothing;
    if (got != 4) return kSeveral;
    uint32_t unit = 0;
    std::memcpy(&unit, out, 4);
    return unit;
  }
  uint32_t encode(uint32_t unit) {
    unsigned char in[4];
    std::memcpy(in, &unit, 4);
    unsigned char out[64];
    return pack(out, run(encoder_, in, 4, out, sizeof out));
  }

 private:
  static iconv_t bad() { return reinterpret_cast<iconv_t>(-1); }
  // Bytes written; 0 unless all input converted. The final flush matters to the converters
  // that hold a base letter back waiting for a combining mark (1255, 1258).
  static uint32_t run(iconv_t cd, const unsigned char* in, size_t n, unsigned char* out,
                      size_t room) {
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char* ip = reinterpret_cast<char*>(const_cast<unsigned char*>(in));
    char* op = reinterpret_cast<char*>(out);
    size_t inLeft = n;
    size_t outLeft = room;
    if (iconv(cd, &ip, &inLeft, &op, &outLeft) == static_cast<size_t>(-1) || inLeft != 0) return 0;
    if (iconv(cd, nullptr, nullptr, &op, &outLeft) == static_cast<size_t>(-1)) return 0;
    return static_cast<uint32_t>(room - outLeft);
  }
  iconv_t decoder_;
  iconv_t encoder_;
};

std::string show(const char* form, uint32_t v) {
  if (v == kNothing || v == kSeveral) return v == kNothing ? "nothing" : "several characters";
  char s[16];
  std::snprintf(s, sizeof s, form, v);
  return s;
}
std::string showUnit(uint32_t u) { return show("U+%04X", u); }
std::string showCode(uint32_t c) { return show(c > 0xFF ? "0x%04X" : "0x%02X", c); }

// One page's comparison.

class PageCheck {
 public:
  PageCheck(int32_t cp, const char* name, std::vector<int>& used)
      : cp_(cp), name_(name), ours_(cp), iconv_(name), used_(used) {
    for (size_t i = 0; i < std::size(kDifferences); ++i)
      if (pageListed(kDifferences[i].pages, cp)) rows_.push_back(i);
  }

  bool opened() const { return iconv_.ok(); }

  // A code is a byte or a pair. For a pair a result counts only when both bytes make one
  // character: a lead byte that does not combine with the trail is the single bytes' case.
  void compareDecoding(uint32_t code) {
    const uint32_t o = ours_.decode(code);
    uint32_t t = iconv_.decode(code);
    if (code > 0xFF && t == kSeveral) t = kNothing;
    if (o != kNothing) {
      decodedFrom_[o].push_back(code);
      if (o == t) agreed_.insert(o);
    }
    if (o == t || excused(Row::kDecode, code, o, t)) return;
    fail("decoding " + showCode(code) + ": ours " + showUnit(o) + ", iconv " + showUnit(t));
  }

  // Every unit decoded, and every other unit the reverse table writes (its reverse-only
  // entries), encoded by both.
  void compareEncoding() {
    for (const auto& [unit, codes] : decodedFrom_) {
      const uint32_t o = ours_.encode(unit);
      bool back = false;
      for (uint32_t c : codes) back = back || c == o;
      if (!back)
        fail("encoding " + showUnit(unit) + " (decoded from " + showCode(codes.front()) +
             "): ours writes " + showCode(o) + ", which does not decode back to it");
      // Decoded only where a listed difference applies: it encodes differently for that reason.
      if (agreed_.count(unit) == 0) continue;
      encodeOne(unit, o);
    }
    std::vector<bool> decoded(0x10000);
    for (const auto& entry : decodedFrom_) decoded[entry.first & 0xFFFF] = true;
    const HashConvert* reverse = reverseTable(cp_);
    ASSERT_NE(reverse, nullptr) << cp_;
    for (uint32_t unit = 1; unit <= 0xFFFF; ++unit) {
      if ((unit >= 0xD800 && unit <= 0xDFFF) || decoded[unit]) continue;
      if (reverse->asciiTransparent() && unit < 0x80) continue;
      const unsigned char key[2] = {static_cast<unsigned char>(unit),
                                    static_cast<unsigned char>(unit >> 8)};
      uint32_t len = 0;
      reverse->lookup(key, 2, &len);
      if (len != 0) encodeOne(unit, ours_.encode(unit));
    }
  }

  size_t decodedUnits() const { return decodedFrom_.size(); }

 private:
  static constexpr int kMaxMessages = 20;  // then only the count shows

  void encodeOne(uint32_t unit, uint32_t o) {
    const uint32_t t = iconv_.encode(unit);
    if (o == t || excused(Row::kEncode, unit, o, t)) return;
    fail("encoding " + showUnit(unit) + ": ours " + showCode(o) + ", iconv " + showCode(t));
  }

  bool matches(const Gives& g, uint32_t key, uint32_t v) {
    switch (g.kind) {
      case Gives::kNothing:
        return v == kNothing;
      case Gives::kOwnNumber:
        return v == key;
      case Gives::kIn:
        return v != kNothing && v != kSeveral && v >= g.lo && v <= g.hi;
      case Gives::kWrittenElsewhere: {
        if (v == kNothing || v == kSeveral || v > 0xFFFF) return false;
        const uint32_t written = ours_.encode(v);
        return written != kNothing && written != key;
      }
      case Gives::kAnything:
        return true;
    }
    return false;
  }

  bool excused(Row row, uint32_t key, uint32_t o, uint32_t t) {
    for (size_t i : rows_) {
      const Difference& d = kDifferences[i];
      if (d.row != row || key < d.first || key > d.last) continue;
      if (matches(d.ours, key, o) && matches(d.iconv, key, t)) {
        ++used_[i];
        return true;
      }
    }
    return false;
  }

  void fail(const std::string& what) {
    if (++failures_ <= kMaxMessages) ADD_FAILURE() << cp_ << " (" << name_ << "): " << what;
    if (failures_ == kMaxMessages + 1) ADD_FAILURE() << cp_ << ": more differences follow";
  }

  int32_t cp_;
  const char* name_;
  Ours ours_;
  Iconv iconv_;
  std::vector<int>& used_;
  std::vector<size_t> rows_;  // the rows of kDifferences for this page
  std::map<uint32_t, std::vector<uint32_t>> decodedFrom_;
  std::set<uint32_t> agreed_;
  int failures_ = 0;
};

// Compares every page of a kind, its codes walked by `decodeAll`, then checks that every
// listed difference was seen: the list must stay exact.
void compareEveryPage(bool (*kind)(int32_t), size_t minUnits,
                      const std::function<void(int32_t, PageCheck&)>& decodeAll) {
  if (!Iconv("ISO-8859-1").ok()) GTEST_SKIP() << "no glibc iconv converters installed";
  std::vector<int> used(std::size(kDifferences));
  std::vector<int32_t> pages;
  for (int32_t cp = 1; cp <= 65535; ++cp)
    if (kind(cp) && !skipped(cp)) pages.push_back(cp);
  for (int32_t cp : pages) {
    PageCheck page(cp, iconvName(cp), used);
    if (!page.opened()) {
      ADD_FAILURE() << cp << ": iconv does not open " << iconvName(cp);
      continue;
    }
    decodeAll(cp, page);
    page.compareEncoding();
    EXPECT_GE(page.decodedUnits(), minUnits) << cp;
  }
  for (size_t i = 0; i < std::size(kDifferences); ++i) {
    const Difference& d = kDifferences[i];
    if (used[i] != 0) continue;
    bool concerned = false;
    for (int32_t cp : pages) concerned = concerned || pageListed(d.pages, cp);
    if (concerned)
      ADD_FAILURE() << "listed difference not seen: " << d.pages << " " << showCode(d.first) << "-"
                    << showCode(d.last) << " (" << d.why << ")";
  }
}

}  // namespace

TEST(IconvCrossCheck, EveryTablePageIsComparedOrSkipped) {
  int pages = 0;
  for (int32_t cp = 1; cp <= 65535; ++cp) {
    const bool table = isSingleByteTablePage(cp) || isMultiByteTablePage(cp);
    pages += table;
    if (table) {
      EXPECT_NE(iconvName(cp) != nullptr, skipped(cp)) << cp << ": compare or skip, not both";
    } else {
      EXPECT_EQ(iconvName(cp), nullptr) << cp << " is not a table page";
      EXPECT_FALSE(skipped(cp)) << cp << " is not a table page";
    }
  }
  // Guards against a page predicate that finds nothing, which would leave nothing compared.
  EXPECT_EQ(pages, 103);
}

TEST(IconvCrossCheck, SingleBytePagesAgreeWithIconv) {
  // Every page decodes at least its ASCII or EBCDIC letters and digits.
  compareEveryPage(isSingleByteTablePage, 62, [](int32_t, PageCheck& page) {
    for (uint32_t b = 0x01; b <= 0xFF; ++b) page.compareDecoding(b);
  });
}

TEST(IconvCrossCheck, MultiBytePagesAgreeWithIconv) {
  compareEveryPage(isMultiByteTablePage, 8000, [](int32_t cp, PageCheck& page) {
    // Every lead byte the table has is in 0x80-0xFF, so the pairs below reach every code.
    const HashConvert* forward = multiByteForward(cp);
    ASSERT_NE(forward, nullptr) << cp;
    for (unsigned b = 0x01; b < 0x80; ++b)
      EXPECT_FALSE(forward->isLeadByte(static_cast<unsigned char>(b))) << cp << " lead " << b;
    for (uint32_t b = 0x01; b <= 0xFF; ++b) page.compareDecoding(b);
    for (uint32_t lead = 0x80; lead <= 0xFF; ++lead)
      for (uint32_t trail = 0x01; trail <= 0xFF; ++trail) page.compareDecoding(lead << 8 | trail);
  });
}
