// Wrapping entities as S/MIME and unwrapping them again: the entity the wrap leaves, the
// walk with its counts, fields and messages, and what a failed step leaves behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "foundation/ExtPtrArray.h"
#include "platform/KeyContainer.h"
#include "smime/Certificate.h"
#include "smime/CspSettings.h"
#include "smime/SecureMime.h"
#include "smime/VR_Crypt.h"
#include "tests/mime/EntityText.h"
#include "tests/platform/CertTestSupport.h"
#include "tests/support/RecordingLog.h"

namespace {

const char kMessage[] =
    "From: alice@example.org\r\n"
    "Subject: quarterly figures\r\n"
    "Content-Type: multipart/alternative; boundary=\"b1\"\r\n"
    "\r\n"
    "--b1\r\n"
    "Content-Type: text/plain; charset=iso-8859-1\r\n"
    "Content-Transfer-Encoding: quoted-printable\r\n"
    "\r\n"
    "Gr=FC=DFe,  trailing space \r\n"
    "--b1\r\n"
    "Content-Type: text/html\r\n"
    "\r\n"
    "<p>figures</p>\r\n"
    "--b1--\r\n";

bool has(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

class SecureMime : public FreshCertRoot {
 protected:
  TempDir files_;
  TestCert ca_ = makeCa("Secure Root");
  TestCert aliceCert_ = makeUser("alice", ca_);
  TestCert bobCert_ = makeUser("bob", ca_);
  std::unique_ptr<Certificate> alice_, bob_, keyless_;
  ExtPtrArray signers_, recipients_;
  bool fromUnwrap_ = false;
  CspSettings csp_;
  SecureState state_{signers_, recipients_, fromUnwrap_, csp_, true};

  void SetUp() override {
    FreshCertRoot::SetUp();
    alice_ = std::make_unique<Certificate>(installWithKey(aliceCert_, u"alice-box").release());
    bob_ = std::make_unique<Certificate>(installWithKey(bobCert_, u"bob-box").release());
    keyless_ = std::make_unique<Certificate>(contextOf(makeUser("carol", ca_)).release());
  }

  void TearDown() override {
    signers_.removeAllObjects();
    recipients_.removeAllObjects();
    FreshCertRoot::TearDown();
  }

  bool unwrap(MimeMessage2& e, RecordingLog& log) { return unwrapSecurity(e, state_, log); }
};

TEST_F(SecureMime, DetachedSignatureSurvivesSaveAndReload) {
  auto e = loaded(kMessage);
  const std::string original = written(*e);
  RecordingLog log;
  ASSERT_TRUE(addDetachedSignature(*e, *alice_, state_, log));
  ASSERT_EQ(e->getNumParts(), 2);
  ASSERT_EQ(signers_.getSize(), 1);
  EXPECT_TRUE(e->isMultipartSigned());

  const std::string signedText = written(*e);
  const std::string boundary = e->boundary().getString();
  EXPECT_EQ(signedText.substr(0, signedText.find("\r\n\r\n")),
            "content-type: multipart/signed;\r\n\tboundary=\"" + boundary +
                "\";\r\n\tprotocol=\"application/x-pkcs7-signature\";\r\n\tmicalg=SHA1");
  EXPECT_EQ(boundary.find("----=_NextPart_"), 0u);
  // The first part is the entity's text exactly as it was signed.
  EXPECT_NE(signedText.find("--" + boundary + "\r\n" + original + "\r\n--" + boundary + "\r\n"),
            std::string::npos);
  const MimeMessage2* sig = e->getPart(1);
  EXPECT_STREQ(sig->contentType().getString(), "application/x-pkcs7-signature");
  EXPECT_EQ(field(*sig, "Content-Disposition"), "attachment; filename=\"smime.p7s\"");
  EXPECT_STREQ(sig->encoding().getString(), "base64");

  // OpenSSL accepts it as written.
  writeWholeFile(files_.file("signed.eml"), signedText);
  writeWholeFile(files_.file("ca.pem"), ca_.pem());
  EXPECT_EQ(runQuietly("openssl smime -verify -in " + files_.file("signed.eml") + " -CAfile " +
                       files_.file("ca.pem") + " -out " + files_.file("out")),
            0);
  EXPECT_EQ(readWholeFile(files_.file("out")), original);

  // Saved, loaded, unwrapped: the content comes back with the summary fields.
  auto reloaded = loaded(signedText);
  RecordingLog unwrapLog;
  EXPECT_TRUE(unwrap(*reloaded, unwrapLog));
  EXPECT_TRUE(fromUnwrap_);
  EXPECT_EQ(field(*reloaded, "X-NumPartsSigned"), "1");
  EXPECT_EQ(field(*reloaded, "X-SignaturesValid"), "yes");
  EXPECT_EQ(field(*reloaded, "X-Decrypted"), "");
  EXPECT_EQ(reloaded->getNumParts(), 2);
  EXPECT_STREQ(reloaded->contentType().getString(), "multipart/alternative");
  EXPECT_EQ(field(*reloaded, "Subject"), "quarterly figures");
  EXPECT_TRUE(has(unwrapLog.lines, "signature_cert_subject=DE, Vorlund Test, alice"));
  const std::vector<std::string> tail(unwrapLog.lines.end() - 3, unwrapLog.lines.end());
  EXPECT_EQ(tail,
            (std::vector<std::string>{"info: This message was signed, but not encrypted",
                                      "info: All signatures are valid", "num_parts_signed=1"}));
  ASSERT_EQ(signers_.getSize(), 1);
  EXPECT_EQ(recipients_.getSize(), 0);

  // The signature part first is the same signature.
  std::string swapped = signedText;
  const std::string sep = "--" + boundary + "\r\n";
  const size_t first = swapped.find(sep), second = swapped.find(sep, first + 1),
               close = swapped.find("--" + boundary + "--");
  swapped = swapped.substr(0, first) + swapped.substr(second, close - second) +
            swapped.substr(first, second - first) + swapped.substr(close);
  auto reversed = loaded(swapped);
  RecordingLog reversedLog;
  EXPECT_TRUE(unwrap(*reversed, reversedLog));
  EXPECT_STREQ(reversed->contentType().getString(), "multipart/alternative");

  // A changed byte of the content fails and leaves the entity as it was.
  std::string tampered = signedText;
  tampered.replace(tampered.find("figures</p>"), 7, "FIGURES");
  auto bad = loaded(tampered);
  const std::string before = written(*bad);
  RecordingLog badLog;
  EXPECT_FALSE(unwrap(*bad, badLog));
  EXPECT_TRUE(has(badLog.lines, "error: Failed to verify detached digital signature"));
  EXPECT_TRUE(has(badLog.lines, "error: Not all signatures were valid"));
  EXPECT_EQ(field(*bad, "X-SignaturesValid"), "no");
  bad->setHeaderField("X-NumPartsSigned", "");
  bad->setHeaderField("X-SignaturesValid", "");
  EXPECT_EQ(written(*bad), before);

  // A SHA-2 hash chosen in the settings is named by micalg.
  csp_.providerName.append("Microsoft Enhanced RSA and AES Cryptographic Provider (Prototype)");
  csp_.providerType = PROV_RSA_AES;
  csp_.hashAlgorithm.append("SHA-256");
  auto sha2 = loaded(kMessage);
  RecordingLog sha2Log;
  ASSERT_TRUE(addDetachedSignature(*sha2, *alice_, state_, sha2Log));
  StringBuffer micalg;
  sha2->getMicalg(micalg);
  EXPECT_STREQ(micalg.getString(), "sha-256");
  // The wrap replaced what the unwrap had put in the lists.
  EXPECT_FALSE(fromUnwrap_);
  EXPECT_EQ(signers_.getSize(), 1);
}

TEST_F(SecureMime, EnvelopedSignedDataUnwrapsInOneCall) {
  auto e = loaded(kMessage);
  RecordingLog log;
  ASSERT_TRUE(convertToSigned(*e, *alice_, state_, log));
  EXPECT_TRUE(e->isSignedData());
  EXPECT_EQ(e->getNumParts(), 0);
  EXPECT_EQ(field(*e, "From"), "alice@example.org");  // the other fields stay
  EXPECT_NE(written(*e).find("content-type: application/x-pkcs7-mime;"), std::string::npos);
  ASSERT_TRUE(encryptEntity(*e, *bob_, state_, log));
  EXPECT_TRUE(e->isEncrypted());
  EXPECT_EQ(signers_.getSize(), 1);
  EXPECT_EQ(recipients_.getSize(), 1);

  RecordingLog unwrapLog;
  EXPECT_TRUE(unwrap(*e, unwrapLog));
  EXPECT_EQ(field(*e, "X-NumPartsSigned"), "1");
  EXPECT_EQ(field(*e, "X-SignaturesValid"), "yes");
  EXPECT_EQ(field(*e, "X-NumPartsEncrypted"), "1");
  EXPECT_EQ(field(*e, "X-Decrypted"), "yes");
  EXPECT_TRUE(has(unwrapLog.lines, "info: This message was signed and encrypted"));
  EXPECT_TRUE(has(unwrapLog.lines, "info: All data successfully decrypted"));
  EXPECT_TRUE(has(unwrapLog.lines, "decrypt_cert_subject=DE, Vorlund Test, bob"));
  EXPECT_EQ(signers_.getSize(), 1);
  EXPECT_EQ(recipients_.getSize(), 1);
  EXPECT_STREQ(e->contentType().getString(), "multipart/alternative");
  ASSERT_EQ(e->getNumParts(), 2);
  // The text part arrives as it was, body and charset.
  auto fresh = loaded(kMessage);
  EXPECT_EQ(written(*e->getPart(0)), written(*fresh->getPart(0)));

  // Enveloped for someone else: the entity stays as it was.
  auto other = loaded(kMessage);
  ASSERT_TRUE(encryptEntity(*other, *keyless_, state_, log));
  const std::string sealed = written(*other);
  state_.unwrapExtras = false;
  RecordingLog otherLog;
  EXPECT_FALSE(unwrap(*other, otherLog));
  EXPECT_TRUE(has(otherLog.lines, "error: Failed to decrypt message"));
  EXPECT_TRUE(has(otherLog.lines, "error: Not all data was decrypted"));
  EXPECT_EQ(written(*other), sealed);  // no summary fields without unwrapExtras either
  EXPECT_EQ(recipients_.getSize(), 0);
}

TEST_F(SecureMime, FailedWrapsLeaveTheEntityAsItWas) {
  auto e = loaded(kMessage);
  const std::string original = written(*e);
  for (auto wrap : {addDetachedSignature, convertToSigned}) {
    RecordingLog log;
    EXPECT_FALSE(wrap(*e, *keyless_, state_, log));
    EXPECT_EQ(written(*e), original);
    EXPECT_EQ(signers_.getSize(), 0);
  }
}

TEST_F(SecureMime, WalkStopsWhereThePartSays) {
  // Nothing secured: 1, no fields, no messages.
  auto plain = loaded(kMessage);
  const std::string plainText = written(*plain);
  RecordingLog plainLog;
  EXPECT_TRUE(unwrap(*plain, plainLog));
  EXPECT_TRUE(plainLog.lines.empty());
  EXPECT_EQ(written(*plain), plainText);

  // A signed part inside multipart/mixed is left wrapped, though it is reported.
  auto inner = loaded(kMessage);
  RecordingLog log;
  ASSERT_TRUE(addDetachedSignature(*inner, *alice_, state_, log));
  const std::string signedPart = written(*inner);
  auto mixed = loaded("Content-Type: multipart/mixed; boundary=\"m\"\r\n\r\n--m\r\n" + signedPart +
                      "\r\n--m--\r\n");
  RecordingLog mixedLog;
  EXPECT_TRUE(unwrap(*mixed, mixedLog));
  EXPECT_TRUE(mixedLog.lines.empty());
  EXPECT_TRUE(mixed->containsSigned());
  EXPECT_TRUE(mixed->getPart(0)->isMultipartSigned());

  // Wrong structures are counted and logged once, and change nothing.
  const std::string boundary = inner->boundary().getString();
  const size_t secondSep =
      signedPart.find("--" + boundary + "\r\n", signedPart.find("--" + boundary) + 1);
  const std::string onePart = signedPart.substr(0, secondSep) + "--" + boundary + "--\r\n";
  const std::string threeParts =
      signedPart.substr(0, secondSep) +
      signedPart.substr(secondSep, signedPart.rfind("--" + boundary + "--") - secondSep) +
      signedPart.substr(secondSep);
  std::string wrongType = signedPart;
  wrongType.replace(wrongType.find("application/x-pkcs7-signature;"), 30,
                    "application/octet-stream;");
  std::string garbage = signedPart;
  const size_t b64 = garbage.find("\r\n\r\n", garbage.find("smime.p7s\"\r\n\r\n") - 20);
  garbage.replace(b64 + 4, 40, "!!not base64 at all!!");
  struct Case {
    const std::string* text;
    const char* error;
    bool result;
  } cases[] = {
      {&onePart, "error: unwrap multipart/signed: number of parts is not equal to 2", true},
      {&threeParts, "error: unwrap multipart/signed: number of parts is not equal to 2", true},
      {&wrongType, "error: unwrap multipart/signed: unexpected content type", true},
      {&garbage, "error: Failed to verify detached digital signature", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    auto m = loaded(*c.text);
    const std::string before = written(*m);
    RecordingLog caseLog;
    EXPECT_EQ(unwrap(*m, caseLog), c.result);
    EXPECT_EQ(std::count(caseLog.lines.begin(), caseLog.lines.end(), c.error), 1);
    EXPECT_EQ(field(*m, "X-NumPartsSigned"), "1");
    m->setHeaderField("X-NumPartsSigned", "");
    m->setHeaderField("X-SignaturesValid", "");
    EXPECT_EQ(written(*m), before);
  }

  // Signed-data nested fifty deep (binary, so that each layer adds only its own size):
  // thirty layers come off, the rest stays.
  std::string layered = "Content-Type: text/plain\r\n\r\ncore\r\n";
  VR_Crypt crypt;
  for (int i = 0; i < 50; ++i) {
    std::unique_ptr<DataBuffer> der(crypt.createAttachedSignature(
        alice_.get(), reinterpret_cast<const unsigned char*>(layered.data()),
        uint32_t(layered.size()), &log));
    ASSERT_NE(der, nullptr);
    layered =
        "Content-Type: application/pkcs7-mime; smime-type=signed-data\r\n"
        "Content-Transfer-Encoding: binary\r\n\r\n" +
        std::string(reinterpret_cast<const char*>(der->getData()), der->getSize());
  }
  auto deep = loaded(layered);
  RecordingLog deepLog;
  EXPECT_TRUE(unwrap(*deep, deepLog));
  EXPECT_EQ(field(*deep, "X-NumPartsSigned"), "30");
  EXPECT_TRUE(deep->isSignedData());
  EXPECT_EQ(signers_.getSize(), 30);
}

}  // namespace
