#include "smime/VR_Crypt.h"

#include "foundation/LogBase.h"
#include "platform/User.h"
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
