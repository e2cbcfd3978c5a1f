// Certificates arrive from messages and files: any bytes must give a record with a context
// and every derived property, or a record without a context, never a crash.
#include <cstddef>
#include <cstdint>

#include "foundation/ByteCodecs.h"
#include "foundation/LogBase.h"
#include "fuzz/FuzzSeeds.h"
#include "smime/Certificate.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  useFuzzPlatformRoot();
  const std::vector<uint8_t> der = fuzzInput(data, size, kSeedCertificate, sizeof kSeedCertificate);
  StringBuffer b64;
  encodeBase64(der.data(), uint32_t(der.size()), b64);
  LogNull log;
  Certificate cert(b64.getString(), b64.getSize(), &log);
  if (cert.context == nullptr) return 0;
  // Whatever was decoded reads back as the same bytes and derives consistent names.
  StringBuffer again, name;
  if (!cert.getEncoded(again, &log)) __builtin_trap();
  cert.getSubjectName(name);
  cert.getIssuerName(name);
  if (cert.subjectDn.isEmpty() && cert.subjectParts.getSize() != 0) __builtin_trap();
  Certificate* copy = cert.clone();
  if (copy == nullptr || !copy->subjectDn.equalsSb(cert.subjectDn) ||
      !copy->rfc822Name.equalsSb(cert.rfc822Name))
    __builtin_trap();
  delete copy;
  cert.isExpired();
  return 0;
}
