// Certificate stores: memory, file, registry and system stores, their elements and the
// references that keep contexts valid after their store is closed.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <functional>

#include "platform/CryptInternal.h"
#include "platform/DurableFile.h"
#include "platform/FileApi.h"
#include "platform/PlatformRoot.h"

namespace wincrypt {

enum class StoreKind { Memory, File, Registry };

struct Store {
  StoreKind kind = StoreKind::Memory;
  bool open = true;
  bool readOnly = false;
  bool machineRoot = false;  // shows the machine's trusted authorities too
  int handedOut = 0;         // references to its contexts held outside
  std::vector<Context*> certs;
  std::string path;  // a registry store's file
};

namespace {

constexpr DWORD kInvalidArg = 0x80070057;
constexpr size_t kMaxStoreFile = 256 * 1024 * 1024;
std::vector<Store*> g_stores;  // the live stores, so a stale or foreign handle is refused

Store* storeOf(HCERTSTORE h) {
  auto* s = static_cast<Store*>(h);
  return std::find(g_stores.begin(), g_stores.end(), s) != g_stores.end() && s->open ? s : nullptr;
}

void destroyStore(Store* s) {
  for (Context* c : s->certs) deleteContext(c);
  g_stores.erase(std::remove(g_stores.begin(), g_stores.end(), s), g_stores.end());
  delete s;
}

void releaseStoreIfDone(Store* s) {
  if (s != nullptr && !s->open && s->handedOut == 0) destroyStore(s);
}

// A registry key path as a file below the store directory: lower case (keys match without
// regard to case), each key a directory, bytes other than letters, digits, '-', '_' and a
// non-leading '.' written as %XX.
std::string storeFileFor(int hive, const std::string& keyPath) {
  static const char* const hives[] = {"hkcr", "hkcu", "hklm"};
  std::string rel = std::string("certstores/") + hives[hive];
  size_t start = 0;
  while (start <= keyPath.size()) {
    size_t end = keyPath.find('\\', start);
    if (end == std::string::npos) end = keyPath.size();
    std::string part;
    for (size_t i = start; i < end; ++i) {
      const unsigned char c = static_cast<unsigned char>(std::tolower(keyPath[i]));
      if (std::isalnum(c) || c == '-' || c == '_' || (c == '.' && i != start)) {
        part.push_back(char(c));
      } else {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%%%02X", c);
        part += hex;
      }
    }
    if (!part.empty()) rel += "/" + part;
    start = end + 1;
  }
  return platformPath(rel + ".sst");
}

void snapshot(const Store* s, std::vector<StoredCert>* out) {
  out->clear();
  for (const Context* c : s->certs)
    if (!c->readOnly) out->push_back(StoredCert{c->der, c->props});
}

// Makes the store's elements those of `list`, keeping the context of every certificate that
// stays (a caller may hold it) and the machine's authorities after the store's own.
void adoptList(Store* s, std::vector<StoredCert>& list) {
  std::vector<Context*> old;
  old.swap(s->certs);
  for (StoredCert& sc : list) {
    auto same = std::find_if(old.begin(), old.end(), [&](Context* c) {
      return c != nullptr && !c->readOnly && c->der == sc.der;
    });
    Context* c = nullptr;
    if (same != old.end()) {
      c = *same;
      *same = nullptr;
    } else {
      c = newContext(sc.der.data(), sc.der.size());
      if (c == nullptr) continue;
      c->store = s;
      c->pub.hCertStore = s;
      c->inStore = true;
    }
    std::shared_ptr<EVP_PKEY> key = c->props.memoryKey;  // never in a file
    c->props = sc.props;
    if (!c->props.memoryKey) c->props.memoryKey = key;
    s->certs.push_back(c);
  }
  for (Context* c : old) {
    if (c == nullptr) continue;
    if (c->readOnly) {
      s->certs.push_back(c);
    } else if (c->refs > 0) {
      c->inStore = false;  // freed with its last reference
    } else {
      deleteContext(c);
    }
  }
}

void addMachineAuthorities(Store* s) {
  const auto bundle = trustedBundle();
  for (const BundleCert& b : *bundle) {
    bool own =
        std::any_of(s->certs.begin(), s->certs.end(), [&](Context* c) { return c->der == b.der; });
    if (own) continue;
    X509* x = bundleX509(b);
    if (x == nullptr) continue;
    Context* c = newContext(x, b.der);
    c->store = s;
    c->pub.hCertStore = s;
    c->inStore = true;
    c->readOnly = true;
    s->certs.push_back(c);
  }
}

// Reads a registry store's file. A damaged one is set aside under the lock (another process
// may have replaced it meanwhile) and the store starts empty. False with the last error when
// the file cannot be read at all.
bool readStoreFile(const std::string& path, std::vector<StoredCert>* list, bool locked) {
  list->clear();
  durable::Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) {
    if (errno == ENOENT) return true;
    return fail(win32ErrorFromErrno(errno));
  }
  std::string bytes, why;
  struct stat st;
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    why = "it is not a regular file";
  } else if (!durable::readAll(fd.get(), kMaxStoreFile, &bytes)) {
    return fail(win32ErrorFromErrno(errno));
  } else if (parseStore(bytes, list, &why)) {
    return true;
  }
  if (!locked) {
    durable::FileLock lock;
    if (int err = lock.acquire(path + ".lock"); err != 0) return fail(win32ErrorFromErrno(err));
    return readStoreFile(path, list, true);
  }
  int err = 0;
  const std::string aside = durable::setAside(path, &err);
  if (aside.empty()) {
    noteStoreProblem("Certificate store " + path + " is unreadable (" + why +
                     ") and could not be set aside");
    return fail(CRYPT_E_FILE_ERROR);
  }
  noteStoreProblem("Certificate store " + path + " was unreadable (" + why + "); it was kept as " +
                   aside + " and the store starts empty");
  list->clear();
  return true;
}

// Runs a change on the store's current certificates and, when it changed them, makes them
// the store's: a registry store's file is re-read under its lock and replaced whole.
// `change` returns 0 or the error that stops it.
BOOL changeStore(Store* s, const std::function<DWORD(std::vector<StoredCert>&, bool*)>& change) {
  if (s->readOnly) return fail(E_ACCESSDENIED_CRYPT);
  std::vector<StoredCert> list;
  bool changed = false;
  if (s->kind != StoreKind::Registry) {
    snapshot(s, &list);
    if (DWORD err = change(list, &changed); err != 0) return fail(err);
    if (changed) adoptList(s, list);
    return TRUE;
  }
  const std::string dir = s->path.substr(0, s->path.find_last_of('/'));
  if (int err = 0; !durable::makeDirectories(dir, &err, 0755))
    return fail(win32ErrorFromErrno(err));
  durable::FileLock lock;
  if (int err = lock.acquire(s->path + ".lock"); err != 0) return fail(win32ErrorFromErrno(err));
  if (!readStoreFile(s->path, &list, true)) return FALSE;
  if (DWORD err = change(list, &changed); err != 0) {
    adoptList(s, list);
    if (s->machineRoot) addMachineAuthorities(s);
    return fail(err);
  }
  if (changed) {
    if (int err = durable::replaceFile(s->path, s->path + ".tmp", serializeStore(list), 0644);
        err != 0) {
      noteStoreProblem("Certificate store " + s->path +
                       " could not be written: " + std::strerror(err));
      return fail(win32ErrorFromErrno(err));
    }
  }
  adoptList(s, list);
  if (s->machineRoot) addMachineAuthorities(s);
  return TRUE;
}

const char* const kPredefined[] = {
    "MY",    "CA",         "ROOT",          "AUTHROOT",        "ADDRESSBOOK",
    "TRUST", "DISALLOWED", "TRUSTEDPEOPLE", "TRUSTEDPUBLISHER"};

std::string upper(std::string s) {
  for (char& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

HCERTSTORE openRegistryLocation(int hive, const std::string& keyPath, bool readOnly,
                                bool withAuthorities = true) {
  auto* s = new Store;
  s->kind = StoreKind::Registry;
  s->readOnly = readOnly;
  s->path = storeFileFor(hive, keyPath);
  s->machineRoot = withAuthorities && hive == 2 &&
                   upper(keyPath) == "SOFTWARE\\MICROSOFT\\SYSTEMCERTIFICATES\\ROOT";
  std::vector<StoredCert> list;
  if (!readStoreFile(s->path, &list, false)) {
    delete s;
    return nullptr;
  }
  g_stores.push_back(s);
  adoptList(s, list);
  if (s->machineRoot) addMachineAuthorities(s);
  return s;
}

HCERTSTORE openSystem(DWORD flags, const void* para, bool withAuthorities = true) {
  const auto* wname = static_cast<LPCWSTR>(para);
  const DWORD location = flags & CERT_SYSTEM_STORE_LOCATION_MASK;
  if (wname == nullptr || wname[0] == 0 ||
      (location != CERT_SYSTEM_STORE_CURRENT_USER && location != CERT_SYSTEM_STORE_LOCAL_MACHINE)) {
    fail(kInvalidArg);
    return nullptr;
  }
  std::u16string w(wname);
  const std::string name = utf8FromUtf16(w);
  if (name.find('\\') != std::string::npos) {
    fail(kInvalidArg);
    return nullptr;
  }
  const int hive = location == CERT_SYSTEM_STORE_CURRENT_USER ? 1 : 2;
  const HKEY root = hive == 1 ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
  const std::string keyPath = "Software\\Microsoft\\SystemCertificates\\" + name;
  const bool predefined = std::find(std::begin(kPredefined), std::end(kPredefined), upper(name)) !=
                          std::end(kPredefined);
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, keyPath.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
    RegCloseKey(key);
  } else if (!predefined &&
             (flags & (CERT_STORE_READONLY_FLAG | CERT_STORE_OPEN_EXISTING_FLAG)) != 0) {
    fail(ERROR_FILE_NOT_FOUND);
    return nullptr;
  } else if (!(flags & CERT_STORE_READONLY_FLAG)) {
    // The store's key, so a registry store opened on it finds the same certificates.
    LSTATUS r = RegCreateKeyExA(root, keyPath.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                nullptr);
    if (r != ERROR_SUCCESS) {
      fail(DWORD(r));
      return nullptr;
    }
    RegCloseKey(key);
  }
  return openRegistryLocation(hive, keyPath, flags & CERT_STORE_READONLY_FLAG, withAuthorities);
}

HCERTSTORE openFile(DWORD flags, const void* para) {
  HANDLE h = const_cast<HANDLE>(para);
  std::string bytes;
  char buf[65536];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(h, buf, sizeof buf, &got, nullptr)) return nullptr;
    bytes.append(buf, got);
    if (got < sizeof buf) break;
    if (bytes.size() > kMaxStoreFile) {
      fail(CRYPT_E_FILE_ERROR);
      return nullptr;
    }
  }
  std::vector<StoredCert> list;
  std::string why;
  if (!bytes.empty() && !parseStore(bytes, &list, &why)) {
    fail(CRYPT_E_FILE_ERROR);
    return nullptr;
  }
  auto* s = new Store;
  s->kind = StoreKind::File;
  g_stores.push_back(s);
  adoptList(s, list);
  s->readOnly = flags & CERT_STORE_READONLY_FLAG;
  return s;
}

PCCERT_CONTEXT findElement(Store* s, const std::vector<BYTE>& der) {
  for (Context* c : s->certs)
    if (c->der == der) return handOut(c);
  return nullptr;
}

int64_t notBefore(const Context* c) { return unixFromFileTime(c->info.NotBefore); }

}  // namespace

HCERTSTORE openSystemStoreOwnCertificates(const char16_t* name, DWORD flags) {
  registerCryptTexts();
  std::lock_guard<std::recursive_mutex> lock(cryptMutex());
  return openSystem(flags, name, false);
}

PCCERT_CONTEXT handOut(Context* c) {
  ++c->refs;
  if (c->store != nullptr) ++c->store->handedOut;
  return &c->pub;
}

}  // namespace wincrypt

using namespace wincrypt;

BOOL CertFreeCertificateContext(PCCERT_CONTEXT context) {
  if (context == nullptr) return TRUE;
  std::lock_guard<std::recursive_mutex> lock(cryptMutex());
  Context* c = contextOf(context);
  if (c->refs <= 0) return TRUE;
  --c->refs;
  Store* s = c->store;
  if (s != nullptr) --s->handedOut;
  if (c->refs == 0 && (s == nullptr || !c->inStore)) deleteContext(c);
  releaseStoreIfDone(s);
  return TRUE;
}

HCERTSTORE CertOpenStore(LPCSTR provider, DWORD /*encoding*/, HCRYPTPROV_LEGACY /*prov*/,
                         DWORD flags, const void* pvPara) {
  registerCryptTexts();
  std::lock_guard<std::recursive_mutex> lock(cryptMutex());
  if (provider == CERT_STORE_PROV_MEMORY) {
    auto* s = new Store;
    g_stores.push_back(s);
    return s;
  }
  if (provider == CERT_STORE_PROV_FILE) return openFile(flags, pvPara);
  if (provider == CERT_STORE_PROV_SYSTEM_W) return openSystem(flags, pvPara);
  if (provider == CERT_STORE_PROV_REG) {
    int hive = 0;
    std::string path;
    if (LSTATUS r = registryKeyLocation(static_cast<HKEY>(const_cast<void*>(pvPara)), &hive, &path,
                                        nullptr);
        r != ERROR_SUCCESS) {
      fail(DWORD(r));
      return nullptr;
    }
    return openRegistryLocation(hive, path, flags & CERT_STORE_READONLY_FLAG);
  }
  fail(ERROR_FILE_NOT_FOUND);  // no such store provider
  return nullptr;
}

BOOL CertCloseStore(HCERTSTORE store, DWORD flags) {
  if (store == nullptr) return TRUE;
  std::lock_guard<std::recursive_mutex> lock(cryptMutex());
  Store* s = storeOf(store);
  if (s == nullptr) return fail(kInvalidArg);
  s->open = false;
  const bool pending = s->handedOut > 0;
  releaseStoreIfDone(s);
  if (pending && (flags & CERT_CLOSE_STORE_CHECK_FLAG)) return fail(CRYPT_E_PENDING_CLOSE);
  return TRUE;
}

PCCERT_CONTEXT CertEnumCertificatesInStore(HCERTSTORE store, PCCERT_CONTEXT prev) {
  std::lock_guard<std::recursive_mutex> lock(cryptMutex());
  Store* s = storeOf(store);
  if (s == nullptr) {
    CertFreeCertificateContext(prev);
    SetLastError(kInvalidArg);
    return nullptr;
  }
  size_t next = 0;
  if (prev != nullptr) {
    auto it = std::find(s->certs.begin(), s->certs.end(), contextOf(prev));
    // A previous context no longer in the store ends the enumeration.
    next = it == s->certs.end() ? s->certs.size() : size_t(it - s->certs.begin()) + 1;
    CertFreeCertificateContext(prev);
  }
  if (next >= s->certs.size()) {
    SetLastError(CRYPT_E_NOT_FOUND);
    return nullptr;
  }
  return handOut(s->certs[next]);
}

PCCERT_CONTEXT CertGetSubjectCertificateFromStore(HCERTSTORE store, DWORD /*encoding*/,
                                                  PCERT_INFO certId) {
  registerCryptTexts();
  std::lock_guard<std::recursive_mutex> lock(cryptMutex());
  Store* s = storeOf(store);
  if (s == nullptr || certId == nullptr) {
    SetLastError(kInvalidArg);
    return nullptr;
  }
  std::vector<BYTE> keyId;
  const bool byKeyId = keyIdOfSignerId(*certId, &keyId);
  for (Context* c : s->certs)
    if (byKeyId ? hasSubjectKeyId(*c, keyId) : sameIssuerAndSerial(c->info, *certId))
      return handOut(c);
  SetLastError(CRYPT_E_NOT_FOUND);
  return nullptr;
}

BOOL CertAddCertificateContextToStore(HCERTSTORE store, PCCERT_CONTEXT context, DWORD disposition,
                                      PCCERT_CONTEXT* added) {
  registerCryptTexts();
  if (added != nullptr) *added = nullptr;
  std::lock_guard<std::recursive_mutex> lock(cryptMutex());
  Store* s = storeOf(store);
  if (s == nullptr || context == nullptr || disposition < CERT_STORE_ADD_NEW ||
      disposition > CERT_STORE_ADD_NEWER)
    return fail(kInvalidArg);
  const Context* in = contextOf(context);
  std::vector<BYTE> kept;  // the certificate the store ends up with
  BOOL ok = changeStore(s, [&](std::vector<StoredCert>& list, bool* changed) -> DWORD {
    auto existing = list.end();
    Context* old = nullptr;
    for (auto it = list.begin(); it != list.end() && disposition != CERT_STORE_ADD_ALWAYS; ++it) {
      Context* c = newContext(it->der.data(), it->der.size());
      if (c != nullptr && sameIssuerAndSerial(c->info, in->info)) {
        existing = it;
        old = c;
        break;
      }
      if (c != nullptr) deleteContext(c);
    }
    if (existing == list.end()) {
      list.push_back(StoredCert{in->der, in->props});
      kept = in->der;
      *changed = true;
      return 0;
    }
    const int64_t oldNotBefore = notBefore(old);
    deleteContext(old);
    kept = existing->der;
    switch (disposition) {
      case CERT_STORE_ADD_NEW:
        return CRYPT_E_EXISTS;
      case CERT_STORE_ADD_USE_EXISTING:
        return 0;
      case CERT_STORE_ADD_NEWER:
        if (notBefore(in) <= oldNotBefore) return CRYPT_E_EXISTS;
        break;
      default:
        break;
    }
    Properties props = in->props;
    if (disposition == CERT_STORE_ADD_REPLACE_EXISTING_INHERIT_PROPERTIES) {
      if (!props.keyProv) props.keyProv = existing->props.keyProv;
      if (!props.friendlyName) props.friendlyName = existing->props.friendlyName;
    }
    *existing = StoredCert{in->der, props};
    kept = in->der;
    *changed = true;
    return 0;
  });
  // An in-memory key goes with the copy, as the property that names it does.
  if (ok && in->props.memoryKey) {
    for (Context* c : s->certs)
      if (c->der == in->der) c->props.memoryKey = in->props.memoryKey;
  }
  if (ok && added != nullptr) *added = findElement(s, kept);
  return ok;
}

BOOL CertAddEncodedCertificateToStore(HCERTSTORE store, DWORD encoding, const BYTE* encoded,
                                      DWORD size, DWORD disposition, PCCERT_CONTEXT* added) {
  PCCERT_CONTEXT c = CertCreateCertificateContext(encoding, encoded, size);
  if (c == nullptr) return FALSE;
  BOOL ok = CertAddCertificateContextToStore(store, c, disposition, added);
  const DWORD err = GetLastError();
  CertFreeCertificateContext(c);
  SetLastError(err);
  return ok;
}

BOOL CertDeleteCertificateFromStore(PCCERT_CONTEXT context) {
  registerCryptTexts();
  if (context == nullptr) return fail(kInvalidArg);
  std::lock_guard<std::recursive_mutex> lock(cryptMutex());
  Context* c = contextOf(context);
  Store* s = c->store;
  BOOL ok = FALSE;
  if (s == nullptr || !s->open || !c->inStore) {
    SetLastError(kInvalidArg);
  } else if (c->readOnly) {
    SetLastError(E_ACCESSDENIED_CRYPT);
  } else {
    const std::vector<BYTE> der = c->der;
    ok = changeStore(s, [&](std::vector<StoredCert>& list, bool* changed) -> DWORD {
      auto it = std::find_if(list.begin(), list.end(),
                             [&](const StoredCert& sc) { return sc.der == der; });
      if (it == list.end()) return CRYPT_E_NOT_FOUND;
      list.erase(it);
      *changed = true;
      return 0;
    });
  }
  const DWORD err = GetLastError();
  CertFreeCertificateContext(context);
  SetLastError(err);
  return ok;
}

BOOL CertSetCertificateContextProperty(PCCERT_CONTEXT context, DWORD propId, DWORD /*flags*/,
                                       const void* data) {
  registerCryptTexts();
  if (context == nullptr) return fail(kInvalidArg);
  std::lock_guard<std::recursive_mutex> lock(cryptMutex());
  Context* c = contextOf(context);
  Properties props = c->props;
  if (propId == CERT_KEY_PROV_INFO_PROP_ID) {
    const auto* k = static_cast<const CRYPT_KEY_PROV_INFO*>(data);
    if (k == nullptr) {
      props.keyProv.reset();
    } else {
      KeyProvInfo info;
      if (k->pwszContainerName != nullptr) info.container = k->pwszContainerName;
      if (k->pwszProvName != nullptr) info.provider = k->pwszProvName;
      info.provType = k->dwProvType;
      info.flags = k->dwFlags;
      info.keySpec = k->dwKeySpec;
      props.keyProv = info;
    }
  } else if (propId == CERT_FRIENDLY_NAME_PROP_ID) {
    const auto* b = static_cast<const CRYPT_DATA_BLOB*>(data);
    if (b == nullptr)
      props.friendlyName.reset();
    else
      props.friendlyName = std::string(reinterpret_cast<const char*>(b->pbData), b->cbData);
  } else {
    return fail(kInvalidArg);
  }
  Store* s = c->store;
  if (s == nullptr || !c->inStore || s->kind != StoreKind::Registry) {
    c->props = props;
    return TRUE;
  }
  const std::vector<BYTE> der = c->der;
  return changeStore(s, [&](std::vector<StoredCert>& list, bool* changed) -> DWORD {
    for (StoredCert& sc : list) {
      if (sc.der != der) continue;
      sc.props.keyProv = props.keyProv;
      sc.props.friendlyName = props.friendlyName;
      *changed = true;
      return 0;
    }
    return CRYPT_E_NOT_FOUND;
  });
}

BOOL CertSaveStore(HCERTSTORE store, DWORD /*encoding*/, DWORD saveAs, DWORD saveTo,
                   void* saveToPara, DWORD /*flags*/) {
  registerCryptTexts();
  std::lock_guard<std::recursive_mutex> lock(cryptMutex());
  Store* s = storeOf(store);
  if (s == nullptr || saveAs != CERT_STORE_SAVE_AS_STORE || saveToPara == nullptr)
    return fail(kInvalidArg);
  std::vector<StoredCert> list;
  snapshot(s, &list);
  const std::string bytes = serializeStore(list);
  if (saveTo == CERT_STORE_SAVE_TO_FILE) {
    DWORD written = 0;
    if (!WriteFile(static_cast<HANDLE>(saveToPara), bytes.data(), DWORD(bytes.size()), &written,
                   nullptr))
      return FALSE;
    return written == bytes.size() ? TRUE : fail(CRYPT_E_FILE_ERROR);
  }
  if (saveTo == CERT_STORE_SAVE_TO_MEMORY) {
    auto* blob = static_cast<CRYPT_DATA_BLOB*>(saveToPara);
    if (blob->pbData == nullptr) {
      blob->cbData = DWORD(bytes.size());
      return TRUE;
    }
    if (blob->cbData < bytes.size()) {
      blob->cbData = DWORD(bytes.size());
      return fail(ERROR_MORE_DATA);
    }
    std::memcpy(blob->pbData, bytes.data(), bytes.size());
    blob->cbData = DWORD(bytes.size());
    return TRUE;
  }
  return fail(kInvalidArg);
}
