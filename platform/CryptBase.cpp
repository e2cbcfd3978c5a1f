// The platform's OpenSSL library context, the texts of this layer's errors and the small
// conversions the certificate services share.
#include <openssl/provider.h>

#include <cstring>
#include <ctime>

#include "platform/CodePage.h"
#include "platform/CryptInternal.h"

namespace wincrypt {

OSSL_LIB_CTX* libContext() {
  // Loading a provider by hand stops the default one from loading by itself, so both are
  // loaded; the legacy one decrypts the RC2-40 of older PKCS #12 files. Kept to the end of
  // the process, as a system library's state is.
  static OSSL_LIB_CTX* ctx = [] {
    OSSL_LIB_CTX* c = OSSL_LIB_CTX_new();
    if (c != nullptr) {
      OSSL_PROVIDER_load(c, "default");
      OSSL_PROVIDER_load(c, "legacy");
    }
    return c;
  }();
  return ctx;
}

UsePlatformContext::UsePlatformContext() : previous_(OSSL_LIB_CTX_set0_default(libContext())) {}
UsePlatformContext::~UsePlatformContext() { OSSL_LIB_CTX_set0_default(previous_); }

void registerCryptTexts() {
  static std::once_flag once;
  std::call_once(once, [] {
    const struct {
      DWORD code;
      const char* text;
    } texts[] = {
        {ERROR_INVALID_DATA, "The data is invalid."},
        {ERROR_INVALID_PASSWORD, "The specified network password is not correct."},
        {ERROR_MORE_DATA, "More data is available."},
        {ERROR_NO_MORE_ITEMS, "No more data is available."},
        {0x80070057, "The parameter is incorrect."},
        {E_ACCESSDENIED_CRYPT, "Access is denied."},
        {NTE_BAD_KEYSET, "Keyset does not exist"},
        {CRYPT_E_BAD_ENCODE, "An error occurred during encode or decode operation."},
        {CRYPT_E_FILE_ERROR, "An error occurred while reading or writing to a file."},
        {CRYPT_E_NOT_FOUND, "Cannot find object or property."},
        {CRYPT_E_EXISTS, "The object or property already exists."},
        {CRYPT_E_PENDING_CLOSE, "Final closure is pending until additional frees or closes."},
        {CRYPT_E_ASN1_EOD, "ASN1 unexpected end of data."},
        {CRYPT_E_ASN1_CORRUPT, "ASN1 corrupted data."},
        {CRYPT_E_ASN1_BADTAG, "ASN1 bad tag value met."},
        {0x80090003, "Bad Key."},
        {NTE_BAD_DATA, "Bad Data."},
        {NTE_BAD_SIGNATURE, "Invalid Signature."},
        {CRYPT_E_UNKNOWN_ALGO, "Unknown cryptographic algorithm."},
        {CRYPT_E_INVALID_MSG_TYPE, "Invalid cryptographic message type."},
        {CRYPT_E_HASH_VALUE, "The hash value is not correct."},
        {CRYPT_E_UNEXPECTED_MSG_TYPE,
         "The certificate does not have a property that references a private key."},
        {CRYPT_E_NO_KEY_PROPERTY, "Cannot find the certificate and private key for decryption."},
        {CRYPT_E_NO_DECRYPT_CERT,
         "Cannot find the certificate and private key to use for decryption."},
        {CRYPT_E_NO_SIGNER,
         "The signed cryptographic message does not have a signer for the specified signer "
         "index."},
        {2, "The system cannot find the file specified."},
    };
    for (const auto& t : texts) registerSystemMessage(t.code, t.text);
  });
}

BOOL fail(DWORD code) {
  SetLastError(code);
  return FALSE;
}

std::recursive_mutex& cryptMutex() {
  static std::recursive_mutex m;
  return m;
}

std::u16string utf16FromUtf8(std::string_view s) {
  std::string out;
  StringOutput sink(out);
  convertUnicodeForms(CP_UTF8, CP_UTF16LE, s.data(), s.size(), sink);
  std::u16string w(out.size() / 2, u'\0');
  for (size_t i = 0; i < w.size(); ++i)
    w[i] = char16_t(uint8_t(out[2 * i]) | (uint8_t(out[2 * i + 1]) << 8));
  return w;
}

std::string utf8FromUtf16(std::u16string_view s) {
  std::string le;
  le.reserve(s.size() * 2);
  for (char16_t c : s) {
    le.push_back(char(c & 0xFF));
    le.push_back(char(c >> 8));
  }
  std::string out;
  StringOutput sink(out);
  convertUnicodeForms(CP_UTF16LE, CP_UTF8, le.data(), le.size(), sink);
  return out;
}

FILETIME fileTimeFromAsn1(const ASN1_TIME* t) {
  struct tm tm;
  std::memset(&tm, 0, sizeof tm);
  if (t == nullptr || ASN1_TIME_to_tm(t, &tm) != 1) return FILETIME{0, 0};
  return fileTimeFromUnix(int64_t(timegm(&tm)));
}

}  // namespace wincrypt

namespace {
constexpr int64_t kUnixEpochIn1601Seconds = 11644473600LL;
constexpr int64_t kTicksPerSecond = 10000000LL;
}  // namespace

FILETIME fileTimeFromUnix(int64_t seconds) {
  int64_t ticks = (seconds + kUnixEpochIn1601Seconds) * kTicksPerSecond;
  if (ticks < 0) ticks = 0;
  return FILETIME{DWORD(uint64_t(ticks) & 0xFFFFFFFF), DWORD(uint64_t(ticks) >> 32)};
}

int64_t unixFromFileTime(const FILETIME& ft) {
  const uint64_t ticks = (uint64_t(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  return int64_t(ticks / kTicksPerSecond) - kUnixEpochIn1601Seconds;
}

void GetSystemTimeAsFileTime(FILETIME* ft) {
  SYSTEMTIME st;
  GetSystemTime(&st);
  SystemTimeToFileTime(&st, ft);
}

BOOL FileTimeToSystemTime(const FILETIME* ft, SYSTEMTIME* st) {
  if (ft == nullptr || st == nullptr || (ft->dwHighDateTime & 0x80000000) != 0)
    return wincrypt::fail(ERROR_INVALID_PARAMETER);
  const uint64_t ticks = (uint64_t(ft->dwHighDateTime) << 32) | ft->dwLowDateTime;
  const time_t seconds = time_t(int64_t(ticks / kTicksPerSecond) - kUnixEpochIn1601Seconds);
  struct tm tm;
  if (gmtime_r(&seconds, &tm) == nullptr) return wincrypt::fail(ERROR_INVALID_PARAMETER);
  st->wYear = WORD(tm.tm_year + 1900);
  st->wMonth = WORD(tm.tm_mon + 1);
  st->wDayOfWeek = WORD(tm.tm_wday);
  st->wDay = WORD(tm.tm_mday);
  st->wHour = WORD(tm.tm_hour);
  st->wMinute = WORD(tm.tm_min);
  st->wSecond = WORD(tm.tm_sec);
  st->wMilliseconds = WORD((ticks / 10000) % 1000);
  return TRUE;
}
