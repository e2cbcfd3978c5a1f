// Keys and certificates made inside a test with OpenSSL: any name, validity, issuer and
// extension, so each test states the certificate it needs.
#pragma once

#include <openssl/evp.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

class TempDir;

struct NameEntry {
  std::string key;       // an OpenSSL short name or a dotted OID
  std::string value;     // UTF-8
  bool sameRdn = false;  // joins the previous entry's relative name
  int asn1Type = 0;      // 0: UTF8String; else V_ASN1_BMPSTRING and the like
};

struct TestCert {
  std::string der;
  std::shared_ptr<EVP_PKEY> key;
  std::string pem() const;
};

struct CertSpec {
  std::vector<NameEntry> subject{};
  const TestCert* issuer = nullptr;  // null: self-signed
  long notBeforeDays = -1;           // relative to now
  long notAfterDays = 365;
  long serial = 1;
  // Extensions in the form of an OpenSSL configuration, e.g. {"keyUsage",
  // "critical,digitalSignature"}.
  std::vector<std::pair<std::string, std::string>> extensions{};
  std::shared_ptr<EVP_PKEY> key{};  // null: a new RSA key
};

TestCert makeCert(const CertSpec& spec);
std::shared_ptr<EVP_PKEY> newRsaKey();
// A CA certificate (basic constraints CA:TRUE) named CN=<cn>, valid from 30 days ago.
TestCert makeCa(const std::string& cn, const TestCert* issuer = nullptr, long notAfterDays = 365);
// An end certificate named CN=<cn> with the e-mail address <cn>@example.org in its
// alternative name, valid from 30 days ago.
TestCert makeUser(const std::string& cn, const TestCert& issuer, long notAfterDays = 365);
// The key as PKCS #8 PEM.
std::string keyPem(const TestCert& cert);
// NAME.pem and NAME.key in the directory for each certificate, for `openssl` to read.
void writeCertsAndKeys(const TempDir& dir,
                       const std::vector<std::pair<std::string, const TestCert*>>& certs);
// Runs a shell command, its output thrown away; its exit status.
int runQuietly(const std::string& command);
