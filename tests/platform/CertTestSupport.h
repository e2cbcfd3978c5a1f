// Contexts and stores of test certificates, released at the end of the test.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/KeyContainer.h"
#include "platform/WinCrypt.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestCerts.h"

// Each test in a fresh platform root, so its stores start empty, and without the machine's
// trusted authorities unless it asks for them.
class FreshCertRoot : public ::testing::Test {
 protected:
  TempDir root_;
  ScopedEnv env_{"VORLUND_ROOT", root_.path()};
  void SetUp() override { setTrustedBundleForTesting(""); }
  void TearDown() override { setTrustedBundleForTesting("/etc/ssl/certs/ca-certificates.crt"); }
};

struct ContextFree {
  void operator()(PCCERT_CONTEXT c) const { CertFreeCertificateContext(c); }
};
using ContextPtr = std::unique_ptr<const CERT_CONTEXT, ContextFree>;

inline ContextPtr contextOf(const std::string& der) {
  return ContextPtr(CertCreateCertificateContext(
      X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()), DWORD(der.size())));
}
inline ContextPtr contextOf(const TestCert& c) { return contextOf(c.der); }

inline HCERTSTORE openSystemStore(const char16_t* name, DWORD location, DWORD flags = 0) {
  return CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, location | flags, name);
}

// Adds the certificate to a system store and closes it again.
inline bool addToSystemStore(const char16_t* name, DWORD location, const TestCert& cert) {
  HCERTSTORE s = openSystemStore(name, location);
  ContextPtr c = contextOf(cert);
  const bool ok =
      s != nullptr && CertAddCertificateContextToStore(s, c.get(), CERT_STORE_ADD_NEWER, nullptr);
  CertCloseStore(s, 0);
  return ok;
}

// A context whose key is in a container of the user's, linked by its key-provider property,
// and a copy of it in the user's personal store, as an import leaves them (unless
// `intoPersonalStore` is false).
inline ContextPtr installWithKey(const TestCert& cert, const std::u16string& container,
                                 bool intoPersonalStore = true) {
  EXPECT_TRUE(writeKeyContainer(container, false, cert.key.get()));
  ContextPtr c = contextOf(cert);
  std::u16string name = container;
  CRYPT_KEY_PROV_INFO info{};
  info.pwszContainerName = name.data();
  info.dwProvType = PROV_RSA_FULL;
  EXPECT_TRUE(CertSetCertificateContextProperty(c.get(), CERT_KEY_PROV_INFO_PROP_ID, 0, &info));
  if (!intoPersonalStore) return c;
  HCERTSTORE my = openSystemStore(u"MY", CERT_SYSTEM_STORE_CURRENT_USER);
  EXPECT_TRUE(CertAddCertificateContextToStore(my, c.get(), CERT_STORE_ADD_NEW, nullptr));
  CertCloseStore(my, 0);
  return c;
}

// A chain as CertGetCertificateChain builds it (at `time`, else now; `extra` searched too): its
// trust errors, its length and the errors of the end certificate; all ones when none is built.
struct ChainResult {
  DWORD status = 0xFFFFFFFF, elements = 0, endStatus = 0xFFFFFFFF;
};
inline ChainResult chainOf(PCCERT_CONTEXT c, HCERTSTORE extra = nullptr, FILETIME* time = nullptr) {
  PCCERT_CHAIN_CONTEXT chain = nullptr;
  CERT_CHAIN_PARA para{};
  para.cbSize = sizeof para;
  EXPECT_TRUE(CertGetCertificateChain(nullptr, c, time, extra, &para, 0, nullptr, &chain));
  if (chain == nullptr) return {};
  const CERT_SIMPLE_CHAIN& simple = *chain->rgpChain[0];
  const ChainResult r{chain->TrustStatus.dwErrorStatus, simple.cElement,
                      simple.rgpElement[0]->TrustStatus.dwErrorStatus};
  CertFreeCertificateChain(chain);
  return r;
}

// The bytes of a string as the blob the system's calls take (they do not write to it).
inline CRYPT_DATA_BLOB blobOf(const std::string& s) {
  return {DWORD(s.size()), reinterpret_cast<BYTE*>(const_cast<char*>(s.data()))};
}

inline int countIn(HCERTSTORE s) {
  int n = 0;
  for (PCCERT_CONTEXT c = CertEnumCertificatesInStore(s, nullptr); c != nullptr;
       c = CertEnumCertificatesInStore(s, c))
    ++n;
  return n;
}

// How many certificates a system store holds as it opens now; -1 when it does not open.
inline int countInSystemStore(const char16_t* name, DWORD location, DWORD flags = 0) {
  HCERTSTORE s = openSystemStore(name, location, flags);
  if (s == nullptr) return -1;
  const int n = countIn(s);
  CertCloseStore(s, 0);
  return n;
}
