#include "charset/UnicodeForms.h"

#include <cstring>

#include "foundation/ByteCodecs.h"
#include "foundation/DataBuffer.h"
#include "platform/CodePage.h"

namespace {

constexpr const char* kBase64 = kBase64Alphabet;

int base64Value(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// The characters written as themselves; every other one goes into a shifted run.
bool isDirect(uint16_t u) {
  if ((u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9')) return true;
  switch (u) {
    case '\'':
    case '(':
    case ')':
    case ',':
    case '-':
    case '.':
    case '/':
    case ':':
    case '?':
    case ' ':
    case '\t':
    case '\r':
    case '\n':
      return true;
    default:
      return false;
  }
}

void putUnit(DataBuffer& out, uint32_t u) {
  const unsigned char b[2] = {static_cast<unsigned char>(u), static_cast<unsigned char>(u >> 8)};
  out.append(b, 2);
}

// Trailing bytes after a lead byte, and what the lead's length adds to the value.
const unsigned char kTrailing[256] = {
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
    2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 3, 3, 3, 3, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5};
const uint32_t kOffsets[6] = {0x00000000UL, 0x00003080UL, 0x000E2080UL,
                              0x03C82080UL, 0xFA082080UL, 0x82082080UL};

bool isLegalUtf8(const unsigned char* source, int length) {
  unsigned char a;
  const unsigned char* srcptr = source + length;
  switch (length) {
    default:
      return false;
    case 4:
      if ((a = (*--srcptr)) < 0x80 || a > 0xBF) return false;
      [[fallthrough]];
    case 3:
      if ((a = (*--srcptr)) < 0x80 || a > 0xBF) return false;
      [[fallthrough]];
    case 2:
      if ((a = (*--srcptr)) > 0xBF) return false;
      switch (*source) {
        case 0xE0:
          if (a < 0xA0) return false;
          break;
        case 0xED:
          if (a > 0x9F) return false;
          break;
        case 0xF0:
          if (a < 0x90) return false;
          break;
        case 0xF4:
          if (a > 0x8F) return false;
          break;
        default:
          if (a < 0x80) return false;
      }
      [[fallthrough]];
    case 1:
      if (*source >= 0x80 && *source < 0xC2) return false;
  }
  return *source <= 0xF4;
}

void putUtf32(DataBuffer& out, uint32_t v, bool bigEndian) {
  unsigned char b[4];
  for (int i = 0; i < 4; ++i) {
    const unsigned char byte = static_cast<unsigned char>(v >> (8 * i));
    b[bigEndian ? 3 - i : i] = byte;
  }
  out.append(b, 4);
}

}  // namespace

void encodeUtf7(const unsigned char* utf16, uint32_t n, DataBuffer& out) {
  const uint32_t units = n / 2;
  out.ensureCapacity(out.getSize() + n * 3 + 8);
  uint32_t i = 0;
  if (units > 0 && (utf16[0] | (utf16[1] << 8)) == 0xFEFF) i = 1;
  while (i < units) {
    const uint16_t u = static_cast<uint16_t>(utf16[2 * i] | (utf16[2 * i + 1] << 8));
    if (isDirect(u)) {
      out.appendByte(static_cast<unsigned char>(u));
      ++i;
      continue;
    }
    if (u == '+') {
      out.append("+-", 2);
      ++i;
      continue;
    }
    // A shifted run: the bits of every unit up to the next directly written one.
    out.appendByte('+');
    uint32_t bits = 0;
    int numBits = 0;
    while (i < units) {
      const uint16_t v = static_cast<uint16_t>(utf16[2 * i] | (utf16[2 * i + 1] << 8));
      if (isDirect(v) || v == '+') break;
      bits = (bits << 16) | v;
      numBits += 16;
      while (numBits >= 6) {
        numBits -= 6;
        out.appendByte(static_cast<unsigned char>(kBase64[(bits >> numBits) & 0x3F]));
      }
      ++i;
    }
    if (numBits > 0)
      out.appendByte(static_cast<unsigned char>(kBase64[(bits << (6 - numBits)) & 0x3F]));
    out.appendByte('-');
  }
}

bool decodeUtf7(const unsigned char* bytes, uint32_t n, DataBuffer& out) {
  bool ok = true;
  out.ensureCapacity(out.getSize() + n * 2 + 4);
  uint32_t i = 0;
  while (i < n) {
    const unsigned char c = bytes[i];
    if (c != '+') {
      if (c > 0x7F) ok = false;
      putUnit(out, c);
      ++i;
      continue;
    }
    ++i;
    if (i < n && bytes[i] == '-') {
      putUnit(out, '+');
      ++i;
      continue;
    }
    uint32_t bits = 0;
    int numBits = 0;
    while (i < n) {
      const int v = base64Value(bytes[i]);
      if (v < 0) break;
      bits = (bits << 6) | static_cast<uint32_t>(v);
      numBits += 6;
      if (numBits >= 16) {
        numBits -= 16;
        putUnit(out, (bits >> numBits) & 0xFFFF);
      }
      ++i;
    }
    if (numBits > 0 && (bits & ((1u << numBits) - 1)) != 0) ok = false;
    if (i < n && bytes[i] == '-') ++i;
  }
  return ok;
}

bool utf8ToUtf32(const unsigned char* bytes, uint32_t n, bool bigEndian, DataBuffer& out) {
  out.ensureCapacity(out.getSize() + n * 4 + 4);
  uint32_t i = 0;
  while (i < n) {
    const int extra = kTrailing[bytes[i]];
    if (i + extra >= n || !isLegalUtf8(bytes + i, extra + 1)) return false;
    uint32_t ch = 0;
    for (int k = 0; k <= extra; ++k) {
      ch += bytes[i + k];
      if (k < extra) ch <<= 6;
    }
    ch -= kOffsets[extra];
    i += extra + 1;
    if (ch & 0x80000000u) ch = 0xFFFD;
    putUtf32(out, ch, bigEndian);
  }
  return true;
}

void utf32ToUtf8(const unsigned char* bytes, uint32_t n, DataBuffer& out) {
  out.ensureCapacity(out.getSize() + n + 4);
  for (uint32_t i = 0; i + 4 <= n; i += 4) {
    uint32_t v = bytes[i] | (bytes[i + 1] << 8) | (bytes[i + 2] << 16) |
                 (static_cast<uint32_t>(bytes[i + 3]) << 24);
    unsigned char b[4];
    uint32_t len;
    if (v >= 0x200000) v = 0xFFFD;
    if (v < 0x80) {
      b[0] = static_cast<unsigned char>(v);
      len = 1;
    } else if (v < 0x800) {
      b[0] = static_cast<unsigned char>(0xC0 | (v >> 6));
      b[1] = static_cast<unsigned char>(0x80 | (v & 0x3F));
      len = 2;
    } else if (v < 0x10000) {
      b[0] = static_cast<unsigned char>(0xE0 | (v >> 12));
      b[1] = static_cast<unsigned char>(0x80 | ((v >> 6) & 0x3F));
      b[2] = static_cast<unsigned char>(0x80 | (v & 0x3F));
      len = 3;
    } else {
      b[0] = static_cast<unsigned char>(0xF0 | (v >> 18));
      b[1] = static_cast<unsigned char>(0x80 | ((v >> 12) & 0x3F));
      b[2] = static_cast<unsigned char>(0x80 | ((v >> 6) & 0x3F));
      b[3] = static_cast<unsigned char>(0x80 | (v & 0x3F));
      len = 4;
    }
    out.append(b, len);
  }
}

void appendSwapped16(const unsigned char* bytes, uint32_t n, CodePageOutput& out) {
  const uint32_t whole = n & ~1u;
  unsigned char* dst = out.reserve(whole);
  for (uint32_t i = 0; i < whole; i += 2) {
    dst[i] = bytes[i + 1];
    dst[i + 1] = bytes[i];
  }
  out.commit(dst + whole);
}

void appendSwapped32(const unsigned char* bytes, uint32_t n, CodePageOutput& out) {
  const uint32_t whole = n & ~3u;
  unsigned char* dst = out.reserve(whole);
  for (uint32_t i = 0; i < whole; i += 4) {
    dst[i] = bytes[i + 3];
    dst[i + 1] = bytes[i + 2];
    dst[i + 2] = bytes[i + 1];
    dst[i + 3] = bytes[i];
  }
  out.commit(dst + whole);
}
