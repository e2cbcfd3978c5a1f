#include "smime/CryptoSP.h"

#include <strings.h>

#include "foundation/LogBase.h"

namespace {

constexpr DWORD kEnumBufferSize = 1200;
constexpr const char* kBaseProvider = "Microsoft Base Cryptographic Provider v1.0";

struct OidName {
  const char* name;
  const char* oid;
};

// SHA-2 goes beyond the provider names of old: hosts ask for it because current mail
// clients refuse SHA-1 signatures.
constexpr OidName kHashOids[] = {
    {"sha1", "1.3.14.3.2.26"},
    {"sha-1", "1.3.14.3.2.26"},
    {"sha", "1.3.14.3.2.18"},
    {"md5", "1.2.840.113549.2.5"},
    {"md4", "1.2.840.113549.2.4"},
    {"md2", "1.2.840.113549.2.2"},
    {"sha-256", "2.16.840.1.101.3.4.2.1"},
    {"sha256", "2.16.840.1.101.3.4.2.1"},
    {"sha-384", "2.16.840.1.101.3.4.2.2"},
    {"sha384", "2.16.840.1.101.3.4.2.2"},
    {"sha-512", "2.16.840.1.101.3.4.2.3"},
    {"sha512", "2.16.840.1.101.3.4.2.3"},
};

constexpr OidName kCipherOids[] = {
    {"des", "1.3.14.3.2.7"},
    {"3des", "1.2.840.113549.3.7"},
    {"rc2", "1.2.840.113549.3.2"},
    {"rc4", "1.2.840.113549.3.4"},
};

const char* oidOf(const OidName* table, size_t n, const StringBuffer& name) {
  for (size_t i = 0; i < n; ++i)
    if (name.equalsIgnoreCase(table[i].name)) return table[i].oid;
  return nullptr;
}

// One attempt set of an acquisition routine: its container, name and type, the attempt
// number of its first failure, and which pairs it logs before the first failure.
CryptoSP* acquire(const char* container, const char* providerName, uint32_t type, int firstAttempt,
                  bool logsName, bool logsContainer, LogBase& log, uint32_t flags) {
  HCRYPTPROV h = 0;
  DWORD used = flags;
  bool ok = flags != 0 && CryptAcquireContextA(&h, container, providerName, type, flags);
  constexpr DWORD kAttempts[] = {0, CRYPT_NEWKEYSET, CRYPT_MACHINE_KEYSET,
                                 CRYPT_MACHINE_KEYSET | CRYPT_NEWKEYSET};
  for (int i = 0; !ok && i < 4; ++i) {
    used = kAttempts[i];
    ok = CryptAcquireContextA(&h, container, providerName, type, used);
    if (ok) break;
    if (i == 0) {
      if (logsName) log.logData("ProviderName", providerName != nullptr ? providerName : "");
      if (logsContainer) log.logData("KeyContainerName", container != nullptr ? container : "");
    }
    StringBuffer info("Acquiring crypt context (");
    info.appendInt(firstAttempt + i);
    info.append(")");
    log.logInfo(info.getString());
  }
  if (!ok) return nullptr;
  auto* sp = new CryptoSP(h);
  sp->setProviderType(type);
  return sp;
}

}  // namespace

CryptoAlg::CryptoAlg(ALG_ID id, uint32_t bits, const char* algName, uint32_t nameLength)
    : algId(id), numBits(bits) {
  name.appendN(algName, nameLength);
  // dwNameLen counts the NUL; the name is the text before it.
  if (name.getSize() > 0 && name.lastChar() == '\0') name.shorten(1);
}

bool CryptoAlg::getOid(StringBuffer& out) const {
  if (isHash()) {
    const char* oid = oidOf(kHashOids, std::size(kHashOids), name);
    out.append(oid != nullptr ? oid : "1.3.14.3.2.26");
    return oid != nullptr;
  }
  if (!isEncryption()) return false;
  if (name.equalsIgnoreCase("aes")) {
    out.append(numBits == 128   ? "2.16.840.1.101.3.4.1.2"
               : numBits == 192 ? "2.16.840.1.101.3.4.1.22"
                                : "2.16.840.1.101.3.4.1.42");
    return true;
  }
  const char* oid = oidOf(kCipherOids, std::size(kCipherOids), name);
  out.append(oid != nullptr ? oid : "1.2.840.113549.3.2");
  return oid != nullptr;
}

CryptoSP::CryptoSP(HCRYPTPROV handle) : hProv_(handle) {
  char buf[1024];
  DWORD n = sizeof buf;
  if (CryptGetProvParam(hProv_, PP_CONTAINER, reinterpret_cast<BYTE*>(buf), &n, 0))
    containerName_.append(buf);
  n = sizeof buf;
  if (CryptGetProvParam(hProv_, PP_NAME, reinterpret_cast<BYTE*>(buf), &n, 0))
    providerName_.append(buf);
  DWORD v = 0;
  n = sizeof v;
  if (CryptGetProvParam(hProv_, PP_IMPTYPE, reinterpret_cast<BYTE*>(&v), &n, 0)) implType_ = v;
  n = sizeof v;
  if (CryptGetProvParam(hProv_, PP_VERSION, reinterpret_cast<BYTE*>(&v), &n, 0)) version_ = v;
}

CryptoSP::~CryptoSP() { CryptReleaseContext(hProv_, 0); }

CryptoAlg* CryptoSP::findAlgorithm(bool hash, const char* name) const {
  alignas(PROV_ENUMALGS) BYTE buf[kEnumBufferSize];
  for (DWORD flags = CRYPT_FIRST;; flags = 0) {
    DWORD n = kEnumBufferSize;
    if (!CryptGetProvParam(hProv_, PP_ENUMALGS, buf, &n, flags)) return nullptr;
    const auto* a = reinterpret_cast<const PROV_ENUMALGS*>(buf);
    CryptoAlg alg(a->aiAlgid, a->dwBitLen, a->szName,
                  a->dwNameLen <= sizeof a->szName ? a->dwNameLen : sizeof a->szName);
    if ((hash ? alg.isHash() : alg.isEncryption()) &&
        (name == nullptr || alg.name.equalsIgnoreCase(name)))
      return new CryptoAlg(alg.algId, alg.numBits, alg.name.getString(), alg.name.getSize());
  }
}

CryptoAlg* CryptoSP::findHashAlgorithm(const char* name) const {
  return name != nullptr ? findAlgorithm(true, name) : nullptr;
}

CryptoAlg* CryptoSP::defaultHashAlgorithm() const {
  for (const char* name : {"SHA-1", "MD2", "MD5", "MD4", "HMAC", "MAC"})
    if (CryptoAlg* a = findAlgorithm(true, name)) return a;
  return findAlgorithm(true, nullptr);
}

CryptoAlg* CryptoSP::findEncryptAlgorithm(const char* name) const {
  return name != nullptr ? findAlgorithm(false, name) : nullptr;
}

CryptoAlg* CryptoSP::defaultEncryptAlgorithm() const { return findAlgorithm(false, nullptr); }

CryptoSP* acquireDefault(LogBase& log, uint32_t flags) {
  return acquire(nullptr, kBaseProvider, PROV_RSA_FULL, 1, false, false, log, flags);
}

CryptoSP* acquireNamed(const char* providerName, LogBase& log, uint32_t flags) {
  return acquire(nullptr, providerName, PROV_RSA_FULL, 13, true, false, log, flags);
}

CryptoSP* acquireNamedWithContainer(const char* providerName, const char* containerName,
                                    LogBase& log, uint32_t flags) {
  return acquire(containerName, providerName, PROV_RSA_FULL, 17, true, true, log, flags);
}

CryptoSP* acquireExact(const char* providerName, const char* containerName, uint32_t providerType,
                       LogBase& log, uint32_t flags) {
  return acquire(containerName, providerName, providerType, 5, true, true, log, flags);
}
