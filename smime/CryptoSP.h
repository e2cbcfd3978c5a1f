// One acquired cryptographic provider and the algorithms it enumerates.
#pragma once

#include <cstdint>

#include "foundation/StringBuffer.h"
#include "foundation/VorlundObject.h"
#include "platform/WinCrypt.h"

class LogBase;

// One algorithm as the provider enumerates it.
class CryptoAlg : public VorlundObject {
 public:
  CryptoAlg(ALG_ID id, uint32_t bits, const char* algName, uint32_t nameLength);

  // algId masked with 0xE000.
  uint32_t algClass() const { return algId & 0xE000; }
  bool isHash() const { return algClass() == 0x8000; }
  bool isEncryption() const { return algClass() == 0x6000 || algClass() == 0x4000; }
  // Appends the OID the message functions take for this algorithm. False for a name the
  // table does not know: a hash or cipher then still gets its class's fallback OID (SHA-1,
  // RC2), any other class none.
  bool getOid(StringBuffer& out) const;

  uint32_t algId;
  uint32_t numBits;  // the default key or digest length
  StringBuffer name;
};

class CryptoSP {
 public:
  // Takes the handle (released on destruction) and reads its container and provider name,
  // implementation type and version.
  explicit CryptoSP(HCRYPTPROV handle);
  virtual ~CryptoSP();
  CryptoSP(const CryptoSP&) = delete;
  CryptoSP& operator=(const CryptoSP&) = delete;

  HCRYPTPROV handle() const { return hProv_; }
  const char* providerName() const { return providerName_.getString(); }
  const char* containerName() const { return containerName_.getString(); }
  uint32_t providerType() const { return providerType_; }
  void setProviderType(uint32_t type) { providerType_ = type; }
  uint32_t implType() const { return implType_; }
  uint32_t version() const { return version_; }

  // Each returns a new record the caller owns, or null; each lookup enumerates afresh.
  // The first hash-class algorithm named `name` (ignoring case).
  CryptoAlg* findHashAlgorithm(const char* name) const;
  // SHA-1, else MD2, MD5, MD4, HMAC, MAC, else the first hash-class algorithm.
  CryptoAlg* defaultHashAlgorithm() const;
  // The first encryption-class algorithm named `name` (ignoring case).
  CryptoAlg* findEncryptAlgorithm(const char* name) const;
  // The first encryption-class algorithm.
  CryptoAlg* defaultEncryptAlgorithm() const;

 private:
  // The first enumerated algorithm of the class (hash or encryption) whose name matches;
  // any name when `name` is null.
  CryptoAlg* findAlgorithm(bool hash, const char* name) const;

  HCRYPTPROV hProv_;
  StringBuffer containerName_;
  StringBuffer providerName_;
  uint32_t providerType_ = 0;
  uint32_t reserved_ = 0;
  uint32_t implType_ = 4;
  uint32_t version_ = 0;
};

// Provider acquisition. Each tries `flags` first when not 0, then the four flag sets 0,
// CRYPT_NEWKEYSET, CRYPT_MACHINE_KEYSET and both, logging each failure as a numbered
// attempt; a new provider, or null when all fail.
CryptoSP* acquireDefault(LogBase& log, uint32_t flags);
CryptoSP* acquireNamed(const char* providerName, LogBase& log, uint32_t flags);
CryptoSP* acquireNamedWithContainer(const char* providerName, const char* containerName,
                                    LogBase& log, uint32_t flags);
CryptoSP* acquireExact(const char* providerName, const char* containerName, uint32_t providerType,
                       LogBase& log, uint32_t flags);
