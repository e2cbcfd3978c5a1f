#include <gtest/gtest.h>

#include <string>

#include "foundation/StringBuffer.h"
#include "log/Logger.h"

namespace {

struct Renderings {
  std::string text, xml, html, summary;
};

// Every form of the log; the summary last, as it is the one that sums up pending errors.
Renderings render(Logger& log) {
  StringBuffer t, x, h, s;
  log.getErrorText(t);
  log.getErrorXml(x);
  log.getErrorHtml(h);
  log.getErrorSummary(s);
  return {t.getString(), x.getString(), h.getString(), s.getString()};
}

}  // namespace

TEST(LogRendering, FailedGetPartExample) {
  Logger log;
  log.clearLog();
  log.enterContext("GetPart", true);
  log.logError("Failed to get MIME message part");
  log.logDataLong("num_parts", 3);
  log.logDataLong("requested_part_index", 5);
  log.leaveContext();

  const Renderings r = render(log);
  EXPECT_EQ(r.text,
            "Failed to get MIME message part\r\n"
            "num_parts: 3\r\n"
            "requested_part_index: 5\r\n");
  EXPECT_EQ(r.xml,
            "<VorlundLog>\n"
            "<GetPart>\n"
            "    <error>Failed to get MIME message part</error>\n"
            "    <num_parts>3</num_parts>\n"
            "    <requested_part_index>5</requested_part_index>\n"
            "</GetPart>\n"
            "</VorlundLog>\n");
  EXPECT_EQ(r.html,
            "Failed to get MIME message part<br>"
            "num_parts: 3<br>"
            "requested_part_index: 5<br>");
  EXPECT_EQ(r.summary,
            "(GetPart)\nFailed to get MIME message part\nnum_parts: 3\nrequested_part_index: 5");
}

TEST(LogRendering, MultiLineMessagesBecomeContinuations) {
  Logger log;
  log.enterContext("Ctx", true);
  log.logError("a\r\nb\r\n\r\nc");
  log.leaveContext();
  const Renderings r = render(log);
  EXPECT_EQ(r.text, "a\r\n  b\r\n  c\r\n");
  EXPECT_EQ(r.xml,
            "<VorlundLog>\n<Ctx>\n    <error><![CDATA[a\n  b\n  c]]></error>\n</Ctx>\n"
            "</VorlundLog>\n");
  EXPECT_EQ(r.summary, "(Ctx)\na\n      b\n      c");
}

TEST(LogRendering, EscapingWrappingAndFragments) {
  Logger log;
  log.enterContext("Esc", true);
  log.logInfo("a < b & \"c\"");
  log.logData("tabbed", "x\ty");
  log.logData("plain", "ok");
  log.logData("both", "<![CDATA[inner]]>");
  log.logXml("<raw attr=\"1\"/>");
  log.logDebug("hidden from text");
  log.leaveContext();
  const Renderings r = render(log);
  EXPECT_EQ(r.xml,
            "<VorlundLog>\n"
            "<Esc>\n"
            "    <info><![CDATA[a < b & \"c\"]]></info>\n"
            "    <tabbed><![CDATA[x\ty]]></tabbed>\n"
            "    <plain>ok</plain>\n"
            "    <both>&lt;![CDATA[inner]]&gt;</both>\n"
            "<raw attr=\"1\"/>\n"
            "    <debug>hidden from text</debug>\n"
            "</Esc>\n"
            "</VorlundLog>\n");
  EXPECT_EQ(r.html,
            "a &lt; b &amp; &quot;c&quot;<br>tabbed: x\ty<br>plain: ok<br>"
            "both: &lt;![CDATA[inner]]&gt;<br>__xml__: &lt;raw attr=&quot;1&quot;/&gt;<br>");
  EXPECT_EQ(r.text,
            "a < b & \"c\"\r\ntabbed: x\ty\r\nplain: ok\r\nboth: <![CDATA[inner]]>\r\n"
            "__xml__: <raw attr=\"1\"/>\r\n");
}

TEST(LogRendering, NestingAndUnbalancedContexts) {
  Logger log;
  log.enterContext("Outer", true);
  log.enterContext("Inner", true);
  log.logInfo("deep");
  log.leaveContext();
  log.enterContext("Empty", true);
  log.leaveContext();  // left no trace
  log.enterContext("Open", true);
  log.logInfo("never closed");
  Renderings r = render(log);
  EXPECT_EQ(r.xml,
            "<VorlundLog>\n"
            "<Outer>\n"
            "    <Inner>\n"
            "        <info>deep</info>\n"
            "    </Inner>\n"
            "    <Open>\n"
            "        <info>never closed</info>\n"
            "</Open>\n"
            "</Outer>\n"
            "</VorlundLog>\n");

  Logger stray;
  stray.logInfo("m");
  stray.leaveContext();  // no open context: the end is recorded and skipped
  EXPECT_EQ(render(stray).xml, "<VorlundLog>\n<info>m</info>\n</VorlundLog>\n");
}

TEST(LogRendering, ErrorSummaryOnlyForFlaggedContexts) {
  Logger log;
  log.enterContext("Quiet", false);
  log.logError("e1");
  log.leaveContext();
  StringBuffer summary;
  log.getErrorSummary(summary);
  EXPECT_STREQ(summary.getString(), "");  // a context entered without the flag is not summed up

  // The error is still pending, so the next flagged context that closes sums it up.
  log.enterContext("Outer", true);
  log.logInfo("i");
  log.leaveContext();
  summary.clear();
  log.getErrorSummary(summary);
  EXPECT_STREQ(summary.getString(), "(Outer)");  // information is not part of it
}
