// Registering a type library, as oleaut32's RegisterTypeLib and UnRegisterTypeLib do: the
// library's key under HKCR\TypeLib and a key under HKCR\Interface for each of its dual
// interfaces, which marshal through the automation proxy.
//
//   TypeLib\{LIBID}\<major>.<minor>           (default) = help string
//   TypeLib\{LIBID}\<major>.<minor>\<lcid>\linux (default) = the library's path
//   TypeLib\{LIBID}\<major>.<minor>\FLAGS     (default) = the library flags, "0"
//   TypeLib\{LIBID}\<major>.<minor>\HELPDIR   (default) = the help directory
//   Interface\{IID}                           (default) = the interface's name
//   Interface\{IID}\ProxyStubClsid, \ProxyStubClsid32 (default) = the automation proxy
//   Interface\{IID}\TypeLib                   (default) = {LIBID}, Version = "<major>.<minor>"
//
// Versions and the lcid are written in hex, as the system writes them; "linux" is this
// platform's kind of library, where a Windows system writes "win32" or "win64".
#pragma once

#include <cstddef>

#include "platform/Guid.h"
#include "platform/HResult.h"

enum SYSKIND { SYS_WIN16 = 0, SYS_WIN32 = 1, SYS_MAC = 2, SYS_WIN64 = 3, SYS_LINUX = 0x100 };
constexpr SYSKIND SYS_NATIVE = SYS_LINUX;

// {00020424-0000-0000-C000-000000000046}, the proxy of every OLE Automation interface.
extern const CLSID CLSID_PSOAInterface;

// What a type library tells of itself to its registration: its identity and its dual
// interfaces.
struct TypeLibInterface {
  IID iid;
  const char* name;
};
struct TypeLibInfo {
  GUID libid;
  WORD majorVersion;
  WORD minorVersion;
  LCID lcid;
  const char* helpString;
  const TypeLibInterface* interfaces;
  size_t interfaceCount;
};

// Writes the library's entries for this platform's kind; `helpDir` null names the directory
// of `fullPath`. TYPE_E_REGISTRYACCESS when a key cannot be written, E_INVALIDARG for a null
// or relative path.
HRESULT RegisterTypeLib(const TypeLibInfo& lib, const char* fullPath, const char* helpDir);
// Removes the library's entry for `lcid` and `kind`; when that was its last one, the version
// key goes, with the interface keys that point at this library version, and the library
// key when no version is left. TYPE_E_LIBNOTREGISTERED when it is not registered,
// TYPE_E_REGISTRYACCESS when the registry cannot be changed.
HRESULT UnRegisterTypeLib(REFGUID libid, WORD majorVersion, WORD minorVersion, LCID lcid,
                          SYSKIND kind);
