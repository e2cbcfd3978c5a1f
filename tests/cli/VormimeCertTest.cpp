// `vormime cert`: importing certificates and PKCS #12 files into the stores, listing,
// showing and removing them, as a user would from a shell.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "tests/cli/RunVormime.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestCerts.h"

TEST(VormimeCert, ImportListShowAndRemove) {
  TempDir root, dir;
  ScopedEnv env("VORLUND_ROOT", root.path());
  const TestCert ca = makeCa("Cli CA");
  const TestCert user = makeUser("cliuser", ca);
  const TestCert other = makeUser("other", ca);
  writeWholeFile(dir.file("user.pem"), user.pem() + keyPem(user));
  writeWholeFile(dir.file("ca.pem"), ca.pem());
  writeWholeFile(dir.file("bundle.pem"), ca.pem() + other.pem());
  writeWholeFile(dir.file("other.der"), other.der);
  writeWholeFile(dir.file("pass"),
                 "geh\xC3\xA9im\n");  // UTF-8, as the system's passwords are Unicode
  writeWholeFile(dir.file("wrong"), "falsch\n");
  writeWholeFile(dir.file("garbage"), "not a certificate");
  writeWholeFile(dir.file("empty"), "");
  writeWholeFile(dir.file("cut.pem"), user.pem().substr(0, 100));
  const std::string p12 = dir.file("user.p12");
  ASSERT_EQ(runQuietly("openssl pkcs12 -export -in " + dir.file("user.pem") + " -certfile " +
                       dir.file("ca.pem") + " -passout file:" + dir.file("pass") + " -out " + p12),
            0);

  // The file's certificate with its key into MY, the other one into CA.
  CliRun r = runVormime("cert import " + shellQuote(p12) + " --password-file " + dir.file("pass"));
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::string> lines = piecesOf(r.out);
  ASSERT_EQ(lines.size(), 2u) << r.out;
  EXPECT_NE(lines[0].find("\timported into my with its key\tC=DE, O=Vorlund Test, CN=cliuser"),
            std::string::npos);
  EXPECT_NE(lines[1].find("\timported into ca\t"), std::string::npos);
  const std::string print = lines[0].substr(0, 40);

  r = runVormime("cert list");
  ASSERT_EQ(r.status, 0) << r.err;
  lines = piecesOf(r.out);
  ASSERT_EQ(lines.size(), 1u);
  std::vector<std::string> fields = piecesOf(lines[0], '\t');
  ASSERT_EQ(fields.size(), 5u) << lines[0];
  EXPECT_EQ(fields[0], print);
  EXPECT_EQ(fields[1], "C=DE, O=Vorlund Test, CN=cliuser");
  EXPECT_EQ(fields[2], "cliuser@example.org");
  EXPECT_EQ(fields[3].size(), 10u);
  EXPECT_EQ(fields[4], "key");
  r = runVormime("cert list --store ca");
  ASSERT_EQ(piecesOf(r.out).size(), 1u);
  EXPECT_EQ(piecesOf(piecesOf(r.out)[0], '\t').back(), "-");

  // Before the root is trusted, and after.
  r = runVormime("cert show " + print);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Store:           my\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Private key:     yes\n"), std::string::npos);
  EXPECT_NE(r.out.find("Chain:           untrusted root\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Key usage:       digitalSignature, keyEncipherment, secureEmail\n"),
            std::string::npos);
  r = runVormime("cert import " + dir.file("bundle.pem") + " --store root --machine");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(piecesOf(r.out).size(), 2u);
  r = runVormime("cert show " + print);
  EXPECT_NE(
      r.out.find("Chain:           trusted\n  0  C=DE, O=Vorlund Test, CN=cliuser  (trusted)\n"
                 "  1  C=DE, O=Vorlund Test, CN=Cli CA  (trusted)\n"),
      std::string::npos)
      << r.out;
  r = runVormime("cert show " + dir.file("other.der"));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("E-mail:          other@example.org\nSerial number:   "), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("Private key:     no\n"), std::string::npos);
  EXPECT_EQ(runVormime("cert import " + dir.file("other.der")).status, 0);
  r = runVormime("cert import " + dir.file("other.der"));
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("\talready in my"), std::string::npos);
  EXPECT_EQ(piecesOf(runVormime("cert list").out).size(), 2u);
  EXPECT_TRUE(runVormime("cert list --machine").out.empty()) << "the machine's MY is another store";

  // The key lives in a container only its owner reads.
  struct stat st;
  ASSERT_EQ(::stat((root.path() + "/keys/user").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  EXPECT_EQ(runVormime("cert remove " + print).status, 0);
  r = runVormime("cert remove " + print);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("no certificate has the thumbprint " + print + " in my"), std::string::npos)
      << r.err;
  EXPECT_EQ(piecesOf(runVormime("cert list").out).size(), 1u);

  // Bad input and bad usage, each with its message and status.
  const struct {
    std::string args;
    int status;
    const char* message;
  } bad[] = {
      {"cert import " + p12, 2, "a password is needed"},
      {"cert import " + p12 + " --password-file " + dir.file("wrong"), 1, "wrong password"},
      {"cert import " + dir.file("garbage"), 1, "is no certificate"},
      {"cert import " + dir.file("empty"), 1, "is empty"},
      {"cert import " + dir.file("cut.pem"), 1, "has a certificate without its end line"},
      {"cert import " + dir.file("missing"), 1, "cannot read"},
      {"cert list --store nowhere", 2, "unknown store 'nowhere'"},
      {"cert show 0123456789012345678901234567890123456789", 1,
       "no certificate has the thumbprint"},
      {"cert remove xyz", 2, "is not a SHA-1 thumbprint"},
      {"cert frobnicate", 2, "unknown subcommand"},
      {"cert", 2, "a subcommand is needed"},
  };
  for (const auto& b : bad) {
    r = runVormime(b.args);
    EXPECT_EQ(r.status, b.status) << b.args << "\n" << r.err;
    EXPECT_NE(r.err.find(b.message), std::string::npos) << b.args << "\n" << r.err;
  }
  r = runVormime("cert --help");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("vormime cert import FILE"), std::string::npos);
  EXPECT_EQ(runVormime("cert list --help").status, 0);
}
