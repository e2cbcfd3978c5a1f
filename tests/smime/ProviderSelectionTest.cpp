// Provider and algorithm selection: the acquisition ladder with its log texts, the algorithm
// lookups and the OIDs of algorithm records.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/User.h"
#include "smime/CryptoSP.h"
#include "smime/CspSettings.h"
#include "smime/VR_Crypt.h"
#include "tests/platform/CertTestSupport.h"
#include "tests/support/RecordingLog.h"

namespace {

const char* const kBase = "Microsoft Base Cryptographic Provider v1.0";
const char* const kEnhanced = "Microsoft Enhanced Cryptographic Provider v1.0";
const char* const kAes = "Microsoft Enhanced RSA and AES Cryptographic Provider (Prototype)";

class ProviderSelection : public FreshCertRoot {
 protected:
  void TearDown() override {
    setUserNameForTesting(nullptr);
    FreshCertRoot::TearDown();
  }
};

TEST_F(ProviderSelection, PreferencesAndTheirFallbacks) {
  // What is asked for (provider, container, type, hash, cipher), what is used (provider, or
  // null for none, hash, cipher), and the log.
  const struct {
    struct {
      const char *provider, *container;
      int32_t type;
      const char *hash, *cipher;
    } asked;
    struct {
      const char *provider, *hash, *cipher;
    } used;
    std::vector<std::string> log;
  } cases[] = {
      {{"", "", 1, "SHA-1", "AES"},
       {nullptr, nullptr, nullptr},
       {"error: VR_Crypt::setPreferences -- provider is missing"}},
      // A type-1 provider asked for with the AES provider's type: the type-1 ladder takes it.
      {{kEnhanced, "", 24, "SHA-1", "3DES"},
       {kEnhanced, "SHA-1", "3DES"},
       {std::string("ProviderName=") + kEnhanced,
        "KeyContainerName=", "info: Acquiring crypt context (5)",
        "info: Acquiring crypt context (6)", "info: Acquiring crypt context (7)",
        "info: Acquiring crypt context (8)", std::string("ProviderName=") + kEnhanced,
        "KeyContainerName=", "info: Acquiring crypt context (17)",
        "error: Cannot create CSP according to preferences.", std::string("provider=") + kEnhanced,
        "keyContainer=", "providerType=24", "using_algorithm=3DES"}},
      // An unknown provider ends on the base one (the user's container made above opens at
      // once); unknown algorithm names end on the defaults.
      {{"No Such CSP", "box", 1, "SHA-999", "Blowfish"},
       {kBase, "SHA-1", "AES"},
       {"ProviderName=No Such CSP",
        "KeyContainerName=box",
        "info: Acquiring crypt context (5)",
        "info: Acquiring crypt context (6)",
        "info: Acquiring crypt context (7)",
        "info: Acquiring crypt context (8)",
        "ProviderName=No Such CSP",
        "KeyContainerName=box",
        "info: Acquiring crypt context (17)",
        "info: Acquiring crypt context (18)",
        "info: Acquiring crypt context (19)",
        "info: Acquiring crypt context (20)",
        "ProviderName=No Such CSP",
        "info: Acquiring crypt context (13)",
        "info: Acquiring crypt context (14)",
        "info: Acquiring crypt context (15)",
        "info: Acquiring crypt context (16)",
        "requested_csp=No Such CSP",
        "error: Cannot create requested provider, using default.",
        "error: Cannot create CSP according to preferences.",
        "provider=No Such CSP",
        "keyContainer=box",
        "providerType=1",
        "error: Failed to get requested encryption algorithm",
        "requested_algorithm=Blowfish",
        "using_algorithm=AES"}},
      // The exact provider makes the container it names, which then opens with flags 0.
      {{kAes, "box", 24, "sha-256", "rc2"},
       {kAes, "SHA-256", "RC2"},
       {std::string("ProviderName=") + kAes, "KeyContainerName=box",
        "info: Acquiring crypt context (5)", "using_algorithm=RC2"}},
      {{kAes, "box", 24, "MD5", "des"}, {kAes, "MD5", "DES"}, {"using_algorithm=DES"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.asked.provider);
    CspSettings settings;
    settings.providerName.append(c.asked.provider);
    settings.keyContainerName.append(c.asked.container);
    settings.providerType = c.asked.type;
    settings.hashAlgorithm.append(c.asked.hash);
    settings.encryptAlgorithm.append(c.asked.cipher);
    VR_Crypt crypt;
    RecordingLog log;
    crypt.setPreferences(settings, &log);
    EXPECT_EQ(log.lines, c.log);
    if (c.used.provider == nullptr) {
      EXPECT_EQ(crypt.provider, nullptr);
      EXPECT_EQ(crypt.hashAlg, nullptr);
      EXPECT_EQ(crypt.encryptAlg, nullptr);
      continue;
    }
    ASSERT_NE(crypt.provider, nullptr);
    EXPECT_STREQ(crypt.provider->providerName(), c.used.provider);
    ASSERT_NE(crypt.hashAlg, nullptr);
    ASSERT_NE(crypt.encryptAlg, nullptr);
    EXPECT_STREQ(crypt.hashAlg->name.getString(), c.used.hash);
    EXPECT_STREQ(crypt.encryptAlg->name.getString(), c.used.cipher);
  }
}

TEST_F(ProviderSelection, OidsOfAlgorithmRecords) {
  const struct {
    ALG_ID id;
    uint32_t bits;
    const char* name;
    const char* oid;
    bool known;
  } cases[] = {
      {CALG_SHA1, 160, "SHA-1", "1.3.14.3.2.26", true},
      {CALG_SHA1, 160, "sha1", "1.3.14.3.2.26", true},
      {CALG_SHA1, 160, "SHA", "1.3.14.3.2.18", true},
      {CALG_MD5, 128, "MD5", "1.2.840.113549.2.5", true},
      {CALG_MD4, 128, "md4", "1.2.840.113549.2.4", true},
      {CALG_MD2, 128, "MD2", "1.2.840.113549.2.2", true},
      {CALG_SHA_256, 256, "SHA-256", "2.16.840.1.101.3.4.2.1", true},
      {CALG_SHA_256, 256, "sha256", "2.16.840.1.101.3.4.2.1", true},
      {CALG_SHA_384, 384, "SHA-384", "2.16.840.1.101.3.4.2.2", true},
      {CALG_SHA_512, 512, "SHA512", "2.16.840.1.101.3.4.2.3", true},
      {CALG_SHA_512, 512, "SHA 512", "1.3.14.3.2.26", false},
      {CALG_AES, 128, "AES", "2.16.840.1.101.3.4.1.2", true},
      {CALG_AES, 192, "aes", "2.16.840.1.101.3.4.1.22", true},
      {CALG_AES, 256, "AES", "2.16.840.1.101.3.4.1.42", true},
      {CALG_AES, 0, "AES", "2.16.840.1.101.3.4.1.42", true},
      {0x660E, 128, "AES-128", "1.2.840.113549.3.2", false},
      {CALG_RC2, 40, "RC2", "1.2.840.113549.3.2", true},
      {CALG_RC2, 128, "rc2", "1.2.840.113549.3.2", true},
      {CALG_RC4, 128, "RC4", "1.2.840.113549.3.4", true},
      {CALG_DES, 56, "DES", "1.3.14.3.2.7", true},
      {CALG_3DES, 168, "3DES", "1.2.840.113549.3.7", true},
      {0x4C01, 0, "3des", "1.2.840.113549.3.7", true},  // a message-encryption class id
      {0x2400, 1024, "RSA_SIGN", "", false},
      {0xA400, 1024, "RSA_KEYX", "", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name) + "/" + std::to_string(c.bits));
    const CryptoAlg alg(c.id, c.bits, c.name, uint32_t(std::strlen(c.name) + 1));
    StringBuffer oid("x");
    EXPECT_EQ(alg.getOid(oid), c.known);
    EXPECT_EQ(std::string(oid.getString()), std::string("x") + c.oid);
  }
}

TEST_F(ProviderSelection, DefaultLadderUserNameAndItsFailure) {
  setUserNameForTesting("IWAM_WEB");
  EXPECT_EQ(VR_Crypt().isIwamUser, 1);
  setUserNameForTesting("iwam_web");
  EXPECT_EQ(VR_Crypt().isIwamUser, 0);
  setUserNameForTesting("IWAM");
  EXPECT_EQ(VR_Crypt().isIwamUser, 0);

  VR_Crypt crypt;
  RecordingLog log;
  EXPECT_STREQ(crypt.userName.getString(), "IWAM");
  ASSERT_TRUE(crypt.ensureDefaultProvider(log, 0));
  ASSERT_NE(crypt.provider, nullptr);
  EXPECT_STREQ(crypt.provider->providerName(), kBase);
  EXPECT_STREQ(crypt.provider->containerName(), "IWAM");
  EXPECT_EQ(crypt.provider->providerType(), 1u);
  EXPECT_EQ(crypt.provider->implType(), CRYPT_IMPL_SOFTWARE);
  EXPECT_EQ(crypt.provider->version(), 0x200u);
  std::unique_ptr<CryptoAlg> hash(crypt.provider->defaultHashAlgorithm());
  std::unique_ptr<CryptoAlg> cipher(crypt.provider->defaultEncryptAlgorithm());
  ASSERT_TRUE(hash && cipher);
  EXPECT_STREQ(hash->name.getString(), "SHA-1");
  EXPECT_EQ(cipher->algId, CALG_AES);
  EXPECT_EQ(cipher->numBits, 256u);
  EXPECT_EQ(std::unique_ptr<CryptoAlg>(crypt.provider->findHashAlgorithm("AES")), nullptr);
  EXPECT_EQ(std::unique_ptr<CryptoAlg>(crypt.provider->findEncryptAlgorithm("SHA-1")), nullptr);
  // A provider already held is kept.
  CryptoSP* held = crypt.provider;
  EXPECT_TRUE(crypt.ensureDefaultProvider(log, 0));
  EXPECT_EQ(crypt.provider, held);
  EXPECT_EQ(log.lines, std::vector<std::string>{"info: Acquiring crypt context (1)"});

  // No container can be made or opened: every rung of the ladder fails, in order.
  std::filesystem::remove_all(root_.path() + "/keys");
  std::FILE* f = std::fopen((root_.path() + "/keys").c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  setUserNameForTesting("someone");
  VR_Crypt none;
  RecordingLog failed;
  EXPECT_FALSE(none.ensureDefaultProvider(failed, CRYPT_MACHINE_KEYSET));
  EXPECT_EQ(none.provider, nullptr);
  std::vector<std::string> attempts;
  for (const auto& line : failed.lines)
    if (line.rfind("info: ", 0) == 0) attempts.push_back(line.substr(line.rfind('(')));
  std::vector<std::string> expected;
  for (int first : {1, 17, 13, 13, 13, 13, 17, 17, 17, 17})
    for (int i = 0; i < 4; ++i) expected.push_back("(" + std::to_string(first + i) + ")");
  EXPECT_EQ(attempts, expected);
  ASSERT_GE(failed.lines.size(), 2u);
  EXPECT_EQ(failed.lines[failed.lines.size() - 2], "logged_on_user=someone");
  EXPECT_EQ(failed.lines.back(), "error: Failed to get Cryptographic Service Provider");
}

}  // namespace
