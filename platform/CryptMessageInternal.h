// What the message functions share; nothing outside platform/ includes this.
#pragma once

#include <openssl/cms.h>

#include <vector>

#include "platform/WinCrypt.h"

namespace wincrypt {

constexpr DWORD ERROR_FILE_NOT_FOUND_CRYPT = 2;
constexpr DWORD NTE_BAD_KEY_CRYPT = 0x80090003;

// Writes `bytes` by the output rule of the message functions.
BOOL putOutput(const std::vector<BYTE>& bytes, BYTE* out, DWORD* size);
// The message in the platform's library context; null with CRYPT_E_ASN1_EOD (empty or cut
// short), CRYPT_E_ASN1_BADTAG or CRYPT_E_ASN1_CORRUPT.
CMS_ContentInfo* parseMessage(const BYTE* blob, DWORD size);
// A new context of the certificate, or null.
PCCERT_CONTEXT contextOfX509(X509* x);
// What the BIO gives up to its end; `expected` bytes of room are made first.
std::vector<BYTE> readAll(BIO* bio, size_t expected = 0);
// Reads the BIO to its end, keeping nothing.
void drain(BIO* bio);

struct ByteSpan {
  const BYTE* data = nullptr;
  size_t size = 0;
};
// Verifies the signer at `index` of a SignedData against `detached` content (null: the
// content the message carries, which then goes to `content`); *signer gets a new context of
// its certificate on success.
BOOL verifySigner(CMS_ContentInfo* cms, DWORD index, const CRYPT_VERIFY_MESSAGE_PARA* para,
                  const ByteSpan* detached, std::vector<BYTE>* content, PCCERT_CONTEXT* signer);

}  // namespace wincrypt
