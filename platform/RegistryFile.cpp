#include "platform/RegistryFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

#include "platform/DurableFile.h"
#include "platform/Errors.h"
#include "platform/PlatformRoot.h"

namespace registry {

namespace {

using durable::Fd;
using durable::makeDirectories;
using durable::readAll;
using durable::syncDirectory;

constexpr DWORD kBadDb = 1009;  // ERROR_BADDB

std::mutex g_problemMutex;
std::string g_problem;

// The system's English text for an errno value, without the line end.
std::string errorText(int err) {
  const DWORD saved = GetLastError();  // registry calls leave the caller's last error alone
  char text[512];
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           win32ErrorFromErrno(err), 0, text, sizeof text, nullptr);
  SetLastError(saved);
  std::string s(text, n);
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
  return s.empty() ? "error " + std::to_string(err) : s;
}

LONG failure(int err, const std::string& what) {
  noteProblem(what + ": " + errorText(err));
  return LONG(win32ErrorFromErrno(err));
}

// Holds the exclusive lock of one hive for as long as it lives.
class HiveLock {
 public:
  LONG acquire(const std::string& lockPath) {
    if (int err = lock_.acquire(lockPath); err != 0)
      return failure(err, "Registry lock " + lockPath + " cannot be taken");
    return LONG(ERROR_SUCCESS);
  }

 private:
  durable::FileLock lock_;
};

bool sameFile(const FileStamp& a, const struct stat& st) {
  return a.exists && a.dev == st.st_dev && a.ino == st.st_ino && a.size == st.st_size &&
         a.mtime.tv_sec == st.st_mtim.tv_sec && a.mtime.tv_nsec == st.st_mtim.tv_nsec;
}

FileStamp stampOf(const struct stat& st, uint64_t generation) {
  FileStamp s;
  s.exists = true;
  s.dev = st.st_dev;
  s.ino = st.st_ino;
  s.size = st.st_size;
  s.mtime = st.st_mtim;
  s.generation = generation;
  return s;
}

}  // namespace

std::string HiveFile::path() const {
  return platformPath(std::string("registry/") + stem_ + ".reg");
}

HiveFile::Load HiveFile::load(LONG* error) {
  std::string path = this->path();
  if (path != path_) {
    path_ = path;
    valid_ = false;
  }
  int raw = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
  if (raw < 0) {
    int err = errno;
    if (err == ENOENT) {
      if (!valid_ || stamp_.exists) {
        hive_ = Hive();
        stamp_ = FileStamp();
      }
      valid_ = true;
      return Load::Current;
    }
    *error = failure(err, "Registry hive " + path_ + " cannot be read");
    return Load::Failed;
  }
  Fd fd(raw);
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) {
    *error = failure(errno, "Registry hive " + path_ + " cannot be read");
    return Load::Failed;
  }
  if (!S_ISREG(st.st_mode)) {
    damage_ = "the hive is not a regular file";
    return Load::Damaged;
  }

  // A commit always renames a new file into place, and each carries the next generation, so
  // the same file with the same generation is the version already held.
  char head[64];
  ssize_t n = ::pread(fd.get(), head, sizeof head, 0);
  uint64_t generation = 0;
  if (valid_ && sameFile(stamp_, st) && n > 0 &&
      peekGeneration(std::string_view(head, size_t(n)), &generation) &&
      generation == stamp_.generation)
    return Load::Current;

  std::string text;
  if (st.st_size > off_t(kMaxHiveFileSize)) {
    damage_ = "the file is larger than a hive may be";
    return Load::Damaged;
  }
  if (!readAll(fd.get(), kMaxHiveFileSize, &text)) {
    *error = failure(errno, "Registry hive " + path_ + " cannot be read");
    return Load::Failed;
  }
  Hive parsed;
  if (!parseHive(text, &parsed, &damage_)) return Load::Damaged;
  hive_ = std::move(parsed);
  stamp_ = stampOf(st, hive_.generation);
  valid_ = true;
  return Load::Current;
}

LONG HiveFile::refresh() {
  LONG error = LONG(ERROR_SUCCESS);
  switch (load(&error)) {
    case Load::Current:
      return LONG(ERROR_SUCCESS);
    case Load::Failed:
      return error;
    case Load::Damaged:
      break;
  }
  // Set a file aside only under the lock and after reading it again: another process may
  // have replaced it with a good one in between.
  HiveLock lock;
  if (LONG r = lock.acquire(platformPath(std::string("registry/") + stem_ + ".lock")); r != 0)
    return r;
  return refreshLocked();
}

LONG HiveFile::refreshLocked() {
  LONG error = LONG(ERROR_SUCCESS);
  switch (load(&error)) {
    case Load::Current:
      return LONG(ERROR_SUCCESS);
    case Load::Failed:
      return error;
    case Load::Damaged:
      break;
  }
  return setAside(damage_);
}

LONG HiveFile::setAside(const std::string& why) {
  int err = 0;
  const std::string aside = durable::setAside(path_, &err);
  if (!aside.empty()) {
    noteProblem("Registry hive " + path_ + " was unreadable (" + why + "); it was kept as " +
                aside + " and the hive starts empty");
    hive_ = Hive();
    stamp_ = FileStamp();
    valid_ = true;
    return LONG(ERROR_SUCCESS);
  }
  noteProblem("Registry hive " + path_ + " is unreadable (" + why +
              ") and could not be set aside: " + errorText(err));
  hive_ = Hive();
  stamp_ = FileStamp();
  valid_ = false;
  return LONG(kBadDb);
}

LONG HiveFile::update(const std::function<LONG(RegKey& root, bool* changed)>& change) {
  const std::string dir = platformPath("registry");
  if (int err = 0; !makeDirectories(dir, &err))
    return failure(err, "Registry directory " + dir + " cannot be made");
  HiveLock lock;
  if (LONG r = lock.acquire(platformPath(std::string("registry/") + stem_ + ".lock")); r != 0)
    return r;
  if (LONG r = refreshLocked(); r != 0) return r;
  bool changed = false;
  LONG result = change(*hive_.root, &changed);
  if (!changed) return result;
  if (LONG r = commit(); r != 0) {
    forget();
    return r;
  }
  return result;
}

LONG HiveFile::commit() {
  const uint64_t next = stamp_.generation + 1;
  std::string text, why;
  if (!serializeHive(*hive_.root, next, &text, &why)) {
    noteProblem("Registry hive " + path_ + " was not changed: " + why);
    return LONG(ERROR_NOT_ENOUGH_MEMORY);
  }
  const std::string tmp = platformPath(std::string("registry/") + stem_ + ".tmp");
  const std::string what = "Registry hive " + path_ + " could not be written";
  if (int err = durable::replaceFile(path_, tmp, text, 0644); err != 0) return failure(err, what);
  struct stat st;
  if (::stat(path_.c_str(), &st) != 0) return failure(errno, what);
  stamp_ = stampOf(st, next);
  hive_.generation = next;
  return LONG(ERROR_SUCCESS);
}

void HiveFile::forget() {
  valid_ = false;
  hive_ = Hive();
  stamp_ = FileStamp();
}

void setBeforeRenameHook(void (*hook)()) { durable::setBeforeRenameHook(hook); }

void noteProblem(std::string text) {
  std::lock_guard<std::mutex> lock(g_problemMutex);
  g_problem = std::move(text);
}

std::string lastProblem() {
  std::lock_guard<std::mutex> lock(g_problemMutex);
  return g_problem;
}

void clearProblem() {
  std::lock_guard<std::mutex> lock(g_problemMutex);
  g_problem.clear();
}

}  // namespace registry
