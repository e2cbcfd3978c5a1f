#include "component/CVorlundMime.h"

#include <new>

#include "component/ComModule.h"
#include "component/MemberFrame.h"
#include "component/MimeDispatch.h"
#include "component/ObjectFactory.h"
#include "mime/MimeMessage2.h"

// --- construction and destruction

CVorlundMime::CVorlundMime(IUnknown* outer) : outer_(outer), sharedTree_(new SharedMime()) {
  sharedTree_->addRef();
  currentEntity_ = &sharedTree_->entity();
  moduleLock();
}

CVorlundMime::CVorlundMime(SharedMime* tree, MimeMessage2* part)
    : sharedTree_(tree), currentEntity_(part) {
  sharedTree_->addRef();
  moduleLock();
  // The root lives as long as the tree; only a sub-part can be deleted under this object.
  if (part != &tree->entity()) {
    anchor_ = part->anchor();
    anchor_->addRef();
  }
}

CVorlundMime::~CVorlundMime() {
  signerCerts_.removeAllObjects();
  encryptCerts_.removeAllObjects();
  if (anchor_ != nullptr) anchor_->release();
  sharedTree_->release();
  moduleUnlock();
}

MimeMessage2* CVorlundMime::entity() const {
  if (anchor_ != nullptr && !anchor_->isAlive()) return nullptr;
  return currentEntity_;
}

// --- IUnknown

HRESULT CVorlundMime::QueryInterface(REFIID riid, void** ppv) {
  if (outer_ != nullptr) return outer_->QueryInterface(riid, ppv);
  return inner_.QueryInterface(riid, ppv);
}

ULONG CVorlundMime::AddRef() { return outer_ != nullptr ? outer_->AddRef() : inner_.AddRef(); }

ULONG CVorlundMime::Release() { return outer_ != nullptr ? outer_->Release() : inner_.Release(); }

// Unaggregated, the object's IUnknown is its IVorlundMime, as before; aggregated, it is the
// inner unknown, the one pointer that does not delegate. Every other interface is counted
// through its own AddRef, which reaches the outer object when there is one.
HRESULT CVorlundMime::InnerUnknown::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (riid == IID_IUnknown) {
    *ppv = object.outer_ != nullptr ? static_cast<IUnknown*>(this)
                                    : static_cast<IUnknown*>(static_cast<IVorlundMime*>(&object));
    AddRef();
    return S_OK;
  }
  void* found = nullptr;
  if (riid == IID_IDispatch || riid == IID_IVorlundMime)
    found = static_cast<IVorlundMime*>(&object);
  else if (riid == IID_IVorlundLoadProgress)
    found = static_cast<IVorlundLoadProgress*>(&object);
  else
    found = object.control_.find(riid);
  if (found == nullptr) return E_NOINTERFACE;
  static_cast<IUnknown*>(found)->AddRef();
  *ppv = found;
  return S_OK;
}

ULONG CVorlundMime::InnerUnknown::AddRef() { return ++object.refCount_; }

ULONG CVorlundMime::InnerUnknown::Release() {
  if (object.refCount_ == 0) return 0;  // an unbalanced Release must not free twice
  const ULONG left = --object.refCount_;
  if (left == 0) delete &object;
  return left;
}

HRESULT CVorlundMime::SetLoadProgress(ProgressCallback* callback) {
  progress_ = callback;
  return S_OK;
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
  return createVorlundMimeObject(nullptr, riid, ppv);
}

HRESULT createVorlundMimeObject(IUnknown* outer, REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  // An aggregated object hands its outer only its non-delegating IUnknown.
  if (outer != nullptr && riid != IID_IUnknown) return CLASS_E_NOAGGREGATION;
  auto* object = new (std::nothrow) CVorlundMime(outer);
  if (object == nullptr) return E_OUTOFMEMORY;
  IUnknown* inner = object->innerUnknown();
  inner->AddRef();
  const HRESULT hr = inner->QueryInterface(riid, ppv);
  inner->Release();  // the caller's reference, if any, is the one QueryInterface added
  return hr;
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
