#include "tests/cli/RunVormime.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "tests/support/TempDir.h"

namespace {

// The message commands run against a registered module, as on a machine where vormime is
// set up; registration on first use has a test of its own, in a platform root of its own.
class RegisteredModule : public ::testing::Environment {
 public:
  void SetUp() override {
    ASSERT_EQ(vormime("register", ">/dev/null 2>&1").status, 0) << "vormime register failed";
  }
};
[[maybe_unused]] ::testing::Environment* const g_registered =
    ::testing::AddGlobalTestEnvironment(new RegisteredModule);

}  // namespace

Result vormime(const std::string& args, const std::string& redirect) {
  Result r{-1, ""};
  r.status = runCommand(std::string(VORMIME_PATH) + " " + args + " " + redirect, r.out);
  return r;
}

Result runShellCommand(const std::string& command) {
  Result r{-1, ""};
  r.status = runCommand(command, r.out);
  return r;
}

std::string shellQuote(const std::string& word) {
  std::string q = "'";
  for (const char c : word) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

CliRun runVormime(const std::string& args, const std::string& stdinPath) {
  TempDir dir;
  const std::string errFile = dir.file("stderr");
  CliRun r{-1, "", ""};
  r.status = runCommand("VORLUND_ACP=1252 " + std::string(VORMIME_PATH) + " " + args + " <" +
                            shellQuote(stdinPath.empty() ? "/dev/null" : stdinPath) + " 2>" +
                            shellQuote(errFile),
                        r.out);
  r.err = readWholeFile(errFile);
  return r;
}

MeasuredRun runVormimeMeasured(const std::vector<std::string>& args, const std::string& outPath) {
  // A process started from this one begins with this one's peak as its own: Linux carries
  // the peak of the memory a process leaves at exec over into the program it becomes. A
  // small Python process in between forks the program and reads its peak alone. Under
  // AddressSanitizer freed blocks wait in a quarantine of up to 256 MB, which would count as
  // the program's own; without it the peak is what the program holds.
  static const char* const kMeasure =
      "import os, sys\n"
      "out = sys.argv[1]\n"
      "pid = os.fork()\n"
      "if pid == 0:\n"
      "    os.dup2(os.open('/dev/null', os.O_RDONLY), 0)\n"
      "    os.dup2(os.open(out or '/dev/null', os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600), 1)\n"
      "    os.dup2(os.open('/dev/null', os.O_WRONLY), 2)\n"
      "    asan = os.environ.get('ASAN_OPTIONS', '')\n"
      "    os.environ['ASAN_OPTIONS'] = (asan + ':' if asan else '') + 'quarantine_size_mb=0'\n"
      "    os.execv(sys.argv[2], sys.argv[2:])\n"
      "_, status, usage = os.wait4(pid, 0)\n"
      "print(os.waitstatus_to_exitcode(status), usage.ru_maxrss)\n";
  std::string command = "python3 -c";
  for (const std::string& word : {std::string(kMeasure), outPath, std::string(VORMIME_PATH)})
    command.append(" ").append(shellQuote(word));
  for (const std::string& a : args) command.append(" ").append(shellQuote(a));
  std::string printed;
  if (runCommand(command, printed) != 0) return {-1, 0};
  MeasuredRun r{-1, 0};
  if (std::sscanf(printed.c_str(), "%d %ld", &r.status, &r.peakKiB) != 2) return {-1, 0};
  return r;
}
