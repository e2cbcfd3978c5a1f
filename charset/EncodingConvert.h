// The conversion engine: converts a byte string from one code page to another through
// UTF-16, with the embedded tables for the table-driven code pages and dedicated codecs for
// the Unicode and ISO-2022 forms. Unmappable characters are dropped and reported as false.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/CodePage.h"

class DataBuffer;

class EncodingConvert {
 public:
  EncodingConvert() = default;
  virtual ~EncodingConvert() = default;

  // Appends the conversion to `out`; true when every character was converted. Null or empty
  // input converts to nothing and is true. A code page the engine does not handle gives false
  // with nothing written for it.
  bool convert(int32_t fromCodePage, int32_t toCodePage, const unsigned char* bytes,
               uint32_t length, DataBuffer& out);
  bool convert(int32_t fromCodePage, int32_t toCodePage, const unsigned char* bytes,
               uint32_t length, CodePageOutput& out);
  bool convertFromAnsi(int32_t toCodePage, const unsigned char* bytes, uint32_t length,
                       DataBuffer& out);
  bool convertToAnsi(int32_t fromCodePage, const unsigned char* bytes, uint32_t length,
                     DataBuffer& out);

 private:
  bool convertTo(int32_t from, int32_t to, const unsigned char* bytes, uint32_t length,
                 CodePageOutput& out);
  bool core(int32_t from, int32_t to, const unsigned char* bytes, uint32_t length,
            CodePageOutput& out);
  bool pivot(int32_t from, int32_t to, const unsigned char* bytes, uint32_t length,
             CodePageOutput& out);

  // The step being run, and whether it is one half of a conversion through UTF-16.
  int32_t fromCodePage_ = 0;
  int32_t toCodePage_ = 0;
  bool firstHalf_ = false;
  bool secondHalf_ = false;
};

// True when the engine converts this code page.
bool isConvertibleCodePage(int32_t codePage);

// Looks both names up and converts; false with nothing written when either is unknown.
bool convertByName(const char* fromName, const char* toName, const unsigned char* bytes,
                   uint32_t length, DataBuffer& out);

// The engine as the process's code page converter (CodePageConverter in platform/CodePage.h).
// Installed by each program's main and each module's DllMain that link the engine:
//   installCodePageConverter(convertWithEngine);
bool convertWithEngine(UINT fromCp, UINT toCp, const void* bytes, size_t n, CodePageOutput& out);
