// GUIDs in the registry form and the UUIDs that name multipart boundaries.
#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>

#include "platform/Com.h"
#include "platform/Guid.h"
#include "platform/Uuid.h"

TEST(Guid, RegistryFormRoundTripAndMalformedInput) {
  GUID g = GUID_NULL;
  ASSERT_TRUE(guidFromString("{0a83ad29-EFD3-4bd1-997D-63c4eaf39418}", &g));
  EXPECT_EQ(g.Data1, 0x0A83AD29u);
  EXPECT_EQ(g.Data4[0], 0x99);
  EXPECT_EQ(guidToString(g), "{0A83AD29-EFD3-4BD1-997D-63C4EAF39418}");
  EXPECT_EQ(guidToString(IID_IDispatch), "{00020400-0000-0000-C000-000000000046}");

  for (const char* bad :
       {"0A83AD29-EFD3-4BD1-997D-63C4EAF39418", "{0A83AD29-EFD3-4BD1-997D-63C4EAF39418",
        "{0A83AD29-EFD3-4BD1-997D-63C4EAF39418}x", "{0A83AD2-EFD3-4BD1-997D-63C4EAF394181}",
        "{0A83AD29-EFD3-4BD1-997D63C4EAF39418}", "{0A83AD29-EFD3-4BD1-997D-63C4EAF3941G}",
        "{0A83AD29-EFD3-4BD1-997D-63C4EAF3941}", "{}", ""}) {
    GUID out = IID_IUnknown;
    EXPECT_FALSE(guidFromString(bad, &out)) << bad;
    EXPECT_EQ(out, IID_IUnknown) << bad;  // untouched
  }
  EXPECT_FALSE(guidFromString(nullptr, &g));

  CLSID clsid;
  ASSERT_EQ(CLSIDFromString(u"{00020400-0000-0000-c000-000000000046}", &clsid), S_OK);
  EXPECT_EQ(clsid, IID_IDispatch);
  EXPECT_EQ(CLSIDFromString(u"VorlundMime.VorlundMime", &clsid), CO_E_CLASSSTRING);
  EXPECT_EQ(
      CLSIDFromString(
          u"{00020400-0000-0000-C000-000000000046}{00020400-0000-0000-C000-000000000046}", &clsid),
      CO_E_CLASSSTRING);

  OLECHAR wide[39];
  EXPECT_EQ(StringFromGUID2(IID_IDispatch, wide, 38), 0);  // no room for the NUL
  ASSERT_EQ(StringFromGUID2(IID_IDispatch, wide, 39), 39);
  EXPECT_EQ(std::u16string(wide), u"{00020400-0000-0000-C000-000000000046}");
}

TEST(Uuid, LowerCaseRandomAndDistinct) {
  const std::regex form("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}");
  std::set<std::string> seen;
  for (int i = 0; i < 500; ++i) {
    UUID id;
    ASSERT_EQ(UuidCreate(&id), RPC_S_OK);
    unsigned char* text = nullptr;
    ASSERT_EQ(UuidToStringA(&id, &text), RPC_S_OK);
    std::string s(reinterpret_cast<char*>(text));
    // The version and variant bits land where the text form shows them.
    EXPECT_TRUE(std::regex_match(s, form)) << s;
    seen.insert(s);
    RpcStringFreeA(&text);
    EXPECT_EQ(text, nullptr);
  }
  EXPECT_EQ(seen.size(), 500u);
}
