#include "foundation/Conversion.h"

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

BSTR bstrFromCodePage(int32_t codePage, const char* bytes, uint32_t n) {
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
