#include "mime/MimeMessage2.h"

#include <strings.h>

#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "charset/KeptCodes.h"
#include "foundation/ByteCodecs.h"
#include "foundation/Conversion.h"
#include "foundation/Memory.h"
#include "foundation/ParamString.h"
#include "foundation/ParseEngine.h"
#include "mime/ContentCoding.h"
#include "mime/MimeWriter.h"
#include "platform/CodePage.h"

namespace {

constexpr int32_t kUsAscii = 20127;

bool beginsNoCase(const StringBuffer& s, const char* prefix) {
  return strncasecmp(s.getString(), prefix, std::strlen(prefix)) == 0;
}

bool equalsEither(const StringBuffer& s, const char* a, const char* b) {
  return s.equalsIgnoreCase(a) || s.equalsIgnoreCase(b);
}

}  // namespace

LoadedText::LoadedText(StringBuffer& text) { block_ = text.takeString(&length_); }

LoadedText::~LoadedText() { vorlundFree(block_); }

MimeMessage2::~MimeMessage2() {
  dropWindow();
  parts_.removeAllObjects();
  if (anchor_ != nullptr) {
    anchor_->alive_ = false;
    anchor_->release();
  }
}

EntityAnchor* MimeMessage2::anchor() {
  if (anchor_ == nullptr) {
    anchor_ = new EntityAnchor();
    anchor_->addRef();
  }
  return anchor_;
}

void MimeMessage2::clear() {
  rawText_.clear();
  dropWindow();
  body_.clear();
  for (StringBuffer* s : {&contentType_, &disposition_, &encoding_, &name_, &filename_, &protocol_,
                          &micalg_, &boundary_, &contentId_, &smimeType_, &typeParam_})
    s->clear();
  charset_.clear();
  header_.clear();
  parts_.removeAllObjects();
}

void MimeMessage2::minimizeMemory() {
  for (StringBuffer* s : {&rawText_, &contentType_, &disposition_, &encoding_, &name_, &filename_,
                          &protocol_, &micalg_, &boundary_, &contentId_, &smimeType_, &typeParam_})
    s->minimizeMemory();
  charset_.minimizeMemory();
  header_.minimizeMemory();
  body_.minimizeMemory();
}

void MimeMessage2::getCharsetName(StringBuffer& out) const {
  if (beginsNoCase(contentType_, "text") || beginsNoCase(contentType_, "message"))
    out.appendSb(charset_.getName());
}

bool MimeMessage2::getHeaderField(const char* name, StringBuffer& out) const {
  StringBuffer value;
  if (!header_.getFirstValue(name, value)) return false;
  if (value.containsNoCase("?B?") || value.containsNoCase("?Q?"))
    ContentCoding().decodeWords(value);
  out.appendSb(value);
  return true;
}

void MimeMessage2::setHeaderField(const char* name, const char* value) {
  if (name == nullptr) return;
  StringBuffer n(name);
  StringBuffer v(value);
  n.trim2();
  v.trim2();
  if (v.isEmpty())
    header_.removeAll(n.getString());
  else
    header_.replaceField(n.getString(), v.getString());
  if (n.equalsIgnoreCase("content-type"))
    deriveContentType();
  else if (n.equalsIgnoreCase("content-disposition"))
    deriveDisposition();
  else if (n.equalsIgnoreCase("content-id"))
    deriveContentId();
  else if (n.equalsIgnoreCase("content-transfer-encoding"))
    deriveEncoding();
}

void MimeMessage2::appendPart(MimeMessage2* part) {
  if (part != nullptr) parts_.appendPtr(part);
}

void MimeMessage2::removePart(int32_t index) { delete parts_.removeAt(index); }

MimeMessage2* MimeMessage2::takePart(int32_t index) {
  return static_cast<MimeMessage2*>(parts_.removeAt(index));
}

void MimeMessage2::getContentTypeValue(ContentTypeValue& out) const {
  out.type.setSb(contentType_);
  out.name.setSb(name_);
  out.protocol.setSb(protocol_);
  out.micalg.setSb(micalg_);
  out.charset.copyFrom(charset_);
  out.boundary.setSb(boundary_);
  out.smimeType.setSb(smimeType_);
  out.typeParam.setSb(typeParam_);
}

void MimeMessage2::setEncoding(const char* encoding) {
  encoding_.setString(encoding);
  header_.replaceField("content-transfer-encoding", encoding);
  deriveEncoding();
}

void MimeMessage2::setDisposition(const char* disposition, const char* filename) {
  StringBuffer d(disposition);
  StringBuffer f(filename);
  if (d.isEmpty() && f.isEmpty()) {
    header_.removeAll("content-disposition");
    deriveDisposition();
    return;
  }
  f.replaceAnyOf("\r\n\t", ' ');
  f.trimInsideSpaces();
  disposition_.setSb(d);
  filename_.setSb(f);
  StringBuffer value(d.getString());
  if (!f.isEmpty()) {
    value.append("; filename=\"");
    value.appendSb(f);
    value.appendChar('"');
  }
  header_.replaceField("content-disposition", value.getString());
  deriveDisposition();
}

void MimeMessage2::setFilename(const char* filename) {
  StringBuffer d(disposition_.getString());
  StringBuffer f(filename);
  if (d.isEmpty() && !f.isEmpty()) d.setString("attachment");
  setDisposition(d.getString(), f.getString());
}

void MimeMessage2::setDispositionOnly(const char* disposition) {
  StringBuffer d(disposition);
  if (d.isEmpty()) {
    setDisposition("", "");
    return;
  }
  StringBuffer f(filename_.getString());
  setDisposition(d.getString(), f.getString());
}

// The writer converts a body back to its charset only for a "text/" type as written and
// only for a code page other than UTF-8 and us-ascii (us-ascii labels text whose charset
// nobody knows). A body converted on one side and not on the other comes out changed, or
// loses the bytes the conversion cannot take back, so every side asks this same question.
int32_t MimeMessage2::textCodePage(const Charset& charset) const {
  const int32_t cp = charset.getCodePage();
  if (cp == 0 || cp == CP_UTF8 || cp == kUsAscii || !contentType_.beginsWith("text/")) return 0;
  return cp;
}

MimeMessage2::BodyCoding MimeMessage2::codingOf(const char* encoding) {
  if (encoding != nullptr && strcasecmp(encoding, "base64") == 0) return BodyCoding::kBase64;
  if (encoding != nullptr && strcasecmp(encoding, "quoted-printable") == 0)
    return BodyCoding::kQuotedPrintable;
  return BodyCoding::kRaw;
}

void MimeMessage2::decodeTransfer(BodyCoding coding, const char* text, uint32_t n,
                                  DataBuffer& out) {
  if (coding == BodyCoding::kBase64)
    decodeBase64Strict(text, n, out);  // a body that is not base64 is empty
  else if (coding == BodyCoding::kQuotedPrintable)
    decodeQuotedPrintable(text, n, out);
  else
    out.appendExact(text, n);
}

void MimeMessage2::decodeBody(BodyCoding coding, const char* text, uint32_t n, int32_t codePage,
                              DataBuffer& out) {
  out.setSize(0);
  if (codePage == 0) {
    decodeTransfer(coding, text, n, out);
    return;
  }
  DataBuffer decoded;
  decodeTransfer(coding, text, n, decoded);
  convertCodePage(codePage, CP_UTF8, decoded.getData(), decoded.getSize(), out);
}

bool MimeMessage2::appendWindowInOwnCharset(DataBuffer& out) const {
  const KeptCodes* page = codesKeptThroughUtf8(window_.codePage);
  if (page == nullptr) return false;
  const uint32_t start = out.getSize();
  decodeTransfer(window_.coding, window_.text, window_.n, out);
  const uint32_t n = out.getSize() - start;
  if (page->keeps(out.getData() + start, n)) return true;
  out.shorten(n);
  return false;
}

void MimeMessage2::storeBody(DataBuffer& decoded, const Charset& charset) {
  dropWindow();
  const int32_t cp = textCodePage(charset);
  if (cp == 0) {
    body_.takeFrom(decoded);
  } else {
    DataBuffer utf8;
    convertCodePage(cp, CP_UTF8, decoded.getData(), decoded.getSize(), utf8);
    body_.takeFrom(utf8);
  }
  // A body is kept for the life of the tree: the growth room of the decoder's buffer would
  // cost a message of many tiny parts far more than its size.
  body_.minimizeMemory();
}

void MimeMessage2::setBodyRaw(const void* bytes, uint32_t n, const Charset& charset) {
  DataBuffer copy;
  copy.appendExact(bytes, n);
  storeBody(copy, charset);
}

void MimeMessage2::setBodyFromQuotedPrintable(const char* text, uint32_t n,
                                              const Charset& charset) {
  DataBuffer decoded;
  decodeQuotedPrintable(text, n, decoded);
  storeBody(decoded, charset);
}

void MimeMessage2::setBodyFromBase64(const char* text, uint32_t n, const Charset& charset) {
  DataBuffer decoded;
  if (!decodeBase64Strict(text, n, decoded)) decoded.clear();
  storeBody(decoded, charset);
}

void MimeMessage2::setBodyEncoded(const char* encoding, const char* text, uint32_t n,
                                  const Charset& charset) {
  const BodyCoding coding = codingOf(encoding);
  if (coding == BodyCoding::kBase64)
    setBodyFromBase64(text, n, charset);
  else if (coding == BodyCoding::kQuotedPrintable)
    setBodyFromQuotedPrintable(text, n, charset);
  else
    setBodyRaw(text, n, charset);
}

void MimeMessage2::setBodyWindow(LoadedText* loaded, const char* encoding, const char* text,
                                 uint32_t n, const Charset& charset) {
  dropWindow();
  body_.clear();
  loaded->addRef();
  window_ = {loaded, text, n, codingOf(encoding), textCodePage(charset)};
}

void MimeMessage2::dropWindow() {
  if (window_.loaded == nullptr) return;
  window_.loaded->release();
  window_ = BodyWindow();
}

void MimeMessage2::keepWindowDecoded() const {
  DataBuffer decoded;
  decodeBody(window_.coding, window_.text, window_.n, window_.codePage, decoded);
  body_.takeFrom(decoded);
  body_.minimizeMemory();
  const_cast<MimeMessage2*>(this)->dropWindow();
}

void MimeMessage2::readBody(DataBuffer& scratch, const unsigned char** bytes, uint32_t* n) const {
  if (window_.loaded == nullptr) {
    *bytes = body_.getData();
    *n = body_.getSize();
    return;
  }
  decodeBody(window_.coding, window_.text, window_.n, window_.codePage, scratch);
  *bytes = scratch.getData();
  *n = scratch.getSize();
}

uint32_t MimeMessage2::writtenSizeHint() const {
  if (window_.loaded != nullptr) return window_.n;
  return body_.getSize() / 3 * 4 + 4;
}

bool MimeMessage2::windowText(const char** text, uint32_t* n, bool* base64) const {
  if (window_.loaded == nullptr || window_.codePage != 0 ||
      window_.coding == BodyCoding::kQuotedPrintable)
    return false;
  *text = window_.text;
  *n = window_.n;
  *base64 = window_.coding == BodyCoding::kBase64;
  return true;
}

bool MimeMessage2::quotedPrintableWindow(int32_t codePage, const char** text, uint32_t* n,
                                         const bool** escapable) const {
  if (codePage != window_.codePage || !quotedPrintableText(text, n)) return false;
  // In its own single-byte charset the window reads as its decoded bytes when each of them
  // comes back from UTF-8 as itself; the literal bytes of quoted-printable text are ASCII.
  const KeptCodes* page = codePage != 0 ? codesKeptThroughUtf8(codePage) : nullptr;
  if (codePage != 0 && (page == nullptr || page->doubleByte() || !page->keepsAscii())) return false;
  *escapable = page != nullptr ? page->bytes() : nullptr;
  return true;
}

bool MimeMessage2::quotedPrintableText(const char** text, uint32_t* n) const {
  if (window_.loaded == nullptr || window_.coding != BodyCoding::kQuotedPrintable) return false;
  *text = window_.text;
  *n = window_.n;
  return true;
}

bool MimeMessage2::readBodyInCharset(DataBuffer& scratch, int32_t codePage,
                                     const unsigned char** bytes, uint32_t* n) const {
  if (window_.loaded == nullptr || codePage == 0 || codePage != window_.codePage) return false;
  scratch.setSize(0);
  if (!appendWindowInOwnCharset(scratch)) return false;
  *bytes = scratch.getData();
  *n = scratch.getSize();
  return true;
}

void MimeMessage2::getBodyBytes(DataBuffer& out, int32_t codePage) const {
  // A window is read straight into `out` where that gives what its held body would, and is
  // left a window: reading a loaded message's bodies once costs no copy that outlives the read.
  if (window_.loaded != nullptr) {
    const bool asHeld = codePage == 0 || codePage == CP_UTF8;
    if (asHeld && window_.codePage == 0) {
      decodeTransfer(window_.coding, window_.text, window_.n, out);
      return;
    }
    if (!asHeld && codePage == window_.codePage && appendWindowInOwnCharset(out)) return;
  }
  const DataBuffer& held = body();
  if (codePage == 0 || codePage == CP_UTF8) {
    out.append(held.getData(), held.getSize());
    return;
  }
  convertCodePage(CP_UTF8, codePage, held.getData(), held.getSize(), out);
}

void MimeMessage2::newMultipart(MultipartKind kind) {
  clear();
  StringBuffer boundary;
  makeBoundary(boundary);
  const char* suffix = kind == MultipartKind::kMixed     ? "_.MIX"
                       : kind == MultipartKind::kRelated ? "_.REL"
                                                         : "_.ALT";
  const char* type = kind == MultipartKind::kMixed     ? "multipart/mixed"
                     : kind == MultipartKind::kRelated ? "multipart/related"
                                                       : "multipart/alternative";
  ContentTypeValue value;
  value.type.setString(type);
  value.boundary.setSb(boundary);
  value.boundary.append(suffix);
  setContentTypeValue(value);
}

void MimeMessage2::newMessageRfc822(const char* utf8MimeText) {
  clear();
  ContentTypeValue value;
  value.type.setString("message/rfc822");
  setContentTypeValue(value);
  StringBuffer text(utf8MimeText);
  body_.append(text.getString(), text.getSize());
}

void MimeMessage2::copyFrom(MimeMessage2& other) {
  if (&other == this) return;
  clear();
  contentType_.setSb(other.contentType_);
  disposition_.setSb(other.disposition_);
  encoding_.setSb(other.encoding_);
  name_.setSb(other.name_);
  filename_.setSb(other.filename_);
  protocol_.setSb(other.protocol_);
  micalg_.setSb(other.micalg_);
  charset_.copyFrom(other.charset_);
  boundary_.setSb(other.boundary_);
  contentId_.setSb(other.contentId_);
  smimeType_.setSb(other.smimeType_);
  typeParam_.setSb(other.typeParam_);
  header_.copyFrom(other.header_);
  header_.setCodePage(other.header_.codePage());
  if (other.window_.loaded != nullptr) {
    window_ = other.window_;
    window_.loaded->addRef();
  } else {
    body_.setData(other.body_.getData(), other.body_.getSize());
  }
  for (int32_t i = 0; i < other.parts_.getSize(); ++i) {
    parts_.appendPtr(other.parts_.getAt(i));
    other.parts_.setAt(i, nullptr);
  }
  other.parts_.clear();
}

void MimeMessage2::mergeContent(MimeMessage2& inner) {
  if (&inner == this) return;
  for (int32_t i = 0; i < inner.parts_.getSize(); ++i) {
    parts_.appendPtr(inner.parts_.getAt(i));
    inner.parts_.setAt(i, nullptr);
  }
  inner.parts_.clear();
  dropWindow();
  body_.clear();
  if (inner.window_.loaded != nullptr) {
    window_ = inner.window_;
    window_.loaded->addRef();
  } else {
    body_.setData(inner.body_.getData(), inner.body_.getSize());
  }
  header_.removeAll("content-disposition");
  header_.removeAll("content-type");
  header_.removeAll("content-transfer-encoding");
  header_.mergeFrom(inner.header_);
  deriveAllAttributes();
}

bool MimeMessage2::isMultipart() const { return beginsNoCase(contentType_, "multipart"); }
bool MimeMessage2::isMultipartMixed() const {
  return contentType_.equalsIgnoreCase("multipart/mixed");
}
bool MimeMessage2::isMultipartSigned() const {
  return contentType_.equalsIgnoreCase("multipart/signed");
}
bool MimeMessage2::isPkcs7Mime() const {
  return equalsEither(contentType_, "application/pkcs7-mime", "application/x-pkcs7-mime");
}
bool MimeMessage2::isSignedData() const {
  return isPkcs7Mime() && smimeType_.equalsIgnoreCase("signed-data");
}
bool MimeMessage2::isEncrypted() const {
  return isPkcs7Mime() && !smimeType_.equalsIgnoreCase("signed-data");
}
bool MimeMessage2::isSignaturePart() const {
  return equalsEither(contentType_, "application/x-pkcs7-signature", "application/pkcs7-signature");
}
bool MimeMessage2::isAttachment() const { return disposition_.equalsIgnoreCase("attachment"); }

bool MimeMessage2::containsEncrypted() const {
  if (isEncrypted()) return true;
  for (int32_t i = 0; i < parts_.getSize(); ++i)
    if (getPart(i) != nullptr && getPart(i)->containsEncrypted()) return true;
  return false;
}

bool MimeMessage2::containsSigned() const {
  if (isMultipartSigned() || isSignedData()) return true;
  for (int32_t i = 0; i < parts_.getSize(); ++i)
    if (getPart(i) != nullptr && getPart(i)->containsSigned()) return true;
  return false;
}

// The cached attributes of an entity: derived from its content-type, content-disposition,
// content-id and content-transfer-encoding fields, and the content-type field written back
// from them.
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
