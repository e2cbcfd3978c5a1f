// Conversions between code pages into the foundation's buffers, by the process's code page
// converter (platform/CodePage.h): the conversion engine where the program or a loaded module
// installed it, else only the Unicode forms (1200 UTF-16LE, 1201 UTF-16BE, 65001 UTF-8).
#pragma once

#include <cstdint>

#include "platform/CodePage.h"
#include "platform/WinTypes.h"

class DataBuffer;
class StringBuffer;

// A converter's output that appends to a DataBuffer, written in place: the room a converter
// reserves is the buffer's own, so the converted bytes are never copied again.
class DataBufferOutput final : public CodePageOutput {
 public:
  explicit DataBufferOutput(DataBuffer& buffer) : buffer_(buffer) {}
  unsigned char* reserve(size_t extra) override;
  void commit(const unsigned char* end) override;
  void append(const void* bytes, size_t n) override;

 private:
  DataBuffer& buffer_;
};

// Appends the conversion of n bytes from `fromCp` to `toCp` to `out`, by the converter's rule:
// false when a character could not be converted (it is left out and the rest still
// converted) or when the converter does not serve the pair (nothing appended).
bool convertCodePage(int32_t fromCp, int32_t toCp, const void* bytes, uint32_t n, DataBuffer& out);
// The same, appending to a text.
bool convertCodePageSb(int32_t fromCp, int32_t toCp, const void* bytes, uint32_t n,
                       StringBuffer& out);

// The ANSI code page as the platform reports it now.
int32_t ansiCodePage();

// A BSTR made a piece at a time, each piece of text converted straight into it, for a text too
// long to hold twice. Pieces are converted apart, so each but the last must end after a line
// feed, in a code page that cutsAtLineFeeds.
class BstrBuilder final : public CodePageOutput {
 public:
  explicit BstrBuilder(int32_t codePage) : codePage_(codePage) {}
  ~BstrBuilder();
  BstrBuilder(const BstrBuilder&) = delete;
  BstrBuilder& operator=(const BstrBuilder&) = delete;

  // No single- or double-byte table, EUC form or UTF-8 has 0x0A inside a character; the UTF-16
  // and UTF-32 forms, UTF-7 and the ISO-2022, HZ, GB18030 and other forms numbered 50000-59999
  // do, or keep a state across lines.
  static bool cutsAtLineFeeds(int32_t codePage);
  // Converts n bytes of the code page onto the end of the string.
  void add(const char* bytes, uint32_t n);
  // The string, exactly as long as what was added (empty for nothing); null when it could not
  // be made that long. The builder is empty afterwards.
  BSTR take();

  unsigned char* reserve(size_t extra) override;
  void commit(const unsigned char* end) override;

 private:
  int32_t codePage_;
  BSTR text_ = nullptr;
  UINT used_ = 0;  // UTF-16 units
  UINT room_ = 0;
  bool failed_ = false;
  DataBuffer* spill_ = nullptr;  // where a conversion goes once the string cannot grow
};

// A fresh BSTR of n bytes read in `codePage`; an empty BSTR for no text.
BSTR bstrFromCodePage(int32_t codePage, const char* bytes, uint32_t n);
// Appends the BSTR's UTF-16 converted to `codePage`; a null BSTR appends nothing.
bool appendBstrInCodePage(BSTR s, int32_t codePage, StringBuffer& out);
