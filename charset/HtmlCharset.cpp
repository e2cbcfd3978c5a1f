#include "charset/HtmlCharset.h"

#include <cstring>
#include <initializer_list>

#include "foundation/LogBase.h"
#include "foundation/ParseEngine.h"
#include "foundation/StringBuffer.h"

namespace {

constexpr char kWhite[] = " \t\r\n";
constexpr int32_t kMaxAttributes = 101;
constexpr char kCharsetIs[] = "CHARSET=";
constexpr char kEncodingIs[] = "encoding=";

bool isLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

void logStep(LogBase* log, const char* key, const StringBuffer& cleaned) {
  logOrNull(log).logData(key, cleaned.getString());
}

// A tag finished after its attributes is kept on one line.
void finishAfterAttributes(StringBuffer& out, LogBase* log, const char* key) {
  out.appendChar('>');
  out.removeChar('\r');
  out.replaceChar('\n', ' ');
  logStep(log, key, out);
}

// One attribute value, with the cursor just past "=": writes it quoted and returns true
// when ">" ends the tag after it.
bool cleanValue(ParseEngine& p, StringBuffer& value, StringBuffer& out) {
  p.skipChars(kWhite);
  // Values written by a script as \"...\" lose the escape.
  if (p.current() == '\\') {
    const char after = p.text().charAt(static_cast<uint32_t>(p.pos()) + 1);
    if (after == '"' || after == '\'') p.skipChar();
  }
  char quote = p.current();
  const bool quoted = quote == '"' || quote == '\'';
  value.clear();
  if (quoted) {
    p.skipChar();
    p.captureToChar(quote, value);
  } else {
    quote = '"';
    p.captureToAnyOf("\r\n >", value);
  }
  if (value.lastChar() == '\\') value.shorten(1);
  out.appendChar(quote);
  out.appendSb(value);
  out.appendChar(quote);
  if (quoted && p.current() == quote) p.skipChar();
  // The blanks before the next attribute are passed here, so every attribute takes one
  // step toward the limit and the canonical form has single spaces.
  p.skipChars(kWhite);
  return p.current() == '>';
}

// The charset named by a content attribute after "CHARSET=": the delimiters are tried one
// after the other, not by which comes first.
void charsetFromContentRest(const char* rest, uint32_t n, StringBuffer& charset) {
  const void* end = nullptr;
  for (const char delimiter : {'"', ';', ' '}) {
    end = std::memchr(rest, delimiter, n);
    if (end != nullptr) break;
  }
  const uint32_t length =
      end == nullptr ? n : static_cast<uint32_t>(static_cast<const char*>(end) - rest);
  charset.clear();
  charset.appendN(rest, length);
}

}  // namespace

void HtmlHelp::cleanTag(const StringBuffer& tag, StringBuffer& out, LogBase* log) {
  out.clear();
  logOrNull(log).logData("cleaning_tag", tag.getString());
  ParseEngine p;
  p.setText(tag.getString(), tag.getSize());

  p.seekChar('<');
  if (p.atEnd()) {
    logStep(log, "clean_tag_1", out);
    return;
  }
  out.appendChar('<');
  p.skipChar();
  p.skipChars(kWhite);
  p.captureToAnyOf(kWhite, out);
  p.skipChars(kWhite);
  if (p.current() == '>') {
    out.appendChar('>');
    logStep(log, "clean_tag_2", out);
    return;
  }

  StringBuffer name;
  StringBuffer value;
  for (int32_t i = 0; i < kMaxAttributes; ++i) {
    name.setString(" ");
    p.skipChars("\"'");
    p.captureToAnyOf(" \t\n\r>=", name);
    p.skipChars(kWhite);
    const char next = p.current();
    if (isLetter(next)) {
      out.appendSb(name);
    } else if (next == '>') {
      out.appendSb(name);
      finishAfterAttributes(out, log, "clean_tag_6");
      return;
    } else if (next == '=') {
      out.appendSb(name);
      out.appendChar('=');
      p.skipChar();
      if (cleanValue(p, value, out)) {
        finishAfterAttributes(out, log, "clean_tag_4");
        return;
      }
    } else {
      out.trim2();
      if (out.lastChar() != '>') out.appendChar('>');
      logStep(log, "clean_tag_3", out);
      return;
    }
  }
  logStep(log, "clean_tag_5", out);
}

void HtmlHelp::getAttribute(const StringBuffer& cleanTag, const char* name, StringBuffer& out) {
  out.clear();
  if (name == nullptr || *name == '\0') return;
  ParseEngine p;
  p.setText(cleanTag.getString(), cleanTag.getSize());
  StringBuffer key(name);
  key.append("=\"");
  char quote = '"';
  if (!p.seekString(key.getString())) {
    key.shorten(1);
    key.appendChar('\'');
    quote = '\'';
    if (!p.seekString(key.getString())) return;
  }
  p.setPos(p.pos() + static_cast<int32_t>(key.getSize()));
  p.captureToChar(quote, out);
  if (p.atEnd()) {
    out.clear();
    return;
  }
  out.trim2();
  out.replaceChar('\\', '/');
}

void HtmlHelp::getCharsetFromHtml(const StringBuffer& html, StringBuffer& charset) {
  ParseEngine p;
  p.setText(html.getString(), html.getSize());
  StringBuffer tag;
  StringBuffer clean;
  StringBuffer attribute;
  // Each round moves the cursor at least past the "<" of the tag it read, and the tags it
  // copies do not overlap, so the whole search is linear in the HTML.
  while (p.seekString("<meta")) {
    tag.clear();
    p.captureToCharOutsideQuotes('>', tag);
    tag.appendChar('>');
    cleanTag(tag, clean, nullptr);
    getAttribute(clean, "HTTP-EQUIV", attribute);
    if (!attribute.equalsIgnoreCase("content-type")) continue;
    getAttribute(clean, "content", attribute);
    if (attribute.isEmpty()) continue;

    ParseEngine content;
    content.setText(attribute.getString(), attribute.getSize());
    if (content.seekString(kCharsetIs)) {
      content.setPos(content.pos() + static_cast<int32_t>(std::strlen(kCharsetIs)));
      charsetFromContentRest(content.rest(), content.restSize(), charset);
    } else {
      getAttribute(clean, "CHARSET", charset);
    }
    return;
  }
}

bool HtmlHelp::getCharsetFromXmlDeclaration(const char* bytes, uint32_t n, StringBuffer& charset) {
  ParseEngine p;
  p.setText(bytes, n);
  if (!p.seekString("<?xml") || !p.seekString(kEncodingIs)) return false;
  p.setPos(p.pos() + static_cast<int32_t>(std::strlen(kEncodingIs)));
  p.skipChars("\" \t\r\n");
  StringBuffer name;
  p.captureToAnyOf("\" \t\r\n", name);
  name.toLower();
  charset.clear();
  charset.appendSb(name);
  return true;
}
