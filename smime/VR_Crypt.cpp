#include "smime/VR_Crypt.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "foundation/DataBuffer.h"
#include "foundation/ExtPtrArray.h"
#include "foundation/LogBase.h"
#include "platform/User.h"
#include "smime/CertChain.h"
#include "smime/Certificate.h"
#include "smime/CertificateStore.h"
#include "smime/CspSettings.h"

namespace {

constexpr const char* kBaseProvider = "Microsoft Base Cryptographic Provider v1.0";
// The providers tried after the base one, by name and then with the user's container.
constexpr const char* kOtherProviders[] = {
    "Microsoft Enhanced Cryptographic Provider v1.0",
    "Microsoft Strong Cryptographic Provider",
    "Microsoft Base Smart Card Crypto Provider",
    "Microsoft Enhanced RSA and AES Cryptographic Provider (Prototype)",
};

void readUserName(StringBuffer& out) {
  char name[400];
  DWORD n = sizeof name;
  out.clear();
  if (GetUserNameA(name, &n)) out.append(name);
}

}  // namespace

VR_Crypt::VR_Crypt() {
  readUserName(userName);
  isIwamUser = isIwamUserName(userName.getString()) ? 1 : 0;
}

VR_Crypt::~VR_Crypt() {
  delete provider;
  delete hashAlg;
  delete encryptAlg;
  delete spare;
}

void VR_Crypt::setProvider(CryptoSP* sp) {
  if (sp == provider) return;
  delete provider;
  provider = sp;
}

void VR_Crypt::setHashAlg(CryptoAlg* alg) {
  if (alg == nullptr || alg == hashAlg) return;
  delete hashAlg;
  hashAlg = alg;
}

void VR_Crypt::setEncryptAlg(CryptoAlg* alg) {
  if (alg == nullptr || alg == encryptAlg) return;
  delete encryptAlg;
  encryptAlg = alg;
}

void VR_Crypt::setPreferences(const CspSettings& settings, LogBase* logp) {
  LogBase& log = logOrNull(logp);
  if (settings.providerName.isEmpty()) {
    log.logError("VR_Crypt::setPreferences -- provider is missing");
    return;
  }
  const char* name = settings.providerName.getString();
  const char* container = settings.keyContainerName.getString();
  CryptoSP* sp = acquireExact(name, container, uint32_t(settings.providerType), log, acquireFlags);
  if (sp == nullptr) {
    sp = acquireNamedWithContainer(name, container, log, 0);
    if (sp == nullptr) sp = acquireNamed(name, log, 0);
    if (sp == nullptr) {
      log.logData("requested_csp", name);
      log.logError("Cannot create requested provider, using default.");
      sp = acquireDefault(log, 0);
      if (sp == nullptr) {
        StringBuffer msg;
        msg.appendLastWindowsError();
        log.logError(msg.getString());
      }
    }
    log.logError("Cannot create CSP according to preferences.");
    log.logData("provider", name);
    log.logData("keyContainer", container);
    log.logDataLong("providerType", settings.providerType);
    if (sp == nullptr) {
      log.logError("No CSP created.");
      return;
    }
  }
  setProvider(sp);

  CryptoAlg* hash = provider->findHashAlgorithm(settings.hashAlgorithm.getString());
  if (hash == nullptr) hash = provider->defaultHashAlgorithm();
  if (hash != nullptr)
    setHashAlg(hash);
  else
    log.logInfo("No hash algorithm found in requested CSP");

  CryptoAlg* cipher = provider->findEncryptAlgorithm(settings.encryptAlgorithm.getString());
  if (cipher == nullptr) {
    log.logError("Failed to get requested encryption algorithm");
    log.logData("requested_algorithm", settings.encryptAlgorithm.getString());
    cipher = provider->defaultEncryptAlgorithm();
  }
  if (cipher == nullptr) {
    log.logInfo("No encryption algorithm found in requested CSP");
    return;
  }
  log.logData("using_algorithm", cipher->name.getString());
  setEncryptAlg(cipher);
}

bool VR_Crypt::ensureDefaultProvider(LogBase& log, uint32_t flags) {
  StringBuffer user;
  readUserName(user);
  if (provider != nullptr) return true;
  const bool haveUser = !user.isEmpty();
  CryptoSP* sp = acquireDefault(log, flags);
  if (sp == nullptr && haveUser)
    sp = acquireNamedWithContainer(kBaseProvider, user.getString(), log, flags);
  for (const char* name : kOtherProviders)
    if (sp == nullptr) sp = acquireNamed(name, log, flags);
  for (const char* name : kOtherProviders)
    if (sp == nullptr && haveUser)
      sp = acquireNamedWithContainer(name, user.getString(), log, flags);
  if (sp == nullptr) {
    log.logData("logged_on_user", user.getString());
    log.logError("Failed to get Cryptographic Service Provider");
    return false;
  }
  setProvider(sp);
  return true;
}

// --- the message operations: signing, verifying, enveloping and decrypting through
// the platform's message functions, each with its numbered log prefixes.
namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
constexpr const char* kSha1Oid = "1.3.14.3.2.26";
constexpr const char* kRc2Oid = "1.2.840.113549.3.2";
constexpr int kMaxChainCerts = 20;

// `prefix` followed by the platform's text for `code`, as one error.
void logPlatformError(LogBase& log, const char* prefix, DWORD code) {
  StringBuffer msg(prefix);
  msg.appendWindowsError(code);
  log.logError(msg.getString());
}

void logHex(LogBase& log, const char* key, const char* format, DWORD code) {
  char text[16];
  std::snprintf(text, sizeof text, format, code);
  log.logData(key, text);
}

struct SignTexts {
  const char* nullCert;
  const char* nullData;
  const char* creating;
  const char* csp;
  const char* sizing;
  const char* signing;
  bool errorCode;  // the sizing failure also logs "error_code"
};

constexpr SignTexts kDetached = {"createDetachedSignature.3: certificate param is null",
                                 "createDetachedSignature.3: data param is null",
                                 "creating detached digital signature",
                                 "createDetachedSignature.csp: ",
                                 "createDetachedSignature.1: ",
                                 "createDetachedSignature.2: ",
                                 true};
constexpr SignTexts kAttached = {"createAttachedSignature.1: certificate param is null",
                                 "createAttachedSignature.1: data param is null",
                                 "creating attached digital signature",
                                 "createAttachedSignature.csp: ",
                                 "createAttachedSignature.2: ",
                                 "createAttachedSignature.3: ",
                                 false};

Certificate* recordOf(PCCERT_CONTEXT c) { return c != nullptr ? new Certificate(c) : nullptr; }

// Puts a record of the context in *out (deleting what was there), or frees the context when
// there is no out: a record derives its trust from a chain, which nobody would read.
void handOut(PCCERT_CONTEXT context, Certificate** out) {
  if (out == nullptr) {
    CertFreeCertificateContext(context);
    return;
  }
  delete *out;
  *out = recordOf(context);
}

}  // namespace

void VR_Crypt::chooseHashOid(StringBuffer& oid, LogBase& log) {
  if (hashAlg == nullptr) setHashAlg(provider->defaultHashAlgorithm());
  if (hashAlg == nullptr) {
    log.logError("No hash algorithm was specified.");
    oid.append(kSha1Oid);
    return;
  }
  if (!hashAlg->getOid(oid)) {
    log.logError("Unsupported hash algorithm.  Please contact Vorlund Software for support.");
    log.logData("alg_name", hashAlg->name.getString());
  } else {
    log.logData("hash_alg", hashAlg->name.getString());
  }
  log.logDataLong("alg_bits", int32_t(hashAlg->numBits));
}

DataBuffer* VR_Crypt::createSignature(bool detached, const Certificate* cert,
                                      const unsigned char* data, uint32_t length, LogBase& log) {
  const SignTexts& t = detached ? kDetached : kAttached;
  if (cert == nullptr || data == nullptr) {
    log.logError(cert == nullptr ? t.nullCert : t.nullData);
    return nullptr;
  }
  log.logInfo(t.creating);
  StringBuffer subject;
  cert->getSubjectDn(subject);
  log.logData("cert_subject", subject.getString());
  if (provider == nullptr && !ensureDefaultProvider(log, acquireFlags)) {
    logPlatformError(log, t.csp, GetLastError());
    return nullptr;
  }
  log.logData("csp", provider->providerName());
  StringBuffer oid;
  chooseHashOid(oid, log);
  log.logData("hashOid", oid.getString());

  std::vector<PCCERT_CONTEXT> certs;
  CertChain chain;
  if (includeCertChain && chain.buildChain(cert) && chain.count() > 1) {
    for (int32_t i = 0; i < chain.count() && i < kMaxChainCerts; ++i)
      if (PCCERT_CONTEXT c = chain.contextAt(i)) certs.push_back(c);
  } else {
    certs.push_back(cert->context);
  }

  SYSTEMTIME now;
  GetSystemTime(&now);
  FILETIME ft;
  SystemTimeToFileTime(&now, &ft);
  DWORD timeSize = 0;
  CryptEncodeObject(PKCS_7_ASN_ENCODING, szOID_RSA_signingTime, &ft, nullptr, &timeSize);
  std::vector<BYTE> time(timeSize + 4);
  timeSize = DWORD(time.size());
  CryptEncodeObject(PKCS_7_ASN_ENCODING, szOID_RSA_signingTime, &ft, time.data(), &timeSize);
  CRYPT_ATTR_BLOB timeValue{timeSize, time.data()};
  CRYPT_ATTRIBUTE signingTime{const_cast<char*>(szOID_RSA_signingTime), 1, &timeValue};

  CRYPT_SIGN_MESSAGE_PARA para{};
  para.cbSize = sizeof para;
  para.dwMsgEncodingType = PKCS_7_ASN_ENCODING;
  para.pSigningCert = cert->context;
  para.HashAlgorithm.pszObjId = const_cast<char*>(oid.getString());
  para.cMsgCert = DWORD(certs.size());
  para.rgpMsgCert = certs.data();
  para.cAuthAttr = 1;
  para.rgAuthAttr = &signingTime;
  const BYTE* blocks[] = {data};
  DWORD sizes[] = {length};
  DWORD size = 0;
  if (!CryptSignMessage(&para, detached, 1, blocks, sizes, nullptr, &size)) {
    const DWORD error = GetLastError();
    logPlatformError(log, t.sizing, error);
    if (t.errorCode) logHex(log, "error_code", "0x%x", error);
    return nullptr;
  }
  std::vector<BYTE> signature(size, 0);
  if (!CryptSignMessage(&para, detached, 1, blocks, sizes, signature.data(), &size)) {
    logPlatformError(log, t.signing, GetLastError());
    return nullptr;
  }
  auto* out = new DataBuffer();
  out->append(signature.data(), size);
  return out;
}

DataBuffer* VR_Crypt::createDetachedSignature(const Certificate* cert, const unsigned char* data,
                                              uint32_t length, LogBase* log) {
  return createSignature(true, cert, data, length, logOrNull(log));
}

DataBuffer* VR_Crypt::createAttachedSignature(const Certificate* cert, const unsigned char* data,
                                              uint32_t length, LogBase* log) {
  return createSignature(false, cert, data, length, logOrNull(log));
}

DataBuffer* VR_Crypt::createMachineDetachedSignature(const Certificate* cert,
                                                     const unsigned char* data, uint32_t length,
                                                     LogBase* log) {
  acquireFlags = CRYPT_MACHINE_KEYSET;
  return createDetachedSignature(cert, data, length, log);
}

PCCERT_CONTEXT VR_Crypt::getSignerCertificate(void* /*arg*/, DWORD /*encoding*/,
                                              PCERT_INFO signerId, HCERTSTORE /*messageStore*/) {
  ExtPtrArray stores;
  openStoreList(stores, true, nullptr);
  PCCERT_CONTEXT found = nullptr;
  for (int32_t i = 0; i < stores.getSize() && found == nullptr; ++i)
    found = stores.getAs<CertificateStore>(i)->findBySignerId(signerId);
  stores.removeAllObjects();
  return found;
}

void VR_Crypt::getStoreSpecs(ExtPtrArray& out) const { appendSearchSpecs(out, isIwamUser != 0); }

bool VR_Crypt::verifyDetachedSignature(const DataBuffer* signature, const unsigned char* data,
                                       uint32_t length, CertificateStore* addToStore,
                                       Certificate** outCert, LogBase* logp) {
  LogBase& log = logOrNull(logp);
  if (outCert != nullptr) *outCert = nullptr;
  if (signature == nullptr || data == nullptr || length == 0) {
    log.logError("verifyDetachedSignature.1: invalid parameters");
    if (signature == nullptr) log.logError("digital signature is missing");
    if (data == nullptr) log.logError("signed data is null");
    if (length == 0) log.logError("length of signed data is 0");
    return false;
  }
  if (signature->getData() == nullptr || signature->getSize() == 0) {
    log.logError("verifyDetachedSignature.4: signature is empty");
    return false;
  }
  CRYPT_VERIFY_MESSAGE_PARA para{sizeof para, kEncoding, 0, nullptr, nullptr};
  const BYTE* blocks[] = {data};
  DWORD sizes[] = {length};
  auto verifyAt = [&](DWORD index, PCCERT_CONTEXT* signer) {
    return CryptVerifyDetachedMessageSignature(&para, index, signature->getData(),
                                               signature->getSize(), 1, blocks, sizes, signer);
  };
  StringBuffer kept;
  DWORD lastError = 0;
  bool anyVerified = false;
  for (DWORD index = 0;; ++index) {
    PCCERT_CONTEXT signer = nullptr;
    if (!verifyAt(index, &signer)) {
      lastError = GetLastError();
      kept.setString("verifyDetachedSignature.2: ");
      kept.appendWindowsError(lastError);
      if (lastError != CRYPT_E_NOT_FOUND) break;
      // The signer's certificate is not in the message: look in the stores, from now on.
      kept.clear();
      para.pfnGetSignerCertificate = &VR_Crypt::getSignerCertificate;
      if (!verifyAt(index, &signer)) {
        lastError = GetLastError();
        kept.setString("verifyDetachedSignature.3: ");
        kept.appendWindowsError(lastError);
        break;
      }
    }
    anyVerified = true;
    if (signer == nullptr) continue;
    if (addToStore == nullptr) {
      handOut(signer, outCert);
      continue;
    }
    Certificate* record = recordOf(signer);
    addToStore->addCertificate(record, logp);
    if (outCert != nullptr) {
      delete *outCert;
      *outCert = record;
    } else {
      delete record;
    }
  }
  if (lastError == CRYPT_E_NO_SIGNER || anyVerified) return true;
  log.logError("Failed to verify signature;");
  logHex(log, "dwErrorCode", "%x", lastError);
  log.logError(kept.getString());
  return false;
}

bool VR_Crypt::verifySignature(const DataBuffer* signedMessage, DataBuffer** outContent,
                               Certificate** outCert, LogBase* logp) {
  LogBase& log = logOrNull(logp);
  if (signedMessage == nullptr || signedMessage->getSize() == 0) return false;
  if (outContent != nullptr) *outContent = nullptr;
  CRYPT_VERIFY_MESSAGE_PARA para{sizeof para, kEncoding, 0, nullptr, nullptr};
  const BYTE* bytes = signedMessage->getData();
  const DWORD n = signedMessage->getSize();
  DWORD decodedSize = 0;
  if (!CryptVerifyMessageSignature(&para, 0, bytes, n, nullptr, &decodedSize, nullptr)) {
    para.pfnGetSignerCertificate = &VR_Crypt::getSignerCertificate;
    if (!CryptVerifyMessageSignature(&para, 0, bytes, n, nullptr, &decodedSize, nullptr)) {
      logPlatformError(log, "verifySignature.1: ", GetLastError());
      log.logDataLong("messageSize", int32_t(n));
      log.logDataLong("cbDecoded", int32_t(decodedSize));
      return false;
    }
  }
  std::vector<BYTE> content(decodedSize);
  PCCERT_CONTEXT signer = nullptr;
  StringBuffer kept;
  bool ok = CryptVerifyMessageSignature(&para, 0, bytes, n, content.data(), &decodedSize, &signer);
  if (!ok) {
    DWORD error = GetLastError();
    kept.setString("verifySignature.2: ");
    kept.appendWindowsError(error);
    if (error == CRYPT_E_NOT_FOUND) {
      para.pfnGetSignerCertificate = &VR_Crypt::getSignerCertificate;
      ok = CryptVerifyMessageSignature(&para, 0, bytes, n, content.data(), &decodedSize, &signer);
      if (!ok) {
        error = GetLastError();
        kept.setString("verifySignature.3: ");
        kept.appendWindowsError(error);
      }
    }
    if (!ok) log.logError(kept.getString());
  }
  handOut(signer, outCert);
  if (!ok) return false;
  if (outContent != nullptr) {
    *outContent = new DataBuffer();
    (*outContent)->append(content.data(), decodedSize);
  }
  return true;
}

bool VR_Crypt::encryptData(const unsigned char* data, uint32_t length, DataBuffer& out,
                           const Certificate* recipientCert, LogBase* logp) {
  LogBase& log = logOrNull(logp);
  if (data == nullptr || length == 0) {
    log.logError("Nothing to encrypt, data size is zero");
    return false;
  }
  StringBuffer user;
  char name[400];
  DWORD nameSize = sizeof name;
  if (GetUserNameA(name, &nameSize)) user.append(name);
  log.logData("logged_on_user", user.getString());
  if (!ensureDefaultProvider(log, acquireFlags)) {
    log.logError("Failed to get Cryptographic Service Provider");
    return false;
  }
  log.logData("csp", provider->providerName());
  if (encryptAlg == nullptr) setEncryptAlg(provider->defaultEncryptAlgorithm());
  StringBuffer oid;
  CRYPT_RC2_CBC_PARAMETERS rc2{};
  BYTE params[500];
  DWORD paramsSize = 0;
  if (encryptAlg != nullptr) {
    if (!encryptAlg->getOid(oid))
      log.logError(
          "Unsupported encryption algorithm.  Please contact Vorlund Software for support.");
    log.logData("alg_name", encryptAlg->name.getString());
    log.logDataLong("alg_bits", int32_t(encryptAlg->numBits));
    // RC2 of 40 bits goes without parameters; longer keys say their length in them.
    if (oid.equals(kRc2Oid) && encryptAlg->numBits > 40) {
      rc2.dwVersion =
          encryptAlg->numBits == 128 ? CRYPT_RC2_128BIT_VERSION : CRYPT_RC2_64BIT_VERSION;
      paramsSize = sizeof params;
      if (!CryptEncodeObject(kEncoding, szOID_RSA_RC2CBC, &rc2, params, &paramsSize))
        paramsSize = 0;
    }
  } else {
    log.logError("No encryption algorithm was specified.");
    oid.append(kRc2Oid);
  }
  log.logData("encryptOid", oid.getString());

  CRYPT_ENCRYPT_MESSAGE_PARA para{};
  para.cbSize = sizeof para;
  para.dwMsgEncodingType = kEncoding;
  para.hCryptProv = provider->handle();
  para.ContentEncryptionAlgorithm.pszObjId = const_cast<char*>(oid.getString());
  para.ContentEncryptionAlgorithm.Parameters = CRYPT_OBJID_BLOB{paramsSize, params};
  PCCERT_CONTEXT recipients[] = {recipientCert != nullptr ? recipientCert->context : nullptr};
  const DWORD count = recipients[0] != nullptr ? 1 : 0;
  DWORD size = 0;
  if (!CryptEncryptMessage(&para, count, recipients, data, length, nullptr, &size)) {
    logPlatformError(log, "encryptData.1: ", GetLastError());
    return false;
  }
  // Written straight into the output's room; its size moves only on success.
  const uint32_t had = out.getSize();
  out.ensureCapacity(had + size);
  if (!CryptEncryptMessage(&para, count, recipients, data, length, out.getData() + had, &size)) {
    logPlatformError(log, "encryptData.2: ", GetLastError());
    return false;
  }
  out.setSize(had + size);
  return true;
}

bool VR_Crypt::decryptStores(const ExtPtrArray* stores, CertificateStore** opened,
                             std::vector<HCERTSTORE>& handles, LogBase& log) {
  *opened = nullptr;
  if (!((onlyGivenStores && stores != nullptr) || isIwamUser)) {
    *opened = CertificateStore::openCurrentUserPersonal(true, &log);
    if (*opened == nullptr) return false;
    handles.push_back((*opened)->store);
  }
  for (int32_t i = 0; stores != nullptr && i < stores->getSize(); ++i)
    handles.push_back(stores->getAs<CertificateStore>(i)->store);
  return true;
}

bool VR_Crypt::decryptMessage(const unsigned char* data, uint32_t length, DataBuffer& out,
                              const ExtPtrArray* stores, Certificate** outCert, LogBase& log) {
  if (outCert != nullptr) *outCert = nullptr;
  CertificateStore* opened = nullptr;
  std::vector<HCERTSTORE> handles;
  if (!decryptStores(stores, &opened, handles, log)) return false;
  CRYPT_DECRYPT_MESSAGE_PARA para{sizeof para, kEncoding, DWORD(handles.size()), handles.data()};
  DWORD size = 0;
  bool ok = CryptDecryptMessage(&para, data, length, nullptr, &size, nullptr);
  // Decrypted straight into the output's room; its size moves only on success.
  const uint32_t had = out.getSize();
  if (ok) out.ensureCapacity(had + (size > 0 ? size : 1));  // never a null buffer
  PCCERT_CONTEXT exchange = nullptr;
  ok = ok && CryptDecryptMessage(&para, data, length, out.getData() + had, &size, &exchange);
  handOut(exchange, outCert);
  delete opened;
  if (ok) out.setSize(had + size);
  return ok;
}

bool VR_Crypt::decodeMessage(const unsigned char* data, uint32_t length, DataBuffer& out,
                             const ExtPtrArray* stores, Certificate** outCert, LogBase& log) {
  if (outCert != nullptr) *outCert = nullptr;
  CertificateStore* opened = nullptr;
  std::vector<HCERTSTORE> handles;
  if (!decryptStores(stores, &opened, handles, log)) return false;
  CRYPT_DECRYPT_MESSAGE_PARA decryptPara{sizeof decryptPara, kEncoding, DWORD(handles.size()),
                                         handles.data()};
  CRYPT_VERIFY_MESSAGE_PARA verifyPara{sizeof verifyPara, kEncoding, 0, nullptr, nullptr};
  DWORD type = 0, inner = 0, size = 0;
  bool ok = CryptDecodeMessage(0xFFFFFFFF, &decryptPara, &verifyPara, 0, data, length, 0, &type,
                               &inner, nullptr, &size, nullptr, nullptr);
  if (!ok) {
    logPlatformError(log, "decodeMessage.1: ", GetLastError());
    delete opened;
    return false;
  }
  std::vector<BYTE> decoded(size);
  PCCERT_CONTEXT exchange = nullptr, signer = nullptr;
  ok = CryptDecodeMessage(0xFFFFFFFF, &decryptPara, &verifyPara, 0, data, length, 0, &type, &inner,
                          decoded.data(), &size, &exchange, &signer);
  if (!ok) logPlatformError(log, "decodeMessage.2: ", GetLastError());
  // The recipient's certificate, else the signer's.
  if (exchange != nullptr) {
    handOut(exchange, outCert);
    CertFreeCertificateContext(signer);
  } else {
    handOut(signer, outCert);
  }
  delete opened;
  if (ok) out.append(decoded.data(), size);
  return ok;
}

bool VR_Crypt::decrypt(const unsigned char* data, uint32_t length, DataBuffer& out,
                       const ExtPtrArray* stores, Certificate** outCert, LogBase* logp) {
  LogBase& log = logOrNull(logp);
  if (data == nullptr || length == 0) {
    log.logError("No data to decrypt");
    return false;
  }
  return decryptMessage(data, length, out, stores, outCert, log) ||
         decodeMessage(data, length, out, stores, outCert, log);
}
