// The XML form through the Mime object: written from the entity, read back into it, from
// strings and from files.
#include <gtest/gtest.h>

#include "foundation/ProgressMonitor.h"
#include "tests/component/MimeTestSupport.h"
#include "tests/support/ProgressRecorder.h"
#include "tests/support/TempDir.h"

namespace {

std::string xmlOf(const MimeRef& m) { return str(m, &IVorlundMime::GetXml); }

long loadXml(const MimeRef& m, const std::string& xml) {
  LONG ok = -1;
  EXPECT_EQ(m->LoadXml(Bstr(xml), &ok), S_OK);
  return ok;
}

}  // namespace

TEST(XmlMembers, WrittenAndReadBack) {
  MimeRef m;
  ASSERT_EQ(loadMime(m, twoPartMessage()), 1);
  const std::string xml = xmlOf(m);
  EXPECT_EQ(xml.rfind("<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\n<mime_message>\n", 0), 0u);
  EXPECT_NE(xml.find("<subpart>"), std::string::npos);

  MimeRef back;
  ASSERT_EQ(loadXml(back, xml), 1);
  EXPECT_EQ(header(back, "subject"), "two parts");
  ASSERT_EQ(numParts(back), 2);
  EXPECT_EQ(bodyBytes(MimeRef(partOf(back, 1))), "<p>second</p>");
  EXPECT_EQ(errorXml(back), "");

  // Text without a mime_message element leaves the entity as it was; the flag is still 1.
  ASSERT_EQ(loadXml(back, "<other><x/></other>"), 1);
  EXPECT_EQ(numParts(back), 2);
  ASSERT_EQ(loadXml(back, "not xml at all <<<"), 1);
  EXPECT_EQ(header(back, "subject"), "two parts");

  // Loaded into a part object, the XML replaces that part only.
  MimeRef first(partOf(back, 0));
  MimeRef single;
  single->SetBodyFromPlainText(Bstr("from xml"));
  ASSERT_EQ(loadXml(first, xmlOf(single)), 1);
  EXPECT_EQ(bodyBytes(first), "from xml");
  EXPECT_EQ(numParts(back), 2);
  EXPECT_EQ(header(back, "subject"), "two parts");
}

TEST(XmlMembers, FilesAndProgress) {
  ProgressRecorder recorder;
  TempDir dir;
  MimeRef m;
  ASSERT_EQ(loadMime(m, twoPartMessage()), 1);
  ASSERT_EQ(withFile(m, &IVorlundMime::SaveXml, dir.file("m.xml")), 1);
  EXPECT_EQ(readWholeFile(dir.file("m.xml")), xmlOf(m));

  MimeRef back;
  ASSERT_TRUE(setLoadProgress(back.get(), &recorder));
  EXPECT_EQ(withFile(back, &IVorlundMime::LoadXmlFile, dir.file("m.xml")), 1);
  EXPECT_EQ(numParts(back), 2);
  EXPECT_EQ(recorder.seen.empty() ? -1 : recorder.seen.back(), 100);

  EXPECT_EQ(withFile(back, &IVorlundMime::LoadXmlFile, dir.file("none.xml")), 0);
  EXPECT_EQ(withFile(back, &IVorlundMime::SaveXml, dir.file("no/dir/m.xml")), 0);
  EXPECT_NE(errorText(back).find("Failed to write complete file"), std::string::npos);
}
