// Creating objects by ProgID and CLSID from the registry, loading the registered module, and
// every way that can fail, against a small test server.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <uuid/uuid.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/ComActivation.h"
#include "platform/Module.h"
#include "platform/Registry.h"
#include "tests/support/TempDir.h"

// The test server's interface, declared as it declares it (outside any unnamed namespace).
struct ITestValue : IUnknown {
  virtual LONG Value() = 0;
};

namespace {

const CLSID kTestClass = {
    0x6F1E0A52, 0x3C1D, 0x4B7E, {0x9A, 0x55, 0x0B, 0x2C, 0x63, 0xD1, 0xE7, 0x01}};
const IID kIidTestValue = {
    0x6F1E0A52, 0x3C1D, 0x4B7E, {0x9A, 0x55, 0x0B, 0x2C, 0x63, 0xD1, 0xE7, 0x02}};
// A class the test server does not serve.
const CLSID kOtherClass = {
    0x6F1E0A52, 0x3C1D, 0x4B7E, {0x9A, 0x55, 0x0B, 0x2C, 0x63, 0xD1, 0xE7, 0x09}};

void setDefault(const std::string& path, const std::string& value) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(key, "", 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                           static_cast<DWORD>(value.size() + 1)),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

void registerServer(REFCLSID clsid, const std::string& module) {
  setDefault("CLSID\\" + guidToString(clsid) + "\\InprocServer32", module);
}

bool loaded(const std::string& module) {
  void* h = dlopen(module.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (h != nullptr) dlclose(h);
  return h != nullptr;
}

class ComActivation : public ::testing::Test {
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
  TempDir root_;
  std::string savedRoot_;
};

}  // namespace

TEST_F(ComActivation, ProgIdsLeadToClassesThroughCurVer) {
  CLSID clsid = GUID_NULL;
  EXPECT_EQ(CLSIDFromProgID(u"Vorlund.Test", &clsid), CO_E_CLASSSTRING);
  EXPECT_EQ(CLSIDFromProgID(nullptr, &clsid), E_INVALIDARG);
  EXPECT_EQ(CLSIDFromProgID(u"Vorlund.Test", nullptr), E_INVALIDARG);

  setDefault("Vorlund.Test.2\\CLSID", guidToString(kTestClass));
  setDefault("Vorlund.Test\\CurVer", "Vorlund.Test.2");
  ASSERT_EQ(CLSIDFromProgID(u"Vorlund.Test.2", &clsid), S_OK);
  EXPECT_EQ(clsid, kTestClass);
  clsid = GUID_NULL;
  ASSERT_EQ(CLSIDFromProgID(u"vorlund.test", &clsid), S_OK) << "names match without case";
  EXPECT_EQ(clsid, kTestClass);
  // A CLSID key of its own wins over CurVer.
  setDefault("Vorlund.Test\\CLSID", guidToString(kOtherClass));
  ASSERT_EQ(CLSIDFromProgID(u"Vorlund.Test", &clsid), S_OK);
  EXPECT_EQ(clsid, kOtherClass);

  // Loops, broken CLSIDs and names that are no ProgID are refused, never followed forever.
  setDefault("Loop.A\\CurVer", "Loop.B");
  setDefault("Loop.B\\CurVer", "Loop.A");
  EXPECT_EQ(CLSIDFromProgID(u"Loop.A", &clsid), CO_E_CLASSSTRING);
  setDefault("Broken.Test\\CLSID", "{not-a-guid}");
  EXPECT_EQ(CLSIDFromProgID(u"Broken.Test", &clsid), CO_E_CLASSSTRING);
  EXPECT_EQ(CLSIDFromProgID(u"Vorlund.Test.2\\CLSID", &clsid), CO_E_CLASSSTRING);
  EXPECT_EQ(CLSIDFromProgID(u"Vorlund.T\u00e9st", &clsid), CO_E_CLASSSTRING);
  EXPECT_EQ(CLSIDFromProgID(u"", &clsid), CO_E_CLASSSTRING);

  LPOLESTR progId = nullptr;
  EXPECT_EQ(ProgIDFromCLSID(kTestClass, &progId), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(progId, nullptr);
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
  EXPECT_EQ(CoCreateInstance(kTestClass, nullptr, CLSCTX_INPROC_SERVER, kIidTestValue, nullptr),
            E_POINTER);

  const std::string module = TEST_SERVER_PATH;
  registerServer(kTestClass, module);
  EXPECT_EQ(CoCreateInstance(kTestClass, nullptr, CLSCTX_LOCAL_SERVER, kIidTestValue, &object),
            REGDB_E_CLASSNOTREG)
      << "only in-process servers exist here";
  ASSERT_EQ(CoCreateInstance(kTestClass, nullptr, CLSCTX_ALL, kIidTestValue, &object), S_OK);
  auto* first = static_cast<ITestValue*>(object);
  EXPECT_EQ(first->Value(), 42);
  ASSERT_EQ(CoCreateInstance(kTestClass, nullptr, CLSCTX_INPROC_SERVER, kIidTestValue, &object),
            S_OK);
  auto* second = static_cast<ITestValue*>(object);
  EXPECT_NE(first, second);
  IUnknown* outer = first;
  EXPECT_EQ(CoCreateInstance(kTestClass, outer, CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
            CLASS_E_NOAGGREGATION);
  EXPECT_EQ(CoCreateInstance(kTestClass, nullptr, CLSCTX_INPROC_SERVER, kIidTestValue, &object),
            S_OK);
  static_cast<IUnknown*>(object)->Release();

  // Objects alive keep the module; once they are gone it is unloaded, once, as it was loaded
  // once however many objects were made.
  CoFreeUnusedLibraries();
  EXPECT_TRUE(loaded(module));
  first->Release();
  CoFreeUnusedLibraries();
  EXPECT_TRUE(loaded(module));
  second->Release();
  CoFreeUnusedLibraries();
  EXPECT_FALSE(loaded(module));

  // The class object itself, and a held factory keeping the module.
  ASSERT_EQ(CoGetClassObject(kTestClass, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, &object),
            S_OK);
  auto* factory = static_cast<IClassFactory*>(object);
  CoFreeUnusedLibraries();
  EXPECT_TRUE(loaded(module));
  factory->Release();
  CoFreeUnusedLibraries();
  EXPECT_FALSE(loaded(module));

  // The server's own refusal comes through as it is.
  registerServer(kOtherClass, module);
  EXPECT_EQ(CoCreateInstance(kOtherClass, nullptr, CLSCTX_INPROC_SERVER, kIidTestValue, &object),
            CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(CoCreateInstance(kTestClass, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, &object),
            E_NOINTERFACE);
  EXPECT_EQ(object, nullptr);
  CoFreeUnusedLibraries();
}

TEST_F(ComActivation, BrokenRegistrationsGiveTheWin32ResultsAHostExpects) {
  void* object = reinterpret_cast<void*>(1);
  const auto create = [&] {
    return CoCreateInstance(kTestClass, nullptr, CLSCTX_INPROC_SERVER, kIidTestValue, &object);
  };
  // A module moved or deleted since it was registered.
  registerServer(kTestClass, root_.file("gone/libserver.so"));
  EXPECT_EQ(create(), HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND));
  EXPECT_EQ(create(), HRESULT(0x8007007E));
  EXPECT_EQ(object, nullptr);
  // A file that is no module at all.
  writeWholeFile(root_.file("text.so"), "just text\n");
  registerServer(kTestClass, root_.file("text.so"));
  EXPECT_EQ(create(), HRESULT_FROM_WIN32(ERROR_BAD_EXE_FORMAT));
  // An empty file, and a directory.
  writeWholeFile(root_.file("empty.so"), "");
  registerServer(kTestClass, root_.file("empty.so"));
  EXPECT_EQ(create(), HRESULT_FROM_WIN32(ERROR_BAD_EXE_FORMAT));
  registerServer(kTestClass, root_.path());
  EXPECT_EQ(create(), HRESULT_FROM_WIN32(ERROR_BAD_EXE_FORMAT));
  // A real module that is not a COM server.
  const std::string library =
      moduleFileNameFromAddress(reinterpret_cast<const void*>(&uuid_generate));
  ASSERT_FALSE(library.empty());
  registerServer(kTestClass, library);
  EXPECT_EQ(create(), CO_E_ERRORINDLL);
  // A class key without a server, or a server value that is empty.
  registerServer(kTestClass, "");
  EXPECT_EQ(create(), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(object, nullptr);

  char text[256];
  ASSERT_GT(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_MOD_NOT_FOUND, 0, text,
                           sizeof text, nullptr),
            0u);
  EXPECT_STREQ(text, "The specified module could not be found.\r\n");
}

TEST_F(ComActivation, ModuleFileNamesAreAbsoluteAndCutToTheBuffer) {
  const std::string program = std::filesystem::canonical("/proc/self/exe").string();
  EXPECT_EQ(moduleFileNameFromAddress(reinterpret_cast<const void*>(&CoCreateInstance)), program);
  char small[4];
  EXPECT_EQ(GetModuleFileNameA(nullptr, small, sizeof small), 4u);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(std::string(small), program.substr(0, 3));
  HMODULE server = LoadLibraryA(TEST_SERVER_PATH);
  ASSERT_NE(server, nullptr);
  char path[4096];
  ASSERT_GT(GetModuleFileNameA(server, path, sizeof path), 0u);
  EXPECT_EQ(std::string(path), std::filesystem::canonical(TEST_SERVER_PATH).string());
  EXPECT_TRUE(FreeLibrary(server));
}
