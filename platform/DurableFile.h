// Files that other processes read while this one changes them: whole-file replacement by a
// synced temporary file renamed into place, exclusive locks, and setting a damaged file aside.
// Used by the registry hives and the certificate stores.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

namespace durable {

// An owned file descriptor.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd();
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  // Closes now, reporting the result (a deferred write error shows here).
  int close();

 private:
  int fd_;
};

// Holds an exclusive flock on a lock file for as long as it lives. The lock file is opened
// anew each time, so a forked child never shares its parent's lock.
class FileLock {
 public:
  FileLock() = default;
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  // 0, or the errno of the failure to open or lock.
  int acquire(const std::string& lockPath);

 private:
  int fd_ = -1;
};

// Makes `dir` and every missing directory above it with `mode`; false with *err on failure.
bool makeDirectories(const std::string& dir, int* err, mode_t mode = 0755);
// Syncs the directory that holds `file`, so a rename in it is durable.
void syncDirectory(const std::string& file);
bool writeAll(int fd, std::string_view text);
// Reads at most limit + 1 bytes, so a file that grew past the limit is seen to.
bool readAll(int fd, size_t limit, std::string* out);
// The current UTC time as 20260101T120000Z.
std::string utcStamp();

// Replaces `path` with `text`: written to `tmpPath` with `mode`, synced, renamed over `path`,
// the directory synced. 0, or the errno of the failure, which leaves `path` as it was.
int replaceFile(const std::string& path, const std::string& tmpPath, std::string_view text,
                mode_t mode);
// Renames `path` to <path>.corrupt-<UTC time> (never over an existing file). The new name,
// or empty with *err set.
std::string setAside(const std::string& path, int* err);

// Test hook: runs `hook` when replaceFile has synced its temporary file and is about to
// rename it (a hook that ends the process is a crash at that point). Null removes it.
void setBeforeRenameHook(void (*hook)());

}  // namespace durable
