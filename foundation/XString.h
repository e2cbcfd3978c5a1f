// A text held in up to three forms (ANSI, UTF-8, UTF-16) that are converted lazily. At
// least one form is valid at any time; a stale form is rebuilt from a valid one on demand,
// with the ANSI code page the platform reports at the time of the call.
#pragma once

#include <cstdint>

#include "foundation/DataBuffer.h"
#include "foundation/StringBuffer.h"
#include "foundation/VorlundObject.h"
#include "platform/WinTypes.h"

class XString : public VorlundObject {
 public:
  XString();
  XString(const XString&) = delete;
  XString& operator=(const XString&) = delete;

  // Each makes its own form the only valid one; null or empty clears the whole string.
  void setFromAnsi(const char* s);
  void setFromUtf8(const char* s);
  void setFromUnicode(const OLECHAR* s);
  void setFromBSTR(BSTR s);
  void clear();

  const char* getAnsi();
  const char* getUtf8();
  // Little-endian UTF-16, NUL-terminated.
  const OLECHAR* getUnicode();
  StringBuffer& getUtf8Sb();

  // Characters of the ANSI form when it is valid, else UTF-16 units.
  int32_t getNumChars();
  // True when the text converts to the ANSI code page without loss.
  bool isAnsiCompatible();
  bool isEmpty();
  BSTR createBSTR();

 private:
  enum AnsiState : int32_t { kUnknown = 0, kCompatible = 1, kIncompatible = 2 };

  void makeUnicodeValid();
  void makeAnsiValid();
  void makeUtf8Valid();
  void invalidateAllBut(bool unicode, bool ansi, bool utf8);
  // UTF-16 bytes without the terminator.
  uint32_t unicodeBytes() const;

  int32_t ansiState_ = kUnknown;
  bool unicodeValid_ = true;
  bool ansiValid_ = true;
  bool utf8Valid_ = true;
  DataBuffer unicode_;
  StringBuffer ansi_;
  StringBuffer utf8_;
};
