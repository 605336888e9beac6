#include "port_menu.h"

#include "form.h"
#include "session.h"
#include "words.h"

#include <QFileInfo>
#include <QInputDialog>
#include <QMenu>
#include <QRadioButton>
#include <QShortcut>

namespace dorq {

namespace {

// The path and what the system knows of the device: "/dev/serial/by-id/usb-FTDI-if00
// (ttyUSB0): FT232R USB UART, FTDI, serienummer A50285BI".
QString portLabel(const SystemPort &port)
{
    QStringList known;
    for (const QString &fact : {port.description, port.manufacturer})
        if (!fact.isEmpty() && !known.contains(fact))
            known << fact;
    if (!port.serialNumber.isEmpty())
        known << QStringLiteral("serienummer %1").arg(port.serialNumber);
    QString label = port.path;
    if (!port.portName.isEmpty())
        label += QStringLiteral(" (%1)").arg(port.portName);
    if (!known.isEmpty())
        label += QStringLiteral(": ") + known.join(QStringLiteral(", "));
    return label;
}

} // namespace

PortMenu::PortMenu(Session &session, ErrorReporter &reporter,
                   const std::array<QRadioButton *, 2> &options, QObject *parent)
    : QObject(parent), m_session(session), m_reporter(reporter), m_options(options)
{
    for (int n = 1; n <= 2; ++n) {
        QRadioButton *button = option(n);
        updateToolTip(n);
        button->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(button, &QWidget::customContextMenuRequested, this,
                [this, n, button](const QPoint &at) { show(n, button->mapToGlobal(at)); });
        auto *menuKey = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F10), button);
        menuKey->setContext(Qt::WidgetShortcut);
        connect(menuKey, &QShortcut::activated, this,
                [this, n, button] { show(n, button->mapToGlobal(button->rect().center())); });
    }
}

void PortMenu::show(int port, const QPoint &where)
{
    const QString current = QFileInfo(m_session.devicePath(port)).canonicalFilePath();
    QMenu menu(option(port));
    const QList<SystemPort> ports = systemPorts();
    for (const SystemPort &system : ports) {
        QAction *action = menu.addAction(portLabel(system));
        action->setCheckable(true);
        action->setChecked(!current.isEmpty() &&
                           QFileInfo(system.path).canonicalFilePath() == current);
        connect(action, &QAction::triggered, this,
                [this, port, path = system.path] { choose(port, path); });
    }
    if (ports.isEmpty())
        menu.addAction(QStringLiteral("Geen seriele poorten gevonden"))->setEnabled(false);
    menu.addSeparator();
    connect(menu.addAction(QStringLiteral("Ander apparaat...")), &QAction::triggered, this,
            [this, port] { askForDevice(port); });
    const QString standard = defaultPortMap().value(port);
    QAction *reset = menu.addAction(QStringLiteral("Standaard (%1)").arg(standard));
    reset->setCheckable(true);
    reset->setChecked(m_session.portDevice(port) == standard);
    connect(reset, &QAction::triggered, this, [this, port] { choose(port, {}); });
    menu.exec(where);
}

void PortMenu::askForDevice(int port)
{
    // Taken as typed: whether case matters is the system's business.
    const QString path =
        QInputDialog::getText(option(port)->window(),
                              QStringLiteral("Ander apparaat voor COM%1").arg(port),
                              QStringLiteral("Pad van het apparaat, bijvoorbeeld %1:")
                                  .arg(exampleDevices().join(QStringLiteral(" of "))),
                              QLineEdit::Normal, m_session.portDevice(port))
            .trimmed();
    if (!path.isEmpty())
        choose(port, path);
}

void PortMenu::choose(int port, const QString &device)
{
    const bool wasOpen = m_session.openPort() == port;
    const QString earlier = m_session.portDevice(port);
    if (device.isEmpty()) {
        // The default is what the program uses anyway: kept whether or not it opens here.
        m_session.keepDevice(port, defaultPortMap().value(port));
        if (wasOpen)
            emit reselected(m_session.selectPort(port));
    } else if (const SelectResult result = m_session.setDevice(port, device); !result.error) {
        if (wasOpen)
            emit reselected(result);
    } else {
        if (wasOpen)
            emit reselected({result.port, std::nullopt}); // the box below says why
        const QString text =
            errorMessage(*result.error, FrontEnd::Window) +
            QStringLiteral("\n\nCOM%1 blijft %2.").arg(port).arg(devicePath(earlier));
        if (!m_reporter.offerToKeep(result.error->number, text)) {
            updateToolTip(port);
            return;
        }
        m_session.keepDevice(port, device);
        if (m_session.openPort() == port) {
            // Open where it no longer points: closed, so that what is shown is what is.
            m_session.closePort();
            emit reselected({0, std::nullopt});
        }
    }
    updateToolTip(port);
    if (const auto problem = m_memory.remember(port, device)) {
        writeStandardError(QStringLiteral("dorq-pulse: %1\n").arg(errorText(*problem)));
        m_reporter.report(problem->number, errorText(*problem));
    }
}

QString PortMenu::rememberedChoices() const
{
    const PortMap remembered = m_memory.read().ports;
    QStringList choices;
    for (int port = 1; port <= 2; ++port) {
        const QString device = m_session.portDevice(port);
        if (device == remembered.value(port) && device != defaultPortMap().value(port))
            choices << QStringLiteral("COM%1 = %2").arg(port).arg(device);
    }
    return choices.join(QStringLiteral(", "));
}

void PortMenu::updateToolTip(int port)
{
    option(port)->setToolTip(QStringLiteral("%1\nRechtsklik (of Shift+F10) kiest een ander "
                                            "apparaat.")
                                 .arg(m_session.devicePath(port)));
}

} // namespace dorq
