#include "foundation/StringBuffer.h"

#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

#include "foundation/Conversion.h"
#include "foundation/DataBuffer.h"
#include "foundation/ExtPtrArray.h"
#include "foundation/Fatal.h"
#include "foundation/FileAccess.h"
#include "foundation/LogBase.h"
#include "foundation/Memory.h"
#include "foundation/XString.h"
#include "platform/CodePage.h"
#include "platform/Errors.h"

namespace {

constexpr unsigned char kLive = 0xAA;
constexpr int32_t kDefaultIncrement = 200;
constexpr int32_t kIncrementCeiling = 500000;
constexpr uint32_t kFiller = 0xDDDDDDDD;

uint32_t lengthOf(const char* s) { return static_cast<uint32_t>(std::strlen(s)); }

}  // namespace

void StringBuffer::check() const {
  if (marker_ != kLive) fatalError("StringBuffer used after destruction or never constructed");
}

void StringBuffer::init(uint32_t blockSize, int32_t increment) {
  marker_ = kLive;
  text_ = static_cast<char*>(vorlundAlloc(blockSize));
  text_[0] = '\0';
  capacity_ = static_cast<int32_t>(blockSize);
  length_ = 0;
  increment_ = increment;
}

StringBuffer::StringBuffer() { init(kDefaultIncrement, kDefaultIncrement); }

StringBuffer::StringBuffer(int32_t initialCapacity) {
  const int32_t size = initialCapacity <= 0 ? kDefaultIncrement : initialCapacity;
  init(static_cast<uint32_t>(size), size);
}

StringBuffer::StringBuffer(const char* s) {
  if (s == nullptr) {
    init(4, kDefaultIncrement);
    return;
  }
  const uint32_t n = lengthOf(s);
  init(n + 1, kDefaultIncrement);
  std::memcpy(text_, s, n + 1);
  length_ = n;
}

StringBuffer::StringBuffer(const char* bytes, uint32_t n, int32_t growthIncrement) {
  init(n + 1, growthIncrement == 0 ? kDefaultIncrement : growthIncrement);
  if (bytes != nullptr && n > 0) {
    std::memcpy(text_, bytes, n);
    length_ = n;
  }
  text_[length_] = '\0';
}

StringBuffer::StringBuffer(BSTR s) {
  if (s == nullptr || SysStringLen(s) == 0) {
    init(4, kDefaultIncrement);
    return;
  }
  StringBuffer ansi;
  appendBstrInCodePage(s, ansiCodePage(), ansi);
  init(ansi.length_ + 5, kDefaultIncrement);
  std::memcpy(text_, ansi.text_, ansi.length_ + 1);
  length_ = ansi.length_;
}

StringBuffer::~StringBuffer() {
  check();
  // Volatile stores, so the compiler cannot drop them as writes to a dying object.
  *const_cast<volatile unsigned char*>(&marker_) = 0;
  vorlundFree(text_);
  // Overwritten so that a use after destruction shows up in a debugger at once.
  std::memset(&text_, 0xDD, sizeof text_);
  *const_cast<volatile int32_t*>(&capacity_) = static_cast<int32_t>(kFiller);
  *const_cast<volatile uint32_t*>(&length_) = kFiller;
  *const_cast<volatile int32_t*>(&increment_) = static_cast<int32_t>(kFiller);
}

// The text grows when length + extra >= capacity, so the NUL always fits; the increment then
// halves the new capacity up to its ceiling, so repeated appends grow geometrically.
void StringBuffer::ensureRoom(uint64_t extra, bool adjustIncrement) {
  if (length_ + extra < static_cast<uint64_t>(capacity_)) return;
  const uint64_t wanted = length_ + extra + static_cast<uint64_t>(increment_) + 1;
  if (wanted > 0x7FFFFFF0ULL) fatalError("StringBuffer larger than 2 GB");
  text_ = static_cast<char*>(vorlundRealloc(text_, wanted));
  capacity_ = static_cast<int32_t>(wanted);
  if (adjustIncrement && increment_ < capacity_ && increment_ < kIncrementCeiling) {
    const int32_t half = capacity_ / 2;
    increment_ = half < kIncrementCeiling ? half : kIncrementCeiling;
  }
}

void StringBuffer::append(const char* s) {
  check();
  if (s == nullptr) return;
  appendN(s, lengthOf(s));
  text_[length_] = '\0';
}

void StringBuffer::appendN(const char* bytes, int64_t n) {
  check();
  if (bytes == nullptr || n <= 0) return;
  // The bytes may lie inside this text, which the growth below can move.
  if (bytes >= text_ && bytes < text_ + capacity_) {
    StringBuffer copy(bytes, static_cast<uint32_t>(n), 0);
    appendN(copy.text_, n);
    return;
  }
  ensureRoom(static_cast<uint64_t>(n), true);
  std::memcpy(text_ + length_, bytes, static_cast<size_t>(n));
  length_ += static_cast<uint32_t>(n);
  text_[length_] = '\0';
}

void StringBuffer::appendChar(char c) {
  check();
  ensureRoom(1, true);
  text_[length_++] = c;
  text_[length_] = '\0';
}

void StringBuffer::appendSb(const StringBuffer& other) {
  other.check();
  appendN(other.text_, other.length_);
}

void StringBuffer::appendData(const DataBuffer& data) {
  appendN(reinterpret_cast<const char*>(data.getData()), data.getSize());
}

void StringBuffer::takeData(DataBuffer& bytes) {
  check();
  uint32_t n = 0, room = 0;
  auto* block = reinterpret_cast<char*>(bytes.takeBlock(&n, &room));
  if (block == nullptr) {
    clear();
    return;
  }
  if (room > 0x7FFFFFF0U) fatalError("StringBuffer larger than 2 GB");
  if (room <= n) {  // the NUL needs a byte of its own
    block = static_cast<char*>(vorlundRealloc(block, size_t(n) + 1));
    room = n + 1;
  }
  vorlundFree(text_);
  text_ = block;
  text_[n] = '\0';
  length_ = n;
  capacity_ = static_cast<int32_t>(room);
}

void StringBuffer::appendInt(int32_t n) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%d", n);
  append(digits);
}

void StringBuffer::appendBSTR(BSTR s) {
  check();
  if (s == nullptr) return;
  appendBstrInCodePage(s, ansiCodePage(), *this);
}

void StringBuffer::prepend(const char* s) {
  check();
  if (s == nullptr || *s == '\0') return;
  StringBuffer copy(s);
  replaceRange(0, 0, copy.text_, copy.length_);
}

void StringBuffer::setString(const char* s) {
  check();
  StringBuffer copy(s);
  clear();
  appendSb(copy);
}

void StringBuffer::setSb(const StringBuffer& other) {
  check();
  if (&other == this) return;
  clear();
  append(other.getString());
}

void StringBuffer::clear() {
  check();
  length_ = 0;
  text_[0] = '\0';
}

void StringBuffer::shorten(uint32_t n) {
  check();
  length_ = n >= length_ ? 0 : length_ - n;
  text_[length_] = '\0';
}

void StringBuffer::expectNumBytes(uint32_t n) {
  check();
  ensureRoom(n, false);
}

void StringBuffer::minimizeMemory() {
  check();
  if (static_cast<uint64_t>(capacity_) <= static_cast<uint64_t>(length_) + 4) return;
  text_ = static_cast<char*>(vorlundRealloc(text_, length_ + 1));
  capacity_ = static_cast<int32_t>(length_ + 1);
}

char* StringBuffer::takeString(uint32_t* length) {
  check();
  char* block = text_;
  if (length != nullptr) *length = length_;
  const int32_t fresh = increment_ > 0 ? increment_ : kDefaultIncrement;
  text_ = static_cast<char*>(vorlundAlloc(static_cast<size_t>(fresh)));
  text_[0] = '\0';
  capacity_ = fresh;
  length_ = 0;
  return block;
}

char* StringBuffer::appendPointer(uint32_t n) {
  check();
  ensureRoom(n, true);
  return text_ + length_;
}

void StringBuffer::addLength(uint32_t n) {
  check();
  if (static_cast<uint64_t>(length_) + n >= static_cast<uint64_t>(capacity_))
    fatalError("StringBuffer length beyond its block");
  length_ += n;
  text_[length_] = '\0';
}

const char* StringBuffer::getString() const {
  check();
  return text_;
}

uint32_t StringBuffer::getSize() const {
  check();
  return length_;
}

int32_t StringBuffer::capacity() const {
  check();
  return capacity_;
}

int32_t StringBuffer::growthIncrement() const {
  check();
  return increment_;
}

char StringBuffer::charAt(uint32_t i) const {
  check();
  return i < length_ ? text_[i] : '\0';
}

char StringBuffer::lastChar() const {
  check();
  return length_ > 0 ? text_[length_ - 1] : '\0';
}

bool StringBuffer::is7bit() const {
  check();
  for (uint32_t i = 0; i < length_; ++i)
    if (static_cast<unsigned char>(text_[i]) >= 0x80) return false;
  return true;
}

bool StringBuffer::equals(const char* s) const {
  check();
  if (s == nullptr) return length_ == 0;
  return std::strcmp(text_, s) == 0;
}

bool StringBuffer::equalsSb(const StringBuffer& other) const {
  check();
  other.check();
  return length_ == other.length_ && std::memcmp(text_, other.text_, length_) == 0;
}

bool StringBuffer::equalsIgnoreCase(const char* s) const {
  check();
  if (s == nullptr) return length_ == 0;
  return strcasecmp(text_, s) == 0;
}

int StringBuffer::compare(const char* s) const {
  check();
  const int r = std::strcmp(text_, s == nullptr ? "" : s);
  return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

bool StringBuffer::beginsWith(const char* s) const {
  check();
  if (s == nullptr) return false;
  return std::strncmp(text_, s, std::strlen(s)) == 0;
}

bool StringBuffer::contains(const char* s) const {
  check();
  if (s == nullptr) return false;
  return std::strstr(text_, s) != nullptr;
}

bool StringBuffer::containsNoCase(const char* s) const {
  check();
  if (s == nullptr) return false;
  auto fold = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; };
  const size_t n = std::strlen(s);
  if (n == 0) return true;
  for (uint32_t i = 0; i + n <= length_; ++i) {
    size_t k = 0;
    while (k < n && fold(text_[i + k]) == fold(s[k])) ++k;
    if (k == n) return true;
  }
  return false;
}

bool StringBuffer::containsChar(char c) const {
  check();
  return std::memchr(text_, c, length_) != nullptr;
}

void StringBuffer::trim() {
  check();
  uint32_t start = 0;
  uint32_t end = length_;
  while (start < end && (text_[start] == ' ' || text_[start] == '\t')) ++start;
  while (end > start && (text_[end - 1] == ' ' || text_[end - 1] == '\t')) --end;
  std::memmove(text_, text_ + start, end - start);
  length_ = end - start;
  text_[length_] = '\0';
}

void StringBuffer::trim2() {
  check();
  auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  uint32_t start = 0;
  uint32_t end = length_;
  while (start < end && isSpace(text_[start])) ++start;
  while (end > start && isSpace(text_[end - 1])) --end;
  std::memmove(text_, text_ + start, end - start);
  length_ = end - start;
  text_[length_] = '\0';
}

void StringBuffer::trimInsideSpaces() {
  check();
  uint32_t out = 0;
  for (uint32_t i = 0; i < length_; ++i) {
    char c = text_[i];
    if (c == '\r' || c == '\n' || c == '\t') c = ' ';
    if (c == ' ' && out > 0 && text_[out - 1] == ' ') continue;
    text_[out++] = c;
  }
  length_ = out;
  text_[length_] = '\0';
}

void StringBuffer::removeChar(char c) { removeCharFrom(c, 0); }

void StringBuffer::removeCharFrom(char c, uint32_t start) {
  check();
  if (start >= length_) return;
  uint32_t out = start;
  for (uint32_t i = start; i < length_; ++i)
    if (text_[i] != c) text_[out++] = text_[i];
  length_ = out;
  text_[length_] = '\0';
}

void StringBuffer::replaceChar(char a, char b) {
  check();
  for (uint32_t i = 0; i < length_; ++i)
    if (text_[i] == a) text_[i] = b;
}

void StringBuffer::replaceAnyOf(const char* set, char c) {
  check();
  if (set == nullptr) return;
  const size_t n = std::min<size_t>(std::strlen(set), 5);
  for (uint32_t i = 0; i < length_; ++i)
    if (std::memchr(set, text_[i], n) != nullptr) text_[i] = c;
}

int32_t StringBuffer::replaceAll(const char* find, const char* replacement) {
  check();
  if (find == nullptr || *find == '\0') return 0;
  if (replacement == nullptr) replacement = "";
  const uint32_t findLen = lengthOf(find);
  const uint32_t replLen = lengthOf(replacement);
  StringBuffer result(increment_);
  int32_t count = 0;
  uint32_t i = 0;
  while (i < length_) {
    const char* hit = static_cast<const char*>(memmem(text_ + i, length_ - i, find, findLen));
    if (hit == nullptr) break;
    const uint32_t at = static_cast<uint32_t>(hit - text_);
    result.appendN(text_ + i, at - i);
    result.appendN(replacement, replLen);
    i = at + findLen;
    ++count;
  }
  if (count == 0) return 0;
  result.appendN(text_ + i, length_ - i);
  std::swap(text_, result.text_);
  std::swap(capacity_, result.capacity_);
  std::swap(length_, result.length_);
  std::swap(increment_, result.increment_);
  return count;
}

void StringBuffer::toLower() {
  check();
  for (uint32_t i = 0; i < length_; ++i) {
    const unsigned char c = static_cast<unsigned char>(text_[i]);
    if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDF)) text_[i] = static_cast<char>(c + 0x20);
  }
}

void StringBuffer::toUpper() {
  check();
  for (uint32_t i = 0; i < length_; ++i) {
    const unsigned char c = static_cast<unsigned char>(text_[i]);
    if ((c >= 'a' && c <= 'z') || c >= 0xE0) text_[i] = static_cast<char>(c - 0x20);
  }
}

void StringBuffer::toCRLF() {
  check();
  removeChar('\r');
  uint32_t lfs = 0;
  for (uint32_t i = 0; i < length_; ++i)
    if (text_[i] == '\n') ++lfs;
  if (lfs == 0) return;
  ensureRoom(lfs, true);
  // Filled from the back so each byte moves once.
  uint32_t src = length_;
  uint32_t dst = length_ + lfs;
  text_[dst] = '\0';
  while (src > 0) {
    const char c = text_[--src];
    text_[--dst] = c;
    if (c == '\n') text_[--dst] = '\r';
  }
  length_ += lfs;
}

void StringBuffer::toLF() {
  check();
  uint32_t out = 0;
  for (uint32_t i = 0; i < length_; ++i) {
    if (text_[i] == '\r' && i + 1 < length_ && text_[i + 1] == '\n') continue;
    text_[out++] = text_[i];
  }
  length_ = out;
  text_[length_] = '\0';
}

namespace {

// Appends `text` with the characters of `specials` written as their entities.
void appendEscaped(StringBuffer& out, const char* text, uint32_t n, bool quotes, bool apos) {
  uint32_t run = 0;
  for (uint32_t i = 0; i < n; ++i) {
    const char* entity = nullptr;
    switch (text[i]) {
      case '&':
        entity = "&amp;";
        break;
      case '<':
        entity = "&lt;";
        break;
      case '>':
        entity = "&gt;";
        break;
      case '"':
        entity = quotes ? "&quot;" : nullptr;
        break;
      case '\'':
        entity = apos ? "&apos;" : nullptr;
        break;
      default:
        break;
    }
    if (entity == nullptr) continue;
    out.appendN(text + run, i - run);
    out.append(entity);
    run = i + 1;
  }
  out.appendN(text + run, n - run);
}

}  // namespace

void StringBuffer::entityEncode() {
  check();
  StringBuffer encoded(static_cast<int32_t>(length_ + 64));
  appendEscaped(encoded, text_, length_, true, false);
  setSb(encoded);
}

void StringBuffer::entityEncodeNoQuotes() {
  check();
  StringBuffer encoded(static_cast<int32_t>(length_ + 64));
  appendEscaped(encoded, text_, length_, false, false);
  setSb(encoded);
}

void StringBuffer::appendEntityEncodedNoQuotes(const char* text, uint32_t n) {
  check();
  appendEscaped(*this, text, n, false, false);
}

void StringBuffer::appendXmlEscaped(const char* s) {
  check();
  if (s == nullptr) return;
  StringBuffer copy(s);
  appendEscaped(*this, copy.text_, copy.length_, true, true);
}

bool StringBuffer::convertFromAnsi(int32_t codePage) {
  check();
  const int32_t ansi = ansiCodePage();
  if (codePage == ansi || length_ == 0) return true;
  StringBuffer converted(static_cast<int32_t>(length_ + 16));
  const bool ok = convertCodePageSb(ansi, codePage, text_, length_, converted);
  clear();
  appendSb(converted);
  return ok;
}

void StringBuffer::appendLastWindowsError() { appendWindowsError(GetLastError()); }

void StringBuffer::appendWindowsError(DWORD code) {
  check();
  char* message = nullptr;
  const DWORD n = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPSTR>(&message),
      0, nullptr);
  if (n == 0 || message == nullptr) return;
  appendN(message, n);
  LocalFree(message);
  trim2();
}

BSTR StringBuffer::createBSTR() const {
  check();
  return bstrFromCodePage(ansiCodePage(), text_, length_);
}

void StringBuffer::splitImpl(ExtPtrArray& pieces, const char* delimiters, uint32_t numDelimiters,
                             bool honorQuotes, bool honorEscapes) const {
  check();
  if (length_ == 0) return;
  auto* piece = new StringBuffer();
  bool inQuotes = false;
  for (uint32_t i = 0; i < length_; ++i) {
    const char c = text_[i];
    if (honorEscapes && c == '\\') {
      piece->appendChar(c);
      if (i + 1 < length_) piece->appendChar(text_[++i]);
      continue;
    }
    if (honorQuotes && c == '"') {
      piece->appendChar(c);
      inQuotes = !inQuotes;
      continue;
    }
    if (!inQuotes && std::memchr(delimiters, c, numDelimiters) != nullptr) {
      piece->minimizeMemory();
      pieces.appendPtr(piece);
      piece = new StringBuffer();
      continue;
    }
    piece->appendChar(c);
  }
  piece->minimizeMemory();
  pieces.appendPtr(piece);
}

void StringBuffer::split(ExtPtrArray& pieces, char delimiter, bool honorQuotes,
                         bool honorEscapes) const {
  splitImpl(pieces, &delimiter, 1, honorQuotes, honorEscapes);
}

void StringBuffer::splitOnAny(ExtPtrArray& pieces, const char* delimiters, bool honorQuotes,
                              bool honorEscapes) const {
  if (delimiters == nullptr) delimiters = "";
  splitImpl(pieces, delimiters, lengthOf(delimiters), honorQuotes, honorEscapes);
}

void StringBuffer::splitOnString(ExtPtrArray& pieces, const char* delimiter,
                                 int32_t maxPieces) const {
  check();
  if (delimiter == nullptr || *delimiter == '\0' || length_ == 0) return;
  const uint32_t dlen = lengthOf(delimiter);
  int32_t added = 0;
  uint32_t i = 0;
  while (i <= length_ && (maxPieces <= 0 || added < maxPieces)) {
    const char* hit = static_cast<const char*>(memmem(text_ + i, length_ - i, delimiter, dlen));
    const uint32_t end = hit != nullptr ? static_cast<uint32_t>(hit - text_) : length_;
    if (end > i) {
      pieces.appendPtr(new StringBuffer(text_ + i, end - i, 0));
      ++added;
    }
    if (hit == nullptr) break;
    i = end + dlen;
  }
}

void StringBuffer::replaceRange(uint32_t pos, uint32_t count, const char* with, uint32_t withLen) {
  if (withLen > count) ensureRoom(withLen - count, true);
  std::memmove(text_ + pos + withLen, text_ + pos + count, length_ - pos - count + 1);
  std::memcpy(text_ + pos, with, withLen);
  length_ = length_ - count + withLen;
}

const char* StringBuffer::intToString(int32_t n) {
  static char shared[16];
  std::snprintf(shared, sizeof shared, "%d", n);
  return shared;
}

// --- whole-file loading: one size query, one read into reserved room

namespace {

void logSystemError(LogBase& log) {
  StringBuffer osText;
  osText.appendLastWindowsError();
  log.logError(osText.getString());
}

// Replaces the loaded bytes from `start` on according to their byte-order mark: UTF-16 in
// either order becomes UTF-8, a UTF-8 mark is dropped. Text held before `start` is kept.
void applyByteOrderMark(StringBuffer& text, uint32_t start) {
  const uint32_t n = text.getSize() - start;
  const auto* p = reinterpret_cast<const unsigned char*>(text.getString()) + start;
  int32_t fromCp = 0;
  if (n >= 2 && p[0] == 0xFF && p[1] == 0xFE)
    fromCp = CP_UTF16LE;
  else if (n >= 2 && p[0] == 0xFE && p[1] == 0xFF)
    fromCp = CP_UTF16BE;
  if (fromCp != 0) {
    StringBuffer utf8(static_cast<int32_t>(n + 16));
    convertCodePageSb(fromCp, CP_UTF8, p + 2, n - 2, utf8);
    text.shorten(n);
    text.appendSb(utf8);
    return;
  }
  if (n > 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) {
    StringBuffer rest(reinterpret_cast<const char*>(p + 3), n - 3, 0);
    text.shorten(n);
    text.appendSb(rest);
  }
}

}  // namespace

bool StringBuffer::loadFile(XString& path, LogBase* log) {
  check();
  LogBase& l = logOrNull(log);
  HANDLE h = openForRead(path, log);
  if (h == INVALID_HANDLE_VALUE) return false;
  const DWORD size = GetFileSize(h, nullptr);
  if (size == 0) {
    closeFile(h);
    return true;
  }
  if (size == INVALID_FILE_SIZE) {
    logSystemError(l);
    l.logData("filename", path.getUtf8());
    l.logError("Failed to get file size");
    closeFile(h);
    return false;
  }
  expectNumBytes(size + 4);
  const uint32_t start = length_;
  DWORD got = 0;
  if (!ReadFile(h, text_ + length_, size, &got, nullptr)) {
    text_[length_] = '\0';
    logSystemError(l);
    l.logData("filename", path.getUtf8());
    l.logError("Failed to read data from file");
    closeFile(h);
    return false;
  }
  if (got != size) {
    text_[length_] = '\0';
    l.logDataLong("filesize", static_cast<int32_t>(size));
    l.logDataLong("bytes_received", static_cast<int32_t>(got));
    l.logData("filename", path.getUtf8());
    l.logError("Failed to read the entire file");
    closeFile(h);
    return false;
  }
  length_ += got;
  text_[length_] = '\0';
  applyByteOrderMark(*this, start);
  closeFile(h);
  return true;
}

StringBuffer* StringBuffer::createFromFile(XString& path, LogBase* log) {
  StringBuffer name;
  const StringBuffer& utf8 = path.getUtf8Sb();
  name.appendN(utf8.getString(), utf8.getSize() > 999 ? 999 : utf8.getSize());
  if (strncasecmp(name.getString(), "file:///", 8) == 0) {
    // The leading "/" of the URL's path is the root of the file system here.
    StringBuffer rest(name.getString() + 7);
    rest.replaceChar('|', ':');
    name.setSb(rest);
  }
  bool ok = false;
  const uint32_t size = fileSizeUtf8(name.getString(), log, ok);
  if (!ok) return nullptr;
  auto* text = new StringBuffer(static_cast<int32_t>(size + 200));
  XString cleaned;
  cleaned.setFromUtf8(name.getString());
  if (!text->loadFile(cleaned, log)) {
    delete text;
    return nullptr;
  }
  return text;
}
