#include "platform/CodePage.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

UINT g_pinnedAcp = 0;
UINT g_pinnedOemcp = 0;
// The installed converters, latest last. A fixed array with a trivially destructible lock,
// so modules removing themselves while the process ends never meet a destroyed container.
constexpr int kMaxConverters = 16;
std::mutex g_converterMutex;
CodePageConverter g_converters[kMaxConverters] = {};
int g_converterCount = 0;
// The newest installed converter, read by every conversion without taking the lock.
std::atomic<CodePageConverter> g_serving{nullptr};

void removeLocked(CodePageConverter fn) {
  int kept = 0;
  for (int i = 0; i < g_converterCount; ++i) {
    if (g_converters[i] != fn) g_converters[kept++] = g_converters[i];
  }
  g_converterCount = kept;
  g_serving.store(kept > 0 ? g_converters[kept - 1] : nullptr);
}

UINT acpFromEnvironment() {
  const char* setting = std::getenv("VORLUND_ACP");
  if (setting == nullptr || *setting == '\0') return 1252;
  char* end = nullptr;
  unsigned long cp = std::strtoul(setting, &end, 10);
  return (*end == '\0' && cp > 0 && cp < 65536) ? static_cast<UINT>(cp) : 1252;
}

unsigned char* putUtf8(char32_t c, unsigned char* p) {
  if (c < 0x80) {
    *p++ = static_cast<unsigned char>(c);
  } else if (c < 0x800) {
    *p++ = static_cast<unsigned char>(0xC0 | (c >> 6));
    *p++ = static_cast<unsigned char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    *p++ = static_cast<unsigned char>(0xE0 | (c >> 12));
    *p++ = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
    *p++ = static_cast<unsigned char>(0x80 | (c & 0x3F));
  } else {
    *p++ = static_cast<unsigned char>(0xF0 | (c >> 18));
    *p++ = static_cast<unsigned char>(0x80 | ((c >> 12) & 0x3F));
    *p++ = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
    *p++ = static_cast<unsigned char>(0x80 | (c & 0x3F));
  }
  return p;
}

unsigned char* putUnit(char16_t u, bool bigEndian, unsigned char* p) {
  const auto lo = static_cast<unsigned char>(u & 0xFF), hi = static_cast<unsigned char>(u >> 8);
  *p++ = bigEndian ? hi : lo;
  *p++ = bigEndian ? lo : hi;
  return p;
}

}  // namespace

size_t utf8CharAt(const unsigned char* p, size_t n, char32_t* c) {
  if (n == 0) return 0;
  const unsigned char b = p[0];
  int follow;
  char32_t value;
  if (b < 0x80) {
    *c = b;
    return 1;
  } else if (b >= 0xC2 && b <= 0xDF) {
    follow = 1, value = b & 0x1F;
  } else if (b >= 0xE0 && b <= 0xEF) {
    follow = 2, value = b & 0x0F;
  } else if (b >= 0xF0 && b <= 0xF4) {
    follow = 3, value = b & 0x07;
  } else {
    return 0;
  }
  if (n < static_cast<size_t>(follow) + 1) return 0;
  for (int i = 1; i <= follow; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0;
    value = (value << 6) | (p[i] & 0x3F);
  }
  static const char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
  if (value < kMin[follow] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  *c = value;
  return static_cast<size_t>(follow) + 1;
}

UINT GetACP() {
  if (g_pinnedAcp != 0) return g_pinnedAcp;
  static const UINT fromEnvironment = acpFromEnvironment();
  return fromEnvironment;
}

UINT GetOEMCP() { return g_pinnedOemcp != 0 ? g_pinnedOemcp : 437; }

void setCodePagesForTesting(UINT acp, UINT oemcp) {
  g_pinnedAcp = acp;
  g_pinnedOemcp = oemcp;
}

void CodePageOutput::append(const void* bytes, size_t n) {
  unsigned char* room = reserve(n);
  if (n > 0) std::memcpy(room, bytes, n);
  commit(room + n);
}

unsigned char* StringOutput::reserve(size_t extra) {
  const size_t held = s_.size();
  s_.resize(held + extra);
  return reinterpret_cast<unsigned char*>(s_.data()) + held;
}

void StringOutput::commit(const unsigned char* end) {
  s_.resize(static_cast<size_t>(end - reinterpret_cast<const unsigned char*>(s_.data())));
}

void installCodePageConverter(CodePageConverter fn) {
  if (fn == nullptr) return;
  std::lock_guard<std::mutex> lock(g_converterMutex);
  removeLocked(fn);
  // A full table drops its oldest entry: the newest modules are the ones still loaded.
  if (g_converterCount == kMaxConverters) removeLocked(g_converters[0]);
  g_converters[g_converterCount++] = fn;
  g_serving.store(fn);
}

void removeCodePageConverter(CodePageConverter fn) {
  std::lock_guard<std::mutex> lock(g_converterMutex);
  removeLocked(fn);
}

bool platformConvert(UINT fromCp, UINT toCp, const void* bytes, size_t n, CodePageOutput& out) {
  const CodePageConverter fn = g_serving.load();
  if (fn != nullptr) return fn(fromCp, toCp, bytes, n, out);
  return convertUnicodeForms(fromCp, toCp, bytes, n, out);
}

bool convertUnicodeForms(UINT fromCp, UINT toCp, const void* bytes, size_t n, CodePageOutput& out) {
  auto isUnicode = [](UINT cp) { return cp == CP_UTF8 || cp == CP_UTF16LE || cp == CP_UTF16BE; };
  if (!isUnicode(fromCp) || !isUnicode(toCp)) return false;
  if (bytes == nullptr || n == 0) return true;
  if (fromCp == toCp) {
    out.append(bytes, n);
    return true;
  }
  const auto* p = static_cast<const unsigned char*>(bytes);
  // No form takes more than twice the bytes of another for the same characters, nor more than
  // three UTF-8 bytes for one UTF-16 unit.
  unsigned char* dst = out.reserve(toCp == CP_UTF8 ? n / 2 * 3 : n * 2);
  const bool big = toCp == CP_UTF16BE;
  auto put = [&](char32_t c) {
    if (toCp == CP_UTF8) {
      dst = putUtf8(c, dst);
    } else if (c >= 0x10000) {
      c -= 0x10000;
      dst = putUnit(static_cast<char16_t>(0xD800 + (c >> 10)), big, dst);
      dst = putUnit(static_cast<char16_t>(0xDC00 + (c & 0x3FF)), big, dst);
    } else {
      dst = putUnit(static_cast<char16_t>(c), big, dst);
    }
  };
  bool ok = true;
  if (fromCp == CP_UTF8) {
    for (size_t i = 0; i < n;) {
      char32_t c = 0;
      const size_t used = utf8CharAt(p + i, n - i, &c);
      if (used != 0) {
        put(c);
        i += used;
      } else {
        ok = false;
        ++i;
      }
    }
    out.commit(dst);
    return ok;
  }
  const bool bigIn = fromCp == CP_UTF16BE;
  auto unitAt = [&](size_t i) {
    return bigIn ? static_cast<char16_t>((p[i] << 8) | p[i + 1])
                 : static_cast<char16_t>(p[i] | (p[i + 1] << 8));
  };
  for (size_t i = 0; i + 1 < n; i += 2) {
    const char16_t u = unitAt(i);
    if (u >= 0xD800 && u <= 0xDBFF && i + 3 < n) {
      const char16_t v = unitAt(i + 2);
      if (v >= 0xDC00 && v <= 0xDFFF) {
        put(0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (v - 0xDC00));
        i += 2;
        continue;
      }
    }
    if (toCp == CP_UTF8 && u >= 0xD800 && u <= 0xDFFF) {
      ok = false;  // a lone surrogate has no UTF-8 form
      continue;
    }
    put(u);
  }
  if (n % 2 != 0) ok = false;  // half a code unit left over
  out.commit(dst);
  return ok;
}
