#include "foundation/LogBase.h"

LogBase& logOrNull(LogBase* log) {
  // LogNull holds no state, so one instance serves every caller.
  static LogNull nullLog;
  return log != nullptr ? *log : nullLog;
}
