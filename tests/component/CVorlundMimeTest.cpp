// The Mime object as a COM object, and the frame its members run in: what the log shows
// after each kind of member.
#include <gtest/gtest.h>

#include <vector>

#include "foundation/ProgressMonitor.h"
#include "tests/component/MimeTestSupport.h"
#include "tests/support/ProgressRecorder.h"
#include "tests/support/TempDir.h"

namespace {

const IID kOtherIid = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};

}  // namespace

TEST(MimeObject, InterfacesReferencesAndDispatch) {
  MimeRef m;
  void* unk = nullptr;
  void* disp = nullptr;
  ASSERT_EQ(m->QueryInterface(IID_IUnknown, &unk), S_OK);
  ASSERT_EQ(m->QueryInterface(IID_IDispatch, &disp), S_OK);
  EXPECT_EQ(unk, m.get());
  EXPECT_EQ(disp, m.get());
  EXPECT_EQ(m->Release(), 2u);
  EXPECT_EQ(m->Release(), 1u);
  void* none = reinterpret_cast<void*>(1);
  EXPECT_EQ(m->QueryInterface(kOtherIid, &none), E_NOINTERFACE);
  EXPECT_EQ(none, nullptr);
  none = reinterpret_cast<void*>(1);
  EXPECT_EQ(createVorlundMimeObject(kOtherIid, &none), E_NOINTERFACE);
  EXPECT_EQ(none, nullptr);  // and the object made for the request is freed (leak check)

  // A script host names no interface: any other is refused.
  OLECHAR name[] = u"LoadMime";
  LPOLESTR names[] = {name};
  DISPID id = 0;
  EXPECT_EQ(m->GetIDsOfNames(kOtherIid, names, 1, 0, &id), DISP_E_UNKNOWNINTERFACE);
  DISPPARAMS params = {nullptr, nullptr, 0, 0};
  EXPECT_EQ(m->Invoke(14, kOtherIid, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr),
            DISP_E_UNKNOWNINTERFACE);
}

TEST(MimeObject, DefaultsAndSettings) {
  MimeRef m;
  EXPECT_EQ(numParts(m), 0);
  EXPECT_EQ(mimeOf(m), "\r\n\r\n");
  EXPECT_EQ(errorText(m), "");
  EXPECT_EQ(str(m, &IVorlundMime::get_Version), "3.0.1");
  EXPECT_EQ(num(m, &IVorlundMime::get_UnwrapExtras), 1);
  for (LONG v : {2, 1, 0}) {
    m->put_UnwrapExtras(v);
    EXPECT_EQ(num(m, &IVorlundMime::get_UnwrapExtras), v == 1 ? 1 : 0) << v;
  }
  // Unwrapping an empty entity secures nothing: success, and its empty context leaves no log.
  LONG flag = 5;
  EXPECT_EQ(m->UnwrapSecurity(&flag), S_OK);
  EXPECT_EQ(flag, 1);
  EXPECT_EQ(errorXml(m), "");
  EXPECT_EQ(m->UnwrapSecurity(nullptr), S_OK);
}

TEST(MemberFrame, LogShowsTheLastFramedCallOnly) {
  MimeRef m;
  ASSERT_EQ(loadMime(m, twoPartMessage()), 1);
  EXPECT_EQ(partOf(m, -1), nullptr);
  EXPECT_EQ(errorText(m),
            "Failed to get MIME message part\r\nnum_parts: 2\r\nrequested_part_index: -1\r\n");
  EXPECT_EQ(partOf(m, 2), nullptr);
  EXPECT_EQ(errorXml(m),
            "<VorlundLog>\n<GetPart>\n    <error>Failed to get MIME message part</error>\n"
            "    <num_parts>2</num_parts>\n    <requested_part_index>2</requested_part_index>\n"
            "</GetPart>\n</VorlundLog>\n");
  EXPECT_EQ(str(m, &IVorlundMime::get_LastErrorHtml),
            "Failed to get MIME message part<br>num_parts: 2<br>requested_part_index: 2<br>");

  // Members that do not log leave it as it is.
  const std::string failed = errorXml(m);
  num(m, &IVorlundMime::IsMultipart);
  put(m, &IVorlundMime::put_Charset, "utf-8");
  contentType(m);
  EXPECT_EQ(errorXml(m), failed);

  // Framed members that log nothing leave an empty log, whichever way they return.
  EXPECT_EQ(m->RemovePart(3), S_OK);
  EXPECT_EQ(errorXml(m), "");

  EXPECT_EQ(m->AppendPart(nullptr), S_OK);
  EXPECT_EQ(errorXml(m),
            "<VorlundLog>\n<AppendPart>\n    <error>NULL parameter</error>\n"
            "</AppendPart>\n</VorlundLog>\n");
  EXPECT_EQ(numParts(m), 2);
  EXPECT_EQ(m->LoadMimeFile(nullptr, nullptr), S_OK) << "a null flag is tolerated";
}

TEST(MemberFrame, SaveLastErrorWritesTheLogAsItStands) {
  TempDir dir;
  MimeRef m;
  partOf(m, 4);
  EXPECT_EQ(withFile(m, &IVorlundMime::SaveLastError, dir.file("log.xml")), 1);
  const std::string declaration =
      "<?xml version=\"1.0\"  encoding=\"utf-8\" standalone=\"yes\" ?>\n";
  EXPECT_EQ(readWholeFile(dir.file("log.xml")).rfind(declaration + "<VorlundLog>\n<GetPart>\n", 0),
            0u);
  EXPECT_NE(errorText(m), "") << "saving neither clears nor adds";

  mimeOf(m);
  EXPECT_EQ(withFile(m, &IVorlundMime::SaveLastError, dir.file("log.xml")), 1);
  EXPECT_EQ(readWholeFile(dir.file("log.xml")),
            declaration + "<VorlundLog>The log is empty</VorlundLog>");
  EXPECT_EQ(withFile(m, &IVorlundMime::SaveLastError, dir.file("missing/log.xml")), 0);
}

TEST(MimeObject, LoadProgressReachesTheHost) {
  ProgressRecorder recorder;
  TempDir dir;
  std::string crlf = "Content-Type: multipart/mixed; boundary=\"B\"\r\n\r\n";
  for (int i = 0; i < 20; ++i)
    crlf += "--B\r\nContent-Type: text/plain\r\n\r\n" + std::string(999, 'a') + "\r\n";
  crlf += "--B--\r\n";
  std::string lf;
  for (char c : crlf)
    if (c != '\r') lf += c;

  MimeRef m;
  EXPECT_FALSE(setLoadProgress(nullptr, &recorder));
  ASSERT_TRUE(setLoadProgress(m.get(), &recorder));
  // LF text is read from a repaired copy; its offsets still map onto the file.
  for (const std::string* text : {&crlf, &lf}) {
    writeWholeFile(dir.file("big.eml"), *text);
    recorder.seen.clear();
    EXPECT_EQ(withFile(m, &IVorlundMime::LoadMimeFile, dir.file("big.eml")), 1);
    ASSERT_GE(recorder.seen.size(), 15u) << "told part by part";
    EXPECT_LT(recorder.seen[recorder.seen.size() - 2], 100);
    EXPECT_GE(recorder.seen[recorder.seen.size() - 2], 85);
    EXPECT_EQ(recorder.seen.back(), 100);
  }
  ASSERT_TRUE(setLoadProgress(m.get(), nullptr));
  recorder.seen.clear();
  withFile(m, &IVorlundMime::LoadMimeFile, dir.file("big.eml"));
  EXPECT_TRUE(recorder.seen.empty());
}
