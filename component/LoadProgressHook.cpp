#include "component/LoadProgressHook.h"

const IID IID_IVorlundLoadProgress = {
    0xC40989DD, 0x77E5, 0x4FDE, {0x8A, 0x0D, 0x65, 0x0D, 0xD8, 0xD5, 0x1A, 0x3F}};

bool setLoadProgress(IUnknown* object, ProgressCallback* callback) {
  if (object == nullptr) return false;
  void* hook = nullptr;
  if (FAILED(object->QueryInterface(IID_IVorlundLoadProgress, &hook)) || hook == nullptr)
    return false;
  auto* progress = static_cast<IVorlundLoadProgress*>(hook);
  const HRESULT hr = progress->SetLoadProgress(callback);
  progress->Release();
  return SUCCEEDED(hr);
}
