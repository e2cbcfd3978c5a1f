// Which code pages are the system's ANSI and OEM code pages, and the one code page converter
// of the process: the hook through which the library's conversion engine serves every
// conversion, the platform's own (file names in the ANSI form, the ANSI current directory)
// and those of every layer above.
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

// Where a conversion writes: bytes added behind what the output already holds. A converter
// asks for room, writes into it and then commits the end of what it wrote; every reserve is
// committed before the converter returns, and only committed bytes belong to the output.
class CodePageOutput {
 public:
  // Room for at least `extra` bytes behind the committed ones, valid until the next call.
  virtual unsigned char* reserve(size_t extra) = 0;
  // Keeps the bytes of the last room up to `end`.
  virtual void commit(const unsigned char* end) = 0;
  // A copy of n bytes; an output may grow by its own rule here.
  virtual void append(const void* bytes, size_t n);

 protected:
  ~CodePageOutput() = default;
};

// An output that appends to a std::string.
class StringOutput final : public CodePageOutput {
 public:
  explicit StringOutput(std::string& s) : s_(s) {}
  unsigned char* reserve(size_t extra) override;
  void commit(const unsigned char* end) override;

 private:
  std::string& s_;
};

// A code page converter: appends the conversion of n bytes from `fromCp` to `toCp` to `out`.
// The loss rule every converter keeps: what cannot be carried over is left out, never replaced
// by a substitute, and the rest is still converted; the result is false when a character had
// no form in the target. Bytes that are no character of the source are left out the same way
// (the Unicode-only converter reports them as false, the engine's UTF-8 reader skips them
// silently). A code page the converter does not serve gives false with nothing appended.
using CodePageConverter = bool (*)(UINT fromCp, UINT toCp, const void* bytes, size_t n,
                                   CodePageOutput& out);

// The process's converter, used by the platform's ANSI functions and every layer above. The
// program's main and every module that carries the conversion engine install it while they
// run and remove it before their code goes away (a module from its DllMain, see Module.h);
// the newest installation still present serves, and installing a converter again moves it
// to the top.
void installCodePageConverter(CodePageConverter fn);
void removeCodePageConverter(CodePageConverter fn);

// Installs a converter for the life of a scope, typically a program's main.
class ScopedCodePageConverter {
 public:
  explicit ScopedCodePageConverter(CodePageConverter fn) : fn_(fn) { installCodePageConverter(fn); }
  ~ScopedCodePageConverter() { removeCodePageConverter(fn_); }
  ScopedCodePageConverter(const ScopedCodePageConverter&) = delete;
  ScopedCodePageConverter& operator=(const ScopedCodePageConverter&) = delete;

 private:
  CodePageConverter fn_;
};

// Converts with the installed converter, else with convertUnicodeForms.
bool platformConvert(UINT fromCp, UINT toCp, const void* bytes, size_t n, CodePageOutput& out);

// The strict reading of one UTF-8 character at p, n bytes left: its length, with the code
// point in *c; 0 for bytes that are not UTF-8 (overlong forms, surrogates, values past
// U+10FFFF, a truncated sequence).
size_t utf8CharAt(const unsigned char* p, size_t n, char32_t* c);

// The converter of a process without the engine: only UTF-8 (65001), UTF-16LE (1200) and
// UTF-16BE (1201) convert, by the converters' loss rule: bytes that are no character (invalid
// or truncated UTF-8, a lone surrogate where UTF-8 is wanted, half a UTF-16 unit) are left out
// and make the result false. Any other code page gives false with nothing appended.
bool convertUnicodeForms(UINT fromCp, UINT toCp, const void* bytes, size_t n, CodePageOutput& out);
