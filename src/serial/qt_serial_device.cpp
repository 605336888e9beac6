// The serial line on Windows, through QSerialPort. Nothing is queued in the program: a line
// is sent when the system has completed its write, for which a press waits up to a line's
// time; a far end that does not take it by then does not read.
#include "serial_device.h"
#include "serial_error.h"

#include <QElapsedTimer>
#include <QSerialPort>
#include <windows.h>

namespace dorq {

namespace {

QSerialPort::Parity toQt(LineSettings::Parity p)
{
    switch (p) {
    case LineSettings::Parity::None:
        return QSerialPort::NoParity;
    case LineSettings::Parity::Odd:
        return QSerialPort::OddParity;
    case LineSettings::Parity::Even:
        return QSerialPort::EvenParity;
    case LineSettings::Parity::Mark:
        return QSerialPort::MarkParity;
    case LineSettings::Parity::Space:
        return QSerialPort::SpaceParity;
    }
    return QSerialPort::NoParity;
}

QSerialPort::StopBits toQt(LineSettings::StopBits s)
{
    switch (s) {
    case LineSettings::StopBits::One:
        return QSerialPort::OneStop;
    case LineSettings::StopBits::OneAndHalf:
        return QSerialPort::OneAndHalfStop;
    case LineSettings::StopBits::Two:
        return QSerialPort::TwoStop;
    }
    return QSerialPort::OneStop;
}

// QSerialPort keeps the system's text but not its number. The number is still the thread's
// last error right after the call that failed; Qt's own kind of error where it is not.
int windowsErrorNumber(const QSerialPort &port)
{
    if (const DWORD error = ::GetLastError())
        return int(error);
    switch (port.error()) {
    case QSerialPort::DeviceNotFoundError:
        return ERROR_FILE_NOT_FOUND;
    case QSerialPort::PermissionError:
        return ERROR_ACCESS_DENIED;
    case QSerialPort::UnsupportedOperationError:
        return ERROR_NOT_SUPPORTED;
    case QSerialPort::ResourceError:
        return ERROR_BAD_COMMAND;
    default:
        return ERROR_GEN_FAILURE;
    }
}

ErrorKind kindOf(int number)
{
    switch (number) {
    case ERROR_NOT_READY:
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_DEVICE_NOT_CONNECTED:
        return ErrorKind::Lost;
    case ERROR_ACCESS_DENIED: // Windows opens a COM port for one program at a time
    case ERROR_SHARING_VIOLATION:
        return ErrorKind::Busy;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
        return ErrorKind::NotFound;
    case ERROR_INVALID_HANDLE: // a file, not a port
    case ERROR_INVALID_FUNCTION:
        return ErrorKind::NotSerial;
    case WAIT_TIMEOUT:
        return ErrorKind::NotTaken;
    default:
        return ErrorKind::Other;
    }
}

class QtSerialDevice final : public SerialDevice
{
public:
    QtSerialDevice()
    {
        // Nothing is ever read: drop what the far end sends instead of buffering it forever.
        connect(&m_port, &QSerialPort::readyRead, this, [this] { m_port.readAll(); });
        connect(&m_port, &QSerialPort::errorOccurred, this, &QtSerialDevice::onError);
    }

    void open(const DeviceRequest &request) override
    {
        const Busy busy(m_busy);
        close();
        m_name = request.name;
        m_port.setPortName(request.name);
        m_port.setBaudRate(request.settings.baudRate);
        m_port.setParity(toQt(request.settings.parity));
        m_port.setDataBits(static_cast<QSerialPort::DataBits>(request.settings.dataBits));
        m_port.setStopBits(toQt(request.settings.stopBits));
        m_port.setFlowControl(QSerialPort::NoFlowControl);
        // A line's time at this speed, twice over: long enough for a far end that reads.
        m_lineMs = std::max(20, 2 * 16 * 11 * 1000 / request.settings.baudRate);
        ::SetLastError(0);
        if (!m_port.open(QIODevice::ReadWrite))
            throw failure(ErrorStep::Open);
        try {
            setLine(&QSerialPort::setDataTerminalReady, request.dtr, "DTR");
            setLine(&QSerialPort::setRequestToSend, request.rts, "RTS");
        } catch (...) {
            m_port.close();
            throw;
        }
    }

    void close() override
    {
        if (!m_port.isOpen())
            return;
        // Closing cancels what the system has not written yet, and QSerialPort then puts the
        // port's earlier settings back: give the line on its way the time it needs to leave
        // the adapter, within a bound, so that a far end that reads nothing cannot hang us.
        if (m_port.bytesToWrite() > 0)
            m_port.waitForBytesWritten(60);
        const qint64 left = m_lineMs - m_sinceWrite.elapsed();
        if (m_sinceWrite.isValid() && left > 0)
            ::Sleep(DWORD(left));
        m_port.close();
        m_sinceWrite.invalidate();
    }

    bool isOpen() const override { return m_port.isOpen(); }

    void setDtr(bool on) override
    {
        const Busy busy(m_busy);
        setLine(&QSerialPort::setDataTerminalReady, on, "DTR");
    }

    void setRts(bool on) override
    {
        const Busy busy(m_busy);
        setLine(&QSerialPort::setRequestToSend, on, "RTS");
    }

    void write(const QByteArray &bytes) override
    {
        const Busy busy(m_busy);
        if (m_port.bytesToWrite() > 0 && !m_port.waitForBytesWritten(m_lineMs))
            failWrite();
        m_port.clearError();
        ::SetLastError(0);
        m_sinceWrite.start();
        if (m_port.write(bytes) == bytes.size() && m_port.flush() &&
            (m_port.bytesToWrite() == 0 || m_port.waitForBytesWritten(m_lineMs)))
            return;
        failWrite();
    }

private:
    // Errors raised while a caller is inside an operation are that caller's to throw.
    struct Busy
    {
        explicit Busy(int &depth) : m_depth(depth) { ++m_depth; }
        ~Busy() { --m_depth; }
        int &m_depth;
    };

    // A line the system did not complete in time leaves the port open; any other failure
    // leaves it in an unknown state, and the port is closed.
    [[noreturn]] void failWrite()
    {
        if (m_port.error() == QSerialPort::TimeoutError) {
            Error e;
            e.kind = ErrorKind::NotTaken;
            e.step = ErrorStep::Write;
            e.number = WAIT_TIMEOUT;
            e.systemText = m_port.errorString();
            e.device = m_name;
            e.size = 16;
            throw SerialError(std::move(e));
        }
        const SerialError error = failure(ErrorStep::Write);
        m_port.close();
        throw error;
    }

    void onError(QSerialPort::SerialPortError error)
    {
        if (m_busy > 0 || !m_port.isOpen() || error == QSerialPort::NoError ||
            error == QSerialPort::TimeoutError || error == QSerialPort::UnsupportedOperationError)
            return;
        // A vanished device reports the same failure on every turn of the event loop; close
        // on the first so that it is reported once and nothing spins.
        // Nobody called the system just now: its last error may be anybody's.
        ::SetLastError(0);
        Error lostError = failure(ErrorStep::Watch).error();
        lostError.kind = ErrorKind::Lost;
        m_port.close();
        emit lost(lostError);
    }

    using LineSetter = bool (QSerialPort::*)(bool);
    void setLine(LineSetter set, bool on, const char *line)
    {
        if (!m_port.isOpen())
            return; // applied at the next open
        m_port.clearError();
        ::SetLastError(0);
        // Virtual cables have no modem lines (the system answers ERROR_NOT_SUPPORTED); that
        // is no reason to refuse the port.
        if (!(m_port.*set)(on) && m_port.error() != QSerialPort::UnsupportedOperationError &&
            ::GetLastError() != ERROR_NOT_SUPPORTED) {
            Error e = failure(ErrorStep::ModemLine).error();
            e.kind = ErrorKind::Refused;
            e.detail = QLatin1String(line);
            throw SerialError(std::move(e));
        }
        m_port.clearError();
    }

    // Read before anything else can touch the thread's last error.
    SerialError failure(ErrorStep step) const
    {
        Error e;
        e.number = windowsErrorNumber(m_port);
        e.kind = kindOf(e.number);
        e.step = step;
        e.systemText = m_port.errorString();
        e.device = m_name;
        return SerialError(std::move(e));
    }

    QSerialPort m_port;
    QString m_name;
    int m_lineMs = 40;
    QElapsedTimer m_sinceWrite;
    int m_busy = 0;
};

} // namespace

std::unique_ptr<SerialDevice> makeSystemSerialDevice()
{
    return std::make_unique<QtSerialDevice>();
}

// Windows closes a port at once, cancelling what it has not sent; nothing is left closing.
bool waitForClosingPorts(int)
{
    return true;
}

} // namespace dorq
