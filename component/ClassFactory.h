// The class factory of the Mime object. The module keeps one, created on first use; the
// module's own reference does not count in the lock count, so a factory no one outside holds
// does not keep the module loaded.
#pragma once

#include <atomic>

#include "platform/Com.h"

class MimeClassFactory final : public IClassFactory {
 public:
  // A factory with one reference: the module's cache.
  MimeClassFactory() = default;
  MimeClassFactory(const MimeClassFactory&) = delete;
  MimeClassFactory& operator=(const MimeClassFactory&) = delete;

  HRESULT QueryInterface(REFIID riid, void** ppv) override;
  ULONG AddRef() override;
  ULONG Release() override;

  // A new Mime object answering riid; with a non-null outer unknown the object is made
  // aggregated, and riid must then be IID_IUnknown (CLASS_E_NOAGGREGATION otherwise).
  // E_OUTOFMEMORY, or the object's QueryInterface error (the object is then freed).
  HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
  // TRUE adds one to the module's lock count, FALSE takes one away; a FALSE without a TRUE
  // before it is refused with E_UNEXPECTED, so it cannot uncount a live object.
  HRESULT LockServer(BOOL lock) override;

 private:
  ~MimeClassFactory() = default;

  std::atomic<ULONG> refs_{1};
  std::atomic<LONG> serverLocks_{0};
};
