// The secure-MIME members. The certificate lists, their certificate objects and the provider
// settings are here; signing, encryption and unwrapping need the S/MIME layer, which this
// module does not have yet: until it does, those members report E_NOTIMPL and leave the
// object, its log and their out-parameters untouched.
#include "component/CVorlundMime.h"
#include "component/MemberFrame.h"
#include "component/SiblingInterfaces.h"
#include "foundation/Conversion.h"
#include "platform/ComActivation.h"
#include "smime/Certificate.h"

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

HRESULT CVorlundMime::UnwrapSecurity(LONG*) { return E_NOTIMPL; }

HRESULT CVorlundMime::GetSignerCert(LONG index, IVorlundCert** cert) {
  getCert(*this, "GetSignerCert", signerCerts_, "num_signer_certs", index, cert);
  return S_OK;
}

HRESULT CVorlundMime::GetEncryptCert(LONG index, IVorlundCert** cert) {
  getCert(*this, "GetEncryptCert", encryptCerts_, "num_encrypt_certs", index, cert);
  return S_OK;
}

HRESULT CVorlundMime::AddDetachedSignature(IVorlundCert*, LONG*) { return E_NOTIMPL; }
HRESULT CVorlundMime::ConvertToSigned(IVorlundCert*, LONG*) { return E_NOTIMPL; }
HRESULT CVorlundMime::Encrypt(IVorlundCert*, LONG*) { return E_NOTIMPL; }

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
