// The serialized-store format that CertSaveStore writes and the file and registry stores
// read, and the machine's bundle of trusted authorities.
//
// Format (little-endian DWORDs): the header 0, "CERT"; then elements of id, encoding type,
// length and that many bytes. A certificate's properties come before its DER (id 32); id 0
// with length 0 ends the store, so bytes after it are never read. Property 2, the
// key-provider property: provider type, flags, key spec, then the container and provider
// names as a byte length and UTF-16LE. Property 11: the friendly name's bytes.
#include <openssl/err.h>
#include <openssl/pem.h>
#include <sys/stat.h>

#include <cstring>

#include "platform/CryptInternal.h"

namespace wincrypt {

namespace {

constexpr DWORD kMagic = 0x54524543;  // "CERT"
constexpr DWORD kCertElement = 32;
constexpr DWORD kEndElement = 0;
constexpr size_t kMaxElement = 16 * 1024 * 1024;

void putDword(std::string& out, DWORD v) {
  for (int i = 0; i < 4; ++i) out.push_back(char((v >> (8 * i)) & 0xFF));
}

void putElement(std::string& out, DWORD id, std::string_view bytes) {
  putDword(out, id);
  putDword(out, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING);
  putDword(out, DWORD(bytes.size()));
  out.append(bytes);
}

void putWide(std::string& out, const std::u16string& s) {
  putDword(out, DWORD(s.size() * 2));
  for (char16_t c : s) {
    out.push_back(char(c & 0xFF));
    out.push_back(char(c >> 8));
  }
}

// A cursor over bytes that refuses to read past their end.
struct Reader {
  std::string_view bytes;
  size_t at = 0;
  bool dword(DWORD* v) {
    if (bytes.size() - at < 4) return false;
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + at);
    *v = DWORD(p[0]) | (DWORD(p[1]) << 8) | (DWORD(p[2]) << 16) | (DWORD(p[3]) << 24);
    at += 4;
    return true;
  }
  bool take(size_t n, std::string_view* out) {
    if (bytes.size() - at < n) return false;
    *out = bytes.substr(at, n);
    at += n;
    return true;
  }
  bool wide(std::u16string* s) {
    DWORD n = 0;
    std::string_view raw;
    if (!dword(&n) || n % 2 != 0 || !take(n, &raw)) return false;
    s->clear();
    for (size_t i = 0; i < raw.size(); i += 2)
      s->push_back(char16_t(uint8_t(raw[i]) | (uint8_t(raw[i + 1]) << 8)));
    return true;
  }
};

bool parseKeyProv(std::string_view bytes, KeyProvInfo* k) {
  Reader r{bytes};
  return r.dword(&k->provType) && r.dword(&k->flags) && r.dword(&k->keySpec) &&
         r.wide(&k->container) && r.wide(&k->provider) && r.at == bytes.size();
}

}  // namespace

std::string serializeStore(const std::vector<StoredCert>& certs) {
  std::string out;
  putDword(out, 0);
  putDword(out, kMagic);
  for (const StoredCert& c : certs) {
    if (c.props.keyProv) {
      std::string k;
      putDword(k, c.props.keyProv->provType);
      putDword(k, c.props.keyProv->flags);
      putDword(k, c.props.keyProv->keySpec);
      putWide(k, c.props.keyProv->container);
      putWide(k, c.props.keyProv->provider);
      putElement(out, CERT_KEY_PROV_INFO_PROP_ID, k);
    }
    if (c.props.friendlyName) putElement(out, CERT_FRIENDLY_NAME_PROP_ID, *c.props.friendlyName);
    putElement(out, kCertElement,
               std::string_view(reinterpret_cast<const char*>(c.der.data()), c.der.size()));
  }
  putDword(out, kEndElement);
  putDword(out, 0);
  putDword(out, 0);
  return out;
}

bool parseStore(std::string_view bytes, std::vector<StoredCert>* certs, std::string* why) {
  certs->clear();
  Reader r{bytes};
  DWORD zero = 1, magic = 0;
  if (!r.dword(&zero) || !r.dword(&magic) || zero != 0 || magic != kMagic) {
    *why = "it does not begin as a certificate store";
    return false;
  }
  Properties pending;
  for (;;) {
    DWORD id = 0, encoding = 0, length = 0;
    std::string_view data;
    if (!r.dword(&id) || !r.dword(&encoding) || !r.dword(&length) || length > kMaxElement ||
        !r.take(length, &data)) {
      *why = "it is truncated";
      return false;
    }
    if (id == kEndElement) return true;
    if (id == kCertElement) {
      const auto* der = reinterpret_cast<const BYTE*>(data.data());
      Context* check = newContext(der, data.size());
      if (check == nullptr) {
        *why = "certificate " + std::to_string(certs->size() + 1) + " is not a certificate";
        return false;
      }
      deleteContext(check);
      certs->push_back(StoredCert{std::vector<BYTE>(der, der + data.size()), pending});
      pending = Properties();
    } else if (id == CERT_KEY_PROV_INFO_PROP_ID) {
      KeyProvInfo k;
      if (!parseKeyProv(data, &k)) {
        *why = "a key-provider property is damaged";
        return false;
      }
      pending.keyProv = k;
    } else if (id == CERT_FRIENDLY_NAME_PROP_ID) {
      pending.friendlyName = std::string(data);
    }
    // Other properties are not kept.
  }
}

namespace {

// The subject name of a certificate's DER, read without parsing the rest: the sixth field
// of the to-be-signed part, or the fifth when the version is left out.
X509_NAME* subjectOfDer(const unsigned char* der, size_t n) {
  DerElement cert, tbs, field;
  if (!elementAt(der, 0, n, &cert) || cert.tag != V_ASN1_SEQUENCE ||
      !elementAt(der, cert.contentStart(), cert.end(), &tbs) || tbs.tag != V_ASN1_SEQUENCE)
    return nullptr;
  size_t at = tbs.contentStart();
  if (elementAt(der, at, tbs.end(), &field) && field.cls == V_ASN1_CONTEXT_SPECIFIC &&
      field.tag == 0)
    at = field.end();            // the version
  for (int i = 0; i < 4; ++i) {  // serial, signature, issuer, validity
    if (!elementAt(der, at, tbs.end(), &field)) return nullptr;
    at = field.end();
  }
  if (!elementAt(der, at, tbs.end(), &field)) return nullptr;  // the subject
  const unsigned char* p = der + at;
  X509_NAME* name = d2i_X509_NAME(nullptr, &p, long(field.end() - at));
  ERR_clear_error();
  return name;
}

std::mutex g_bundleMutex;
std::string g_bundlePath = "/etc/ssl/certs/ca-certificates.crt";
std::mutex g_problemMutex;
std::string g_problem;

}  // namespace

std::shared_ptr<const std::vector<BundleCert>> trustedBundle() {
  std::lock_guard<std::mutex> lock(g_bundleMutex);
  static std::string readPath;
  static struct timespec readTime {};
  static off_t readSize = -1;
  static std::shared_ptr<const std::vector<BundleCert>> certs =
      std::make_shared<std::vector<BundleCert>>();
  struct stat st;
  if (g_bundlePath.empty() || ::stat(g_bundlePath.c_str(), &st) != 0) {
    if (readSize != -1) certs = std::make_shared<std::vector<BundleCert>>();
    readSize = -1;
    return certs;
  }
  if (readPath == g_bundlePath && readSize == st.st_size && readTime.tv_sec == st.st_mtim.tv_sec &&
      readTime.tv_nsec == st.st_mtim.tv_nsec)
    return certs;
  readPath = g_bundlePath;
  readTime = st.st_mtim;
  readSize = st.st_size;
  auto fresh = std::make_shared<std::vector<BundleCert>>();
  BIO* bio = BIO_new_file(g_bundlePath.c_str(), "r");
  for (;;) {
    char* name = nullptr;
    char* header = nullptr;
    unsigned char* der = nullptr;
    long n = 0;
    if (bio == nullptr || !PEM_read_bio(bio, &name, &header, &der, &n)) break;
    // Only certificates count, as PEM_read_bio_X509 reads them; an entry whose subject
    // cannot be read is left out, not the rest of the file.
    X509_NAME* subject = nullptr;
    if (std::strcmp(name, PEM_STRING_X509) == 0 || std::strcmp(name, PEM_STRING_X509_OLD) == 0)
      subject = subjectOfDer(der, size_t(n));
    if (subject != nullptr)
      fresh->push_back(BundleCert{std::vector<BYTE>(der, der + n),
                                  std::shared_ptr<X509_NAME>(subject, X509_NAME_free), nullptr});
    OPENSSL_free(name);
    OPENSSL_free(header);
    OPENSSL_free(der);
  }
  BIO_free(bio);
  ERR_clear_error();
  certs = fresh;
  return certs;
}

X509* bundleX509(const BundleCert& b) {
  static std::mutex parseMutex;
  std::lock_guard<std::mutex> lock(parseMutex);
  if (!b.parsed) {
    const unsigned char* p = b.der.data();
    X509* x = X509_new_ex(libContext(), nullptr);
    if (x != nullptr && d2i_X509(&x, &p, long(b.der.size())) != nullptr)
      b.parsed.reset(x, X509_free);
    else
      X509_free(x);
    ERR_clear_error();
  }
  return b.parsed.get();
}

void noteStoreProblem(const std::string& text) {
  std::lock_guard<std::mutex> lock(g_problemMutex);
  g_problem = text;
}

}  // namespace wincrypt

std::string certStoreLastProblem() {
  std::lock_guard<std::mutex> lock(wincrypt::g_problemMutex);
  return wincrypt::g_problem;
}

void clearCertStoreLastProblem() { wincrypt::noteStoreProblem(std::string()); }

void setTrustedBundleForTesting(const std::string& path) {
  std::lock_guard<std::mutex> lock(wincrypt::g_bundleMutex);
  wincrypt::g_bundlePath = path;
}
