// Error texts, time, the platform root, and the converters of the code page layer in a program
// without the conversion engine.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <thread>

#include "platform/CodePage.h"
#include "platform/Errors.h"
#include "platform/HResult.h"
#include "platform/PlatformRoot.h"
#include "platform/Time.h"

namespace {

// The text FormatMessageA hands out for a code, the way the log helpers ask for it.
std::optional<std::string> systemText(DWORD code) {
  char* block = nullptr;
  DWORD n = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPSTR>(&block), 0,
      nullptr);
  if (n == 0) return std::nullopt;
  std::string text(block);
  LocalFree(block);
  if (text.size() != n) return "length " + std::to_string(n) + " for " + text;
  return text;
}

uint64_t ticks(const FILETIME& ft) {
  return (uint64_t(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

// Restores an environment variable (and the time zone read from it) when the test ends.
struct SavedEnv {
  explicit SavedEnv(const char* n) : name(n) {
    if (const char* v = std::getenv(n)) value = v;
  }
  ~SavedEnv() {
    value ? setenv(name, value->c_str(), 1) : unsetenv(name);
    tzset();
  }
  const char* name;
  std::optional<std::string> value;
};

}  // namespace

TEST(Errors, FixedTextsEndInCrLf) {
  EXPECT_EQ(systemText(ERROR_FILE_NOT_FOUND), "The system cannot find the file specified.\r\n");
  EXPECT_EQ(systemText(ERROR_SHARING_VIOLATION),
            "The process cannot access the file because it is being used by another process.\r\n");
  EXPECT_EQ(systemText(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)), "Access is denied.\r\n");
  registerSystemMessage(0x0BADC0DE, "A text added by a layer.");
  EXPECT_EQ(systemText(0x0BADC0DE), "A text added by a layer.\r\n");

  char room[19];  // one short of the text and its NUL
  EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_ACCESS_DENIED, 0, room, 19,
                           nullptr),
            0u);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);

  // The last error belongs to the thread that set it.
  SetLastError(ERROR_DISK_FULL);
  DWORD seenThere = 1;
  std::thread([&] {
    seenThere = GetLastError();
    SetLastError(ERROR_ACCESS_DENIED);
  }).join();
  EXPECT_EQ(seenThere, 0u);
  EXPECT_EQ(GetLastError(), ERROR_DISK_FULL);
}

TEST(Time, SystemTimeToFileTimeKnownValuesAndInvalidDates) {
  FILETIME ft;
  SYSTEMTIME st = {1601, 1, 0, 1, 0, 0, 0, 0};
  ASSERT_TRUE(SystemTimeToFileTime(&st, &ft));
  EXPECT_EQ(ticks(ft), 0u);
  st = {1970, 1, 4, 1, 0, 0, 0, 0};
  ASSERT_TRUE(SystemTimeToFileTime(&st, &ft));
  EXPECT_EQ(ticks(ft), 116444736000000000ull);
  st = {2000, 2, 2, 29, 23, 59, 59, 999};  // a leap day in a year divisible by 400
  ASSERT_TRUE(SystemTimeToFileTime(&st, &ft));
  EXPECT_EQ(ticks(ft), 116444736000000000ull + (951868799ull * 1000 + 999) * 10000);
  FILETIME earlier;
  st.wMilliseconds = 998;
  ASSERT_TRUE(SystemTimeToFileTime(&st, &earlier));
  EXPECT_EQ(CompareFileTime(&earlier, &ft), -1);

  const SYSTEMTIME invalid[] = {
      {1600, 12, 0, 31, 0, 0, 0, 0}, {1900, 2, 0, 29, 0, 0, 0, 0},  {2001, 2, 0, 29, 0, 0, 0, 0},
      {2001, 4, 0, 31, 0, 0, 0, 0},  {2001, 13, 0, 1, 0, 0, 0, 0},  {2001, 0, 0, 1, 0, 0, 0, 0},
      {2001, 1, 0, 0, 0, 0, 0, 0},   {2001, 1, 0, 1, 24, 0, 0, 0},  {2001, 1, 0, 1, 0, 60, 0, 0},
      {2001, 1, 0, 1, 0, 0, 60, 0},  {2001, 1, 0, 1, 0, 0, 0, 1000}};
  for (const SYSTEMTIME& bad : invalid) {
    SetLastError(0);
    EXPECT_FALSE(SystemTimeToFileTime(&bad, &ft))
        << bad.wYear << "-" << bad.wMonth << "-" << bad.wDay;
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  }

  // GetSystemTime is UTC and GetLocalTime follows the zone: checked five hours east of UTC.
  SavedEnv tz("TZ");
  setenv("TZ", "XST-5", 1);
  tzset();
  SYSTEMTIME utc, local;
  GetSystemTime(&utc);
  GetLocalTime(&local);
  const uint64_t expected = 116444736000000000ull + uint64_t(std::time(nullptr)) * 10000000;
  auto near = [](uint64_t a, uint64_t b) { return (a > b ? a - b : b - a) < 50000000u; };  // 5 s
  ASSERT_TRUE(SystemTimeToFileTime(&utc, &ft));
  EXPECT_TRUE(near(ticks(ft), expected));
  ASSERT_TRUE(SystemTimeToFileTime(&local, &ft));
  EXPECT_TRUE(near(ticks(ft), expected + 5 * 3600 * 10000000ull));
}

TEST(PlatformRoot, Precedence) {
  SavedEnv root("VORLUND_ROOT"), xdg("XDG_DATA_HOME"), home("HOME");
  setenv("VORLUND_ROOT", "/r", 1);
  setenv("XDG_DATA_HOME", "/x", 1);
  setenv("HOME", "/h", 1);
  EXPECT_EQ(platformRoot(), "/r");
  EXPECT_EQ(platformPath("hives/HKCU"), "/r/hives/HKCU");
  setenv("VORLUND_ROOT", "", 1);  // empty counts as unset
  EXPECT_EQ(platformRoot(), "/x/vorlund");
  unsetenv("XDG_DATA_HOME");
  EXPECT_EQ(platformRoot(), "/h/.local/share/vorlund");
}

// This program links no conversion engine: what it converts is the Unicode-only converter's
// work, by the rule every converter keeps (what is no character is left out, and reported).
TEST(CodePage, WithoutAnEngineOnlyTheUnicodeFormsConvert) {
  auto convert = [](UINT from, UINT to, const std::string& in, std::string* out) {
    out->clear();
    StringOutput sink(*out);
    return platformConvert(from, to, in.data(), in.size(), sink);
  };
  std::string out;
  const std::string utf8 = "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";  // A é € 😀
  const std::string le("A\0\xE9\0\xAC\x20\x3D\xD8\x00\xDE", 10);
  ASSERT_TRUE(convert(CP_UTF8, CP_UTF16LE, utf8, &out));
  EXPECT_EQ(out, le);
  ASSERT_TRUE(convert(CP_UTF16LE, CP_UTF8, le, &out));
  EXPECT_EQ(out, utf8);
  ASSERT_TRUE(convert(CP_UTF8, CP_UTF16BE, utf8, &out));
  EXPECT_EQ(out, std::string("\0A\0\xE9\x20\xAC\xD8\x3D\xDE\x00", 10));

  EXPECT_FALSE(convert(CP_UTF8, CP_UTF16LE,
                       "a\xFF"
                       "b",
                       &out));  // invalid byte
  EXPECT_EQ(out, std::string("a\0b\0", 4));
  EXPECT_FALSE(convert(CP_UTF8, CP_UTF16LE, "\xC0\xAF", &out));  // overlong
  EXPECT_EQ(out, "");
  EXPECT_FALSE(convert(CP_UTF8, CP_UTF16LE, "a\xE2\x82", &out));  // truncated
  EXPECT_EQ(out, std::string("a\0", 2));
  EXPECT_FALSE(convert(CP_UTF16LE, CP_UTF8,
                       std::string("\x3D\xD8"
                                   "a\0",
                                   4),
                       &out));  // lone high
  EXPECT_EQ(out, "a");
  EXPECT_FALSE(convert(CP_UTF16BE, CP_UTF8, std::string("\xDC\x00", 2), &out));  // lone low
  EXPECT_EQ(out, "");
  EXPECT_FALSE(convert(CP_UTF16LE, CP_UTF8, std::string("a\0b", 3), &out));  // odd length
  EXPECT_EQ(out, "a");

  // Western European text needs an engine; without one nothing is appended.
  std::string appended = "kept";
  StringOutput sink(appended);
  EXPECT_FALSE(platformConvert(1252, CP_UTF8, "caf\xE9", 4, sink));
  EXPECT_EQ(appended, "kept");
}

// Modules install their converters above the program's and take them out in any order: the
// newest still installed serves, and with none left the Unicode forms remain.
TEST(CodePage, TheNewestInstalledConverterServes) {
  const CodePageConverter program = [](UINT, UINT, const void*, size_t, CodePageOutput& out) {
    out.append("program", 7);
    return true;
  };
  const CodePageConverter module = [](UINT, UINT, const void*, size_t, CodePageOutput& out) {
    out.append("module", 6);
    return true;
  };
  auto served = [] {
    std::string s;
    StringOutput sink(s);
    platformConvert(1252, CP_UTF8, "x", 1, sink);
    return s;
  };
  {
    const ScopedCodePageConverter scope(program);
    EXPECT_EQ(served(), "program");
    installCodePageConverter(module);
    EXPECT_EQ(served(), "module");
    installCodePageConverter(program);  // again: to the top
    EXPECT_EQ(served(), "program");
    removeCodePageConverter(program);
    EXPECT_EQ(served(), "module");
    installCodePageConverter(program);
    removeCodePageConverter(module);  // from below the top
    EXPECT_EQ(served(), "program");
  }
  EXPECT_EQ(served(), "");
}
