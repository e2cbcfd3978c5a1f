// Runs the host program as a user would and checks what it prints and how it exits.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <sys/wait.h>

namespace {

struct Result {
  int status;
  std::string out;
};

Result vormime(const std::string& args) {
  const std::string command = std::string(VORMIME_PATH) + " " + args + " 2>/dev/null";
  FILE* p = popen(command.c_str(), "r");
  Result r{-1, ""};
  if (p == nullptr) return r;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  const int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

}  // namespace

TEST(Vormime, VersionUsageAndExitStatus) {
  Result r = vormime("--version");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "vormime 3.0.1\n");
  EXPECT_EQ(vormime("").status, 2);
  EXPECT_EQ(vormime("no-such-command").status, 2);
  EXPECT_EQ(vormime("log-demo extra").status, 2);
  r = vormime("--help");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("log-demo"), std::string::npos);
}

TEST(Vormime, LogDemoPrintsTheThreeRenderings) {
  const Result r = vormime("log-demo");
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "--- text ---\n"
            "Failed to get MIME message part\r\nnum_parts: 3\r\nrequested_part_index: 5\r\n"
            "--- xml ---\n"
            "<VorlundLog>\n<GetPart>\n    <error>Failed to get MIME message part</error>\n"
            "    <num_parts>3</num_parts>\n    <requested_part_index>5</requested_part_index>\n"
            "</GetPart>\n</VorlundLog>\n"
            "--- html ---\n"
            "Failed to get MIME message part<br>num_parts: 3<br>requested_part_index: 5<br>\n");
}
