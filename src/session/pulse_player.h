#pragma once

#include "pulse_program.h"
#include "session.h"

#include <QObject>
#include <QTimer>
#include <functional>
#include <vector>

namespace dorq {

// How long after their steps the lines went, in bins of 10 µs: a long program costs no
// more memory than a short one.
class Lateness
{
public:
    void add(std::int64_t us);
    std::int64_t count() const { return m_count; }
    // Nearest rank, p from 0 to 100, to the bin; the largest exactly.
    std::int64_t percentileUs(int p) const;
    std::int64_t maxUs() const { return m_max; }

private:
    static constexpr std::int64_t BinUs = 10, Bins = 10000; // beyond 100 ms, the last bin
    std::vector<std::uint32_t> m_bins = std::vector<std::uint32_t>(Bins + 1);
    std::int64_t m_count = 0, m_max = 0;
};

struct PlaySummary
{
    std::int64_t sent = 0;
    std::int64_t refused = 0;  // no port, or the line failed
    std::int64_t late = 0;     // sent, but not with the record of its step
    std::int64_t unplayed = 0; // the play was stopped before them
    std::int64_t skippedRows = 0;
    Lateness lateness; // of the true send time after the step's start, for presses sent

    bool allOnTheirSteps() const { return refused == 0 && late == 0 && unplayed == 0; }
};

// Plays a program on a session's clock: each press at its step, 2 ms past the step's start
// as the clock's own timer ticks, so that the record carries the step's tick. A press whose
// moment was missed goes at once, and counts late when its record is another than promised.
class PulsePlayer : public QObject
{
    Q_OBJECT
public:
    // The wall clock in µs since 1970, and a wait until a moment on it, finer than a timer;
    // the system's when empty.
    struct Clock
    {
        std::function<std::int64_t()> nowUs;
        std::function<void(std::int64_t)> waitUntilUs;
    };

    PulsePlayer(Session &session, const PulseProgram &program, Clock clock = {});

    // From the beginning of the next whole second.
    void start();
    // The presses not yet made are not made; also before the start.
    void stop();
    // Makes every press whose moment has come; the timer calls it, and tests.
    void playDue();

    bool isPlaying() const { return m_playing; }
    std::int64_t startUs() const { return m_startUs; }
    const PlaySummary &summary() const { return m_summary; }
    // The record of a press made on its step.
    std::string promised(const ProgramPress &press) const;

signals:
    void pressed(const dorq::PressResult &result);
    void finished();

private:
    void onTimer();
    void arm(std::int64_t now);
    void account(const PressResult &result);
    std::int64_t momentOf(const ProgramPress &press) const;

    Session &m_session;
    std::int64_t m_presses;
    PulseProgram::Cursor m_cursor;
    Clock m_clock;
    QTimer m_timer;
    ProgramPress m_next;
    bool m_playing = false;
    std::int64_t m_startUs = 0;
    std::int64_t m_played = 0;
    PlaySummary m_summary;
};

} // namespace dorq
