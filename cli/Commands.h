// The subcommands of the host program. Each returns the process exit status: 0 success,
// 1 the operation failed, 2 bad usage.
#pragma once

#include <cstdio>

constexpr const char* kVersionText = VORLUND_VERSION;

int runConvert(int argc, char** argv, FILE* out, FILE* err);
int runCharsets(int argc, char** argv, FILE* out, FILE* err);

// The subcommands that drive a Mime object through IDispatch.
int runShow(int argc, char** argv, FILE* out, FILE* err);
int runXml(int argc, char** argv, FILE* out, FILE* err);
int runMime(int argc, char** argv, FILE* out, FILE* err);
int runExtract(int argc, char** argv, FILE* out, FILE* err);
int runCall(int argc, char** argv, FILE* out, FILE* err);

// S/MIME: signing and encrypting a message, verifying and decrypting it.
int runSign(int argc, char** argv, FILE* out, FILE* err);
int runEncrypt(int argc, char** argv, FILE* out, FILE* err);
int runVerify(int argc, char** argv, FILE* out, FILE* err);
int runDecrypt(int argc, char** argv, FILE* out, FILE* err);
// Certificates and keys in the platform's stores.
int runCert(int argc, char** argv, FILE* out, FILE* err);
// The component module's registration entry points.
int runRegister(int argc, char** argv, FILE* out, FILE* err);
int runUnregister(int argc, char** argv, FILE* out, FILE* err);
