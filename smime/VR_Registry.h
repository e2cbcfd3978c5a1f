// Opening registry keys by a "/"-separated path, for the registry certificate stores.
#pragma once

#include "platform/Registry.h"

class LogBase;

class VR_Registry {
 public:
  virtual ~VR_Registry() = default;

  // Opens the key `path` below a predefined root (HKEY_CURRENT_USER or HKEY_LOCAL_MACHINE),
  // one component at a time, with KEY_READ when readOnly and the object's access otherwise.
  // Keys are never created; empty components are skipped. Null when a step fails or the
  // path is empty. The caller closes the key.
  HKEY openKeyPath(HKEY root, const char* path, bool readOnly, LogBase* log) const;

  REGSAM accessMask = KEY_ALL_ACCESS;
};
