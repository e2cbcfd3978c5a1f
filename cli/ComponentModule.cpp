#include "cli/ComponentModule.h"

#include <unistd.h>

#include <cstdlib>

#include "platform/ComActivation.h"
#include "platform/Errors.h"
#include "platform/Module.h"
#include "platform/Registry.h"

namespace {

constexpr const char* kModuleName = "libvorlundmime.so";
const OLECHAR kMimeProgIdWide[] = u"VorlundMime.VorlundMime";

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
  for (const std::string& candidate :
       {dir + "/../component/" + kModuleName, dir + "/" + kModuleName})
    if (exists(candidate)) return absolute(candidate);
  error = std::string("cannot find the component module ") + kModuleName + " in " + dir +
          "/../component or " + dir + " (set VORMIME_MODULE to its path)";
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

std::string registeredModule(std::string* stale) {
  CLSID clsid;
  std::string path;
  if (FAILED(CLSIDFromProgID(kMimeProgIdWide, &clsid)) || !inprocServerOf(clsid, path))
    return std::string();
  if (exists(path)) return path;
  if (stale != nullptr) *stale = path;
  return std::string();
}

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
  if (registered) return true;
  const std::string module = findComponentModule(error);
  if (module.empty()) return false;
  if (!runModuleEntry(module, "DllRegisterServer", error)) return false;
  reportRegistryProblem(notices);
  if (stale.empty())
    std::fprintf(notices, "vormime: %s was not registered; registered %s\n", kMimeProgId,
                 module.c_str());
  else
    std::fprintf(notices,
                 "vormime: %s was registered at %s, which no longer exists; registered %s\n",
                 kMimeProgId, stale.c_str(), module.c_str());
  return true;
}
