// The message operations of VR_Crypt against `openssl cms` and `gpgsm`, with the log texts of
// their failures.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "foundation/DataBuffer.h"
#include "foundation/ExtPtrArray.h"
#include "platform/KeyContainer.h"
#include "platform/User.h"
#include "smime/Certificate.h"
#include "smime/CertificateStore.h"
#include "smime/CspSettings.h"
#include "smime/VR_Crypt.h"
#include "tests/platform/CertTestSupport.h"
#include "tests/support/Gpgsm.h"
#include "tests/support/RecordingLog.h"

namespace {

std::string textOf(const DataBuffer& b) {
  return std::string(reinterpret_cast<const char*>(b.getData()), b.getSize());
}

bool contains(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

const std::string kText = "Content-Type: text/plain\r\n\r\nSigned and sealed.\r\n";
const auto* const kBytes = reinterpret_cast<const unsigned char*>(kText.data());
const uint32_t kLength = uint32_t(kText.size());

class MessageOperations : public FreshCertRoot {
 protected:
  TempDir files_;
  TestCert ca_ = makeCa("Operations Root");
  TestCert alice_ = makeUser("alice", ca_);
  TestCert bob_ = makeUser("bob", ca_);
  TestCert carol_ = makeUser("carol", ca_);
  std::unique_ptr<Certificate> alice_rec_, bob_rec_, carol_rec_;

  void SetUp() override {
    FreshCertRoot::SetUp();
    writeWholeFile(file("ca.pem"), ca_.pem());
    writeWholeFile(file("data"), kText);
    writeCertsAndKeys(files_, {{"alice", &alice_}, {"bob", &bob_}, {"carol", &carol_}});
    alice_rec_ = std::make_unique<Certificate>(installWithKey(alice_, u"alice-box").release());
    bob_rec_ = std::make_unique<Certificate>(installWithKey(bob_, u"bob-box").release());
    carol_rec_ = std::make_unique<Certificate>(contextOf(carol_).release());
  }
  void TearDown() override {
    setUserNameForTesting(nullptr);
    FreshCertRoot::TearDown();
  }

  std::string file(const std::string& name) const { return files_.file(name); }
  int run(const std::string& command) { return runQuietly(command); }
  void put(const std::string& name, const DataBuffer& b) { writeWholeFile(file(name), textOf(b)); }
  std::unique_ptr<DataBuffer> get(const std::string& name) {
    auto b = std::make_unique<DataBuffer>();
    const std::string s = readWholeFile(file(name));
    b->append(s.data(), uint32_t(s.size()));
    return b;
  }
  std::string printed(const std::string& name) {
    run("openssl cms -cmsout -print -inform DER -in " + file(name) + " -out " + file("print"));
    return readWholeFile(file("print"));
  }
};

TEST_F(MessageOperations, SignaturesInteroperate) {
  // Ours, accepted by OpenSSL, gpgsm and ourselves; SHA-256 when the settings ask for it.
  CspSettings sha256;
  sha256.providerName.append("Microsoft Enhanced RSA and AES Cryptographic Provider (Prototype)");
  sha256.providerType = PROV_RSA_AES;
  sha256.hashAlgorithm.append("SHA-256");
  for (bool detached : {true, false}) {
    SCOPED_TRACE(detached ? "detached" : "attached");
    VR_Crypt crypt;
    crypt.setPreferences(sha256, nullptr);
    RecordingLog log;
    std::unique_ptr<DataBuffer> sig(
        detached ? crypt.createDetachedSignature(alice_rec_.get(), kBytes, kLength, &log)
                 : crypt.createAttachedSignature(alice_rec_.get(), kBytes, kLength, &log));
    ASSERT_NE(sig, nullptr);
    EXPECT_TRUE(contains(log.lines, "hashOid=2.16.840.1.101.3.4.2.1"));
    put("ours", *sig);
    EXPECT_NE(printed("ours").find("sha256"), std::string::npos);
    EXPECT_EQ(run("openssl cms -verify -binary -inform DER -in " + file("ours") + " -CAfile " +
                  file("ca.pem") + (detached ? " -content " + file("data") : "")),
              0);
    EXPECT_EQ(gpgsmVerify(ca_, file("ours"), detached ? file("data") : "", file("gpgsm.log")), 0)
        << readWholeFile(file("gpgsm.log"));
    Certificate* signer = nullptr;
    if (detached) {
      EXPECT_TRUE(VR_Crypt().verifyDetachedSignature(sig.get(), kBytes, kLength, nullptr, &signer,
                                                     nullptr));
    } else {
      DataBuffer* content = nullptr;
      EXPECT_TRUE(VR_Crypt().verifySignature(sig.get(), &content, &signer, nullptr));
      ASSERT_NE(content, nullptr);
      EXPECT_EQ(textOf(*content), kText);
      delete content;
    }
    ASSERT_NE(signer, nullptr);
    EXPECT_EQ(signer->context->cbCertEncoded, alice_.der.size());
    delete signer;
  }

  // OpenSSL's: two signers, no signer, a signer certificate only in the user's store.
  const std::string sign = "openssl cms -sign -binary -outform DER -in " + file("data");
  const std::string alice = " -signer " + file("alice.pem") + " -inkey " + file("alice.key");
  const std::string bob = " -signer " + file("bob.pem") + " -inkey " + file("bob.key");
  ASSERT_EQ(run(sign + alice + bob + " -out " + file("two")), 0);
  ASSERT_EQ(run(sign + alice + " -nocerts -out " + file("nocerts")), 0);
  ASSERT_EQ(run(sign + alice + " -nodetach -out " + file("attached")), 0);
  ASSERT_EQ(run("openssl crl2pkcs7 -nocrl -outform DER -certfile " + file("bob.pem") + " -out " +
                file("nosigner")),
            0);
  ASSERT_EQ(run(sign + " -signer " + file("carol.pem") + " -inkey " + file("carol.key") +
                " -nocerts -out " + file("unknown")),
            0);
  HCERTSTORE mem = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
  CertificateStore collected;
  collected.store = mem;
  collected.isInMemory = 1;
  const struct {
    const char* file;
    bool ok;
    const TestCert* signer;
  } cases[] = {{"two", true, &bob_},
               {"nocerts", true, &alice_},
               {"nosigner", true, nullptr},
               {"unknown", false, nullptr}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const auto sig = get(c.file);
    Certificate* signer = nullptr;
    RecordingLog log;
    EXPECT_EQ(
        VR_Crypt().verifyDetachedSignature(sig.get(), kBytes, kLength, &collected, &signer, &log),
        c.ok);
    EXPECT_EQ(signer != nullptr
                  ? std::string(reinterpret_cast<char*>(signer->context->pbCertEncoded),
                                signer->context->cbCertEncoded)
                  : "",
              c.signer != nullptr ? c.signer->der : "");
    delete signer;
    if (!c.ok) {
      EXPECT_EQ(log.lines, (std::vector<std::string>{
                               "error: Failed to verify signature;", "dwErrorCode=80092004",
                               "error: verifyDetachedSignature.3: Cannot find object or "
                               "property."}));
    }
  }
  EXPECT_EQ(countIn(mem), 2) << "both signers of the first message, the second's once more";
  DataBuffer* content = nullptr;
  EXPECT_TRUE(VR_Crypt().verifySignature(get("attached").get(), &content, nullptr, nullptr));
  ASSERT_NE(content, nullptr);
  EXPECT_EQ(textOf(*content), kText);
  delete content;

  // A changed byte of signed content, and signatures that cannot be made.
  std::string changed = kText;
  changed[5] ^= 1;
  RecordingLog log;
  EXPECT_FALSE(VR_Crypt().verifyDetachedSignature(
      get("two").get(), reinterpret_cast<const unsigned char*>(changed.data()), kLength, nullptr,
      nullptr, &log));
  EXPECT_EQ(log.lines, (std::vector<std::string>{
                           "error: Failed to verify signature;", "dwErrorCode=80091007",
                           "error: verifyDetachedSignature.2: The hash value is not correct."}));
  RecordingLog noKey;
  VR_Crypt crypt;
  crypt.setHashAlg(new CryptoAlg(CALG_SHA1, 160, "SHA-999", 8));
  EXPECT_EQ(crypt.createAttachedSignature(carol_rec_.get(), kBytes, kLength, &noKey), nullptr);
  const std::vector<std::string> tail(noKey.lines.end() - 5, noKey.lines.end());
  EXPECT_EQ(tail, (std::vector<std::string>{
                      "error: Unsupported hash algorithm.  Please contact Vorlund Software for "
                      "support.",
                      "alg_name=SHA-999", "alg_bits=160", "hashOid=1.3.14.3.2.26",
                      "error: createAttachedSignature.2: Cannot find the certificate and private "
                      "key for decryption."}));
  RecordingLog nulls;
  EXPECT_EQ(VR_Crypt().createDetachedSignature(nullptr, kBytes, kLength, &nulls), nullptr);
  EXPECT_EQ(VR_Crypt().verifyDetachedSignature(nullptr, kBytes, 0, nullptr, nullptr, &nulls),
            false);
  EXPECT_EQ(nulls.lines,
            (std::vector<std::string>{"error: createDetachedSignature.3: certificate param is null",
                                      "error: verifyDetachedSignature.1: invalid parameters",
                                      "error: digital signature is missing",
                                      "error: length of signed data is 0"}));
}

TEST_F(MessageOperations, EnvelopesInteroperate) {
  // Ours, opened by OpenSSL: the default AES-256, and RC2 records of 128 and 40 bits.
  const struct {
    CryptoAlg* alg;
    const char* oid;
    const char* cipher;
  } ours[] = {{nullptr, "encryptOid=2.16.840.1.101.3.4.1.42", "aes-256-cbc"},
              {new CryptoAlg(CALG_RC2, 128, "RC2", 3), "encryptOid=1.2.840.113549.3.2", "rc2-cbc"},
              {new CryptoAlg(CALG_RC2, 40, "RC2", 3), "encryptOid=1.2.840.113549.3.2", "rc2-cbc"}};
  for (const auto& c : ours) {
    SCOPED_TRACE(c.alg != nullptr ? c.alg->numBits : 0);
    VR_Crypt crypt;
    crypt.setEncryptAlg(c.alg);
    DataBuffer env;
    RecordingLog log;
    ASSERT_TRUE(crypt.encryptData(kBytes, kLength, env, alice_rec_.get(), &log));
    EXPECT_TRUE(contains(log.lines, c.oid));
    put("env", env);
    EXPECT_NE(printed("env").find(c.cipher), std::string::npos);
    EXPECT_EQ(run("openssl cms -decrypt -binary -inform DER -in " + file("env") + " -recip " +
                  file("alice.pem") + " -inkey " + file("alice.key") +
                  " -provider legacy -provider default -out " + file("plain")),
              0);
    EXPECT_EQ(readWholeFile(file("plain")), kText);
  }

  // OpenSSL's, opened by ours from the user's personal store. Each cipher and key transport
  // OpenSSL writes is covered by the message functions' own tests; here, the store lookup.
  const std::string enc = "openssl cms -encrypt -binary -outform DER -in " + file("data") +
                          " -provider legacy -provider default -out " + file("env") + " -recip ";
  const struct {
    const char* options;
    const char* recipient;
    bool ok;
  } theirs[] = {
      {"", "alice.pem", true}, {" -aes256", "bob.pem", true}, {" -aes256", "carol.pem", false}};
  for (const auto& c : theirs) {
    SCOPED_TRACE(c.options);
    ASSERT_EQ(run(enc + file(c.recipient) + c.options), 0);
    const auto env = get("env");
    DataBuffer out;
    out.append("kept", 4);
    Certificate* recipient = nullptr;
    RecordingLog log;
    EXPECT_EQ(VR_Crypt().decrypt(env->getData(), env->getSize(), out, nullptr, &recipient, &log),
              c.ok);
    if (c.ok) {
      EXPECT_EQ(textOf(out), "kept" + kText);
      ASSERT_NE(recipient, nullptr);
    } else {
      EXPECT_EQ(textOf(out), "kept");
      EXPECT_EQ(recipient, nullptr);
      EXPECT_EQ(log.lines.back(),
                "error: decodeMessage.1: Cannot find the certificate and private key to use for "
                "decryption.");
    }
    delete recipient;
  }

  // Bad input appends nothing.
  DataBuffer out;
  RecordingLog log;
  const std::string garbage = "not a message";
  EXPECT_FALSE(VR_Crypt().decrypt(reinterpret_cast<const unsigned char*>(garbage.data()),
                                  uint32_t(garbage.size()), out, nullptr, nullptr, &log));
  EXPECT_FALSE(VR_Crypt().decrypt(nullptr, 0, out, nullptr, nullptr, &log));
  EXPECT_FALSE(VR_Crypt().encryptData(kBytes, 0, out, alice_rec_.get(), &log));
  EXPECT_EQ(out.getSize(), 0u);
  EXPECT_EQ(log.lines, (std::vector<std::string>{"error: decodeMessage.1: ASN1 bad tag value met.",
                                                 "error: No data to decrypt",
                                                 "error: Nothing to encrypt, data size is zero"}));
}

TEST_F(MessageOperations, WebServerAccountSearchesOnlyGivenStores) {
  DataBuffer env;
  ASSERT_TRUE(VR_Crypt().encryptData(kBytes, kLength, env, alice_rec_.get(), nullptr));
  setUserNameForTesting("IWAM_WEB");
  VR_Crypt web;
  ExtPtrArray specs;
  web.getStoreSpecs(specs);
  EXPECT_EQ(specs.getSize(), 1);
  EXPECT_EQ(specs.getAs<CertStoreSpec>(0)->kind, CertStoreSpec::kLocalMachineMy);
  specs.removeAllObjects();
  DataBuffer out;
  EXPECT_FALSE(web.decrypt(env.getData(), env.getSize(), out, nullptr, nullptr, nullptr));
  ExtPtrArray stores;
  stores.appendPtr(CertificateStore::openCurrentUserPersonal(true, nullptr));
  EXPECT_TRUE(web.decrypt(env.getData(), env.getSize(), out, &stores, nullptr, nullptr));
  EXPECT_EQ(textOf(out), kText);
  stores.removeAllObjects();
  setUserNameForTesting("webuser");
  VR_Crypt other;
  other.getStoreSpecs(specs);
  EXPECT_EQ(specs.getSize(), 4);
  specs.removeAllObjects();
}

}  // namespace
