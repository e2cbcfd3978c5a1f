#include "charset/KeptCodes.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "charset/ConversionTables.h"
#include "foundation/Conversion.h"
#include "foundation/DataBuffer.h"

namespace {

constexpr int32_t kMacArabic = 10004;

bool bitAt(const std::vector<uint64_t>& bits, uint32_t i) { return (bits[i >> 6] >> (i & 63)) & 1; }
void setBit(std::vector<uint64_t>& bits, uint32_t i) { bits[i >> 6] |= uint64_t{1} << (i & 63); }

bool roundTrips(int32_t codePage, const unsigned char* p, uint32_t n) {
  DataBuffer utf8;
  DataBuffer back;
  convertCodePage(codePage, CP_UTF8, p, n, utf8);
  convertCodePage(CP_UTF8, codePage, utf8.getData(), utf8.getSize(), back);
  return back.getSize() == n && (n == 0 || std::memcmp(back.getData(), p, n) == 0);
}

}  // namespace

bool KeptCodes::keeps(const unsigned char* p, uint32_t n) const {
  constexpr uint64_t kHigh = 0x8080808080808080ULL;
  uint32_t i = 0;
  if (code_.empty()) {
    // Byte by byte; eight ASCII bytes at a time are passed over when all of ASCII is kept.
    bool lost = false;
    for (; ascii_ && i + 8 <= n; i += 8) {
      uint64_t w;
      std::memcpy(&w, p + i, 8);
      if ((w & kHigh) == 0) continue;
      for (uint32_t k = i; k < i + 8; ++k) lost |= !single_[p[k]];
    }
    for (; i < n; ++i) lost |= !single_[p[i]];
    return !lost;
  }
  // Code by code as the converter reads them: two bytes where they make a code, else one.
  while (i < n) {
    if (ascii_ && n - i >= 8) {
      uint64_t w;
      std::memcpy(&w, p + i, 8);
      const uint64_t high = w & kHigh;
      if (high == 0) {
        i += 8;
        continue;
      }
      // Up to the first byte that is not ASCII.
      if constexpr (std::endian::native == std::endian::little) i += std::countr_zero(high) >> 3;
    }
    const unsigned char b = p[i];
    if (lead_[b] && i + 1 < n) {
      const uint32_t pair = static_cast<uint32_t>(b) << 8 | p[i + 1];
      if (bitAt(kept_, pair)) {
        i += 2;
        continue;
      }
      if (bitAt(code_, pair)) return false;
    }
    if (!single_[b]) return false;
    ++i;
  }
  return true;
}

const KeptCodes* codesKeptThroughUtf8(int32_t codePage) {
  const bool multiByte = isMultiByteTablePage(codePage);
  // Mac Arabic text has its right-to-left runs put in logical order when read: what comes back
  // depends on the bytes' neighbours, not on each byte alone.
  if (codePage == kMacArabic || (!multiByte && !isSingleByteTablePage(codePage))) return nullptr;
  static std::mutex guard;
  static std::map<int32_t, std::unique_ptr<KeptCodes>> known;
  const std::lock_guard<std::mutex> lock(guard);
  auto found = known.find(codePage);
  if (found != known.end()) return found->second.get();
  std::unique_ptr<KeptCodes> kept;
  // A multi-byte page is read a pair at a time by its dense tables; one with longer codes is
  // not served.
  const DenseForward* forward = multiByte ? denseMultiByteForward(codePage) : nullptr;
  const DenseReverse* reverse = multiByte ? denseReverse(codePage) : nullptr;
  if (!multiByte || (forward != nullptr && reverse != nullptr)) {
    kept = std::make_unique<KeptCodes>();
    for (int b = 0; b < 256; ++b) {
      const auto byte = static_cast<unsigned char>(b);
      kept->single_[b] = roundTrips(codePage, &byte, 1);
    }
  }
  if (kept && multiByte) {
    kept->code_.assign(1024, 0);
    kept->kept_.assign(1024, 0);
    std::vector<unsigned char> every;  // each pair the tables take back to itself
    for (uint32_t pair = 0; pair < 0x10000; ++pair) {
      const uint16_t u = forward->pair[pair];
      if (u == 0) continue;
      setBit(kept->code_, pair);
      kept->lead_[pair >> 8] = true;
      // Written back as the engine writes the unit: ASCII as itself on a page that keeps it, else
      // by the reverse table. A byte-order mark opening UTF-8 text is dropped.
      if (u == 0xFEFF || (reverse->asciiTransparent && u < 0x80) || reverse->length[u] != 2 ||
          reverse->code[u] != pair)
        continue;
      setBit(kept->kept_, pair);
      every.push_back(static_cast<unsigned char>(pair >> 8));
      every.push_back(static_cast<unsigned char>(pair));
    }
    // The installed converter must do what the engine's tables say.
    if (!roundTrips(codePage, every.data(), static_cast<uint32_t>(every.size())))
      kept->kept_.assign(1024, 0);
  }
  if (kept)
    kept->ascii_ =
        std::all_of(kept->single_.begin(), kept->single_.begin() + 0x80,
                    [](bool k) { return k; }) &&
        std::none_of(kept->lead_.begin(), kept->lead_.begin() + 0x80, [](bool l) { return l; });
  return known.emplace(codePage, std::move(kept)).first->second.get();
}
