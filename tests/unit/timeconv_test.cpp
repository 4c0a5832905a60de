// Time conversions: chosen values worked out by hand, whole-second round
// trips, the TZ correction and an existing file's time.
#include "support.h"
#include "timeconv/timeconv.h"
#include <cstdlib>
#include <sys/stat.h>
#include <utime.h>

namespace {

struct Chosen {
  DWORD t;
  WORD year, month, day, hour, minute, second, weekday;
  WORD date, time, before_1980;
};

const Chosen CHOSEN[] = {
    {0, 1970, 1, 1, 0, 0, 0, 4, 0x0021, 0x0000, 10},
    {1, 1970, 1, 1, 0, 0, 1, 4, 0x0021, 0x0000, 10},
    {31535999, 1970, 12, 31, 23, 59, 59, 4, 0x019F, 0xBF7D, 10},
    {31536000, 1971, 1, 1, 0, 0, 0, 5, 0x0021, 0x0000, 9},
    {63072000, 1972, 1, 1, 0, 0, 0, 6, 0x0021, 0x0000, 8},
    {315532799, 1979, 12, 31, 23, 59, 59, 1, 0x019F, 0xBF7D, 1},
    {315532800, 1980, 1, 1, 0, 0, 0, 2, 0x0021, 0x0000, 0},
    {946684800, 2000, 1, 1, 0, 0, 0, 6, 0x2821, 0x0000, 0},
    {951782400, 2000, 2, 29, 0, 0, 0, 2, 0x285D, 0x0000, 0},
    {951868800, 2000, 3, 1, 0, 0, 0, 3, 0x2861, 0x0000, 0},
    {2147483647, 2038, 1, 19, 3, 14, 7, 2, 0x7433, 0x19C3, 0},
    {2147483648u, 2038, 1, 19, 3, 14, 8, 2, 0x7433, 0x19C4, 0},
    {4102444800u, 2100, 1, 1, 0, 0, 0, 5, 0xF021, 0x0000, 0},
    {4107456000u, 2100, 2, 28, 0, 0, 0, 0, 0xF05C, 0x0000, 0},
    {4107542400u, 2100, 3, 1, 0, 0, 0, 1, 0xF061, 0x0000, 0},
    {4133980799u, 2100, 12, 31, 23, 59, 59, 5, 0xF19F, 0xBF7D, 0},
    {4133980800u, 2101, 1, 1, 0, 0, 0, 6, 0xF221, 0x0000, 0},
    {4294967295u, 2106, 2, 7, 6, 28, 15, 0, 0xFC47, 0x3387, 0},
};

uint64_t as_u64(const FILETIME &f) { return (uint64_t)f.dwHighDateTime << 32 | f.dwLowDateTime; }
FILETIME from_u64(uint64_t v) { return FILETIME{(DWORD)v, (DWORD)(v >> 32)}; }

class TimeTest : public SfxTest {};

TEST_F(TimeTest, ChosenValuesConvertBothWays) {
  for (const Chosen &c : CHOSEN) {
    SCOPED_TRACE(c.t);
    SYSTEMTIME st;
    ASSERT_TRUE(system_time_from_seconds(c.t, &st));
    EXPECT_EQ(st.wYear, c.year);
    EXPECT_EQ(st.wMonth, c.month);
    EXPECT_EQ(st.wDay, c.day);
    EXPECT_EQ(st.wHour, c.hour);
    EXPECT_EQ(st.wMinute, c.minute);
    EXPECT_EQ(st.wSecond, c.second);
    EXPECT_EQ(st.wDayOfWeek, c.weekday);
    WORD before;
    DWORD packed = dos_date_time_from_seconds(c.t, &before);
    EXPECT_EQ(packed >> 16, c.date);
    EXPECT_EQ(packed & 0xFFFF, c.time);
    EXPECT_EQ(before, c.before_1980);
    DWORD back;
    ASSERT_TRUE(seconds_from_system_time(&st, &back));
    EXPECT_EQ(back, c.t);
  }
}

TEST_F(TimeTest, EveryOddSecondSurvivesTheRoundTrip) {
  for (uint64_t t = 1; t <= 0xFFFFFFFFull; t += 7919 * 2) {  // odd values spread over the range
    SYSTEMTIME st;
    system_time_from_seconds((DWORD)t, &st);
    DWORD back = 0;
    seconds_from_system_time(&st, &back);
    ASSERT_EQ(back, (DWORD)t);
  }
}

TEST_F(TimeTest, FileTimesAreExactAndFractionsTruncate) {
  FILETIME f;
  ASSERT_TRUE(file_time_from_seconds(0, &f));
  EXPECT_EQ(as_u64(f), 116444736000000000ull);
  file_time_from_seconds(1, &f);
  EXPECT_EQ(as_u64(f), 116444736010000000ull);
  file_time_from_seconds(4294967295u, &f);
  EXPECT_EQ(as_u64(f), 159394408950000000ull);
  DWORD t = 0;
  FILETIME almost_two = from_u64(116444736019999999ull);
  ASSERT_TRUE(seconds_from_file_time(&almost_two, &t));
  EXPECT_EQ(t, 1u);
}

TEST_F(TimeTest, Years1968And1969WrapAndOtherYearsAreRefused) {
  SYSTEMTIME st = {1968, 1, 1, 1, 0, 0, 0, 0};
  DWORD t = 0;
  ASSERT_TRUE(seconds_from_system_time(&st, &t));
  EXPECT_EQ(t, 4231808896u);
  st = {1969, 12, 0, 31, 23, 59, 59, 0};
  ASSERT_TRUE(seconds_from_system_time(&st, &t));
  EXPECT_EQ(t, 4294967295u);
  FILETIME zero = {0, 0};  // 1601-01-01: outside what the packed form holds
  t = 123;
  EXPECT_FALSE(seconds_from_file_time(&zero, &t));
  EXPECT_EQ(t, 123u);
  FILETIME huge = from_u64(1ull << 63);
  EXPECT_FALSE(seconds_from_file_time(&huge, &t));
}

TEST_F(TimeTest, TzCorrection) {
  struct {
    const char *tz;
    DWORD expected;
  } cases[] = {{nullptr, 1000000}, {"EST5EDT", 982000}, {"JST-9", 1032400}, {"GMT", 1000000},
               {"-", 1000000},     {"IST-5:30", 1018000}, {"+0530", 1000000u - 1908000u}};
  for (const auto &c : cases) {
    if (c.tz) setenv("TZ", c.tz, 1);
    else unsetenv("TZ");
    DWORD v = 1000000;
    apply_tz_correction(&v);
    EXPECT_EQ(v, c.expected) << (c.tz ? c.tz : "(none)");
  }
  setenv("TZ", "EST5", 1);
  DWORD zero = 0;
  apply_tz_correction(&zero);
  EXPECT_EQ(zero, 4294949296u);
  setenv("TZ", (std::string(100, 'A') + "5").c_str(), 1);  // does not fit the buffer: ignored
  DWORD v = 1000000;
  apply_tz_correction(&v);
  EXPECT_EQ(v, 1000000u);
}

TEST_F(TimeTest, ExistingFileTimes) {
  std::string file = dir + "/f.txt";
  write_text(file, "x");
  struct utimbuf times = {1000000007, 1000000007};
  utime(file.c_str(), &times);
  EXPECT_EQ(existing_file_seconds(file.c_str()), 1000000007u);
  EXPECT_EQ(existing_file_seconds(dir.c_str()), NEWEST_TIME);  // a directory does not open
  EXPECT_EQ(existing_file_seconds((dir + "/missing").c_str()), NEWEST_TIME);
  times = {-100000000, -100000000};  // 1966: older than any member
  utime(file.c_str(), &times);
  EXPECT_EQ(existing_file_seconds(file.c_str()), 0u);
}

}  // namespace
