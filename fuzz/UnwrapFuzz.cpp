// Any bytes as a message to unwrap: parsed, then every signed and enveloped entity verified
// and decrypted. The store holds a key that the seed message is encrypted for, so mutations
// of the seed reach decryption and the signed-data inside it, not only the parsers.
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "foundation/ExtPtrArray.h"
#include "foundation/LogBase.h"
#include "foundation/StringBuffer.h"
#include "fuzz/FuzzSeeds.h"
#include "mime/MimeMessage2.h"
#include "mime/MimeParser.h"
#include "mime/MimeWriter.h"
#include "platform/KeyContainer.h"
#include "platform/WinCrypt.h"
#include "smime/Certificate.h"
#include "smime/CspSettings.h"
#include "smime/SecureMime.h"

namespace {

// A key in a container of the fuzz root and its self-signed certificate in the personal
// store, linked as an import links them.
std::unique_ptr<Certificate> installKey() {
  EVP_PKEY* key = EVP_RSA_gen(2048);
  X509* x = X509_new();
  ASN1_INTEGER_set(X509_get_serialNumber(x), 1);
  X509_gmtime_adj(X509_getm_notBefore(x), -86400);
  X509_gmtime_adj(X509_getm_notAfter(x), 86400L * 365);
  X509_NAME_add_entry_by_txt(X509_get_subject_name(x), "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>("unwrap"), -1, -1, 0);
  X509_set_issuer_name(x, X509_get_subject_name(x));
  X509_set_pubkey(x, key);
  X509_sign(x, key, EVP_sha256());
  unsigned char* der = nullptr;
  const int n = i2d_X509(x, &der);
  PCCERT_CONTEXT c = CertCreateCertificateContext(X509_ASN_ENCODING, der, DWORD(n));
  OPENSSL_free(der);
  X509_free(x);
  std::u16string container = u"fuzz-unwrap";
  writeKeyContainer(container, false, key);
  EVP_PKEY_free(key);
  CRYPT_KEY_PROV_INFO info{};
  info.pwszContainerName = container.data();
  info.dwProvType = PROV_RSA_FULL;
  CertSetCertificateContextProperty(c, CERT_KEY_PROV_INFO_PROP_ID, 0, &info);
  HCERTSTORE my =
      CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, u"MY");
  CertAddCertificateContextToStore(my, c, CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
  CertCloseStore(my, 0);
  return std::make_unique<Certificate>(c);
}

struct Lists {
  ExtPtrArray signers, recipients;
  bool fromUnwrap = false;
  CspSettings csp;
  SecureState state{signers, recipients, fromUnwrap, csp, true};
  ~Lists() {
    signers.removeAllObjects();
    recipients.removeAllObjects();
  }
};

// multipart/alternative holding signed-data inside enveloped data, and a detached signature.
std::string makeSeed(const Certificate& cert) {
  Lists lists;
  LogNull log;
  auto load = [](MimeMessage2& e, const char* text) {
    StringBuffer sb(text);
    loadEntity(e, sb, nullptr);
  };
  auto* sealed = new MimeMessage2();
  load(*sealed, "Content-Type: text/plain\r\n\r\nsealed\r\n");
  convertToSigned(*sealed, cert, lists.state, log);
  encryptEntity(*sealed, cert, lists.state, log);
  auto* signedPart = new MimeMessage2();
  load(*signedPart, "Content-Type: text/plain\r\n\r\nsigned\r\n");
  addDetachedSignature(*signedPart, cert, lists.state, log);
  MimeMessage2 root;
  load(root, "Content-Type: multipart/alternative; boundary=\"a\"\r\n\r\n");
  root.appendPart(sealed);
  root.appendPart(signedPart);
  StringBuffer text;
  writeEntire(root, text);
  return std::string(text.getString(), text.getSize());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  useFuzzPlatformRoot();
  static const std::unique_ptr<Certificate> cert = installKey();
  static const std::string seed = makeSeed(*cert);
  const std::vector<uint8_t> bytes =
      fuzzInput(data, size, reinterpret_cast<const uint8_t*>(seed.data()), seed.size());
  StringBuffer text;
  text.appendN(reinterpret_cast<const char*>(bytes.data()), int64_t(bytes.size()));
  MimeMessage2 entity;
  loadEntity(entity, text, nullptr);
  Lists lists;
  LogNull log;
  unwrapSecurity(entity, lists.state, log);
  return 0;
}
