#include "smime/Certificate.h"

#include <cstring>
#include <string>
#include <vector>

#include "foundation/ByteCodecs.h"
#include "foundation/Conversion.h"
#include "foundation/DataBuffer.h"
#include "foundation/LogBase.h"
#include "platform/CodePage.h"

namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

// Splits at `sep` outside double quotes; a quote toggles and is kept, a backslash keeps the
// next byte with it.
std::vector<std::string> splitQuoted(const char* s, uint32_t n, char sep) {
  std::vector<std::string> pieces(1);
  bool quoted = false;
  for (uint32_t i = 0; i < n; ++i) {
    const char c = s[i];
    if (c == '\\' && i + 1 < n) {
      pieces.back().push_back(c);
      pieces.back().push_back(s[++i]);
    } else if (c == '"') {
      quoted = !quoted;
      pieces.back().push_back(c);
    } else if (c == sep && !quoted) {
      pieces.emplace_back();
    } else {
      pieces.back().push_back(c);
    }
  }
  return pieces;
}

std::string trimmed(const std::string& s) {
  const char* blanks = " \t\r\n";
  const size_t start = s.find_first_not_of(blanks);
  if (start == std::string::npos) return std::string();
  return s.substr(start, s.find_last_not_of(blanks) - start + 1);
}

void upperKey(std::string& key) {
  for (char& ch : key) {
    const auto b = static_cast<unsigned char>(ch);
    if ((b >= 'a' && b <= 'z') || b >= 0xE0) ch = static_cast<char>(b - 0x20);
  }
}

}  // namespace

void splitDnParts(const StringBuffer& dn, ExtPtrArray& parts) {
  for (const std::string& piece : splitQuoted(dn.getString(), dn.getSize(), ',')) {
    std::vector<std::string> kv = splitQuoted(piece.data(), uint32_t(piece.size()), '=');
    if (kv.size() != 2) continue;
    std::string key = trimmed(kv[0]);
    upperKey(key);
    auto* pair = new StringPair;
    pair->key.append(key.c_str());
    const std::string value = trimmed(kv[1]);
    pair->value.appendN(value.data(), int64_t(value.size()));
    parts.appendPtr(pair);
  }
}

Certificate::Certificate(PCCERT_CONTEXT ctx) : context(ctx) {
  if (context != nullptr) deriveProperties();
}

Certificate::Certificate(const char* base64Text, uint32_t length, LogBase* log) {
  if (base64Text == nullptr || length == 0) return;
  DataBuffer der;
  decodeBase64(base64Text, length, der);
  context = CertCreateCertificateContext(X509_ASN_ENCODING, der.getData(), der.getSize());
  if (context == nullptr) {
    if (log != nullptr) {
      StringBuffer msg("CertCreateCertificateContext: ");
      msg.appendLastWindowsError();
      log->logError(msg.getString());
    }
    return;
  }
  deriveProperties();
}

Certificate::~Certificate() {
  if (context != nullptr) CertFreeCertificateContext(context);
  issuerParts.removeAllObjects();
  subjectParts.removeAllObjects();
}

Certificate* Certificate::clone() const {
  if (context == nullptr) return nullptr;
  StringBuffer b64;
  LogNull quiet;
  if (!getEncoded(b64, &quiet)) return nullptr;
  return new Certificate(b64.getString(), b64.getSize(), nullptr);
}

bool Certificate::getEncoded(StringBuffer& out, LogBase* log) const {
  LogBase& l = logOrNull(log);
  if (context == nullptr) {
    l.logError("Failed to get encoded certificate: no cert context found");
    return false;
  }
  if (context->pbCertEncoded == nullptr || context->cbCertEncoded == 0) {
    l.logError("Failed to get encoded certificate: no encoded data found within cert context");
    return false;
  }
  encodeBase64(context->pbCertEncoded, context->cbCertEncoded, out);
  return true;
}

void Certificate::nameText(const CERT_NAME_BLOB& name, DWORD type, StringBuffer& out) const {
  auto* blob = const_cast<CERT_NAME_BLOB*>(&name);
  const DWORD n = CertNameToStrA(kEncoding, blob, type, nullptr, 0);
  if (n < 2) return;
  std::vector<char> text(n + 1, '\0');
  if (CertNameToStrA(kEncoding, blob, type, text.data(), n + 1) < 2) return;
  out.append(text.data());
}

void Certificate::getSubjectDn(StringBuffer& out) const {
  if (context != nullptr) nameText(context->pCertInfo->Subject, CERT_X500_NAME_STR, out);
}
void Certificate::getIssuerDn(StringBuffer& out) const {
  if (context != nullptr) nameText(context->pCertInfo->Issuer, CERT_X500_NAME_STR, out);
}
void Certificate::getSubjectName(StringBuffer& out) const {
  if (context != nullptr) nameText(context->pCertInfo->Subject, CERT_SIMPLE_NAME_STR, out);
}
void Certificate::getIssuerName(StringBuffer& out) const {
  if (context != nullptr) nameText(context->pCertInfo->Issuer, CERT_SIMPLE_NAME_STR, out);
}

bool Certificate::isExpired() const {
  if (context == nullptr) return true;
  SYSTEMTIME st;
  GetSystemTime(&st);
  FILETIME now;
  SystemTimeToFileTime(&st, &now);
  return CompareFileTime(&now, &context->pCertInfo->NotAfter) > 0;
}

bool Certificate::isSelfSigned() const { return issuerDn.equalsSb(subjectDn); }

void Certificate::deriveProperties() {
  getIssuerDn(issuerDn);
  getSubjectDn(subjectDn);
  splitDnParts(issuerDn, issuerParts);
  splitDnParts(subjectDn, subjectParts);
  deriveExtensions();
  deriveTrust();
}

void Certificate::deriveExtensions() {
  const CERT_INFO* info = context->pCertInfo;
  for (DWORD i = 0; i < info->cExtension; ++i) {
    const CERT_EXTENSION& ext = info->rgExtension[i];
    DWORD size = 0;
    if (!CryptDecodeObject(kEncoding, ext.pszObjId, ext.Value.pbData, ext.Value.cbData, 0, nullptr,
                           &size) ||
        size == 0)
      continue;
    std::vector<BYTE> block(size);
    if (!CryptDecodeObject(kEncoding, ext.pszObjId, ext.Value.pbData, ext.Value.cbData, 0,
                           block.data(), &size))
      continue;
    if (std::strcmp(ext.pszObjId, szOID_KEY_USAGE) == 0) {
      const auto* bits = reinterpret_cast<const CRYPT_BIT_BLOB*>(block.data());
      if (bits->cbData == 0) continue;
      const BYTE b = bits->pbData[0];
      digitalSignature = (b & 0x80) != 0;
      nonRepudiation = (b & 0x40) != 0;
      keyEncipherment = (b & 0x20) != 0;
      dataEncipherment = (b & 0x10) != 0;
      keyCertSign = (b & 0x04) != 0;
      cRLSign = (b & 0x02) != 0;
    } else if (std::strcmp(ext.pszObjId, szOID_SUBJECT_ALT_NAME2) == 0) {
      const auto* names = reinterpret_cast<const CERT_ALT_NAME_INFO*>(block.data());
      for (DWORD k = 0; k < names->cAltEntry; ++k) {
        const CERT_ALT_NAME_ENTRY& e = names->rgAltEntry[k];
        if (e.dwAltNameChoice != CERT_ALT_NAME_RFC822_NAME || e.pwszRfc822Name == nullptr) continue;
        rfc822Name.clear();
        const uint32_t chars = uint32_t(std::char_traits<char16_t>::length(e.pwszRfc822Name));
        convertCodePageSb(CP_UTF16LE, ansiCodePage(), e.pwszRfc822Name, chars * 2, rfc822Name);
      }
    } else if (std::strcmp(ext.pszObjId, szOID_ENHANCED_KEY_USAGE) == 0) {
      hasExtendedKeyUsage = 1;
      const auto* usage = reinterpret_cast<const CERT_ENHKEY_USAGE*>(block.data());
      const struct {
        const char* oid;
        uint8_t Certificate::*flag;
      } usages[] = {
          {"1.3.6.1.5.5.7.3.1", &Certificate::forServerAuthentication},
          {"1.3.6.1.5.5.7.3.2", &Certificate::forClientAuthentication},
          {"1.3.6.1.5.5.7.3.3", &Certificate::forCodeSigning},
          {"1.3.6.1.5.5.7.3.4", &Certificate::forSecureEmail},
          {"1.3.6.1.5.5.7.3.8", &Certificate::forTimeStamping},
      };
      for (DWORD k = 0; k < usage->cUsageIdentifier; ++k)
        for (const auto& u : usages)
          if (std::strcmp(usage->rgpszUsageIdentifier[k], u.oid) == 0) this->*u.flag = 1;
    }
  }
}

void Certificate::deriveTrust() {
  CERT_CHAIN_ENGINE_CONFIG config{};
  config.cbSize = 40;
  config.dwFlags = CERT_CHAIN_CACHE_END_CERT;
  HCERTCHAINENGINE engine = nullptr;
  if (!CertCreateCertificateChainEngine(&config, &engine)) return;
  CERT_CHAIN_PARA para{};
  para.cbSize = 16;
  para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
  PCCERT_CHAIN_CONTEXT chain = nullptr;
  if (CertGetCertificateChain(nullptr, context, nullptr, nullptr, &para, 0, nullptr, &chain)) {
    signatureVerified = 1;
    trustedRoot = 1;
    expired = 0;
    chainRevoked = 0;
    const DWORD status = chain->TrustStatus.dwErrorStatus;
    if (status & CERT_TRUST_IS_NOT_TIME_VALID) expired = 1;
    if (status & CERT_TRUST_IS_REVOKED) revoked = chainRevoked = 1;
    if (status & CERT_TRUST_IS_NOT_SIGNATURE_VALID) signatureVerified = 0;
    if (status & CERT_TRUST_IS_UNTRUSTED_ROOT) trustedRoot = 0;
    CertFreeCertificateChain(chain);
  }
  CertFreeCertificateChainEngine(engine);
}
