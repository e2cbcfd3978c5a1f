#include "smime/SecureMime.h"

#include <cstring>
#include <memory>

#include "foundation/DataBuffer.h"
#include "foundation/ExtPtrArray.h"
#include "foundation/LogBase.h"
#include "foundation/StringBuffer.h"
#include "mime/MimeMessage2.h"
#include "mime/MimeParser.h"
#include "mime/MimeWriter.h"
#include "smime/Certificate.h"
#include "smime/CertificateStore.h"
#include "smime/CspSettings.h"
#include "smime/VR_Crypt.h"

namespace {

// The same entity is examined at most this many times: each pass unwraps one layer, so a
// message wrapped deeper than this keeps its innermost layers as they are.
constexpr int kMaxPasses = 30;
// Sub-parts are walked by recursion; the parser bounds the nesting of one text, and this
// bounds what layers of unwrapped content nested in each other can add up to.
constexpr int kMaxWalkDepth = 4 * kMaxMimeNesting;

const Charset& noCharset() {
  static const Charset none;
  return none;
}

void removeAllParts(MimeMessage2& e) {
  for (int32_t i = e.getNumParts() - 1; i >= 0; --i) e.removePart(i);
}

// A crypto session with the host's provider settings applied, when it gave any.
std::unique_ptr<VR_Crypt> cryptFor(const SecureState& state, LogBase& log) {
  auto crypt = std::make_unique<VR_Crypt>();
  if (!state.csp.providerName.isEmpty()) crypt->setPreferences(state.csp, &log);
  return crypt;
}

// A successful wrap: the lists describe this wrap only, so what an unwrap left goes first.
bool recordCopy(const Certificate& cert, ExtPtrArray& list, SecureState& state) {
  if (state.certsFromUnwrap) {
    state.certsFromUnwrap = false;
    state.signerCerts.removeAllObjects();
    state.encryptCerts.removeAllObjects();
  }
  Certificate* copy = cert.clone();
  if (copy == nullptr) return false;
  list.appendPtr(copy);
  return true;
}

// The body of a signed-data or enveloped wrapper: the DER bytes as an attachment in base64.
void writePkcs7Mime(MimeMessage2& e, const char* smimeType, DataBuffer& der) {
  e.setDisposition("attachment", "smime.p7m");
  e.setEncoding("base64");
  ContentTypeValue value;
  value.type.setString("application/x-pkcs7-mime");
  value.name.setString("smime.p7m");
  value.smimeType.setString(smimeType);
  e.setContentTypeValue(value);
  e.takeBodyRaw(der, noCharset());
  removeAllParts(e);
}

// The state of one unwrap: the stores searched for decryption keys, the crypto session and
// the counts and outcomes the summary reports.
class Unwrapper {
 public:
  Unwrapper(SecureState& state, LogBase& log) : state_(state), log_(log) {}

  void run(MimeMessage2& root) {
    openStoreList(stores_, true, &log_);
    walk(root, 0);
    stores_.removeAllObjects();
  }

  bool secured = false;
  bool allSignaturesValid = true;
  bool allDecrypted = true;
  int32_t numSigned = 0;
  int32_t numEncrypted = 0;

 private:
  enum class Outcome { kDone, kFailed, kMalformed };

  void walk(MimeMessage2& e, int depth) {
    if (depth > kMaxWalkDepth) return;
    for (int pass = 0; pass < kMaxPasses; ++pass) {
      if (e.isMultipartSigned()) {
        // A multipart/signed whose structure is wrong stays as it is, so another pass would
        // only find it again: counting and logging it once per unwrap tells the host what is
        // wrong without thirty copies of the same error and an inflated count.
        if (unwrapMultipartSigned(e, depth) == Outcome::kMalformed || !allSignaturesValid) return;
      } else if (e.isEncrypted()) {
        unwrapEnveloped(e);
        if (!allDecrypted) return;
      } else if (e.isSignedData()) {
        unwrapSignedData(e);
        if (!allSignaturesValid) return;
      } else {
        if (e.isMultipartMixed()) return;
        for (int32_t i = 0; i < e.getNumParts(); ++i)
          if (MimeMessage2* part = e.getPart(i)) walk(*part, depth + 1);
        return;
      }
    }
  }

  void logCert(const Certificate& cert, const char* issuerKey, const char* subjectKey) {
    StringBuffer name;
    cert.getIssuerName(name);
    log_.logData(issuerKey, name.getString());
    name.clear();
    cert.getSubjectName(name);
    log_.logData(subjectKey, name.getString());
  }

  void keepSigner(Certificate* cert) {
    if (cert == nullptr) return;
    logCert(*cert, "signature_cert_issuer", "signature_cert_subject");
    state_.signerCerts.appendPtr(cert);
  }

  Outcome unwrapMultipartSigned(MimeMessage2& e, int depth) {
    secured = true;
    ++numSigned;
    if (e.getNumParts() != 2) {
      log_.logError("unwrap multipart/signed: number of parts is not equal to 2");
      log_.logDataLong("num_parts", e.getNumParts());
      return Outcome::kMalformed;
    }
    int32_t contentIndex = 0;
    int32_t signatureIndex = 1;
    MimeMessage2* content = e.getPart(contentIndex);
    MimeMessage2* signature = e.getPart(signatureIndex);
    if (content == nullptr || signature == nullptr) {
      log_.logError("unwrap multipart/signed -- missing subparts");
      return Outcome::kMalformed;
    }
    if (content->isSignaturePart()) {
      std::swap(content, signature);
      std::swap(contentIndex, signatureIndex);
    }
    if (!signature->isSignaturePart()) {
      log_.logError("unwrap multipart/signed: unexpected content type");
      log_.logData("content_type", signature->contentType().getString());
      return Outcome::kMalformed;
    }
    Certificate* signer = nullptr;
    const StringBuffer& signedText = content->rawText();
    bool verified = crypt_.verifyDetachedSignature(
        &signature->body(), reinterpret_cast<const unsigned char*>(signedText.getString()),
        signedText.getSize(), nullptr, &signer, &log_);
    keepSigner(signer);
    if (!verified) {
      log_.logError("Failed to verify detached digital signature");
      allSignaturesValid = false;
      return Outcome::kFailed;
    }
    walk(*content, depth + 1);
    std::unique_ptr<MimeMessage2> inner(e.takePart(contentIndex));
    removeAllParts(e);
    e.mergeContent(*inner);
    return Outcome::kDone;
  }

  // Unwraps signed-data in `e`; true when it verified and `e` now holds the content.
  bool unwrapSignedData(MimeMessage2& e) {
    secured = true;
    ++numSigned;
    DataBuffer* content = nullptr;
    Certificate* signer = nullptr;
    bool verified = crypt_.verifySignature(&e.body(), &content, &signer, &log_);
    std::unique_ptr<DataBuffer> owned(content);
    keepSigner(signer);
    if (!verified) {
      log_.logError("Failed to verify signature (Unwrap Signed Data)");
      allSignaturesValid = false;
      return false;
    }
    mergeLoaded(e, content);
    return true;
  }

  void unwrapEnveloped(MimeMessage2& e) {
    secured = true;
    ++numEncrypted;
    DataBuffer plain;
    Certificate* recipient = nullptr;
    const DataBuffer& body = e.body();
    bool decrypted =
        crypt_.decrypt(body.getData(), body.getSize(), plain, &stores_, &recipient, &log_);
    if (!decrypted) log_.logError("Failed to decrypt message");
    if (recipient != nullptr) {
      logCert(*recipient, "decrypt_cert_issuer", "decrypt_cert_subject");
      state_.encryptCerts.appendPtr(recipient);
    }
    if (!decrypted) {
      allDecrypted = false;
      return;
    }
    StringBuffer text;
    text.takeData(plain);
    MimeMessage2 inner;
    loadEntityTaking(inner, text, &log_);
    if (inner.isSignedData()) unwrapSignedData(inner);
    e.mergeContent(inner);
  }

  void mergeLoaded(MimeMessage2& e, DataBuffer* bytes) {
    StringBuffer text;
    if (bytes != nullptr) text.takeData(*bytes);
    MimeMessage2 inner;
    loadEntityTaking(inner, text, &log_);
    e.mergeContent(inner);
  }

  SecureState& state_;
  LogBase& log_;
  VR_Crypt crypt_;
  ExtPtrArray stores_;
};

}  // namespace

const char* micalgForHashOid(const char* oid) {
  if (oid == nullptr) return "SHA1";
  if (std::strcmp(oid, "2.16.840.1.101.3.4.2.1") == 0) return "sha-256";
  if (std::strcmp(oid, "2.16.840.1.101.3.4.2.2") == 0) return "sha-384";
  if (std::strcmp(oid, "2.16.840.1.101.3.4.2.3") == 0) return "sha-512";
  return "SHA1";
}

bool addDetachedSignature(MimeMessage2& e, const Certificate& cert, SecureState& state,
                          LogBase& log) {
  StringBuffer signedText;
  writeEntire(e, signedText);
  StringBuffer boundary;
  makeBoundary(boundary);
  e.clear();
  std::unique_ptr<VR_Crypt> crypt = cryptFor(state, log);
  std::unique_ptr<DataBuffer> signature(crypt->createMachineDetachedSignature(
      &cert, reinterpret_cast<const unsigned char*>(signedText.getString()), signedText.getSize(),
      &log));
  if (signature == nullptr) {
    e.clear();
    loadEntity(e, signedText, &log);
    return false;
  }
  // Written once the signature is made: micalg names its hash when that is not SHA-1, as
  // receivers that hash the first part while they read it take the algorithm from there.
  ContentTypeValue value;
  value.type.setString("multipart/signed");
  value.protocol.setString("application/x-pkcs7-signature");
  value.micalg.setString("SHA1");
  StringBuffer hashOid;
  if (crypt->hashAlg != nullptr && crypt->hashAlg->getOid(hashOid))
    value.micalg.setString(micalgForHashOid(hashOid.getString()));
  value.boundary.setSb(boundary);
  e.setContentTypeValue(value);

  auto* signaturePart = new MimeMessage2();
  signaturePart->setEncoding("base64");
  ContentTypeValue signatureType;
  signatureType.type.setString("application/x-pkcs7-signature");
  signatureType.name.setString("smime.p7s");
  signaturePart->setContentTypeValue(signatureType);
  signaturePart->setDisposition("attachment", "smime.p7s");
  signaturePart->takeBodyRaw(*signature, noCharset());

  auto* content = new MimeMessage2();
  loadEntity(*content, signedText, &log);
  content->rawText().setSb(signedText);
  e.appendPart(content);
  e.appendPart(signaturePart);
  return recordCopy(cert, state.signerCerts, state);
}

bool convertToSigned(MimeMessage2& e, const Certificate& cert, SecureState& state, LogBase& log) {
  StringBuffer signedText;
  writeEntire(e, signedText);
  std::unique_ptr<VR_Crypt> crypt = cryptFor(state, log);
  std::unique_ptr<DataBuffer> signedData(crypt->createAttachedSignature(
      &cert, reinterpret_cast<const unsigned char*>(signedText.getString()), signedText.getSize(),
      &log));
  if (signedData == nullptr) return false;
  writePkcs7Mime(e, "signed-data", *signedData);
  return recordCopy(cert, state.signerCerts, state);
}

bool encryptEntity(MimeMessage2& e, const Certificate& cert, SecureState& state, LogBase& log) {
  StringBuffer text;
  writeEntire(e, text);
  std::unique_ptr<VR_Crypt> crypt = cryptFor(state, log);
  DataBuffer enveloped;
  if (!crypt->encryptData(reinterpret_cast<const unsigned char*>(text.getString()), text.getSize(),
                          enveloped, &cert, &log))
    return false;
  writePkcs7Mime(e, "", enveloped);
  return recordCopy(cert, state.encryptCerts, state);
}

bool unwrapSecurity(MimeMessage2& e, SecureState& state, LogBase& log) {
  state.signerCerts.removeAllObjects();
  state.encryptCerts.removeAllObjects();
  Unwrapper walk(state, log);
  walk.run(e);
  state.certsFromUnwrap = true;
  if (!walk.secured) return true;

  StringBuffer count;
  if (walk.numSigned > 0 && state.unwrapExtras) {
    count.appendInt(walk.numSigned);
    e.setHeaderField("X-NumPartsSigned", count.getString());
    e.setHeaderField("X-SignaturesValid", walk.allSignaturesValid ? "yes" : "no");
  }
  if (walk.numEncrypted > 0 && state.unwrapExtras) {
    count.clear();
    count.appendInt(walk.numEncrypted);
    e.setHeaderField("X-NumPartsEncrypted", count.getString());
    e.setHeaderField("X-Decrypted", walk.allDecrypted ? "yes" : "no");
  }
  if (walk.numSigned > 0 && walk.numEncrypted > 0)
    log.logInfo("This message was signed and encrypted");
  else if (walk.numSigned > 0)
    log.logInfo("This message was signed, but not encrypted");
  else
    log.logInfo("This message was encrypted, but not signed");
  if (!walk.allSignaturesValid)
    log.logError("Not all signatures were valid");
  else if (walk.numSigned > 0)
    log.logInfo("All signatures are valid");
  if (!walk.allDecrypted)
    log.logError("Not all data was decrypted");
  else if (walk.numEncrypted > 0)
    log.logInfo("All data successfully decrypted");
  if (walk.numSigned > 0) log.logDataLong("num_parts_signed", walk.numSigned);
  if (walk.numEncrypted > 0) log.logDataLong("num_parts_encrypted", walk.numEncrypted);
  return walk.allSignaturesValid && walk.allDecrypted;
}
