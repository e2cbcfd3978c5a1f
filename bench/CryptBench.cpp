// Detached signing plus verification and enveloping plus decryption of 1 MB and 10 MB, through
// VR_Crypt and the platform beside OpenSSL's own CMS calls doing the same work in the same
// run; compare the bytes per second of each pair.
#include <benchmark/benchmark.h>
#include <openssl/cms.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "foundation/DataBuffer.h"
#include "foundation/LogBase.h"
#include "platform/KeyContainer.h"
#include "smime/Certificate.h"
#include "smime/VR_Crypt.h"

namespace {

struct Signer {
  X509* x509 = nullptr;
  EVP_PKEY* key = nullptr;
  Certificate* record = nullptr;
};

// A self-signed RSA-2048 certificate whose key sits in a container of a fresh platform root,
// the certificate in the user's personal store, where decryption finds it.
const Signer& signer() {
  static Signer s = [] {
    static std::string root = "/tmp/vorlund-bench-XXXXXX";
    setenv("VORLUND_ROOT", mkdtemp(root.data()), 1);
    Signer out;
    out.key = EVP_RSA_gen(2048);
    out.x509 = X509_new();
    ASN1_INTEGER_set(X509_get_serialNumber(out.x509), 1);
    X509_NAME* name = X509_get_subject_name(out.x509);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("bench"), -1, -1, 0);
    X509_set_issuer_name(out.x509, name);
    X509_gmtime_adj(X509_getm_notBefore(out.x509), -3600);
    X509_gmtime_adj(X509_getm_notAfter(out.x509), 86400);
    X509_set_pubkey(out.x509, out.key);
    X509_sign(out.x509, out.key, EVP_sha256());
    writeKeyContainer(u"bench", false, out.key);
    unsigned char* der = nullptr;
    const int n = i2d_X509(out.x509, &der);
    PCCERT_CONTEXT c = CertCreateCertificateContext(X509_ASN_ENCODING, der, DWORD(n));
    OPENSSL_free(der);
    std::u16string container = u"bench";
    CRYPT_KEY_PROV_INFO info{};
    info.pwszContainerName = container.data();
    info.dwProvType = PROV_RSA_FULL;
    CertSetCertificateContextProperty(c, CERT_KEY_PROV_INFO_PROP_ID, 0, &info);
    HCERTSTORE my =
        CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, u"MY");
    CertAddCertificateContextToStore(my, c, CERT_STORE_ADD_NEW, nullptr);
    CertCloseStore(my, 0);
    out.record = new Certificate(c);
    return out;
  }();
  return s;
}

// The message as the other side gets it: written out and read back.
CMS_ContentInfo* reread(CMS_ContentInfo* cms) {
  unsigned char* der = nullptr;
  const int n = i2d_CMS_ContentInfo(cms, &der);
  CMS_ContentInfo_free(cms);
  const unsigned char* p = der;
  CMS_ContentInfo* back = d2i_CMS_ContentInfo(nullptr, &p, n);
  OPENSSL_free(der);
  return back;
}

// Says why an operation failed, so a failed run shows more than its name.
class StderrLog : public LogNull {
 public:
  bool logError(const char* text) override {
    std::fprintf(stderr, "%s\n", text);
    return true;
  }
};

std::vector<unsigned char> content(size_t n) {
  std::vector<unsigned char> data(n);
  for (size_t i = 0; i < n; ++i) data[i] = static_cast<unsigned char>('A' + i % 26);
  return data;
}

void VorlundSignVerify(benchmark::State& state) {
  const Signer& s = signer();
  const std::vector<unsigned char> data = content(size_t(state.range(0)));
  for (auto _ : state) {
    StderrLog log;
    // SHA-256, the digest OpenSSL's CMS_sign chooses, so both sides do the same work.
    VR_Crypt crypt;
    if (!crypt.ensureDefaultProvider(log, 0)) state.SkipWithError("no provider");
    crypt.setHashAlg(crypt.provider->findHashAlgorithm("SHA-256"));
    DataBuffer* sig =
        crypt.createDetachedSignature(s.record, data.data(), uint32_t(data.size()), &log);
    const bool ok =
        sig != nullptr && VR_Crypt().verifyDetachedSignature(
                              sig, data.data(), uint32_t(data.size()), nullptr, nullptr, &log);
    delete sig;
    if (!ok) state.SkipWithError("sign or verify failed");
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}

void OpenSslSignVerify(benchmark::State& state) {
  const Signer& s = signer();
  const std::vector<unsigned char> data = content(size_t(state.range(0)));
  STACK_OF(X509)* certs = sk_X509_new_null();
  sk_X509_push(certs, s.x509);
  for (auto _ : state) {
    BIO* in = BIO_new_mem_buf(data.data(), int(data.size()));
    CMS_ContentInfo* cms = reread(CMS_sign(s.x509, s.key, nullptr, in, CMS_DETACHED | CMS_BINARY));
    BIO_free(in);
    in = BIO_new_mem_buf(data.data(), int(data.size()));
    const int ok =
        CMS_verify(cms, certs, nullptr, in, nullptr, CMS_BINARY | CMS_NO_SIGNER_CERT_VERIFY);
    BIO_free(in);
    CMS_ContentInfo_free(cms);
    if (ok != 1) state.SkipWithError("sign or verify failed");
  }
  sk_X509_free(certs);
  state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}

void VorlundEncryptDecrypt(benchmark::State& state) {
  const Signer& s = signer();
  const std::vector<unsigned char> data = content(size_t(state.range(0)));
  for (auto _ : state) {
    DataBuffer env, plain;
    const bool ok =
        VR_Crypt().encryptData(data.data(), uint32_t(data.size()), env, s.record, nullptr) &&
        VR_Crypt().decrypt(env.getData(), env.getSize(), plain, nullptr, nullptr, nullptr);
    if (!ok || plain.getSize() != data.size()) state.SkipWithError("encrypt or decrypt failed");
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}

void OpenSslEncryptDecrypt(benchmark::State& state) {
  const Signer& s = signer();
  const std::vector<unsigned char> data = content(size_t(state.range(0)));
  STACK_OF(X509)* certs = sk_X509_new_null();
  sk_X509_push(certs, s.x509);
  for (auto _ : state) {
    BIO* in = BIO_new_mem_buf(data.data(), int(data.size()));
    CMS_ContentInfo* cms = reread(CMS_encrypt(certs, in, EVP_aes_256_cbc(), CMS_BINARY));
    BIO_free(in);
    BIO* out = BIO_new(BIO_s_mem());
    const int ok = CMS_decrypt(cms, s.key, s.x509, nullptr, out, CMS_BINARY);
    BIO_free(out);
    CMS_ContentInfo_free(cms);
    if (ok != 1) state.SkipWithError("encrypt or decrypt failed");
  }
  sk_X509_free(certs);
  state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}

}  // namespace

BENCHMARK(VorlundSignVerify)->Arg(1 << 20)->Arg(10 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(OpenSslSignVerify)->Arg(1 << 20)->Arg(10 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(VorlundEncryptDecrypt)->Arg(1 << 20)->Arg(10 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(OpenSslEncryptDecrypt)->Arg(1 << 20)->Arg(10 << 20)->Unit(benchmark::kMillisecond);
