// The issuer chain of a certificate, assembled from the system stores: the certificate
// itself, then each issuer found, never the self-signed root.
#pragma once

#include <cstdint>

#include "foundation/ExtPtrArray.h"
#include "foundation/VorlundObject.h"
#include "platform/WinCrypt.h"

class Certificate;

class CertChain : public VorlundObject {
 public:
  CertChain() = default;
  ~CertChain() override;
  CertChain(const CertChain&) = delete;
  CertChain& operator=(const CertChain&) = delete;

  // Replaces the list with a clone of `cert` and its issuers found (not expired) in the
  // current user's CA store and the local machine's CA, AuthRoot, personal and root stores;
  // at most 20 lookups. Always true.
  bool buildChain(const Certificate* cert);
  int32_t count() const { return certs_.getSize(); }
  // The context of the i-th member; null outside 0..count-1 or for a member without one.
  PCCERT_CONTEXT contextAt(int32_t i) const;
  void clear() { certs_.removeAllObjects(); }

  // A store that failed to open is not tried again for the life of the process; these say
  // which of the five stores are still tried (tests put them back).
  static void resetStoreAvailabilityForTesting();
  static bool storeAvailableForTesting(int which);

 private:
  ExtPtrArray certs_;
};
