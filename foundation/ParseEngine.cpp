#include "foundation/ParseEngine.h"

#include <climits>
#include <cstring>
#include <utility>

namespace {

inline unsigned char fold(char c) {
  const unsigned char u = static_cast<unsigned char>(c);
  return (u >= 'A' && u <= 'Z') ? static_cast<unsigned char>(u + 0x20) : u;
}

// Membership table of the bytes of a NUL-terminated set; the set's terminator is not a member,
// so a NUL inside the text never matches.
struct ByteSet {
  bool has[256] = {};
  explicit ByteSet(const char* set) {
    for (const char* p = set; *p != '\0'; ++p) has[static_cast<unsigned char>(*p)] = true;
  }
  bool operator()(char c) const { return has[static_cast<unsigned char>(c)]; }
};

}  // namespace

void ParseEngine::setText(const char* text) {
  setText(text, text == nullptr ? 0 : static_cast<uint32_t>(std::strlen(text)));
}

void ParseEngine::setText(const char* bytes, uint32_t n) {
  const char* own = text_.getString();
  if (bytes != nullptr && bytes >= own && bytes < own + text_.capacity()) {
    // A piece of this very text: copied aside before the text is emptied.
    StringBuffer copy(bytes, n, 0);
    text_.clear();
    text_.appendSb(copy);
  } else {
    text_.clear();
    text_.expectNumBytes(n);
    text_.appendN(bytes, n);
  }
  pos_ = 0;
  failedAt_ = -1;
}

void ParseEngine::setPos(int32_t pos) {
  const int32_t length = static_cast<int32_t>(text_.getSize());
  pos_ = pos < 0 ? 0 : (pos > length ? length : pos);
  // The remembered scans hold only for positions at or after where they were taken.
  if (pos_ < failedAt_) failedAt_ = -1;
}

void ParseEngine::skipChar() {
  if (!atEnd()) ++pos_;
}

void ParseEngine::skipChars(const char* set) {
  if (set == nullptr || *set == '\0') return;
  const ByteSet in(set);
  const char* d = text_.getString();
  const int32_t n = static_cast<int32_t>(text_.getSize());
  while (pos_ < n && in(d[pos_])) ++pos_;
}

void ParseEngine::skipAnyOf4(char a, char b, char c, char d) {
  const char* t = text_.getString();
  const int32_t n = static_cast<int32_t>(text_.getSize());
  while (pos_ < n) {
    const char x = t[pos_];
    if (x != a && x != b && x != c && x != d) break;
    ++pos_;
  }
}

void ParseEngine::seekChar(char c) {
  const char* d = text_.getString();
  const uint32_t n = text_.getSize();
  const void* hit = std::memchr(d + pos_, c, n - static_cast<uint32_t>(pos_));
  pos_ = hit == nullptr ? static_cast<int32_t>(n)
                        : static_cast<int32_t>(static_cast<const char*>(hit) - d);
}

bool ParseEngine::seekCharUnless(char stop, char c) {
  const char* d = text_.getString();
  const int32_t n = static_cast<int32_t>(text_.getSize());
  for (; pos_ < n; ++pos_) {
    if (d[pos_] == c) return false;
    if (d[pos_] == stop) return true;
  }
  return true;
}

void ParseEngine::captureToChar(char c, StringBuffer& out) {
  const int32_t start = pos_;
  seekChar(c);
  out.appendN(text_.getString() + start, pos_ - start);
}

void ParseEngine::captureToAnyOf(const char* set, StringBuffer& out) {
  if (set == nullptr || *set == '\0') return;
  const ByteSet in(set);
  const char* d = text_.getString();
  const int32_t n = static_cast<int32_t>(text_.getSize());
  const int32_t start = pos_;
  while (pos_ < n && !in(d[pos_])) ++pos_;
  out.appendN(d + start, pos_ - start);
}

char ParseEngine::nextQuoteState(char state, char byte) {
  if (state == 0) return (byte == '"' || byte == '\'') ? byte : 0;
  return byte == state ? 0 : state;
}

void ParseEngine::captureToCharOutsideQuotes(char c, StringBuffer& out) {
  const char* d = text_.getString();
  const int32_t n = static_cast<int32_t>(text_.getSize());

  // Bring the remembered failures forward to pos. A quote byte moves a scan between
  // "outside" and the run it opens or closes, so it swaps those two slots.
  if (failedAt_ >= 0 && failedFor_ == c) {
    for (int32_t i = failedAt_; i < pos_; ++i) {
      if (d[i] == '"')
        std::swap(failedIn_[0], failedIn_[1]);
      else if (d[i] == '\'')
        std::swap(failedIn_[0], failedIn_[2]);
    }
    failedAt_ = pos_;
    if (failedIn_[0]) {
      captureToChar(c, out);
      return;
    }
  } else {
    failedFor_ = c;
    failedAt_ = -1;
    failedIn_[0] = failedIn_[1] = failedIn_[2] = false;
  }

  char state = 0;
  for (int32_t i = pos_; i < n; ++i) {
    if (state == 0 && d[i] == c) {
      out.appendN(d + pos_, i - pos_);
      pos_ = i;
      return;
    }
    state = nextQuoteState(state, d[i]);
  }
  failedIn_[0] = true;
  failedAt_ = pos_;
  captureToChar(c, out);
}

namespace {

// Index of the first case-insensitive match of s (length m >= 1) in d[from, n), or -1.
int32_t findNoCase(const char* d, int32_t from, int32_t n, const char* s, int32_t m) {
  const unsigned char first = fold(s[0]);
  for (int32_t i = from; i + m <= n; ++i) {
    if (fold(d[i]) != first) continue;
    int32_t k = 1;
    while (k < m && fold(d[i + k]) == fold(s[k])) ++k;
    if (k == m) return i;
  }
  return -1;
}

}  // namespace

bool ParseEngine::seekString(const char* s) {
  if (s == nullptr || *s == '\0') return false;
  const int32_t at = findNoCase(text_.getString(), pos_, static_cast<int32_t>(text_.getSize()), s,
                                static_cast<int32_t>(std::strlen(s)));
  if (at < 0) return false;
  pos_ = at;
  return true;
}

bool ParseEngine::captureThroughString(const char* s, StringBuffer& out) {
  if (s == nullptr || *s == '\0') return false;
  const int32_t m = static_cast<int32_t>(std::strlen(s));
  const char* d = text_.getString();
  const int32_t at = findNoCase(d, pos_, static_cast<int32_t>(text_.getSize()), s, m);
  if (at < 0) return false;
  out.appendN(d + pos_, at + m - pos_);
  pos_ = at + m;
  return true;
}

bool ParseEngine::skipPastString(const char* s) {
  if (s == nullptr || *s == '\0') return false;
  const size_t m = std::strlen(s);
  const char* d = text_.getString();
  const void* hit = memmem(d + pos_, text_.getSize() - static_cast<uint32_t>(pos_), s, m);
  if (hit == nullptr) return false;
  pos_ = static_cast<int32_t>(static_cast<const char*>(hit) - d + m);
  return true;
}

bool ParseEngine::captureBalanced(char open, char close, int32_t depth, StringBuffer& out) {
  if (depth == 0) return true;
  const char* d = text_.getString();
  const int32_t n = static_cast<int32_t>(text_.getSize());
  const int32_t start = pos_;
  bool balanced = false;
  while (pos_ < n) {
    const char b = d[pos_++];
    if (b == close)
      --depth;
    else if (b == open)
      ++depth;
    if (depth == 0) {
      balanced = true;
      break;
    }
  }
  out.appendN(d + start, pos_ - start);
  return balanced;
}

bool ParseEngine::lookingAtNoCase(const char* s) const {
  if (s == nullptr) return false;
  const char* d = rest();
  const uint32_t n = restSize();
  uint32_t k = 0;
  for (; s[k] != '\0'; ++k)
    if (k >= n || fold(d[k]) != fold(s[k])) return false;
  return true;
}

void ParseEngine::removeSpacesAndTabsFromPos() {
  text_.removeCharFrom(' ', static_cast<uint32_t>(pos_));
  text_.removeCharFrom('\t', static_cast<uint32_t>(pos_));
  // The text ahead changed, so what earlier scans saw there no longer holds.
  failedAt_ = -1;
}

int32_t ParseEngine::readDecimal() {
  const char* d = text_.getString();
  const int32_t n = static_cast<int32_t>(text_.getSize());
  int32_t i = pos_;
  const bool negative = i < n && d[i] == '-';
  if (i < n && (d[i] == '-' || d[i] == '+')) ++i;
  if (i >= n || d[i] < '0' || d[i] > '9') return 0;
  int64_t value = 0;
  for (; i < n && d[i] >= '0' && d[i] <= '9'; ++i)
    if (value <= INT32_MAX) value = value * 10 + (d[i] - '0');
  pos_ = i;
  if (negative) value = -value;
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}
