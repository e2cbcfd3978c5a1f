// CryptDecodeObject for the certificate extensions the certificate layer reads: key usage,
// alternative names and extended key usage, each into one self-contained block.
#include <openssl/err.h>
#include <openssl/x509v3.h>

#include <cstring>

#include "platform/CryptInternal.h"

namespace {

// A block built by offsets, whose inner pointers are set once it is copied to its place.
class Block {
 public:
  size_t reserve(size_t n, size_t align = alignof(void*)) {
    size_t at = (bytes_.size() + align - 1) / align * align;
    bytes_.resize(at + n);
    return at;
  }
  size_t put(const void* data, size_t n, size_t align = 1) {
    size_t at = reserve(n, align);
    if (n > 0) std::memcpy(bytes_.data() + at, data, n);
    return at;
  }
  template <typename T>
  T* at(size_t offset) {
    return reinterpret_cast<T*>(bytes_.data() + offset);
  }
  // The pointer field at `field` is to point at `target` in the final block.
  void link(size_t field, size_t target) { links_.push_back({field, target}); }
  size_t size() const { return bytes_.size(); }
  void copyTo(BYTE* out) const {
    std::memcpy(out, bytes_.data(), bytes_.size());
    for (const auto& l : links_) {
      BYTE* target = out + l.second;
      std::memcpy(out + l.first, &target, sizeof target);
    }
  }

 private:
  std::vector<BYTE> bytes_;
  std::vector<std::pair<size_t, size_t>> links_;
};

size_t putWide(Block& b, const ASN1_STRING* s) {
  std::u16string w = wincrypt::utf16FromUtf8(std::string_view(
      reinterpret_cast<const char*>(ASN1_STRING_get0_data(s)), size_t(ASN1_STRING_length(s))));
  return b.put(w.c_str(), (w.size() + 1) * sizeof(char16_t), alignof(char16_t));
}

size_t putOid(Block& b, const ASN1_OBJECT* obj) {
  char oid[128];
  int n = OBJ_obj2txt(oid, sizeof oid, obj, 1);
  if (n < 0 || size_t(n) >= sizeof oid) n = 0;
  oid[n] = '\0';
  return b.put(oid, size_t(n) + 1);
}

bool decodeKeyUsage(const BYTE* p, DWORD n, Block& b) {
  ASN1_BIT_STRING* bits = d2i_ASN1_BIT_STRING(nullptr, &p, long(n));
  if (bits == nullptr) return false;
  const size_t head = b.reserve(sizeof(CRYPT_BIT_BLOB));
  const size_t data = b.put(bits->data, size_t(bits->length));
  auto* blob = b.at<CRYPT_BIT_BLOB>(head);
  blob->cbData = DWORD(bits->length);
  blob->pbData = nullptr;
  blob->cUnusedBits = (bits->flags & ASN1_STRING_FLAG_BITS_LEFT) ? DWORD(bits->flags & 0x07) : 0;
  if (bits->length > 0) b.link(head + offsetof(CRYPT_BIT_BLOB, pbData), data);
  ASN1_BIT_STRING_free(bits);
  return true;
}

bool decodeEnhancedKeyUsage(const BYTE* p, DWORD n, Block& b) {
  EXTENDED_KEY_USAGE* eku = d2i_EXTENDED_KEY_USAGE(nullptr, &p, long(n));
  if (eku == nullptr) return false;
  const int count = sk_ASN1_OBJECT_num(eku);
  const size_t head = b.reserve(sizeof(CERT_ENHKEY_USAGE));
  const size_t array = b.reserve(sizeof(LPSTR) * size_t(count));
  b.at<CERT_ENHKEY_USAGE>(head)->cUsageIdentifier = DWORD(count);
  b.at<CERT_ENHKEY_USAGE>(head)->rgpszUsageIdentifier = nullptr;
  if (count > 0) b.link(head + offsetof(CERT_ENHKEY_USAGE, rgpszUsageIdentifier), array);
  for (int i = 0; i < count; ++i) {
    const size_t oid = putOid(b, sk_ASN1_OBJECT_value(eku, i));
    b.link(array + sizeof(LPSTR) * size_t(i), oid);
  }
  sk_ASN1_OBJECT_pop_free(eku, ASN1_OBJECT_free);
  return true;
}

bool decodeAltName(const BYTE* p, DWORD n, Block& b) {
  GENERAL_NAMES* names = d2i_GENERAL_NAMES(nullptr, &p, long(n));
  if (names == nullptr) return false;
  const int count = sk_GENERAL_NAME_num(names);
  const size_t head = b.reserve(sizeof(CERT_ALT_NAME_INFO));
  const size_t array = b.reserve(sizeof(CERT_ALT_NAME_ENTRY) * size_t(count));
  b.at<CERT_ALT_NAME_INFO>(head)->cAltEntry = DWORD(count);
  b.at<CERT_ALT_NAME_INFO>(head)->rgAltEntry = nullptr;
  if (count > 0) b.link(head + offsetof(CERT_ALT_NAME_INFO, rgAltEntry), array);
  for (int i = 0; i < count; ++i) {
    const GENERAL_NAME* g = sk_GENERAL_NAME_value(names, i);
    const size_t entry = array + sizeof(CERT_ALT_NAME_ENTRY) * size_t(i);
    const size_t value = entry + offsetof(CERT_ALT_NAME_ENTRY, pwszRfc822Name);
    std::memset(b.at<BYTE>(entry), 0, sizeof(CERT_ALT_NAME_ENTRY));
    auto setChoice = [&](DWORD choice) {
      b.at<CERT_ALT_NAME_ENTRY>(entry)->dwAltNameChoice = choice;
    };
    switch (g->type) {
      case GEN_EMAIL:
        setChoice(CERT_ALT_NAME_RFC822_NAME);
        b.link(value, putWide(b, g->d.rfc822Name));
        break;
      case GEN_DNS:
        setChoice(CERT_ALT_NAME_DNS_NAME);
        b.link(value, putWide(b, g->d.dNSName));
        break;
      case GEN_URI:
        setChoice(CERT_ALT_NAME_URL);
        b.link(value, putWide(b, g->d.uniformResourceIdentifier));
        break;
      case GEN_RID:
        setChoice(CERT_ALT_NAME_REGISTERED_ID);
        b.link(value, putOid(b, g->d.registeredID));
        break;
      case GEN_IPADD:
      case GEN_DIRNAME: {
        unsigned char* der = nullptr;
        int len = 0;
        const unsigned char* raw = nullptr;
        if (g->type == GEN_IPADD) {
          setChoice(CERT_ALT_NAME_IP_ADDRESS);
          raw = g->d.iPAddress->data;
          len = g->d.iPAddress->length;
        } else {
          setChoice(CERT_ALT_NAME_DIRECTORY_NAME);
          len = i2d_X509_NAME(g->d.directoryName, &der);
          raw = der;
        }
        if (len > 0) {
          const size_t data = b.put(raw, size_t(len));
          b.at<CERT_ALT_NAME_ENTRY>(entry)->IPAddress.cbData = DWORD(len);
          b.link(value + offsetof(CRYPT_DATA_BLOB, pbData), data);
        }
        OPENSSL_free(der);
        break;
      }
      case GEN_OTHERNAME: {
        setChoice(CERT_ALT_NAME_OTHER_NAME);
        const size_t other = b.reserve(sizeof(CERT_OTHER_NAME));
        std::memset(b.at<BYTE>(other), 0, sizeof(CERT_OTHER_NAME));
        b.link(value, other);
        b.link(other + offsetof(CERT_OTHER_NAME, pszObjId), putOid(b, g->d.otherName->type_id));
        unsigned char* der = nullptr;
        const int len = i2d_ASN1_TYPE(g->d.otherName->value, &der);
        if (len > 0) {
          const size_t data = b.put(der, size_t(len));
          b.at<CERT_OTHER_NAME>(other)->Value.cbData = DWORD(len);
          b.link(other + offsetof(CERT_OTHER_NAME, Value) + offsetof(CRYPT_DATA_BLOB, pbData),
                 data);
        }
        OPENSSL_free(der);
        break;
      }
      default:  // X.400 addresses and EDI party names are named, not decoded
        setChoice(g->type == GEN_X400 ? CERT_ALT_NAME_X400_ADDRESS : CERT_ALT_NAME_EDI_PARTY_NAME);
        break;
    }
  }
  GENERAL_NAMES_free(names);
  return true;
}

bool isType(LPCSTR type, uintptr_t number, const char* oid) {
  if (reinterpret_cast<uintptr_t>(type) < 0x10000)
    return reinterpret_cast<uintptr_t>(type) == number;
  return std::strcmp(type, oid) == 0;
}

}  // namespace

BOOL CryptDecodeObject(DWORD /*encoding*/, LPCSTR structType, const BYTE* encoded, DWORD size,
                       DWORD /*flags*/, void* out, DWORD* outSize) {
  wincrypt::registerCryptTexts();
  if (structType == nullptr || outSize == nullptr) return wincrypt::fail(0x80070057);
  if (encoded == nullptr || size == 0) return wincrypt::fail(CRYPT_E_ASN1_EOD);
  Block b;
  bool ok = false;
  if (isType(structType, 14, szOID_KEY_USAGE)) {
    ok = decodeKeyUsage(encoded, size, b);
  } else if (isType(structType, 36, szOID_ENHANCED_KEY_USAGE)) {
    ok = decodeEnhancedKeyUsage(encoded, size, b);
  } else if (isType(structType, 12, szOID_SUBJECT_ALT_NAME2) ||
             (reinterpret_cast<uintptr_t>(structType) >= 0x10000 &&
              (std::strcmp(structType, "2.5.29.18") == 0 ||
               std::strcmp(structType, "2.5.29.7") == 0))) {
    ok = decodeAltName(encoded, size, b);
  } else {
    return wincrypt::fail(ERROR_FILE_NOT_FOUND);
  }
  ERR_clear_error();
  if (!ok) return wincrypt::fail(CRYPT_E_ASN1_BADTAG);
  if (out == nullptr) {
    *outSize = DWORD(b.size());
    return TRUE;
  }
  if (*outSize < b.size()) {
    *outSize = DWORD(b.size());
    return wincrypt::fail(ERROR_MORE_DATA);
  }
  b.copyTo(static_cast<BYTE*>(out));
  *outSize = DWORD(b.size());
  return TRUE;
}
