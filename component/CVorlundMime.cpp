#include "component/CVorlundMime.h"

#include <new>

#include "component/MemberFrame.h"
#include "component/MimeDispatch.h"
#include "component/ObjectFactory.h"
#include "foundation/XString.h"
#include "mime/MimeMessage2.h"

namespace {

constexpr const char* kDetached = "This part was removed from its message";

}  // namespace

// --- construction and destruction

CVorlundMime::CVorlundMime() : sharedTree_(new SharedMime()) {
  sharedTree_->addRef();
  currentEntity_ = &sharedTree_->entity();
}

CVorlundMime::CVorlundMime(SharedMime* tree, MimeMessage2* part)
    : sharedTree_(tree), currentEntity_(part) {
  sharedTree_->addRef();
  // The root lives as long as the tree; only a sub-part can be deleted under this object.
  if (part != &tree->entity()) {
    anchor_ = part->anchor();
    anchor_->addRef();
  }
}

CVorlundMime::~CVorlundMime() {
  if (anchor_ != nullptr) anchor_->release();
  sharedTree_->release();
}

MimeMessage2* CVorlundMime::entity() const {
  if (anchor_ != nullptr && !anchor_->isAlive()) return nullptr;
  return currentEntity_;
}

// --- IUnknown

HRESULT CVorlundMime::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_IVorlundMime) {
    *ppv = static_cast<IVorlundMime*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

ULONG CVorlundMime::AddRef() { return ++refCount_; }

ULONG CVorlundMime::Release() {
  if (refCount_ == 0) return 0;  // an unbalanced Release must not free twice
  const ULONG left = --refCount_;
  if (left == 0) delete this;
  return left;
}

// --- IDispatch

HRESULT CVorlundMime::GetTypeInfoCount(UINT* pctinfo) {
  if (pctinfo == nullptr) return E_POINTER;
  *pctinfo = 0;
  return S_OK;
}

HRESULT CVorlundMime::GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) {
  if (ppTInfo != nullptr) *ppTInfo = nullptr;
  return E_NOTIMPL;
}

// Automation reserves the interface argument: anything but IID_NULL is refused, as OLE does.
HRESULT CVorlundMime::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT cNames, LCID,
                                    DISPID* dispIds) {
  if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  return mimeGetIDsOfNames(names, cNames, dispIds);
}

HRESULT CVorlundMime::Invoke(DISPID dispId, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                             VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr) {
  if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  return mimeInvoke(this, dispId, flags, params, result, excepInfo, argErr);
}

// --- creation inside the process

HRESULT createVorlundMimeObject(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  auto* object = new (std::nothrow) CVorlundMime();
  if (object == nullptr) return E_OUTOFMEMORY;
  object->AddRef();
  const HRESULT hr = object->QueryInterface(riid, ppv);
  object->Release();  // the caller's reference, if any, is the one QueryInterface added
  return hr;
}

bool setLoadProgress(IUnknown* object, ProgressCallback* callback) {
  auto* mime = dynamic_cast<CVorlundMime*>(object);
  if (mime == nullptr) return false;
  mime->setProgressCallback(callback);
  return true;
}

// --- the member frame

MemberFrame::MemberFrame(CVorlundMime& object, const char* context) : object_(object) {
  object_.log().clearLog();
  object_.log().enterContext(context, true);
}

MemberFrame::~MemberFrame() { object_.log().leaveContext(); }

MimeMessage2* MemberFrame::entity() {
  MimeMessage2* e = object_.entity();
  if (e == nullptr && !detachedLogged_) {
    object_.log().logError(kDetached);
    detachedLogged_ = true;
  }
  return e;
}

LogBase* MemberFrame::log() { return &object_.log(); }

BSTR bstrFromUtf8(const StringBuffer& text) {
  XString s;
  s.setFromUtf8(text.getString());
  return s.createBSTR();
}

// --- GetPart

HRESULT CVorlundMime::GetPart(LONG index, IVorlundMime** part) {
  if (part == nullptr) return E_POINTER;
  *part = nullptr;
  MemberFrame frame(*this, "GetPart");
  MimeMessage2* e = frame.entity();
  if (e == nullptr) return S_OK;
  MimeMessage2* sub = e->getPart(index);
  if (sub == nullptr) {
    log_.logError("Failed to get MIME message part");
    log_.logDataLong("num_parts", e->getNumParts());
    log_.logDataLong("requested_part_index", index);
    return S_OK;
  }
  auto* object = new (std::nothrow) CVorlundMime(sharedTree_, sub);
  if (object == nullptr) return S_OK;  // out of memory: a null part, as for any failure
  object->AddRef();
  object->QueryInterface(IID_IVorlundMime, reinterpret_cast<void**>(part));
  object->Release();
  return S_OK;
}
