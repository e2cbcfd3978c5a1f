// The UTF-8 codec of the engine: one process-wide, stateless object; the decoding state of a
// call lives in a ConvertState on the caller's stack.
#pragma once

#include <cstdint>

// Where a decoder stands in its input.
struct ConvertState {
  const unsigned char* pos;
  const unsigned char* end;
};

enum class DecodeResult { kOk, kInvalid, kIncomplete };

class EncodingBase {
 public:
  virtual ~EncodingBase() = default;
  // Decodes one character at state.pos into *unit and advances past it. An invalid or
  // incomplete sequence advances one byte.
  virtual DecodeResult decodeChar(ConvertState& state, uint16_t* unit) const = 0;
  // Writes the encoding of one UTF-16 unit (at most 3 bytes) and returns its length.
  virtual uint32_t encodeUnit(uint16_t unit, unsigned char* out) const = 0;
};

// Decodes characters of up to 16 bits: no sequence of four or more bytes is accepted, and
// surrogate units are encoded one by one.
class EncodingUtf8 : public EncodingBase {
 public:
  DecodeResult decodeChar(ConvertState& state, uint16_t* unit) const override;
  uint32_t encodeUnit(uint16_t unit, unsigned char* out) const override;

  // The one codec of the process.
  static const EncodingUtf8& instance();
};
