#include "foundation/ParamString.h"

#include <cstring>

namespace {

constexpr size_t kMaxValueLength = 100000000;
constexpr char kOpen[] = "<[[";
constexpr char kClose[] = "]]>";
constexpr uint32_t kMarkLen = 3;  // of kOpen and of kClose
// The decimal form of the largest entry index has at most this many digits.
constexpr uint32_t kMaxDigits = 10;

// The entry index of a marker whose digits start at `p` (at most `n` bytes available), and
// the marker's total length after the "<[[" in *used; -1 when the bytes are no marker. The
// digits must be the index exactly as written, so "<[[01]]>" names no entry.
int64_t markerIndex(const char* p, uint32_t n, uint32_t* used) {
  uint32_t k = 0;
  int64_t value = 0;
  while (k < n && k <= kMaxDigits && p[k] >= '0' && p[k] <= '9')
    value = value * 10 + (p[k++] - '0');
  if (k == 0 || k > kMaxDigits || (k > 1 && p[0] == '0')) return -1;
  if (n - k < kMarkLen || std::memcmp(p + k, kClose, kMarkLen) != 0) return -1;
  *used = k + kMarkLen;
  return value;
}

}  // namespace

ParamString::~ParamString() { quoted_.removeAllObjects(); }

void ParamString::parse(const char* value) {
  marked_.clear();
  quoted_.removeAllObjects();
  if (value == nullptr) return;
  const size_t length = strnlen(value, kMaxValueLength + 1);
  if (length == 0 || length > kMaxValueLength) return;
  marked_.expectNumBytes(static_cast<uint32_t>(length) + 16);

  const char* p = value;
  const char* end = value + length;
  while (p < end) {
    // Plain text up to the next double quote goes over in one piece.
    const char* quote = static_cast<const char*>(std::memchr(p, '"', end - p));
    if (quote == nullptr) {
      marked_.appendN(p, end - p);
      return;
    }
    marked_.appendN(p, quote - p);
    marked_.append(kOpen);
    const char* body = quote + 1;
    const size_t bodyLen = std::strcspn(body, "\"\r\n");
    if (body + bodyLen >= end) return;  // still open at the end: its text is lost
    marked_.appendInt(quoted_.getSize());
    marked_.append(kClose);
    quoted_.appendPtr(new StringBuffer(body, static_cast<uint32_t>(bodyLen), 0));
    p = body + bodyLen + 1;
  }
}

const StringBuffer* ParamString::getQuoted(int32_t n) const {
  return quoted_.getAs<StringBuffer>(n);
}

void ParamString::restore(StringBuffer& text, bool withQuotes) const {
  const int32_t count = quoted_.getSize();
  if (count == 0 || text.getSize() == 0) return;
  const char* s = text.getString();
  const uint32_t n = text.getSize();
  if (memmem(s, n, kOpen, kMarkLen) == nullptr) return;

  StringBuffer result(static_cast<int32_t>(n + 64));
  uint32_t copied = 0;  // bytes of `text` before this index are in `result`
  uint32_t i = 0;
  while (i + kMarkLen <= n) {
    const char* hit = static_cast<const char*>(memmem(s + i, n - i, kOpen, kMarkLen));
    if (hit == nullptr) break;
    const uint32_t at = static_cast<uint32_t>(hit - s);
    const uint32_t digits = at + kMarkLen;
    uint32_t used = 0;
    const int64_t index = markerIndex(s + digits, n - digits, &used);
    if (index < 0 || index >= count) {
      // Not a marker of ours; a real one may begin right behind this "<[[" ("<[[<[[0]]>").
      i = digits;
      continue;
    }
    result.appendN(s + copied, at - copied);
    if (withQuotes) result.appendChar('"');
    result.appendSb(*quoted_.getAs<StringBuffer>(static_cast<int32_t>(index)));
    if (withQuotes) result.appendChar('"');
    i = copied = digits + used;
  }
  result.appendN(s + copied, n - copied);
  text.clear();
  text.appendSb(result);
}
