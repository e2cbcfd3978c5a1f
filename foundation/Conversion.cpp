#include "foundation/Conversion.h"

#include <cstring>
#include <string>

#include "foundation/DataBuffer.h"
#include "foundation/StringBuffer.h"
#include "platform/CodePage.h"
#include "platform/OleAuto.h"

namespace {

bool unicodeFormsOnly(int32_t fromCp, int32_t toCp, const unsigned char* bytes, uint32_t n,
                      DataBuffer& out) {
  std::string converted;
  const bool ok = convertUnicodeForms(static_cast<UINT>(fromCp), static_cast<UINT>(toCp),
                                      reinterpret_cast<const char*>(bytes), n, converted);
  out.append(converted.data(), static_cast<uint32_t>(converted.size()));
  return ok;
}

CodePageConverter g_converter = unicodeFormsOnly;

// Serves the platform's own conversions (file names in the ANSI form) with the same
// converter as the rest of the component.
bool platformBridge(UINT fromCp, UINT toCp, const char* bytes, size_t n, std::string& out) {
  DataBuffer converted;
  const bool ok = g_converter(static_cast<int32_t>(fromCp), static_cast<int32_t>(toCp),
                              reinterpret_cast<const unsigned char*>(bytes),
                              static_cast<uint32_t>(n), converted);
  out.append(reinterpret_cast<const char*>(converted.getData()), converted.getSize());
  return ok;
}

// The platform outlives this copy of the foundation when it sits in a module that is
// unloaded, so the bridge is taken back out before the module's code goes away.
struct BridgeRegistration {
  BridgeRegistration() { setPlatformConverter(platformBridge); }
  ~BridgeRegistration() { removePlatformConverter(platformBridge); }
} g_bridge;

}  // namespace

void installCodePageConverter(CodePageConverter fn) {
  g_converter = fn != nullptr ? fn : unicodeFormsOnly;
  (void)g_bridge;
  setPlatformConverter(platformBridge);
}

bool convertCodePage(int32_t fromCp, int32_t toCp, const void* bytes, uint32_t n, DataBuffer& out) {
  if (n == 0 || bytes == nullptr) return true;
  return g_converter(fromCp, toCp, static_cast<const unsigned char*>(bytes), n, out);
}

bool convertCodePageSb(int32_t fromCp, int32_t toCp, const void* bytes, uint32_t n,
                       StringBuffer& out) {
  if (n == 0 || bytes == nullptr) return true;
  if (fromCp == toCp) {
    out.appendN(static_cast<const char*>(bytes), n);
    return true;
  }
  DataBuffer converted;
  const bool ok = convertCodePage(fromCp, toCp, bytes, n, converted);
  out.appendN(reinterpret_cast<const char*>(converted.getData()), converted.getSize());
  return ok;
}

int32_t ansiCodePage() { return static_cast<int32_t>(GetACP()); }

namespace {

// A long text becomes a BSTR a piece at a time, cut after a line feed: no single- or
// double-byte table, EUC form or UTF-8 has 0x0A inside a character. Not cut: the UTF-16 and
// UTF-32 forms, UTF-7, and the ISO-2022, HZ, GB18030 and other forms numbered 50000-59999.
constexpr uint32_t kBstrPiece = 1 << 20;

bool cutsAtLineFeeds(int32_t cp) {
  return cp != 65000 && (cp < 50000 || cp > 59999) && cp != CP_UTF16LE && cp != CP_UTF16BE &&
         cp != 12000 && cp != 12001;
}

// Converted straight into the string, sized at one unit a byte (no code page cut this way
// gives more, but a piece that did would grow it), so no second copy of the result is held.
BSTR bstrInPieces(int32_t codePage, const char* bytes, uint32_t n) {
  BSTR out = SysAllocStringLen(nullptr, n);
  if (out == nullptr) return nullptr;
  UINT used = 0;
  UINT room = n;
  DataBuffer piece;
  for (uint32_t at = 0; at < n;) {
    uint32_t end = n;
    if (n - at > kBstrPiece) {
      const void* lf = std::memchr(bytes + at + kBstrPiece, '\n', n - at - kBstrPiece);
      if (lf != nullptr) end = static_cast<uint32_t>(static_cast<const char*>(lf) - bytes) + 1;
    }
    piece.setSize(0);
    convertCodePage(codePage, CP_UTF16LE, bytes + at, end - at, piece);
    const UINT units = piece.getSize() / 2;
    if (units > room - used) {
      room = used + units + (room >> 3);
      if (!SysReAllocStringLen(&out, nullptr, room)) {
        SysFreeString(out);
        return nullptr;
      }
    }
    std::memcpy(out + used, piece.getData(), static_cast<size_t>(units) * 2);
    used += units;
    at = end;
  }
  if (used != room && !SysReAllocStringLen(&out, nullptr, used)) {
    BSTR exact = SysAllocStringLen(out, used);
    SysFreeString(out);
    return exact;
  }
  return out;
}

}  // namespace

BSTR bstrFromCodePage(int32_t codePage, const char* bytes, uint32_t n) {
  if (bytes != nullptr && n > 2 * kBstrPiece && cutsAtLineFeeds(codePage))
    return bstrInPieces(codePage, bytes, n);
  DataBuffer utf16;
  if (n > 0 && bytes != nullptr) convertCodePage(codePage, CP_UTF16LE, bytes, n, utf16);
  return SysAllocStringLen(reinterpret_cast<const OLECHAR*>(utf16.getData()), utf16.getSize() / 2);
}

bool appendBstrInCodePage(BSTR s, int32_t codePage, StringBuffer& out) {
  if (s == nullptr) return true;
  const UINT units = SysStringLen(s);
  if (units == 0) return true;
  return convertCodePageSb(CP_UTF16LE, codePage, s, units * 2, out);
}
