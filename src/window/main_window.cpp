#include "main_window.h"

#include "layout_table.h"
#include "port_selection.h"
#include "serial_error.h"

#include <QDateTime>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHash>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QTableView>
#include <algorithm>
#include <vector>

namespace dorq {

namespace {

// Programming errors carry no number of their own.
constexpr int InternalErrorNumber = 51;

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

QFont designFont(double pointSize, bool bold)
{
    // The design font where the system has it, else the closest sans-serif.
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(pointSize);
    font.setBold(bold);
    return font;
}

// Common Linux sans-serif fonts run wider than the design font; shrink until the widest
// text the control shows fits, so nothing is clipped.
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
      m_clock(std::move(options.now)),
      m_comm(std::move(options.ports),
             options.device ? std::move(options.device) : makeSystemSerialDevice()),
      m_dispatch(m_clock, m_comm, *this), m_timer(this)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QString::fromUtf8(FormCaption));
    setWindowIcon(QIcon(QStringLiteral(":/dorq-pulse.png")));
    setFixedSize(toPixels(FormWidth), toPixels(FormHeight));
    setFont(designFont(GridPointSize, false));
    buildControls();
    setTabOrder();
    fitFonts();

    for (int i = 0; i < 8; ++i) {
        QPushButton *button = m_command[std::size_t(i)];
        connect(button, &QPushButton::clicked, this,
                [this, i] { handle([&] { m_dispatch.channelPress(i); }); });
        // Digits 1 to 8, on the main keys and the keypad, press the channel like a click.
        for (const auto keypad : {Qt::NoModifier, Qt::KeypadModifier}) {
            auto *shortcut = new QShortcut(QKeySequence(keypad | (Qt::Key_1 + i)), this);
            connect(shortcut, &QShortcut::activated, button, &QPushButton::click);
        }
    }
    for (int n = 1; n <= 2; ++n) {
        m_option[std::size_t(n - 1)]->setToolTip(m_comm.deviceName(n));
        connect(m_option[std::size_t(n - 1)], &QRadioButton::clicked, this, [this, n] {
            handle([&] {
                m_dispatch.selectPort(n);
                m_label2->setToolTip(m_comm.deviceName());
            });
        });
    }
    connect(&m_comm, &MsComm::portLost, this, &MainWindow::onPortLost);

    m_timer.setObjectName(QStringLiteral("Timer1"));
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        handle([&] { m_dispatch.tick(); });
        m_timer.start(msToNextTick());
    });
    m_timer.start(msToNextTick());

    m_command[0]->setFocus();
}

MainWindow::~MainWindow() = default;

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
    m_grid->setSelectionMode(QAbstractItemView::SingleSelection);
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

void MainWindow::onPortLost(int number, const QString &text)
{
    m_dispatch.portLost();
    failed(number, withAdvice(SerialError(number, text), m_comm.deviceName(), true));
}

template <typename Handler> void MainWindow::handle(Handler &&handler)
{
    try {
        handler();
        return;
    } catch (const SerialError &e) {
        failed(e.number(), withAdvice(e, m_comm.deviceName(), false));
    } catch (const std::exception &e) {
        failed(InternalErrorNumber, QString::fromLocal8Bit(e.what()));
    }
}

void MainWindow::failed(int number, const QString &text)
{
    // A port that a failure closed must not look chosen: a click on it then tries again.
    if (!m_comm.portOpen())
        clearPortChoice();
    m_reporter->report(number, text);
}

void MainWindow::insertLogRecord(const std::string &record)
{
    m_log.insertRecord(record);
}

void MainWindow::setLastLine(const QString &text)
{
    m_text1->setText(text);
}

void MainWindow::setStatus(const QString &text)
{
    m_label2->setText(text);
    if (text == SelectPortWarning)
        m_label2->setToolTip({});
}

void MainWindow::setClockText(const QString &text)
{
    m_label4->setText(text);
}

} // namespace dorq
