#include "platform/Module.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

#include "platform/Errors.h"

namespace {

void registerTexts() {
  static std::once_flag once;
  std::call_once(once, [] {
    registerSystemMessage(ERROR_MOD_NOT_FOUND, "The specified module could not be found.");
    registerSystemMessage(ERROR_PROC_NOT_FOUND, "The specified procedure could not be found.");
    registerSystemMessage(ERROR_BAD_EXE_FORMAT, "%1 is not a valid Win32 application.");
    registerSystemMessage(ERROR_DLL_INIT_FAILED,
                          "A dynamic link library (DLL) initialization routine failed.");
  });
}

// The references LoadLibraryA holds on each module, so DllMain sees the first load and the
// last unload. Both kept to the end of the process; the lock is recursive so that a DllMain
// may load or free other modules.
std::recursive_mutex& loaderLock() {
  static auto* lock = new std::recursive_mutex();
  return *lock;
}

std::map<void*, int>& loadCounts() {
  static auto* counts = new std::map<void*, int>();
  return *counts;
}

BOOL callDllMain(void* handle, DWORD reason) {
  auto entry = reinterpret_cast<LPFNDLLMAIN>(dlsym(handle, "DllMain"));
  return entry == nullptr ? TRUE : entry(static_cast<HMODULE>(handle), reason, nullptr);
}

// Whether the file starts as an ELF object does; a file that does not was never a module.
bool looksLikeModule(const char* path) {
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  unsigned char magic[4] = {0, 0, 0, 0};
  const ssize_t n = read(fd, magic, sizeof magic);
  close(fd);
  return n == 4 && magic[0] == 0x7F && magic[1] == 'E' && magic[2] == 'L' && magic[3] == 'F';
}

std::string resolvedPath(const char* path) {
  char buf[PATH_MAX];
  if (realpath(path, buf) == nullptr) return std::string();
  return buf;
}

DWORD copyOut(const std::string& path, LPSTR buffer, DWORD size) {
  if (path.empty()) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return 0;
  }
  if (buffer == nullptr || size == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  if (path.size() >= size) {
    std::memcpy(buffer, path.data(), size - 1);
    buffer[size - 1] = '\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
  }
  std::memcpy(buffer, path.c_str(), path.size() + 1);
  return static_cast<DWORD>(path.size());
}

}  // namespace

HMODULE LoadLibraryA(LPCSTR path) {
  registerTexts();
  if (path == nullptr || *path == '\0') {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  std::lock_guard<std::recursive_mutex> lock(loaderLock());
  void* handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    // A path names a file; a bare name is searched for, as the loader does.
    const bool named = std::strchr(path, '/') != nullptr;
    const bool exists = named && access(path, F_OK) == 0;
    SetLastError(exists && !looksLikeModule(path) ? ERROR_BAD_EXE_FORMAT : ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  if (++loadCounts()[handle] == 1 && !callDllMain(handle, DLL_PROCESS_ATTACH)) {
    loadCounts().erase(handle);
    callDllMain(handle, DLL_PROCESS_DETACH);
    dlclose(handle);
    SetLastError(ERROR_DLL_INIT_FAILED);
    return nullptr;
  }
  return static_cast<HMODULE>(handle);
}

BOOL FreeLibrary(HMODULE module) {
  if (module == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  std::lock_guard<std::recursive_mutex> lock(loaderLock());
  auto it = loadCounts().find(module);
  if (it != loadCounts().end() && --it->second == 0) {
    loadCounts().erase(it);
    callDllMain(module, DLL_PROCESS_DETACH);
  }
  return dlclose(module) == 0 ? TRUE : FALSE;
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
  registerTexts();
  if (module == nullptr || name == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  void* symbol = dlsym(module, name);
  if (symbol == nullptr) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<FARPROC>(symbol);
}

DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size) {
  if (module == nullptr) return copyOut(resolvedPath("/proc/self/exe"), buffer, size);
  link_map* map = nullptr;
  if (dlinfo(module, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr || map->l_name == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  // The main program's entry has an empty name.
  if (map->l_name[0] == '\0') return copyOut(resolvedPath("/proc/self/exe"), buffer, size);
  return copyOut(resolvedPath(map->l_name), buffer, size);
}

std::string moduleFileNameFromAddress(const void* address) {
  Dl_info info;
  link_map* map = nullptr;
  if (dladdr1(address, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) == 0 ||
      map == nullptr || map->l_name == nullptr)
    return std::string();
  // The program's own entry has an empty name.
  if (map->l_name[0] == '\0') return resolvedPath("/proc/self/exe");
  return resolvedPath(map->l_name);
}
