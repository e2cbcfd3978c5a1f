// The host's hook for watching a Mime object's long loads (LoadXml, LoadXmlFile,
// LoadMimeFile). It is a private interface of the Mime object, reached through
// QueryInterface like any other, so it works the same whether the object lives in the host's
// own code or in the component module the host loaded.
#pragma once

#include "platform/Com.h"

class ProgressCallback;

extern const IID IID_IVorlundLoadProgress;  // {C40989DD-77E5-4FDE-8A0D-650DD8D51A3F}

struct IVorlundLoadProgress : IUnknown {
  // `callback` (not owned, null to stop) hears the percentage as the text is read. The host
  // and the module must be built from the same ProgressCallback declaration.
  virtual HRESULT SetLoadProgress(ProgressCallback* callback) = 0;

 protected:
  ~IVorlundLoadProgress() = default;
};

// Sets the hook on `object`; false when it is null or not a Mime object.
bool setLoadProgress(IUnknown* object, ProgressCallback* callback);
