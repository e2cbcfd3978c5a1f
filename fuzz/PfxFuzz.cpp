// PKCS #12 files come from users: any bytes, with a fixed password, must import or be
// refused with the last error set, never crash or leak.
#include <cstddef>
#include <cstdint>

#include "fuzz/FuzzSeeds.h"
#include "platform/KeyContainer.h"
#include "platform/WinCrypt.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  useFuzzPlatformRoot();
  std::vector<uint8_t> bytes = fuzzInput(data, size, kSeedPfx, sizeof kSeedPfx);
  CRYPT_DATA_BLOB blob{DWORD(bytes.size()), bytes.data()};
  // Keys stay in memory: a fuzz run writes no containers.
  HCERTSTORE store = PFXImportCertStore(&blob, u"fuzz", PKCS12_NO_PERSIST_KEY);
  if (store == nullptr) {
    if (GetLastError() != ERROR_INVALID_PASSWORD && GetLastError() != CRYPT_E_BAD_ENCODE)
      __builtin_trap();
    return 0;
  }
  for (PCCERT_CONTEXT c = CertEnumCertificatesInStore(store, nullptr); c != nullptr;
       c = CertEnumCertificatesInStore(store, c)) {
    EVP_PKEY_free(certificatePrivateKey(c));
    DWORD n = CertNameToStrA(1, &c->pCertInfo->Subject, CERT_X500_NAME_STR, nullptr, 0);
    if (n == 0) __builtin_trap();
  }
  CertCloseStore(store, 0);
  return 0;
}
