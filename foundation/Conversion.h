// The one entry point for every conversion between code pages in the component. The
// conversion engine installs itself here when it is linked in; until then only the Unicode
// forms (1200 UTF-16LE, 1201 UTF-16BE, 65001 UTF-8) convert.
#pragma once

#include <cstdint>

#include "platform/WinTypes.h"

class DataBuffer;
class StringBuffer;

// Appends the conversion of n bytes from `fromCp` to `toCp` to `out`. Returns false when a
// character could not be converted (it is dropped and the rest still converted) or when no
// converter serves the pair (nothing appended).
using CodePageConverter = bool (*)(int32_t fromCp, int32_t toCp, const unsigned char* bytes,
                                   uint32_t n, DataBuffer& out);

// Makes `fn` the converter of every later call (the engine does this once at load time).
void installCodePageConverter(CodePageConverter fn);

bool convertCodePage(int32_t fromCp, int32_t toCp, const void* bytes, uint32_t n, DataBuffer& out);
// The same, appending to a text.
bool convertCodePageSb(int32_t fromCp, int32_t toCp, const void* bytes, uint32_t n,
                       StringBuffer& out);

// The ANSI code page as the platform reports it now.
int32_t ansiCodePage();

// A fresh BSTR of n bytes read in `codePage`; an empty BSTR for no text.
BSTR bstrFromCodePage(int32_t codePage, const char* bytes, uint32_t n);
// Appends the BSTR's UTF-16 converted to `codePage`; a null BSTR appends nothing.
bool appendBstrInCodePage(BSTR s, int32_t codePage, StringBuffer& out);
