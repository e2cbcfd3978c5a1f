// The secure-MIME members. Signing, encryption, unwrapping and the certificate lists need the
// S/MIME layer, which this module does not have yet: until it does, these members report
// E_NOTIMPL and leave the object, its log and their out-parameters untouched.
#include "component/CVorlundMime.h"

HRESULT CVorlundMime::UnwrapSecurity(LONG*) { return E_NOTIMPL; }
HRESULT CVorlundMime::GetSignerCert(LONG, IVorlundCert**) { return E_NOTIMPL; }
HRESULT CVorlundMime::GetEncryptCert(LONG, IVorlundCert**) { return E_NOTIMPL; }
HRESULT CVorlundMime::AddDetachedSignature(IVorlundCert*, LONG*) { return E_NOTIMPL; }
HRESULT CVorlundMime::ConvertToSigned(IVorlundCert*, LONG*) { return E_NOTIMPL; }
HRESULT CVorlundMime::Encrypt(IVorlundCert*, LONG*) { return E_NOTIMPL; }
HRESULT CVorlundMime::get_NumSignerCerts(LONG*) { return E_NOTIMPL; }
HRESULT CVorlundMime::get_NumEncryptCerts(LONG*) { return E_NOTIMPL; }
HRESULT CVorlundMime::SetCSP(IVorlundCSP*) { return E_NOTIMPL; }
