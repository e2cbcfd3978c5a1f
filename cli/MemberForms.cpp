#include "cli/MemberForms.h"

#include <strings.h>

namespace {

bool listed(const char* const* names, const std::string& member) {
  for (; *names != nullptr; ++names)
    if (strcasecmp(*names, member.c_str()) == 0) return true;  // IDispatch ignores case
  return false;
}

const char* const kUtf8Arguments[] = {
    "LoadXmlFile",    "GetHeaderField",  "SaveXml",         "SaveMime",
    "LoadMimeFile",   "SetHeaderField",  "SetBodyFromFile", "SetBodyFromPlainText",
    "SetBodyFromXml", "SetBodyFromHtml", "SaveBody",        "AppendPartFromFile",
    "SaveLastError",  nullptr,
};

const char* const kUtf8Results[] = {
    "GetHeaderField",
    "GetHeaderFieldValue",
    "GetHeaderFieldName",
    nullptr,
};

const char* const kSuccessFlags[] = {
    "LoadMime",
    "LoadXmlFile",
    "UnwrapSecurity",
    "LoadXml",
    "SaveXml",
    "SaveMime",
    "AddDetachedSignature",
    "ConvertToSigned",
    "Encrypt",
    "LoadMimeFile",
    "SetBodyFromFile",
    "SaveBody",
    "AppendPartFromFile",
    "SaveLastError",
    nullptr,
};

}  // namespace

bool takesUtf8Text(const std::string& member) { return listed(kUtf8Arguments, member); }
bool givesUtf8Text(const std::string& member) { return listed(kUtf8Results, member); }
bool hasSuccessFlag(const std::string& member) { return listed(kSuccessFlags, member); }
