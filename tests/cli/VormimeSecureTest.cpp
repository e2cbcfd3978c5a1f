// `vormime sign|encrypt|verify|decrypt` as a user runs them, against OpenSSL and gpgsm: what
// we sign and encrypt they accept, what they sign and encrypt we unwrap, and every refusal
// says why.
#include <gtest/gtest.h>

#include <string>

#include "tests/cli/RunVormime.h"
#include "tests/support/Gpgsm.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestCerts.h"

namespace {

const char kMessage[] =
    "From: alice@example.org\r\n"
    "To: bob@example.org\r\n"
    "Subject: Preisliste\r\n"
    "Content-Type: text/plain; charset=\"utf-8\"\r\n"
    "Content-Transfer-Encoding: 8bit\r\n"
    "\r\n"
    "\xC3\x84pfel 12,50 \xE2\x82\xAC, trailing space \r\n"
    "second line\r\n";

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

class VormimeSecure : public ::testing::Test {
 protected:
  TempDir root_, dir_;
  ScopedEnv env_{"VORLUND_ROOT", root_.path()};
  TestCert ca_ = makeCa("Secure Cli Root");
  TestCert alice_ = makeUser("alice", ca_);
  TestCert bob_ = makeUser("bob", ca_);

  void SetUp() override {
    writeWholeFile(file("msg.eml"), kMessage);
    writeWholeFile(file("ca.pem"), ca_.pem());
    writeCertsAndKeys(dir_, {{"alice", &alice_}, {"bob", &bob_}});
    writeWholeFile(file("pass"), "s3cret\n");
    ASSERT_EQ(shell("openssl pkcs12 -export -in " + file("alice.pem") + " -inkey " +
                    file("alice.key") + " -passout pass:s3cret -out " + file("alice.p12")),
              0);
    ASSERT_EQ(vormime("cert import " + file("alice.p12") + " --password-file " + file("pass"),
                      ">/dev/null 2>&1")
                  .status,
              0);
    ASSERT_EQ(vormime("cert import " + file("ca.pem") + " --store root", ">/dev/null 2>&1").status,
              0);
  }

  std::string file(const std::string& name) const { return dir_.file(name); }
  static int shell(const std::string& command) { return runQuietly(command); }
  int opensslVerify(const std::string& name) {
    return shell("openssl smime -verify -in " + file(name) + " -CAfile " + file("ca.pem") +
                 " -out " + file(name + ".content"));
  }
};

TEST_F(VormimeSecure, OurMessagesAreAcceptedByOpenSslAndGpgsm) {
  // The canonical text a wrap signs: the message as SaveMime writes it.
  ASSERT_EQ(vormime("call " + file("msg.eml") + " SaveMime " + file("canon.eml")).status, 0);
  const std::string canon = readWholeFile(file("canon.eml"));

  // Detached, with the default SHA-256, from the PKCS #12 file.
  CliRun r = runVormime("sign --cert " + file("alice.p12") + " --password-file " + file("pass") +
                        " " + file("msg.eml") + " " + file("detached.eml"));
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string detached = readWholeFile(file("detached.eml"));
  EXPECT_TRUE(contains(detached, "\tmicalg=sha-256\r\n")) << detached.substr(0, 300);
  EXPECT_EQ(opensslVerify("detached.eml"), 0);
  EXPECT_EQ(readWholeFile(file("detached.eml.content")), canon);
  // gpgsm gets the signature and the first part's exact text.
  const std::string boundary = "--" + detached.substr(detached.find("boundary=\"") + 10, 41);
  const size_t first = detached.find(boundary + "\r\n") + boundary.size() + 2;
  writeWholeFile(file("signed-part"),
                 detached.substr(first, detached.find("\r\n" + boundary, first) - first));
  ASSERT_EQ(vormime("call " + file("detached.eml") + " GetPart 1 -- GetBodyBinary",
                    "> " + file("sig.der") + " 2>/dev/null")
                .status,
            0);
  EXPECT_EQ(gpgsmVerify(ca_, file("sig.der"), file("signed-part"), file("gpgsm.log")), 0)
      << readWholeFile(file("gpgsm.log"));
  // Saved and loaded again, the signature still holds, for OpenSSL and for ourselves.
  ASSERT_EQ(vormime("call " + file("detached.eml") + " SaveMime " + file("resaved.eml")).status, 0);
  EXPECT_EQ(opensslVerify("resaved.eml"), 0);
  r = runVormime("verify " + file("resaved.eml") + " " + file("verified.eml"));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(contains(r.err, "signer: C=DE, O=Vorlund Test, CN=alice <alice@example.org>"))
      << r.err;
  EXPECT_TRUE(contains(r.err, "(trusted root)")) << r.err;
  EXPECT_TRUE(contains(r.err, "All signatures are valid")) << r.err;
  EXPECT_TRUE(contains(readWholeFile(file("verified.eml")), "X-SignaturesValid: yes\r\n"));

  // Opaque, SHA-1, from the stored certificate by its thumbprint and from its file.
  r = runVormime("cert list");
  const std::string thumbprint = r.out.substr(0, 40);
  for (const std::string& cert : {thumbprint, file("alice.pem")}) {
    r = runVormime("sign --opaque --hash sha1 --cert " + cert + " " + file("msg.eml") + " " +
                   file("opaque.eml"));
    ASSERT_EQ(r.status, 0) << cert << r.err;
    EXPECT_EQ(opensslVerify("opaque.eml"), 0);
    EXPECT_EQ(readWholeFile(file("opaque.eml.content")), canon);
  }
  ASSERT_EQ(
      vormime("call " + file("opaque.eml") + " GetBodyBinary", "> " + file("p7m") + " 2>/dev/null")
          .status,
      0);
  EXPECT_EQ(gpgsmVerify(ca_, file("p7m"), "", file("gpgsm.log")), 0)
      << readWholeFile(file("gpgsm.log"));

  // Encrypted for bob with each cipher: OpenSSL gets back exactly what was encrypted.
  for (const char* cipher : {"aes", "3des", "rc2", "des"}) {
    SCOPED_TRACE(cipher);
    r = runVormime("encrypt --cipher " + std::string(cipher) + " --to " + file("bob.pem") + " " +
                   file("msg.eml") + " " + file("enc.eml"));
    ASSERT_EQ(r.status, 0) << r.err;
    // OpenSSL keeps RC2 and DES in its legacy provider.
    EXPECT_EQ(
        shell("openssl smime -provider legacy -provider default -decrypt -in " + file("enc.eml") +
              " -recip " + file("bob.pem") + " -inkey " + file("bob.key") + " -out " + file("dec")),
        0);
    EXPECT_EQ(readWholeFile(file("dec")), canon);
  }
  EXPECT_EQ(shell("openssl cms -cmsout -print -in " + file("enc.eml") + " | grep -q des-cbc"), 0);
  r = runVormime("encrypt --to " + file("bob.pem") + " " + file("msg.eml") + " " + file("aes.eml"));
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(shell("openssl cms -cmsout -print -in " + file("aes.eml") + " | grep -q aes-256-cbc"),
            0);

  // Usage: no certificate, an unknown hash, a PKCS #12 file without a way to ask for its
  // password, a missing certificate.
  EXPECT_EQ(runVormime("sign " + file("msg.eml")).status, 2);
  EXPECT_EQ(
      runVormime("sign --hash md5 --cert " + file("alice.pem") + " " + file("msg.eml")).status, 2);
  EXPECT_EQ(runVormime("sign --cert " + file("alice.p12") + " " + file("msg.eml")).status, 2);
  r = runVormime("encrypt --to " + file("nobody.pem") + " " + file("msg.eml"));
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(contains(r.err, "no such file")) << r.err;
}

TEST_F(VormimeSecure, TheirMessagesUnwrapAndFailuresSayWhy) {
  // Written with CRLF line ends, as mail arrives; OpenSSL keeps RC2 in its legacy provider.
  const std::string sign = "openssl cms -sign -crlfeol -signer " + file("alice.pem") + " -inkey " +
                           file("alice.key") + " -in " + file("msg.eml");
  const std::string encrypt =
      "openssl cms -encrypt -crlfeol -provider legacy -provider default -in " + file("msg.eml");
  struct Case {
    const char* name;
    std::string command;
    bool isSigned, isEncrypted;
  } cases[] = {
      {"detached", sign + " -out " + file("detached.eml"), true, false},
      {"opaque", sign + " -nodetach -out " + file("opaque.eml"), true, false},
      {"aes", encrypt + " -aes256 -out " + file("aes.eml") + " " + file("alice.pem"), false, true},
      {"3des", encrypt + " -des3 -out " + file("3des.eml") + " " + file("alice.pem"), false, true},
      {"rc2", encrypt + " -rc2 -out " + file("rc2.eml") + " " + file("alice.pem"), false, true},
      {"oaep",
       encrypt + " -aes128 -out " + file("oaep.eml") + " -recip " + file("alice.pem") +
           " -keyopt rsa_padding_mode:oaep",
       false, true},
      {"gcm", encrypt + " -aes-256-gcm -out " + file("gcm.eml") + " " + file("alice.pem"), false,
       true},
      {"signed-then-encrypted",
       sign + " -nodetach | openssl cms -encrypt -crlfeol -aes256 -out " +
           file("signed-then-encrypted.eml") + " " + file("alice.pem"),
       true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(shell(c.command), 0);
    const std::string in = file(std::string(c.name) + ".eml");
    CliRun r = runVormime("verify " + in + " " + file("out.eml"));
    EXPECT_EQ(r.status, c.isSigned ? 0 : 1) << r.err;
    const std::string out = readWholeFile(file("out.eml"));
    EXPECT_TRUE(contains(out, "\xC3\x84pfel 12,50")) << out.substr(0, 400);
    EXPECT_EQ(contains(out, "X-SignaturesValid: yes\r\n"), c.isSigned);
    EXPECT_EQ(contains(out, "X-Decrypted: yes\r\n"), c.isEncrypted);
    EXPECT_EQ(contains(r.err, "no signature found"), !c.isSigned) << r.err;
    EXPECT_EQ(contains(r.err, "This message was signed and encrypted"), c.isSigned && c.isEncrypted)
        << r.err;
    r = runVormime("decrypt " + in);
    EXPECT_EQ(r.status, c.isEncrypted ? 0 : 1) << r.err;
  }

  // A changed byte of signed content.
  std::string detached = readWholeFile(file("detached.eml"));
  detached.replace(detached.find("second line"), 6, "SECOND");
  writeWholeFile(file("tampered.eml"), detached);
  CliRun r = runVormime("verify " + file("tampered.eml") + " " + file("out.eml"));
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(contains(r.err, "Failed to verify detached digital signature")) << r.err;
  EXPECT_TRUE(contains(r.err, "not every signature verified")) << r.err;
  EXPECT_TRUE(contains(readWholeFile(file("out.eml")), "X-SignaturesValid: no\r\n"));

  // Enveloped for someone else: nothing changes but the summary.
  ASSERT_EQ(shell(encrypt + " -aes256 -out " + file("forbob.eml") + " " + file("bob.pem")), 0);
  r = runVormime("decrypt " + file("forbob.eml") + " " + file("out.eml"));
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(contains(r.err, "Failed to decrypt message")) << r.err;
  EXPECT_TRUE(contains(readWholeFile(file("out.eml")), "X-Decrypted: no\r\n"));

  // A signed part inside multipart/mixed is left wrapped; a message cannot vouch for itself.
  const std::string signedPart = readWholeFile(file("detached.eml"));
  writeWholeFile(file("mixed.eml"), "Content-Type: multipart/mixed; boundary=\"m\"\r\n\r\n--m\r\n" +
                                        signedPart + "\r\n--m--\r\n");
  r = runVormime("verify " + file("mixed.eml"));
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(contains(r.err, "a signed part inside multipart/mixed was left as it is")) << r.err;
  writeWholeFile(file("claims.eml"),
                 "X-NumPartsSigned: 1\r\nX-SignaturesValid: yes\r\n" + std::string(kMessage));
  r = runVormime("verify " + file("claims.eml") + " " + file("out.eml"));
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(contains(r.err, "no signature found")) << r.err;
  EXPECT_FALSE(contains(readWholeFile(file("out.eml")), "X-SignaturesValid"));
}

}  // namespace
