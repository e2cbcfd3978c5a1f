#include "platform/Guid.h"

#include <cstdio>

#include "platform/HResult.h"

namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads exactly `digits` hex digits from *p.
bool readHex(const char*& p, int digits, uint64_t* value) {
  uint64_t v = 0;
  for (int i = 0; i < digits; ++i) {
    int h = hexValue(p[i]);
    if (h < 0) return false;
    v = (v << 4) | static_cast<uint64_t>(h);
  }
  p += digits;
  *value = v;
  return true;
}

bool expect(const char*& p, char c) {
  if (*p != c) return false;
  ++p;
  return true;
}

}  // namespace

bool guidFromString(const char* text, GUID* out) {
  if (text == nullptr || out == nullptr) return false;
  const char* p = text;
  uint64_t d1, d2, d3, d4a, d4b;
  if (!expect(p, '{') || !readHex(p, 8, &d1) || !expect(p, '-') || !readHex(p, 4, &d2) ||
      !expect(p, '-') || !readHex(p, 4, &d3) || !expect(p, '-') || !readHex(p, 4, &d4a) ||
      !expect(p, '-') || !readHex(p, 12, &d4b) || !expect(p, '}') || *p != '\0')
    return false;
  out->Data1 = static_cast<uint32_t>(d1);
  out->Data2 = static_cast<uint16_t>(d2);
  out->Data3 = static_cast<uint16_t>(d3);
  out->Data4[0] = static_cast<uint8_t>(d4a >> 8);
  out->Data4[1] = static_cast<uint8_t>(d4a);
  for (int i = 0; i < 6; ++i) out->Data4[2 + i] = static_cast<uint8_t>(d4b >> (8 * (5 - i)));
  return true;
}

std::string guidToString(REFGUID g) {
  char buf[40];
  snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2,
           g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5],
           g.Data4[6], g.Data4[7]);
  return buf;
}

HRESULT CLSIDFromString(LPCOLESTR text, CLSID* out) {
  if (text == nullptr || out == nullptr) return E_INVALIDARG;
  char narrow[40];
  size_t n = 0;
  for (; text[n] != 0; ++n) {
    if (n >= sizeof narrow - 1 || text[n] > 0x7F) return CO_E_CLASSSTRING;
    narrow[n] = static_cast<char>(text[n]);
  }
  narrow[n] = '\0';
  return guidFromString(narrow, out) ? S_OK : CO_E_CLASSSTRING;
}

int StringFromGUID2(REFGUID guid, LPOLESTR buffer, int maxChars) {
  std::string s = guidToString(guid);
  if (buffer == nullptr || maxChars < static_cast<int>(s.size()) + 1) return 0;
  for (size_t i = 0; i < s.size(); ++i) buffer[i] = static_cast<OLECHAR>(s[i]);
  buffer[s.size()] = 0;
  return static_cast<int>(s.size()) + 1;
}
