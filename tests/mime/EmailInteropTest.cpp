// Round trip through our parser and serialiser, judged by Python's email package: the
// script builds messages, runs the round-trip tool on each and compares both parses. The
// second test goes through the XML form on the way, and has xml.etree read that too.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace {

std::string scriptPath() {
  std::string here = __FILE__;
  return here.substr(0, here.find_last_of('/') + 1) + "email_roundtrip.py";
}

void runScript(const std::string& mode) {
  std::string cmd = "python3 '" + scriptPath() + "' '" ROUNDTRIP_TOOL "'" + mode + " 2>&1";
  std::FILE* p = popen(cmd.c_str(), "r");
  ASSERT_NE(p, nullptr) << "cannot run: " << cmd;
  std::string output;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) output.append(buf, n);
  int status = pclose(p);
  ASSERT_TRUE(WIFEXITED(status)) << "script did not exit normally\n" << output;
  EXPECT_EQ(WEXITSTATUS(status), 0) << output;
}

TEST(EmailInterop, RoundTripMatchesPythonEmailParse) { runScript(""); }

TEST(EmailInterop, XmlFormRoundTripMatchesPythonEmailParse) { runScript(" --xml"); }

}  // namespace
