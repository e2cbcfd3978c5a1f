// The component module: its lock count, its one cached class factory, the four entry points
// it exports, and its DllMain. The lock count counts live Mime objects (part objects included),
// server locks, and the cached factory while someone outside the module holds it; the module
// can be unloaded when it is 0.
#pragma once

#include <string>

#include "platform/Com.h"
#include "platform/Module.h"

// The only symbols the shared module exports.
#define VORLUND_EXPORT extern "C" __attribute__((visibility("default")))

// E_POINTER for a null ppv; CLASS_E_CLASSNOTAVAILABLE (*ppv null) for a class other than
// VorlundMime; else the class factory's QueryInterface for riid.
VORLUND_EXPORT HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv);
// S_OK when the lock count is 0, S_FALSE otherwise.
VORLUND_EXPORT HRESULT DllCanUnloadNow();
// Writes the class's registry entries and registers the type library; the first failing
// HRESULT, or S_OK.
VORLUND_EXPORT HRESULT DllRegisterServer();
// Removes the class key and the two ProgID keys (the CLSID root stays) and unregisters the
// type library. S_OK.
VORLUND_EXPORT HRESULT DllUnregisterServer();
// Installs the module's conversion engine as the process's code page converter when the
// platform loads the module and removes it when the platform unloads it (ModuleMain.cpp, in
// the shared module only).
VORLUND_EXPORT BOOL DllMain(HINSTANCE module, DWORD reason, LPVOID reserved);

// Interlocked changes of the lock count, and its value.
void moduleLock();
void moduleUnlock();
LONG moduleLockCount();

// The absolute path of the module this code is in: the shared module, or the program that
// linked the component in.
std::string moduleFileName();

// Drops the module's own reference on the cached class factory; run when the module unloads.
void moduleTerminate();
