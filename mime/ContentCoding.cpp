#include "mime/ContentCoding.h"

#include <strings.h>

#include <cstring>

#include "charset/CharsetNames.h"
#include "foundation/ByteCodecs.h"
#include "foundation/Conversion.h"
#include "foundation/DataBuffer.h"
#include "foundation/StringBuffer.h"
#include "platform/CodePage.h"

namespace {

constexpr uint32_t kWordsThresholdB = 24;
constexpr uint32_t kWordsThresholdQ = 35;
constexpr uint32_t kPieceUnitsB = 12;
constexpr uint32_t kPieceUnitsQ = 17;
constexpr const char* kWordSeparator = "\r\n\t";
constexpr uint32_t kAlreadyEncodedScan = 100;

// Charsets whose words are written in B: East Asian, Thai, Turkish and Arabic text, in which
// Q would escape most bytes.
constexpr const char* kBCharsets[] = {"shift_jis",    "shift-jis",   "iso-2022-jp",  "euc-jp",
                                      "euc-kr",       "iso-2022-kr", "gb2312",       "euc-cn",
                                      "cp-936",       "euc-tw",      "big5",         "cp-950",
                                      "cp-932",       "tis-620",     "windows-874",  "iso-8859-9",
                                      "windows-1254", "iso-8859-6",  "windows-1256", "cp-1256"};

// Code pages whose header values are written with B words (and so are all from 50001 on).
constexpr int32_t kBCodePages[] = {932, 936, 949, 950, 874, 1361, 1200, 1201, 28596, 1256};

// First position of the two bytes a, b at or after `from`, or n.
uint32_t findPair(const char* p, uint32_t from, uint32_t n, char a, char b) {
  while (from + 1 < n) {
    const void* hit = std::memchr(p + from, a, n - 1 - from);
    if (hit == nullptr) return n;
    const auto at = static_cast<uint32_t>(static_cast<const char*>(hit) - p);
    if (p[at + 1] == b) return at;
    from = at + 1;
  }
  return n;
}

uint32_t findByte(const char* p, uint32_t from, uint32_t n, char c) {
  if (from >= n) return n;
  const void* hit = std::memchr(p + from, c, n - from);
  return hit == nullptr ? n : static_cast<uint32_t>(static_cast<const char*>(hit) - p);
}

// One "=?charset?X?text?=" found by the walk; offsets into the text.
struct EncodedWord {
  uint32_t charsetBegin, charsetEnd;
  char method;
  uint32_t textBegin, textEnd;
};

// Walks `p`: literal runs go to onText, complete words to onWord. From a "=?" that does not
// open a complete word on, everything goes to onText unchanged and the walk ends.
template <typename OnText, typename OnWord>
void walkWords(const char* p, uint32_t n, OnText onText, OnWord onWord) {
  uint32_t pos = 0;
  while (pos < n) {
    const uint32_t open = findPair(p, pos, n, '=', '?');
    if (open == n) break;
    if (open > pos) onText(p + pos, open - pos);
    EncodedWord w;
    w.charsetBegin = open + 2;
    w.charsetEnd = findByte(p, w.charsetBegin, n, '?');
    const uint32_t letter = w.charsetEnd + 1;
    w.textBegin = letter + 2;
    if (w.charsetEnd == n || letter >= n || letter + 1 >= n || p[letter + 1] != '?' ||
        w.textBegin >= n) {
      pos = open;
      break;
    }
    w.method = p[letter];
    w.textEnd = findPair(p, w.textBegin, n, '?', '=');
    if (w.textEnd == n) {
      pos = open;
      break;
    }
    if (w.textEnd > w.textBegin) onWord(w);
    pos = w.textEnd + 2;
  }
  if (pos < n) onText(p + pos, n - pos);
}

void decodeWordText(const char* p, const EncodedWord& w, DataBuffer& out) {
  if (w.method == 'B' || w.method == 'b') {
    decodeBase64(p + w.textBegin, w.textEnd - w.textBegin, out);
  } else {
    decodeQ(p + w.textBegin, w.textEnd - w.textBegin, out);
  }
}

bool holdsEncodedWord(const unsigned char* p, uint32_t n) {
  const uint32_t scan = n < kAlreadyEncodedScan ? n : kAlreadyEncodedScan;
  for (uint32_t i = 0; i + 2 < scan; ++i) {
    if (p[i] != '?' || p[i + 2] != '?') continue;
    const unsigned char m = p[i + 1];
    if (m == 'Q' || m == 'q' || m == 'B' || m == 'b') return true;
  }
  return false;
}

// Replaces `out` with the conversion and tells whether every character arrived. The result
// of the conversion covers unmappable characters; what the UTF-8 decoder skips without
// failing (invalid sequences, characters beyond the Basic Multilingual Plane) shows only by
// converting back.
bool convertWhole(int32_t fromCp, int32_t toCp, const void* bytes, uint32_t n, StringBuffer& out) {
  out.clear();
  if (!convertCodePageSb(fromCp, toCp, bytes, n, out) || out.isEmpty()) return false;
  if (fromCp != CP_UTF8 || toCp == CP_UTF8) return true;
  StringBuffer back;
  convertCodePageSb(toCp, fromCp, out.getString(), out.getSize(), back);
  return back.getSize() == n && std::memcmp(back.getString(), bytes, n) == 0;
}

bool isBCharset(const char* charset) {
  if (charset == nullptr) return false;
  for (const char* name : kBCharsets)
    if (strcasecmp(charset, name) == 0) return true;
  return false;
}

}  // namespace

void ContentCoding::encodeBase64Lines(const void* bytes, uint32_t n, StringBuffer& out) const {
  ::encodeBase64Lines(bytes, n, lineLength_, out);
}

void ContentCoding::encodeBase64(const void* bytes, uint32_t n, StringBuffer& out) const {
  ::encodeBase64(bytes, n, out);
}

char* ContentCoding::encodeBase64(const void* bytes, uint32_t n, uint32_t* length) const {
  return ::encodeBase64(bytes, n, length);
}

bool ContentCoding::rewrapBase64Lines(const char* text, uint32_t n, StringBuffer& out) const {
  return ::rewrapBase64Lines(text, n, lineLength_, out);
}

bool ContentCoding::decodeBase64Strict(const char* text, uint32_t n, DataBuffer& out) const {
  return ::decodeBase64Strict(text, n, out);
}

void ContentCoding::decodeBase64(const char* text, uint32_t n, DataBuffer& out) const {
  ::decodeBase64(text, n, out);
}

void ContentCoding::encodeQuotedPrintable(const void* bytes, uint32_t n, StringBuffer& out) const {
  ::encodeQuotedPrintable(bytes, n, lineLength_, out);
}

bool ContentCoding::copyQuotedPrintableLines(const char* text, uint32_t n, const bool* escapable,
                                             StringBuffer& out) const {
  return ::copyQuotedPrintableLines(text, n, lineLength_, escapable, out);
}

bool ContentCoding::rewrapQuotedPrintable(const char* text, uint32_t n, const bool* escapable,
                                          StringBuffer& out) const {
  return ::rewrapQuotedPrintable(text, n, lineLength_, escapable, out);
}

bool ContentCoding::decodeQuotedPrintable(const char* text, uint32_t n, DataBuffer& out) const {
  return ::decodeQuotedPrintable(text, n, out);
}

void ContentCoding::encodeQ(const void* bytes, uint32_t n, StringBuffer& out) const {
  ::encodeQ(bytes, n, out);
}

void ContentCoding::decodeQ(const char* text, uint32_t n, DataBuffer& out) const {
  ::decodeQ(text, n, out);
}

void ContentCoding::makeWordB(const void* bytes, uint32_t n, const char* charset,
                              StringBuffer& out) const {
  out.append("=?");
  out.append(charset);
  out.append("?B?");
  ::encodeBase64(bytes, n, out);
  out.append("?=");
}

void ContentCoding::makeWordQ(const void* bytes, uint32_t n, const char* charset,
                              StringBuffer& out) const {
  out.append("=?");
  out.append(charset);
  out.append("?Q?");
  ::encodeQ(bytes, n, out);
  out.append("?=");
}

void ContentCoding::encodeWordsB(const void* bytes, uint32_t n, const char* charset,
                                 StringBuffer& out) const {
  encodeWords(bytes, n, charset, true, out);
}

void ContentCoding::encodeWordsQ(const void* bytes, uint32_t n, const char* charset,
                                 StringBuffer& out) const {
  encodeWords(bytes, n, charset, false, out);
}

void ContentCoding::encodeWords(const void* bytes, uint32_t n, const char* charset, bool b,
                                StringBuffer& out) const {
  auto word = [&](const void* piece, uint32_t len) {
    if (b) {
      makeWordB(piece, len, charset, out);
    } else {
      makeWordQ(piece, len, charset, out);
    }
  };
  if (n < (b ? kWordsThresholdB : kWordsThresholdQ)) {
    word(bytes, n);
    return;
  }
  // Pieces are cut in UTF-16 so no word ends inside a multi-byte character.
  int32_t codePage = codePageFromName(charset);
  if (codePage == 0) codePage = CP_UTF8;
  StringBuffer utf16;
  if (!convertWhole(codePage, CP_UTF16LE, bytes, n, utf16) || utf16.getSize() < 2) {
    word(bytes, n);  // uncut rather than losing what did not convert
    return;
  }
  const auto* units = reinterpret_cast<const unsigned char*>(utf16.getString());
  const uint32_t count = utf16.getSize() / 2;
  const uint32_t perPiece = b ? kPieceUnitsB : kPieceUnitsQ;
  StringBuffer piece;
  for (uint32_t i = 0; i < count;) {
    uint32_t take = count - i < perPiece ? count - i : perPiece;
    // A surrogate pair stays in one word: a word ending in half a character would not
    // convert back on its own, and some readers decode each word separately.
    const uint32_t last = i + take - 1;
    const uint32_t unit = units[2 * last] | (units[2 * last + 1] << 8);
    if (take > 1 && last + 1 < count && unit >= 0xD800 && unit <= 0xDBFF) --take;
    piece.clear();
    convertCodePageSb(CP_UTF16LE, codePage, units + 2 * i, 2 * take, piece);
    if (i > 0) out.append(kWordSeparator);
    word(piece.getString(), piece.getSize());
    i += take;
  }
}

void ContentCoding::encodeWordForCharset(const void* bytes, uint32_t n, const char* charset,
                                         StringBuffer& out) const {
  if (bytes == nullptr) n = 0;
  if (holdsEncodedWord(static_cast<const unsigned char*>(bytes), n)) {
    out.appendN(static_cast<const char*>(bytes), n);
  } else if (isBCharset(charset)) {
    makeWordB(bytes, n, charset, out);
  } else {
    makeWordQ(bytes, n, charset, out);
  }
}

void ContentCoding::decodeWords(StringBuffer& text) const {
  const char* p = text.getString();
  const uint32_t n = text.getSize();
  if (findPair(p, 0, n, '=', '?') == n) return;
  StringBuffer out(static_cast<int32_t>(n + 16));
  DataBuffer raw;
  walkWords(
      p, n, [&](const char* run, uint32_t len) { out.appendN(run, len); },
      [&](const EncodedWord& w) {
        raw.setSize(0);
        decodeWordText(p, w, raw);
        if (raw.getSize() == 0) return;
        const StringBuffer charset(p + w.charsetBegin, w.charsetEnd - w.charsetBegin, 0);
        // "8bit" is how the address writer marks raw UTF-8.
        const int32_t codePage =
            charset.equalsIgnoreCase("utf-8") || charset.equalsIgnoreCase("8bit")
                ? CP_UTF8
                : codePageFromName(charset.getString());
        if (codePage == 0 || codePage == CP_UTF8) {
          out.appendData(raw);
        } else {
          convertCodePageSb(codePage, CP_UTF8, raw.getData(), raw.getSize(), out);
        }
      });
  text.clear();
  text.appendSb(out);
}

void ContentCoding::decodeWordsToBytes(const char* text, uint32_t n, DataBuffer& out) const {
  if (text == nullptr || n == 0) return;
  walkWords(
      text, n, [&](const char* run, uint32_t len) { out.append(run, len); },
      [&](const EncodedWord& w) { decodeWordText(text, w, out); });
}

HeaderEncoding chooseHeaderEncoding(int32_t codePage, const StringBuffer& utf8Value) {
  for (int32_t cp : kBCodePages)
    if (cp == codePage) return HeaderEncoding::kB;
  if (codePage >= 50001) return HeaderEncoding::kB;
  if (codePage == 20127 || utf8Value.is7bit()) return HeaderEncoding::kNone;
  return HeaderEncoding::kQ;
}

HeaderEncoding prepareHeaderValue(int32_t codePage, const StringBuffer& utf8Value,
                                  StringBuffer& bytes, StringBuffer& charsetName) {
  bytes.clear();
  charsetName.clear();
  const HeaderEncoding choice = chooseHeaderEncoding(codePage, utf8Value);
  if (choice == HeaderEncoding::kNone || utf8Value.isEmpty()) {
    bytes.appendSb(utf8Value);
    return HeaderEncoding::kNone;
  }
  const char* name = writtenNameOf(codePage);
  if (name != nullptr &&
      convertWhole(CP_UTF8, codePage, utf8Value.getString(), utf8Value.getSize(), bytes)) {
    charsetName.append(name);
    return choice;
  }
  bytes.clear();
  bytes.appendSb(utf8Value);
  nameFromCodePage(CP_UTF8, charsetName);
  return choice;
}
