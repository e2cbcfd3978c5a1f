#include "component/ClassFactory.h"

#include "component/ComModule.h"
#include "component/ObjectFactory.h"

HRESULT MimeClassFactory::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IClassFactory) {
    *ppv = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

// Going from the cache's one reference to two means someone outside holds the factory; back
// to one, no one does.
ULONG MimeClassFactory::AddRef() {
  const ULONG now = ++refs_;
  if (now == 2) moduleLock();
  return now;
}

ULONG MimeClassFactory::Release() {
  ULONG now = refs_.load();
  do {
    if (now == 0) return 0;  // an unbalanced Release must not free twice
  } while (!refs_.compare_exchange_weak(now, now - 1));
  --now;
  if (now == 1) moduleUnlock();
  if (now == 0) delete this;
  return now;
}

HRESULT MimeClassFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  return createVorlundMimeObject(outer, riid, ppv);
}

HRESULT MimeClassFactory::LockServer(BOOL lock) {
  if (lock) {
    ++serverLocks_;
    moduleLock();
    return S_OK;
  }
  LONG held = serverLocks_.load();
  do {
    if (held <= 0) return E_UNEXPECTED;
  } while (!serverLocks_.compare_exchange_weak(held, held - 1));
  moduleUnlock();
  return S_OK;
}
