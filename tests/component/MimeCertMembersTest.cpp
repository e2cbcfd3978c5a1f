// The certificate lists and the provider settings of the Mime object: NumSignerCerts,
// NumEncryptCerts, GetSignerCert, GetEncryptCert and SetCSP, with their checks and log texts,
// through the vtable and through IDispatch.
#include <gtest/gtest.h>

#include <string>

#include "component/CVorlundMime.h"
#include "component/SiblingInterfaces.h"
#include "foundation/ByteCodecs.h"
#include "platform/ComActivation.h"
#include "smime/Certificate.h"
#include "tests/component/FakeCsp.h"
#include "tests/component/MimeTestSupport.h"
#include "tests/support/RegistryValues.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestCerts.h"

namespace {

Certificate* recordOf(const TestCert& c) {
  StringBuffer b64;
  encodeBase64(c.der.data(), uint32_t(c.der.size()), b64);
  return new Certificate(b64.getString(), b64.getSize(), nullptr);
}

CVorlundMime& objectOf(const MimeRef& m) { return *static_cast<CVorlundMime*>(m.get()); }

}  // namespace

TEST(MimeCertMembers, ListsAreReadThroughNewCertificateObjects) {
  TempDir root;
  ScopedEnv env("VORLUND_ROOT", root.path());
  MimeRef mime;
  EXPECT_EQ(num(mime, &IVorlundMime::get_NumSignerCerts), 0);
  IVorlundCert* cert = reinterpret_cast<IVorlundCert*>(1);
  ASSERT_EQ(mime->GetSignerCert(0, &cert), S_OK);
  EXPECT_EQ(cert, nullptr);
  EXPECT_EQ(errorText(mime),
            "No certificate at that index (first cert is at index 0)\r\nindex: "
            "0\r\nnum_signer_certs: 0\r\n");
  ASSERT_EQ(mime->GetEncryptCert(0, nullptr), S_OK);
  EXPECT_EQ(errorText(mime), "Certificate parameter is null\r\n");

  const TestCert ca = makeCa("Members CA");
  objectOf(mime).signerCerts().appendPtr(recordOf(makeUser("signer", ca)));
  objectOf(mime).encryptCerts().appendPtr(recordOf(makeUser("first", ca)));
  objectOf(mime).encryptCerts().appendPtr(recordOf(makeUser("second", ca)));
  EXPECT_EQ(num(mime, &IVorlundMime::get_NumSignerCerts), 1);
  EXPECT_EQ(num(mime, &IVorlundMime::get_NumEncryptCerts), 2);
  for (LONG index : {-1, 2}) {
    ASSERT_EQ(mime->GetEncryptCert(index, &cert), S_OK);
    EXPECT_EQ(cert, nullptr);
    EXPECT_EQ(errorText(mime),
              "No certificate at that index (first cert is at index 0)\r\nindex: " +
                  std::to_string(index) + "\r\nnum_encrypt_certs: 2\r\n");
  }

  // Without the certificate component registered there is no object, and no message.
  ASSERT_EQ(mime->GetEncryptCert(1, &cert), S_OK);
  EXPECT_EQ(cert, nullptr);
  EXPECT_EQ(errorText(mime), "");

  // With it, a new object holding the record's encoding.
  ASSERT_TRUE(setClassesValue("CLSID\\" + guidToString(CLSID_VorlundCert) + "\\InprocServer32", "",
                              FAKE_CERT_SERVER_PATH));
  ASSERT_EQ(mime->GetEncryptCert(1, &cert), S_OK);
  ASSERT_NE(cert, nullptr);
  Bstr exported;
  ASSERT_EQ(cert->ExportBase64(exported.out()), S_OK);
  StringBuffer expected;
  objectOf(mime).encryptCerts().getAs<Certificate>(1)->getEncoded(expected, nullptr);
  EXPECT_EQ(exported.utf8(), expected.getString());
  EXPECT_EQ(cert->Release(), 0u);

  // Through IDispatch, as a script calls them.
  VARIANT result;
  ASSERT_EQ(invokeByName(mime.get(), u"GetSignerCert", DISPATCH_METHOD, u"0", &result), S_OK);
  EXPECT_EQ(result.vt, VT_DISPATCH);
  EXPECT_NE(result.pdispVal, nullptr);
  VariantClear(&result);
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  ASSERT_EQ(mime->Invoke(61, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr),
            S_OK);
  EXPECT_EQ(result.vt, VT_I4);
  EXPECT_EQ(result.lVal, 1);

  // The wrapping members refuse a missing certificate object and one without a record,
  // through the vtable and by name, and leave the flag 0.
  LONG flag = 1;
  ASSERT_EQ(mime->Encrypt(nullptr, &flag), S_OK);
  EXPECT_EQ(flag, 0);
  EXPECT_EQ(errorText(mime), "NULL passed to Encrypt\r\n");
  ASSERT_EQ(mime->GetEncryptCert(1, &cert), S_OK);
  VARIANT arg;  // a reference the test keeps: not cleared
  VariantInit(&arg);
  arg.vt = VT_DISPATCH;
  arg.pdispVal = cert;
  ASSERT_EQ(invokeByName(mime.get(), u"ConvertToSigned", DISPATCH_METHOD, &arg, &result), S_OK);
  EXPECT_EQ(result.vt, VT_I4);
  EXPECT_EQ(result.lVal, 0);
  EXPECT_EQ(errorText(mime), "Certificate is empty.\r\n");
  ASSERT_EQ(mime->AddDetachedSignature(nullptr, nullptr), S_OK);
  EXPECT_EQ(errorText(mime), "NULL passed to AddDetachedSignature\r\n");
  EXPECT_EQ(cert->Release(), 0u);
  CoFreeUnusedLibraries();
}

TEST(MimeCertMembers, SetCspCopiesTheProviderSettingsInOrder) {
  MimeRef mime;
  FakeCsp csp;
  csp.strings[1] = nullptr;  // leaves the encryption algorithm as it was
  ASSERT_EQ(mime->SetCSP(&csp), S_OK);
  const CspSettings& s = objectOf(mime).cspSettings();
  EXPECT_EQ((std::vector<int32_t>{s.providerType, s.hashAlgorithmId, s.hashNumBits,
                                  s.encryptAlgorithmId, s.encryptNumBits}),
            (std::vector<int32_t>{24, 0x800C, 256, 0x6610, 256}));
  EXPECT_STREQ(s.hashAlgorithm.getString(), "SHA-256");
  EXPECT_STREQ(s.encryptAlgorithm.getString(), "");
  EXPECT_STREQ(s.providerName.getString(), "Microsoft Enhanced RSA and AES Cryptographic Provider");
  EXPECT_STREQ(s.keyContainerName.getString(), "K\xE4stchen") << "in the ANSI form";
  EXPECT_EQ(csp.reads,
            (std::vector<std::string>{"ProviderType", "HashAlgorithmID", "HashNumBits",
                                      "EncryptAlgorithmID", "EncryptNumBits", "HashAlgorithm",
                                      "EncryptAlgorithm", "ProviderName", "KeyContainerName"}));
  EXPECT_EQ(csp.refs, 1u);
  EXPECT_EQ(errorText(mime), "") << "a good provider leaves nothing in the log";

  // A null provider is reported after the log of the call before, which stays.
  IVorlundCert* cert = nullptr;
  mime->GetSignerCert(3, &cert);
  ASSERT_EQ(mime->SetCSP(nullptr), S_OK);
  EXPECT_EQ(errorText(mime),
            "No certificate at that index (first cert is at index 0)\r\nindex: "
            "3\r\nnum_signer_certs: 0\r\n"
            "Null parameter\r\n");
  EXPECT_STREQ(objectOf(mime).cspSettings().hashAlgorithm.getString(), "SHA-256");
}
