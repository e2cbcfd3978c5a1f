// Type library registration: the keys written, and what unregistering one language of a
// library leaves of the others.
#include <gtest/gtest.h>

#include <string>

#include "platform/Registry.h"
#include "platform/TypeLib.h"
#include "tests/support/RegistryValues.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"

namespace {

const GUID kLib = {0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}};
const IID kFirst = {0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x01}};
const IID kSecond = {0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x02}};
const TypeLibInterface kInterfaces[] = {{kFirst, "IFirst"}, {kSecond, "ISecond"}};

std::string value(const std::string& path, const char* name = "") {
  return classesValue(path, name);
}

bool exists(const std::string& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
    return false;
  RegCloseKey(key);
  return true;
}

}  // namespace

TEST(TypeLib, RegisterWritesTheLibraryAndItsInterfacesAndUnregisterTakesThemAway) {
  TempDir root;
  ScopedEnv env("VORLUND_ROOT", root.path());
  const TypeLibInfo lib{kLib, 2, 10, 0, "Test Library 2.10", kInterfaces, 2};
  EXPECT_EQ(RegisterTypeLib(lib, "relative/lib.so", nullptr), E_INVALIDARG);
  EXPECT_EQ(RegisterTypeLib(lib, nullptr, nullptr), E_INVALIDARG);
  ASSERT_EQ(RegisterTypeLib(lib, "/opt/test/lib.so", nullptr), S_OK);

  const std::string base = "TypeLib\\" + guidToString(kLib) + "\\2.a";
  EXPECT_EQ(value(base), "Test Library 2.10");
  EXPECT_EQ(value(base + "\\0\\linux"), "/opt/test/lib.so");
  EXPECT_EQ(value(base + "\\FLAGS"), "0");
  EXPECT_EQ(value(base + "\\HELPDIR"), "/opt/test");
  const std::string first = "Interface\\" + guidToString(kFirst);
  EXPECT_EQ(value(first), "IFirst");
  EXPECT_EQ(value(first + "\\ProxyStubClsid32"), "{00020424-0000-0000-C000-000000000046}");
  EXPECT_EQ(value(first + "\\TypeLib"), guidToString(kLib));
  EXPECT_EQ(value(first + "\\TypeLib", "Version"), "2.a");
  EXPECT_EQ(value("Interface\\" + guidToString(kSecond)), "ISecond");

  // A second language of the same version, and an interface of another library.
  const TypeLibInfo german{kLib, 2, 10, 0x407, "Test Library 2.10", kInterfaces, 0};
  ASSERT_EQ(RegisterTypeLib(german, "/opt/test/de/lib.so", "/opt/help"), S_OK);
  EXPECT_EQ(value(base + "\\407\\linux"), "/opt/test/de/lib.so");
  EXPECT_EQ(value(base + "\\HELPDIR"), "/opt/help");
  const std::string foreign = "Interface\\{99999999-2222-3333-4444-555555555501}";
  ASSERT_TRUE(setClassesValue(foreign + "\\TypeLib", "", "{99999999-2222-3333-4444-555555555555}"));

  EXPECT_EQ(UnRegisterTypeLib(kLib, 2, 10, 0, SYS_WIN32), TYPE_E_LIBNOTREGISTERED);
  EXPECT_EQ(UnRegisterTypeLib(kLib, 1, 0, 0, SYS_NATIVE), TYPE_E_LIBNOTREGISTERED);
  ASSERT_EQ(UnRegisterTypeLib(kLib, 2, 10, 0, SYS_NATIVE), S_OK);
  EXPECT_FALSE(exists(base + "\\0"));
  EXPECT_EQ(value(base + "\\407\\linux"), "/opt/test/de/lib.so") << "the other language stays";
  EXPECT_EQ(value(first), "IFirst") << "its interfaces stay with it";
  ASSERT_EQ(UnRegisterTypeLib(kLib, 2, 10, 0x407, SYS_NATIVE), S_OK);
  EXPECT_FALSE(exists("TypeLib\\" + guidToString(kLib)));
  EXPECT_FALSE(exists(first));
  EXPECT_FALSE(exists("Interface\\" + guidToString(kSecond)));
  EXPECT_TRUE(exists(foreign));
  EXPECT_TRUE(exists("TypeLib"));
  EXPECT_EQ(UnRegisterTypeLib(kLib, 2, 10, 0x407, SYS_NATIVE), TYPE_E_LIBNOTREGISTERED);
}
