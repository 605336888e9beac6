#pragma once

#include "error.h"
#include "line_settings.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <memory>

namespace dorq {

struct DeviceRequest
{
    QString name; // the full path, "/dev/ttyS0", or "COM1" on Windows
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
    // Hands all bytes to the operating system before returning, or throws. Nothing is
    // queued in the program: when the system cannot take the bytes (the far end does not
    // read) this throws ErrorKind::NotTaken and the port stays open; when it takes only
    // part of them, it throws the same, and the rest (less than one line) goes out before
    // anything else as soon as the system takes it. Any other failure closes the port.
    virtual void write(const QByteArray &bytes) = 0;

signals:
    // The device failed while open and nobody was calling it (unplugged, hung up). It is
    // closed already when this is emitted, and it is emitted once per open.
    void lost(const dorq::Error &error);
    // Something the user should know that did not stop an open: a lock file not believed.
    void noticed(const dorq::Error &notice);
};

// termios on Unix, Win32 on Windows.
std::unique_ptr<SerialDevice> makeSystemSerialDevice();

// Closing a port whose output has not all left yet finishes on a thread of its own, so that
// no window waits for it. The program waits here before it ends, since an ending process
// would cut those closes short and lose what they still had to send. False on timeout.
bool waitForClosingPorts(int timeoutMs);

} // namespace dorq
