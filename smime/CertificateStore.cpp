#include "smime/CertificateStore.h"

#include <cstring>

#include "foundation/FileAccess.h"
#include "foundation/LogBase.h"
#include "foundation/XString.h"
#include "platform/User.h"
#include "smime/Certificate.h"
#include "smime/VR_Registry.h"

namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

void logLastError(LogBase* log, const char* prefix) {
  if (log == nullptr) return;
  StringBuffer msg(prefix);
  msg.appendLastWindowsError();
  log->logError(msg.getString());
}

struct SystemStore {
  const char16_t* name;
  DWORD location;
  const char* label;
  int32_t specKind;
};

const SystemStore kCurrentUserMy{u"MY", CERT_SYSTEM_STORE_CURRENT_USER,
                                 "[Current User Certificate Store]", 1};
const SystemStore kCurrentUserCa{u"CA", CERT_SYSTEM_STORE_CURRENT_USER,
                                 "[CA Current User Certificate Store]", 1};
const SystemStore kMachineCa{u"CA", CERT_SYSTEM_STORE_LOCAL_MACHINE,
                             "[CA Local Machine Certificate Store]", 2};
const SystemStore kMachineRoot{u"ROOT", CERT_SYSTEM_STORE_LOCAL_MACHINE,
                               "[ROOT Local Machine Certificate Store]", 2};
const SystemStore kMachineAuthRoot{u"AUTHROOT", CERT_SYSTEM_STORE_LOCAL_MACHINE,
                                   "[AuthRoot Local Machine Certificate Store]", 2};
const SystemStore kMachineMy{u"MY", CERT_SYSTEM_STORE_LOCAL_MACHINE,
                             "[Local Machine Certificate Store]", 2};

CertificateStore* openSystem(const SystemStore& s, bool readOnly, LogBase* log) {
  HCERTSTORE h = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                               s.location | (readOnly ? CERT_STORE_READONLY_FLAG : 0), s.name);
  if (h == nullptr) {
    logLastError(log, "");
    return nullptr;
  }
  auto* store = new CertificateStore;
  store->store = h;
  store->isRegistry = 1;
  store->storeName.append(s.label);
  const bool user = s.location == CERT_SYSTEM_STORE_CURRENT_USER;
  store->hiveName.append(user ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE");
  if (s.specKind == 1)
    store->spec.setCurrentUserPersonal();
  else
    store->spec.setLocalMachinePersonal();
  return store;
}

CertificateStore* openRegistry(HKEY root, const char* keyPath, bool readOnly, LogBase* log) {
  VR_Registry registry;
  HKEY key = registry.openKeyPath(root, keyPath, readOnly, log);
  if (key == nullptr) return nullptr;
  HCERTSTORE h =
      CertOpenStore(CERT_STORE_PROV_REG, 0, 0, readOnly ? CERT_STORE_READONLY_FLAG : 0, key);
  const DWORD err = GetLastError();
  RegCloseKey(key);
  if (h == nullptr) {
    SetLastError(err);
    logLastError(log, "");
    return nullptr;
  }
  const bool user = root == HKEY_CURRENT_USER;
  auto* store = new CertificateStore;
  store->store = h;
  store->isRegistry = 1;
  store->storeName.append(keyPath);
  store->hiveName.append(user ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE");
  store->spec.setRegistry(user ? CertStoreSpec::kCurrentUser : CertStoreSpec::kLocalMachine,
                          keyPath);
  return store;
}

}  // namespace

void CertStoreSpec::setCurrentUserPersonal() {
  kind = kCurrentUserMy;
  hive = kCurrentUser;
  path.clear();
}

void CertStoreSpec::setLocalMachinePersonal() {
  kind = kLocalMachineMy;
  hive = kLocalMachine;
  path.clear();
}

void CertStoreSpec::setOwnRegistryStore() {
  setRegistry(kLocalMachine, "Software/Vorlund/SystemCertificates");
}

void CertStoreSpec::setAddressBookStore() {
  setRegistry(kCurrentUser, "Software/Microsoft/SystemCertificates/AddressBook");
}

void CertStoreSpec::setFile(const char* p) {
  kind = kFile;
  hive = kNoHive;
  path.setString(p != nullptr ? p : "");
}

void CertStoreSpec::setRegistry(int32_t h, const char* keyPath) {
  kind = kRegistry;
  hive = h;
  path.setString(keyPath != nullptr ? keyPath : "");
}

CertificateStore* CertStoreSpec::openStore(const CertStoreSpec& spec, bool readOnly, LogBase* log) {
  switch (spec.kind) {
    case kCurrentUserMy:
      return CertificateStore::openCurrentUserPersonal(readOnly, log);
    case kLocalMachineMy:
      return CertificateStore::openLocalMachinePersonal(readOnly, log);
    case kFile:
      return CertificateStore::openFile(spec.path.getString(), readOnly, log);
    case kRegistry:
      return spec.hive == kCurrentUser
                 ? CertificateStore::openRegistryCurrentUser(spec.path.getString(), readOnly, log)
                 : CertificateStore::openRegistryLocalMachine(spec.path.getString(), readOnly, log);
    default:
      return nullptr;
  }
}

CertificateStore::~CertificateStore() {
  if (store != nullptr) CertCloseStore(store, CERT_CLOSE_STORE_CHECK_FLAG);
  closeFile(fileHandle);
}

CertificateStore* CertificateStore::openCurrentUserPersonal(bool r, LogBase* l) {
  return openSystem(kCurrentUserMy, r, l);
}
CertificateStore* CertificateStore::openCurrentUserCa(bool r, LogBase* l) {
  return openSystem(kCurrentUserCa, r, l);
}
CertificateStore* CertificateStore::openLocalMachineCa(bool r, LogBase* l) {
  return openSystem(kMachineCa, r, l);
}
CertificateStore* CertificateStore::openLocalMachineRoot(bool r, LogBase* l) {
  return openSystem(kMachineRoot, r, l);
}
CertificateStore* CertificateStore::openLocalMachineAuthRoot(bool r, LogBase* l) {
  return openSystem(kMachineAuthRoot, r, l);
}
CertificateStore* CertificateStore::openLocalMachinePersonal(bool r, LogBase* l) {
  return openSystem(kMachineMy, r, l);
}

CertificateStore* CertificateStore::openRegistryCurrentUser(const char* keyPath, bool readOnly,
                                                            LogBase* log) {
  return openRegistry(HKEY_CURRENT_USER, keyPath, readOnly, log);
}

CertificateStore* CertificateStore::openRegistryLocalMachine(const char* keyPath, bool readOnly,
                                                             LogBase* log) {
  return openRegistry(HKEY_LOCAL_MACHINE, keyPath, readOnly, log);
}

CertificateStore* CertificateStore::openFile(const char* path, bool readOnly, LogBase* log) {
  XString name;
  name.setFromAnsi(path != nullptr ? path : "");
  HANDLE h = readOnly ? openForRead(name, log) : openForReadWrite(name, log);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  HCERTSTORE s =
      CertOpenStore(CERT_STORE_PROV_FILE, 0, 0, readOnly ? CERT_STORE_READONLY_FLAG : 0, h);
  if (s == nullptr) {
    logLastError(log, "");
    closeFile(h);
    return nullptr;
  }
  auto* store = new CertificateStore;
  store->store = s;
  store->fileHandle = h;
  store->isFile = 1;
  store->filePath.append(path);
  store->spec.setFile(path);
  return store;
}

Certificate* CertificateStore::findBySubjectDn(const StringBuffer& dn, bool allowExpired) const {
  if (store == nullptr) return nullptr;
  PCCERT_CONTEXT c = nullptr;
  while ((c = CertEnumCertificatesInStore(store, c)) != nullptr) {
    auto* cert = new Certificate(c);
    // The enumeration ends here, so the record keeps the enumeration's reference.
    if (cert->subjectDn.equalsSb(dn) && (allowExpired || !cert->isExpired())) return cert;
    // The next enumeration call releases this context, so the record must not.
    cert->detachContext();
    delete cert;
  }
  return nullptr;
}

PCCERT_CONTEXT CertificateStore::findBySignerId(PCERT_INFO certInfo) const {
  if (store == nullptr || certInfo == nullptr) return nullptr;
  return CertGetSubjectCertificateFromStore(store, kEncoding, certInfo);
}

bool CertificateStore::addCertificate(const Certificate* cert, LogBase* log) {
  LogBase& l = logOrNull(log);
  if (cert == nullptr) {
    l.logError("NULL value passed to addCertificate");
    return false;
  }
  if (log != nullptr) {
    StringBuffer name, where;
    cert->getSubjectName(name);
    locationLabel(where);
    log->logData("adding_cert", name.getString());
    log->logData("cert_store_location", where.getString());
  }
  if (store == nullptr) {
    l.logError("addCertificate internal error");
    return false;
  }
  if (!CertAddCertificateContextToStore(store, cert->context, CERT_STORE_ADD_NEWER, nullptr)) {
    if (GetLastError() == CRYPT_E_EXISTS) {
      l.logInfo("Certificate already exists in store, no need to add.");
      return true;
    }
    logLastError(&l, "(addCertificate) ");
    return false;
  }
  if (!saveStore(log)) {
    l.logError("Failed to save cert store");
    return false;
  }
  l.logInfo("Successfully added certificate to certificate store.");
  return true;
}

bool CertificateStore::saveStore(LogBase* log) {
  if (!isFile) return true;
  SetFilePointer(fileHandle, 0, nullptr, FILE_BEGIN);
  if (!CertSaveStore(store, kEncoding, CERT_STORE_SAVE_AS_STORE, CERT_STORE_SAVE_TO_FILE,
                     fileHandle, 0)) {
    logLastError(&logOrNull(log), "(savingCertStore) ");
    return false;
  }
  return true;
}

void CertificateStore::locationLabel(StringBuffer& out) const {
  if (isFile) {
    out.append("(file) ");
    out.appendSb(filePath);
  } else {
    out.append("(registry) ");
    out.appendSb(hiveName);
    out.append("/");
    out.appendSb(storeName);
  }
}

bool isIwamUserName(const char* name) {
  return name != nullptr && std::strncmp(name, "IWAM_", 5) == 0;
}

void appendSearchSpecs(ExtPtrArray& out, bool iwamUser) {
  auto add = [&out](void (CertStoreSpec::*set)()) {
    auto* spec = new CertStoreSpec;
    (spec->*set)();
    out.appendPtr(spec);
  };
  add(&CertStoreSpec::setLocalMachinePersonal);
  if (!iwamUser) {
    add(&CertStoreSpec::setOwnRegistryStore);
    add(&CertStoreSpec::setAddressBookStore);
    add(&CertStoreSpec::setCurrentUserPersonal);
  }
}

void openStoreList(ExtPtrArray& out, bool readOnly, LogBase* log) {
  char user[400] = "";
  DWORD size = sizeof user;
  if (!GetUserNameA(user, &size)) user[0] = '\0';
  ExtPtrArray specs;
  appendSearchSpecs(specs, isIwamUserName(user));
  for (int32_t i = 0; i < specs.getSize(); ++i) {
    CertificateStore* s = CertStoreSpec::openStore(*specs.getAs<CertStoreSpec>(i), readOnly, log);
    if (s != nullptr) out.appendPtr(s);
  }
  specs.removeAllObjects();
}
