// Provider contexts: the five named providers the component acquires, each a context over one
// key container (a file of KeyContainer.cpp), and the algorithms every provider lists
// (doc/providers.md). A context is a heap record whose address is the handle; handles are
// checked against the live set, so a stale or made-up handle fails instead of crashing.
#include <strings.h>
#include <sys/stat.h>

#include <cstring>
#include <mutex>
#include <set>
#include <string>

#include "platform/CodePage.h"
#include "platform/CryptInternal.h"
#include "platform/DurableFile.h"
#include "platform/KeyContainer.h"
#include "platform/PlatformRoot.h"
#include "platform/User.h"

namespace {

struct ProviderEntry {
  const char* name;
  DWORD type;
};

// The providers this platform has, each of the type it is registered with on Windows.
constexpr ProviderEntry kProviders[] = {
    {"Microsoft Base Cryptographic Provider v1.0", PROV_RSA_FULL},
    {"Microsoft Enhanced Cryptographic Provider v1.0", PROV_RSA_FULL},
    {"Microsoft Strong Cryptographic Provider", PROV_RSA_FULL},
    {"Microsoft Base Smart Card Crypto Provider", PROV_RSA_FULL},
    {"Microsoft Enhanced RSA and AES Cryptographic Provider (Prototype)", PROV_RSA_AES},
};

// One list for all providers: the strongest cipher first, so a caller that takes the first
// encryption algorithm gets AES-256; SHA-1 first of the hashes, as callers expect it there.
constexpr struct {
  ALG_ID id;
  DWORD bits;
  const char* name;
} kAlgorithms[] = {
    {CALG_AES, 256, "AES"},         {CALG_3DES, 168, "3DES"},       {CALG_RC2, 128, "RC2"},
    {CALG_DES, 56, "DES"},          {CALG_SHA1, 160, "SHA-1"},      {CALG_SHA_256, 256, "SHA-256"},
    {CALG_SHA_384, 384, "SHA-384"}, {CALG_SHA_512, 512, "SHA-512"}, {CALG_MD5, 128, "MD5"},
    {CALG_MD4, 128, "MD4"},         {CALG_MD2, 128, "MD2"},
};

struct ProvContext {
  const ProviderEntry* provider;
  std::string container;  // ANSI, as given or the user's name
  bool machine;
  size_t nextAlg = 0;
};

std::mutex& liveMutex() {
  static std::mutex m;
  return m;
}
std::set<ProvContext*>& live() {
  static std::set<ProvContext*> s;
  return s;
}

ProvContext* lookup(HCRYPTPROV h) {
  std::lock_guard<std::mutex> lock(liveMutex());
  auto it = live().find(reinterpret_cast<ProvContext*>(h));
  return it == live().end() ? nullptr : *it;
}

void registerTexts() {
  static std::once_flag once;
  std::call_once(once, [] {
    registerSystemMessage(NTE_BAD_UID, "Bad UID.");
    registerSystemMessage(NTE_BAD_FLAGS, "Invalid flags specified.");
    registerSystemMessage(NTE_BAD_TYPE, "Invalid type specified.");
    registerSystemMessage(NTE_NO_KEY, "Key does not exist.");
    registerSystemMessage(NTE_EXISTS, "Object already exists.");
    registerSystemMessage(NTE_PROV_TYPE_NOT_DEF, "Provider type not defined.");
    registerSystemMessage(NTE_KEYSET_NOT_DEF, "The keyset is not defined.");
    registerSystemMessage(NTE_PROV_TYPE_NO_MATCH, "Provider type does not match registered value.");
  });
}

std::u16string containerKey(const std::string& ansi) {
  std::string le;
  StringOutput sink(le);
  if (!platformConvert(GetACP(), CP_UTF16LE, ansi.data(), ansi.size(), sink))
    return wincrypt::utf16FromUtf8(ansi);
  std::u16string w(le.size() / 2, u'\0');
  for (size_t i = 0; i < w.size(); ++i)
    w[i] = char16_t(uint8_t(le[2 * i]) | (uint8_t(le[2 * i + 1]) << 8));
  return w;
}

bool containerExists(const std::string& ansi, bool machine) {
  struct stat st;
  return ::stat(keyContainerPath(containerKey(ansi), machine).c_str(), &st) == 0;
}

// A new container is an empty file; a key written into it later replaces it.
bool createContainer(const std::string& ansi, bool machine) {
  const std::string path = keyContainerPath(containerKey(ansi), machine);
  const std::string dir = path.substr(0, path.rfind('/'));
  int err = 0;
  if (!durable::makeDirectories(dir, &err, 0700)) return wincrypt::fail(win32ErrorFromErrno(err));
  ::chmod(platformPath("keys").c_str(), 0700);
  ::chmod(dir.c_str(), 0700);
  err = durable::replaceFile(path, path + ".tmp", std::string_view(), 0600);
  if (err != 0) return wincrypt::fail(win32ErrorFromErrno(err));
  return true;
}

BOOL putBytes(const void* src, DWORD n, BYTE* data, DWORD* size) {
  if (data == nullptr) {
    *size = n;
    return TRUE;
  }
  if (*size < n) {
    *size = n;
    return wincrypt::fail(ERROR_MORE_DATA);
  }
  std::memcpy(data, src, n);
  *size = n;
  return TRUE;
}

BOOL putText(const std::string& s, BYTE* data, DWORD* size) {
  return putBytes(s.c_str(), DWORD(s.size() + 1), data, size);
}

BOOL putDword(DWORD v, BYTE* data, DWORD* size) { return putBytes(&v, sizeof v, data, size); }

}  // namespace

BOOL CryptAcquireContextA(HCRYPTPROV* prov, LPCSTR container, LPCSTR provider, DWORD type,
                          DWORD flags) {
  wincrypt::registerCryptTexts();
  registerTexts();
  if (prov == nullptr) return wincrypt::fail(ERROR_INVALID_PARAMETER);
  *prov = 0;
  if ((flags & ~(CRYPT_NEWKEYSET | CRYPT_DELETEKEYSET | CRYPT_MACHINE_KEYSET)) != 0 ||
      ((flags & CRYPT_NEWKEYSET) && (flags & CRYPT_DELETEKEYSET)))
    return wincrypt::fail(NTE_BAD_FLAGS);
  const ProviderEntry* entry = nullptr;
  for (const ProviderEntry& p : kProviders) {
    // No name means the type's default provider: the first of that type.
    if (provider == nullptr ? p.type == type : strcasecmp(p.name, provider) == 0) {
      entry = &p;
      break;
    }
  }
  if (entry == nullptr)
    return wincrypt::fail(provider == nullptr ? NTE_PROV_TYPE_NOT_DEF : NTE_KEYSET_NOT_DEF);
  if (entry->type != type) return wincrypt::fail(NTE_PROV_TYPE_NO_MATCH);

  std::string name;
  if (container != nullptr && *container != '\0') {
    name = container;
  } else {
    char user[400];
    DWORD n = sizeof user;
    if (!GetUserNameA(user, &n)) return FALSE;
    name = user;
  }
  const bool machine = (flags & CRYPT_MACHINE_KEYSET) != 0;
  const bool exists = containerExists(name, machine);
  if (flags & CRYPT_DELETEKEYSET) {
    if (!exists) return wincrypt::fail(NTE_BAD_KEYSET);
    deleteKeyContainer(containerKey(name), machine);
    return TRUE;
  }
  if (flags & CRYPT_NEWKEYSET) {
    if (exists) return wincrypt::fail(NTE_EXISTS);
    if (!createContainer(name, machine)) return FALSE;
  } else if (!exists) {
    return wincrypt::fail(NTE_BAD_KEYSET);
  }
  auto* ctx = new ProvContext{entry, name, machine};
  {
    std::lock_guard<std::mutex> lock(liveMutex());
    live().insert(ctx);
  }
  *prov = reinterpret_cast<HCRYPTPROV>(ctx);
  return TRUE;
}

BOOL CryptReleaseContext(HCRYPTPROV prov, DWORD flags) {
  registerTexts();
  if (flags != 0) return wincrypt::fail(NTE_BAD_FLAGS);
  std::lock_guard<std::mutex> lock(liveMutex());
  auto it = live().find(reinterpret_cast<ProvContext*>(prov));
  if (it == live().end()) return wincrypt::fail(NTE_BAD_UID);
  delete *it;
  live().erase(it);
  return TRUE;
}

BOOL CryptEnumProvidersA(DWORD index, DWORD* reserved, DWORD flags, DWORD* type, LPSTR name,
                         DWORD* size) {
  registerTexts();
  if (reserved != nullptr || flags != 0 || type == nullptr || size == nullptr)
    return wincrypt::fail(ERROR_INVALID_PARAMETER);
  if (index >= std::size(kProviders)) return wincrypt::fail(ERROR_NO_MORE_ITEMS);
  if (!putText(kProviders[index].name, reinterpret_cast<BYTE*>(name), size)) return FALSE;
  *type = kProviders[index].type;
  return TRUE;
}

BOOL CryptGetProvParam(HCRYPTPROV prov, DWORD param, BYTE* data, DWORD* size, DWORD flags) {
  registerTexts();
  ProvContext* ctx = lookup(prov);
  if (ctx == nullptr) return wincrypt::fail(NTE_BAD_UID);
  if (size == nullptr) return wincrypt::fail(ERROR_INVALID_PARAMETER);
  switch (param) {
    case PP_NAME:
      return putText(ctx->provider->name, data, size);
    case PP_CONTAINER:
      return putText(ctx->container, data, size);
    case PP_IMPTYPE:
      return putDword(CRYPT_IMPL_SOFTWARE, data, size);
    case PP_VERSION:
      return putDword(0x200, data, size);
    case PP_ENUMALGS: {
      if (flags & CRYPT_FIRST) ctx->nextAlg = 0;
      if (ctx->nextAlg >= std::size(kAlgorithms)) return wincrypt::fail(ERROR_NO_MORE_ITEMS);
      const auto& a = kAlgorithms[ctx->nextAlg];
      PROV_ENUMALGS out{};
      out.aiAlgid = a.id;
      out.dwBitLen = a.bits;
      out.dwNameLen = DWORD(std::strlen(a.name) + 1);
      std::memcpy(out.szName, a.name, out.dwNameLen);
      // A sizing call or a buffer too small leaves the position where it is.
      if (!putBytes(&out, sizeof out, data, size)) return FALSE;
      if (data != nullptr) ++ctx->nextAlg;
      return TRUE;
    }
    default:
      return wincrypt::fail(NTE_BAD_TYPE);
  }
}
