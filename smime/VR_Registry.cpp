#include "smime/VR_Registry.h"

#include <string>

HKEY VR_Registry::openKeyPath(HKEY root, const char* path, bool readOnly, LogBase* /*log*/) const {
  if (path == nullptr || *path == '\0') return nullptr;
  const std::string p(path);
  HKEY current = root;
  bool opened = false;  // predefined roots are never closed
  size_t start = 0;
  while (start <= p.size()) {
    size_t end = p.find('/', start);
    if (end == std::string::npos) end = p.size();
    if (end > start) {
      const std::string component = p.substr(start, end - start);
      HKEY next = nullptr;
      const LSTATUS r =
          RegOpenKeyExA(current, component.c_str(), 0, readOnly ? KEY_READ : accessMask, &next);
      if (opened) RegCloseKey(current);
      if (r != ERROR_SUCCESS) return nullptr;
      current = next;
      opened = true;
    }
    start = end + 1;
  }
  return opened ? current : nullptr;
}
