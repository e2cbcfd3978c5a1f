#include "platform/FileReplace.h"

#include <fcntl.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace {

constexpr int kMaxLinks = 40;  // the system's own limit on a chain of links
constexpr decltype(statfs::f_type) kProcSuperMagic = 0x9fa0;
constexpr size_t kMaxTempBase = 200;  // leaves room for the dot and the suffix in a name

size_t lastSlash(const std::string& path) { return path.find_last_of('/'); }

std::string directoryOf(const std::string& path) {
  const size_t slash = lastSlash(path);
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// A link in /proc (where /dev/fd and /dev/stdout lead) names an open descriptor, whose file
// may be shared with other writers, as a shell's redirection is: it is written in place.
bool namesDescriptor(const std::string& link) {
  struct statfs fs;
  return ::statfs(directoryOf(link).c_str(), &fs) == 0 && fs.f_type == kProcSuperMagic;
}

bool readLink(const std::string& path, off_t sizeHint, std::string* out) {
  std::vector<char> buf(static_cast<size_t>(sizeHint > 0 ? sizeHint : 255) + 1);
  const ssize_t n = ::readlink(path.c_str(), buf.data(), buf.size());
  if (n < 0 || static_cast<size_t>(n) >= buf.size()) return false;  // gone, or changed meanwhile
  out->assign(buf.data(), static_cast<size_t>(n));
  return !out->empty();
}

}  // namespace

bool findReplaceTarget(const std::string& name, std::string* target, struct stat* st) {
  std::string path = name;
  for (int hop = 0; hop <= kMaxLinks; ++hop) {
    if (::lstat(path.c_str(), st) != 0) return false;
    if (S_ISREG(st->st_mode)) {
      *target = path;
      return true;
    }
    std::string link;
    if (!S_ISLNK(st->st_mode) || namesDescriptor(path) || !readLink(path, st->st_size, &link))
      return false;
    path = link[0] == '/' ? link : directoryOf(path) + "/" + link;
  }
  return false;
}

int createReplacement(const std::string& target, const struct stat& old, std::string* tempPath) {
  const size_t slash = lastSlash(target);
  const std::string dir = slash == std::string::npos ? "" : target.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  std::string pattern = dir + "." + base.substr(0, kMaxTempBase) + ".XXXXXX";
  const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (fd < 0) return -1;
  // Owner before mode: a change of owner clears the set-id bits the mode may carry. An owner
  // that this process may not give away stays its own.
  (void)::fchown(fd, old.st_uid, old.st_gid);
  if (::fchmod(fd, old.st_mode & 07777) != 0) {
    const int err = errno;
    ::close(fd);
    ::unlink(pattern.c_str());
    errno = err;
    return -1;
  }
  *tempPath = pattern;
  return fd;
}

int finishReplacement(int fd, const std::string& tempPath, const std::string& target, bool commit) {
  int err = 0;
  // The new bytes reach the disk before the name does: a rename that outlives a crash must
  // not put an empty or partly written file in place of the old one, and a write the system
  // could not finish (a full disk found only when the data is placed) shows here, while the
  // old file is still there. doc/file_writing.md has what it costs.
  if (commit && ::fsync(fd) != 0) err = errno;
  if (::close(fd) != 0 && commit && err == 0) err = errno;
  if (commit && err == 0 && ::rename(tempPath.c_str(), target.c_str()) != 0) err = errno;
  if (!commit || err != 0) ::unlink(tempPath.c_str());
  return err;
}
