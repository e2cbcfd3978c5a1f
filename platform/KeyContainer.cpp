#include "platform/KeyContainer.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

#include "platform/CryptInternal.h"
#include "platform/DurableFile.h"
#include "platform/PlatformRoot.h"

namespace {

constexpr DWORD kNoKeyProperty = 0x8009200B;  // CRYPT_E_NO_KEY_PROPERTY
constexpr DWORD kBadKey = 0x80090003;         // NTE_BAD_KEY

void registerTexts() {
  static std::once_flag once;
  std::call_once(once, [] {
    registerSystemMessage(kNoKeyProperty,
                          "Cannot find the certificate and private key for decryption.");
    registerSystemMessage(kBadKey, "Bad Key.");
  });
}

// A container name as a file name: bytes of its UTF-8 form other than letters, digits, '-',
// '_', '{', '}' and a non-leading '.' as %XX, so no name can leave the directory.
std::string fileNameOf(const std::u16string& container) {
  const std::string utf8 = wincrypt::utf8FromUtf16(container);
  std::string out;
  for (size_t i = 0; i < utf8.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(utf8[i]);
    if (std::isalnum(c) || c == '-' || c == '_' || c == '{' || c == '}' || (c == '.' && i > 0)) {
      out.push_back(char(c));
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      out += hex;
    }
  }
  return out.empty() ? "%" : out;
}

std::string keysDir(bool machine) { return platformPath(machine ? "keys/machine" : "keys/user"); }

// Parsed keys by container file, each with the identity of the file it was read from. A
// container is read on every signature and decryption, and parsing an RSA-2048 key through
// OpenSSL's decoders takes longer than signing with it (1.8 ms against 1.2 ms here); a file
// written, replaced or removed since it was read is read again (or reported gone).
struct FileIdentity {
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  struct timespec mtime {};
  struct timespec ctime {};
  bool operator==(const FileIdentity& o) const {
    return dev == o.dev && ino == o.ino && size == o.size && mtime.tv_sec == o.mtime.tv_sec &&
           mtime.tv_nsec == o.mtime.tv_nsec && ctime.tv_sec == o.ctime.tv_sec &&
           ctime.tv_nsec == o.ctime.tv_nsec;
  }
};

struct CachedKey {
  FileIdentity file;
  std::shared_ptr<EVP_PKEY> key;
};

std::mutex& keyCacheMutex() {
  static std::mutex m;
  return m;
}

std::map<std::string, CachedKey>& keyCache() {
  static auto* cache = new std::map<std::string, CachedKey>();  // lives to the process's end
  return *cache;
}

bool identityOf(const std::string& path, FileIdentity* id) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  *id = FileIdentity{st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
  return true;
}

EVP_PKEY* parseKeyFile(const std::string& path) {
  BIO* bio = BIO_new_file(path.c_str(), "r");
  EVP_PKEY* key = bio != nullptr ? PEM_read_bio_PrivateKey_ex(bio, nullptr, nullptr, nullptr,
                                                              wincrypt::libContext(), nullptr)
                                 : nullptr;
  // A container made by a provider context holds no key until one is written into it.
  if (key == nullptr) SetLastError(bio != nullptr ? NTE_NO_KEY : NTE_BAD_KEYSET);
  BIO_free(bio);
  ERR_clear_error();
  return key;
}

}  // namespace

std::string keyContainerPath(const std::u16string& container, bool machine) {
  return keysDir(machine) + "/" + fileNameOf(container) + ".key";
}

bool writeKeyContainer(const std::u16string& container, bool machine, EVP_PKEY* key) {
  wincrypt::registerCryptTexts();
  const std::string dir = keysDir(machine);
  int err = 0;
  if (!durable::makeDirectories(dir, &err, 0700)) return wincrypt::fail(win32ErrorFromErrno(err));
  // Directories made earlier with a wider mode are narrowed: keys are never readable by others.
  ::chmod(platformPath("keys").c_str(), 0700);
  ::chmod(dir.c_str(), 0700);
  BIO* bio = BIO_new(BIO_s_mem());
  if (bio == nullptr ||
      PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr) != 1) {
    BIO_free(bio);
    ERR_clear_error();
    return wincrypt::fail(kBadKey);
  }
  char* data = nullptr;
  const long n = BIO_get_mem_data(bio, &data);
  const std::string path = keyContainerPath(container, machine);
  {
    std::lock_guard<std::mutex> lock(keyCacheMutex());
    keyCache().erase(path);
  }
  err = durable::replaceFile(path, path + ".tmp", std::string_view(data, size_t(n)), 0600);
  OPENSSL_cleanse(data, size_t(n));
  BIO_free(bio);
  if (err != 0) return wincrypt::fail(win32ErrorFromErrno(err));
  return true;
}

EVP_PKEY* readKeyContainer(const std::u16string& container, bool machine) {
  wincrypt::registerCryptTexts();
  const std::string path = keyContainerPath(container, machine);
  FileIdentity before;
  if (!identityOf(path, &before)) {
    std::lock_guard<std::mutex> lock(keyCacheMutex());
    keyCache().erase(path);
    SetLastError(NTE_BAD_KEYSET);
    return nullptr;
  }
  {
    std::lock_guard<std::mutex> lock(keyCacheMutex());
    auto it = keyCache().find(path);
    if (it != keyCache().end() && it->second.file == before) {
      EVP_PKEY_up_ref(it->second.key.get());
      return it->second.key.get();
    }
  }
  EVP_PKEY* key = parseKeyFile(path);
  FileIdentity after;
  // Kept only when the file did not change while it was read.
  const bool steady = identityOf(path, &after) && after == before;
  std::lock_guard<std::mutex> lock(keyCacheMutex());
  if (key != nullptr && steady) {
    EVP_PKEY_up_ref(key);
    keyCache()[path] = CachedKey{before, std::shared_ptr<EVP_PKEY>(key, EVP_PKEY_free)};
  } else {
    keyCache().erase(path);
  }
  return key;
}

bool deleteKeyContainer(const std::u16string& container, bool machine) {
  const std::string path = keyContainerPath(container, machine);
  {
    std::lock_guard<std::mutex> lock(keyCacheMutex());
    keyCache().erase(path);
  }
  return ::unlink(path.c_str()) == 0 || errno == ENOENT;
}

EVP_PKEY* certificatePrivateKey(PCCERT_CONTEXT context) {
  registerTexts();
  if (context == nullptr) {
    SetLastError(0x80070057);
    return nullptr;
  }
  EVP_PKEY* key = nullptr;
  {
    std::lock_guard<std::recursive_mutex> lock(wincrypt::cryptMutex());
    wincrypt::Context* c = wincrypt::contextOf(context);
    if (c->props.memoryKey) {
      key = c->props.memoryKey.get();
      EVP_PKEY_up_ref(key);
    } else if (!c->props.keyProv) {
      SetLastError(kNoKeyProperty);
      return nullptr;
    } else {
      key = readKeyContainer(c->props.keyProv->container,
                             c->props.keyProv->flags & CRYPT_MACHINE_KEYSET);
      if (key == nullptr) return nullptr;
    }
    // A key already matched to this certificate (the same parsed key) is not checked again.
    if (c->matchedKey.get() == key) return key;
    if (X509_check_private_key(c->x509, key) != 1) {
      ERR_clear_error();
      EVP_PKEY_free(key);
      SetLastError(kBadKey);
      return nullptr;
    }
    EVP_PKEY_up_ref(key);
    c->matchedKey = std::shared_ptr<EVP_PKEY>(key, EVP_PKEY_free);
  }
  return key;
}

bool certificateHasPrivateKey(PCCERT_CONTEXT context) {
  const DWORD saved = GetLastError();
  EVP_PKEY* key = certificatePrivateKey(context);
  SetLastError(saved);
  EVP_PKEY_free(key);
  return key != nullptr;
}
