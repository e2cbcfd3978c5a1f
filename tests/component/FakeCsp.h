// A provider object as the sibling component would hand one over: fixed answers, counted
// references, and the order in which its properties were read.
#pragma once

#include <string>
#include <vector>

#include "component/SiblingInterfaces.h"

class FakeCsp final : public IVorlundCSP {
 public:
  LONG longs[5] = {24, 0x800C, 256, 0x6610, 256};
  // Null leaves the Mime object's field as it was.
  std::vector<const char16_t*> strings = {u"SHA-256", u"AES-256",
                                          u"Microsoft Enhanced RSA and AES Cryptographic Provider",
                                          u"K\u00E4stchen"};
  std::vector<std::string> reads;
  ULONG refs = 1;  // lives on the test's stack

  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    const bool known = riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_IVorlundCSP;
    *ppv = known ? static_cast<IVorlundCSP*>(this) : nullptr;
    if (known) AddRef();
    return known ? S_OK : E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }
  HRESULT GetTypeInfoCount(UINT* n) override {
    *n = 0;
    return S_OK;
  }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }

#define FAKE_LONG(Name, i)               \
  HRESULT get_##Name(LONG* v) override { \
    reads.push_back(#Name);              \
    *v = longs[i];                       \
    return S_OK;                         \
  }                                      \
  HRESULT put_##Name(LONG v) override {  \
    longs[i] = v;                        \
    return S_OK;                         \
  }
#define FAKE_STRING(Name, i)                                           \
  HRESULT get_##Name(BSTR* v) override {                               \
    reads.push_back(#Name);                                            \
    *v = strings[i] != nullptr ? SysAllocString(strings[i]) : nullptr; \
    return S_OK;                                                       \
  }                                                                    \
  HRESULT put_##Name(BSTR) override { return E_NOTIMPL; }
  FAKE_LONG(ProviderType, 0)
  FAKE_LONG(HashAlgorithmID, 1)
  FAKE_LONG(HashNumBits, 2)
  FAKE_LONG(EncryptAlgorithmID, 3)
  FAKE_LONG(EncryptNumBits, 4)
  FAKE_STRING(HashAlgorithm, 0)
  FAKE_STRING(EncryptAlgorithm, 1)
  FAKE_STRING(ProviderName, 2)
  FAKE_STRING(KeyContainerName, 3)
#undef FAKE_LONG
#undef FAKE_STRING
  HRESULT GetProviderNames(IVrStringArray**) override { return E_NOTIMPL; }  // never read
};
