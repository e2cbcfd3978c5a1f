// The message functions against OpenSSL's own `openssl cms`: what we write it verifies and
// decrypts, what it writes we verify and decrypt, and broken input fails with the codes the
// layers above test.
#include <gtest/gtest.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <ctime>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "platform/KeyContainer.h"
#include "tests/platform/CertTestSupport.h"

namespace {

const char* const kSha1 = "1.3.14.3.2.26";
const char* const kSha256 = "2.16.840.1.101.3.4.2.1";
const char* const kLegacy = " -provider legacy -provider default";

struct StoreClose {
  void operator()(HCERTSTORE s) const { CertCloseStore(s, 0); }
};
using StorePtr = std::unique_ptr<void, StoreClose>;

std::vector<BYTE> bytesOf(const std::string& s) { return std::vector<BYTE>(s.begin(), s.end()); }
std::vector<BYTE> withFlip(std::vector<BYTE> b, size_t at, BYTE mask = 1) {
  b[at] ^= mask;
  return b;
}

const std::vector<BYTE> kText = bytesOf("Content-Type: text/plain\r\n\r\nHello, world.\r\n");

// What CryptEncodeObject writes, by the size protocol: a buffer one byte short is refused.
std::vector<BYTE> encoded(DWORD encoding, const char* type, const void* value) {
  DWORD size = 0;
  EXPECT_TRUE(CryptEncodeObject(encoding, type, value, nullptr, &size));
  if (size == 0) return {};
  std::vector<BYTE> out(size);
  DWORD small = size - 1;
  EXPECT_FALSE(CryptEncodeObject(encoding, type, value, out.data(), &small));
  EXPECT_EQ(GetLastError(), ERROR_MORE_DATA);
  EXPECT_TRUE(CryptEncodeObject(encoding, type, value, out.data(), &size));
  out.resize(size);
  return out;
}

// What verifying a signer gave: the last error (0 when it verified), the signer's name and the
// content of a message that carries it.
struct Verified {
  DWORD error = 0;
  std::string signer;
  std::vector<BYTE> content;
};
// What decrypting gave: the last error (0 on success), the plaintext and the recipient's name.
using Opened = std::tuple<DWORD, std::vector<BYTE>, std::string>;

class Messages : public FreshCertRoot {
 protected:
  TempDir files_;
  TestCert ca_ = makeCa("Message Root");
  TestCert alice_ = makeUser("alice", ca_);
  TestCert bob_ = makeUser("bob", ca_);
  TestCert carol_ = makeUser("carol", ca_);  // no key anywhere
  TestCert dave_ = makeEcUser("dave");
  ContextPtr aliceCtx_, bobCtx_, carolCtx_, daveCtx_;
  StorePtr store_{CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr)};

  void SetUp() override {
    FreshCertRoot::SetUp();
    writeWholeFile(files_.file("ca.pem"), ca_.pem());
    put("data", kText);
    writeCertsAndKeys(files_,
                      {{"alice", &alice_}, {"bob", &bob_}, {"carol", &carol_}, {"dave", &dave_}});
    aliceCtx_ = installWithKey(alice_, u"alice-box", false);
    bobCtx_ = inMemory("bob");
    carolCtx_ = contextOf(carol_);
    daveCtx_ = installWithKey(dave_, u"dave-box", false);
    for (PCCERT_CONTEXT c : {aliceCtx_.get(), bobCtx_.get(), carolCtx_.get(), daveCtx_.get()})
      ASSERT_TRUE(CertAddCertificateContextToStore(store_.get(), c, CERT_STORE_ADD_NEW, nullptr));
  }

  TestCert makeEcUser(const std::string& cn) {
    return makeCert({.subject = {{"CN", cn}},
                     .issuer = &ca_,
                     .serial = 77,
                     .extensions = {{"keyUsage", "digitalSignature,keyAgreement"},
                                    {"extendedKeyUsage", "emailProtection"}},
                     .key = std::shared_ptr<EVP_PKEY>(EVP_EC_gen("P-256"), EVP_PKEY_free)});
  }

  // A key the context holds for its life only, from a PKCS #12 file imported without a container.
  ContextPtr inMemory(const std::string& name) {
    EXPECT_EQ(openssl("pkcs12 -export -passout pass:pw -in " + file(name + ".pem") + " -inkey " +
                      file(name + ".key") + " -out " + file(name + ".p12")),
              0);
    const std::string p12 = readWholeFile(file(name + ".p12"));
    CRYPT_DATA_BLOB blob = blobOf(p12);
    HCERTSTORE s = PFXImportCertStore(&blob, u"pw", PKCS12_NO_PERSIST_KEY);
    EXPECT_NE(s, nullptr);
    PCCERT_CONTEXT c = CertEnumCertificatesInStore(s, nullptr);
    CertCloseStore(s, 0);
    return ContextPtr(c);
  }

  std::string file(const std::string& name) const { return files_.file(name); }
  int openssl(const std::string& args) { return runQuietly("openssl " + args); }
  void put(const std::string& name, const std::vector<BYTE>& b) {
    writeWholeFile(file(name), std::string(b.begin(), b.end()));
  }
  std::vector<BYTE> get(const std::string& name) { return bytesOf(readWholeFile(file(name))); }
  // The message as `openssl cms -cmsout -print` shows it.
  std::string printed(const std::vector<BYTE>& msg) {
    put("msg", msg);
    EXPECT_EQ(
        openssl("cms -cmsout -print -inform DER -in " + file("msg") + " -out " + file("print")), 0);
    return readWholeFile(file("print"));
  }
  // The content `openssl cms -verify` finds in a signature it verifies against our root.
  std::vector<BYTE> opensslVerified(const std::vector<BYTE>& sig, bool detached) {
    put("sig", sig);
    EXPECT_EQ(openssl("cms -verify -binary -inform DER -in " + file("sig") + " -CAfile " +
                      file("ca.pem") + (detached ? " -content " + file("data") : "") + " -out " +
                      file("out")),
              0);
    return get("out");
  }

  std::vector<BYTE> sign(PCCERT_CONTEXT signer, const char* hashOid, bool detached,
                         const std::vector<BYTE>& data, bool withTime = true,
                         const std::function<void(CRYPT_SIGN_MESSAGE_PARA&)>& more = {}) {
    CRYPT_SIGN_MESSAGE_PARA para{};
    para.cbSize = sizeof para;
    para.dwMsgEncodingType = PKCS_7_ASN_ENCODING;
    para.pSigningCert = signer;
    para.HashAlgorithm.pszObjId = const_cast<char*>(hashOid);
    para.cMsgCert = 1;
    para.rgpMsgCert = &signer;
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    std::vector<BYTE> time = encoded(PKCS_7_ASN_ENCODING, szOID_RSA_signingTime, &now);
    CRYPT_ATTR_BLOB value{DWORD(time.size()), time.data()};
    CRYPT_ATTRIBUTE attr{const_cast<char*>(szOID_RSA_signingTime), 1, &value};
    if (withTime) {
      para.cAuthAttr = 1;
      para.rgAuthAttr = &attr;
    }
    if (more) more(para);
    const BYTE* blocks[] = {data.data()};
    DWORD sizes[] = {DWORD(data.size())};
    DWORD size = 0;
    if (!CryptSignMessage(&para, detached, 1, blocks, sizes, nullptr, &size)) return {};
    std::vector<BYTE> out(size);
    DWORD small = 100;
    EXPECT_FALSE(CryptSignMessage(&para, detached, 1, blocks, sizes, out.data(), &small));
    EXPECT_EQ(GetLastError(), ERROR_MORE_DATA);
    EXPECT_TRUE(CryptSignMessage(&para, detached, 1, blocks, sizes, out.data(), &size));
    out.resize(size);
    return out;
  }

  // Verifies signer `index`; the signer's certificate comes from `store_` with `callback`.
  Verified verify(const std::vector<BYTE>& sig, const std::vector<BYTE>* detached, DWORD index,
                  bool callback = false) {
    Verified v;
    CRYPT_VERIFY_MESSAGE_PARA para{sizeof para, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, nullptr,
                                   this};
    if (callback)
      para.pfnGetSignerCertificate = [](void* arg, DWORD, PCERT_INFO id, HCERTSTORE) {
        return CertGetSubjectCertificateFromStore(static_cast<Messages*>(arg)->store_.get(),
                                                  X509_ASN_ENCODING, id);
      };
    PCCERT_CONTEXT cert = reinterpret_cast<PCCERT_CONTEXT>(1);
    BOOL ok;
    if (detached != nullptr) {
      const BYTE* blocks[] = {detached->data()};
      DWORD sizes[] = {DWORD(detached->size())};
      ok = CryptVerifyDetachedMessageSignature(&para, index, sig.data(), DWORD(sig.size()), 1,
                                               blocks, sizes, &cert);
    } else {
      DWORD size = 0;
      ok = CryptVerifyMessageSignature(&para, index, sig.data(), DWORD(sig.size()), nullptr, &size,
                                       nullptr);
      std::vector<BYTE> out(size + 1);  // never a null buffer, which would ask for the size
      if (ok)
        ok = CryptVerifyMessageSignature(&para, index, sig.data(), DWORD(sig.size()), out.data(),
                                         &size, &cert);
      else
        cert = nullptr;
      v.content.assign(out.begin(), out.begin() + size);
    }
    v.error = ok ? 0 : GetLastError();
    EXPECT_EQ(ok, cert != nullptr);
    if (cert != nullptr) v.signer = nameOf(cert);
    CertFreeCertificateContext(cert);
    return v;
  }

  static std::string nameOf(PCCERT_CONTEXT c) {
    char name[256];
    CertNameToStrA(X509_ASN_ENCODING, &c->pCertInfo->Subject, CERT_SIMPLE_NAME_STR, name,
                   sizeof name);
    return name;
  }

  std::vector<BYTE> encrypt(const char* oid, const CRYPT_OBJID_BLOB& params,
                            PCCERT_CONTEXT recipient, const std::vector<BYTE>& data) {
    CRYPT_ENCRYPT_MESSAGE_PARA para{};
    para.cbSize = sizeof para;
    para.dwMsgEncodingType = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
    para.ContentEncryptionAlgorithm.pszObjId = const_cast<char*>(oid);
    para.ContentEncryptionAlgorithm.Parameters = params;
    DWORD size = 0;
    if (!CryptEncryptMessage(&para, 1, &recipient, data.data(), DWORD(data.size()), nullptr, &size))
      return {};
    std::vector<BYTE> out(size);
    EXPECT_TRUE(CryptEncryptMessage(&para, 1, &recipient, data.data(), DWORD(data.size()),
                                    out.data(), &size));
    out.resize(size);
    return out;
  }

  Opened decrypt(const std::vector<BYTE>& msg) {
    HCERTSTORE stores[] = {store_.get()};
    CRYPT_DECRYPT_MESSAGE_PARA para{sizeof para, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 1,
                                    stores};
    DWORD size = 0;
    PCCERT_CONTEXT cert = reinterpret_cast<PCCERT_CONTEXT>(1);
    if (!CryptDecryptMessage(&para, msg.data(), DWORD(msg.size()), nullptr, &size, &cert)) {
      EXPECT_EQ(cert, nullptr);
      return {GetLastError(), {}, ""};
    }
    EXPECT_EQ(cert, nullptr) << "a sizing call hands out no certificate";
    std::vector<BYTE> plain(size);
    EXPECT_TRUE(
        CryptDecryptMessage(&para, msg.data(), DWORD(msg.size()), plain.data(), &size, &cert));
    plain.resize(size);
    const std::string who = cert != nullptr ? nameOf(cert) : "";
    CertFreeCertificateContext(cert);
    return {0, plain, who};
  }
};

TEST_F(Messages, OurSignaturesVerifyHereAndWithOpenSsl) {
  for (PCCERT_CONTEXT signer : {aliceCtx_.get(), bobCtx_.get(), daveCtx_.get()}) {
    for (const char* hash : {kSha1, kSha256}) {
      for (bool detached : {true, false}) {
        SCOPED_TRACE(nameOf(signer) + hash + (detached ? " detached" : " attached"));
        const std::vector<BYTE> sig = sign(signer, hash, detached, kText);
        ASSERT_FALSE(sig.empty()) << std::hex << GetLastError();
        EXPECT_EQ(opensslVerified(sig, detached), kText);
        const std::vector<BYTE>* content = detached ? &kText : nullptr;
        const Verified v = verify(sig, content, 0);
        EXPECT_EQ(v.error, 0u);
        EXPECT_EQ(v.signer, nameOf(signer));
        EXPECT_EQ(v.content, detached ? std::vector<BYTE>() : kText);
        EXPECT_EQ(verify(sig, content, 1).error, CRYPT_E_NO_SIGNER);
        if (detached) {  // one changed byte of signed content
          const std::vector<BYTE> changed = withFlip(kText, 30);
          EXPECT_EQ(verify(sig, &changed, 0).error, CRYPT_E_HASH_VALUE);
        }
      }
    }
  }
  // What Windows writes: version 1, issuer and serial, the given attributes with content type
  // and digest and nothing else; no attributes at all when none are given.
  const std::string shown = printed(sign(aliceCtx_.get(), kSha256, true, kText));
  for (const char* present : {"version: 1", "issuerAndSerialNumber", "rsaEncryption", "signingTime",
                              "contentType", "messageDigest", "eContent: <ABSENT>"})
    EXPECT_NE(shown.find(present), std::string::npos) << present;
  EXPECT_EQ(shown.find("smimeCapabilities"), std::string::npos);
  const std::vector<BYTE> bare = sign(aliceCtx_.get(), kSha1, true, kText, false);
  EXPECT_NE(printed(bare).find("signedAttrs:\n          <ABSENT>"), std::string::npos);
  EXPECT_EQ(verify(bare, &kText, 0).error, 0u);
  const std::vector<BYTE> changed = withFlip(kText, 0);
  EXPECT_EQ(verify(bare, &changed, 0).error, NTE_BAD_SIGNATURE);

  // CRLs, unauthenticated attributes and an inner content type as the caller gives them, in a
  // signature over a signed message.
  const unsigned char* caDer = reinterpret_cast<const unsigned char*>(ca_.der.data());
  X509* caX509 = d2i_X509(nullptr, &caDer, long(ca_.der.size()));
  X509_CRL* x509Crl = X509_CRL_new();
  ASN1_TIME* now = ASN1_TIME_set(nullptr, std::time(nullptr));
  X509_CRL_set_version(x509Crl, 1);
  X509_CRL_set_issuer_name(x509Crl, X509_get_subject_name(caX509));
  X509_CRL_set1_lastUpdate(x509Crl, now);
  X509_CRL_set1_nextUpdate(x509Crl, now);
  ASSERT_GT(X509_CRL_sign(x509Crl, ca_.key.get(), EVP_sha256()), 0);
  unsigned char* crlDer = nullptr;
  const int crlSize = i2d_X509_CRL(x509Crl, &crlDer);
  PCCRL_CONTEXT crl = CertCreateCRLContext(X509_ASN_ENCODING, crlDer, DWORD(crlSize));
  OPENSSL_free(crlDer);
  X509_CRL_free(x509Crl);
  ASN1_TIME_free(now);
  X509_free(caX509);
  ASSERT_NE(crl, nullptr);
  EXPECT_EQ(CertCreateCRLContext(X509_ASN_ENCODING, kText.data(), DWORD(kText.size())), nullptr);
  EXPECT_EQ(GetLastError(), CRYPT_E_ASN1_BADTAG);
  BYTE note[] = {0x0C, 0x04, 'n', 'o', 't', 'e'};
  CRYPT_ATTR_BLOB noteValue{sizeof note, note};
  CRYPT_ATTRIBUTE unauth{const_cast<char*>("1.3.6.1.4.1.55555.1"), 1, &noteValue};
  const std::vector<BYTE> inner = sign(aliceCtx_.get(), kSha1, false, kText);
  auto nested = [&](DWORD innerType) {
    return sign(bobCtx_.get(), kSha256, false, inner, true, [&](CRYPT_SIGN_MESSAGE_PARA& p) {
      p.cMsgCrl = 1;
      p.rgpMsgCrl = &crl;
      p.cUnauthAttr = 1;
      p.rgUnauthAttr = &unauth;
      p.dwInnerContentType = innerType;
    });
  };
  const std::vector<BYTE> outer = nested(CMSG_SIGNED);
  EXPECT_TRUE(nested(7).empty()) << "no such message type";
  CertFreeCRLContext(crl);
  const std::string nestedPrint = printed(outer);
  for (const char* present : {"eContentType: pkcs7-signedData", "crls:", "1.3.6.1.4.1.55555.1"})
    EXPECT_NE(nestedPrint.find(present), std::string::npos) << present;
  EXPECT_EQ(opensslVerified(outer, false), inner);
  CRYPT_VERIFY_MESSAGE_PARA verifyPara{sizeof verifyPara, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
                                       0, nullptr, nullptr};
  DWORD type = 0, innerType = 0, size = 0;
  EXPECT_TRUE(CryptDecodeMessage(CMSG_SIGNED_FLAG, nullptr, &verifyPara, 0, outer.data(),
                                 DWORD(outer.size()), 0, &type, &innerType, nullptr, &size, nullptr,
                                 nullptr));
  EXPECT_EQ(type, CMSG_SIGNED);
  EXPECT_EQ(innerType, CMSG_SIGNED);
}

TEST_F(Messages, OpenSslSignaturesVerifyHere) {
  // A signer named by subject key identifier, its certificate only in the callback's store.
  const TestCert erin = makeCert(
      {.subject = {{"CN", "erin"}},
       .issuer = &ca_,
       .extensions = {{"subjectKeyIdentifier", "hash"}, {"extendedKeyUsage", "emailProtection"}}});
  writeCertsAndKeys(files_, {{"erin", &erin}});
  ASSERT_TRUE(CertAddCertificateContextToStore(store_.get(), contextOf(erin).get(),
                                               CERT_STORE_ADD_NEW, nullptr));
  const std::string sign = "cms -sign -binary -outform DER -in " + file("data");
  auto signer = [&](const std::string& name) {
    return " -signer " + file(name + ".pem") + " -inkey " + file(name + ".key");
  };
  const std::string alice = sign + signer("alice");
  const std::pair<const char*, std::string> made[] = {
      {"detached", alice},
      {"attached", alice + " -nodetach"},
      {"two", alice + signer("bob")},
      {"nocerts", alice + " -nocerts"},
      {"keyid", sign + signer("erin") + " -keyid -nocerts"},
      {"pss", alice + " -keyopt rsa_padding_mode:pss -md sha512"},
      {"ecdsa", sign + signer("dave") + " -md sha384 -nodetach"},
      {"nosigner", "crl2pkcs7 -nocrl -outform DER -certfile " + file("alice.pem")},
      {"plain", "cms -data_create -binary -outform DER -in " + file("data")},
  };
  for (const auto& [name, command] : made)
    ASSERT_EQ(openssl(command + " -out " + file(name)), 0) << name;
  const struct {
    const char* file;
    bool detached;
    DWORD index;
    bool callback;
    DWORD error;
    const char* signer;
  } cases[] = {
      {"detached", true, 0, false, 0, "DE, Vorlund Test, alice"},
      {"detached", true, 1, false, CRYPT_E_NO_SIGNER, nullptr},
      {"attached", false, 0, false, 0, "DE, Vorlund Test, alice"},
      {"two", true, 0, false, 0, "DE, Vorlund Test, alice"},
      {"two", true, 1, false, 0, "DE, Vorlund Test, bob"},
      {"two", true, 2, false, CRYPT_E_NO_SIGNER, nullptr},
      {"nocerts", true, 0, false, CRYPT_E_NOT_FOUND, nullptr},
      {"nocerts", true, 0, true, 0, "DE, Vorlund Test, alice"},
      {"keyid", true, 0, false, CRYPT_E_NOT_FOUND, nullptr},
      {"keyid", true, 0, true, 0, "erin"},
      {"pss", true, 0, false, 0, "DE, Vorlund Test, alice"},
      {"ecdsa", false, 0, false, 0, "dave"},
      {"nosigner", true, 0, false, CRYPT_E_NO_SIGNER, nullptr},
      {"plain", true, 0, false, CRYPT_E_UNEXPECTED_MSG_TYPE, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.file) + " " + std::to_string(c.index));
    const Verified v = verify(get(c.file), c.detached ? &kText : nullptr, c.index, c.callback);
    EXPECT_EQ(v.error, c.error);
    if (c.signer != nullptr) {
      EXPECT_EQ(v.signer, c.signer);
      EXPECT_EQ(v.content, c.detached ? std::vector<BYTE>() : kText);
    }
  }
}

TEST_F(Messages, EnvelopesBothWays) {
  // Ours, opened by OpenSSL and by us; RC2 with the key length its parameters give.
  CRYPT_RC2_CBC_PARAMETERS v58{CRYPT_RC2_128BIT_VERSION, FALSE, {}};
  std::vector<BYTE> rc2 = encoded(0x10001, szOID_RSA_RC2CBC, &v58);
  const std::pair<const char*, CRYPT_OBJID_BLOB> ours[] = {
      {"2.16.840.1.101.3.4.1.42", {}},  // AES-256
      {"2.16.840.1.101.3.4.1.2", {}},   // AES-128
      {"1.2.840.113549.3.7", {}},       // 3DES
      {"1.3.14.3.2.7", {}},             // DES
      {"1.2.840.113549.3.2", {DWORD(rc2.size()), rc2.data()}},
      {"1.2.840.113549.3.2", {}},  // RC2 without parameters
  };
  for (const auto& [oid, params] : ours) {
    SCOPED_TRACE(oid);
    const std::vector<BYTE> msg = encrypt(oid, params, aliceCtx_.get(), kText);
    ASSERT_FALSE(msg.empty()) << std::hex << GetLastError();
    put("env", msg);
    EXPECT_EQ(openssl(std::string("cms -decrypt -binary -inform DER -in ") + file("env") +
                      " -recip " + file("alice.pem") + " -inkey " + file("alice.key") + kLegacy +
                      " -out " + file("out")),
              0);
    EXPECT_EQ(get("out"), kText);
    EXPECT_EQ(decrypt(msg), Opened(0, kText, "DE, Vorlund Test, alice"));
  }
  EXPECT_TRUE(encrypt("1.2.3.4", {}, aliceCtx_.get(), kText).empty());
  EXPECT_EQ(GetLastError(), CRYPT_E_UNKNOWN_ALGO);

  // OpenSSL's, opened by us.
  const std::string enc = "cms -encrypt -binary -outform DER -in " + file("data");
  const struct {
    const char* options;
    const char* recipient;
    DWORD error;
    const char* who;
  } theirs[] = {
      {"", "bob", 0, "DE, Vorlund Test, bob"},  // 3DES, a key kept in memory
      {" -aes256", "alice", 0, "DE, Vorlund Test, alice"},
      {" -rc2", "alice", 0, "DE, Vorlund Test, alice"},
      {" -rc2-40-cbc", "alice", 0, "DE, Vorlund Test, alice"},
      {" -des", "alice", 0, "DE, Vorlund Test, alice"},
      {" -rc4", "alice", 0, "DE, Vorlund Test, alice"},
      {" -aes128 -keyopt rsa_padding_mode:oaep", "alice", 0, "DE, Vorlund Test, alice"},
      {" -aes-256-gcm", "alice", 0, "DE, Vorlund Test, alice"},
      {" -aes128", "dave", 0, "dave"},                          // ECDH key agreement
      {" -aes128", "carol", CRYPT_E_NO_DECRYPT_CERT, nullptr},  // no key
      {" -aes128", "ca", CRYPT_E_NO_DECRYPT_CERT, nullptr},     // not in the stores
  };
  for (const auto& c : theirs) {
    SCOPED_TRACE(std::string(c.options) + " " + c.recipient);
    ASSERT_EQ(openssl(enc + " -recip " + file(std::string(c.recipient) + ".pem") + c.options +
                      kLegacy + " -out " + file("env")),
              0);
    EXPECT_EQ(decrypt(get("env")),
              c.who != nullptr ? Opened(c.error, kText, c.who) : Opened(c.error, {}, ""));
  }
  // A container whose key was replaced, after its key was used: the new key counts, and it
  // does not belong to the certificate; alice's own key written back serves again.
  const std::vector<BYTE> env = encrypt("2.16.840.1.101.3.4.1.42", {}, aliceCtx_.get(), kText);
  ASSERT_TRUE(writeKeyContainer(u"alice-box", false, bob_.key.get()));
  EXPECT_EQ(std::get<0>(decrypt(env)), CRYPT_E_NO_DECRYPT_CERT);
  EXPECT_TRUE(sign(aliceCtx_.get(), kSha1, true, kText).empty());
  EXPECT_EQ(GetLastError(), 0x80090003u) << "NTE_BAD_KEY";
  ASSERT_TRUE(writeKeyContainer(u"alice-box", false, alice_.key.get()));
  EXPECT_EQ(std::get<0>(decrypt(env)), 0u);
  // A deleted key container: the recipient matches but its key is gone.
  ASSERT_TRUE(deleteKeyContainer(u"alice-box", false));
  EXPECT_EQ(std::get<0>(decrypt(env)), CRYPT_E_NO_DECRYPT_CERT);
  EXPECT_TRUE(sign(aliceCtx_.get(), kSha1, true, kText).empty());
  EXPECT_EQ(GetLastError(), NTE_BAD_KEYSET);
  EXPECT_TRUE(sign(carolCtx_.get(), kSha1, true, kText).empty());
  EXPECT_EQ(GetLastError(), CRYPT_E_NO_KEY_PROPERTY);
}

TEST_F(Messages, BrokenInputEncodingsAndDecoding) {
  const std::vector<BYTE> sig = sign(bobCtx_.get(), kSha1, false, kText);
  const std::vector<BYTE> cut(sig.begin(), sig.begin() + sig.size() / 2);
  const std::vector<BYTE> flipped = withFlip(sig, sig.size() - 10, 0xFF);  // in the signature
  const std::vector<BYTE> env = encrypt("2.16.840.1.101.3.4.1.42", {}, bobCtx_.get(), kText);
  const struct {
    std::vector<BYTE> bytes;
    DWORD verifyError, decryptError;
  } cases[] = {
      {{}, CRYPT_E_ASN1_EOD, CRYPT_E_ASN1_EOD},
      {bytesOf("garbage, not DER"), CRYPT_E_ASN1_BADTAG, CRYPT_E_ASN1_BADTAG},
      {cut, CRYPT_E_ASN1_EOD, CRYPT_E_ASN1_EOD},
      {{0x30, 0x03, 0x02, 0x01, 0x01}, CRYPT_E_ASN1_BADTAG, CRYPT_E_ASN1_BADTAG},
      {flipped, NTE_BAD_SIGNATURE, CRYPT_E_UNEXPECTED_MSG_TYPE},
      {env, CRYPT_E_UNEXPECTED_MSG_TYPE, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytes.size());
    EXPECT_EQ(verify(c.bytes, nullptr, 0).error, c.verifyError);
    EXPECT_EQ(verify(c.bytes, &kText, 0).error, c.verifyError);
    EXPECT_EQ(std::get<0>(decrypt(c.bytes)), c.decryptError);
  }

  // Empty content signs and verifies like any other.
  const std::vector<BYTE> empty = sign(bobCtx_.get(), kSha256, false, {});
  ASSERT_FALSE(empty.empty());
  const Verified v = verify(empty, nullptr, 0);
  EXPECT_EQ(v.error, 0u);
  EXPECT_TRUE(v.content.empty());

  // One level per call: the signed message, then the enveloped one.
  HCERTSTORE stores[] = {store_.get()};
  CRYPT_DECRYPT_MESSAGE_PARA dp{sizeof dp, 0x10001, 1, stores};
  CRYPT_VERIFY_MESSAGE_PARA vp{sizeof vp, 0x10001, 0, nullptr, nullptr};
  for (const auto* msg : {&sig, &env}) {
    DWORD type = 0, inner = 0, size = 0;
    PCCERT_CONTEXT xchg = nullptr, signer = nullptr;
    ASSERT_TRUE(CryptDecodeMessage(0xFFFFFFFF, &dp, &vp, 0, msg->data(), DWORD(msg->size()), 0,
                                   &type, &inner, nullptr, &size, &xchg, &signer));
    std::vector<BYTE> out(size);
    ASSERT_TRUE(CryptDecodeMessage(0xFFFFFFFF, &dp, &vp, 0, msg->data(), DWORD(msg->size()), 0,
                                   &type, &inner, out.data(), &size, &xchg, &signer));
    EXPECT_EQ(out, kText);
    EXPECT_EQ(type, msg == &sig ? CMSG_SIGNED : CMSG_ENVELOPED);
    EXPECT_EQ(inner, CMSG_DATA);
    EXPECT_EQ(xchg != nullptr, msg == &env);
    EXPECT_EQ(signer != nullptr, msg == &sig);
    CertFreeCertificateContext(xchg);
    CertFreeCertificateContext(signer);
    EXPECT_FALSE(CryptDecodeMessage(CMSG_DATA_FLAG, &dp, &vp, 0, msg->data(), DWORD(msg->size()), 0,
                                    &type, &inner, nullptr, &size, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), CRYPT_E_UNEXPECTED_MSG_TYPE);
  }

  // Encodings: UTCTime up to 2049, GeneralizedTime after; RC2 versions as DER integers;
  // S/MIME capabilities (AES-256, RC2 with its parameters) and an OCTET STRING.
  const FILETIME y2024 = fileTimeFromUnix(1704164645), y2050 = fileTimeFromUnix(2524608000);
  const CRYPT_RC2_CBC_PARAMETERS v58{58, FALSE, {}}, v120{120, FALSE, {}}, v160{160, FALSE, {}};
  BYTE rc2Version[] = {0x02, 0x01, 0x3a};
  CRYPT_SMIME_CAPABILITY capability[] = {
      {const_cast<char*>("2.16.840.1.101.3.4.1.42"), {}},
      {const_cast<char*>(szOID_RSA_RC2CBC), {sizeof rc2Version, rc2Version}}};
  CRYPT_SMIME_CAPABILITIES capabilities{2, capability};
  const CRYPT_DATA_BLOB octets{3, rc2Version};
  const std::vector<BYTE> capsDer = {0x30, 0x1c, 0x30, 0x0b, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                                     0x65, 0x03, 0x04, 0x01, 0x2a, 0x30, 0x0d, 0x06, 0x08, 0x2a,
                                     0x86, 0x48, 0x86, 0xf7, 0x0d, 0x03, 0x02, 0x02, 0x01, 0x3a};
  const struct {
    const char* what;
    DWORD encoding;
    const char* type;
    const void* value;
    std::vector<BYTE> der;
  } encodings[] = {
      {"UTCTime in 2024", PKCS_7_ASN_ENCODING, szOID_RSA_signingTime, &y2024,
       bytesOf("\027\015240102030405Z")},
      {"GeneralizedTime in 2050", PKCS_7_ASN_ENCODING, szOID_RSA_signingTime, &y2050,
       bytesOf("\030\01720500101000000Z")},
      {"RC2 58", 0x10001, PKCS_RC2_CBC_PARAMETERS, &v58, {0x30, 0x03, 0x02, 0x01, 0x3a}},
      {"RC2 120", 0x10001, PKCS_RC2_CBC_PARAMETERS, &v120, {0x30, 0x03, 0x02, 0x01, 0x78}},
      {"RC2 160", 0x10001, PKCS_RC2_CBC_PARAMETERS, &v160, {0x30, 0x04, 0x02, 0x02, 0x00, 0xa0}},
      {"capabilities", PKCS_7_ASN_ENCODING, szOID_RSA_SMIMECapabilities, &capabilities, capsDer},
      {"octets", X509_ASN_ENCODING, X509_OCTET_STRING, &octets, {0x04, 0x03, 0x02, 0x01, 0x3a}},
  };
  for (const auto& e : encodings) EXPECT_EQ(encoded(e.encoding, e.type, e.value), e.der) << e.what;
  BYTE out[64];
  DWORD size = sizeof out;
  capability[1].pszObjId = const_cast<char*>("not an oid");
  EXPECT_FALSE(
      CryptEncodeObject(PKCS_7_ASN_ENCODING, PKCS_SMIME_CAPABILITIES, &capabilities, out, &size));
  EXPECT_EQ(GetLastError(), CRYPT_E_BAD_ENCODE);
  EXPECT_FALSE(CryptEncodeObject(0x10001, "1.2.3", &size, nullptr, &size));
  EXPECT_EQ(GetLastError(), 2u);
}

}  // namespace
