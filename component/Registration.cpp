// DllRegisterServer and DllUnregisterServer: the class's registry entries, written out as
// registry calls, and the type library's registration.
//
// Under HKEY_CLASSES_ROOT ("%MODULE%" is this module's absolute path):
//   VorlundMime.VorlundMime.1            = "VorlundMime Class", \CLSID = the class
//   VorlundMime.VorlundMime              = "VorlundMime Class", \CLSID = the class,
//                                          \CurVer = "VorlundMime.VorlundMime.1"
//   CLSID\{0A83AD29-...}                 = "VorlundMime Class", replaced whole on every
//                                          registration: \ProgID, \VersionIndependentProgID,
//                                          \Programmable, \InprocServer32 = "%MODULE%" with
//                                          ThreadingModel "Apartment", \TypeLib = the LIBID
#include <string>

#include "component/ComModule.h"
#include "component/IVorlundMime.h"
#include "component/SiblingInterfaces.h"
#include "platform/Registry.h"
#include "platform/TypeLib.h"

namespace {

constexpr const char* kDescription = "VorlundMime Class";
constexpr const char* kProgId = "VorlundMime.VorlundMime.1";
constexpr const char* kIndependentProgId = "VorlundMime.VorlundMime";

// The dual interfaces the type library declares.
const TypeLibInterface kInterfaces[] = {
    {IID_IVorlundMime, "IVorlundMime"},
    {IID_IVorlundCert, "IVorlundCert"},
    {IID_IVorlundCSP, "IVorlundCSP"},
    {IID_IVrStringArray, "IVrStringArray"},
};

const TypeLibInfo kTypeLib = {LIBID_VORLUNDMIMELib,
                              1,
                              0,
                              0,
                              "Vorlund MIME 3.0.0",
                              kInterfaces,
                              sizeof kInterfaces / sizeof kInterfaces[0]};

std::string classKey() { return "CLSID\\" + guidToString(CLSID_VorlundMime); }

// Each entry is written from the root by its full path, so a registration running at the
// same time in another process cannot leave this one holding a deleted key.
HRESULT writeKey(const std::string& path, const char* valueName, const char* data) {
  HKEY key = nullptr;
  LSTATUS r = RegCreateKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr);
  if (r == ERROR_SUCCESS && data != nullptr)
    r = RegSetValueExA(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(data),
                       static_cast<DWORD>(std::char_traits<char>::length(data) + 1));
  if (key != nullptr) RegCloseKey(key);
  return r == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(r);
}

HRESULT removeTree(const std::string& path) {
  const LSTATUS r = RegDeleteTreeA(HKEY_CLASSES_ROOT, path.c_str());
  return r == ERROR_SUCCESS || r == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(r);
}

HRESULT writeProgIds(const std::string& clsid) {
  HRESULT hr = S_OK;
  for (const char* progId : {kProgId, kIndependentProgId}) {
    if (SUCCEEDED(hr)) hr = writeKey(progId, "", kDescription);
    if (SUCCEEDED(hr)) hr = writeKey(std::string(progId) + "\\CLSID", "", clsid.c_str());
  }
  if (SUCCEEDED(hr)) hr = writeKey(std::string(kIndependentProgId) + "\\CurVer", "", kProgId);
  return hr;
}

HRESULT writeClass(const std::string& module) {
  const std::string key = classKey();
  // Whatever an older registration left under the class key goes first.
  HRESULT hr = removeTree(key);
  if (SUCCEEDED(hr)) hr = writeKey(key, "", kDescription);
  if (SUCCEEDED(hr)) hr = writeKey(key + "\\ProgID", "", kProgId);
  if (SUCCEEDED(hr)) hr = writeKey(key + "\\VersionIndependentProgID", "", kIndependentProgId);
  if (SUCCEEDED(hr)) hr = writeKey(key + "\\Programmable", "", nullptr);
  if (SUCCEEDED(hr)) hr = writeKey(key + "\\InprocServer32", "", module.c_str());
  if (SUCCEEDED(hr)) hr = writeKey(key + "\\InprocServer32", "ThreadingModel", "Apartment");
  if (SUCCEEDED(hr))
    hr = writeKey(key + "\\TypeLib", "", guidToString(LIBID_VORLUNDMIMELib).c_str());
  return hr;
}

}  // namespace

HRESULT DllRegisterServer() {
  const std::string module = moduleFileName();
  if (module.empty()) return SELFREG_E_CLASS;
  const std::string clsid = guidToString(CLSID_VorlundMime);
  HRESULT hr = writeProgIds(clsid);
  if (SUCCEEDED(hr)) hr = writeClass(module);
  if (SUCCEEDED(hr)) hr = RegisterTypeLib(kTypeLib, module.c_str(), nullptr);
  return hr;
}

HRESULT DllUnregisterServer() {
  removeTree(classKey());
  removeTree(kProgId);
  removeTree(kIndependentProgId);
  UnRegisterTypeLib(kTypeLib.libid, kTypeLib.majorVersion, kTypeLib.minorVersion, kTypeLib.lcid,
                    SYS_NATIVE);
  return S_OK;
}
