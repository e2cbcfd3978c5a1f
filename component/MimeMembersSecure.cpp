// The secure-MIME members: signing, encryption and unwrapping of the entity, the certificate
// lists they fill with their certificate objects, and the provider settings.
#include "component/CVorlundMime.h"
#include "component/MemberFrame.h"
#include "component/SiblingInterfaces.h"
#include "foundation/Conversion.h"
#include "platform/ComActivation.h"
#include "smime/Certificate.h"
#include "smime/SecureMime.h"

namespace {

// A new certificate object of the sibling component holding `cert`; null when the component
// cannot be created (no message, as a host without it expects).
IVorlundCert* certificateObject(const Certificate& cert) {
  void* p = nullptr;
  if (FAILED(CoCreateInstance(CLSID_VorlundCert, nullptr, CLSCTX_INPROC_SERVER, IID_IVorlundCert,
                              &p)) ||
      p == nullptr)
    return nullptr;
  auto* object = static_cast<IVorlundCert*>(p);
  StringBuffer encoded;
  LogNull quiet;
  cert.getEncoded(encoded, &quiet);
  BSTR text = encoded.createBSTR();
  LONG ok = 0;
  object->SetFromEncoded(text, &ok);  // its flag is not looked at
  SysFreeString(text);
  return object;
}

void getCert(CVorlundMime& self, const char* member, ExtPtrArray& list, const char* countKey,
             LONG index, IVorlundCert** cert) {
  MemberFrame frame(self, member);
  LogBase* log = frame.log();
  if (cert == nullptr) {
    log->logError("Certificate parameter is null");
    return;
  }
  *cert = nullptr;
  const Certificate* record =
      index >= 0 && index < list.getSize() ? list.getAs<Certificate>(index) : nullptr;
  if (record == nullptr) {
    log->logError("No certificate at that index (first cert is at index 0)");
    log->logDataLong("index", index);
    log->logDataLong(countKey, list.getSize());
    return;
  }
  *cert = certificateObject(*record);
}

// A string property of the provider object into a settings field: a null BSTR leaves the
// field as it was.
void copyString(BSTR value, StringBuffer& field) {
  if (value == nullptr) return;
  field.clear();
  appendBstrInCodePage(value, ansiCodePage(), field);
  SysFreeString(value);
}

}  // namespace

// The record a certificate object holds, read in place: it belongs to that object (and
// possibly to the siblings' module), and its key may be one the object holds for its life
// only. Null, with the member's message, when there is none.
const Certificate* CVorlundMime::certificateRecord(IVorlundCert* cert, const char* member,
                                                   LogBase& log) {
  if (cert == nullptr) {
    StringBuffer message("NULL passed to ");
    message.append(member);
    log.logError(message.getString());
    return nullptr;
  }
  LONG_PTR impl = 0;
  cert->GetImpl(&impl);
  if (impl == 0) {
    log.logError("Certificate is empty.");
    return nullptr;
  }
  return reinterpret_cast<const Certificate*>(impl);
}

HRESULT CVorlundMime::secureWrap(const char* member, IVorlundCert* cert, LONG* success,
                                 WrapOperation operation) {
  if (success != nullptr) *success = 0;
  MemberFrame frame(*this, member);
  LogBase* log = frame.log();
  const Certificate* record = certificateRecord(cert, member, *log);
  if (record == nullptr) return S_OK;
  // Asked after the call out to the certificate object, which may have changed the tree.
  MimeMessage2* e = frame.entity();
  if (e == nullptr) return S_OK;
  SecureState state{signerCerts_, encryptCerts_, certsFromUnwrap_, cspSettings_, unwrapExtras_};
  bool ok = operation(*e, *record, state, *log);
  if (success != nullptr) *success = ok ? 1 : 0;
  return S_OK;
}

HRESULT CVorlundMime::UnwrapSecurity(LONG* success) {
  if (success != nullptr) *success = 0;
  MemberFrame frame(*this, "UnwrapSecurity");
  MimeMessage2* e = frame.entity();
  if (e == nullptr) return S_OK;
  SecureState state{signerCerts_, encryptCerts_, certsFromUnwrap_, cspSettings_, unwrapExtras_};
  bool ok = unwrapSecurity(*e, state, *frame.log());
  if (success != nullptr) *success = ok ? 1 : 0;
  return S_OK;
}

HRESULT CVorlundMime::GetSignerCert(LONG index, IVorlundCert** cert) {
  getCert(*this, "GetSignerCert", signerCerts_, "num_signer_certs", index, cert);
  return S_OK;
}

HRESULT CVorlundMime::GetEncryptCert(LONG index, IVorlundCert** cert) {
  getCert(*this, "GetEncryptCert", encryptCerts_, "num_encrypt_certs", index, cert);
  return S_OK;
}

HRESULT CVorlundMime::AddDetachedSignature(IVorlundCert* cert, LONG* success) {
  return secureWrap("AddDetachedSignature", cert, success, addDetachedSignature);
}

HRESULT CVorlundMime::ConvertToSigned(IVorlundCert* cert, LONG* success) {
  return secureWrap("ConvertToSigned", cert, success, convertToSigned);
}

HRESULT CVorlundMime::Encrypt(IVorlundCert* cert, LONG* success) {
  return secureWrap("Encrypt", cert, success, encryptEntity);
}

HRESULT CVorlundMime::get_NumSignerCerts(LONG* count) {
  if (count != nullptr) *count = signerCerts_.getSize();
  return S_OK;
}

HRESULT CVorlundMime::get_NumEncryptCerts(LONG* count) {
  if (count != nullptr) *count = encryptCerts_.getSize();
  return S_OK;
}

HRESULT CVorlundMime::SetCSP(IVorlundCSP* csp) {
  // The one framed member that keeps the log of the call before.
  log_.enterContext("SetCSP", true);
  if (csp == nullptr) {
    log_.logError("Null parameter");
    log_.leaveContext();
    return S_OK;
  }
  auto readLong = [csp](HRESULT (IVorlundCSP::*get)(LONG*)) {
    LONG value = 0;
    (csp->*get)(&value);
    return value;
  };
  auto readString = [csp](HRESULT (IVorlundCSP::*get)(BSTR*), StringBuffer& field) {
    BSTR value = nullptr;
    (csp->*get)(&value);
    copyString(value, field);
  };
  CspSettings& s = cspSettings_;
  s.providerType = readLong(&IVorlundCSP::get_ProviderType);
  s.hashAlgorithmId = readLong(&IVorlundCSP::get_HashAlgorithmID);
  s.hashNumBits = readLong(&IVorlundCSP::get_HashNumBits);
  s.encryptAlgorithmId = readLong(&IVorlundCSP::get_EncryptAlgorithmID);
  s.encryptNumBits = readLong(&IVorlundCSP::get_EncryptNumBits);
  readString(&IVorlundCSP::get_HashAlgorithm, s.hashAlgorithm);
  readString(&IVorlundCSP::get_EncryptAlgorithm, s.encryptAlgorithm);
  readString(&IVorlundCSP::get_ProviderName, s.providerName);
  readString(&IVorlundCSP::get_KeyContainerName, s.keyContainerName);
  log_.leaveContext();
  return S_OK;
}
