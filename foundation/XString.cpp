#include "foundation/XString.h"

#include <cstring>

#include "foundation/Conversion.h"
#include "platform/CodePage.h"

namespace {
const unsigned char kTerminator[2] = {0, 0};
}  // namespace

XString::XString() { unicode_.append(kTerminator, 2); }

void XString::clear() {
  ansi_.clear();
  utf8_.clear();
  unicode_.setData(kTerminator, 2);
  unicodeValid_ = ansiValid_ = utf8Valid_ = true;
  ansiState_ = kUnknown;
}

void XString::invalidateAllBut(bool unicode, bool ansi, bool utf8) {
  unicodeValid_ = unicode;
  ansiValid_ = ansi;
  utf8Valid_ = utf8;
}

void XString::setFromAnsi(const char* s) {
  if (s == nullptr || *s == '\0') return clear();
  ansi_.setString(s);
  invalidateAllBut(false, true, false);
  ansiState_ = kCompatible;
}

void XString::setFromUtf8(const char* s) {
  if (s == nullptr || *s == '\0') return clear();
  utf8_.setString(s);
  invalidateAllBut(false, false, true);
  ansiState_ = kUnknown;
}

void XString::setFromUnicode(const OLECHAR* s) {
  if (s == nullptr || *s == 0) return clear();
  unicode_.clear();
  unicode_.appendWideString(s);
  invalidateAllBut(true, false, false);
  ansiState_ = kUnknown;
}

void XString::setFromBSTR(BSTR s) {
  if (s == nullptr || SysStringLen(s) == 0) return clear();
  unicode_.clear();
  unicode_.appendExact(s, SysStringLen(s) * 2);
  unicode_.append(kTerminator, 2);
  invalidateAllBut(true, false, false);
  ansiState_ = kUnknown;
}

uint32_t XString::unicodeBytes() const {
  const uint32_t n = unicode_.getSize();
  return n >= 2 ? n - 2 : 0;
}

void XString::makeUnicodeValid() {
  if (unicodeValid_) return;
  unicode_.clear();
  if (utf8Valid_)
    convertCodePage(CP_UTF8, CP_UTF16LE, utf8_.getString(), utf8_.getSize(), unicode_);
  else if (ansiValid_)
    convertCodePage(ansiCodePage(), CP_UTF16LE, ansi_.getString(), ansi_.getSize(), unicode_);
  else
    return clear();
  unicode_.append(kTerminator, 2);
  unicodeValid_ = true;
}

void XString::makeAnsiValid() {
  if (ansiValid_) return;
  ansi_.clear();
  if (utf8Valid_) {
    convertCodePageSb(CP_UTF8, ansiCodePage(), utf8_.getString(), utf8_.getSize(), ansi_);
  } else if (unicodeValid_) {
    if (unicode_.getSize() > 3)
      convertCodePageSb(CP_UTF16LE, ansiCodePage(), unicode_.getData(), unicodeBytes(), ansi_);
  } else {
    return clear();
  }
  ansi_.minimizeMemory();
  ansiValid_ = true;
}

void XString::makeUtf8Valid() {
  if (utf8Valid_) return;
  utf8_.clear();
  if (ansiValid_) {
    convertCodePageSb(ansiCodePage(), CP_UTF8, ansi_.getString(), ansi_.getSize(), utf8_);
  } else if (unicodeValid_) {
    if (unicode_.getSize() > 3)
      convertCodePageSb(CP_UTF16LE, CP_UTF8, unicode_.getData(), unicodeBytes(), utf8_);
  } else {
    return clear();
  }
  utf8_.minimizeMemory();
  utf8Valid_ = true;
}

const char* XString::getAnsi() {
  makeAnsiValid();
  return ansi_.getString();
}

const char* XString::getUtf8() {
  makeUtf8Valid();
  return utf8_.getString();
}

const OLECHAR* XString::getUnicode() {
  makeUnicodeValid();
  return reinterpret_cast<const OLECHAR*>(unicode_.getData());
}

StringBuffer& XString::getUtf8Sb() {
  makeUtf8Valid();
  return utf8_;
}

int32_t XString::getNumChars() {
  if (ansiValid_) return static_cast<int32_t>(ansi_.getSize());
  makeUnicodeValid();
  return static_cast<int32_t>(unicodeBytes() / 2);
}

bool XString::isAnsiCompatible() {
  if (ansiState_ == kCompatible) return true;
  if (ansiState_ == kIncompatible) return false;
  bool ok = true;
  if (unicodeValid_) {
    ansi_.clear();
    ok = convertCodePageSb(CP_UTF16LE, ansiCodePage(), unicode_.getData(), unicodeBytes(), ansi_);
  } else if (utf8Valid_) {
    ansi_.clear();
    ok = convertCodePageSb(CP_UTF8, ansiCodePage(), utf8_.getString(), utf8_.getSize(), ansi_);
  } else {
    return true;  // only the ANSI form holds the text
  }
  ansiValid_ = true;
  ansiState_ = ok ? kCompatible : kIncompatible;
  return ok;
}

bool XString::isEmpty() {
  if (utf8Valid_) return utf8_.getSize() == 0;
  if (ansiValid_) return ansi_.getSize() == 0;
  return unicodeBytes() == 0;
}

BSTR XString::createBSTR() {
  makeUnicodeValid();
  return SysAllocStringLen(reinterpret_cast<const OLECHAR*>(unicode_.getData()),
                           unicodeBytes() / 2);
}
