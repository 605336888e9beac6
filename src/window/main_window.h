#pragma once

#include "error_reporter.h"
#include "ms_comm.h"
#include "pulse_clock.h"
#include "pulse_dispatch.h"
#include "pulse_log_model.h"

#include <QTimer>
#include <QWidget>
#include <array>
#include <memory>

class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTableView;

namespace dorq {

struct WindowOptions
{
    PortMap ports = defaultPortMap();
    PulseClock::NowSource now = systemNow;
    std::unique_ptr<SerialDevice> device; // the system's serial device when empty
    ErrorReporter *reporter = nullptr;    // a message box when empty
};

// Form1: the one window. It owns the clock, the serial component and the controls, and
// routes the four events (tick, channel press, COM1, COM2) to the logic.
class MainWindow : public QWidget, private PulseView
{
    Q_OBJECT
public:
    using Options = WindowOptions;

    explicit MainWindow(Options options = Options());
    ~MainWindow() override;

    QPushButton *channelButton(int index) const { return m_command.at(std::size_t(index)); }
    const PulseLogModel &log() const { return m_log; }
    MsComm &comm() { return m_comm; }

private:
    void buildControls();
    void setTabOrder();
    void fitFonts();
    void clearPortChoice();
    void onPortLost(int number, const QString &text);
    void failed(int number, const QString &text);
    // Runs one event's handler to its end or to the step that failed; a failure goes to
    // the operator and the program carries on.
    template <typename Handler> void handle(Handler &&handler);

    void insertLogRecord(const std::string &record) override;
    void setLastLine(const QString &text) override;
    void setStatus(const QString &text) override;
    void setClockText(const QString &text) override;

    std::unique_ptr<ErrorReporter> m_ownReporter;
    ErrorReporter *m_reporter;
    PulseClock m_clock;
    MsComm m_comm;
    PulseDispatch m_dispatch;
    PulseLogModel m_log;
    QTimer m_timer;

    QLabel *m_label2 = nullptr;
    QLabel *m_label4 = nullptr;
    QLineEdit *m_text1 = nullptr;
    QTableView *m_grid = nullptr;
    std::array<QRadioButton *, 2> m_option{};
    std::array<QPushButton *, 8> m_command{};
};

} // namespace dorq
