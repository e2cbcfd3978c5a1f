#include "charset/Iso2022.h"

#include <algorithm>

#include "foundation/DataBuffer.h"

namespace {

constexpr unsigned char ESC = 0x1B;
constexpr unsigned char SO = 0x0E;
constexpr unsigned char SI = 0x0F;

// Output goes through a small stack buffer so the hot loop does no bookkeeping per byte.
class ChunkWriter {
 public:
  explicit ChunkWriter(DataBuffer& out) : out_(out) {}
  ~ChunkWriter() { flush(); }
  void put(unsigned char b) {
    if (used_ == sizeof buf_) flush();
    buf_[used_++] = b;
  }
  void put(const char* s) {
    while (*s != '\0') put(static_cast<unsigned char>(*s++));
  }
  void flush() {
    out_.append(buf_, used_);
    used_ = 0;
  }

 private:
  DataBuffer& out_;
  unsigned char buf_[200];
  uint32_t used_ = 0;
};

// Full-width JIS X 0208 forms of the half-width katakana 0xA1-0xDF.
const uint16_t kKanaToJis[63] = {
    0x2123, 0x2156, 0x2157, 0x2122, 0x2126, 0x2572, 0x2521, 0x2523, 0x2525, 0x2527, 0x2529,
    0x2563, 0x2565, 0x2567, 0x2543, 0x213C, 0x2522, 0x2524, 0x2526, 0x2528, 0x252A, 0x252B,
    0x252D, 0x252F, 0x2531, 0x2533, 0x2535, 0x2537, 0x2539, 0x253B, 0x253D, 0x253F, 0x2541,
    0x2544, 0x2546, 0x2548, 0x254A, 0x254B, 0x254C, 0x254D, 0x254E, 0x254F, 0x2552, 0x2555,
    0x2558, 0x255B, 0x255E, 0x255F, 0x2560, 0x2561, 0x2562, 0x2564, 0x2566, 0x2568, 0x2569,
    0x256A, 0x256B, 0x256C, 0x256D, 0x256F, 0x2573, 0x212B, 0x212C};

// The kana that combine with a following voiced (0xDE) or semi-voiced (0xDF) mark.
uint16_t combinedKana(unsigned char kana, unsigned char mark) {
  if (mark == 0xDE) {
    if (kana == 0xB3) return 0x2574;
    if ((kana >= 0xB6 && kana <= 0xC4) || (kana >= 0xCA && kana <= 0xCE))
      return static_cast<uint16_t>(kKanaToJis[kana - 0xA1] + 1);
  } else if (mark == 0xDF) {
    if (kana >= 0xCA && kana <= 0xCE) return static_cast<uint16_t>(kKanaToJis[kana - 0xA1] + 2);
  }
  return 0;
}

bool isSjisLead(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xEF); }

void sjisToJis(unsigned char& c1, unsigned char& c2) {
  const int adjust = c2 < 0x9F;
  const int rowOffset = c1 < 0xA0 ? 0x70 : 0xB0;
  const int cellOffset = adjust ? (c2 > 0x7F ? 0x20 : 0x1F) : 0x7E;
  c1 = static_cast<unsigned char>(((c1 - rowOffset) << 1) - adjust);
  c2 = static_cast<unsigned char>(c2 - cellOffset);
}

void jisToSjis(unsigned char& c1, unsigned char& c2) {
  const int rowOffset = c1 < 0x5F ? 0x70 : 0xB0;
  const int cellOffset = (c1 % 2) ? (c2 > 0x5F ? 0x20 : 0x1F) : 0x7E;
  c1 = static_cast<unsigned char>(((c1 + 1) >> 1) + rowOffset);
  c2 = static_cast<unsigned char>(c2 + cellOffset);
}

bool isRightToLeft(unsigned char b) {
  return b == 0x81 || b == 0x8C || b == 0x93 || b == 0x98 || b == 0x9B ||
         (b >= 0xA0 && b <= 0xA4) || (b >= 0xA6 && b <= 0xAB) || (b >= 0xAD && b <= 0xBA) ||
         (b >= 0xBC && b <= 0xBE) || b == 0xC0 || (b >= 0xDB && b <= 0xDF) ||
         (b >= 0xFB && b <= 0xFD);
}

bool isAsciiTwin(unsigned char b) {
  return (b >= 0xA0 && b <= 0xAF && b != 0xA5 && b != 0xAC) || (b >= 0xB0 && b <= 0xBA) ||
         (b >= 0xBC && b <= 0xBE) || (b >= 0xDB && b <= 0xDF) || (b >= 0xFB && b <= 0xFD);
}

}  // namespace

void encodeIso2022Jp(const unsigned char* s, uint32_t n, DataBuffer& out) {
  ChunkWriter w(out);
  bool doubleByte = false;
  auto enterDouble = [&] {
    if (!doubleByte) w.put("\x1b$B");
    doubleByte = true;
  };
  auto putJis = [&](uint16_t jis) {
    enterDouble();
    w.put(static_cast<unsigned char>(jis >> 8));
    w.put(static_cast<unsigned char>(jis));
  };
  for (uint32_t i = 0; i < n; ++i) {
    const unsigned char b = s[i];
    if (isSjisLead(b) && i + 1 < n) {
      unsigned char c1 = b;
      unsigned char c2 = s[i + 1];
      ++i;
      if (c2 >= 0x40 && c2 <= 0xFC) {
        sjisToJis(c1, c2);
        putJis(static_cast<uint16_t>((c1 << 8) | c2));
      } else {
        w.put(c1);
        w.put(c2);
      }
      continue;
    }
    if (b >= 0xA1 && b <= 0xDF) {
      uint16_t jis = kKanaToJis[b - 0xA1];
      if (i + 1 < n) {
        const uint16_t combined = combinedKana(b, s[i + 1]);
        if (combined != 0) {
          jis = combined;
          ++i;
        }
      }
      putJis(jis);
      continue;
    }
    if (doubleByte) {
      w.put("\x1b(B");
      doubleByte = false;
    }
    w.put(b);
  }
  if (doubleByte) w.put("\x1b(B");
}

void decodeIso2022Jp(const unsigned char* s, uint32_t n, DataBuffer& out) {
  ChunkWriter w(out);
  bool doubleByte = false;
  uint32_t i = 0;
  while (i < n) {
    const unsigned char b = s[i];
    if (b == ESC) {
      // Read up to two bytes after ESC; an escape we do not know is dropped with them.
      const unsigned char e1 = i + 1 < n ? s[i + 1] : 0;
      const unsigned char e2 = i + 2 < n ? s[i + 2] : 0;
      const uint32_t read = std::min<uint32_t>(3, n - i);
      if (e1 == '$' && (e2 == '@' || e2 == 'B')) doubleByte = true;
      if (e1 == '(' && (e2 == 'B' || e2 == 'J')) doubleByte = false;
      i += read;
      continue;
    }
    if (b == '\r' || b == '\n') {
      doubleByte = false;
      w.put(b);
      ++i;
      continue;
    }
    if (doubleByte && i + 1 < n) {
      unsigned char c1 = b;
      unsigned char c2 = s[i + 1];
      jisToSjis(c1, c2);
      w.put(c1);
      w.put(c2);
      i += 2;
      continue;
    }
    w.put(b);
    ++i;
  }
}

void encodeIso2022Kr(const unsigned char* s, uint32_t n, DataBuffer& out) {
  ChunkWriter w(out);
  w.put("\x1b$)C");
  bool doubleByte = false;
  for (uint32_t i = 0; i < n; ++i) {
    const unsigned char b = s[i];
    if (b >= 0x80) {
      if (!doubleByte) w.put(SO);
      doubleByte = true;
      w.put(static_cast<unsigned char>(b - 0x80));
      if (i + 1 < n) w.put(static_cast<unsigned char>(s[++i] - 0x80));
      continue;
    }
    if (doubleByte) w.put(SI);
    doubleByte = false;
    w.put(b);
  }
}

void decodeIso2022Kr(const unsigned char* s, uint32_t n, DataBuffer& out) {
  ChunkWriter w(out);
  bool doubleByte = false;
  uint32_t i = 0;
  while (i < n) {
    const unsigned char b = s[i];
    if (b == ESC && i + 3 < n && s[i + 1] == '$' && s[i + 2] == ')' && s[i + 3] == 'C') {
      i += 4;
      continue;
    }
    if (b == SO || b == SI) {
      doubleByte = b == SO;
      ++i;
      continue;
    }
    if (doubleByte && i + 1 < n) {
      w.put(static_cast<unsigned char>(b + 0x80));
      w.put(static_cast<unsigned char>(s[i + 1] + 0x80));
      i += 2;
      continue;
    }
    w.put(b);
    ++i;
  }
}

void rewriteMacArabic(const unsigned char* bytes, uint32_t n, DataBuffer& out) {
  const uint32_t start = out.getSize();
  out.append(bytes, n);
  unsigned char* p = out.getData() + start;
  uint32_t i = 0;
  while (i < n) {
    if (!isRightToLeft(p[i])) {
      ++i;
      continue;
    }
    uint32_t end = i;
    while (end < n && isRightToLeft(p[end])) ++end;
    if (end - i >= 2) std::reverse(p + i, p + end);
    i = end;
  }
  for (uint32_t k = 0; k < n; ++k) {
    if (p[k] == 0x81)
      p[k] = 0xA0;
    else if (isAsciiTwin(p[k]))
      p[k] = static_cast<unsigned char>(p[k] - 0x80);
  }
}
