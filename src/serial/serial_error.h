#pragma once

#include <QMetaType>
#include <QString>
#include <stdexcept>

namespace dorq {

// What kind of failure, whatever the platform's number for it: the front ends choose their
// words and advice by this.
enum class ErrorKind {
    NotFound,     // no such device
    Denied,       // the user may not open it
    Busy,         // another program holds it; `holder` names it when the system says who
    StillClosing, // our own last close of it is still sending its output
    NotSerial,    // a file, a folder, a pty master, the user's own terminal
    NotTaken,     // the far end does not read: the line (or its rest) was not handed over
    Lost,         // unplugged, hung up: the port is closed
    Refused,      // the device refused the settings or a modem line
    Invalid,      // the component's own: a property value or a call it refuses
    Other,
};

// Where it failed, so that a message can say what was being done.
enum class ErrorStep { Open, Settings, ModemLine, Write, Watch, Property };

// One failure of the serial line, as a value. `number` is the system's own (errno, or
// GetLastError on Windows) with `systemText` its own words for it, or one of ErrorNumber's
// for the component's own failures, with `detail` saying what was refused.
struct Error
{
    ErrorKind kind = ErrorKind::Other;
    ErrorStep step = ErrorStep::Open;
    int number = 0;
    QString systemText;
    QString device;

    QString detail; // Invalid: what the component refused; NotSerial: why it is none
    QString holder; // Busy: program name, or empty
    qint64 holderPid = 0;
    QString lockFile;   // Busy: the lock file that names the holder
    int taken = 0;      // NotTaken: bytes of the line the system did take
    int size = 0;       // NotTaken: bytes of the line
    QString suggestion; // NotFound: a file of that name where the user probably meant it
};

} // namespace dorq

Q_DECLARE_METATYPE(dorq::Error)

namespace dorq {

// What the serial component raises; the session turns it into a value for the front ends.
class SerialError : public std::runtime_error
{
public:
    explicit SerialError(Error error)
        : std::runtime_error("serial line failure"), m_error(std::move(error))
    {
    }
    const Error &error() const { return m_error; }
    int number() const { return m_error.number; }

private:
    Error m_error;
};

// Numbers for failures that have no system error code; operators and manuals of serial
// controls know them by these values.
namespace ErrorNumber {
constexpr int InvalidPropertyValue = 380;
constexpr int OperationWhileOpen = 8000;
constexpr int InvalidPortNumber = 8002;
constexpr int PortNotOpen = 8012;
constexpr int Internal = 51; // a programming error, which carries no number of its own
} // namespace ErrorNumber

// The component's own refusals.
SerialError invalid(int number, const QString &device, const QString &detail);

} // namespace dorq
