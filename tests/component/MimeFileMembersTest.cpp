// Members that read and write files: bodies and parts from files, MIME files, and the trace
// files of LoadMime and GetMime.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/FileApi.h"
#include "platform/PlatformRoot.h"
#include "tests/component/MimeTestSupport.h"
#include "tests/support/TempDir.h"

namespace {

long bodyFromFile(const MimeRef& m, const std::string& path) {
  return withFile(m, &IVorlundMime::SetBodyFromFile, path);
}

}  // namespace

TEST(FileMembers, BinaryFileByExtension) {
  TempDir dir;
  const std::string jpeg("\xFF\xD8\xFF\xE0\x00\x10JFIF", 10);
  // A backslash is an ordinary character of a file name here; the name after it is still
  // the one the entity gets.
  writeWholeFile(dir.file("sub\\photo.JPG"), jpeg);
  MimeRef m;
  ASSERT_EQ(bodyFromFile(m, dir.file("sub\\photo.JPG")), 1);
  EXPECT_EQ(contentType(m), "image/jpeg");
  EXPECT_EQ(encodingOf(m), "base64");
  EXPECT_EQ(str(m, &IVorlundMime::get_Disposition), "attachment");
  EXPECT_EQ(str(m, &IVorlundMime::get_Filename), "photo.JPG");
  EXPECT_EQ(bodyBytes(m), jpeg);

  const std::pair<const char*, const char*> names[] = {{"README", "application/octet-stream"},
                                                       {"archive.", "application/octet-stream"},
                                                       {"old.z", "application/x-compress"},
                                                       {"world.wrl", "x-world/x-vrml"}};
  for (const auto& [name, type] : names) {
    writeWholeFile(dir.file(name), "data");
    MimeRef e;
    put(e, &IVorlundMime::put_Disposition, "inline");
    ASSERT_EQ(bodyFromFile(e, dir.file(name)), 1) << name;
    EXPECT_EQ(contentType(e), type) << name;
    EXPECT_EQ(str(e, &IVorlundMime::get_Disposition), "inline") << "a disposition set stays";
  }
}

TEST(FileMembers, TextFileEncodingAndCharset) {
  TempDir dir;
  writeWholeFile(dir.file("notes.txt"), "plain\r\nascii ~\r\n");
  MimeRef m;
  ASSERT_EQ(bodyFromFile(m, dir.file("notes.txt")), 1);
  EXPECT_EQ(contentType(m), "text/plain");
  EXPECT_EQ(encodingOf(m), "7bit");
  EXPECT_EQ(charsetOf(m), "us-ascii");
  EXPECT_EQ(str(m, &IVorlundMime::get_Disposition), "") << "a text body is no attachment";
  writeWholeFile(dir.file("del.txt"), "one byte \x7F");
  ASSERT_EQ(bodyFromFile(m, dir.file("del.txt")), 1);
  EXPECT_EQ(encodingOf(m), "quoted-printable");

  // The bytes of a file whose charset nobody named are kept, on the wire and when saved.
  writeWholeFile(dir.file("latin.txt"), "caf\xE9\r\n");
  ASSERT_EQ(bodyFromFile(m, dir.file("latin.txt")), 1);
  EXPECT_NE(mimeOf(m).find("caf=E9"), std::string::npos);
  EXPECT_EQ(withFile(m, &IVorlundMime::SaveBody, dir.file("saved.txt")), 1);
  EXPECT_EQ(readWholeFile(dir.file("saved.txt")), "caf\xE9\r\n");

  writeWholeFile(dir.file("doc.xml"),
                 "<?XML version=\"1.0\" Encoding=\" ISO-8859-1\"?>\n<a>caf\xE9</a>");
  MimeRef x;
  ASSERT_EQ(bodyFromFile(x, dir.file("doc.xml")), 1);
  EXPECT_EQ(charsetOf(x), "iso-8859-1");
  EXPECT_NE(bodyBytes(x).find("caf\xC3\xA9"), std::string::npos) << "held in UTF-8";

  EXPECT_EQ(bodyFromFile(x, dir.file("missing.txt")), 0);
  EXPECT_EQ(contentType(x), "text/xml") << "a file not read changes nothing";
  EXPECT_NE(errorText(x).find("Failed to open file"), std::string::npos);
}

TEST(FileMembers, AppendPartFromFile) {
  TempDir dir;
  writeWholeFile(dir.file("a.txt"), "attached text");
  MimeRef m;
  m->SetBodyFromPlainText(Bstr("the message"));
  setHeader(m, "Subject", "with attachment");
  EXPECT_EQ(withFile(m, &IVorlundMime::AppendPartFromFile, dir.file("a.txt")), 1);
  ASSERT_EQ(numParts(m), 2);
  MimeRef first(partOf(m, 0));
  MimeRef attached(partOf(m, 1));
  EXPECT_EQ(header(first, "subject"), "with attachment");
  EXPECT_EQ(str(attached, &IVorlundMime::get_Disposition), "attachment");
  EXPECT_EQ(str(attached, &IVorlundMime::get_Filename), "a.txt");
  EXPECT_EQ(bodyBytes(attached), "attached text");

  // A missing file adds nothing, but a leaf has become a container all the same.
  MimeRef leaf;
  leaf->SetBodyFromPlainText(Bstr("alone"));
  EXPECT_EQ(withFile(leaf, &IVorlundMime::AppendPartFromFile, dir.file("nope.bin")), 0);
  EXPECT_EQ(numParts(leaf), 1);
  EXPECT_NE(errorText(leaf).find("Failed to open file"), std::string::npos);
}

TEST(FileMembers, MimeFilesRoundTripAndFailures) {
  TempDir dir;
  MimeRef m;
  ASSERT_EQ(loadMime(m, twoPartMessage()), 1);
  EXPECT_EQ(withFile(m, &IVorlundMime::SaveMime, dir.file("out.eml")), 1);
  EXPECT_EQ(readWholeFile(dir.file("out.eml")), mimeOf(m));
  MimeRef back;
  EXPECT_EQ(withFile(back, &IVorlundMime::LoadMimeFile, dir.file("out.eml")), 1);
  EXPECT_EQ(mimeOf(back), mimeOf(m));

  // Failures keep what the object held and say why in its log.
  EXPECT_EQ(withFile(back, &IVorlundMime::LoadMimeFile, dir.file("gone.eml")), 0);
  EXPECT_EQ(numParts(back), 2);
  EXPECT_NE(errorXml(back).find("Failed to open file"), std::string::npos);
  EXPECT_EQ(withFile(back, &IVorlundMime::SaveMime, dir.path()), 0);
  EXPECT_NE(errorText(back).find("Failed to write complete file"), std::string::npos);

  // A message of several megabytes goes to the file and into GetMime's string in pieces: the
  // same text, every body whole, and a disk that fills up after the first piece leaves the
  // old file.
  std::string big = "Content-Type: multipart/mixed; boundary=\"XX\"\r\n\r\n";
  for (int i = 0; i < 5; ++i)
    big +=
        "--XX\r\nContent-Type: text/plain; charset=iso-8859-1\r\n"
        "Content-Transfer-Encoding: quoted-printable\r\n\r\n" +
        std::string(700000, static_cast<char>('a' + i)) + "=E9\r\n";
  big += "--XX--\r\n";
  ASSERT_EQ(loadMime(m, big), 1);
  const std::string path = dir.file("out.eml");
  EXPECT_EQ(withFile(m, &IVorlundMime::SaveMime, path), 1);
  EXPECT_TRUE(readWholeFile(path) == mimeOf(m));
  MimeRef again;
  ASSERT_EQ(withFile(again, &IVorlundMime::LoadMimeFile, path), 1);
  ASSERT_EQ(numParts(again), 5);
  for (int i = 0; i < 5; ++i)
    EXPECT_TRUE(bodyBytes(MimeRef(partOf(again, i))) ==
                std::string(700000, static_cast<char>('a' + i)) + "\xC3\xA9");
  const std::string old = readWholeFile(path);
  simulateWriteLimit(path.c_str(), 1500000);
  EXPECT_EQ(withFile(m, &IVorlundMime::SaveMime, path), 0);
  EXPECT_NE(errorText(m).find("Failed to write complete file (1)"), std::string::npos);
  EXPECT_TRUE(readWholeFile(path) == old);
}

TEST(FileMembers, TraceFilesOnlyWhenTheirDirectoryExists) {
  const std::filesystem::path d = platformPath("d");
  struct Cleanup {
    std::filesystem::path d;
    ~Cleanup() { std::filesystem::remove_all(d); }
  } cleanup{d};
  MimeRef m;
  ASSERT_EQ(loadMime(m, "Subject: one\r\n\r\nbody"), 1);
  mimeOf(m);
  EXPECT_FALSE(std::filesystem::exists(d)) << "tracing never creates a directory";

  std::filesystem::create_directories(d);
  ASSERT_EQ(loadMime(m, "Subject: two\r\n\r\nbody"), 1);
  const std::string stars = "*************************\n";
  const std::string rule = stars + stars + stars;
  EXPECT_EQ(readWholeFile(platformPath("d/loadMime.txt")), rule + "Subject: two\r\n\r\nbody\n");

  std::filesystem::create_directories(d / "temp");
  ASSERT_EQ(loadMime(m, "Subject: three\r\n\r\nbody"), 1);
  ASSERT_EQ(loadMime(m, "Subject: four\r\n\r\nbody"), 1);
  EXPECT_EQ(readWholeFile(platformPath("d/temp/loadMime.txt")),
            rule + "Subject: three\r\n\r\nbody\n" + rule + "Subject: four\r\n\r\nbody\n");
  EXPECT_EQ(readWholeFile(platformPath("d/loadMime.txt")), rule + "Subject: two\r\n\r\nbody\n")
      << "only the first place that opens is written";
  const std::string written = mimeOf(m);
  const std::string dashes = "-------------------------\n";
  EXPECT_EQ(readWholeFile(platformPath("d/temp/getMime.txt")),
            dashes + dashes + dashes + written + "\n");
}
