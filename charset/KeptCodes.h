// Which texts of a table-driven code page come back as the same bytes when the code page
// converter takes them to UTF-8 and back: a text held in its own charset that is wanted in that
// charset again can then be given as it stands instead of converted twice.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

class KeptCodes {
 public:
  // True when the n bytes converted to UTF-8 and back give the same n bytes.
  bool keeps(const unsigned char* p, uint32_t n) const;
  // For each byte, whether it comes back as itself when read alone (256 entries).
  const bool* bytes() const { return single_.data(); }
  // Some codes are two bytes: bytes() then does not tell a text's fate.
  bool doubleByte() const { return !code_.empty(); }
  // Every byte below 0x80 comes back as itself and begins no two-byte code.
  bool keepsAscii() const { return ascii_; }

 private:
  friend const KeptCodes* codesKeptThroughUtf8(int32_t codePage);
  std::array<bool, 256> single_{};
  std::array<bool, 256> lead_{};  // begins some two-byte code
  // One bit for each lead << 8 | trail: the pair is read as one code, and that code comes back
  // as itself. Empty for a single-byte page.
  std::vector<uint64_t> code_;
  std::vector<uint64_t> kept_;
  bool ascii_ = false;
};

// The facts of a single-byte table page or of a multi-byte one whose codes are one or two
// bytes; null for any other code page. Made on first request, once per code page: each byte
// converted alone by the installed converter, the pairs from the engine's tables and then
// confirmed by it all at once. With no converter installed nothing converts, and nothing is
// kept.
const KeptCodes* codesKeptThroughUtf8(int32_t codePage);
