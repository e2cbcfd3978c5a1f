// `vormime show FILE`: the part tree of a message, one line per part or one JSON document.
#include <string>

#include "cli/Commands.h"
#include "cli/DispatchClient.h"
#include "cli/HostCommand.h"
#include "cli/HostFiles.h"
#include "cli/JsonText.h"
#include "foundation/Conversion.h"

namespace {

const char* kShowUsage =
    "usage: vormime show [--log] [--json] FILE\n"
    "Loads FILE (\"-\" for standard input) with LoadMimeFile and prints its part tree, one\n"
    "line per part, indented two spaces per level: the content type, then charset=,\n"
    "encoding=, disposition= and filename=\"...\" (else name=\"...\") when the part has them, and\n"
    "parts=N for a container or size=N for a leaf: the bytes of its body as the object\n"
    "holds it (transfer encoding removed, text in UTF-8). Texts are in the ANSI code page,\n"
    "control bytes written as \\xNN. --log prints the log of LoadMimeFile on stderr.\n"
    "--json prints the tree as one JSON document instead, an object per part with the keys\n"
    "content_type, charset, encoding, disposition, filename, name (strings, \"\" when the\n"
    "part has none), size (a number; null for a container) and parts (the sub-parts in\n"
    "order, [] for a leaf). Its strings are UTF-8: a text that is not valid UTF-8 is read\n"
    "in the ANSI code page. Nothing is printed when the tree cannot be read whole.\n";

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

// What show tells of one part; texts in the ANSI form the members give.
struct PartFacts {
  std::string contentType, charset, encoding, disposition, filename, name;
  bool container = false;
  LONG count = 0;   // sub-parts, for a container
  size_t size = 0;  // body bytes, for a leaf
};

// The tree in one of its two forms. Text lines go out as they are made; the JSON document
// is kept until the whole tree has been read, so a failure never leaves half of one.
class TreePrinter {
 public:
  TreePrinter(CommandContext& ctx, bool json) : ctx_(ctx), json_(json) {}

  // Returns 0, or the exit status after a member that failed.
  int print(DispatchClient& root) {
    if (const int status = print(root, 0); status != 0) return status;
    if (json_) std::fprintf(ctx_.out, "%s\n", document_.c_str());
    return 0;
  }

 private:
  int print(DispatchClient& part, int depth) {
    PartFacts facts;
    if (const int status = read(part, facts); status != 0) return status;
    if (json_) {
      openJson(facts, depth);
    } else {
      printLine(facts, depth);
    }
    for (LONG i = 0; facts.container && i < facts.count; ++i) {
      DispatchClient child = part.getPart(i);
      if (!child.valid()) return memberFailed(ctx_, part, "GetPart", "part " + std::to_string(i));
      if (json_ && i > 0) document_ += ',';
      if (const int status = print(child, depth + 1); status != 0) return status;
    }
    if (json_) closeJson(facts, depth);
    return 0;
  }

  int read(DispatchClient& part, PartFacts& facts) {
    facts.contentType = attribute(part, "ContentType");
    facts.charset = attribute(part, "Charset");
    facts.encoding = attribute(part, "Encoding");
    facts.disposition = attribute(part, "Disposition");
    facts.filename = attribute(part, "Filename");
    facts.name = attribute(part, "Name");
    LONG multipart = 0;
    part.callLong("NumParts", {}, facts.count);
    part.callLong("IsMultipart", {}, multipart);
    facts.container = facts.count > 0 || multipart != 0;
    if (facts.container) return 0;
    std::string body;
    if (!part.callBytes("GetBodyBinary", body))
      return failure(ctx_, "GetBodyBinary did not give a byte array");
    facts.size = body.size();
    return 0;
  }

  void printLine(const PartFacts& facts, int depth) {
    std::string line(static_cast<size_t>(depth) * 2, ' ');
    line += facts.contentType.empty() ? "-" : printable(facts.contentType, false);
    addField(line, "charset", printable(facts.charset, false));
    addField(line, "encoding", printable(facts.encoding, false));
    addField(line, "disposition", printable(facts.disposition, false));
    // The name parameter stands in only where there is no file name, as in extract.
    if (!facts.filename.empty())
      addField(line, "filename", printable(facts.filename, true));
    else if (!facts.name.empty())
      addField(line, "name", printable(facts.name, true));
    if (facts.container)
      addField(line, "parts", std::to_string(facts.count));
    else
      addField(line, "size", std::to_string(facts.size));
    std::fprintf(ctx_.out, "%s\n", line.c_str());
  }

  static void addField(std::string& line, const char* key, const std::string& value) {
    if (value.empty()) return;
    line += "  ";
    line += key;
    line += '=';
    line += value;
  }

  // Everything up to the sub-parts' opening bracket; each level indents two spaces more
  // than its parent's "parts" key.
  void openJson(const PartFacts& facts, int depth) {
    const std::string pad(static_cast<size_t>(depth) * 4, ' ');
    if (depth > 0) document_ += '\n';
    document_ += pad + "{";
    const std::pair<const char*, const std::string*> texts[] = {
        {"content_type", &facts.contentType}, {"charset", &facts.charset},
        {"encoding", &facts.encoding},        {"disposition", &facts.disposition},
        {"filename", &facts.filename},        {"name", &facts.name}};
    for (const auto& [key, value] : texts) {
      document_ += "\n" + pad + "  \"" + key + "\": ";
      appendJsonString(document_, utf8FromAnsiOrUtf8(*value));
      document_ += ',';
    }
    document_ += "\n" + pad + "  \"size\": ";
    document_ += facts.container ? "null" : std::to_string(facts.size);
    document_ += ",\n" + pad + "  \"parts\": [";
  }

  void closeJson(const PartFacts& facts, int depth) {
    const std::string pad(static_cast<size_t>(depth) * 4, ' ');
    if (facts.container && facts.count > 0) document_ += "\n" + pad + "  ";
    document_ += "]\n" + pad + "}";
  }

  CommandContext& ctx_;
  const bool json_;
  std::string document_;
};

}  // namespace

int runShow(int argc, char** argv, FILE* out, FILE* err) {
  CommandContext ctx{"show", kShowUsage, out, err};
  ParsedArgs args;
  const ParseOutcome parsed = parseCommandArgs(ctx, argc, argv, {}, args, {"--json"});
  if (parsed != ParseOutcome::kRun) return parsed == ParseOutcome::kHelp ? 0 : 2;
  if (args.positional.size() != 1) return badUsage(ctx, "expected one FILE");
  if (!checkPath(ctx, args.positional[0])) return 2;

  DispatchClient mime(nullptr);
  if (const int status = openMessage(ctx, args.positional[0], "LoadMimeFile", mime); status != 0)
    return status;
  return TreePrinter(ctx, args.has("--json")).print(mime);
}
