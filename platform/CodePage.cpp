#include "platform/CodePage.h"

#include <cstdlib>
#include <mutex>

namespace {

UINT g_pinnedAcp = 0;
UINT g_pinnedOemcp = 0;
// The registered converters, latest last. A fixed array with a trivially destructible lock,
// so modules removing themselves while the process ends never meet a destroyed container.
constexpr int kMaxConverters = 16;
std::mutex g_converterMutex;
PlatformConvertFn g_converters[kMaxConverters] = {};
int g_converterCount = 0;

void removeLocked(PlatformConvertFn fn) {
  int kept = 0;
  for (int i = 0; i < g_converterCount; ++i) {
    if (g_converters[i] != fn) g_converters[kept++] = g_converters[i];
  }
  g_converterCount = kept;
}

UINT acpFromEnvironment() {
  const char* setting = std::getenv("VORLUND_ACP");
  if (setting == nullptr || *setting == '\0') return 1252;
  char* end = nullptr;
  unsigned long cp = std::strtoul(setting, &end, 10);
  return (*end == '\0' && cp > 0 && cp < 65536) ? static_cast<UINT>(cp) : 1252;
}

void appendUtf8(char32_t c, std::string& out) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

void appendUnit(char16_t u, bool bigEndian, std::string& out) {
  char lo = static_cast<char>(u & 0xFF), hi = static_cast<char>(u >> 8);
  out.push_back(bigEndian ? hi : lo);
  out.push_back(bigEndian ? lo : hi);
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

void setPlatformConverter(PlatformConvertFn fn) {
  if (fn == nullptr) return;
  std::lock_guard<std::mutex> lock(g_converterMutex);
  removeLocked(fn);
  // A full table drops its oldest entry: the newest modules are the ones still loaded.
  if (g_converterCount == kMaxConverters) removeLocked(g_converters[0]);
  g_converters[g_converterCount++] = fn;
}

void removePlatformConverter(PlatformConvertFn fn) {
  std::lock_guard<std::mutex> lock(g_converterMutex);
  removeLocked(fn);
}

bool platformConvert(UINT fromCp, UINT toCp, const char* bytes, size_t n, std::string& out) {
  PlatformConvertFn fn = nullptr;
  {
    std::lock_guard<std::mutex> lock(g_converterMutex);
    if (g_converterCount > 0) fn = g_converters[g_converterCount - 1];
  }
  if (fn != nullptr) return fn(fromCp, toCp, bytes, n, out);
  return convertUnicodeForms(fromCp, toCp, bytes, n, out);
}

bool convertUnicodeForms(UINT fromCp, UINT toCp, const char* bytes, size_t n, std::string& out) {
  auto isUnicode = [](UINT cp) { return cp == CP_UTF8 || cp == CP_UTF16LE || cp == CP_UTF16BE; };
  if (!isUnicode(fromCp) || !isUnicode(toCp)) return false;
  if (bytes == nullptr || n == 0) return true;
  if (fromCp == toCp) {
    out.append(bytes, n);
    return true;
  }
  const auto* p = reinterpret_cast<const unsigned char*>(bytes);
  bool ok = true;
  auto emit = [&](char32_t c) {
    if (toCp == CP_UTF8) {
      appendUtf8(c, out);
    } else if (c >= 0x10000) {
      c -= 0x10000;
      appendUnit(static_cast<char16_t>(0xD800 + (c >> 10)), toCp == CP_UTF16BE, out);
      appendUnit(static_cast<char16_t>(0xDC00 + (c & 0x3FF)), toCp == CP_UTF16BE, out);
    } else {
      appendUnit(static_cast<char16_t>(c), toCp == CP_UTF16BE, out);
    }
  };
  // What cannot be carried over becomes U+FFFD, so the loss shows in the text as well as in
  // the result.
  constexpr char32_t kReplacement = 0xFFFD;
  if (fromCp == CP_UTF8) {
    for (size_t i = 0; i < n;) {
      char32_t c = 0;
      size_t used = utf8CharAt(p + i, n - i, &c);
      if (used != 0) {
        emit(c);
      } else {
        emit(kReplacement);
        ok = false;
        used = 1;
      }
      i += used;
    }
    return ok;
  }
  bool big = fromCp == CP_UTF16BE;
  for (size_t i = 0; i + 1 < n; i += 2) {
    char16_t u = big ? static_cast<char16_t>((p[i] << 8) | p[i + 1])
                     : static_cast<char16_t>(p[i] | (p[i + 1] << 8));
    if (u >= 0xD800 && u <= 0xDBFF && i + 3 < n) {
      char16_t v = big ? static_cast<char16_t>((p[i + 2] << 8) | p[i + 3])
                       : static_cast<char16_t>(p[i + 2] | (p[i + 3] << 8));
      if (v >= 0xDC00 && v <= 0xDFFF) {
        emit(0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (v - 0xDC00));
        i += 2;
        continue;
      }
    }
    if (toCp == CP_UTF8 && u >= 0xD800 && u <= 0xDFFF) {
      emit(kReplacement);  // a lone surrogate has no UTF-8 form
      ok = false;
      continue;
    }
    emit(u);
  }
  if (n % 2 != 0) {  // half a code unit left over
    emit(kReplacement);
    ok = false;
  }
  return ok;
}
