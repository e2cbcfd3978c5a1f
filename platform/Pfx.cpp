// PKCS #12 import: the file's certificates into a memory store, its key into a key
// container (or kept in memory with the certificate).
#include <openssl/err.h>
#include <openssl/pkcs12.h>

#include <memory>

#include "platform/CryptInternal.h"
#include "platform/KeyContainer.h"
#include "platform/Uuid.h"

using namespace wincrypt;

namespace {

std::u16string newContainerName() {
  UUID id;
  UuidCreate(&id);
  const std::string text = guidToString(id);  // "{...}"
  return std::u16string(text.begin(), text.end());
}

PKCS12* parsePfx(const CRYPT_DATA_BLOB* pfx) {
  if (pfx == nullptr || pfx->pbData == nullptr || pfx->cbData == 0) return nullptr;
  const unsigned char* p = pfx->pbData;
  return d2i_PKCS12(nullptr, &p, long(pfx->cbData));
}

// Adds a certificate to the store; with a key, the key goes with it.
bool addCert(HCERTSTORE store, X509* x, EVP_PKEY* key, DWORD flags) {
  unsigned char* der = nullptr;
  const int n = i2d_X509(x, &der);
  PCCERT_CONTEXT added = nullptr;
  const bool ok = n > 0 && CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der, DWORD(n),
                                                            CERT_STORE_ADD_ALWAYS, &added);
  OPENSSL_free(der);
  if (!ok) return false;
  bool done = true;
  if (key != nullptr && (flags & PKCS12_NO_PERSIST_KEY)) {
    std::lock_guard<std::recursive_mutex> lock(cryptMutex());
    EVP_PKEY_up_ref(key);
    contextOf(added)->props.memoryKey = std::shared_ptr<EVP_PKEY>(key, EVP_PKEY_free);
  } else if (key != nullptr) {
    std::u16string container = newContainerName();
    const bool machine = flags & CRYPT_MACHINE_KEYSET;
    done = writeKeyContainer(container, machine, key);
    if (done) {
      CRYPT_KEY_PROV_INFO info{};
      info.pwszContainerName = container.data();
      std::u16string provider = MS_ENHANCED_PROV_W;
      info.pwszProvName = provider.data();
      info.dwProvType = PROV_RSA_FULL;
      info.dwFlags = machine ? CRYPT_MACHINE_KEYSET : 0;
      info.dwKeySpec = AT_KEYEXCHANGE;
      done = CertSetCertificateContextProperty(added, CERT_KEY_PROV_INFO_PROP_ID, 0, &info);
    }
  }
  CertFreeCertificateContext(added);
  return done;
}

}  // namespace

BOOL PFXIsPFXBlob(CRYPT_DATA_BLOB* pfx) {
  PKCS12* p12 = parsePfx(pfx);
  ERR_clear_error();
  PKCS12_free(p12);
  return p12 != nullptr;
}

HCERTSTORE PFXImportCertStore(CRYPT_DATA_BLOB* pfx, LPCWSTR password, DWORD flags) {
  registerCryptTexts();
  UsePlatformContext platformContext;  // RC2-40 needs the legacy provider, which only it has
  PKCS12* p12 = parsePfx(pfx);
  if (p12 == nullptr) {
    ERR_clear_error();
    fail(CRYPT_E_BAD_ENCODE);
    return nullptr;
  }
  const std::string pass = password != nullptr ? utf8FromUtf16(password) : std::string();
  // An empty password may have been made as no password at all.
  const char* tried = pass.c_str();
  if (PKCS12_mac_present(p12) && !PKCS12_verify_mac(p12, tried, -1)) {
    tried = nullptr;
    if (!pass.empty() || !PKCS12_verify_mac(p12, nullptr, 0)) {
      PKCS12_free(p12);
      ERR_clear_error();
      fail(ERROR_INVALID_PASSWORD);
      return nullptr;
    }
  }
  EVP_PKEY* key = nullptr;
  X509* cert = nullptr;
  STACK_OF(X509)* others = nullptr;
  const bool parsed = PKCS12_parse(p12, tried, &key, &cert, &others) == 1;
  PKCS12_free(p12);
  ERR_clear_error();
  if (!parsed) {
    fail(CRYPT_E_BAD_ENCODE);
    return nullptr;
  }
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
  bool ok = store != nullptr && (cert == nullptr || addCert(store, cert, key, flags));
  for (int i = 0; ok && i < sk_X509_num(others); ++i)
    ok = addCert(store, sk_X509_value(others, i), nullptr, flags);
  const DWORD err = GetLastError();
  EVP_PKEY_free(key);
  X509_free(cert);
  sk_X509_pop_free(others, X509_free);
  if (!ok) {
    CertCloseStore(store, 0);
    SetLastError(err);
    return nullptr;
  }
  return store;
}
