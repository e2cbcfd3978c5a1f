#include "platform/Uuid.h"

#include <uuid/uuid.h>

#include <cstdio>
#include <cstdlib>

RPC_STATUS UuidCreate(UUID* uuid) {
  uuid_t raw;
  uuid_generate_random(raw);
  // libuuid keeps the bytes in network order; a GUID keeps its first three fields as numbers.
  uuid->Data1 = (DWORD(raw[0]) << 24) | (DWORD(raw[1]) << 16) | (DWORD(raw[2]) << 8) | raw[3];
  uuid->Data2 = static_cast<WORD>((raw[4] << 8) | raw[5]);
  uuid->Data3 = static_cast<WORD>((raw[6] << 8) | raw[7]);
  for (int i = 0; i < 8; ++i) uuid->Data4[i] = raw[8 + i];
  return RPC_S_OK;
}

RPC_STATUS UuidToStringA(const UUID* uuid, unsigned char** text) {
  char* out = static_cast<char*>(std::malloc(37));
  if (out == nullptr) return RPC_S_OUT_OF_MEMORY;
  std::snprintf(out, 37, "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x",
                static_cast<unsigned>(uuid->Data1), uuid->Data2, uuid->Data3, uuid->Data4[0],
                uuid->Data4[1], uuid->Data4[2], uuid->Data4[3], uuid->Data4[4], uuid->Data4[5],
                uuid->Data4[6], uuid->Data4[7]);
  *text = reinterpret_cast<unsigned char*>(out);
  return RPC_S_OK;
}

RPC_STATUS RpcStringFreeA(unsigned char** text) {
  if (text != nullptr) {
    std::free(*text);
    *text = nullptr;
  }
  return RPC_S_OK;
}
