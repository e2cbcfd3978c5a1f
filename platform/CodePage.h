// Which code pages are the system's ANSI and OEM code pages, and the system-wide hook through
// which the library's own conversion engine serves code page conversions to the platform
// (file names in the ANSI form, the ANSI current directory).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/WinTypes.h"

// Signed, as every code page number above the platform is held: one constant serves both.
constexpr int32_t CP_UTF16LE = 1200;
constexpr int32_t CP_UTF16BE = 1201;
constexpr int32_t CP_UTF8 = 65001;

// 1252, as a Western-European system answers, unless VORLUND_ACP names another code page
// the way a system locale would, or a test has pinned one.
UINT GetACP();
// 437 unless a test has pinned another.
UINT GetOEMCP();

// Test hook: pins the answers of GetACP and GetOEMCP; 0 returns to the platform setting.
void setCodePagesForTesting(UINT acp, UINT oemcp);

// A conversion between two code pages that appends to `out`; true when nothing was lost.
using PlatformConvertFn = bool (*)(UINT fromCp, UINT toCp, const char* bytes, size_t n,
                                   std::string& out);
// Every module that carries the conversion engine registers it here when it is loaded and
// removes it before it is unloaded; the platform, shared by all modules of the process, uses
// the latest registration still present. Registering a converter again moves it to the top.
void setPlatformConverter(PlatformConvertFn fn);
void removePlatformConverter(PlatformConvertFn fn);

// Converts with the registered engine. Before one is registered only UTF-8 and the two
// UTF-16 forms convert; any other code page fails with nothing appended.
bool platformConvert(UINT fromCp, UINT toCp, const char* bytes, size_t n, std::string& out);

// The strict reading of one UTF-8 character at p, n bytes left: its length, with the code
// point in *c; 0 for bytes that are not UTF-8 (overlong forms, surrogates, values past
// U+10FFFF, a truncated sequence).
size_t utf8CharAt(const unsigned char* p, size_t n, char32_t* c);

// The Unicode-only converter used until an engine is registered.
bool convertUnicodeForms(UINT fromCp, UINT toCp, const char* bytes, size_t n, std::string& out);
