// `vormime convert` and `vormime charsets`: the conversion engine on a stream, and the
// charset names it knows.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "charset/CharsetNames.h"
#include "charset/EncodingConvert.h"
#include "cli/Commands.h"
#include "cli/HostCommand.h"
#include "foundation/DataBuffer.h"
#include "foundation/FileAccess.h"
#include "foundation/StringBuffer.h"
#include "log/Logger.h"

namespace {

const char* kConvertUsage =
    "usage: vormime convert --from CHARSET --to CHARSET [IN [OUT]]\n"
    "Converts IN (standard input when omitted or \"-\") from one charset to another and\n"
    "writes OUT (standard output when omitted or \"-\"). Characters the target charset\n"
    "cannot hold are dropped, with a warning on standard error; the exit status stays 0.\n"
    "Exit status 1: unknown charset, charset without converter, unreadable or unwritable\n"
    "file. 2: bad usage. `vormime charsets` lists the names.\n";

bool readAll(FILE* in, DataBuffer& out) {
  unsigned char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, in)) > 0) out.append(buf, static_cast<uint32_t>(n));
  return !std::ferror(in);
}

// Standard output for "-"; a file otherwise, written by the component's own file helper so
// that a file replaced is replaced whole. False after saying on stderr why not.
bool writeOutput(const char* outName, const DataBuffer& bytes, FILE* out, FILE* err) {
  if (std::strcmp(outName, "-") != 0) {
    Logger log;
    if (writeFileUtf8(outName, bytes.getData(), bytes.getSize(), &log)) return true;
    StringBuffer why;
    log.getErrorText(why);
    std::fprintf(err, "vormime convert: cannot write '%s'\n%s", outName, why.getString());
    return false;
  }
  const size_t written = std::fwrite(bytes.getData(), 1, bytes.getSize(), out);
  if (written == bytes.getSize() && std::fflush(out) == 0) return true;
  std::fprintf(err, "vormime convert: cannot write to standard output\n");
  return false;
}

// The code page of a charset name, or 0 after saying on stderr why it cannot be used.
int32_t usableCodePage(const char* name, FILE* err) {
  const int32_t cp = codePageFromName(name);
  if (cp == 0) {
    std::fprintf(err, "vormime convert: unknown charset '%s'\n", name);
    return 0;
  }
  if (!isConvertibleCodePage(cp)) {
    std::fprintf(err, "vormime convert: charset '%s' (code page %d) has no converter\n", name, cp);
    return 0;
  }
  return cp;
}

// What one convert run is asked to do.
struct ConvertRequest {
  std::string from;
  std::string to;
  std::string inName = "-";
  std::string outName = "-";
  int32_t fromCp = 0;
  int32_t toCp = 0;
};

// False when the run ends with the arguments, `exitStatus` then saying how: 0 for help, 2 for
// bad usage, 1 for a charset that cannot be used.
bool readRequest(CommandContext& ctx, int argc, char** argv, ConvertRequest& request,
                 int& exitStatus) {
  ParsedArgs args;
  const ParseOutcome parsed = parseCommandArgs(ctx, argc, argv, {"--from", "--to"}, args);
  if (parsed != ParseOutcome::kRun) {
    exitStatus = parsed == ParseOutcome::kHelp ? 0 : 2;
    return false;
  }
  if (args.values.count("--from") == 0 || args.values.count("--to") == 0) {
    exitStatus = badUsage(ctx, "--from and --to are needed");
    return false;
  }
  if (args.positional.size() > 2) {
    exitStatus = badUsage(ctx, "expected at most IN and OUT");
    return false;
  }
  request.from = args.values["--from"];
  request.to = args.values["--to"];
  if (args.positional.size() > 0) request.inName = args.positional[0];
  if (args.positional.size() > 1) request.outName = args.positional[1];
  request.fromCp = usableCodePage(request.from.c_str(), ctx.err);
  request.toCp = request.fromCp != 0 ? usableCodePage(request.to.c_str(), ctx.err) : 0;
  if (request.fromCp == 0 || request.toCp == 0) {
    exitStatus = 1;
    return false;
  }
  return true;
}

// Standard input for "-"; a file otherwise. False after saying on stderr why it cannot be read.
bool readInput(const char* inName, DataBuffer& input, FILE* err) {
  FILE* in = std::strcmp(inName, "-") == 0 ? stdin : std::fopen(inName, "rb");
  if (in == nullptr) {
    std::fprintf(err, "vormime convert: cannot open '%s': %s\n", inName, std::strerror(errno));
    return false;
  }
  const bool readOk = readAll(in, input);
  if (in != stdin) std::fclose(in);
  if (!readOk) std::fprintf(err, "vormime convert: cannot read '%s'\n", inName);
  return readOk;
}

}  // namespace

int runConvert(int argc, char** argv, FILE* out, FILE* err) {
  CommandContext ctx{"convert", kConvertUsage, out, err};
  ConvertRequest request;
  int exitStatus = 0;
  if (!readRequest(ctx, argc, argv, request, exitStatus)) return exitStatus;

  DataBuffer input;
  if (!readInput(request.inName.c_str(), input, err)) return 1;

  EncodingConvert engine;
  DataBuffer converted;
  const bool complete =
      engine.convert(request.fromCp, request.toCp, input.getData(), input.getSize(), converted);

  if (!writeOutput(request.outName.c_str(), converted, out, err)) return 1;
  if (!complete)
    std::fprintf(err,
                 "vormime convert: some characters could not be converted from %s to %s and "
                 "were dropped\n",
                 request.from.c_str(), request.to.c_str());
  return 0;
}

int runCharsets(int argc, char** argv, FILE* out, FILE* err) {
  CommandContext ctx{"charsets",
                     "usage: vormime charsets\n"
                     "Lists every code page the charset names lead to: its number, the name "
                     "written in\nMIME, whether the conversion engine converts it, and the names "
                     "that look it up.\n",
                     out, err};
  ParsedArgs args;
  const ParseOutcome parsed = parseCommandArgs(ctx, argc, argv, {}, args);
  if (parsed != ParseOutcome::kRun) return parsed == ParseOutcome::kHelp ? 0 : 2;
  if (!args.positional.empty())
    return badUsage(ctx, "unexpected argument '" + args.positional[0] + "'");
  std::map<int32_t, std::vector<const char*>> byCodePage;
  for (int32_t i = 0; i < charsetAliasCount(); ++i) {
    int32_t cp = 0;
    const char* alias = charsetAliasAt(i, &cp);
    byCodePage[cp].push_back(alias);
  }
  std::fprintf(out, "%-6s %-22s %-8s %s\n", "cp", "written name", "converts", "names");
  for (const auto& [cp, aliases] : byCodePage) {
    StringBuffer written;
    nameFromCodePage(cp, written);
    std::string names;
    for (const char* a : aliases) {
      if (!names.empty()) names += ", ";
      names += a;
    }
    std::fprintf(out, "%-6d %-22s %-8s %s\n", cp, written.isEmpty() ? "-" : written.getString(),
                 isConvertibleCodePage(cp) ? "yes" : "no", names.c_str());
  }
  return 0;
}
