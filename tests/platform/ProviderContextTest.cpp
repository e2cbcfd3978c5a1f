// Provider contexts: which provider and type pairs open, the key containers they open or
// make, the parameters they report and the algorithm list they enumerate.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/KeyContainer.h"
#include "platform/User.h"
#include "tests/platform/CertTestSupport.h"

namespace {

class ProviderContexts : public FreshCertRoot {};

const char* const kBase = "Microsoft Base Cryptographic Provider v1.0";
const char* const kAes = "Microsoft Enhanced RSA and AES Cryptographic Provider (Prototype)";

// The last error of an acquisition that must fail, or 0 when it succeeded (the context freed).
DWORD acquireError(const char* container, const char* provider, DWORD type, DWORD flags) {
  HCRYPTPROV h = 0xDEAD;
  if (CryptAcquireContextA(&h, container, provider, type, flags)) {
    if (h != 0) CryptReleaseContext(h, 0);
    return 0;
  }
  EXPECT_EQ(h, 0u);
  return GetLastError();
}

std::string textParam(HCRYPTPROV h, DWORD param) {
  DWORD n = 0;
  EXPECT_TRUE(CryptGetProvParam(h, param, nullptr, &n, 0));
  std::string s(n, '\0');
  DWORD small = n - 1;
  EXPECT_FALSE(CryptGetProvParam(h, param, reinterpret_cast<BYTE*>(s.data()), &small, 0));
  EXPECT_EQ(GetLastError(), ERROR_MORE_DATA);
  EXPECT_EQ(small, n);
  EXPECT_TRUE(CryptGetProvParam(h, param, reinterpret_cast<BYTE*>(s.data()), &n, 0));
  s.resize(n - 1);
  return s;
}

TEST_F(ProviderContexts, ProvidersTypesAndContainers) {
  const struct {
    const char* container;
    const char* provider;
    DWORD type;
    DWORD flags;
    DWORD error;
  } cases[] = {
      {"c1", kBase, PROV_RSA_FULL, 0, NTE_BAD_KEYSET},  // not made yet
      {"c1", kBase, PROV_RSA_FULL, CRYPT_NEWKEYSET, 0},
      {"c1", kBase, PROV_RSA_FULL, CRYPT_NEWKEYSET, NTE_EXISTS},
      {"c1", "microsoft strong cryptographic provider", PROV_RSA_FULL, 0, 0},
      {"c1", kBase, PROV_RSA_FULL, CRYPT_MACHINE_KEYSET, NTE_BAD_KEYSET},  // user's only
      {"c1", kBase, PROV_RSA_FULL, CRYPT_MACHINE_KEYSET | CRYPT_NEWKEYSET, 0},
      {"c1", kAes, PROV_RSA_FULL, 0, NTE_PROV_TYPE_NO_MATCH},
      {"c1", kBase, PROV_RSA_AES, 0, NTE_PROV_TYPE_NO_MATCH},
      {"c1", kAes, PROV_RSA_AES, 0, 0},
      {"c1", "Microsoft Base Smart Card Crypto Provider", PROV_RSA_FULL, 0, 0},
      {"c1", "Microsoft Enhanced Cryptographic Provider v1.0", PROV_RSA_FULL, 0, 0},
      {"c1", "No Such Provider", PROV_RSA_FULL, 0, NTE_KEYSET_NOT_DEF},
      {"c1", nullptr, 7, 0, NTE_PROV_TYPE_NOT_DEF},
      {"c1", kBase, PROV_RSA_FULL, 0x4, NTE_BAD_FLAGS},
      {"c1", kBase, PROV_RSA_FULL, CRYPT_DELETEKEYSET, 0},
      {"c1", kBase, PROV_RSA_FULL, 0, NTE_BAD_KEYSET},  // deleted
      {"c1", kBase, PROV_RSA_FULL, CRYPT_MACHINE_KEYSET, 0},
      {"../c1", kBase, PROV_RSA_FULL, 0, NTE_BAD_KEYSET},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.provider ? c.provider : "(null)") + " flags " +
                 std::to_string(c.flags));
    EXPECT_EQ(acquireError(c.container, c.provider, c.type, c.flags), c.error);
  }
}

TEST_F(ProviderContexts, UserContainerParametersAndAlgorithms) {
  char user[400];
  DWORD n = sizeof user;
  ASSERT_TRUE(GetUserNameA(user, &n));
  EXPECT_EQ(acquireError(nullptr, kAes, PROV_RSA_AES, 0), NTE_BAD_KEYSET);
  HCRYPTPROV h = 0;
  ASSERT_TRUE(CryptAcquireContextA(&h, nullptr, kAes, PROV_RSA_AES, CRYPT_NEWKEYSET));
  // The user's container is the one named after the user, and a new one holds no key yet.
  EXPECT_EQ(acquireError(user, kBase, PROV_RSA_FULL, 0), 0u);
  EXPECT_EQ(readKeyContainer(u"x", false), nullptr);
  EXPECT_EQ(GetLastError(), NTE_BAD_KEYSET);
  std::u16string wuser(user, user + n - 1);
  EXPECT_EQ(readKeyContainer(wuser, false), nullptr);
  EXPECT_EQ(GetLastError(), NTE_NO_KEY);

  EXPECT_EQ(textParam(h, PP_NAME), kAes);
  EXPECT_EQ(textParam(h, PP_CONTAINER), user);
  DWORD v = 0, size = sizeof v;
  EXPECT_TRUE(CryptGetProvParam(h, PP_IMPTYPE, reinterpret_cast<BYTE*>(&v), &size, 0));
  EXPECT_EQ(v, CRYPT_IMPL_SOFTWARE);
  EXPECT_TRUE(CryptGetProvParam(h, PP_VERSION, reinterpret_cast<BYTE*>(&v), &size, 0));
  EXPECT_EQ(v, 0x200u);
  EXPECT_FALSE(CryptGetProvParam(h, 99, reinterpret_cast<BYTE*>(&v), &size, 0));
  EXPECT_EQ(GetLastError(), NTE_BAD_TYPE);

  // Twice from the start: CRYPT_FIRST restarts, a short buffer does not advance.
  const std::vector<std::string> expected = {
      "AES/6611/256",   "3DES/6603/168",    "RC2/6602/128",     "DES/6601/56",
      "SHA-1/8004/160", "SHA-256/800c/256", "SHA-384/800d/384", "SHA-512/800e/512",
      "MD5/8003/128",   "MD4/8002/128",     "MD2/8001/128"};
  for (int round = 0; round < 2; ++round) {
    std::vector<std::string> got;
    DWORD flags = CRYPT_FIRST;
    PROV_ENUMALGS a;
    for (;;) {
      DWORD small = 8;
      EXPECT_FALSE(CryptGetProvParam(h, PP_ENUMALGS, reinterpret_cast<BYTE*>(&a), &small, flags));
      const DWORD smallError = GetLastError();
      size = sizeof a;
      if (!CryptGetProvParam(h, PP_ENUMALGS, reinterpret_cast<BYTE*>(&a), &size, flags)) break;
      EXPECT_EQ(smallError, ERROR_MORE_DATA);
      flags = 0;
      char buf[64];
      std::snprintf(buf, sizeof buf, "%s/%x/%u", a.szName, a.aiAlgid, a.dwBitLen);
      EXPECT_EQ(a.dwNameLen, std::strlen(a.szName) + 1);
      got.push_back(buf);
      if (round == 1 && got.size() == 3) break;
    }
    if (round == 0) {
      EXPECT_EQ(GetLastError(), ERROR_NO_MORE_ITEMS);
      EXPECT_EQ(got, expected);
    } else {
      EXPECT_EQ(got, std::vector<std::string>(expected.begin(), expected.begin() + 3));
    }
  }

  EXPECT_TRUE(CryptReleaseContext(h, 0));
  EXPECT_FALSE(CryptReleaseContext(h, 0));
  EXPECT_EQ(GetLastError(), NTE_BAD_UID);
  size = sizeof v;
  EXPECT_FALSE(CryptGetProvParam(h, PP_VERSION, reinterpret_cast<BYTE*>(&v), &size, 0));
  EXPECT_EQ(GetLastError(), NTE_BAD_UID);
}

}  // namespace
