// Creating COM objects by class: ProgIDs and CLSIDs looked up in HKEY_CLASSES_ROOT, and the
// registered in-process server loaded and asked for its class factory, as ole32 does.
//
// A class is found through HKCR\CLSID\{clsid}\InprocServer32, whose default value is the
// module's path. Each module is loaded once per process (LoadLibraryA) and kept until
// CoFreeUnusedLibraries finds that it can unload.
#pragma once

#include "platform/Com.h"

typedef DWORD CLSCTX;
constexpr CLSCTX CLSCTX_INPROC_SERVER = 0x1;
constexpr CLSCTX CLSCTX_INPROC_HANDLER = 0x2;
constexpr CLSCTX CLSCTX_LOCAL_SERVER = 0x4;
constexpr CLSCTX CLSCTX_REMOTE_SERVER = 0x10;
constexpr CLSCTX CLSCTX_ALL =
    CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;

// The entry points an in-process server exports.
typedef HRESULT (*LPFNGETCLASSOBJECT)(REFCLSID clsid, REFIID riid, void** ppv);
typedef HRESULT (*LPFNCANUNLOADNOW)();
typedef HRESULT (*LPFNREGISTERSERVER)();

// Nothing to set up here: every thread may create objects. S_OK.
HRESULT CoInitialize(void* reserved);
void CoUninitialize();

// The CLSID of a ProgID: HKCR\<progId>\CLSID, or, for a ProgID that has no CLSID key, that of
// the ProgID its CurVer names. CO_E_CLASSSTRING when it is not registered or is not a ProgID,
// REGDB_E_READREGDB when the registry cannot be read, E_INVALIDARG for null arguments.
HRESULT CLSIDFromProgID(LPCOLESTR progId, CLSID* clsid);
// The ProgID a class is registered with (HKCR\CLSID\{clsid}\ProgID), in a block freed with
// CoTaskMemFree. REGDB_E_CLASSNOTREG when there is none.
HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* progId);

// The class object of a registered in-process server, asked for `riid`. *ppv is null on
// failure: REGDB_E_CLASSNOTREG (no in-process server registered for the class, or
// `context` does not allow one), REGDB_E_READREGDB, the HRESULT of a Win32 loading error
// (HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND) when the registered module is missing,
// ERROR_BAD_EXE_FORMAT when it is not a module), CO_E_ERRORINDLL when it exports no
// DllGetClassObject, or what DllGetClassObject returned.
HRESULT CoGetClassObject(REFCLSID clsid, CLSCTX context, void* serverInfo, REFIID riid, void** ppv);
// A new object of a registered class, through its class factory's CreateInstance; the
// results of CoGetClassObject, then those of CreateInstance.
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, CLSCTX context, REFIID riid, void** ppv);
// Unloads every module loaded for a class whose DllCanUnloadNow answers S_OK.
void CoFreeUnusedLibraries();

// The registered in-process server of a class (the InprocServer32 default value); false when
// there is none.
bool inprocServerOf(REFCLSID clsid, std::string& path);
