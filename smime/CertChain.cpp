#include "smime/CertChain.h"

#include "smime/Certificate.h"
#include "smime/CertificateStore.h"

namespace {

enum Which { kMachineMy, kMachineCa, kMachineRoot, kMachineAuthRoot, kUserCa, kStoreCount };

// Process-wide, only ever cleared: a store that cannot be opened once is not tried again.
uint8_t g_available[kStoreCount] = {1, 1, 1, 1, 1};

CertificateStore* (*const kOpeners[kStoreCount])(bool, LogBase*) = {
    &CertificateStore::openLocalMachinePersonal, &CertificateStore::openLocalMachineCa,
    &CertificateStore::openLocalMachineRoot, &CertificateStore::openLocalMachineAuthRoot,
    &CertificateStore::openCurrentUserCa};

// The order in which issuers are looked for.
const Which kLookupOrder[] = {kUserCa, kMachineCa, kMachineAuthRoot, kMachineMy, kMachineRoot};

constexpr int kMaxLookups = 20;

}  // namespace

CertChain::~CertChain() { certs_.removeAllObjects(); }

PCCERT_CONTEXT CertChain::contextAt(int32_t i) const {
  if (i < 0 || i >= certs_.getSize()) return nullptr;
  return certs_.getAs<Certificate>(i)->context;
}

bool CertChain::buildChain(const Certificate* cert) {
  clear();
  CertificateStore* stores[kStoreCount] = {};
  for (int i = 0; i < kStoreCount; ++i) {
    if (!g_available[i]) continue;
    stores[i] = kOpeners[i](true, nullptr);
    if (stores[i] == nullptr) g_available[i] = 0;
  }
  Certificate* last = cert != nullptr ? cert->clone() : nullptr;
  if (last != nullptr) {
    certs_.appendPtr(last);
    for (int lookups = 0; !last->isSelfSigned() && lookups < kMaxLookups; ++lookups) {
      Certificate* issuer = nullptr;
      for (Which w : kLookupOrder) {
        if (stores[w] != nullptr &&
            (issuer = stores[w]->findBySubjectDn(last->issuerDn, false)) != nullptr)
          break;
      }
      if (issuer == nullptr) break;
      if (issuer->isSelfSigned()) {  // a root is never part of the chain
        delete issuer;
        break;
      }
      certs_.appendPtr(issuer);
      last = issuer;
    }
  }
  for (CertificateStore* s : stores) delete s;
  return true;
}

void CertChain::resetStoreAvailabilityForTesting() {
  for (uint8_t& a : g_available) a = 1;
}

bool CertChain::storeAvailableForTesting(int which) {
  return which >= 0 && which < kStoreCount && g_available[which] != 0;
}
