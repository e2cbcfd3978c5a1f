// UUID generation and its textual form, as the RPC runtime offers them.
#pragma once

#include "platform/Guid.h"
#include "platform/WinTypes.h"

typedef GUID UUID;
typedef LONG RPC_STATUS;
constexpr RPC_STATUS RPC_S_OK = 0;
constexpr RPC_STATUS RPC_S_OUT_OF_MEMORY = 14;

// A fresh random UUID.
RPC_STATUS UuidCreate(UUID* uuid);
// The lower-case hyphenated form without braces ("xxxxxxxx-xxxx-..."), in a block freed by
// RpcStringFreeA.
RPC_STATUS UuidToStringA(const UUID* uuid, unsigned char** text);
RPC_STATUS RpcStringFreeA(unsigned char** text);
