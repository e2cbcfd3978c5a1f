// The tolerant XML reader of the XML form. It knows elements, attributes, character data,
// CDATA sections, comments, the XML declaration, processing instructions and a document
// type declaration, and decodes only the five predefined entities: nothing is fetched and
// no DTD content is expanded (the DTD is only kept as prolog text). Every step moves the
// cursor forward, so the work is linear in the text; open elements are bounded, so neither
// the tree nor anything that walks it can be made arbitrarily deep.
#include <cstring>
#include <memory>

#include "foundation/LogBase.h"
#include "foundation/ParseEngine.h"
#include "foundation/ProgressMonitor.h"
#include "foundation/StringBuffer.h"
#include "mime/TreeNode.h"
#include "mime/XmlForm.h"

namespace {

// Far beyond what the XML form of any entity tree needs (three elements per nesting level
// of the MIME parser's own bound), and small enough that recursive walks stay cheap.
constexpr int32_t kMaxXmlNesting = 1000;
// Bytes consumed between progress reports.
constexpr int32_t kProgressStep = 64 * 1024;

constexpr char kCdataOpen[] = "<![CDATA[";
constexpr uint32_t kCdataOpenLen = sizeof kCdataOpen - 1;

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool startsWith(const char* p, uint32_t n, const char* s, uint32_t m) {
  return n >= m && std::memcmp(p, s, m) == 0;
}

// Appends the bytes with "&lt;", "&apos;", "&gt;", "&quot;" and "&amp;" replaced. One pass
// gives what replacing them one after the other in that order gives: no replacement byte
// can be part of an entity, so "&amp;lt;" becomes "&lt;" and is not read again.
void appendDecoded(StringBuffer& out, const char* p, uint32_t n) {
  const char* end = p + n;
  while (p < end) {
    const char* amp = static_cast<const char*>(std::memchr(p, '&', end - p));
    if (amp == nullptr) {
      out.appendN(p, end - p);
      return;
    }
    out.appendN(p, amp - p);
    const uint32_t left = static_cast<uint32_t>(end - amp);
    struct Entity {
      const char* text;
      uint32_t length;
      char byte;
    };
    static constexpr Entity kEntities[] = {{"&lt;", 4, '<'},
                                           {"&apos;", 6, '\''},
                                           {"&gt;", 4, '>'},
                                           {"&quot;", 6, '"'},
                                           {"&amp;", 5, '&'}};
    p = amp + 1;
    char byte = '&';
    for (const Entity& e : kEntities) {
      if (startsWith(amp, left, e.text, e.length)) {
        byte = e.byte;
        p = amp + e.length;
        break;
      }
    }
    out.appendChar(byte);
  }
}

class XmlReader {
 public:
  XmlReader(const StringBuffer& text, LogBase* log, ProgressMonitor* progress)
      : log_(logOrNull(log)), progress_(progress) {
    engine_.setText(text.getString(), text.getSize());
  }
  XmlReader(const XmlReader&) = delete;
  XmlReader& operator=(const XmlReader&) = delete;
  ~XmlReader() {
    delete openRoot_;
    delete finished_;
  }

  TreeNode* run();

 private:
  enum class Step { kGoOn, kEnd, kRefuse };

  bool reportProgress();
  void readCharacterData();
  void readCdata();
  Step readMarkup();
  Step readBang();
  void readDoctype();
  void readProcessingInstruction();
  void readDeclaration();
  Step readClosingTag();
  Step readStartTag();
  void readAttributes(TreeNode& node, bool declaration);
  void readAttributeValue(bool declaration, StringBuffer& value);
  void closeCurrent();
  TreeNode* result();

  void skipBlanks() { engine_.skipAnyOf4(' ', '\t', '\r', '\n'); }
  // The bytes from pos up to the first byte of `stops` (or the end), decoded.
  void captureDecoded(const char* stops, StringBuffer& out);

  ParseEngine engine_;
  LogBase& log_;
  ProgressMonitor* progress_;
  int32_t nextReport_ = 0;

  TreeNode* current_ = nullptr;   // the open element that content goes to
  TreeNode* openRoot_ = nullptr;  // root of the tree still being built (owned)
  TreeNode* finished_ = nullptr;  // the last root that was closed (owned)
  int32_t depth_ = 0;             // open elements
  std::unique_ptr<TreeNode> declaration_;
  std::unique_ptr<StringBuffer> prolog_;
  StringBuffer scratch_;
};

TreeNode* XmlReader::run() {
  const int64_t total = engine_.text().getSize();
  if (progress_ != nullptr) progress_->reset(total);
  while (!engine_.atEnd()) {
    if (!reportProgress()) return nullptr;
    readCharacterData();
    if (engine_.atEnd()) break;
    // The cursor stands on "<".
    if (startsWith(engine_.rest(), engine_.restSize(), kCdataOpen, kCdataOpenLen)) {
      readCdata();
      continue;
    }
    const Step step = readMarkup();
    if (step == Step::kRefuse) return nullptr;
    if (step == Step::kEnd) break;
  }
  if (progress_ != nullptr) {
    // The work is done by now; an abort asked for here has nothing left to stop.
    bool ignored = false;
    progress_->setProgress(total, ignored);
  }
  return result();
}

bool XmlReader::reportProgress() {
  if (progress_ == nullptr || engine_.pos() < nextReport_) return true;
  bool abort = false;
  progress_->setProgress(engine_.pos(), abort);
  nextReport_ = engine_.pos() + kProgressStep;
  if (!abort) return true;
  log_.logError("XML parsing aborted");
  log_.logDataLong("bytes_read", engine_.pos());
  return false;
}

void XmlReader::readCharacterData() {
  const char* p = engine_.rest();
  const uint32_t n = engine_.restSize();
  const char* lt = static_cast<const char*>(std::memchr(p, '<', n));
  const uint32_t length = lt == nullptr ? n : static_cast<uint32_t>(lt - p);
  engine_.setPos(engine_.pos() + static_cast<int32_t>(length));
  uint32_t begin = 0;
  uint32_t end = length;
  while (begin < end && isBlank(p[begin])) ++begin;
  while (end > begin && isBlank(p[end - 1])) --end;
  if (begin == end || current_ == nullptr) return;
  if (std::memchr(p + begin, '&', end - begin) == nullptr) {
    current_->addText(p + begin, end - begin);
    return;
  }
  scratch_.clear();
  appendDecoded(scratch_, p + begin, end - begin);
  current_->addText(scratch_.getString(), scratch_.getSize());
}

void XmlReader::readCdata() {
  engine_.setPos(engine_.pos() + static_cast<int32_t>(kCdataOpenLen));
  const char* p = engine_.rest();
  const uint32_t n = engine_.restSize();
  const char* close = static_cast<const char*>(memmem(p, n, "]]>", 3));
  // An unclosed section takes the rest of the text.
  const uint32_t length = close == nullptr ? n : static_cast<uint32_t>(close - p);
  if (current_ != nullptr) {
    current_->appendContent(p, length);
    current_->isCdata = true;
  }
  engine_.setPos(engine_.pos() + static_cast<int32_t>(close == nullptr ? n : length + 3));
}

XmlReader::Step XmlReader::readMarkup() {
  engine_.skipChar();  // "<"
  skipBlanks();
  // A "<" that only blanks follow starts nothing.
  if (engine_.atEnd()) return Step::kEnd;
  switch (engine_.current()) {
    case '!':
      return readBang();
    case '?':
      readProcessingInstruction();
      return Step::kGoOn;
    case '/':
      return readClosingTag();
    default:
      return readStartTag();
  }
}

XmlReader::Step XmlReader::readBang() {
  if (engine_.lookingAtNoCase("!--")) {
    if (!engine_.skipPastString("-->")) {
      log_.logError("Unclosed comment");
      return Step::kEnd;
    }
    return Step::kGoOn;
  }
  if (engine_.lookingAtNoCase("!DOCTYPE")) {
    readDoctype();
    return Step::kGoOn;
  }
  engine_.seekChar('>');
  engine_.skipChar();
  return Step::kGoOn;
}

void XmlReader::readDoctype() {
  // Nested declarations of an internal subset count their own "<" and ">". Nothing inside
  // is interpreted: entities declared there are never expanded and nothing is fetched.
  StringBuffer declaration;
  declaration.appendChar('<');
  if (!engine_.captureBalanced('<', '>', 1, declaration)) {
    // The scan has reached the end of the text, where nothing can balance it any more.
    log_.logError("Failed to parse DTD");
    return;
  }
  if (!prolog_) prolog_ = std::make_unique<StringBuffer>();
  prolog_->appendSb(declaration);
  prolog_->appendChar('\n');
}

void XmlReader::readProcessingInstruction() {
  const char after = engine_.text().charAt(static_cast<uint32_t>(engine_.pos()) + 4);
  if (engine_.lookingAtNoCase("?xml") && isBlank(after)) {
    readDeclaration();
    return;
  }
  StringBuffer instruction;
  instruction.appendChar('<');
  if (!engine_.captureThroughString("?>", instruction)) {
    // Unterminated: it runs to the end of the text.
    instruction.appendN(engine_.rest(), engine_.restSize());
    engine_.setPos(static_cast<int32_t>(engine_.text().getSize()));
  }
  if (!prolog_) prolog_ = std::make_unique<StringBuffer>();
  prolog_->appendSb(instruction);
  prolog_->appendChar('\n');
}

void XmlReader::readDeclaration() {
  engine_.skipChar();  // "?"
  StringBuffer name;
  engine_.captureToAnyOf(" \t\r\n/>", name);
  auto node = std::make_unique<TreeNode>();
  node->setTag(name.getString(), name.getSize());
  readAttributes(*node, true);
  declaration_ = std::move(node);
}

// Attributes up to and past the closing ">" of a start tag (closing the element when a "/"
// stands before the ">") or of the XML declaration (whose end is "?>").
void XmlReader::readAttributes(TreeNode& node, bool declaration) {
  const char* nameStops = declaration ? " \t\r\n=?>" : " \t\r\n=/>";
  const char endMark = declaration ? '?' : '/';
  StringBuffer name;
  StringBuffer value;
  while (true) {
    skipBlanks();
    if (engine_.atEnd()) return;
    const char c = engine_.current();
    if (c == '>') {
      engine_.skipChar();
      return;
    }
    if (c == endMark) {
      engine_.skipChar();
      skipBlanks();
      if (engine_.current() == '>') {
        engine_.skipChar();
        if (!declaration) closeCurrent();
        return;
      }
      continue;
    }
    name.clear();
    engine_.captureToAnyOf(nameStops, name);
    name.removeChar('"');
    name.removeChar('\'');
    name.removeChar('<');
    skipBlanks();
    value.clear();
    if (engine_.current() == '=') {
      engine_.skipChar();
      skipBlanks();
      readAttributeValue(declaration, value);
    }
    node.attributeSet().add(name.getString(), name.getSize(), value.getString(), value.getSize());
  }
}

void XmlReader::readAttributeValue(bool declaration, StringBuffer& value) {
  const char quote = engine_.current();
  if (quote == '"' || quote == '\'') {
    engine_.skipChar();
    // A declaration never spans lines; an element's value may.
    char stops[] = {quote, '\r', '\n', '\0'};
    if (!declaration) stops[1] = '\0';
    captureDecoded(stops, value);
    if (engine_.current() == quote) engine_.skipChar();
  } else if (declaration) {
    captureDecoded(" \t\r\n?>", value);
  } else {
    // Unquoted: up to the next quote of either kind, which ends it.
    captureDecoded("\"'", value);
    engine_.skipChar();
  }
}

void XmlReader::captureDecoded(const char* stops, StringBuffer& out) {
  scratch_.clear();
  engine_.captureToAnyOf(stops, scratch_);
  appendDecoded(out, scratch_.getString(), scratch_.getSize());
}

XmlReader::Step XmlReader::readClosingTag() {
  // The closing name is not compared with the open element: tolerant of wrong nesting.
  if (engine_.seekCharUnless('<', '>')) {
    if (engine_.atEnd()) return Step::kEnd;
    log_.logError("Error in closing tag");
    log_.logData("error_tag", current_ != nullptr ? current_->tag() : "");
  } else {
    engine_.skipChar();  // ">"
  }
  closeCurrent();
  return Step::kGoOn;
}

XmlReader::Step XmlReader::readStartTag() {
  if (depth_ >= kMaxXmlNesting) {
    log_.logError("XML nesting too deep");
    log_.logDataLong("max_depth", kMaxXmlNesting);
    return Step::kRefuse;
  }
  StringBuffer name;
  engine_.captureToAnyOf(" \t\r\n/>", name);
  name.removeChar('<');
  auto* node = new TreeNode();
  node->setTag(name.getString(), name.getSize());
  if (current_ != nullptr) {
    current_->appendChild(node);
  } else {
    node->makeRoot();
    openRoot_ = node;
  }
  current_ = node;
  ++depth_;
  readAttributes(*node, false);
  return Step::kGoOn;
}

void XmlReader::closeCurrent() {
  if (current_ == nullptr) return;
  TreeNode* closed = current_;
  current_ = closed->parent();
  --depth_;
  if (current_ != nullptr) return;
  // A second top-level element replaces the first.
  delete finished_;
  finished_ = closed;
  openRoot_ = nullptr;
}

TreeNode* XmlReader::result() {
  TreeNode* root = finished_;
  if (root != nullptr) {
    delete openRoot_;  // begun after the finished root and never closed
  } else {
    root = openRoot_;  // unclosed elements are closed up to their root
  }
  finished_ = openRoot_ = current_ = nullptr;
  if (root == nullptr) return nullptr;
  TreeInfo* info = root->info();
  info->declaration = std::move(declaration_);
  info->prolog = std::move(prolog_);
  return root;
}

}  // namespace

TreeNode* parseXml(const StringBuffer& text, LogBase* log, ProgressMonitor* progress) {
  XmlReader reader(text, log, progress);
  return reader.run();
}
