// Runs the host program as a user would and checks what it prints and how it exits.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "cli/Commands.h"
#include "tests/cli/RunVormime.h"
#include "tests/support/TempDir.h"

namespace {

// The man page's source as it reads: hyphens, quotes and backslashes unescaped, font
// changes and zero-width marks dropped.
std::string manText(std::string source) {
  const std::pair<const char*, const char*> escapes[] = {{R"(\\f[BIRP]|\\[%&c])", ""},
                                                         {R"(\\-)", "-"},
                                                         {R"(\\\(dq)", "\""},
                                                         {R"(\\\(aq)", "'"},
                                                         {R"(\\e)", "\\"}};
  for (const auto& [escape, text] : escapes)
    source = std::regex_replace(source, std::regex(escape), text);
  return source;
}

// The man page cut into its sections and subsections by heading (".SH NAME", ".SS show");
// what comes before the first is "preamble".
std::map<std::string, std::string> manSections() {
  std::map<std::string, std::string> sections;
  std::string heading = "preamble", line;
  std::istringstream in(manText(readWholeFile(VORMIME_MAN_PAGE)));
  while (std::getline(in, line)) {
    if (line.rfind(".SH ", 0) == 0 || line.rfind(".SS ", 0) == 0) {
      heading = line;
      heading.erase(std::remove(heading.begin(), heading.end(), '"'), heading.end());
    }
    sections[heading] += line + "\n";
  }
  return sections;
}

// Group `group` of every match of `pattern` in `text`.
std::set<std::string> matches(const std::string& text, const std::string& pattern, int group) {
  std::set<std::string> out;
  const std::regex re(pattern);
  for (auto it = std::sregex_iterator(text.begin(), text.end(), re); it != std::sregex_iterator();
       ++it)
    out.insert((*it)[group]);
  return out;
}

// The options a text names: words of a dash or two and a letter, standing on their own.
std::set<std::string> optionsIn(const std::string& text) {
  return matches(text, R"((^|[\s\[(,])(--?[a-z][a-z-]*))", 2);
}

// The terms of a section's items (".TP" then ".B --log") that start with `lead`.
std::set<std::string> itemsIn(const std::string& section, const std::string& lead = "-") {
  return matches(section, R"(\.TP\n\.B[IR]? ()" + lead + R"([^ \n]*))", 1);
}

}  // namespace

TEST(Vormime, VersionUsageAndExitStatus) {
  Result r = vormime("--version");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "vormime 3.0.1\n");
  EXPECT_EQ(vormime("").status, 2);
  EXPECT_EQ(vormime("no-such-command").status, 2);
  EXPECT_EQ(vormime("show a.eml extra").status, 2);
  r = vormime("--help");
  EXPECT_EQ(r.status, 0);
  for (const char* command : {"show", "xml", "mime", "extract", "call", "sign", "encrypt", "verify",
                              "decrypt", "cert", "register", "unregister"})
    EXPECT_NE(r.out.find(std::string("  ") + command + " "), std::string::npos) << command;
}

TEST(Vormime, ConvertAgreesWithIconvAndReportsProblems) {
  TempDir dir;
  std::string all;
  for (int b = 0x20; b < 0x100; ++b)
    if (b != 0x81 && b != 0x8D && b != 0x8F && b != 0x90 && b != 0x9D) all += static_cast<char>(b);
  writeWholeFile(dir.file("in.txt"), all);
  Result ours = vormime("convert --from windows-1252 --to utf-8 " + dir.file("in.txt"));
  ASSERT_EQ(ours.status, 0);
  Result theirs = vormime("", "2>/dev/null; iconv -f CP1252 -t UTF-8 " + dir.file("in.txt"));
  EXPECT_EQ(ours.out, theirs.out);

  // Back through stdin, and into a file named after the input.
  writeWholeFile(dir.file("u.txt"), ours.out);
  Result back = vormime("convert --from UTF-8 --to Windows-1252 < " + dir.file("u.txt"));
  EXPECT_EQ(back.out, all);
  ASSERT_EQ(
      vormime("convert --from utf_8 --to x-ansi - " + dir.file("o.txt") + " < " + dir.file("u.txt"))
          .status,
      0);
  EXPECT_EQ(readWholeFile(dir.file("o.txt")), all);

  Result unknown = vormime("convert --from no-such-set --to utf-8 /dev/null", "2>&1");
  EXPECT_EQ(unknown.status, 1);
  EXPECT_NE(unknown.out.find("'no-such-set'"), std::string::npos);
  Result noConverter = vormime("convert --from gb18030 --to utf-8 /dev/null", "2>&1");
  EXPECT_EQ(noConverter.status, 1);
  EXPECT_NE(noConverter.out.find("has no converter"), std::string::npos);
  EXPECT_EQ(vormime("convert --to utf-8").status, 2);

  writeWholeFile(dir.file("euro.txt"),
                 "a\xE2\x82\xAC"
                 "b");
  Result dropped = vormime("convert --from utf-8 --to us-ascii " + dir.file("euro.txt"),
                           "2>" + dir.file("err.txt"));
  EXPECT_EQ(dropped.status, 0);
  EXPECT_EQ(dropped.out, "ab");
  EXPECT_NE(readWholeFile(dir.file("err.txt")).find("dropped"), std::string::npos);
}

TEST(Vormime, CharsetsListsNamesAndConverters) {
  Result r = vormime("charsets");
  ASSERT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("1252   windows-1252"), std::string::npos);
  EXPECT_NE(r.out.find("x-ansi"), std::string::npos);
  EXPECT_NE(r.out.find("54936"), std::string::npos);
  const size_t line = r.out.find("\n54936");
  ASSERT_NE(line, std::string::npos);
  EXPECT_NE(r.out.substr(line, 40).find(" no "), std::string::npos);
}

// What `--help` says and the man page describes must not drift apart: every command in the
// list has its subsection and every subsection a command; each command's options are in
// its subsection, and each option item there is in its --help; the settings, the exit
// statuses and the version are there too.
TEST(Vormime, ManPageDescribesWhatHelpSays) {
  const std::map<std::string, std::string> man = manSections();
  std::string all;
  for (const auto& [heading, text] : man) all += text;
  const Result top = vormime("--help");
  ASSERT_EQ(top.status, 0);

  const std::set<std::string> commands =
      matches(top.out.substr(top.out.find("commands:\n")), R"(\n  ([a-z][a-z-]*) )", 1);
  EXPECT_GE(commands.size(), 10u);
  std::string helps = top.out;
  for (const std::string& command : commands) {
    const Result help = vormime(command + " --help");
    EXPECT_EQ(help.status, 0) << command;
    helps += help.out;
    const auto section = man.find(".SS " + command);
    if (section == man.end()) {
      ADD_FAILURE() << "no subsection for " << command;
      continue;
    }
    const std::set<std::string> described = optionsIn(section->second);
    const std::set<std::string> helped = optionsIn(help.out);
    for (const std::string& option : helped)
      EXPECT_TRUE(described.count(option)) << command << " " << option << " not in the man page";
    for (const std::string& option : itemsIn(section->second))
      EXPECT_TRUE(helped.count(option)) << command << " " << option << " not in its --help";
  }
  for (const auto& [heading, text] : man) {
    if (heading.rfind(".SS ", 0) == 0) {
      EXPECT_TRUE(commands.count(heading.substr(4))) << heading << " is not a command";
    }
  }

  const std::set<std::string> described = optionsIn(all);
  for (const std::string& option : optionsIn(top.out))
    EXPECT_TRUE(described.count(option)) << option << " not in the man page";
  EXPECT_EQ(itemsIn(man.at(".SH OPTIONS")), (std::set<std::string>{"--help", "--version"}));

  const std::string environment = man.at(".SH ENVIRONMENT");
  const std::set<std::string> settings = matches(helps, R"(\bVOR[A-Z_]+)", 0);
  EXPECT_GE(settings.size(), 2u);  // VORLUND_ACP, VORMIME_MODULE
  for (const std::string& name : settings)
    EXPECT_NE(environment.find(".B " + name + "\n"), std::string::npos) << name;
  EXPECT_NE(top.out.find("Exit status: 0 success, 1 failure, 2 bad usage."), std::string::npos);
  EXPECT_EQ(itemsIn(man.at(".SH EXIT STATUS"), "[0-9]"), (std::set<std::string>{"0", "1", "2"}));
  EXPECT_NE(man.at("preamble").find("\"VorlundMime " + std::string(kVersionText) + "\""),
            std::string::npos);
}

// Rendered by groff with every warning on, the page must give none.
TEST(Vormime, ManPageRendersCleanly) {
  if (runShellCommand("command -v groff >/dev/null").status != 0)
    GTEST_SKIP() << "groff is not installed";
  const Result r =
      runShellCommand("groff -man -Tutf8 -ww -z " + shellQuote(VORMIME_MAN_PAGE) + " 2>&1");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
}
