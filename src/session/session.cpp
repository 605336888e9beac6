#include "session.h"

#include "journal_messages.h"
#include "port_selection.h"
#include "pulse_record.h"

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

Session::Session(SessionOptions options, QObject *parent)
    : QObject(parent), m_clock(std::move(options.now)),
      m_comm(std::move(options.ports),
             options.device ? std::move(options.device) : makeSystemSerialDevice()),
      m_journal(std::move(options.journal)), m_timer(this)
{
    if (m_journal)
        m_journal->onFailure([this](const JournalFailure &failure) {
            report(failure.number, journalFailureText(failure));
        });
    connect(&m_comm, &MsComm::portLost, this, &Session::portLost);

    m_timer.setObjectName(QStringLiteral("Timer1"));
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &Session::onTimer);
    m_timer.start(msToNextTick());
}

Session::~Session()
{
    m_comm.setPortOpen(false); // before the journal goes, which syncs what it wrote
}

PressResult Session::press(int index)
{
    PressResult result;
    result.record = buildRecord(std::to_string(index + 1), m_clock.read());
    if (m_comm.portOpen()) {
        result.port = m_comm.commPort();
        result.device = m_comm.deviceName();
        try {
            m_comm.setOutput(QByteArray::fromStdString(lineForm(result.record)));
            result.outcome = PressResult::Outcome::Sent;
        } catch (const SerialError &e) {
            result.outcome = PressResult::Outcome::Failed;
            result.error = e.error();
        }
    }
    result.at = std::chrono::system_clock::now();
    result.portOpen = m_comm.portOpen();
    if (m_journal)
        m_journal->pressed(result);
    return result;
}

bool Session::finishJournal()
{
    return !m_journal || m_journal->finish();
}

SelectResult Session::selectPort(int port)
{
    SelectResult result;
    result.port = port;
    try {
        result.status = dorq::selectPort(m_comm, port);
    } catch (const SerialError &e) {
        result.error = e.error();
        if (result.error->device.isEmpty())
            result.error->device = m_comm.deviceName(port);
    }
    return result;
}

bool Session::tick()
{
    if (!m_clock.tick())
        return false;
    emit clockTextChanged(clockText());
    return true;
}

QString Session::clockText() const
{
    return QString::fromLatin1(m_clock.timeOfDayText());
}

void Session::onTimer()
{
    // The first tick takes the second from nothing; the next new second is a real one.
    if (tick() && m_secondsBegun < 2 && ++m_secondsBegun == 2)
        emit ready();
    m_timer.start(msToNextTick());
}

void Session::report(int number, const QString &text)
{
    emit journalFailed(number, text);
}

} // namespace dorq
