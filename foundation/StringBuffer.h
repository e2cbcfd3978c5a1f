// Growable 8-bit text in one code page; which one (ANSI, UTF-8 or raw MIME bytes) is the
// caller's business. The block always holds the text followed by a NUL byte.
#pragma once

#include <cstdint>

#include "foundation/VorlundObject.h"
#include "platform/WinTypes.h"

class DataBuffer;
class ExtPtrArray;
class LogBase;
class XString;

class StringBuffer : public VorlundObject {
 public:
  // 200 bytes of room, growth increment 200.
  StringBuffer();
  // Room and growth increment `initialCapacity` (200 when 0).
  explicit StringBuffer(int32_t initialCapacity);
  // A copy in a block of exactly length + 1 bytes; null gives an empty text.
  explicit StringBuffer(const char* s);
  // n bytes copied into a block of n + 1 bytes; growth increment 200 when 0.
  StringBuffer(const char* bytes, uint32_t n, int32_t growthIncrement);
  // The BSTR converted to the ANSI code page.
  explicit StringBuffer(BSTR s);
  StringBuffer(const StringBuffer&) = delete;
  StringBuffer& operator=(const StringBuffer&) = delete;
  ~StringBuffer() override;

  // --- appending and setting
  // A null pointer does nothing.
  void append(const char* s);
  // n raw bytes, NULs included; nothing when bytes is null or n <= 0.
  void appendN(const char* bytes, int64_t n);
  void appendChar(char c);
  void appendSb(const StringBuffer& other);
  void appendData(const DataBuffer& data);
  // Replaces the text with the bytes, taking their block over (a large decrypted body is not
  // copied); `bytes` continues empty.
  void takeData(DataBuffer& bytes);
  void appendInt(int32_t n);
  // The BSTR converted to the ANSI code page; null does nothing.
  void appendBSTR(BSTR s);
  void prepend(const char* s);
  // Safe when `s` points into this text.
  void setString(const char* s);
  // Clears, then appends the other text up to its first NUL.
  void setSb(const StringBuffer& other);
  // Length 0; keeps the block.
  void clear();
  // Drops the last n bytes, stopping at empty.
  void shorten(uint32_t n);
  // Makes room for n more bytes without changing the text.
  void expectNumBytes(uint32_t n);
  // Moves the text into a block of exactly length + 1 bytes when it wastes more than 4.
  void minimizeMemory();
  // Hands the block to the caller (free it with vorlundFree); continues empty.
  char* takeString(uint32_t* length);

  // --- queries
  const char* getString() const;
  uint32_t getSize() const;
  int32_t capacity() const;
  int32_t growthIncrement() const;
  // 0 outside 0..length-1.
  char charAt(uint32_t i) const;
  char lastChar() const;
  bool isEmpty() const { return getSize() == 0; }
  bool is7bit() const;
  // Byte-exact; null equals an empty text.
  bool equals(const char* s) const;
  bool equalsSb(const StringBuffer& other) const;
  bool equalsIgnoreCase(const char* s) const;
  // -1, 0 or 1 by the first differing unsigned byte.
  int compare(const char* s) const;
  bool beginsWith(const char* s) const;
  bool contains(const char* s) const;
  // Case folded for 'a'-'z' only.
  bool containsNoCase(const char* s) const;
  bool containsChar(char c) const;

  // --- editing in place
  void trim();
  void trim2();
  void trimInsideSpaces();
  void removeChar(char c);
  void removeCharFrom(char c, uint32_t start);
  void replaceChar(char a, char b);
  // Replaces each byte equal to one of the first five bytes of `set` by c.
  void replaceAnyOf(const char* set, char c);
  // Non-overlapping, left to right; returns the number of replacements.
  int32_t replaceAll(const char* find, const char* replacement);
  void toLower();
  void toUpper();
  void toCRLF();
  void toLF();
  void entityEncode();
  void entityEncodeNoQuotes();
  // Appends n bytes with "&", "<" and ">" as entities: the escaping of XML element text.
  void appendEntityEncodedNoQuotes(const char* text, uint32_t n);
  void appendXmlEscaped(const char* s);
  // Converts the text from the ANSI code page to `codePage`.
  bool convertFromAnsi(int32_t codePage);
  void appendLastWindowsError();
  void appendWindowsError(DWORD code);

  // --- conversions out
  // The text read in the ANSI code page, as a new BSTR.
  BSTR createBSTR() const;

  // --- splitting: each piece is a new StringBuffer owned by the array
  void split(ExtPtrArray& pieces, char delimiter, bool honorQuotes, bool honorEscapes) const;
  void splitOnAny(ExtPtrArray& pieces, const char* delimiters, bool honorQuotes,
                  bool honorEscapes) const;
  void splitOnString(ExtPtrArray& pieces, const char* delimiter, int32_t maxPieces) const;

  // --- files
  // Appends a whole file; a UTF-16 byte-order mark converts it to UTF-8, a UTF-8 one is
  // dropped. False with the reason in the log; the text keeps what it held.
  bool loadFile(XString& path, LogBase* log);
  // A new text holding the file, or null.
  static StringBuffer* createFromFile(XString& path, LogBase* log);

  // "%d" in one buffer shared by every caller; valid until the next call.
  static const char* intToString(int32_t n);

  // Writable access to the room behind the text, for bulk writes; commit with addLength.
  char* appendPointer(uint32_t n);
  void addLength(uint32_t n);

 private:
  void check() const;
  void init(uint32_t blockSize, int32_t increment);
  void ensureRoom(uint64_t extra, bool adjustIncrement);
  void replaceRange(uint32_t pos, uint32_t count, const char* with, uint32_t withLen);
  void splitImpl(ExtPtrArray& pieces, const char* delimiters, uint32_t numDelimiters,
                 bool honorQuotes, bool honorEscapes) const;

  unsigned char marker_;
  char* text_;
  int32_t capacity_;
  uint32_t length_;
  int32_t increment_;
};
