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
    "in HKEY_CLASSES_ROOT (the hive under the platform root). The module is VORMIME_MODULE,\n"
    "else libvorlundmime.so in ../component from vormime's directory, or beside vormime.\n";

const char* const kUnregisterUsage =
    "usage: vormime unregister\n"
    "Runs DllUnregisterServer of the component module (found as for register), which\n"
    "removes the class, its ProgIDs and its type library from HKEY_CLASSES_ROOT.\n";

int runEntry(CommandContext& ctx, int argc, char** argv, const char* entry, bool registering) {
  ParsedArgs args;
  const ParseOutcome parsed = parseCommandArgs(ctx, argc, argv, {}, args);
  if (parsed != ParseOutcome::kRun) return parsed == ParseOutcome::kHelp ? 0 : 2;
  if (!args.positional.empty())
    return badUsage(ctx, "unexpected argument '" + args.positional[0] + "'");

  std::string error;
  const std::string module = findComponentModule(error);
  if (module.empty()) return failure(ctx, error);
  registeredModule();  // reads the hive first, so a damaged one is reported as such
  reportRegistryProblem(ctx.err);
  const bool ran = runModuleEntry(module, entry, error);
  reportRegistryProblem(ctx.err);
  if (!ran) return failure(ctx, error);
  // The entry point's result is checked against what a host now finds.
  const std::string found = registeredModule();
  if (registering && found != module)
    return failure(ctx,
                   std::string(kMimeProgId) + " does not lead to " + module + " after registering");
  if (!registering && !found.empty())
    return failure(ctx, std::string(kMimeProgId) + " is still registered, at " + found);
  std::fprintf(ctx.out, "%s %s\n", registering ? "registered" : "unregistered", module.c_str());
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
