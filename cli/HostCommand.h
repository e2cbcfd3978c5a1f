// What the subcommands that drive a Mime object share: their arguments, the log of a
// member on standard error, and loading the input file.
#pragma once

#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

class DispatchClient;
class InputFile;

struct CommandContext {
  const char* name;  // the subcommand, for messages
  const char* usage;
  FILE* out;
  FILE* err;
  bool log = false;  // --log: members' logs on success too
};

struct ParsedArgs {
  std::vector<std::string> positional;
  std::map<std::string, std::string> values;  // options that take a value
  std::set<std::string> flags;                // options without a value that were given
  bool has(const std::string& flag) const { return flags.count(flag) != 0; }
};

enum class ParseOutcome { kRun, kHelp, kBadUsage };

// Reads argv[2...]: --help or -h, --log, the options in `valueOptions` with the argument
// after them, those in `flagOptions` alone, and positional arguments ("-" among them; "--"
// ends the options). Prints the usage for --help (to out) and for bad usage (to err).
ParseOutcome parseCommandArgs(CommandContext& ctx, int argc, char** argv,
                              const std::vector<std::string>& valueOptions, ParsedArgs& out,
                              const std::vector<std::string>& flagOptions = {});

// "vormime NAME: message" and the usage on stderr; returns 2.
int badUsage(CommandContext& ctx, const std::string& message);
// "vormime NAME: message" and a pointer to --help on stderr; returns 2.
int badUsageBrief(CommandContext& ctx, const std::string& message);
// "vormime NAME: message" on stderr; returns 1.
int failure(CommandContext& ctx, const std::string& message);

// The member's log (LastErrorText) on stderr under a heading; nothing when it is empty.
void printMemberLog(CommandContext& ctx, DispatchClient& mime, const std::string& member);
// "vormime NAME: MEMBER failed: what", the member's log, and 1.
int memberFailed(CommandContext& ctx, DispatchClient& mime, const std::string& member,
                 const std::string& what);
// With --log, the member's log after a success.
void logSuccess(CommandContext& ctx, DispatchClient& mime, const std::string& member);

// False (after saying why) when a path cannot reach a member as it is: member file names
// travel as UTF-8.
bool checkPath(CommandContext& ctx, const std::string& path);

// The start every message command shares: the input opened ("-" is copied from standard
// input first), a new Mime object, and the input loaded into it with `loader` (LoadMimeFile
// or LoadXmlFile), with the progress line for large inputs on a terminal. Returns 0, or the
// exit status after reporting why; `label` (when given) receives the name to show for it.
int openMessage(CommandContext& ctx, const std::string& inputArg, const char* loader,
                DispatchClient& mime, std::string* label = nullptr);
// Calls a member that takes a UTF-8 file name and returns a success flag. Returns 0 or
// the exit status after reporting the failure, which names `label` (else the path).
int callWithPath(CommandContext& ctx, DispatchClient& mime, const char* member,
                 const std::string& path, const std::string& label = std::string());

// A PKCS #12 password, never from the command line: the first line of --password-file
// (without its line end), else asked for on a terminal without echo; UTF-8. Returns 0, or
// the exit status after saying why there is none (2 when no terminal can ask).
int readPasswordLine(CommandContext& ctx, const ParsedArgs& args, std::string& utf8);
