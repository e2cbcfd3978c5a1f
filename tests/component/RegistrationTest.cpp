// DllRegisterServer and DllUnregisterServer: exactly the entries written, the class key
// replaced whole, what removal leaves, a damaged hive, and registrations running at once.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>

#include "component/ComModule.h"
#include "component/IVorlundMime.h"
#include "platform/Registry.h"
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
    // Each value is also what RegQueryValueExA reads.
    char again[1024];
    DWORD againSize = sizeof again;
    EXPECT_EQ(
        RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(again), &againSize),
        ERROR_SUCCESS);
    EXPECT_EQ(std::string(again, againSize), std::string(data, size));
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
  const std::string dir = module.substr(0, module.rfind('/'));
  return {
      "key VorlundMime.VorlundMime.1",
      "VorlundMime.VorlundMime.1 [] = VorlundMime Class",
      "key VorlundMime.VorlundMime.1\\CLSID",
      "VorlundMime.VorlundMime.1\\CLSID [] = " + clsid,
      "key VorlundMime.VorlundMime",
      "VorlundMime.VorlundMime [] = VorlundMime Class",
      "key VorlundMime.VorlundMime\\CLSID",
      "VorlundMime.VorlundMime\\CLSID [] = " + clsid,
      "key VorlundMime.VorlundMime\\CurVer",
      "VorlundMime.VorlundMime\\CurVer [] = VorlundMime.VorlundMime.1",
      "key " + kClass,
      kClass + " [] = VorlundMime Class",
      "key " + kClass + "\\ProgID",
      kClass + "\\ProgID [] = VorlundMime.VorlundMime.1",
      "key " + kClass + "\\VersionIndependentProgID",
      kClass + "\\VersionIndependentProgID [] = VorlundMime.VorlundMime",
      "key " + kClass + "\\Programmable",
      "key " + kClass + "\\InprocServer32",
      kClass + "\\InprocServer32 [] = " + module,
      kClass + "\\InprocServer32 [ThreadingModel] = Apartment",
      "key " + kClass + "\\TypeLib",
      kClass + "\\TypeLib [] = " + libid,
      "key " + kLibKey,
      "key " + kLibKey + "\\1.0",
      kLibKey + "\\1.0 [] = Vorlund MIME 3.0.0",
      "key " + kLibKey + "\\1.0\\0",
      "key " + kLibKey + "\\1.0\\0\\linux",
      kLibKey + "\\1.0\\0\\linux [] = " + module,
      "key " + kLibKey + "\\1.0\\FLAGS",
      kLibKey + "\\1.0\\FLAGS [] = 0",
      "key " + kLibKey + "\\1.0\\HELPDIR",
      kLibKey + "\\1.0\\HELPDIR [] = " + dir,
      "key " + kMimeInterface,
      kMimeInterface + " [] = IVorlundMime",
      "key " + kMimeInterface + "\\ProxyStubClsid",
      kMimeInterface + "\\ProxyStubClsid [] = " + proxy,
      "key " + kMimeInterface + "\\ProxyStubClsid32",
      kMimeInterface + "\\ProxyStubClsid32 [] = " + proxy,
      "key " + kMimeInterface + "\\TypeLib",
      kMimeInterface + "\\TypeLib [] = " + libid,
      kMimeInterface + "\\TypeLib [Version] = 1.0",
  };
}

void setValue(const std::string& path, const char* name, const std::string& data) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                           static_cast<DWORD>(data.size() + 1)),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

// Each test in a platform root of its own.
class Registration : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* old = std::getenv("VORLUND_ROOT")) savedRoot_ = old;
    setenv("VORLUND_ROOT", root_.path().c_str(), 1);
    resetRegistryForTesting();
    module_ = fs::canonical("/proc/self/exe").string();  // the component is linked in here
  }
  void TearDown() override {
    resetRegistryForTesting();
    setenv("VORLUND_ROOT", savedRoot_.c_str(), 1);
  }
  TempDir root_;
  std::string savedRoot_;
  std::string module_;
};

}  // namespace

TEST_F(Registration, WritesExactlyTheClassEntriesAndRemovesThem) {
  EXPECT_EQ(moduleFileName(), module_);
  ASSERT_EQ(DllRegisterServer(), S_OK);
  EXPECT_EQ(registration(), expectedRegistration(module_));
  EXPECT_EQ(dumpAll({"Interface"})
                .count("Interface\\{D56C1AF1-3FDE-471C-9BC2-C52515F260C1} [] = IVorlundCert"),
            1u);
  // Registering again changes nothing.
  ASSERT_EQ(DllRegisterServer(), S_OK);
  EXPECT_EQ(registration(), expectedRegistration(module_));

  ASSERT_EQ(DllUnregisterServer(), S_OK);
  EXPECT_EQ(registration(), std::set<std::string>{});
  EXPECT_EQ(dumpAll({"CLSID"}), std::set<std::string>{"key CLSID"}) << "the CLSID root stays";
  EXPECT_EQ(dumpAll({"Interface"}), std::set<std::string>{"key Interface"});
  EXPECT_EQ(DllUnregisterServer(), S_OK) << "nothing left to remove is no failure";
}

TEST_F(Registration, TheClassKeyIsReplacedWholeAndOtherClassesAreLeftAlone) {
  // What an older registration, or something else, left under the class key.
  setValue(kClass + "\\InprocServer32", "", "/old/place/libvorlundmime.so");
  setValue(kClass + "\\InprocServer32", "ThreadingModel", "Both");
  setValue(kClass + "\\Control", "", "");
  setValue(kClass + "\\Programmable\\Stale", "", "x");
  setValue(kClass + "\\LocalServer32", "", "/old/server");
  setValue(kOtherClass + "\\InprocServer32", "", "/other/lib.so");
  setValue("Interface\\{11111111-2222-3333-4444-555555555556}\\TypeLib", "",
           "{11111111-2222-3333-4444-555555555557}");

  ASSERT_EQ(DllRegisterServer(), S_OK);
  EXPECT_EQ(registration(), expectedRegistration(module_));
  const std::set<std::string> others = dumpAll({kOtherClass});
  EXPECT_EQ(others.count(kOtherClass + "\\InprocServer32 [] = /other/lib.so"), 1u);

  ASSERT_EQ(DllUnregisterServer(), S_OK);
  EXPECT_EQ(registration(), std::set<std::string>{});
  EXPECT_EQ(dumpAll({kOtherClass}), others);
  EXPECT_EQ(dumpAll({"Interface"}).size(), 4u) << "an interface of another library stays";
}

TEST_F(Registration, ADamagedHiveIsReportedAndRegistrationThenWorks) {
  for (const std::string& damage : {std::string("garbage\x01\x02\n"), std::string()}) {
    resetRegistryForTesting();
    clearRegistryLastProblem();
    const std::string hive = registryHivePath(HKEY_CLASSES_ROOT);
    fs::remove_all(root_.file("registry"));
    fs::create_directories(root_.file("registry"));
    writeWholeFile(hive, damage);
    ASSERT_EQ(DllRegisterServer(), S_OK);
    EXPECT_NE(registryLastProblem().find("unreadable"), std::string::npos) << registryLastProblem();
    EXPECT_EQ(registration(), expectedRegistration(module_));
    int kept = 0;
    for (const auto& e : fs::directory_iterator(root_.file("registry")))
      if (e.path().filename().string().rfind("HKCR.reg.corrupt-", 0) == 0) {
        ++kept;
        EXPECT_EQ(readWholeFile(e.path().string()), damage);
      }
    EXPECT_EQ(kept, 1);
  }
}

TEST_F(Registration, RegistrationsInSeveralProcessesAtOnceLeaveACompleteHive) {
  setValue(kOtherClass + "\\InprocServer32", "", "/other/lib.so");
  constexpr int kProcesses = 3;
  pid_t children[kProcesses];
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
