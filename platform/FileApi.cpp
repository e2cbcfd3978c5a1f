#include "platform/FileApi.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/CodePage.h"
#include "platform/Errors.h"
#include "platform/FileReplace.h"

namespace {

struct FileKey {
  dev_t dev;
  ino_t ino;
  bool operator<(const FileKey& o) const { return dev != o.dev ? dev < o.dev : ino < o.ino; }
};

struct OpenFile {
  OpenFile(int f, FileKey k, DWORD a, DWORD s) : fd(f), key(k), access(a), share(s) {}
  int fd;
  FileKey key;  // of the file as others open it: for a replacement, the file being replaced
  DWORD access;
  DWORD share;
  // A replacement writes to `tempPath`, put in place of `target` when the handle is closed
  // unless a write failed (`failure`, the error it set).
  std::string tempPath;
  std::string target;
  DWORD failure = ERROR_SUCCESS;
  uint64_t writeLimit = UINT64_MAX;  // test hook: bytes the file takes before writes fail
  uint64_t written = 0;
};

std::mutex g_mutex;  // the share table may be reached from any thread
std::map<FileKey, std::vector<OpenFile*>> g_opens;
std::map<std::string, int> g_simulatedViolations;
std::map<std::string, uint64_t> g_simulatedWriteLimits;
std::set<const OpenFile*> g_handles;  // the live handles, so a stale or foreign one is refused

bool sharesConflict(const std::vector<OpenFile*>& opens, DWORD access, DWORD share) {
  for (const OpenFile* f : opens) {
    if ((access & GENERIC_READ) && !(f->share & FILE_SHARE_READ)) return true;
    if ((access & GENERIC_WRITE) && !(f->share & FILE_SHARE_WRITE)) return true;
    if ((f->access & GENERIC_READ) && !(share & FILE_SHARE_READ)) return true;
    if ((f->access & GENERIC_WRITE) && !(share & FILE_SHARE_WRITE)) return true;
  }
  return false;
}

HANDLE fail(DWORD code) {
  SetLastError(code);
  return INVALID_HANDLE_VALUE;
}

// A name that is missing altogether is ERROR_PATH_NOT_FOUND when its directory is missing too,
// as the system tells the two apart.
DWORD missingNameError(const std::string& name) {
  size_t slash = name.find_last_of('/');
  if (slash == std::string::npos || slash == 0) return ERROR_FILE_NOT_FOUND;
  struct stat st;
  std::string dir = name.substr(0, slash);
  return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? ERROR_FILE_NOT_FOUND
                                                              : ERROR_PATH_NOT_FOUND;
}

// A regular file that CREATE_ALWAYS replaces gets a new file beside it (see FileReplace.h).
// Null when the name is no such file, or when no new file can be made beside it (a directory
// that takes no new names): the file is then written in place, as the system would. A target
// this process may not write is refused as it would be in place, with `refused` set.
OpenFile* openReplacement(const std::string& name, DWORD access, DWORD share, DWORD* refused) {
  std::string target;
  struct stat old;
  if (!(access & GENERIC_WRITE) || !findReplaceTarget(name, &target, &old)) return nullptr;
  // Asked, not opened: a file opened for writing and closed tells its watchers it changed.
  if (::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) {
    *refused = win32ErrorFromErrno(errno);
    return nullptr;
  }
  std::string tempPath;
  const int fd = createReplacement(target, old, &tempPath);
  if (fd < 0) return nullptr;
  auto* f = new OpenFile{fd, FileKey{old.st_dev, old.st_ino}, access, share};
  f->tempPath = tempPath;
  f->target = target;
  return f;
}

HANDLE openUtf8(const std::string& name, DWORD access, DWORD share, DWORD disposition) {
  if (name.empty()) return fail(ERROR_PATH_NOT_FOUND);
  std::lock_guard<std::mutex> lock(g_mutex);

  auto sim = g_simulatedViolations.find(name);
  if (sim != g_simulatedViolations.end() && sim->second > 0) {
    if (--sim->second == 0) g_simulatedViolations.erase(sim);
    return fail(ERROR_SHARING_VIOLATION);
  }

  struct stat st;
  bool exists = ::stat(name.c_str(), &st) == 0;
  if (exists) {
    if (S_ISDIR(st.st_mode)) return fail(ERROR_ACCESS_DENIED);
    if (disposition == CREATE_NEW) return fail(ERROR_FILE_EXISTS);
    auto it = g_opens.find(FileKey{st.st_dev, st.st_ino});
    if (it != g_opens.end() && sharesConflict(it->second, access, share))
      return fail(ERROR_SHARING_VIOLATION);
  } else if (errno != ENOENT) {
    return fail(win32ErrorFromErrno(errno));
  }

  int flags = O_CLOEXEC;
  if ((access & GENERIC_READ) && (access & GENERIC_WRITE))
    flags |= O_RDWR;
  else if (access & GENERIC_WRITE)
    flags |= O_WRONLY;
  else
    flags |= O_RDONLY;
  switch (disposition) {
    case CREATE_NEW:
      flags |= O_CREAT | O_EXCL;
      break;
    case CREATE_ALWAYS:
      flags |= O_CREAT | O_TRUNC;
      break;
    case OPEN_EXISTING:
      break;
    case OPEN_ALWAYS:
      flags |= O_CREAT;
      break;
    case TRUNCATE_EXISTING:
      flags |= O_TRUNC;
      break;
    default:
      return fail(ERROR_INVALID_PARAMETER);
  }
  if ((flags & O_TRUNC) && !(access & GENERIC_WRITE)) return fail(ERROR_INVALID_PARAMETER);

  OpenFile* f = nullptr;
  if (disposition == CREATE_ALWAYS && exists) {
    DWORD refused = ERROR_SUCCESS;
    f = openReplacement(name, access, share, &refused);
    if (refused != ERROR_SUCCESS) return fail(refused);
  }
  if (f == nullptr) {
    int fd = ::open(name.c_str(), flags, 0666);
    if (fd < 0) return fail(errno == ENOENT ? missingNameError(name) : win32ErrorFromErrno(errno));
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
      ::close(fd);
      return fail(ERROR_ACCESS_DENIED);
    }
    f = new OpenFile{fd, FileKey{st.st_dev, st.st_ino}, access, share};
  }
  auto limit = g_simulatedWriteLimits.find(name);
  if (limit != g_simulatedWriteLimits.end() && (access & GENERIC_WRITE)) {
    f->writeLimit = limit->second;
    g_simulatedWriteLimits.erase(limit);
  }
  g_opens[f->key].push_back(f);
  g_handles.insert(f);
  SetLastError(exists && (disposition == OPEN_ALWAYS || disposition == CREATE_ALWAYS)
                   ? ERROR_ALREADY_EXISTS
                   : ERROR_SUCCESS);
  return f;
}

bool ansiToUtf8(LPCSTR name, std::string* out) {
  size_t n = std::strlen(name);
  bool ascii = true;
  for (size_t i = 0; i < n && ascii; ++i) ascii = static_cast<unsigned char>(name[i]) < 0x80;
  if (ascii || GetACP() == CP_UTF8) {
    out->assign(name, n);
    return true;
  }
  StringOutput sink(*out);
  return platformConvert(GetACP(), CP_UTF8, name, n, sink);
}

bool wideToUtf8(LPCWSTR name, std::string* out) {
  size_t n = 0;
  while (name[n] != 0) ++n;
  StringOutput sink(*out);
  return convertUnicodeForms(CP_UTF16LE, CP_UTF8, name, n * 2, sink);
}

OpenFile* fileOf(HANDLE h) {
  std::lock_guard<std::mutex> lock(g_mutex);
  auto* f = static_cast<OpenFile*>(h);
  return g_handles.count(f) != 0 ? f : nullptr;
}

DWORD g_pinnedPlatformId = 0;
DWORD g_pinnedMinor = 0;

}  // namespace

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD shareMode, void*, DWORD disposition, DWORD,
                   HANDLE) {
  if (name == nullptr) return fail(ERROR_INVALID_PARAMETER);
  std::string utf8;
  if (!ansiToUtf8(name, &utf8)) return fail(ERROR_INVALID_NAME);
  return openUtf8(utf8, access, shareMode, disposition);
}

HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD shareMode, void*, DWORD disposition, DWORD,
                   HANDLE) {
  if (name == nullptr) return fail(ERROR_INVALID_PARAMETER);
  std::string utf8;
  if (!wideToUtf8(name, &utf8)) return fail(ERROR_INVALID_NAME);
  return openUtf8(utf8, access, shareMode, disposition);
}

BOOL ReadFile(HANDLE h, LPVOID buffer, DWORD n, DWORD* read, void*) {
  OpenFile* f = fileOf(h);
  if (read != nullptr) *read = 0;
  if (f == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!(f->access & GENERIC_READ)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  DWORD done = 0;
  auto* p = static_cast<char*>(buffer);
  while (done < n) {
    ssize_t got = ::read(f->fd, p + done, n - done);
    if (got < 0) {
      if (errno == EINTR) continue;
      SetLastError(win32ErrorFromErrno(errno));
      if (read != nullptr) *read = done;
      return FALSE;
    }
    if (got == 0) break;
    done += static_cast<DWORD>(got);
  }
  if (read != nullptr) *read = done;
  return TRUE;
}

DWORD SetFilePointer(HANDLE h, LONG distance, LONG* high, DWORD method) {
  OpenFile* f = fileOf(h);
  if (f == nullptr || method > FILE_END) {
    SetLastError(f == nullptr ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  int64_t offset = high != nullptr ? (int64_t(*high) << 32) | uint32_t(distance) : distance;
  const int whence = method == FILE_BEGIN ? SEEK_SET : method == FILE_CURRENT ? SEEK_CUR : SEEK_END;
  const off_t current = ::lseek(f->fd, 0, SEEK_CUR);
  const off_t end = whence == SEEK_END ? ::lseek(f->fd, 0, SEEK_END) : 0;
  const int64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? current : end;
  if (base + offset < 0) {
    ::lseek(f->fd, current, SEEK_SET);
    SetLastError(ERROR_NEGATIVE_SEEK);
    return INVALID_SET_FILE_POINTER;
  }
  const off_t at = ::lseek(f->fd, off_t(base + offset), SEEK_SET);
  if (at < 0) {
    SetLastError(win32ErrorFromErrno(errno));
    return INVALID_SET_FILE_POINTER;
  }
  if (high != nullptr) *high = LONG(int64_t(at) >> 32);
  SetLastError(ERROR_SUCCESS);
  return DWORD(uint64_t(at) & 0xFFFFFFFF);
}

BOOL WriteFile(HANDLE h, LPCVOID buffer, DWORD n, DWORD* written, void*) {
  OpenFile* f = fileOf(h);
  if (written != nullptr) *written = 0;
  if (f == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!(f->access & GENERIC_WRITE)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  DWORD done = 0;
  auto* p = static_cast<const char*>(buffer);
  while (done < n) {
    const uint64_t room = f->writeLimit - f->written;
    if (room == 0) {
      f->failure = ERROR_DISK_FULL;
      break;
    }
    const size_t take = room < n - done ? static_cast<size_t>(room) : n - done;
    ssize_t put = ::write(f->fd, p + done, take);
    if (put < 0) {
      if (errno == EINTR) continue;
      f->failure = win32ErrorFromErrno(errno);
      break;
    }
    done += static_cast<DWORD>(put);
    f->written += static_cast<uint64_t>(put);
  }
  if (written != nullptr) *written = done;
  if (done < n) {
    SetLastError(f->failure);
    return FALSE;
  }
  return TRUE;
}

DWORD GetFileSize(HANDLE h, DWORD* high) {
  OpenFile* f = fileOf(h);
  struct stat st;
  if (f == nullptr || ::fstat(f->fd, &st) != 0) {
    SetLastError(f == nullptr ? ERROR_INVALID_HANDLE : win32ErrorFromErrno(errno));
    return INVALID_FILE_SIZE;
  }
  uint64_t size = static_cast<uint64_t>(st.st_size);
  if (high != nullptr)
    *high = static_cast<DWORD>(size >> 32);
  else if (size >> 32) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_FILE_SIZE;
  }
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(size);
}

BOOL CloseHandle(HANDLE h) {
  OpenFile* f = fileOf(h);
  if (f == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_handles.erase(f) == 0) {  // closed meanwhile by another thread
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    auto it = g_opens.find(f->key);
    if (it != g_opens.end()) {
      auto& list = it->second;
      for (size_t i = 0; i < list.size(); ++i)
        if (list[i] == f) {
          list.erase(list.begin() + static_cast<std::ptrdiff_t>(i));
          break;
        }
      if (list.empty()) g_opens.erase(it);
    }
  }
  DWORD code = ERROR_SUCCESS;
  if (f->tempPath.empty()) {
    ::close(f->fd);
  } else {
    const int err = finishReplacement(f->fd, f->tempPath, f->target, f->failure == ERROR_SUCCESS);
    code = f->failure != ERROR_SUCCESS ? f->failure : win32ErrorFromErrno(err);
  }
  delete f;
  if (code != ERROR_SUCCESS) {
    SetLastError(code);
    return FALSE;
  }
  return TRUE;
}

BOOL DeleteFileA(LPCSTR name) {
  std::string utf8;
  if (name == nullptr || !ansiToUtf8(name, &utf8)) {
    SetLastError(ERROR_INVALID_NAME);
    return FALSE;
  }
  if (::unlink(utf8.c_str()) != 0) {
    SetLastError(win32ErrorFromErrno(errno));
    return FALSE;
  }
  return TRUE;
}

namespace {
bool currentDirectoryUtf8(std::string* out) {
  std::vector<char> buf(4096);
  while (::getcwd(buf.data(), buf.size()) == nullptr) {
    if (errno != ERANGE || buf.size() > (1u << 20)) {
      SetLastError(win32ErrorFromErrno(errno));
      return false;
    }
    buf.resize(buf.size() * 2);
  }
  out->assign(buf.data());
  return true;
}
}  // namespace

DWORD GetCurrentDirectoryA(DWORD n, LPSTR buffer) {
  std::string utf8, ansi;
  if (!currentDirectoryUtf8(&utf8)) return 0;
  StringOutput sink(ansi);
  if (GetACP() == CP_UTF8)
    ansi = utf8;
  else if (!platformConvert(CP_UTF8, GetACP(), utf8.data(), utf8.size(), sink)) {
    SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    return 0;
  }
  if (buffer == nullptr || n < ansi.size() + 1) return static_cast<DWORD>(ansi.size() + 1);
  std::memcpy(buffer, ansi.c_str(), ansi.size() + 1);
  return static_cast<DWORD>(ansi.size());
}

DWORD GetCurrentDirectoryW(DWORD n, LPWSTR buffer) {
  std::string utf8, wide;
  if (!currentDirectoryUtf8(&utf8)) return 0;
  StringOutput sink(wide);
  convertUnicodeForms(CP_UTF8, CP_UTF16LE, utf8.data(), utf8.size(), sink);
  size_t units = wide.size() / 2;
  if (buffer == nullptr || n < units + 1) return static_cast<DWORD>(units + 1);
  std::memcpy(buffer, wide.data(), wide.size());
  buffer[units] = 0;
  return static_cast<DWORD>(units);
}

void simulateSharingViolation(const char* utf8Name, int count) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (count <= 0)
    g_simulatedViolations.erase(utf8Name);
  else
    g_simulatedViolations[utf8Name] = count;
}

void simulateWriteLimit(const char* utf8Name, uint64_t bytes) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_simulatedWriteLimits[utf8Name] = bytes;
}

int pendingSharingViolations(const char* utf8Name) {
  std::lock_guard<std::mutex> lock(g_mutex);
  auto it = g_simulatedViolations.find(utf8Name);
  return it == g_simulatedViolations.end() ? 0 : it->second;
}

BOOL GetVersionExA(OSVERSIONINFOA* info) {
  if (info == nullptr || info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::memset(reinterpret_cast<char*>(info) + sizeof(DWORD), 0,
              sizeof(OSVERSIONINFOA) - sizeof(DWORD));
  info->dwMajorVersion = 10;
  info->dwMinorVersion = 0;
  info->dwBuildNumber = 19045;
  info->dwPlatformId = VER_PLATFORM_WIN32_NT;
  if (g_pinnedPlatformId != 0) {
    info->dwMajorVersion = 4;
    info->dwPlatformId = g_pinnedPlatformId;
    info->dwMinorVersion = g_pinnedMinor;
  }
  return TRUE;
}

void setVersionForTesting(DWORD platformId, DWORD minorVersion) {
  g_pinnedPlatformId = platformId;
  g_pinnedMinor = minorVersion;
}

static_assert(sizeof(OSVERSIONINFOA) == 148, "the record's size field is 148");
