#include "platform/RegistryTree.h"

#include <algorithm>
#include <charconv>

namespace registry {

namespace {

constexpr std::string_view kHeader = "vorlund-registry 1";
constexpr std::string_view kGeneration = "generation ";
constexpr char kHex[] = "0123456789abcdef";

constexpr DWORD kSz = 1, kExpandSz = 2, kBinary = 3, kDword = 4;

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void appendQuoted(std::string* out, std::string_view s) {
  out->push_back('"');
  for (unsigned char c : s) {
    if (c == '\\' || c == '"') {
      out->push_back('\\');
      out->push_back(char(c));
    } else if (c < 0x20 || c > 0x7E) {
      out->append("\\x");
      out->push_back(kHex[c >> 4]);
      out->push_back(kHex[c & 15]);
    } else {
      out->push_back(char(c));
    }
  }
  out->push_back('"');
}

void appendHex(std::string* out, std::string_view bytes) {
  out->push_back('x');
  for (unsigned char c : bytes) {
    out->push_back(kHex[c >> 4]);
    out->push_back(kHex[c & 15]);
  }
}

void appendNumber(std::string* out, uint64_t n) {
  char buf[24];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, n);
  (void)ec;
  out->append(buf, end);
}

bool isStringType(DWORD type) { return type == kSz || type == kExpandSz; }

void appendValue(std::string* out, const RegValue& v) {
  out->append("value ");
  appendQuoted(out, v.name);
  out->push_back(' ');
  std::string_view data = v.data;
  if (isStringType(v.type) && !data.empty() && data.back() == '\0') {
    out->append(v.type == kSz ? "sz " : "expand_sz ");
    appendQuoted(out, data.substr(0, data.size() - 1));
  } else if (v.type == kBinary) {
    out->append("binary ");
    appendHex(out, data);
  } else if (v.type == kDword && data.size() == 4) {
    const auto* b = reinterpret_cast<const unsigned char*>(data.data());
    uint32_t n = b[0] | (b[1] << 8) | (b[2] << 16) | (uint32_t(b[3]) << 24);
    out->append("dword 0x");
    for (int shift = 28; shift >= 0; shift -= 4) out->push_back(kHex[(n >> shift) & 15]);
  } else {
    appendNumber(out, v.type);
    out->push_back(' ');
    appendHex(out, data);
  }
  out->push_back('\n');
}

// Writes the subtree below `key` (the key's own line is the caller's); depth is the key's.
struct Writer {
  std::string* out;
  size_t keys = 0;
  size_t values = 0;

  void writeValues(const RegKey& key) {
    for (size_t i = 0; i < key.valueCount(); ++i) appendValue(out, key.valueAt(i));
    values += key.valueCount();
  }
  void writeChildren(const RegKey& key, size_t depth) {
    for (size_t i = 0; i < key.childCount(); ++i) {
      const RegKey* child = key.childAt(i);
      out->append("key ");
      appendNumber(out, depth + 1);
      out->push_back(' ');
      appendQuoted(out, child->name());
      out->push_back('\n');
      ++keys;
      writeValues(*child);
      writeChildren(*child, depth + 1);
    }
  }
};

// A cursor over one line of a hive file.
class LineReader {
 public:
  explicit LineReader(std::string_view line) : rest_(line) {}

  bool atEnd() const { return rest_.empty(); }
  bool literal(std::string_view word) {
    if (rest_.substr(0, word.size()) != word) return false;
    rest_.remove_prefix(word.size());
    return true;
  }
  std::string_view word() {
    size_t n = rest_.find(' ');
    if (n == std::string_view::npos) n = rest_.size();
    std::string_view w = rest_.substr(0, n);
    rest_.remove_prefix(n);
    return w;
  }
  bool number(uint64_t* n) {
    std::string_view w = word();
    if (w.empty() || w.size() > 20 || (w.size() > 1 && w[0] == '0')) return false;
    auto [end, ec] = std::from_chars(w.data(), w.data() + w.size(), *n);
    return ec == std::errc() && end == w.data() + w.size();
  }
  // A quoted string of at most `limit` bytes once unescaped.
  bool quoted(std::string* out, size_t limit) {
    out->clear();
    if (!literal("\"")) return false;
    for (;;) {
      if (rest_.empty()) return false;
      unsigned char c = rest_[0];
      rest_.remove_prefix(1);
      if (c == '"') return true;
      if (c < 0x20 || c > 0x7E) return false;
      if (c == '\\') {
        if (rest_.empty()) return false;
        char e = rest_[0];
        rest_.remove_prefix(1);
        if (e == 'x') {
          int hi = rest_.size() >= 2 ? hexDigit(rest_[0]) : -1;
          int lo = rest_.size() >= 2 ? hexDigit(rest_[1]) : -1;
          if (hi < 0 || lo < 0) return false;
          rest_.remove_prefix(2);
          c = static_cast<unsigned char>(hi * 16 + lo);
        } else if (e == '\\' || e == '"') {
          c = static_cast<unsigned char>(e);
        } else {
          return false;
        }
      }
      if (out->size() >= limit) return false;
      out->push_back(char(c));
    }
  }
  // `x` and hex digit pairs, at most `limit` bytes.
  bool hex(std::string* out, size_t limit) {
    std::string_view w = word();
    if (w.empty() || w[0] != 'x' || w.size() % 2 != 1 || (w.size() - 1) / 2 > limit) return false;
    out->clear();
    out->reserve((w.size() - 1) / 2);
    for (size_t i = 1; i < w.size(); i += 2) {
      int hi = hexDigit(w[i]), lo = hexDigit(w[i + 1]);
      if (hi < 0 || lo < 0) return false;
      out->push_back(char(hi * 16 + lo));
    }
    return true;
  }

 private:
  std::string_view rest_;
};

bool validKeyName(std::string_view name) {
  return !name.empty() && name.size() <= kMaxKeyNameLength &&
         name.find('\\') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

bool parseValueData(LineReader& in, RegValue* v) {
  std::string_view type = in.word();
  if (!in.literal(" ")) return false;
  if (type == "sz" || type == "expand_sz") {
    v->type = type == "sz" ? kSz : kExpandSz;
    if (!in.quoted(&v->data, kMaxValueSize - 1)) return false;
    v->data.push_back('\0');
    return true;
  }
  if (type == "binary") {
    v->type = kBinary;
    return in.hex(&v->data, kMaxValueSize);
  }
  if (type == "dword") {
    std::string_view w = in.word();
    if (w.size() != 10 || w.substr(0, 2) != "0x") return false;
    uint32_t n = 0;
    for (char c : w.substr(2)) {
      int d = hexDigit(c);
      if (d < 0) return false;
      n = (n << 4) | uint32_t(d);
    }
    v->type = kDword;
    v->data.assign(
        {char(n & 0xFF), char((n >> 8) & 0xFF), char((n >> 16) & 0xFF), char((n >> 24) & 0xFF)});
    return true;
  }
  LineReader number(type);
  uint64_t t = 0;
  if (!number.number(&t) || t > 0xFFFFFFFFu) return false;
  v->type = DWORD(t);
  return in.hex(&v->data, kMaxValueSize);
}

// The state of a parse: the chain of keys from the root to the last key line.
struct Parser {
  Hive* hive;
  std::vector<RegKey*> chain;
  size_t keys = 0;
  size_t values = 0;

  const char* keyLine(LineReader& in) {
    uint64_t depth = 0;
    std::string name;
    if (!in.number(&depth) || !in.literal(" ") || !in.quoted(&name, kMaxKeyNameLength) ||
        !in.atEnd())
      return "malformed key line";
    if (!validKeyName(name)) return "bad key name";
    if (depth == 0 || depth > kMaxDepth || depth > chain.size()) return "key out of place";
    chain.resize(depth);
    bool created = false;
    RegKey* key = chain.back()->addChild(name, &created);
    if (!created) return "key listed twice";
    chain.push_back(key);
    ++keys;
    return nullptr;
  }

  const char* valueLine(LineReader& in) {
    RegValue v;
    if (!in.quoted(&v.name, kMaxValueNameLength) || !in.literal(" ") || !parseValueData(in, &v) ||
        !in.atEnd())
      return "malformed value line";
    if (v.name.find('\0') != std::string::npos) return "bad value name";
    RegKey* key = chain.back();
    if (key->value(v.name) != nullptr) return "value listed twice";
    key->setValue(v.name, v.type, std::move(v.data));
    ++values;
    return nullptr;
  }

  const char* endLine(LineReader& in) {
    uint64_t k = 0, n = 0;
    if (!in.number(&k) || !in.literal(" ") || !in.number(&n) || !in.atEnd())
      return "malformed end line";
    if (k != keys || n != values) return "entry counts do not match";
    return nullptr;
  }
};

bool fail(std::string* why, size_t line, const char* what) {
  *why = "line " + std::to_string(line) + ": " + what;
  return false;
}

}  // namespace

std::string foldName(std::string_view name) {
  std::string folded(name);
  for (char& c : folded)
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
  return folded;
}

RegKey* RegKey::child(std::string_view name) const {
  auto it = children_.find(foldName(name));
  return it == children_.end() ? nullptr : it->second.get();
}

RegKey* RegKey::addChild(std::string_view name, bool* created) {
  auto [it, inserted] = children_.try_emplace(foldName(name));
  if (inserted) {
    it->second = std::make_unique<RegKey>(std::string(name));
    orderValid_ = false;
  }
  if (created != nullptr) *created = inserted;
  return it->second.get();
}

std::unique_ptr<RegKey> RegKey::removeChild(std::string_view name) {
  auto it = children_.find(foldName(name));
  if (it == children_.end()) return nullptr;
  std::unique_ptr<RegKey> removed = std::move(it->second);
  children_.erase(it);
  orderValid_ = false;
  return removed;
}

const std::vector<const RegKey*>& RegKey::order() const {
  if (!orderValid_) {
    order_.clear();
    order_.reserve(children_.size());
    for (const auto& [folded, key] : children_) order_.push_back(key.get());
    orderValid_ = true;
  }
  return order_;
}

const RegKey* RegKey::childAt(size_t index) const { return order()[index]; }

void RegKey::clear() {
  children_.clear();
  orderValid_ = false;
  values_.clear();
  valueIndex_.clear();
}

const RegValue* RegKey::value(std::string_view name) const {
  auto it = valueIndex_.find(foldName(name));
  return it == valueIndex_.end() ? nullptr : &values_[it->second];
}

bool RegKey::setValue(std::string_view name, DWORD type, std::string data) {
  auto [it, inserted] = valueIndex_.try_emplace(foldName(name), values_.size());
  if (inserted) {
    values_.push_back(RegValue{std::string(name), type, std::move(data)});
    return true;
  }
  RegValue& v = values_[it->second];
  if (v.type == type && v.data == data) return false;
  v.type = type;
  v.data = std::move(data);
  return true;
}

bool RegKey::removeValue(std::string_view name) {
  auto it = valueIndex_.find(foldName(name));
  if (it == valueIndex_.end()) return false;
  size_t at = it->second;
  valueIndex_.erase(it);
  values_.erase(values_.begin() + static_cast<std::ptrdiff_t>(at));
  for (auto& [folded, index] : valueIndex_)
    if (index > at) --index;
  return true;
}

bool parseHive(std::string_view text, Hive* hive, std::string* why) {
  *hive = Hive();
  if (text.empty()) return fail(why, 1, "the file is empty");
  if (text.size() > kMaxHiveFileSize) return fail(why, 1, "the file is larger than a hive may be");
  if (text.back() != '\n') return fail(why, 1, "the file does not end with a whole line");
  // Every entry is one line, besides the header, generation and end lines: counting lines
  // first refuses an oversized hive before any of it is built.
  if (size_t(std::count(text.begin(), text.end(), '\n')) > kMaxEntries + 3)
    return fail(why, 1, "more entries than a hive may hold");

  Parser parser{hive, {hive->root.get()}};
  size_t lineNo = 0;
  bool ended = false;
  while (!text.empty()) {
    size_t eol = text.find('\n');
    std::string_view line = text.substr(0, eol);
    text.remove_prefix(eol + 1);
    ++lineNo;
    if (ended) return fail(why, lineNo, "text after the end line");
    LineReader in(line);
    const char* fault = nullptr;
    if (lineNo == 1) {
      if (line != kHeader) fault = "not a registry hive";
    } else if (lineNo == 2) {
      if (!in.literal(kGeneration) || !in.number(&hive->generation) || !in.atEnd())
        fault = "malformed generation line";
    } else if (in.literal("key ")) {
      fault = parser.keyLine(in);
    } else if (in.literal("value ")) {
      fault = parser.valueLine(in);
    } else if (in.literal("end ")) {
      fault = parser.endLine(in);
      ended = true;
    } else {
      fault = "unknown line";
    }
    if (fault == nullptr && parser.keys + parser.values > kMaxEntries)
      fault = "more entries than a hive may hold";
    if (fault != nullptr) {
      *hive = Hive();
      return fail(why, lineNo, fault);
    }
  }
  if (!ended) {
    *hive = Hive();
    return fail(why, lineNo, "the end line is missing (truncated)");
  }
  return true;
}

bool serializeHive(const RegKey& root, uint64_t generation, std::string* text, std::string* why) {
  text->clear();
  text->append(kHeader);
  text->append("\n");
  text->append(kGeneration);
  appendNumber(text, generation);
  text->push_back('\n');
  Writer w{text};
  w.writeValues(root);
  w.writeChildren(root, 0);
  text->append("end ");
  appendNumber(text, w.keys);
  text->push_back(' ');
  appendNumber(text, w.values);
  text->push_back('\n');
  if (w.keys + w.values > kMaxEntries || text->size() > kMaxHiveFileSize) {
    *why = "the hive would exceed its size bounds";
    text->clear();
    return false;
  }
  return true;
}

bool peekGeneration(std::string_view head, uint64_t* generation) {
  if (head.substr(0, kHeader.size()) != kHeader) return false;
  head.remove_prefix(kHeader.size());
  if (head.substr(0, 1) != "\n") return false;
  head.remove_prefix(1);
  size_t eol = head.find('\n');
  if (eol == std::string_view::npos) return false;
  LineReader in(head.substr(0, eol));
  return in.literal(kGeneration) && in.number(generation) && in.atEnd();
}

}  // namespace registry
