// `vormime extract FILE DIR`: every attachment of a message saved into a directory, under
// names that cannot leave it.
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "cli/Commands.h"
#include "cli/DispatchClient.h"
#include "cli/HostCommand.h"
#include "cli/HostFiles.h"
#include "cli/SafeFileName.h"
#include "foundation/Conversion.h"

namespace {

const char* kExtractUsage =
    "usage: vormime extract [--log] FILE DIR\n"
    "Loads FILE (\"-\" for standard input) with LoadMimeFile and saves every leaf part that\n"
    "has a file name (Filename, else Name) or is an attachment into DIR with SaveBody,\n"
    "printing the path of each file written. DIR is created when missing. Names are made\n"
    "safe: only the last path component is kept, control bytes become \"_\", names of dots\n"
    "only or nothing at all become part-N.EXT (N counts the leaves from 1), long names are\n"
    "cut to 200 bytes, and a name already taken or present in DIR gets -1, -2 ... before\n"
    "its extension. Nothing is ever written outside DIR or over an existing file. Exit 1\n"
    "when any part could not be saved (the others still are).\n";

// mkdir -p: true when `dir` is a directory afterwards.
bool makeDirectories(const std::string& dir) {
  struct stat st;
  if (stat(dir.c_str(), &st) == 0) {
    if (!S_ISDIR(st.st_mode)) errno = ENOTDIR;
    return S_ISDIR(st.st_mode);
  }
  for (size_t slash = dir.find('/', 1); slash != std::string::npos;
       slash = dir.find('/', slash + 1))
    mkdir(dir.substr(0, slash).c_str(), 0777);
  return mkdir(dir.c_str(), 0777) == 0 || (stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode));
}

class Extractor {
 public:
  Extractor(CommandContext& ctx, const std::string& dir) : ctx_(ctx), dir_(dir), picker_(dir) {}

  // Walks the tree depth first. A failed GetPart stops the walk; a failed save does not.
  bool walk(DispatchClient& part) {
    LONG count = 0, multipart = 0;
    part.callLong("NumParts", {}, count);
    part.callLong("IsMultipart", {}, multipart);
    if (count == 0 && multipart == 0) {
      saveLeaf(part, ++leaves_);
      return true;
    }
    for (LONG i = 0; i < count; ++i) {
      DispatchClient child = part.getPart(i);
      if (!child.valid()) {
        memberFailed(ctx_, part, "GetPart", "part " + std::to_string(i));
        failed_ = true;
        return false;
      }
      if (!walk(child)) return false;
    }
    return true;
  }

  bool failed() const { return failed_; }

 private:
  void saveLeaf(DispatchClient& part, int number) {
    std::string name;
    part.callText("Filename", {}, ansiCodePage(), name);
    if (name.empty()) part.callText("Name", {}, ansiCodePage(), name);
    LONG attachment = 0;
    part.callLong("IsAttachment", {}, attachment);
    if (name.empty() && attachment == 0) return;  // inline content, not a file

    // The ANSI form of a name holds the bytes the message carried, normally UTF-8.
    std::string safe = safeFileName(utf8FromAnsiOrUtf8(name));
    if (safe.empty()) {
      std::string type;
      part.callText("ContentType", {}, ansiCodePage(), type);
      safe = madeUpFileName(number, type);
    }
    const std::string path = dir_ + "/" + picker_.pick(safe);
    if (callWithPath(ctx_, part, "SaveBody", path) != 0) {
      failed_ = true;
      return;
    }
    std::fprintf(ctx_.out, "%s\n", path.c_str());
  }

  CommandContext& ctx_;
  std::string dir_;
  FileNamePicker picker_;
  int leaves_ = 0;
  bool failed_ = false;
};

}  // namespace

int runExtract(int argc, char** argv, FILE* out, FILE* err) {
  CommandContext ctx{"extract", kExtractUsage, out, err};
  ParsedArgs args;
  const ParseOutcome parsed = parseCommandArgs(ctx, argc, argv, {}, args);
  if (parsed != ParseOutcome::kRun) return parsed == ParseOutcome::kHelp ? 0 : 2;
  if (args.positional.size() != 2) return badUsage(ctx, "expected FILE and DIR");
  std::string dir = args.positional[1];
  if (dir == "-") return badUsage(ctx, "DIR cannot be standard output");
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  if (!checkPath(ctx, args.positional[0]) || !checkPath(ctx, dir)) return 2;

  DispatchClient mime(nullptr);
  if (const int status = openMessage(ctx, args.positional[0], "LoadMimeFile", mime); status != 0)
    return status;
  if (!makeDirectories(dir))
    return failure(ctx, "cannot create the directory '" + dir + "': " + std::strerror(errno));
  Extractor extractor(ctx, dir);
  extractor.walk(mime);
  return extractor.failed() ? 1 : 0;
}
