#include "tests/support/Gpgsm.h"

#include <openssl/evp.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>

#include "tests/support/TempDir.h"

int gpgsmVerify(const TestCert& root, const std::string& sigPath, const std::string& dataPath,
                const std::string& logPath) {
  // A short home: gpg-agent, which keeps the trust list, puts its socket there.
  char dir[] = "/tmp/gsXXXXXX";
  if (mkdtemp(dir) == nullptr) return -1;
  const std::string home = dir;
  const std::string env = "GNUPGHOME=" + home + " ";
  writeWholeFile(home + "/gpgsm.conf", "disable-crl-checks\n");
  writeWholeFile(home + "/root.pem", root.pem());
  unsigned char sha1[20];
  EVP_Digest(root.der.data(), root.der.size(), sha1, nullptr, EVP_sha1(), nullptr);
  std::string trusted;
  for (unsigned char b : sha1) {
    char hex[4];
    std::snprintf(hex, sizeof hex, "%02X:", b);
    trusted += hex;
  }
  trusted.back() = ' ';
  writeWholeFile(home + "/trustlist.txt", trusted + "S\n");
  std::system((env + "gpgsm --batch --import " + home + "/root.pem >/dev/null 2>&1").c_str());
  const int rc = std::system((env + "gpgsm --batch --verify " + sigPath +
                              (dataPath.empty() ? "" : " " + dataPath) + " > " + logPath + " 2>&1")
                                 .c_str());
  std::system((env + "gpgconf --kill all >/dev/null 2>&1").c_str());
  std::filesystem::remove_all(home);
  return rc;
}
