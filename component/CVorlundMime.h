// The Mime object: the COM class behind IVorlundMime. It owns its log and provider settings
// and is a view onto one entity of a shared tree: the root for an object the host created,
// a sub-part for an object that GetPart returned. Members are implemented by family in the
// MimeMembers*.cpp files beside this one. Every live object counts in the module's lock count.
//
// The object may be aggregated: it then has an outer unknown, to which QueryInterface, AddRef
// and Release of all its interfaces delegate, and the outer holds the object through its own
// non-delegating IUnknown.
#pragma once

#include "component/IVorlundMime.h"
#include "component/LoadProgressHook.h"
#include "component/MimeControl.h"
#include "foundation/ExtPtrArray.h"
#include "log/Logger.h"
#include "smime/CspSettings.h"

class Certificate;
class LogBase;
class EntityAnchor;
class MimeMessage2;
class ProgressCallback;
class SharedMime;
struct SecureState;

class CVorlundMime final : public IVorlundMime, public IVorlundLoadProgress {
 public:
  // A new object with a tree of its own: one empty entity; aggregated when `outer` is not null.
  explicit CVorlundMime(IUnknown* outer = nullptr);
  // A part object: a view onto `part`, an entity inside `tree`, sharing the tree.
  CVorlundMime(SharedMime* tree, MimeMessage2* part);
  CVorlundMime(const CVorlundMime&) = delete;
  CVorlundMime& operator=(const CVorlundMime&) = delete;

  // --- IUnknown: the outer unknown's when aggregated
  HRESULT QueryInterface(REFIID riid, void** ppv) override;
  ULONG AddRef() override;
  ULONG Release() override;
  // The object's own IUnknown, which owns its reference count.
  IUnknown* innerUnknown() { return &inner_; }

  // --- IDispatch: the member table of the type library
  HRESULT GetTypeInfoCount(UINT* pctinfo) override;
  HRESULT GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override;
  HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT cNames, LCID lcid,
                        DISPID* dispIds) override;
  HRESULT Invoke(DISPID dispId, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                 VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr) override;

  // --- IVorlundMime, in DISPID order
  HRESULT get_Version(BSTR* version) override;
  HRESULT LoadMime(BSTR mimeMsg, LONG* success) override;
  HRESULT LoadXmlFile(BSTR fileName, LONG* success) override;
  HRESULT UnwrapSecurity(LONG* success) override;
  HRESULT GetSignerCert(LONG index, IVorlundCert** cert) override;
  HRESULT GetEncryptCert(LONG index, IVorlundCert** cert) override;
  HRESULT get_NumParts(LONG* count) override;
  HRESULT GetPart(LONG index, IVorlundMime** part) override;
  HRESULT GetHeaderField(BSTR name, BSTR* value) override;
  HRESULT GetXml(BSTR* xml) override;
  HRESULT LoadXml(BSTR xml, LONG* success) override;
  HRESULT GetMime(BSTR* mime) override;
  HRESULT SaveXml(BSTR fileName, LONG* success) override;
  HRESULT SaveMime(BSTR fileName, LONG* success) override;
  HRESULT AddDetachedSignature(IVorlundCert* cert, LONG* success) override;
  HRESULT ConvertToSigned(IVorlundCert* cert, LONG* success) override;
  HRESULT Encrypt(IVorlundCert* cert, LONG* success) override;
  HRESULT LoadMimeFile(BSTR fileName, LONG* success) override;
  HRESULT SetHeaderField(BSTR fieldName, BSTR fieldValue) override;
  HRESULT SetBodyFromFile(BSTR fileName, LONG* success) override;
  HRESULT SetBodyFromEncoded(BSTR encoding, BSTR bodyText) override;
  HRESULT SetBodyFromPlainText(BSTR bodyText) override;
  HRESULT SetBodyFromXml(BSTR bodyText) override;
  HRESULT SetBodyFromHtml(BSTR bodyText) override;
  HRESULT get_ContentType(BSTR* value) override;
  HRESULT put_ContentType(BSTR value) override;
  HRESULT get_Encoding(BSTR* value) override;
  HRESULT put_Encoding(BSTR value) override;
  HRESULT get_Disposition(BSTR* value) override;
  HRESULT put_Disposition(BSTR value) override;
  HRESULT get_Charset(BSTR* value) override;
  HRESULT put_Charset(BSTR value) override;
  HRESULT get_Filename(BSTR* value) override;
  HRESULT put_Filename(BSTR value) override;
  HRESULT get_Name(BSTR* value) override;
  HRESULT put_Name(BSTR value) override;
  HRESULT GetBodyDecoded(BSTR* body) override;
  HRESULT GetBodyEncoded(BSTR* body) override;
  HRESULT GetBodyBinary(VARIANT* body) override;
  HRESULT IsMultipart(LONG* result) override;
  HRESULT IsPlainText(LONG* result) override;
  HRESULT IsHtml(LONG* result) override;
  HRESULT IsXml(LONG* result) override;
  HRESULT IsSigned(LONG* result) override;
  HRESULT IsEncrypted(LONG* result) override;
  HRESULT IsMultipartMixed(LONG* result) override;
  HRESULT IsMultipartAlternative(LONG* result) override;
  HRESULT IsMultipartRelated(LONG* result) override;
  HRESULT IsAttachment(LONG* result) override;
  HRESULT IsText(LONG* result) override;
  HRESULT IsApplicationData(LONG* result) override;
  HRESULT IsImage(LONG* result) override;
  HRESULT IsAudio(LONG* result) override;
  HRESULT IsVideo(LONG* result) override;
  HRESULT SaveBody(BSTR fileName, LONG* success) override;
  HRESULT NewMultipartMixed() override;
  HRESULT NewMultipartRelated() override;
  HRESULT NewMultipartAlternative() override;
  HRESULT AppendPart(IVorlundMime* mime) override;
  HRESULT AppendPartFromFile(BSTR fileName, LONG* success) override;
  HRESULT get_Protocol(BSTR* value) override;
  HRESULT put_Protocol(BSTR value) override;
  HRESULT get_Micalg(BSTR* value) override;
  HRESULT put_Micalg(BSTR value) override;
  HRESULT get_Boundary(BSTR* value) override;
  HRESULT put_Boundary(BSTR value) override;
  HRESULT get_UnwrapExtras(LONG* value) override;
  HRESULT put_UnwrapExtras(LONG value) override;
  HRESULT get_NumSignerCerts(LONG* count) override;
  HRESULT get_NumEncryptCerts(LONG* count) override;
  HRESULT SaveLastError(BSTR fileName, LONG* success) override;
  HRESULT SetBodyFromBinary(VARIANT binaryData) override;
  HRESULT SetCSP(IVorlundCSP* csp) override;
  HRESULT GetEntireHead(BSTR* head) override;
  HRESULT GetEntireBody(BSTR* body) override;
  HRESULT get_LastErrorHtml(BSTR* html) override;
  HRESULT get_LastErrorXml(BSTR* xml) override;
  HRESULT get_LastErrorText(BSTR* text) override;
  HRESULT get_NumHeaderFields(LONG* count) override;
  HRESULT GetHeaderFieldValue(LONG index, BSTR* value) override;
  HRESULT GetHeaderFieldName(LONG index, BSTR* name) override;
  HRESULT RemovePart(LONG index) override;
  HRESULT NewMessageRfc822(IVorlundMime* mime) override;
  HRESULT ContainsEncryptedParts(LONG* result) override;
  HRESULT ContainsSignedParts(LONG* result) override;

  // --- IVorlundLoadProgress: the host's hook for watching long loads; not owned, null to stop.
  HRESULT SetLoadProgress(ProgressCallback* callback) override;

  // The entity the members work on; null when this is a part object whose entity was deleted
  // through its parent (a removed part, a reloaded or rebuilt parent).
  MimeMessage2* entity() const;
  Logger& log() { return log_; }
  // The certificate lists (owned Certificate records): signers and recipients of the last
  // secure operation, read by GetSignerCert and GetEncryptCert.
  ExtPtrArray& signerCerts() { return signerCerts_; }
  ExtPtrArray& encryptCerts() { return encryptCerts_; }
  const CspSettings& cspSettings() const { return cspSettings_; }

 private:
  ~CVorlundMime();

  using WrapOperation = bool (*)(MimeMessage2&, const Certificate&, SecureState&, LogBase&);
  static const Certificate* certificateRecord(IVorlundCert* cert, const char* member, LogBase& log);
  // The frame of AddDetachedSignature, ConvertToSigned and Encrypt around `operation`.
  HRESULT secureWrap(const char* member, IVorlundCert* cert, LONG* success,
                     WrapOperation operation);

  // The non-delegating IUnknown.
  struct InnerUnknown final : IUnknown {
    explicit InnerUnknown(CVorlundMime& o) : object(o) {}
    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override;
    ULONG Release() override;
    CVorlundMime& object;
  };

  // The control side comes first, as the framework's bases do.
  MimeControl control_{*static_cast<IVorlundMime*>(this)};
  InnerUnknown inner_{*this};
  IUnknown* outer_ = nullptr;  // not held: the outer object holds this one
  ULONG refCount_ = 0;
  Logger log_;
  bool unwrapExtras_ = true;
  bool certsFromUnwrap_ = false;    // the lists hold what the last UnwrapSecurity found
  SharedMime* sharedTree_;          // one reference held
  MimeMessage2* currentEntity_;     // inside sharedTree_, not owned
  EntityAnchor* anchor_ = nullptr;  // part objects only: whether currentEntity_ still exists
  CspSettings cspSettings_;
  ExtPtrArray signerCerts_;
  ExtPtrArray encryptCerts_;
  ProgressCallback* progress_ = nullptr;
};
