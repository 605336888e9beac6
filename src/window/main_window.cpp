#include "main_window.h"

#include "channel_keys.h"
#include "layout_table.h"
#include "log_actions.h"
#include "port_menu.h"
#include "pulse_record.h"
#include "words.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>

namespace dorq {

MainWindow::MainWindow(Options options)
    : m_ownReporter(options.reporter ? nullptr : std::make_unique<MessageBoxReporter>(this)),
      m_reporter(options.reporter ? options.reporter : m_ownReporter.get()),
      m_session(new Session(std::move(options.session), this))
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QString::fromUtf8(FormCaption));
    setWindowIcon(QIcon(QStringLiteral(":/dorq-pulse.png")));
    setFixedSize(toPixels(FormWidth), toPixels(FormHeight));
    setFont(designFont(GridPointSize, false));
    m_form = buildForm(this, guideLocation(QCoreApplication::applicationDirPath()), *m_reporter);
    m_form.grid->setModel(&m_log);
    m_logActions = new LogActions(m_form.grid, m_log, *m_reporter);
    new ChannelKeys(this, m_form.command);

    for (int i = 0; i < 8; ++i)
        connect(channelButton(i), &QPushButton::clicked, this,
                [this, i] { showPress(m_session->press(i)); });
    for (int n = 1; n <= 2; ++n)
        connect(m_form.option[std::size_t(n - 1)], &QRadioButton::clicked, this,
                [this, n] { showSelection(m_session->selectPort(n)); });
    m_portMenu = new PortMenu(*m_session, *m_reporter, m_form.option, this);
    connect(m_portMenu, &PortMenu::reselected, this, &MainWindow::showSelection);
    // Where the design shows nothing yet.
    m_form.label2->setText(m_portMenu->rememberedChoices());
    connect(m_session, &Session::portLost, this, [this](const Error &error) {
        showNoPort();
        failed(error);
    });
    connect(m_session, &Session::journalFailed, this, &MainWindow::journalFailed);
    connect(m_session, &Session::clockTextChanged, m_form.label4, &QLabel::setText);
    connect(m_session, &Session::notice, this, [](const Error &notice) {
        writeStandardError(QStringLiteral("dorq-pulse: %1\n").arg(errorText(notice)));
    });
    m_journalWait.setInterval(5);
    connect(&m_journalWait, &QTimer::timeout, this, &MainWindow::journalEnding);
    if (options.program) {
        m_player = std::make_unique<PulsePlayer>(*m_session, *options.program);
        connect(m_player.get(), &PulsePlayer::pressed, this, &MainWindow::played);
        connect(m_player.get(), &PulsePlayer::finished, this, &MainWindow::finishPlay);
        connect(m_session, &Session::ready, this, [this, port = options.program->port()] {
            if (port)
                m_form.option[std::size_t(port - 1)]->click();
            playWhenOpen();
        });
    }

    channelButton(0)->setFocus();
}

MainWindow::~MainWindow()
{
    finishJournal();
    delete m_session; // closes the port while the view it reports to still stands
}

bool MainWindow::finishJournal(int ms)
{
    if (std::exchange(m_journalFinished, true))
        return m_journaled;
    m_journalWait.stop();
    disconnect(m_session, &Session::journalFailed, this, nullptr);
    connect(m_session, &Session::journalFailed, this, [](const Error &error) {
        writeStandardError(QStringLiteral("dorq-pulse: %1\n").arg(errorText(error).simplified()));
    });
    m_journaled = m_session->finishJournal(ms);
    if (const auto loss = m_session->journalLoss())
        writeStandardError(QStringLiteral("dorq-pulse: %1\n").arg(errorText(*loss)));
    return m_journaled;
}

void MainWindow::closeAtOnce()
{
    finishJournal(Journal::SignalFinishMs);
    close();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (!m_closing.isValid()) {
        m_closing.start();
        m_session->closePort();
        m_session->closeJournal();
    }
    if (!m_journalFinished && !m_session->journalEnded() &&
        !m_closing.hasExpired(Journal::FinishMs)) {
        event->ignore();
        setEnabled(false); // no more presses
        m_journalWait.start();
        return;
    }
    m_journalWait.stop();
    if (!m_journalFinished) {
        finishJournal(0);
        setEnabled(true);
        if (const auto loss = m_session->journalLoss())
            m_reporter->report(loss->number, errorText(*loss));
    }
    QWidget::closeEvent(event);
}

void MainWindow::journalEnding()
{
    if (m_session->journalEnded() || m_closing.hasExpired(Journal::FinishMs))
        close();
}

void MainWindow::clearPortChoice()
{
    for (QRadioButton *option : m_form.option) {
        option->setAutoExclusive(false);
        option->setChecked(false);
        option->setAutoExclusive(true);
    }
}

// The log row and the last line first, then the warning or the error box.
void MainWindow::showPress(const PressResult &result)
{
    m_log.insertRecord(result.record);
    if (result.outcome == PressResult::Outcome::NoPort) {
        m_form.text1->setText(SelectPortWarning);
        showNoPort();
        return;
    }
    m_form.text1->setText(QString::fromStdString(displayForm(result.record)));
    if (!result.error)
        return;
    if (!result.portOpen)
        showNoPort();
    failed(*result.error);
}

void MainWindow::showSelection(const SelectResult &result)
{
    if (!result.port) {
        // The first step closed the old port, so no "PLC op COMn" may stay on show.
        showNoPort();
        if (result.error)
            failed(*result.error);
        return;
    }
    m_form.label2->setText(portStatus(result.port));
    m_form.label2->setToolTip(m_session->devicePath(result.port));
    m_form.option[std::size_t(result.port - 1)]->setChecked(true);
    playWhenOpen();
}

void MainWindow::playWhenOpen()
{
    if (m_player && !m_playStarted && m_session->isReady() && m_session->openPort()) {
        m_playStarted = true;
        m_player->start();
    }
}

void MainWindow::played(const PressResult &result)
{
    // A press that did not go ends the play before its message box: the presses after it
    // would pile box on box.
    if (result.outcome != PressResult::Outcome::Sent)
        finishPlay();
    showPress(result);
}

bool MainWindow::finishPlay()
{
    if (!m_player)
        return true;
    if (!std::exchange(m_playEnded, true)) {
        m_player->stop();
        writeStandardError(QStringLiteral("dorq-pulse: ") + playSummaryText(m_player->summary()) +
                           QLatin1Char('\n'));
    }
    return m_player->summary().allOnTheirSteps();
}

void MainWindow::showNoPort()
{
    m_form.label2->setText(SelectPortWarning);
    m_form.label2->setToolTip({});
    // A port that is not open must not look chosen: a click on it then tries again.
    clearPortChoice();
}

void MainWindow::failed(const Error &error)
{
    m_reporter->report(error.number, errorMessage(error, FrontEnd::Window));
}

void MainWindow::journalFailed(const Error &error)
{
    // A journal made anew is news, not an error with a number.
    if (error.kind == ErrorKind::Replaced)
        m_reporter->inform(errorText(error));
    else
        m_reporter->report(error.number, errorText(error));
}

} // namespace dorq
