// The certificate object: a Certificate record (smime/) loaded from a file, a PKCS #12 file,
// the stores or base64 text, with the properties a user of a certificate expects. Its key,
// when it has one, is reached through the record's context: a key container, or a key kept
// in memory for the object's life.
#include <atomic>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <new>
#include <string>

#include "foundation/ByteCodecs.h"
#include "foundation/DataBuffer.h"
#include "foundation/XString.h"
#include "log/Logger.h"
#include "platform/KeyContainer.h"
#include "siblings/SiblingDispatch.h"
#include "siblings/SiblingsModule.h"
#include "smime/Certificate.h"

namespace {

constexpr const char* kVersion = VORLUND_VERSION;

std::string utf8Of(BSTR s) {
  XString x;
  x.setFromBSTR(s);
  return x.getUtf8();
}

BSTR bstrOf(const std::string& ansi) { return StringBuffer(ansi.c_str()).createBSTR(); }

std::string lastErrorText() {
  StringBuffer text;
  text.appendLastWindowsError();
  return text.getString();
}

std::string hex(const BYTE* p, DWORD n, bool reverse) {
  static const char digits[] = "0123456789ABCDEF";
  std::string s;
  for (DWORD i = 0; i < n; ++i) {
    const BYTE b = p[reverse ? n - 1 - i : i];
    s.push_back(digits[b >> 4]);
    s.push_back(digits[b & 15]);
  }
  return s;
}

extern const SiblingTable kCertTable;

class CVorlundCert final : public SiblingObject<IVorlundCert> {
 public:
  CVorlundCert() : SiblingObject(IID_IVorlundCert, kCertTable) {}

  HRESULT LoadFromFile(BSTR path, LONG* success) override {
    return framed("LoadFromFile", success, [&] { return loadFile(utf8Of(path)); });
  }
  HRESULT LoadPfxFile(BSTR path, BSTR password, LONG* success) override {
    return framed("LoadPfxFile", success, [&] { return loadPfx(utf8Of(path), password); });
  }
  HRESULT LoadFromStoreByThumbprint(BSTR sha1, LONG machine, LONG* success) override {
    const std::string wanted = utf8Of(sha1);
    return framed("LoadFromStoreByThumbprint", success, [&] {
      return loadFromStores(machine != 0, [&](PCCERT_CONTEXT c, const Certificate&) {
        return equalNoCase(thumbprint(c), wanted);
      });
    });
  }
  HRESULT LoadFromStoreByEmail(BSTR email, LONG machine, LONG* success) override {
    const std::string wanted = utf8Of(email);
    return framed("LoadFromStoreByEmail", success, [&] {
      return loadFromStores(machine != 0, [&](PCCERT_CONTEXT, const Certificate& cert) {
        return equalNoCase(emailOf(cert), wanted);
      });
    });
  }
  HRESULT SetFromEncoded(BSTR base64, LONG* success) override {
    return framed("SetFromEncoded", success, [&] {
      StringBuffer text;
      text.appendBSTR(base64);
      auto* cert = new Certificate(text.getString(), text.getSize(), &log_);
      return adopt(cert);
    });
  }

  HRESULT get_SubjectDN(BSTR* v) override {
    return text(v, [](const Certificate& c) { return str(c.subjectDn); });
  }
  HRESULT get_IssuerDN(BSTR* v) override {
    return text(v, [](const Certificate& c) { return str(c.issuerDn); });
  }
  HRESULT get_SubjectName(BSTR* v) override {
    return text(v, [](const Certificate& c) {
      StringBuffer s;
      c.getSubjectName(s);
      return str(s);
    });
  }
  HRESULT get_IssuerName(BSTR* v) override {
    return text(v, [](const Certificate& c) {
      StringBuffer s;
      c.getIssuerName(s);
      return str(s);
    });
  }
  HRESULT get_CommonName(BSTR* v) override {
    return text(v, [](const Certificate& c) { return part(c, "CN"); });
  }
  HRESULT get_Email(BSTR* v) override {
    return text(v, [](const Certificate& c) { return emailOf(c); });
  }
  HRESULT get_SerialNumber(BSTR* v) override {
    return text(v, [](const Certificate& c) {
      const CRYPT_INTEGER_BLOB& s = c.context->pCertInfo->SerialNumber;
      return hex(s.pbData, s.cbData, true);
    });
  }
  HRESULT get_ValidFrom(BSTR* v) override {
    return text(v, [](const Certificate& c) { return date(c.context->pCertInfo->NotBefore); });
  }
  HRESULT get_ValidTo(BSTR* v) override {
    return text(v, [](const Certificate& c) { return date(c.context->pCertInfo->NotAfter); });
  }
  HRESULT get_Sha1Thumbprint(BSTR* v) override {
    return text(v, [](const Certificate& c) { return thumbprint(c.context); });
  }
  HRESULT get_HasPrivateKey(LONG* v) override {
    return flag(v, [](const Certificate& c) { return certificateHasPrivateKey(c.context); });
  }
  HRESULT get_Expired(LONG* v) override {
    return flag(v, [](const Certificate& c) { return c.isExpired(); });
  }
  HRESULT get_TrustedRoot(LONG* v) override {
    return flag(v, [](const Certificate& c) { return c.trustedRoot != 0; });
  }
  HRESULT get_SignatureVerified(LONG* v) override {
    return flag(v, [](const Certificate& c) { return c.signatureVerified != 0; });
  }
  HRESULT get_Revoked(LONG* v) override {
    return flag(v, [](const Certificate& c) { return c.revoked != 0; });
  }
  HRESULT get_ForSecureEmail(LONG* v) override {
    return flag(v, [](const Certificate& c) { return c.forSecureEmail != 0; });
  }
  HRESULT get_KeyUsage(BSTR* v) override {
    return text(v, [](const Certificate& c) {
      const struct {
        uint8_t Certificate::*flag;
        const char* name;
      } usages[] = {{&Certificate::digitalSignature, "digitalSignature"},
                    {&Certificate::nonRepudiation, "nonRepudiation"},
                    {&Certificate::keyEncipherment, "keyEncipherment"},
                    {&Certificate::dataEncipherment, "dataEncipherment"},
                    {&Certificate::keyCertSign, "keyCertSign"},
                    {&Certificate::cRLSign, "cRLSign"}};
      std::string s;
      for (const auto& u : usages) {
        if (!(c.*u.flag)) continue;
        if (!s.empty()) s.push_back(',');
        s += u.name;
      }
      return s;
    });
  }
  HRESULT ExportBase64(BSTR* v) override {
    return text(v, [](const Certificate& c) {
      StringBuffer b64;
      c.getEncoded(b64, nullptr);
      return str(b64);
    });
  }
  HRESULT ExportPem(BSTR* v) override {
    return text(v, [](const Certificate& c) {
      StringBuffer b64;
      encodeBase64Lines(c.context->pbCertEncoded, c.context->cbCertEncoded, 64, b64);
      b64.toLF();
      return "-----BEGIN CERTIFICATE-----\n" + str(b64) + "-----END CERTIFICATE-----\n";
    });
  }
  HRESULT get_LastErrorText(BSTR* v) override {
    if (v == nullptr) return E_POINTER;
    StringBuffer text;
    log_.getErrorText(text);
    *v = text.createBSTR();
    return S_OK;
  }
  HRESULT GetImpl(LONG_PTR* impl) override {
    if (impl == nullptr) return E_POINTER;
    *impl = record_ != nullptr && record_->context != nullptr
                ? reinterpret_cast<LONG_PTR>(record_.get())
                : 0;
    return S_OK;
  }
  HRESULT get_Version(BSTR* v) override {
    if (v == nullptr) return E_POINTER;
    *v = bstrOf(kVersion);
    return S_OK;
  }

 private:
  static std::string str(const StringBuffer& s) { return std::string(s.getString(), s.getSize()); }
  static bool equalNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size() || a.empty()) return false;
    for (size_t i = 0; i < a.size(); ++i)
      if (std::tolower(static_cast<unsigned char>(a[i])) !=
          std::tolower(static_cast<unsigned char>(b[i])))
        return false;
    return true;
  }
  static std::string part(const Certificate& c, const char* key) {
    for (int32_t i = 0; i < c.subjectParts.getSize(); ++i) {
      const auto* p = c.subjectParts.getAs<StringPair>(i);
      if (p->key.equals(key)) return str(p->value);
    }
    return std::string();
  }
  static std::string emailOf(const Certificate& c) {
    return c.rfc822Name.isEmpty() ? part(c, "E") : str(c.rfc822Name);
  }
  static std::string thumbprint(PCCERT_CONTEXT c) {
    BYTE hash[20];
    DWORD n = sizeof hash;
    return CertGetCertificateContextProperty(c, CERT_SHA1_HASH_PROP_ID, hash, &n)
               ? hex(hash, n, false)
               : std::string();
  }
  static std::string date(const FILETIME& ft) {
    SYSTEMTIME st;
    if (!FileTimeToSystemTime(&ft, &st)) return std::string();
    char text[48];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", st.wYear, st.wMonth, st.wDay,
                  st.wHour, st.wMinute, st.wSecond);
    return text;
  }

  // Runs a loading member in its log context; the flag is 1 when a certificate was loaded.
  template <typename Load>
  HRESULT framed(const char* name, LONG* success, Load load) {
    if (success == nullptr) return E_POINTER;
    log_.clearLog();
    log_.enterContext(name, true);
    *success = load() ? 1 : 0;
    log_.leaveContext();
    return S_OK;
  }
  // A property of the loaded certificate; empty without one.
  template <typename Get>
  HRESULT text(BSTR* v, Get get) {
    if (v == nullptr) return E_POINTER;
    *v = bstrOf(record_ != nullptr && record_->context != nullptr ? get(*record_) : std::string());
    return S_OK;
  }
  template <typename Get>
  HRESULT flag(LONG* v, Get get) {
    if (v == nullptr) return E_POINTER;
    *v = record_ != nullptr && record_->context != nullptr && get(*record_) ? 1 : 0;
    return S_OK;
  }

  bool adopt(Certificate* cert) {
    if (cert == nullptr || cert->context == nullptr) {
      delete cert;
      return false;
    }
    record_.reset(cert);
    return true;
  }

  bool loadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) {
      log_.logError("Failed to read the certificate file");
      log_.logData("path", path.c_str());
      return false;
    }
    const size_t begin = bytes.find("-----BEGIN CERTIFICATE-----");
    DataBuffer der;
    if (begin != std::string::npos) {
      const size_t start = begin + 27, end = bytes.find("-----END CERTIFICATE-----", start);
      if (end == std::string::npos ||
          !decodeBase64Strict(bytes.data() + start, uint32_t(end - start), der)) {
        log_.logError("The PEM certificate is damaged");
        log_.logData("path", path.c_str());
        return false;
      }
    } else {
      der.append(bytes.data(), uint32_t(bytes.size()));
    }
    PCCERT_CONTEXT c =
        CertCreateCertificateContext(X509_ASN_ENCODING, der.getData(), der.getSize());
    if (c == nullptr) {
      log_.logError(("Not a certificate: " + lastErrorText()).c_str());
      log_.logData("path", path.c_str());
      return false;
    }
    return adopt(new Certificate(c));
  }

  // The certificate of a PKCS #12 file that has the key; the key stays in memory with it.
  bool loadPfx(const std::string& path, BSTR password) {
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    CRYPT_DATA_BLOB blob{DWORD(bytes.size()), reinterpret_cast<BYTE*>(bytes.data())};
    HCERTSTORE store =
        PFXImportCertStore(&blob, password != nullptr ? password : u"", PKCS12_NO_PERSIST_KEY);
    if (store == nullptr) {
      log_.logError(("Failed to import the PKCS #12 file: " + lastErrorText()).c_str());
      log_.logData("path", path.c_str());
      return false;
    }
    PCCERT_CONTEXT keyed = nullptr;
    for (PCCERT_CONTEXT c = CertEnumCertificatesInStore(store, nullptr); c != nullptr;
         c = CertEnumCertificatesInStore(store, c)) {
      if (!certificateHasPrivateKey(c)) continue;
      keyed = CertDuplicateCertificateContext(c);
      CertFreeCertificateContext(c);
      break;
    }
    CertCloseStore(store, 0);
    if (keyed == nullptr) {
      log_.logError("The PKCS #12 file holds no certificate with its key");
      return false;
    }
    return adopt(new Certificate(keyed));
  }

  // The first certificate of the personal, address book, CA and root stores of the user or
  // the machine that `match` accepts.
  template <typename Match>
  bool loadFromStores(bool machine, Match match) {
    const DWORD location =
        machine ? CERT_SYSTEM_STORE_LOCAL_MACHINE : CERT_SYSTEM_STORE_CURRENT_USER;
    for (const char16_t* name : {u"MY", u"AddressBook", u"CA", u"ROOT"}) {
      HCERTSTORE store =
          CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, location | CERT_STORE_READONLY_FLAG, name);
      for (PCCERT_CONTEXT c = CertEnumCertificatesInStore(store, nullptr); c != nullptr;
           c = CertEnumCertificatesInStore(store, c)) {
        auto cert = std::make_unique<Certificate>(CertDuplicateCertificateContext(c));
        if (!match(c, *cert)) continue;
        CertFreeCertificateContext(c);
        CertCloseStore(store, 0);
        return adopt(cert.release());
      }
      CertCloseStore(store, 0);
    }
    log_.logError("No certificate in the stores matches");
    return false;
  }

  Logger log_;
  std::unique_ptr<Certificate> record_;
};

IVorlundCert* cert(void* self) { return static_cast<IVorlundCert*>(self); }

constexpr SiblingType B = SiblingType::kBstr;
constexpr SiblingType L = SiblingType::kLong;
constexpr SiblingType N = SiblingType::kNone;

#define CERT_GET(Name, id, type, field)                     \
  {                                                         \
    u"" #Name, id, DISPATCH_PROPERTYGET, 0, {}, type,       \
        [](void* s, const SiblingArgs&, SiblingResult* r) { \
          return cert(s)->get_##Name(&r->field);            \
        }                                                   \
  }
#define CERT_METHOD(Name, id, result, argCount, arg0, arg1, ...)                                \
  {                                                                                             \
    u"" #Name, id, DISPATCH_METHOD, argCount, {arg0, arg1, N}, result,                          \
        [](void* s, [[maybe_unused]] const SiblingArgs& a, [[maybe_unused]] SiblingResult* r) { \
          return cert(s)->Name(__VA_ARGS__);                                                    \
        }                                                                                       \
  }

const SiblingMember kCertMembers[] = {
    CERT_METHOD(LoadFromFile, 1, L, 1, B, N, a.bstr[0], &r->lng),
    CERT_METHOD(LoadPfxFile, 2, L, 2, B, B, a.bstr[0], a.bstr[1], &r->lng),
    CERT_METHOD(LoadFromStoreByThumbprint, 3, L, 2, B, L, a.bstr[0], a.lng[1], &r->lng),
    CERT_GET(SubjectDN, 4, B, bstr),
    CERT_GET(IssuerDN, 5, B, bstr),
    CERT_GET(SubjectName, 6, B, bstr),
    CERT_GET(IssuerName, 7, B, bstr),
    CERT_GET(CommonName, 8, B, bstr),
    CERT_GET(Email, 9, B, bstr),
    CERT_GET(SerialNumber, 10, B, bstr),
    CERT_GET(ValidFrom, 11, B, bstr),
    CERT_GET(ValidTo, 12, B, bstr),
    CERT_GET(Sha1Thumbprint, 13, B, bstr),
    CERT_GET(HasPrivateKey, 14, L, lng),
    CERT_GET(Expired, 15, L, lng),
    CERT_GET(TrustedRoot, 16, L, lng),
    CERT_GET(SignatureVerified, 17, L, lng),
    CERT_GET(Revoked, 18, L, lng),
    CERT_GET(ForSecureEmail, 19, L, lng),
    CERT_GET(KeyUsage, 20, B, bstr),
    CERT_METHOD(ExportPem, 21, B, 0, N, N, &r->bstr),
    CERT_METHOD(ExportBase64, 22, B, 0, N, N, &r->bstr),
    CERT_GET(LastErrorText, 23, B, bstr),
    CERT_METHOD(LoadFromStoreByEmail, 24, L, 2, B, L, a.bstr[0], a.lng[1], &r->lng),
    CERT_METHOD(GetImpl, 25, SiblingType::kPointer, 0, N, N, &r->pointer),
    CERT_GET(Version, 26, B, bstr),
    CERT_METHOD(SetFromEncoded, 27, L, 1, B, N, a.bstr[0], &r->lng),
};
#undef CERT_GET
#undef CERT_METHOD

extern const SiblingTable kCertTable{kCertMembers, sizeof kCertMembers / sizeof kCertMembers[0]};

}  // namespace

HRESULT createVorlundCert(REFIID riid, void** ppv) {
  return createSiblingObject<CVorlundCert>(riid, ppv);
}
