// Reading MIME text into an entity tree. Tolerant by design: CRLF, LF and doubled-CR line
// ends, raw 8-bit headers, missing boundaries and missing headers all give a tree.
#pragma once

#include <cstdint>

class LogBase;
class MimeMessage2;
class ProgressMonitor;
class StringBuffer;

// Multiparts nested deeper than this keep their content as an undecoded body, so hostile
// nesting costs neither the stack nor time.
constexpr int32_t kMaxMimeNesting = 100;

// Clears the entity and fills it from the text. A progress monitor, when given, is reset to
// the text's size and hears the offset reached at the start of each part; it never stops
// the parse, which always leaves a tree.
void loadEntity(MimeMessage2& entity, const StringBuffer& text, LogBase* log,
                ProgressMonitor* progress = nullptr);
// The same, taking over the text's block (`text` continues empty): the leaf bodies that lie
// in it are kept as windows on it and decoded the first time they are read, so loading costs
// no pass over the bodies and no memory beyond the text.
void loadEntityTaking(MimeMessage2& entity, StringBuffer& text, LogBase* log,
                      ProgressMonitor* progress = nullptr);
// Fills the body or the sub-parts of an entity whose header is already read.
void parseBody(MimeMessage2& entity, const StringBuffer& body, LogBase* log);
