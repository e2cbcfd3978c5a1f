#include "platform/KeyContainer.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <mutex>

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
  err = durable::replaceFile(path, path + ".tmp", std::string_view(data, size_t(n)), 0600);
  OPENSSL_cleanse(data, size_t(n));
  BIO_free(bio);
  if (err != 0) return wincrypt::fail(win32ErrorFromErrno(err));
  return true;
}

EVP_PKEY* readKeyContainer(const std::u16string& container, bool machine) {
  wincrypt::registerCryptTexts();
  BIO* bio = BIO_new_file(keyContainerPath(container, machine).c_str(), "r");
  EVP_PKEY* key = bio != nullptr ? PEM_read_bio_PrivateKey_ex(bio, nullptr, nullptr, nullptr,
                                                              wincrypt::libContext(), nullptr)
                                 : nullptr;
  // A container made by a provider context holds no key until one is written into it.
  if (key == nullptr) SetLastError(bio != nullptr ? NTE_NO_KEY : NTE_BAD_KEYSET);
  BIO_free(bio);
  ERR_clear_error();
  return key;
}

bool deleteKeyContainer(const std::u16string& container, bool machine) {
  const std::string path = keyContainerPath(container, machine);
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
    const wincrypt::Context* c = wincrypt::contextOf(context);
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
    if (X509_check_private_key(c->x509, key) != 1) {
      ERR_clear_error();
      EVP_PKEY_free(key);
      SetLastError(kBadKey);
      return nullptr;
    }
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
