#pragma once

#include <QObject>
#include <array>

class QPoint;
class QRadioButton;

namespace dorq {

class MsComm;
class PortChoice;

// The device behind COM1 and COM2, chosen on the option itself (right click, the menu key or
// Shift+F10), since the layout has no room for more controls: the system's serial ports,
// "Ander apparaat..." and "Standaard". Each option's tooltip names its device.
class PortMenu : public QObject
{
    Q_OBJECT
public:
    PortMenu(PortChoice &ports, MsComm &comm, const std::array<QRadioButton *, 2> &options,
             QObject *parent);

    // Points COM`port` at `device` (the default when empty) and keeps that choice; the open
    // port moves there at once.
    void choose(int port, const QString &device);

signals:
    // The choice holds for this run only: the settings could not keep it. Once per run.
    void choiceNotKept(int number, const QString &text);

private:
    void show(int port, const QPoint &where);
    void askForDevice(int port);
    void updateToolTip(int port);
    QRadioButton *option(int port) const { return m_options[std::size_t(port - 1)]; }

    PortChoice &m_ports;
    MsComm &m_comm;
    std::array<QRadioButton *, 2> m_options;
};

} // namespace dorq
