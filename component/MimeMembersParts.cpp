// Sub-parts and containers: counting, removing, appending parts from other Mime objects and
// from files, and rebuilding the entity as a new container or an enclosed message.
#include "component/BodyFromFile.h"
#include "component/CVorlundMime.h"
#include "component/MemberFrame.h"
#include "foundation/XString.h"
#include "mime/MimeMessage2.h"
#include "mime/MimeParser.h"
#include "mime/MimeWriter.h"

namespace {

// Makes a leaf the first part of a new multipart/mixed container: everything it had, its
// header fields included, moves into that part.
void convertToContainer(MimeMessage2& e, LogBase* log) {
  StringBuffer text;
  writeEntire(e, text);
  auto* first = new MimeMessage2();
  loadEntity(*first, text, log);
  e.newMultipart(MimeMessage2::MultipartKind::kMixed);
  e.appendPart(first);
}

// The MIME text of another Mime object, asked through its own GetMime as any host would ask
// it; null (an empty text) when the call fails. The caller frees it.
BSTR mimeTextOf(IVorlundMime* other) {
  BSTR text = nullptr;
  if (FAILED(other->GetMime(&text))) return nullptr;
  return text;
}

void newMultipart(CVorlundMime& self, const char* context, MimeMessage2::MultipartKind kind) {
  MemberFrame frame(self, context);
  if (MimeMessage2* e = frame.entity()) e->newMultipart(kind);
}

}  // namespace

HRESULT CVorlundMime::get_NumParts(LONG* count) {
  if (count == nullptr) return E_POINTER;
  const MimeMessage2* e = entity();
  *count = e != nullptr ? e->getNumParts() : 0;
  return S_OK;
}

HRESULT CVorlundMime::RemovePart(LONG index) {
  MemberFrame frame(*this, "RemovePart");
  if (MimeMessage2* e = frame.entity()) e->removePart(index);
  return S_OK;
}

HRESULT CVorlundMime::NewMultipartMixed() {
  newMultipart(*this, "NewMultipartMixed", MimeMessage2::MultipartKind::kMixed);
  return S_OK;
}

HRESULT CVorlundMime::NewMultipartRelated() {
  newMultipart(*this, "NewMultipartRelated", MimeMessage2::MultipartKind::kRelated);
  return S_OK;
}

HRESULT CVorlundMime::NewMultipartAlternative() {
  newMultipart(*this, "NewMultipartAlternative", MimeMessage2::MultipartKind::kAlternative);
  return S_OK;
}

// The appended part is a copy parsed from the other object's text, so no entity is ever in
// two trees and later changes through the other object do not reach it.
HRESULT CVorlundMime::AppendPart(IVorlundMime* mime) {
  MemberFrame frame(*this, "AppendPart");
  if (mime == nullptr) {
    log_.logError("NULL parameter");
    return S_OK;
  }
  MimeMessage2* e = frame.entity();
  if (e == nullptr) return S_OK;
  if (!e->isMultipart()) convertToContainer(*e, &log_);
  BSTR text = mimeTextOf(mime);
  // The other object may share this tree and may have changed it while it answered.
  e = frame.entity();
  if (e != nullptr) {
    StringBuffer ansi(text);
    auto* part = new MimeMessage2();
    loadEntity(*part, ansi, &log_);
    e->appendPart(part);
  }
  SysFreeString(text);
  return S_OK;
}

// The container is made first, so it stays even when the file cannot be read.
HRESULT CVorlundMime::AppendPartFromFile(BSTR fileName, LONG* success) {
  if (success == nullptr) return E_POINTER;
  *success = 0;
  MemberFrame frame(*this, "AppendPartFromFile");
  MimeMessage2* e = frame.entity();
  if (e == nullptr) return S_OK;
  if (!e->isMultipart()) convertToContainer(*e, &log_);
  XString path;
  path.setFromBSTR(fileName);
  auto* part = new MimeMessage2();
  if (!setBodyFromFile(*part, path, FileBodyMode::kPart, &log_)) {
    delete part;
    return S_OK;
  }
  e->appendPart(part);
  *success = 1;
  return S_OK;
}

HRESULT CVorlundMime::NewMessageRfc822(IVorlundMime* mime) {
  MemberFrame frame(*this, "NewMessageRfc822");
  if (mime == nullptr) return S_OK;
  if (frame.entity() == nullptr) return S_OK;
  BSTR text = mimeTextOf(mime);
  if (MimeMessage2* e = frame.entity()) {
    XString utf8;
    utf8.setFromBSTR(text);
    e->newMessageRfc822(utf8.getUtf8());
  }
  SysFreeString(text);
  return S_OK;
}
