#include "cli/ComponentModule.h"

#include <unistd.h>

#include <cstdlib>

#include "platform/ComActivation.h"
#include "platform/Errors.h"
#include "platform/Module.h"
#include "platform/Registry.h"

namespace {

constexpr const char* kModuleName = "libvorlundmime.so";
constexpr const char* kSiblingsName = "libvorlundsiblings.so";
// Where the libraries lie from the program's directory once installed ("../lib").
constexpr const char* kInstalledLibDir = VORLUND_BIN_TO_LIB;
const OLECHAR kMimeProgIdWide[] = u"VorlundMime.VorlundMime";
const OLECHAR kCertProgIdWide[] = u"VorlundCert.VorlundCert";

// The module registered for a ProgID when its file exists; `stale` receives one that does not.
std::string registeredFor(const OLECHAR* progId, std::string* stale) {
  CLSID clsid;
  std::string path;
  if (FAILED(CLSIDFromProgID(progId, &clsid)) || !inprocServerOf(clsid, path)) return std::string();
  if (access(path.c_str(), F_OK) == 0) return path;
  if (stale != nullptr) *stale = path;
  return std::string();
}

void noteRegistered(FILE* notices, const char* progId, const std::string& stale,
                    const std::string& module) {
  if (stale.empty())
    std::fprintf(notices, "vormime: %s was not registered; registered %s\n", progId,
                 module.c_str());
  else
    std::fprintf(notices,
                 "vormime: %s was registered at %s, which no longer exists; registered %s\n",
                 progId, stale.c_str(), module.c_str());
}

bool exists(const std::string& path) { return !path.empty() && access(path.c_str(), F_OK) == 0; }

std::string absolute(const std::string& path) {
  char* resolved = realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return path;
  std::string out = resolved;
  std::free(resolved);
  return out;
}

std::string programDirectory() {
  char path[4096];
  const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  if (n == 0 || n >= sizeof path) return std::string();
  std::string p(path, n);
  return p.substr(0, p.rfind('/'));
}

}  // namespace

std::string describeHresult(HRESULT hr) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
  std::string text = code;
  // Win32 codes carried in an HRESULT have the system's text.
  if ((static_cast<uint32_t>(hr) & 0xFFFF0000u) == 0x80070000u) {
    char message[512];
    const DWORD n =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                       static_cast<DWORD>(hr) & 0xFFFF, 0, message, sizeof message, nullptr);
    std::string line(message, n);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    if (!line.empty()) text += " (" + line + ")";
  }
  return text;
}

std::string findComponentModule(std::string& error) {
  if (const char* chosen = std::getenv("VORMIME_MODULE"); chosen != nullptr && *chosen != '\0') {
    if (exists(chosen)) return absolute(chosen);
    error = std::string("VORMIME_MODULE names ") + chosen + ", which does not exist";
    return std::string();
  }
  const std::string dir = programDirectory();
  const std::string installed = dir + "/" + kInstalledLibDir;
  for (const std::string& candidate : {dir + "/../component/" + kModuleName,
                                       installed + "/" + kModuleName, dir + "/" + kModuleName})
    if (exists(candidate)) return absolute(candidate);
  error = std::string("cannot find the component module ") + kModuleName + " in " + dir +
          "/../component, " + installed + " or " + dir + " (set VORMIME_MODULE to its path)";
  return std::string();
}

bool runModuleEntry(const std::string& module, const char* entry, std::string& error) {
  HMODULE handle = LoadLibraryA(module.c_str());
  if (handle == nullptr) {
    error = "cannot load " + module + ": " + describeHresult(HRESULT_FROM_WIN32(GetLastError()));
    return false;
  }
  auto run = reinterpret_cast<LPFNREGISTERSERVER>(GetProcAddress(handle, entry));
  HRESULT hr = E_FAIL;
  if (run == nullptr)
    error = module + " has no entry point " + entry;
  else if (hr = run(); FAILED(hr))
    error = std::string(entry) + " of " + module + " failed with " + describeHresult(hr);
  FreeLibrary(handle);
  return run != nullptr && SUCCEEDED(hr);
}

std::string findSiblingsModule(const std::string& componentModule, std::string& error) {
  const std::string dir = programDirectory();
  const std::string beside =
      componentModule.substr(0, componentModule.rfind('/') + 1) + kSiblingsName;
  const std::string installed = dir + "/" + kInstalledLibDir;
  for (const std::string& candidate : {beside, dir + "/../siblings/" + kSiblingsName,
                                       installed + "/" + kSiblingsName, dir + "/" + kSiblingsName})
    if (exists(candidate)) return absolute(candidate);
  error = std::string("cannot find the siblings module ") + kSiblingsName + " beside " +
          componentModule + ", in " + dir + "/../siblings, in " + installed + " or in " + dir;
  return std::string();
}

std::string registeredModule(std::string* stale) { return registeredFor(kMimeProgIdWide, stale); }

std::string registeredSiblings(std::string* stale) { return registeredFor(kCertProgIdWide, stale); }

void reportRegistryProblem(FILE* notices) {
  const std::string problem = registryLastProblem();
  if (problem.empty()) return;
  std::fprintf(notices, "vormime: registry: %s\n", problem.c_str());
  clearRegistryLastProblem();
}

bool ensureComponentRegistered(FILE* notices, std::string& error) {
  std::string stale;
  const bool registered = !registeredModule(&stale).empty();
  reportRegistryProblem(notices);
  const std::string module = registered ? registeredModule() : findComponentModule(error);
  if (module.empty()) return false;
  if (!registered) {
    if (!runModuleEntry(module, "DllRegisterServer", error)) return false;
    reportRegistryProblem(notices);
    noteRegistered(notices, kMimeProgId, stale, module);
  }
  // The certificate objects the Mime object hands out come from the siblings' module; a
  // message command still runs without it, saying what is missing.
  std::string staleSiblings;
  if (!registeredSiblings(&staleSiblings).empty()) return true;
  std::string why;
  const std::string siblings = findSiblingsModule(module, why);
  if (siblings.empty() || !runModuleEntry(siblings, "DllRegisterServer", why)) {
    std::fprintf(notices, "vormime: certificate objects cannot be made: %s\n", why.c_str());
    return true;
  }
  noteRegistered(notices, kCertProgId, staleSiblings, siblings);
  return true;
}
