#include "platform/ComActivation.h"

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Module.h"
#include "platform/Registry.h"

namespace {

constexpr int kMaxCurVerHops = 8;  // a CurVer chain longer than this is a loop

// The default value of HKCR\<path> as text: ERROR_SUCCESS, ERROR_FILE_NOT_FOUND when the key
// or the value is missing or is not a string, or the registry's failure.
LSTATUS readClassesDefault(const std::string& path, std::string& out) {
  out.clear();
  HKEY key = nullptr;
  LSTATUS r = RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_QUERY_VALUE, &key);
  if (r != ERROR_SUCCESS) return r;
  DWORD type = 0;
  DWORD size = 0;
  r = RegQueryValueExA(key, "", nullptr, &type, nullptr, &size);
  if (r == ERROR_SUCCESS && type != REG_SZ && type != REG_EXPAND_SZ) r = ERROR_FILE_NOT_FOUND;
  if (r == ERROR_SUCCESS && size > 0) {
    std::vector<char> data(size);
    r = RegQueryValueExA(key, "", nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size);
    if (r == ERROR_SUCCESS)
      out.assign(data.data(), size > 0 && data[size - 1] == '\0' ? size - 1 : size);
  }
  RegCloseKey(key);
  return r;
}

HRESULT readFailure(LSTATUS r, HRESULT missing) {
  return r == ERROR_FILE_NOT_FOUND || r == ERROR_KEY_DELETED ? missing : REGDB_E_READREGDB;
}

// A ProgID is a registry key name of printable ASCII ("Program.Component.Version").
bool progIdBytes(LPCOLESTR progId, std::string& out) {
  out.clear();
  for (const OLECHAR* p = progId; *p != 0; ++p) {
    if (*p <= 0x20 || *p >= 0x7F || *p == '\\') return false;
    out.push_back(static_cast<char>(*p));
    if (out.size() > 255) return false;
  }
  return !out.empty();
}

// Modules loaded for classes, by registered path.
std::mutex g_modulesMutex;
std::map<std::string, HMODULE>& loadedModules() {
  static auto* modules = new std::map<std::string, HMODULE>();  // kept to the end of the process
  return *modules;
}

HRESULT moduleFor(const std::string& path, HMODULE* module) {
  std::lock_guard<std::mutex> lock(g_modulesMutex);
  auto it = loadedModules().find(path);
  if (it != loadedModules().end()) {
    *module = it->second;
    return S_OK;
  }
  HMODULE loaded = LoadLibraryA(path.c_str());
  if (loaded == nullptr) return HRESULT_FROM_WIN32(GetLastError());
  loadedModules().emplace(path, loaded);
  *module = loaded;
  return S_OK;
}

}  // namespace

HRESULT CoInitialize(void*) { return S_OK; }

void CoUninitialize() {}

HRESULT CLSIDFromProgID(LPCOLESTR progId, CLSID* clsid) {
  if (progId == nullptr || clsid == nullptr) return E_INVALIDARG;
  std::string name;
  if (!progIdBytes(progId, name)) return CO_E_CLASSSTRING;
  for (int hop = 0; hop <= kMaxCurVerHops; ++hop) {
    std::string text;
    LSTATUS r = readClassesDefault(name + "\\CLSID", text);
    if (r == ERROR_SUCCESS) return guidFromString(text.c_str(), clsid) ? S_OK : CO_E_CLASSSTRING;
    if (r != ERROR_FILE_NOT_FOUND) return readFailure(r, CO_E_CLASSSTRING);
    // A version-independent ProgID may name its current version instead of a class.
    r = readClassesDefault(name + "\\CurVer", text);
    if (r != ERROR_SUCCESS) return readFailure(r, CO_E_CLASSSTRING);
    std::u16string wide(text.begin(), text.end());
    if (!progIdBytes(wide.c_str(), name)) return CO_E_CLASSSTRING;
  }
  return CO_E_CLASSSTRING;
}

HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* progId) {
  if (progId == nullptr) return E_INVALIDARG;
  *progId = nullptr;
  std::string text;
  const LSTATUS r = readClassesDefault("CLSID\\" + guidToString(clsid) + "\\ProgID", text);
  if (r != ERROR_SUCCESS) return readFailure(r, REGDB_E_CLASSNOTREG);
  if (text.empty()) return REGDB_E_CLASSNOTREG;
  auto* out = static_cast<OLECHAR*>(CoTaskMemAlloc((text.size() + 1) * sizeof(OLECHAR)));
  if (out == nullptr) return E_OUTOFMEMORY;
  for (size_t i = 0; i < text.size(); ++i) out[i] = static_cast<unsigned char>(text[i]);
  out[text.size()] = 0;
  *progId = out;
  return S_OK;
}

bool inprocServerOf(REFCLSID clsid, std::string& path) {
  return readClassesDefault("CLSID\\" + guidToString(clsid) + "\\InprocServer32", path) ==
             ERROR_SUCCESS &&
         !path.empty();
}

HRESULT CoGetClassObject(REFCLSID clsid, CLSCTX context, void*, REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if ((context & CLSCTX_INPROC_SERVER) == 0) return REGDB_E_CLASSNOTREG;
  std::string path;
  const LSTATUS r = readClassesDefault("CLSID\\" + guidToString(clsid) + "\\InprocServer32", path);
  if (r != ERROR_SUCCESS) return readFailure(r, REGDB_E_CLASSNOTREG);
  if (path.empty()) return REGDB_E_CLASSNOTREG;
  HMODULE module = nullptr;
  if (HRESULT hr = moduleFor(path, &module); FAILED(hr)) return hr;
  auto getClassObject =
      reinterpret_cast<LPFNGETCLASSOBJECT>(GetProcAddress(module, "DllGetClassObject"));
  if (getClassObject == nullptr) return CO_E_ERRORINDLL;
  const HRESULT hr = getClassObject(clsid, riid, ppv);
  if (FAILED(hr)) *ppv = nullptr;
  return hr;
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, CLSCTX context, REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  void* object = nullptr;
  HRESULT hr = CoGetClassObject(clsid, context, nullptr, IID_IClassFactory, &object);
  if (FAILED(hr)) return hr;
  if (object == nullptr) return CO_E_ERRORINDLL;
  auto* factory = static_cast<IClassFactory*>(object);
  hr = factory->CreateInstance(outer, riid, ppv);
  factory->Release();
  if (FAILED(hr)) *ppv = nullptr;
  return hr;
}

void CoFreeUnusedLibraries() {
  std::lock_guard<std::mutex> lock(g_modulesMutex);
  auto& modules = loadedModules();
  for (auto it = modules.begin(); it != modules.end();) {
    auto canUnload =
        reinterpret_cast<LPFNCANUNLOADNOW>(GetProcAddress(it->second, "DllCanUnloadNow"));
    if (canUnload != nullptr && canUnload() == S_OK) {
      FreeLibrary(it->second);
      it = modules.erase(it);
    } else {
      ++it;
    }
  }
}
