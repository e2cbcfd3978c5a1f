// GUIDs and their registry text form "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
#pragma once

#include <string>

#include "platform/WinTypes.h"

struct GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
};
typedef GUID IID;
typedef GUID CLSID;
typedef GUID UUID;
typedef const GUID& REFGUID;
typedef const IID& REFIID;
typedef const CLSID& REFCLSID;

inline bool operator==(const GUID& a, const GUID& b) {
  return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3 &&
         __builtin_memcmp(a.Data4, b.Data4, 8) == 0;
}
inline bool IsEqualGUID(REFGUID a, REFGUID b) { return a == b; }
#define IsEqualIID IsEqualGUID
#define IsEqualCLSID IsEqualGUID

constexpr GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
constexpr IID IID_NULL = GUID_NULL;

// Parses the registry form, braces required, hex digits of either case.
// False (and *out untouched) for anything else.
bool guidFromString(const char* text, GUID* out);

// The registry form with upper-case hex digits, as the registry keys are written.
std::string guidToString(REFGUID guid);

// Windows' text entry points for the same forms (UTF-16 with braces).
HRESULT CLSIDFromString(LPCOLESTR text, CLSID* out);
int StringFromGUID2(REFGUID guid, LPOLESTR buffer, int maxChars);
