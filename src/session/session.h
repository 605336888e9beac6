#pragma once

#include "journal.h"
#include "ms_comm.h"
#include "press_result.h"
#include "pulse_clock.h"
#include "pulse_program.h"

#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>

namespace dorq {

struct SessionOptions
{
    PortMap ports = defaultPortMap();
    // The wall clock in ms since 1970; the system's when empty. The pulse clock takes its
    // second from it, and timer steps missed under load are counted by it.
    std::function<std::int64_t()> wallMs;
    // A clock of the tests' own, ticked by hand: only the ticks delivered count.
    PulseClock::NowSource now;
    // Makes the serial line, and lines to try a device on; the system's when empty.
    std::function<std::unique_ptr<SerialDevice>()> devices;
    std::unique_ptr<Journal> journal; // none when empty
};

// One run of the tool, whichever front end shows it: the pulse clock on its 10 ms timer, the
// serial component, and the journal. Presses and selections return what they did; what
// arrives on its own (a new second, a lost port, a journal that cannot be written) is a signal.
class Session : public QObject
{
    Q_OBJECT
public:
    explicit Session(SessionOptions options, QObject *parent = nullptr);
    ~Session() override;

    // Index 0 to 7: "Kanaal 1" to "Kanaal 8". Journaled whatever became of it.
    PressResult press(int index);
    SelectResult selectPort(int port);
    // Points the port at another device, once the device has opened: the open port moves
    // there at once, another is tried and closed again. On failure the earlier device stays,
    // and an open port is opened there again.
    SelectResult setDevice(int port, const QString &device);
    // Points it there untried, as the user insists (an adapter not plugged in yet).
    void keepDevice(int port, const QString &device) { m_comm->setPortDevice(port, device); }
    void closePort() { m_comm->setPortOpen(false); }
    // The open port, 0 for none.
    int openPort() const { return m_comm->portOpen() ? m_comm->commPort() : 0; }
    QString portDevice(int port) const { return m_comm->portDevice(port); } // as named
    QString devicePath(int port) const { return m_comm->deviceName(port); } // in full

    // The end of the journal: no more rows; whether all are settled and its files have
    // finished; waiting at most `ms` for its rows to reach the disk (false when any was lost
    // or anything failed), and what was lost.
    void closeJournal();
    bool journalEnded();
    bool finishJournal(int ms = Journal::FinishMs);
    std::optional<Error> journalLoss() const;

    // One tick of the clock, as its timer gives them: true when a new second began.
    bool tick();
    QString clockText() const;
    // True once the clock has seen a second begin: from then on every tick field counts
    // from the start of its second.
    bool isReady() const { return m_secondsBegun >= 2; }

signals:
    void ready();
    void clockTextChanged(const QString &text);
    // The open port failed between events; it is closed.
    void portLost(const dorq::Error &error);
    // A journal row could not be written, told once until a row goes through again; or the
    // file was replaced (kind Replaced), told each time.
    void journalFailed(const dorq::Error &error);
    // Something the user should know that stopped nothing (a port's lock file not believed).
    void notice(const dorq::Error &notice);

private:
    void onTimer();
    bool tickAt(std::int64_t wall);
    bool announced(bool newSecond);
    std::int64_t readingMs() const;
    void counted(bool newSecond);
    void schedule(std::int64_t now, int delay);
    void takeDueTicks();
    void catchUp(std::int64_t now);

    bool m_steered; // a test's wall clock, which then also says when a line went
    std::function<std::int64_t()> m_wallMs;
    bool m_catchUp; // the clock reads the wall clock, which says which steps were missed
    PulseClock m_clock;
    std::function<std::unique_ptr<SerialDevice>()> m_devices;
    MsComm *m_comm; // a child, "MSComm1", found like the window's controls
    std::unique_ptr<Journal> m_journal;
    QTimer m_timer;
    std::int64_t m_dueAt = 0;       // the next tick's moment on the wall clock, in ms
    std::int64_t m_secondBegan = 0; // where the clock's second began on the wall clock
    int m_secondsBegun = 0;
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
