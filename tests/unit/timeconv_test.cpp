// Time conversions: chosen values worked out by hand and converted both
// ways, the edges of the range, the TZ correction and an existing file's time.
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
    {31535999, 1970, 12, 31, 23, 59, 59, 4, 0x019F, 0xBF7D, 10},
    {63072000, 1972, 1, 1, 0, 0, 0, 6, 0x0021, 0x0000, 8},
    {315532799, 1979, 12, 31, 23, 59, 59, 1, 0x019F, 0xBF7D, 1},
    {315532800, 1980, 1, 1, 0, 0, 0, 2, 0x0021, 0x0000, 0},
    {951782400, 2000, 2, 29, 0, 0, 0, 2, 0x285D, 0x0000, 0},
    {2147483648u, 2038, 1, 19, 3, 14, 8, 2, 0x7433, 0x19C4, 0},
    {4107456000u, 2100, 2, 28, 0, 0, 0, 0, 0xF05C, 0x0000, 0},
    {4107542400u, 2100, 3, 1, 0, 0, 0, 1, 0xF061, 0x0000, 0},
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
    WORD before;
    DWORD packed = dos_date_time_from_seconds(c.t, &before);
    EXPECT_EQ(std::vector<DWORD>({st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wDayOfWeek,
                                  packed >> 16, packed & 0xFFFF, before}),
              std::vector<DWORD>({c.year, c.month, c.day, c.hour, c.minute, c.second, c.weekday, c.date, c.time,
                                  c.before_1980}));
    DWORD back;
    ASSERT_TRUE(seconds_from_system_time(&st, &back));
    EXPECT_EQ(back, c.t);
  }
}

// FILETIMEs are exact and their fractions truncate; 1968 and 1969 wrap
// below 1970, and what the packed form cannot hold is refused, unchanged.
TEST_F(TimeTest, FileTimesAndTheEdgesOfTheRange) {
  FILETIME f;
  const std::pair<DWORD, uint64_t> exact[] = {
      {0, 116444736000000000ull}, {1, 116444736010000000ull}, {4294967295u, 159394408950000000ull}};
  for (const auto &[t, filetime] : exact) {
    ASSERT_TRUE(file_time_from_seconds(t, &f));
    EXPECT_EQ(as_u64(f), filetime);
  }
  DWORD t = 0;
  f = from_u64(116444736019999999ull);
  ASSERT_TRUE(seconds_from_file_time(&f, &t));
  EXPECT_EQ(t, 1u);
  SYSTEMTIME st = {1968, 1, 1, 1, 0, 0, 0, 0};
  ASSERT_TRUE(seconds_from_system_time(&st, &t));
  EXPECT_EQ(t, 4231808896u);
  st = {1969, 12, 0, 31, 23, 59, 59, 0};
  ASSERT_TRUE(seconds_from_system_time(&st, &t));
  EXPECT_EQ(t, 4294967295u);
  for (uint64_t outside : {0ull, 1ull << 63}) {  // 1601-01-01, and far beyond 2107
    f = from_u64(outside);
    t = 123;
    EXPECT_FALSE(seconds_from_file_time(&f, &t));
    EXPECT_EQ(t, 123u);
  }
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
