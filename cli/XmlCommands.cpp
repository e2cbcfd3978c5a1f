// `vormime xml FILE` and `vormime mime FILE.xml`: the two directions of the XML form.
// The output is what SaveXml and SaveMime write, byte for byte; standard output gets it
// through a temporary file.
#include <string>

#include "cli/Commands.h"
#include "cli/DispatchClient.h"
#include "cli/HostCommand.h"
#include "cli/HostFiles.h"

namespace {

const char* kXmlUsage =
    "usage: vormime xml [--log] [-o OUT] FILE\n"
    "Loads the message FILE (\"-\" for standard input) with LoadMimeFile and writes its XML\n"
    "form (SaveXml) to OUT, standard output when omitted or \"-\". --log prints the logs of\n"
    "the members on stderr.\n";

const char* kMimeUsage =
    "usage: vormime mime [--log] [-o OUT] FILE.xml\n"
    "Loads the XML form FILE.xml (\"-\" for standard input) with LoadXmlFile and writes the\n"
    "message (SaveMime) to OUT, standard output when omitted or \"-\". A document without a\n"
    "mime_message element loads nothing: that is a failure (exit 1). --log prints the logs\n"
    "of the members on stderr.\n";

// Loads the input with `loader`, checks it with `loaded`, writes it with `saver`.
template <typename LoadedCheck>
int convertForm(CommandContext& ctx, int argc, char** argv, const char* loader, const char* saver,
                LoadedCheck loaded) {
  ParsedArgs args;
  const ParseOutcome parsed = parseCommandArgs(ctx, argc, argv, {"-o"}, args);
  if (parsed != ParseOutcome::kRun) return parsed == ParseOutcome::kHelp ? 0 : 2;
  if (args.positional.size() != 1) return badUsage(ctx, "expected one FILE");
  const std::string outName = args.values.count("-o") != 0 ? args.values["-o"] : "-";
  if (!checkPath(ctx, args.positional[0]) || !checkPath(ctx, outName)) return 2;

  DispatchClient mime(nullptr);
  std::string label;
  if (const int status = openMessage(ctx, args.positional[0], loader, mime, &label); status != 0)
    return status;
  std::string error;
  OutputFile output;
  if (!output.open(outName, error)) return failure(ctx, error);
  if (!loaded(mime)) {
    // The reader's own reason (nesting too deep, an unclosed comment...) is in the log.
    if (!ctx.log) printMemberLog(ctx, mime, loader);
    return failure(ctx, "nothing was loaded from " + label +
                            ": it has no mime_message element with a header and a body");
  }
  if (const int status = callWithPath(ctx, mime, saver, output.path(),
                                      outName == "-" ? "standard output" : outName);
      status != 0)
    return status;
  if (!output.finish(ctx.out, error)) return failure(ctx, error);
  return 0;
}

}  // namespace

int runXml(int argc, char** argv, FILE* out, FILE* err) {
  CommandContext ctx{"xml", kXmlUsage, out, err};
  return convertForm(ctx, argc, argv, "LoadMimeFile", "SaveXml",
                     [](DispatchClient&) { return true; });
}

int runMime(int argc, char** argv, FILE* out, FILE* err) {
  CommandContext ctx{"mime", kMimeUsage, out, err};
  // LoadXml leaves a fresh object's entity empty when the document has no mime_message
  // element; writing that out would only hide the problem.
  return convertForm(ctx, argc, argv, "LoadXmlFile", "SaveMime", [](DispatchClient& mime) {
    LONG fields = 0, parts = 0;
    mime.callLong("NumHeaderFields", {}, fields);
    mime.callLong("NumParts", {}, parts);
    return fields > 0 || parts > 0;
  });
}
