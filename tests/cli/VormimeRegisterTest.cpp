// Registration as the host program does it: `vormime register` and `unregister` run the
// module's entry points, and the message commands register the module on first use, saying
// so once. Each case works in a platform root of its own.
#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "tests/cli/RunVormime.h"
#include "tests/support/RegistryValues.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;

namespace {

const std::string kSample = std::string(VORLUND_EXAMPLES_DIR) + "/sample.eml";
const char* const kClassServer = "CLSID\\{0A83AD29-EFD3-4BD1-997D-63C4EAF39418}\\InprocServer32";

std::string realPath(const std::string& path) {
  char buf[PATH_MAX];
  return realpath(path.c_str(), buf) != nullptr ? std::string(buf) : path;
}

std::string registeredServer() { return classesValue(kClassServer); }

const std::string kSiblings = realPath(VORLUND_SIBLINGS_PATH);
std::string registeredSiblings() {
  return classesValue("CLSID\\{E2A74106-0416-43D8-8FE8-833E9AD098EA}\\InprocServer32");
}

}  // namespace

TEST(VormimeRegister, MessageCommandsRegisterOnFirstUseOnce) {
  TempDir other;
  ScopedEnv fresh("VORLUND_ROOT", other.path());
  const std::string module = realPath(VORLUND_MODULE_PATH);
  const CliRun first = runVormime("show " + shellQuote(kSample));
  ASSERT_EQ(first.status, 0) << first.err;
  EXPECT_EQ(first.err, "vormime: VorlundMime.VorlundMime was not registered; registered " + module +
                           "\n" +
                           "vormime: VorlundCert.VorlundCert was not registered; registered " +
                           kSiblings + "\n");
  EXPECT_EQ(registeredServer(), module);
  EXPECT_EQ(registeredSiblings(), kSiblings);
  const CliRun second = runVormime("call " + shellQuote(kSample) + " NumParts");
  EXPECT_EQ(second.out, "6\n");
  EXPECT_EQ(second.err, "");

  // A registration whose module has gone is repaired the same way.
  const std::string gone = other.file("moved/libvorlundmime.so");
  ASSERT_TRUE(setClassesValue(kClassServer, "", gone));
  const CliRun repaired = runVormime("xml " + shellQuote(kSample));
  EXPECT_EQ(repaired.status, 0);
  EXPECT_EQ(repaired.err, "vormime: VorlundMime.VorlundMime was registered at " + gone +
                              ", which no longer exists; registered " + module + "\n");
  EXPECT_EQ(registeredServer(), module);
}

TEST(VormimeRegister, RegisterAndUnregisterRunTheEntryPointsOverADamagedHive) {
  TempDir root;
  ScopedEnv env("VORLUND_ROOT", root.path());
  const std::string module = realPath(VORLUND_MODULE_PATH);
  CliRun r = runVormime("register");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "registered " + module + "\nregistered " + kSiblings + "\n");
  EXPECT_EQ(registeredServer(), module);
  EXPECT_EQ(registeredSiblings(), kSiblings);

  // A hive cut short is reported, set aside, and registered into again.
  const std::string hive = root.file("registry/HKCR.reg");
  const std::string held = readWholeFile(hive);
  writeWholeFile(hive, held.substr(0, held.size() / 2));
  r = runVormime("show " + shellQuote(kSample));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("vormime: registry: Registry hive " + hive + " was unreadable"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("was not registered; registered"), std::string::npos) << r.err;

  r = runVormime("unregister");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "unregistered " + module + "\nunregistered " + kSiblings + "\n");
  EXPECT_EQ(registeredServer(), "<none>");
  EXPECT_EQ(registeredSiblings(), "<none>");
  EXPECT_EQ(runVormime("register extra").status, 2);
  EXPECT_EQ(runVormime("unregister --module x").status, 2);
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
    EXPECT_EQ(r.out, "registered " + realPath(copy) + "\nregistered " + kSiblings + "\n");
    EXPECT_EQ(runVormime("call " + shellQuote(kSample) + " NumParts").out, "6\n");
  }
  {
    ScopedEnv missing("VORMIME_MODULE", root.file("none/libvorlundmime.so"));
    const CliRun r = runVormime("register");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("VORMIME_MODULE names " + root.file("none/libvorlundmime.so")),
              std::string::npos)
        << r.err;
    // With the registered module gone too, nothing can make the object.
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
