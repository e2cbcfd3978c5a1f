// The interfaces of the two sibling components, as this component's type library declares
// them: the certificate object (IVorlundCert), the provider object (IVorlundCSP) and the list
// of strings a provider object hands out (IVrStringArray). Their code lives in the siblings'
// own module; the Mime object calls them through these vtables (dual interfaces: IDispatch's
// seven slots, then the members in DISPID order, a property's get before its put).
//
// IVorlundCert: SetFromEncoded (27) and GetImpl (25) are the members the Mime object calls.
// Deliberate change from the 32-bit type library: GetImpl hands out the address of the
// object's `Certificate` record (smime/Certificate.h), which does not fit a 32-bit long on a
// 64-bit system, so its out-parameter is pointer-sized (LONG_PTR) here and VT_I8 through
// IDispatch; its slot, the meaning of 0 (no certificate) and the read-only use of the record
// stay. The other members, their DISPIDs and the order of the vtable are this project's.
//
// IVorlundCSP: the nine settings (1-9) are what SetCSP reads; GetProviderNames (10) is the
// provider member whose result is an IVrStringArray, which the Mime object never calls.
// IVrStringArray's members and DISPIDs are this project's; an index outside the list gives
// an empty string.
#pragma once

#include <cstdint>

#include "platform/Com.h"

typedef intptr_t LONG_PTR;

extern const IID IID_IVorlundCert;     // {D56C1AF1-3FDE-471C-9BC2-C52515F260C1}
extern const CLSID CLSID_VorlundCert;  // {E2A74106-0416-43D8-8FE8-833E9AD098EA}
extern const IID IID_IVorlundCSP;      // {D12FB216-99DA-4EB3-9CC0-C0F760B174A0}
extern const IID IID_IVrStringArray;   // {4340DF8E-D7A3-4675-BE74-80077B2B3E81}

struct IVrStringArray : IDispatch {
  virtual HRESULT get_Count(LONG* count) = 0;              // 1
  virtual HRESULT GetString(LONG index, BSTR* value) = 0;  // 2
  virtual HRESULT Append(BSTR value) = 0;                  // 3
  virtual HRESULT Clear() = 0;                             // 4
  virtual HRESULT Contains(BSTR value, LONG* found) = 0;   // 5, ignoring case
};

struct IVorlundCert : IDispatch {
  virtual HRESULT LoadFromFile(BSTR path, LONG* success) = 0;                             // 1
  virtual HRESULT LoadPfxFile(BSTR path, BSTR password, LONG* success) = 0;               // 2
  virtual HRESULT LoadFromStoreByThumbprint(BSTR sha1, LONG machine, LONG* success) = 0;  // 3
  virtual HRESULT get_SubjectDN(BSTR* value) = 0;                                         // 4
  virtual HRESULT get_IssuerDN(BSTR* value) = 0;                                          // 5
  virtual HRESULT get_SubjectName(BSTR* value) = 0;                                       // 6
  virtual HRESULT get_IssuerName(BSTR* value) = 0;                                        // 7
  virtual HRESULT get_CommonName(BSTR* value) = 0;                                        // 8
  virtual HRESULT get_Email(BSTR* value) = 0;                                             // 9
  virtual HRESULT get_SerialNumber(BSTR* value) = 0;                                      // 10
  virtual HRESULT get_ValidFrom(BSTR* value) = 0;                                         // 11
  virtual HRESULT get_ValidTo(BSTR* value) = 0;                                           // 12
  virtual HRESULT get_Sha1Thumbprint(BSTR* value) = 0;                                    // 13
  virtual HRESULT get_HasPrivateKey(LONG* value) = 0;                                     // 14
  virtual HRESULT get_Expired(LONG* value) = 0;                                           // 15
  virtual HRESULT get_TrustedRoot(LONG* value) = 0;                                       // 16
  virtual HRESULT get_SignatureVerified(LONG* value) = 0;                                 // 17
  virtual HRESULT get_Revoked(LONG* value) = 0;                                           // 18
  virtual HRESULT get_ForSecureEmail(LONG* value) = 0;                                    // 19
  virtual HRESULT get_KeyUsage(BSTR* value) = 0;                                          // 20
  virtual HRESULT ExportPem(BSTR* pem) = 0;                                               // 21
  virtual HRESULT ExportBase64(BSTR* base64) = 0;                                         // 22
  virtual HRESULT get_LastErrorText(BSTR* text) = 0;                                      // 23
  virtual HRESULT LoadFromStoreByEmail(BSTR email, LONG machine, LONG* success) = 0;      // 24
  virtual HRESULT GetImpl(LONG_PTR* impl) = 0;                                            // 25
  virtual HRESULT get_Version(BSTR* version) = 0;                                         // 26
  virtual HRESULT SetFromEncoded(BSTR base64, LONG* success) = 0;                         // 27
};

struct IVorlundCSP : IDispatch {
  virtual HRESULT get_ProviderType(LONG* value) = 0;        // 1
  virtual HRESULT put_ProviderType(LONG value) = 0;         // 1
  virtual HRESULT get_HashAlgorithmID(LONG* value) = 0;     // 2
  virtual HRESULT put_HashAlgorithmID(LONG value) = 0;      // 2
  virtual HRESULT get_HashNumBits(LONG* value) = 0;         // 3
  virtual HRESULT put_HashNumBits(LONG value) = 0;          // 3
  virtual HRESULT get_EncryptAlgorithmID(LONG* value) = 0;  // 4
  virtual HRESULT put_EncryptAlgorithmID(LONG value) = 0;   // 4
  virtual HRESULT get_EncryptNumBits(LONG* value) = 0;      // 5
  virtual HRESULT put_EncryptNumBits(LONG value) = 0;       // 5
  virtual HRESULT get_HashAlgorithm(BSTR* value) = 0;       // 6
  virtual HRESULT put_HashAlgorithm(BSTR value) = 0;        // 6
  virtual HRESULT get_EncryptAlgorithm(BSTR* value) = 0;    // 7
  virtual HRESULT put_EncryptAlgorithm(BSTR value) = 0;     // 7
  virtual HRESULT get_ProviderName(BSTR* value) = 0;        // 8
  virtual HRESULT put_ProviderName(BSTR value) = 0;         // 8
  virtual HRESULT get_KeyContainerName(BSTR* value) = 0;    // 9
  virtual HRESULT put_KeyContainerName(BSTR value) = 0;     // 9
  // The names of the providers this machine has, the values ProviderName takes.
  virtual HRESULT GetProviderNames(IVrStringArray** names) = 0;  // 10
};
