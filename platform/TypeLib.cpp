#include "platform/TypeLib.h"

#include <cstdio>
#include <string>
#include <vector>

#include "platform/Registry.h"

const CLSID CLSID_PSOAInterface = {
    0x00020424, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

namespace {

const char* kindName(SYSKIND kind) {
  switch (kind) {
    case SYS_WIN16:
      return "win16";
    case SYS_WIN32:
      return "win32";
    case SYS_MAC:
      return "mac";
    case SYS_WIN64:
      return "win64";
    case SYS_LINUX:
      return "linux";
  }
  return nullptr;
}

std::string hex(unsigned value) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%x", value);
  return buf;
}

std::string versionText(WORD major, WORD minor) { return hex(major) + "." + hex(minor); }

std::string versionKey(REFGUID libid, WORD major, WORD minor) {
  return "TypeLib\\" + guidToString(libid) + "\\" + versionText(major, minor);
}

LSTATUS setString(const std::string& path, const char* name, const std::string& data) {
  HKEY key = nullptr;
  LSTATUS r = RegCreateKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr);
  if (r != ERROR_SUCCESS) return r;
  r = RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                     static_cast<DWORD>(data.size() + 1));
  RegCloseKey(key);
  return r;
}

// A string value of HKCR\<path>; empty when it is missing.
std::string readString(const std::string& path, const char* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
    return std::string();
  char buf[512];
  DWORD size = sizeof buf;
  DWORD type = 0;
  std::string out;
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size) ==
          ERROR_SUCCESS &&
      type == REG_SZ && size > 0)
    out.assign(buf, size - 1);
  RegCloseKey(key);
  return out;
}

// The names of the subkeys of HKCR\<path>; false when it cannot be read.
bool subkeys(const std::string& path, std::vector<std::string>& names) {
  names.clear();
  HKEY key = nullptr;
  LSTATUS r = RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key);
  if (r == ERROR_FILE_NOT_FOUND) return true;
  if (r != ERROR_SUCCESS) return false;
  for (DWORD i = 0;; ++i) {
    char name[256];
    DWORD length = sizeof name;
    r = RegEnumKeyExA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (r != ERROR_SUCCESS) break;
    names.emplace_back(name, length);
  }
  RegCloseKey(key);
  return r == ERROR_NO_MORE_ITEMS;
}

bool sameText(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = char(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = char(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

bool deleteTree(const std::string& path) {
  const LSTATUS r = RegDeleteTreeA(HKEY_CLASSES_ROOT, path.c_str());
  return r == ERROR_SUCCESS || r == ERROR_FILE_NOT_FOUND;
}

// The interface keys that point at this library version go with it.
bool removeInterfaces(REFGUID libid, const std::string& version) {
  std::vector<std::string> names;
  if (!subkeys("Interface", names)) return false;
  const std::string lib = guidToString(libid);
  bool ok = true;
  for (const std::string& name : names) {
    const std::string typeLib = "Interface\\" + name + "\\TypeLib";
    if (sameText(readString(typeLib, ""), lib) && readString(typeLib, "Version") == version)
      ok = deleteTree("Interface\\" + name) && ok;
  }
  return ok;
}

}  // namespace

HRESULT RegisterTypeLib(const TypeLibInfo& lib, const char* fullPath, const char* helpDir) {
  if (fullPath == nullptr || fullPath[0] != '/') return E_INVALIDARG;
  const std::string path = fullPath;
  std::string dir = helpDir != nullptr ? std::string(helpDir) : path.substr(0, path.rfind('/'));
  if (dir.empty()) dir.push_back('/');  // the root; an assignment here trips GCC 12's -Wrestrict
  const std::string base = versionKey(lib.libid, lib.majorVersion, lib.minorVersion);
  const std::string version = versionText(lib.majorVersion, lib.minorVersion);
  const std::string libid = guidToString(lib.libid);
  const std::string proxy = guidToString(CLSID_PSOAInterface);

  bool ok = setString(base, "", lib.helpString != nullptr ? lib.helpString : "") == ERROR_SUCCESS &&
            setString(base + "\\" + hex(lib.lcid) + "\\" + kindName(SYS_NATIVE), "", path) ==
                ERROR_SUCCESS &&
            setString(base + "\\FLAGS", "", "0") == ERROR_SUCCESS &&
            setString(base + "\\HELPDIR", "", dir) == ERROR_SUCCESS;
  for (size_t i = 0; ok && i < lib.interfaceCount; ++i) {
    const std::string key = "Interface\\" + guidToString(lib.interfaces[i].iid);
    ok = setString(key, "", lib.interfaces[i].name) == ERROR_SUCCESS &&
         setString(key + "\\ProxyStubClsid", "", proxy) == ERROR_SUCCESS &&
         setString(key + "\\ProxyStubClsid32", "", proxy) == ERROR_SUCCESS &&
         setString(key + "\\TypeLib", "", libid) == ERROR_SUCCESS &&
         setString(key + "\\TypeLib", "Version", version) == ERROR_SUCCESS;
  }
  return ok ? S_OK : TYPE_E_REGISTRYACCESS;
}

HRESULT UnRegisterTypeLib(REFGUID libid, WORD majorVersion, WORD minorVersion, LCID lcid,
                          SYSKIND kind) {
  const char* kindKey = kindName(kind);
  if (kindKey == nullptr) return E_INVALIDARG;
  const std::string base = versionKey(libid, majorVersion, minorVersion);
  const std::string lcidKey = base + "\\" + hex(lcid);
  const LSTATUS r = RegDeleteTreeA(HKEY_CLASSES_ROOT, (lcidKey + "\\" + kindKey).c_str());
  if (r == ERROR_FILE_NOT_FOUND) return TYPE_E_LIBNOTREGISTERED;
  if (r != ERROR_SUCCESS) return TYPE_E_REGISTRYACCESS;

  std::vector<std::string> names;
  if (!subkeys(lcidKey, names)) return TYPE_E_REGISTRYACCESS;
  if (names.empty() && !deleteTree(lcidKey)) return TYPE_E_REGISTRYACCESS;
  // The version stays while another language or kind of the library is registered in it.
  if (!subkeys(base, names)) return TYPE_E_REGISTRYACCESS;
  for (const std::string& name : names)
    if (!sameText(name, "FLAGS") && !sameText(name, "HELPDIR")) return S_OK;
  if (!removeInterfaces(libid, versionText(majorVersion, minorVersion)) || !deleteTree(base))
    return TYPE_E_REGISTRYACCESS;
  const std::string libKey = "TypeLib\\" + guidToString(libid);
  if (!subkeys(libKey, names)) return TYPE_E_REGISTRYACCESS;
  if (names.empty() && !deleteTree(libKey)) return TYPE_E_REGISTRYACCESS;
  return S_OK;
}
