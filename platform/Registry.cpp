#include "platform/Registry.h"

#include <cstring>
#include <map>
#include <mutex>
#include <string_view>
#include <vector>

#include "platform/RegistryFile.h"

using registry::kMaxDepth;
using registry::RegKey;
using registry::RegValue;

namespace {

std::mutex g_mutex;  // the hives and the handle table may be reached from any thread

registry::HiveFile& hiveFile(int index) {
  static registry::HiveFile hives[3] = {registry::HiveFile("HKCR"), registry::HiveFile("HKCU"),
                                        registry::HiveFile("HKLM")};
  return hives[index];
}

// An opened key is named by its path from its hive's root, so each call finds it in the
// latest committed tree.
struct OpenKey {
  int hive;
  std::vector<std::string> path;
  REGSAM access;
  bool deleted;
};

std::map<uintptr_t, OpenKey> g_handles;
uintptr_t g_nextHandle = 0x100;  // never reused, so a stale handle is refused, not misread

const std::vector<std::string> kRootPath;
constexpr LSTATUS kOk = ERROR_SUCCESS;

void registerTexts() {
  static std::once_flag once;
  std::call_once(once, [] {
    registerSystemMessage(ERROR_BAD_PATHNAME, "The specified path is invalid.");
    registerSystemMessage(ERROR_MORE_DATA, "More data is available.");
    registerSystemMessage(ERROR_NO_MORE_ITEMS, "No more data is available.");
    registerSystemMessage(ERROR_NOACCESS, "Invalid access to memory location.");
    registerSystemMessage(ERROR_BADDB, "The configuration registry database is corrupt.");
    registerSystemMessage(ERROR_KEY_DELETED,
                          "Illegal operation attempted on a Registry key that has been marked "
                          "for deletion.");
  });
}

struct Guard {
  Guard() : lock(g_mutex) { registerTexts(); }
  std::lock_guard<std::mutex> lock;
};

int rootIndex(HKEY key) {
  if (key == HKEY_CLASSES_ROOT) return 0;
  if (key == HKEY_CURRENT_USER) return 1;
  if (key == HKEY_LOCAL_MACHINE) return 2;
  return -1;
}

// What a handle names: a hive, a path in it, and the access it was opened with.
struct Target {
  int hive = -1;
  const std::vector<std::string>* path = &kRootPath;
  REGSAM access = KEY_ALL_ACCESS;
  OpenKey* open = nullptr;  // null for a root
};

LONG resolve(HKEY key, Target* t) {
  if (int root = rootIndex(key); root >= 0) {
    t->hive = root;
    return ERROR_SUCCESS;
  }
  auto it = g_handles.find(reinterpret_cast<uintptr_t>(key));
  if (it == g_handles.end()) return ERROR_INVALID_HANDLE;
  if (it->second.deleted) return ERROR_KEY_DELETED;
  t->hive = it->second.hive;
  t->path = &it->second.path;
  t->access = it->second.access;
  t->open = &it->second;
  return ERROR_SUCCESS;
}

// The key at the first `count` names of `path` below `from`; null when one is missing.
RegKey* walk(RegKey* from, const std::vector<std::string>& path, size_t count) {
  for (size_t i = 0; i < count && from != nullptr; ++i) from = from->child(path[i]);
  return from;
}

// The key a handle names in the current tree. A key that is gone stays gone for the handle,
// even if it is created again later.
RegKey* locate(RegKey& root, const Target& t) {
  RegKey* key = walk(&root, *t.path, t.path->size());
  if (key == nullptr && t.open != nullptr) t.open->deleted = true;
  return key;
}

LONG splitPath(LPCSTR subKey, std::vector<std::string>* parts) {
  parts->clear();
  if (subKey == nullptr) return ERROR_SUCCESS;
  std::string_view s(subKey);
  if (!s.empty() && s[0] == '\\') return ERROR_BAD_PATHNAME;
  size_t start = 0;
  while (start < s.size()) {
    size_t end = s.find('\\', start);
    if (end == std::string_view::npos) end = s.size();
    if (end == start) return ERROR_BAD_PATHNAME;
    if (end - start > registry::kMaxKeyNameLength) return ERROR_INVALID_PARAMETER;
    if (parts->size() == kMaxDepth) return ERROR_INVALID_PARAMETER;
    parts->emplace_back(s.substr(start, end - start));
    start = end + 1;
  }
  return ERROR_SUCCESS;
}

std::vector<std::string> joined(const std::vector<std::string>& base,
                                const std::vector<std::string>& parts) {
  std::vector<std::string> path = base;
  path.insert(path.end(), parts.begin(), parts.end());
  return path;
}

HKEY newHandle(int hive, std::vector<std::string> path, REGSAM access) {
  uintptr_t h = g_nextHandle;
  g_nextHandle += 4;
  g_handles.emplace(h, OpenKey{hive, std::move(path), access, false});
  return reinterpret_cast<HKEY>(h);
}

bool sameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = char(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = char(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// Marks the handles of the deleted key and of every key below it (below it only, when the
// key itself stays).
void markDeleted(int hive, const std::vector<std::string>& path, bool keyStays) {
  for (auto& [h, open] : g_handles) {
    if (open.hive != hive || open.path.size() < path.size()) continue;
    if (keyStays && open.path.size() == path.size()) continue;
    bool below = true;
    for (size_t i = 0; i < path.size() && below; ++i) below = sameName(open.path[i], path[i]);
    if (below) open.deleted = true;
  }
}

LONG deliverData(const RegValue& v, DWORD* type, BYTE* data, DWORD* size) {
  if (type != nullptr) *type = v.type;
  if (size == nullptr) return ERROR_SUCCESS;
  const DWORD need = DWORD(v.data.size());
  if (data != nullptr) {
    if (*size < need) {
      *size = need;
      return ERROR_MORE_DATA;
    }
    if (need != 0) std::memcpy(data, v.data.data(), need);
  }
  *size = need;
  return ERROR_SUCCESS;
}

// Copies a name into a caller's buffer of *length bytes; *length becomes the name's length.
LONG deliverName(const std::string& name, LPSTR buffer, DWORD* length) {
  if (name.size() >= *length) return ERROR_MORE_DATA;
  std::memcpy(buffer, name.data(), name.size());
  buffer[name.size()] = '\0';
  *length = DWORD(name.size());
  return ERROR_SUCCESS;
}

FILETIME fileTimeOf(const timespec& t) {
  FILETIME ft{0, 0};
  if (t.tv_sec == 0 && t.tv_nsec == 0) return ft;
  uint64_t ticks = (uint64_t(t.tv_sec) + 11644473600ull) * 10000000ull + uint64_t(t.tv_nsec) / 100;
  ft.dwLowDateTime = DWORD(ticks);
  ft.dwHighDateTime = DWORD(ticks >> 32);
  return ft;
}

// The key a handle names, read from the latest committed tree.
LONG readKey(const Target& t, RegKey** key) {
  registry::HiveFile& hive = hiveFile(t.hive);
  if (LONG r = hive.refresh(); r != kOk) return r;
  *key = locate(hive.root(), t);
  return *key == nullptr ? LONG(ERROR_KEY_DELETED) : LONG(ERROR_SUCCESS);
}

}  // namespace

LSTATUS RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD /*options*/, REGSAM access, PHKEY result) {
  Guard guard;
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  Target t;
  std::vector<std::string> parts;
  if (LONG r = resolve(key, &t); r != kOk) return r;
  if (LONG r = splitPath(subKey, &parts); r != kOk) return r;
  if (parts.empty() && t.open == nullptr) {
    *result = key;
    return ERROR_SUCCESS;
  }
  RegKey* found = nullptr;
  if (LONG r = readKey(t, &found); r != kOk) return r;
  std::vector<std::string> path = *t.path;
  for (const std::string& part : parts) {
    found = found->child(part);
    if (found == nullptr) return ERROR_FILE_NOT_FOUND;
    path.push_back(found->name());
  }
  *result = newHandle(t.hive, std::move(path), access);
  return ERROR_SUCCESS;
}

LSTATUS RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD /*reserved*/, LPSTR /*keyClass*/,
                        DWORD options, REGSAM access, void* /*security*/, PHKEY result,
                        DWORD* disposition) {
  Guard guard;
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  if (options != REG_OPTION_NON_VOLATILE) return ERROR_INVALID_PARAMETER;
  Target t;
  std::vector<std::string> parts;
  if (LONG r = resolve(key, &t); r != kOk) return r;
  if (LONG r = splitPath(subKey, &parts); r != kOk) return r;
  if (t.path->size() + parts.size() > kMaxDepth) return ERROR_INVALID_PARAMETER;
  if (parts.empty() && t.open == nullptr) {
    *result = key;
    if (disposition != nullptr) *disposition = REG_OPENED_EXISTING_KEY;
    return ERROR_SUCCESS;
  }

  // Opening an existing key needs no lock and no write.
  RegKey* found = nullptr;
  if (LONG r = readKey(t, &found); r != kOk) return r;
  std::vector<std::string> path = *t.path;
  for (size_t i = 0; i < parts.size() && found != nullptr; ++i) {
    found = found->child(parts[i]);
    if (found != nullptr) path.push_back(found->name());
  }
  bool created = false;
  if (found == nullptr) {
    if (!(t.access & KEY_CREATE_SUB_KEY)) return ERROR_ACCESS_DENIED;
    LONG r = hiveFile(t.hive).update([&](RegKey& root, bool* changed) -> LONG {
      RegKey* k = locate(root, t);
      if (k == nullptr) return ERROR_KEY_DELETED;
      path = *t.path;
      for (const std::string& part : parts) {
        bool made = false;
        k = k->addChild(part, &made);
        created = created || made;
        path.push_back(k->name());
      }
      *changed = created;
      return ERROR_SUCCESS;
    });
    if (r != kOk) return r;
  }
  *result = newHandle(t.hive, std::move(path), access);
  if (disposition != nullptr)
    *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  return ERROR_SUCCESS;
}

LSTATUS RegSetValueExA(HKEY key, LPCSTR valueName, DWORD /*reserved*/, DWORD type, const BYTE* data,
                       DWORD size) {
  Guard guard;
  Target t;
  if (LONG r = resolve(key, &t); r != kOk) return r;
  if (!(t.access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  const std::string_view name = valueName != nullptr ? valueName : "";
  if (name.size() > registry::kMaxValueNameLength) return ERROR_INVALID_PARAMETER;
  if (data == nullptr && size != 0) return ERROR_NOACCESS;
  std::string bytes;
  if (size != 0) bytes.assign(reinterpret_cast<const char*>(data), size);
  if ((type == REG_SZ || type == REG_EXPAND_SZ) && (bytes.empty() || bytes.back() != '\0'))
    bytes.push_back('\0');
  if (bytes.size() > registry::kMaxValueSize) return ERROR_INVALID_PARAMETER;
  return hiveFile(t.hive).update([&](RegKey& root, bool* changed) -> LONG {
    RegKey* k = locate(root, t);
    if (k == nullptr) return ERROR_KEY_DELETED;
    *changed = k->setValue(name, type, std::move(bytes));
    return ERROR_SUCCESS;
  });
}

LSTATUS RegQueryValueExA(HKEY key, LPCSTR valueName, DWORD* reserved, DWORD* type, BYTE* data,
                         DWORD* size) {
  Guard guard;
  if (reserved != nullptr || (data != nullptr && size == nullptr)) return ERROR_INVALID_PARAMETER;
  Target t;
  if (LONG r = resolve(key, &t); r != kOk) return r;
  if (!(t.access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  RegKey* k = nullptr;
  if (LONG r = readKey(t, &k); r != kOk) return r;
  const RegValue* v = k->value(valueName != nullptr ? valueName : "");
  if (v == nullptr) return ERROR_FILE_NOT_FOUND;
  return deliverData(*v, type, data, size);
}

LSTATUS RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, DWORD* nameLength, DWORD* reserved,
                      LPSTR keyClass, DWORD* classLength, FILETIME* lastWriteTime) {
  Guard guard;
  if (reserved != nullptr || name == nullptr || nameLength == nullptr)
    return ERROR_INVALID_PARAMETER;
  Target t;
  if (LONG r = resolve(key, &t); r != kOk) return r;
  if (!(t.access & KEY_ENUMERATE_SUB_KEYS)) return ERROR_ACCESS_DENIED;
  RegKey* k = nullptr;
  if (LONG r = readKey(t, &k); r != kOk) return r;
  if (index >= k->childCount()) return ERROR_NO_MORE_ITEMS;
  if (LONG r = deliverName(k->childAt(index)->name(), name, nameLength); r != kOk) return r;
  if (keyClass != nullptr && classLength != nullptr && *classLength > 0) keyClass[0] = '\0';
  if (classLength != nullptr) *classLength = 0;
  if (lastWriteTime != nullptr) *lastWriteTime = fileTimeOf(hiveFile(t.hive).commitTime());
  return ERROR_SUCCESS;
}

LSTATUS RegEnumValueA(HKEY key, DWORD index, LPSTR valueName, DWORD* nameLength, DWORD* reserved,
                      DWORD* type, BYTE* data, DWORD* size) {
  Guard guard;
  if (reserved != nullptr || valueName == nullptr || nameLength == nullptr ||
      (data != nullptr && size == nullptr))
    return ERROR_INVALID_PARAMETER;
  Target t;
  if (LONG r = resolve(key, &t); r != kOk) return r;
  if (!(t.access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  RegKey* k = nullptr;
  if (LONG r = readKey(t, &k); r != kOk) return r;
  if (index >= k->valueCount()) return ERROR_NO_MORE_ITEMS;
  const RegValue& v = k->valueAt(index);
  if (LONG r = deliverName(v.name, valueName, nameLength); r != kOk) return r;
  return deliverData(v, type, data, size);
}

LSTATUS RegDeleteKeyA(HKEY key, LPCSTR subKey) {
  Guard guard;
  if (subKey == nullptr) return ERROR_INVALID_PARAMETER;
  Target t;
  std::vector<std::string> parts;
  if (LONG r = resolve(key, &t); r != kOk) return r;
  if (LONG r = splitPath(subKey, &parts); r != kOk) return r;
  if (parts.empty() && t.open == nullptr) return ERROR_ACCESS_DENIED;  // a root stays
  const std::vector<std::string> path = joined(*t.path, parts);
  LONG r = hiveFile(t.hive).update([&](RegKey& root, bool* changed) -> LONG {
    if (locate(root, t) == nullptr) return ERROR_KEY_DELETED;
    RegKey* parent = walk(&root, path, path.size() - 1);
    RegKey* victim = parent != nullptr ? parent->child(path.back()) : nullptr;
    if (victim == nullptr) return ERROR_FILE_NOT_FOUND;
    if (victim->childCount() > 0) return ERROR_ACCESS_DENIED;
    parent->removeChild(path.back());
    *changed = true;
    return ERROR_SUCCESS;
  });
  if (r == kOk) markDeleted(t.hive, path, false);
  return r;
}

LSTATUS RegDeleteTreeA(HKEY key, LPCSTR subKey) {
  Guard guard;
  Target t;
  std::vector<std::string> parts;
  if (LONG r = resolve(key, &t); r != kOk) return r;
  if (LONG r = splitPath(subKey, &parts); r != kOk) return r;
  const bool keyStays = parts.empty();
  REGSAM need = DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE;
  if (keyStays) need |= KEY_SET_VALUE;
  if ((t.access & need) != need) return ERROR_ACCESS_DENIED;
  const std::vector<std::string> path = joined(*t.path, parts);
  LONG r = hiveFile(t.hive).update([&](RegKey& root, bool* changed) -> LONG {
    if (locate(root, t) == nullptr) return ERROR_KEY_DELETED;
    if (keyStays) {
      RegKey* k = walk(&root, path, path.size());
      *changed = k->childCount() > 0 || k->valueCount() > 0;
      k->clear();
      return ERROR_SUCCESS;
    }
    RegKey* parent = walk(&root, path, path.size() - 1);
    if (parent == nullptr || parent->removeChild(path.back()) == nullptr)
      return ERROR_FILE_NOT_FOUND;
    *changed = true;
    return ERROR_SUCCESS;
  });
  if (r == kOk) markDeleted(t.hive, path, keyStays);
  return r;
}

LSTATUS RegDeleteValueA(HKEY key, LPCSTR valueName) {
  Guard guard;
  Target t;
  if (LONG r = resolve(key, &t); r != kOk) return r;
  if (!(t.access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  const std::string_view name = valueName != nullptr ? valueName : "";
  return hiveFile(t.hive).update([&](RegKey& root, bool* changed) -> LONG {
    RegKey* k = locate(root, t);
    if (k == nullptr) return ERROR_KEY_DELETED;
    if (!k->removeValue(name)) return ERROR_FILE_NOT_FOUND;
    *changed = true;
    return ERROR_SUCCESS;
  });
}

LSTATUS RegCloseKey(HKEY key) {
  Guard guard;
  if (rootIndex(key) >= 0) return ERROR_SUCCESS;
  return g_handles.erase(reinterpret_cast<uintptr_t>(key)) == 1 ? LONG(ERROR_SUCCESS)
                                                                : LONG(ERROR_INVALID_HANDLE);
}

std::string registryLastProblem() { return registry::lastProblem(); }

void clearRegistryLastProblem() { registry::clearProblem(); }

std::string registryHivePath(HKEY root) {
  int index = rootIndex(root);
  if (index < 0) return std::string();
  Guard guard;
  return hiveFile(index).path();
}

void resetRegistryForTesting() {
  Guard guard;
  g_handles.clear();
  for (int i = 0; i < 3; ++i) hiveFile(i).forget();
  registry::clearProblem();
  registry::setBeforeRenameHook(nullptr);
}

void setRegistryBeforeRenameHookForTesting(void (*hook)()) {
  Guard guard;
  registry::setBeforeRenameHook(hook);
}

LSTATUS registryKeyLocation(HKEY key, int* hive, std::string* path, REGSAM* access) {
  Guard guard;
  Target t;
  if (LONG r = resolve(key, &t); r != ERROR_SUCCESS) return r;
  *hive = t.hive;
  path->clear();
  for (const std::string& part : *t.path) {
    if (!path->empty()) path->push_back('\\');
    path->append(part);
  }
  if (access != nullptr) *access = t.access;
  return ERROR_SUCCESS;
}
