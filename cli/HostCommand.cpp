#include "cli/HostCommand.h"

#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>

#include "cli/DispatchClient.h"
#include "cli/HostFiles.h"
#include "cli/LoadProgress.h"
#include "platform/CodePage.h"

ParseOutcome parseCommandArgs(CommandContext& ctx, int argc, char** argv,
                              const std::vector<std::string>& valueOptions, ParsedArgs& out,
                              const std::vector<std::string>& flagOptions) {
  bool optionsOver = false;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (optionsOver || arg == "-" || arg.empty() || arg[0] != '-') {
      out.positional.push_back(arg);
    } else if (arg == "--") {
      optionsOver = true;
    } else if (arg == "--help" || arg == "-h") {
      std::fputs(ctx.usage, ctx.out);
      return ParseOutcome::kHelp;
    } else if (arg == "--log") {
      ctx.log = true;
    } else if (std::find(flagOptions.begin(), flagOptions.end(), arg) != flagOptions.end()) {
      out.flags.insert(arg);
    } else {
      bool known = false;
      for (const std::string& option : valueOptions)
        if (arg == option) known = true;
      if (!known) {
        badUsage(ctx, "unknown option '" + arg + "'");
        return ParseOutcome::kBadUsage;
      }
      if (i + 1 >= argc) {
        badUsage(ctx, "option '" + arg + "' needs a value");
        return ParseOutcome::kBadUsage;
      }
      out.values[arg] = argv[++i];
    }
  }
  return ParseOutcome::kRun;
}

int badUsage(CommandContext& ctx, const std::string& message) {
  std::fprintf(ctx.err, "vormime %s: %s\n%s", ctx.name, message.c_str(), ctx.usage);
  return 2;
}

int badUsageBrief(CommandContext& ctx, const std::string& message) {
  std::fprintf(ctx.err, "vormime %s: %s (see vormime %s --help)\n", ctx.name, message.c_str(),
               ctx.name);
  return 2;
}

int failure(CommandContext& ctx, const std::string& message) {
  std::fprintf(ctx.err, "vormime %s: %s\n", ctx.name, message.c_str());
  return 1;
}

namespace {

// The log text with its CRLF line ends as a terminal shows them, ending in one newline.
void printLogText(FILE* err, const std::string& text) {
  std::string lines;
  lines.reserve(text.size() + 1);
  for (size_t i = 0; i < text.size(); ++i)
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) lines += text[i];
  if (!lines.empty() && lines.back() != '\n') lines += '\n';
  std::fputs(lines.c_str(), err);
}

}  // namespace

void printMemberLog(CommandContext& ctx, DispatchClient& mime, const std::string& member) {
  const std::string text = mime.lastErrorText();
  if (text.empty()) return;
  std::fprintf(ctx.err, "--- log of %s ---\n", member.c_str());
  printLogText(ctx.err, text);
}

int memberFailed(CommandContext& ctx, DispatchClient& mime, const std::string& member,
                 const std::string& what) {
  std::fprintf(ctx.err, "vormime %s: %s failed: %s\n", ctx.name, member.c_str(), what.c_str());
  printMemberLog(ctx, mime, member);
  return 1;
}

void logSuccess(CommandContext& ctx, DispatchClient& mime, const std::string& member) {
  if (ctx.log) printMemberLog(ctx, mime, member);
}

bool checkPath(CommandContext& ctx, const std::string& path) {
  if (isValidUtf8(path) && path.find('\0') == std::string::npos) return true;
  badUsage(ctx, "file names must be UTF-8");
  return false;
}

namespace {

// Calls a member that takes a UTF-8 file name and gives a success flag.
HRESULT callFlagMember(DispatchClient& mime, const char* member, const std::string& path,
                       bool& succeeded) {
  std::vector<Variant> args;
  args.push_back(Variant::text(path, CP_UTF8));
  Variant result;
  const HRESULT hr = mime.call(member, args, result);
  succeeded = SUCCEEDED(hr) && result.type() == VT_I4 && (*result).lVal == 1;
  return hr;
}

int reportFlagMember(CommandContext& ctx, DispatchClient& mime, const char* member,
                     const std::string& label, HRESULT hr, bool succeeded) {
  if (FAILED(hr)) return failure(ctx, describeDispatchError(hr, member));
  if (!succeeded) return memberFailed(ctx, mime, member, "'" + label + "'");
  logSuccess(ctx, mime, member);
  return 0;
}

}  // namespace

int callWithPath(CommandContext& ctx, DispatchClient& mime, const char* member,
                 const std::string& path, const std::string& label) {
  bool succeeded = false;
  const HRESULT hr = callFlagMember(mime, member, path, succeeded);
  return reportFlagMember(ctx, mime, member, label.empty() ? path : label, hr, succeeded);
}

int openMessage(CommandContext& ctx, const std::string& inputArg, const char* loader,
                DispatchClient& mime, std::string* label) {
  std::string error;
  InputFile input;
  if (!input.open(inputArg, error)) return failure(ctx, error);
  mime = DispatchClient::createMime(error, ctx.err);
  if (!mime.valid()) return failure(ctx, error);
  if (label != nullptr) *label = input.label();
  bool succeeded = false;
  HRESULT hr;
  {
    // Erased before anything else is said.
    LoadProgress progress(mime, input.label(), input.size(), ctx.err);
    hr = callFlagMember(mime, loader, input.path(), succeeded);
  }
  return reportFlagMember(ctx, mime, loader, input.label(), hr, succeeded);
}

int readPasswordLine(CommandContext& ctx, const ParsedArgs& args, std::string& line) {
  line.clear();
  auto file = args.values.find("--password-file");
  if (file != args.values.end()) {
    std::ifstream in(file->second, std::ios::binary);
    if (!in) return failure(ctx, "cannot read the password file " + file->second);
    std::getline(in, line);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return 0;
  }
  if (!isatty(STDIN_FILENO))
    return badUsageBrief(ctx, "a password is needed for a PKCS #12 file: give --password-file");
  std::fputs("Password: ", ctx.err);
  std::fflush(ctx.err);
  termios saved{};
  const bool terminal = tcgetattr(STDIN_FILENO, &saved) == 0;
  if (terminal) {
    termios quiet = saved;
    quiet.c_lflag &= ~tcflag_t(ECHO);
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  char buf[1024];
  const bool got = std::fgets(buf, sizeof buf, stdin) != nullptr;
  if (terminal) tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
  std::fputs("\n", ctx.err);
  if (!got) return failure(ctx, "no password was given");
  line = buf;
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  return 0;
}
