// What the entity is: comparisons of its content type and disposition, and searches of the
// tree below it for secured parts. None of them touches the log; a part object whose entity
// is gone answers 0.
#include <strings.h>

#include <cstring>

#include "component/CVorlundMime.h"
#include "mime/MimeMessage2.h"

namespace {

bool typeIs(const MimeMessage2& e, const char* type) {
  return strcasecmp(e.contentType().getString(), type) == 0;
}

bool typeBegins(const MimeMessage2& e, const char* prefix) {
  return strncasecmp(e.contentType().getString(), prefix, std::strlen(prefix)) == 0;
}

template <typename Test>
HRESULT answer(const MimeMessage2* e, LONG* result, Test test) {
  if (result == nullptr) return E_POINTER;
  *result = e != nullptr && test(*e) ? 1 : 0;
  return S_OK;
}

}  // namespace

HRESULT CVorlundMime::IsMultipart(LONG* r) {
  return answer(entity(), r, [](const MimeMessage2& e) { return e.isMultipart(); });
}
HRESULT CVorlundMime::IsPlainText(LONG* r) {
  return answer(entity(), r, [](const MimeMessage2& e) { return typeIs(e, "text/plain"); });
}
HRESULT CVorlundMime::IsHtml(LONG* r) {
  return answer(entity(), r, [](const MimeMessage2& e) { return typeIs(e, "text/html"); });
}
HRESULT CVorlundMime::IsXml(LONG* r) {
  return answer(entity(), r, [](const MimeMessage2& e) { return typeIs(e, "text/xml"); });
}
HRESULT CVorlundMime::IsSigned(LONG* r) {
  return answer(entity(), r,
                [](const MimeMessage2& e) { return e.isMultipartSigned() || e.isSignedData(); });
}
HRESULT CVorlundMime::IsEncrypted(LONG* r) {
  return answer(entity(), r, [](const MimeMessage2& e) { return e.isEncrypted(); });
}
HRESULT CVorlundMime::IsMultipartMixed(LONG* r) {
  return answer(entity(), r, [](const MimeMessage2& e) { return typeIs(e, "multipart/mixed"); });
}
HRESULT CVorlundMime::IsMultipartAlternative(LONG* r) {
  return answer(entity(), r,
                [](const MimeMessage2& e) { return typeIs(e, "multipart/alternative"); });
}
HRESULT CVorlundMime::IsMultipartRelated(LONG* r) {
  return answer(entity(), r, [](const MimeMessage2& e) { return typeIs(e, "multipart/related"); });
}
HRESULT CVorlundMime::IsAttachment(LONG* r) {
  return answer(entity(), r, [](const MimeMessage2& e) { return e.isAttachment(); });
}
HRESULT CVorlundMime::IsText(LONG* r) {
  return answer(entity(), r, [](const MimeMessage2& e) { return typeBegins(e, "text/"); });
}
HRESULT CVorlundMime::IsApplicationData(LONG* r) {
  return answer(entity(), r, [](const MimeMessage2& e) { return typeBegins(e, "application/"); });
}
HRESULT CVorlundMime::IsImage(LONG* r) {
  return answer(entity(), r, [](const MimeMessage2& e) { return typeBegins(e, "image/"); });
}
HRESULT CVorlundMime::IsAudio(LONG* r) {
  return answer(entity(), r, [](const MimeMessage2& e) { return typeBegins(e, "audio/"); });
}
HRESULT CVorlundMime::IsVideo(LONG* r) {
  return answer(entity(), r, [](const MimeMessage2& e) { return typeBegins(e, "video/"); });
}
HRESULT CVorlundMime::ContainsEncryptedParts(LONG* r) {
  return answer(entity(), r, [](const MimeMessage2& e) { return e.containsEncrypted(); });
}
HRESULT CVorlundMime::ContainsSignedParts(LONG* r) {
  return answer(entity(), r, [](const MimeMessage2& e) { return e.containsSigned(); });
}
