// `vormime log-demo`: records the log a failed GetPart call leaves (a context, an error and
// two values) and prints it in the three forms a host reads: text, XML and HTML.
#include <cstring>

#include "cli/Commands.h"
#include "foundation/StringBuffer.h"
#include "log/Logger.h"

namespace {

void printSection(FILE* out, const char* title, const StringBuffer& body) {
  std::fprintf(out, "--- %s ---\n", title);
  std::fwrite(body.getString(), 1, body.getSize(), out);
  if (body.getSize() > 0 && body.lastChar() != '\n') std::fputc('\n', out);
}

}  // namespace

int runLogDemo(int argc, char** argv, FILE* out, FILE* err) {
  if (argc > 2 && (std::strcmp(argv[2], "--help") == 0 || std::strcmp(argv[2], "-h") == 0)) {
    std::fprintf(out,
                 "usage: vormime log-demo\n"
                 "Records the log of a GetPart call asked for part 5 of a message with 3 parts\n"
                 "and prints it as text, XML and HTML.\n");
    return 0;
  }
  if (argc > 2) {
    std::fprintf(err, "vormime log-demo: unexpected argument '%s'\n", argv[2]);
    return 2;
  }
  Logger log;
  log.clearLog();
  log.enterContext("GetPart", true);
  log.logError("Failed to get MIME message part");
  log.logDataLong("num_parts", 3);
  log.logDataLong("requested_part_index", 5);
  log.leaveContext();

  StringBuffer text, xml, html;
  log.getErrorText(text);
  log.getErrorXml(xml);
  log.getErrorHtml(html);
  printSection(out, "text", text);
  printSection(out, "xml", xml);
  printSection(out, "html", html);
  return 0;
}
