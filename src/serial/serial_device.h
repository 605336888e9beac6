#pragma once

#include "line_settings.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <memory>

namespace dorq {

struct DeviceRequest
{
    QString name; // "/dev/ttyS0", "COM1", ...
    LineSettings settings;
    bool dtr = false;
    bool rts = false;
};

// The operating system's serial line, as the component needs it. Every operation either
// succeeds or throws SerialError; nothing is reported through a return value.
class SerialDevice : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    virtual void open(const DeviceRequest &request) = 0;
    virtual void close() = 0; // harmless when closed
    virtual bool isOpen() const = 0;
    virtual void setDtr(bool on) = 0;
    virtual void setRts(bool on) = 0;
    // Hands all bytes to the operating system before returning, unless the line is
    // backed up; then the rest follows in order as the line drains.
    virtual void write(const QByteArray &bytes) = 0;

signals:
    // The device failed while open and nobody was calling it (unplugged, hung up). It is
    // closed already when this is emitted, and it is emitted once per open.
    void lost(int number, const QString &text);
};

// QSerialPort underneath; the one place in the program that knows it.
std::unique_ptr<SerialDevice> makeSystemSerialDevice();

} // namespace dorq
