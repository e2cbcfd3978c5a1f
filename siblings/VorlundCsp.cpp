// The provider object: the nine provider settings a Mime object's SetCSP reads, each a
// property a script sets, and the names of the providers a script can set.
#include <atomic>
#include <new>

#include "foundation/StringBuffer.h"
#include "platform/WinCrypt.h"
#include "siblings/SiblingDispatch.h"
#include "siblings/SiblingsModule.h"

namespace {

extern const SiblingTable kCspTable;

class CVorlundCsp final : public SiblingObject<IVorlundCSP> {
 public:
  CVorlundCsp() : SiblingObject(IID_IVorlundCSP, kCspTable) {}

#define CSP_LONG(Name, field)            \
  HRESULT get_##Name(LONG* v) override { \
    if (v == nullptr) return E_POINTER;  \
    *v = field;                          \
    return S_OK;                         \
  }                                      \
  HRESULT put_##Name(LONG v) override {  \
    field = v;                           \
    return S_OK;                         \
  }
#define CSP_STRING(Name, field)          \
  HRESULT get_##Name(BSTR* v) override { \
    if (v == nullptr) return E_POINTER;  \
    *v = field.createBSTR();             \
    return S_OK;                         \
  }                                      \
  HRESULT put_##Name(BSTR v) override {  \
    field.clear();                       \
    field.appendBSTR(v);                 \
    return S_OK;                         \
  }
  CSP_LONG(ProviderType, providerType_)
  CSP_LONG(HashAlgorithmID, hashAlgorithmId_)
  CSP_LONG(HashNumBits, hashNumBits_)
  CSP_LONG(EncryptAlgorithmID, encryptAlgorithmId_)
  CSP_LONG(EncryptNumBits, encryptNumBits_)
  CSP_STRING(HashAlgorithm, hashAlgorithm_)
  CSP_STRING(EncryptAlgorithm, encryptAlgorithm_)
  CSP_STRING(ProviderName, providerName_)
  CSP_STRING(KeyContainerName, keyContainerName_)
#undef CSP_LONG
#undef CSP_STRING

  HRESULT GetProviderNames(IVrStringArray** names) override {
    if (names == nullptr) return E_POINTER;
    *names = nullptr;
    IVrStringArray* found = nullptr;
    HRESULT hr = createVrStringArray(IID_IVrStringArray, reinterpret_cast<void**>(&found));
    char name[256];
    DWORD type = 0, size = sizeof name;
    for (DWORD i = 0; SUCCEEDED(hr) && CryptEnumProvidersA(i, nullptr, 0, &type, name, &size);
         ++i, size = sizeof name) {
      StringBuffer ansi(name);
      BSTR text = ansi.createBSTR();
      hr = text != nullptr ? found->Append(text) : E_OUTOFMEMORY;
      SysFreeString(text);
    }
    if (FAILED(hr)) {
      if (found != nullptr) found->Release();
      return hr;
    }
    *names = found;
    return S_OK;
  }

 private:
  LONG providerType_ = 0, hashAlgorithmId_ = 0, hashNumBits_ = 0, encryptAlgorithmId_ = 0,
       encryptNumBits_ = 0;
  StringBuffer hashAlgorithm_, encryptAlgorithm_, providerName_, keyContainerName_;  // ANSI form
};

IVorlundCSP* csp(void* self) { return static_cast<IVorlundCSP*>(self); }

#define CSP_ROWS(Name, id, type, field)                                                          \
  {u"" #Name,                                                                                    \
   id,                                                                                           \
   DISPATCH_PROPERTYGET,                                                                         \
   0,                                                                                            \
   {},                                                                                           \
   type,                                                                                         \
   [](void* s, const SiblingArgs&, SiblingResult* r) { return csp(s)->get_##Name(&r->field); }}, \
  {                                                                                              \
    u"" #Name, id, DISPATCH_PROPERTYPUT, 1, {type}, SiblingType::kNone,                          \
        [](void* s, const SiblingArgs& a, SiblingResult*) {                                      \
          return csp(s)->put_##Name(a.field[0]);                                                 \
        }                                                                                        \
  }

const SiblingMember kCspMembers[] = {
    CSP_ROWS(ProviderType, 1, SiblingType::kLong, lng),
    CSP_ROWS(HashAlgorithmID, 2, SiblingType::kLong, lng),
    CSP_ROWS(HashNumBits, 3, SiblingType::kLong, lng),
    CSP_ROWS(EncryptAlgorithmID, 4, SiblingType::kLong, lng),
    CSP_ROWS(EncryptNumBits, 5, SiblingType::kLong, lng),
    CSP_ROWS(HashAlgorithm, 6, SiblingType::kBstr, bstr),
    CSP_ROWS(EncryptAlgorithm, 7, SiblingType::kBstr, bstr),
    CSP_ROWS(ProviderName, 8, SiblingType::kBstr, bstr),
    CSP_ROWS(KeyContainerName, 9, SiblingType::kBstr, bstr),
    {u"GetProviderNames",
     10,
     DISPATCH_METHOD,
     0,
     {},
     SiblingType::kObject,
     [](void* s, const SiblingArgs&, SiblingResult* r) {
       IVrStringArray* names = nullptr;
       const HRESULT hr = csp(s)->GetProviderNames(&names);
       r->object = names;
       return hr;
     }},
};
#undef CSP_ROWS

extern const SiblingTable kCspTable{kCspMembers, sizeof kCspMembers / sizeof kCspMembers[0]};

}  // namespace

HRESULT createVorlundCsp(REFIID riid, void** ppv) {
  return createSiblingObject<CVorlundCsp>(riid, ppv);
}
