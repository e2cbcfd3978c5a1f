// Certificate contexts, names, extension decoding, chains and PKCS #12 import, against
// certificates made by OpenSSL inside the tests.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <openssl/provider.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "platform/KeyContainer.h"
#include "platform/Registry.h"
#include "tests/platform/CertTestSupport.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"

namespace {

std::string nameString(PCCERT_CONTEXT c, DWORD type, bool issuer = false) {
  CERT_NAME_BLOB* blob = issuer ? &c->pCertInfo->Issuer : &c->pCertInfo->Subject;
  DWORD n = CertNameToStrA(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, blob, type, nullptr, 0);
  std::string s(n, '\0');
  EXPECT_EQ(CertNameToStrA(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, blob, type, s.data(), n), n);
  s.resize(n - 1);
  return s;
}

// Decodes the extension with that OID of the certificate into a fresh block.
std::vector<BYTE> decoded(PCCERT_CONTEXT c, const char* oid) {
  for (DWORD i = 0; i < c->pCertInfo->cExtension; ++i) {
    const CERT_EXTENSION& e = c->pCertInfo->rgExtension[i];
    if (std::strcmp(e.pszObjId, oid) != 0) continue;
    DWORD size = 0;
    EXPECT_TRUE(CryptDecodeObject(0x10001, oid, e.Value.pbData, e.Value.cbData, 0, nullptr, &size));
    std::vector<BYTE> block(size);
    EXPECT_TRUE(
        CryptDecodeObject(0x10001, oid, e.Value.pbData, e.Value.cbData, 0, block.data(), &size));
    return block;
  }
  return {};
}

class CertServices : public FreshCertRoot {};

}  // namespace

TEST_F(CertServices, NamesInTheSystemsX500AndSimpleForms) {
  const struct {
    std::vector<NameEntry> subject;
    const char* x500;
    const char* simple;
  } cases[] = {
      {{{"C", "DE"}, {"O", "Example"}, {"CN", "Alice"}, {"emailAddress", "alice@example.org"}},
       "C=DE, O=Example, CN=Alice, E=alice@example.org",
       "DE, Example, Alice, alice@example.org"},
      {{{"CN", "a,b"}}, "CN=\"a,b\"", "\"a,b\""},
      {{{"CN", "1+2"}}, "CN=\"1+2\"", "\"1+2\""},
      {{{"CN", " 1 "}}, "CN=\" 1 \"", "\" 1 \""},
      {{{"CN", "\"1\""}}, "CN=\"\"\"1\"\"\"", "\"\"\"1\"\"\""},
      {{{"CN", "'1'"}}, "CN='1'", "'1'"},
      {{{"CN", "", false, V_ASN1_UTF8STRING}}, "CN=\"\"", "\"\""},
      {{{"CN", "a#b;c<d>"}}, "CN=\"a#b;c<d>\"", "\"a#b;c<d>\""},
      {{{"CN", "x"}, {"O", "y", true}, {"L", "z"}}, "CN=x + O=y, L=z", "x + y, z"},
      {{{"ST", "Bayern"},
        {"street", "Hauptstr. 1"},
        {"title", "Dr"},
        {"GN", "Jo"},
        {"initials", "J"},
        {"SN", "Doe"},
        {"DC", "org"},
        {"serialNumber", "42"},
        {"postalCode", "80331"}},
       "S=Bayern, STREET=Hauptstr. 1, T=Dr, G=Jo, I=J, SN=Doe, DC=org, SERIALNUMBER=42, "
       "PostalCode=80331",
       "Bayern, Hauptstr. 1, Dr, Jo, J, Doe, org, 42, 80331"},
      {{{"1.2.3.4", "x"}}, "OID.1.2.3.4=x", "x"},
      // UTF-8 and BMP values arrive in the ANSI code page; 8-bit types byte for byte.
      {{{"CN", "J\xC3\xBCrgen"}}, "CN=J\xFCrgen", "J\xFCrgen"},
      {{{"CN", std::string("\0J\0\xFC", 4), false, V_ASN1_BMPSTRING}}, "CN=J\xFC", "J\xFC"},
      {{{"CN", "M\xE4rz", false, V_ASN1_T61STRING}}, "CN=M\xE4rz", "M\xE4rz"},
  };
  auto key = newRsaKey();
  for (const auto& c : cases) {
    ContextPtr ctx = contextOf(makeCert({.subject = c.subject, .key = key}));
    ASSERT_NE(ctx, nullptr) << c.x500;
    EXPECT_EQ(nameString(ctx.get(), CERT_X500_NAME_STR), c.x500);
    EXPECT_EQ(nameString(ctx.get(), CERT_SIMPLE_NAME_STR), c.simple);
    EXPECT_EQ(nameString(ctx.get(), CERT_X500_NAME_STR, true), c.x500) << "self-signed";
  }
  // Sizes count the NUL; an empty or undecodable name is "" of size 1; a short buffer is cut.
  CERT_NAME_BLOB empty{2, const_cast<BYTE*>(reinterpret_cast<const BYTE*>("\x30\x00"))};
  EXPECT_EQ(CertNameToStrA(1, &empty, CERT_X500_NAME_STR, nullptr, 0), 1u);
  CERT_NAME_BLOB garbage{3, const_cast<BYTE*>(reinterpret_cast<const BYTE*>("abc"))};
  char buf[8] = "xxxxxxx";
  EXPECT_EQ(CertNameToStrA(1, &garbage, CERT_X500_NAME_STR, buf, sizeof buf), 1u);
  EXPECT_STREQ(buf, "");
  ContextPtr alice = contextOf(makeCert({.subject = {{"CN", "Alice"}}, .key = key}));
  EXPECT_EQ(CertNameToStrA(1, &alice->pCertInfo->Subject, CERT_X500_NAME_STR, buf, 5), 5u);
  EXPECT_STREQ(buf, "CN=A");
}

TEST_F(CertServices, ContextsHoldTheParsedRecordAndRefuseWhatIsNoCertificate) {
  const TestCert cert = makeCert({.subject = {{"CN", "Rec"}},
                                  .notBeforeDays = -2,
                                  .notAfterDays = 10,
                                  .serial = 0x010203,
                                  .extensions = {{"keyUsage", "critical,digitalSignature"},
                                                 {"basicConstraints", "CA:FALSE"}}});
  ContextPtr c = contextOf(cert);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(c->pbCertEncoded), c->cbCertEncoded), cert.der);
  const CERT_INFO& info = *c->pCertInfo;
  EXPECT_EQ(info.dwVersion, 2u);
  ASSERT_EQ(info.SerialNumber.cbData, 3u);
  EXPECT_EQ(info.SerialNumber.pbData[0], 0x03) << "little-endian, as the system keeps it";
  EXPECT_STREQ(info.SignatureAlgorithm.pszObjId, "1.2.840.113549.1.1.11");
  EXPECT_STREQ(info.SubjectPublicKeyInfo.Algorithm.pszObjId, "1.2.840.113549.1.1.1");
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  EXPECT_NEAR(double(unixFromFileTime(info.NotAfter) - unixFromFileTime(now)), 10 * 86400.0, 5);
  EXPECT_EQ(CompareFileTime(&info.NotBefore, &now), -1);
  ASSERT_EQ(info.cExtension, 2u);
  EXPECT_STREQ(info.rgExtension[0].pszObjId, "2.5.29.15");
  EXPECT_TRUE(info.rgExtension[0].fCritical);
  EXPECT_FALSE(info.rgExtension[1].fCritical);

  // A duplicate is the same context; it lives until the last reference goes.
  PCCERT_CONTEXT dup = CertDuplicateCertificateContext(c.get());
  EXPECT_EQ(dup, c.get());
  CertFreeCertificateContext(dup);
  EXPECT_EQ(c->pCertInfo->cExtension, 2u);

  BYTE sha1[20];
  DWORD size = sizeof sha1;
  ASSERT_TRUE(CertGetCertificateContextProperty(c.get(), CERT_SHA1_HASH_PROP_ID, sha1, &size));
  EXPECT_EQ(size, 20u);
  size = 0;
  EXPECT_FALSE(
      CertGetCertificateContextProperty(c.get(), CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size));
  EXPECT_EQ(GetLastError(), CRYPT_E_NOT_FOUND);

  const struct {
    std::string bytes;
    DWORD error;
  } bad[] = {
      {"", CRYPT_E_ASN1_EOD},
      {"garbage that is no DER", CRYPT_E_ASN1_BADTAG},
      {cert.der.substr(0, cert.der.size() / 2), CRYPT_E_ASN1_BADTAG},
      {cert.der + "x", CRYPT_E_ASN1_CORRUPT},
  };
  for (const auto& b : bad) {
    SetLastError(0);
    EXPECT_EQ(contextOf(b.bytes), nullptr);
    EXPECT_EQ(GetLastError(), b.error) << b.bytes.size();
  }

  // Every code this layer sets has the system's text.
  const struct {
    DWORD code;
    const char* text;
  } texts[] = {
      {CRYPT_E_ASN1_EOD, "ASN1 unexpected end of data."},
      {CRYPT_E_ASN1_CORRUPT, "ASN1 corrupted data."},
      {CRYPT_E_ASN1_BADTAG, "ASN1 bad tag value met."},
      {CRYPT_E_BAD_ENCODE, "An error occurred during encode or decode operation."},
      {CRYPT_E_NOT_FOUND, "Cannot find object or property."},
      {CRYPT_E_EXISTS, "The object or property already exists."},
      {CRYPT_E_FILE_ERROR, "An error occurred while reading or writing to a file."},
      {CRYPT_E_PENDING_CLOSE, "Final closure is pending until additional frees or closes."},
      {NTE_BAD_KEYSET, "Keyset does not exist"},
      {0x8009200B, "Cannot find the certificate and private key for decryption."},
      {0x80090003, "Bad Key."},
      {0x80070057, "The parameter is incorrect."},
      {E_ACCESSDENIED_CRYPT, "Access is denied."},
      {ERROR_INVALID_PASSWORD, "The specified network password is not correct."},
      {ERROR_MORE_DATA, "More data is available."},
      {ERROR_NEGATIVE_SEEK,
       "An attempt was made to move the file pointer before the beginning of the file."},
  };
  EVP_PKEY_free(certificatePrivateKey(c.get()));  // registers the key texts
  for (const auto& t : texts) {
    char text[256] = "";
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, t.code, 0,
                   text, sizeof text, nullptr);
    EXPECT_EQ(std::string(text), std::string(t.text) + "\r\n") << std::hex << t.code;
  }
}

TEST_F(CertServices, DecodesKeyUsageAlternativeNamesAndExtendedKeyUsage) {
  ContextPtr c = contextOf(makeCert(
      {.subject = {{"CN", "Ext"}},
       .extensions = {
           {"keyUsage", "digitalSignature,nonRepudiation,keyEncipherment,keyCertSign"},
           {"subjectAltName",
            "email:first@example.org,DNS:host.example.org,email:second@example.org,IP:10.1.2.3"},
           {"extendedKeyUsage", "emailProtection,serverAuth,1.2.3.4"}}}));
  ASSERT_NE(c, nullptr);

  std::vector<BYTE> ku = decoded(c.get(), szOID_KEY_USAGE);
  ASSERT_FALSE(ku.empty());
  const auto* bits = reinterpret_cast<const CRYPT_BIT_BLOB*>(ku.data());
  ASSERT_GE(bits->cbData, 1u);
  EXPECT_EQ(bits->pbData[0], 0x80 | 0x40 | 0x20 | 0x04);

  std::vector<BYTE> san = decoded(c.get(), szOID_SUBJECT_ALT_NAME2);
  ASSERT_FALSE(san.empty());
  const auto* names = reinterpret_cast<const CERT_ALT_NAME_INFO*>(san.data());
  ASSERT_EQ(names->cAltEntry, 4u);
  EXPECT_EQ(names->rgAltEntry[0].dwAltNameChoice, CERT_ALT_NAME_RFC822_NAME);
  EXPECT_EQ(std::u16string(names->rgAltEntry[0].pwszRfc822Name), u"first@example.org");
  EXPECT_EQ(names->rgAltEntry[1].dwAltNameChoice, CERT_ALT_NAME_DNS_NAME);
  EXPECT_EQ(std::u16string(names->rgAltEntry[2].pwszRfc822Name), u"second@example.org");
  EXPECT_EQ(names->rgAltEntry[3].dwAltNameChoice, CERT_ALT_NAME_IP_ADDRESS);
  ASSERT_EQ(names->rgAltEntry[3].IPAddress.cbData, 4u);
  EXPECT_EQ(names->rgAltEntry[3].IPAddress.pbData[3], 3);

  std::vector<BYTE> eku = decoded(c.get(), szOID_ENHANCED_KEY_USAGE);
  ASSERT_FALSE(eku.empty());
  const auto* usages = reinterpret_cast<const CERT_ENHKEY_USAGE*>(eku.data());
  ASSERT_EQ(usages->cUsageIdentifier, 3u);
  EXPECT_STREQ(usages->rgpszUsageIdentifier[0], "1.3.6.1.5.5.7.3.4");
  EXPECT_STREQ(usages->rgpszUsageIdentifier[2], "1.2.3.4");

  // The block is self-contained: a copy elsewhere still reads (pointers were set for it).
  DWORD size = 0;
  const CERT_EXTENSION& e = c->pCertInfo->rgExtension[1];
  ASSERT_TRUE(
      CryptDecodeObject(1, X509_ALTERNATE_NAME, e.Value.pbData, e.Value.cbData, 0, nullptr, &size));
  DWORD small = size - 1;
  std::vector<BYTE> tooSmall(small);
  EXPECT_FALSE(CryptDecodeObject(1, X509_ALTERNATE_NAME, e.Value.pbData, e.Value.cbData, 0,
                                 tooSmall.data(), &small));
  EXPECT_EQ(GetLastError(), ERROR_MORE_DATA);
  EXPECT_EQ(small, size);

  const BYTE garbage[] = {0x04, 0x05, 1, 2};
  EXPECT_FALSE(CryptDecodeObject(1, szOID_KEY_USAGE, garbage, sizeof garbage, 0, nullptr, &size));
  EXPECT_EQ(GetLastError(), CRYPT_E_ASN1_BADTAG);
  EXPECT_FALSE(CryptDecodeObject(1, "2.5.29.19", garbage, sizeof garbage, 0, nullptr, &size));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(CertServices, ChainTrustFromTheRootStoresWithEveryErrorGathered) {
  const TestCert root = makeCa("Test Root");
  const TestCert inter = makeCa("Test Intermediate", &root);
  const TestCert user = makeUser("alice", inter);
  const TestCert expiredUser = makeUser("expired", inter, -1);
  const TestCert strangerRoot = makeCa("Stranger Root");
  const TestCert expiredUnderStranger = makeUser("lost", strangerRoot, -1);
  const TestCert orphan = makeUser("orphan", makeCa("Unseen"));
  const TestCert unknownCritical = makeCert({.subject = {{"CN", "odd"}},
                                             .issuer = &inter,
                                             .extensions = {{"1.2.3.4", "critical,DER:05:00"}}});
  const TestCert notYetValid = makeCert(
      {.subject = {{"CN", "not yet"}}, .issuer = &inter, .notBeforeDays = 2, .notAfterDays = 10});
  // Self-signed end certificates whose key usage leaves out certificate signing.
  CertSpec leaf{.subject = {{"CN", "self leaf"}}, .extensions = {{"keyUsage", "digitalSignature"}}};
  const TestCert selfLeaf = makeCert(leaf);
  leaf.subject = {{"CN", "trusted self leaf"}};
  const TestCert trustedSelfLeaf = makeCert(leaf);

  EXPECT_EQ(chainOf(contextOf(user).get()).status,
            CERT_TRUST_IS_PARTIAL_CHAIN | CERT_TRUST_IS_UNTRUSTED_ROOT)
      << "nothing in the stores yet";
  ASSERT_TRUE(addToSystemStore(u"ROOT", CERT_SYSTEM_STORE_LOCAL_MACHINE, root));
  ASSERT_TRUE(addToSystemStore(u"CA", CERT_SYSTEM_STORE_CURRENT_USER, inter));
  ASSERT_TRUE(addToSystemStore(u"ROOT", CERT_SYSTEM_STORE_CURRENT_USER, trustedSelfLeaf));
  const struct {
    const TestCert* cert;
    DWORD status;
    DWORD elements;
  } cases[] = {
      {&user, 0, 3},
      {&expiredUser, CERT_TRUST_IS_NOT_TIME_VALID, 3},
      {&notYetValid, CERT_TRUST_IS_NOT_TIME_VALID, 3},
      {&root, 0, 1},
      {&strangerRoot, CERT_TRUST_IS_UNTRUSTED_ROOT, 1},
      {&expiredUnderStranger,
       CERT_TRUST_IS_NOT_TIME_VALID | CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN,
       1},
      {&orphan, CERT_TRUST_IS_PARTIAL_CHAIN | CERT_TRUST_IS_UNTRUSTED_ROOT, 1},
      {&unknownCritical, CERT_TRUST_INVALID_EXTENSION | CERT_TRUST_HAS_NOT_SUPPORTED_CRITICAL_EXT,
       3},
      {&selfLeaf, CERT_TRUST_IS_UNTRUSTED_ROOT, 1},
      {&trustedSelfLeaf, 0, 1},
  };
  for (const auto& c : cases) {
    ContextPtr ctx = contextOf(*c.cert);
    const ChainResult chain = chainOf(ctx.get());
    EXPECT_EQ(chain.status, c.status) << nameString(ctx.get(), CERT_X500_NAME_STR);
    EXPECT_EQ(chain.elements, c.elements) << nameString(ctx.get(), CERT_X500_NAME_STR);
  }
  // With the stranger's root found (in an additional store of the call) the chain is whole
  // but its root untrusted: both faults are reported.
  HCERTSTORE extra = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
  ASSERT_TRUE(CertAddCertificateContextToStore(extra, contextOf(strangerRoot).get(),
                                               CERT_STORE_ADD_NEW, nullptr));
  const ChainResult found = chainOf(contextOf(expiredUnderStranger).get(), extra);
  CertCloseStore(extra, 0);
  EXPECT_EQ(found.elements, 2u);
  EXPECT_EQ(found.status, CERT_TRUST_IS_NOT_TIME_VALID | CERT_TRUST_IS_UNTRUSTED_ROOT);
  EXPECT_EQ(found.endStatus, CERT_TRUST_IS_NOT_TIME_VALID);

  // A time in the past, when the expired certificate was still valid.
  FILETIME then;
  GetSystemTimeAsFileTime(&then);
  then = fileTimeFromUnix(unixFromFileTime(then) - 5 * 86400);
  EXPECT_EQ(chainOf(contextOf(expiredUser).get(), nullptr, &then).status, 0u);
}

TEST_F(CertServices, ChainsThatLoopOrRunDeepEndWithoutHanging) {
  // Two authorities that issued each other, both in CA, and a user under one of them.
  CertSpec a{.subject = {{"CN", "Loop A"}},
             .extensions = {{"basicConstraints", "CA:TRUE"}},
             .key = newRsaKey()};
  const TestCert selfA = makeCert(a);
  CertSpec b = a;
  b.subject = {{"CN", "Loop B"}};
  b.key = newRsaKey();
  b.issuer = &selfA;
  const TestCert bByA = makeCert(b);
  a.issuer = &bByA;
  a.serial = 2;
  const TestCert aByB = makeCert(a);
  ASSERT_TRUE(addToSystemStore(u"CA", CERT_SYSTEM_STORE_CURRENT_USER, aByB));
  ASSERT_TRUE(addToSystemStore(u"CA", CERT_SYSTEM_STORE_CURRENT_USER, bByA));
  const TestCert user = makeUser("looped", aByB);
  EXPECT_NE(chainOf(contextOf(user).get()).status & CERT_TRUST_IS_UNTRUSTED_ROOT, 0u);

  std::vector<TestCert> levels{makeCa("Deep 0")};
  ASSERT_TRUE(addToSystemStore(u"ROOT", CERT_SYSTEM_STORE_CURRENT_USER, levels[0]));
  for (int i = 1; i < 25; ++i) {
    levels.push_back(makeCa("Deep " + std::to_string(i), &levels.back()));
    ASSERT_TRUE(addToSystemStore(u"CA", CERT_SYSTEM_STORE_LOCAL_MACHINE, levels.back()));
  }
  const ChainResult deep = chainOf(contextOf(makeUser("deep", levels.back())).get());
  EXPECT_EQ(deep.status, 0u);
  EXPECT_EQ(deep.elements, 26u);
}

TEST_F(CertServices, Pkcs12ImportOfModernAndLegacyFiles) {
  TempDir dir;
  const TestCert ca = makeCa("P12 CA");
  const TestCert user = makeUser("p12user", ca);
  writeWholeFile(dir.file("user.pem"), user.pem() + keyPem(user));
  writeWholeFile(dir.file("ca.pem"), ca.pem());
  writeWholeFile(dir.file("pass"), "s\xC3\xA9same\n");
  auto exportP12 = [&](const std::string& name, const std::string& extra) {
    const std::string cmd = "openssl pkcs12 -export -in " + dir.file("user.pem") + " -certfile " +
                            dir.file("ca.pem") + " -passout file:" + dir.file("pass") + " -out " +
                            dir.file(name) + " " + extra + " 2>&1";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
    return readWholeFile(dir.file(name));
  };
  const std::string modern = exportP12("modern.p12", "");
  const std::string legacy = exportP12("legacy.p12", "-legacy");
  ASSERT_FALSE(modern.empty());
  ASSERT_FALSE(legacy.empty());

  for (const std::string* file : {&modern, &legacy}) {
    CRYPT_DATA_BLOB blob = blobOf(*file);
    EXPECT_TRUE(PFXIsPFXBlob(&blob));
    HCERTSTORE store = PFXImportCertStore(&blob, u"s\u00E9same", 0);
    ASSERT_NE(store, nullptr) << GetLastError();
    EXPECT_EQ(countIn(store), 2);
    PCCERT_CONTEXT first = CertEnumCertificatesInStore(store, nullptr);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(first->pbCertEncoded), first->cbCertEncoded),
              user.der);
    DWORD size = 0;
    ASSERT_TRUE(
        CertGetCertificateContextProperty(first, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size));
    std::vector<BYTE> block(size);
    ASSERT_TRUE(
        CertGetCertificateContextProperty(first, CERT_KEY_PROV_INFO_PROP_ID, block.data(), &size));
    const auto* info = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(block.data());
    EXPECT_EQ(std::u16string(info->pwszProvName), MS_ENHANCED_PROV_W);
    EXPECT_EQ(info->dwProvType, PROV_RSA_FULL);
    EXPECT_TRUE(certificateHasPrivateKey(first));
    // The container is the key's file, readable by its owner only, in a directory of the owner's.
    struct stat st;
    ASSERT_EQ(::stat(keyContainerPath(info->pwszContainerName, false).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat((root_.path() + "/keys/user").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    // The context, and its key, outlive the store it came from.
    CertCloseStore(store, 0);
    EVP_PKEY* key = certificatePrivateKey(first);
    EXPECT_NE(key, nullptr);
    EVP_PKEY_free(key);
    CertFreeCertificateContext(first);
  }
  EXPECT_FALSE(OSSL_PROVIDER_available(nullptr, "legacy")) << "the host's own OpenSSL is untouched";

  // Kept in memory: a usable key and no container written.
  auto containers = [&] {
    return std::distance(std::filesystem::directory_iterator(root_.path() + "/keys/user"),
                         std::filesystem::directory_iterator());
  };
  const auto before = containers();
  CRYPT_DATA_BLOB blob = blobOf(modern);
  HCERTSTORE store = PFXImportCertStore(&blob, u"s\u00E9same", PKCS12_NO_PERSIST_KEY);
  ASSERT_NE(store, nullptr);
  PCCERT_CONTEXT first = CertEnumCertificatesInStore(store, nullptr);
  CertCloseStore(store, 0);
  EXPECT_TRUE(certificateHasPrivateKey(first));
  DWORD size = 0;
  EXPECT_FALSE(
      CertGetCertificateContextProperty(first, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size));
  CertFreeCertificateContext(first);
  EXPECT_EQ(containers(), before);

  // Made by another module, which is then unloaded: the store, the context and its key are
  // the process's platform's, and stay usable.
  void* module = dlopen(CERT_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(module, nullptr) << dlerror();
  using ImportFn = HCERTSTORE (*)(const BYTE*, DWORD, const char16_t*, PCCERT_CONTEXT*);
  auto import = reinterpret_cast<ImportFn>(dlsym(module, "testModuleImportPfx"));
  ASSERT_NE(import, nullptr);
  PCCERT_CONTEXT keyed = nullptr;
  HCERTSTORE made = import(reinterpret_cast<const BYTE*>(legacy.data()), DWORD(legacy.size()),
                           u"s\u00E9same", &keyed);
  dlclose(module);
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(countIn(made), 2) << "a store of the module's is one of this program's";
  EXPECT_TRUE(CertCloseStore(made, 0));
  EVP_PKEY* moduleKey = certificatePrivateKey(keyed);
  ASSERT_NE(moduleKey, nullptr);
  EXPECT_EQ(EVP_PKEY_eq(moduleKey, user.key.get()), 1);
  EVP_PKEY_free(moduleKey);
  CertFreeCertificateContext(keyed);

  const struct {
    std::string bytes;
    const char16_t* password;
    DWORD error;
  } bad[] = {
      {modern, u"wrong", ERROR_INVALID_PASSWORD},
      {legacy, u"", ERROR_INVALID_PASSWORD},
      {"not a pfx at all", u"s\u00E9same", CRYPT_E_BAD_ENCODE},
      {modern.substr(0, modern.size() / 2), u"s\u00E9same", CRYPT_E_BAD_ENCODE},
      {"", u"", CRYPT_E_BAD_ENCODE},
  };
  for (const auto& b : bad) {
    CRYPT_DATA_BLOB data = blobOf(b.bytes);
    EXPECT_EQ(PFXImportCertStore(&data, b.password, 0), nullptr);
    EXPECT_EQ(GetLastError(), b.error) << b.bytes.size();
  }
}
