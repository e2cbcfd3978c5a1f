// The certificate services of the platform's CryptoAPI with their Windows names, records and
// numbers: certificate contexts and their properties, stores (memory, file, system and
// registry stores), names, extension decoding, chains with trust status, and PKCS #12
// import. Realised on OpenSSL 3 in a library context of the platform's own, so a host's own
// use of OpenSSL is not changed.
//
// Stores. A system store (CERT_STORE_PROV_SYSTEM_W) of the current user or the local machine
// is the registry store below Software\Microsoft\SystemCertificates\<name> of HKCU or HKLM,
// as on Windows. A registry store (CERT_STORE_PROV_REG) keeps its certificates in one file
// per key under <root>/certstores/<hive>/<key path, lower case>.sst, in the serialized-store
// format that CertSaveStore writes (doc/platform_root.md). Every change to such a store
// re-reads the file under an exclusive lock and replaces it whole, so neither a crash nor
// another process leaves half a store. A damaged file is renamed aside to
// <file>.corrupt-<UTC time> and the store starts empty; certStoreLastProblem() says so. The
// local machine's ROOT store also holds, read-only, the machine's trusted authorities.
//
// Contexts. A context is reference-counted and keeps its store alive: it stays valid after
// the store is closed, until it is freed.
#pragma once

#include <string>

#include "platform/Errors.h"
#include "platform/Registry.h"
#include "platform/Time.h"
#include "platform/WinTypes.h"

typedef void* HCERTSTORE;
typedef void* HCERTCHAINENGINE;
typedef uintptr_t HCRYPTPROV_LEGACY;
typedef uintptr_t HCRYPTPROV;

struct CRYPT_DATA_BLOB {
  DWORD cbData;
  BYTE* pbData;
};
typedef CRYPT_DATA_BLOB CRYPT_INTEGER_BLOB;
typedef CRYPT_DATA_BLOB CERT_NAME_BLOB;
typedef CRYPT_DATA_BLOB CRYPT_OBJID_BLOB;
typedef CRYPT_DATA_BLOB CRYPT_HASH_BLOB;
typedef CRYPT_DATA_BLOB* PCERT_NAME_BLOB;

struct CRYPT_BIT_BLOB {
  DWORD cbData;
  BYTE* pbData;
  DWORD cUnusedBits;
};

struct CRYPT_ALGORITHM_IDENTIFIER {
  LPSTR pszObjId;
  CRYPT_OBJID_BLOB Parameters;
};

struct CERT_PUBLIC_KEY_INFO {
  CRYPT_ALGORITHM_IDENTIFIER Algorithm;
  CRYPT_BIT_BLOB PublicKey;
};

struct CERT_EXTENSION {
  LPSTR pszObjId;
  BOOL fCritical;
  CRYPT_OBJID_BLOB Value;
};
typedef CERT_EXTENSION* PCERT_EXTENSION;

// The serial number is little-endian, as Windows keeps it.
struct CERT_INFO {
  DWORD dwVersion;
  CRYPT_INTEGER_BLOB SerialNumber;
  CRYPT_ALGORITHM_IDENTIFIER SignatureAlgorithm;
  CERT_NAME_BLOB Issuer;
  FILETIME NotBefore;
  FILETIME NotAfter;
  CERT_NAME_BLOB Subject;
  CERT_PUBLIC_KEY_INFO SubjectPublicKeyInfo;
  CRYPT_BIT_BLOB IssuerUniqueId;
  CRYPT_BIT_BLOB SubjectUniqueId;
  DWORD cExtension;
  PCERT_EXTENSION rgExtension;
};
typedef CERT_INFO* PCERT_INFO;

struct CERT_CONTEXT {
  DWORD dwCertEncodingType;
  BYTE* pbCertEncoded;
  DWORD cbCertEncoded;
  PCERT_INFO pCertInfo;
  HCERTSTORE hCertStore;
};
typedef const CERT_CONTEXT* PCCERT_CONTEXT;

constexpr DWORD X509_ASN_ENCODING = 0x00000001;
constexpr DWORD PKCS_7_ASN_ENCODING = 0x00010000;

// Errors of this layer, with the system's texts (registered with FormatMessageA).
constexpr DWORD ERROR_INVALID_PASSWORD = 86;
constexpr DWORD ERROR_INVALID_DATA = 13;
constexpr DWORD CRYPT_E_BAD_ENCODE = 0x80092002;
constexpr DWORD CRYPT_E_FILE_ERROR = 0x80092003;
constexpr DWORD CRYPT_E_NOT_FOUND = 0x80092004;
constexpr DWORD CRYPT_E_EXISTS = 0x80092005;
constexpr DWORD CRYPT_E_PENDING_CLOSE = 0x8009200F;
constexpr DWORD CRYPT_E_ASN1_EOD = 0x80093102;
constexpr DWORD CRYPT_E_ASN1_CORRUPT = 0x80093103;
constexpr DWORD CRYPT_E_ASN1_BADTAG = 0x8009310B;
constexpr DWORD E_ACCESSDENIED_CRYPT = 0x80070005;
constexpr DWORD NTE_BAD_KEYSET = 0x80090016;

// ---- Contexts and properties ----

// A new context for DER bytes; null with CRYPT_E_ASN1_* (or E_INVALIDARG) when they are not
// one certificate.
PCCERT_CONTEXT CertCreateCertificateContext(DWORD encoding, const BYTE* encoded, DWORD size);
// The same context with one more reference.
PCCERT_CONTEXT CertDuplicateCertificateContext(PCCERT_CONTEXT context);
// Drops one reference; null is allowed.
BOOL CertFreeCertificateContext(PCCERT_CONTEXT context);

constexpr DWORD CERT_KEY_PROV_INFO_PROP_ID = 2;
constexpr DWORD CERT_SHA1_HASH_PROP_ID = 3;
constexpr DWORD CERT_HASH_PROP_ID = CERT_SHA1_HASH_PROP_ID;
constexpr DWORD CERT_FRIENDLY_NAME_PROP_ID = 11;

// The key-provider property: the key container that holds the certificate's private key.
struct CRYPT_KEY_PROV_PARAM {
  DWORD dwParam;
  BYTE* pbData;
  DWORD cbData;
  DWORD dwFlags;
};
struct CRYPT_KEY_PROV_INFO {
  LPWSTR pwszContainerName;
  LPWSTR pwszProvName;
  DWORD dwProvType;
  DWORD dwFlags;  // CRYPT_MACHINE_KEYSET for a container of the machine's
  DWORD cProvParam;
  CRYPT_KEY_PROV_PARAM* rgProvParam;
  DWORD dwKeySpec;
};
constexpr DWORD AT_KEYEXCHANGE = 1;
constexpr DWORD AT_SIGNATURE = 2;
constexpr DWORD CRYPT_MACHINE_KEYSET = 0x20;
constexpr DWORD PROV_RSA_FULL = 1;
#define MS_ENHANCED_PROV_W u"Microsoft Enhanced Cryptographic Provider v1.0"

// Reads a property: with null data *size receives the size; too small a buffer fails with
// ERROR_MORE_DATA; a property the context lacks with CRYPT_E_NOT_FOUND. The key-provider
// property comes back as one self-contained CRYPT_KEY_PROV_INFO block.
BOOL CertGetCertificateContextProperty(PCCERT_CONTEXT context, DWORD propId, void* data,
                                       DWORD* size);
// Sets (or with null data removes) a property; the key-provider property takes a
// CRYPT_KEY_PROV_INFO*, the friendly name a CRYPT_DATA_BLOB*. A context in a persisted store
// is saved with its property.
BOOL CertSetCertificateContextProperty(PCCERT_CONTEXT context, DWORD propId, DWORD flags,
                                       const void* data);

// ---- Provider contexts ----

constexpr DWORD PROV_RSA_AES = 24;
constexpr DWORD CRYPT_NEWKEYSET = 0x8;
constexpr DWORD CRYPT_DELETEKEYSET = 0x10;
constexpr DWORD NTE_BAD_UID = 0x80090001;
constexpr DWORD NTE_BAD_FLAGS = 0x80090009;
constexpr DWORD NTE_BAD_TYPE = 0x8009000A;
constexpr DWORD NTE_NO_KEY = 0x8009000D;
constexpr DWORD NTE_EXISTS = 0x8009000F;
constexpr DWORD NTE_PROV_TYPE_NOT_DEF = 0x80090017;
constexpr DWORD NTE_KEYSET_NOT_DEF = 0x80090019;
constexpr DWORD NTE_PROV_TYPE_NO_MATCH = 0x8009001B;

typedef unsigned int ALG_ID;
constexpr ALG_ID CALG_MD2 = 0x8001, CALG_MD4 = 0x8002, CALG_MD5 = 0x8003, CALG_SHA1 = 0x8004,
                 CALG_SHA_256 = 0x800C, CALG_SHA_384 = 0x800D, CALG_SHA_512 = 0x800E;
constexpr ALG_ID CALG_DES = 0x6601, CALG_RC2 = 0x6602, CALG_3DES = 0x6603, CALG_AES = 0x6611,
                 CALG_RC4 = 0x6801;

constexpr DWORD PP_ENUMALGS = 1;
constexpr DWORD PP_IMPTYPE = 3;
constexpr DWORD PP_NAME = 4;
constexpr DWORD PP_VERSION = 5;
constexpr DWORD PP_CONTAINER = 6;
constexpr DWORD CRYPT_FIRST = 1;
constexpr DWORD CRYPT_IMPL_SOFTWARE = 2;

struct PROV_ENUMALGS {
  ALG_ID aiAlgid;
  DWORD dwBitLen;   // the default length
  DWORD dwNameLen;  // with the NUL
  CHAR szName[20];
};

// A context of a named provider (null: the first provider of `type`) over a key container
// (null: the logged-on user's). Flags 0 open an existing container, CRYPT_NEWKEYSET makes a
// new one, CRYPT_DELETEKEYSET removes one (no context results), CRYPT_MACHINE_KEYSET uses the
// machine's containers. Fails with NTE_KEYSET_NOT_DEF for an unknown provider,
// NTE_PROV_TYPE_NO_MATCH for a type that is not the provider's, NTE_BAD_KEYSET for a missing
// container, NTE_EXISTS for a new one that already exists; *prov is 0 then.
BOOL CryptAcquireContextA(HCRYPTPROV* prov, LPCSTR container, LPCSTR provider, DWORD type,
                          DWORD flags);
// The provider at `index` of those this platform has: its type and NUL-terminated name (null
// name asks for the size, with the NUL; too small a buffer fails with ERROR_MORE_DATA);
// ERROR_NO_MORE_ITEMS past the last. `reserved` must be null and `flags` 0.
BOOL CryptEnumProvidersA(DWORD index, DWORD* reserved, DWORD flags, DWORD* type, LPSTR name,
                         DWORD* size);
// Frees a context; a handle that is not a live context fails with NTE_BAD_UID.
BOOL CryptReleaseContext(HCRYPTPROV prov, DWORD flags);
// PP_NAME and PP_CONTAINER as NUL-terminated text, PP_IMPTYPE and PP_VERSION as a DWORD,
// PP_ENUMALGS one PROV_ENUMALGS per call (CRYPT_FIRST restarts; ERROR_NO_MORE_ITEMS after the
// last). Null data asks for the size; too small a buffer fails with ERROR_MORE_DATA and the
// size needed.
BOOL CryptGetProvParam(HCRYPTPROV prov, DWORD param, BYTE* data, DWORD* size, DWORD flags);

// ---- Messages ----
// PKCS #7 messages on OpenSSL's CMS in the platform's library context. What is written is
// what Windows writes (doc/messages.md lists where the bytes differ); reading also takes
// RSASSA-PSS and ECDSA signatures, SHA-2 digests, RSAES-OAEP and ECDH recipients,
// AuthEnvelopedData with AES-GCM and the old RC2, DES and RC4 content ciphers. Every output
// follows one rule: null output asks for the size (for signing, enveloping and decrypting a
// size the output never exceeds, found without doing the work); too small a buffer fails
// with ERROR_MORE_DATA and the size needed; a failed call writes nothing.

constexpr DWORD NTE_BAD_DATA = 0x80090005;
constexpr DWORD NTE_BAD_SIGNATURE = 0x80090006;
constexpr DWORD CRYPT_E_UNKNOWN_ALGO = 0x80091002;
constexpr DWORD CRYPT_E_INVALID_MSG_TYPE = 0x80091004;
constexpr DWORD CRYPT_E_HASH_VALUE = 0x80091007;
constexpr DWORD CRYPT_E_UNEXPECTED_MSG_TYPE = 0x8009200A;
constexpr DWORD CRYPT_E_NO_KEY_PROPERTY = 0x8009200B;
constexpr DWORD CRYPT_E_NO_DECRYPT_CERT = 0x8009200C;
constexpr DWORD CRYPT_E_NO_SIGNER = 0x8009200E;

// Structure types of CryptEncodeObject, by OID or by number.
#define szOID_RSA_signingTime "1.2.840.113549.1.9.5"
#define szOID_RSA_RC2CBC "1.2.840.113549.3.2"
#define PKCS_UTC_TIME ((LPCSTR)17)
#define PKCS_RC2_CBC_PARAMETERS ((LPCSTR)41)

constexpr DWORD CRYPT_RC2_40BIT_VERSION = 160;
constexpr DWORD CRYPT_RC2_64BIT_VERSION = 120;
constexpr DWORD CRYPT_RC2_128BIT_VERSION = 58;
struct CRYPT_RC2_CBC_PARAMETERS {
  DWORD dwVersion;
  BOOL fIV;
  BYTE rgbIV[8];
};

#define X509_OCTET_STRING ((LPCSTR)25)
#define PKCS_SMIME_CAPABILITIES ((LPCSTR)42)
#define szOID_RSA_SMIMECapabilities "1.2.840.113549.1.9.15"
struct CRYPT_SMIME_CAPABILITY {
  LPSTR pszObjId;
  CRYPT_OBJID_BLOB Parameters;  // DER, or none
};
struct CRYPT_SMIME_CAPABILITIES {
  DWORD cCapability;
  CRYPT_SMIME_CAPABILITY* rgCapability;
};

// Encodes a FILETIME* as a signing time (UTCTime from 1950 to 2049, else GeneralizedTime),
// a CRYPT_RC2_CBC_PARAMETERS*, a CRYPT_SMIME_CAPABILITIES* (an OID that is no OID fails with
// CRYPT_E_BAD_ENCODE) or a CRYPT_DATA_BLOB* as an OCTET STRING; another structure type fails
// with ERROR_FILE_NOT_FOUND.
BOOL CryptEncodeObject(DWORD encoding, LPCSTR structType, const void* info, BYTE* encoded,
                       DWORD* size);

typedef CRYPT_DATA_BLOB CRYPT_ATTR_BLOB;
struct CRYPT_ATTRIBUTE {
  LPSTR pszObjId;
  DWORD cValue;
  CRYPT_ATTR_BLOB* rgValue;  // DER of each value
};
typedef CRYPT_ATTRIBUTE* PCRYPT_ATTRIBUTE;
// A CRL as a message carries it. Only the encoded bytes are kept: pCrlInfo is null.
struct CRL_CONTEXT {
  DWORD dwCertEncodingType;
  BYTE* pbCrlEncoded;
  DWORD cbCrlEncoded;
  void* pCrlInfo;
  HCERTSTORE hCertStore;
};
typedef const CRL_CONTEXT* PCCRL_CONTEXT;
// A CRL context of its own for DER bytes; null with CRYPT_E_ASN1_BADTAG when they are not a
// CRL. CertFreeCRLContext frees it (null is allowed).
PCCRL_CONTEXT CertCreateCRLContext(DWORD encoding, const BYTE* encoded, DWORD size);
BOOL CertFreeCRLContext(PCCRL_CONTEXT crl);

struct CRYPT_SIGN_MESSAGE_PARA {
  DWORD cbSize;
  DWORD dwMsgEncodingType;
  PCCERT_CONTEXT pSigningCert;
  CRYPT_ALGORITHM_IDENTIFIER HashAlgorithm;
  void* pvHashAuxInfo;
  DWORD cMsgCert;
  PCCERT_CONTEXT* rgpMsgCert;
  DWORD cMsgCrl;
  PCCRL_CONTEXT* rgpMsgCrl;
  DWORD cAuthAttr;
  PCRYPT_ATTRIBUTE rgAuthAttr;
  DWORD cUnauthAttr;
  PCRYPT_ATTRIBUTE rgUnauthAttr;
  DWORD dwFlags;
  DWORD dwInnerContentType;
};
typedef CRYPT_SIGN_MESSAGE_PARA* PCRYPT_SIGN_MESSAGE_PARA;

// The signer certificate of a signer identifier (issuer and serial number) when the message
// does not carry it; the platform frees what it returns.
typedef PCCERT_CONTEXT (*PFN_CRYPT_GET_SIGNER_CERTIFICATE)(void* arg, DWORD encoding,
                                                           PCERT_INFO signerId,
                                                           HCERTSTORE messageStore);
struct CRYPT_VERIFY_MESSAGE_PARA {
  DWORD cbSize;
  DWORD dwMsgAndCertEncodingType;
  HCRYPTPROV_LEGACY hCryptProv;
  PFN_CRYPT_GET_SIGNER_CERTIFICATE pfnGetSignerCertificate;
  void* pvGetArg;
};
typedef CRYPT_VERIFY_MESSAGE_PARA* PCRYPT_VERIFY_MESSAGE_PARA;

struct CRYPT_ENCRYPT_MESSAGE_PARA {
  DWORD cbSize;
  DWORD dwMsgEncodingType;
  HCRYPTPROV_LEGACY hCryptProv;
  CRYPT_ALGORITHM_IDENTIFIER ContentEncryptionAlgorithm;
  void* pvEncryptionAuxInfo;
  DWORD dwFlags;
  DWORD dwInnerContentType;
};
typedef CRYPT_ENCRYPT_MESSAGE_PARA* PCRYPT_ENCRYPT_MESSAGE_PARA;

struct CRYPT_DECRYPT_MESSAGE_PARA {
  DWORD cbSize;
  DWORD dwMsgAndCertEncodingType;
  DWORD cCertStore;
  HCERTSTORE* rghCertStore;
};
typedef CRYPT_DECRYPT_MESSAGE_PARA* PCRYPT_DECRYPT_MESSAGE_PARA;

// A SignedData (version 1) over the concatenated blocks, the content left out when detached:
// one signer by issuer and serial number with rsaEncryption, exactly the certificates and
// CRLs given, the authenticated attributes given plus content type and message digest (none
// when none are given) and the unauthenticated attributes given. A non-zero inner content
// type (CMSG_SIGNED, CMSG_ENVELOPED) says the content is such a message: its OID becomes the
// content type, the content staying in an OCTET STRING as CMS encapsulates it; another fails
// with NTE_BAD_DATA. The signing certificate's key comes from its key-provider property or the
// key kept with it; without one CRYPT_E_NO_KEY_PROPERTY. An unknown hash OID fails with
// CRYPT_E_UNKNOWN_ALGO.
BOOL CryptSignMessage(PCRYPT_SIGN_MESSAGE_PARA para, BOOL detached, DWORD count,
                      const BYTE* blocks[], DWORD sizes[], BYTE* signedBlob, DWORD* size);
// Verifies the signer at `index` (one per call) against the concatenated blocks. Fails with
// CRYPT_E_NO_SIGNER past the last signer, CRYPT_E_NOT_FOUND when the signer's certificate is
// neither in the message nor given by the callback, NTE_BAD_SIGNATURE or CRYPT_E_HASH_VALUE
// for content that does not match, CRYPT_E_UNEXPECTED_MSG_TYPE for a message that is not
// signed, CRYPT_E_ASN1_BADTAG / CRYPT_E_ASN1_EOD for garbage / truncated or empty input.
// *signer (when asked for) gets a new context of the signer's certificate, null on failure.
BOOL CryptVerifyDetachedMessageSignature(PCRYPT_VERIFY_MESSAGE_PARA para, DWORD index,
                                         const BYTE* signature, DWORD signatureSize, DWORD count,
                                         const BYTE* blocks[], DWORD sizes[],
                                         PCCERT_CONTEXT* signer);
// The same for a message that carries its content, which is written to `decoded`; *size is
// 0 on failure.
BOOL CryptVerifyMessageSignature(PCRYPT_VERIFY_MESSAGE_PARA para, DWORD index,
                                 const BYTE* signedBlob, DWORD blobSize, BYTE* decoded, DWORD* size,
                                 PCCERT_CONTEXT* signer);
// An EnvelopedData (version 0) of the bytes for each recipient (issuer and serial number,
// PKCS #1 v1.5 key transport) under the content algorithm: AES (2.16.840.1.101.3.4.1.2, .22,
// .42), 3DES, DES, or RC2 with the key length of its parameters (40 bits without).
// Another or a missing OID fails with CRYPT_E_UNKNOWN_ALGO.
BOOL CryptEncryptMessage(PCRYPT_ENCRYPT_MESSAGE_PARA para, DWORD recipientCount,
                         PCCERT_CONTEXT recipients[], const BYTE* data, DWORD dataSize,
                         BYTE* encrypted, DWORD* size);
// Decrypts with the first certificate of the stores that is a recipient and has a private
// key; none: CRYPT_E_NO_DECRYPT_CERT. Not enveloped: CRYPT_E_UNEXPECTED_MSG_TYPE. *exchange
// gets a new context of that certificate, null on failure and on a sizing call.
BOOL CryptDecryptMessage(PCRYPT_DECRYPT_MESSAGE_PARA para, const BYTE* blob, DWORD blobSize,
                         BYTE* decrypted, DWORD* size, PCCERT_CONTEXT* exchange);

constexpr DWORD CMSG_DATA = 1;
constexpr DWORD CMSG_SIGNED = 2;
constexpr DWORD CMSG_ENVELOPED = 3;
constexpr DWORD CMSG_DATA_FLAG = 1 << CMSG_DATA;
constexpr DWORD CMSG_SIGNED_FLAG = 1 << CMSG_SIGNED;
constexpr DWORD CMSG_ENVELOPED_FLAG = 1 << CMSG_ENVELOPED;
// Opens one level of a message of a type in `typeFlags`: data as it is, signed data verified
// at signer `index` as above, enveloped data decrypted as above. *type and *innerType get
// the message's type and its content's.
BOOL CryptDecodeMessage(DWORD typeFlags, PCRYPT_DECRYPT_MESSAGE_PARA decryptPara,
                        PCRYPT_VERIFY_MESSAGE_PARA verifyPara, DWORD index, const BYTE* blob,
                        DWORD blobSize, DWORD prevInnerType, DWORD* type, DWORD* innerType,
                        BYTE* decoded, DWORD* size, PCCERT_CONTEXT* exchange,
                        PCCERT_CONTEXT* signer);

// ---- Stores ----

typedef const char* LPCSTR_PROVIDER;
#define CERT_STORE_PROV_MEMORY ((LPCSTR)2)
#define CERT_STORE_PROV_FILE ((LPCSTR)3)
#define CERT_STORE_PROV_REG ((LPCSTR)4)
#define CERT_STORE_PROV_SYSTEM_W ((LPCSTR)10)
#define CERT_STORE_PROV_SYSTEM CERT_STORE_PROV_SYSTEM_W

constexpr DWORD CERT_STORE_READONLY_FLAG = 0x00008000;
constexpr DWORD CERT_STORE_OPEN_EXISTING_FLAG = 0x00004000;
constexpr DWORD CERT_STORE_CREATE_NEW_FLAG = 0x00002000;
constexpr DWORD CERT_SYSTEM_STORE_CURRENT_USER = 0x00010000;
constexpr DWORD CERT_SYSTEM_STORE_LOCAL_MACHINE = 0x00020000;
constexpr DWORD CERT_SYSTEM_STORE_LOCATION_MASK = 0x00FF0000;
constexpr DWORD CERT_CLOSE_STORE_FORCE_FLAG = 1;
constexpr DWORD CERT_CLOSE_STORE_CHECK_FLAG = 2;

// Opens a store. Memory: empty. File: pvPara is a file HANDLE (platform/FileApi.h) read from
// its current position to its end as a serialized store; an empty file is an empty store.
// Registry: pvPara is an HKEY. System: pvPara is the store's UTF-16 name, the location in
// the flags. Null with the last error on failure (ERROR_FILE_NOT_FOUND for a read-only or
// open-existing system store that does not exist, CRYPT_E_FILE_ERROR for a file that is not
// a store).
HCERTSTORE CertOpenStore(LPCSTR provider, DWORD encoding, HCRYPTPROV_LEGACY prov, DWORD flags,
                         const void* pvPara);
// Closes the handle. With CERT_CLOSE_STORE_CHECK_FLAG it fails with CRYPT_E_PENDING_CLOSE
// when contexts of the store are still held; they stay valid either way.
BOOL CertCloseStore(HCERTSTORE store, DWORD flags);
// The first context (prev null) or the one after prev, which is freed; null with
// CRYPT_E_NOT_FOUND after the last.
PCCERT_CONTEXT CertEnumCertificatesInStore(HCERTSTORE store, PCCERT_CONTEXT prev);
// The certificate whose issuer and serial number are those of `certId`, or, for a signer id
// naming its signer by subject key identifier (an issuer of one szOID_KEYID_RDN attribute
// holding the identifier, an empty serial number), the certificate with that identifier;
// null with CRYPT_E_NOT_FOUND.
PCCERT_CONTEXT CertGetSubjectCertificateFromStore(HCERTSTORE store, DWORD encoding,
                                                  PCERT_INFO certId);

constexpr DWORD CERT_STORE_ADD_NEW = 1;
constexpr DWORD CERT_STORE_ADD_USE_EXISTING = 2;
constexpr DWORD CERT_STORE_ADD_REPLACE_EXISTING = 3;
constexpr DWORD CERT_STORE_ADD_ALWAYS = 4;
constexpr DWORD CERT_STORE_ADD_REPLACE_EXISTING_INHERIT_PROPERTIES = 5;
constexpr DWORD CERT_STORE_ADD_NEWER = 6;
// Adds a copy of the context (with its properties). A certificate with the same issuer and
// serial number already there: ADD_NEW fails with CRYPT_E_EXISTS; ADD_NEWER does too unless
// the new one is newer (a later NotBefore), which then replaces it. A read-only store fails
// with E_ACCESSDENIED. *added (when given) receives the store's context.
BOOL CertAddCertificateContextToStore(HCERTSTORE store, PCCERT_CONTEXT context, DWORD disposition,
                                      PCCERT_CONTEXT* added);
// Adds a certificate from its DER bytes, as the above.
BOOL CertAddEncodedCertificateToStore(HCERTSTORE store, DWORD encoding, const BYTE* encoded,
                                      DWORD size, DWORD disposition, PCCERT_CONTEXT* added);
// Removes the certificate from the store it came from and frees the context.
BOOL CertDeleteCertificateFromStore(PCCERT_CONTEXT context);

constexpr DWORD CERT_STORE_SAVE_AS_STORE = 1;
constexpr DWORD CERT_STORE_SAVE_TO_FILE = 1;
constexpr DWORD CERT_STORE_SAVE_TO_MEMORY = 2;
// Writes the store as a serialized store: to a file HANDLE at its current position, or into
// a CRYPT_DATA_BLOB (null pbData asks for the size).
BOOL CertSaveStore(HCERTSTORE store, DWORD encoding, DWORD saveAs, DWORD saveTo, void* saveToPara,
                   DWORD flags);

// The last problem met with a store file (set aside as unreadable, not writable), as one
// line of English for a log; empty when there has been none.
std::string certStoreLastProblem();
void clearCertStoreLastProblem();
// Test hook: the PEM bundle of the machine's trusted authorities shown in the local
// machine's ROOT store; empty shows none. Defaults to Debian's ca-certificates bundle.
void setTrustedBundleForTesting(const std::string& path);

// ---- Names ----

constexpr DWORD CERT_SIMPLE_NAME_STR = 1;
constexpr DWORD CERT_OID_NAME_STR = 2;
constexpr DWORD CERT_X500_NAME_STR = 3;
// The name as text (see the header comment of CertName.cpp for the forms); returns the
// length with the NUL, or with no buffer the size needed. An undecodable name gives "".
DWORD CertNameToStrA(DWORD encoding, PCERT_NAME_BLOB name, DWORD strType, LPSTR psz, DWORD csz);

// ---- Extensions ----

#define X509_ALTERNATE_NAME ((LPCSTR)12)
#define X509_KEY_USAGE ((LPCSTR)14)
#define X509_ENHANCED_KEY_USAGE ((LPCSTR)36)
#define szOID_KEY_USAGE "2.5.29.15"
#define szOID_KEYID_RDN "1.3.6.1.4.1.311.10.7.1"
#define szOID_SUBJECT_ALT_NAME2 "2.5.29.17"
#define szOID_ENHANCED_KEY_USAGE "2.5.29.37"

constexpr DWORD CERT_ALT_NAME_OTHER_NAME = 1;
constexpr DWORD CERT_ALT_NAME_RFC822_NAME = 2;
constexpr DWORD CERT_ALT_NAME_DNS_NAME = 3;
constexpr DWORD CERT_ALT_NAME_X400_ADDRESS = 4;
constexpr DWORD CERT_ALT_NAME_DIRECTORY_NAME = 5;
constexpr DWORD CERT_ALT_NAME_EDI_PARTY_NAME = 6;
constexpr DWORD CERT_ALT_NAME_URL = 7;
constexpr DWORD CERT_ALT_NAME_IP_ADDRESS = 8;
constexpr DWORD CERT_ALT_NAME_REGISTERED_ID = 9;

struct CERT_OTHER_NAME {
  LPSTR pszObjId;
  CRYPT_OBJID_BLOB Value;
};
struct CERT_ALT_NAME_ENTRY {
  DWORD dwAltNameChoice;
  union {
    CERT_OTHER_NAME* pOtherName;
    LPWSTR pwszRfc822Name;
    LPWSTR pwszDNSName;
    CERT_NAME_BLOB DirectoryName;
    LPWSTR pwszURL;
    CRYPT_DATA_BLOB IPAddress;
    LPSTR pszRegisteredID;
  };
};
struct CERT_ALT_NAME_INFO {
  DWORD cAltEntry;
  CERT_ALT_NAME_ENTRY* rgAltEntry;
};
struct CERT_ENHKEY_USAGE {
  DWORD cUsageIdentifier;
  LPSTR* rgpszUsageIdentifier;
};

// Decodes key usage (a CRYPT_BIT_BLOB), a subject or issuer alternative name (a
// CERT_ALT_NAME_INFO) or extended key usage (a CERT_ENHKEY_USAGE), named by the constants
// above or by the extension's OID. The result is one self-contained block; with null output
// *size receives its size, too small a buffer fails with ERROR_MORE_DATA. Bad DER fails with
// CRYPT_E_ASN1_BADTAG; a structure type with no decoder, as on Windows, ERROR_FILE_NOT_FOUND.
BOOL CryptDecodeObject(DWORD encoding, LPCSTR structType, const BYTE* encoded, DWORD size,
                       DWORD flags, void* out, DWORD* outSize);

// ---- Chains ----

struct CERT_CHAIN_ENGINE_CONFIG {
  DWORD cbSize;
  HCERTSTORE hRestrictedRoot;
  HCERTSTORE hRestrictedTrust;
  HCERTSTORE hRestrictedOther;
  DWORD cAdditionalStore;
  HCERTSTORE* rghAdditionalStore;
  DWORD dwFlags;
  DWORD dwUrlRetrievalTimeout;
  DWORD MaximumCachedCertificates;
  DWORD CycleDetectionModulus;
};
constexpr DWORD CERT_CHAIN_CACHE_END_CERT = 0x00000001;

struct CERT_TRUST_STATUS {
  DWORD dwErrorStatus;
  DWORD dwInfoStatus;
};
constexpr DWORD CERT_TRUST_NO_ERROR = 0;
constexpr DWORD CERT_TRUST_IS_NOT_TIME_VALID = 0x00000001;
constexpr DWORD CERT_TRUST_IS_REVOKED = 0x00000004;
constexpr DWORD CERT_TRUST_IS_NOT_SIGNATURE_VALID = 0x00000008;
constexpr DWORD CERT_TRUST_IS_NOT_VALID_FOR_USAGE = 0x00000010;
constexpr DWORD CERT_TRUST_IS_UNTRUSTED_ROOT = 0x00000020;
constexpr DWORD CERT_TRUST_REVOCATION_STATUS_UNKNOWN = 0x00000040;
constexpr DWORD CERT_TRUST_IS_CYCLIC = 0x00000080;
constexpr DWORD CERT_TRUST_INVALID_EXTENSION = 0x00000100;
constexpr DWORD CERT_TRUST_INVALID_BASIC_CONSTRAINTS = 0x00000400;
constexpr DWORD CERT_TRUST_IS_PARTIAL_CHAIN = 0x00010000;
constexpr DWORD CERT_TRUST_HAS_NOT_SUPPORTED_CRITICAL_EXT = 0x08000000;
constexpr DWORD CERT_TRUST_IS_SELF_SIGNED = 0x00000008;  // an info status

struct CERT_CHAIN_ELEMENT {
  DWORD cbSize;
  PCCERT_CONTEXT pCertContext;
  CERT_TRUST_STATUS TrustStatus;
  void* pRevocationInfo;
  CERT_ENHKEY_USAGE* pIssuanceUsage;
  CERT_ENHKEY_USAGE* pApplicationUsage;
  LPCWSTR pwszExtendedErrorInfo;
};
typedef CERT_CHAIN_ELEMENT* PCERT_CHAIN_ELEMENT;
struct CERT_SIMPLE_CHAIN {
  DWORD cbSize;
  CERT_TRUST_STATUS TrustStatus;
  DWORD cElement;
  PCERT_CHAIN_ELEMENT* rgpElement;
  void* pTrustListInfo;
  BOOL fHasRevocationFreshnessTime;
  DWORD dwRevocationFreshnessTime;
};
typedef CERT_SIMPLE_CHAIN* PCERT_SIMPLE_CHAIN;
struct CERT_CHAIN_CONTEXT {
  DWORD cbSize;
  CERT_TRUST_STATUS TrustStatus;
  DWORD cChain;
  PCERT_SIMPLE_CHAIN* rgpChain;
  DWORD cLowerQualityChainContext;
  const CERT_CHAIN_CONTEXT** rgpLowerQualityChainContext;
  BOOL fHasRevocationFreshnessTime;
  DWORD dwRevocationFreshnessTime;
};
typedef const CERT_CHAIN_CONTEXT* PCCERT_CHAIN_CONTEXT;

struct CERT_USAGE_MATCH {
  DWORD dwType;
  CERT_ENHKEY_USAGE Usage;
};
constexpr DWORD USAGE_MATCH_TYPE_AND = 0;
constexpr DWORD USAGE_MATCH_TYPE_OR = 1;
struct CERT_CHAIN_PARA {
  DWORD cbSize;
  CERT_USAGE_MATCH RequestedUsage;
};

// An engine trusts the certificates of the ROOT stores (the current user's and the local
// machine's, with the machine's AuthRoot store) and looks for issuers in the CA and personal
// stores and the engine's additional stores.
BOOL CertCreateCertificateChainEngine(CERT_CHAIN_ENGINE_CONFIG* config, HCERTCHAINENGINE* engine);
void CertFreeCertificateChainEngine(HCERTCHAINENGINE engine);
// Builds the chain of `context` at `time` (null: now) with OpenSSL's verification, every
// error of every element gathered into the trust status (an expired certificate under an
// untrusted root reports both). The engine null is the default engine. One simple chain, the
// end certificate first; the root, when one was reached, last.
BOOL CertGetCertificateChain(HCERTCHAINENGINE engine, PCCERT_CONTEXT context, const FILETIME* time,
                             HCERTSTORE additionalStore, CERT_CHAIN_PARA* para, DWORD flags,
                             void* reserved, PCCERT_CHAIN_CONTEXT* chain);
void CertFreeCertificateChain(PCCERT_CHAIN_CONTEXT chain);

// ---- PKCS #12 ----

constexpr DWORD CRYPT_EXPORTABLE = 0x00000001;
constexpr DWORD CRYPT_USER_KEYSET = 0x00001000;
constexpr DWORD PKCS12_NO_PERSIST_KEY = 0x00008000;
// Imports a PKCS #12 file (modern or with the older RC2-40 encryption): a memory store with
// its certificates; the certificate that matches the file's key carries the key-provider
// property of a new key container (of the machine with CRYPT_MACHINE_KEYSET) holding the
// key. With PKCS12_NO_PERSIST_KEY the key is kept in memory with the context instead, for
// the life of the context, and no container is written. Null with ERROR_INVALID_PASSWORD for
// a wrong password, CRYPT_E_BAD_ENCODE for bytes that are not PKCS #12.
HCERTSTORE PFXImportCertStore(CRYPT_DATA_BLOB* pfx, LPCWSTR password, DWORD flags);
BOOL PFXIsPFXBlob(CRYPT_DATA_BLOB* pfx);

// ---- FILETIME helpers ----

// Seconds since 1970-01-01 UTC to a FILETIME and back.
FILETIME fileTimeFromUnix(int64_t seconds);
int64_t unixFromFileTime(const FILETIME& ft);
// The current time as a UTC FILETIME.
void GetSystemTimeAsFileTime(FILETIME* ft);
BOOL FileTimeToSystemTime(const FILETIME* ft, SYSTEMTIME* st);
