#pragma once

#include "form.h"
#include "pulse_log_model.h"
#include "session.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>
#include <memory>

namespace dorq {

class LogActions;
class PortMenu;

struct WindowOptions
{
    SessionOptions session;
    ErrorReporter *reporter = nullptr; // message boxes when empty
    // Played from the next whole second once a port is open, its own or the one chosen;
    // the log fills as it plays.
    const PulseProgram *program = nullptr;
};

// Form1: the one window. It builds itself from the layout table, shows one run of the tool
// and routes the four events (tick, channel press, COM1, COM2) to it; the log's copy and
// save and the port menu on each option are classes of their own.
class MainWindow : public QWidget
{
    Q_OBJECT
public:
    using Options = WindowOptions;

    explicit MainWindow(Options options = Options());
    ~MainWindow() override;

    // Waits for the journal's last rows, once, at most `ms`: false when any was lost. What
    // it finds then goes to standard error, since no message box may wait for a click any more.
    bool finishJournal(int ms = Journal::FinishMs);
    // Ends at once, for a signal: the journal's last rows are waited for only a moment.
    void closeAtOnce();
    // Ends a program still playing and tells how it went, once, on standard error: false
    // when not every press of it went on its step.
    bool finishPlay();

    QPushButton *channelButton(int index) const { return m_form.command.at(std::size_t(index)); }
    const PulseLogModel &log() const { return m_log; }
    Session &session() { return *m_session; }
    const LogActions &logActions() const { return *m_logActions; }
    PortMenu &portMenu() { return *m_portMenu; }

protected:
    // Closed by the operator, the window waits a few seconds at most for the journal's last
    // rows, its clock still running, and says before it goes which rows did not get there.
    void closeEvent(QCloseEvent *event) override;

private:
    void journalEnding();
    void clearPortChoice();
    void showPress(const PressResult &result);
    void showSelection(const SelectResult &result);
    void showNoPort();
    void failed(const Error &error);
    void journalFailed(const Error &error);
    void playWhenOpen();
    void played(const PressResult &result);

    std::unique_ptr<ErrorReporter> m_ownReporter;
    ErrorReporter *m_reporter;
    PulseLogModel m_log;
    Session *m_session; // a child, so that its timer "Timer1" is found like the controls
    Form m_form;
    LogActions *m_logActions = nullptr;
    PortMenu *m_portMenu = nullptr;
    bool m_journalFinished = false;
    bool m_journaled = true;
    QTimer m_journalWait; // while closing: until the journal has ended, or FinishMs
    QElapsedTimer m_closing;
    std::unique_ptr<PulsePlayer> m_player;
    bool m_playStarted = false;
    bool m_playEnded = false;
};

} // namespace dorq
