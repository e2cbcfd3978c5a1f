// One hive file under the platform root: the tree last read from it, brought up to date with
// what other processes commit, and changes committed whole under the hive's lock.
#pragma once

#include <sys/types.h>

#include <ctime>
#include <functional>
#include <string>

#include "platform/RegistryTree.h"

namespace registry {

// What identifies one committed version of a hive file without reading all of it.
struct FileStamp {
  bool exists = false;
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  timespec mtime{};
  uint64_t generation = 0;
};

class HiveFile {
 public:
  // `stem` names the files: <root>/registry/<stem>.reg, .lock, .tmp.
  explicit HiveFile(const char* stem) : stem_(stem) {}
  HiveFile(const HiveFile&) = delete;
  HiveFile& operator=(const HiveFile&) = delete;

  std::string path() const;

  // Brings the tree up to date with the committed file: ERROR_SUCCESS, or the Win32 code of
  // a failure to read it (ERROR_BADDB when it is unreadable and could not be set aside).
  LONG refresh();
  // The tree after a successful refresh() or update().
  RegKey& root() { return *hive_.root; }
  // The time of the last commit of the file read; zero when there is no file.
  const timespec& commitTime() const { return stamp_.mtime; }

  // Under the hive's exclusive lock: re-reads the committed file, runs `change` on its tree,
  // and, when `change` sets *changed, commits the tree as the next generation. Returns the
  // result of `change`, or the code of the failure to read or commit (the change is then lost
  // and the tree is read again by the next call).
  LONG update(const std::function<LONG(RegKey& root, bool* changed)>& change);

  // Drops the tree read so far, so the next call reads the file again.
  void forget();

 private:
  enum class Load { Current, Damaged, Failed };
  Load load(LONG* error);
  LONG refreshLocked();
  LONG setAside(const std::string& why);
  LONG commit();

  const char* stem_;
  std::string path_;  // the file the tree was read from
  bool valid_ = false;
  Hive hive_;
  FileStamp stamp_;
  std::string damage_;  // why the file last read was unreadable
};

// The hook run between syncing a commit's temporary file and renaming it over the hive.
void setBeforeRenameHook(void (*hook)());

// The process-wide last problem with a hive file.
void noteProblem(std::string text);
std::string lastProblem();
void clearProblem();

}  // namespace registry
