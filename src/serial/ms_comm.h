#pragma once

#include "device_names.h"
#include "line_settings.h"
#include "serial_device.h"

#include <QObject>
#include <QString>
#include <memory>

namespace dorq {

// The serial port component of the window: a handful of properties, set in a fixed order,
// that configure, open and write one serial line. Every failure throws SerialError.
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
    virtual void setInputLen(int length);
    int inputLen() const { return m_inputLen; }
    virtual void setDTREnable(bool on);
    virtual void setRTSEnable(bool on);
    virtual void setRThreshold(int threshold);
    int rThreshold() const { return m_rThreshold; }
    virtual void setOutput(const QByteArray &bytes);

    // Takes effect at the next open of that port.
    void setPortDevice(int port, const QString &device) { m_ports[port] = device; }
    // The full path of the device that CommPort selects, for messages and tooltips.
    QString deviceName() const { return deviceName(m_commPort); }
    QString deviceName(int port) const { return devicePath(m_ports.value(port)); }

signals:
    // The open port failed on its own (unplugged, far end gone); it is closed now.
    void portLost(const dorq::Error &error);

private:
    void refuseWhileOpen(const QString &what) const;

    PortMap m_ports;
    std::unique_ptr<SerialDevice> m_device;
    int m_commPort = 1;
    QString m_settingsText = QStringLiteral("9600,N,8,1");
    LineSettings m_settings;
    int m_inputLen = 0;
    int m_rThreshold = 0;
    bool m_dtr = false;
    bool m_rts = false;
};

} // namespace dorq
