#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "foundation/ParamString.h"
#include "foundation/ParseEngine.h"
#include "foundation/StringBuffer.h"

namespace {

std::string str(const StringBuffer& sb) { return std::string(sb.getString(), sb.getSize()); }

// The marked text, then each quoted string in brackets.
std::string lifted(const char* value) {
  ParamString ps;
  ps.parse("stale \"old\"");
  ps.parse(value);
  std::string r = str(ps.getMarked());
  for (int32_t n = 0; n < ps.getNumQuoted(); ++n) {
    r += '[';
    r += str(*ps.getQuoted(n));
    r += ']';
  }
  EXPECT_EQ(ps.getQuoted(ps.getNumQuoted()), nullptr);
  EXPECT_EQ(ps.getQuoted(-1), nullptr);
  return r;
}

// One step on a fresh cursor: what it captured, "|" when it returned true (else "!"), and
// the text left from pos on.
using Step = std::function<bool(ParseEngine&, StringBuffer&)>;
std::string run(const std::string& text, const Step& step, int32_t pos = 0) {
  ParseEngine p;
  p.setText(text.data(), static_cast<uint32_t>(text.size()));
  p.setPos(pos);
  StringBuffer out;
  const bool r = step(p, out);
  return str(out) + (r ? "|" : "!") + std::string(p.rest(), p.restSize());
}

Step skip(const char* s) {
  return [=](auto& p, auto&) { return p.skipChars(s), true; };
}
Step unless(char stop, char c) {
  return [=](auto& p, auto&) { return p.seekCharUnless(stop, c); };
}
Step toChar(char c) {
  return [=](auto& p, auto& o) { return p.captureToChar(c, o), true; };
}
Step toAny(const char* s) {
  return [=](auto& p, auto& o) { return p.captureToAnyOf(s, o), true; };
}
Step outside() {
  return [](auto& p, auto& o) { return p.captureToCharOutsideQuotes('>', o), true; };
}
Step seek(const char* s) {
  return [=](auto& p, auto&) { return p.seekString(s); };
}
Step through(const char* s) {
  return [=](auto& p, auto& o) { return p.captureThroughString(s, o); };
}
Step past(const char* s) {
  return [=](auto& p, auto&) { return p.skipPastString(s); };
}
Step balanced(int32_t d) {
  return [=](auto& p, auto& o) { return p.captureBalanced('<', '>', d, o); };
}

}  // namespace

TEST(ParamString, LiftsQuotedStrings) {
  EXPECT_EQ(lifted("text/plain; name=\"a; b=c\"; e=\"\""),
            "text/plain; name=<[[0]]>; e=<[[1]]>[a; b=c][]");
  // CR and LF end a quote and are dropped; a quote open at the end loses its text.
  EXPECT_EQ(lifted("a=\"x\r\nb=\"y\nc=\"tail"), "a=<[[0]]>\nb=<[[1]]>c=<[[[x][y]");
  EXPECT_EQ(lifted("'single' \""), "'single' <[[");
  EXPECT_EQ(lifted(nullptr), "");
}

TEST(ParamString, Restore) {
  ParamString ps;
  ps.parse("\"one\" \"two\" \"<[[0]]>\"");
  const auto restored = [&](const std::string& text, bool withQuotes) {
    StringBuffer sb(text.data(), static_cast<uint32_t>(text.size()), 0);
    ps.restore(sb, withQuotes);
    return str(sb);
  };
  EXPECT_EQ(restored("<[[1]]>=<[[0]]>,<[[1]]>", false), "two=one,two");
  EXPECT_EQ(restored("a=<[[1]]>;", true), "a=\"two\";");
  // Only exact markers of existing entries are replaced.
  EXPECT_EQ(restored("<[[3]]> <[[01]]> <[[1]> <[[", false), "<[[3]]> <[[01]]> <[[1]> <[[");
  // Text put back is not scanned again, so the quoted "<[[0]]>" survives as written.
  EXPECT_EQ(restored("<[[2]]>", true), "\"<[[0]]>\"");
  EXPECT_EQ(restored(std::string("<[[0]]>\0<[[1]]>", 15), false), std::string("one\0two", 7));
}

TEST(ParseEngine, SkipsSeeksAndCaptures) {
  EXPECT_EQ(run(" \t;x;", skip("; \t")), "|x;");
  EXPECT_EQ(run(std::string("  \0 a", 5), skip(" ")), std::string("|\0 a", 4));  // NUL: no member
  EXPECT_EQ(run("a<b>c", unless('<', '>')), "|<b>c");
  EXPECT_EQ(run("a<b>c", unless('<', '>'), 2), "!>c");
  EXPECT_EQ(run("name=value", toChar('=')), "name|=value");
  EXPECT_EQ(run(std::string("a\0b>c", 5), toChar('>')), std::string("a\0b|>c", 6));
  EXPECT_EQ(run("type/sub; x", toAny(" ;")), "type/sub|; x");
  EXPECT_EQ(run("a=\"x>y\" b='p\">q'>z", outside()), "a=\"x>y\" b='p\">q'|>z");
  // An open run falls back to the first '>' wherever it is.
}

TEST(ParseEngine, QuoteAwareCaptureAfterAFailedScan) {
  // The second scan starts outside a run where the failed first one stood inside one, so it
  // must still find the '>' behind the quoted one; in the second text a quote byte lies
  // between the two starts.
  const Step twice = [](ParseEngine& p, StringBuffer& o) {
    StringBuffer first;
    p.captureToCharOutsideQuotes('>', first);
    p.skipChar();
    p.captureToCharOutsideQuotes('>', o);
    return str(first) == std::string(p.text().getString(), 3);
  };
  EXPECT_EQ(run("x\"y>'q>'r>", twice), "'q>'r|>");
  EXPECT_EQ(run("p'q>\"s>\"t>", twice), "\"s>\"t|>");

  // Every '>' is quoted and every scan fails: scanning to the end each time would take hours.
  std::string hostile;
  for (int i = 0; i < 200000; ++i) hostile += "<m '>'";
  ParseEngine p;
  p.setText(hostile.c_str());
  StringBuffer out;
  int tags = 0;
  for (; p.seekString("<m"); ++tags) {
    out.clear();
    p.captureToCharOutsideQuotes('>', out);
    ASSERT_EQ(str(out), "<m '");
  }
  EXPECT_EQ(tags, 200000);
}

TEST(ParseEngine, StringSearchesAndBalance) {
  EXPECT_EQ(run("<html><META a>", seek("<meta")), "|<META a>");
  EXPECT_EQ(run("<html><META a>", seek("<metax")), "!<html><META a>");
  EXPECT_EQ(run("<META http-equiv>", through("HTTP-")), "<META http-|equiv>");
  EXPECT_EQ(run("a-->b-- END -->", past("-->")), "|b-- END -->");
  EXPECT_EQ(run("a<b<c>>d>e", balanced(0)), "|a<b<c>>d>e");
  EXPECT_EQ(run("a<b<c>>d>e", balanced(1)), "a<b<c>>d>|e");
  EXPECT_EQ(run("<<a>", balanced(1)), "<<a>!");
}

TEST(ParseEngine, DerivationHelpers) {
  ParseEngine p;
  p.setText("type/sub; charset = \"a b\"\t;  x = 1 2");
  p.setPos(9);
  p.removeSpacesAndTabsFromPos();
  EXPECT_EQ(str(p.text()), "type/sub;charset=\"ab\";x=12");
  EXPECT_TRUE(p.lookingAtNoCase("CHARSET="));

  p.setText("12]]> x 99999999999");
  EXPECT_EQ(p.readDecimal(), 12);
  EXPECT_EQ(p.current(), ']');
  p.setPos(6);
  EXPECT_EQ(p.readDecimal(), 0);
  EXPECT_EQ(p.current(), 'x');
  p.setPos(8);
  EXPECT_EQ(p.readDecimal(), INT32_MAX);
}
