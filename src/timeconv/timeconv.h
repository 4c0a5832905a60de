// Time stamps: EpochSeconds (unsigned seconds since 1970, no zone) to and from
// FILETIME, always through SYSTEMTIME and the packed MS-DOS date and time, and
// the TZ correction used on Win32s.
#pragma once
#include "startup/context.h"

typedef DWORD EpochSeconds;
typedef DWORD DosDateTime;  // date word high, time word low

constexpr EpochSeconds NEWEST_TIME = 0xFFFFFFFFu;

bool seconds_from_file_time(const FILETIME *file_time, EpochSeconds *out);
bool seconds_from_system_time(const SYSTEMTIME *record, EpochSeconds *out);
EpochSeconds seconds_from_dos_date_time(WORD years_before_1980, DosDateTime packed);
bool file_time_from_seconds(EpochSeconds t, FILETIME *out);
bool system_time_from_seconds(EpochSeconds t, SYSTEMTIME *out);
DosDateTime dos_date_time_from_seconds(EpochSeconds t, WORD *years_before_1980);
void apply_tz_correction(EpochSeconds *value);
bool existing_file_seconds(const char *path, EpochSeconds *seconds);
