// Creating objects by ProgID and CLSID from the registry, loading the registered module, and
// every way that can fail, against a small test server.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <uuid/uuid.h>

#include <filesystem>
#include <string>

#include "platform/CodePage.h"
#include "platform/ComActivation.h"
#include "platform/Module.h"
#include "platform/Registry.h"
#include "tests/support/RegistryValues.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"

// The test server's interface, declared as it declares it (outside any unnamed namespace).
struct ITestValue : IUnknown {
  virtual LONG Value() = 0;
};

namespace {

// The test server's class and interface, and a class it does not serve.
constexpr GUID testGuid(uint8_t last) {
  return {0x6F1E0A52, 0x3C1D, 0x4B7E, {0x9A, 0x55, 0x0B, 0x2C, 0x63, 0xD1, 0xE7, last}};
}
const CLSID kTestClass = testGuid(1), kIidTestValue = testGuid(2), kOtherClass = testGuid(9);

void setDefault(const std::string& path, const std::string& value) {
  ASSERT_TRUE(setClassesValue(path, "", value));
}

void registerServer(REFCLSID clsid, const std::string& module) {
  setDefault("CLSID\\" + guidToString(clsid) + "\\InprocServer32", module);
}

bool loaded(const std::string& module) {
  void* h = dlopen(module.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (h != nullptr) dlclose(h);
  return h != nullptr;
}

void codeOfThisProgram() {}

// What the process's converter makes of one byte in 1252: "" from this program's Unicode-only
// converter, "test server" while the server's is installed.
std::string converted() {
  std::string s;
  StringOutput sink(s);
  platformConvert(1252, CP_UTF8, "x", 1, sink);
  return s;
}

class ComActivation : public ::testing::Test {
 protected:
  TempDir root_;
  ScopedEnv env_{"VORLUND_ROOT", root_.path()};
};

}  // namespace

TEST_F(ComActivation, ProgIdsLeadToClassesThroughCurVer) {
  CLSID clsid = GUID_NULL;
  EXPECT_EQ(CLSIDFromProgID(u"Vorlund.Test", &clsid), CO_E_CLASSSTRING);
  setDefault("Vorlund.Test.2\\CLSID", guidToString(kTestClass));
  setDefault("Vorlund.Test\\CurVer", "Vorlund.Test.2");
  ASSERT_EQ(CLSIDFromProgID(u"vorlund.test", &clsid), S_OK) << "names match without case";
  EXPECT_EQ(clsid, kTestClass);
  // A CLSID key of its own wins over CurVer.
  setDefault("Vorlund.Test\\CLSID", guidToString(kOtherClass));
  ASSERT_EQ(CLSIDFromProgID(u"Vorlund.Test", &clsid), S_OK);
  EXPECT_EQ(clsid, kOtherClass);

  // Loops, broken CLSIDs and names that are no ProgID are refused, never followed forever.
  setDefault("Loop.A\\CurVer", "Loop.B");
  setDefault("Loop.B\\CurVer", "Loop.A");
  setDefault("Broken.Test\\CLSID", "{not-a-guid}");
  for (const char16_t* name : {u"Loop.A", u"Broken.Test", u"Vorlund.Test.2\\CLSID", u""})
    EXPECT_EQ(CLSIDFromProgID(name, &clsid), CO_E_CLASSSTRING);

  LPOLESTR progId = nullptr;
  setDefault("CLSID\\" + guidToString(kTestClass) + "\\ProgID", "Vorlund.Test.2");
  ASSERT_EQ(ProgIDFromCLSID(kTestClass, &progId), S_OK);
  EXPECT_EQ(std::u16string(progId), u"Vorlund.Test.2");
  CoTaskMemFree(progId);
}

TEST_F(ComActivation, CreatesFromTheRegisteredModuleAndUnloadsItWhenUnused) {
  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(CoCreateInstance(kTestClass, nullptr, CLSCTX_INPROC_SERVER, kIidTestValue, &object),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(object, nullptr);

  const std::string module = TEST_SERVER_PATH;
  registerServer(kTestClass, module);
  ASSERT_EQ(CoCreateInstance(kTestClass, nullptr, CLSCTX_ALL, kIidTestValue, &object), S_OK);
  auto* first = static_cast<ITestValue*>(object);
  EXPECT_EQ(first->Value(), 42);
  ASSERT_EQ(CoCreateInstance(kTestClass, nullptr, CLSCTX_INPROC_SERVER, kIidTestValue, &object),
            S_OK);
  auto* second = static_cast<ITestValue*>(object);
  // Its DllMain ran once at the load: a further reference neither attaches nor detaches it.
  EXPECT_EQ(converted(), "test server");
  FreeLibrary(LoadLibraryA(module.c_str()));
  EXPECT_EQ(converted(), "test server");

  // Objects alive keep the module; once they are gone it is unloaded, once, as it was loaded
  // once however many objects were made, and its converter goes with it (converting into
  // unloaded code would crash).
  first->Release();
  CoFreeUnusedLibraries();
  EXPECT_TRUE(loaded(module));
  second->Release();
  CoFreeUnusedLibraries();
  EXPECT_FALSE(loaded(module));
  EXPECT_EQ(converted(), "");

  // The server's own refusal comes through as it is.
  registerServer(kOtherClass, module);
  EXPECT_EQ(CoCreateInstance(kOtherClass, nullptr, CLSCTX_INPROC_SERVER, kIidTestValue, &object),
            CLASS_E_CLASSNOTAVAILABLE);
  CoFreeUnusedLibraries();
}

TEST_F(ComActivation, BrokenRegistrationsGiveTheWin32ResultsAHostExpects) {
  writeWholeFile(root_.file("text.so"), "just text\n");
  const std::string library =
      moduleFileNameFromAddress(reinterpret_cast<const void*>(&uuid_generate));
  ASSERT_FALSE(library.empty());
  const struct {
    std::string server;
    HRESULT expected;
  } cases[] = {
      {root_.file("gone/libserver.so"), HRESULT(0x8007007E)},  // ERROR_MOD_NOT_FOUND
      {root_.file("text.so"), HRESULT_FROM_WIN32(ERROR_BAD_EXE_FORMAT)},
      {root_.path(), HRESULT_FROM_WIN32(ERROR_BAD_EXE_FORMAT)},
      {library, CO_E_ERRORINDLL},  // a real module that is no COM server
      {"", REGDB_E_CLASSNOTREG},
  };
  for (const auto& c : cases) {
    registerServer(kTestClass, c.server);
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(CoCreateInstance(kTestClass, nullptr, CLSCTX_INPROC_SERVER, kIidTestValue, &object),
              c.expected)
        << c.server;
    EXPECT_EQ(object, nullptr);
  }
  // A module whose DllMain refuses the attach is detached and unloaded again.
  registerServer(kTestClass, TEST_SERVER_PATH);
  {
    const ScopedEnv refuse("VORLUND_TEST_SERVER_REFUSES", "1");
    void* object = nullptr;
    EXPECT_EQ(CoCreateInstance(kTestClass, nullptr, CLSCTX_INPROC_SERVER, kIidTestValue, &object),
              HRESULT_FROM_WIN32(ERROR_DLL_INIT_FAILED));
  }
  EXPECT_FALSE(loaded(TEST_SERVER_PATH));
  EXPECT_EQ(converted(), "");
  char text[256];
  ASSERT_GT(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_MOD_NOT_FOUND, 0, text,
                           sizeof text, nullptr),
            0u);
  EXPECT_STREQ(text, "The specified module could not be found.\r\n");
}

TEST_F(ComActivation, ModuleFileNamesAreAbsoluteAndCutToTheBuffer) {
  const std::string program = std::filesystem::canonical("/proc/self/exe").string();
  EXPECT_EQ(moduleFileNameFromAddress(reinterpret_cast<const void*>(&codeOfThisProgram)), program);
  // The platform is the process's one shared library, not a copy inside each module.
  EXPECT_EQ(std::filesystem::path(
                moduleFileNameFromAddress(reinterpret_cast<const void*>(&CoCreateInstance)))
                .filename(),
            PLATFORM_FILE_NAME);
  char small[4];
  EXPECT_EQ(GetModuleFileNameA(nullptr, small, sizeof small), 4u);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(std::string(small), program.substr(0, 3));
}
