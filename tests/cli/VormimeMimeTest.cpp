// The subcommands that drive a Mime object through IDispatch (show, xml, mime, extract,
// call), run as a user runs them on real files.
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "cli/DispatchClient.h"
#include "cli/JsonText.h"
#include "cli/SafeFileName.h"
#include "tests/cli/RunVormime.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;

namespace {

const std::string kSample = std::string(VORLUND_EXAMPLES_DIR) + "/sample.eml";

const char* const kSampleTree =
    "multipart/mixed  parts=6\n"
    "  multipart/alternative  parts=2\n"
    "    text/plain  charset=utf-8  encoding=quoted-printable  size=156\n"
    "    text/html  charset=utf-8  encoding=quoted-printable  size=222\n"
    "  image/png  encoding=base64  disposition=inline  filename=\"dot.png\"  size=169\n"
    "  text/plain  charset=utf-8  encoding=base64  disposition=attachment  "
    "filename=\"Preisliste März.txt\"  size=58\n"
    "  text/plain  charset=iso-8859-1  encoding=8bit  size=39\n"
    "  text/plain  charset=koi8-r  encoding=base64  size=48\n"
    "  message/rfc822  encoding=8bit  disposition=inline  size=320\n";

std::string q(const std::string& word) { return shellQuote(word); }

// Every regular file or link below `root`, as paths relative to it.
std::set<std::string> filesBelow(const std::string& root) {
  std::set<std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(root))
    if (!e.is_directory()) out.insert(fs::relative(e.path(), root).string());
  return out;
}

// A multipart/mixed whose parts carry the given Content-Disposition parameters, the body
// of part i being "body-i".
std::string messageWithDispositions(const std::vector<std::string>& dispositions) {
  std::string m = "Content-Type: multipart/mixed; boundary=\"=_b_42\"\r\n\r\n";
  for (size_t i = 0; i < dispositions.size(); ++i)
    m += "--=_b_42\r\nContent-Type: application/octet-stream\r\nContent-Disposition: " +
         dispositions[i] + "\r\n\r\nbody-" + std::to_string(i) + "\r\n";
  return m + "--=_b_42--\r\n";
}

// Runs vormime on a pseudo-terminal and returns everything it wrote there.
std::string runOnTerminal(const std::vector<std::string>& args) {
  int terminal = -1;
  const pid_t pid = forkpty(&terminal, nullptr, nullptr, nullptr);
  if (pid < 0) return "forkpty failed";
  if (pid == 0) {
    std::vector<char*> argv{const_cast<char*>(VORMIME_PATH)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(VORMIME_PATH, argv.data());
    _exit(127);
  }
  std::string out;
  char buf[4096];
  ssize_t n;
  while ((n = read(terminal, buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
  waitpid(pid, nullptr, 0);
  close(terminal);
  return out;
}

}  // namespace

TEST(VormimeShow, PrintsTheSampleTreeFromAFileAndFromStandardInput) {
  const CliRun r = runVormime("show " + q(kSample));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, kSampleTree);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(runVormime("show --log -", kSample).out, kSampleTree);

  // A name full of terminal controls is shown escaped, never raw.
  TempDir dir;
  writeWholeFile(dir.file("ctl.eml"),
                 messageWithDispositions({"attachment; filename=\"=?utf-8?Q?a=1B[2Jb=5Cc?=\""}));
  const CliRun ctl = runVormime("show " + q(dir.file("ctl.eml")));
  EXPECT_EQ(ctl.out,
            "multipart/mixed  parts=1\n"
            "  application/octet-stream  disposition=attachment  filename=\"a\\x1b[2Jb\\\\c\"  "
            "size=6\n");
}

// The JSON form read back by Python's json module: the sample's tree drawn from it as the
// text form draws it must be that form, line for line; the document must be one document,
// whether the message came from a file or standard input.
TEST(VormimeShow, JsonHoldsTheSameTreeAndStaysValidForHostileNames) {
  TempDir dir;
  const CliRun json = runVormime("show --json " + q(kSample));
  ASSERT_EQ(json.status, 0) << json.err;
  EXPECT_EQ(runVormime("show --json -", kSample).out, json.out);
  writeWholeFile(dir.file("sample.json"), json.out);
  const char* const kDrawTree = R"(
import json, sys
def draw(p, depth):
    words = [p["content_type"] or "-"]
    words += [k + "=" + p[k] for k in ("charset", "encoding", "disposition") if p[k]]
    if p["filename"]: words.append('filename="%s"' % p["filename"])
    elif p["name"]: words.append('name="%s"' % p["name"])
    leaf = p["size"] is not None
    words.append("size=%d" % p["size"] if leaf else "parts=%d" % len(p["parts"]))
    assert not (leaf and p["parts"])
    print("  " * depth + "  ".join(words))
    for child in p["parts"]: draw(child, depth + 1)
draw(json.load(open(sys.argv[1], encoding="utf-8")), 0)
)";
  const Result drawn =
      runShellCommand("python3 -c " + q(kDrawTree) + " " + q(dir.file("sample.json")));
  EXPECT_EQ(drawn.status, 0);
  EXPECT_EQ(drawn.out, kSampleTree);

  // Terminal controls, C1 controls, a line separator, a backslash, and bytes that are not
  // UTF-8 (read in the ANSI code page, as the object reads them).
  writeWholeFile(dir.file("hostile.eml"),
                 messageWithDispositions(
                     {"attachment; filename=\"=?utf-8?Q?s=01n=0Be=1B[2J=C2=9B=E2=80=A8=7F?=\"",
                      "attachment; filename=\"=?utf-8?Q?caf=E9_=FF=C3?=\"",
                      "attachment; filename=\"a'b\\c\""}));
  const CliRun hostile = runVormime("show --json " + q(dir.file("hostile.eml")));
  ASSERT_EQ(hostile.status, 0) << hostile.err;
  EXPECT_TRUE(isValidUtf8(hostile.out));
  EXPECT_NE(hostile.out.find(R"("filename": "s\u0001n\u000be\u001b[2J\u009b\u2028\u007f",)"),
            std::string::npos);
  EXPECT_NE(hostile.out.find(R"("filename": "café ÿÃ",)"), std::string::npos);
  writeWholeFile(dir.file("hostile.json"), hostile.out);
  const Result names = runShellCommand(
      "python3 -c 'import json,sys; d = json.load(open(sys.argv[1], encoding=\"utf-8\")); "
      "print(json.dumps([p[\"filename\"] for p in d[\"parts\"]]))' " +
      q(dir.file("hostile.json")));
  EXPECT_EQ(names.status, 0);
  EXPECT_EQ(names.out,
            "[\"s\\u0001n\\u000be\\u001b[2J\\u009b\\u2028\\u007f\", \"caf\\u00e9 \\u00ff\\u00c3\", "
            "\"a'b\\\\c\"]\n");

  // What no message reaches: a quote, and bytes that stay invalid in any reading.
  std::string out;
  appendJsonString(out, "\"\\\r\n\xC0\xAF\xF0\x9F\x98\x80\xE2\x82");
  EXPECT_EQ(out,
            "\"\\\"\\\\\\r\\n\xEF\xBF\xBD\xEF\xBF\xBD\xF0\x9F\x98\x80\xEF\xBF\xBD\xEF\xBF\xBD\"");
}

TEST(VormimeShow, ProgressOnlyOnATerminalAndOnlyForLargeInputs) {
  TempDir dir;
  const std::string big = dir.file("big.eml");
  std::string body;
  for (int i = 0; i < 70000; ++i)  // 5.4 MB of base64 lines
    body += "QUJDREVGR0hJSktMTU5PUFFSU1RVVldYWVphYmNkZWZnaGlqa2xtbm9wcXJzdHV2d3h5ejAxMjM0\r\n";
  writeWholeFile(big,
                 "Content-Type: multipart/mixed; boundary=\"=_big_1\"\r\n\r\n--=_big_1\r\n"
                 "Content-Type: application/octet-stream\r\n"
                 "Content-Transfer-Encoding: base64\r\n\r\n" +
                     body + "--=_big_1--\r\n");
  EXPECT_EQ(runVormime("show " + q(big)).err, "");
  // A result of millions of characters is printed a piece at a time, as the file holds it.
  const CliRun printed =
      runVormime("call " + q(big) + " SaveMime " + q(dir.file("saved.eml")) + " -- GetMime");
  EXPECT_TRUE(printed.out == "1\n" + readWholeFile(dir.file("saved.eml")));

  // The terminal turns each "\n" into "\r\n".
  const std::string shown = runOnTerminal({"show", big});
  const std::string line = "loading " + big + ": ";
  EXPECT_NE(shown.find("\r" + line), std::string::npos) << shown;
  EXPECT_NE(shown.find(line + "100%\r" + std::string(line.size() + 4, ' ') + "\r" +
                       "multipart/mixed  parts=1\r\n"),
            std::string::npos)
      << shown;
  EXPECT_EQ(runOnTerminal({"show", kSample}).find("loading"), std::string::npos);
}

TEST(VormimeXml, XmlThenMimeGivesBackTheSameTreeAndBodies) {
  TempDir dir;
  const CliRun xml = runVormime("xml -o " + q(dir.file("s.xml")) + " " + q(kSample));
  ASSERT_EQ(xml.status, 0) << xml.err;
  const std::string xmlText = readWholeFile(dir.file("s.xml"));
  EXPECT_EQ(xmlText.rfind("<?xml", 0), 0u);
  // Standard input and output carry the same bytes as the files.
  EXPECT_EQ(runVormime("xml -", kSample).out, xmlText);

  const CliRun mime = runVormime("mime -o - -", dir.file("s.xml"));
  ASSERT_EQ(mime.status, 0) << mime.err;
  writeWholeFile(dir.file("back.eml"), mime.out);
  EXPECT_EQ(runVormime("show " + q(dir.file("back.eml"))).out, kSampleTree);
  // The attachments decode to the same bytes before and after.
  for (const int part : {1, 2}) {
    const std::string get = " GetPart " + std::to_string(part) + " -- GetBodyBinary";
    const std::string before = runVormime("call " + q(kSample) + get).out;
    EXPECT_EQ(before.size(), part == 1 ? 169u : 58u);  // the bytes, written raw
    EXPECT_EQ(runVormime("call " + q(dir.file("back.eml")) + get).out, before);
  }
  // The committed sample XML gives the same tree.
  const CliRun committed = runVormime("mime -o " + q(dir.file("s.eml")) + " " +
                                      q(std::string(VORLUND_EXAMPLES_DIR) + "/sample.xml"));
  ASSERT_EQ(committed.status, 0) << committed.err;
  EXPECT_EQ(runVormime("show " + q(dir.file("s.eml"))).out, kSampleTree);
}

// The reader's reason reaches the user, not just the absence of a message.
TEST(VormimeXml, AnXmlDocumentWithoutAMessageIsAFailure) {
  TempDir dir;
  std::string deep;
  for (int i = 0; i < 5000; ++i) deep += "<a>";
  const std::pair<std::string, const char*> cases[] = {
      {"<?xml version=\"1.0\"?>\n<other><header/></other>\n", "no mime_message element"},
      {deep, "XML nesting too deep"}};
  for (const auto& [xml, reason] : cases) {
    writeWholeFile(dir.file("in.xml"), xml);
    const CliRun r = runVormime("mime " + q(dir.file("in.xml")));
    EXPECT_EQ(r.status, 1) << reason;
    EXPECT_EQ(r.out, "") << reason;
    EXPECT_NE(r.err.find(reason), std::string::npos) << r.err;
  }
}

TEST(VormimeExtract, HostileNamesStayInsideTheDirectory) {
  TempDir src, root;
  const std::string dir = root.file("a/b/out");  // missing: extract creates it
  writeWholeFile(src.file("hostile.eml"),
                 messageWithDispositions({
                     "attachment; filename=\"../../etc/x\"",                        // 0
                     "attachment; filename=\"/abs/vormime-test-y\"",                // 1
                     "attachment; filename=\"..\\\\..\\\\z\"",                      // 2
                     "attachment; filename=\"=?utf-8?Q?a=2F..=2Fb?=\"",             // 3
                     "attachment; filename=\"\"",                                   // 4
                     "attachment; filename=\"dup.txt\"",                            // 5
                     "attachment; filename=\"dup.txt\"",                            // 6
                     "attachment; filename=\"..\"",                                 // 7
                     "attachment; filename=\"=?utf-8?Q?=2E=2E=2E?=\"",              // 8
                     "attachment; filename=\"" + std::string(300, 'L') + ".txt\"",  // 9
                     "attachment; filename=\"sub/\"",                               // 10
                     "attachment; filename=\"=?utf-8?Q?c=01d=7Fe?=\"",              // 11
                     "inline",  // 12: not a file
                 }));
  const CliRun r = runVormime("extract " + q(src.file("hostile.eml")) + " " + q(dir));
  ASSERT_EQ(r.status, 0) << r.err;

  const std::set<std::string> expected = {
      "x",           "vormime-test-y", "z",          "b",          "part-5.bin",
      "dup.txt",     "dup-1.txt",      "part-8.bin", "part-9.bin", std::string(196, 'L') + ".txt",
      "part-11.bin", "c_d_e"};
  EXPECT_EQ(filesBelow(root.path()).size(), expected.size());  // nothing outside DIR
  EXPECT_EQ(filesBelow(dir), expected);
  EXPECT_FALSE(fs::exists("/abs/vormime-test-y"));
  std::set<std::string> printed;
  for (const std::string& line : piecesOf(r.out)) {
    ASSERT_EQ(line.rfind(dir + "/", 0), 0u) << line;
    printed.insert(line.substr(dir.size() + 1));
  }
  EXPECT_EQ(printed, expected);
  // Every body but the inline one landed, each once.
  std::multiset<std::string> bodies;
  for (const std::string& n : expected) bodies.insert(readWholeFile(dir + "/" + n));
  for (int i = 0; i < 12; ++i) EXPECT_EQ(bodies.count("body-" + std::to_string(i)), 1u) << i;

  // A second run never overwrites, nor follows a link planted in DIR.
  writeWholeFile(root.file("victim"), "keep");
  fs::create_symlink(root.file("victim"), dir + "/trap.txt");
  writeWholeFile(src.file("trap.eml"), messageWithDispositions({
                                           "attachment; filename=\"trap.txt\"",
                                           "attachment; filename=\"x\"",
                                       }));
  const CliRun again = runVormime("extract " + q(src.file("trap.eml")) + " " + q(dir + "/"));
  ASSERT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(again.out, dir + "/trap-1.txt\n" + dir + "/x-1\n");
  EXPECT_EQ(readWholeFile(root.file("victim")), "keep");
  EXPECT_EQ(readWholeFile(dir + "/x"), "body-0");
  EXPECT_EQ(readWholeFile(dir + "/x-1"), "body-1");
}

TEST(VormimeExtract, ReadsStandardInputAndRefusesAFileAsDirectory) {
  TempDir dir;
  const CliRun r = runVormime("extract - " + q(dir.file("out")), kSample);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, dir.file("out") + "/dot.png\n" + dir.file("out") + "/Preisliste März.txt\n");
  const std::string png = readWholeFile(dir.file("out/dot.png"));
  EXPECT_EQ(png.size(), 169u);
  EXPECT_EQ(png.rfind("\x89PNG\r\n\x1a\n", 0), 0u);
  EXPECT_EQ(readWholeFile(dir.file("out/Preisliste März.txt")),
            "Äpfel   12,50 €\r\nBirnen  14,00 €\r\n"
            "Quitten 19,90 €\r\n");

  writeWholeFile(dir.file("plain"), "x");
  const CliRun notDir = runVormime("extract " + q(kSample) + " " + q(dir.file("plain")));
  EXPECT_EQ(notDir.status, 1);
  EXPECT_NE(notDir.err.find("cannot create the directory"), std::string::npos) << notDir.err;
}

TEST(VormimeCall, ChainedCallsBuildAMessage) {
  TempDir dir;
  const CliRun r = runVormime("call -new SetBodyFromPlainText " + q("Grüße\r\n") +
                              " -- SetHeaderField Subject " + q("Grüße") +
                              " -- put:Disposition attachment -- put:Filename " + q("März.txt") +
                              " -- Filename -- IsPlainText -- NumParts -- SaveMime " +
                              q(dir.file("built.eml")) + " -- GetHeaderField subject -- GetMime");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string mime = readWholeFile(dir.file("built.eml"));
  // Strings reach each member in the form it reads: the UTF-8 subject is encoded once,
  // the ANSI file name comes back as it went in.
  EXPECT_NE(mime.find("Subject: =?utf-8?B?R3LDvMOfZQ==?=\r\n"), std::string::npos) << mime;
  EXPECT_NE(mime.find("\r\n\r\nGrüße\r\n"), std::string::npos) << mime;
  EXPECT_EQ(r.out, "März.txt\n1\n0\n1\nGrüße\n" + mime);
  EXPECT_EQ(runVormime("show " + q(dir.file("built.eml"))).out,
            "text/plain  charset=utf-8  disposition=attachment  filename=\"März.txt\"  "
            "size=9\n");
  // Parts and numbers of a loaded message.
  EXPECT_EQ(
      runVormime("call " + q(kSample) + " NumParts -- GetPart 0 -- GetPart 1 -- ContentType").out,
      "6\ntext/html\n");
}

// A body saved as a user saves it: straight into the pipe of standard output, and through a
// link to a file that is replaced, in its charset's bytes whatever the case of its type.
TEST(VormimeCall, SaveBodyIntoAPipeAndThroughALink) {
  TempDir dir;
  const std::string calls =
      "call -new put:ContentType Text/Plain -- put:Charset iso-8859-1 -- SetBodyFromEncoded "
      "base64 Y2Fm6Q== -- SaveBody ";
  CliRun r = runVormime(calls + "/dev/stdout");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, std::string("caf\xE9") + "1\n");

  writeWholeFile(dir.file("body.txt"), "an older and longer body");
  fs::create_symlink("body.txt", dir.file("link.txt"));
  r = runVormime(calls + q(dir.file("link.txt")));
  EXPECT_EQ(r.out, "1\n") << r.err;
  EXPECT_TRUE(fs::is_symlink(dir.file("link.txt")));
  EXPECT_EQ(readWholeFile(dir.file("body.txt")), "caf\xE9");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2);
}

TEST(VormimeCall, FailuresStopTheChainAndBadUsageIsTwo) {
  TempDir dir;
  CliRun r = runVormime("call -new GetPart 7 -- NumParts");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");  // NumParts did not run
  EXPECT_NE(r.err.find("Failed to get MIME message part"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("requested_part_index: 7"), std::string::npos) << r.err;

  r = runVormime("call -new SaveMime " + q(dir.file("no/such/dir/x.eml")) + " -- Version");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "0\n");
  EXPECT_NE(r.err.find("SaveMime failed"), std::string::npos) << r.err;

  r = runVormime("call -new NoSuchMember");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("no member named 'NoSuchMember'"), std::string::npos) << r.err;
  r = runVormime("call " + q(kSample) + " GetPart 0 -- GetPart x");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("'x' does not suit argument 1 of 'GetPart'"), std::string::npos) << r.err;
  EXPECT_EQ(runVormime("call -new put:ContentType").status, 2);  // value missing
  // Everything after FILE belongs to the calls, options included.
  r = runVormime("call -new SetBodyFromPlainText --log -- GetBodyDecoded");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "--log\n");
}

TEST(VormimeCommands, HelpBadUsageAndMissingFiles) {
  TempDir dir;
  for (const std::string command : {"show", "xml", "mime", "extract", "call"}) {
    EXPECT_EQ(runVormime(command + " --help").out.rfind("usage: vormime " + command + " ", 0), 0u)
        << command;
    EXPECT_EQ(runVormime(command).status, 2) << command;
    EXPECT_EQ(runVormime(command + " --bogus " + q(kSample)).status, 2) << command;

    const std::string missing = dir.file("missing.eml");
    const std::string args = command == "extract" ? q(missing) + " " + q(dir.file("out"))
                             : command == "call"  ? q(missing) + " NumParts"
                                                  : q(missing);
    const CliRun failed = runVormime(command + " " + args);
    EXPECT_EQ(failed.status, 1) << command;
    EXPECT_EQ(failed.out, "") << command;
    EXPECT_NE(failed.err.find("Failed to open file"), std::string::npos) << failed.err;
    EXPECT_NE(failed.err.find(missing), std::string::npos) << failed.err;
  }
  EXPECT_EQ(runVormime("extract " + q(kSample) + " -").status, 2);
  EXPECT_EQ(runVormime("show " + q("bad\xFFname")).status, 2);  // names travel as UTF-8
  EXPECT_FALSE(fs::exists(dir.file("out")));  // a failed load creates no directory
}

TEST(SafeFileName, LastComponentCutAtACharacterKeepingTheExtension) {
  EXPECT_EQ(safeFileName("a/b\\c.txt"), "c.txt");
  EXPECT_EQ(safeFileName(std::string("c\0d\x1b_\x7F", 6)), "c_d___");
  for (const char* bad : {"", ".", "..", "....", "dir/", "a\\", "  ", "x/ . "})
    EXPECT_EQ(safeFileName(bad), "") << bad;

  std::string wide(150, 'a');
  for (int i = 0; i < 40; ++i) wide += "ä";  // two bytes each
  const std::string cut = safeFileName(wide + ".pdf");
  EXPECT_LE(cut.size(), kMaxSafeNameBytes);
  EXPECT_EQ(cut.substr(cut.size() - 4), ".pdf");
  EXPECT_TRUE(isValidUtf8(cut));
  const std::string longExtension = safeFileName("n." + std::string(300, 'e'));
  EXPECT_EQ(longExtension, "n." + std::string(kMaxSafeNameBytes - 2, 'e'));

  // A name in the ANSI form becomes UTF-8; one already in UTF-8 stays.
  EXPECT_EQ(utf8FromAnsiOrUtf8("M\xE4rz"), "März");
  EXPECT_EQ(utf8FromAnsiOrUtf8("März"), "März");
  EXPECT_FALSE(isValidUtf8("\xC0\xAF"));  // overlong "/"

  TempDir dir;
  writeWholeFile(dir.file("on-disk.txt"), "");
  FileNamePicker picker(dir.path());
  EXPECT_EQ(picker.pick("on-disk.txt"), "on-disk-1.txt");
  EXPECT_EQ(picker.pick(".hidden"), ".hidden");
  EXPECT_EQ(picker.pick(".hidden"), ".hidden-1");
  // Repeats resume their numbering, still stepping over names found in the directory.
  writeWholeFile(dir.file("a-2.txt"), "");
  for (const char* expected : {"a.txt", "a-1.txt", "a-3.txt", "a-4.txt"})
    EXPECT_EQ(picker.pick("a.txt"), expected);
  EXPECT_EQ(picker.pick("a-1.txt"), "a-1-1.txt");
}
