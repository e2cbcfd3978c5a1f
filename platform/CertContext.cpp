// Certificate contexts: the parsed record of a DER certificate, its references and its
// properties.
#include <openssl/asn1.h>
#include <openssl/err.h>
#include <openssl/objects.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cstring>

#include "platform/CryptInternal.h"

namespace wincrypt {

namespace {

std::vector<BYTE> derOf(int (*encode)(const void*, unsigned char**), const void* object) {
  unsigned char* out = nullptr;
  int n = encode(object, &out);
  if (n <= 0) return {};
  std::vector<BYTE> bytes(out, out + n);
  OPENSSL_free(out);
  return bytes;
}

std::vector<BYTE> nameDer(const X509_NAME* name) {
  return derOf([](const void* o, unsigned char** p) { return i2d_X509_NAME((X509_NAME*)o, p); },
               name);
}

std::string oidText(const ASN1_OBJECT* obj) {
  char buf[128];
  int n = OBJ_obj2txt(buf, sizeof buf, obj, 1);
  return n > 0 && size_t(n) < sizeof buf ? std::string(buf, size_t(n)) : std::string();
}

CRYPT_DATA_BLOB blobOf(std::vector<BYTE>& v) {
  return CRYPT_DATA_BLOB{DWORD(v.size()), v.empty() ? nullptr : v.data()};
}

// Fills the public record from the parsed certificate; the storage lives in the context.
void fillInfo(Context* c) {
  X509* x = c->x509;
  CERT_INFO& info = c->info;
  info.dwVersion = DWORD(X509_get_version(x));

  const ASN1_INTEGER* serial = X509_get0_serialNumber(x);
  c->serialLe.assign(serial->data, serial->data + serial->length);
  std::reverse(c->serialLe.begin(), c->serialLe.end());
  info.SerialNumber = blobOf(c->serialLe);

  const X509_ALGOR* sigAlg = X509_get0_tbs_sigalg(x);
  const ASN1_OBJECT* sigObj = nullptr;
  int ptype = 0;
  const void* pval = nullptr;
  X509_ALGOR_get0(&sigObj, &ptype, &pval, sigAlg);
  c->sigOid = oidText(sigObj);
  info.SignatureAlgorithm.pszObjId = c->sigOid.data();
  if (ptype == V_ASN1_NULL) c->sigParams = {0x05, 0x00};
  info.SignatureAlgorithm.Parameters = blobOf(c->sigParams);

  c->issuer = nameDer(X509_get_issuer_name(x));
  c->subject = nameDer(X509_get_subject_name(x));
  info.Issuer = blobOf(c->issuer);
  info.Subject = blobOf(c->subject);
  info.NotBefore = fileTimeFromAsn1(X509_get0_notBefore(x));
  info.NotAfter = fileTimeFromAsn1(X509_get0_notAfter(x));

  X509_PUBKEY* pub = X509_get_X509_PUBKEY(x);
  const ASN1_OBJECT* keyObj = nullptr;
  const unsigned char* keyBytes = nullptr;
  int keyLen = 0;
  X509_ALGOR* keyAlg = nullptr;
  if (pub != nullptr && X509_PUBKEY_get0_param(const_cast<ASN1_OBJECT**>(&keyObj), &keyBytes,
                                               &keyLen, &keyAlg, pub) == 1) {
    c->keyOid = oidText(keyObj);
    c->publicKey.assign(keyBytes, keyBytes + keyLen);
    const void* kval = nullptr;
    int ktype = 0;
    X509_ALGOR_get0(nullptr, &ktype, &kval, keyAlg);
    if (ktype == V_ASN1_NULL) c->keyParams = {0x05, 0x00};
  }
  info.SubjectPublicKeyInfo.Algorithm.pszObjId = c->keyOid.data();
  info.SubjectPublicKeyInfo.Algorithm.Parameters = blobOf(c->keyParams);
  info.SubjectPublicKeyInfo.PublicKey = CRYPT_BIT_BLOB{
      DWORD(c->publicKey.size()), c->publicKey.empty() ? nullptr : c->publicKey.data(), 0};

  const int count = X509_get_ext_count(x);
  c->extOids.resize(size_t(count));
  c->extValues.resize(size_t(count));
  c->extensions.resize(size_t(count));
  for (int i = 0; i < count; ++i) {
    X509_EXTENSION* ext = X509_get_ext(x, i);
    const ASN1_OCTET_STRING* value = X509_EXTENSION_get_data(ext);
    c->extOids[size_t(i)] = oidText(X509_EXTENSION_get_object(ext));
    c->extValues[size_t(i)].assign(value->data, value->data + value->length);
  }
  for (int i = 0; i < count; ++i) {
    CERT_EXTENSION& e = c->extensions[size_t(i)];
    e.pszObjId = c->extOids[size_t(i)].data();
    e.fCritical = X509_EXTENSION_get_critical(X509_get_ext(x, i)) ? TRUE : FALSE;
    e.Value = blobOf(c->extValues[size_t(i)]);
  }
  info.cExtension = DWORD(count);
  info.rgExtension = count > 0 ? c->extensions.data() : nullptr;

  c->pub.dwCertEncodingType = X509_ASN_ENCODING;
  c->pub.pbCertEncoded = c->der.data();
  c->pub.cbCertEncoded = DWORD(c->der.size());
  c->pub.pCertInfo = &c->info;
}

}  // namespace

Context* newContext(const BYTE* der, size_t size) {
  registerCryptTexts();
  if (der == nullptr || size == 0) {
    SetLastError(CRYPT_E_ASN1_EOD);
    return nullptr;
  }
  X509* x = X509_new_ex(libContext(), nullptr);
  const unsigned char* p = der;
  if (x == nullptr || d2i_X509(&x, &p, long(size)) == nullptr) {
    X509_free(x);
    SetLastError(CRYPT_E_ASN1_BADTAG);
    return nullptr;
  }
  if (size_t(p - der) != size) {  // bytes after the certificate: not one certificate
    X509_free(x);
    SetLastError(CRYPT_E_ASN1_CORRUPT);
    return nullptr;
  }
  auto* c = new Context;
  c->der.assign(der, der + size);
  c->x509 = x;
  fillInfo(c);
  return c;
}

Context* newContext(X509* x, const std::vector<BYTE>& der) {
  X509_up_ref(x);
  auto* c = new Context;
  c->der = der;
  c->x509 = x;
  fillInfo(c);
  return c;
}

Context* contextOf(PCCERT_CONTEXT c) {
  return const_cast<Context*>(reinterpret_cast<const Context*>(c));
}

void deleteContext(Context* c) {
  X509_free(c->x509);
  delete c;
}

bool sameIssuerAndSerial(const CERT_INFO& a, const CERT_INFO& b) {
  auto same = [](const CRYPT_DATA_BLOB& x, const CRYPT_DATA_BLOB& y) {
    return x.cbData == y.cbData &&
           (x.cbData == 0 || std::memcmp(x.pbData, y.pbData, x.cbData) == 0);
  };
  return same(a.Issuer, b.Issuer) && same(a.SerialNumber, b.SerialNumber);
}

std::vector<BYTE> derHeader(BYTE firstByte, size_t length) {
  std::vector<BYTE> h = {firstByte};
  if (length < 0x80) {
    h.push_back(BYTE(length));
    return h;
  }
  std::vector<BYTE> n;
  for (size_t v = length; v != 0; v >>= 8) n.insert(n.begin(), BYTE(v & 0xFF));
  h.push_back(BYTE(0x80 | n.size()));
  h.insert(h.end(), n.begin(), n.end());
  return h;
}

std::vector<BYTE> derElement(BYTE tag, const std::vector<BYTE>& content) {
  std::vector<BYTE> out = derHeader(tag, content.size());
  out.insert(out.end(), content.begin(), content.end());
  return out;
}

bool elementAt(const BYTE* der, size_t at, size_t end, DerElement* e) {
  if (at >= end) return false;
  const unsigned char* p = der + at;
  long length = 0;
  const int r = ASN1_get_object(&p, &length, &e->tag, &e->cls, long(end - at));
  ERR_clear_error();
  if ((r & 0x80) != 0 || (r & 0x01) != 0) return false;
  e->start = at;
  e->header = size_t(p - (der + at));
  e->length = size_t(length);
  return e->start + e->header + e->length <= end;
}

namespace {

std::vector<BYTE> keyIdRdnOid() {
  ASN1_OBJECT* obj = OBJ_txt2obj(szOID_KEYID_RDN, 1);
  unsigned char* der = nullptr;
  const int n = obj != nullptr ? i2d_ASN1_OBJECT(obj, &der) : 0;
  std::vector<BYTE> out;
  if (n > 0) out.assign(der, der + n);
  OPENSSL_free(der);
  ASN1_OBJECT_free(obj);
  return out;
}

}  // namespace

// Name ::= SEQUENCE { SET { SEQUENCE { szOID_KEYID_RDN, OCTET STRING keyId } } }. OpenSSL's
// name parser takes no OCTET STRING value, so both directions are written out here.
std::vector<BYTE> keyIdIssuer(const unsigned char* keyId, int length) {
  std::vector<BYTE> attribute = keyIdRdnOid();
  if (attribute.empty() || length < 0) return {};
  const std::vector<BYTE> value =
      derElement(V_ASN1_OCTET_STRING, std::vector<BYTE>(keyId, keyId + length));
  attribute.insert(attribute.end(), value.begin(), value.end());
  return derElement(0x30, derElement(0x31, derElement(0x30, attribute)));
}

bool keyIdOfSignerId(const CERT_INFO& id, std::vector<BYTE>* keyId) {
  if (id.SerialNumber.cbData != 0 || id.Issuer.pbData == nullptr) return false;
  const BYTE* der = id.Issuer.pbData;
  const size_t size = id.Issuer.cbData;
  // Each level holds exactly one element: the RDN set, the attribute, then OID and value.
  DerElement name, set, attribute, value;
  if (!elementAt(der, 0, size, &name) || name.tag != V_ASN1_SEQUENCE || name.end() != size ||
      !elementAt(der, name.contentStart(), size, &set) || set.tag != V_ASN1_SET ||
      set.end() != size || !elementAt(der, set.contentStart(), size, &attribute) ||
      attribute.tag != V_ASN1_SEQUENCE || attribute.end() != size)
    return false;
  const std::vector<BYTE> oid = keyIdRdnOid();
  const size_t at = attribute.contentStart();
  if (oid.empty() || size - at < oid.size() || std::memcmp(der + at, oid.data(), oid.size()) != 0 ||
      !elementAt(der, at + oid.size(), size, &value) || value.tag != V_ASN1_OCTET_STRING ||
      value.cls != V_ASN1_UNIVERSAL || value.end() != size)
    return false;
  keyId->assign(der + value.contentStart(), der + value.end());
  return true;
}

bool hasSubjectKeyId(const Context& c, const std::vector<BYTE>& keyId) {
  const ASN1_OCTET_STRING* own = X509_get0_subject_key_id(c.x509);
  return own != nullptr && size_t(ASN1_STRING_length(own)) == keyId.size() &&
         std::memcmp(ASN1_STRING_get0_data(own), keyId.data(), keyId.size()) == 0;
}

}  // namespace wincrypt

using namespace wincrypt;

PCCERT_CONTEXT CertCreateCertificateContext(DWORD encoding, const BYTE* encoded, DWORD size) {
  registerCryptTexts();
  if ((encoding & X509_ASN_ENCODING) == 0) {
    SetLastError(0x80070057);
    return nullptr;
  }
  Context* c = newContext(encoded, size);
  if (c == nullptr) return nullptr;
  std::lock_guard<std::recursive_mutex> lock(cryptMutex());
  return handOut(c);
}

PCCERT_CONTEXT CertDuplicateCertificateContext(PCCERT_CONTEXT context) {
  if (context == nullptr) return nullptr;
  std::lock_guard<std::recursive_mutex> lock(cryptMutex());
  return handOut(contextOf(context));
}

namespace {

// Bytes of a CRYPT_KEY_PROV_INFO with its strings after it in one block.
std::vector<BYTE> keyProvBlock(const KeyProvInfo& k) {
  const size_t head = sizeof(CRYPT_KEY_PROV_INFO);
  const size_t containerBytes = (k.container.size() + 1) * sizeof(char16_t);
  const size_t providerBytes = (k.provider.size() + 1) * sizeof(char16_t);
  std::vector<BYTE> block(head + containerBytes + providerBytes);
  auto* info = reinterpret_cast<CRYPT_KEY_PROV_INFO*>(block.data());
  auto* container = reinterpret_cast<char16_t*>(block.data() + head);
  auto* provider = reinterpret_cast<char16_t*>(block.data() + head + containerBytes);
  std::memcpy(container, k.container.c_str(), containerBytes);
  std::memcpy(provider, k.provider.c_str(), providerBytes);
  info->pwszContainerName = container;
  info->pwszProvName = provider;
  info->dwProvType = k.provType;
  info->dwFlags = k.flags;
  info->cProvParam = 0;
  info->rgProvParam = nullptr;
  info->dwKeySpec = k.keySpec;
  return block;
}

BOOL copyOut(const void* bytes, size_t n, void* data, DWORD* size, const BYTE* base = nullptr) {
  if (size == nullptr) return fail(0x80070057);
  if (data == nullptr) {
    *size = DWORD(n);
    return TRUE;
  }
  if (*size < n) {
    *size = DWORD(n);
    return fail(ERROR_MORE_DATA);
  }
  std::memcpy(data, bytes, n);
  if (base != nullptr) {  // pointers inside the block are moved with it
    auto* info = static_cast<CRYPT_KEY_PROV_INFO*>(data);
    const ptrdiff_t shift = static_cast<BYTE*>(data) - base;
    info->pwszContainerName =
        reinterpret_cast<LPWSTR>(reinterpret_cast<BYTE*>(info->pwszContainerName) + shift);
    info->pwszProvName =
        reinterpret_cast<LPWSTR>(reinterpret_cast<BYTE*>(info->pwszProvName) + shift);
  }
  *size = DWORD(n);
  return TRUE;
}

}  // namespace

BOOL CertGetCertificateContextProperty(PCCERT_CONTEXT context, DWORD propId, void* data,
                                       DWORD* size) {
  registerCryptTexts();
  if (context == nullptr) return fail(0x80070057);
  std::lock_guard<std::recursive_mutex> lock(cryptMutex());
  Context* c = contextOf(context);
  switch (propId) {
    case CERT_SHA1_HASH_PROP_ID: {
      unsigned char md[20];
      unsigned int n = 0;
      EVP_MD* sha1 = EVP_MD_fetch(libContext(), "SHA1", nullptr);
      const bool ok =
          sha1 != nullptr && EVP_Digest(c->der.data(), c->der.size(), md, &n, sha1, nullptr) == 1;
      EVP_MD_free(sha1);
      if (!ok) return fail(CRYPT_E_NOT_FOUND);
      return copyOut(md, n, data, size);
    }
    case CERT_KEY_PROV_INFO_PROP_ID: {
      if (!c->props.keyProv) return fail(CRYPT_E_NOT_FOUND);
      std::vector<BYTE> block = keyProvBlock(*c->props.keyProv);
      return copyOut(block.data(), block.size(), data, size, block.data());
    }
    case CERT_FRIENDLY_NAME_PROP_ID:
      if (!c->props.friendlyName) return fail(CRYPT_E_NOT_FOUND);
      return copyOut(c->props.friendlyName->data(), c->props.friendlyName->size(), data, size);
    default:
      return fail(CRYPT_E_NOT_FOUND);
  }
}
