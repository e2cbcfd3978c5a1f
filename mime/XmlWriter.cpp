// Writing an entity tree as the XML form: the header becomes one element per field, with
// parameters as attributes and address fields as mailbox elements; a leaf's body is written
// in its transfer encoding, in a CDATA section when it needs one; sub-parts nest.
#include <cstring>

#include "foundation/ExtPtrArray.h"
#include "foundation/ParamString.h"
#include "foundation/ParseEngine.h"
#include "foundation/StringBuffer.h"
#include "foundation/XmlText.h"
#include "mime/ContentCoding.h"
#include "mime/MimeMessage2.h"
#include "mime/MimeWriter.h"
#include "mime/Rfc822Address.h"
#include "mime/XmlForm.h"

namespace {

// Parameters beyond this many are not shown as attributes; the rest of the field is left
// out, so that it cannot be mistaken for the next field.
constexpr int32_t kMaxParameters = 41;

// "&", "<" and ">" as entities: the escaping of element text.
void appendEscapedText(StringBuffer& out, const StringBuffer& text) {
  out.appendEntityEncodedNoQuotes(text.getString(), text.getSize());
}

bool lfEndsField(const ParseEngine& scan) {
  if (scan.current() != '\n') return false;
  const char next = scan.text().charAt(static_cast<uint32_t>(scan.pos()) + 1);
  return next != ' ' && next != '\t';
}

// One field of the scanned header text, from its name to the LF that ends it.
class FieldWriter {
 public:
  FieldWriter(ParseEngine& scan, const ParamString& quoted) : scan_(scan), quoted_(quoted) {}
  FieldWriter(const FieldWriter&) = delete;
  FieldWriter& operator=(const FieldWriter&) = delete;
  ~FieldWriter() { attributes_.removeAllObjects(); }

  // False at the end of the text. Otherwise appends the field's element, when it has a
  // name, and sets `wrote`.
  bool next(StringBuffer& out, bool& wrote);

 private:
  void readValue();
  void showAddresses();
  void readParameters();
  void skipRestOfField();
  void appendToValue(const StringBuffer& key);
  void writeElement(StringBuffer& out);

  ParseEngine& scan_;
  const ParamString& quoted_;
  StringBuffer name_;
  StringBuffer value_;
  bool block_ = false;      // line ends inside the element
  bool xml_ = false;        // the value is address XML or a description, already escaped
  ExtPtrArray attributes_;  // key, value, key, value, ... (owned StringBuffers)
};

bool FieldWriter::next(StringBuffer& out, bool& wrote) {
  wrote = false;
  name_.clear();
  value_.clear();
  attributes_.removeAllObjects();
  scan_.captureToChar(':', name_);
  if (scan_.atEnd()) return false;
  name_.toLower();
  scan_.skipChar();
  scan_.skipChars(" \t");
  readValue();
  readParameters();
  scan_.skipChars("\n");
  name_.trim();
  if (!name_.isEmpty()) {
    writeElement(out);
    wrote = true;
  }
  scan_.skipChars(" \t\r\n");
  return true;
}

void FieldWriter::readValue() {
  const bool contentType = name_.equals("content-type");
  const char* stops = name_.equals("received") ? "\r\n" : contentType ? "; \r\n" : ";\r\n";
  scan_.captureToAnyOf(stops, value_);
  scan_.skipAnyOf4(';', ' ', '\t', '\r');
  quoted_.restore(value_, true);
  xml_ = false;
  block_ = contentType || name_.equals("message-id");
  showAddresses();
}

void FieldWriter::showAddresses() {
  const AddressFieldKind kind = Rfc822ParseHelp::addressFieldKind(name_.getString());
  if (kind == AddressFieldKind::kNone) return;
  block_ = true;
  StringBuffer shown;
  if (kind == AddressFieldKind::kMailbox) {
    Rfc822Address* mailbox = Rfc822ParseHelp::parseAddress(value_);
    // A single mailbox that does not parse stays plain text.
    if (mailbox == nullptr) return;
    Rfc822ParseHelp::writeAddressXml(*mailbox, shown);
    delete mailbox;
  } else {
    ExtPtrArray list;
    if (Rfc822ParseHelp::parseAddressList(value_, list) == 0) {
      shown.append("<description>");
      appendEscapedText(shown, value_);
      shown.append("</description>");
    } else {
      for (int32_t i = 0; i < list.getSize(); ++i)
        Rfc822ParseHelp::writeAddressXml(*list.getAs<Rfc822Address>(i), shown);
    }
    list.removeAllObjects();
  }
  value_.clear();
  value_.appendSb(shown);
  xml_ = true;
}

void FieldWriter::readParameters() {
  if (lfEndsField(scan_)) return;
  StringBuffer key;
  StringBuffer keyValue;
  for (int32_t count = 0; count < kMaxParameters; ++count) {
    if (scan_.atEnd() || lfEndsField(scan_)) return;
    if (scan_.current() == '\n') {
      scan_.skipChar();
      scan_.skipChars(" \t");
    }
    key.clear();
    keyValue.clear();
    scan_.captureToAnyOf("=\r\n \t", key);
    scan_.skipChars(" \t");
    key.toLower();
    if (scan_.current() == '=') {
      scan_.skipChar();
      scan_.skipChars(" \t");
      scan_.captureToAnyOf(";\r\n", keyValue);
      quoted_.restore(keyValue, false);
    }
    scan_.skipAnyOf4(';', ' ', '\t', '\r');
    const bool plainKey = !key.containsChar('@') && !key.containsChar('/') &&
                          !key.containsChar(';') && !key.containsChar(')');
    if (plainKey && !keyValue.isEmpty()) {
      attributes_.appendPtr(new StringBuffer(key.getString(), key.getSize(), 0));
      attributes_.appendPtr(new StringBuffer(keyValue.getString(), keyValue.getSize(), 0));
    } else {
      appendToValue(key);
    }
  }
  skipRestOfField();
}

void FieldWriter::skipRestOfField() {
  while (!scan_.atEnd()) {
    scan_.seekChar('\n');
    if (scan_.atEnd() || lfEndsField(scan_)) return;
    scan_.skipChar();
  }
}

// A key that cannot be an attribute stays part of the value; its value is dropped.
void FieldWriter::appendToValue(const StringBuffer& key) {
  StringBuffer text;
  text.appendSb(key);
  quoted_.restore(text, true);
  if (value_.lastChar() != ';') value_.append("; ");
  if (xml_)
    appendEscapedText(value_, text);
  else
    value_.appendSb(text);
}

void FieldWriter::writeElement(StringBuffer& out) {
  out.appendChar('<');
  out.appendSb(name_);
  for (int32_t i = 0; i + 1 < attributes_.getSize(); i += 2) {
    out.appendChar(' ');
    out.appendSb(*attributes_.getAs<StringBuffer>(i));
    out.append("=\"");
    out.appendXmlEscaped(attributes_.getAs<StringBuffer>(i + 1)->getString());
    out.appendChar('"');
  }
  out.appendChar('>');
  if (block_) out.appendChar('\n');
  if (xml_) {
    out.appendSb(value_);
  } else {
    if (name_.equals("content-type")) value_.toLower();
    if (!value_.is7bit()) {
      // Raw 8-bit text travels as one word that the reader turns back into the same bytes.
      StringBuffer word;
      ContentCoding().makeWordQ(value_.getString(), value_.getSize(), "8bit", word);
      value_.clear();
      value_.appendSb(word);
    }
    appendEscapedText(out, value_);
  }
  if (block_) out.appendChar('\n');
  out.append("</");
  out.appendSb(name_);
  out.append(">\n");
}

// Room for the whole document up front: bodies grow by a third in base64.
uint64_t estimateSize(const MimeMessage2& entity) {
  uint64_t size = 1024 + entity.body().getSize() / 3 * 4 + entity.body().getSize() / 36;
  for (int32_t i = 0; i < entity.getNumParts(); ++i)
    if (const MimeMessage2* part = entity.getPart(i)) size += estimateSize(*part);
  return size;
}

// The element of an entity without sub-parts. The body is encoded straight into `out`,
// behind a CDATA opener that is taken back when the text turns out not to need one (only
// short texts, as every encoded body of more than one line holds a line end).
void writeLeafBody(MimeMessage2& entity, StringBuffer& header, StringBuffer& out) {
  const uint32_t mark = out.getSize();
  for (bool switched = false;; switched = true) {
    out.append("<mime_message>\n");
    out.appendSb(header);
    out.append("<body>\n");
    const uint32_t open = out.getSize();
    out.append("<![CDATA[");
    const uint32_t start = out.getSize();
    getBodyEncoded(entity, out);
    const char* body = out.getString() + start;
    const uint32_t n = out.getSize() - start;
    if (!switched && memmem(body, n, "]]>", 3) != nullptr) {
      // No CDATA section can hold that text; base64 never contains it.
      out.shorten(out.getSize() - mark);
      entity.setEncoding("base64");
      header.clear();
      writeXmlHeader(entity, header);
      continue;
    }
    if (needsCdata(body, n)) {
      out.append("]]>");
    } else {
      const StringBuffer plain(body, n, 0);
      out.shorten(out.getSize() - open);
      out.appendSb(plain);
    }
    return;
  }
}

}  // namespace

int32_t writeXmlHeader(const MimeMessage2& entity, StringBuffer& out) {
  out.append("<header>\n");
  StringBuffer text;
  entity.header().writeTextUnfolded(text, nullptr, entity.charset());
  ParamString quoted;
  quoted.parse(text.getString());
  ParseEngine scan;
  {
    StringBuffer marked(static_cast<int32_t>(quoted.getMarked().getSize() + 2));
    marked.appendSb(quoted.getMarked());
    marked.appendChar('\n');
    scan.setText(marked.getString(), marked.getSize());
  }
  int32_t written = 0;
  FieldWriter field(scan, quoted);
  bool wrote = false;
  while (!scan.atEnd() && field.next(out, wrote))
    if (wrote) ++written;
  out.append("</header>\n");
  return written;
}

void writeXmlEntity(MimeMessage2& entity, StringBuffer& out) {
  StringBuffer header;
  if (writeXmlHeader(entity, header) == 0) return;
  if (entity.getNumParts() == 0) {
    writeLeafBody(entity, header, out);
  } else {
    out.append("<mime_message>\n");
    out.appendSb(header);
    out.append("<body>\n");
    for (int32_t i = 0; i < entity.getNumParts(); ++i) {
      MimeMessage2* part = entity.getPart(i);
      if (part == nullptr) continue;
      // Written in place and trimmed there rather than in a buffer of its own, so nested
      // parts are not copied once per level. The element text starts with "<".
      const uint32_t mark = out.getSize();
      out.append("<subpart>\n");
      const uint32_t start = out.getSize();
      writeXmlEntity(*part, out);
      uint32_t end = out.getSize();
      while (end > start) {
        const char c = out.charAt(end - 1);
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n') break;
        --end;
      }
      if (end == start) {
        out.shorten(out.getSize() - mark);
        continue;
      }
      out.shorten(out.getSize() - end);
      out.append("</subpart>\n");
    }
  }
  out.append("\n</body>\n</mime_message>\n");
}

void writeXmlDocument(MimeMessage2& entity, StringBuffer& out) {
  const uint64_t room = estimateSize(entity);
  out.expectNumBytes(static_cast<uint32_t>(room < 0x40000000 ? room : 0x40000000));
  const Charset& charset = entity.charset();
  out.append("<?xml version=\"1.0\" encoding=\"");
  if (charset.getCodePage() != 0 && !charset.getName().isEmpty())
    out.appendSb(charset.getName());
  else
    out.append("ISO-8859-1");
  out.append("\" ?>\n");
  writeXmlEntity(entity, out);
}
