#pragma once

#include "journal.h"
#include "ms_comm.h"
#include "press_result.h"
#include "pulse_clock.h"
#include "serial_error.h"

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

// One run of the tool, whichever front end shows it: the pulse clock on its 10 ms timer, the
// serial component, and the journal. Presses and selections return what they did; what
// arrives on its own (a new second, a lost port, a journal that cannot be written) is a signal.
class Session : public QObject
{
    Q_OBJECT
public:
    explicit Session(SessionOptions options, QObject *parent = nullptr);
    ~Session() override;

    // Index 0 to 7: "Kanaal 1" to "Kanaal 8". Logged and journaled whatever became of it.
    PressResult press(int index);
    SelectResult selectPort(int port);
    // Waits for the journal's rows to reach the disk: false when any was lost.
    bool finishJournal();

    // One tick of the clock, as its timer gives them: true when a new second began.
    bool tick();
    QString clockText() const;

    MsComm &comm() { return m_comm; }
    // True once the clock has seen a second begin: from then on every tick field counts
    // from the start of its second.
    bool isReady() const { return m_secondsBegun >= 2; }

signals:
    void ready();
    void clockTextChanged(const QString &text);
    // The open port failed between events; it is closed.
    void portLost(const dorq::Error &error);
    // A journal row could not be written; told once until a row goes through again.
    void journalFailed(int number, const QString &text);

private:
    void onTimer();
    void counted(bool newSecond);
    void schedule(qint64 now, int delay);
    void takeDueTicks();
    void catchUp(qint64 now);

    bool m_catchUp; // the clock is the system's
    PulseClock m_clock;
    MsComm m_comm;
    std::unique_ptr<Journal> m_journal;
    QTimer m_timer;
    qint64 m_dueAt = 0; // the next tick's moment on the wall clock, in ms
    int m_secondsBegun = 0;
};

} // namespace dorq
