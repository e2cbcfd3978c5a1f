#include "mime/MimeParser.h"

#include <strings.h>

#include <cstring>
#include <initializer_list>

#include "foundation/LogBase.h"
#include "foundation/ProgressMonitor.h"
#include "foundation/StringBuffer.h"
#include "mime/MimeMessage2.h"

namespace {

constexpr const char* kPlaceholderBody = "(multipart MIME message)";

struct ParseContext {
  LogBase& log;
  // The text being loaded when the tree keeps it: leaf bodies that lie in it stay windows.
  LoadedText* loaded = nullptr;
  bool nestingLogged = false;
  // Progress is told as offsets into the text given to loadEntity. Positions are measured in
  // the text being read now; a part read from a line-end-repaired copy maps them back through
  // where the copy stands in the loaded text and how much longer or shorter it is.
  ProgressMonitor* progress = nullptr;
  const char* origin = nullptr;
  double originOffset = 0;
  double scale = 1.0;

  void reportAt(const char* p) {
    if (progress == nullptr) return;
    bool abort = false;
    progress->setProgress(static_cast<int64_t>(originOffset + (p - origin) * scale), abort);
  }
};

// Measures positions in a repaired copy for as long as its part is being read.
class CopyMapping {
 public:
  CopyMapping(ParseContext& ctx, const char* input, uint32_t inputSize, const char* copy,
              uint32_t copySize)
      : ctx_(ctx), origin_(ctx.origin), offset_(ctx.originOffset), scale_(ctx.scale) {
    if (ctx.progress == nullptr || copy == input) return;
    ctx.originOffset = offset_ + (input - origin_) * scale_;
    ctx.origin = copy;
    if (copySize > 0) ctx.scale = scale_ * inputSize / copySize;
  }
  ~CopyMapping() {
    ctx_.origin = origin_;
    ctx_.originOffset = offset_;
    ctx_.scale = scale_;
  }
  CopyMapping(const CopyMapping&) = delete;
  CopyMapping& operator=(const CopyMapping&) = delete;

 private:
  ParseContext& ctx_;
  const char* origin_;
  double offset_;
  double scale_;
};

// A stretch of the message text. Parts are parsed in place as spans of their parent's text,
// so nesting costs no copies of the text.
struct Span {
  const char* p;
  uint32_t n;
  // The text lies in a repaired copy the parser made itself, so a nested part may repair
  // its own stretch of it in place instead of copying it again.
  bool writable = false;
  explicit Span(const StringBuffer& s, bool inCopy = false)
      : p(s.getString()), n(s.getSize()), writable(inCopy) {}
  Span(const char* text, uint32_t size, bool inCopy = false) : p(text), n(size), writable(inCopy) {}
};

// Index of `needle` in text[from, n), or -1.
int64_t find(Span text, const char* needle, uint32_t from = 0) {
  const size_t len = std::strlen(needle);
  if (from > text.n) return -1;
  if (len == 0 || len > 4) {
    const void* hit = memmem(text.p + from, text.n - from, needle, len);
    return hit == nullptr ? -1 : static_cast<const char*>(hit) - text.p;
  }
  // The line-end needles ("\r\n\r\n" and kin) meet a partial match on every line of a
  // message, where memmem's general search is several times slower than this one; at four
  // bytes a needle costs at most four comparisons a byte whatever the text.
  const char* end = text.p + text.n;
  for (const char* p = text.p + from; end - p >= static_cast<ptrdiff_t>(len); ++p) {
    p = static_cast<const char*>(std::memchr(p, needle[0], end - p - len + 1));
    if (p == nullptr) return -1;
    if (std::memcmp(p, needle, len) == 0) return p - text.p;
  }
  return -1;
}

bool holds(Span text, const char* needle) { return find(text, needle) >= 0; }

// The line ends of a text whose line ends carry extra CRs ("\r\r\n", "\r\r\r\n"): every
// "\r\r\r\n" and then every "\r\r\n" made "\r\n". Within a run of k CRs that ends in a LF
// the two passes leave one CR for k up to 4 and k - 3 CRs beyond; CRs before anything else
// stay. Written over the text itself: the result is never longer. Returns its length.
uint32_t collapseCrRuns(char* p, uint32_t n) {
  uint32_t w = 0;
  for (uint32_t r = 0; r < n;) {
    const auto* cr = static_cast<const char*>(std::memchr(p + r, '\r', n - r));
    const uint32_t plain = cr == nullptr ? n - r : static_cast<uint32_t>(cr - (p + r));
    if (w != r) std::memmove(p + w, p + r, plain);
    w += plain;
    r += plain;
    if (r == n) break;
    uint32_t k = 0;
    while (r + k < n && p[r + k] == '\r') ++k;
    const bool endsLine = r + k < n && p[r + k] == '\n';
    const uint32_t kept = !endsLine ? k : k >= 4 ? k - 3 : 1;
    std::memset(p + w, '\r', kept);
    w += kept;
    r += k;
  }
  return w;
}

// Whether the text, repaired as collapseCrRuns does, holds "\r\n\r\n": a CRLF followed by
// a run of one to four CRs and a LF.
bool collapsedHoldsSeparator(Span text) {
  for (int64_t at = find(text, "\r\n\r"); at >= 0;
       at = find(text, "\r\n\r", static_cast<uint32_t>(at + 1))) {
    uint32_t i = static_cast<uint32_t>(at + 2), k = 0;
    while (i < text.n && text.p[i] == '\r' && k < 5) ++i, ++k;
    if (k <= 4 && i < text.n && text.p[i] == '\n') return true;
  }
  return false;
}

// The position of the first separator of the three kinds, with its length.
int64_t findLooseSeparator(Span text, uint32_t* length) {
  for (const char* sep : {"\r\n\r\n", "\n\n", "\r\r"}) {
    const int64_t at = find(text, sep);
    if (at >= 0) {
      *length = static_cast<uint32_t>(std::strlen(sep));
      return at;
    }
  }
  return -1;
}

void loadEntityAt(MimeMessage2& entity, Span input, ParseContext& ctx, int32_t depth);

// A boundary is held without the "--" that puts it on a delimiter line; a delimiter line
// ends in CRLF, and the CRLF before the dashes belongs to the delimiter, not to the part.
constexpr uint32_t kDashesLength = 2;
constexpr uint32_t kCrlfLength = 2;

// The body of an entity that has no parts: kept as a window on the loaded text when it lies
// in it. A body that begins with <x-html> is HTML whatever the header says.
void setLeafBody(MimeMessage2& entity, Span text, ParseContext& ctx) {
  if (ctx.loaded != nullptr && ctx.loaded->holds(text.p, text.n))
    entity.setBodyWindow(ctx.loaded, entity.encoding().getString(), text.p, text.n,
                         entity.charset());
  else
    entity.setBodyEncoded(entity.encoding().getString(), text.p, text.n, entity.charset());
  const char* p = text.p;
  const char* end = text.p + text.n;
  while (p < end && (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n')) ++p;
  if (end - p >= 8 && strncasecmp(p, "<x-html>", 8) == 0 &&
      !entity.contentType().equalsIgnoreCase("text/html")) {
    ContentTypeValue html;
    html.type.setString("text/html");
    entity.setContentTypeValue(html);
  }
}

void keepTooDeep(MimeMessage2& entity, Span text, ParseContext& ctx) {
  if (!ctx.nestingLogged) {
    ctx.log.logError("MIME parts nested too deeply; the innermost content is kept undecoded");
    ctx.log.logDataLong("max_nesting", kMaxMimeNesting);
    ctx.nestingLogged = true;
  }
  Charset none;
  entity.setBodyRaw(text.p, text.n, none);
}

// A multipart body without a single delimiter line holds one part made of its header, if
// it has one, and a placeholder body in place of parts that cannot be found.
void appendUndelimitedPart(MimeMessage2& entity, Span text) {
  auto* part = new MimeMessage2();
  uint32_t sepLen = 0;
  const int64_t sep = findLooseSeparator(text, &sepLen);
  if (sep >= 0) {
    if (sep > 0) {
      part->header().loadFromText(text.p, text.n);
      part->deriveAllAttributes();
    }
    Charset none;
    part->setBodyRaw(kPlaceholderBody, static_cast<uint32_t>(std::strlen(kPlaceholderBody)), none);
  } else {
    part->header().loadFromText(text.p, text.n);
    part->deriveAllAttributes();
  }
  entity.appendPart(part);
}

// Where the next boundary from `from` stands: that of a delimiter line, or failing one that
// of the close delimiter (`*isClose` then set); -1 when there is neither.
int64_t findNextBoundary(Span text, const StringBuffer& delimiterLine,
                         const StringBuffer& closeDelimiter, uint32_t from, bool* isClose) {
  const int64_t next = find(text, delimiterLine.getString(), from);
  if (next >= 0) return next;
  *isClose = true;
  return find(text, closeDelimiter.getString(), from);
}

// The part between the boundary that ends at `boundaryEnd` and the dashes that start at
// `dashesAt`: what lies between the CRLF that ends the delimiter line and the CRLF before
// the dashes. False when the stretch holds nothing more than those two.
bool partBetween(Span text, uint32_t boundaryEnd, int64_t dashesAt, Span* part) {
  const int64_t stretch = dashesAt - boundaryEnd;
  if (stretch <= 2 * kCrlfLength) return false;
  *part = Span(text.p + boundaryEnd + kCrlfLength, static_cast<uint32_t>(stretch - 2 * kCrlfLength),
               text.writable);
  return true;
}

// `keepExact`: the part keeps its text as it stands in the message, for verification.
MimeMessage2* readPart(Span partText, ParseContext& ctx, int32_t depth, bool keepExact) {
  ctx.reportAt(partText.p);
  auto* part = new MimeMessage2();
  // Taken before the part is read: reading may repair its text in place.
  StringBuffer exact;
  if (keepExact) exact.appendN(partText.p, partText.n);
  loadEntityAt(*part, partText, ctx, depth + 1);
  if (keepExact) part->rawText().appendSb(exact);
  return part;
}

// Reads the parts from the first delimiter line on, whose boundary starts at `first`.
void splitParts(MimeMessage2& entity, Span text, const StringBuffer& delimiterLine, int64_t first,
                ParseContext& ctx, int32_t depth) {
  const uint32_t boundaryLength = delimiterLine.getSize() - kCrlfLength;
  StringBuffer closeDelimiter(entity.boundary().getString());
  closeDelimiter.append("--");

  // A multipart/signed keeps its content part's exact text for verification: the first
  // part's, or the second's when a signature part comes first (some senders order them so).
  const bool isSigned = entity.isMultipartSigned();
  int32_t partIndex = 0;
  bool signatureFirst = false;
  uint32_t boundaryEnd = static_cast<uint32_t>(first + boundaryLength);
  for (;;) {
    bool isClose = false;
    const int64_t next =
        findNextBoundary(text, delimiterLine, closeDelimiter, boundaryEnd, &isClose);
    // Without a further boundary the part runs to the end of the text.
    const int64_t dashesAt = next >= 0 ? next - kDashesLength : static_cast<int64_t>(text.n);
    Span partText(nullptr, 0);
    if (partBetween(text, boundaryEnd, dashesAt, &partText)) {
      const bool keepExact = isSigned && (partIndex == 0 || (partIndex == 1 && signatureFirst));
      MimeMessage2* part = readPart(partText, ctx, depth, keepExact);
      if (partIndex == 0) signatureFirst = part->isSignaturePart();
      ++partIndex;
      entity.appendPart(part);
    }
    if (isClose || next < 0) return;
    boundaryEnd = static_cast<uint32_t>(next + boundaryLength);
  }
}

void parseBodyAt(MimeMessage2& entity, Span text, ParseContext& ctx, int32_t depth) {
  if (text.n == 0) return;
  if (!entity.isMultipart() || entity.boundary().isEmpty()) {
    setLeafBody(entity, text, ctx);
    return;
  }
  if (depth >= kMaxMimeNesting) {
    keepTooDeep(entity, text, ctx);
    return;
  }
  StringBuffer delimiterLine(entity.boundary().getString());
  delimiterLine.append("\r\n");
  const int64_t first = find(text, delimiterLine.getString());
  if (first < 0) {
    appendUndelimitedPart(entity, text);
    return;
  }
  splitParts(entity, text, delimiterLine, first, ctx, depth);
}

void loadEntityAt(MimeMessage2& entity, Span input, ParseContext& ctx, int32_t depth) {
  entity.clear();
  // The separator is looked for in the text as it is, then in the text with its line ends
  // repaired. A repair is made only where it changes the text, and in place where the text
  // is already a copy of the parser's own: a part nested a hundred deep would otherwise
  // keep a hundred copies of the message alive at once.
  Span text = input;
  StringBuffer copy;
  auto repaired = [&copy, input]() {
    copy.clear();
    copy.appendN(input.p, input.n);
    return &copy;
  };
  int64_t sep = find(input, "\r\n\r\n");
  if (sep < 0 && holds(input, "\n\n")) {
    StringBuffer* c = repaired();
    c->removeChar('\r');
    c->toCRLF();
    text = Span(*c, true);
    sep = find(text, "\r\n\r\n");
  }
  // Without "\r\r" in the text the CR-run repair changes nothing and the CR repair below
  // does not apply; the CR-run repair is kept when it finds the separator or when the CR
  // repair does not apply.
  const bool doubledCr = holds(input, "\r\r");
  if (sep < 0 && doubledCr && collapsedHoldsSeparator(input)) {
    if (input.writable) {
      char* p = const_cast<char*>(input.p);
      text = Span(p, collapseCrRuns(p, input.n), true);
    } else {
      copy.clear();
      char* p = copy.appendPointer(input.n);
      std::memcpy(p, input.p, input.n);
      copy.addLength(collapseCrRuns(p, input.n));
      text = Span(copy, true);
    }
    sep = find(text, "\r\n\r\n");
  } else if (sep < 0 && doubledCr) {
    StringBuffer* c = repaired();
    c->replaceAll("\r", "\r\n");
    text = Span(*c, true);
    sep = find(text, "\r\n\r\n");
  }
  const CopyMapping mapping(ctx, input.p, input.n, text.p, text.n);

  if (sep >= 0) {
    // A text that begins with a line end begins with a blank line: its header is empty and
    // everything after that line is body. Taking the first CRLF CRLF instead would read the
    // body's first paragraph as a header and lose it (parts with an empty header look so).
    if (sep > 0 && text.n >= 2 && text.p[0] == '\r' && text.p[1] == '\n') {
      parseBodyAt(entity, Span(text.p + 2, text.n - 2, text.writable), ctx, depth);
      return;
    }
    if (sep > 0) {
      entity.header().loadFromText(text.p, text.n);
      entity.deriveAllAttributes();
    }
    parseBodyAt(entity,
                Span(text.p + sep + 4, static_cast<uint32_t>(text.n - sep - 4), text.writable), ctx,
                depth);
    return;
  }
  if (text.n >= 2 && text.p[0] == '\r' && text.p[1] == '\n') {
    StringBuffer fixed("content-type: text/plain");
    entity.header().loadFromText(fixed);
    entity.deriveAllAttributes();
    Charset none;
    entity.setBodyRaw(text.p, text.n, none);
    return;
  }
  entity.header().loadFromText(text.p, text.n);
  entity.deriveAllAttributes();
}

void loadWith(MimeMessage2& entity, Span text, ParseContext& ctx, ProgressMonitor* progress) {
  if (progress != nullptr) {
    progress->reset(text.n);
    ctx.progress = progress;
    ctx.origin = text.p;
  }
  loadEntityAt(entity, text, ctx, 0);
  if (progress != nullptr) progress->finish();
}

}  // namespace

void loadEntity(MimeMessage2& entity, const StringBuffer& text, LogBase* log,
                ProgressMonitor* progress) {
  ParseContext ctx{logOrNull(log)};
  loadWith(entity, Span(text), ctx, progress);
}

void loadEntityTaking(MimeMessage2& entity, StringBuffer& text, LogBase* log,
                      ProgressMonitor* progress) {
  auto* loaded = new LoadedText(text);
  loaded->addRef();
  ParseContext ctx{logOrNull(log)};
  ctx.loaded = loaded;
  loadWith(entity, Span(loaded->data(), loaded->size()), ctx, progress);
  loaded->release();
}

void parseBody(MimeMessage2& entity, const StringBuffer& body, LogBase* log) {
  ParseContext ctx{logOrNull(log)};
  parseBodyAt(entity, Span(body), ctx, 0);
}
