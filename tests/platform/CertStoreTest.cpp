// Certificate stores: what persists where, adding and replacing, file stores, damaged and
// interrupted store files, and the machine's authorities in the local machine's ROOT store.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "platform/DurableFile.h"
#include "platform/FileApi.h"
#include "tests/platform/CertTestSupport.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;

namespace {

class CertStores : public FreshCertRoot {
 protected:
  std::string storeFile(const std::string& rel) { return root_.path() + "/certstores/" + rel; }
};

std::string derOf(PCCERT_CONTEXT c) {
  return std::string(reinterpret_cast<const char*>(c->pbCertEncoded), c->cbCertEncoded);
}

HCERTSTORE openRegistryStore(HKEY root, const char* path, DWORD flags = 0) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return nullptr;
  HCERTSTORE s = CertOpenStore(CERT_STORE_PROV_REG, 0, 0, flags, key);
  RegCloseKey(key);
  return s;
}

}  // namespace

TEST_F(CertStores, SystemAndRegistryStoresPersistTheSameCertificates) {
  const TestCert ca = makeCa("Store CA");
  const TestCert alice = makeUser("alice", ca);
  HCERTSTORE my = openSystemStore(u"My", CERT_SYSTEM_STORE_CURRENT_USER);
  ASSERT_NE(my, nullptr);
  ContextPtr c = contextOf(alice);
  PCCERT_CONTEXT added = nullptr;
  ASSERT_TRUE(CertAddCertificateContextToStore(my, c.get(), CERT_STORE_ADD_NEWER, &added));
  ASSERT_NE(added, nullptr);
  EXPECT_EQ(added->hCertStore, my);
  CRYPT_KEY_PROV_INFO info{};
  std::u16string container = u"alice-key", provider = MS_ENHANCED_PROV_W;
  info.pwszContainerName = container.data();
  info.pwszProvName = provider.data();
  info.dwProvType = PROV_RSA_FULL;
  ASSERT_TRUE(CertSetCertificateContextProperty(added, CERT_KEY_PROV_INFO_PROP_ID, 0, &info));
  // Closing with contexts still held says so, and the context stays valid.
  EXPECT_FALSE(CertCloseStore(my, CERT_CLOSE_STORE_CHECK_FLAG));
  EXPECT_EQ(GetLastError(), CRYPT_E_PENDING_CLOSE);
  EXPECT_EQ(derOf(added), alice.der);
  CertFreeCertificateContext(added);

  // Again with another name case, as a registry store of the same key, and by issuer+serial.
  resetRegistryForTesting();
  HCERTSTORE again =
      openSystemStore(u"MY", CERT_SYSTEM_STORE_CURRENT_USER, CERT_STORE_READONLY_FLAG);
  ASSERT_EQ(countIn(again), 1);
  PCCERT_CONTEXT found = CertGetSubjectCertificateFromStore(again, 0x10001, c->pCertInfo);
  ASSERT_NE(found, nullptr);
  DWORD size = 0;
  EXPECT_TRUE(CertGetCertificateContextProperty(found, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size));
  CertFreeCertificateContext(found);
  ContextPtr other = contextOf(ca);
  EXPECT_EQ(CertGetSubjectCertificateFromStore(again, 0x10001, other->pCertInfo), nullptr);
  EXPECT_EQ(GetLastError(), CRYPT_E_NOT_FOUND);
  EXPECT_FALSE(CertAddCertificateContextToStore(again, other.get(), CERT_STORE_ADD_NEWER, nullptr));
  EXPECT_EQ(GetLastError(), E_ACCESSDENIED_CRYPT) << "read-only";
  CertCloseStore(again, 0);
  HCERTSTORE reg =
      openRegistryStore(HKEY_CURRENT_USER, "Software\\Microsoft\\SystemCertificates\\MY");
  ASSERT_NE(reg, nullptr);
  EXPECT_EQ(countIn(reg), 1);
  CertCloseStore(reg, 0);
  EXPECT_EQ(countInSystemStore(u"MY", CERT_SYSTEM_STORE_LOCAL_MACHINE, CERT_STORE_READONLY_FLAG), 0)
      << "the machine's store is another";

  // A registry key that does not exist opens no store; a non-predefined system store that
  // does not exist opens only when it may be created.
  EXPECT_EQ(openRegistryStore(HKEY_CURRENT_USER, "Software\\Nowhere"), nullptr);
  EXPECT_EQ(
      openSystemStore(u"Private", CERT_SYSTEM_STORE_CURRENT_USER, CERT_STORE_OPEN_EXISTING_FLAG),
      nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  HCERTSTORE created = openSystemStore(u"Private", CERT_SYSTEM_STORE_CURRENT_USER);
  EXPECT_NE(created, nullptr);
  CertCloseStore(created, 0);
}

TEST_F(CertStores, AddingFollowsTheDispositionAndDeletingRemoves) {
  const TestCert ca = makeCa("Dispo CA");
  CertSpec spec{
      .subject = {{"CN", "same serial"}}, .issuer = &ca, .notBeforeDays = -10, .serial = 77};
  const TestCert older = makeCert(spec);
  spec.notBeforeDays = -1;
  const TestCert newer = makeCert(spec);
  ContextPtr o = contextOf(older), n = contextOf(newer);
  HCERTSTORE s = openSystemStore(u"CA", CERT_SYSTEM_STORE_LOCAL_MACHINE);
  ASSERT_TRUE(CertAddCertificateContextToStore(s, o.get(), CERT_STORE_ADD_NEWER, nullptr));
  const struct {
    PCCERT_CONTEXT cert;
    DWORD disposition;
    bool ok;
    const std::string* kept;
  } steps[] = {
      {o.get(), CERT_STORE_ADD_NEWER, false, &older.der},  // the same: already there
      {o.get(), CERT_STORE_ADD_NEW, false, &older.der},
      {n.get(), CERT_STORE_ADD_USE_EXISTING, true, &older.der},
      {n.get(), CERT_STORE_ADD_NEWER, true, &newer.der},
      {o.get(), CERT_STORE_ADD_NEWER, false, &newer.der},  // older than what is there
      {o.get(), CERT_STORE_ADD_REPLACE_EXISTING, true, &older.der},
  };
  for (const auto& step : steps) {
    SetLastError(0);
    EXPECT_EQ(bool(CertAddCertificateContextToStore(s, step.cert, step.disposition, nullptr)),
              step.ok)
        << step.disposition;
    if (!step.ok) {
      EXPECT_EQ(GetLastError(), CRYPT_E_EXISTS);
    }
    ASSERT_EQ(countIn(s), 1);
    PCCERT_CONTEXT only = CertEnumCertificatesInStore(s, nullptr);
    EXPECT_EQ(derOf(only), *step.kept) << step.disposition;
    CertFreeCertificateContext(only);
  }
  ASSERT_TRUE(CertAddCertificateContextToStore(s, n.get(), CERT_STORE_ADD_ALWAYS, nullptr));
  EXPECT_EQ(countIn(s), 2);
  PCCERT_CONTEXT first = CertEnumCertificatesInStore(s, nullptr);
  ASSERT_TRUE(CertDeleteCertificateFromStore(first));
  EXPECT_EQ(countIn(s), 1);
  CertCloseStore(s, 0);
  EXPECT_EQ(countInSystemStore(u"CA", CERT_SYSTEM_STORE_LOCAL_MACHINE), 1)
      << "the deletion persisted";
}

TEST_F(CertStores, FileStoresReadAndWriteTheSerializedForm) {
  TempDir dir;
  const TestCert a = makeCa("File A"), b = makeCa("File B");
  HCERTSTORE mem = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
  for (const TestCert* t : {&a, &b})
    ASSERT_TRUE(
        CertAddCertificateContextToStore(mem, contextOf(*t).get(), CERT_STORE_ADD_NEW, nullptr));
  const std::string path = dir.file("store.sst");
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0,
                         nullptr);
  ASSERT_TRUE(CertSaveStore(mem, 0x10001, CERT_STORE_SAVE_AS_STORE, CERT_STORE_SAVE_TO_FILE, h, 0));
  CloseHandle(h);
  CRYPT_DATA_BLOB blob{0, nullptr};
  ASSERT_TRUE(
      CertSaveStore(mem, 0x10001, CERT_STORE_SAVE_AS_STORE, CERT_STORE_SAVE_TO_MEMORY, &blob, 0));
  EXPECT_EQ(blob.cbData, fs::file_size(path));
  CertCloseStore(mem, 0);

  h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                  nullptr);
  HCERTSTORE file = CertOpenStore(CERT_STORE_PROV_FILE, 0, 0, 0, h);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(countIn(file), 2);
  // Saving a smaller store over a larger one from the start leaves a readable store.
  PCCERT_CONTEXT first = CertEnumCertificatesInStore(file, nullptr);
  ASSERT_TRUE(CertDeleteCertificateFromStore(first));
  ASSERT_EQ(SetFilePointer(h, 0, nullptr, FILE_BEGIN), 0u);
  ASSERT_TRUE(
      CertSaveStore(file, 0x10001, CERT_STORE_SAVE_AS_STORE, CERT_STORE_SAVE_TO_FILE, h, 0));
  CertCloseStore(file, 0);
  ASSERT_EQ(SetFilePointer(h, 0, nullptr, FILE_BEGIN), 0u);
  file = CertOpenStore(CERT_STORE_PROV_FILE, 0, 0, CERT_STORE_READONLY_FLAG, h);
  EXPECT_EQ(countIn(file), 1);
  CertCloseStore(file, 0);
  CloseHandle(h);

  // An empty file is an empty store; anything else that is not a store is refused.
  const std::string whole = readWholeFile(path);
  for (const std::string& bytes :
       {std::string(), std::string("garbage"), whole.substr(0, whole.size() / 2)}) {
    writeWholeFile(path, bytes);
    h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                    nullptr);
    HCERTSTORE s = CertOpenStore(CERT_STORE_PROV_FILE, 0, 0, CERT_STORE_READONLY_FLAG, h);
    EXPECT_EQ(s != nullptr, bytes.empty()) << bytes.size();
    if (s == nullptr) {
      EXPECT_EQ(GetLastError(), CRYPT_E_FILE_ERROR);
    }
    CertCloseStore(s, 0);
    CloseHandle(h);
  }
}

TEST_F(CertStores, DamagedOrInterruptedStoreFilesLoseNothing) {
  const TestCert a = makeCa("Kept A"), b = makeCa("Kept B");
  ASSERT_TRUE(addToSystemStore(u"ROOT", CERT_SYSTEM_STORE_CURRENT_USER, a));
  const std::string file = storeFile("hkcu/software/microsoft/systemcertificates/root.sst");
  const std::string before = readWholeFile(file);
  ASSERT_FALSE(before.empty());

  // A crash between writing the new store and renaming it over the old one.
  pid_t pid = fork();
  if (pid == 0) {
    durable::setBeforeRenameHook([] { _exit(3); });
    addToSystemStore(u"ROOT", CERT_SYSTEM_STORE_CURRENT_USER, b);
    _exit(0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_EQ(WEXITSTATUS(status), 3);
  EXPECT_EQ(readWholeFile(file), before);
  HCERTSTORE s = openSystemStore(u"ROOT", CERT_SYSTEM_STORE_CURRENT_USER);
  EXPECT_EQ(countIn(s), 1);
  ContextPtr cb = contextOf(b);
  EXPECT_TRUE(CertAddCertificateContextToStore(s, cb.get(), CERT_STORE_ADD_NEWER, nullptr))
      << "the leftover temporary file is no obstacle";
  CertCloseStore(s, 0);

  // Damaged files are set aside, whole, and the store starts empty.
  const std::string good = readWholeFile(file);
  for (const std::string& damage :
       {std::string("garbage"), good.substr(0, good.size() - 20), std::string()}) {
    writeWholeFile(file, damage);
    clearCertStoreLastProblem();
    EXPECT_EQ(countInSystemStore(u"ROOT", CERT_SYSTEM_STORE_CURRENT_USER), 0);
    EXPECT_NE(certStoreLastProblem().find("was unreadable"), std::string::npos)
        << certStoreLastProblem();
    bool keptAside = false;
    for (const auto& entry : fs::directory_iterator(fs::path(file).parent_path())) {
      if (entry.path().string().find(".corrupt-") == std::string::npos) continue;
      keptAside |= readWholeFile(entry.path()) == damage;
      fs::remove(entry.path());
    }
    EXPECT_TRUE(keptAside) << damage.size();
  }
}

TEST_F(CertStores, TheMachineRootShowsTheTrustedAuthoritiesReadOnly) {
  TempDir dir;
  const TestCert pub1 = makeCa("Public One"), pub2 = makeCa("Public Two"), own = makeCa("Own Root");
  const TestCert mid = makeCa("Public Mid", &pub1);
  // An entry that is no certificate costs only itself.
  const std::string broken = "-----BEGIN CERTIFICATE-----\nMIIBAAAA\n-----END CERTIFICATE-----\n";
  writeWholeFile(dir.file("bundle.pem"), pub1.pem() + broken + mid.pem() + pub2.pem());
  setTrustedBundleForTesting(dir.file("bundle.pem"));
  HCERTSTORE root = openSystemStore(u"ROOT", CERT_SYSTEM_STORE_LOCAL_MACHINE);
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(countIn(root), 3);
  ContextPtr o = contextOf(own);
  ASSERT_TRUE(CertAddCertificateContextToStore(root, o.get(), CERT_STORE_ADD_NEWER, nullptr));
  EXPECT_EQ(countIn(root), 4);
  PCCERT_CONTEXT shown = CertEnumCertificatesInStore(root, nullptr);
  while (shown != nullptr && derOf(shown) != pub1.der)
    shown = CertEnumCertificatesInStore(root, shown);
  ASSERT_NE(shown, nullptr);
  EXPECT_FALSE(CertDeleteCertificateFromStore(shown));
  EXPECT_EQ(GetLastError(), E_ACCESSDENIED_CRYPT);
  CertCloseStore(root, 0);
  EXPECT_EQ(countInSystemStore(u"ROOT", CERT_SYSTEM_STORE_CURRENT_USER, CERT_STORE_READONLY_FLAG),
            0);
  // A certificate under a public authority is trusted; the bundle is never written to the store.
  EXPECT_EQ(chainOf(contextOf(makeUser("public", pub2)).get()).status, 0u);
  // The chain goes on through the authorities of the bundle, wherever they stand in it.
  const ChainResult below = chainOf(contextOf(makeUser("below", mid)).get());
  EXPECT_EQ(below.status, 0u);
  EXPECT_EQ(below.elements, 3u);
  setTrustedBundleForTesting("");
  EXPECT_EQ(countInSystemStore(u"ROOT", CERT_SYSTEM_STORE_LOCAL_MACHINE), 1);
}
