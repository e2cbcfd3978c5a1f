// Signed messages and the encodings they carry: CryptEncodeObject for the signing time and
// RC2 parameters, CryptSignMessage, and the verification of one signer at a time.
#include <openssl/asn1.h>
#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/CryptInternal.h"
#include "platform/CryptMessageInternal.h"
#include "platform/KeyContainer.h"

namespace wincrypt {

BOOL putOutput(const std::vector<BYTE>& bytes, BYTE* out, DWORD* size) {
  if (size == nullptr) return fail(ERROR_INVALID_PARAMETER);
  const DWORD n = DWORD(bytes.size());
  if (out != nullptr && *size < n) {
    *size = n;
    return fail(ERROR_MORE_DATA);
  }
  if (out != nullptr && n > 0) std::memcpy(out, bytes.data(), n);
  *size = n;
  return TRUE;
}

CMS_ContentInfo* parseMessage(const BYTE* blob, DWORD size) {
  if (blob == nullptr || size == 0) {
    SetLastError(CRYPT_E_ASN1_EOD);
    return nullptr;
  }
  // The outer header tells garbage from a message cut short.
  const unsigned char* p = blob;
  long length = 0;
  int tag = 0, cls = 0;
  const int r = ASN1_get_object(&p, &length, &tag, &cls, long(size));
  ERR_clear_error();
  if (blob[0] != 0x30) {
    SetLastError(CRYPT_E_ASN1_BADTAG);
    return nullptr;
  }
  if ((r & 0x80) != 0) {  // a length past the end
    SetLastError(CRYPT_E_ASN1_EOD);
    return nullptr;
  }
  CMS_ContentInfo* cms = CMS_ContentInfo_new_ex(libContext(), nullptr);
  p = blob;
  if (cms == nullptr || d2i_CMS_ContentInfo(&cms, &p, long(size)) == nullptr) {
    CMS_ContentInfo_free(cms);
    ERR_clear_error();
    SetLastError(CRYPT_E_ASN1_BADTAG);
    return nullptr;
  }
  return cms;
}

PCCERT_CONTEXT contextOfX509(X509* x) {
  unsigned char* der = nullptr;
  const int n = i2d_X509(x, &der);
  if (n <= 0) return nullptr;
  PCCERT_CONTEXT c = CertCreateCertificateContext(X509_ASN_ENCODING, der, DWORD(n));
  OPENSSL_free(der);
  return c;
}

std::vector<BYTE> readAll(BIO* bio, size_t expected) {
  std::vector<BYTE> out(std::max<size_t>(expected, 16384));
  size_t used = 0;
  for (;;) {
    if (used == out.size()) {
      // Full: grow only when there is more, so room made to measure is not doubled.
      BYTE more[4096];
      const int n = BIO_read(bio, more, sizeof more);
      if (n <= 0) break;
      out.resize(out.size() * 2);
      std::memcpy(out.data() + used, more, size_t(n));
      used += size_t(n);
      continue;
    }
    const int n =
        BIO_read(bio, out.data() + used, int(std::min<size_t>(out.size() - used, 1 << 30)));
    if (n <= 0) break;
    used += size_t(n);
  }
  out.resize(used);
  return out;
}

void drain(BIO* bio) {
  BYTE buf[16384];
  while (BIO_read(bio, buf, sizeof buf) > 0) {
  }
}

namespace {

// The signer identifier as the callback takes it: issuer name and little-endian serial.
struct SignerId {
  CERT_INFO info{};
  std::vector<BYTE> issuer, serial;
};

bool signerIdOf(CMS_SignerInfo* si, SignerId* id) {
  ASN1_OCTET_STRING* keyId = nullptr;
  X509_NAME* issuer = nullptr;
  ASN1_INTEGER* serial = nullptr;
  if (CMS_SignerInfo_get0_signer_id(si, &keyId, &issuer, &serial) != 1) return false;
  if (keyId != nullptr) {
    // Named by subject key identifier: the issuer Windows gives such a signer, no serial.
    id->issuer = keyIdIssuer(keyId->data, keyId->length);
    id->info.Issuer = CRYPT_DATA_BLOB{DWORD(id->issuer.size()), id->issuer.data()};
    return !id->issuer.empty();
  }
  if (issuer == nullptr || serial == nullptr) return false;
  unsigned char* der = nullptr;
  const int n = i2d_X509_NAME(issuer, &der);
  if (n <= 0) return false;
  id->issuer.assign(der, der + n);
  OPENSSL_free(der);
  id->serial.assign(serial->data, serial->data + serial->length);
  std::reverse(id->serial.begin(), id->serial.end());
  id->info.Issuer = CRYPT_DATA_BLOB{DWORD(id->issuer.size()), id->issuer.data()};
  id->info.SerialNumber = CRYPT_DATA_BLOB{DWORD(id->serial.size()), id->serial.data()};
  return true;
}

// The signer's certificate from the message, else from the callback; a reference the caller
// frees, or null.
X509* signerCertificate(CMS_ContentInfo* cms, CMS_SignerInfo* si,
                        const CRYPT_VERIFY_MESSAGE_PARA* para) {
  STACK_OF(X509)* certs = CMS_get1_certs(cms);
  X509* found = nullptr;
  for (int i = 0; certs != nullptr && i < sk_X509_num(certs) && found == nullptr; ++i) {
    X509* x = sk_X509_value(certs, i);
    if (CMS_SignerInfo_cert_cmp(si, x) == 0) {
      X509_up_ref(x);
      found = x;
    }
  }
  SignerId id;
  if (found == nullptr && para != nullptr && para->pfnGetSignerCertificate != nullptr &&
      signerIdOf(si, &id)) {
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
    for (int i = 0; certs != nullptr && i < sk_X509_num(certs); ++i) {
      PCCERT_CONTEXT c = contextOfX509(sk_X509_value(certs, i));
      if (c != nullptr) CertAddCertificateContextToStore(store, c, CERT_STORE_ADD_NEW, nullptr);
      CertFreeCertificateContext(c);
    }
    PCCERT_CONTEXT given = para->pfnGetSignerCertificate(
        para->pvGetArg, para->dwMsgAndCertEncodingType, &id.info, store);
    if (given != nullptr) {
      const BYTE* p = given->pbCertEncoded;
      found = d2i_X509(nullptr, &p, long(given->cbCertEncoded));
      CertFreeCertificateContext(given);
    }
    CertCloseStore(store, 0);
  }
  sk_X509_pop_free(certs, X509_free);
  ERR_clear_error();
  return found;
}

// Frees the chain CMS_dataInit built over `content` without freeing `content`.
void freeDataChain(BIO* chain, BIO* content) {
  while (chain != nullptr && chain != content) {
    BIO* next = BIO_pop(chain);
    BIO_free(chain);
    chain = next;
  }
}

}  // namespace

BOOL verifySigner(CMS_ContentInfo* cms, DWORD index, const CRYPT_VERIFY_MESSAGE_PARA* para,
                  const ByteSpan* detached, std::vector<BYTE>* content, PCCERT_CONTEXT* signer) {
  if (OBJ_obj2nid(CMS_get0_type(cms)) != NID_pkcs7_signed) return fail(CRYPT_E_UNEXPECTED_MSG_TYPE);
  STACK_OF(CMS_SignerInfo)* sis = CMS_get0_SignerInfos(cms);
  if (sis == nullptr || int(index) >= sk_CMS_SignerInfo_num(sis)) return fail(CRYPT_E_NO_SIGNER);
  CMS_SignerInfo* si = sk_CMS_SignerInfo_value(sis, int(index));
  X509* cert = signerCertificate(cms, si, para);
  if (cert == nullptr) return fail(CRYPT_E_NOT_FOUND);

  // The content runs through the digest chain of every signer; this one's digest is checked.
  ASN1_OCTET_STRING** embedded = CMS_get0_content(cms);
  const bool hasContent = embedded != nullptr && *embedded != nullptr;
  static const BYTE kNothing = 0;
  const BYTE* bytes = detached != nullptr && detached->size > 0 ? detached->data : &kNothing;
  const int n = detached != nullptr ? int(detached->size) : 0;
  BIO* source = hasContent && detached == nullptr ? nullptr : BIO_new_mem_buf(bytes, n);
  BIO* chain = CMS_dataInit(cms, source);
  DWORD error = 0;
  if (chain == nullptr) {
    error = NTE_BAD_SIGNATURE;
  } else {
    // Only content the caller asked for is kept; a detached content is only digested.
    std::vector<BYTE> read;
    if (content != nullptr)
      read = readAll(chain, hasContent && detached == nullptr ? size_t((*embedded)->length) : 0);
    else
      drain(chain);
    CMS_SignerInfo_set1_signer_cert(si, cert);
    const bool withAttributes = CMS_signed_get_attr_count(si) > 0;
    if (withAttributes && CMS_SignerInfo_verify(si) != 1)
      error = NTE_BAD_SIGNATURE;
    else if (CMS_SignerInfo_verify_content(si, chain) != 1)
      error = withAttributes ? CRYPT_E_HASH_VALUE : NTE_BAD_SIGNATURE;
    if (content != nullptr && error == 0) *content = std::move(read);
  }
  if (source != nullptr) {
    freeDataChain(chain, source);
    BIO_free(source);
  } else {
    BIO_free_all(chain);
  }
  ERR_clear_error();
  if (error == 0 && signer != nullptr) *signer = contextOfX509(cert);
  X509_free(cert);
  return error == 0 ? TRUE : fail(error);
}

}  // namespace wincrypt

using namespace wincrypt;

namespace {

struct CmsFree {
  void operator()(CMS_ContentInfo* c) const { CMS_ContentInfo_free(c); }
};
using CmsPtr = std::unique_ptr<CMS_ContentInfo, CmsFree>;

// The caller's blocks as one run of bytes: a single block as it is, several joined in `joined`.
ByteSpan contentOf(DWORD count, const BYTE* blocks[], const DWORD sizes[],
                   std::vector<BYTE>* joined) {
  if (blocks == nullptr || sizes == nullptr) return ByteSpan{};
  if (count == 1) return blocks[0] != nullptr ? ByteSpan{blocks[0], sizes[0]} : ByteSpan{};
  for (DWORD i = 0; i < count; ++i)
    if (blocks[i] != nullptr) joined->insert(joined->end(), blocks[i], blocks[i] + sizes[i]);
  return ByteSpan{joined->data(), joined->size()};
}

// Adds the caller's attribute, each value given as DER, to the signed or the unsigned ones.
bool addAttribute(CMS_SignerInfo* si, const CRYPT_ATTRIBUTE& a, bool authenticated) {
  ASN1_OBJECT* obj = a.pszObjId != nullptr ? OBJ_txt2obj(a.pszObjId, 1) : nullptr;
  X509_ATTRIBUTE* attr =
      obj != nullptr ? X509_ATTRIBUTE_create_by_OBJ(nullptr, obj, 0, nullptr, -1) : nullptr;
  bool ok = attr != nullptr;
  for (DWORD i = 0; ok && i < a.cValue; ++i) {
    const unsigned char* p = a.rgValue[i].pbData;
    ASN1_TYPE* t = d2i_ASN1_TYPE(nullptr, &p, long(a.rgValue[i].cbData));
    ok = t != nullptr && X509_ATTRIBUTE_set1_data(attr, t->type, t->value.ptr, -1) == 1;
    ASN1_TYPE_free(t);
  }
  ok = ok &&
       (authenticated ? CMS_signed_add1_attr(si, attr) : CMS_unsigned_add1_attr(si, attr)) == 1;
  X509_ATTRIBUTE_free(attr);
  ASN1_OBJECT_free(obj);
  return ok;
}

bool addCrl(CMS_ContentInfo* cms, PCCRL_CONTEXT crl) {
  if (crl == nullptr || crl->pbCrlEncoded == nullptr) return false;
  const unsigned char* p = crl->pbCrlEncoded;
  X509_CRL* x = d2i_X509_CRL(nullptr, &p, long(crl->cbCrlEncoded));
  const bool ok = x != nullptr && CMS_add1_crl(cms, x) == 1;
  X509_CRL_free(x);
  return ok;
}

int innerNid(DWORD type) {
  switch (type) {
    case CMSG_DATA:
      return NID_pkcs7_data;
    case CMSG_SIGNED:
      return NID_pkcs7_signed;
    case CMSG_ENVELOPED:
      return NID_pkcs7_enveloped;
    default:
      return NID_undef;
  }
}

std::vector<BYTE> derOf(CMS_ContentInfo* cms) {
  unsigned char* der = nullptr;
  const int n = i2d_CMS_ContentInfo(cms, &der);
  std::vector<BYTE> out;
  if (n > 0) out.assign(der, der + n);
  OPENSSL_free(der);
  return out;
}

BOOL encodeTime(const FILETIME* ft, std::vector<BYTE>* out) {
  ASN1_TIME* t = ASN1_TIME_set(nullptr, time_t(unixFromFileTime(*ft)));
  if (t == nullptr) return fail(CRYPT_E_BAD_ENCODE);
  unsigned char* der = nullptr;
  const int n = i2d_ASN1_TIME(t, &der);
  ASN1_TIME_free(t);
  if (n <= 0) return fail(CRYPT_E_BAD_ENCODE);
  out->assign(der, der + n);
  OPENSSL_free(der);
  return TRUE;
}

// SEQUENCE { INTEGER version, OCTET STRING iv OPTIONAL }.
BOOL encodeRc2(const CRYPT_RC2_CBC_PARAMETERS* p, std::vector<BYTE>* out) {
  std::vector<BYTE> body = {0x02};
  std::vector<BYTE> v;
  for (DWORD x = p->dwVersion; x != 0; x >>= 8) v.insert(v.begin(), BYTE(x & 0xFF));
  if (v.empty() || (v[0] & 0x80) != 0) v.insert(v.begin(), 0);
  body.push_back(BYTE(v.size()));
  body.insert(body.end(), v.begin(), v.end());
  if (p->fIV) {
    body.push_back(0x04);
    body.push_back(8);
    body.insert(body.end(), p->rgbIV, p->rgbIV + 8);
  }
  *out = {0x30, BYTE(body.size())};
  out->insert(out->end(), body.begin(), body.end());
  return TRUE;
}

// The most a signed message can take, from its encoding before signing (`unsigned` bytes: the
// signature empty, the content absent and, with attributes, no content-type or message-digest
// yet). Signing fills the signature (at most the key's size, an ECDSA signature's length
// varying from one signing to the next) and adds those two attributes (11-byte OIDs, a
// content type of 11 bytes and a digest of `digestSize`); the content adds its length; each
// of the nine lengths around them grows by at most four bytes.
size_t sizeBound(size_t unsignedSize, size_t maxSignature, size_t digestSize, size_t embedded) {
  constexpr size_t kLengthGrowth = 9 * 4;
  constexpr size_t kContentTypeAttribute = 2 + 13 + 2 + 13;
  constexpr size_t kDigestAttributeFrame = 2 + 13 + 2 + 2 + 2;
  const size_t attributes =
      digestSize > 0 ? kContentTypeAttribute + kDigestAttributeFrame + digestSize : 0;
  return unsignedSize + maxSignature + attributes + embedded + kLengthGrowth;
}

// SEQUENCE OF SEQUENCE { OBJECT IDENTIFIER, parameters ANY OPTIONAL }.
BOOL encodeCapabilities(const CRYPT_SMIME_CAPABILITIES* caps, std::vector<BYTE>* out) {
  std::vector<BYTE> list;
  for (DWORD i = 0; i < caps->cCapability; ++i) {
    const CRYPT_SMIME_CAPABILITY& c = caps->rgCapability[i];
    ASN1_OBJECT* obj = c.pszObjId != nullptr ? OBJ_txt2obj(c.pszObjId, 1) : nullptr;
    unsigned char* der = nullptr;
    const int n = obj != nullptr ? i2d_ASN1_OBJECT(obj, &der) : 0;
    ASN1_OBJECT_free(obj);
    ERR_clear_error();
    if (n <= 0) return fail(CRYPT_E_BAD_ENCODE);
    std::vector<BYTE> one(der, der + n);
    OPENSSL_free(der);
    if (c.Parameters.cbData > 0 && c.Parameters.pbData != nullptr)
      one.insert(one.end(), c.Parameters.pbData, c.Parameters.pbData + c.Parameters.cbData);
    const std::vector<BYTE> element = derElement(0x30, one);
    list.insert(list.end(), element.begin(), element.end());
  }
  *out = derElement(0x30, list);
  return TRUE;
}

bool isType(LPCSTR type, LPCSTR number, const char* oid) {
  if (reinterpret_cast<uintptr_t>(type) <= 0xFFFF) return type == number;
  return oid != nullptr && std::strcmp(type, oid) == 0;
}

}  // namespace

BOOL CryptEncodeObject(DWORD /*encoding*/, LPCSTR structType, const void* info, BYTE* encoded,
                       DWORD* size) {
  registerCryptTexts();
  if (structType == nullptr || info == nullptr || size == nullptr)
    return fail(ERROR_INVALID_PARAMETER);
  std::vector<BYTE> der;
  BOOL ok;
  if (isType(structType, PKCS_UTC_TIME, szOID_RSA_signingTime))
    ok = encodeTime(static_cast<const FILETIME*>(info), &der);
  else if (isType(structType, PKCS_RC2_CBC_PARAMETERS, szOID_RSA_RC2CBC))
    ok = encodeRc2(static_cast<const CRYPT_RC2_CBC_PARAMETERS*>(info), &der);
  else if (isType(structType, PKCS_SMIME_CAPABILITIES, szOID_RSA_SMIMECapabilities))
    ok = encodeCapabilities(static_cast<const CRYPT_SMIME_CAPABILITIES*>(info), &der);
  else if (isType(structType, X509_OCTET_STRING, nullptr)) {
    const auto* blob = static_cast<const CRYPT_DATA_BLOB*>(info);
    der = derElement(V_ASN1_OCTET_STRING,
                     blob->cbData > 0 && blob->pbData != nullptr
                         ? std::vector<BYTE>(blob->pbData, blob->pbData + blob->cbData)
                         : std::vector<BYTE>());
    ok = TRUE;
  } else
    return fail(ERROR_FILE_NOT_FOUND_CRYPT);
  return ok && putOutput(der, encoded, size);
}

PCCRL_CONTEXT CertCreateCRLContext(DWORD encoding, const BYTE* encoded, DWORD size) {
  registerCryptTexts();
  if (encoded == nullptr || size == 0) {
    SetLastError(CRYPT_E_ASN1_EOD);
    return nullptr;
  }
  const unsigned char* p = encoded;
  X509_CRL* x = d2i_X509_CRL(nullptr, &p, long(size));
  ERR_clear_error();
  if (x == nullptr) {
    SetLastError(CRYPT_E_ASN1_BADTAG);
    return nullptr;
  }
  X509_CRL_free(x);
  auto* crl = new CRL_CONTEXT{encoding, new BYTE[size], size, nullptr, nullptr};
  std::memcpy(crl->pbCrlEncoded, encoded, size);
  return crl;
}

BOOL CertFreeCRLContext(PCCRL_CONTEXT crl) {
  if (crl != nullptr) delete[] crl->pbCrlEncoded;
  delete crl;
  return TRUE;
}

BOOL CryptSignMessage(PCRYPT_SIGN_MESSAGE_PARA para, BOOL detached, DWORD count,
                      const BYTE* blocks[], DWORD sizes[], BYTE* signedBlob, DWORD* size) {
  registerCryptTexts();
  if (para == nullptr || para->pSigningCert == nullptr || size == nullptr)
    return fail(ERROR_INVALID_PARAMETER);
  const char* hashOid = para->HashAlgorithm.pszObjId;
  const int nid = hashOid != nullptr ? OBJ_txt2nid(hashOid) : NID_undef;
  EVP_MD* md = nid != NID_undef ? EVP_MD_fetch(libContext(), OBJ_nid2sn(nid), nullptr) : nullptr;
  ERR_clear_error();
  if (md == nullptr) return fail(CRYPT_E_UNKNOWN_ALGO);
  EVP_PKEY* key = certificatePrivateKey(para->pSigningCert);
  if (key == nullptr) {
    EVP_MD_free(md);
    return FALSE;
  }
  X509* cert = nullptr;
  {
    std::lock_guard<std::recursive_mutex> lock(cryptMutex());
    cert = contextOf(para->pSigningCert)->x509;
    X509_up_ref(cert);
  }
  // The sizing call signs nothing (see sizeBound); the call that writes digests the content
  // once, in place when it is one block.
  const bool sizing = signedBlob == nullptr;
  std::vector<BYTE> joined;
  const ByteSpan content = sizing ? ByteSpan{} : contentOf(count, blocks, sizes, &joined);
  const int flags = CMS_BINARY | CMS_PARTIAL | (detached ? CMS_DETACHED : 0);
  CmsPtr cms(CMS_sign_ex(nullptr, nullptr, nullptr, nullptr, flags, libContext(), nullptr));
  // Windows adds no attribute of its own: no capabilities, and none at all unless given.
  const int signerFlags =
      CMS_NOCERTS | CMS_NOSMIMECAP | CMS_PARTIAL | (para->cAuthAttr == 0 ? CMS_NOATTR : 0);
  CMS_SignerInfo* si =
      cms != nullptr ? CMS_add1_signer(cms.get(), cert, key, md, signerFlags) : nullptr;
  bool ok = si != nullptr;
  for (DWORD i = 0; ok && i < para->cAuthAttr; ++i)
    ok = addAttribute(si, para->rgAuthAttr[i], true);
  for (DWORD i = 0; ok && i < para->cUnauthAttr; ++i)
    ok = para->rgUnauthAttr != nullptr && addAttribute(si, para->rgUnauthAttr[i], false);
  for (DWORD i = 0; ok && i < para->cMsgCert; ++i) {
    std::lock_guard<std::recursive_mutex> lock(cryptMutex());
    ok = CMS_add1_cert(cms.get(), contextOf(para->rgpMsgCert[i])->x509) == 1;
  }
  for (DWORD i = 0; ok && i < para->cMsgCrl; ++i) ok = addCrl(cms.get(), para->rgpMsgCrl[i]);
  // Content that is itself a message (signed or enveloped) says so in its content type.
  if (ok && para->dwInnerContentType != 0) {
    const int inner = innerNid(para->dwInnerContentType);
    ok = inner != NID_undef && CMS_set1_eContentType(cms.get(), OBJ_nid2obj(inner)) == 1;
  }
  static const BYTE kNoContent = 0;
  BIO* in = ok && !sizing
                ? BIO_new_mem_buf(content.size > 0 ? content.data : &kNoContent, int(content.size))
                : nullptr;
  ok = ok && (sizing || (in != nullptr && CMS_final(cms.get(), in, nullptr, flags) == 1));
  BIO_free(in);
  const size_t maxSignature = size_t(EVP_PKEY_get_size(key));
  const size_t digestSize = size_t(EVP_MD_get_size(md));
  EVP_MD_free(md);
  EVP_PKEY_free(key);
  X509_free(cert);
  ERR_clear_error();
  if (!ok) return fail(NTE_BAD_DATA);
  std::vector<BYTE> der = derOf(cms.get());
  if (der.empty()) return fail(NTE_BAD_DATA);
  if (sizing) {
    size_t embedded = 0;
    for (DWORD i = 0; !detached && sizes != nullptr && i < count; ++i) embedded += sizes[i];
    *size = DWORD(sizeBound(der.size(), maxSignature, para->cAuthAttr > 0 ? digestSize : 0,
                            detached ? 0 : embedded));
    return TRUE;
  }
  return putOutput(der, signedBlob, size);
}

BOOL CryptVerifyDetachedMessageSignature(PCRYPT_VERIFY_MESSAGE_PARA para, DWORD index,
                                         const BYTE* signature, DWORD signatureSize, DWORD count,
                                         const BYTE* blocks[], DWORD sizes[],
                                         PCCERT_CONTEXT* signer) {
  registerCryptTexts();
  if (signer != nullptr) *signer = nullptr;
  CmsPtr cms(parseMessage(signature, signatureSize));
  if (!cms) return FALSE;
  std::vector<BYTE> joined;
  const ByteSpan content = contentOf(count, blocks, sizes, &joined);
  return verifySigner(cms.get(), index, para, &content, nullptr, signer);
}

BOOL CryptVerifyMessageSignature(PCRYPT_VERIFY_MESSAGE_PARA para, DWORD index,
                                 const BYTE* signedBlob, DWORD blobSize, BYTE* decoded, DWORD* size,
                                 PCCERT_CONTEXT* signer) {
  registerCryptTexts();
  if (signer != nullptr) *signer = nullptr;
  CmsPtr cms(parseMessage(signedBlob, blobSize));
  std::vector<BYTE> content;
  PCCERT_CONTEXT found = nullptr;
  if (!cms || !verifySigner(cms.get(), index, para, nullptr, &content, &found)) {
    if (size != nullptr) *size = 0;
    return FALSE;
  }
  if (!putOutput(content, decoded, size)) {
    CertFreeCertificateContext(found);
    return FALSE;
  }
  if (signer != nullptr)
    *signer = found;
  else
    CertFreeCertificateContext(found);
  return TRUE;
}
