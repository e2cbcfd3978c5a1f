// A small in-process server for the activation tests: one class, whose objects tell a number
// and count themselves, so a test can see when the module may unload, and a DllMain that
// installs a code page converter of the server's own while it is loaded (or refuses to load
// when VORLUND_TEST_SERVER_REFUSES is set).
#include <atomic>
#include <cstdlib>
#include <new>

#include "platform/CodePage.h"
#include "platform/Com.h"
#include "platform/Module.h"

#define TEST_EXPORT extern "C" __attribute__((visibility("default")))

// {6F1E0A52-3C1D-4B7E-9A55-0B2C63D1E701} and ...E702.
const CLSID kTestClass = {
    0x6F1E0A52, 0x3C1D, 0x4B7E, {0x9A, 0x55, 0x0B, 0x2C, 0x63, 0xD1, 0xE7, 0x01}};
const IID kIidTestValue = {
    0x6F1E0A52, 0x3C1D, 0x4B7E, {0x9A, 0x55, 0x0B, 0x2C, 0x63, 0xD1, 0xE7, 0x02}};

// Declared outside any unnamed namespace: the tests call it as the same type.
struct ITestValue : IUnknown {
  virtual LONG Value() = 0;
};

namespace {

std::atomic<LONG> g_locks{0};

template <typename T>
HRESULT answer(T* self, REFIID riid, REFIID own, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (riid != IID_IUnknown && riid != own) return E_NOINTERFACE;
  *ppv = self;
  self->AddRef();
  return S_OK;
}

class TestObject final : public ITestValue {
 public:
  TestObject() { ++g_locks; }
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    return answer<ITestValue>(this, riid, kIidTestValue, ppv);
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }
  LONG Value() override { return 42; }

 private:
  ~TestObject() { --g_locks; }
  ULONG refs_ = 0;
};

class TestFactory final : public IClassFactory {
 public:
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    return answer<IClassFactory>(this, riid, IID_IClassFactory, ppv);
  }
  ULONG AddRef() override { return static_cast<ULONG>(++g_locks); }
  ULONG Release() override { return static_cast<ULONG>(--g_locks); }
  HRESULT CreateInstance(IUnknown*, REFIID riid, void** ppv) override {
    TestObject* object = new (std::nothrow) TestObject();
    if (object == nullptr) return E_OUTOFMEMORY;
    object->AddRef();
    const HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
  }
  HRESULT LockServer(BOOL) override { return E_NOTIMPL; }  // no test locks this server
} g_factory;

bool serverConvert(UINT, UINT, const void*, size_t, CodePageOutput& out) {
  out.append("test server", 11);
  return true;
}

}  // namespace

TEST_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (clsid != kTestClass) return CLASS_E_CLASSNOTAVAILABLE;
  return g_factory.QueryInterface(riid, ppv);
}

TEST_EXPORT HRESULT DllCanUnloadNow() { return g_locks.load() == 0 ? S_OK : S_FALSE; }

TEST_EXPORT BOOL DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH && std::getenv("VORLUND_TEST_SERVER_REFUSES") != nullptr)
    return FALSE;
  if (reason == DLL_PROCESS_ATTACH) installCodePageConverter(serverConvert);
  if (reason == DLL_PROCESS_DETACH) removeCodePageConverter(serverConvert);
  return TRUE;
}
