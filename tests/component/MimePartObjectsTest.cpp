// Part objects share their parent's tree; members that delete entities under them leave
// them detached, never pointing at freed memory (run under AddressSanitizer). Containers,
// appended parts and enclosed messages.
#include <gtest/gtest.h>

#include <vector>

#include "tests/component/MimeTestSupport.h"

namespace {

constexpr const char* kDetached = "This part was removed from its message";

// Every kind of member on a detached part: failure values, no crash, one clear error.
void expectDetached(const MimeRef& part) {
  EXPECT_EQ(numParts(part), 0);
  EXPECT_EQ(num(part, &IVorlundMime::get_NumHeaderFields), 0);
  EXPECT_EQ(num(part, &IVorlundMime::IsText), 0);
  EXPECT_EQ(contentType(part), "");
  part->put_ContentType(Bstr("text/plain"));
  EXPECT_EQ(contentType(part), "");
  EXPECT_EQ(bodyBytes(part), "");

  EXPECT_EQ(mimeOf(part), "");
  EXPECT_EQ(errorText(part), std::string(kDetached) + "\r\n");
  setHeader(part, "Subject", "lost");
  EXPECT_NE(errorXml(part).find("<AddHeaderField>\n    <error>"), std::string::npos);
  EXPECT_EQ(loadMime(part, "Subject: x\r\n\r\ny"), 0);
  EXPECT_EQ(partOf(part, 0), nullptr);
  EXPECT_EQ(errorText(part), std::string(kDetached) + "\r\n") << "one error per call";
  part->NewMultipartMixed();
  part->AppendPart(part.get());
  EXPECT_EQ(numParts(part), 0);
}

}  // namespace

TEST(PartObjects, ShareTheTreeAndOutliveTheirParent) {
  MimeRef parent;
  ASSERT_EQ(loadMime(parent, twoPartMessage()), 1);
  MimeRef part(partOf(parent, 1));
  ASSERT_TRUE(part);
  EXPECT_EQ(contentType(part), "text/html");
  EXPECT_EQ(bodyBytes(part), "<p>second</p>");
  setHeader(part, "X-Changed", "through the part");
  EXPECT_NE(mimeOf(parent).find("X-Changed: through the part"), std::string::npos);

  MimeRef sibling(partOf(parent, 0));
  parent.reset();  // the tree stays while a part object holds it
  EXPECT_EQ(header(part, "x-changed"), "through the part");
  part->SetBodyFromPlainText(Bstr("replaced"));
  EXPECT_EQ(bodyBytes(part), "replaced");
  EXPECT_EQ(contentType(sibling), "text/plain");
}

TEST(PartObjects, DetachedByRemovePartOnly) {
  MimeRef parent;
  ASSERT_EQ(loadMime(parent, twoPartMessage()), 1);
  MimeRef first(partOf(parent, 0));
  MimeRef second(partOf(parent, 1));
  ASSERT_EQ(parent->RemovePart(0), S_OK);
  EXPECT_EQ(numParts(parent), 1);
  expectDetached(first);
  EXPECT_EQ(bodyBytes(second), "<p>second</p>") << "a sibling is not affected";
}

TEST(PartObjects, DetachedWhenTheParentIsRebuilt) {
  // Each rebuild deletes the sub-parts; part objects made before must notice.
  const std::vector<void (*)(const MimeRef&)> rebuilds = {
      [](const MimeRef& p) { loadMime(p, "Subject: new\r\n\r\nbody"); },
      [](const MimeRef& p) { p->NewMultipartMixed(); },
      [](const MimeRef& p) {
        MimeRef other;
        other->SetBodyFromPlainText(Bstr("enclosed"));
        p->NewMessageRfc822(other.get());
      },
  };
  for (size_t i = 0; i < rebuilds.size(); ++i) {
    SCOPED_TRACE(i);
    MimeRef parent;
    ASSERT_EQ(loadMime(parent, twoPartMessage()), 1);
    MimeRef part(partOf(parent, 0));
    rebuilds[i](parent);
    expectDetached(part);
  }

  // A part object deeper down goes with its ancestor, whichever object is released first.
  MimeRef root;
  ASSERT_EQ(loadMime(root,
                     "Content-Type: multipart/mixed; boundary=\"O\"\r\n\r\n"
                     "--O\r\nContent-Type: multipart/alternative; boundary=\"I\"\r\n\r\n"
                     "--I\r\nContent-Type: text/plain\r\n\r\ninner\r\n--I--\r\n"
                     "\r\n--O--\r\n"),
            1);
  MimeRef middle(partOf(root, 0));
  MimeRef inner(partOf(middle, 0));
  EXPECT_EQ(bodyBytes(inner), "inner");
  root->RemovePart(0);
  middle.reset();
  root.reset();
  expectDetached(inner);
}

TEST(PartObjects, AppendPartCopiesTheOtherObject) {
  MimeRef m;
  setHeader(m, "Subject", "container");
  m->SetBodyFromPlainText(Bstr("original body"));
  MimeRef other;
  other->SetBodyFromPlainText(Bstr("appended body"));
  ASSERT_EQ(m->AppendPart(other.get()), S_OK);
  EXPECT_EQ(contentType(m), "multipart/mixed");
  EXPECT_EQ(header(m, "subject"), "") << "the leaf's header moved into its first part";
  ASSERT_EQ(numParts(m), 2);
  MimeRef first(partOf(m, 0));
  MimeRef copy(partOf(m, 1));
  EXPECT_EQ(header(first, "subject"), "container");
  EXPECT_EQ(bodyBytes(copy), "appended body");
  other->SetBodyFromPlainText(Bstr("changed later"));
  EXPECT_EQ(bodyBytes(copy), "appended body");

  // A container takes the part directly; an object can append itself and a part of itself.
  ASSERT_EQ(m->AppendPart(first.get()), S_OK);
  EXPECT_EQ(numParts(m), 3);
  ASSERT_EQ(m->AppendPart(m.get()), S_OK);
  ASSERT_EQ(numParts(m), 4);
  MimeRef self(partOf(m, 3));
  EXPECT_EQ(numParts(self), 3);
}

TEST(PartObjects, ContainersAndEnclosedMessages) {
  MimeRef m;
  const std::pair<HRESULT (IVorlundMime::*)(), const char*> kinds[] = {
      {&IVorlundMime::NewMultipartMixed, "_.MIX"},
      {&IVorlundMime::NewMultipartRelated, "_.REL"},
      {&IVorlundMime::NewMultipartAlternative, "_.ALT"}};
  std::string previous;
  for (const auto& [make, suffix] : kinds) {
    m->SetBodyFromPlainText(Bstr("gone"));
    ASSERT_EQ((m.get()->*make)(), S_OK);
    const std::string boundary = str(m, &IVorlundMime::get_Boundary);
    EXPECT_EQ(boundary.size(), 46u);
    EXPECT_EQ(boundary.substr(41), suffix);
    EXPECT_NE(boundary, previous) << "each container gets a new boundary";
    previous = boundary;
    EXPECT_EQ(num(m, &IVorlundMime::get_NumHeaderFields), 1);
  }
  EXPECT_EQ(num(m, &IVorlundMime::IsMultipartAlternative), 1);

  MimeRef inner;
  setHeader(inner, "Subject", "caf\xC3\xA9");
  inner->SetBodyFromPlainText(Bstr("inner"));
  ASSERT_EQ(m->NewMessageRfc822(inner.get()), S_OK);
  EXPECT_EQ(contentType(m), "message/rfc822");
  EXPECT_EQ(numParts(m), 0);
  const std::string body = bodyBytes(m);
  EXPECT_EQ(body, mimeOf(inner)) << "the other's text, in UTF-8, unconverted";
  EXPECT_NE(body.find("=?"), std::string::npos) << "its header written as MIME writes it";
  ASSERT_EQ(m->NewMessageRfc822(nullptr), S_OK);
  EXPECT_EQ(bodyBytes(m), body);
}
