// Time conversions against the C library's calendar, and the edges of the
// range. (The TZ correction and an existing file's time are met in whole runs.)
#include "support.h"
#include "timeconv/timeconv.h"
#include <algorithm>
#include <cstdlib>
#include <ctime>

namespace {

uint64_t as_u64(const FILETIME &f) { return (uint64_t)f.dwHighDateTime << 32 | f.dwLowDateTime; }
FILETIME from_u64(uint64_t v) { return FILETIME{(DWORD)v, (DWORD)(v >> 32)}; }

class TimeTest : public SfxTest {};

// Calendar fields as the C library's gmtime has them, over the whole range
// and at its edges (1980, 2000, 2038, 2100, 2106); the DOS form packs them as
// its format lays them out, a year before 1980 packed as 1980 and counted
// apart.
TEST_F(TimeTest, SecondsConvertBothWaysAsTheCLibraryHasThem) {
  std::vector<DWORD> values = {0, 315532799, 315532800, 951782400, 2147483648u, 4107456000u, 4107542400u, 4294967295u};
  for (uint64_t t = 0; t < 1ull << 32; t += 999983) values.push_back((DWORD)t);  // any weekday and hour
  for (DWORD t : values) {
    SCOPED_TRACE(t);
    time_t when = t;
    struct tm g;
    ASSERT_TRUE(gmtime_r(&when, &g));
    SYSTEMTIME st;
    ASSERT_TRUE(system_time_from_seconds(t, &st));
    ASSERT_EQ(std::vector<int>({st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wDayOfWeek}),
              std::vector<int>({g.tm_year + 1900, g.tm_mon + 1, g.tm_mday, g.tm_hour, g.tm_min, g.tm_sec, g.tm_wday}));
    WORD before;
    DWORD packed = dos_date_time_from_seconds(t, &before);
    int year = std::max(g.tm_year + 1900, 1980);
    ASSERT_EQ(packed, (DWORD)((year - 1980) << 25 | (g.tm_mon + 1) << 21 | g.tm_mday << 16 | g.tm_hour << 11 |
                              g.tm_min << 5 | g.tm_sec / 2));
    ASSERT_EQ(before, year - (g.tm_year + 1900));
    DWORD back;
    ASSERT_TRUE(seconds_from_system_time(&st, &back));
    ASSERT_EQ(back, t);
    FILETIME f;  // 100-nanosecond steps since 1601, exact; a fraction of a second truncates
    ASSERT_TRUE(file_time_from_seconds(t, &f));
    ASSERT_EQ(as_u64(f), (t + 11644473600ull) * 10000000);
    f = from_u64(as_u64(f) + 9999999);
    ASSERT_TRUE(seconds_from_file_time(&f, &back));
    ASSERT_EQ(back, t);
  }
}

// 1968 and 1969 wrap below 1970, and what the packed form cannot hold is
// refused, unchanged.
TEST_F(TimeTest, TheEdgesOfTheRange) {
  DWORD t = 0;
  for (auto [st, seconds] : {std::pair<SYSTEMTIME, DWORD>{{1968, 1, 1, 1, 0, 0, 0, 0}, 4231808896u}, {{1969, 12, 0, 31, 23, 59, 59, 0}, 4294967295u}}) {
    ASSERT_TRUE(seconds_from_system_time(&st, &t));
    EXPECT_EQ(t, seconds);
  }
  for (uint64_t outside : {0ull, 1ull << 63}) {  // 1601-01-01, and far beyond 2107
    FILETIME f = from_u64(outside);
    t = 123;
    EXPECT_FALSE(seconds_from_file_time(&f, &t));
    EXPECT_EQ(t, 123u);
  }
}

}  // namespace
