// Platform certificate stores as the secure-MIME layer opens them: the system stores of the
// current user and the local machine, registry stores and file stores, the CertStoreSpec
// record that says how to open each, and the search list of stores for finding certificates.
#pragma once

#include <cstdint>

#include "foundation/ExtPtrArray.h"
#include "foundation/StringBuffer.h"
#include "foundation/VorlundObject.h"
#include "platform/WinCrypt.h"

class Certificate;
class CertificateStore;
class LogBase;

class CertStoreSpec : public VorlundObject {
 public:
  enum Kind : int32_t { kCurrentUserMy = 1, kLocalMachineMy = 2, kFile = 3, kRegistry = 4 };
  enum Hive : int32_t { kNoHive = 0, kCurrentUser = 1, kLocalMachine = 2 };

  void setCurrentUserPersonal();
  void setLocalMachinePersonal();
  // Software/Vorlund/SystemCertificates under HKEY_LOCAL_MACHINE.
  void setOwnRegistryStore();
  // Software/Microsoft/SystemCertificates/AddressBook under HKEY_CURRENT_USER.
  void setAddressBookStore();
  void setFile(const char* path);
  void setRegistry(int32_t hive, const char* keyPath);

  // Opens the store `spec` (a CertStoreSpec) names; null for an unknown kind or a store that fails
  // to open.
  static CertificateStore* openStore(const CertStoreSpec& spec, bool readOnly, LogBase* log);

  int32_t kind = 0;
  int32_t hive = kNoHive;
  StringBuffer path;
};

class CertificateStore : public VorlundObject {
 public:
  CertificateStore() = default;
  ~CertificateStore() override;
  CertificateStore(const CertificateStore&) = delete;
  CertificateStore& operator=(const CertificateStore&) = delete;

  // The system-store openers; null (with the platform's message in the log) on failure.
  static CertificateStore* openCurrentUserPersonal(bool readOnly, LogBase* log);
  static CertificateStore* openCurrentUserCa(bool readOnly, LogBase* log);
  static CertificateStore* openLocalMachineCa(bool readOnly, LogBase* log);
  static CertificateStore* openLocalMachineRoot(bool readOnly, LogBase* log);
  static CertificateStore* openLocalMachineAuthRoot(bool readOnly, LogBase* log);
  static CertificateStore* openLocalMachinePersonal(bool readOnly, LogBase* log);
  // A registry store on a key path ("/" between keys) under HKCU or HKLM; null, without a
  // message, when the key does not exist.
  static CertificateStore* openRegistryCurrentUser(const char* keyPath, bool readOnly,
                                                   LogBase* log);
  static CertificateStore* openRegistryLocalMachine(const char* keyPath, bool readOnly,
                                                    LogBase* log);
  // A serialized store in a file, created when it does not exist and not read-only.
  static CertificateStore* openFile(const char* path, bool readOnly, LogBase* log);

  // A new record for the first certificate whose subject DN is `dn`, byte for byte, that is
  // not expired or `allowExpired`; null when none.
  Certificate* findBySubjectDn(const StringBuffer& dn, bool allowExpired) const;
  // The context of the certificate with the issuer and serial number of `certInfo`; null
  // when none. The caller frees it.
  PCCERT_CONTEXT findBySignerId(PCERT_INFO certInfo) const;
  // Adds the certificate (unless it or a newer one is there) and saves the store.
  bool addCertificate(const Certificate* cert, LogBase* log);
  // Writes a file store back to its file; true at once for other stores.
  bool saveStore(LogBase* log);
  // "(file) <path>" or "(registry) <hive>/<store name>".
  void locationLabel(StringBuffer& out) const;

  HCERTSTORE store = nullptr;
  uint8_t isFile = 0;
  StringBuffer filePath;
  HANDLE fileHandle = INVALID_HANDLE_VALUE;
  uint8_t isRegistry = 0;
  StringBuffer storeName;
  StringBuffer hiveName;
  uint8_t isInMemory = 0;
  CertStoreSpec spec;
};

// Opens the search list of stores, in order, and appends each that opened to `out`: the
// local machine's personal store; then, unless the logged-on user is a web server's
// "IWAM_" account, the own registry store, the address book and the current user's
// personal store.
void openStoreList(ExtPtrArray& out, bool readOnly, LogBase* log);
// Appends new CertStoreSpec records of that list, in its order, for a web server's account
// or another user.
void appendSearchSpecs(ExtPtrArray& out, bool iwamUser);
// The same test on a user name: it begins with "IWAM_" (case-sensitive).
bool isIwamUserName(const char* name);
