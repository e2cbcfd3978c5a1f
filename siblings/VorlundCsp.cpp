// The provider object: the nine provider settings a Mime object's SetCSP reads, each a
// property a script sets.
#include <atomic>
#include <new>

#include "foundation/StringBuffer.h"
#include "siblings/SiblingDispatch.h"
#include "siblings/SiblingsModule.h"

namespace {

class CVorlundCsp final : public IVorlundCSP {
 public:
  CVorlundCsp() { siblingsLock(); }
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    const bool known = riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_IVorlundCSP;
    *ppv = known ? static_cast<IVorlundCSP*>(this) : nullptr;
    if (known) AddRef();
    return known ? S_OK : E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT GetTypeInfoCount(UINT* n) override {
    if (n != nullptr) *n = 0;
    return S_OK;
  }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR* names, UINT cNames, LCID, DISPID* ids) override;
  HRESULT Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO*, UINT* argErr) override;

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

 private:
  ~CVorlundCsp() { siblingsUnlock(); }
  std::atomic<ULONG> refs_{0};
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
};
#undef CSP_ROWS

const SiblingTable kCspTable{kCspMembers, sizeof kCspMembers / sizeof kCspMembers[0]};

HRESULT CVorlundCsp::GetIDsOfNames(REFIID, LPOLESTR* names, UINT cNames, LCID, DISPID* ids) {
  return siblingGetIDsOfNames(kCspTable, names, cNames, ids);
}

HRESULT CVorlundCsp::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                            VARIANT* result, EXCEPINFO*, UINT* argErr) {
  return siblingInvoke(kCspTable, static_cast<IVorlundCSP*>(this), id, flags, params, result,
                       argErr);
}

}  // namespace

HRESULT createVorlundCsp(REFIID riid, void** ppv) {
  auto* object = new (std::nothrow) CVorlundCsp();
  if (object == nullptr) return E_OUTOFMEMORY;
  object->AddRef();
  const HRESULT hr = object->QueryInterface(riid, ppv);
  object->Release();
  return hr;
}
