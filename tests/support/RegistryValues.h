// String values below HKEY_CLASSES_ROOT, written and read the way hosts and installers do.
#pragma once

#include <string>

#include "platform/Registry.h"

// Creates HKCR\<path> as needed and sets its value `name` ("" for the default) to `data`.
inline bool setClassesValue(const std::string& path, const char* name, const std::string& data) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
    return false;
  const LONG r = RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                                static_cast<DWORD>(data.size() + 1));
  RegCloseKey(key);
  return r == ERROR_SUCCESS;
}

// The value `name` of HKCR\<path> without its NUL; "<none>" when the key or value is missing.
inline std::string classesValue(const std::string& path, const char* name = "") {
  HKEY key = nullptr;
  char buf[1024];
  DWORD size = sizeof buf;
  LONG r = RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key);
  if (r == ERROR_SUCCESS)
    r = RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &size);
  RegCloseKey(key);
  return r == ERROR_SUCCESS && size > 0 ? std::string(buf, size - 1) : "<none>";
}
