// The cached attributes of an entity: derived from its content-type, content-disposition,
// content-id and content-transfer-encoding fields, and the content-type field written back
// from them.
#include <strings.h>

#include <cstdlib>
#include <initializer_list>

#include "foundation/ParamString.h"
#include "foundation/ParseEngine.h"
#include "mime/MimeMessage2.h"

namespace {

void lowerAscii(StringBuffer& s) { s.toLower(); }

// Walks "name=value;" pairs from the engine's position, handing each to `store` with a
// quoted value put back in place of its marker.
template <typename Store>
void forEachParameter(ParseEngine& engine, const ParamString& params, Store store) {
  StringBuffer name;
  StringBuffer value;
  while (!engine.atEnd()) {
    const int32_t before = engine.pos();
    name.clear();
    value.clear();
    engine.captureToChar('=', name);
    engine.skipChars("=");
    engine.captureToChar(';', value);
    engine.skipChars(";");
    if (value.beginsWith("<[[")) {
      const int32_t n = std::atoi(value.getString() + 3);
      const StringBuffer* quoted = params.getQuoted(n);
      value.setString(quoted != nullptr ? quoted->getString() : "");
    }
    store(name, value);
    if (engine.pos() == before) break;  // nothing consumed: the rest cannot be read
  }
}

void collapseWhitespace(StringBuffer& s) {
  s.replaceAnyOf("\r\n\t", ' ');
  s.trimInsideSpaces();
}

}  // namespace

void MimeMessage2::deriveContentType() {
  for (StringBuffer* s :
       {&contentType_, &protocol_, &micalg_, &typeParam_, &boundary_, &smimeType_, &name_})
    s->clear();
  charset_.clear();

  StringBuffer value;
  getHeaderField("content-type", value);
  ParamString params;
  params.parse(value.getString());
  ParseEngine engine;
  engine.setText(params.getMarked().getString(), params.getMarked().getSize());
  engine.captureToAnyOf("; \t\r", contentType_);
  lowerAscii(contentType_);
  contentType_.removeChar(' ');
  contentType_.removeChar('\t');
  engine.skipChars("; \t\r\n");
  engine.removeSpacesAndTabsFromPos();

  forEachParameter(engine, params, [this](StringBuffer& name, StringBuffer& v) {
    if (name.equalsIgnoreCase("protocol")) {
      protocol_.setSb(v);
      lowerAscii(protocol_);
    } else if (name.equalsIgnoreCase("micalg")) {
      micalg_.setSb(v);
      lowerAscii(micalg_);
    } else if (name.equalsIgnoreCase("boundary")) {
      boundary_.setSb(v);
    } else if (name.equalsIgnoreCase("charset")) {
      charset_.setByName(v.getString());
    } else if (name.equalsIgnoreCase("smime-type")) {
      smimeType_.setSb(v);
      lowerAscii(smimeType_);
    } else if (name.equalsIgnoreCase("name")) {
      name_.setSb(v);
      lowerAscii(name_);
    } else if (name.equalsIgnoreCase("type")) {
      typeParam_.setSb(v);
      lowerAscii(typeParam_);
    }
  });
}

void MimeMessage2::deriveDisposition() {
  disposition_.clear();
  filename_.clear();
  StringBuffer value;
  getHeaderField("content-disposition", value);
  ParamString params;
  params.parse(value.getString());
  ParseEngine engine;
  engine.setText(params.getMarked().getString(), params.getMarked().getSize());
  engine.removeSpacesAndTabsFromPos();
  engine.captureToChar(';', disposition_);
  lowerAscii(disposition_);
  engine.skipChars(";");
  forEachParameter(engine, params, [this](StringBuffer& name, StringBuffer& v) {
    if (name.equalsIgnoreCase("filename")) {
      filename_.setSb(v);
      collapseWhitespace(filename_);
    }
  });
}

namespace {

// The value up to its first ";", trimmed.
void firstToken(const MimeMessage2& entity, const char* field, StringBuffer& out) {
  out.clear();
  StringBuffer value;
  entity.getHeaderField(field, value);
  value.trim2();
  ParseEngine engine;
  engine.setText(value.getString(), value.getSize());
  engine.captureToChar(';', out);
}

}  // namespace

void MimeMessage2::deriveContentId() { firstToken(*this, "content-id", contentId_); }

void MimeMessage2::deriveEncoding() { firstToken(*this, "content-transfer-encoding", encoding_); }

void MimeMessage2::deriveAllAttributes() {
  deriveContentType();
  deriveDisposition();
  deriveContentId();
  deriveEncoding();
  minimizeMemory();
}

void MimeMessage2::setContentTypeValue(const ContentTypeValue& v) {
  // Copied first: the value may hold this entity's own attributes.
  StringBuffer t(v.type.getString()), n(v.name.getString()), p(v.protocol.getString()),
      m(v.micalg.getString()), b(v.boundary.getString()), s(v.smimeType.getString()),
      tp(v.typeParam.getString());
  Charset cs;
  cs.copyFrom(v.charset);
  contentType_.setSb(t);
  name_.setSb(n);
  protocol_.setSb(p);
  micalg_.setSb(m);
  charset_.copyFrom(cs);
  boundary_.setSb(b);
  smimeType_.setSb(s);
  typeParam_.setSb(tp);

  StringBuffer value(t.getString());
  const bool isText = strncasecmp(t.getString(), "text", 4) == 0;
  const char* charsetName = nullptr;
  if (cs.getCodePage() != 0)
    charsetName = cs.getName().getString();
  else if (isText)
    charsetName = "us-ascii";  // written only; the attribute stays empty
  if (charsetName != nullptr) {
    value.append("; charset=\"");
    value.append(charsetName);
    value.append("\";");
  } else {
    value.append(";");
  }
  auto quoted = [&value](const char* prefix, const StringBuffer& v) {
    if (v.isEmpty()) return;
    value.append(prefix);
    value.appendChar('"');
    value.appendSb(v);
    value.append("\";");
  };
  auto bare = [&value](const char* prefix, const StringBuffer& v) {
    if (v.isEmpty()) return;
    value.append(prefix);
    value.appendSb(v);
    value.appendChar(';');
  };
  quoted(" type=", tp);
  quoted("\r\n\tboundary=", b);
  quoted("\r\n\tname=", n);
  quoted("\r\n\tprotocol=", p);
  bare("\r\n\tmicalg=", m);
  bare("\r\n\tsmime-type=", s);
  value.trim2();
  if (value.lastChar() == ';') {
    value.shorten(1);
    value.trim2();
  }
  header_.replaceField("content-type", value.getString());
}
