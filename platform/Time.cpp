#include "platform/Time.h"

#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "platform/Errors.h"

namespace {

void fill(const struct tm& t, long micros, SYSTEMTIME* st) {
  st->wYear = static_cast<WORD>(t.tm_year + 1900);
  st->wMonth = static_cast<WORD>(t.tm_mon + 1);
  st->wDayOfWeek = static_cast<WORD>(t.tm_wday);
  st->wDay = static_cast<WORD>(t.tm_mday);
  st->wHour = static_cast<WORD>(t.tm_hour);
  st->wMinute = static_cast<WORD>(t.tm_min);
  st->wSecond = static_cast<WORD>(t.tm_sec);
  st->wMilliseconds = static_cast<WORD>(micros / 1000);
}

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

bool isLeap(unsigned y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

}  // namespace

void GetLocalTime(SYSTEMTIME* st) {
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  struct tm t;
  time_t secs = tv.tv_sec;
  localtime_r(&secs, &t);
  fill(t, tv.tv_usec, st);
}

void GetSystemTime(SYSTEMTIME* st) {
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  struct tm t;
  time_t secs = tv.tv_sec;
  gmtime_r(&secs, &t);
  fill(t, tv.tv_usec, st);
}

BOOL SystemTimeToFileTime(const SYSTEMTIME* st, FILETIME* ft) {
  static const unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (st == nullptr || ft == nullptr || st->wYear < 1601 || st->wYear > 30827 || st->wMonth < 1 ||
      st->wMonth > 12 || st->wDay < 1 || st->wHour > 23 || st->wMinute > 59 || st->wSecond > 59 ||
      st->wMilliseconds > 999) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  unsigned monthDays = kDays[st->wMonth - 1] + (st->wMonth == 2 && isLeap(st->wYear) ? 1 : 0);
  if (st->wDay > monthDays) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const int64_t days = daysFromCivil(st->wYear, st->wMonth, st->wDay) - daysFromCivil(1601, 1, 1);
  const uint64_t ms =
      ((static_cast<uint64_t>(days) * 24 + st->wHour) * 60 + st->wMinute) * 60000ULL +
      st->wSecond * 1000ULL + st->wMilliseconds;
  const uint64_t ticks = ms * 10000ULL;
  ft->dwLowDateTime = static_cast<DWORD>(ticks);
  ft->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return TRUE;
}

LONG CompareFileTime(const FILETIME* a, const FILETIME* b) {
  const uint64_t x = (static_cast<uint64_t>(a->dwHighDateTime) << 32) | a->dwLowDateTime;
  const uint64_t y = (static_cast<uint64_t>(b->dwHighDateTime) << 32) | b->dwLowDateTime;
  return x < y ? -1 : (x > y ? 1 : 0);
}

DWORD GetTickCount() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<DWORD>(static_cast<uint64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000);
}

void Sleep(DWORD milliseconds) {
  struct timespec ts;
  ts.tv_sec = milliseconds / 1000;
  ts.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {  // only a signal cuts the wait short
  }
}
