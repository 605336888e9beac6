#include "pulse_clock.h"
#include "pulse_record.h"

#include <chrono>
#include <ctime>
#include <gtest/gtest.h>
#include <vector>

using namespace dorq;

namespace {

// A clock whose "now" the test moves by hand.
struct DrivenClock
{
    LocalSecond now = localSecond(2026, 12, 7, 10, 20, 30);
    PulseClock clock{[this] { return now; }};
};

} // namespace

TEST(PulseClock, StartsAtTheZeroDateTimeAndTheFirstTickTakesTheSecond)
{
    DrivenClock d;
    EXPECT_EQ(d.clock.read().secondStamp, ZeroDateTime);
    EXPECT_EQ(d.clock.read().tickCount, 0);
    EXPECT_EQ(d.clock.timeOfDayText(), "00:00:00");

    EXPECT_TRUE(d.clock.tick());
    EXPECT_EQ(d.clock.read().secondStamp, d.now);
    EXPECT_EQ(d.clock.read().tickCount, 0);
    EXPECT_EQ(d.clock.timeOfDayText(), "10:20:30");
}

TEST(PulseClock, CountsTicksWithinOneSecondAndReportsNoChange)
{
    DrivenClock d;
    d.clock.tick();
    for (int i = 0; i < 150; ++i)
        EXPECT_FALSE(d.clock.tick());
    EXPECT_EQ(d.clock.read().tickCount, 150);
    EXPECT_EQ(buildRecord("1", d.clock.read()), "1  10:20:30.50");
}

TEST(PulseClock, EveryChangeOfSecondResetsTheCount)
{
    struct Jump
    {
        const char *what;
        LocalSecond to;
        const char *text;
    };
    const LocalSecond start = localSecond(2026, 12, 7, 23, 59, 59);
    const std::vector<Jump> jumps = {
        {"next second", localSecond(2026, 12, 8, 0, 0, 0), "00:00:00"},
        {"clock set back an hour", localSecond(2026, 12, 7, 22, 59, 59), "22:59:59"},
        {"same time, next day", localSecond(2026, 12, 8, 23, 59, 59), "23:59:59"},
        {"same time, a year back", localSecond(2025, 12, 7, 23, 59, 59), "23:59:59"},
    };
    for (const Jump &jump : jumps) {
        SCOPED_TRACE(jump.what);
        DrivenClock d;
        d.now = start;
        d.clock.tick();
        d.clock.tick();
        d.clock.tick();
        ASSERT_EQ(d.clock.read().tickCount, 2);

        d.now = jump.to;
        EXPECT_TRUE(d.clock.tick());
        EXPECT_EQ(d.clock.read().tickCount, 0) << "the tick that sees a new second counts 0";
        EXPECT_EQ(d.clock.timeOfDayText(), jump.text);
        EXPECT_FALSE(d.clock.tick());
        EXPECT_EQ(d.clock.read().tickCount, 1);
    }
}

TEST(PulseClock, CountSaturatesInsteadOfOverflowing)
{
    DrivenClock d;
    d.clock.tick();
    d.clock.setReading({d.now, 2147483646});
    d.clock.tick();
    d.clock.tick();
    d.clock.tick();
    EXPECT_EQ(d.clock.read().tickCount, 2147483647);
    EXPECT_EQ(buildRecord("2", d.clock.read()), "2  10:20:30.47");
}

TEST(PulseClock, TimeOfDayTextCoversTheWholeDay)
{
    EXPECT_EQ(timeOfDayText(localSecond(2026, 1, 1, 0, 0, 0)), "00:00:00");
    EXPECT_EQ(timeOfDayText(localSecond(2026, 1, 1, 9, 5, 7)), "09:05:07");
    EXPECT_EQ(timeOfDayText(localSecond(2026, 1, 1, 23, 59, 59)), "23:59:59");
    // Calendar arithmetic: adjacent days across month, year and leap-day borders.
    EXPECT_EQ(localSecond(2024, 3, 1, 0, 0, 0).day - localSecond(2024, 2, 28, 0, 0, 0).day, 2);
    EXPECT_EQ(localSecond(2027, 1, 1, 0, 0, 0).day - localSecond(2026, 12, 31, 0, 0, 0).day, 1);
    EXPECT_EQ(localSecond(1970, 1, 1, 0, 0, 0).day, 0);
}

TEST(PulseClock, SystemNowTurnsWithTheSecond)
{
    using namespace std::chrono;
    // Right after the wall clock passes a whole second, "now" must already read the new one.
    for (int boundary = 0; boundary < 3; ++boundary) {
        const auto start = floor<seconds>(system_clock::now());
        while (floor<seconds>(system_clock::now()) == start) {
        }
        const LocalSecond now = systemNow();
        const LocalSecond expected = [&] {
            const std::time_t t = system_clock::to_time_t(start + seconds(1));
            std::tm local{};
#ifdef _WIN32
            localtime_s(&local, &t);
#else
            localtime_r(&t, &local);
#endif
            return localSecond(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                               local.tm_min, local.tm_sec);
        }();
        EXPECT_EQ(now.secondOfDay, expected.secondOfDay) << "boundary " << boundary;
    }
}

TEST(PulseClock, SystemNowIsAPlausibleLocalTime)
{
    const LocalSecond a = systemNow();
    EXPECT_GE(a.secondOfDay, 0);
    EXPECT_LT(a.secondOfDay, 86400);
    EXPECT_GT(a.day, localSecond(2020, 1, 1, 0, 0, 0).day);
    EXPECT_NE(a, ZeroDateTime);
}
