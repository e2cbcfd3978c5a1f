// Enveloped messages: CryptEncryptMessage, CryptDecryptMessage, and CryptDecodeMessage, which
// opens one level of any message.
#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/CryptInternal.h"
#include "platform/CryptMessageInternal.h"
#include "platform/KeyContainer.h"

using namespace wincrypt;

namespace {

struct CmsFree {
  void operator()(CMS_ContentInfo* c) const { CMS_ContentInfo_free(c); }
};
using CmsPtr = std::unique_ptr<CMS_ContentInfo, CmsFree>;

// RC2's effective key length from its parameters: the version numbers of RFC 8018.
const char* rc2CipherName(const CRYPT_OBJID_BLOB& params) {
  if (params.cbData == 0) return "RC2-40-CBC";
  const unsigned char* p = params.pbData;
  long length = 0;
  int tag = 0, cls = 0;
  if (ASN1_get_object(&p, &length, &tag, &cls, long(params.cbData)) & 0x80 || tag != 16) {
    ERR_clear_error();
    return nullptr;
  }
  const unsigned char* q = p;
  ASN1_INTEGER* v = d2i_ASN1_INTEGER(nullptr, &q, length);
  const long version = v != nullptr ? ASN1_INTEGER_get(v) : -1;
  ASN1_INTEGER_free(v);
  ERR_clear_error();
  switch (version) {
    case CRYPT_RC2_128BIT_VERSION:
      return "RC2-CBC";
    case CRYPT_RC2_64BIT_VERSION:
      return "RC2-64-CBC";
    case CRYPT_RC2_40BIT_VERSION:
      return "RC2-40-CBC";
    default:
      return nullptr;
  }
}

EVP_CIPHER* contentCipher(const CRYPT_ALGORITHM_IDENTIFIER& alg) {
  if (alg.pszObjId == nullptr) return nullptr;
  const struct {
    const char* oid;
    const char* name;
  } ciphers[] = {
      {"2.16.840.1.101.3.4.1.2", "AES-128-CBC"},
      {"2.16.840.1.101.3.4.1.22", "AES-192-CBC"},
      {"2.16.840.1.101.3.4.1.42", "AES-256-CBC"},
      {"1.2.840.113549.3.7", "DES-EDE3-CBC"},
      {"1.3.14.3.2.7", "DES-CBC"},
  };
  const char* name = nullptr;
  for (const auto& c : ciphers)
    if (std::strcmp(alg.pszObjId, c.oid) == 0) name = c.name;
  if (std::strcmp(alg.pszObjId, szOID_RSA_RC2CBC) == 0) name = rc2CipherName(alg.Parameters);
  EVP_CIPHER* cipher = name != nullptr ? EVP_CIPHER_fetch(libContext(), name, nullptr) : nullptr;
  ERR_clear_error();
  return cipher;
}

X509* x509Of(PCCERT_CONTEXT c) {
  std::lock_guard<std::recursive_mutex> lock(cryptMutex());
  X509* x = contextOf(c)->x509;
  X509_up_ref(x);
  return x;
}

bool isRecipient(CMS_ContentInfo* cms, X509* x) {
  STACK_OF(CMS_RecipientInfo)* ris = CMS_get0_RecipientInfos(cms);
  for (int i = 0; ris != nullptr && i < sk_CMS_RecipientInfo_num(ris); ++i) {
    CMS_RecipientInfo* ri = sk_CMS_RecipientInfo_value(ris, i);
    if (CMS_RecipientInfo_type(ri) == CMS_RECIPINFO_TRANS &&
        CMS_RecipientInfo_ktri_cert_cmp(ri, x) == 0)
      return true;
    if (CMS_RecipientInfo_type(ri) == CMS_RECIPINFO_AGREE) {
      STACK_OF(CMS_RecipientEncryptedKey)* reks = CMS_RecipientInfo_kari_get0_reks(ri);
      for (int j = 0; reks != nullptr && j < sk_CMS_RecipientEncryptedKey_num(reks); ++j)
        if (CMS_RecipientEncryptedKey_cert_cmp(sk_CMS_RecipientEncryptedKey_value(reks, j), x) == 0)
          return true;
    }
  }
  return false;
}

bool isEnveloped(CMS_ContentInfo* cms) {
  const int nid = OBJ_obj2nid(CMS_get0_type(cms));
  return nid == NID_pkcs7_enveloped || nid == NID_id_smime_ct_authEnvelopedData;
}

// The first certificate of the stores that is a recipient and has a key (the caller frees
// it); null with CRYPT_E_NO_DECRYPT_CERT.
PCCERT_CONTEXT findRecipient(CMS_ContentInfo* cms, const CRYPT_DECRYPT_MESSAGE_PARA* para) {
  for (DWORD s = 0; para != nullptr && s < para->cCertStore; ++s) {
    for (PCCERT_CONTEXT c = CertEnumCertificatesInStore(para->rghCertStore[s], nullptr);
         c != nullptr; c = CertEnumCertificatesInStore(para->rghCertStore[s], c)) {
      X509* x = x509Of(c);
      const bool found = isRecipient(cms, x) && certificateHasPrivateKey(c);
      X509_free(x);
      ERR_clear_error();
      if (found) return c;
    }
  }
  SetLastError(CRYPT_E_NO_DECRYPT_CERT);
  return nullptr;
}

// Decrypts with the first certificate of the stores that is a recipient and has a key,
// writing the content to `sink`.
BOOL decryptEnveloped(CMS_ContentInfo* cms, const CRYPT_DECRYPT_MESSAGE_PARA* para, BIO* sink,
                      PCCERT_CONTEXT* exchange) {
  if (!isEnveloped(cms)) return fail(CRYPT_E_UNEXPECTED_MSG_TYPE);
  PCCERT_CONTEXT c = findRecipient(cms, para);
  if (c == nullptr) return FALSE;
  X509* x = x509Of(c);
  EVP_PKEY* key = certificatePrivateKey(c);
  const bool ok =
      key != nullptr && sink != nullptr && CMS_decrypt(cms, key, x, nullptr, sink, CMS_BINARY) == 1;
  ERR_clear_error();
  EVP_PKEY_free(key);
  X509_free(x);
  if (!ok || exchange == nullptr) CertFreeCertificateContext(c);
  if (!ok) return fail(NTE_BAD_DATA);
  if (exchange != nullptr) *exchange = c;
  return TRUE;
}

BOOL decryptEnveloped(CMS_ContentInfo* cms, const CRYPT_DECRYPT_MESSAGE_PARA* para,
                      std::vector<BYTE>* out, PCCERT_CONTEXT* exchange) {
  BIO* plain = BIO_new(BIO_s_mem());
  const BOOL ok = decryptEnveloped(cms, para, plain, exchange);
  if (ok) *out = readAll(plain);
  BIO_free(plain);
  return ok;
}

// A BIO that writes into a block of fixed size, so decrypted content goes straight to the
// caller's buffer; a write past its end fails.
struct FixedBlock {
  BYTE* data;
  size_t room;
  size_t used;
};

int fixedBlockWrite(BIO* bio, const char* bytes, int n) {
  auto* block = static_cast<FixedBlock*>(BIO_get_data(bio));
  if (n < 0 || size_t(n) > block->room - block->used) return -1;
  std::memcpy(block->data + block->used, bytes, size_t(n));
  block->used += size_t(n);
  return n;
}

long fixedBlockCtrl(BIO*, int cmd, long, void*) { return cmd == BIO_CTRL_FLUSH ? 1 : 0; }

int fixedBlockCreate(BIO* bio) {
  BIO_set_init(bio, 1);
  return 1;
}

BIO* newFixedBlockBio(FixedBlock* block) {
  static BIO_METHOD* method = [] {
    BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "fixed block");
    if (m != nullptr) {
      BIO_meth_set_write(m, fixedBlockWrite);
      BIO_meth_set_ctrl(m, fixedBlockCtrl);
      BIO_meth_set_create(m, fixedBlockCreate);
    }
    return m;
  }();
  BIO* bio = method != nullptr ? BIO_new(method) : nullptr;
  if (bio != nullptr) BIO_set_data(bio, block);
  return bio;
}

// Encrypts the content of a message made with CMS_PARTIAL and sets it, as CMS_final would.
// The ciphertext goes to `scratch` and then into the message's buffer in one piece: written
// there as it is made, that buffer would grow by a third at a time, copying and clearing what
// it held at every step.
bool encryptContent(CMS_ContentInfo* cms, const BYTE* data, size_t n, BYTE* scratch, size_t room) {
  BIO* chain = CMS_dataInit(cms, nullptr);  // the cipher, then the message's buffer
  if (chain == nullptr) return false;
  BIO* buffer = BIO_pop(chain);
  FixedBlock block{scratch, room, 0};
  BIO* sink = newFixedBlockBio(&block);
  bool ok = buffer != nullptr && sink != nullptr;
  if (ok) BIO_push(chain, sink);
  for (size_t at = 0; ok && at < n;) {
    const int piece = int(std::min<size_t>(n - at, 1 << 30));
    ok = BIO_write(chain, data + at, piece) == piece;
    at += size_t(piece);
  }
  ok = ok && BIO_flush(chain) == 1;
  if (sink != nullptr) {
    BIO_pop(chain);
    BIO_free(sink);
  }
  if (buffer != nullptr) BIO_push(chain, buffer);
  ok = ok && (block.used == 0 || BIO_write(buffer, scratch, int(block.used)) == int(block.used)) &&
       CMS_dataFinal(cms, chain) == 1;
  BIO_free_all(chain);
  return ok;
}

// The length of the encrypted content, which the decrypted content never exceeds.
DWORD cipherLength(CMS_ContentInfo* cms) {
  ASN1_OCTET_STRING** cipher = CMS_get0_content(cms);
  return cipher != nullptr && *cipher != nullptr ? DWORD((*cipher)->length) : 0;
}

DWORD innerTypeOf(CMS_ContentInfo* cms) {
  switch (OBJ_obj2nid(CMS_get0_eContentType(cms))) {
    case NID_pkcs7_signed:
      return CMSG_SIGNED;
    case NID_pkcs7_enveloped:
      return CMSG_ENVELOPED;
    default:
      return CMSG_DATA;
  }
}

// The message with its encrypted content left empty, so a sizing call reads its recipients
// without copying the ciphertext; *cipherSize gets the ciphertext's length (its inner headers
// too when it comes in segments). Empty when the message is not definite-length enveloped
// data of the expected shape: the caller then parses it whole.
std::vector<BYTE> withoutCiphertext(const BYTE* der, size_t size, size_t* cipherSize) {
  DerElement outer, type, explicit0, body, field, info;
  if (!elementAt(der, 0, size, &outer) || outer.tag != V_ASN1_SEQUENCE ||
      outer.start + outer.header + outer.length != size)
    return {};
  size_t at = outer.header;
  if (!elementAt(der, at, size, &type) || type.tag != V_ASN1_OBJECT) return {};
  at += type.header + type.length;
  if (!elementAt(der, at, size, &explicit0) || explicit0.cls != V_ASN1_CONTEXT_SPECIFIC ||
      explicit0.tag != 0)
    return {};
  at += explicit0.header;
  if (!elementAt(der, at, size, &body) || body.tag != V_ASN1_SEQUENCE) return {};
  const size_t bodyEnd = at + body.header + body.length;
  at += body.header;
  // version, originatorInfo [0] when present, recipientInfos, then the content's info.
  for (bool found = false; !found;) {
    if (!elementAt(der, at, bodyEnd, &field)) return {};
    found = field.tag == V_ASN1_SET && field.cls == V_ASN1_UNIVERSAL;
    at += field.header + field.length;
  }
  if (!elementAt(der, at, bodyEnd, &info) || info.tag != V_ASN1_SEQUENCE) return {};
  const size_t infoEnd = at + info.header + info.length;
  at += info.header;
  for (int i = 0; i < 2; ++i) {  // the content type and the algorithm
    if (!elementAt(der, at, infoEnd, &field)) return {};
    at += field.header + field.length;
  }
  DerElement cipher;
  if (!elementAt(der, at, infoEnd, &cipher) || cipher.cls != V_ASN1_CONTEXT_SPECIFIC ||
      cipher.tag != 0 || at + cipher.header + cipher.length != infoEnd)
    return {};
  *cipherSize = cipher.length;
  // The four lengths around the ciphertext shrink by what is left out, and by what each
  // inner header saves.
  size_t removed = cipher.length;
  std::vector<BYTE> infoHeader = derHeader(der[info.start], info.length - removed);
  removed += info.header - infoHeader.size();
  std::vector<BYTE> bodyHeader = derHeader(der[body.start], body.length - removed);
  removed += body.header - bodyHeader.size();
  std::vector<BYTE> explicitHeader = derHeader(der[explicit0.start], explicit0.length - removed);
  removed += explicit0.header - explicitHeader.size();
  std::vector<BYTE> out = derHeader(der[0], outer.length - removed);
  auto copy = [&](size_t from, size_t to) { out.insert(out.end(), der + from, der + to); };
  copy(outer.header, explicit0.start);
  out.insert(out.end(), explicitHeader.begin(), explicitHeader.end());
  out.insert(out.end(), bodyHeader.begin(), bodyHeader.end());
  copy(body.start + body.header, info.start);
  out.insert(out.end(), infoHeader.begin(), infoHeader.end());
  copy(info.start + info.header, cipher.start);
  out.push_back(der[cipher.start]);
  out.push_back(0);
  copy(infoEnd, size);
  return out;
}

}  // namespace

BOOL CryptEncryptMessage(PCRYPT_ENCRYPT_MESSAGE_PARA para, DWORD recipientCount,
                         PCCERT_CONTEXT recipients[], const BYTE* data, DWORD dataSize,
                         BYTE* encrypted, DWORD* size) {
  registerCryptTexts();
  if (para == nullptr || size == nullptr || recipientCount == 0 || recipients == nullptr)
    return fail(ERROR_INVALID_PARAMETER);
  EVP_CIPHER* cipher = contentCipher(para->ContentEncryptionAlgorithm);
  if (cipher == nullptr) return fail(CRYPT_E_UNKNOWN_ALGO);
  STACK_OF(X509)* certs = sk_X509_new_null();
  for (DWORD i = 0; i < recipientCount; ++i) sk_X509_push(certs, x509Of(recipients[i]));
  // The sizing call encrypts nothing: the size follows from an empty message's, the content
  // padded to whole blocks, and at most four more bytes in each of the five lengths around it.
  const bool sizing = encrypted == nullptr;
  const DWORD inSize = sizing || data == nullptr ? 0 : dataSize;
  CmsPtr cms(
      CMS_encrypt_ex(certs, nullptr, cipher, CMS_BINARY | CMS_PARTIAL, libContext(), nullptr));
  sk_X509_pop_free(certs, X509_free);
  EVP_CIPHER_free(cipher);
  // The caller's buffer, which the encoding overwrites afterwards, serves as the ciphertext's
  // scratch when it has room for it.
  std::vector<BYTE> own;
  BYTE* scratch = encrypted;
  const size_t cipherRoom = size_t(inSize) + EVP_MAX_BLOCK_LENGTH;
  if (sizing || *size < cipherRoom) {
    own.resize(cipherRoom);
    scratch = own.data();
  }
  if (cms && !encryptContent(cms.get(), inSize > 0 ? data : nullptr, inSize, scratch, cipherRoom))
    cms.reset();
  ERR_clear_error();
  if (!cms) return fail(NTE_BAD_KEY_CRYPT);
  // Encoded straight into the caller's buffer when it has room.
  const int n = i2d_CMS_ContentInfo(cms.get(), nullptr);
  if (n <= 0) return fail(NTE_BAD_KEY_CRYPT);
  if (sizing) {
    *size = DWORD(n) + dataSize + EVP_MAX_BLOCK_LENGTH + 20;
    return TRUE;
  }
  if (*size < DWORD(n)) {
    *size = DWORD(n);
    return fail(ERROR_MORE_DATA);
  }
  unsigned char* p = encrypted;
  *size = DWORD(i2d_CMS_ContentInfo(cms.get(), &p));
  return TRUE;
}

BOOL CryptDecryptMessage(PCRYPT_DECRYPT_MESSAGE_PARA para, const BYTE* blob, DWORD blobSize,
                         BYTE* decrypted, DWORD* size, PCCERT_CONTEXT* exchange) {
  registerCryptTexts();
  if (exchange != nullptr) *exchange = nullptr;
  if (decrypted == nullptr) {
    // The sizing call decrypts nothing: the content is no longer than its ciphertext, which
    // it does not even read when the message's shape allows.
    size_t cipherSize = 0;
    const std::vector<BYTE> shell =
        blob != nullptr ? withoutCiphertext(blob, blobSize, &cipherSize) : std::vector<BYTE>();
    CmsPtr cms(shell.empty() ? nullptr : parseMessage(shell.data(), DWORD(shell.size())));
    if (!cms) {
      cms.reset(parseMessage(blob, blobSize));
      cipherSize = cms ? cipherLength(cms.get()) : 0;
    }
    if (!cms) return FALSE;
    if (size == nullptr) return fail(ERROR_INVALID_PARAMETER);
    if (!isEnveloped(cms.get())) return fail(CRYPT_E_UNEXPECTED_MSG_TYPE);
    PCCERT_CONTEXT recipient = findRecipient(cms.get(), para);
    if (recipient == nullptr) return FALSE;
    CertFreeCertificateContext(recipient);
    *size = DWORD(cipherSize);
    return TRUE;
  }
  CmsPtr cms(parseMessage(blob, blobSize));
  if (!cms) return FALSE;
  if (size == nullptr) return fail(ERROR_INVALID_PARAMETER);
  PCCERT_CONTEXT cert = nullptr;
  BOOL ok = FALSE;
  const DWORD longest = cipherLength(cms.get());
  if (isEnveloped(cms.get()) && longest > 0 && *size >= longest) {
    // Room for the longest content the message can hold: decrypted in place.
    FixedBlock block{decrypted, *size, 0};
    BIO* sink = newFixedBlockBio(&block);
    ok = decryptEnveloped(cms.get(), para, sink, &cert);
    BIO_free(sink);
    if (ok)
      *size = DWORD(block.used);
    else
      OPENSSL_cleanse(decrypted, block.used);
  } else {
    std::vector<BYTE> plain;
    ok = decryptEnveloped(cms.get(), para, &plain, &cert) && putOutput(plain, decrypted, size);
    OPENSSL_cleanse(plain.data(), plain.size());
  }
  if (ok && exchange != nullptr)
    *exchange = cert;
  else
    CertFreeCertificateContext(cert);
  return ok;
}

BOOL CryptDecodeMessage(DWORD typeFlags, PCRYPT_DECRYPT_MESSAGE_PARA decryptPara,
                        PCRYPT_VERIFY_MESSAGE_PARA verifyPara, DWORD index, const BYTE* blob,
                        DWORD blobSize, DWORD /*prevInnerType*/, DWORD* type, DWORD* innerType,
                        BYTE* decoded, DWORD* size, PCCERT_CONTEXT* exchange,
                        PCCERT_CONTEXT* signer) {
  registerCryptTexts();
  if (exchange != nullptr) *exchange = nullptr;
  if (signer != nullptr) *signer = nullptr;
  CmsPtr cms(parseMessage(blob, blobSize));
  if (!cms) return FALSE;
  const int nid = OBJ_obj2nid(CMS_get0_type(cms.get()));
  const DWORD msgType = nid == NID_pkcs7_data     ? CMSG_DATA
                        : nid == NID_pkcs7_signed ? CMSG_SIGNED
                        : isEnveloped(cms.get())  ? CMSG_ENVELOPED
                                                  : 0;
  if (msgType == 0 || (typeFlags & (1u << msgType)) == 0) return fail(CRYPT_E_UNEXPECTED_MSG_TYPE);
  std::vector<BYTE> content;
  PCCERT_CONTEXT xchg = nullptr, sign = nullptr;
  BOOL ok = TRUE;
  if (msgType == CMSG_DATA) {
    ASN1_OCTET_STRING** octets = CMS_get0_content(cms.get());
    if (octets != nullptr && *octets != nullptr)
      content.assign((*octets)->data, (*octets)->data + (*octets)->length);
  } else if (msgType == CMSG_SIGNED) {
    ok = verifySigner(cms.get(), index, verifyPara, nullptr, &content, &sign);
  } else {
    ok = decryptEnveloped(cms.get(), decryptPara, &content, &xchg);
  }
  ok = ok && putOutput(content, decoded, size);
  OPENSSL_cleanse(content.data(), content.size());
  if (ok) {
    if (type != nullptr) *type = msgType;
    if (innerType != nullptr) *innerType = innerTypeOf(cms.get());
  }
  const bool handOut = ok && decoded != nullptr;
  if (handOut && exchange != nullptr)
    *exchange = xchg;
  else
    CertFreeCertificateContext(xchg);
  if (handOut && signer != nullptr)
    *signer = sign;
  else
    CertFreeCertificateContext(sign);
  return ok;
}
