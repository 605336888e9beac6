// The serial line on Windows, through Win32 directly, so that nothing is queued in the program:
// a write returns when the system has taken the whole line, or after about a line's time with
// what it did not take cancelled, never to leave later.
#include "serial_device.h"
#include "system.h"

#include <QTimer>
#include <windows.h>

namespace dorq {

namespace {

ErrorKind kindOf(DWORD number)
{
    switch (number) {
    case ERROR_NOT_READY:
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_OPERATION_ABORTED: // the driver cancelled the call as the device went
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
    case ERROR_SEM_TIMEOUT:
    case ERROR_COUNTER_TIMEOUT:
        return ErrorKind::NotTaken;
    default:
        return ErrorKind::Other;
    }
}

// A failure of a Win32 call as an Error: `number` is GetLastError's, read by the caller right
// after the call that failed.
Error windowsError(ErrorStep step, DWORD number, const QString &device)
{
    Error e;
    e.kind = kindOf(number);
    e.step = step;
    e.number = int(number);
    e.systemText = systemText(int(number));
    e.path = device;
    return e;
}

BYTE parityOf(LineSettings::Parity p)
{
    switch (p) {
    case LineSettings::Parity::None:
        return NOPARITY;
    case LineSettings::Parity::Odd:
        return ODDPARITY;
    case LineSettings::Parity::Even:
        return EVENPARITY;
    case LineSettings::Parity::Mark:
        return MARKPARITY;
    case LineSettings::Parity::Space:
        return SPACEPARITY;
    }
    return NOPARITY;
}

BYTE stopBitsOf(LineSettings::StopBits s)
{
    switch (s) {
    case LineSettings::StopBits::One:
        return ONESTOPBIT;
    case LineSettings::StopBits::OneAndHalf:
        return ONE5STOPBITS;
    case LineSettings::StopBits::Two:
        return TWOSTOPBITS;
    }
    return ONESTOPBIT;
}

// "COM10" and up open only under the device namespace; "\\.\COM10" is already there.
std::wstring pathOf(const QString &name)
{
    const QString path =
        name.startsWith(QLatin1String("\\\\.\\")) ? name : QStringLiteral("\\\\.\\") + name;
    return path.toStdWString();
}

class Win32SerialDevice final : public SerialDevice
{
public:
    Win32SerialDevice()
    {
        // A vanished adapter answers no call of ours; nobody would know until the next press.
        m_watch.setInterval(WatchMs);
        connect(&m_watch, &QTimer::timeout, this, &Win32SerialDevice::watch);
    }
    ~Win32SerialDevice() override
    {
        close();
        ::CloseHandle(m_written);
    }

    void open(const DeviceRequest &request) override
    {
        close();
        m_name = request.name;
        // Overlapped, so that a write can be waited for, cancelled and then known for sure.
        HANDLE port = ::CreateFileW(pathOf(m_name).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        if (port == INVALID_HANDLE_VALUE)
            throw SerialError(windowsError(ErrorStep::Open, ::GetLastError(), m_name));
        m_port = port;
        try {
            configure(request);
            setDtr(request.dtr);
            setRts(request.rts);
        } catch (...) {
            close();
            throw;
        }
        m_watch.start();
    }

    // The driver finishes what it has taken on its own; nothing here waits for the wire.
    void close() override
    {
        m_watch.stop();
        m_held.clear();
        if (m_port == INVALID_HANDLE_VALUE)
            return;
        ::CloseHandle(m_port);
        m_port = INVALID_HANDLE_VALUE;
    }

    bool isOpen() const override { return m_port != INVALID_HANDLE_VALUE; }
    void setDtr(bool on) override { setModemLine(on ? SETDTR : CLRDTR, ErrorReason::Dtr); }
    void setRts(bool on) override { setModemLine(on ? SETRTS : CLRRTS, ErrorReason::Rts); }

    void write(const QByteArray &bytes) override
    {
        if (!m_held.isEmpty()) {
            sendHeld();
            if (!m_held.isEmpty())
                throw notTaken(0, bytes.size());
        }
        const DWORD taken = hand(bytes);
        if (taken == DWORD(bytes.size()))
            return;
        // Never half a line on the wire: the rest goes before anything else. A line the
        // system took none of is refused for good, as its answer says.
        if (taken > 0)
            m_held = bytes.mid(int(taken));
        throw notTaken(int(taken), bytes.size());
    }

private:
    static constexpr int WatchMs = 500;

    void configure(const DeviceRequest &request)
    {
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (!::GetCommState(m_port, &dcb))
            throw SerialError(windowsError(ErrorStep::Settings, ::GetLastError(), m_name));
        const LineSettings &s = request.settings;
        dcb.BaudRate = DWORD(s.baudRate);
        dcb.ByteSize = BYTE(s.dataBits);
        dcb.Parity = parityOf(s.parity);
        dcb.StopBits = stopBitsOf(s.stopBits);
        dcb.fBinary = TRUE;
        dcb.fParity = s.parity != LineSettings::Parity::None;
        // No handshake of any kind: the lines are set by hand, below.
        dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = dcb.fDsrSensitivity = FALSE;
        dcb.fOutX = dcb.fInX = dcb.fNull = dcb.fAbortOnError = FALSE;
        dcb.fDtrControl = request.dtr ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
        dcb.fRtsControl = request.rts ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
        if (!::SetCommState(m_port, &dcb)) {
            Error e = windowsError(ErrorStep::Settings, ::GetLastError(), m_name);
            if (e.kind == ErrorKind::Other)
                e.kind = ErrorKind::Refused;
            throw SerialError(std::move(e));
        }
        // Reads return at once (nothing is read); a write gets twice a line's time at this
        // speed, enough for a far end that reads, counted here, not by the driver.
        m_lineMs = DWORD(std::max(20, 2 * 16 * 11 * 1000 / s.baudRate));
        COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, 0, 0};
        if (!::SetCommTimeouts(m_port, &timeouts))
            throw SerialError(windowsError(ErrorStep::Settings, ::GetLastError(), m_name));
    }

    // What the system took of `bytes`. A write still going after a line's time is cancelled,
    // and its outcome then read: so the count is final, and nothing of it can leave later.
    // Nothing is purged, since that would also drop lines answered sent that the driver holds.
    DWORD hand(const QByteArray &bytes)
    {
        OVERLAPPED pending{};
        pending.hEvent = m_written;
        DWORD taken = 0;
        bool done = ::WriteFile(m_port, bytes.constData(), DWORD(bytes.size()), &taken, &pending);
        bool cancelled = false;
        if (!done && ::GetLastError() == ERROR_IO_PENDING) {
            if (::WaitForSingleObject(m_written, m_lineMs) == WAIT_TIMEOUT)
                cancelled = ::CancelIoEx(m_port, &pending);
            done = ::GetOverlappedResult(m_port, &pending, &taken, TRUE);
        }
        if (done && taken == DWORD(bytes.size()))
            return taken;
        const DWORD number = done ? DWORD(WAIT_TIMEOUT) : ::GetLastError();
        if (number == WAIT_TIMEOUT || (cancelled && number == ERROR_OPERATION_ABORTED))
            return taken;
        const Error failure = windowsError(ErrorStep::Write, number, m_name);
        if (failure.kind == ErrorKind::NotTaken)
            return taken;
        close();
        throw SerialError(failure);
    }

    void sendHeld()
    {
        const DWORD taken = hand(m_held);
        m_held.remove(0, int(taken));
    }

    SerialError notTaken(int taken, qsizetype size) const
    {
        Error e = windowsError(ErrorStep::Write, WAIT_TIMEOUT, m_name);
        e.taken = taken;
        e.size = int(size);
        return SerialError(std::move(e));
    }

    // Virtual cables have no modem lines (the system answers ERROR_NOT_SUPPORTED); that is
    // no reason to refuse the port.
    void setModemLine(DWORD function, ErrorReason line)
    {
        if (m_port == INVALID_HANDLE_VALUE || ::EscapeCommFunction(m_port, function))
            return; // closed: applied at the next open
        const DWORD number = ::GetLastError();
        if (number == ERROR_NOT_SUPPORTED)
            return;
        Error e = windowsError(ErrorStep::ModemLine, number, m_name);
        e.kind = ErrorKind::Refused;
        e.reason = line;
        throw SerialError(std::move(e));
    }

    // Between presses: the device still answers, what the far end sent is dropped (nothing is
    // ever read), and the rest of a half-taken line goes once there is room.
    void watch()
    {
        DWORD errors = 0;
        COMSTAT status{};
        if (!::ClearCommError(m_port, &errors, &status)) {
            Error e = windowsError(ErrorStep::Watch, ::GetLastError(), m_name);
            e.kind = ErrorKind::Lost;
            close();
            emit lost(e);
            return;
        }
        if (status.cbInQue > 0)
            ::PurgeComm(m_port, PURGE_RXCLEAR);
        if (m_held.isEmpty())
            return;
        try {
            sendHeld();
        } catch (const SerialError &failure) {
            Error e = failure.error();
            e.kind = ErrorKind::Lost;
            emit lost(e);
        }
    }

    HANDLE m_port = INVALID_HANDLE_VALUE;
    HANDLE m_written = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD m_lineMs = 40;
    QString m_name;
    QByteArray m_held;
    QTimer m_watch;
};

} // namespace

std::unique_ptr<SerialDevice> makeSystemSerialDevice()
{
    return std::make_unique<Win32SerialDevice>();
}

// Windows' driver finishes a closed port's output itself; nothing is left closing here.
bool waitForClosingPorts(int)
{
    return true;
}

} // namespace dorq
