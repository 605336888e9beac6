#include "main_window.h"

#include "error_words.h"
#include "failure.h"
#include "layout_table.h"
#include "port_list.h"
#include "pulse_record.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDate>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHash>
#include <QHeaderView>
#include <QIcon>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSaveFile>
#include <QShortcut>
#include <QTableView>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <vector>
#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace dorq {

namespace {

// The number the system gave for the file operation that just failed.
int lastFileError()
{
#ifdef Q_OS_WIN
    return int(::GetLastError());
#else
    return errno ? errno : EIO;
#endif
}

QFont designFont(double pointSize, bool bold)
{
    // The design font where the system has it, else one made to the same measure.
    QFont font;
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                      QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"),
                      QStringLiteral("Arial")});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(pointSize);
    font.setBold(bold);
    return font;
}

// Where only a wider font is found, shrink until the widest text the control shows fits, so
// nothing is clipped.
QFont fitted(QFont font, const QString &sample, int width)
{
    while (font.pointSizeF() > 6 && QFontMetrics(font).horizontalAdvance(sample) > width)
        font.setPointSizeF(font.pointSizeF() - 0.25);
    return font;
}

QWidget *createControl(const ControlSpec &spec, QWidget *parent)
{
    const QString text = QString::fromUtf8(spec.text);
    switch (spec.kind) {
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
    setTabOrder();
    fitFonts();
    addLogActions();

    for (int i = 0; i < 8; ++i) {
        QPushButton *button = m_command[std::size_t(i)];
        connect(button, &QPushButton::clicked, this, [this, i] { showPress(m_session->press(i)); });
        button->installEventFilter(this);
        // Digits 1 to 8, on the main keys and the keypad, press the channel like a click.
        for (const auto keypad : {Qt::NoModifier, Qt::KeypadModifier}) {
            auto *shortcut = new QShortcut(QKeySequence(keypad | (Qt::Key_1 + i)), this);
            shortcut->setAutoRepeat(false); // a key held down is one press, as a button's
            connect(shortcut, &QShortcut::activated, button, &QPushButton::click);
        }
    }
    for (int n = 1; n <= 2; ++n) {
        QRadioButton *option = m_option[std::size_t(n - 1)];
        updatePortToolTip(n);
        connect(option, &QRadioButton::clicked, this,
                [this, n] { showSelection(m_session->selectPort(n)); });
        // The layout has no room for more controls: the device is chosen on the option.
        option->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(option, &QWidget::customContextMenuRequested, this,
                [this, n, option](const QPoint &at) { showPortMenu(n, option->mapToGlobal(at)); });
        auto *menuKey = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F10), option);
        menuKey->setContext(Qt::WidgetShortcut);
        connect(menuKey, &QShortcut::activated, this, [this, n, option] {
            showPortMenu(n, option->mapToGlobal(option->rect().center()));
        });
    }
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
    delete m_session; // closes the port while the view it reports to still stands
}

void MainWindow::buildControls()
{
    QHash<QString, QWidget *> containers;
    for (const ControlSpec &spec : FormLayout) {
        QWidget *parent = spec.container ? containers.value(QLatin1String(spec.container)) : this;
        QWidget *control = createControl(spec, parent);
        control->setObjectName(QLatin1String(spec.name));
        control->setGeometry(toPixels(spec.left), toPixels(spec.top), toPixels(spec.width),
                             toPixels(spec.height));
        if (spec.kind == ControlKind::Frame)
            containers.insert(control->objectName(), control);
        if (spec.kind == ControlKind::Button) {
            control->setProperty("index", spec.index);
            m_command[std::size_t(spec.index)] = static_cast<QPushButton *>(control);
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
}

void MainWindow::setTabOrder()
{
    std::vector<const ControlSpec *> order;
    for (const ControlSpec &spec : FormLayout)
        order.push_back(&spec);
    std::sort(order.begin(), order.end(),
              [](const ControlSpec *a, const ControlSpec *b) { return a->tabIndex < b->tabIndex; });
    QWidget *previous = nullptr;
    for (const ControlSpec *spec : order) {
        QWidget *control = spec->kind == ControlKind::Button
                               ? m_command[std::size_t(spec->index)]
                               : findChild<QWidget *>(QLatin1String(spec->name));
        if (control->focusPolicy() == Qt::NoFocus)
            continue;
        if (previous)
            QWidget::setTabOrder(previous, control);
        previous = control;
    }
}

void MainWindow::fitFonts()
{
    auto *description = findChild<QLabel *>(QStringLiteral("Label3"));
    QFont font = description->font();
    const auto height = [&](const QFont &f) {
        return QFontMetrics(f)
            .boundingRect(QRect(0, 0, description->width(), 10000), Qt::TextWordWrap,
                          description->text())
            .height();
    };
    while (font.pointSizeF() > 6 && height(font) > description->height())
        font.setPointSizeF(font.pointSizeF() - 0.25);
    description->setFont(font);

    const int frame = 2 * m_label4->frameWidth() + 4;
    m_label4->setFont(fitted(designFont(ClockPointSize, true), QStringLiteral("00:00:00"),
                             m_label4->width() - frame));
    // The grid's one column must show a whole record beside the scroll bar and cell margins.
    const int column = m_grid->width() - 2 * m_grid->frameWidth() -
                       m_grid->style()->pixelMetric(QStyle::PM_ScrollBarExtent) - 8;
    const QFont gridFont =
        fitted(designFont(GridPointSize, false), QStringLiteral("8  00:00:00.00"), column);
    m_grid->setFont(gridFont);
    m_grid->horizontalHeader()->setFont(gridFont);
    m_grid->verticalHeader()->setDefaultSectionSize(QFontMetrics(gridFont).height() + 4);
    m_text1->setFont(fitted(
        this->font(), QStringLiteral("8  00:00:00.00<CR><LF>"),
        m_text1->width() - 2 * m_text1->style()->pixelMetric(QStyle::PM_DefaultFrameWidth) - 6));
    m_label2->setFont(fitted(this->font(), SelectPortWarning, m_label2->width()));
}

void MainWindow::clearPortChoice()
{
    for (QRadioButton *option : m_option) {
        option->setAutoExclusive(false);
        option->setChecked(false);
        option->setAutoExclusive(true);
    }
}

template <typename Handler> void MainWindow::handle(Handler &&handler)
{
    try {
        handler();
    } catch (const Failure &e) {
        m_reporter->report(e.number(), e.text());
    } catch (const std::exception &e) {
        m_reporter->report(ErrorNumber::Internal, QString::fromLocal8Bit(e.what()));
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

void MainWindow::addLogActions()
{
    const auto add = [this](const QString &text, QKeySequence keys, Qt::ShortcutContext context,
                            auto slot) {
        auto *action = new QAction(text, m_grid);
        action->setShortcut(keys);
        action->setShortcutContext(context);
        connect(action, &QAction::triggered, this, slot);
        m_grid->addAction(action);
    };
    add(QStringLiteral("Kopiëren"), QKeySequence::Copy, Qt::WidgetShortcut,
        [this] { QApplication::clipboard()->setText(selectedRecords()); });
    add(QStringLiteral("Alles selecteren"), QKeySequence::SelectAll, Qt::WidgetShortcut,
        [this] { m_grid->selectAll(); });
    add(QStringLiteral("Log opslaan als..."), QKeySequence::Save, Qt::WindowShortcut, [this] {
        const QString path = QFileDialog::getSaveFileName(
            this, QStringLiteral("Log opslaan als"),
            QDir::home().filePath(
                QDate::currentDate().toString(QStringLiteral("'pulslog-'yyyy-MM-dd'.txt'"))),
            QStringLiteral("Tekstbestanden (*.txt);;Alle bestanden (*)"));
        if (!path.isEmpty())
            handle([&] { saveLog(path); });
    });
    m_grid->setContextMenuPolicy(Qt::ActionsContextMenu);
}

QString MainWindow::selectedRecords() const
{
    QList<int> rows;
    for (const QModelIndex &index : m_grid->selectionModel()->selectedRows())
        rows << index.row();
    std::sort(rows.begin(), rows.end());
    QString text;
    for (const int row : rows)
        if (std::size_t(row) < m_log.recordCount()) // never the empty row under the records
            text += m_log.rowText(row) + QLatin1Char('\n');
    return text;
}

void MainWindow::saveLog(const QString &path)
{
    QSaveFile file(path);
    errno = 0;
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        throw Failure(
            lastFileError(),
            QStringLiteral("Kan het log niet opslaan als %1: %2").arg(path, file.errorString()));
    for (int row = 0; std::size_t(row) < m_log.recordCount(); ++row)
        file.write(m_log.rowText(row).toLatin1() + '\n');
    errno = 0;
    if (!file.commit())
        throw Failure(
            lastFileError(),
            QStringLiteral("Kan het log niet opslaan als %1: %2").arg(path, file.errorString()));
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    // Enter presses a focused channel button as Space does, as on the tool's first platform.
    if (event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
            !(key->modifiers() & ~Qt::KeypadModifier)) {
            if (!key->isAutoRepeat())
                static_cast<QPushButton *>(watched)->click();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void MainWindow::showPortMenu(int port, const QPoint &where)
{
    const QString current = QFileInfo(devicePath(m_ports.device(port))).canonicalFilePath();
    QMenu menu(this);
    const QList<SystemPort> ports = systemPorts();
    for (const SystemPort &system : ports) {
        QAction *action = menu.addAction(system.label);
        action->setCheckable(true);
        action->setChecked(!current.isEmpty() &&
                           QFileInfo(system.path).canonicalFilePath() == current);
        connect(action, &QAction::triggered, this,
                [this, port, path = system.path] { choosePortDevice(port, path); });
    }
    if (ports.isEmpty())
        menu.addAction(QStringLiteral("Geen seriele poorten gevonden"))->setEnabled(false);
    menu.addSeparator();
    connect(menu.addAction(QStringLiteral("Ander apparaat...")), &QAction::triggered, this,
            [this, port] {
                const QString path =
                    QInputDialog::getText(this,
                                          QStringLiteral("Ander apparaat voor COM%1").arg(port),
                                          QStringLiteral("Pad van het apparaat, bijvoorbeeld "
                                                         "/dev/ttyUSB0 of /dev/pts/3:"),
                                          QLineEdit::Normal, m_ports.device(port))
                        .trimmed();
                if (!path.isEmpty())
                    choosePortDevice(port, path);
            });
    const QString standard = PortChoice::defaultDevice(port);
    QAction *reset = menu.addAction(QStringLiteral("Standaard (%1)").arg(standard));
    reset->setCheckable(true);
    reset->setChecked(m_ports.device(port) == standard);
    connect(reset, &QAction::triggered, this, [this, port] { choosePortDevice(port, {}); });
    menu.exec(where);
}

void MainWindow::choosePortDevice(int port, const QString &device)
{
    if (device.isEmpty())
        m_ports.reset(port);
    else
        m_ports.choose(port, device);
    if (const auto problem = m_ports.takeProblem()) {
        std::fprintf(stderr, "dorq-pulse: %s\n", qPrintable(problem->text));
        m_reporter->report(problem->number, problem->text);
    }
    MsComm &line = comm();
    line.setPortDevice(port, m_ports.device(port));
    updatePortToolTip(port);
    // The open port moves to the new device at once, as a click on its option would.
    if (line.portOpen() && line.commPort() == port)
        m_option[std::size_t(port - 1)]->click();
}

void MainWindow::updatePortToolTip(int port)
{
    m_option[std::size_t(port - 1)]->setToolTip(
        QStringLiteral("%1\nRechtsklik (of Shift+F10) kiest een ander apparaat.")
            .arg(comm().deviceName(port)));
}

} // namespace dorq
