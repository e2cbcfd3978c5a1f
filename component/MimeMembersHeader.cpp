// Header fields and the content attributes that mirror them. The attribute properties are
// simple getters and setters that leave the log alone; the header members run in the frame.
#include "component/CVorlundMime.h"
#include "component/MemberFrame.h"
#include "foundation/XString.h"
#include "mime/MimeMessage2.h"

namespace {

using AttributeGetter = void (MimeMessage2::*)(StringBuffer&) const;

enum class Case { kAsStored, kLower };

HRESULT getAttribute(const MimeMessage2* e, BSTR* out, AttributeGetter get, Case c) {
  if (out == nullptr) return E_POINTER;
  StringBuffer value;
  if (e != nullptr) (e->*get)(value);
  if (c == Case::kLower) value.toLower();
  *out = bstrFromAnsi(value);
  return S_OK;
}

// One content-type attribute changed: the others as they are, the field written once.
template <typename Change>
void changeContentType(MimeMessage2& e, Change change) {
  ContentTypeValue value;
  e.getContentTypeValue(value);
  change(value);
  e.setContentTypeValue(value);
}

}  // namespace

// --- header fields

HRESULT CVorlundMime::GetHeaderField(BSTR name, BSTR* value) {
  if (value == nullptr) return E_POINTER;
  MemberFrame frame(*this, "GetHeaderField");
  StringBuffer out;
  if (MimeMessage2* e = frame.entity()) {
    XString n;
    n.setFromBSTR(name);
    e->getHeaderField(n.getUtf8(), out);
  }
  *value = bstrFromUtf8(out);
  return S_OK;
}

HRESULT CVorlundMime::SetHeaderField(BSTR fieldName, BSTR fieldValue) {
  MemberFrame frame(*this, "AddHeaderField");
  MimeMessage2* e = frame.entity();
  if (e == nullptr) return S_OK;
  XString n;
  XString v;
  n.setFromBSTR(fieldName);
  v.setFromBSTR(fieldValue);
  // A blank name names no field; storing one would write a header line without a name.
  StringBuffer trimmed(n.getUtf8());
  trimmed.trim2();
  if (trimmed.isEmpty()) return S_OK;
  e->setHeaderField(n.getUtf8(), v.getUtf8());
  return S_OK;
}

HRESULT CVorlundMime::get_NumHeaderFields(LONG* count) {
  if (count == nullptr) return E_POINTER;
  const MimeMessage2* e = entity();
  *count = e != nullptr ? e->getNumHeaderFields() : 0;
  return S_OK;
}

HRESULT CVorlundMime::GetHeaderFieldValue(LONG index, BSTR* value) {
  if (value == nullptr) return E_POINTER;
  MemberFrame frame(*this, "GetHeaderFieldValue");
  StringBuffer out;
  if (MimeMessage2* e = frame.entity()) e->getHeaderFieldValue(index, out);
  *value = bstrFromUtf8(out);
  return S_OK;
}

HRESULT CVorlundMime::GetHeaderFieldName(LONG index, BSTR* name) {
  if (name == nullptr) return E_POINTER;
  MemberFrame frame(*this, "GetHeaderFieldName");
  StringBuffer out;
  if (MimeMessage2* e = frame.entity()) e->getHeaderFieldName(index, out);
  *name = bstrFromUtf8(out);
  return S_OK;
}

HRESULT CVorlundMime::GetEntireHead(BSTR* head) {
  if (head == nullptr) return E_POINTER;
  MemberFrame frame(*this, "GetEntireHead");
  StringBuffer out;
  if (MimeMessage2* e = frame.entity()) e->header().writeText(out, nullptr, e->charset());
  *head = bstrFromAnsi(out);
  return S_OK;
}

// --- content attributes

HRESULT CVorlundMime::get_ContentType(BSTR* value) {
  return getAttribute(entity(), value, &MimeMessage2::getContentType, Case::kLower);
}

HRESULT CVorlundMime::put_ContentType(BSTR value) {
  if (MimeMessage2* e = entity())
    changeContentType(
        *e, [value](ContentTypeValue& v) { v.type.setString(StringBuffer(value).getString()); });
  return S_OK;
}

HRESULT CVorlundMime::get_Encoding(BSTR* value) {
  return getAttribute(entity(), value, &MimeMessage2::getEncoding, Case::kLower);
}

HRESULT CVorlundMime::put_Encoding(BSTR value) {
  StringBuffer v(value);
  v.trim2();
  if (MimeMessage2* e = entity()) e->setEncoding(v.getString());
  return S_OK;
}

HRESULT CVorlundMime::get_Disposition(BSTR* value) {
  return getAttribute(entity(), value, &MimeMessage2::getDisposition, Case::kLower);
}

HRESULT CVorlundMime::put_Disposition(BSTR value) {
  StringBuffer v(value);
  v.trim2();
  if (MimeMessage2* e = entity()) e->setDispositionOnly(v.getString());
  return S_OK;
}

// Only text and message types show a charset; the getter of the entity knows that rule.
HRESULT CVorlundMime::get_Charset(BSTR* value) {
  return getAttribute(entity(), value, &MimeMessage2::getCharsetName, Case::kLower);
}

HRESULT CVorlundMime::put_Charset(BSTR value) {
  if (MimeMessage2* e = entity())
    changeContentType(
        *e, [value](ContentTypeValue& v) { v.charset.setByName(StringBuffer(value).getString()); });
  return S_OK;
}

HRESULT CVorlundMime::get_Filename(BSTR* value) {
  return getAttribute(entity(), value, &MimeMessage2::getFilename, Case::kAsStored);
}

HRESULT CVorlundMime::put_Filename(BSTR value) {
  StringBuffer v(value);
  v.trim2();
  if (MimeMessage2* e = entity()) e->setFilename(v.getString());
  return S_OK;
}

HRESULT CVorlundMime::get_Name(BSTR* value) {
  return getAttribute(entity(), value, &MimeMessage2::getName, Case::kAsStored);
}

HRESULT CVorlundMime::put_Name(BSTR value) {
  if (MimeMessage2* e = entity())
    changeContentType(
        *e, [value](ContentTypeValue& v) { v.name.setString(StringBuffer(value).getString()); });
  return S_OK;
}

HRESULT CVorlundMime::get_Protocol(BSTR* value) {
  return getAttribute(entity(), value, &MimeMessage2::getProtocol, Case::kLower);
}

HRESULT CVorlundMime::put_Protocol(BSTR value) {
  if (MimeMessage2* e = entity())
    changeContentType(*e, [value](ContentTypeValue& v) {
      v.protocol.setString(StringBuffer(value).getString());
    });
  return S_OK;
}

HRESULT CVorlundMime::get_Micalg(BSTR* value) {
  return getAttribute(entity(), value, &MimeMessage2::getMicalg, Case::kLower);
}

HRESULT CVorlundMime::put_Micalg(BSTR value) {
  if (MimeMessage2* e = entity())
    changeContentType(
        *e, [value](ContentTypeValue& v) { v.micalg.setString(StringBuffer(value).getString()); });
  return S_OK;
}

HRESULT CVorlundMime::get_Boundary(BSTR* value) {
  return getAttribute(entity(), value, &MimeMessage2::getBoundary, Case::kAsStored);
}

HRESULT CVorlundMime::put_Boundary(BSTR value) {
  if (MimeMessage2* e = entity())
    changeContentType(*e, [value](ContentTypeValue& v) {
      v.boundary.setString(StringBuffer(value).getString());
    });
  return S_OK;
}
