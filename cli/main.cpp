// vormime: the host program of the library, the main job from a shell.
#include <cstdio>
#include <cstring>

#include "charset/EncodingConvert.h"
#include "cli/Commands.h"
#include "platform/CodePage.h"

namespace {

void usage(FILE* f) {
  std::fprintf(f,
               "usage: vormime <command> [arguments]\n"
               "\n"
               "commands:\n"
               "  show         the part tree of a message (--json: one JSON document)\n"
               "  xml          a message in its XML form (-o OUT)\n"
               "  mime         the message an XML form holds (-o OUT)\n"
               "  extract      save every attachment of a message into a directory\n"
               "  call         call members of a Mime object by name, chained with --\n"
               "  convert      convert a stream between charsets (--from, --to)\n"
               "  charsets     list the charset names, code pages and converters\n"
               "  sign         sign a message (detached, or --opaque)\n"
               "  encrypt      encrypt a message for the holder of a certificate\n"
               "  verify       verify and unwrap a signed message\n"
               "  decrypt      decrypt and unwrap an encrypted message\n"
               "  cert         import, list, show and remove certificates in the stores\n"
               "  register     register the component module (libvorlundmime.so)\n"
               "  unregister   remove the component module's registration\n"
               "  --version    print the library version\n"
               "  --help       print this text\n"
               "\n"
               "Each command takes --help. Exit status: 0 success, 1 failure, 2 bad usage.\n"
               "The message commands create the Mime object by its ProgID and register the\n"
               "component module first when it is not registered (VORMIME_MODULE names it).\n"
               "All of it in detail: the manual page vormime(1).\n");
}

}  // namespace

int main(int argc, char** argv) {
  // Every conversion of the program goes through its own engine; a module it loads installs
  // its copy above it and takes it out again when unloaded.
  const ScopedCodePageConverter engine(convertWithEngine);
  if (argc < 2) {
    usage(stderr);
    return 2;
  }
  const char* command = argv[1];
  if (std::strcmp(command, "--version") == 0 || std::strcmp(command, "version") == 0) {
    std::printf("vormime %s\n", kVersionText);
    return 0;
  }
  if (std::strcmp(command, "--help") == 0 || std::strcmp(command, "-h") == 0 ||
      std::strcmp(command, "help") == 0) {
    usage(stdout);
    return 0;
  }
  if (std::strcmp(command, "show") == 0) return runShow(argc, argv, stdout, stderr);
  if (std::strcmp(command, "xml") == 0) return runXml(argc, argv, stdout, stderr);
  if (std::strcmp(command, "mime") == 0) return runMime(argc, argv, stdout, stderr);
  if (std::strcmp(command, "extract") == 0) return runExtract(argc, argv, stdout, stderr);
  if (std::strcmp(command, "call") == 0) return runCall(argc, argv, stdout, stderr);
  if (std::strcmp(command, "convert") == 0) return runConvert(argc, argv, stdout, stderr);
  if (std::strcmp(command, "charsets") == 0) return runCharsets(argc, argv, stdout, stderr);
  if (std::strcmp(command, "cert") == 0) return runCert(argc, argv, stdout, stderr);
  if (std::strcmp(command, "sign") == 0) return runSign(argc, argv, stdout, stderr);
  if (std::strcmp(command, "encrypt") == 0) return runEncrypt(argc, argv, stdout, stderr);
  if (std::strcmp(command, "verify") == 0) return runVerify(argc, argv, stdout, stderr);
  if (std::strcmp(command, "decrypt") == 0) return runDecrypt(argc, argv, stdout, stderr);
  if (std::strcmp(command, "register") == 0) return runRegister(argc, argv, stdout, stderr);
  if (std::strcmp(command, "unregister") == 0) return runUnregister(argc, argv, stdout, stderr);
  std::fprintf(stderr, "vormime: unknown command '%s'\n", command);
  usage(stderr);
  return 2;
}
