#pragma once

#include <QMetaType>
#include <QString>
#include <stdexcept>

namespace dorq {

// What kind of failure, whatever the platform's number for it: the front ends choose their
// words and advice by this, and the journal keeps it.
enum class ErrorKind {
    NotFound,     // no such device or folder
    Denied,       // the user may not open it
    Busy,         // another program holds it; `holder` names it when the system says who
    StillClosing, // our own last close of it is still sending its output
    NotSerial,    // a file, a folder, a pty master, the user's own terminal: `reason` says
    NotTaken,     // the far end does not read: the line (or its rest) was not handed over
    Lost,         // unplugged, hung up: the port is closed; or journal rows not written
    Refused,      // the device refused the settings or a modem line
    Invalid,      // the component's own: a property value or a call it refuses
    NotAFile,     // a FIFO, socket or folder where a file was wanted
    Untrusted,    // as root: a path another user could have laid out, or a file of theirs
    Replaced,     // no failure: the journal's file was deleted or replaced, and made anew
    Other,
};

// What was being done, so that a message can say so.
enum class ErrorStep {
    // The serial line.
    Open,
    Settings,
    ModemLine,
    Write,
    Watch,
    Property,
    // The journal.
    JournalFolder,
    JournalOpen,
    JournalWrite,
    JournalSync,
    // The remembered ports.
    SettingsRead,
    SettingsSave,
    // The window's log, saved to a file.
    LogSave,
    // Another program's lock file for a port, not believed: a notice, no failure.
    LockFile,
    // A pulse program, or a journal to play again, read from its file.
    ProgramRead,
};

// Why, where the kind alone does not say.
enum class ErrorReason {
    None,
    // NotSerial.
    PtyMaster,
    OwnTerminal,
    Folder,
    // ModemLine.
    Dtr,
    Rts,
    // Invalid: what the component refused. `value` holds what was given.
    SettingsForm,
    SettingsField,
    BaudRate,
    Parity,
    DataBits,
    StopBits,
    OneAndHalfStopBits,
    NegativeValue,
    NoDevice,
    PortNumber,
    OpenWhileOpen,
    PortWhileOpen,
    SettingsWhileOpen,
    PortNotOpen,
    // Untrusted: a file of another user's, not a way another user could change.
    OthersFile,
    // Lost, of journal rows: the writer takes none (a hung disk, a stopped writer) and the
    // rows waiting for it fill their room; the writer has ended; the program ended before
    // the writer confirmed them.
    WriterBehind,
    WriterGone,
    Unconfirmed,
    // LockFile: the process it names is gone; or it neither runs as a user who may open the
    // device nor has the device open.
    ProcessGone,
    NotBelievable,
};

// One failure, as a value. `number` is the system's own (errno, or GetLastError on Windows)
// with `systemText` its own words for it, or one of ErrorNumber's for the component's own.
struct Error
{
    ErrorKind kind = ErrorKind::Other;
    ErrorStep step = ErrorStep::Open;
    ErrorReason reason = ErrorReason::None;
    int number = 0;
    QString systemText;
    QString path; // the device or file, in full, as the system was asked for it

    QString value;  // Invalid: what was refused, as given
    QString holder; // Busy: program name, or empty
    qint64 holderPid = 0;
    QString lockFile;    // Busy: the lock file that names the holder
    int taken = 0;       // NotTaken: bytes of the line the system did take
    int size = 0;        // NotTaken: bytes of the line
    QString suggestion;  // NotFound: a file of that name where the user probably meant it
    qint64 rows = 0;     // Lost, of journal rows: how many were not written
    QString firstRecord; // and of those answered sent, the first and the last record
    QString lastRecord;
};

// Numbers for failures that have no system error code; operators and manuals of serial
// controls know them by these values.
namespace ErrorNumber {
constexpr int InvalidPropertyValue = 380;
constexpr int OperationWhileOpen = 8000;
constexpr int InvalidPortNumber = 8002;
constexpr int PortNotOpen = 8012;
} // namespace ErrorNumber

// What the serial component raises, as the control it stands for does; the session catches
// it and hands the Error on as a value.
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

// The component's own refusals.
inline SerialError invalid(int number, ErrorReason reason, const QString &value,
                           const QString &path = {})
{
    Error e;
    e.kind = ErrorKind::Invalid;
    e.step = ErrorStep::Property;
    e.reason = reason;
    e.number = number;
    e.value = value;
    e.path = path;
    return SerialError(std::move(e));
}

} // namespace dorq

Q_DECLARE_METATYPE(dorq::Error)
