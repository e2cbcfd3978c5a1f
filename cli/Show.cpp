// `vormime show FILE`: the part tree of a message, one line per part.
#include <string>

#include "cli/Commands.h"
#include "cli/DispatchClient.h"
#include "cli/HostCommand.h"
#include "cli/HostFiles.h"
#include "foundation/Conversion.h"

namespace {

const char* kShowUsage =
    "usage: vormime show [--log] FILE\n"
    "Loads FILE (\"-\" for standard input) with LoadMimeFile and prints its part tree, one\n"
    "line per part, indented two spaces per level: the content type, then charset=,\n"
    "encoding=, disposition= and filename=\"...\" (else name=\"...\") when the part has them, and\n"
    "parts=N for a container or size=N for a leaf: the bytes of its body as the object\n"
    "holds it (transfer encoding removed, text in UTF-8). Texts are in the ANSI code page,\n"
    "control bytes written as \\xNN. --log prints the log of LoadMimeFile on stderr.\n";

// Bytes a terminal shows safely; inside quotes a quote and a backslash are escaped too.
std::string printable(const std::string& s, bool quoted) {
  std::string out;
  for (const char ch : s) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c == 0x7F) {
      static const char kHex[] = "0123456789abcdef";
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else if (quoted && (c == '"' || c == '\\')) {
      out += '\\';
      out += ch;
    } else {
      out += ch;
    }
  }
  return quoted ? "\"" + out + "\"" : out;
}

std::string attribute(DispatchClient& part, const char* property) {
  std::string value;
  part.callText(property, {}, ansiCodePage(), value);
  return value;
}

class TreePrinter {
 public:
  explicit TreePrinter(CommandContext& ctx) : ctx_(ctx) {}

  // Returns 0, or the exit status after a GetPart that failed.
  int print(DispatchClient& part, int depth) {
    std::string line(static_cast<size_t>(depth) * 2, ' ');
    const std::string type = attribute(part, "ContentType");
    line += type.empty() ? "-" : printable(type, false);
    addField(line, "charset", printable(attribute(part, "Charset"), false));
    addField(line, "encoding", printable(attribute(part, "Encoding"), false));
    addField(line, "disposition", printable(attribute(part, "Disposition"), false));
    // The name parameter stands in only where there is no file name, as in extract.
    if (const std::string filename = attribute(part, "Filename"); !filename.empty())
      addField(line, "filename", printable(filename, true));
    else if (const std::string name = attribute(part, "Name"); !name.empty())
      addField(line, "name", printable(name, true));

    LONG count = 0, multipart = 0;
    part.callLong("NumParts", {}, count);
    part.callLong("IsMultipart", {}, multipart);
    if (count > 0 || multipart != 0) {
      addField(line, "parts", std::to_string(count));
      std::fprintf(ctx_.out, "%s\n", line.c_str());
      for (LONG i = 0; i < count; ++i) {
        DispatchClient child = part.getPart(i);
        if (!child.valid()) return memberFailed(ctx_, part, "GetPart", "part " + std::to_string(i));
        if (const int status = print(child, depth + 1); status != 0) return status;
      }
      return 0;
    }
    std::string body;
    if (!part.callBytes("GetBodyBinary", body))
      return failure(ctx_, "GetBodyBinary did not give a byte array");
    addField(line, "size", std::to_string(body.size()));
    std::fprintf(ctx_.out, "%s\n", line.c_str());
    return 0;
  }

 private:
  static void addField(std::string& line, const char* key, const std::string& value) {
    if (value.empty()) return;
    line += "  ";
    line += key;
    line += '=';
    line += value;
  }

  CommandContext& ctx_;
};

}  // namespace

int runShow(int argc, char** argv, FILE* out, FILE* err) {
  CommandContext ctx{"show", kShowUsage, out, err};
  ParsedArgs args;
  const ParseOutcome parsed = parseCommandArgs(ctx, argc, argv, {}, args);
  if (parsed != ParseOutcome::kRun) return parsed == ParseOutcome::kHelp ? 0 : 2;
  if (args.positional.size() != 1) return badUsage(ctx, "expected one FILE");
  if (!checkPath(ctx, args.positional[0])) return 2;

  std::string error;
  InputFile input;
  if (!input.open(args.positional[0], error)) return failure(ctx, error);
  DispatchClient mime = DispatchClient::createMime(error, ctx.err);
  if (!mime.valid()) return failure(ctx, error);
  if (const int status = loadInput(ctx, mime, "LoadMimeFile", input); status != 0) return status;
  return TreePrinter(ctx).print(mime, 0);
}
