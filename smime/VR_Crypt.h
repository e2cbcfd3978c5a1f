// One secure operation: the provider it runs on and the hash and encryption algorithms it
// uses, chosen from a host's provider settings or by the default ladder.
#pragma once

#include <cstdint>
#include <vector>

#include "foundation/StringBuffer.h"
#include "foundation/VorlundObject.h"
#include "smime/CryptoSP.h"

class Certificate;
class CertificateStore;
class DataBuffer;
class ExtPtrArray;
class LogBase;
struct CspSettings;

class VR_Crypt {
 public:
  // Reads the logged-on user's name.
  VR_Crypt();
  virtual ~VR_Crypt();
  VR_Crypt(const VR_Crypt&) = delete;
  VR_Crypt& operator=(const VR_Crypt&) = delete;

  // Acquires the provider the settings name (falling back to the default provider) and
  // chooses their hash and encryption algorithms, logging what it could not honour. What it
  // leaves unset the message operations fill in.
  void setPreferences(const CspSettings& settings, LogBase* log);
  // Acquires a default provider when none is held; false (with the log entries) when none
  // of the ladder's providers opens.
  bool ensureDefaultProvider(LogBase& log, uint32_t flags);

  // The message operations. Each logs under its numbered prefixes; a failed attempt frees
  // what it allocated and appends nothing.

  // A PKCS #7 signature of the bytes (detached: without them; attached: carrying them),
  // with the signing certificate and a signing time; null on failure.
  DataBuffer* createDetachedSignature(const Certificate* cert, const unsigned char* data,
                                      uint32_t length, LogBase* log);
  DataBuffer* createAttachedSignature(const Certificate* cert, const unsigned char* data,
                                      uint32_t length, LogBase* log);
  // createDetachedSignature with the machine's key containers tried first.
  DataBuffer* createMachineDetachedSignature(const Certificate* cert, const unsigned char* data,
                                             uint32_t length, LogBase* log);
  // Verifies every signer of a detached signature over the bytes; true when at least one
  // verified or there are none. Verified signers' certificates go to `addToStore`; *outCert
  // (when given) gets the last one, the caller owning it.
  bool verifyDetachedSignature(const DataBuffer* signature, const unsigned char* data,
                               uint32_t length, CertificateStore* addToStore, Certificate** outCert,
                               LogBase* log);
  // Verifies the first signer of a message that carries its content; *outContent gets the
  // content, *outCert the signer's certificate, both owned by the caller.
  bool verifySignature(const DataBuffer* signedMessage, DataBuffer** outContent,
                       Certificate** outCert, LogBase* log);
  // Appends an enveloped message of the bytes for the recipient to `out`.
  bool encryptData(const unsigned char* data, uint32_t length, DataBuffer& out,
                   const Certificate* recipientCert, LogBase* log);
  // Appends the decrypted (or, failing that, decoded) content to `out`, searching the current
  // user's personal store and `stores` (CertificateStore records) for the recipient;
  // *outCert gets the recipient's (or the signer's) certificate.
  bool decrypt(const unsigned char* data, uint32_t length, DataBuffer& out,
               const ExtPtrArray* stores, Certificate** outCert, LogBase* log);
  // Appends new CertStoreSpec records of the stores searched for certificates.
  void getStoreSpecs(ExtPtrArray& out) const;
  // The signer certificate of a signer id from the stores of the search list; the platform
  // frees what it returns.
  static PCCERT_CONTEXT getSignerCertificate(void* arg, DWORD encoding, PCERT_INFO signerId,
                                             HCERTSTORE messageStore);

  // Each takes ownership; the same object again is kept, a null algorithm ignored.
  void setProvider(CryptoSP* sp);
  void setHashAlg(CryptoAlg* alg);
  void setEncryptAlg(CryptoAlg* alg);

  StringBuffer userName;
  uint8_t isIwamUser = 0;  // the web server's account: fewer stores are searched
  uint32_t acquireFlags = 0;
  uint8_t includeCertChain = 0;
  CryptoSP* provider = nullptr;
  CryptoAlg* hashAlg = nullptr;
  CryptoAlg* encryptAlg = nullptr;
  VorlundObject* spare = nullptr;  // owned; nothing fills it
  uint8_t onlyGivenStores = 0;

 private:
  DataBuffer* createSignature(bool detached, const Certificate* cert, const unsigned char* data,
                              uint32_t length, LogBase& log);
  // The hash OID to sign with, logging the algorithm's pairs.
  void chooseHashOid(StringBuffer& oid, LogBase& log);
  bool decryptMessage(const unsigned char* data, uint32_t length, DataBuffer& out,
                      const ExtPtrArray* stores, Certificate** outCert, LogBase& log);
  bool decodeMessage(const unsigned char* data, uint32_t length, DataBuffer& out,
                     const ExtPtrArray* stores, Certificate** outCert, LogBase& log);
  // The store handles for decryption: the current user's personal store (opened into
  // *opened unless only given stores count) and then those of `stores`; false when the
  // personal store does not open.
  bool decryptStores(const ExtPtrArray* stores, CertificateStore** opened,
                     std::vector<HCERTSTORE>& handles, LogBase& log);
};
