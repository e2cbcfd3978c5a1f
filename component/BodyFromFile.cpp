#include "component/BodyFromFile.h"

#include <strings.h>

#include <cstring>

#include "charset/HtmlCharset.h"
#include "component/ContentTypeTable.h"
#include "foundation/DataBuffer.h"
#include "foundation/StringBuffer.h"
#include "foundation/XString.h"
#include "mime/MimeMessage2.h"

namespace {

constexpr const char* kDefaultType = "application/octet-stream";

const char* contentTypeForPath(const char* path) {
  const char* dot = std::strrchr(path, '.');
  if (dot == nullptr || dot[1] == '\0') return kDefaultType;
  const char* type = contentTypeForExtension(dot + 1);
  return type != nullptr ? type : kDefaultType;
}

// The last component of the path, whichever separator it uses.
const char* fileNameOf(const char* path) {
  if (const char* slash = std::strrchr(path, '\\')) return slash + 1;
  if (const char* slash = std::strrchr(path, '/')) return slash + 1;
  return path;
}

bool beginsNoCase(const char* s, const char* prefix) {
  return strncasecmp(s, prefix, std::strlen(prefix)) == 0;
}

bool hasByteAbove126(const DataBuffer& data) {
  const unsigned char* p = data.getData();
  for (uint32_t i = 0; i < data.getSize(); ++i)
    if (p[i] >= 127) return true;
  return false;
}

}  // namespace

bool setBodyFromFile(MimeMessage2& entity, XString& path, FileBodyMode mode, LogBase* log) {
  DataBuffer data;
  if (!data.loadFile(path.getUtf8(), log)) return false;

  const char* utf8Path = path.getUtf8();
  const char* contentType = contentTypeForPath(utf8Path);
  const char* fileName = fileNameOf(utf8Path);
  StringBuffer encoding("base64");
  StringBuffer charset(entity.charset().getName().getString());
  StringBuffer disposition;
  entity.getDisposition(disposition);
  disposition.trim2();

  if (!beginsNoCase(contentType, "text/")) {
    if (disposition.isEmpty()) disposition.setString("attachment");
    charset.clear();
    entity.setDisposition(disposition.getString(), fileName);
  } else {
    encoding.setString(hasByteAbove126(data) ? "quoted-printable" : "7bit");
    if (charset.isEmpty()) charset.setString("us-ascii");
    if (strcasecmp(contentType, "text/xml") == 0) {
      StringBuffer declared;
      const char* bytes = reinterpret_cast<const char*>(data.getData());
      if (HtmlHelp::getCharsetFromXmlDeclaration(bytes, data.getSize(), declared) &&
          !declared.isEmpty())
        charset.setSb(declared);
    }
    if (mode == FileBodyMode::kPart) {
      if (disposition.isEmpty()) disposition.setString("attachment");
      entity.setDisposition(disposition.getString(), fileName);
    }
  }

  // The content-type field goes after the encoding's, where it has always been written.
  entity.setEncoding(encoding.getString());
  ContentTypeValue value;
  entity.getContentTypeValue(value);
  value.type.setString(contentType);
  value.charset.setByName(charset.getString());
  value.boundary.clear();
  value.protocol.clear();
  value.micalg.clear();
  value.name.clear();
  if (mode == FileBodyMode::kPart || beginsNoCase(contentType, "image/") ||
      beginsNoCase(contentType, "video/") || beginsNoCase(contentType, "audio/"))
    value.name.setString(fileName);
  entity.setContentTypeValue(value);

  entity.setBodyRaw(data.getData(), data.getSize(), entity.charset());
  return true;
}
