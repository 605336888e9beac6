#pragma once

#include "port_memory.h"
#include "press_result.h"

#include <QObject>
#include <array>

class QPoint;
class QRadioButton;

namespace dorq {

class ErrorReporter;
class Session;

// The device behind COM1 and COM2, chosen on the option itself (right click, the menu key or
// Shift+F10), since the layout has no room for more controls: the system's serial ports,
// "Ander apparaat..." and "Standaard". Each option's tooltip names its device.
class PortMenu : public QObject
{
    Q_OBJECT
public:
    PortMenu(Session &session, ErrorReporter &reporter,
             const std::array<QRadioButton *, 2> &options, QObject *parent);

    // Points COM`port` at `device` (the default when empty) once it has opened there, and
    // keeps that choice for later starts; the open port moves there at once. A device that
    // does not open is kept only when the operator insists.
    void choose(int port, const QString &device);
    // "COM1 = COM7" for each option that points, as chosen in an earlier run, elsewhere than
    // its default: a choice easily forgotten. Empty when there is none.
    QString rememberedChoices() const;

signals:
    // The open port was closed and opened again on its new device, or failed to.
    void reselected(const dorq::SelectResult &result);

private:
    void show(int port, const QPoint &where);
    void askForDevice(int port);
    void updateToolTip(int port);
    QRadioButton *option(int port) const { return m_options[std::size_t(port - 1)]; }

    Session &m_session;
    ErrorReporter &m_reporter;
    std::array<QRadioButton *, 2> m_options;
    PortMemory m_memory;
};

} // namespace dorq
