// One secure operation: the provider it runs on and the hash and encryption algorithms it
// uses, chosen from a host's provider settings or by the default ladder.
#pragma once

#include <cstdint>

#include "foundation/StringBuffer.h"
#include "foundation/VorlundObject.h"
#include "smime/CryptoSP.h"

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
};
