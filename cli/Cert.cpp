// `vormime cert import|list|show|remove`: certificates and keys in the platform's stores,
// as a user manages them on Windows with the certificate manager.
#include <cctype>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "cli/HostCommand.h"
#include "foundation/ByteCodecs.h"
#include "foundation/DataBuffer.h"
#include "foundation/LogBase.h"
#include "foundation/XString.h"
#include "platform/KeyContainer.h"
#include "platform/WinCrypt.h"
#include "smime/Certificate.h"

namespace {

const char* const kCertUsage =
    "usage: vormime cert import FILE [--password-file F] [--store NAME] [--machine]\n"
    "       vormime cert list [--store NAME] [--machine]\n"
    "       vormime cert show FILE|THUMBPRINT [--password-file F]\n"
    "       vormime cert remove THUMBPRINT [--store NAME] [--machine]\n"
    "Certificates in the platform's stores, under the platform root (certstores/, keys in\n"
    "keys/). NAME is my (the default), ca, root, authroot, addressbook or vorlund; --machine\n"
    "picks the local machine's store instead of the current user's.\n"
    "import: a PEM or DER certificate, a PEM bundle, or a PKCS #12 file (its certificate into\n"
    "  the store, its key into a key container, its other certificates into ca).\n"
    "list: thumbprint, subject, e-mail address, not-after date and \"key\" or \"-\", "
    "tab-separated.\n"
    "show: every property of a certificate file or of a stored certificate, and its chain.\n"
    "remove: the certificate with that SHA-1 thumbprint.\n"
    "A password is never taken from the command line: --password-file F (its first line),\n"
    "else a prompt on a terminal.\n";

struct StoreName {
  const char* name;
  const char* keyPath;  // below HKEY_CURRENT_USER or HKEY_LOCAL_MACHINE
};
const StoreName kStores[] = {
    {"my", "Software\\Microsoft\\SystemCertificates\\MY"},
    {"ca", "Software\\Microsoft\\SystemCertificates\\CA"},
    {"root", "Software\\Microsoft\\SystemCertificates\\ROOT"},
    {"authroot", "Software\\Microsoft\\SystemCertificates\\AUTHROOT"},
    {"addressbook", "Software\\Microsoft\\SystemCertificates\\AddressBook"},
    {"vorlund", "Software\\Vorlund\\SystemCertificates"},
};

struct ContextFree {
  void operator()(PCCERT_CONTEXT c) const { CertFreeCertificateContext(c); }
};
using Context = std::unique_ptr<const CERT_CONTEXT, ContextFree>;

const StoreName* findStore(const std::string& name) {
  for (const StoreName& s : kStores)
    if (name == s.name) return &s;
  return nullptr;
}

// Opens a store by its key, creating the key unless read-only; a read-only store whose key
// does not exist yet is empty.
HCERTSTORE openStore(const StoreName& s, bool machine, bool readOnly, std::string& error) {
  const HKEY root = machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
  HKEY key = nullptr;
  LSTATUS r = readOnly ? RegOpenKeyExA(root, s.keyPath, 0, KEY_READ, &key)
                       : RegCreateKeyExA(root, s.keyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                         &key, nullptr);
  if (r == ERROR_FILE_NOT_FOUND && readOnly &&
      std::strncmp(s.keyPath, "Software\\Microsoft", 18) == 0) {
    // The system stores always exist; the machine's ROOT shows its authorities even so.
    std::string name = std::strrchr(s.keyPath, '\\') + 1;
    std::u16string wide(name.begin(), name.end());
    return CertOpenStore(
        CERT_STORE_PROV_SYSTEM_W, 0, 0,
        (machine ? CERT_SYSTEM_STORE_LOCAL_MACHINE : CERT_SYSTEM_STORE_CURRENT_USER) |
            CERT_STORE_READONLY_FLAG,
        wide.c_str());
  }
  if (r == ERROR_FILE_NOT_FOUND && readOnly)
    return CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
  if (r != ERROR_SUCCESS) {
    SetLastError(DWORD(r));
  } else {
    HCERTSTORE store =
        CertOpenStore(CERT_STORE_PROV_REG, 0, 0, readOnly ? CERT_STORE_READONLY_FLAG : 0, key);
    const DWORD err = GetLastError();
    RegCloseKey(key);
    if (store != nullptr) return store;
    SetLastError(err);
  }
  StringBuffer text;
  text.appendLastWindowsError();
  error = std::string("store ") + s.name + " cannot be opened: " + text.getString();
  const std::string problem = certStoreLastProblem();
  if (!problem.empty()) error += " (" + problem + ")";
  return nullptr;
}

std::string lastErrorText() {
  StringBuffer text;
  text.appendLastWindowsError();
  return text.getString();
}

std::string thumbprint(PCCERT_CONTEXT c) {
  BYTE hash[20];
  DWORD n = sizeof hash;
  if (!CertGetCertificateContextProperty(c, CERT_SHA1_HASH_PROP_ID, hash, &n)) return std::string();
  static const char hex[] = "0123456789ABCDEF";
  std::string s;
  for (DWORD i = 0; i < n; ++i) {
    s.push_back(hex[hash[i] >> 4]);
    s.push_back(hex[hash[i] & 15]);
  }
  return s;
}

bool isThumbprint(const std::string& s) {
  if (s.size() != 40) return false;
  for (char c : s)
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
  return true;
}

bool sameThumbprint(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::toupper(static_cast<unsigned char>(x)) ==
                  std::toupper(static_cast<unsigned char>(y));
         });
}

std::string date(const FILETIME& ft, bool withTime) {
  SYSTEMTIME st;
  if (!FileTimeToSystemTime(&ft, &st)) return "?";
  char text[48];
  if (withTime)
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u UTC", st.wYear, st.wMonth,
                  st.wDay, st.wHour, st.wMinute, st.wSecond);
  else
    std::snprintf(text, sizeof text, "%04u-%02u-%02u", st.wYear, st.wMonth, st.wDay);
  return text;
}

// The e-mail address: the alternative name's, else the subject's E part.
std::string emailOf(const Certificate& cert) {
  if (!cert.rfc822Name.isEmpty()) return cert.rfc822Name.getString();
  for (int32_t i = 0; i < cert.subjectParts.getSize(); ++i) {
    const auto* p = cert.subjectParts.getAs<StringPair>(i);
    if (p->key.equals("E")) return p->value.getString();
  }
  return std::string();
}

std::string partOf(const Certificate& cert, const char* key) {
  for (int32_t i = 0; i < cert.subjectParts.getSize(); ++i) {
    const auto* p = cert.subjectParts.getAs<StringPair>(i);
    if (p->key.equals(key)) return p->value.getString();
  }
  return std::string();
}

bool readFile(const std::string& path, std::string& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

// The password as the platform takes it: Unicode.
int readPassword(CommandContext& ctx, const ParsedArgs& args, std::u16string& password) {
  std::string line;
  if (int status = readPasswordLine(ctx, args, line); status != 0) return status;
  XString text;
  text.setFromUtf8(line.c_str());
  password = text.getUnicode();
  return 0;
}

// What a file holds: its certificates, the first with its key for a PKCS #12 file.
struct Loaded {
  std::vector<Context> certs;
  bool pfx = false;
};

// Reads a PEM, DER or PKCS #12 file. `keepKeyInMemory` leaves no key container behind.
int loadFile(CommandContext& ctx, const ParsedArgs& args, const std::string& path, DWORD pfxFlags,
             Loaded& loaded) {
  std::string bytes;
  if (!readFile(path, bytes)) return failure(ctx, "cannot read " + path);
  if (bytes.empty()) return failure(ctx, path + " is empty");
  CRYPT_DATA_BLOB blob{DWORD(bytes.size()), reinterpret_cast<BYTE*>(bytes.data())};
  if (bytes.find("-----BEGIN") == std::string::npos && PFXIsPFXBlob(&blob)) {
    std::u16string password;
    if (int status = readPassword(ctx, args, password); status != 0) return status;
    HCERTSTORE store = PFXImportCertStore(&blob, password.c_str(), pfxFlags);
    if (store == nullptr) {
      if (GetLastError() == ERROR_INVALID_PASSWORD)
        return failure(ctx, "wrong password for " + path);
      return failure(ctx, path + " is not a readable PKCS #12 file: " + lastErrorText());
    }
    for (PCCERT_CONTEXT c = CertEnumCertificatesInStore(store, nullptr); c != nullptr;
         c = CertEnumCertificatesInStore(store, c))
      loaded.certs.emplace_back(CertDuplicateCertificateContext(c));
    CertCloseStore(store, 0);
    loaded.pfx = true;
    return 0;
  }
  const std::string begin = "-----BEGIN CERTIFICATE-----", end = "-----END CERTIFICATE-----";
  if (bytes.find(begin) != std::string::npos) {
    for (size_t at = bytes.find(begin); at != std::string::npos; at = bytes.find(begin, at)) {
      at += begin.size();
      const size_t stop = bytes.find(end, at);
      if (stop == std::string::npos)
        return failure(ctx, path + " has a certificate without its end line");
      DataBuffer der;
      if (!decodeBase64Strict(bytes.data() + at, uint32_t(stop - at), der))
        return failure(ctx, path + " has a certificate that is not base64");
      PCCERT_CONTEXT c =
          CertCreateCertificateContext(X509_ASN_ENCODING, der.getData(), der.getSize());
      if (c == nullptr)
        return failure(ctx, "certificate " + std::to_string(loaded.certs.size() + 1) + " of " +
                                path + " is damaged: " + lastErrorText());
      loaded.certs.emplace_back(c);
      at = stop + end.size();
    }
    return 0;
  }
  PCCERT_CONTEXT c = CertCreateCertificateContext(X509_ASN_ENCODING, blob.pbData, blob.cbData);
  if (c == nullptr)
    return failure(ctx, path + " is no certificate (PEM, DER or PKCS #12): " + lastErrorText());
  loaded.certs.emplace_back(c);
  return 0;
}

Certificate* recordOf(PCCERT_CONTEXT c) {
  return new Certificate(CertDuplicateCertificateContext(c));
}

int parse(CommandContext& ctx, int argc, char** argv, ParsedArgs& args, size_t positionals,
          const std::vector<std::string>& values) {
  // argv[2] is the cert subcommand; the parser reads from argv[2] of what it is given.
  const ParseOutcome parsed =
      parseCommandArgs(ctx, argc - 1, argv + 1, values, args, {"--machine"});
  if (parsed != ParseOutcome::kRun) return parsed == ParseOutcome::kHelp ? 0 : 2;
  if (args.positional.size() != positionals)
    return badUsageBrief(ctx, positionals == 0 ? "unexpected argument" : "one argument is needed");
  if (auto s = args.values.find("--store");
      s != args.values.end() && findStore(s->second) == nullptr)
    return badUsageBrief(ctx, "unknown store '" + s->second + "'");
  return -1;
}

const StoreName& storeArg(const ParsedArgs& args) {
  auto s = args.values.find("--store");
  return *findStore(s != args.values.end() ? s->second : "my");
}

int certImport(CommandContext& ctx, int argc, char** argv) {
  ParsedArgs args;
  if (int r = parse(ctx, argc, argv, args, 1, {"--password-file", "--store"}); r >= 0) return r;
  const bool machine = args.has("--machine");
  Loaded loaded;
  if (int r = loadFile(ctx, args, args.positional[0], machine ? CRYPT_MACHINE_KEYSET : 0, loaded);
      r != 0)
    return r;
  std::string error;
  const StoreName& target = storeArg(args);
  HCERTSTORE store = openStore(target, machine, false, error);
  HCERTSTORE ca = loaded.pfx ? openStore(*findStore("ca"), machine, false, error) : nullptr;
  int status = store == nullptr || (loaded.pfx && ca == nullptr) ? failure(ctx, error) : 0;
  for (size_t i = 0; status == 0 && i < loaded.certs.size(); ++i) {
    // The certificate of a PKCS #12 file replaces an earlier copy, so its key goes with it.
    const bool keyed = loaded.pfx && i == 0;
    HCERTSTORE into = loaded.pfx && !keyed ? ca : store;
    const char* where = loaded.pfx && !keyed ? "ca" : target.name;
    if (!CertAddCertificateContextToStore(
            into, loaded.certs[i].get(),
            keyed ? CERT_STORE_ADD_REPLACE_EXISTING : CERT_STORE_ADD_NEWER, nullptr)) {
      if (GetLastError() != CRYPT_E_EXISTS) {
        status = failure(ctx, std::string("cannot add to ") + where + ": " + lastErrorText());
        break;
      }
      std::fprintf(ctx.out, "%s\talready in %s\n", thumbprint(loaded.certs[i].get()).c_str(),
                   where);
      continue;
    }
    std::unique_ptr<Certificate> cert(recordOf(loaded.certs[i].get()));
    std::fprintf(ctx.out, "%s\timported into %s%s\t%s\n", thumbprint(loaded.certs[i].get()).c_str(),
                 where, keyed ? " with its key" : "", cert->subjectDn.getString());
  }
  CertCloseStore(store, 0);
  CertCloseStore(ca, 0);
  return status;
}

int certList(CommandContext& ctx, int argc, char** argv) {
  ParsedArgs args;
  if (int r = parse(ctx, argc, argv, args, 0, {"--store"}); r >= 0) return r;
  std::string error;
  HCERTSTORE store = openStore(storeArg(args), args.has("--machine"), true, error);
  if (store == nullptr) return failure(ctx, error);
  for (PCCERT_CONTEXT c = CertEnumCertificatesInStore(store, nullptr); c != nullptr;
       c = CertEnumCertificatesInStore(store, c)) {
    std::unique_ptr<Certificate> cert(recordOf(c));
    std::fprintf(ctx.out, "%s\t%s\t%s\t%s\t%s\n", thumbprint(c).c_str(),
                 cert->subjectDn.getString(), emailOf(*cert).c_str(),
                 date(c->pCertInfo->NotAfter, false).c_str(),
                 certificateHasPrivateKey(c) ? "key" : "-");
  }
  CertCloseStore(store, 0);
  return 0;
}

// The certificate with that thumbprint in any store of the user or the machine.
Context findByThumbprint(const std::string& print, std::string& where) {
  std::string error;
  for (bool machine : {false, true}) {
    for (const StoreName& s : kStores) {
      HCERTSTORE store = openStore(s, machine, true, error);
      for (PCCERT_CONTEXT c = CertEnumCertificatesInStore(store, nullptr); c != nullptr;
           c = CertEnumCertificatesInStore(store, c)) {
        if (!sameThumbprint(thumbprint(c), print)) continue;
        where = std::string(s.name) + (machine ? " (machine)" : "");
        Context found(CertDuplicateCertificateContext(c));
        CertFreeCertificateContext(c);
        CertCloseStore(store, 0);
        return found;
      }
      CertCloseStore(store, 0);
    }
  }
  return nullptr;
}

std::string trustText(DWORD status) {
  if (status == 0) return "trusted";
  static const struct {
    DWORD bit;
    const char* text;
  } names[] = {
      {CERT_TRUST_IS_NOT_TIME_VALID, "not time valid"},
      {CERT_TRUST_IS_REVOKED, "revoked"},
      {CERT_TRUST_IS_NOT_SIGNATURE_VALID, "signature not valid"},
      {CERT_TRUST_IS_NOT_VALID_FOR_USAGE, "not valid for usage"},
      {CERT_TRUST_IS_UNTRUSTED_ROOT, "untrusted root"},
      {CERT_TRUST_INVALID_EXTENSION, "invalid extension"},
      {CERT_TRUST_INVALID_BASIC_CONSTRAINTS, "invalid basic constraints"},
      {CERT_TRUST_IS_PARTIAL_CHAIN, "partial chain"},
      {CERT_TRUST_HAS_NOT_SUPPORTED_CRITICAL_EXT, "unsupported critical extension"},
  };
  std::string s;
  for (const auto& n : names) {
    if ((status & n.bit) == 0) continue;
    if (!s.empty()) s += ", ";
    s += n.text;
  }
  return s;
}

void showCertificate(CommandContext& ctx, PCCERT_CONTEXT c, const std::string& where) {
  std::unique_ptr<Certificate> cert(recordOf(c));
  StringBuffer subjectName, issuerName;
  cert->getSubjectName(subjectName);
  cert->getIssuerName(issuerName);
  std::string serial;
  for (DWORD i = c->pCertInfo->SerialNumber.cbData; i > 0; --i) {
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02X", c->pCertInfo->SerialNumber.pbData[i - 1]);
    serial += hex;
  }
  auto yes = [](bool b) { return b ? "yes" : "no"; };
  FILE* o = ctx.out;
  if (!where.empty()) std::fprintf(o, "Store:           %s\n", where.c_str());
  std::fprintf(o, "Subject:         %s\n", cert->subjectDn.getString());
  std::fprintf(o, "Subject name:    %s\n", subjectName.getString());
  std::fprintf(o, "Issuer:          %s\n", cert->issuerDn.getString());
  std::fprintf(o, "Issuer name:     %s\n", issuerName.getString());
  std::fprintf(o, "Common name:     %s\n", partOf(*cert, "CN").c_str());
  std::fprintf(o, "E-mail:          %s\n", emailOf(*cert).c_str());
  std::fprintf(o, "Serial number:   %s\n", serial.c_str());
  std::fprintf(o, "Valid from:      %s\n", date(c->pCertInfo->NotBefore, true).c_str());
  std::fprintf(o, "Valid to:        %s\n", date(c->pCertInfo->NotAfter, true).c_str());
  std::fprintf(o, "SHA-1:           %s\n", thumbprint(c).c_str());
  std::fprintf(o, "Private key:     %s\n", yes(certificateHasPrivateKey(c)));
  std::fprintf(o, "Expired:         %s\n", yes(cert->isExpired()));
  std::fprintf(o, "Self-signed:     %s\n", yes(cert->isSelfSigned()));
  std::fprintf(o, "Trusted root:    %s\n", yes(cert->trustedRoot));
  std::fprintf(o, "Signature valid: %s\n", yes(cert->signatureVerified));
  std::fprintf(o, "Revoked:         %s\n", yes(cert->revoked));
  std::string usages;
  const struct {
    uint8_t Certificate::*flag;
    const char* name;
  } flags[] = {{&Certificate::digitalSignature, "digitalSignature"},
               {&Certificate::nonRepudiation, "nonRepudiation"},
               {&Certificate::keyEncipherment, "keyEncipherment"},
               {&Certificate::dataEncipherment, "dataEncipherment"},
               {&Certificate::keyCertSign, "keyCertSign"},
               {&Certificate::cRLSign, "cRLSign"},
               {&Certificate::forSecureEmail, "secureEmail"},
               {&Certificate::forServerAuthentication, "serverAuth"},
               {&Certificate::forClientAuthentication, "clientAuth"},
               {&Certificate::forCodeSigning, "codeSigning"},
               {&Certificate::forTimeStamping, "timeStamping"}};
  for (const auto& f : flags) {
    if (!((*cert).*f.flag)) continue;
    if (!usages.empty()) usages += ", ";
    usages += f.name;
  }
  std::fprintf(o, "Key usage:       %s\n", usages.empty() ? "-" : usages.c_str());
  PCCERT_CHAIN_CONTEXT chain = nullptr;
  if (CertGetCertificateChain(nullptr, c, nullptr, nullptr, nullptr, 0, nullptr, &chain)) {
    std::fprintf(o, "Chain:           %s\n", trustText(chain->TrustStatus.dwErrorStatus).c_str());
    const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[0];
    for (DWORD i = 0; i < simple->cElement; ++i) {
      std::unique_ptr<Certificate> member(recordOf(simple->rgpElement[i]->pCertContext));
      std::fprintf(o, "  %u  %s  (%s)\n", i, member->subjectDn.getString(),
                   trustText(simple->rgpElement[i]->TrustStatus.dwErrorStatus).c_str());
    }
    CertFreeCertificateChain(chain);
  }
}

int certShow(CommandContext& ctx, int argc, char** argv) {
  ParsedArgs args;
  if (int r = parse(ctx, argc, argv, args, 1, {"--password-file"}); r >= 0) return r;
  const std::string& what = args.positional[0];
  if (isThumbprint(what) && access(what.c_str(), F_OK) != 0) {
    std::string where;
    Context found = findByThumbprint(what, where);
    if (found == nullptr) return failure(ctx, "no certificate has the thumbprint " + what);
    showCertificate(ctx, found.get(), where);
    return 0;
  }
  Loaded loaded;
  if (int r = loadFile(ctx, args, what, PKCS12_NO_PERSIST_KEY, loaded); r != 0) return r;
  for (size_t i = 0; i < loaded.certs.size(); ++i) {
    if (i > 0) std::fputs("\n", ctx.out);
    showCertificate(ctx, loaded.certs[i].get(), std::string());
  }
  return 0;
}

int certRemove(CommandContext& ctx, int argc, char** argv) {
  ParsedArgs args;
  if (int r = parse(ctx, argc, argv, args, 1, {"--store"}); r >= 0) return r;
  const std::string& print = args.positional[0];
  if (!isThumbprint(print))
    return badUsageBrief(ctx, "'" + print + "' is not a SHA-1 thumbprint (40 hex digits)");
  std::string error;
  const StoreName& s = storeArg(args);
  HCERTSTORE store = openStore(s, args.has("--machine"), false, error);
  if (store == nullptr) return failure(ctx, error);
  int status = -1;
  for (PCCERT_CONTEXT c = CertEnumCertificatesInStore(store, nullptr); c != nullptr;
       c = CertEnumCertificatesInStore(store, c)) {
    if (!sameThumbprint(thumbprint(c), print)) continue;
    // Deleting frees the context, which ends the enumeration.
    status = CertDeleteCertificateFromStore(c)
                 ? 0
                 : failure(ctx, "cannot remove it: " + lastErrorText());
    break;
  }
  CertCloseStore(store, 0);
  if (status < 0)
    return failure(ctx, "no certificate has the thumbprint " + print + " in " + s.name);
  if (status == 0) std::fprintf(ctx.out, "removed %s from %s\n", print.c_str(), s.name);
  return status;
}

}  // namespace

int runCert(int argc, char** argv, FILE* out, FILE* err) {
  CommandContext ctx{"cert", kCertUsage, out, err};
  const std::string sub = argc > 2 ? argv[2] : "";
  if (sub == "--help" || sub == "-h") {
    std::fputs(kCertUsage, out);
    return 0;
  }
  const struct {
    const char* name;
    int (*run)(CommandContext&, int, char**);
  } subs[] = {
      {"import", certImport}, {"list", certList}, {"show", certShow}, {"remove", certRemove}};
  for (const auto& s : subs) {
    if (sub != s.name) continue;
    std::string name = std::string("cert ") + s.name;
    ctx.name = name.c_str();
    const int status = s.run(ctx, argc, argv);
    const std::string problem = certStoreLastProblem();
    if (!problem.empty()) std::fprintf(err, "vormime %s: %s\n", ctx.name, problem.c_str());
    return status;
  }
  return badUsage(ctx, sub.empty() ? "a subcommand is needed" : "unknown subcommand '" + sub + "'");
}
