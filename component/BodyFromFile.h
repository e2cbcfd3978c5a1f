// Making an entity's body from a file: the content type from the file's extension, the
// transfer encoding and charset from its bytes, the file name from its path.
#pragma once

class LogBase;
class MimeMessage2;
class XString;

enum class FileBodyMode {
  kBody,  // the entity's own body (SetBodyFromFile): a text file keeps its disposition
  kPart,  // a new part (AppendPartFromFile): always an attachment with a name
};

// False, with the reason in the log and the entity untouched, when the file could not be
// read.
bool setBodyFromFile(MimeMessage2& entity, XString& path, FileBodyMode mode, LogBase* log);
