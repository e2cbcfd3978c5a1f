// `vormime call FILE CALL [-- CALL]...`: any member by name, for scripts. The calls of a
// chain run one after the other on one object, so a script can build a message.
#include <deque>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "cli/DispatchClient.h"
#include "cli/HostCommand.h"
#include "cli/HostFiles.h"
#include "cli/MemberForms.h"
#include "foundation/Conversion.h"
#include "foundation/DataBuffer.h"
#include "platform/CodePage.h"

namespace {

const char* kCallUsage =
    "usage: vormime call [--log] FILE CALL [-- CALL]...\n"
    "Calls members of a Mime object by name through IDispatch, as a script does.\n"
    "FILE is a message loaded with LoadMimeFile, \"-\" for standard input, or -new for an\n"
    "empty object (./-new names a file of that name). Each CALL is one of\n"
    "  Member [ARG...]     a method, or the value of a property\n"
    "  put:Member VALUE    sets a property\n"
    "and \"--\" separates the calls. Every ARG goes as a string; the object converts it\n"
    "where the member takes a number (\"0\"). Strings travel in the form the member\n"
    "reads them: file names, bodies and header fields as UTF-8, the rest in the ANSI code\n"
    "page (VORLUND_ACP, 1252 by default); results come out the same way. A string result\n"
    "is printed with a line break added when it does not end in one, a number on a line\n"
    "of its own, a byte array (GetBodyBinary) as raw bytes. A member that returns a part\n"
    "(GetPart) makes that part the object of the calls after it.\n"
    "Exit status: 0 success; 1 when a member reports failure (a success flag of 0, no\n"
    "part) after printing its log on stderr, the later calls not run; 2 bad usage,\n"
    "including an unknown member or a wrong number or type of arguments. --log prints\n"
    "each member's log (LastErrorText after it; members that keep no log leave the one\n"
    "before) on stderr.\n";

struct MemberCall {
  std::string member;
  bool isPut = false;
  std::vector<std::string> args;
};

// Splits the words after FILE at "--"; false for an empty call.
bool parseCalls(const std::vector<std::string>& words, std::vector<MemberCall>& calls) {
  calls.emplace_back();
  for (const std::string& word : words) {
    MemberCall& current = calls.back();
    if (word == "--") {
      if (current.member.empty()) return false;
      calls.emplace_back();
    } else if (current.member.empty()) {
      current.isPut = word.rfind("put:", 0) == 0;
      current.member = current.isPut ? word.substr(4) : word;
      if (current.member.empty()) return false;
    } else {
      current.args.push_back(word);
    }
  }
  return !calls.back().member.empty();
}

bool isUsageError(HRESULT hr) {
  return hr == DISP_E_UNKNOWNNAME || hr == DISP_E_MEMBERNOTFOUND || hr == DISP_E_BADPARAMCOUNT ||
         hr == DISP_E_PARAMNOTFOUND || hr == DISP_E_TYPEMISMATCH || hr == DISP_E_OVERFLOW ||
         hr == DISP_E_NONAMEDARGS;
}

class CallRunner {
 public:
  CallRunner(CommandContext& ctx, DispatchClient& root) : ctx_(ctx), target_(&root) {}

  // Returns 0, or the exit status of the first call that did not succeed.
  int run(const MemberCall& call) {
    const int32_t argForm = takesUtf8Text(call.member) ? CP_UTF8 : ansiCodePage();
    std::vector<Variant> args;
    for (const std::string& a : call.args) args.push_back(Variant::text(a, argForm));

    Variant result;
    HRESULT hr;
    int badArg = -1;
    if (call.isPut) {
      if (args.size() != 1) return badUsageBrief(ctx_, "put:" + call.member + " takes one VALUE");
      hr = target_->put(call.member, args[0]);
      badArg = 0;
    } else {
      hr = target_->call(call.member, args, result, &badArg);
    }
    if (FAILED(hr)) {
      std::string message = describeDispatchError(hr, call.member);
      if (hr == DISP_E_MEMBERNOTFOUND && call.isPut)
        message = "'" + call.member + "' is not a property that can be set";
      else if ((hr == DISP_E_TYPEMISMATCH || hr == DISP_E_OVERFLOW) && badArg >= 0 &&
               badArg < static_cast<int>(call.args.size()))
        message = "'" + call.args[static_cast<size_t>(badArg)] + "' does not suit argument " +
                  std::to_string(badArg + 1) + " of '" + call.member + "'";
      return isUsageError(hr) ? badUsageBrief(ctx_, message) : failure(ctx_, message);
    }
    DispatchClient& caller = *target_;  // GetPart moves the target on; the log stays here
    const int status = printResult(call.member, result);
    if (status == 0) logSuccess(ctx_, caller, call.member);
    return status;
  }

 private:
  int printResult(const std::string& member, Variant& result) {
    VARIANT& v = *result.get();
    switch (v.vt) {
      case VT_EMPTY:
      case VT_NULL:
        return 0;
      case VT_I4:
        std::fprintf(ctx_.out, "%d\n", static_cast<int>(v.lVal));
        if (hasSuccessFlag(member) && v.lVal != 1)
          return memberFailed(ctx_, *target_, member, "it returned " + std::to_string(v.lVal));
        return 0;
      case VT_BSTR:
        printBstr(v.bstrVal, givesUtf8Text(member) ? CP_UTF8 : ansiCodePage());
        return 0;
      case VT_DISPATCH:
        if (v.pdispVal == nullptr) return memberFailed(ctx_, *target_, member, "no object");
        v.pdispVal->AddRef();
        parts_.emplace_back(v.pdispVal);
        target_ = &parts_.back();
        return 0;
      default:
        break;
    }
    std::string bytes;
    if (bytesFromArray(v, bytes)) {
      std::fwrite(bytes.data(), 1, bytes.size(), ctx_.out);
      return 0;
    }
    Variant text;
    if (SUCCEEDED(VariantChangeType(text.get(), result.get(), 0, VT_BSTR))) {
      printText(bytesFromBstr((*text).bstrVal, ansiCodePage()));
      return 0;
    }
    return failure(ctx_, member + " gave a value of type " + std::to_string(v.vt));
  }

  // A long result (GetMime of a large message) is converted and written a piece at a time,
  // so printing it costs a piece of memory rather than a copy of the message. Pieces never
  // split a surrogate pair; code pages that keep a shift state across characters (ISO-2022,
  // HZ, UTF-7: 50000-59999 and 65000) are converted whole, as a piece would reset the state.
  void printBstr(BSTR s, int32_t codePage) {
    constexpr UINT kPieceUnits = 1 << 20;
    const UINT units = s != nullptr ? SysStringLen(s) : 0;
    const bool stateful = codePage == 65000 || (codePage >= 50000 && codePage <= 59999);
    if (units <= kPieceUnits || stateful) {
      printText(bytesFromBstr(s, codePage));
      return;
    }
    DataBuffer piece;  // converted into and written from, one piece after another
    unsigned char last = '\0';
    for (UINT at = 0; at < units;) {
      UINT n = units - at < kPieceUnits ? units - at : kPieceUnits;
      if (at + n < units && s[at + n - 1] >= 0xD800 && s[at + n - 1] <= 0xDBFF) --n;
      piece.setSize(0);
      convertCodePage(CP_UTF16LE, codePage, s + at, n * 2, piece);
      std::fwrite(piece.getData(), 1, piece.getSize(), ctx_.out);
      if (piece.getSize() > 0) last = piece.getData()[piece.getSize() - 1];
      at += n;
    }
    if (last != '\n') std::fputc('\n', ctx_.out);
  }

  void printText(const std::string& bytes) {
    std::fwrite(bytes.data(), 1, bytes.size(), ctx_.out);
    if (bytes.empty() || bytes.back() != '\n') std::fputc('\n', ctx_.out);
  }

  CommandContext& ctx_;
  DispatchClient* target_;
  std::deque<DispatchClient> parts_;  // the parts handed out so far, kept alive
};

}  // namespace

int runCall(int argc, char** argv, FILE* out, FILE* err) {
  CommandContext ctx{"call", kCallUsage, out, err};
  // Options only before FILE: everything after it belongs to the calls.
  int i = 2;
  for (; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kCallUsage, out);
      return 0;
    }
    if (arg == "--log")
      ctx.log = true;
    else if (arg.size() > 1 && arg[0] == '-' && arg != "-new")
      return badUsage(ctx, "unknown option '" + arg + "'");
    else
      break;
  }
  if (i >= argc) return badUsage(ctx, "expected FILE and a member");
  const std::string file = argv[i];
  std::vector<MemberCall> calls;
  if (!parseCalls(std::vector<std::string>(argv + i + 1, argv + argc), calls))
    return badUsage(ctx, "expected a member in every call");
  if (file != "-new" && !checkPath(ctx, file)) return 2;

  DispatchClient mime(nullptr);
  if (file != "-new") {
    if (const int status = openMessage(ctx, file, "LoadMimeFile", mime); status != 0) return status;
  } else {
    std::string error;
    mime = DispatchClient::createMime(error, ctx.err);
    if (!mime.valid()) return failure(ctx, error);
  }
  CallRunner runner(ctx, mime);
  for (const MemberCall& call : calls)
    if (const int status = runner.run(call); status != 0) return status;
  return 0;
}
