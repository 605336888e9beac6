#include "port_menu.h"

#include "ms_comm.h"
#include "port_choice.h"
#include "port_list.h"
#include "window_platform.h"

#include <QFileInfo>
#include <QInputDialog>
#include <QMenu>
#include <QRadioButton>
#include <QShortcut>

namespace dorq {

PortMenu::PortMenu(PortChoice &ports, MsComm &comm, const std::array<QRadioButton *, 2> &options,
                   QObject *parent)
    : QObject(parent), m_ports(ports), m_comm(comm), m_options(options)
{
    for (int n = 1; n <= 2; ++n) {
        QRadioButton *button = option(n);
        updateToolTip(n);
        button->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(button, &QWidget::customContextMenuRequested, this,
                [this, n, button](const QPoint &at) { show(n, button->mapToGlobal(at)); });
        auto *menuKey = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F10), button);
        menuKey->setContext(Qt::WidgetShortcut);
        connect(menuKey, &QShortcut::activated, this, [this, n, button] {
            show(n, button->mapToGlobal(button->rect().center()));
        });
    }
}

void PortMenu::show(int port, const QPoint &where)
{
    const QString current = QFileInfo(devicePath(m_ports.device(port))).canonicalFilePath();
    QMenu menu(option(port));
    const QList<SystemPort> ports = systemPorts();
    for (const SystemPort &system : ports) {
        QAction *action = menu.addAction(system.label);
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
    const QString standard = PortChoice::defaultDevice(port);
    QAction *reset = menu.addAction(QStringLiteral("Standaard (%1)").arg(standard));
    reset->setCheckable(true);
    reset->setChecked(m_ports.device(port) == standard);
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
                                  .arg(otherDeviceExamples()),
                              QLineEdit::Normal, m_ports.device(port))
            .trimmed();
    if (!path.isEmpty())
        choose(port, path);
}

void PortMenu::choose(int port, const QString &device)
{
    if (device.isEmpty())
        m_ports.reset(port);
    else
        m_ports.choose(port, device);
    if (const auto problem = m_ports.takeProblem())
        emit choiceNotKept(problem->number, problem->text);
    m_comm.setPortDevice(port, m_ports.device(port));
    updateToolTip(port);
    // As a click on its option would.
    if (m_comm.portOpen() && m_comm.commPort() == port)
        option(port)->click();
}

void PortMenu::updateToolTip(int port)
{
    option(port)->setToolTip(QStringLiteral("%1\nRechtsklik (of Shift+F10) kiest een ander "
                                            "apparaat.")
                                 .arg(m_comm.deviceName(port)));
}

} // namespace dorq
