#pragma once

#include "journal.h"
#include "ms_comm.h"
#include "pulse_clock.h"
#include "pulse_dispatch.h"
#include "reporter.h"

#include <QObject>
#include <QTimer>
#include <memory>

namespace dorq {

struct SessionOptions
{
    PortMap ports = defaultPortMap();
    PulseClock::NowSource now = systemNow;
    std::unique_ptr<SerialDevice> device; // the system's serial device when empty
    std::unique_ptr<Journal> journal;     // none when empty
};

// One run of the tool, whichever front end shows it: the pulse clock on its 10 ms timer,
// the serial component, the dispatch of presses and selections, and the journal.
class Session : public QObject
{
    Q_OBJECT
public:
    Session(SessionOptions options, PulseView &view, ErrorReporter &reporter,
            QObject *parent = nullptr);
    ~Session() override;

    // Both throw what failed (SerialError), after the press is logged and journaled.
    PressResult press(int index);
    void selectPort(int port);
    // Waits for the journal's rows to reach the disk: false when any was lost.
    bool finishJournal();

    MsComm &comm() { return m_comm; }
    // True once the clock has seen a second begin: from then on every tick field counts
    // from the start of its second.
    bool isReady() const { return m_secondsBegun >= 2; }

signals:
    void ready();
    // The open port failed between events; it is closed and the status asks for a port.
    void portLost(int number, const QString &text);

private:
    void onTick();

    ErrorReporter &m_reporter;
    PulseClock m_clock;
    MsComm m_comm;
    PulseDispatch m_dispatch;
    std::unique_ptr<Journal> m_journal;
    QTimer m_timer;
    int m_secondsBegun = 0;
};

} // namespace dorq
