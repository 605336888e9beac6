#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <string>

namespace dorq {

// A local date and time to the whole second. Date and time of day are compared together,
// so the same time of day on another date is another second.
struct LocalSecond
{
    std::int64_t day = 0; // days since 1970-01-01 in the local calendar
    std::int32_t secondOfDay = 0;

    friend bool operator==(const LocalSecond &a, const LocalSecond &b)
    {
        return a.day == b.day && a.secondOfDay == b.secondOfDay;
    }
    friend bool operator!=(const LocalSecond &a, const LocalSecond &b) { return !(a == b); }
};

// No reading of the system clock lands on this day; its time of day is midnight.
constexpr LocalSecond ZeroDateTime{std::numeric_limits<std::int64_t>::min(), 0};

LocalSecond localSecond(int year, int month, int dayOfMonth, int hour, int minute, int second);
// The wall clock, in milliseconds since 1970 (UTC), and the local second it falls in.
std::int64_t systemMs();
LocalSecond localSecondAt(std::int64_t msSinceEpoch);
LocalSecond systemNow();

// "hh:mm:ss", hours 00 to 23.
std::string timeOfDayText(const LocalSecond &second);

struct ClockReading
{
    LocalSecond secondStamp = ZeroDateTime;
    std::int32_t tickCount = 0;
};

class PulseClock
{
public:
    using NowSource = std::function<LocalSecond()>;

    // Empty `now`: a clock only ever ticked with tickAt().
    explicit PulseClock(NowSource now = systemNow);

    // Returns true when this tick saw a new second: only then does the clock text change.
    bool tick() { return tickAt(m_now()); }
    // The same, with `now` read elsewhere.
    bool tickAt(const LocalSecond &now);

    // Ticks that were due but came late, counted as if handled on time; a negative count
    // takes back ticks that counted nothing. Stays within 0 and the largest count.
    void addTicks(int count);

    ClockReading read() const { return m_reading; }
    std::string timeOfDayText() const { return dorq::timeOfDayText(m_reading.secondStamp); }

    // Starts the count elsewhere than zero, so that long runs can be tested without waiting.
    void setReading(const ClockReading &reading) { m_reading = reading; }

private:
    NowSource m_now;
    ClockReading m_reading;
};

} // namespace dorq
