#include "tests/cli/RunVormime.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

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

int runShell(const std::string& command, std::string& out) {
  FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) return -1;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  const int st = pclose(p);
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

}  // namespace

Result vormime(const std::string& args, const std::string& redirect) {
  Result r{-1, ""};
  r.status = runShell(std::string(VORMIME_PATH) + " " + args + " " + redirect, r.out);
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
  r.status = runShell("VORLUND_ACP=1252 " + std::string(VORMIME_PATH) + " " + args + " <" +
                          shellQuote(stdinPath.empty() ? "/dev/null" : stdinPath) + " 2>" +
                          shellQuote(errFile),
                      r.out);
  r.err = readWholeFile(errFile);
  return r;
}

MeasuredRun runVormimeMeasured(const std::vector<std::string>& args, const std::string& outPath) {
  std::vector<char*> argv{const_cast<char*>(VORMIME_PATH)};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&files, 1, outPath.empty() ? "/dev/null" : outPath.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&files, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, VORMIME_PATH, &files, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&files);
  if (spawned != 0) return {-1, 0};
  int st = 0;
  rusage usage{};
  if (wait4(pid, &st, 0, &usage) != pid) return {-1, 0};
  return {WIFEXITED(st) ? WEXITSTATUS(st) : -1, usage.ru_maxrss};
}
