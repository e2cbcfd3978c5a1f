// Registration as the host program does it: `vormime register` and `unregister` run the
// module's entry points, and the message commands register the module on first use, saying
// so once. Each case works in a platform root of its own.
#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "platform/Registry.h"
#include "tests/cli/RunVormime.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;

namespace {

const std::string kSample = std::string(VORLUND_EXAMPLES_DIR) + "/sample.eml";
const char* const kClassServer = "CLSID\\{0A83AD29-EFD3-4BD1-997D-63C4EAF39418}\\InprocServer32";

std::string realPath(const std::string& path) {
  char buf[PATH_MAX];
  return realpath(path.c_str(), buf) != nullptr ? std::string(buf) : path;
}

// Sets an environment variable for the programs a test runs, and puts it back.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = getenv(name)) old_ = old, had_ = true;
    setenv(name, value.c_str(), 1);
    resetRegistryForTesting();
  }
  ~ScopedEnv() {
    if (had_)
      setenv(name_, old_.c_str(), 1);
    else
      unsetenv(name_);
    resetRegistryForTesting();
  }

 private:
  const char* name_;
  std::string old_;
  bool had_ = false;
};

std::string registeredServer() {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, kClassServer, 0, KEY_READ, &key) != ERROR_SUCCESS) return "";
  char buf[1024];
  DWORD size = sizeof buf;
  std::string out;
  if (RegQueryValueExA(key, "", nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &size) ==
      ERROR_SUCCESS)
    out.assign(buf, size - 1);
  RegCloseKey(key);
  return out;
}

}  // namespace

TEST(VormimeRegister, MessageCommandsRegisterOnFirstUseOnce) {
  TempDir other;
  ScopedEnv fresh("VORLUND_ROOT", other.path());
  const std::string module = realPath(VORLUND_MODULE_PATH);
  const CliRun first = runVormime("show " + shellQuote(kSample));
  ASSERT_EQ(first.status, 0) << first.err;
  EXPECT_EQ(first.out.rfind("multipart/mixed  parts=6\n  multipart/alternative  parts=2\n", 0), 0u)
      << first.out;
  EXPECT_EQ(first.err,
            "vormime: VorlundMime.VorlundMime was not registered; registered " + module + "\n");
  EXPECT_EQ(registeredServer(), module);
  const CliRun second = runVormime("call " + shellQuote(kSample) + " NumParts");
  EXPECT_EQ(second.out, "6\n");
  EXPECT_EQ(second.err, "");

  // A registration whose module has gone is repaired the same way.
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, kClassServer, 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const std::string gone = other.file("moved/libvorlundmime.so");
  ASSERT_EQ(RegSetValueExA(key, "", 0, REG_SZ, reinterpret_cast<const BYTE*>(gone.c_str()),
                           static_cast<DWORD>(gone.size() + 1)),
            ERROR_SUCCESS);
  RegCloseKey(key);
  const CliRun repaired = runVormime("xml " + shellQuote(kSample));
  EXPECT_EQ(repaired.status, 0);
  EXPECT_EQ(repaired.err, "vormime: VorlundMime.VorlundMime was registered at " + gone +
                              ", which no longer exists; registered " + module + "\n");
  EXPECT_EQ(registeredServer(), module);
}

TEST(VormimeRegister, RegisterAndUnregisterRunTheEntryPoints) {
  TempDir root;
  ScopedEnv env("VORLUND_ROOT", root.path());
  const std::string module = realPath(VORLUND_MODULE_PATH);
  CliRun r = runVormime("register");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "registered " + module + "\n");
  EXPECT_EQ(registeredServer(), module);
  EXPECT_EQ(runVormime("show " + shellQuote(kSample)).err, "");

  r = runVormime("unregister");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "unregistered " + module + "\n");
  EXPECT_EQ(registeredServer(), "");
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "VorlundMime.VorlundMime", 0, KEY_READ, &key),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "CLSID", 0, KEY_READ, &key), ERROR_SUCCESS);
  RegCloseKey(key);

  EXPECT_EQ(runVormime("register extra").status, 2);
  EXPECT_EQ(runVormime("unregister --module x").status, 2);
  EXPECT_EQ(runVormime("register --help").status, 0);
}

TEST(VormimeRegister, TheModuleCanBeNamedAndAMissingOneIsReported) {
  TempDir root;
  ScopedEnv env("VORLUND_ROOT", root.path());
  const std::string copy = root.file("elsewhere/libvorlundmime.so");
  fs::create_directories(root.file("elsewhere"));
  fs::copy_file(VORLUND_MODULE_PATH, copy);
  {
    ScopedEnv named("VORMIME_MODULE", copy);
    const CliRun r = runVormime("register");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "registered " + realPath(copy) + "\n");
    EXPECT_EQ(runVormime("call " + shellQuote(kSample) + " NumParts").out, "6\n");
  }
  {
    ScopedEnv missing("VORMIME_MODULE", root.file("none/libvorlundmime.so"));
    const CliRun r = runVormime("register");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("VORMIME_MODULE names " + root.file("none/libvorlundmime.so")),
              std::string::npos)
        << r.err;
    // Registered modules keep working; only a new registration needs the named one.
    EXPECT_EQ(runVormime("call " + shellQuote(kSample) + " NumParts").out, "6\n");
    fs::remove(copy);
    const CliRun show = runVormime("show " + shellQuote(kSample));
    EXPECT_EQ(show.status, 1);
    EXPECT_EQ(show.out, "");
    EXPECT_NE(show.err.find("cannot create the Mime object"), std::string::npos) << show.err;
  }
  // A module that is not one is refused by the loader, with the system's reason.
  writeWholeFile(copy, "not a module");
  ScopedEnv named("VORMIME_MODULE", copy);
  const CliRun bad = runVormime("register");
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.err.find("cannot load " + realPath(copy) + ": 0x800700C1"), std::string::npos)
      << bad.err;
}

TEST(VormimeRegister, ADamagedHiveIsReportedSetAsideAndRebuilt) {
  TempDir root;
  ScopedEnv env("VORLUND_ROOT", root.path());
  ASSERT_EQ(runVormime("register").status, 0);
  const std::string hive = root.file("registry/HKCR.reg");
  const std::string held = readWholeFile(hive);
  writeWholeFile(hive, held.substr(0, held.size() / 2));  // a hive cut short
  const CliRun r = runVormime("show " + shellQuote(kSample));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("vormime: registry: Registry hive " + hive + " was unreadable"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("was not registered; registered"), std::string::npos) << r.err;
  int setAside = 0;
  for (const auto& e : fs::directory_iterator(root.file("registry")))
    if (e.path().filename().string().rfind("HKCR.reg.corrupt-", 0) == 0) {
      ++setAside;
      EXPECT_EQ(readWholeFile(e.path().string()), held.substr(0, held.size() / 2));
    }
  EXPECT_EQ(setAside, 1);
  EXPECT_EQ(runVormime("show " + shellQuote(kSample)).err, "");
}
