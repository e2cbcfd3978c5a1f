#include "tests/support/TestCerts.h"

#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509v3.h>

#include <cstdlib>
#include <stdexcept>

#include "tests/support/TempDir.h"

namespace {

std::string bioText(BIO* bio) {
  char* data = nullptr;
  long n = BIO_get_mem_data(bio, &data);
  std::string s(data, size_t(n));
  BIO_free(bio);
  return s;
}

X509* parse(const std::string& der) {
  const auto* p = reinterpret_cast<const unsigned char*>(der.data());
  return d2i_X509(nullptr, &p, long(der.size()));
}

}  // namespace

std::shared_ptr<EVP_PKEY> newRsaKey() {
  // Small keys keep the sanitizer build fast; nothing here depends on their strength.
  EVP_PKEY* key = EVP_RSA_gen(1024);
  if (key == nullptr) throw std::runtime_error("RSA key generation failed");
  return std::shared_ptr<EVP_PKEY>(key, EVP_PKEY_free);
}

std::string TestCert::pem() const {
  X509* x = parse(der);
  BIO* bio = BIO_new(BIO_s_mem());
  PEM_write_bio_X509(bio, x);
  X509_free(x);
  return bioText(bio);
}

std::string keyPem(const TestCert& cert) {
  BIO* bio = BIO_new(BIO_s_mem());
  PEM_write_bio_PrivateKey(bio, cert.key.get(), nullptr, nullptr, 0, nullptr, nullptr);
  return bioText(bio);
}

TestCert makeCert(const CertSpec& spec) {
  TestCert out;
  out.key = spec.key ? spec.key : newRsaKey();
  X509* x = X509_new();
  X509_set_version(x, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(x), spec.serial);
  X509_gmtime_adj(X509_getm_notBefore(x), spec.notBeforeDays * 86400L);
  X509_gmtime_adj(X509_getm_notAfter(x), spec.notAfterDays * 86400L);
  X509_NAME* name = X509_get_subject_name(x);
  for (const NameEntry& e : spec.subject) {
    const int type = e.asn1Type != 0 ? e.asn1Type : MBSTRING_UTF8;
    ASN1_OBJECT* obj = OBJ_txt2obj(e.key.c_str(), 0);
    X509_NAME_ENTRY* entry = X509_NAME_ENTRY_create_by_OBJ(
        nullptr, obj, type, reinterpret_cast<const unsigned char*>(e.value.data()),
        int(e.value.size()));
    X509_NAME_add_entry(name, entry, -1, e.sameRdn ? -1 : 0);
    X509_NAME_ENTRY_free(entry);
    ASN1_OBJECT_free(obj);
  }
  X509* issuerCert = spec.issuer != nullptr ? parse(spec.issuer->der) : nullptr;
  X509_set_issuer_name(x, issuerCert != nullptr ? X509_get_subject_name(issuerCert) : name);
  X509_set_pubkey(x, out.key.get());
  X509V3_CTX ctx;
  X509V3_set_ctx(&ctx, issuerCert != nullptr ? issuerCert : x, x, nullptr, nullptr, 0);
  for (const auto& [extName, value] : spec.extensions) {
    X509_EXTENSION* ext = X509V3_EXT_conf(nullptr, &ctx, extName.c_str(), value.c_str());
    if (ext == nullptr) throw std::runtime_error("bad extension " + extName + "=" + value);
    X509_add_ext(x, ext, -1);
    X509_EXTENSION_free(ext);
  }
  EVP_PKEY* signer = spec.issuer != nullptr ? spec.issuer->key.get() : out.key.get();
  if (X509_sign(x, signer, EVP_sha256()) <= 0) throw std::runtime_error("signing failed");
  unsigned char* der = nullptr;
  int n = i2d_X509(x, &der);
  out.der.assign(reinterpret_cast<char*>(der), size_t(n));
  OPENSSL_free(der);
  X509_free(x);
  X509_free(issuerCert);
  return out;
}

namespace {

// CN=<cn> of the test organisation, valid from 30 days ago, its serial taken from the name.
CertSpec namedSpec(const std::string& cn, const TestCert* issuer, long notAfterDays) {
  CertSpec spec;
  spec.subject = {{"C", "DE"}, {"O", "Vorlund Test"}, {"CN", cn}};
  spec.issuer = issuer;
  spec.notBeforeDays = -30;
  spec.notAfterDays = notAfterDays;
  spec.serial = long(std::hash<std::string>()(cn) & 0x7FFFFFFF);
  return spec;
}

}  // namespace

TestCert makeCa(const std::string& cn, const TestCert* issuer, long notAfterDays) {
  CertSpec spec = namedSpec(cn, issuer, notAfterDays);
  spec.extensions = {{"basicConstraints", "critical,CA:TRUE"}, {"keyUsage", "keyCertSign,cRLSign"}};
  return makeCert(spec);
}

TestCert makeUser(const std::string& cn, const TestCert& issuer, long notAfterDays) {
  CertSpec spec = namedSpec(cn, &issuer, notAfterDays);
  spec.extensions = {{"keyUsage", "digitalSignature,keyEncipherment"},
                     {"extendedKeyUsage", "emailProtection"},
                     {"subjectAltName", "email:" + cn + "@example.org"}};
  return makeCert(spec);
}

void writeCertsAndKeys(const TempDir& dir,
                       const std::vector<std::pair<std::string, const TestCert*>>& certs) {
  for (const auto& [name, cert] : certs) {
    writeWholeFile(dir.file(name + ".pem"), cert->pem());
    writeWholeFile(dir.file(name + ".key"), keyPem(*cert));
  }
}

int runQuietly(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str());
}
