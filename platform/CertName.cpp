// Names as text, in the forms the system writes them: relative names in their encoded
// order, ", " between them and " + " between the attributes of one; KEY=value with the
// system's short keys (CERT_X500_NAME_STR), the values alone (CERT_SIMPLE_NAME_STR) or
// OID=value (CERT_OID_NAME_STR). A value is quoted when it is empty, begins or ends with a
// blank, or holds one of , + = " < > # ; or a line end; a quote inside is doubled. Values
// are read as UTF-16 first and given in the ANSI code page.
#include <openssl/asn1.h>
#include <openssl/objects.h>

#include <algorithm>
#include <cstring>

#include "platform/CodePage.h"
#include "platform/CryptInternal.h"

namespace {

const char* shortKey(int nid) {
  switch (nid) {
    case NID_commonName:
      return "CN";
    case NID_localityName:
      return "L";
    case NID_organizationName:
      return "O";
    case NID_organizationalUnitName:
      return "OU";
    case NID_pkcs9_emailAddress:
      return "E";
    case NID_countryName:
      return "C";
    case NID_stateOrProvinceName:
      return "S";
    case NID_streetAddress:
      return "STREET";
    case NID_title:
      return "T";
    case NID_givenName:
      return "G";
    case NID_initials:
      return "I";
    case NID_surname:
      return "SN";
    case NID_domainComponent:
      return "DC";
    case NID_description:
      return "Description";
    case NID_postalCode:
      return "PostalCode";
    case NID_postOfficeBox:
      return "POBox";
    case NID_telephoneNumber:
      return "Phone";
    case NID_x121Address:
      return "X21Address";
    case NID_dnQualifier:
      return "dnQualifier";
    case NID_serialNumber:
      return "SERIALNUMBER";
    default:
      return nullptr;
  }
}

// The value as UTF-16: UTF8String and BMPString as such, UniversalString by code point,
// every 8-bit string type byte for byte.
std::u16string wideValue(const ASN1_STRING* v) {
  const unsigned char* p = ASN1_STRING_get0_data(v);
  const int n = ASN1_STRING_length(v);
  std::u16string w;
  switch (ASN1_STRING_type(v)) {
    case V_ASN1_UTF8STRING:
      return wincrypt::utf16FromUtf8(std::string_view(reinterpret_cast<const char*>(p), size_t(n)));
    case V_ASN1_BMPSTRING:
      for (int i = 0; i + 1 < n; i += 2) w.push_back(char16_t((p[i] << 8) | p[i + 1]));
      return w;
    case V_ASN1_UNIVERSALSTRING:
      for (int i = 0; i + 3 < n; i += 4) {
        const char32_t c = (char32_t(p[i]) << 24) | (char32_t(p[i + 1]) << 16) |
                           (char32_t(p[i + 2]) << 8) | p[i + 3];
        if (c < 0x10000) {
          w.push_back(char16_t(c));
        } else if (c <= 0x10FFFF) {
          w.push_back(char16_t(0xD800 + ((c - 0x10000) >> 10)));
          w.push_back(char16_t(0xDC00 + ((c - 0x10000) & 0x3FF)));
        }
      }
      return w;
    default:
      for (int i = 0; i < n; ++i) w.push_back(char16_t(p[i]));
      return w;
  }
}

bool needsQuotes(const std::u16string& v) {
  if (v.empty() || v.front() == u' ' || v.back() == u' ') return true;
  for (char16_t c : v)
    if (c == u',' || c == u'+' || c == u'=' || c == u'"' || c == u'<' || c == u'>' || c == u'#' ||
        c == u';' || c == u'\r' || c == u'\n')
      return true;
  return false;
}

std::u16string quoted(const std::u16string& v) {
  if (!needsQuotes(v)) return v;
  std::u16string out = u"\"";
  for (char16_t c : v) {
    out.push_back(c);
    if (c == u'"') out.push_back(u'"');
  }
  out.push_back(u'"');
  return out;
}

std::u16string ascii(const std::string& s) { return std::u16string(s.begin(), s.end()); }

std::u16string nameText(const X509_NAME* name, DWORD type) {
  std::u16string out;
  int lastSet = -1;
  for (int i = 0; i < X509_NAME_entry_count(name); ++i) {
    const X509_NAME_ENTRY* e = X509_NAME_get_entry(name, i);
    const int set = X509_NAME_ENTRY_set(e);
    if (i > 0) out += set == lastSet ? u" + " : u", ";
    lastSet = set;
    const ASN1_OBJECT* obj = X509_NAME_ENTRY_get_object(e);
    char oid[128];
    const int oidLen = OBJ_obj2txt(oid, sizeof oid, obj, 1);
    if (type == CERT_X500_NAME_STR) {
      const char* key = shortKey(OBJ_obj2nid(obj));
      out += key != nullptr ? ascii(key)
                            : u"OID." + ascii(std::string(oid, size_t(std::max(oidLen, 0))));
      out += u"=";
    } else if (type == CERT_OID_NAME_STR) {
      out += ascii(std::string(oid, size_t(std::max(oidLen, 0)))) + u"=";
    }
    out += quoted(wideValue(X509_NAME_ENTRY_get_data(e)));
  }
  return out;
}

}  // namespace

DWORD CertNameToStrA(DWORD /*encoding*/, PCERT_NAME_BLOB name, DWORD strType, LPSTR psz,
                     DWORD csz) {
  wincrypt::registerCryptTexts();
  std::string ansi;
  if (name != nullptr && name->pbData != nullptr) {
    const unsigned char* p = name->pbData;
    X509_NAME* n = d2i_X509_NAME(nullptr, &p, long(name->cbData));
    if (n != nullptr) {
      const std::u16string w = nameText(n, strType & 0xFF);
      X509_NAME_free(n);
      std::string le;
      for (char16_t c : w) {
        le.push_back(char(c & 0xFF));
        le.push_back(char(c >> 8));
      }
      // Without a conversion engine in the process only ASCII survives, as '?' stands for
      // what the ANSI code page cannot show.
      StringOutput sink(ansi);
      if (!platformConvert(CP_UTF16LE, GetACP(), le.data(), le.size(), sink) && ansi.empty())
        for (char16_t c : w) ansi.push_back(c < 0x80 ? char(c) : '?');
    } else {
      SetLastError(CRYPT_E_ASN1_BADTAG);
    }
  }
  const DWORD needed = DWORD(ansi.size() + 1);
  if (psz == nullptr || csz == 0) return needed;
  const DWORD n = std::min<DWORD>(csz - 1, DWORD(ansi.size()));
  std::memcpy(psz, ansi.data(), n);
  psz[n] = '\0';
  return n + 1;
}
