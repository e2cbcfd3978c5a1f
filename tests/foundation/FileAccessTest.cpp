#include <gtest/gtest.h>
#include <sys/mount.h>

#include <filesystem>
#include <string>

#include "foundation/FileAccess.h"
#include "foundation/StringBuffer.h"
#include "foundation/XString.h"
#include "log/Logger.h"
#include "platform/Errors.h"
#include "platform/Time.h"
#include "tests/support/TempDir.h"

namespace {

std::string textOf(Logger& log) {
  StringBuffer out;
  log.getErrorText(out);
  return out.getString();
}

std::u16string wide(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

bool save(const std::string& path, const std::string& bytes, LogBase* log = nullptr) {
  return writeFileUtf8(path.c_str(), bytes.data(), static_cast<uint32_t>(bytes.size()), log);
}

// A write that cannot finish fails with the usual messages and leaves the old file byte for
// byte, and nothing else, in the directory.
void expectFailedWriteKeeps(const std::string& path, const std::string& old,
                            const std::string& bytes) {
  Logger log;
  EXPECT_FALSE(save(path, bytes, &log));
  EXPECT_NE(textOf(log).find("There is not enough space on the disk."), std::string::npos)
      << textOf(log);
  EXPECT_NE(textOf(log).find("Failed to write complete file (1)"), std::string::npos);
  EXPECT_TRUE(readWholeFile(path) == old);
  const std::filesystem::path dir = std::filesystem::path(path).parent_path();
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1) << "no stray file";
}

std::string pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i * 7 + i / 251);
  return s;
}

}  // namespace

TEST(FileAccess, MissingFileFailsAtOnceWithTheWideMessage) {
  TempDir dir;
  Logger log;
  XString name;
  name.setFromUtf8(dir.file("missing.txt").c_str());
  const DWORD before = GetTickCount();
  EXPECT_EQ(openForRead(name, &log), INVALID_HANDLE_VALUE);
  EXPECT_LT(GetTickCount() - before, 40u);  // no sharing retries for a missing file
  const std::string text = textOf(log);
  EXPECT_EQ(text.find("Failed to open file (3)\r\n"), 0u);
  EXPECT_NE(text.find("filename: " + dir.file("missing.txt")), std::string::npos);
  EXPECT_NE(text.find("osErrorInfo: The system cannot find the file specified."),
            std::string::npos);

  Logger empty;
  XString none;
  EXPECT_EQ(openForRead(none, &empty), INVALID_HANDLE_VALUE);
  EXPECT_EQ(textOf(empty), "Cannot open file, filename is empty.\r\n");
}

TEST(FileAccess, SharingViolationsAreRetriedThreeTimes) {
  TempDir dir;
  const std::string path = dir.file("held.txt");
  writeWholeFile(path, "data");
  XString name;
  name.setFromUtf8(path.c_str());

  simulateSharingViolation(path.c_str(), 3);
  HANDLE h = openForRead(name, nullptr);
  EXPECT_NE(h, INVALID_HANDLE_VALUE);  // the fourth try succeeds
  closeFile(h);
  EXPECT_EQ(pendingSharingViolations(path.c_str()), 0);

  simulateSharingViolation(path.c_str(), 4);
  Logger log;
  EXPECT_EQ(openForRead(name, &log), INVALID_HANDLE_VALUE);
  EXPECT_NE(textOf(log).find("osErrorInfo: The process cannot access the file because it is "
                             "being used by another process."),
            std::string::npos);
  simulateSharingViolation(path.c_str(), 0);
}

TEST(FileAccess, WritingAndSizing) {
  TempDir dir;
  const std::string path = dir.file("out.bin");
  ASSERT_TRUE(writeFileUtf8(path.c_str(), "12345", 5, nullptr));
  bool ok = false;
  EXPECT_EQ(fileSizeUtf8(path.c_str(), nullptr, ok), 5u);
  EXPECT_TRUE(ok);
  ASSERT_TRUE(writeFile(path.c_str(), nullptr, 0, nullptr));  // truncates
  EXPECT_EQ(readWholeFile(path), "");
  EXPECT_FALSE(writeFile(static_cast<const char*>(nullptr), "x", 1, nullptr));

  fileSizeUtf8(dir.file("nope").c_str(), nullptr, ok);
  EXPECT_FALSE(ok);

  // An ANSI name is in the ANSI code page (1252); on disk the name is UTF-8.
  const std::string ansiName = dir.file("caf\xe9.txt");
  ASSERT_TRUE(writeFile(ansiName.c_str(), "1252", 4, nullptr));
  EXPECT_EQ(readWholeFile(dir.file("caf\xc3\xa9.txt")), "1252");
  // A UTF-8 name outside 1252 takes the wide path and keeps every character.
  ASSERT_TRUE(writeFileUtf8(dir.file("\xce\xa9.txt").c_str(), "w", 1, nullptr));
  EXPECT_EQ(readWholeFile(dir.file("\xce\xa9.txt")), "w");

  const std::u16string widePath = wide(dir.file("wide.txt"));
  ASSERT_TRUE(writeFile(widePath.c_str(), "w", 1, nullptr));
  EXPECT_EQ(readWholeFile(dir.file("wide.txt")), "w");

  // A directory cannot be created as a file: both forms fail and say so.
  Logger log;
  EXPECT_FALSE(writeFile(dir.path().c_str(), "x", 1, &log));
  EXPECT_NE(textOf(log).find("Failed to write complete file (7)"), std::string::npos);
  Logger wlog;
  EXPECT_FALSE(writeFile(wide(dir.path()).c_str(), "x", 1, &wlog));
  EXPECT_NE(textOf(wlog).find("utf8Filename: " + dir.path()), std::string::npos);
  EXPECT_NE(textOf(wlog).find("Failed to write complete file (6)"), std::string::npos);
}

TEST(FileAccess, CurrentDirectoryAndPlatformVersion) {
  XString cwd;
  getCurrentDirectory(cwd);
  char buf[4096];
  ASSERT_NE(getcwd(buf, sizeof buf), nullptr);
  EXPECT_STREQ(cwd.getUtf8(), buf);

  EXPECT_FALSE(WindowsVersion().isWin9x());
  setVersionForTesting(VER_PLATFORM_WIN32_WINDOWS, 10);
  EXPECT_TRUE(WindowsVersion().isWin9x());
  // On the ANSI path, the ANSI message names the file.
  setVersionForTesting(VER_PLATFORM_WIN32_WINDOWS, 0);
  Logger log;
  XString name;
  name.setFromUtf8("/nonexistent/dir/file");
  EXPECT_EQ(openForRead(name, &log), INVALID_HANDLE_VALUE);
  setVersionForTesting(0, 0);
  EXPECT_EQ(textOf(log).find("Failed to open file (2)\r\nfilename: /nonexistent/dir/file\r\n"), 0u);
}

// A disk that fills up half-way, first as the platform's test hook has it, then on a real
// file system that fills up, where one can be mounted.
TEST(FileAccess, AWriteThatFailsHalfWayLeavesTheOldFile) {
  TempDir dir;
  const std::string path = dir.file("old.bin");
  const std::string old = pattern(3000);
  writeWholeFile(path, old);
  const std::string bytes = pattern(8000);
  simulateWriteLimit(path.c_str(), bytes.size() / 2);
  expectFailedWriteKeeps(path, old, bytes);
  ASSERT_TRUE(save(path, bytes));
  EXPECT_TRUE(readWholeFile(path) == bytes);

  const std::string small = dir.file("small");
  std::filesystem::create_directory(small);
  if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=64k") != 0)
    GTEST_SKIP() << "no small file system can be mounted here for the second half";
  const std::string onSmall = small + "/old.bin";
  writeWholeFile(onSmall, old);
  expectFailedWriteKeeps(onSmall, old, pattern(200000));
  EXPECT_TRUE(save(onSmall, bytes));
  EXPECT_TRUE(readWholeFile(onSmall) == bytes);
  ::umount2(small.c_str(), MNT_DETACH);
}
