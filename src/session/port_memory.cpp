#include "port_memory.h"

#include <QFile>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <algorithm>
#include <cerrno>

namespace dorq {

namespace {

QSettings userSettings()
{
    return QSettings(QSettings::defaultFormat(), QSettings::UserScope, QStringLiteral("dorq-pulse"),
                     QStringLiteral("dorq-pulse"));
}

const QByteArray Bom = "\xef\xbb\xbf";

Error problem(ErrorStep step, ErrorKind kind, int number, const QString &file)
{
    Error e;
    e.step = step;
    e.kind = kind;
    e.number = number;
    e.systemText = systemText(number);
    e.path = file;
    return e;
}

// Why the file could not be read, as the settings' Error.
Error problem(ErrorStep step, const FileAccess &access, const QString &file)
{
    switch (access.result) {
    case FileAccess::Untrusted:
        return problem(step, ErrorKind::Untrusted, 0, file);
    case FileAccess::NotAFile:
        return problem(step, ErrorKind::NotAFile, 0, file);
    default:
        return problem(step, ErrorKind::Other, access.error ? access.error : EIO, file);
    }
}

QString key(int port)
{
    return QStringLiteral("ports/COM%1").arg(port);
}

bool usable(const QVariant &value)
{
    if (value.typeId() != QMetaType::QString)
        return false;
    const QString text = value.toString();
    return !text.isEmpty() &&
           std::none_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x20; });
}

// Qt would tell standard error that it cannot load a value of a type it does not know; such a
// value is judged here instead, and said once.
struct QuietQt
{
    QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    ~QuietQt() { qInstallMessageHandler(previous); }
};

// The settings as a file of their own that QSettings reads and writes: the user's file is
// read and replaced whole by the system room, so that, as root, nothing goes through a
// folder or link another user could change, and a FIFO holds nothing up.
struct Copy
{
    explicit Copy(QByteArray bytes) : name(folder.filePath(QStringLiteral("settings.ini")))
    {
        // An editor's byte order mark is no reason to forget the ports.
        if (bytes.startsWith(Bom))
            bytes.remove(0, Bom.size());
        QFile file(name);
        if (file.open(QIODevice::WriteOnly))
            file.write(bytes);
    }
    QByteArray bytes() const
    {
        QFile saved(name);
        return saved.open(QIODevice::ReadOnly) ? saved.readAll() : QByteArray();
    }
    QTemporaryDir folder; // a plain file in it, which QSettings replaces as it saves
    QString name;
};

// QSettings reads its file as it is made: a FIFO would hold the start, and as root a link
// planted on the way would be followed. On Unix the file is named here instead, where Qt
// keeps it.
QString settingsFile()
{
    if (platform() == Platform::Windows)
        return userSettings().fileName();
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/dorq-pulse/dorq-pulse") +
           (QSettings::defaultFormat() == QSettings::IniFormat ? QStringLiteral(".ini")
                                                               : QStringLiteral(".conf"));
}

} // namespace

PortMemory::PortMemory()
    : m_file(settingsFile()),
      // On Windows the settings are kept in the registry, unless asked to be a file.
      m_inFile(platform() != Platform::Windows ||
               QSettings::defaultFormat() == QSettings::IniFormat)
{
}

PortMemory::Remembered PortMemory::read(const PortMap &commandLine) const
{
    Remembered found = readFile();
    for (auto port = commandLine.begin(); port != commandLine.end(); ++port)
        found.ports[port.key()] = port.value();
    return found;
}

PortMemory::Remembered PortMemory::readFile() const
{
    Remembered found{defaultPortMap(), {}};
    QByteArray bytes;
    const FileAccess access = m_inFile ? readWholeFile(m_file, bytes) : FileAccess();
    if (access.result == FileAccess::Missing)
        return found;
    if (access.result != FileAccess::Done) {
        found.problems << problem(ErrorStep::SettingsRead, access, m_file);
        return found;
    }
    Copy copy(bytes);
    const QSettings settings =
        m_inFile ? QSettings(copy.name, QSettings::IniFormat) : userSettings();
    const QuietQt quiet;
    settings.allKeys(); // sections are parsed, and judged, only when first needed: all now
    if (settings.status() != QSettings::NoError) {
        found.problems << problem(ErrorStep::SettingsRead, ErrorKind::Invalid, 0, m_file);
        return found;
    }
    for (auto port = found.ports.begin(); port != found.ports.end(); ++port) {
        if (!settings.contains(key(port.key())))
            continue;
        if (const QVariant value = settings.value(key(port.key())); usable(value)) {
            port.value() = value.toString();
            continue;
        }
        Error bad = problem(ErrorStep::SettingsRead, ErrorKind::Invalid, 0, m_file);
        bad.reason = ErrorReason::PortNumber;
        bad.value = QString::number(port.key());
        found.problems << bad;
    }
    return found;
}

std::optional<Error> PortMemory::remember(int port, const QString &device)
{
    const auto told = [this](const Error &e) {
        return std::exchange(m_told, true) ? std::nullopt : std::optional<Error>(e);
    };
    if (!m_inFile) {
        QSettings settings = userSettings();
        device.isEmpty() ? settings.remove(key(port)) : settings.setValue(key(port), device);
        settings.sync();
        if (settings.status() != QSettings::AccessError)
            return std::nullopt;
        return told(problem(ErrorStep::SettingsSave, ErrorKind::Other, EACCES, m_file));
    }
    QByteArray bytes;
    const FileAccess read = readWholeFile(m_file, bytes);
    if (read.result != FileAccess::Done && read.result != FileAccess::Missing)
        return told(problem(ErrorStep::SettingsSave, read, m_file));
    Copy copy(bytes);
    QSettings settings(copy.name, QSettings::IniFormat);
    const QuietQt quiet;
    device.isEmpty() ? settings.remove(key(port)) : settings.setValue(key(port), device);
    settings.sync();
    if (settings.status() == QSettings::AccessError)
        return told(problem(ErrorStep::SettingsSave, ErrorKind::Other, EACCES, m_file));
    const FileAccess written = replaceFile(m_file, copy.bytes());
    if (written.result == FileAccess::Done)
        return std::nullopt;
    return told(problem(ErrorStep::SettingsSave, written, m_file));
}

} // namespace dorq
