// Files with Win32 error codes and share modes kept inside the process.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>

#include "platform/Errors.h"
#include "platform/FileApi.h"
#include "tests/support/TempDir.h"

namespace {

// The three ways the file helpers open a file.
HANDLE openForRead(const std::string& name) {
  return CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}
HANDLE createForWrite(const std::string& name) {
  return CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                     nullptr);
}
// The last error of an open expected to fail; 0 (and the handle closed) when it opened.
DWORD failureOf(HANDLE h) {
  if (h == INVALID_HANDLE_VALUE) return GetLastError();
  CloseHandle(h);
  return 0;
}
HANDLE openWide(const std::u16string& name, DWORD access, DWORD share, DWORD disposition) {
  return CreateFileW(name.c_str(), access, share, nullptr, disposition, 0, nullptr);
}

// The names in a directory, hidden ones included.
std::set<std::string> namesIn(const std::string& dir) {
  std::set<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    names.insert(e.path().filename().string());
  return names;
}
// Creates the file for writing and writes the bytes; the result of CloseHandle.
bool replaceWith(const std::string& name, const std::string& bytes) {
  HANDLE h = createForWrite(name);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD n = 0;
  EXPECT_TRUE(WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr));
  return CloseHandle(h);
}

}  // namespace

TEST(CreateFile, MissingFilesAndDirectories) {
  TempDir dir;
  EXPECT_EQ(failureOf(openForRead(dir.file("missing.txt"))), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(failureOf(openForRead(dir.file("no-such-dir/missing.txt"))), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(failureOf(createForWrite(dir.file("no-such-dir/new.txt"))), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(failureOf(openForRead(dir.path())), ERROR_ACCESS_DENIED);

  const std::u16string wideDir(dir.path().begin(), dir.path().end());
  EXPECT_EQ(
      failureOf(openWide(wideDir + u"/missing.txt", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING)),
      ERROR_FILE_NOT_FOUND);

  // A wide name reaches the file system as UTF-8.
  EXPECT_EQ(failureOf(openWide(wideDir + u"/caf\u00E9.txt", GENERIC_WRITE, 0, CREATE_NEW)), 0u);
  EXPECT_TRUE(std::filesystem::exists(dir.file("caf\xC3\xA9.txt")));
  EXPECT_EQ(failureOf(openWide(wideDir + u"/caf\u00E9.txt", GENERIC_WRITE, 0, CREATE_NEW)),
            ERROR_FILE_EXISTS);
}

TEST(CreateFile, WriteReadSizeAndClose) {
  TempDir dir;
  const std::string name = dir.file("data.bin");
  HANDLE h = createForWrite(name);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD n = 0;
  ASSERT_TRUE(WriteFile(h, "hello", 5, &n, nullptr));
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_FALSE(CloseHandle(h));  // a stale handle is refused, not used
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

  h = openForRead(name);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD high = 99;
  EXPECT_EQ(GetFileSize(h, &high), 5u);
  EXPECT_EQ(high, 0u);
  char buf[16] = {};
  ASSERT_TRUE(ReadFile(h, buf, sizeof buf, &n, nullptr));
  EXPECT_EQ(std::string(buf, n), "hello");  // a short count at the end of the file
  CloseHandle(h);
}

TEST(CreateFile, ShareModesInsideTheProcess) {
  TempDir dir;
  const std::string name = dir.file("shared.txt");
  writeWholeFile(name, "data");
  HANDLE r1 = openForRead(name);  // readers that share reading get along
  HANDLE r2 = CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(r1, INVALID_HANDLE_VALUE);
  ASSERT_NE(r2, INVALID_HANDLE_VALUE);
  EXPECT_EQ(failureOf(createForWrite(name)), ERROR_SHARING_VIOLATION);
  EXPECT_EQ(readWholeFile(name), "data");  // a refused CREATE_ALWAYS must not truncate
  CloseHandle(r1);  // r2 lets others write, but a writer that shares nothing shuts r2's reading out
  EXPECT_EQ(failureOf(createForWrite(name)), ERROR_SHARING_VIOLATION);
  CloseHandle(r2);

  HANDLE w = createForWrite(name);
  ASSERT_NE(w, INVALID_HANDLE_VALUE);
  EXPECT_EQ(failureOf(createForWrite(name)), ERROR_SHARING_VIOLATION);
  const std::u16string wide(name.begin(), name.end());  // the wide form meets the same table
  EXPECT_EQ(
      failureOf(openWide(wide, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING)),
      ERROR_SHARING_VIOLATION);
  CloseHandle(w);
  EXPECT_EQ(failureOf(openForRead(name)), 0u);
}

// A file replaced by CREATE_ALWAYS keeps its old bytes until the new ones are all written and
// the handle is closed; a write or a commit that fails leaves it as it was, with no stray file.
TEST(CreateFile, ReplacingAFileIsAllOrNothing) {
  TempDir dir;
  const std::string name = dir.file("keep.txt");
  const std::string old = "old bytes, every one of them\n";
  writeWholeFile(name, old);
  ::chmod(name.c_str(), 0640);
  ASSERT_EQ(::link(name.c_str(), dir.file("twin.txt").c_str()), 0);
  const std::set<std::string> files = {"keep.txt", "twin.txt"};

  simulateWriteLimit(name.c_str(), 5);  // a disk that fills up half-way
  HANDLE h = createForWrite(name);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD n = 0;
  EXPECT_FALSE(WriteFile(h, "new bytes", 9, &n, nullptr));
  EXPECT_EQ(n, 5u);
  EXPECT_EQ(GetLastError(), ERROR_DISK_FULL);
  EXPECT_EQ(readWholeFile(name), old);
  EXPECT_FALSE(CloseHandle(h)) << "nothing half-written is put in place";
  EXPECT_EQ(GetLastError(), ERROR_DISK_FULL);
  EXPECT_EQ(readWholeFile(name), old);
  EXPECT_EQ(namesIn(dir.path()), files);

  h = createForWrite(name);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(WriteFile(h, "new", 3, &n, nullptr));
  EXPECT_EQ(readWholeFile(name), old) << "the old bytes stay until the close";
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_EQ(readWholeFile(name), "new");
  struct stat st;
  ASSERT_EQ(::stat(name.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(readWholeFile(dir.file("twin.txt")), old) << "a hard link is split";
  EXPECT_EQ(namesIn(dir.path()), files);

  // A commit that cannot happen (the new file went away) is a failure, not a success.
  h = createForWrite(name);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(WriteFile(h, "lost", 4, &n, nullptr));
  for (const std::string& f : namesIn(dir.path()))
    if (files.count(f) == 0) std::filesystem::remove(dir.file(f));
  EXPECT_FALSE(CloseHandle(h));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(readWholeFile(name), "new");

  // A symbolic link is written through: its target is replaced, the link stays.
  ASSERT_EQ(::symlink("keep.txt", dir.file("link.txt").c_str()), 0);
  EXPECT_TRUE(replaceWith(dir.file("link.txt"), "through the link"));
  EXPECT_TRUE(std::filesystem::is_symlink(dir.file("link.txt")));
  EXPECT_EQ(readWholeFile(name), "through the link");
  EXPECT_EQ(namesIn(dir.path()), (std::set<std::string>{"keep.txt", "twin.txt", "link.txt"}));

  if (::geteuid() != 0) {  // the superuser writes read-only files
    ::chmod(name.c_str(), 0440);
    EXPECT_EQ(failureOf(createForWrite(name)), ERROR_ACCESS_DENIED);
    EXPECT_EQ(readWholeFile(name), "through the link");
  }
}

// Pipes, and files named through a descriptor (as /dev/stdout is), are written in place: the
// descriptor's file must stay the one its other holders write to.
TEST(CreateFile, PipesAndDescriptorsAreWrittenInPlace) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  EXPECT_TRUE(replaceWith("/dev/fd/" + std::to_string(fds[1]), "through a pipe"));
  ::close(fds[1]);
  char buf[64];
  const ssize_t got = ::read(fds[0], buf, sizeof buf);
  ::close(fds[0]);
  EXPECT_EQ(std::string(buf, got > 0 ? static_cast<size_t>(got) : 0), "through a pipe");

  TempDir dir;
  const std::string name = dir.file("redirected.txt");
  writeWholeFile(name, "before");
  const int fd = ::open(name.c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  struct stat before, after;
  ASSERT_EQ(::fstat(fd, &before), 0);
  EXPECT_TRUE(replaceWith("/proc/self/fd/" + std::to_string(fd), "after"));
  ASSERT_EQ(::stat(name.c_str(), &after), 0);
  ::close(fd);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(readWholeFile(name), "after");
}

TEST(GetVersionExA, ChecksTheRecordSize) {
  OSVERSIONINFOA info = {};
  info.dwOSVersionInfoSize = 156;  // the extended record is not what the helpers pass
  EXPECT_FALSE(GetVersionExA(&info));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  info.dwOSVersionInfoSize = 148;
  ASSERT_TRUE(GetVersionExA(&info));
  EXPECT_EQ(info.dwPlatformId, VER_PLATFORM_WIN32_NT);
}
