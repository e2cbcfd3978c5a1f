// The codecs of the entity layer: base64 and quoted-printable bodies (forwarded to the byte
// codecs of foundation/) and the RFC 2047 encoded words of header values, which need the
// charset names and the conversion entry point.
#pragma once

#include <cstdint>

class DataBuffer;
class StringBuffer;

class ContentCoding {
 public:
  static constexpr int32_t kDefaultLineLength = 72;

  ContentCoding() = default;
  virtual ~ContentCoding() = default;

  int32_t lineLength() const { return lineLength_; }
  void setLineLength(int32_t n) { lineLength_ = n; }

  // --- bodies; every operation appends to its output
  // Base64 broken at lineLength with CRLF, always ending in CRLF; nothing for no bytes.
  void encodeBase64Lines(const void* bytes, uint32_t n, StringBuffer& out) const;
  // What encodeBase64Lines gives for the bytes base64 `text` holds, when the text is in the
  // form that encoder writes but for its line breaks; false, nothing appended, otherwise.
  bool rewrapBase64Lines(const char* text, uint32_t n, StringBuffer& out) const;
  // Base64 on one line, as text or as a new block (vorlundFree it) with its length.
  void encodeBase64(const void* bytes, uint32_t n, StringBuffer& out) const;
  char* encodeBase64(const void* bytes, uint32_t n, uint32_t* length) const;
  // False and nothing appended on a byte that cannot be base64 text.
  bool decodeBase64Strict(const char* text, uint32_t n, DataBuffer& out) const;
  // Never fails on content.
  void decodeBase64(const char* text, uint32_t n, DataBuffer& out) const;
  void encodeQuotedPrintable(const void* bytes, uint32_t n, StringBuffer& out) const;
  // Quoted-printable `text` itself when it is what encodeQuotedPrintable gives for the bytes
  // it decodes to, each escape standing for a byte `escapable` marks (null: any); false,
  // nothing appended, otherwise.
  bool copyQuotedPrintableLines(const char* text, uint32_t n, const bool* escapable,
                                StringBuffer& out) const;
  // What encodeQuotedPrintable gives for the bytes `text` decodes to, taken from the text's
  // own tokens with its lines broken anew, when the text uses only forms read exactly; false,
  // nothing appended, otherwise.
  bool rewrapQuotedPrintable(const char* text, uint32_t n, const bool* escapable,
                             StringBuffer& out) const;
  bool decodeQuotedPrintable(const char* text, uint32_t n, DataBuffer& out) const;
  void encodeQ(const void* bytes, uint32_t n, StringBuffer& out) const;
  void decodeQ(const char* text, uint32_t n, DataBuffer& out) const;

  // --- encoded words; `bytes` are in the charset named, `out` is appended to
  // "=?charset?B?...?=" and "=?charset?Q?...?=".
  void makeWordB(const void* bytes, uint32_t n, const char* charset, StringBuffer& out) const;
  void makeWordQ(const void* bytes, uint32_t n, const char* charset, StringBuffer& out) const;
  // A header value as one word, or, from 24 (B) or 35 (Q) bytes on, as words of at most 12
  // or 17 UTF-16 units each, separated by CRLF TAB. A value that does not convert to UTF-16
  // whole stays one word, so nothing of it is lost.
  void encodeWordsB(const void* bytes, uint32_t n, const char* charset, StringBuffer& out) const;
  void encodeWordsQ(const void* bytes, uint32_t n, const char* charset, StringBuffer& out) const;
  // One word, B for the East Asian, Thai, Turkish and Arabic charsets and Q for the rest;
  // text that already holds encoded words (in its first 100 bytes) is copied unchanged.
  void encodeWordForCharset(const void* bytes, uint32_t n, const char* charset,
                            StringBuffer& out) const;

  // Replaces `text` by its UTF-8 form with every encoded word decoded ("8bit" labels raw
  // UTF-8). From an incomplete word on, the text is kept as it stands.
  void decodeWords(StringBuffer& text) const;
  // The same walk into bytes, without charset conversion.
  void decodeWordsToBytes(const char* text, uint32_t n, DataBuffer& out) const;

 private:
  void encodeWords(const void* bytes, uint32_t n, const char* charset, bool b,
                   StringBuffer& out) const;

  int32_t lineLength_ = kDefaultLineLength;  // where body lines are broken
};

// How a header value is written in a given charset.
enum class HeaderEncoding {
  kB,     // converted and written with B words where words are needed, 7-bit values too
  kNone,  // written as it stands, only folded
  kQ,     // converted and written with Q words where words are needed
};

// The choice for a UTF-8 header value written in code page `codePage`: B for the multi-byte,
// Unicode and Arabic code pages, unencoded for 7-bit values or US-ASCII, Q otherwise.
HeaderEncoding chooseHeaderEncoding(int32_t codePage, const StringBuffer& utf8Value);

// The choice above together with what the words are made of: `bytes` gets the value in the
// code page and `charsetName` its written name. When any character of the value does not
// convert, or the code page has no written name to label words with, the words carry the
// UTF-8 value itself labelled "utf-8", so nothing is garbled or lost. For kNone `bytes` gets the
// value unchanged and `charsetName` is empty. Both outputs are replaced.
HeaderEncoding prepareHeaderValue(int32_t codePage, const StringBuffer& utf8Value,
                                  StringBuffer& bytes, StringBuffer& charsetName);
