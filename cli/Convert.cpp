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

}  // namespace

int runConvert(int argc, char** argv, FILE* out, FILE* err) {
  CommandContext ctx{"convert", kConvertUsage, out, err};
  ParsedArgs args;
  const ParseOutcome parsed = parseCommandArgs(ctx, argc, argv, {"--from", "--to"}, args);
  if (parsed != ParseOutcome::kRun) return parsed == ParseOutcome::kHelp ? 0 : 2;
  if (args.values.count("--from") == 0 || args.values.count("--to") == 0)
    return badUsage(ctx, "--from and --to are needed");
  if (args.positional.size() > 2) return badUsage(ctx, "expected at most IN and OUT");
  const char* from = args.values["--from"].c_str();
  const char* to = args.values["--to"].c_str();
  std::vector<const char*> files;
  for (const std::string& f : args.positional) files.push_back(f.c_str());
  const int32_t fromCp = usableCodePage(from, err);
  const int32_t toCp = fromCp != 0 ? usableCodePage(to, err) : 0;
  if (fromCp == 0 || toCp == 0) return 1;

  const char* inName = files.size() > 0 ? files[0] : "-";
  const char* outName = files.size() > 1 ? files[1] : "-";
  FILE* in = std::strcmp(inName, "-") == 0 ? stdin : std::fopen(inName, "rb");
  if (in == nullptr) {
    std::fprintf(err, "vormime convert: cannot open '%s': %s\n", inName, std::strerror(errno));
    return 1;
  }
  DataBuffer input;
  const bool readOk = readAll(in, input);
  if (in != stdin) std::fclose(in);
  if (!readOk) {
    std::fprintf(err, "vormime convert: cannot read '%s'\n", inName);
    return 1;
  }

  EncodingConvert engine;
  DataBuffer converted;
  const bool complete = engine.convert(fromCp, toCp, input.getData(), input.getSize(), converted);

  if (!writeOutput(outName, converted, out, err)) return 1;
  if (!complete)
    std::fprintf(err,
                 "vormime convert: some characters could not be converted from %s to %s and "
                 "were dropped\n",
                 from, to);
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
