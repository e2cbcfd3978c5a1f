// Files with Win32 error codes and share modes kept inside the process.
#include <gtest/gtest.h>

#include <filesystem>
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

}  // namespace

TEST(CreateFile, MissingFilesAndDirectories) {
  TempDir dir;
  EXPECT_EQ(failureOf(openForRead(dir.file("missing.txt"))), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(failureOf(openForRead(dir.file("no-such-dir/missing.txt"))), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(failureOf(createForWrite(dir.file("no-such-dir/new.txt"))), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(failureOf(openForRead(dir.path())), ERROR_ACCESS_DENIED);

  const std::u16string wideDir(dir.path().begin(), dir.path().end());
  EXPECT_EQ(failureOf(openWide(wideDir + u"/missing.txt", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING)),
            ERROR_FILE_NOT_FOUND);

  // A wide name reaches the file system as UTF-8.
  EXPECT_EQ(failureOf(openWide(wideDir + u"/caf\u00E9.txt", GENERIC_WRITE, 0, CREATE_NEW)), 0u);
  EXPECT_TRUE(std::filesystem::exists(dir.file("caf\xC3\xA9.txt")));
  EXPECT_EQ(failureOf(openWide(wideDir + u"/caf\u00E9.txt", GENERIC_WRITE, 0, CREATE_NEW)), ERROR_FILE_EXISTS);
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
  EXPECT_EQ(failureOf(openWide(wide, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING)),
            ERROR_SHARING_VIOLATION);
  CloseHandle(w);
  EXPECT_EQ(failureOf(openForRead(name)), 0u);
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
