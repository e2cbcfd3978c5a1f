// `vormime register` and `vormime unregister`: the component module's own registration
// entry points, run as a setup program runs them.
#include <string>

#include "cli/Commands.h"
#include "cli/ComponentModule.h"
#include "cli/HostCommand.h"

namespace {

const char* const kRegisterUsage =
    "usage: vormime register\n"
    "Runs DllRegisterServer of the component module, which registers the ProgIDs\n"
    "VorlundMime.VorlundMime and VorlundMime.VorlundMime.1, the class and its type library\n"
    "in HKEY_CLASSES_ROOT (the hive under the platform root), then that of the siblings'\n"
    "module, which registers VorlundCert.VorlundCert and VorlundCSP.VorlundCSP. The module is\n"
    "VORMIME_MODULE, else libvorlundmime.so in ../component from vormime's directory (the\n"
    "build tree), in " VORLUND_BIN_TO_LIB
    " from it (the installed layout), or beside vormime;\n"
    "libvorlundsiblings.so beside it, in ../siblings, in " VORLUND_BIN_TO_LIB
    ", or beside\n"
    "vormime.\n";

const char* const kUnregisterUsage =
    "usage: vormime unregister\n"
    "Runs DllUnregisterServer of the component module and of the siblings' module (found as\n"
    "for register), which remove their classes, ProgIDs and type library from\n"
    "HKEY_CLASSES_ROOT.\n";

int runEntry(CommandContext& ctx, int argc, char** argv, const char* entry, bool registering) {
  ParsedArgs args;
  const ParseOutcome parsed = parseCommandArgs(ctx, argc, argv, {}, args);
  if (parsed != ParseOutcome::kRun) return parsed == ParseOutcome::kHelp ? 0 : 2;
  if (!args.positional.empty())
    return badUsage(ctx, "unexpected argument '" + args.positional[0] + "'");

  std::string error;
  const std::string module = findComponentModule(error);
  if (module.empty()) return failure(ctx, error);
  const std::string siblings = findSiblingsModule(module, error);
  if (siblings.empty()) return failure(ctx, error);
  registeredModule();  // reads the hive first, so a damaged one is reported as such
  reportRegistryProblem(ctx.err);
  for (const std::string& m : {module, siblings}) {
    const bool ran = runModuleEntry(m, entry, error);
    reportRegistryProblem(ctx.err);
    if (!ran) return failure(ctx, error);
  }
  // The entry points' results are checked against what a host now finds.
  const std::pair<const char*, std::string> found[] = {{kMimeProgId, registeredModule()},
                                                       {kCertProgId, registeredSiblings()}};
  const std::string expected[] = {module, siblings};
  for (int i = 0; i < 2; ++i) {
    if (registering && found[i].second != expected[i])
      return failure(ctx, std::string(found[i].first) + " does not lead to " + expected[i] +
                              " after registering");
    if (!registering && !found[i].second.empty())
      return failure(ctx,
                     std::string(found[i].first) + " is still registered, at " + found[i].second);
  }
  for (const std::string& m : {module, siblings})
    std::fprintf(ctx.out, "%s %s\n", registering ? "registered" : "unregistered", m.c_str());
  return 0;
}

}  // namespace

int runRegister(int argc, char** argv, FILE* out, FILE* err) {
  CommandContext ctx{"register", kRegisterUsage, out, err};
  return runEntry(ctx, argc, argv, "DllRegisterServer", true);
}

int runUnregister(int argc, char** argv, FILE* out, FILE* err) {
  CommandContext ctx{"unregister", kUnregisterUsage, out, err};
  return runEntry(ctx, argc, argv, "DllUnregisterServer", false);
}
