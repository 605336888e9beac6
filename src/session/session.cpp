#include "session.h"

#include "pulse_record.h"

#include <algorithm>

namespace dorq {

namespace {

// Every 10 ms, two milliseconds past each 10 ms step of the wall clock. A free-running
// timer's phase bears no relation to the second, which would add up to 10 ms of lag to
// every record; in step, the tick that sees a new second comes right after it. Timers may
// fire a little early: the margin keeps such a tick in the new second, and the minimum
// delay keeps it from being followed by a second tick in the same step.
int msToNextTick(std::int64_t now)
{
    const int delay = int(10 - (now - 2) % 10);
    return delay <= 2 ? delay + 10 : delay;
}

// Steps of the timer, 2 ms past each 10 ms, in [from, to].
std::int64_t stepsBetween(std::int64_t from, std::int64_t to)
{
    const auto stepsUpTo = [](std::int64_t ms) { return (ms + 8) / 10; }; // at or before ms
    return to < from ? 0 : stepsUpTo(to) - stepsUpTo(from - 1);
}

} // namespace

Session::Session(SessionOptions options, QObject *parent)
    : QObject(parent), m_steered(bool(options.wallMs)),
      m_wallMs(options.wallMs ? std::move(options.wallMs) : systemMs),
      // On a wall clock, each tick hands the pulse clock its second: tickAt().
      m_catchUp(!options.now), m_clock(std::move(options.now)),
      m_devices(options.devices ? std::move(options.devices) : makeSystemSerialDevice),
      m_comm(new MsComm(std::move(options.ports), m_devices(), this)),
      m_journal(std::move(options.journal)), m_timer(this)
{
    if (m_journal)
        m_journal->onFailure([this](const Error &failure) { emit journalFailed(failure); });
    connect(m_comm, &MsComm::portLost, this, &Session::portLost);
    connect(m_comm, &MsComm::notice, this, &Session::notice);

    m_timer.setObjectName(QStringLiteral("Timer1"));
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &Session::onTimer);
    const std::int64_t now = m_wallMs();
    schedule(now, msToNextTick(now));
}

Session::~Session()
{
    m_comm->setPortOpen(false); // before the journal goes, which syncs what it wrote
}

PressResult Session::press(int index)
{
    takeDueTicks();
    PressResult result;
    result.record = buildRecord(std::to_string(index + 1), m_clock.read());
    if (m_comm->portOpen()) {
        result.port = m_comm->commPort();
        result.device = m_comm->deviceName();
        try {
            m_comm->setOutput(QByteArray::fromStdString(lineForm(result.record)));
            result.outcome = PressResult::Outcome::Sent;
        } catch (const SerialError &e) {
            result.outcome = PressResult::Outcome::Failed;
            result.error = e.error();
        }
    }
    result.at = m_steered
                    ? std::chrono::system_clock::time_point(std::chrono::milliseconds(m_wallMs()))
                    : std::chrono::system_clock::now();
    result.portOpen = m_comm->portOpen();
    if (m_journal)
        m_journal->pressed(result);
    return result;
}

void Session::closeJournal()
{
    if (m_journal)
        m_journal->closeInput();
}

bool Session::journalEnded()
{
    return !m_journal || m_journal->ended();
}

bool Session::finishJournal(int ms)
{
    return !m_journal || m_journal->finish(ms);
}

std::optional<Error> Session::journalLoss() const
{
    return m_journal ? m_journal->loss() : std::nullopt;
}

SelectResult Session::selectPort(int port)
{
    try {
        dorq::selectPort(*m_comm, port);
        return {port, std::nullopt};
    } catch (const SerialError &e) {
        return {0, e.error()};
    }
}

SelectResult Session::setDevice(int port, const QString &device)
{
    const QString earlier = m_comm->portDevice(port);
    const bool wasOpen = openPort() == port;
    m_comm->setPortDevice(port, device);
    SelectResult result;
    if (wasOpen) {
        result = selectPort(port);
    } else {
        // On a line of its own, closed again at once: the open port stays as it is.
        try {
            MsComm trial({{port, device}}, m_devices());
            connect(&trial, &MsComm::notice, this, &Session::notice);
            dorq::selectPort(trial, port);
        } catch (const SerialError &e) {
            result.error = e.error();
        }
        result.port = openPort();
    }
    if (result.error) {
        m_comm->setPortDevice(port, earlier);
        if (wasOpen)
            result.port = selectPort(port).port; // back where it was, where it still opens
    }
    return result;
}

bool Session::tick()
{
    return m_catchUp ? tickAt(m_wallMs()) : announced(m_clock.tick());
}

// A tick at `wall` on the wall clock. Set back by less than a second, the wall clock lies
// behind the last record: the records hold at its time until the wall clock reaches the
// step after it, so that the mechanism never sees time run back, nor a count run past the
// second it is in. A second or more back, a new second begins.
bool Session::tickAt(std::int64_t wall)
{
    const std::int64_t reading = readingMs();
    if (wall < reading + 10 && reading - wall < 1000)
        return false;
    const bool newSecond = m_clock.tickAt(localSecondAt(wall));
    if (newSecond)
        m_secondBegan = wall - (wall % 1000 + 1000) % 1000;
    return announced(newSecond);
}

bool Session::announced(bool newSecond)
{
    if (newSecond)
        emit clockTextChanged(clockText());
    return newSecond;
}

// The moment on the wall clock that the clock's reading stands for.
std::int64_t Session::readingMs() const
{
    return m_secondBegan + 10 * std::int64_t(m_clock.read().tickCount);
}

QString Session::clockText() const
{
    return QString::fromLatin1(m_clock.timeOfDayText());
}

void Session::onTimer()
{
    const std::int64_t now = m_wallMs();
    if (!m_catchUp || now < m_dueAt - 2) {
        counted(tick()); // a clock of the tests' own, or the wall clock was set back
        return schedule(now, msToNextTick(now));
    }
    if (now >= m_dueAt + 10)
        return catchUp(now); // late by a step or more: stopped, or the machine was busy
    // This tick is the one due, even when it came late: the next one stays in step.
    counted(tick());
    schedule(now, int(m_dueAt + 10 - now));
}

void Session::counted(bool newSecond)
{
    // The first tick takes the second from nothing; the next new second is a real one.
    if (newSecond && m_secondsBegun < 2 && ++m_secondsBegun == 2)
        emit ready();
}

void Session::schedule(std::int64_t now, int delay)
{
    m_dueAt = now + delay;
    m_timer.start(delay);
}

void Session::takeDueTicks()
{
    if (!m_catchUp || !m_timer.isActive())
        return; // tests that tick by hand take the timer off
    if (const std::int64_t now = m_wallMs(); now >= m_dueAt)
        catchUp(now);
}

// Steps the timer missed, while input kept the event loop busy or the process was stopped,
// still count, each in the second it fell in: a press then carries the count the clock
// would have had, not one that stopped with the timer. The clock is read once; the other
// steps of the current second are added to its count. Only a wall clock has the
// milliseconds that say in which second a step fell.
void Session::catchUp(std::int64_t now)
{
    counted(tickAt(now));
    // A second that turned during the read leaves unsure which one it saw: read again. A
    // read that finds the second the one before already saw counts no step of its own.
    int rereads = 0;
    for (std::int64_t after; (after = m_wallMs()) / 1000 != now / 1000; now = after) {
        const bool newSecond = tickAt(after);
        counted(newSecond);
        rereads += !newSecond;
    }
    // Held behind a clock set back, no step counts.
    if (now >= readingMs()) {
        const std::int64_t missed = stepsBetween(std::max(m_dueAt, now - now % 1000), now);
        m_clock.addTicks(int(std::clamp<std::int64_t>(missed - 1, 0, 100)) - rereads);
    }
    schedule(now, int(10 - (now - 2) % 10)); // every step up to now is counted
}

} // namespace dorq
