// Certificate records, stores, the search list and chains, with their log texts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/ByteCodecs.h"
#include "foundation/LogBase.h"
#include "smime/CertChain.h"
#include "smime/Certificate.h"
#include "smime/CertificateStore.h"
#include "smime/VR_Registry.h"
#include "tests/platform/CertTestSupport.h"
#include "tests/support/RecordingLog.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"

namespace {

std::string base64Of(const TestCert& c) {
  StringBuffer b64;
  encodeBase64(c.der.data(), uint32_t(c.der.size()), b64);
  return b64.getString();
}

Certificate* recordOf(const TestCert& c, LogBase* log = nullptr) {
  const std::string b64 = base64Of(c);
  return new Certificate(b64.c_str(), uint32_t(b64.size()), log);
}

std::vector<std::string> partsOf(const ExtPtrArray& parts) {
  std::vector<std::string> out;
  for (int32_t i = 0; i < parts.getSize(); ++i)
    out.push_back(std::string(parts.getAs<StringPair>(i)->key.getString()) + "|" +
                  parts.getAs<StringPair>(i)->value.getString());
  return out;
}

std::vector<uint8_t> flagsOf(const Certificate& c) {
  return {c.digitalSignature,        c.nonRepudiation, c.keyEncipherment,
          c.dataEncipherment,        c.keyCertSign,    c.cRLSign,
          c.hasExtendedKeyUsage,     c.forSecureEmail, c.forServerAuthentication,
          c.forClientAuthentication, c.forCodeSigning, c.forTimeStamping};
}

class CertificateLayer : public FreshCertRoot {
 protected:
  void SetUp() override {
    FreshCertRoot::SetUp();
    CertChain::resetStoreAvailabilityForTesting();
  }
};

}  // namespace

TEST(CertificateParts, DistinguishedNamesSplitOutsideQuotes) {
  const struct {
    const char* dn;
    std::vector<std::string> parts;
  } cases[] = {
      {"C=DE, O=Example, CN=Alice", {"C|DE", "O|Example", "CN|Alice"}},
      {"CN=\"Doe, John\", O=x", {"CN|\"Doe, John\"", "O|x"}},
      {"cn = a\\,b , e=\tq@x\r\n", {"CN|a\\,b", "E|q@x"}},
      {"CN=a=b, O=, =v, plain", {"O|", "|v"}},
      {"CN=\"x=y\"", {"CN|\"x=y\""}},
      {"\xe4\xf6=v", {"\xc4\xd6|v"}},
      {"", {}},
  };
  for (const auto& c : cases) {
    StringBuffer dn(c.dn);
    ExtPtrArray parts;
    splitDnParts(dn, parts);
    EXPECT_EQ(partsOf(parts), c.parts) << c.dn;
    parts.removeAllObjects();
  }
}

TEST_F(CertificateLayer, RecordsDeriveNamesUsagesAndAddresses) {
  const TestCert ca = makeCa("Layer CA");
  CertSpec spec;
  spec.subject = {{"C", "DE"}, {"O", "Doe, Inc."}, {"CN", "John"}};
  spec.issuer = &ca;
  spec.extensions = {
      {"keyUsage", "digitalSignature,nonRepudiation,dataEncipherment,cRLSign"},
      {"subjectAltName", "email:first@example.org,DNS:x.org,email:last@example.org"},
      {"extendedKeyUsage", "emailProtection,clientAuth,codeSigning,timeStamping,serverAuth"}};
  std::unique_ptr<Certificate> cert(recordOf(makeCert(spec)));
  ASSERT_NE(cert->context, nullptr);
  EXPECT_STREQ(cert->subjectDn.getString(), "C=DE, O=\"Doe, Inc.\", CN=John");
  EXPECT_STREQ(cert->issuerDn.getString(), "C=DE, O=Vorlund Test, CN=Layer CA");
  EXPECT_EQ(partsOf(cert->subjectParts),
            (std::vector<std::string>{"C|DE", "O|\"Doe, Inc.\"", "CN|John"}));
  EXPECT_EQ(partsOf(cert->issuerParts).size(), 3u);
  StringBuffer simple;
  cert->getSubjectName(simple);
  EXPECT_STREQ(simple.getString(), "DE, \"Doe, Inc.\", John");
  EXPECT_STREQ(cert->rfc822Name.getString(), "last@example.org") << "the last address wins";
  EXPECT_EQ(flagsOf(*cert), (std::vector<uint8_t>{1, 1, 0, 1, 0, 1, 1, 1, 1, 1, 1, 1}));
  EXPECT_FALSE(cert->isSelfSigned());
  EXPECT_FALSE(cert->isExpired());

  // Without extended key usage every usage flag is 0; a clone is an equal record.
  CertSpec plain;
  plain.subject = {{"CN", "Plain"}};
  std::unique_ptr<Certificate> bare(recordOf(makeCert(plain)));
  EXPECT_EQ(flagsOf(*bare), std::vector<uint8_t>(12, 0));
  EXPECT_TRUE(bare->isSelfSigned());
  EXPECT_TRUE(bare->rfc822Name.isEmpty());
  std::unique_ptr<Certificate> copy(bare->clone());
  ASSERT_NE(copy, nullptr);
  EXPECT_TRUE(copy->subjectDn.equalsSb(bare->subjectDn));
  EXPECT_NE(copy->context, bare->context);

  // Empty and undecodable records, with the texts of their failures.
  RecordingLog log;
  Certificate empty(nullptr, 0, &log);
  EXPECT_EQ(empty.context, nullptr);
  EXPECT_TRUE(empty.isExpired());
  EXPECT_EQ(empty.clone(), nullptr);
  StringBuffer out;
  EXPECT_FALSE(empty.getEncoded(out, &log));
  Certificate garbage("Z2FyYmFnZQ==", 12, &log);
  EXPECT_EQ(garbage.context, nullptr);
  EXPECT_EQ(log.lines, (std::vector<std::string>{
                           "error: Failed to get encoded certificate: no cert context found",
                           "error: CertCreateCertificateContext: ASN1 bad tag value met."}));
}

TEST_F(CertificateLayer, TrustFlagsComeFromTheChainAgainstTheRootStores) {
  const TestCert root = makeCa("Trust Root");
  const TestCert inter = makeCa("Trust Inter", &root);
  ASSERT_TRUE(addToSystemStore(u"ROOT", CERT_SYSTEM_STORE_LOCAL_MACHINE, root));
  ASSERT_TRUE(addToSystemStore(u"CA", CERT_SYSTEM_STORE_CURRENT_USER, inter));
  const struct {
    TestCert cert;
    uint8_t signatureVerified, trustedRoot, expired;
  } cases[] = {
      {makeUser("good", inter), 1, 1, 0},
      {makeUser("expired", inter, -1), 1, 1, 1},
      {makeCa("Untrusted"), 1, 0, 0},
      {makeUser("orphan", makeCa("Unknown")), 1, 0, 0},
  };
  for (const auto& c : cases) {
    std::unique_ptr<Certificate> cert(recordOf(c.cert));
    EXPECT_EQ((std::vector<uint8_t>{cert->signatureVerified, cert->trustedRoot, cert->expired,
                                    cert->revoked}),
              (std::vector<uint8_t>{c.signatureVerified, c.trustedRoot, c.expired, 0}))
        << cert->subjectDn.getString();
  }
}

TEST_F(CertificateLayer, StoresAddFindAndLabel) {
  TempDir dir;
  const TestCert ca = makeCa("Store CA");
  std::unique_ptr<Certificate> cert(recordOf(makeUser("bob", ca)));
  const std::string path = dir.file("bob.sst");
  std::unique_ptr<CertificateStore> file(CertificateStore::openFile(path.c_str(), false, nullptr));
  ASSERT_NE(file, nullptr);
  RecordingLog log;
  EXPECT_TRUE(file->addCertificate(cert.get(), &log));
  const std::string saved = readWholeFile(path);
  EXPECT_FALSE(saved.empty());
  EXPECT_TRUE(file->addCertificate(cert.get(), &log));
  EXPECT_FALSE(file->addCertificate(nullptr, &log));
  const std::string label = "(file) " + path;
  EXPECT_EQ(log.lines, (std::vector<std::string>{
                           "adding_cert=DE, Vorlund Test, bob", "cert_store_location=" + label,
                           "info: Successfully added certificate to certificate store.",
                           "adding_cert=DE, Vorlund Test, bob", "cert_store_location=" + label,
                           "info: Certificate already exists in store, no need to add.",
                           "error: NULL value passed to addCertificate"}));
  EXPECT_EQ(readWholeFile(path), saved) << "nothing saved for a certificate already there";
  file.reset();

  std::unique_ptr<CertificateStore> again(CertificateStore::openFile(path.c_str(), true, nullptr));
  ASSERT_NE(again, nullptr);
  std::unique_ptr<Certificate> found(again->findBySubjectDn(cert->subjectDn, false));
  ASSERT_NE(found, nullptr);
  EXPECT_TRUE(found->subjectDn.equalsSb(cert->subjectDn));
  EXPECT_EQ(again->findBySubjectDn(cert->issuerDn, true), nullptr);
  PCCERT_CONTEXT bySigner = again->findBySignerId(cert->context->pCertInfo);
  EXPECT_NE(bySigner, nullptr);
  CertFreeCertificateContext(bySigner);

  writeWholeFile(dir.file("garbage.sst"), "garbage");
  log.lines.clear();
  EXPECT_EQ(CertificateStore::openFile(dir.file("garbage.sst").c_str(), true, &log), nullptr);
  EXPECT_EQ(
      log.lines,
      (std::vector<std::string>{"error: An error occurred while reading or writing to a file."}));

  const struct {
    CertificateStore* (*open)(bool, LogBase*);
    const char* label;
    int32_t kind;
  } systems[] = {
      {&CertificateStore::openCurrentUserPersonal,
       "(registry) HKEY_CURRENT_USER/[Current User Certificate Store]", 1},
      {&CertificateStore::openCurrentUserCa,
       "(registry) HKEY_CURRENT_USER/[CA Current User Certificate Store]", 1},
      {&CertificateStore::openLocalMachineCa,
       "(registry) HKEY_LOCAL_MACHINE/[CA Local Machine Certificate Store]", 2},
      {&CertificateStore::openLocalMachineRoot,
       "(registry) HKEY_LOCAL_MACHINE/[ROOT Local Machine Certificate Store]", 2},
      {&CertificateStore::openLocalMachineAuthRoot,
       "(registry) HKEY_LOCAL_MACHINE/[AuthRoot Local Machine Certificate Store]", 2},
      {&CertificateStore::openLocalMachinePersonal,
       "(registry) HKEY_LOCAL_MACHINE/[Local Machine Certificate Store]", 2},
  };
  for (const auto& s : systems) {
    std::unique_ptr<CertificateStore> store(s.open(false, nullptr));
    ASSERT_NE(store, nullptr) << s.label;
    StringBuffer where;
    store->locationLabel(where);
    EXPECT_STREQ(where.getString(), s.label);
    EXPECT_EQ(store->spec.kind, s.kind);
  }
}

TEST_F(CertificateLayer, SearchListAndRegistryPaths) {
  VR_Registry registry;
  HKEY made = nullptr;
  ASSERT_EQ(
      RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Microsoft\\SystemCertificates\\AddressBook", 0,
                      nullptr, 0, KEY_ALL_ACCESS, nullptr, &made, nullptr),
      ERROR_SUCCESS);
  RegCloseKey(made);
  for (const char* path : {"Software/Microsoft/SystemCertificates/AddressBook",
                           "//Software//Microsoft/SystemCertificates/AddressBook/"}) {
    HKEY k = registry.openKeyPath(HKEY_CURRENT_USER, path, true, nullptr);
    EXPECT_NE(k, nullptr) << path;
    RegCloseKey(k);
  }
  for (const char* path : {"", "/", "Software/Nowhere", "Software/Microsoft/Nowhere/Deeper"})
    EXPECT_EQ(registry.openKeyPath(HKEY_CURRENT_USER, path, true, nullptr), nullptr) << path;

  // The own registry store's key does not exist: it is skipped; the other three open.
  ExtPtrArray stores;
  RecordingLog log;
  openStoreList(stores, true, &log);
  std::vector<std::string> labels;
  for (int32_t i = 0; i < stores.getSize(); ++i) {
    StringBuffer where;
    stores.getAs<CertificateStore>(i)->locationLabel(where);
    labels.push_back(where.getString());
  }
  stores.removeAllObjects();
  EXPECT_EQ(labels,
            (std::vector<std::string>{
                "(registry) HKEY_LOCAL_MACHINE/[Local Machine Certificate Store]",
                "(registry) HKEY_CURRENT_USER/Software/Microsoft/SystemCertificates/AddressBook",
                "(registry) HKEY_CURRENT_USER/[Current User Certificate Store]"}));
  EXPECT_TRUE(log.lines.empty());
  for (const auto& [name, iwam] : std::vector<std::pair<const char*, bool>>{
           {"IWAM_WEB", true}, {"iwam_web", false}, {"IWAM", false}, {"", false}})
    EXPECT_EQ(isIwamUserName(name), iwam) << name;
}

TEST_F(CertificateLayer, ChainsStopAtRootsExpiredIssuersAndSelfSignedEnds) {
  const TestCert root = makeCa("Chain Root");
  const TestCert inter = makeCa("Chain Inter", &root);
  const TestCert expiredInter = makeCa("Chain Old", &root, -1);
  ASSERT_TRUE(addToSystemStore(u"ROOT", CERT_SYSTEM_STORE_LOCAL_MACHINE, root));
  ASSERT_TRUE(addToSystemStore(u"CA", CERT_SYSTEM_STORE_LOCAL_MACHINE, inter));
  ASSERT_TRUE(addToSystemStore(u"CA", CERT_SYSTEM_STORE_CURRENT_USER, expiredInter));
  const struct {
    TestCert cert;
    int32_t count;
  } cases[] = {
      {makeUser("chained", inter), 2},
      {makeUser("under old", expiredInter), 1},
      {makeCa("Lone"), 1},
      {root, 1},
  };
  CertChain chain;
  for (const auto& c : cases) {
    std::unique_ptr<Certificate> cert(recordOf(c.cert));
    EXPECT_TRUE(chain.buildChain(cert.get()));
    EXPECT_EQ(chain.count(), c.count) << cert->subjectDn.getString();
    EXPECT_NE(chain.contextAt(0), nullptr);
    EXPECT_EQ(chain.contextAt(c.count), nullptr);
    EXPECT_EQ(chain.contextAt(-1), nullptr);
  }
  std::unique_ptr<Certificate> user(recordOf(cases[0].cert));
  chain.buildChain(user.get());
  ASSERT_EQ(chain.count(), 2);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(chain.contextAt(1)->pbCertEncoded),
                        chain.contextAt(1)->cbCertEncoded),
            inter.der);
  chain.buildChain(nullptr);
  EXPECT_EQ(chain.count(), 0);
  for (int i = 0; i < 5; ++i) EXPECT_TRUE(CertChain::storeAvailableForTesting(i));
}
