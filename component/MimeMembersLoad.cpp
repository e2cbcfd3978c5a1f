// Loading and saving the entity as MIME text and as its XML form, from strings and files.
#include "component/CVorlundMime.h"
#include "component/MemberFrame.h"
#include "component/TraceFile.h"
#include "foundation/Conversion.h"
#include "foundation/FileAccess.h"
#include "foundation/ProgressMonitor.h"
#include "foundation/XString.h"
#include "mime/MimeMessage2.h"
#include "mime/MimeParser.h"
#include "mime/MimeWriter.h"
#include "mime/XmlForm.h"

namespace {

// Replaces the entity with the tree of the text's first "mime_message" element; without one
// the entity stays as it was.
void loadXmlInto(MimeMessage2& entity, const StringBuffer& xml, LogBase* log,
                 ProgressCallback* callback) {
  ProgressMonitor monitor(callback);
  MimeMessage2* built = loadXml(xml, log, callback != nullptr ? &monitor : nullptr);
  if (built == nullptr) return;
  entity.copyFrom(*built);
  delete built;
}

bool saveText(BSTR fileName, const StringBuffer& text, LogBase* log) {
  XString path;
  path.setFromBSTR(fileName);
  return writeFileUtf8(path.getUtf8(), text.getString(), text.getSize(), log);
}

class FileSink : public TextSink {
 public:
  explicit FileSink(FileInPieces& file) : file_(file) {}
  bool take(const char* text, uint32_t n) override { return file_.write(text, n); }

 private:
  FileInPieces& file_;
};

// GetMime's text, converted into its string and traced a piece at a time.
class StringSink : public TextSink {
 public:
  StringSink(BstrBuilder& text, TraceInPieces& trace) : text_(text), trace_(trace) {}
  bool take(const char* text, uint32_t n) override {
    trace_.append(text, n);
    text_.add(text, n);
    return true;
  }

 private:
  BstrBuilder& text_;
  TraceInPieces& trace_;
};

// The entity's text written to the file as it is made, where the file is written through one
// name form (the other form is a second attempt with the whole text); else made whole first.
bool saveMime(const MimeMessage2& entity, BSTR fileName, LogBase* log) {
  XString path;
  path.setFromBSTR(fileName);
  if (path.isEmpty() || !ansiFormOnly(path)) {
    StringBuffer out;
    writeEntire(entity, out);
    return saveText(fileName, out, log);
  }
  FileInPieces file(log);
  if (!file.open(path.getAnsi())) return false;
  FileSink sink(file);
  writeEntireTo(entity, sink);
  return file.close();
}

}  // namespace

HRESULT CVorlundMime::LoadMime(BSTR mimeMsg, LONG* success) {
  if (success == nullptr) return E_POINTER;
  *success = 0;
  MemberFrame frame(*this, "LoadMime");
  MimeMessage2* e = frame.entity();
  if (e == nullptr) return S_OK;
  StringBuffer text(mimeMsg);
  appendTrace("loadMime.txt", '*', text);
  loadEntityTaking(*e, text, &log_);
  *success = 1;
  return S_OK;
}

HRESULT CVorlundMime::LoadMimeFile(BSTR fileName, LONG* success) {
  if (success != nullptr) *success = 0;
  MemberFrame frame(*this, "LoadMimeFile");
  MimeMessage2* e = frame.entity();
  if (e == nullptr) return S_OK;
  XString path;
  path.setFromBSTR(fileName);
  StringBuffer text;
  if (!text.loadFile(path, &log_)) return S_OK;
  ProgressMonitor monitor(progress_);
  loadEntityTaking(*e, text, &log_, progress_ != nullptr ? &monitor : nullptr);
  if (success != nullptr) *success = 1;
  return S_OK;
}

HRESULT CVorlundMime::LoadXml(BSTR xml, LONG* success) {
  if (success == nullptr) return E_POINTER;
  *success = 0;
  MemberFrame frame(*this, "LoadXml");
  MimeMessage2* e = frame.entity();
  if (e == nullptr) return S_OK;
  StringBuffer text(xml);
  loadXmlInto(*e, text, &log_, progress_);
  *success = 1;
  return S_OK;
}

HRESULT CVorlundMime::LoadXmlFile(BSTR fileName, LONG* success) {
  if (success != nullptr) *success = 0;
  MemberFrame frame(*this, "LoadXmlFile");
  MimeMessage2* e = frame.entity();
  if (e == nullptr) return S_OK;
  XString path;
  path.setFromBSTR(fileName);
  StringBuffer text;
  if (!text.loadFile(path, &log_)) return S_OK;
  loadXmlInto(*e, text, &log_, progress_);
  if (success != nullptr) *success = 1;
  return S_OK;
}

HRESULT CVorlundMime::GetMime(BSTR* mime) {
  if (mime == nullptr) return E_POINTER;
  MemberFrame frame(*this, "GetMime");
  MimeMessage2* e = frame.entity();
  const int32_t codePage = ansiCodePage();
  if (e == nullptr || !BstrBuilder::cutsAtLineFeeds(codePage)) {
    StringBuffer out;
    if (e != nullptr) {
      writeEntire(*e, out);
      appendTrace("getMime.txt", '-', out);
    }
    *mime = bstrFromAnsi(out);
    return S_OK;
  }
  // The text goes into the string as it is written, never held whole beside it.
  BstrBuilder text(codePage);
  {
    TraceInPieces trace("getMime.txt", '-');
    StringSink sink(text, trace);
    writeEntireTo(*e, sink);
  }
  *mime = text.take();
  return S_OK;
}

HRESULT CVorlundMime::GetXml(BSTR* xml) {
  if (xml == nullptr) return E_POINTER;
  MemberFrame frame(*this, "GetXml");
  StringBuffer out;
  if (MimeMessage2* e = frame.entity()) writeXmlDocument(*e, out);
  *xml = bstrFromAnsi(out);
  return S_OK;
}

HRESULT CVorlundMime::SaveMime(BSTR fileName, LONG* success) {
  if (success == nullptr) return E_POINTER;
  *success = 0;
  MemberFrame frame(*this, "SaveMime");
  MimeMessage2* e = frame.entity();
  if (e == nullptr) return S_OK;
  *success = saveMime(*e, fileName, &log_) ? 1 : 0;
  return S_OK;
}

HRESULT CVorlundMime::SaveXml(BSTR fileName, LONG* success) {
  if (success == nullptr) return E_POINTER;
  *success = 0;
  MemberFrame frame(*this, "SaveXml");
  MimeMessage2* e = frame.entity();
  if (e == nullptr) return S_OK;
  StringBuffer out;
  writeXmlDocument(*e, out);
  *success = saveText(fileName, out, &log_) ? 1 : 0;
  return S_OK;
}
