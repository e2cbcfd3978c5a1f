#include "charset/EncodingUtf8.h"

namespace {
bool isContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }
}  // namespace

DecodeResult EncodingUtf8::decodeChar(ConvertState& s, uint16_t* unit) const {
  const unsigned char b = *s.pos;
  if (b < 0x80) {
    *unit = b;
    ++s.pos;
    return DecodeResult::kOk;
  }
  if (b < 0xC2 || b >= 0xF0) {
    ++s.pos;
    return DecodeResult::kInvalid;
  }
  const uint32_t trail = b < 0xE0 ? 1 : 2;
  if (static_cast<uint32_t>(s.end - s.pos) <= trail) {
    // Cut short by the end of the input, unless what is there is already wrong.
    for (const unsigned char* p = s.pos + 1; p < s.end; ++p) {
      if (!isContinuation(*p) || (b == 0xE0 && p == s.pos + 1 && *p < 0xA0)) {
        ++s.pos;
        return DecodeResult::kInvalid;
      }
    }
    ++s.pos;
    return DecodeResult::kIncomplete;
  }
  const unsigned char c1 = s.pos[1];
  if (!isContinuation(c1) || (b == 0xE0 && c1 < 0xA0)) {
    ++s.pos;
    return DecodeResult::kInvalid;
  }
  if (trail == 1) {
    *unit = static_cast<uint16_t>(((b & 0x1F) << 6) | (c1 & 0x3F));
    s.pos += 2;
    return DecodeResult::kOk;
  }
  const unsigned char c2 = s.pos[2];
  if (!isContinuation(c2)) {
    ++s.pos;
    return DecodeResult::kInvalid;
  }
  *unit = static_cast<uint16_t>(((b & 0x0F) << 12) | ((c1 & 0x3F) << 6) | (c2 & 0x3F));
  s.pos += 3;
  return DecodeResult::kOk;
}

uint32_t EncodingUtf8::encodeUnit(uint16_t u, unsigned char* out) const {
  if (u < 0x80) {
    out[0] = static_cast<unsigned char>(u);
    return 1;
  }
  if (u < 0x800) {
    out[0] = static_cast<unsigned char>(0xC0 | (u >> 6));
    out[1] = static_cast<unsigned char>(0x80 | (u & 0x3F));
    return 2;
  }
  out[0] = static_cast<unsigned char>(0xE0 | (u >> 12));
  out[1] = static_cast<unsigned char>(0x80 | ((u >> 6) & 0x3F));
  out[2] = static_cast<unsigned char>(0x80 | (u & 0x3F));
  return 3;
}

const EncodingUtf8& EncodingUtf8::instance() {
  static const EncodingUtf8 codec;
  return codec;
}
