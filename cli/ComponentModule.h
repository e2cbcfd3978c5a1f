// The host's side of the component module: finding libvorlundmime.so, running its
// registration entry points, and registering it on first use.
//
// The module is VORMIME_MODULE when that is set, else libvorlundmime.so in
// <directory of vormime>/../component (the build tree), in the installed library directory
// (<directory of vormime>/../lib), or beside vormime.
#pragma once

#include <cstdio>
#include <string>

#include "platform/HResult.h"

constexpr const char* kMimeProgId = "VorlundMime.VorlundMime";
constexpr const char* kCertProgId = "VorlundCert.VorlundCert";

// The module's absolute path; empty, with `error` saying where it was looked for, when there
// is none.
std::string findComponentModule(std::string& error);

// Loads the module and calls its entry point `entry` (DllRegisterServer or
// DllUnregisterServer). False, with `error` saying why, when it cannot be loaded, lacks the
// entry point, or the entry point fails.
bool runModuleEntry(const std::string& module, const char* entry, std::string& error);

// The siblings' module (the certificate and provider objects): beside the component module,
// else in <directory of vormime>/../siblings, the installed library directory, or beside
// vormime. Empty, with `error`, when
// there is none.
std::string findSiblingsModule(const std::string& componentModule, std::string& error);

// The module registered for the ProgID, when the registration points at a file that exists;
// empty otherwise. `stale` receives a registered path that no longer exists.
std::string registeredModule(std::string* stale = nullptr);
// The same for the siblings' module, by the certificate object's ProgID.
std::string registeredSiblings(std::string* stale = nullptr);

// Registers the module when the ProgID is not registered or its module no longer exists,
// saying so in one line on `notices`, and the siblings' module likewise (a line on `notices`
// when it cannot be). False, with `error` set, when the component module cannot be registered.
bool ensureComponentRegistered(FILE* notices, std::string& error);

// Any problem the registry met with its hive files (one set aside as unreadable ...), as a
// line on `notices`; nothing when there was none.
void reportRegistryProblem(FILE* notices);

// "0x80070005 (Access is denied.)": an HRESULT with the system's text when it has one.
std::string describeHresult(HRESULT hr);
