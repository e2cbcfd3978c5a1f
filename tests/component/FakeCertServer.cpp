// A stand-in for the sibling certificate component, registered under its CLSID by the tests
// of GetSignerCert and GetEncryptCert: it keeps the base64 text SetFromEncoded gives it and
// hands it back from ExportBase64.
#include <atomic>
#include <new>

#include "component/SiblingInterfaces.h"

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

std::atomic<LONG> g_objects{0};

class FakeCert final : public IVorlundCert {
 public:
  FakeCert() { ++g_objects; }
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    const bool known = riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_IVorlundCert;
    *ppv = known ? static_cast<IVorlundCert*>(this) : nullptr;
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
    *n = 0;
    return S_OK;
  }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }
  HRESULT SetFromEncoded(BSTR base64, LONG* ok) override {
    SysFreeString(encoded_);
    encoded_ = SysAllocStringLen(base64, SysStringLen(base64));
    *ok = 1;
    return S_OK;
  }
  HRESULT ExportBase64(BSTR* out) override {
    *out = SysAllocStringLen(encoded_, SysStringLen(encoded_));
    return S_OK;
  }
  // Not needed by these tests.
  HRESULT LoadFromFile(BSTR, LONG*) override { return E_NOTIMPL; }
  HRESULT LoadPfxFile(BSTR, BSTR, LONG*) override { return E_NOTIMPL; }
  HRESULT LoadFromStoreByThumbprint(BSTR, LONG, LONG*) override { return E_NOTIMPL; }
  HRESULT get_SubjectDN(BSTR*) override { return E_NOTIMPL; }
  HRESULT get_IssuerDN(BSTR*) override { return E_NOTIMPL; }
  HRESULT get_SubjectName(BSTR*) override { return E_NOTIMPL; }
  HRESULT get_IssuerName(BSTR*) override { return E_NOTIMPL; }
  HRESULT get_CommonName(BSTR*) override { return E_NOTIMPL; }
  HRESULT get_Email(BSTR*) override { return E_NOTIMPL; }
  HRESULT get_SerialNumber(BSTR*) override { return E_NOTIMPL; }
  HRESULT get_ValidFrom(BSTR*) override { return E_NOTIMPL; }
  HRESULT get_ValidTo(BSTR*) override { return E_NOTIMPL; }
  HRESULT get_Sha1Thumbprint(BSTR*) override { return E_NOTIMPL; }
  HRESULT get_HasPrivateKey(LONG*) override { return E_NOTIMPL; }
  HRESULT get_Expired(LONG*) override { return E_NOTIMPL; }
  HRESULT get_TrustedRoot(LONG*) override { return E_NOTIMPL; }
  HRESULT get_SignatureVerified(LONG*) override { return E_NOTIMPL; }
  HRESULT get_Revoked(LONG*) override { return E_NOTIMPL; }
  HRESULT get_ForSecureEmail(LONG*) override { return E_NOTIMPL; }
  HRESULT get_KeyUsage(BSTR*) override { return E_NOTIMPL; }
  HRESULT ExportPem(BSTR*) override { return E_NOTIMPL; }
  HRESULT get_LastErrorText(BSTR*) override { return E_NOTIMPL; }
  HRESULT LoadFromStoreByEmail(BSTR, LONG, LONG*) override { return E_NOTIMPL; }
  HRESULT GetImpl(LONG_PTR*) override { return E_NOTIMPL; }
  HRESULT get_Version(BSTR*) override { return E_NOTIMPL; }

 private:
  ~FakeCert() {
    SysFreeString(encoded_);
    --g_objects;
  }
  std::atomic<ULONG> refs_{0};
  BSTR encoded_ = nullptr;
};

class Factory final : public IClassFactory {
 public:
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    const bool known = riid == IID_IUnknown || riid == IID_IClassFactory;
    *ppv = known ? static_cast<IClassFactory*>(this) : nullptr;
    return known ? S_OK : E_NOINTERFACE;
  }
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }
  HRESULT CreateInstance(IUnknown*, REFIID riid, void** ppv) override {
    auto* object = new (std::nothrow) FakeCert();
    if (object == nullptr) return E_OUTOFMEMORY;
    object->AddRef();
    const HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
  }
  HRESULT LockServer(BOOL) override { return E_NOTIMPL; }
} g_factory;

}  // namespace

FAKE_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (clsid != CLSID_VorlundCert) return CLASS_E_CLASSNOTAVAILABLE;
  return g_factory.QueryInterface(riid, ppv);
}

FAKE_EXPORT HRESULT DllCanUnloadNow() { return g_objects.load() == 0 ? S_OK : S_FALSE; }
