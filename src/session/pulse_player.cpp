#include "pulse_record.h"
#include "session.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace dorq {

namespace {

using namespace std::chrono;

constexpr std::int64_t TickUs = 10000;
// The clock's timer ticks this far past each step's start: the step is counted from then.
constexpr std::int64_t TickMarginUs = 2000;
// The timer wakes this much before a press; the rest is waited finer than a timer can.
constexpr std::int64_t WakeEarlyUs = 2000;
// Missed presses go at once, so many at a time, then the event loop has its turn: a
// signal still ends the run at once.
constexpr int MaxBurst = 64;

std::int64_t microsecondsOf(system_clock::time_point at)
{
    return duration_cast<microseconds>(at.time_since_epoch()).count();
}

} // namespace

void Lateness::add(std::int64_t us)
{
    ++m_bins[std::size_t(std::clamp<std::int64_t>(us / BinUs, 0, Bins))];
    m_max = m_count++ ? std::max(m_max, us) : us;
}

std::int64_t Lateness::percentileUs(int p) const
{
    if (m_count == 0)
        return 0;
    if (p >= 100)
        return m_max;
    const std::int64_t rank = std::max<std::int64_t>(1, (m_count * p + 99) / 100);
    std::int64_t seen = 0;
    for (std::size_t bin = 0; bin < m_bins.size(); ++bin)
        if ((seen += m_bins[bin]) >= rank)
            return std::min(std::int64_t(bin) * BinUs, m_max);
    return m_max;
}

PulsePlayer::PulsePlayer(Session &session, const PulseProgram &program, Clock clock)
    : m_session(session), m_presses(program.presses()), m_cursor(program.cursor()),
      m_clock(std::move(clock)), m_timer(this)
{
    if (!m_clock.nowUs)
        m_clock.nowUs = [] { return microsecondsOf(system_clock::now()); };
    if (!m_clock.waitUntilUs)
        m_clock.waitUntilUs = [](std::int64_t us) {
            std::this_thread::sleep_until(system_clock::time_point(microseconds(us)));
        };
    m_summary.skippedRows = program.skippedRows();
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &PulsePlayer::onTimer);
}

void PulsePlayer::start()
{
    const std::int64_t now = m_clock.nowUs();
    m_startUs = (now / 1000000 + 1) * 1000000;
    m_playing = true;
    if (!m_cursor.next(m_next)) {
        m_playing = false;
        emit finished();
        return;
    }
    arm(now);
}

void PulsePlayer::stop()
{
    m_timer.stop();
    m_playing = false;
    m_summary.unplayed = m_presses - m_played;
}

std::int64_t PulsePlayer::momentOf(const ProgramPress &press) const
{
    return m_startUs + press.at * TickUs + TickMarginUs;
}

std::string PulsePlayer::promised(const ProgramPress &press) const
{
    const std::int64_t second = m_startUs / 1000 + press.at / TicksPerSecond * 1000;
    return buildRecord(std::to_string(press.channel),
                       {localSecondAt(second), press.at % TicksPerSecond});
}

void PulsePlayer::playDue()
{
    std::int64_t now = m_clock.nowUs();
    for (int burst = 0; m_playing && momentOf(m_next) <= now; ++burst) {
        if (burst == MaxBurst)
            return m_timer.start(0);
        const PressResult result = m_session.press(m_next.channel - 1);
        account(result);
        const bool more = m_cursor.next(m_next);
        if (!more)
            m_playing = false;
        emit pressed(result); // which may stop the play
        if (!more)
            return emit finished();
        now = m_clock.nowUs();
    }
    if (m_playing)
        arm(now);
}

void PulsePlayer::account(const PressResult &result)
{
    ++m_played;
    if (result.outcome != PressResult::Outcome::Sent) {
        ++m_summary.refused;
        return;
    }
    ++m_summary.sent;
    m_summary.lateness.add(microsecondsOf(result.at) - (m_startUs + m_next.at * TickUs));
    if (result.record != promised(m_next))
        ++m_summary.late;
}

void PulsePlayer::arm(std::int64_t now)
{
    const std::int64_t wake = momentOf(m_next) - WakeEarlyUs;
    m_timer.start(int(std::clamp<std::int64_t>((wake - now) / 1000, 0, 24 * 3600 * 1000)));
}

void PulsePlayer::onTimer()
{
    const std::int64_t now = m_clock.nowUs();
    const std::int64_t moment = momentOf(m_next);
    if (moment - now > 2 * WakeEarlyUs)
        return arm(now); // woken early, as coarse timers do
    if (moment > now)
        m_clock.waitUntilUs(moment);
    playDue();
}

} // namespace dorq
