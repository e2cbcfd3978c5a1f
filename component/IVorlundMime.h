// IVorlundMime, the dual interface of the Mime object, as an abstract class in vtable order:
// IDispatch's seven slots, then every member in DISPID order (a property's get before its
// put). Every member returns S_OK; results are in the out-parameters.
#pragma once

#include "platform/Com.h"

struct IVorlundCert;  // the sibling certificate object
struct IVorlundCSP;   // the sibling provider object

extern const IID IID_IVorlundMime;       // {5ACAE4B8-62D9-4124-A58A-9B1258B77E99}
extern const CLSID CLSID_VorlundMime;    // {0A83AD29-EFD3-4BD1-997D-63C4EAF39418}
extern const GUID LIBID_VORLUNDMIMELib;  // {2555C8B7-8681-4845-94B5-46E6623D8A06}

struct IVorlundMime : IDispatch {
  virtual HRESULT get_Version(BSTR* version) = 0;                               // 1
  virtual HRESULT LoadMime(BSTR mimeMsg, LONG* success) = 0;                    // 4
  virtual HRESULT LoadXmlFile(BSTR fileName, LONG* success) = 0;                // 5
  virtual HRESULT UnwrapSecurity(LONG* success) = 0;                            // 6
  virtual HRESULT GetSignerCert(LONG index, IVorlundCert** cert) = 0;           // 7
  virtual HRESULT GetEncryptCert(LONG index, IVorlundCert** cert) = 0;          // 8
  virtual HRESULT get_NumParts(LONG* count) = 0;                                // 9
  virtual HRESULT GetPart(LONG index, IVorlundMime** part) = 0;                 // 10
  virtual HRESULT GetHeaderField(BSTR name, BSTR* value) = 0;                   // 11
  virtual HRESULT GetXml(BSTR* xml) = 0;                                        // 12
  virtual HRESULT LoadXml(BSTR xml, LONG* success) = 0;                         // 13
  virtual HRESULT GetMime(BSTR* mime) = 0;                                      // 14
  virtual HRESULT SaveXml(BSTR fileName, LONG* success) = 0;                    // 15
  virtual HRESULT SaveMime(BSTR fileName, LONG* success) = 0;                   // 16
  virtual HRESULT AddDetachedSignature(IVorlundCert* cert, LONG* success) = 0;  // 17
  virtual HRESULT ConvertToSigned(IVorlundCert* cert, LONG* success) = 0;       // 18
  virtual HRESULT Encrypt(IVorlundCert* cert, LONG* success) = 0;               // 19
  virtual HRESULT LoadMimeFile(BSTR fileName, LONG* success) = 0;               // 20
  virtual HRESULT SetHeaderField(BSTR fieldName, BSTR fieldValue) = 0;          // 21
  virtual HRESULT SetBodyFromFile(BSTR fileName, LONG* success) = 0;            // 22
  virtual HRESULT SetBodyFromEncoded(BSTR encoding, BSTR bodyText) = 0;         // 23
  virtual HRESULT SetBodyFromPlainText(BSTR bodyText) = 0;                      // 24
  virtual HRESULT SetBodyFromXml(BSTR bodyText) = 0;                            // 25
  virtual HRESULT SetBodyFromHtml(BSTR bodyText) = 0;                           // 26
  virtual HRESULT get_ContentType(BSTR* value) = 0;                             // 27
  virtual HRESULT put_ContentType(BSTR value) = 0;
  virtual HRESULT get_Encoding(BSTR* value) = 0;  // 28
  virtual HRESULT put_Encoding(BSTR value) = 0;
  virtual HRESULT get_Disposition(BSTR* value) = 0;  // 29
  virtual HRESULT put_Disposition(BSTR value) = 0;
  virtual HRESULT get_Charset(BSTR* value) = 0;  // 30
  virtual HRESULT put_Charset(BSTR value) = 0;
  virtual HRESULT get_Filename(BSTR* value) = 0;  // 31
  virtual HRESULT put_Filename(BSTR value) = 0;
  virtual HRESULT get_Name(BSTR* value) = 0;  // 32
  virtual HRESULT put_Name(BSTR value) = 0;
  virtual HRESULT GetBodyDecoded(BSTR* body) = 0;                        // 33
  virtual HRESULT GetBodyEncoded(BSTR* body) = 0;                        // 34
  virtual HRESULT GetBodyBinary(VARIANT* body) = 0;                      // 35
  virtual HRESULT IsMultipart(LONG* result) = 0;                         // 36
  virtual HRESULT IsPlainText(LONG* result) = 0;                         // 37
  virtual HRESULT IsHtml(LONG* result) = 0;                              // 38
  virtual HRESULT IsXml(LONG* result) = 0;                               // 39
  virtual HRESULT IsSigned(LONG* result) = 0;                            // 40
  virtual HRESULT IsEncrypted(LONG* result) = 0;                         // 41
  virtual HRESULT IsMultipartMixed(LONG* result) = 0;                    // 42
  virtual HRESULT IsMultipartAlternative(LONG* result) = 0;              // 43
  virtual HRESULT IsMultipartRelated(LONG* result) = 0;                  // 44
  virtual HRESULT IsAttachment(LONG* result) = 0;                        // 45
  virtual HRESULT IsText(LONG* result) = 0;                              // 46
  virtual HRESULT IsApplicationData(LONG* result) = 0;                   // 47
  virtual HRESULT IsImage(LONG* result) = 0;                             // 48
  virtual HRESULT IsAudio(LONG* result) = 0;                             // 49
  virtual HRESULT IsVideo(LONG* result) = 0;                             // 50
  virtual HRESULT SaveBody(BSTR fileName, LONG* success) = 0;            // 51
  virtual HRESULT NewMultipartMixed() = 0;                               // 52
  virtual HRESULT NewMultipartRelated() = 0;                             // 53
  virtual HRESULT NewMultipartAlternative() = 0;                         // 54
  virtual HRESULT AppendPart(IVorlundMime* mime) = 0;                    // 55
  virtual HRESULT AppendPartFromFile(BSTR fileName, LONG* success) = 0;  // 56
  virtual HRESULT get_Protocol(BSTR* value) = 0;                         // 57
  virtual HRESULT put_Protocol(BSTR value) = 0;
  virtual HRESULT get_Micalg(BSTR* value) = 0;  // 58
  virtual HRESULT put_Micalg(BSTR value) = 0;
  virtual HRESULT get_Boundary(BSTR* value) = 0;  // 59
  virtual HRESULT put_Boundary(BSTR value) = 0;
  virtual HRESULT get_UnwrapExtras(LONG* value) = 0;  // 60
  virtual HRESULT put_UnwrapExtras(LONG value) = 0;
  virtual HRESULT get_NumSignerCerts(LONG* count) = 0;               // 61
  virtual HRESULT get_NumEncryptCerts(LONG* count) = 0;              // 62
  virtual HRESULT SaveLastError(BSTR fileName, LONG* success) = 0;   // 63
  virtual HRESULT SetBodyFromBinary(VARIANT binaryData) = 0;         // 68
  virtual HRESULT SetCSP(IVorlundCSP* csp) = 0;                      // 69
  virtual HRESULT GetEntireHead(BSTR* head) = 0;                     // 70
  virtual HRESULT GetEntireBody(BSTR* body) = 0;                     // 71
  virtual HRESULT get_LastErrorHtml(BSTR* html) = 0;                 // 72
  virtual HRESULT get_LastErrorXml(BSTR* xml) = 0;                   // 73
  virtual HRESULT get_LastErrorText(BSTR* text) = 0;                 // 74
  virtual HRESULT get_NumHeaderFields(LONG* count) = 0;              // 75
  virtual HRESULT GetHeaderFieldValue(LONG index, BSTR* value) = 0;  // 76
  virtual HRESULT GetHeaderFieldName(LONG index, BSTR* name) = 0;    // 77
  virtual HRESULT RemovePart(LONG index) = 0;                        // 78
  virtual HRESULT NewMessageRfc822(IVorlundMime* mime) = 0;          // 79
  virtual HRESULT ContainsEncryptedParts(LONG* result) = 0;          // 80
  virtual HRESULT ContainsSignedParts(LONG* result) = 0;             // 81

 protected:
  ~IVorlundMime() = default;
};
