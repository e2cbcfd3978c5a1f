// The registry: Win32 results of every call, hives persisted across processes, concurrent
// writers, crashes in the middle of a commit, and damaged or hostile hive files.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/Registry.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"

namespace {

constexpr LONG kOk = ERROR_SUCCESS;
constexpr LONG win32(DWORD code) { return LONG(code); }

const char kClsid[] = "{0A83AD29-EFD3-4BD1-997D-63C4EAF39418}";
using Names = std::vector<std::string>;

// Each test starts in a platform root of its own, as a process that never used the registry.
class Registry : public ::testing::Test {
 protected:
  std::string hivePath() const { return registryHivePath(HKEY_CLASSES_ROOT); }
  TempDir root_;
  ScopedEnv env_{"VORLUND_ROOT", root_.path()};
};

HKEY create(HKEY parent, const std::string& path, DWORD* disposition = nullptr) {
  HKEY key = nullptr;
  LONG r = RegCreateKeyExA(parent, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                           KEY_ALL_ACCESS, nullptr, &key, disposition);
  return r == kOk ? key : nullptr;
}

HKEY open(HKEY parent, const std::string& path, REGSAM access = KEY_READ) {
  HKEY key = nullptr;
  return RegOpenKeyExA(parent, path.c_str(), 0, access, &key) == kOk ? key : nullptr;
}

// The results of a create or an open, the key closed again when it opened.
LONG createResult(HKEY parent, const std::string& path, DWORD options = 0) {
  HKEY key = nullptr;
  LONG r = RegCreateKeyExA(parent, path.c_str(), 0, nullptr, options, KEY_ALL_ACCESS, nullptr, &key,
                           nullptr);
  if (r == kOk) RegCloseKey(key);
  return r;
}
LONG openResult(HKEY parent, const std::string& path) {
  HKEY key = nullptr;
  LONG r = RegOpenKeyExA(parent, path.c_str(), 0, KEY_READ, &key);
  if (r == kOk) RegCloseKey(key);
  return r;
}

LONG setString(HKEY key, const char* name, const std::string& text) {
  return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                        DWORD(text.size() + 1));
}

LONG setBytes(HKEY key, const char* name, DWORD type, const std::string& bytes) {
  return RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                        DWORD(bytes.size()));
}

// The first call of the size protocol (null data).
LONG sizeQuery(HKEY key, const char* name, DWORD* size, DWORD* type = nullptr) {
  return RegQueryValueExA(key, name, nullptr, type, nullptr, size);
}

// A value's type and bytes by the two-call size protocol; nullopt when the query fails.
std::optional<std::pair<DWORD, std::string>> query(HKEY key, const char* name) {
  DWORD type = 0, size = 0;
  if (sizeQuery(key, name, &size, &type) != kOk) return std::nullopt;
  std::string data(size, '\0');
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size) !=
      kOk)
    return std::nullopt;
  data.resize(size);
  return std::make_pair(type, data);
}

// A string value of a key below HKCR without its NUL; nullopt when absent.
std::optional<std::string> text(const std::string& path, const char* name) {
  HKEY key = open(HKEY_CLASSES_ROOT, path);
  auto v = key != nullptr ? query(key, name) : std::nullopt;
  RegCloseKey(key);
  if (!v || v->first != REG_SZ || v->second.empty()) return std::nullopt;
  return v->second.substr(0, v->second.size() - 1);
}

// The names of a key's subkeys, or of its values, in enumeration order.
Names namesOf(HKEY key, bool values) {
  Names names;
  for (DWORD i = 0;; ++i) {
    std::string name(16384, '\0');
    DWORD length = 16384;
    const LONG r =
        values ? RegEnumValueA(key, i, name.data(), &length, nullptr, nullptr, nullptr, nullptr)
               : RegEnumKeyExA(key, i, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
    if (r != kOk) return names;
    names.emplace_back(name.data(), length);
  }
}
Names subkeys(HKEY key) { return namesOf(key, false); }
Names valueNames(HKEY key) { return namesOf(key, true); }

bool exists(const std::string& path) { return openResult(HKEY_CLASSES_ROOT, path) == kOk; }

// Runs `body` in a forked child; waitFor gives its exit code, or -1 when it did not exit.
pid_t spawn(const std::function<int()>& body) {
  pid_t pid = fork();
  if (pid == 0) _exit(body());
  return pid;
}
int waitFor(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

std::vector<std::string> asideFiles(const std::string& hive) {
  std::vector<std::string> found;
  const std::filesystem::path p(hive);
  for (const auto& entry : std::filesystem::directory_iterator(p.parent_path())) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(p.filename().string() + ".corrupt-", 0) == 0) found.push_back(entry.path());
  }
  return found;
}

// The subkeys of HKCR once a new process meets `hive` (grown to `size` bytes when given) as its
// file, with nothing set aside before.
Names meet(const std::string& hive, uintmax_t size = 0) {
  const std::string path = registryHivePath(HKEY_CLASSES_ROOT);
  resetRegistryForTesting();
  for (const std::string& f : asideFiles(path)) std::filesystem::remove(f);
  writeWholeFile(path, hive);
  if (size != 0) std::filesystem::resize_file(path, size);
  resetRegistryForTesting();
  return subkeys(HKEY_CLASSES_ROOT);
}

}  // namespace

TEST_F(Registry, EveryCallGivesTheWin32ResultAHostExpects) {
  DWORD disposition = 0;
  HKEY inproc =
      create(HKEY_CLASSES_ROOT, std::string("CLSID\\") + kClsid + "\\InprocServer32", &disposition);
  ASSERT_NE(inproc, nullptr);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  HKEY again =
      create(HKEY_CLASSES_ROOT, std::string("clsid\\") + kClsid + "\\INPROCSERVER32", &disposition);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
  EXPECT_EQ(subkeys(HKEY_CLASSES_ROOT), Names{"CLSID"}) << "made on the way, as first given";
  ASSERT_EQ(setString(inproc, "ThreadingModel", "Apartment"), kOk);
  HKEY missing = reinterpret_cast<HKEY>(1);
  EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "Nothing", 0, KEY_READ, &missing),
            win32(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(missing, nullptr);

  HKEY reader = open(HKEY_CLASSES_ROOT, "CLSID");
  std::string deep = "d";
  for (int i = 1; i < 512; ++i) deep += "\\d";
  HKEY deepest = create(HKEY_CURRENT_USER, deep);
  ASSERT_NE(deepest, nullptr);
  HKEY doomed = create(HKEY_CURRENT_USER, "Doomed");
  ASSERT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "doomed"), kOk);
  const HKEY users = reinterpret_cast<HKEY>(intptr_t(LONG(0x80000003)));
  DWORD size = 0;
  char name[64];
  DWORD length = 0;
  const HKEY cr = HKEY_CLASSES_ROOT, cu = HKEY_CURRENT_USER;
  const std::string longName(16384, 'v');
  const struct {
    const char* what;
    DWORD expected;
    std::function<LONG()> call;
  } cases[] = {
#define CALL(...) [&]() -> LONG { return __VA_ARGS__; }
      {"a key of another hive", ERROR_FILE_NOT_FOUND, CALL(openResult(cu, "CLSID"))},
      {"a leading separator", ERROR_BAD_PATHNAME, CALL(openResult(cr, "\\CLSID"))},
      {"a doubled separator", ERROR_BAD_PATHNAME, CALL(createResult(cr, "a\\\\b"))},
      {"a key name of 255", ERROR_SUCCESS, CALL(createResult(cu, longName.substr(0, 255)))},
      {"a key name of 256", ERROR_INVALID_PARAMETER,
       CALL(createResult(cu, longName.substr(0, 256)))},
      {"a 513th level", ERROR_INVALID_PARAMETER, CALL(createResult(deepest, "one-more"))},
      {"a volatile key", ERROR_INVALID_PARAMETER, CALL(createResult(cu, "v", 1))},
      {"a stranger handle", ERROR_INVALID_HANDLE, CALL(openResult(users, "x"))},
      {"closing null", ERROR_INVALID_HANDLE, CALL(RegCloseKey(nullptr))},
      {"closing a handle", ERROR_SUCCESS, CALL(RegCloseKey(again))},
      {"closing it again", ERROR_INVALID_HANDLE, CALL(RegCloseKey(again))},
      {"a closed handle", ERROR_INVALID_HANDLE, CALL(setString(again, nullptr, "x"))},
      {"a missing value", ERROR_FILE_NOT_FOUND, CALL(sizeQuery(inproc, "Missing", &size))},
      {"no default value yet", ERROR_FILE_NOT_FOUND, CALL(sizeQuery(inproc, nullptr, &size))},
      {"deleting a missing value", ERROR_FILE_NOT_FOUND, CALL(RegDeleteValueA(inproc, "Missing"))},
      {"data at a null pointer", ERROR_NOACCESS,
       CALL(RegSetValueExA(inproc, "Bad", 0, REG_BINARY, nullptr, 3))},
      {"a value name of 16383", ERROR_SUCCESS, CALL(setString(inproc, longName.c_str() + 1, ""))},
      {"a value name of 16384", ERROR_INVALID_PARAMETER,
       CALL(setString(inproc, longName.c_str(), ""))},
      {"1 MiB of data", ERROR_SUCCESS,
       CALL(setBytes(inproc, "Big", REG_BINARY, std::string(1 << 20, 'b')))},
      {"a byte more", ERROR_INVALID_PARAMETER,
       CALL(setBytes(inproc, "Big", REG_BINARY, std::string((1 << 20) + 1, 'b')))},
      {"1 MiB of string and no room for its NUL", ERROR_INVALID_PARAMETER,
       CALL(setBytes(inproc, "Sz", REG_SZ, std::string(1 << 20, 's')))},
      {"writing through a read handle", ERROR_ACCESS_DENIED, CALL(setString(reader, "v", "x"))},
      {"creating below a read handle", ERROR_ACCESS_DENIED, CALL(createResult(reader, "New"))},
      {"opening what exists below it", ERROR_SUCCESS, CALL(createResult(reader, kClsid))},
      {"deleting a tree through it", ERROR_ACCESS_DENIED, CALL(RegDeleteTreeA(reader, kClsid))},
      {"deleting a key with subkeys", ERROR_ACCESS_DENIED, CALL(RegDeleteKeyA(cr, "CLSID"))},
      {"deleting a root", ERROR_ACCESS_DENIED, CALL(RegDeleteKeyA(cr, ""))},
      {"deleting a missing key", ERROR_FILE_NOT_FOUND, CALL(RegDeleteKeyA(cr, "CLSID\\Nope"))},
      {"deleting a null subkey", ERROR_INVALID_PARAMETER, CALL(RegDeleteKeyA(cr, nullptr))},
      {"deleting a missing tree", ERROR_FILE_NOT_FOUND, CALL(RegDeleteTreeA(cr, "Nope"))},
      {"a deleted key's handle", ERROR_KEY_DELETED, CALL(setString(doomed, "v", "x"))},
      {"enumerating past the last key", ERROR_NO_MORE_ITEMS,
       CALL(RegEnumKeyExA(reader, 1, name, &(length = 64), nullptr, nullptr, nullptr, nullptr))},
      {"a key name and no room for its NUL", ERROR_MORE_DATA,
       CALL(RegEnumKeyExA(reader, 0, name, &(length = 38), nullptr, nullptr, nullptr, nullptr))},
      {"a value name and no room for its NUL", ERROR_MORE_DATA,  // "ThreadingModel"
       CALL(RegEnumValueA(inproc, 0, name, &(length = 14), nullptr, nullptr, nullptr, nullptr))},
#undef CALL
  };
  for (const auto& c : cases) EXPECT_EQ(c.call(), win32(c.expected)) << c.what;
  for (HKEY h : {inproc, reader, deepest, doomed}) EXPECT_EQ(RegCloseKey(h), kOk);
}

TEST_F(Registry, ValuesEnumerationAndDeletion) {
  HKEY key = create(HKEY_LOCAL_MACHINE, "Software\\Vorlund");
  ASSERT_NE(key, nullptr);
  ASSERT_EQ(setString(key, "ThreadingModel", "Apartment"), kOk);

  // Too small a buffer gives ERROR_MORE_DATA and the size needed, NUL included.
  char buffer[16];
  DWORD size = 4;
  EXPECT_EQ(RegQueryValueExA(key, "threadingmodel", nullptr, nullptr,
                             reinterpret_cast<BYTE*>(buffer), &size),
            win32(ERROR_MORE_DATA));
  EXPECT_EQ(size, 10u);
  EXPECT_EQ(query(key, "ThreadingModel"), std::make_pair(REG_SZ, std::string("Apartment", 10)));

  // Strings given without their NUL are stored with one; other types exactly as given.
  const std::tuple<const char*, DWORD, std::string, std::string> stored[] = {
      {"NoNul", REG_EXPAND_SZ, "%PATH%", std::string("%PATH%", 7)},
      {"Empty", REG_SZ, "", std::string(1, '\0')},
      {"Blob", REG_BINARY, std::string("\0\x01\xff\0", 4), std::string("\0\x01\xff\0", 4)},
      {"Nothing", REG_BINARY, "", ""}};
  for (const auto& [name, valueType, given, kept] : stored) {
    ASSERT_EQ(setBytes(key, name, valueType, given), kOk);
    EXPECT_EQ(query(key, name), std::make_pair(valueType, kept)) << name;
  }
  ASSERT_EQ(setString(key, nullptr, "default"), kOk);
  EXPECT_EQ(query(key, ""), std::make_pair(REG_SZ, std::string("default", 8)));

  // Setting a value again under another case keeps its name and its place.
  ASSERT_EQ(setString(key, "THREADINGMODEL", "Both"), kOk);
  EXPECT_EQ(RegDeleteValueA(key, "nonul"), kOk);
  EXPECT_EQ(valueNames(key), (Names{"ThreadingModel", "Empty", "Blob", "Nothing", ""}));
  EXPECT_EQ(query(key, "Nothing"), std::make_pair(REG_BINARY, std::string()));

  // Subkeys enumerate in order, case aside.
  for (const char* name : {"gamma", "Beta", "alpha", "Delta"})
    ASSERT_EQ(createResult(key, name), kOk);
  EXPECT_EQ(subkeys(key), (Names{"alpha", "Beta", "Delta", "gamma"}));

  // A subtree goes with everything in it; the handles below it die with it, even once the key
  // is back.
  HKEY deep = create(key, "Alpha\\B\\C");
  ASSERT_NE(deep, nullptr);
  EXPECT_EQ(RegDeleteTreeA(HKEY_LOCAL_MACHINE, "software\\vorlund\\alpha"), kOk);
  EXPECT_EQ(subkeys(key), (Names{"Beta", "Delta", "gamma"}));
  ASSERT_EQ(createResult(key, "Alpha\\B\\C"), kOk);
  EXPECT_EQ(setString(deep, "v", "2"), win32(ERROR_KEY_DELETED));
  // A null subkey empties the key and keeps it, and its own handle.
  EXPECT_EQ(RegDeleteTreeA(key, nullptr), kOk);
  EXPECT_EQ(subkeys(key), Names{});
  EXPECT_EQ(valueNames(key), Names{});
  EXPECT_EQ(setString(key, "again", "yes"), kOk);
  for (HKEY h : {key, deep}) RegCloseKey(h);
}

TEST_F(Registry, EveryNameAndValueSurvivesANewProcess) {
  // Names with quotes, separators of the hive format, spaces, control and high bytes.
  const Names keyNames = {"=",       "caf\xe9",   "per%cent",   "plain",
                          "quo\"te", "tab\there", "with space", "x\x7f\x80\xff"};
  std::string allBytes;
  for (int b = 0; b < 256; ++b) allBytes.push_back(char(b));
  const std::tuple<const char*, DWORD, std::string> values[] = {
      {"all bytes", REG_BINARY, allBytes},
      {"sz with NULs", REG_SZ, std::string("a\0b\0", 4)},
      {"odd dword", REG_DWORD, "\x01\x02"},
      {"multi", REG_MULTI_SZ, std::string("a\0b\0\0", 5)},
      {"type 4000000000", 4000000000u, "zz"}};
  HKEY parent = create(HKEY_CURRENT_USER, "Software\\Round Trip");
  ASSERT_NE(parent, nullptr);
  for (const std::string& name : keyNames) {
    HKEY k = create(parent, name);
    ASSERT_EQ(setString(k, ("v \\ \"" + name).c_str(), name + "\n\r\"\\end"), kOk);
    RegCloseKey(k);
  }
  for (const auto& [name, type, bytes] : values)
    ASSERT_EQ(setBytes(parent, name, type, bytes), kOk);
  RegCloseKey(parent);

  const std::string before = readWholeFile(registryHivePath(HKEY_CURRENT_USER));
  for (unsigned char c : before) ASSERT_TRUE(c == '\n' || (c >= 0x20 && c <= 0x7e)) << int(c);
  EXPECT_EQ(before.rfind("vorlund-registry 1\n", 0), 0u);

  resetRegistryForTesting();
  parent = open(HKEY_CURRENT_USER, "software\\round trip", KEY_ALL_ACCESS);
  ASSERT_NE(parent, nullptr);
  EXPECT_EQ(subkeys(parent), keyNames);
  for (const std::string& name : keyNames) {
    HKEY k = open(parent, name);
    EXPECT_EQ(query(k, ("v \\ \"" + name).c_str()),
              std::make_pair(REG_SZ, name + "\n\r\"\\end" + std::string(1, '\0')));
    RegCloseKey(k);
  }
  for (const auto& [name, type, bytes] : values)
    EXPECT_EQ(query(parent, name), std::make_pair(type, bytes)) << name;

  // A change that alters nothing writes nothing.
  ASSERT_EQ(setBytes(parent, "multi", REG_MULTI_SZ, std::string("a\0b\0\0", 5)), kOk);
  EXPECT_EQ(readWholeFile(registryHivePath(HKEY_CURRENT_USER)), before);
  RegCloseKey(parent);
  EXPECT_EQ(registryLastProblem(), "");
}

TEST_F(Registry, ALongLivedProcessSeesOtherProcessesCommit) {
  HKEY watched = create(HKEY_CLASSES_ROOT, "Watched");
  ASSERT_EQ(setString(watched, "state", "before"), kOk);
  HKEY doomed = create(HKEY_CLASSES_ROOT, "Doomed");

  pid_t child = spawn([] {
    HKEY k = open(HKEY_CLASSES_ROOT, "Watched", KEY_ALL_ACCESS);
    if (k == nullptr || setString(k, "state", "after") != kOk) return 1;
    if (create(k, "Added") == nullptr) return 2;
    return RegDeleteKeyA(HKEY_CLASSES_ROOT, "Doomed") == kOk ? 0 : 3;
  });
  ASSERT_EQ(waitFor(child), 0);

  EXPECT_EQ(text("Watched", "state"), "after");
  EXPECT_EQ(subkeys(watched), Names{"Added"});
  EXPECT_EQ(setString(doomed, "v", "x"), win32(ERROR_KEY_DELETED));
  RegCloseKey(watched);
  RegCloseKey(doomed);
}

TEST_F(Registry, ConcurrentWritersAllLand) {
  // Two processes writing their own 200 keys each at once, and two threads 50 each.
  int start[2];
  ASSERT_EQ(pipe(start), 0);
  auto writer = [&](const std::string& prefix, int count) {
    int failures = 0;
    for (int i = 0; i < count; ++i) {
      HKEY k = create(HKEY_CLASSES_ROOT, "Writers\\" + prefix + std::to_string(i));
      if (k == nullptr || setString(k, "by", prefix) != kOk) ++failures;
      RegCloseKey(k);
    }
    return failures;
  };
  std::vector<pid_t> children;
  for (const char* prefix : {"p", "q"}) {
    children.push_back(spawn([&, prefix] {
      char go;
      if (read(start[0], &go, 1) != 1) return 99;
      return writer(prefix, 200) == 0 ? 0 : 1;
    }));
  }
  ASSERT_EQ(write(start[1], "gg", 2), 2);
  int threadFailures[2] = {0, 0};
  std::thread threads[] = {std::thread([&] { threadFailures[0] = writer("t", 50); }),
                           std::thread([&] { threadFailures[1] = writer("u", 50); })};
  for (std::thread& t : threads) t.join();
  for (pid_t c : children) EXPECT_EQ(waitFor(c), 0);
  close(start[0]);
  close(start[1]);
  EXPECT_EQ(threadFailures[0] + threadFailures[1], 0);

  resetRegistryForTesting();
  for (const char* prefix : {"p", "q", "t", "u"}) {
    for (int i = 0; i < (*prefix < 't' ? 200 : 50); ++i)
      EXPECT_EQ(text(std::string("Writers\\") + prefix + std::to_string(i), "by"), prefix) << i;
  }
  // Each create and each set was one commit, none lost and none doubled.
  EXPECT_NE(readWholeFile(hivePath()).find("\ngeneration 1000\n"), std::string::npos);
  EXPECT_EQ(registryLastProblem(), "");
}

TEST_F(Registry, ACrashBeforeTheRenameLeavesTheOldHive) {
  HKEY key = create(HKEY_CLASSES_ROOT, "Crash");
  ASSERT_EQ(setString(key, "v", "old"), kOk);
  const std::string before = readWholeFile(hivePath());

  pid_t child = spawn([] {
    setRegistryBeforeRenameHookForTesting([] { _exit(42); });
    setString(open(HKEY_CLASSES_ROOT, "Crash", KEY_ALL_ACCESS), "v", "new");
    return 0;  // not reached when the hook runs
  });
  ASSERT_EQ(waitFor(child), 42);
  EXPECT_EQ(readWholeFile(hivePath()), before);
  const std::string tmp = hivePath().substr(0, hivePath().size() - 4) + ".tmp";
  EXPECT_NE(readWholeFile(tmp).find("\"new\""), std::string::npos);  // it died after writing

  // The dead writer's lock went with it: the next commit goes through.
  ASSERT_EQ(setString(key, "w", "later"), kOk);
  resetRegistryForTesting();
  EXPECT_EQ(text("Crash", "v"), "old");
  EXPECT_EQ(text("Crash", "w"), "later");

  // A commit that cannot write fails whole: the hive on disk and in memory stay as they were.
  const std::string committed = readWholeFile(hivePath());
  std::filesystem::remove(tmp);
  std::filesystem::create_directory(tmp);
  key = open(HKEY_CLASSES_ROOT, "Crash", KEY_ALL_ACCESS);
  EXPECT_EQ(setString(key, "w", "lost"), win32(ERROR_ACCESS_DENIED));
  EXPECT_NE(registryLastProblem().find("could not be written"), std::string::npos);
  EXPECT_EQ(readWholeFile(hivePath()), committed);
  EXPECT_EQ(text("Crash", "w"), "later");
  RegCloseKey(key);
}

TEST_F(Registry, DamagedHivesAreSetAsideAndKept) {
  HKEY key = create(HKEY_CLASSES_ROOT, "Precious\\Data");
  ASSERT_EQ(setString(key, nullptr, "keep me"), kOk);
  RegCloseKey(key);
  const std::string good = readWholeFile(hivePath());
  const size_t endLine = good.rfind("end ");
  ASSERT_NE(endLine, std::string::npos);

  std::string flipped = good;
  flipped[flipped.find("keep")] = '\x01';  // a raw control byte inside a string
  const std::pair<const char*, std::string> damaged[] = {
      {"empty", ""},
      {"truncated at a line end", good.substr(0, endLine)},
      {"truncated in a line", good.substr(0, good.size() / 2)},
      {"garbage", "\x89PNG\r\n\x1a\n not a hive"},
      {"a raw control byte", flipped},
      {"counts that do not match", good.substr(0, endLine) + "end 2 2\n"},
      {"text after the end", good + "key 1 \"late\"\n"},
      {"CR LF line ends", "vorlund-registry 1\r\ngeneration 3\r\nend 0 0\r\n"},
  };
  for (const auto& [what, bytes] : damaged) {
    SCOPED_TRACE(what);
    EXPECT_EQ(meet(bytes), Names{});
    EXPECT_FALSE(exists("Precious\\Data"));
    const std::vector<std::string> aside = asideFiles(hivePath());
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_NE(registryLastProblem().find(hivePath()), std::string::npos);
    EXPECT_NE(registryLastProblem().find("kept as " + aside[0]), std::string::npos);
    // The hive starts empty and takes new entries; the kept file is not touched again.
    ASSERT_EQ(createResult(HKEY_CLASSES_ROOT, "Fresh"), kOk);
    EXPECT_EQ(subkeys(HKEY_CLASSES_ROOT), Names{"Fresh"});
    EXPECT_EQ(readWholeFile(aside[0]), bytes);
  }
}

TEST_F(Registry, HostileHivesAreBoundedAndNeverCrash) {
  ASSERT_EQ(setString(HKEY_CLASSES_ROOT, "seed", "x"), kOk);
  auto setAside = [&] { return asideFiles(hivePath()).size() == 1; };
  const std::string header = "vorlund-registry 1\ngeneration 1\n";
  auto levels = [&](int n) {
    std::string hive = header;
    for (int d = 1; d <= n; ++d) hive += "key " + std::to_string(d) + " \"k\"\n";
    return hive + "end " + std::to_string(n) + " 0\n";
  };
  std::string million = header;
  million.reserve(24u << 20);
  for (int i = 0; i <= 1000000; ++i) million += "key 1 \"k\"\n";

  const std::pair<const char*, std::string> refused[] = {
      {"a key name too long", header + "key 1 \"" + std::string(256, 'k') + "\"\nend 1 0\n"},
      {"a value name too long",
       header + "value \"" + std::string(16384, 'v') + "\" sz \"\"\nend 0 1\n"},
      {"a 10 MB line", header + "value \"" + std::string(10 << 20, 'v') + "\" sz \"\"\nend 0 1\n"},
      {"a depth skipped", header + "key 1 \"a\"\nkey 3 \"c\"\nend 2 0\n"},
      {"the same key twice", header + "key 1 \"a\"\nkey 1 \"A\"\nend 2 0\n"},
      {"513 levels", levels(513)},
      // Refused before any entry is built.
      {"more than a million entries", million + "end 1000001 0\n"},
  };
  for (const auto& [what, hive] : refused) {
    EXPECT_EQ(meet(hive), Names{}) << what;
    EXPECT_TRUE(setAside()) << what;
  }

  // 512 levels is the deepest a hive holds, and it loads.
  EXPECT_EQ(meet(levels(512)), Names{"k"});
  EXPECT_FALSE(setAside());

  // A file larger than a hive may be is set aside without being read.
  EXPECT_EQ(meet(header, (64u << 20) + 1), Names{});
  EXPECT_TRUE(setAside());
  EXPECT_NE(registryLastProblem().find("larger"), std::string::npos);
}
