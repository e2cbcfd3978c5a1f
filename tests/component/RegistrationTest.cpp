// DllRegisterServer and DllUnregisterServer: exactly the entries written, the class key
// replaced whole, what removal leaves, a damaged hive, and registrations running at once.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>

#include "component/ComModule.h"
#include "component/IVorlundMime.h"
#include "platform/Registry.h"
#include "tests/support/RegistryValues.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;

namespace {

const std::string kClass = "CLSID\\{0A83AD29-EFD3-4BD1-997D-63C4EAF39418}";
const std::string kLibKey = "TypeLib\\{2555C8B7-8681-4845-94B5-46E6623D8A06}";
const std::string kMimeInterface = "Interface\\{5ACAE4B8-62D9-4124-A58A-9B1258B77E99}";
const std::string kOtherClass = "CLSID\\{11111111-2222-3333-4444-555555555555}";

// Every key below HKCR\<path> ("key PATH") and every value ("PATH [NAME] = DATA"), read back
// with the registry calls a host uses.
void dump(const std::string& path, std::set<std::string>& out) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
  out.insert("key " + path);
  for (DWORD i = 0;; ++i) {
    char name[256];
    DWORD nameLength = sizeof name;
    char data[1024];
    DWORD size = sizeof data;
    DWORD type = 0;
    if (RegEnumValueA(key, i, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(data),
                      &size) != ERROR_SUCCESS)
      break;
    EXPECT_EQ(type, REG_SZ) << path << " " << name;
    out.insert(path + " [" + name + "] = " + std::string(data, size > 0 ? size - 1 : 0));
  }
  for (DWORD i = 0;; ++i) {
    char name[256];
    DWORD nameLength = sizeof name;
    if (RegEnumKeyExA(key, i, name, &nameLength, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      break;
    dump(path + "\\" + name, out);
  }
  RegCloseKey(key);
}

std::set<std::string> dumpAll(std::initializer_list<std::string> paths) {
  std::set<std::string> out;
  for (const std::string& p : paths) dump(p, out);
  return out;
}

std::set<std::string> registration() {
  return dumpAll(
      {"VorlundMime.VorlundMime.1", "VorlundMime.VorlundMime", kClass, kLibKey, kMimeInterface});
}

std::set<std::string> expectedRegistration(const std::string& module) {
  const std::string clsid = "{0A83AD29-EFD3-4BD1-997D-63C4EAF39418}";
  const std::string libid = "{2555C8B7-8681-4845-94B5-46E6623D8A06}";
  const std::string proxy = "{00020424-0000-0000-C000-000000000046}";
  struct Entry {
    std::string path, name, data;  // no name: a key without values
  };
  const Entry entries[] = {
      {"VorlundMime.VorlundMime.1", "", "VorlundMime Class"},
      {"VorlundMime.VorlundMime.1\\CLSID", "", clsid},
      {"VorlundMime.VorlundMime", "", "VorlundMime Class"},
      {"VorlundMime.VorlundMime\\CLSID", "", clsid},
      {"VorlundMime.VorlundMime\\CurVer", "", "VorlundMime.VorlundMime.1"},
      {kClass, "", "VorlundMime Class"},
      {kClass + "\\ProgID", "", "VorlundMime.VorlundMime.1"},
      {kClass + "\\VersionIndependentProgID", "", "VorlundMime.VorlundMime"},
      {kClass + "\\Programmable", "-", ""},
      {kClass + "\\InprocServer32", "", module},
      {kClass + "\\InprocServer32", "ThreadingModel", "Apartment"},
      {kClass + "\\TypeLib", "", libid},
      {kLibKey, "-", ""},
      {kLibKey + "\\1.0", "", "Vorlund MIME 3.0.0"},
      {kLibKey + "\\1.0\\0", "-", ""},
      {kLibKey + "\\1.0\\0\\linux", "", module},
      {kLibKey + "\\1.0\\FLAGS", "", "0"},
      {kLibKey + "\\1.0\\HELPDIR", "", module.substr(0, module.rfind('/'))},
      {kMimeInterface, "", "IVorlundMime"},
      {kMimeInterface + "\\ProxyStubClsid", "", proxy},
      {kMimeInterface + "\\ProxyStubClsid32", "", proxy},
      {kMimeInterface + "\\TypeLib", "", libid},
      {kMimeInterface + "\\TypeLib", "Version", "1.0"},
  };
  std::set<std::string> out;
  for (const Entry& e : entries) {
    out.insert("key " + e.path);
    if (e.name != "-") out.insert(e.path + " [" + e.name + "] = " + e.data);
  }
  return out;
}

// Each test in a platform root of its own.
class Registration : public ::testing::Test {
 protected:
  TempDir root_;
  ScopedEnv env_{"VORLUND_ROOT", root_.path()};
  const std::string module_ = fs::canonical("/proc/self/exe").string();  // linked in here
};

}  // namespace

TEST_F(Registration, WritesExactlyTheClassEntriesOverStaleOnesAndRemovesOnlyThem) {
  // What an older registration, or another class, left behind.
  ASSERT_TRUE(setClassesValue(kClass + "\\InprocServer32", "ThreadingModel", "Both"));
  ASSERT_TRUE(setClassesValue(kClass + "\\LocalServer32", "", "/old/server"));
  ASSERT_TRUE(setClassesValue(kOtherClass + "\\InprocServer32", "", "/other/lib.so"));
  const std::set<std::string> others = dumpAll({kOtherClass});

  ASSERT_EQ(DllRegisterServer(), S_OK);
  ASSERT_EQ(DllRegisterServer(), S_OK);
  EXPECT_EQ(registration(), expectedRegistration(module_));

  ASSERT_EQ(DllUnregisterServer(), S_OK);
  EXPECT_EQ(registration(), std::set<std::string>{});
  std::set<std::string> left = others;
  left.insert("key CLSID");
  EXPECT_EQ(dumpAll({"CLSID"}), left) << "the CLSID root and the other class stay";
  EXPECT_EQ(dumpAll({"Interface"}), std::set<std::string>{"key Interface"});
}

TEST_F(Registration, ADamagedHiveIsReportedAndRegistrationThenWorks) {
  clearRegistryLastProblem();
  fs::create_directories(root_.file("registry"));
  writeWholeFile(registryHivePath(HKEY_CLASSES_ROOT), "garbage\x01\x02\n");
  ASSERT_EQ(DllRegisterServer(), S_OK);
  EXPECT_NE(registryLastProblem().find("unreadable"), std::string::npos) << registryLastProblem();
  EXPECT_EQ(registration(), expectedRegistration(module_));
}

TEST_F(Registration, RegistrationsInSeveralProcessesAtOnceLeaveACompleteHive) {
  ASSERT_TRUE(setClassesValue(kOtherClass + "\\InprocServer32", "", "/other/lib.so"));
  pid_t children[3];
  for (pid_t& child : children) {
    child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      resetRegistryForTesting();
      for (int i = 0; i < 10; ++i) DllRegisterServer();
      _exit(0);
    }
  }
  for (const pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  resetRegistryForTesting();
  EXPECT_EQ(registration(), expectedRegistration(module_));
  EXPECT_EQ(dumpAll({kOtherClass}).count(kOtherClass + "\\InprocServer32 [] = /other/lib.so"), 1u);
}
