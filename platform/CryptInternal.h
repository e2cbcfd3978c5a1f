// What the sources of the platform's certificate services share; nothing outside platform/
// includes this.
#pragma once

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/WinCrypt.h"

namespace wincrypt {

// The platform's own OpenSSL library context, with the legacy and default providers.
OSSL_LIB_CTX* libContext();
// Makes the platform's context this thread's default for its life, for the OpenSSL calls
// that take no context (PKCS #12 parsing), and puts the caller's back afterwards.
class UsePlatformContext {
 public:
  UsePlatformContext();
  ~UsePlatformContext();
  UsePlatformContext(const UsePlatformContext&) = delete;
  UsePlatformContext& operator=(const UsePlatformContext&) = delete;

 private:
  OSSL_LIB_CTX* previous_;
};

// Registers the texts of this layer's error codes with FormatMessageA (once).
void registerCryptTexts();
// The last error set and FALSE / null, for one-line failure returns.
BOOL fail(DWORD code);

// One lock for every store and context of the process: the layer is called from one thread
// at a time in practice, and the lock keeps it correct when it is not.
std::recursive_mutex& cryptMutex();

std::u16string utf16FromUtf8(std::string_view s);
std::string utf8FromUtf16(std::u16string_view s);
FILETIME fileTimeFromAsn1(const ASN1_TIME* t);

// The key-provider property as stored.
struct KeyProvInfo {
  std::u16string container;
  std::u16string provider;
  DWORD provType = 0;
  DWORD flags = 0;
  DWORD keySpec = 0;
};

// The properties of one certificate in one store; duplicates of a context share them.
struct Properties {
  std::optional<KeyProvInfo> keyProv;
  std::optional<std::string> friendlyName;
  std::shared_ptr<EVP_PKEY> memoryKey;  // a key imported without a container
};

struct Store;

// A certificate context: the public record first, so a PCCERT_CONTEXT is its address.
struct Context {
  CERT_CONTEXT pub{};
  CERT_INFO info{};
  std::vector<BYTE> der;
  X509* x509 = nullptr;
  Properties props;
  // The last private key found to belong to this certificate; a reference is kept, so an
  // address that matches is that same key.
  std::shared_ptr<EVP_PKEY> matchedKey;
  int refs = 0;            // references handed out
  Store* store = nullptr;  // the store that owns it; null for a context of its own
  bool inStore = false;    // still an element of that store
  bool readOnly = false;   // shown by the store but not its own (the machine's authorities)
  // Storage the public record points into.
  std::string sigOid, keyOid;
  std::vector<BYTE> serialLe, issuer, subject, sigParams, keyParams, publicKey;
  std::vector<std::string> extOids;
  std::vector<std::vector<BYTE>> extValues;
  std::vector<CERT_EXTENSION> extensions;
};

// A context for DER bytes, with no reference yet; null when they are not a certificate (the
// last error set).
Context* newContext(const BYTE* der, size_t size);
Context* contextOf(PCCERT_CONTEXT c);
void deleteContext(Context* c);
// One more reference to a context (of a store: to its store too).
PCCERT_CONTEXT handOut(Context* c);

// A DER header: the first byte and the length in its shortest form.
std::vector<BYTE> derHeader(BYTE firstByte, size_t length);
// A DER element of the tag around `content`.
std::vector<BYTE> derElement(BYTE tag, const std::vector<BYTE>& content);
// One DER element: where its header starts, the header's and the content's lengths, its tag
// and class.
struct DerElement {
  size_t start = 0;
  size_t header = 0;
  size_t length = 0;
  int tag = 0;
  int cls = 0;
  size_t contentStart() const { return start + header; }
  size_t end() const { return start + header + length; }
};
// The element at `at`, wholly inside [0, end) of `der`; false for an indefinite length or one
// that runs past `end`.
bool elementAt(const BYTE* der, size_t at, size_t end, DerElement* e);

// The issuer and serial number of two records are the same.
bool sameIssuerAndSerial(const CERT_INFO& a, const CERT_INFO& b);
// The issuer of a signer id that names its signer by subject key identifier: one RDN with the
// identifier under szOID_KEYID_RDN. Empty when it cannot be encoded.
std::vector<BYTE> keyIdIssuer(const unsigned char* keyId, int length);
// The signer id names its signer by subject key identifier: the identifier in *keyId.
bool keyIdOfSignerId(const CERT_INFO& id, std::vector<BYTE>* keyId);
// The certificate's subject key identifier extension holds `keyId`.
bool hasSubjectKeyId(const Context& c, const std::vector<BYTE>& keyId);

// The serialized store: a header, then per certificate its properties and its DER.
struct StoredCert {
  std::vector<BYTE> der;
  Properties props;
};
std::string serializeStore(const std::vector<StoredCert>& certs);
// False with *why when the bytes are not a whole serialized store.
bool parseStore(std::string_view bytes, std::vector<StoredCert>* certs, std::string* why);

// The machine's trusted authorities, read once per change of their file. Only the subject
// is parsed then: parsing a whole certificate (its key above all) costs far more, and a
// chain reaches for one or two of the hundred and more.
struct BundleCert {
  std::vector<BYTE> der;
  std::shared_ptr<X509_NAME> subject;
  mutable std::shared_ptr<X509> parsed;  // filled by bundleX509
};
std::shared_ptr<const std::vector<BundleCert>> trustedBundle();
// The authority parsed (once); null when its DER is not a certificate.
X509* bundleX509(const BundleCert& b);
// A context for an already parsed certificate (a reference of its own to `x`).
Context* newContext(X509* x, const std::vector<BYTE>& der);
// A system store without the machine's authorities that the local machine's ROOT shows:
// the chain engine takes those from trustedBundle() without making contexts of them.
HCERTSTORE openSystemStoreOwnCertificates(const char16_t* name, DWORD flags);

void noteStoreProblem(const std::string& text);

// Every certificate of the stores an engine trusts, and of those it searches for issuers.
struct EngineStores {
  std::vector<PCCERT_CONTEXT> roots;
  std::vector<PCCERT_CONTEXT> others;
};

}  // namespace wincrypt
