// The siblings' module: class factories for the certificate and provider objects, the lock
// count, and the registration of both classes with their ProgIDs.
//
// Under HKEY_CLASSES_ROOT ("%MODULE%" is this module's absolute path):
//   VorlundCert.VorlundCert.1 / VorlundCert.VorlundCert  = "VorlundCert Class", \CLSID,
//                                                          (\CurVer on the second)
//   VorlundCSP.VorlundCSP.1 / VorlundCSP.VorlundCSP      = "VorlundCSP Class", likewise
//   CLSID\{...}  = the class name, \ProgID, \VersionIndependentProgID, \Programmable and
//                  \InprocServer32 = "%MODULE%" with ThreadingModel "Apartment"
#include "siblings/SiblingsModule.h"

#include <atomic>
#include <string>

#include "charset/EncodingConvert.h"
#include "platform/CodePage.h"
#include "platform/Module.h"
#include "platform/Registry.h"

const CLSID CLSID_VorlundCSP = {
    0x5871963E, 0xBDE2, 0x4BA7, {0xAF, 0xF6, 0x5C, 0x54, 0x54, 0x8E, 0xEA, 0x81}};

namespace {

std::atomic<LONG> g_locks{0};

class Factory final : public IClassFactory {
 public:
  explicit Factory(HRESULT (*create)(REFIID, void**)) : create_(create) {}
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    const bool known = riid == IID_IUnknown || riid == IID_IClassFactory;
    *ppv = known ? static_cast<IClassFactory*>(this) : nullptr;
    if (known) AddRef();
    return known ? S_OK : E_NOINTERFACE;
  }
  // The factories are static; a reference held outside keeps the module loaded.
  ULONG AddRef() override {
    siblingsLock();
    return 2;
  }
  ULONG Release() override {
    siblingsUnlock();
    return 1;
  }
  HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    return create_(riid, ppv);
  }
  HRESULT LockServer(BOOL lock) override {
    if (lock) {
      siblingsLock();
    } else if (g_locks.load() > 0) {
      siblingsUnlock();
    } else {
      return E_UNEXPECTED;
    }
    return S_OK;
  }

 private:
  HRESULT (*create_)(REFIID, void**);
};

Factory g_certFactory(createVorlundCert);
Factory g_cspFactory(createVorlundCsp);

struct ClassEntry {
  const CLSID& clsid;
  const char* name;
  const char* progId;
  const char* independentProgId;
};
const ClassEntry kClasses[] = {
    {CLSID_VorlundCert, "VorlundCert Class", "VorlundCert.VorlundCert.1",
     "VorlundCert.VorlundCert"},
    {CLSID_VorlundCSP, "VorlundCSP Class", "VorlundCSP.VorlundCSP.1", "VorlundCSP.VorlundCSP"},
};

HRESULT writeKey(const std::string& path, const char* valueName, const std::string& data) {
  HKEY key = nullptr;
  LSTATUS r = RegCreateKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr);
  if (r == ERROR_SUCCESS)
    r = RegSetValueExA(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                       DWORD(data.size() + 1));
  if (key != nullptr) RegCloseKey(key);
  return r == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(r);
}

std::string moduleFile() {
  return moduleFileNameFromAddress(reinterpret_cast<const void*>(&moduleFile));
}

}  // namespace

void siblingsLock() { ++g_locks; }
void siblingsUnlock() { --g_locks; }

HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (rclsid == CLSID_VorlundCert) return g_certFactory.QueryInterface(riid, ppv);
  if (rclsid == CLSID_VorlundCSP) return g_cspFactory.QueryInterface(riid, ppv);
  return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT DllCanUnloadNow() { return g_locks.load() == 0 ? S_OK : S_FALSE; }

BOOL DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) installCodePageConverter(convertWithEngine);
  if (reason == DLL_PROCESS_DETACH) removeCodePageConverter(convertWithEngine);
  return TRUE;
}

HRESULT DllRegisterServer() {
  const std::string module = moduleFile();
  if (module.empty()) return E_UNEXPECTED;
  for (const ClassEntry& c : kClasses) {
    const std::string clsid = guidToString(c.clsid);
    const std::string key = "CLSID\\" + clsid;
    RegDeleteTreeA(HKEY_CLASSES_ROOT, key.c_str());  // replaced whole
    const std::pair<std::string, std::pair<const char*, std::string>> values[] = {
        {c.progId, {"", c.name}},
        {std::string(c.progId) + "\\CLSID", {"", clsid}},
        {c.independentProgId, {"", c.name}},
        {std::string(c.independentProgId) + "\\CLSID", {"", clsid}},
        {std::string(c.independentProgId) + "\\CurVer", {"", c.progId}},
        {key, {"", c.name}},
        {key + "\\ProgID", {"", c.progId}},
        {key + "\\VersionIndependentProgID", {"", c.independentProgId}},
        {key + "\\Programmable", {"", ""}},
        {key + "\\InprocServer32", {"", module}},
        {key + "\\InprocServer32", {"ThreadingModel", "Apartment"}},
    };
    for (const auto& [path, value] : values)
      if (HRESULT hr = writeKey(path, value.first, value.second); FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT DllUnregisterServer() {
  for (const ClassEntry& c : kClasses) {
    RegDeleteTreeA(HKEY_CLASSES_ROOT, ("CLSID\\" + guidToString(c.clsid)).c_str());
    RegDeleteTreeA(HKEY_CLASSES_ROOT, c.progId);
    RegDeleteTreeA(HKEY_CLASSES_ROOT, c.independentProgId);
  }
  return S_OK;
}
