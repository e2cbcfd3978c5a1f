// `vormime sign|encrypt|verify|decrypt`: S/MIME through the Mime object's secure members, with
// the certificate and provider objects a script would create for them.
#include <sys/stat.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "cli/Commands.h"
#include "cli/ComponentModule.h"
#include "cli/DispatchClient.h"
#include "cli/HostCommand.h"
#include "cli/HostFiles.h"
#include "foundation/Conversion.h"
#include "platform/CodePage.h"

namespace {

const char* const kSignUsage =
    "usage: vormime sign [--opaque] [--hash sha1|sha256|sha384|sha512] --cert CERT\n"
    "                    [--password-file F] IN [OUT]\n"
    "Signs the message IN and writes it to OUT (standard output when omitted or \"-\"):\n"
    "multipart/signed with a detached signature (AddDetachedSignature), or with --opaque\n"
    "application/x-pkcs7-mime signed-data (ConvertToSigned). The hash is SHA-256 unless\n"
    "--hash names another.\n"
    "CERT is a PKCS #12 file (its password from --password-file, its first line, else asked\n"
    "for on a terminal), a certificate file whose key is in the user's stores, or the SHA-1\n"
    "thumbprint (40 hex digits naming no file) of a certificate in the personal store.\n";

const char* const kEncryptUsage =
    "usage: vormime encrypt [--cipher aes|3des|rc2|des] --to CERT [--password-file F] IN [OUT]\n"
    "Encrypts the message IN for the holder of CERT (Encrypt) and writes it to OUT (standard\n"
    "output when omitted or \"-\"). The cipher is AES-256 unless --cipher names another.\n"
    "CERT is a certificate file (PEM, DER or PKCS #12) or the SHA-1 thumbprint of a\n"
    "certificate in the personal store.\n";

const char* const kVerifyUsage =
    "usage: vormime verify IN [OUT]\n"
    "Verifies every signature of the message IN and unwraps it (UnwrapSecurity), decrypting\n"
    "what it can with the keys in the user's stores (a PKCS #12 file is imported first with\n"
    "vormime cert import). OUT, when given (\"-\" for standard output), receives the unwrapped\n"
    "message with the fields X-NumPartsSigned and X-SignaturesValid (X-NumPartsEncrypted and\n"
    "X-Decrypted when it was encrypted); fields of those names that IN already had are\n"
    "removed first, as only the unwrap may set them. Standard error shows a line per signer\n"
    "and recipient certificate and the member's messages.\n"
    "Exit status: 0 when every signature verified, at least one did, and no signed part is\n"
    "left; 1 otherwise, with a line saying why; 2 bad usage.\n";

const char* const kDecryptUsage =
    "usage: vormime decrypt IN [OUT]\n"
    "Decrypts the message IN with the keys in the user's stores and unwraps it\n"
    "(UnwrapSecurity), verifying any signature it holds; OUT as for vormime verify.\n"
    "Exit status: 0 when everything decrypted, something was, and no encrypted part is\n"
    "left; 1 otherwise, with a line saying why; 2 bad usage.\n";

// The provider every command names: the platform's base provider, which lists the SHA-2
// hashes and AES too.
constexpr const char* kBaseProvider = "Microsoft Base Cryptographic Provider v1.0";
constexpr const char* kSummaryFields[] = {"X-NumPartsSigned", "X-SignaturesValid",
                                          "X-NumPartsEncrypted", "X-Decrypted"};

Variant utf8Text(const std::string& s) { return Variant::text(s, CP_UTF8); }

// Arguments for a call: a VARIANT cannot be copied, so no initializer list can hold them.
template <typename... Values>
std::vector<Variant> argList(Values&&... values) {
  std::vector<Variant> out;
  (out.push_back(std::forward<Values>(values)), ...);
  return out;
}

Variant objectArg(DispatchClient& object) {
  Variant v;
  v.get()->vt = VT_DISPATCH;
  v.get()->pdispVal = object.get();
  object.get()->AddRef();
  return v;
}

bool isRegularFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool isThumbprint(const std::string& s) {
  if (s.size() != 40) return false;
  for (char c : s)
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
  return true;
}

// A file that is neither PEM nor DER-encoded X.509 but a PKCS #12 bundle: both are DER
// SEQUENCEs, but a PFX begins with its version INTEGER 3 right inside it.
bool looksLikePfx(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  unsigned char head[8] = {};
  in.read(reinterpret_cast<char*>(head), sizeof head);
  const std::streamsize n = in.gcount();
  if (n < 5 || head[0] != 0x30) return false;
  size_t at = 2;
  if (head[1] & 0x80) at += head[1] & 0x7F;
  return at + 2 < size_t(n) && head[at] == 0x02 && head[at + 1] == 0x01 && head[at + 2] == 0x03;
}

// A certificate object holding CERT: a PKCS #12 file, a certificate file (with its key from
// the user's stores when `wantKey` and they have it), or a thumbprint. Returns 0, or the
// exit status after saying why there is none.
int loadCertificate(CommandContext& ctx, const ParsedArgs& args, const std::string& cert,
                    bool wantKey, DispatchClient& out) {
  std::string error;
  out = DispatchClient::create(kCertProgId, error, ctx.err);
  if (!out.valid()) return failure(ctx, error);
  LONG ok = 0;
  auto failed = [&](const std::string& what) {
    const std::string reason = out.lastErrorText();
    return failure(ctx, what + (reason.empty() ? "" : ":\n" + reason));
  };
  if (isRegularFile(cert)) {
    if (!checkPath(ctx, cert)) return 2;
    if (looksLikePfx(cert)) {
      std::string password;
      if (int status = readPasswordLine(ctx, args, password); status != 0) return status;
      if (!out.callLong("LoadPfxFile", argList(utf8Text(cert), utf8Text(password)), ok) || ok != 1)
        return failed("cannot load the PKCS #12 file " + cert);
      return 0;
    }
    if (!out.callLong("LoadFromFile", argList(utf8Text(cert)), ok) || ok != 1)
      return failed("cannot load the certificate " + cert);
    if (!wantKey) return 0;
    // Its key is where the import put it: the stored copy carries the link to it.
    std::string thumbprint;
    out.callText("Sha1Thumbprint", {}, CP_UTF8, thumbprint);
    LONG stored = 0;
    for (LONG machine : {0, 1})
      if (out.callLong("LoadFromStoreByThumbprint",
                       argList(utf8Text(thumbprint), Variant::number(machine)), stored) &&
          stored == 1)
        return 0;
    out.callLong("LoadFromFile", argList(utf8Text(cert)), ok);
    return 0;  // signing says so when there is no key
  }
  if (isThumbprint(cert)) {
    for (LONG machine : {0, 1})
      if (out.callLong("LoadFromStoreByThumbprint",
                       argList(utf8Text(cert), Variant::number(machine)), ok) &&
          ok == 1)
        return 0;
    return failed("no certificate with the thumbprint " + cert + " in the personal stores");
  }
  return failure(ctx, "cannot read " + cert + ": no such file (nor a 40-digit thumbprint)");
}

// Hands the algorithm choice to the object through a provider object, as a script does.
int applyProvider(CommandContext& ctx, DispatchClient& mime, const char* hash, const char* cipher) {
  std::string error;
  DispatchClient csp = DispatchClient::create("VorlundCSP.VorlundCSP", error, ctx.err);
  if (!csp.valid()) return failure(ctx, error);
  csp.put("ProviderType", Variant::number(1));
  csp.put("ProviderName", Variant::text(kBaseProvider, ansiCodePage()));
  csp.put("KeyContainerName", Variant::text("", ansiCodePage()));
  if (hash != nullptr) csp.put("HashAlgorithm", Variant::text(hash, ansiCodePage()));
  if (cipher != nullptr) csp.put("EncryptAlgorithm", Variant::text(cipher, ansiCodePage()));
  std::vector<Variant> args = argList(objectArg(csp));
  Variant result;
  if (FAILED(mime.call("SetCSP", args, result)))
    return failure(ctx, "the Mime object does not take the provider settings");
  return 0;
}

// Loads IN, runs `wrap` with CERT, and writes the result; the shared shape of sign and encrypt.
int wrapCommand(CommandContext& ctx, const ParsedArgs& args, const std::string& certArg,
                const char* member, bool wantKey, const char* hash, const char* cipher) {
  if (args.positional.empty() || args.positional.size() > 2)
    return badUsage(ctx, "expected IN and at most one OUT");
  const std::string outName = args.positional.size() == 2 ? args.positional[1] : "-";
  if (!checkPath(ctx, args.positional[0]) || !checkPath(ctx, outName)) return 2;
  DispatchClient mime(nullptr);
  if (int status = openMessage(ctx, args.positional[0], "LoadMimeFile", mime); status != 0)
    return status;
  std::string error;
  OutputFile output;
  if (!output.open(outName, error)) return failure(ctx, error);
  DispatchClient cert(nullptr);
  if (int status = loadCertificate(ctx, args, certArg, wantKey, cert); status != 0) return status;
  if (int status = applyProvider(ctx, mime, hash, cipher); status != 0) return status;

  std::vector<Variant> callArgs = argList(objectArg(cert));
  Variant result;
  const HRESULT hr = mime.call(member, callArgs, result);
  if (FAILED(hr) || result.type() != VT_I4 || (*result).lVal != 1)
    return memberFailed(ctx, mime, member, "the message was left as it was");
  logSuccess(ctx, mime, member);
  if (int status = callWithPath(ctx, mime, "SaveMime", output.path(),
                                outName == "-" ? "standard output" : outName);
      status != 0)
    return status;
  if (!output.finish(ctx.out, error)) return failure(ctx, error);
  return 0;
}

std::string textOf(DispatchClient& object, const char* property) {
  std::string value;
  object.callText(property, {}, CP_UTF8, value);
  return value;
}

LONG flagOf(DispatchClient& object, const char* property) {
  LONG value = 0;
  object.callLong(property, {}, value);
  return value;
}

// One line per certificate of a list: subject, e-mail address, and what its chain says.
void printCertificates(CommandContext& ctx, DispatchClient& mime, const char* role,
                       const char* countMember, const char* getMember) {
  LONG count = 0;
  mime.callLong(countMember, {}, count);
  for (LONG i = 0; i < count; ++i) {
    std::vector<Variant> args = argList(Variant::number(i));
    Variant result;
    if (FAILED(mime.call(getMember, args, result)) || result.type() != VT_DISPATCH ||
        (*result).pdispVal == nullptr)
      continue;
    (*result).pdispVal->AddRef();
    DispatchClient cert((*result).pdispVal);
    std::string line = std::string(role) + ": " + textOf(cert, "SubjectDN");
    const std::string email = textOf(cert, "Email");
    if (!email.empty()) line += " <" + email + ">";
    line += flagOf(cert, "TrustedRoot") ? " (trusted root" : " (untrusted root";
    if (flagOf(cert, "Expired")) line += ", expired";
    if (flagOf(cert, "Revoked")) line += ", revoked";
    std::fprintf(ctx.err, "%s)\n", line.c_str());
  }
}

// verify and decrypt: UnwrapSecurity, the certificates and messages on stderr, and the exit
// status from what was secured and what is left.
int unwrapCommand(CommandContext& ctx, int argc, char** argv, bool forSignatures) {
  ParsedArgs args;
  const ParseOutcome parsed = parseCommandArgs(ctx, argc, argv, {}, args);
  if (parsed != ParseOutcome::kRun) return parsed == ParseOutcome::kHelp ? 0 : 2;
  if (args.positional.empty() || args.positional.size() > 2)
    return badUsage(ctx, "expected IN and at most one OUT");
  const bool writeOut = args.positional.size() == 2;
  const std::string outName = writeOut ? args.positional[1] : std::string();
  if (!checkPath(ctx, args.positional[0]) || (writeOut && !checkPath(ctx, outName))) return 2;
  DispatchClient mime(nullptr);
  if (int status = openMessage(ctx, args.positional[0], "LoadMimeFile", mime); status != 0)
    return status;
  std::string error;
  OutputFile output;
  if (writeOut && !output.open(outName, error)) return failure(ctx, error);

  // Only the unwrap may say what was verified: a message cannot vouch for itself.
  for (const char* field : kSummaryFields) {
    std::vector<Variant> fieldArgs = argList(utf8Text(field), utf8Text(""));
    Variant ignored;
    mime.call("SetHeaderField", fieldArgs, ignored);
  }
  mime.put("UnwrapExtras", Variant::number(1));
  LONG unwrapped = 0;
  mime.callLong("UnwrapSecurity", {}, unwrapped);
  // Read first: asking for the certificates starts a new log.
  const std::string log = mime.lastErrorText();
  printCertificates(ctx, mime, "signer", "NumSignerCerts", "GetSignerCert");
  printCertificates(ctx, mime, "recipient", "NumEncryptCerts", "GetEncryptCert");
  if (!log.empty()) std::fputs(log.c_str(), ctx.err);

  auto count = [&](const char* field) {
    std::string value;
    mime.callText("GetHeaderField", argList(utf8Text(field)), CP_UTF8, value);
    return std::atol(value.c_str());
  };
  const long numSigned = count("X-NumPartsSigned");
  const long numEncrypted = count("X-NumPartsEncrypted");
  const LONG signedLeft = flagOf(mime, "ContainsSignedParts");
  const LONG encryptedLeft = flagOf(mime, "ContainsEncryptedParts");

  if (writeOut) {
    if (int status = callWithPath(ctx, mime, "SaveMime", output.path(),
                                  outName == "-" ? "standard output" : outName);
        status != 0)
      return status;
    if (!output.finish(ctx.out, error)) return failure(ctx, error);
  }

  const long secured = forSignatures ? numSigned : numEncrypted;
  const LONG left = forSignatures ? signedLeft : encryptedLeft;
  const char* kind = forSignatures ? "signed" : "encrypted";
  if (unwrapped != 1)
    return failure(ctx, forSignatures && numSigned > 0 ? "not every signature verified"
                                                       : "not everything could be decrypted");
  if (secured == 0 && left != 0)
    return failure(ctx,
                   std::string("a ") + kind + " part inside multipart/mixed was left as it is");
  if (secured == 0)
    return failure(ctx, forSignatures ? "no signature found" : "nothing encrypted found");
  if (left != 0) return failure(ctx, std::string("a ") + kind + " part was left as it is");
  return 0;
}

const char* hashName(const std::string& option) {
  if (option == "sha1") return "SHA-1";
  if (option == "sha256") return "SHA-256";
  if (option == "sha384") return "SHA-384";
  if (option == "sha512") return "SHA-512";
  return nullptr;
}

const char* cipherName(const std::string& option) {
  if (option == "aes") return "AES";
  if (option == "3des") return "3DES";
  if (option == "rc2") return "RC2";
  if (option == "des") return "DES";
  return nullptr;
}

}  // namespace

int runSign(int argc, char** argv, FILE* out, FILE* err) {
  CommandContext ctx{"sign", kSignUsage, out, err};
  ParsedArgs args;
  const ParseOutcome parsed = parseCommandArgs(
      ctx, argc, argv, {"--cert", "--hash", "--password-file"}, args, {"--opaque"});
  if (parsed != ParseOutcome::kRun) return parsed == ParseOutcome::kHelp ? 0 : 2;
  if (args.values.count("--cert") == 0) return badUsage(ctx, "--cert CERT is needed");
  const std::string hashOption = args.values.count("--hash") ? args.values["--hash"] : "sha256";
  const char* hash = hashName(hashOption);
  if (hash == nullptr) return badUsage(ctx, "unknown hash " + hashOption);
  return wrapCommand(ctx, args, args.values["--cert"],
                     args.has("--opaque") ? "ConvertToSigned" : "AddDetachedSignature", true, hash,
                     nullptr);
}

int runEncrypt(int argc, char** argv, FILE* out, FILE* err) {
  CommandContext ctx{"encrypt", kEncryptUsage, out, err};
  ParsedArgs args;
  const ParseOutcome parsed =
      parseCommandArgs(ctx, argc, argv, {"--to", "--cipher", "--password-file"}, args);
  if (parsed != ParseOutcome::kRun) return parsed == ParseOutcome::kHelp ? 0 : 2;
  if (args.values.count("--to") == 0) return badUsage(ctx, "--to CERT is needed");
  const std::string cipherOption = args.values.count("--cipher") ? args.values["--cipher"] : "aes";
  const char* cipher = cipherName(cipherOption);
  if (cipher == nullptr) return badUsage(ctx, "unknown cipher " + cipherOption);
  return wrapCommand(ctx, args, args.values["--to"], "Encrypt", false, nullptr, cipher);
}

int runVerify(int argc, char** argv, FILE* out, FILE* err) {
  CommandContext ctx{"verify", kVerifyUsage, out, err};
  return unwrapCommand(ctx, argc, argv, true);
}

int runDecrypt(int argc, char** argv, FILE* out, FILE* err) {
  CommandContext ctx{"decrypt", kDecryptUsage, out, err};
  return unwrapCommand(ctx, argc, argv, false);
}
