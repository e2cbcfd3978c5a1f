// The certificate and provider objects of the siblings' module, created by ProgID from the
// registered module as a script host creates them.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "component/CVorlundMime.h"
#include "component/SiblingInterfaces.h"
#include "foundation/Conversion.h"
#include "foundation/DataBuffer.h"
#include "platform/ComActivation.h"
#include "platform/KeyContainer.h"
#include "platform/Module.h"
#include "smime/Certificate.h"
#include "smime/VR_Crypt.h"
#include "tests/component/MimeTestSupport.h"
#include "tests/platform/CertTestSupport.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestCerts.h"

namespace {

HRESULT runEntry(const char* entry) {
  HMODULE m = LoadLibraryA(SIBLINGS_MODULE_PATH);
  if (m == nullptr) return E_FAIL;
  auto fn = reinterpret_cast<LPFNREGISTERSERVER>(GetProcAddress(m, entry));
  const HRESULT hr = fn != nullptr ? fn() : E_FAIL;
  FreeLibrary(m);
  return hr;
}

template <typename T>
T* create(const char16_t* progId, REFIID iid) {
  CLSID clsid;
  if (FAILED(CLSIDFromProgID(progId, &clsid))) return nullptr;
  void* p = nullptr;
  CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, &p);
  return static_cast<T*>(p);
}

std::string text(IVorlundCert* c, HRESULT (IVorlundCert::*get)(BSTR*)) {
  Bstr out;
  EXPECT_EQ((c->*get)(out.out()), S_OK);
  return out.utf8();
}

LONG flag(IVorlundCert* c, HRESULT (IVorlundCert::*get)(LONG*)) {
  LONG v = -1;
  EXPECT_EQ((c->*get)(&v), S_OK);
  return v;
}

class Siblings : public ::testing::Test {
 protected:
  TempDir root_, dir_;
  ScopedEnv env_{"VORLUND_ROOT", root_.path()};
  void SetUp() override {
    setTrustedBundleForTesting("");
    ASSERT_EQ(runEntry("DllRegisterServer"), S_OK);
  }
  void TearDown() override {
    CoFreeUnusedLibraries();
    setTrustedBundleForTesting("/etc/ssl/certs/ca-certificates.crt");
  }
};

}  // namespace

TEST_F(Siblings, CertificateObjectsLoadAndDescribeCertificates) {
  const TestCert ca = makeCa("Sibling CA");
  CertSpec spec;
  spec.subject = {{"C", "DE"}, {"O", "Vorlund Test"}, {"CN", "Erika"}};
  spec.issuer = &ca;
  spec.serial = 0x0A0B0C;
  spec.extensions = {{"keyUsage", "digitalSignature,keyEncipherment"},
                     {"extendedKeyUsage", "emailProtection"},
                     {"subjectAltName", "email:erika@example.org"}};
  const TestCert erika = makeCert(spec);
  writeWholeFile(dir_.file("erika.pem"), erika.pem());
  writeWholeFile(dir_.file("erika.der"), erika.der);
  writeWholeFile(dir_.file("garbage"), "garbage");

  IVorlundCert* cert = create<IVorlundCert>(u"VorlundCert.VorlundCert", IID_IVorlundCert);
  ASSERT_NE(cert, nullptr);
  LONG_PTR impl = -1;
  ASSERT_EQ(cert->GetImpl(&impl), S_OK);
  EXPECT_EQ(impl, 0) << "no certificate yet";
  EXPECT_EQ(text(cert, &IVorlundCert::get_SubjectDN), "");

  for (const char* file : {"erika.pem", "erika.der"}) {
    LONG ok = 0;
    ASSERT_EQ(cert->LoadFromFile(Bstr(dir_.file(file)), &ok), S_OK);
    ASSERT_EQ(ok, 1) << file << text(cert, &IVorlundCert::get_LastErrorText);
    EXPECT_EQ(text(cert, &IVorlundCert::get_SubjectDN), "C=DE, O=Vorlund Test, CN=Erika");
  }
  EXPECT_EQ(text(cert, &IVorlundCert::get_IssuerDN), "C=DE, O=Vorlund Test, CN=Sibling CA");
  EXPECT_EQ(text(cert, &IVorlundCert::get_SubjectName), "DE, Vorlund Test, Erika");
  EXPECT_EQ(text(cert, &IVorlundCert::get_CommonName), "Erika");
  EXPECT_EQ(text(cert, &IVorlundCert::get_Email), "erika@example.org");
  EXPECT_EQ(text(cert, &IVorlundCert::get_SerialNumber), "0A0B0C");
  EXPECT_EQ(text(cert, &IVorlundCert::get_KeyUsage), "digitalSignature,keyEncipherment");
  EXPECT_EQ(text(cert, &IVorlundCert::get_Sha1Thumbprint).size(), 40u);
  EXPECT_EQ(text(cert, &IVorlundCert::get_ValidTo).size(), 19u);
  EXPECT_EQ((std::vector<LONG>{flag(cert, &IVorlundCert::get_HasPrivateKey),
                               flag(cert, &IVorlundCert::get_Expired),
                               flag(cert, &IVorlundCert::get_TrustedRoot),
                               flag(cert, &IVorlundCert::get_ForSecureEmail)}),
            (std::vector<LONG>{0, 0, 0, 1}));
  EXPECT_EQ(text(cert, &IVorlundCert::ExportPem), erika.pem());

  // The record behind GetImpl is read by this program's code, built from the same header.
  ASSERT_EQ(cert->GetImpl(&impl), S_OK);
  ASSERT_NE(impl, 0);
  const auto* record = reinterpret_cast<const Certificate*>(impl);
  EXPECT_STREQ(record->subjectDn.getString(), "C=DE, O=Vorlund Test, CN=Erika");
  EXPECT_STREQ(record->rfc822Name.getString(), "erika@example.org");

  // What is not a certificate leaves the loaded one and says why.
  LONG ok = 1;
  ASSERT_EQ(cert->LoadFromFile(Bstr(dir_.file("garbage")), &ok), S_OK);
  EXPECT_EQ(ok, 0);
  EXPECT_EQ(text(cert, &IVorlundCert::get_LastErrorText)
                .rfind("Not a certificate: ASN1 bad tag value met.", 0),
            0u)
      << text(cert, &IVorlundCert::get_LastErrorText);
  EXPECT_EQ(text(cert, &IVorlundCert::get_CommonName), "Erika");

  // From base64, as the Mime object hands a certificate over, and by IDispatch.
  IVorlundCert* copy = create<IVorlundCert>(u"VorlundCert.VorlundCert.1", IID_IVorlundCert);
  ASSERT_NE(copy, nullptr);
  ASSERT_EQ(copy->SetFromEncoded(Bstr(text(cert, &IVorlundCert::ExportBase64)), &ok), S_OK);
  EXPECT_EQ(ok, 1);
  DISPID id = 0;
  LPOLESTR name[] = {const_cast<LPOLESTR>(u"commonname")};
  ASSERT_EQ(copy->GetIDsOfNames(IID_NULL, name, 1, 0, &id), S_OK);
  EXPECT_EQ(id, 8);
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  VARIANT result;
  VariantInit(&result);
  ASSERT_EQ(copy->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr),
            S_OK);
  ASSERT_EQ(result.vt, VT_BSTR);
  EXPECT_EQ(std::u16string(result.bstrVal), u"Erika");
  VariantClear(&result);
  ASSERT_EQ(copy->Invoke(25, IID_NULL, 0, DISPATCH_METHOD, &none, &result, nullptr, nullptr), S_OK);
  ASSERT_EQ(result.vt, VT_I8) << "an address needs 64 bits";
  ASSERT_EQ(copy->GetImpl(&impl), S_OK);
  EXPECT_EQ(result.llVal, impl);
  copy->Release();
  EXPECT_EQ(cert->Release(), 0u);

  // Another process finds the registration in the hive files and creates its own object.
  const pid_t pid = fork();
  if (pid == 0) {
    resetRegistryForTesting();
    IVorlundCert* other = create<IVorlundCert>(u"VorlundCert.VorlundCert", IID_IVorlundCert);
    LONG loaded = 0;
    if (other != nullptr) other->LoadFromFile(Bstr(dir_.file("erika.der")), &loaded);
    _exit(loaded == 1 && text(other, &IVorlundCert::get_CommonName) == "Erika" ? 0 : 1);
  }
  int status = -1;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(Siblings, KeysFromPkcs12FilesAndStoresReachTheMimeModule) {
  const TestCert ca = makeCa("Key CA");
  const TestCert user = makeUser("keyed", ca);
  writeWholeFile(dir_.file("user.pem"), user.pem() + keyPem(user));
  const std::string p12 = dir_.file("user.p12");
  ASSERT_EQ(runQuietly("openssl pkcs12 -export -legacy -in " + dir_.file("user.pem") +
                       " -passout pass:geheim -out " + p12),
            0);
  IVorlundCert* cert = create<IVorlundCert>(u"VorlundCert.VorlundCert", IID_IVorlundCert);
  ASSERT_NE(cert, nullptr);
  LONG ok = 1;
  ASSERT_EQ(cert->LoadPfxFile(Bstr(p12), Bstr("falsch"), &ok), S_OK);
  EXPECT_EQ(ok, 0);
  EXPECT_EQ(
      text(cert, &IVorlundCert::get_LastErrorText)
          .rfind(
              "Failed to import the PKCS #12 file: The specified network password is not correct.",
              0),
      0u);
  ASSERT_EQ(cert->LoadPfxFile(Bstr(p12), Bstr("geheim"), &ok), S_OK);
  ASSERT_EQ(ok, 1);
  EXPECT_EQ(flag(cert, &IVorlundCert::get_HasPrivateKey), 1);
  EXPECT_FALSE(std::filesystem::exists(root_.path() + "/keys")) << "no container written";

  // The key the module loaded is usable here through the record it hands out.
  LONG_PTR impl = 0;
  ASSERT_EQ(cert->GetImpl(&impl), S_OK);
  EVP_PKEY* key = certificatePrivateKey(reinterpret_cast<const Certificate*>(impl)->context);
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(EVP_PKEY_eq(key, user.key.get()), 1);
  EVP_PKEY_free(key);
  // The Mime module's signing code signs with it, and OpenSSL accepts the signature.
  const std::string content = "Content-Type: text/plain\r\n\r\nSigned across modules.\r\n";
  DataBuffer* signature = VR_Crypt().createDetachedSignature(
      reinterpret_cast<const Certificate*>(impl),
      reinterpret_cast<const unsigned char*>(content.data()), uint32_t(content.size()), nullptr);
  ASSERT_NE(signature, nullptr);
  writeWholeFile(
      dir_.file("signature"),
      std::string(reinterpret_cast<const char*>(signature->getData()), signature->getSize()));
  delete signature;
  writeWholeFile(dir_.file("content"), content);
  writeWholeFile(dir_.file("ca.pem"), ca.pem());
  EXPECT_EQ(runQuietly("openssl cms -verify -binary -inform DER -in " + dir_.file("signature") +
                       " -content " + dir_.file("content") + " -CAfile " + dir_.file("ca.pem")),
            0);

  // A certificate in the user's personal store, found by thumbprint and by address.
  ASSERT_TRUE(addToSystemStore(u"MY", CERT_SYSTEM_STORE_CURRENT_USER, user));
  const std::string print = text(cert, &IVorlundCert::get_Sha1Thumbprint);
  IVorlundCert* stored = create<IVorlundCert>(u"VorlundCert.VorlundCert", IID_IVorlundCert);
  ASSERT_EQ(stored->LoadFromStoreByThumbprint(Bstr(print), 0, &ok), S_OK);
  EXPECT_EQ(ok, 1);
  EXPECT_EQ(text(stored, &IVorlundCert::get_CommonName), "keyed");
  ASSERT_EQ(stored->LoadFromStoreByEmail(Bstr("KEYED@example.org"), 1, &ok), S_OK);
  EXPECT_EQ(ok, 0) << "not in the machine's stores";
  ASSERT_EQ(stored->LoadFromStoreByEmail(Bstr("KEYED@example.org"), 0, &ok), S_OK);
  EXPECT_EQ(ok, 1);

  // The Mime object hands its certificates out as objects of this module.
  MimeRef mime;
  auto& object = *static_cast<CVorlundMime*>(mime.get());
  object.signerCerts().appendPtr(reinterpret_cast<const Certificate*>(impl)->clone());
  IVorlundCert* signer = nullptr;
  ASSERT_EQ(mime->GetSignerCert(0, &signer), S_OK);
  ASSERT_NE(signer, nullptr);
  EXPECT_EQ(text(signer, &IVorlundCert::get_Sha1Thumbprint), print);
  signer->Release();
  stored->Release();
  cert->Release();
}

TEST_F(Siblings, ProviderObjectsCarryTheSettingsSetCspReadsAndListTheProviders) {
  IVorlundCSP* csp = create<IVorlundCSP>(u"VorlundCSP.VorlundCSP", IID_IVorlundCSP);
  ASSERT_NE(csp, nullptr);
  // As a script sets them: by name through IDispatch, a number given as a string.
  const std::pair<const char16_t*, const char16_t*> settings[] = {
      {u"ProviderName", u"Microsoft Enhanced Cryptographic Provider v1.0"},
      {u"ProviderType", u"1"},
      {u"HashAlgorithm", u"SHA1"},
      {u"EncryptNumBits", u"168"},
  };
  for (const auto& [name, value] : settings)
    EXPECT_EQ(invokeByName(csp, name, DISPATCH_PROPERTYPUT, value, nullptr), S_OK);
  MimeRef mime;
  ASSERT_EQ(mime->SetCSP(csp), S_OK);
  const CspSettings& s = static_cast<CVorlundMime*>(mime.get())->cspSettings();
  EXPECT_STREQ(s.providerName.getString(), "Microsoft Enhanced Cryptographic Provider v1.0");
  EXPECT_EQ(s.providerType, 1);
  EXPECT_STREQ(s.hashAlgorithm.getString(), "SHA1");
  EXPECT_EQ(s.encryptNumBits, 168);

  // The names ProviderName takes, as a script lists them: the list object by name too.
  VARIANT result;
  ASSERT_EQ(invokeByName(csp, u"getprovidernames", DISPATCH_METHOD, static_cast<VARIANT*>(nullptr),
                         &result),
            S_OK);
  ASSERT_EQ(result.vt, VT_DISPATCH);
  IVrStringArray* names = nullptr;
  ASSERT_EQ(result.pdispVal->QueryInterface(IID_IVrStringArray, reinterpret_cast<void**>(&names)),
            S_OK);
  VariantClear(&result);
  auto at = [&](LONG i) {
    Bstr out;
    EXPECT_EQ(names->GetString(i, out.out()), S_OK);
    return out.utf8();
  };
  LONG count = 0, found = -1;
  ASSERT_EQ(names->get_Count(&count), S_OK);
  EXPECT_EQ(count, 5);
  EXPECT_EQ(at(0), "Microsoft Base Cryptographic Provider v1.0");
  EXPECT_EQ(at(4), "Microsoft Enhanced RSA and AES Cryptographic Provider (Prototype)");
  EXPECT_EQ(at(5) + at(-1), "") << "outside the list";
  ASSERT_EQ(names->Contains(Bstr("microsoft STRONG cryptographic provider"), &found), S_OK);
  EXPECT_EQ(found, 1);
  ASSERT_EQ(names->Contains(Bstr("Microsoft Strong"), &found), S_OK);
  EXPECT_EQ(found, 0);
  // By name, an index given as text.
  ASSERT_EQ(invokeByName(names, u"GetString", DISPATCH_METHOD, u"1", &result), S_OK);
  ASSERT_EQ(result.vt, VT_BSTR);
  EXPECT_EQ(std::u16string(result.bstrVal), u"Microsoft Enhanced Cryptographic Provider v1.0");
  VariantClear(&result);
  ASSERT_EQ(names->Append(Bstr("Eigener Anbieter")), S_OK);
  EXPECT_EQ(at(5), "Eigener Anbieter");
  ASSERT_EQ(names->Clear(), S_OK);
  ASSERT_EQ(names->get_Count(&count), S_OK);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(names->Release(), 0u);
  EXPECT_EQ(csp->Release(), 0u);

  // Unloaded, the module has taken its conversion engine back out of the platform, and this
  // program's own converts (converting into unloaded code would crash).
  CoFreeUnusedLibraries();
  EXPECT_EQ(dlopen(SIBLINGS_MODULE_PATH, RTLD_NOW | RTLD_NOLOAD), nullptr);
  DataBuffer utf8;
  EXPECT_TRUE(convertCodePage(1252, CP_UTF8, "caf\xE9", 4, utf8));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(utf8.getData()), utf8.getSize()),
            "caf\xC3\xA9");
}
