#include "pulse_clock.h"

#include "system.h"

#include <algorithm>
#include <chrono>
#include <ctime>

namespace dorq {

namespace {

// Days from 1970-01-01 to a proleptic Gregorian date (H. Hinnant's days_from_civil).
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

} // namespace

LocalSecond localSecond(int year, int month, int dayOfMonth, int hour, int minute, int second)
{
    return {daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(dayOfMonth)),
            hour * 3600 + minute * 60 + second};
}

LocalSecond localSecondAt(std::int64_t msSinceEpoch)
{
    const std::int64_t seconds =
        msSinceEpoch >= 0 ? msSinceEpoch / 1000 : (msSinceEpoch - 999) / 1000;
    const std::tm local = toLocalTime(std::time_t(seconds));
    // A leap second would otherwise read as 24:00:00 at the end of the day.
    return localSecond(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                       local.tm_min, std::min(local.tm_sec, 59));
}

std::int64_t systemMs()
{
    // Not std::time(): on Linux it reads a coarse clock that turns to the next second up to
    // a few milliseconds late, and a tick in that gap would count to the old second.
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

LocalSecond systemNow()
{
    return localSecondAt(systemMs());
}

std::string timeOfDayText(const LocalSecond &second)
{
    const int s = second.secondOfDay;
    const int parts[3] = {s / 3600 % 24, s / 60 % 60, s % 60};
    std::string text = "00:00:00";
    for (int i = 0; i < 3; ++i) {
        text[static_cast<std::size_t>(i * 3)] = static_cast<char>('0' + parts[i] / 10);
        text[static_cast<std::size_t>(i * 3 + 1)] = static_cast<char>('0' + parts[i] % 10);
    }
    return text;
}

PulseClock::PulseClock(NowSource now) : m_now(std::move(now)) {}

bool PulseClock::tickAt(const LocalSecond &now)
{
    if (now != m_reading.secondStamp) {
        m_reading = {now, 0};
        return true;
    }
    // Saturate: an error here would repeat on every later tick of a stuck clock.
    if (m_reading.tickCount < std::numeric_limits<std::int32_t>::max())
        ++m_reading.tickCount;
    return false;
}

void PulseClock::addTicks(int count)
{
    const std::int64_t sum = std::int64_t(m_reading.tickCount) + count;
    m_reading.tickCount =
        std::int32_t(std::clamp<std::int64_t>(sum, 0, std::numeric_limits<std::int32_t>::max()));
}

} // namespace dorq
