// The module object: the lock count, and DllGetClassObject with its cached class factory.
#include "component/ComModule.h"

#include <atomic>
#include <mutex>
#include <new>

#include "component/ClassFactory.h"
#include "component/IVorlundMime.h"
#include "platform/Module.h"

namespace {

std::atomic<LONG> g_lockCount{0};

// Class factories are made once, under this lock, since the entry points may be called from
// any thread; the factory stays cached for later calls.
std::mutex g_factoryMutex;
MimeClassFactory* g_factory = nullptr;

}  // namespace

void moduleLock() { ++g_lockCount; }
void moduleUnlock() { --g_lockCount; }
LONG moduleLockCount() { return g_lockCount.load(); }

std::string moduleFileName() {
  return moduleFileNameFromAddress(reinterpret_cast<const void*>(&moduleFileName));
}

HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (rclsid != CLSID_VorlundMime) return CLASS_E_CLASSNOTAVAILABLE;
  MimeClassFactory* factory = nullptr;
  {
    std::lock_guard<std::mutex> lock(g_factoryMutex);
    if (g_factory == nullptr) g_factory = new (std::nothrow) MimeClassFactory();
    factory = g_factory;
  }
  if (factory == nullptr) return E_OUTOFMEMORY;
  const HRESULT hr = factory->QueryInterface(riid, ppv);
  if (SUCCEEDED(hr) && *ppv == nullptr) return CLASS_E_CLASSNOTAVAILABLE;
  return hr;
}

HRESULT DllCanUnloadNow() { return g_lockCount.load() == 0 ? S_OK : S_FALSE; }

void moduleTerminate() {
  MimeClassFactory* factory = nullptr;
  {
    std::lock_guard<std::mutex> lock(g_factoryMutex);
    factory = g_factory;
    g_factory = nullptr;
  }
  if (factory != nullptr) factory->Release();
}
