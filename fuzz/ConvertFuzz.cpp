// Feeds arbitrary bytes through the conversion engine between every pair of code page kinds
// and through the base64 and quoted-printable decoders: nothing may crash, read past its
// input or loop; a text may be taken as kept in its charset only when it comes back from UTF-8
// unchanged; and quoted-printable text may be copied only when it is what re-encoding writes.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "charset/EncodingConvert.h"
#include "charset/KeptCodes.h"
#include "foundation/ByteCodecs.h"
#include "foundation/DataBuffer.h"
#include "foundation/StringBuffer.h"

namespace {

const int32_t kCodePages[] = {1200, 1201, 65000, 65001, 65005, 65006, 50220, 50225,
                              932,  936,  949,   950,   1361,  10001, 51932, 51949,
                              1252, 37,   10004, 20127, 28591, 864,   20000, 0};
constexpr size_t kNumCodePages = sizeof kCodePages / sizeof kCodePages[0];

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const int32_t from = kCodePages[data[0] % kNumCodePages];
  const int32_t to = kCodePages[data[1] % kNumCodePages];
  const unsigned char* text = data + 2;
  const uint32_t n = static_cast<uint32_t>(size - 2);

  EncodingConvert engine;
  DataBuffer out;
  engine.convert(from, to, text, n, out);

  // A text is taken as kept in its charset exactly when it comes back from UTF-8 unchanged.
  if (const KeptCodes* kept = codesKeptThroughUtf8(from)) {
    DataBuffer utf8;
    DataBuffer back;
    engine.convert(from, 65001, text, n, utf8);
    engine.convert(65001, from, utf8.getData(), utf8.getSize(), back);
    const bool same = back.getSize() == n && (n == 0 || std::memcmp(back.getData(), text, n) == 0);
    if (kept->keeps(text, n) != same) __builtin_trap();
  }

  DataBuffer decoded;
  decodeBase64(reinterpret_cast<const char*>(text), n, decoded);
  decodeBase64Strict(reinterpret_cast<const char*>(text), n, decoded);
  decodeQuotedPrintable(reinterpret_cast<const char*>(text), n, decoded);
  decodeQ(reinterpret_cast<const char*>(text), n, decoded);

  // Quoted-printable text is copied as it stands exactly when encoding the bytes it decodes to
  // gives it back.
  DataBuffer qpBytes;
  decodeQuotedPrintable(reinterpret_cast<const char*>(text), n, qpBytes);
  const int32_t lineLength = data[1] % 4 == 0 ? 1 + data[0] % 8 : 72;
  StringBuffer copied;
  StringBuffer again;
  const bool copy =
      copyQuotedPrintableLines(reinterpret_cast<const char*>(text), n, lineLength, nullptr, copied);
  encodeQuotedPrintable(qpBytes.getData(), qpBytes.getSize(), lineLength, again);
  const bool same = again.getSize() == n && std::memcmp(again.getString(), text, n) == 0;
  if (copy != same || copied.getSize() != (copy ? n : 0)) __builtin_trap();
  // Broken into lines anew, the text gives what encoding again gives, or nothing.
  StringBuffer rewrapped;
  if (rewrapQuotedPrintable(reinterpret_cast<const char*>(text), n, lineLength, nullptr, rewrapped)
          ? rewrapped.getSize() != again.getSize() ||
                std::memcmp(rewrapped.getString(), again.getString(), again.getSize()) != 0
          : rewrapped.getSize() != 0)
    __builtin_trap();
  return 0;
}
