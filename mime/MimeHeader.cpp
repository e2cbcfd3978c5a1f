#include "mime/MimeHeader.h"

#include <string.h>
#include <strings.h>

#include <cstring>
#include <initializer_list>

#include "charset/Charset.h"
#include "charset/CharsetNames.h"
#include "foundation/Conversion.h"
#include "foundation/StringBuffer.h"

MimeHeader::~MimeHeader() { fields_.removeAllObjects(); }

void MimeHeader::clear() {
  fields_.removeAllObjects();
  codePage_ = 0;
}

void MimeHeader::getFieldName(int32_t index, StringBuffer& out) const {
  if (const MimeField* f = fieldAt(index)) {
    out.clear();
    out.appendSb(f->name());
  }
}

void MimeHeader::getFieldValue(int32_t index, StringBuffer& out) const {
  if (const MimeField* f = fieldAt(index)) {
    out.clear();
    out.appendSb(f->value());
  }
}

const MimeField* MimeHeader::findFirst(const char* name) const {
  if (name == nullptr) return nullptr;
  for (int32_t i = 0; i < fields_.getSize(); ++i) {
    const MimeField* f = fieldAt(i);
    if (f->nameIs(name)) return f;
  }
  return nullptr;
}

bool MimeHeader::getFirstValue(const char* name, StringBuffer& out) const {
  const MimeField* f = findFirst(name);
  if (f == nullptr) return false;
  out.appendSb(f->value());
  return true;
}

void MimeHeader::removeAll(const char* name) {
  if (name == nullptr) return;
  for (int32_t i = fields_.getSize() - 1; i >= 0; --i) {
    if (fieldAt(i)->nameIs(name)) delete fields_.removeAt(i);
  }
}

void MimeHeader::replaceField(const char* name, const char* value) {
  if (name == nullptr) return;
  // Copied first: the arguments may be the text of a field about to be deleted.
  StringBuffer n(name);
  StringBuffer v(value);
  removeAll(n.getString());
  StringBuffer trimmed(v.getString());
  trimmed.trim2();
  if (trimmed.isEmpty()) return;
  auto* field = new MimeField();
  field->set(n.getString(), v.getString());
  fields_.appendPtr(field);
}

void MimeHeader::addField(MimeField* field) {
  if (field != nullptr) fields_.appendPtr(field);
}

void MimeHeader::copyFrom(const MimeHeader& other) {
  if (&other == this) return;
  clear();
  for (int32_t i = 0; i < other.getNumFields(); ++i) {
    const MimeField* f = other.fieldAt(i);
    auto* copy = new MimeField();
    copy->set(f->name().getString(), f->value().getString());
    fields_.appendPtr(copy);
  }
}

void MimeHeader::mergeFrom(const MimeHeader& other) {
  if (&other == this) return;
  for (int32_t i = 0; i < other.getNumFields(); ++i) {
    const MimeField* f = other.fieldAt(i);
    replaceField(f->name().getString(), f->value().getString());
  }
}

void MimeHeader::minimizeMemory() {
  for (int32_t i = 0; i < fields_.getSize(); ++i) fields_.getAs<MimeField>(i)->minimizeMemory();
}

namespace {

constexpr int32_t kMaxHeaderLines = 1000;
constexpr uint32_t kEncodedWordStartLength = 2;  // "=?"

// Index of the first `needle` in `text`, or -1.
int64_t indexOf(const StringBuffer& text, const char* needle) {
  const void* hit = memmem(text.getString(), text.getSize(), needle, std::strlen(needle));
  return hit == nullptr ? -1 : static_cast<const char*>(hit) - text.getString();
}

bool hasHighByte(const char* p, uint32_t n) {
  for (uint32_t i = 0; i < n; ++i)
    if (static_cast<unsigned char>(p[i]) >= 0x80) return true;
  return false;
}

// Every line end made CRLF.
void normaliseLineEnds(StringBuffer& text) {
  text.toLF();
  text.removeChar('\r');
  text.toCRLF();
}

// The charset the 8-bit bytes of a header are in: the label of its first encoded word, or
// the first of ANSI, Latin-1 and Latin-2 that reads the bytes without loss.
int32_t headerCodePage(const StringBuffer& header) {
  for (const char* marker : {"?Q?", "?B?"}) {
    if (!header.containsNoCase(marker)) continue;
    const int64_t start = indexOf(header, "=?");
    if (start < 0) return 0;
    const char* from = header.getString() + start + kEncodedWordStartLength;
    const char* end = strcasestr(from, marker);
    if (end == nullptr) return 0;
    StringBuffer name(from, static_cast<uint32_t>(end - from), 0);
    return codePageFromName(name.getString());
  }
  if (!hasHighByte(header.getString(), header.getSize())) return 0;
  for (int32_t cp : {ansiCodePage(), 28591, 28592}) {
    StringBuffer probe;
    if (convertCodePageSb(cp, 65001, header.getString(), header.getSize(), probe)) return cp;
  }
  return 0;
}

void finishLine(MimeHeader& header, StringBuffer& line) {
  if (line.isEmpty()) return;
  if (hasHighByte(line.getString(), line.getSize())) {
    const int32_t cp = header.codePage() != 0 ? header.codePage() : ansiCodePage();
    StringBuffer utf8;
    convertCodePageSb(cp, 65001, line.getString(), line.getSize(), utf8);
    line.setSb(utf8);
  }
  auto* field = new MimeField();
  if (!field->parseLine(line)) {
    delete field;
  } else if (field->nameIs("content-type")) {
    // Only the last content-type counts.
    header.replaceField(field->name().getString(), field->value().getString());
    delete field;
  } else {
    header.addField(field);
  }
  line.clear();
}

}  // namespace

void MimeHeader::loadFromText(const StringBuffer& text) {
  loadFromText(text.getString(), text.getSize());
}

void MimeHeader::loadFromText(const char* t, uint32_t size) {
  clear();
  // Only the text up to the first blank line (two line ends with nothing but CRs between)
  // is the header; copying no further keeps a huge body out of the line-end repair.
  uint32_t headerEnd = size;
  for (const char* lf = static_cast<const char*>(std::memchr(t, '\n', headerEnd)); lf != nullptr;
       lf = static_cast<const char*>(std::memchr(lf + 1, '\n', headerEnd - (lf + 1 - t)))) {
    const char* next = lf + 1;
    while (next < t + headerEnd && *next == '\r') ++next;
    if (next < t + headerEnd && *next == '\n') {
      headerEnd = static_cast<uint32_t>(lf - t);
      break;
    }
  }
  StringBuffer copy(t, headerEnd, 0);
  normaliseLineEnds(copy);
  const int64_t end = indexOf(copy, "\r\n\r\n");
  if (end >= 0) copy.shorten(copy.getSize() - static_cast<uint32_t>(end));
  codePage_ = headerCodePage(copy);

  ExtPtrArray lines;
  copy.splitOnString(lines, "\r\n", kMaxHeaderLines);
  StringBuffer pending;
  for (int32_t i = 0; i < lines.getSize(); ++i) {
    const StringBuffer& line = *lines.getAs<StringBuffer>(i);
    if (line.beginsWith("From ")) continue;
    const char first = line.charAt(0);
    if (first == ' ' || first == '\t') {
      const char* p = line.getString();
      const char* rest = p;
      while (*rest == ' ' || *rest == '\t') ++rest;
      // Adjacent encoded words join without the blank that folded them.
      const char* from = (rest[0] == '=' && rest[1] == '?') ? rest : p + 1;
      pending.appendN(from, line.getSize() - (from - p));
      continue;
    }
    finishLine(*this, pending);
    pending.appendSb(line);
  }
  finishLine(*this, pending);
  lines.removeAllObjects();
}

namespace {

// A field name that begins with the prefix, compared without case over the prefix's length.
bool isExcluded(const StringBuffer& name, const char* prefix) {
  if (prefix == nullptr || *prefix == '\0') return false;
  return strncasecmp(name.getString(), prefix, std::strlen(prefix)) == 0;
}

// The fields one per line, each rendered in the writing charset: the one given when it has a
// code page, else the one the header was read in.
void writeFields(const MimeHeader& header, StringBuffer& out, const char* excludePrefix,
                 const Charset& charset, bool unfold) {
  Charset writing;
  if (charset.getCodePage() == 0 && header.codePage() != 0) {
    writing.setByCodePage(header.codePage());
  } else {
    writing.copyFrom(charset);
  }
  StringBuffer line;
  for (int32_t i = 0; i < header.getNumFields(); ++i) {
    const MimeField* f = header.fieldAt(i);
    if (f == nullptr || isExcluded(f->name(), excludePrefix)) continue;
    line.clear();
    f->render(line, writing);
    if (unfold) line.replaceAll(MimeField::kFold, "");
    out.appendSb(line);
    out.append("\r\n");
  }
  // The header text ends without a line end. An empty header takes the line end of what
  // stands before it (a boundary line), so that the blank line the caller adds after the
  // header is one CRLF, as an empty header of a part must be.
  while (out.getSize() >= 2 && out.lastChar() == '\n') out.shorten(2);
}

}  // namespace

void MimeHeader::writeText(StringBuffer& out, const char* excludePrefix,
                           const Charset& charset) const {
  writeFields(*this, out, excludePrefix, charset, false);
}

void MimeHeader::writeTextUnfolded(StringBuffer& out, const char* excludePrefix,
                                   const Charset& charset) const {
  writeFields(*this, out, excludePrefix, charset, true);
}
