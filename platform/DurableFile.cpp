#include "platform/DurableFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

namespace durable {

namespace {
void (*g_beforeRename)() = nullptr;
}  // namespace

Fd::~Fd() {
  if (fd_ >= 0) ::close(fd_);
}

int Fd::close() {
  int r = ::close(fd_);
  fd_ = -1;
  return r;
}

FileLock::~FileLock() {
  if (fd_ >= 0) ::close(fd_);  // releases the lock
}

int FileLock::acquire(const std::string& lockPath) {
  fd_ = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd_ < 0) return errno;
  while (::flock(fd_, LOCK_EX) != 0) {
    if (errno != EINTR) return errno;
  }
  return 0;
}

bool makeDirectories(const std::string& dir, int* err, mode_t mode) {
  for (size_t at = 1; at <= dir.size(); ++at) {
    if (at != dir.size() && dir[at] != '/') continue;
    std::string prefix = dir.substr(0, at);
    if (::mkdir(prefix.c_str(), mode) != 0 && errno != EEXIST) {
      *err = errno;
      return false;
    }
  }
  return true;
}

void syncDirectory(const std::string& file) {
  std::string dir = file.substr(0, file.find_last_of('/'));
  int fd = ::open(dir.empty() ? "/" : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

bool writeAll(int fd, std::string_view text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) {
      errno = EIO;
      return false;
    }
    done += size_t(n);
  }
  return true;
}

bool readAll(int fd, size_t limit, std::string* out) {
  out->clear();
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    out->append(buf, size_t(n));
    if (out->size() > limit) return true;
  }
}

std::string utcStamp() {
  time_t now = ::time(nullptr);
  struct tm t;
  gmtime_r(&now, &t);
  char text[32];
  strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &t);
  return text;
}

int replaceFile(const std::string& path, const std::string& tmpPath, std::string_view text,
                mode_t mode) {
  Fd fd(::open(tmpPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, mode));
  if (fd.get() < 0) return errno;
  // The mode of an existing temporary file is not changed by open.
  if (::fchmod(fd.get(), mode) != 0 || !writeAll(fd.get(), text) || ::fsync(fd.get()) != 0 ||
      fd.close() != 0) {
    int err = errno;
    ::unlink(tmpPath.c_str());
    return err;
  }
  if (g_beforeRename != nullptr) g_beforeRename();
  if (::rename(tmpPath.c_str(), path.c_str()) != 0) {
    int err = errno;
    ::unlink(tmpPath.c_str());
    return err;
  }
  syncDirectory(path);
  return 0;
}

std::string setAside(const std::string& path, int* err) {
  const std::string base = path + ".corrupt-" + utcStamp();
  *err = EEXIST;
  for (int i = 0; i < 1000; ++i) {
    std::string aside = i == 0 ? base : base + "-" + std::to_string(i);
    struct stat st;
    if (::lstat(aside.c_str(), &st) == 0) continue;
    if (::rename(path.c_str(), aside.c_str()) != 0) {
      *err = errno;
      return std::string();
    }
    syncDirectory(path);
    return aside;
  }
  return std::string();
}

void setBeforeRenameHook(void (*hook)()) { g_beforeRename = hook; }

}  // namespace durable
