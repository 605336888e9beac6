#pragma once

#include "error_reporter.h"
#include "port_choice.h"
#include "pulse_log_model.h"
#include "session.h"

#include <QWidget>
#include <array>
#include <memory>

class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTableView;

namespace dorq {

class LogActions;
class PortMenu;

struct WindowOptions
{
    PortChoice ports;
    PulseClock::NowSource now = systemNow;
    std::unique_ptr<SerialDevice> device; // the system's serial device when empty
    std::unique_ptr<Journal> journal;     // none when empty
    ErrorReporter *reporter = nullptr;    // a message box when empty
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

    // Waits for the journal's last rows: false when any was lost. Told on standard error.
    bool finishJournal();

    QPushButton *channelButton(int index) const { return m_command.at(std::size_t(index)); }
    const PulseLogModel &log() const { return m_log; }
    MsComm &comm() { return m_session->comm(); }
    const LogActions &logActions() const { return *m_logActions; }
    PortMenu &portMenu() { return *m_portMenu; }

private:
    void buildControls();
    void setTabOrder();
    void clearPortChoice();
    void showPress(const PressResult &result);
    void showSelection(const SelectResult &result);
    void showNoPort();
    void failed(const Error &error);

    std::unique_ptr<ErrorReporter> m_ownReporter;
    ErrorReporter *m_reporter;
    PortChoice m_ports;
    PulseLogModel m_log;
    Session *m_session; // a child, so that its timer "Timer1" is found like the controls

    QLabel *m_label2 = nullptr;
    QLabel *m_label4 = nullptr;
    QLineEdit *m_text1 = nullptr;
    QTableView *m_grid = nullptr;
    std::array<QRadioButton *, 2> m_option{};
    std::array<QPushButton *, 8> m_command{};
    LogActions *m_logActions = nullptr;
    PortMenu *m_portMenu = nullptr;
};

} // namespace dorq
