// A module of its own for the test that certificate contexts, stores and keys cross module
// boundaries: it imports a PKCS #12 file with the key kept in memory and hands out what it
// made.
#include "platform/WinCrypt.h"

// The store of the file's certificates; *keyed receives the certificate holding the key.
extern "C" __attribute__((visibility("default"))) HCERTSTORE testModuleImportPfx(
    const BYTE* bytes, DWORD size, const char16_t* password, PCCERT_CONTEXT* keyed) {
  CRYPT_DATA_BLOB blob{size, const_cast<BYTE*>(bytes)};
  HCERTSTORE store = PFXImportCertStore(&blob, password, PKCS12_NO_PERSIST_KEY);
  *keyed = store != nullptr ? CertEnumCertificatesInStore(store, nullptr) : nullptr;
  return store;
}
