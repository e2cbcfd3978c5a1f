// The member table: what the type library says about each member (name, DISPID, kind,
// argument and result types), with a thunk that calls the vtable method it describes, and
// the lookups by name and by DISPID.
#include <cstddef>

#include "component/MimeDispatch.h"

namespace {

constexpr MimeValueType N = MimeValueType::kNone;
constexpr MimeValueType B = MimeValueType::kBstr;
constexpr MimeValueType L = MimeValueType::kLong;
constexpr MimeValueType V = MimeValueType::kVariant;
constexpr MimeValueType M = MimeValueType::kMime;
constexpr MimeValueType C = MimeValueType::kCert;
constexpr MimeValueType P = MimeValueType::kCsp;

// `a` holds the arguments in declaration order, `r` receives the out-parameter.
#define MIME_THUNK(call)                                         \
  [](IVorlundMime* self, [[maybe_unused]] const MimeArgValue* a, \
     [[maybe_unused]] MimeResultValue* r) -> HRESULT { return self->call; }

#define MIME_METHOD(Name, id, forms, result, argCount, arg0, arg1, ...)            \
  {                                                                                \
    u"" #Name, id, forms, MimeMemberKind::kMethod, argCount, {arg0, arg1}, result, \
        MIME_THUNK(Name(__VA_ARGS__))                                              \
  }

#define MIME_GET(Name, id, type, field) \
  { u"" #Name, id, 0, MimeMemberKind::kPropGet, 0, {N, N}, type, MIME_THUNK(get_##Name(&r->field)) }

#define MIME_PUT(Name, id, type, field)                          \
  {                                                              \
    u"" #Name, id, 0, MimeMemberKind::kPropPut, 1, {type, N}, N, \
        MIME_THUNK(put_##Name(a[0].field))                       \
  }

// A read-write string property of the entity.
#define MIME_STRING_PROPERTY(Name, id) MIME_GET(Name, id, B, bstr), MIME_PUT(Name, id, B, bstr)

// A predicate on the entity: no arguments, a long of 1 or 0.
#define MIME_PREDICATE(Name, id) MIME_METHOD(Name, id, 0, L, 0, N, N, &r->lng)

constexpr unsigned char kFlag = kMimeSuccessFlag;
constexpr unsigned char kUtf8In = kMimeUtf8Arguments;
constexpr unsigned char kUtf8Out = kMimeUtf8Result;

// A method taking one string (a text in the ANSI form, a file name in the UTF-8 form) and
// returning a success flag.
#define MIME_STRING_TO_FLAG(Name, id) MIME_METHOD(Name, id, kFlag, L, 1, B, N, a[0].bstr, &r->lng)
#define MIME_PATH_TO_FLAG(Name, id) \
  MIME_METHOD(Name, id, kUtf8In | kFlag, L, 1, B, N, a[0].bstr, &r->lng)

// A method taking one UTF-8 string and returning nothing.
#define MIME_UTF8_SETTER(Name, id) MIME_METHOD(Name, id, kUtf8In, N, 1, B, N, a[0].bstr)

// A method without arguments returning a string in the ANSI form.
#define MIME_STRING_RESULT(Name, id) MIME_METHOD(Name, id, 0, B, 0, N, N, &r->bstr)

// A method taking a certificate object and returning a success flag.
#define MIME_CERT_TO_FLAG(Name, id) MIME_METHOD(Name, id, kFlag, L, 1, C, N, a[0].cert, &r->lng)

constexpr MimeMember kMembers[] = {
    MIME_GET(Version, 1, B, bstr),
    MIME_STRING_TO_FLAG(LoadMime, 4),
    MIME_PATH_TO_FLAG(LoadXmlFile, 5),
    MIME_METHOD(UnwrapSecurity, 6, kFlag, L, 0, N, N, &r->lng),
    MIME_METHOD(GetSignerCert, 7, 0, C, 1, L, N, a[0].lng, &r->cert),
    MIME_METHOD(GetEncryptCert, 8, 0, C, 1, L, N, a[0].lng, &r->cert),
    MIME_GET(NumParts, 9, L, lng),
    MIME_METHOD(GetPart, 10, 0, M, 1, L, N, a[0].lng, &r->mime),
    MIME_METHOD(GetHeaderField, 11, kUtf8In | kUtf8Out, B, 1, B, N, a[0].bstr, &r->bstr),
    MIME_STRING_RESULT(GetXml, 12),
    MIME_STRING_TO_FLAG(LoadXml, 13),
    MIME_STRING_RESULT(GetMime, 14),
    MIME_PATH_TO_FLAG(SaveXml, 15),
    MIME_PATH_TO_FLAG(SaveMime, 16),
    MIME_CERT_TO_FLAG(AddDetachedSignature, 17),
    MIME_CERT_TO_FLAG(ConvertToSigned, 18),
    MIME_CERT_TO_FLAG(Encrypt, 19),
    MIME_PATH_TO_FLAG(LoadMimeFile, 20),
    MIME_METHOD(SetHeaderField, 21, kUtf8In, N, 2, B, B, a[0].bstr, a[1].bstr),
    MIME_PATH_TO_FLAG(SetBodyFromFile, 22),
    MIME_METHOD(SetBodyFromEncoded, 23, 0, N, 2, B, B, a[0].bstr, a[1].bstr),
    MIME_UTF8_SETTER(SetBodyFromPlainText, 24),
    MIME_UTF8_SETTER(SetBodyFromXml, 25),
    MIME_UTF8_SETTER(SetBodyFromHtml, 26),
    MIME_STRING_PROPERTY(ContentType, 27),
    MIME_STRING_PROPERTY(Encoding, 28),
    MIME_STRING_PROPERTY(Disposition, 29),
    MIME_STRING_PROPERTY(Charset, 30),
    MIME_STRING_PROPERTY(Filename, 31),
    MIME_STRING_PROPERTY(Name, 32),
    MIME_STRING_RESULT(GetBodyDecoded, 33),
    MIME_STRING_RESULT(GetBodyEncoded, 34),
    MIME_METHOD(GetBodyBinary, 35, 0, V, 0, N, N, &r->variant),
    MIME_PREDICATE(IsMultipart, 36),
    MIME_PREDICATE(IsPlainText, 37),
    MIME_PREDICATE(IsHtml, 38),
    MIME_PREDICATE(IsXml, 39),
    MIME_PREDICATE(IsSigned, 40),
    MIME_PREDICATE(IsEncrypted, 41),
    MIME_PREDICATE(IsMultipartMixed, 42),
    MIME_PREDICATE(IsMultipartAlternative, 43),
    MIME_PREDICATE(IsMultipartRelated, 44),
    MIME_PREDICATE(IsAttachment, 45),
    MIME_PREDICATE(IsText, 46),
    MIME_PREDICATE(IsApplicationData, 47),
    MIME_PREDICATE(IsImage, 48),
    MIME_PREDICATE(IsAudio, 49),
    MIME_PREDICATE(IsVideo, 50),
    MIME_PATH_TO_FLAG(SaveBody, 51),
    MIME_METHOD(NewMultipartMixed, 52, 0, N, 0, N, N),
    MIME_METHOD(NewMultipartRelated, 53, 0, N, 0, N, N),
    MIME_METHOD(NewMultipartAlternative, 54, 0, N, 0, N, N),
    MIME_METHOD(AppendPart, 55, 0, N, 1, M, N, a[0].mime),
    MIME_PATH_TO_FLAG(AppendPartFromFile, 56),
    MIME_STRING_PROPERTY(Protocol, 57),
    MIME_STRING_PROPERTY(Micalg, 58),
    MIME_STRING_PROPERTY(Boundary, 59),
    MIME_GET(UnwrapExtras, 60, L, lng),
    MIME_PUT(UnwrapExtras, 60, L, lng),
    MIME_GET(NumSignerCerts, 61, L, lng),
    MIME_GET(NumEncryptCerts, 62, L, lng),
    MIME_PATH_TO_FLAG(SaveLastError, 63),
    MIME_METHOD(SetBodyFromBinary, 68, 0, N, 1, V, N, *a[0].variant),
    MIME_METHOD(SetCSP, 69, 0, N, 1, P, N, a[0].csp),
    MIME_STRING_RESULT(GetEntireHead, 70),
    MIME_STRING_RESULT(GetEntireBody, 71),
    MIME_GET(LastErrorHtml, 72, B, bstr),
    MIME_GET(LastErrorXml, 73, B, bstr),
    MIME_GET(LastErrorText, 74, B, bstr),
    MIME_GET(NumHeaderFields, 75, L, lng),
    MIME_METHOD(GetHeaderFieldValue, 76, kUtf8Out, B, 1, L, N, a[0].lng, &r->bstr),
    MIME_METHOD(GetHeaderFieldName, 77, kUtf8Out, B, 1, L, N, a[0].lng, &r->bstr),
    MIME_METHOD(RemovePart, 78, 0, N, 1, L, N, a[0].lng),
    MIME_METHOD(NewMessageRfc822, 79, 0, N, 1, M, N, a[0].mime),
    MIME_PREDICATE(ContainsEncryptedParts, 80),
    MIME_PREDICATE(ContainsSignedParts, 81),
};

#undef MIME_CERT_TO_FLAG
#undef MIME_STRING_RESULT
#undef MIME_UTF8_SETTER
#undef MIME_PATH_TO_FLAG
#undef MIME_STRING_TO_FLAG
#undef MIME_PREDICATE
#undef MIME_STRING_PROPERTY
#undef MIME_PUT
#undef MIME_GET
#undef MIME_METHOD
#undef MIME_THUNK

constexpr size_t kMemberCount = sizeof(kMembers) / sizeof(kMembers[0]);
constexpr DISPID kMaxDispId = kMembers[kMemberCount - 1].dispId;

// A property's get and put stand next to each other, so the entries of one DISPID are
// found from its first.
constexpr bool inDispIdOrder() {
  for (size_t i = 1; i < kMemberCount; ++i)
    if (kMembers[i - 1].dispId > kMembers[i].dispId) return false;
  return kMembers[0].dispId >= 0;
}
static_assert(inDispIdOrder(), "the member table stays in DISPID order");

// Every Invoke looks its member up by DISPID: position of the first entry of each DISPID,
// -1 where the type library has none.
struct DispIdIndex {
  short first[kMaxDispId + 1];
};
constexpr DispIdIndex makeIndex() {
  DispIdIndex index{};
  for (short& f : index.first) f = -1;
  for (size_t i = kMemberCount; i-- > 0;) index.first[kMembers[i].dispId] = static_cast<short>(i);
  return index;
}
constexpr DispIdIndex kIndex = makeIndex();

char16_t asciiLower(char16_t c) { return (c >= u'A' && c <= u'Z') ? c + (u'a' - u'A') : c; }

// OLE Automation matches names without regard to case; only ASCII letters fold.
bool equalsNoCase(const char16_t* a, const char16_t* b) {
  for (; *a != 0 && *b != 0; ++a, ++b)
    if (asciiLower(*a) != asciiLower(*b)) return false;
  return *a == *b;
}

bool answers(const MimeMember& m, WORD flags) {
  // A put request is only ever a put, whatever other bits come with it.
  if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF))
    return m.kind == MimeMemberKind::kPropPut && (flags & DISPATCH_PROPERTYPUT);
  switch (m.kind) {
    case MimeMemberKind::kMethod:
      return (flags & DISPATCH_METHOD) != 0;
    case MimeMemberKind::kPropGet:
      return (flags & DISPATCH_PROPERTYGET) != 0;
    case MimeMemberKind::kPropPut:
      return false;
  }
  return false;
}

}  // namespace

const MimeMember* mimeMembers() { return kMembers; }

size_t mimeMemberCount() { return kMemberCount; }

const MimeMember* findMimeMember(const char16_t* name) {
  if (name == nullptr) return nullptr;
  for (const MimeMember& m : kMembers)
    if (equalsNoCase(m.name, name)) return &m;
  return nullptr;
}

const MimeMember* findMimeMember(DISPID dispId, WORD flags) {
  if (dispId < 0 || dispId > kMaxDispId || kIndex.first[dispId] < 0) return nullptr;
  for (size_t i = static_cast<size_t>(kIndex.first[dispId]);
       i < kMemberCount && kMembers[i].dispId == dispId; ++i)
    if (answers(kMembers[i], flags)) return &kMembers[i];
  return nullptr;
}
