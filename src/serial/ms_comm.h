#pragma once

#include "line_settings.h"
#include "serial_device.h"
#include "system.h"

#include <QObject>
#include <QString>
#include <memory>

namespace dorq {

// The PLC's fixed line: 9600 baud, odd parity, 8 data bits, 1 stop bit.
inline const QString PlcSettings = QStringLiteral("9600,O,8,1");

// The serial port component: a handful of properties, set in a fixed order, that configure,
// open and write one serial line, and the map of which device each port number opens.
// Every failure throws SerialError.
class MsComm : public QObject
{
    Q_OBJECT
public:
    explicit MsComm(PortMap ports, std::unique_ptr<SerialDevice> device = makeSystemSerialDevice(),
                    QObject *parent = nullptr);
    ~MsComm() override;

    // Virtual so that a test can watch the order in which the properties are set.
    virtual void setPortOpen(bool open);
    bool portOpen() const;
    virtual void setCommPort(int port);
    int commPort() const { return m_commPort; }
    virtual void setSettings(const QString &settings);
    QString settings() const { return m_settingsText; }
    // Reception one character at a time: nothing is ever read, so only checked.
    virtual void setInputLen(int length);
    virtual void setDTREnable(bool on);
    virtual void setRTSEnable(bool on);
    virtual void setRThreshold(int threshold);
    virtual void setOutput(const QByteArray &bytes);

    // The device behind a port number, as named; it takes effect at the next open.
    void setPortDevice(int port, const QString &device) { m_ports[port] = device; }
    QString portDevice(int port) const { return m_ports.value(port); }
    // The full path of the device, for messages and tooltips.
    QString deviceName() const { return deviceName(m_commPort); }
    QString deviceName(int port) const { return devicePath(m_ports.value(port)); }

signals:
    // The open port failed on its own (unplugged, far end gone); it is closed now.
    void portLost(const dorq::Error &error);
    // The device's notices (a lock file not believed), as they come.
    void notice(const dorq::Error &notice);

private:
    void refuseWhileOpen(ErrorReason what) const;

    PortMap m_ports;
    std::unique_ptr<SerialDevice> m_device;
    int m_commPort = 1;
    QString m_settingsText = QStringLiteral("9600,N,8,1");
    LineSettings m_settings;
    bool m_dtr = false;
    bool m_rts = false;
};

// Closes, configures and opens port n, in the component's nine steps. A step that fails
// throws and the later steps do not run; the port is then closed.
void selectPort(MsComm &comm, int port);

} // namespace dorq
