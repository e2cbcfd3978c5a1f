// The entity's body in every form: decoded, encoded, as bytes, from text, HTML, XML, files and
// already-encoded text, and saved to a file.

#include "charset/Charset.h"
#include "charset/HtmlCharset.h"
#include "component/BodyFromFile.h"
#include "component/CVorlundMime.h"
#include "component/MemberFrame.h"
#include "foundation/Conversion.h"
#include "foundation/FileAccess.h"
#include "foundation/Memory.h"
#include "foundation/VariantData.h"
#include "foundation/XString.h"
#include "mime/MimeMessage2.h"
#include "mime/MimeWriter.h"
#include "platform/CodePage.h"

namespace {

// Stores a text given in its UTF-8 form as a body in `charsetName`: converted to that
// charset's code page and stored as bytes of that charset, so whatever the charset cannot
// represent is dropped on the way. The content type is set first because a text body is
// held in UTF-8 only once the entity is known to be text.
void setTextBody(MimeMessage2& e, XString& text, const char* charsetName, const char* contentType,
                 bool takeCharset = false) {
  ContentTypeValue value;
  e.getContentTypeValue(value);
  value.type.setString(contentType);
  if (takeCharset) value.charset.setByName(charsetName);
  e.setContentTypeValue(value);
  Charset cs;
  cs.setByName(charsetName);
  const StringBuffer& utf8 = text.getUtf8Sb();
  const int32_t cp = cs.getCodePage();
  // A charset the engine does not know keeps the text as it came rather than losing it.
  if (cp == 0 || cp == CP_UTF8) {
    e.setBodyRaw(utf8.getString(), utf8.getSize(), cs);
    return;
  }
  DataBuffer converted;
  convertCodePage(CP_UTF8, cp, utf8.getString(), utf8.getSize(), converted);
  e.setBodyRaw(converted.getData(), converted.getSize(), cs);
}

// Plain text and XML go in the entity's charset; in UTF-8, which the entity then takes as its
// charset, when it has none (a type other than text or message shows none).
void setBodyInOwnCharset(MimeMessage2& e, BSTR bodyText, const char* contentType) {
  XString text;
  text.setFromBSTR(bodyText);
  StringBuffer charset;
  e.getCharsetName(charset);
  const bool none = charset.isEmpty();
  if (none) charset.setString("utf-8");
  setTextBody(e, text, charset.getString(), contentType, none);
}

}  // namespace

// --- reading the body

HRESULT CVorlundMime::GetBodyDecoded(BSTR* body) {
  if (body == nullptr) return E_POINTER;
  MemberFrame frame(*this, "GetBodyDecoded");
  MimeMessage2* e = frame.entity();
  *body = e != nullptr ? e->body().createBSTR() : emptyBstr();
  return S_OK;
}

HRESULT CVorlundMime::GetBodyEncoded(BSTR* body) {
  if (body == nullptr) return E_POINTER;
  MemberFrame frame(*this, "GetBodyEncoded");
  StringBuffer out;
  if (MimeMessage2* e = frame.entity()) getBodyEncoded(*e, out);
  *body = bstrFromAnsi(out);
  return S_OK;
}

HRESULT CVorlundMime::GetBodyBinary(VARIANT* body) {
  if (body == nullptr) return E_POINTER;
  MemberFrame frame(*this, "GetBodyBinary");
  if (MimeMessage2* e = frame.entity()) {
    e->body().toVariant(body);
  } else {
    VariantInit(body);
    body->vt = VT_NULL;
  }
  return S_OK;
}

HRESULT CVorlundMime::GetEntireBody(BSTR* body) {
  if (body == nullptr) return E_POINTER;
  MemberFrame frame(*this, "GetEntireBody");
  StringBuffer out;
  if (MimeMessage2* e = frame.entity()) writeBody(*e, out);
  *body = bstrFromAnsi(out);
  return S_OK;
}

HRESULT CVorlundMime::SaveBody(BSTR fileName, LONG* success) {
  if (success == nullptr) return E_POINTER;
  *success = 0;
  MemberFrame frame(*this, "SaveBody");
  MimeMessage2* e = frame.entity();
  if (e == nullptr) return S_OK;
  DataBuffer bytes;
  e->getBodyBytes(bytes, e->textCodePage(e->charset()));
  XString path;
  path.setFromBSTR(fileName);
  *success = writeFileUtf8(path.getUtf8(), bytes.getData(), bytes.getSize(), &log_) ? 1 : 0;
  return S_OK;
}

// --- setting the body

HRESULT CVorlundMime::SetBodyFromFile(BSTR fileName, LONG* success) {
  if (success == nullptr) return E_POINTER;
  *success = 0;
  MemberFrame frame(*this, "SetBodyFromFile");
  MimeMessage2* e = frame.entity();
  if (e == nullptr) return S_OK;
  XString path;
  path.setFromBSTR(fileName);
  *success = setBodyFromFile(*e, path, FileBodyMode::kBody, &log_) ? 1 : 0;
  return S_OK;
}

HRESULT CVorlundMime::SetBodyFromEncoded(BSTR encoding, BSTR bodyText) {
  MemberFrame frame(*this, "SetBodyFromEncoded");
  MimeMessage2* e = frame.entity();
  if (e == nullptr) return S_OK;
  StringBuffer enc(encoding);
  StringBuffer text(bodyText);
  e->setEncoding(enc.getString());
  e->setBodyEncoded(enc.getString(), text.getString(), text.getSize(), e->charset());
  if (e->contentType().isEmpty()) {
    ContentTypeValue value;
    e->getContentTypeValue(value);
    value.type.setString(enc.equalsIgnoreCase("base64") ? "application/octet-stream"
                                                        : "text/plain");
    e->setContentTypeValue(value);
  }
  return S_OK;
}

HRESULT CVorlundMime::SetBodyFromPlainText(BSTR bodyText) {
  MemberFrame frame(*this, "SetBodyFromPlainText");
  if (MimeMessage2* e = frame.entity()) setBodyInOwnCharset(*e, bodyText, "text/plain");
  return S_OK;
}

HRESULT CVorlundMime::SetBodyFromXml(BSTR bodyText) {
  MemberFrame frame(*this, "SetBodyFromXml");
  if (MimeMessage2* e = frame.entity()) setBodyInOwnCharset(*e, bodyText, "text/xml");
  return S_OK;
}

// The HTML names its own charset in a META tag; the entity's charset is left as it is.
HRESULT CVorlundMime::SetBodyFromHtml(BSTR bodyText) {
  MemberFrame frame(*this, "SetBodyFromHtml");
  MimeMessage2* e = frame.entity();
  if (e == nullptr) return S_OK;
  XString text;
  text.setFromBSTR(bodyText);
  // The META tag is looked for in the ANSI form, made apart from `text` so that its UTF-8
  // form is still made from the full UTF-16 text.
  StringBuffer ansi(bodyText);
  StringBuffer charset;
  HtmlHelp::getCharsetFromHtml(ansi, charset);
  if (charset.isEmpty()) charset.setString("utf-8");
  setTextBody(*e, text, charset.getString(), "text/html");
  return S_OK;
}

HRESULT CVorlundMime::SetBodyFromBinary(VARIANT binaryData) {
  MemberFrame frame(*this, "SetBodyFromBinary");
  MimeMessage2* e = frame.entity();
  if (e == nullptr) return S_OK;
  uint32_t size = 0;
  bool mustFree = false;
  const unsigned char* bytes = getVariantData(&binaryData, size, mustFree);
  const Charset none;
  e->setBodyRaw(bytes, size, none);
  e->setEncoding("base64");
  if (mustFree) vorlundFree(const_cast<unsigned char*>(bytes));
  return S_OK;
}
