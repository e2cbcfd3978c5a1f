// The siblings' module: its lock count, the provider object's CLSID and the objects'
// creation.
#pragma once

#include "component/SiblingInterfaces.h"
#include "platform/Module.h"

extern const CLSID CLSID_VorlundCSP;  // {5871963E-BDE2-4BA7-AFF6-5C54548EEA81}

void siblingsLock();
void siblingsUnlock();

// A new object of the class answering `riid` in *ppv; E_OUTOFMEMORY or E_NOINTERFACE.
HRESULT createVorlundCert(REFIID riid, void** ppv);
HRESULT createVorlundCsp(REFIID riid, void** ppv);
// An empty string list; it has no class of its own, provider objects hand lists out.
HRESULT createVrStringArray(REFIID riid, void** ppv);

#define SIBLINGS_EXPORT extern "C" __attribute__((visibility("default")))
SIBLINGS_EXPORT HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv);
SIBLINGS_EXPORT HRESULT DllCanUnloadNow();
SIBLINGS_EXPORT HRESULT DllRegisterServer();
SIBLINGS_EXPORT HRESULT DllUnregisterServer();
// Installs the module's conversion engine as the process's code page converter when the
// platform loads the module and removes it when the platform unloads it.
SIBLINGS_EXPORT BOOL DllMain(HINSTANCE module, DWORD reason, LPVOID reserved);
