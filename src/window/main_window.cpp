#include "main_window.h"

#include "channel_keys.h"
#include "error_words.h"
#include "guide_link.h"
#include "layout_table.h"
#include "log_actions.h"
#include "port_menu.h"
#include "pulse_record.h"
#include "window_fonts.h"

#include <QCoreApplication>
#include <QGroupBox>
#include <QHash>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace dorq {

namespace {

QWidget *createControl(const ControlEntry &entry, QWidget *parent)
{
    const QString text = QString::fromUtf8(entry.text);
    switch (entry.kind) {
    case ControlKind::Label: {
        auto *label = new QLabel(text, parent);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setWordWrap(true);
        return label;
    }
    case ControlKind::Frame:
        return new QGroupBox(text, parent);
    case ControlKind::Option:
        return new QRadioButton(text, parent);
    case ControlKind::TextBox: {
        auto *edit = new QLineEdit(text, parent);
        edit->setReadOnly(true); // written only by the program
        return edit;
    }
    case ControlKind::Grid:
        return new QTableView(parent);
    case ControlKind::Button:
        return new QPushButton(text, parent);
    }
    return nullptr;
}

} // namespace

MainWindow::MainWindow(Options options)
    : m_ownReporter(options.reporter ? nullptr : std::make_unique<MessageBoxReporter>(this)),
      m_reporter(options.reporter ? options.reporter : m_ownReporter.get()),
      m_ports(std::move(options.ports))
{
    SessionOptions session;
    session.ports = m_ports.ports();
    session.now = std::move(options.now);
    session.device = std::move(options.device);
    session.journal = std::move(options.journal);
    m_session = new Session(std::move(session), this);

    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QString::fromUtf8(FormCaption));
    setWindowIcon(QIcon(QStringLiteral(":/dorq-pulse.png")));
    setFixedSize(toPixels(FormWidth), toPixels(FormHeight));
    setFont(designFont(GridPointSize, false));
    buildControls();
    linkGuide(findChild<QLabel *>(QStringLiteral("Label3")),
              guideLocation(QCoreApplication::applicationDirPath()));
    setTabOrder();
    fitFonts(this);
    m_logActions = new LogActions(m_grid, m_log, *m_reporter);
    new ChannelKeys(this, m_command);

    for (int i = 0; i < 8; ++i) {
        QPushButton *button = m_command[std::size_t(i)];
        connect(button, &QPushButton::clicked, this, [this, i] { showPress(m_session->press(i)); });
    }
    for (int n = 1; n <= 2; ++n) {
        QRadioButton *option = m_option[std::size_t(n - 1)];
        connect(option, &QRadioButton::clicked, this,
                [this, n] { showSelection(m_session->selectPort(n)); });
    }
    m_portMenu = new PortMenu(m_ports, comm(), m_option, this);
    connect(m_portMenu, &PortMenu::choiceNotKept, this, [this](int number, const QString &text) {
        std::fprintf(stderr, "dorq-pulse: %s\n", qPrintable(text));
        m_reporter->report(number, text);
    });
    connect(m_session, &Session::portLost, this, [this](const Error &error) {
        showNoPort();
        failed(error);
    });
    connect(m_session, &Session::journalFailed, this,
            [this](int number, const QString &text) { m_reporter->report(number, text); });
    connect(m_session, &Session::clockTextChanged, m_label4, &QLabel::setText);

    m_command[0]->setFocus();
}

MainWindow::~MainWindow()
{
    finishJournal();
    delete m_session; // closes the port while the view it reports to still stands
}

bool MainWindow::finishJournal()
{
    // Once the event loop is done no message box may wait for a click: the journal's last
    // failures go to standard error.
    disconnect(m_session, &Session::journalFailed, this, nullptr);
    connect(m_session, &Session::journalFailed, this, [](int number, const QString &text) {
        std::fprintf(stderr, "dorq-pulse: Fout %d: %s\n", number, qPrintable(text.simplified()));
    });
    return m_session->finishJournal();
}

void MainWindow::buildControls()
{
    QHash<QString, QWidget *> containers;
    for (const ControlEntry &entry : FormLayout) {
        QWidget *parent = entry.container ? containers.value(QLatin1String(entry.container)) : this;
        QWidget *control = createControl(entry, parent);
        control->setObjectName(QLatin1String(entry.name));
        control->setGeometry(toPixels(entry.left), toPixels(entry.top), toPixels(entry.width),
                             toPixels(entry.height));
        if (entry.kind == ControlKind::Frame)
            containers.insert(control->objectName(), control);
        if (entry.kind == ControlKind::Button) {
            control->setProperty("index", entry.index);
            m_command[std::size_t(entry.index)] = static_cast<QPushButton *>(control);
        }
    }
    m_label2 = findChild<QLabel *>(QStringLiteral("Label2"));
    m_label4 = findChild<QLabel *>(QStringLiteral("Label4"));
    m_label4->setAlignment(Qt::AlignCenter);
    m_label4->setWordWrap(false);
    m_text1 = findChild<QLineEdit *>(QStringLiteral("Text1"));
    m_option = {findChild<QRadioButton *>(QStringLiteral("Option1")),
                findChild<QRadioButton *>(QStringLiteral("Option2"))};

    m_grid = findChild<QTableView *>(QStringLiteral("MSFlexGrid1"));
    m_grid->setModel(&m_log);
    m_grid->verticalHeader()->hide();
    // A fixed row height keeps a log of a million rows as cheap to show as a short one.
    m_grid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_grid->horizontalHeader()->setStretchLastSection(true);
    m_grid->horizontalHeader()->setSectionsClickable(false);
    m_grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_grid->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_grid->setWordWrap(false);
    // Tab leaves the log for the next control, as everywhere; the arrows move within it.
    m_grid->setTabKeyNavigation(false);
}

void MainWindow::setTabOrder()
{
    std::vector<const ControlEntry *> order;
    for (const ControlEntry &entry : FormLayout)
        order.push_back(&entry);
    std::sort(order.begin(), order.end(), [](const ControlEntry *a, const ControlEntry *b) {
        return a->tabIndex < b->tabIndex;
    });
    QWidget *previous = nullptr;
    for (const ControlEntry *entry : order) {
        QWidget *control = entry->kind == ControlKind::Button
                               ? m_command[std::size_t(entry->index)]
                               : findChild<QWidget *>(QLatin1String(entry->name));
        if (control->focusPolicy() == Qt::NoFocus)
            continue;
        if (previous)
            QWidget::setTabOrder(previous, control);
        previous = control;
    }
}

void MainWindow::clearPortChoice()
{
    for (QRadioButton *option : m_option) {
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
        m_text1->setText(SelectPortWarning);
        showNoPort();
        return;
    }
    m_text1->setText(QString::fromStdString(displayForm(result.record)));
    if (!result.error)
        return;
    if (!result.portOpen)
        showNoPort();
    failed(*result.error);
}

void MainWindow::showSelection(const SelectResult &result)
{
    if (result.error) {
        // The first step closed the old port, so no "PLC op COMn" may stay on show.
        showNoPort();
        failed(*result.error);
        return;
    }
    m_label2->setText(result.status);
    m_label2->setToolTip(comm().deviceName());
}

void MainWindow::showNoPort()
{
    m_label2->setText(SelectPortWarning);
    m_label2->setToolTip({});
    // A port that is not open must not look chosen: a click on it then tries again.
    clearPortChoice();
}

void MainWindow::failed(const Error &error)
{
    const QString advice = adviceFor(
        error, QStringLiteral("kies een ander apparaat met een rechtsklik op COM1 of COM2"));
    m_reporter->report(error.number, advice.isEmpty()
                                         ? errorText(error)
                                         : errorText(error) + QStringLiteral("\n\n") + advice);
}

} // namespace dorq
