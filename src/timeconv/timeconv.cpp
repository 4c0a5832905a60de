// Conversions between EpochSeconds, the packed MS-DOS form and SYSTEMTIME.
// The packed year field starts at 1980; years_before_1980 travels beside it so
// that 1968 to 1979 fit too, and the odd second travels beside the 2-second
// field, so whole seconds survive every round trip.
#include "timeconv/timeconv.h"

constexpr DWORD SECONDS_PER_DAY = 86400;
constexpr DWORD DAYS_TO_1972 = 730;
constexpr DWORD DAYS_TO_2000 = 10957;
constexpr DWORD DAYS_TO_1968 = (DWORD)-731;
constexpr DWORD DAYS_2000_TO_2100 = 36525;
constexpr WORD FIRST_YEAR = 1968, LAST_YEAR = 2107;

static constexpr BYTE MONTH_DAYS[2][12] = {
    {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31},
    {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31},
};

static SYSTEMTIME scratch_from_file_time;  // used only by seconds_from_file_time
static SYSTEMTIME scratch_to_file_time;    // used only by file_time_from_seconds

static int leap_flag(unsigned year) {
  int leap = year % 4 == 0;
  if (year % 100 == 0) leap = 0;
  if (year % 400 == 0) leap = 1;
  return leap;
}
static DWORD year_days(unsigned year) { return leap_flag(year) ? 366 : 365; }
// A four-year group starting with a leap year, except one that starts with a
// century year that is not a leap year, such as 2100.
static DWORD group_days(unsigned year) { return leap_flag(year) ? 1461 : 1460; }

DosDateTime dos_date_time_from_seconds(EpochSeconds t, WORD *years_before_1980) {
  DWORD days = t / SECONDS_PER_DAY, s = t % SECONDS_PER_DAY;
  unsigned year;
  if (days < DAYS_TO_1972) {
    year = 1970;
    if (days >= 365) {
      year = 1971;
      days -= 365;
    }
  } else {
    if (days >= DAYS_TO_2000) {
      year = 2000;
      days -= DAYS_TO_2000;
      if (days >= DAYS_2000_TO_2100) {
        year = 2100;
        days -= DAYS_2000_TO_2100;
      }
    } else {
      year = 1972;
      days -= DAYS_TO_1972;
    }
    while (days >= group_days(year)) days -= group_days(year), year += 4;
    while (days >= year_days(year)) days -= year_days(year), ++year;
  }
  const BYTE *months = MONTH_DAYS[leap_flag(year)];
  unsigned month = 1;
  while (days >= months[month - 1]) days -= months[month++ - 1];
  DWORD hour = s / 3600, minute = s % 3600 / 60, second = s % 60;
  DWORD year_field = 0;
  if (year >= 1980) {
    year_field = year - 1980;
    *years_before_1980 = 0;
  } else {
    *years_before_1980 = (WORD)(1980 - year);
  }
  return year_field << 25 | month << 21 | (days + 1) << 16 | hour << 11 | minute << 5 | second / 2;
}

EpochSeconds seconds_from_dos_date_time(WORD years_before_1980, DosDateTime p) {
  WORD year = (WORD)((p >> 25) + 1980 - years_before_1980);
  DWORD month = p >> 21 & 0xF, day = p >> 16 & 0x1F, hour = p >> 11 & 0x1F;
  DWORD minute = p >> 5 & 0x3F, second = 2 * (p & 0x1F);
  unsigned y = year >= 2000 ? 2000 : FIRST_YEAR;
  DWORD count = year >= 2000 ? DAYS_TO_2000 : DAYS_TO_1968;
  if (y == 2000 && year >= 2100) count += DAYS_2000_TO_2100, y = 2100;
  while (y + 4 <= year) count += group_days(y), y += 4;
  while (y < year) count += year_days(y), ++y;
  const BYTE *months = MONTH_DAYS[leap_flag(year)];
  for (DWORD m = 1; m < month && m <= 12; ++m) count += months[m - 1];
  return (((count + day - 1) * 24 + hour) * 60 + minute) * 60 + second;
}

bool system_time_from_seconds(EpochSeconds t, SYSTEMTIME *out) {
  if (!out) return false;
  WORD before;
  DosDateTime p = dos_date_time_from_seconds(t, &before);
  out->wYear = (WORD)((p >> 25) + 1980 - before);
  out->wMonth = (WORD)(p >> 21 & 0xF);
  out->wDay = (WORD)(p >> 16 & 0x1F);
  out->wHour = (WORD)(p >> 11 & 0x1F);
  out->wMinute = (WORD)(p >> 5 & 0x3F);
  out->wSecond = (WORD)(2 * (p & 0x1F) + t % 2);
  out->wMilliseconds = 0;
  DWORD weekday = t / SECONDS_PER_DAY % 7 + 4;  // 1970-01-01 was a Thursday
  out->wDayOfWeek = (WORD)(weekday >= 7 ? weekday - 7 : weekday);
  return true;
}

// Years outside 1968..2107 have no packed form: they are refused, so the
// caller keeps what it had (an 0x41 time falls back to the header's stamp).
bool seconds_from_system_time(const SYSTEMTIME *record, EpochSeconds *out) {
  if (!record || !out) return false;
  if (record->wYear < FIRST_YEAR || record->wYear > LAST_YEAR) return false;
  WORD before = 0;
  DWORD year_field = 0;
  if (record->wYear < 1980) before = (WORD)(1980 - record->wYear);
  else year_field = record->wYear - 1980u;
  DosDateTime p = year_field << 25 | (DWORD)record->wMonth << 21 | (DWORD)record->wDay << 16 |
                  (DWORD)record->wHour << 11 | (DWORD)record->wMinute << 5 |
                  (DWORD)record->wSecond / 2;
  *out = seconds_from_dos_date_time(before, p) + record->wSecond % 2;
  return true;
}

bool seconds_from_file_time(const FILETIME *file_time, EpochSeconds *out) {
  if (!file_time || !out) return false;
  if (!FileTimeToSystemTime(file_time, &scratch_from_file_time)) return false;
  return seconds_from_system_time(&scratch_from_file_time, out);
}

bool file_time_from_seconds(EpochSeconds t, FILETIME *out) {
  if (!out) return false;
  system_time_from_seconds(t, &scratch_to_file_time);
  return SystemTimeToFileTime(&scratch_to_file_time, out) != 0;
}

// Whole hours of the first offset in TZ; hours west of Greenwich are
// positive. A value too long for the 100-byte buffer is not a time zone
// anyone meant: no correction.
void apply_tz_correction(EpochSeconds *value) {
  char tz[100];
  DWORD length = GetEnvironmentVariableA("TZ", tz, sizeof(tz));
  if (length == 0 || length >= sizeof(tz)) return;
  const char *p = tz;
  while (*p && *p != '+' && *p != '-' && (*p < '0' || *p > '9')) ++p;
  bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  DWORD hours = 0;
  while (*p >= '0' && *p <= '9') hours = hours * 10 + (DWORD)(*p++ - '0');
  DWORD correction = hours * 3600;
  *value = negative ? *value + correction : *value - correction;
}

// False when the file cannot be opened or its time cannot be read. A time
// past the range counts as newer than every member, one dated before 1968 as
// older than every member.
bool existing_file_seconds(const char *path, EpochSeconds *seconds) {
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  FILETIME write_time;
  bool read = GetFileTime(file, nullptr, nullptr, &write_time) != 0;
  *seconds = NEWEST_TIME;
  if (read && !seconds_from_file_time(&write_time, seconds)) {
    SYSTEMTIME when;
    if (FileTimeToSystemTime(&write_time, &when) && when.wYear < FIRST_YEAR) *seconds = 0;
  }
  CloseHandle(file);
  return read;
}
