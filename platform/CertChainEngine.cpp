// Chains and their trust status, from OpenSSL's verification against the ROOT stores. The
// verification callback lets OpenSSL go on after each error, so every fault of every
// element is reported, as the system's chain engine does.
#include <openssl/err.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cstring>
#include <initializer_list>

#include "platform/CryptInternal.h"

using namespace wincrypt;

namespace {

struct Engine {
  std::vector<HCERTSTORE> additional;
};

// What the callback gathers: the trust errors of each depth of the chain.
struct Gathered {
  std::vector<DWORD> errors;
};

DWORD trustErrorFor(int err) {
  switch (err) {
    case X509_V_ERR_CERT_NOT_YET_VALID:
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_ERROR_IN_CERT_NOT_BEFORE_FIELD:
    case X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD:
      return CERT_TRUST_IS_NOT_TIME_VALID;
    case X509_V_ERR_CERT_SIGNATURE_FAILURE:
    case X509_V_ERR_UNABLE_TO_DECRYPT_CERT_SIGNATURE:
    case X509_V_ERR_UNABLE_TO_DECODE_ISSUER_PUBLIC_KEY:
      return CERT_TRUST_IS_NOT_SIGNATURE_VALID;
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_CERT_UNTRUSTED:
    case X509_V_ERR_CERT_REJECTED:
      return CERT_TRUST_IS_UNTRUSTED_ROOT;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_CERT_CHAIN_TOO_LONG:
      return CERT_TRUST_IS_PARTIAL_CHAIN | CERT_TRUST_IS_UNTRUSTED_ROOT;
    case X509_V_ERR_INVALID_CA:
    case X509_V_ERR_PATH_LENGTH_EXCEEDED:
      return CERT_TRUST_INVALID_BASIC_CONSTRAINTS;
    case X509_V_ERR_UNHANDLED_CRITICAL_EXTENSION:
      return CERT_TRUST_INVALID_EXTENSION | CERT_TRUST_HAS_NOT_SUPPORTED_CRITICAL_EXT;
    case X509_V_ERR_CERT_REVOKED:
      return CERT_TRUST_IS_REVOKED;
    default:  // anything else OpenSSL refuses is no certificate to trust for this use
      return CERT_TRUST_IS_NOT_VALID_FOR_USAGE;
  }
}

int gatherError(int ok, X509_STORE_CTX* ctx) {
  if (ok) return 1;
  auto* g = static_cast<Gathered*>(X509_STORE_CTX_get_app_data(ctx));
  const int depth = X509_STORE_CTX_get_error_depth(ctx);
  if (g != nullptr && depth >= 0) {
    if (g->errors.size() <= size_t(depth)) g->errors.resize(size_t(depth) + 1, 0);
    g->errors[size_t(depth)] |= trustErrorFor(X509_STORE_CTX_get_error(ctx));
  }
  return 1;
}

bool selfIssued(X509* x) {
  return X509_NAME_cmp(X509_get_subject_name(x), X509_get_issuer_name(x)) == 0;
}

void collect(HCERTSTORE store, std::vector<X509*>* out) {
  if (store == nullptr) return;
  for (PCCERT_CONTEXT c = CertEnumCertificatesInStore(store, nullptr); c != nullptr;
       c = CertEnumCertificatesInStore(store, c)) {
    X509* x = contextOf(c)->x509;
    X509_up_ref(x);
    out->push_back(x);
  }
}

void collectSystem(const char16_t* name, DWORD location, std::vector<X509*>* out) {
  HCERTSTORE s = openSystemStoreOwnCertificates(name, location | CERT_STORE_READONLY_FLAG);
  collect(s, out);
  CertCloseStore(s, 0);
}

// Adds to `out` the machine's authorities a chain from `leaf` could reach: those a
// certificate names as its issuer, starting from the leaf and the stores' certificates and
// going on from each authority taken. A chain is built by looking issuers up by name, so
// none of the others could appear in it.
void collectBundle(X509* leaf, std::initializer_list<const std::vector<X509*>*> stores,
                   std::vector<X509*>* out) {
  const auto bundle = trustedBundle();
  std::vector<bool> taken(bundle->size(), false);
  std::vector<X509_NAME*> wanted{X509_get_issuer_name(leaf)};
  for (const std::vector<X509*>* store : stores)
    for (X509* x : *store) wanted.push_back(X509_get_issuer_name(x));
  while (!wanted.empty()) {
    X509_NAME* name = wanted.back();
    wanted.pop_back();
    for (size_t i = 0; i < bundle->size(); ++i) {
      if (taken[i] || X509_NAME_cmp((*bundle)[i].subject.get(), name) != 0) continue;
      taken[i] = true;
      X509* x = bundleX509((*bundle)[i]);
      if (x == nullptr) continue;
      X509_up_ref(x);
      out->push_back(x);
      wanted.push_back(X509_get_issuer_name(x));
    }
  }
}

// The chain's records: one block for the chain context, its simple chain and its elements.
struct ChainBlock {
  CERT_CHAIN_CONTEXT context{};
  CERT_SIMPLE_CHAIN simple{};
  PCERT_SIMPLE_CHAIN simples[1]{};
  std::vector<CERT_CHAIN_ELEMENT> elements;
  std::vector<PCERT_CHAIN_ELEMENT> elementPointers;
};

}  // namespace

BOOL CertCreateCertificateChainEngine(CERT_CHAIN_ENGINE_CONFIG* config, HCERTCHAINENGINE* engine) {
  registerCryptTexts();
  if (config == nullptr || engine == nullptr || config->cbSize == 0) return fail(0x80070057);
  auto* e = new Engine;
  // The record has grown over the system's versions, and its size is often given for a
  // 32-bit layout: the additional stores are read only when the size says they are there.
  const bool hasAdditional = config->cbSize >= offsetof(CERT_CHAIN_ENGINE_CONFIG, dwFlags);
  for (DWORD i = 0;
       hasAdditional && i < config->cAdditionalStore && config->rghAdditionalStore != nullptr; ++i)
    e->additional.push_back(config->rghAdditionalStore[i]);
  *engine = e;
  return TRUE;
}

void CertFreeCertificateChainEngine(HCERTCHAINENGINE engine) {
  delete static_cast<Engine*>(engine);
}

BOOL CertGetCertificateChain(HCERTCHAINENGINE engine, PCCERT_CONTEXT context, const FILETIME* time,
                             HCERTSTORE additionalStore, CERT_CHAIN_PARA* /*para*/, DWORD /*flags*/,
                             void* /*reserved*/, PCCERT_CHAIN_CONTEXT* chain) {
  registerCryptTexts();
  if (chain == nullptr) return fail(0x80070057);
  *chain = nullptr;
  if (context == nullptr) return fail(0x80070057);

  std::vector<X509*> roots, authRoots, others;
  collectSystem(u"ROOT", CERT_SYSTEM_STORE_CURRENT_USER, &roots);
  collectSystem(u"ROOT", CERT_SYSTEM_STORE_LOCAL_MACHINE, &roots);
  collectSystem(u"AUTHROOT", CERT_SYSTEM_STORE_LOCAL_MACHINE, &authRoots);
  collectSystem(u"CA", CERT_SYSTEM_STORE_CURRENT_USER, &others);
  collectSystem(u"CA", CERT_SYSTEM_STORE_LOCAL_MACHINE, &others);
  collectSystem(u"MY", CERT_SYSTEM_STORE_CURRENT_USER, &others);
  collectSystem(u"MY", CERT_SYSTEM_STORE_LOCAL_MACHINE, &others);
  collect(additionalStore, &others);
  if (engine != nullptr)
    for (HCERTSTORE s : static_cast<Engine*>(engine)->additional) collect(s, &others);
  X509* leaf = contextOf(context)->x509;
  collectBundle(leaf, {&roots, &authRoots, &others}, &roots);
  roots.insert(roots.end(), authRoots.begin(), authRoots.end());

  X509_STORE* trusted = X509_STORE_new();
  STACK_OF(X509)* untrusted = sk_X509_new_null();
  X509_STORE_CTX* ctx = X509_STORE_CTX_new_ex(libContext(), nullptr);
  for (X509* x : roots) X509_STORE_add_cert(trusted, x);
  for (X509* x : others) sk_X509_push(untrusted, x);  // the stack takes these references
  X509_STORE_set_verify_cb(trusted, gatherError);

  Gathered gathered;
  bool built = trusted != nullptr && untrusted != nullptr && ctx != nullptr &&
               X509_STORE_CTX_init(ctx, trusted, leaf, untrusted) == 1;
  std::vector<X509*> members;
  if (built) {
    X509_STORE_CTX_set_app_data(ctx, &gathered);
    if (time != nullptr) X509_STORE_CTX_set_time(ctx, 0, time_t(unixFromFileTime(*time)));
    X509_verify_cert(ctx);
    STACK_OF(X509)* got = X509_STORE_CTX_get0_chain(ctx);
    for (int i = 0; i < sk_X509_num(got); ++i) members.push_back(sk_X509_value(got, i));
    if (members.empty()) members.push_back(leaf);
    // OpenSSL stops building where it found no issuer. A chain that ends in a certificate
    // that is not self-issued reached no root at all; one that ends in a self-issued
    // certificate OpenSSL would not take as a root (its key usage lacks certificate
    // signing) is whole, and its end is the root: trusted when a ROOT store holds it.
    X509* top = members.back();
    if (gathered.errors.size() < members.size()) gathered.errors.resize(members.size(), 0);
    DWORD& topErrors = gathered.errors[members.size() - 1];
    if (!selfIssued(top)) {
      topErrors |= CERT_TRUST_IS_PARTIAL_CHAIN | CERT_TRUST_IS_UNTRUSTED_ROOT;
    } else if (topErrors & CERT_TRUST_IS_PARTIAL_CHAIN) {
      topErrors &= ~(CERT_TRUST_IS_PARTIAL_CHAIN | CERT_TRUST_IS_UNTRUSTED_ROOT);
      const bool inRoots =
          std::any_of(roots.begin(), roots.end(), [&](X509* r) { return X509_cmp(r, top) == 0; });
      if (!inRoots) topErrors |= CERT_TRUST_IS_UNTRUSTED_ROOT;
      if (X509_verify(top, X509_get0_pubkey(top)) != 1)
        topErrors |= CERT_TRUST_IS_NOT_SIGNATURE_VALID;
    }
  }

  auto* block = new ChainBlock;
  DWORD all = 0;
  if (built) {
    block->elements.resize(members.size());
    block->elementPointers.resize(members.size());
    for (size_t i = 0; i < members.size(); ++i) {
      CERT_CHAIN_ELEMENT& e = block->elements[i];
      e.cbSize = sizeof e;
      if (i == 0) {
        e.pCertContext = CertDuplicateCertificateContext(context);
      } else {
        unsigned char* der = nullptr;
        const int n = i2d_X509(members[i], &der);
        e.pCertContext =
            n > 0 ? CertCreateCertificateContext(X509_ASN_ENCODING, der, DWORD(n)) : nullptr;
        OPENSSL_free(der);
      }
      e.TrustStatus.dwErrorStatus = i < gathered.errors.size() ? gathered.errors[i] : 0;
      if (selfIssued(members[i])) e.TrustStatus.dwInfoStatus |= CERT_TRUST_IS_SELF_SIGNED;
      all |= e.TrustStatus.dwErrorStatus;
      block->elementPointers[i] = &e;
    }
  }
  X509_STORE_CTX_free(ctx);
  sk_X509_pop_free(untrusted, X509_free);
  X509_STORE_free(trusted);
  for (X509* x : roots) X509_free(x);
  ERR_clear_error();
  if (!built) {
    for (auto& e : block->elements) CertFreeCertificateContext(e.pCertContext);
    delete block;
    return fail(CRYPT_E_NOT_FOUND);
  }
  block->simple.cbSize = sizeof block->simple;
  block->simple.TrustStatus.dwErrorStatus = all;
  block->simple.cElement = DWORD(block->elements.size());
  block->simple.rgpElement = block->elementPointers.data();
  block->simples[0] = &block->simple;
  block->context.cbSize = sizeof block->context;
  block->context.TrustStatus.dwErrorStatus = all;
  block->context.cChain = 1;
  block->context.rgpChain = block->simples;
  *chain = &block->context;
  return TRUE;
}

void CertFreeCertificateChain(PCCERT_CHAIN_CONTEXT chain) {
  if (chain == nullptr) return;
  // The chain context is the block's first member.
  auto* block = reinterpret_cast<ChainBlock*>(const_cast<CERT_CHAIN_CONTEXT*>(chain));
  for (auto& e : block->elements) CertFreeCertificateContext(e.pCertContext);
  delete block;
}
