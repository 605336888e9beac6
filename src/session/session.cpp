#include "session.h"

#include "journal_messages.h"
#include "serial_error.h"

#include <QDateTime>

namespace dorq {

namespace {

// Every 10 ms, two milliseconds past each 10 ms step of the wall clock. A free-running
// timer's phase bears no relation to the second, which would add up to 10 ms of lag to
// every record; in step, the tick that sees a new second comes right after it. Timers may
// fire a little early: the margin keeps such a tick in the new second, and the minimum
// delay keeps it from being followed by a second tick in the same step.
int msToNextTick()
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const int delay = int(10 - (now - 2) % 10);
    return delay <= 2 ? delay + 10 : delay;
}

} // namespace

Session::Session(SessionOptions options, PulseView &view, ErrorReporter &reporter, QObject *parent)
    : QObject(parent), m_reporter(reporter), m_clock(std::move(options.now)),
      m_comm(std::move(options.ports),
             options.device ? std::move(options.device) : makeSystemSerialDevice()),
      m_dispatch(m_clock, m_comm, view), m_journal(std::move(options.journal)), m_timer(this)
{
    if (m_journal) {
        m_journal->onFailure([this](const JournalFailure &failure) {
            m_reporter.report(failure.number, journalFailureText(failure));
        });
        m_dispatch.setListener(m_journal.get());
    }
    connect(&m_comm, &MsComm::portLost, this, [this](int number, const QString &text) {
        m_dispatch.portLost();
        emit portLost(number, text);
    });

    m_timer.setObjectName(QStringLiteral("Timer1"));
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &Session::onTick);
    m_timer.start(msToNextTick());
}

Session::~Session()
{
    m_dispatch.setListener(nullptr);
    m_comm.setPortOpen(false); // before the journal goes, which syncs what it wrote
}

PressResult Session::press(int index)
{
    return m_dispatch.channelPress(index);
}

bool Session::finishJournal()
{
    return !m_journal || m_journal->finish();
}

void Session::selectPort(int port)
{
    m_dispatch.selectPort(port);
}

void Session::onTick()
{
    try {
        // The first tick takes the second from nothing; the next new second is a real one.
        if (m_dispatch.tick() && m_secondsBegun < 2 && ++m_secondsBegun == 2)
            emit ready();
    } catch (const std::exception &e) {
        m_reporter.report(ErrorNumber::Internal, QString::fromLocal8Bit(e.what()));
    }
    m_timer.start(msToNextTick());
}

} // namespace dorq
