// IDispatch for the sibling objects from a member table: names and DISPIDs, arguments
// coerced from what a script passes (strings and longs), results as VT_BSTR, VT_I4, VT_DISPATCH
// (an object the caller then owns) or, for GetImpl's address, VT_I8.
#pragma once

#include <atomic>
#include <cstddef>
#include <new>

#include "platform/Com.h"
#include "siblings/SiblingsModule.h"

enum class SiblingType : unsigned char { kNone, kBstr, kLong, kPointer, kObject };

constexpr int kMaxSiblingArgs = 3;

struct SiblingArgs {
  BSTR bstr[kMaxSiblingArgs] = {};
  LONG lng[kMaxSiblingArgs] = {};
};
struct SiblingResult {
  BSTR bstr = nullptr;
  LONG lng = 0;
  intptr_t pointer = 0;
  IDispatch* object = nullptr;  // a reference the result takes over
};

struct SiblingMember {
  const char16_t* name;
  DISPID dispId;
  WORD kind;  // DISPATCH_METHOD, DISPATCH_PROPERTYGET or DISPATCH_PROPERTYPUT
  int argCount;
  SiblingType args[kMaxSiblingArgs];
  SiblingType result;
  HRESULT (*call)(void* self, const SiblingArgs& a, SiblingResult* r);
};

struct SiblingTable {
  const SiblingMember* members;
  size_t count;
};

HRESULT siblingGetIDsOfNames(const SiblingTable& table, LPOLESTR* names, UINT cNames, DISPID* ids);
// As IDispatch::Invoke: arguments in reverse order, a put's value as DISPID_PROPERTYPUT.
HRESULT siblingInvoke(const SiblingTable& table, void* self, DISPID id, WORD flags,
                      DISPPARAMS* params, VARIANT* result, UINT* argErr);

// The IUnknown and IDispatch of a sibling object: a reference count, a share in the module's
// lock count for the object's life, QueryInterface for its one interface, and IDispatch from
// its member table.
template <typename Interface>
class SiblingObject : public Interface {
 public:
  SiblingObject(const IID& iid, const SiblingTable& table) : iid_(iid), table_(table) {
    siblingsLock();
  }
  SiblingObject(const SiblingObject&) = delete;
  SiblingObject& operator=(const SiblingObject&) = delete;

  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    const bool known = riid == IID_IUnknown || riid == IID_IDispatch || riid == iid_;
    *ppv = known ? static_cast<Interface*>(this) : nullptr;
    if (known) this->AddRef();
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
  HRESULT GetIDsOfNames(REFIID, LPOLESTR* names, UINT cNames, LCID, DISPID* ids) override {
    return siblingGetIDsOfNames(table_, names, cNames, ids);
  }
  HRESULT Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO*, UINT* argErr) override {
    return siblingInvoke(table_, static_cast<Interface*>(this), id, flags, params, result, argErr);
  }

 protected:
  virtual ~SiblingObject() { siblingsUnlock(); }

 private:
  std::atomic<ULONG> refs_{0};
  const IID& iid_;
  const SiblingTable& table_;
};

// A new object of class T answering `riid` in *ppv; E_OUTOFMEMORY or E_NOINTERFACE.
template <typename T>
HRESULT createSiblingObject(REFIID riid, void** ppv) {
  T* object = new (std::nothrow) T();
  if (object == nullptr) return E_OUTOFMEMORY;
  object->AddRef();
  const HRESULT hr = object->QueryInterface(riid, ppv);
  object->Release();
  return hr;
}
