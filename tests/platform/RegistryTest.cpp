// The registry: Win32 results of every call, hives persisted across processes, concurrent
// writers, crashes in the middle of a commit, and damaged or hostile hive files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/Registry.h"
#include "tests/support/TempDir.h"

namespace {

constexpr LONG kOk = ERROR_SUCCESS;
constexpr LONG win32(DWORD code) { return LONG(code); }

const char kClsid[] = "{0A83AD29-EFD3-4BD1-997D-63C4EAF39418}";
using Names = std::vector<std::string>;

// Each test starts in a platform root of its own, as a process that never used the registry.
class Registry : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* old = std::getenv("VORLUND_ROOT")) savedRoot_ = old;
    setenv("VORLUND_ROOT", root_.path().c_str(), 1);
    resetRegistryForTesting();
  }
  void TearDown() override {
    resetRegistryForTesting();
    setenv("VORLUND_ROOT", savedRoot_.c_str(), 1);
  }
  std::string hivePath() const { return registryHivePath(HKEY_CLASSES_ROOT); }

  TempDir root_;
  std::string savedRoot_;
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

// The default value of a key below HKCR as text without its NUL; nullopt when absent.
std::optional<std::string> defaultText(const std::string& path, const char* name = nullptr) {
  HKEY key = open(HKEY_CLASSES_ROOT, path);
  if (key == nullptr) return std::nullopt;
  auto v = query(key, name);
  RegCloseKey(key);
  if (!v || v->first != REG_SZ || v->second.empty() || v->second.back() != '\0')
    return std::nullopt;
  return v->second.substr(0, v->second.size() - 1);
}

Names subkeys(HKEY key) {
  Names names;
  for (DWORD i = 0;; ++i) {
    char name[256];
    DWORD length = sizeof name;
    LONG r = RegEnumKeyExA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (r != kOk) {
      if (r != win32(ERROR_NO_MORE_ITEMS)) names.push_back("error " + std::to_string(r));
      return names;
    }
    names.emplace_back(name, length);
  }
}

Names valueNames(HKEY key) {
  Names names;
  for (DWORD i = 0;; ++i) {
    char name[16384];
    DWORD length = sizeof name;
    LONG r = RegEnumValueA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (r != kOk) return names;
    names.emplace_back(name, length);
  }
}

bool exists(const std::string& path) { return openResult(HKEY_CLASSES_ROOT, path) == kOk; }

// Runs `body` in a forked child and gives its exit status (the child's own code, or -1 when it
// did not exit normally).
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

}  // namespace

TEST_F(Registry, CreateOpenAndCloseKeys) {
  DWORD disposition = 0;
  HKEY inproc =
      create(HKEY_CLASSES_ROOT, std::string("CLSID\\") + kClsid + "\\InprocServer32", &disposition);
  ASSERT_NE(inproc, nullptr);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  HKEY again =
      create(HKEY_CLASSES_ROOT, std::string("clsid\\") + kClsid + "\\INPROCSERVER32", &disposition);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
  EXPECT_NE(again, inproc);

  // The keys above were made on the way, with the case they were first given.
  HKEY clsid = open(HKEY_CLASSES_ROOT, "Clsid");
  ASSERT_NE(clsid, nullptr);
  EXPECT_EQ(subkeys(clsid), Names{kClsid});
  EXPECT_EQ(subkeys(HKEY_CLASSES_ROOT), Names{"CLSID"});

  HKEY missing = reinterpret_cast<HKEY>(1);
  EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "CLSID\\{nothing}", 0, KEY_READ, &missing),
            win32(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(missing, nullptr);
  EXPECT_EQ(openResult(HKEY_CURRENT_USER, "CLSID"), win32(ERROR_FILE_NOT_FOUND));  // another hive

  // An empty or null subkey gives a root back as itself and a key as a new handle.
  HKEY self = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, nullptr, 0, KEY_READ, &self), kOk);
  EXPECT_EQ(self, HKEY_LOCAL_MACHINE);
  EXPECT_EQ(RegOpenKeyExA(clsid, "", 0, KEY_READ, &self), kOk);
  EXPECT_NE(self, clsid);
  EXPECT_EQ(RegCloseKey(self), kOk);

  // Paths: a trailing separator is allowed, a leading or doubled one is not.
  EXPECT_EQ(openResult(HKEY_CLASSES_ROOT, "CLSID\\"), kOk);
  EXPECT_EQ(openResult(HKEY_CLASSES_ROOT, "\\CLSID"), win32(ERROR_BAD_PATHNAME));
  EXPECT_EQ(createResult(HKEY_CLASSES_ROOT, "a\\\\b"), win32(ERROR_BAD_PATHNAME));
  EXPECT_FALSE(exists("a"));

  // Name and depth bounds, and the one option there is.
  EXPECT_EQ(createResult(HKEY_CURRENT_USER, std::string(255, 'n')), kOk);
  EXPECT_EQ(createResult(HKEY_CURRENT_USER, std::string(256, 'n')), win32(ERROR_INVALID_PARAMETER));
  std::string deep = "d";
  for (int i = 1; i < 512; ++i) deep += "\\d";
  HKEY deepest = create(HKEY_CURRENT_USER, deep);
  EXPECT_NE(deepest, nullptr);
  EXPECT_EQ(createResult(deepest, "one-more"), win32(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(createResult(HKEY_CURRENT_USER, "v", 1 /* volatile */), win32(ERROR_INVALID_PARAMETER));

  // Handles: roots close as a no-op, a handle closes once, strangers are refused.
  EXPECT_EQ(RegCloseKey(HKEY_CLASSES_ROOT), kOk);
  EXPECT_EQ(RegCloseKey(inproc), kOk);
  EXPECT_EQ(RegCloseKey(inproc), win32(ERROR_INVALID_HANDLE));
  EXPECT_EQ(setString(inproc, nullptr, "x"), win32(ERROR_INVALID_HANDLE));
  EXPECT_EQ(RegCloseKey(nullptr), win32(ERROR_INVALID_HANDLE));
  const HKEY users = reinterpret_cast<HKEY>(intptr_t(LONG(0x80000003)));
  EXPECT_EQ(openResult(users, "x"), win32(ERROR_INVALID_HANDLE));
  for (HKEY h : {again, clsid, deepest}) EXPECT_EQ(RegCloseKey(h), kOk);
}

TEST_F(Registry, ValuesAndTheSizeProtocol) {
  HKEY key = create(HKEY_CLASSES_ROOT, "Values");
  ASSERT_NE(key, nullptr);
  ASSERT_EQ(setString(key, "ThreadingModel", "Apartment"), kOk);

  // Null data gives the size, NUL included; too small a buffer gives ERROR_MORE_DATA and the
  // size needed; enough gives the bytes.
  DWORD type = 0, size = 0;
  EXPECT_EQ(sizeQuery(key, "threadingmodel", &size, &type), kOk);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(size, 10u);
  char buffer[16] = "untouched";
  size = 4;
  EXPECT_EQ(RegQueryValueExA(key, "ThreadingModel", nullptr, &type, reinterpret_cast<BYTE*>(buffer),
                             &size),
            win32(ERROR_MORE_DATA));
  EXPECT_EQ(size, 10u);
  EXPECT_EQ(RegQueryValueExA(key, "ThreadingModel", nullptr, nullptr,
                             reinterpret_cast<BYTE*>(buffer), &size),
            kOk);
  EXPECT_EQ(std::string(buffer, size), std::string("Apartment", 10));

  // Strings given without their NUL are stored with one; other types exactly as given.
  const DWORD flags = 0x12345678;
  ASSERT_EQ(RegSetValueExA(key, "Flags", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&flags), 4),
            kOk);
  EXPECT_EQ(query(key, "Flags"), std::make_pair(REG_DWORD, std::string("\x78\x56\x34\x12", 4)));
  const std::tuple<const char*, DWORD, std::string, std::string> stored[] = {
      {"NoNul", REG_EXPAND_SZ, "%PATH%", std::string("%PATH%", 7)},
      {"Empty", REG_SZ, "", std::string(1, '\0')},
      {"Blob", REG_BINARY, std::string("\0\x01\xff\0", 4), std::string("\0\x01\xff\0", 4)},
      {"Nothing", REG_BINARY, "", ""}};
  for (const auto& [name, valueType, given, kept] : stored) {
    ASSERT_EQ(setBytes(key, name, valueType, given), kOk);
    EXPECT_EQ(query(key, name), std::make_pair(valueType, kept)) << name;
  }
  EXPECT_EQ(RegSetValueExA(key, "Bad", 0, REG_BINARY, nullptr, 3), win32(ERROR_NOACCESS));

  // The default value: absent on a new key, reached by a null or an empty name.
  EXPECT_EQ(sizeQuery(key, nullptr, &size), win32(ERROR_FILE_NOT_FOUND));
  ASSERT_EQ(setString(key, nullptr, "default"), kOk);
  EXPECT_EQ(query(key, ""), std::make_pair(REG_SZ, std::string("default", 8)));
  EXPECT_EQ(sizeQuery(key, "Missing", &size), win32(ERROR_FILE_NOT_FOUND));

  // Setting a value again under another case keeps its name and its place.
  ASSERT_EQ(setString(key, "THREADINGMODEL", "Both"), kOk);
  EXPECT_EQ(valueNames(key),
            (Names{"ThreadingModel", "Flags", "NoNul", "Empty", "Blob", "Nothing", ""}));
  EXPECT_EQ(query(key, "ThreadingModel"), std::make_pair(REG_SZ, std::string("Both", 5)));

  EXPECT_EQ(RegDeleteValueA(key, "nonul"), kOk);
  EXPECT_EQ(RegDeleteValueA(key, "NoNul"), win32(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(RegDeleteValueA(key, nullptr), kOk);
  EXPECT_EQ(valueNames(key), (Names{"ThreadingModel", "Flags", "Empty", "Blob", "Nothing"}));
  // The index of the remaining values still finds each of them.
  EXPECT_EQ(query(key, "Nothing"), std::make_pair(REG_BINARY, std::string()));

  // Bounds: value names up to 16383 bytes, data up to 1 MiB.
  EXPECT_EQ(setString(key, std::string(16383, 'v').c_str(), "long"), kOk);
  EXPECT_EQ(setString(key, std::string(16384, 'v').c_str(), "long"),
            win32(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(setBytes(key, "Big", REG_BINARY, std::string(1 << 20, 'b')), kOk);
  EXPECT_EQ(setBytes(key, "Bigger", REG_BINARY, std::string((1 << 20) + 1, 'b')),
            win32(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(setBytes(key, "BigSz", REG_SZ, std::string(1 << 20, 's')),
            win32(ERROR_INVALID_PARAMETER));  // its NUL would not fit
  RegCloseKey(key);
}

TEST_F(Registry, EnumerationOrderAndBuffers) {
  HKEY parent = create(HKEY_LOCAL_MACHINE, "Software\\Vorlund");
  ASSERT_NE(parent, nullptr);
  for (const char* name : {"gamma", "Beta", "alpha", "Delta"})
    ASSERT_EQ(createResult(parent, name), kOk);
  EXPECT_EQ(subkeys(parent), (Names{"alpha", "Beta", "Delta", "gamma"}));

  char name[8];
  DWORD length = 5;  // "alpha" needs 6 with its NUL
  EXPECT_EQ(RegEnumKeyExA(parent, 0, name, &length, nullptr, nullptr, nullptr, nullptr),
            win32(ERROR_MORE_DATA));
  EXPECT_EQ(length, 5u);
  length = 6;
  char keyClass[4] = "xyz";
  DWORD classLength = sizeof keyClass;
  FILETIME written{0, 0};
  EXPECT_EQ(RegEnumKeyExA(parent, 0, name, &length, nullptr, keyClass, &classLength, &written),
            kOk);
  EXPECT_EQ(std::string(name), "alpha");
  EXPECT_EQ(length, 5u);
  EXPECT_EQ(keyClass[0], '\0');
  EXPECT_EQ(classLength, 0u);
  EXPECT_NE(written.dwHighDateTime, 0u);
  length = sizeof name;
  EXPECT_EQ(RegEnumKeyExA(parent, 4, name, &length, nullptr, nullptr, nullptr, nullptr),
            win32(ERROR_NO_MORE_ITEMS));

  ASSERT_EQ(setString(parent, "Second", "2"), kOk);
  ASSERT_EQ(setBytes(parent, "First", REG_BINARY, "abc"), kOk);
  DWORD type = 0, size = 0;
  length = sizeof name;
  EXPECT_EQ(RegEnumValueA(parent, 1, name, &length, nullptr, &type, nullptr, &size), kOk);
  EXPECT_EQ(std::string(name, length), "First");
  EXPECT_EQ(type, REG_BINARY);
  EXPECT_EQ(size, 3u);
  BYTE data[8];
  size = 2;
  length = sizeof name;
  EXPECT_EQ(RegEnumValueA(parent, 1, name, &length, nullptr, &type, data, &size),
            win32(ERROR_MORE_DATA));
  EXPECT_EQ(size, 3u);
  length = sizeof name;
  EXPECT_EQ(RegEnumValueA(parent, 1, name, &length, nullptr, &type, data, &size), kOk);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data), size), "abc");
  length = 6;  // "Second" needs 7
  EXPECT_EQ(RegEnumValueA(parent, 0, name, &length, nullptr, &type, nullptr, nullptr),
            win32(ERROR_MORE_DATA));
  length = sizeof name;
  EXPECT_EQ(RegEnumValueA(parent, 2, name, &length, nullptr, &type, nullptr, nullptr),
            win32(ERROR_NO_MORE_ITEMS));
  RegCloseKey(parent);
}

TEST_F(Registry, AccessRightsOfHandles) {
  HKEY made = create(HKEY_CURRENT_USER, "Rights\\Existing");
  ASSERT_NE(made, nullptr);
  ASSERT_EQ(setString(made, "v", "1"), kOk);
  RegCloseKey(made);

  HKEY reader = open(HKEY_CURRENT_USER, "Rights", KEY_READ);
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(setString(reader, "v", "x"), win32(ERROR_ACCESS_DENIED));
  EXPECT_EQ(RegDeleteValueA(reader, "v"), win32(ERROR_ACCESS_DENIED));
  EXPECT_EQ(createResult(reader, "New"), win32(ERROR_ACCESS_DENIED));
  HKEY child = nullptr;
  DWORD disposition = 0;
  EXPECT_EQ(
      RegCreateKeyExA(reader, "existing", 0, nullptr, 0, KEY_WRITE, nullptr, &child, &disposition),
      kOk);  // opening what exists needs no right on the parent
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
  EXPECT_EQ(setString(child, "v", "2"), kOk);
  DWORD size = 0;
  EXPECT_EQ(sizeQuery(child, "v", &size), win32(ERROR_ACCESS_DENIED));
  EXPECT_EQ(subkeys(child), Names{"error " + std::to_string(ERROR_ACCESS_DENIED)});
  EXPECT_EQ(RegDeleteTreeA(reader, "Existing"), win32(ERROR_ACCESS_DENIED));
  HKEY all = open(HKEY_CURRENT_USER, "Rights", KEY_ALL_ACCESS);
  EXPECT_EQ(RegDeleteTreeA(all, "Existing"), kOk);
  for (HKEY h : {reader, child, all}) RegCloseKey(h);
}

TEST_F(Registry, DeletingKeysAndTheirHandles) {
  ASSERT_EQ(createResult(HKEY_CLASSES_ROOT, "Outer\\Inner\\Leaf"), kOk);
  HKEY inner = open(HKEY_CLASSES_ROOT, "Outer\\Inner", KEY_ALL_ACCESS);
  ASSERT_NE(inner, nullptr);

  // A key with subkeys is refused whole, a root is never deleted, a missing key is not found.
  EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, "Outer\\Inner"), win32(ERROR_ACCESS_DENIED));
  EXPECT_TRUE(exists("Outer\\Inner\\Leaf"));
  EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, ""), win32(ERROR_ACCESS_DENIED));
  EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, "Outer\\Nope"), win32(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, nullptr), win32(ERROR_INVALID_PARAMETER));

  HKEY leaf = open(HKEY_CLASSES_ROOT, "Outer\\Inner\\Leaf", KEY_ALL_ACCESS);
  ASSERT_NE(leaf, nullptr);
  EXPECT_EQ(RegDeleteKeyA(inner, "LEAF"), kOk);
  EXPECT_FALSE(exists("Outer\\Inner\\Leaf"));

  // The handle of a deleted key answers ERROR_KEY_DELETED, even once the key is back.
  HKEY back = create(HKEY_CLASSES_ROOT, "Outer\\Inner\\Leaf");
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(setString(leaf, "v", "x"), win32(ERROR_KEY_DELETED));
  DWORD size = 0;
  EXPECT_EQ(sizeQuery(leaf, nullptr, &size), win32(ERROR_KEY_DELETED));
  EXPECT_EQ(createResult(leaf, "x"), win32(ERROR_KEY_DELETED));
  HKEY below = nullptr;
  EXPECT_EQ(RegOpenKeyExA(leaf, "", 0, KEY_READ, &below), win32(ERROR_KEY_DELETED));
  EXPECT_EQ(RegCloseKey(leaf), kOk);

  // An empty subkey deletes the handle's own key.
  EXPECT_EQ(RegDeleteKeyA(back, ""), kOk);
  EXPECT_EQ(subkeys(inner), Names{});
  EXPECT_EQ(subkeys(back), Names{"error " + std::to_string(ERROR_KEY_DELETED)});
  RegCloseKey(back);

  // A subtree goes with everything in it; the handles below it die with it.
  HKEY deep = create(inner, "A\\B\\C");
  ASSERT_NE(deep, nullptr);
  ASSERT_EQ(setString(deep, "v", "1"), kOk);
  HKEY a = open(inner, "A", KEY_ALL_ACCESS);
  ASSERT_EQ(setString(a, "v", "1"), kOk);
  ASSERT_EQ(createResult(inner, "Z"), kOk);
  EXPECT_EQ(RegDeleteTreeA(HKEY_CLASSES_ROOT, "outer\\inner\\a"), kOk);
  EXPECT_EQ(subkeys(inner), Names{"Z"});
  EXPECT_EQ(setString(deep, "v", "2"), win32(ERROR_KEY_DELETED));
  EXPECT_EQ(setString(a, "v", "2"), win32(ERROR_KEY_DELETED));
  EXPECT_EQ(RegDeleteTreeA(HKEY_CLASSES_ROOT, "Outer\\Inner\\A"), win32(ERROR_FILE_NOT_FOUND));

  // A null subkey empties the key and keeps it, and its own handle.
  ASSERT_EQ(setString(inner, "kept?", "no"), kOk);
  EXPECT_EQ(RegDeleteTreeA(inner, nullptr), kOk);
  EXPECT_TRUE(exists("Outer\\Inner"));
  EXPECT_EQ(subkeys(inner), Names{});
  EXPECT_EQ(valueNames(inner), Names{});
  EXPECT_EQ(setString(inner, "again", "yes"), kOk);
  for (HKEY h : {inner, deep, a}) RegCloseKey(h);
}

TEST_F(Registry, EveryNameAndValueSurvivesANewProcess) {
  // Names with quotes, separators of the hive format, spaces, control and high bytes.
  const Names keyNames = {"plain",     "with space", "quo\"te",       "per%cent",
                          "tab\there", "caf\xe9",    "x\x7f\x80\xff", "="};
  std::string allBytes;
  for (int b = 0; b < 256; ++b) allBytes.push_back(char(b));
  const std::tuple<const char*, DWORD, std::string> values[] = {
      {"all bytes", REG_BINARY, allBytes},
      {"sz with NULs", REG_SZ, std::string("a\0b\0", 4)},
      {"odd dword", REG_DWORD, "\x01\x02"},
      {"multi", REG_MULTI_SZ, std::string("a\0b\0\0", 5)},
      {"qword", REG_QWORD, std::string("\1\0\0\0\0\0\0\x80", 8)},
      {"type 4000000000", 4000000000u, "zz"}};
  HKEY parent = create(HKEY_CURRENT_USER, "Software\\Round Trip");
  ASSERT_NE(parent, nullptr);
  for (const std::string& name : keyNames) {
    HKEY k = create(parent, name);
    ASSERT_NE(k, nullptr) << name;
    ASSERT_EQ(setString(k, ("v \\ \"" + name).c_str(), name + "\n\r\"\\end"), kOk);
    RegCloseKey(k);
  }
  for (const auto& [name, type, bytes] : values)
    ASSERT_EQ(setBytes(parent, name, type, bytes), kOk);
  ASSERT_EQ(setBytes(HKEY_CURRENT_USER, nullptr, REG_SZ, "root default"), kOk);
  RegCloseKey(parent);

  const std::string before = readWholeFile(registryHivePath(HKEY_CURRENT_USER));
  for (unsigned char c : before) ASSERT_TRUE(c == '\n' || (c >= 0x20 && c <= 0x7e)) << int(c);
  EXPECT_EQ(before.rfind("vorlund-registry 1\n", 0), 0u);

  resetRegistryForTesting();
  parent = open(HKEY_CURRENT_USER, "software\\round trip");
  ASSERT_NE(parent, nullptr);
  EXPECT_EQ(subkeys(parent), (Names{"=", "caf\xe9", "per%cent", "plain", "quo\"te", "tab\there",
                                    "with space", "x\x7f\x80\xff"}));
  for (const std::string& name : keyNames) {
    HKEY k = open(parent, name);
    ASSERT_NE(k, nullptr) << name;
    EXPECT_EQ(valueNames(k), Names{"v \\ \"" + name});
    EXPECT_EQ(query(k, ("v \\ \"" + name).c_str()),
              std::make_pair(REG_SZ, name + "\n\r\"\\end" + std::string(1, '\0')));
    RegCloseKey(k);
  }
  for (const auto& [name, type, bytes] : values)
    EXPECT_EQ(query(parent, name), std::make_pair(type, bytes)) << name;
  EXPECT_EQ(query(HKEY_CURRENT_USER, ""), std::make_pair(REG_SZ, std::string("root default", 13)));
  RegCloseKey(parent);

  // A change that alters nothing writes nothing; the next real one writes the same tree again.
  ASSERT_EQ(setBytes(HKEY_CURRENT_USER, nullptr, REG_SZ, "root default"), kOk);
  EXPECT_EQ(readWholeFile(registryHivePath(HKEY_CURRENT_USER)), before);
  EXPECT_EQ(RegDeleteTreeA(HKEY_CURRENT_USER, nullptr), kOk);
  EXPECT_EQ(subkeys(HKEY_CURRENT_USER), Names{});
  EXPECT_EQ(registryLastProblem(), "");
}

TEST_F(Registry, ALongLivedProcessSeesOtherProcessesCommit) {
  HKEY watched = create(HKEY_CLASSES_ROOT, "Watched");
  ASSERT_NE(watched, nullptr);
  ASSERT_EQ(setString(watched, "state", "before"), kOk);
  HKEY doomed = create(HKEY_CLASSES_ROOT, "Doomed");
  ASSERT_NE(doomed, nullptr);
  EXPECT_EQ(defaultText("Watched", "state"), "before");

  pid_t child = spawn([] {
    HKEY k = open(HKEY_CLASSES_ROOT, "Watched", KEY_ALL_ACCESS);
    if (k == nullptr || setString(k, "state", "after") != kOk) return 1;
    if (create(k, "Added") == nullptr) return 2;
    return RegDeleteKeyA(HKEY_CLASSES_ROOT, "Doomed") == kOk ? 0 : 3;
  });
  ASSERT_EQ(waitFor(child), 0);

  EXPECT_EQ(defaultText("Watched", "state"), "after");
  EXPECT_EQ(subkeys(watched), Names{"Added"});
  EXPECT_EQ(setString(doomed, "v", "x"), win32(ERROR_KEY_DELETED));
  EXPECT_EQ(subkeys(HKEY_CLASSES_ROOT), Names{"Watched"});

  // Once noticed, the deletion stands for the handle, whatever is created later.
  child = spawn([] { return create(HKEY_CLASSES_ROOT, "Doomed") != nullptr ? 0 : 1; });
  ASSERT_EQ(waitFor(child), 0);
  EXPECT_TRUE(exists("Doomed"));
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
      if (k != nullptr) RegCloseKey(k);
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
  std::thread t1([&] { threadFailures[0] = writer("t", 50); });
  std::thread t2([&] { threadFailures[1] = writer("u", 50); });
  t1.join();
  t2.join();
  for (pid_t c : children) EXPECT_EQ(waitFor(c), 0);
  close(start[0]);
  close(start[1]);
  EXPECT_EQ(threadFailures[0] + threadFailures[1], 0);

  resetRegistryForTesting();
  HKEY writers = open(HKEY_CLASSES_ROOT, "Writers");
  ASSERT_NE(writers, nullptr);
  EXPECT_EQ(subkeys(writers).size(), 500u);
  for (const char* prefix : {"p", "q", "t", "u"}) {
    for (int i = 0; i < (*prefix < 't' ? 200 : 50); ++i) {
      const std::string name = prefix + std::to_string(i);
      EXPECT_EQ(defaultText("Writers\\" + name, "by"), prefix) << name;
    }
  }
  RegCloseKey(writers);
  // Each create and each set was one commit, none lost and none doubled.
  EXPECT_NE(readWholeFile(hivePath()).find("\ngeneration 1000\n"), std::string::npos);
  EXPECT_EQ(registryLastProblem(), "");
}

TEST_F(Registry, ACrashBeforeTheRenameLeavesTheOldHive) {
  HKEY key = create(HKEY_CLASSES_ROOT, "Crash");
  ASSERT_NE(key, nullptr);
  ASSERT_EQ(setString(key, "v", "old"), kOk);
  const std::string before = readWholeFile(hivePath());

  pid_t child = spawn([] {
    setRegistryBeforeRenameHookForTesting([] { _exit(42); });
    HKEY k = open(HKEY_CLASSES_ROOT, "Crash", KEY_ALL_ACCESS);
    setString(k, "v", "new");
    return 0;  // not reached when the hook runs
  });
  ASSERT_EQ(waitFor(child), 42);

  EXPECT_EQ(readWholeFile(hivePath()), before);
  const std::string tmp = hivePath().substr(0, hivePath().size() - 4) + ".tmp";
  EXPECT_NE(readWholeFile(tmp).find("\"new\""), std::string::npos);  // it died after writing
  EXPECT_EQ(defaultText("Crash", "v"), "old");
  resetRegistryForTesting();
  EXPECT_EQ(defaultText("Crash", "v"), "old");

  // The dead writer's lock went with it: the next commit goes through.
  key = open(HKEY_CLASSES_ROOT, "Crash", KEY_ALL_ACCESS);
  ASSERT_EQ(setString(key, "w", "later"), kOk);
  resetRegistryForTesting();
  EXPECT_EQ(defaultText("Crash", "v"), "old");
  EXPECT_EQ(defaultText("Crash", "w"), "later");

  // A commit that cannot write fails whole: the hive on disk and in memory stay as they were.
  const std::string committed = readWholeFile(hivePath());
  std::filesystem::remove(tmp);
  std::filesystem::create_directory(tmp);
  key = open(HKEY_CLASSES_ROOT, "Crash", KEY_ALL_ACCESS);
  EXPECT_EQ(setString(key, "w", "lost"), win32(ERROR_ACCESS_DENIED));
  EXPECT_NE(registryLastProblem().find("could not be written"), std::string::npos);
  EXPECT_EQ(readWholeFile(hivePath()), committed);
  EXPECT_EQ(defaultText("Crash", "w"), "later");
  RegCloseKey(key);
}

TEST_F(Registry, DamagedHivesAreSetAsideAndKept) {
  HKEY key = create(HKEY_CLASSES_ROOT, "Precious\\Data");
  ASSERT_NE(key, nullptr);
  ASSERT_EQ(setString(key, nullptr, "keep me"), kOk);
  RegCloseKey(key);
  const std::string good = readWholeFile(hivePath());
  const size_t endLine = good.rfind("end ");
  ASSERT_NE(endLine, std::string::npos);

  std::string flipped = good;
  flipped[flipped.find("keep")] = '\x01';  // a raw control byte inside a string
  const std::vector<std::pair<const char*, std::string>> damaged = {
      {"empty", ""},
      {"truncated at a line end", good.substr(0, endLine)},
      {"truncated in a line", good.substr(0, good.size() / 2)},
      {"garbage", "\x89PNG\r\n\x1a\n not a hive"},
      {"a raw control byte", flipped},
      {"counts that do not match", good.substr(0, endLine) + "end 2 2\n"},
      {"text after the end", good + "key 1 \"late\"\n"},
      {"a blank line", good.substr(0, endLine) + "\n" + good.substr(endLine)},
      {"CR LF line ends", "vorlund-registry 1\r\ngeneration 3\r\nend 0 0\r\n"},
  };
  for (const auto& [what, text] : damaged) {
    SCOPED_TRACE(what);
    resetRegistryForTesting();
    std::filesystem::remove_all(std::filesystem::path(hivePath()).parent_path());
    ASSERT_EQ(setString(HKEY_CLASSES_ROOT, "seed", "x"), kOk);  // makes the directory
    writeWholeFile(hivePath(), text);
    resetRegistryForTesting();  // a new process meets the damaged file

    EXPECT_FALSE(exists("Precious\\Data"));
    const std::vector<std::string> aside = asideFiles(hivePath());
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_EQ(readWholeFile(aside[0]), text);
    EXPECT_FALSE(std::filesystem::exists(hivePath()));
    const std::string problem = registryLastProblem();
    EXPECT_NE(problem.find(hivePath()), std::string::npos) << problem;
    EXPECT_NE(problem.find("kept as " + aside[0]), std::string::npos) << problem;

    // The hive starts empty and takes new entries; the kept file is not touched again.
    ASSERT_EQ(createResult(HKEY_CLASSES_ROOT, "Fresh"), kOk);
    EXPECT_EQ(subkeys(HKEY_CLASSES_ROOT), Names{"Fresh"});
    EXPECT_EQ(readWholeFile(aside[0]), text);
  }

  // A missing hive is just empty, and no problem.
  resetRegistryForTesting();
  std::filesystem::remove(hivePath());
  EXPECT_EQ(subkeys(HKEY_CLASSES_ROOT), Names{});
  EXPECT_EQ(registryLastProblem(), "");
}

TEST_F(Registry, HostileHivesAreBoundedAndNeverCrash) {
  ASSERT_EQ(setString(HKEY_CLASSES_ROOT, "seed", "x"), kOk);
  // The subkeys of HKCR once a new process meets `text`, and whether it was set aside.
  auto meet = [&](const std::string& text) {
    resetRegistryForTesting();
    for (const std::string& f : asideFiles(hivePath())) std::filesystem::remove(f);
    writeWholeFile(hivePath(), text);
    resetRegistryForTesting();
    return subkeys(HKEY_CLASSES_ROOT);
  };
  auto setAside = [&]() { return asideFiles(hivePath()).size() == 1; };
  const std::string header = "vorlund-registry 1\ngeneration 1\n";
  auto levels = [&](int n) {
    std::string text = header;
    for (int d = 1; d <= n; ++d) text += "key " + std::to_string(d) + " \"k\"\n";
    return text + "end " + std::to_string(n) + " 0\n";
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
  for (const auto& [what, text] : refused) {
    EXPECT_EQ(meet(text), Names{}) << what;
    EXPECT_TRUE(setAside()) << what;
  }

  // 512 levels is the deepest a hive holds, and it loads.
  std::string path = "k";
  for (int d = 1; d < 512; ++d) path += "\\k";
  EXPECT_EQ(meet(levels(512)), Names{"k"});
  EXPECT_FALSE(setAside());
  EXPECT_TRUE(exists(path));

  // 200,000 keys load and enumerate by index without rescanning.
  std::string many = header;
  for (int i = 0; i < 200000; ++i) {
    char name[16];
    snprintf(name, sizeof name, "k%06d", i);
    many += "key 1 \"" + std::string(name) + "\"\n";
  }
  EXPECT_EQ(meet(many + "end 200000 0\n").size(), 200000u);
  EXPECT_FALSE(setAside());

  // A file larger than a hive may be is set aside without being read.
  resetRegistryForTesting();
  for (const std::string& f : asideFiles(hivePath())) std::filesystem::remove(f);
  writeWholeFile(hivePath(), header);
  std::filesystem::resize_file(hivePath(), (64u << 20) + 1);
  resetRegistryForTesting();
  EXPECT_EQ(subkeys(HKEY_CLASSES_ROOT), Names{});
  EXPECT_TRUE(setAside());
  EXPECT_NE(registryLastProblem().find("larger"), std::string::npos);
}
