#include "mime/MimeField.h"

#include <strings.h>

#include <cstring>

#include "charset/Charset.h"
#include "foundation/StringBuffer.h"
#include "mime/ContentCoding.h"
#include "platform/CodePage.h"

bool MimeField::nameIs(const char* name) const {
  return name != nullptr && strcasecmp(name_.getString(), name) == 0;
}

void MimeField::normaliseValue(StringBuffer& value) {
  if (value.contains("?Q?") || value.contains("?B?")) ContentCoding().decodeWords(value);
  if (value.containsChar('\n')) {
    value.replaceAll("\r\n\t", "");
    value.replaceAll("\r\n ", "");
  }
  // A line end left inside a value would start a new header line when the field is
  // written, letting a caller's text inject fields; it is kept as a blank instead.
  value.replaceChar('\r', ' ');
  value.replaceChar('\n', ' ');
}

void MimeField::set(const char* name, const char* value) {
  StringBuffer n(name);
  StringBuffer v(value);
  name_.setSb(n);
  value_.setSb(v);
  normaliseValue(value_);
}

bool MimeField::parseLine(const StringBuffer& line) {
  const char* text = line.getString();
  const char* colon = static_cast<const char*>(std::memchr(text, ':', line.getSize()));
  if (colon == nullptr) return false;
  name_.clear();
  name_.appendN(text, colon - text);
  name_.trim2();
  name_.replaceAnyOf(" <>\"'", '-');
  const char* v = colon + 1;
  const char* end = text + line.getSize();
  if (v < end && (*v == ' ' || *v == '\t')) ++v;
  value_.clear();
  value_.appendN(v, end - v);
  value_.trim2();
  normaliseValue(value_);
  return true;
}

// Header fields as MIME text. A value is held in UTF-8; it is written either folded as it
// stands, or converted to the writing charset and laid out as a structured value: the part
// before the first ";" and each parameter value go into encoded words where they need them,
// and whole parameters are moved to continuation lines.
namespace {

constexpr const char* kFold = MimeField::kFold;
constexpr uint32_t kFoldColumn = 21;       // a ";" at or past this column ends the line
constexpr uint32_t kCommaFoldLength = 60;  // address lists longer than this fold at "," too
constexpr uint32_t kFirstLineLimit = 35;   // a first line this long takes no parameter
constexpr uint32_t kLineLimit = 64;        // a parameter that would pass this starts a line
constexpr uint32_t kPlainCopyLimit = 65;   // 7-bit text that would pass this is folded
constexpr uint32_t kLongDisplayName = 40;  // longer words put the address on its own line
constexpr unsigned char kEscape = 0x1B;

// Fields that programs read rather than people (trace lines, locations, the transfer
// encoding): encoded words or folding would change what they say.
constexpr const char* kVerbatimFields[] = {"received", "content-location",
                                           "content-transfer-encoding"};

// The Unicode forms other than UTF-8 are not ASCII-compatible (UTF-16 and UTF-32 put NUL
// bytes beside every letter, UTF-7 spells 8-bit text in 7-bit runs that readers take as they
// stand), so header text that should be in them is written in UTF-8, still as B words.
int32_t headerCodePage(int32_t codePage) {
  switch (codePage) {
    case 1200:
    case 1201:
    case 65000:
    case 65005:
    case 65006:
      return CP_UTF8;
    default:
      return codePage;
  }
}

// Text that can be copied into a header as it stands. The ISO-2022 charsets write their
// letters as 7-bit bytes behind escape sequences; such text needs words like 8-bit text, or a
// reader (this component's among them) would show the escapes.
bool isPlainByte(unsigned char c) { return c < 0x80 && c != kEscape; }

// One past the last byte that is not plain, or 0 when all are.
uint32_t endOfNonPlain(const char* p, uint32_t n) {
  for (uint32_t i = n; i > 0; --i)
    if (!isPlainByte(static_cast<unsigned char>(p[i - 1]))) return i;
  return 0;
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

const char* findIn(const char* p, uint32_t from, uint32_t to, char c) {
  if (from >= to) return nullptr;
  return static_cast<const char*>(std::memchr(p + from, c, to - from));
}

uint32_t indexOf(const char* p, uint32_t from, uint32_t n, char c) {
  const char* hit = findIn(p, from, n, c);
  return hit == nullptr ? n : static_cast<uint32_t>(hit - p);
}

// Copies 7-bit text, ending the line after each ";" outside double quotes once the column has
// reached 21; a long address list ends lines after its commas the same way. `column` is what
// the line already holds.
void plainFold(const char* p, uint32_t n, uint32_t column, StringBuffer& out) {
  const bool commas = n > kCommaFoldLength && std::memchr(p, '@', n) != nullptr &&
                      std::memchr(p, ',', n) != nullptr;
  out.expectNumBytes(n);
  bool quoted = false;
  uint32_t runStart = 0;
  for (uint32_t i = 0; i < n; ++i) {
    const char c = p[i];
    ++column;
    if (c == '"') {
      quoted = !quoted;
      continue;
    }
    if (quoted || (c != ';' && (c != ',' || !commas)) || column < kFoldColumn) continue;
    out.appendN(p + runStart, i + 1 - runStart);
    out.append(kFold);
    runStart = i + 1;
    column = 0;
  }
  out.appendN(p + runStart, n - runStart);
}

// Lays out one value already in the writing charset's bytes.
class StructuredValue {
 public:
  StructuredValue(HeaderEncoding choice, const char* charsetName, bool verbatim)
      : b_(choice == HeaderEncoding::kB), charsetName_(charsetName), verbatim_(verbatim) {}

  // `line` holds what is already on the first line ("name: "); the result is appended to
  // `out`.
  void write(const char* v, uint32_t n, StringBuffer& line, StringBuffer& out);

 private:
  void wordEncode(const char* p, uint32_t n, StringBuffer& buf) const;
  void words(const char* p, uint32_t n, StringBuffer& buf) const;
  // One parameter into the piece, `pos` moved past it; false when it ran to the end without
  // "=" or ";", leaving the piece open.
  bool readParameter(const char* v, uint32_t& pos, uint32_t n);
  void placePiece();
  void moveLineOut();

  const ContentCoding coder_;
  const bool b_;
  const char* const charsetName_;
  const bool verbatim_;
  StringBuffer* line_ = nullptr;
  StringBuffer* out_ = nullptr;
  StringBuffer piece_;
};

void StructuredValue::words(const char* p, uint32_t n, StringBuffer& buf) const {
  if (b_) {
    coder_.encodeWordsB(p, n, charsetName_, buf);
  } else {
    coder_.encodeWordsQ(p, n, charsetName_, buf);
  }
}

// Text into `buf`: plain text copied (folded when long), anything else as encoded words,
// except that in an address list only the display names become words and the addresses
// stay readable.
void StructuredValue::wordEncode(const char* p, uint32_t n, StringBuffer& buf) const {
  if (verbatim_) {
    buf.appendN(p, n);
    return;
  }
  // Known once, so asking whether the rest of a long list is plain costs nothing.
  const uint32_t nonPlainEnd = endOfNonPlain(p, n);
  uint32_t pos = 0;
  while (pos < n) {
    const uint32_t restLen = n - pos;
    if (pos >= nonPlainEnd) {
      if (buf.getSize() + restLen > kPlainCopyLimit) {
        plainFold(p + pos, restLen, buf.getSize(), buf);
      } else {
        buf.appendN(p + pos, restLen);
      }
      return;
    }
    const uint32_t lt = indexOf(p, pos, n, '<');
    const uint32_t gt = lt + 1 < n ? indexOf(p, lt + 1, n, '>') : n;
    if (gt == n || findIn(p, lt + 1, gt, '@') == nullptr) {
      words(p + pos, restLen, buf);
      return;
    }
    uint32_t nameEnd = lt;
    if (nameEnd > pos && p[nameEnd - 1] == ' ') --nameEnd;
    uint32_t nameBegin = pos;
    uint32_t nameStop = nameEnd;
    if (nameStop - nameBegin >= 3 && p[nameBegin] == '"' && p[nameStop - 1] == '"') {
      ++nameBegin;
      --nameStop;
    }
    const uint32_t before = buf.getSize();
    // An address without a display name gets no empty word in front of it.
    if (nameStop > nameBegin) words(p + nameBegin, nameStop - nameBegin, buf);
    if (buf.getSize() - before > kLongDisplayName) buf.append(kFold);
    uint32_t next = gt + 1;
    while (next < n && (p[next] == ' ' || p[next] == ',')) ++next;
    buf.appendN(p + nameEnd, next - nameEnd);
    pos = next;
  }
}

void StructuredValue::moveLineOut() {
  // An empty line is never moved: it would leave a blank continuation line.
  if (line_->isEmpty()) return;
  if (!out_->isEmpty()) out_->append(kFold);
  out_->appendSb(*line_);
  line_->clear();
}

void StructuredValue::placePiece() {
  if (line_->getSize() + piece_.getSize() > kLineLimit) moveLineOut();
  line_->appendSb(piece_);
  piece_.clear();
}

bool StructuredValue::readParameter(const char* v, uint32_t& pos, uint32_t n) {
  uint32_t nameEnd = pos;
  while (nameEnd < n && v[nameEnd] != '=' && v[nameEnd] != ';') ++nameEnd;
  piece_.appendN(v + pos, nameEnd - pos);
  if (nameEnd == n) {
    pos = n;
    return false;
  }
  if (v[nameEnd] == ';') {
    piece_.appendChar(';');
    pos = nameEnd + 1;
    return true;
  }
  uint32_t valueEnd = nameEnd + 1;
  bool quoted = false;
  for (; valueEnd < n; ++valueEnd) {
    if (v[valueEnd] == '"') quoted = !quoted;
    if (v[valueEnd] == ';' && !quoted) break;
  }
  uint32_t a = nameEnd + 1;
  uint32_t z = valueEnd;
  while (a < z && isBlank(v[a])) ++a;
  while (z > a && isBlank(v[z - 1])) --z;
  if (a < z && v[a] == '"') ++a;
  if (z > a && v[z - 1] == '"') --z;
  // Every value is quoted on the way out, so a value that needs words stays one token.
  piece_.append("=\"");
  wordEncode(v + a, z - a, piece_);
  piece_.appendChar('"');
  if (valueEnd < n) piece_.appendChar(';');
  pos = valueEnd < n ? valueEnd + 1 : n;
  return true;
}

void StructuredValue::write(const char* v, uint32_t n, StringBuffer& line, StringBuffer& out) {
  StringBuffer result;
  line_ = &line;
  out_ = &result;
  const uint32_t semi = indexOf(v, 0, n, ';');
  if (semi == n) {
    wordEncode(v, n, line);
    out.appendSb(line);
    return;
  }
  if (semi > 1) wordEncode(v, semi, line);  // a one-byte first token (a lone blank) is left out
  line.appendChar(';');
  if (semi + 1 == n) {
    out.appendSb(line);
    return;
  }
  if (line.getSize() >= kFirstLineLimit) moveLineOut();

  bool open = false;
  for (uint32_t pos = semi + 1; pos < n && !open;) {
    if (readParameter(v, pos, n)) {
      placePiece();
    } else {
      open = true;
    }
  }
  if (open) {
    if (line.getSize() + piece_.getSize() >= kLineLimit + 1) moveLineOut();
    line.appendSb(piece_);
    piece_.clear();
  }
  moveLineOut();
  out.appendSb(result);
}

bool isVerbatimField(const StringBuffer& name) {
  for (const char* f : kVerbatimFields)
    if (name.equalsIgnoreCase(f)) return true;
  return false;
}

}  // namespace

void MimeField::render(StringBuffer& out, const Charset& charset) const {
  const int32_t codePage = headerCodePage(charset.getCodePage());
  StringBuffer bytes;
  StringBuffer charsetName;
  // With no code page at all an 8-bit value is still UTF-8 (that is how values are held), so
  // it is left unconverted and its words say "utf-8": any other label would garble it.
  const HeaderEncoding choice = prepareHeaderValue(codePage, value_, bytes, charsetName);
  StringBuffer line(static_cast<int32_t>(name_.getSize() + 80));
  line.appendSb(name_);
  line.append(": ");
  if (choice == HeaderEncoding::kNone) {
    out.appendSb(line);
    plainFold(bytes.getString(), bytes.getSize(), line.getSize(), out);
    return;
  }
  const bool verbatim = isVerbatimField(name_);
  // A 7-bit value of these fields is copied as stored, since converting can only alter it
  // (ISO-2022-KR puts an escape sequence in front); an 8-bit one is converted with the rest
  // of the header so the whole header reads back in one charset.
  const StringBuffer& source = verbatim && value_.is7bit() ? value_ : bytes;
  StructuredValue writer(choice, charsetName.getString(), verbatim);
  writer.write(source.getString(), source.getSize(), line, out);
}
