#include "port_memory.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryFile>
#include <algorithm>
#include <cerrno>
#include <cstdio>

namespace dorq {

namespace {

QSettings userSettings()
{
    return QSettings(QSettings::defaultFormat(), QSettings::UserScope, QStringLiteral("dorq-pulse"),
                     QStringLiteral("dorq-pulse"));
}

const QByteArray Bom = "\xef\xbb\xbf";

// The system's number for why the file cannot be opened so, 0 when it can.
int openError(const QString &file, const char *mode)
{
    errno = 0;
    std::FILE *opened = std::fopen(QFile::encodeName(file).constData(), mode);
    const int number = opened ? 0 : errno;
    if (opened)
        std::fclose(opened);
    return number;
}

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

} // namespace

PortMemory::PortMemory() : m_file(userSettings().fileName())
{
    // As root, a link another user laid out could make the settings read or write any file.
    m_use = pathTrust(QFile::encodeName(m_file).constData()) != PathTrust::Refuse;
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
    if (!m_use) {
        found.problems << problem(ErrorStep::SettingsRead, ErrorKind::Untrusted, 0, m_file);
        return found;
    }
    // An editor's byte order mark is no reason to forget the ports: it is read past, in a
    // copy, as the file itself is left alone.
    QTemporaryFile withoutBom;
    QFile original(m_file);
    if (original.open(QIODevice::ReadOnly) && original.read(Bom.size()) == Bom &&
        withoutBom.open()) {
        withoutBom.write(original.readAll());
        withoutBom.flush();
    }
    const QSettings settings = withoutBom.isOpen()
                                   ? QSettings(withoutBom.fileName(), QSettings::IniFormat)
                                   : userSettings();
    settings.allKeys(); // sections are parsed, and judged, only when first needed: all now
    if (const int unreadable = openError(m_file, "rb"); unreadable && unreadable != ENOENT) {
        found.problems << problem(ErrorStep::SettingsRead, ErrorKind::Other, unreadable, m_file);
        return found;
    }
    if (settings.status() != QSettings::NoError) {
        found.problems << problem(ErrorStep::SettingsRead, ErrorKind::Invalid, 0, m_file);
        return found;
    }
    for (auto port = found.ports.begin(); port != found.ports.end(); ++port) {
        const QVariant value = settings.value(key(port.key()));
        if (!value.isValid())
            continue;
        if (usable(value)) {
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
    if (!m_use)
        return std::nullopt;
    QSettings settings = userSettings();
    if (device.isEmpty())
        settings.remove(key(port));
    else
        settings.setValue(key(port), device);
    settings.sync();
    // A format error is what was read (a byte order mark, say): the write itself went.
    if (settings.status() != QSettings::AccessError || std::exchange(m_told, true))
        return std::nullopt;
    const int number = openError(settings.fileName(), "ab");
    return problem(ErrorStep::SettingsSave, ErrorKind::Other, number ? number : EACCES,
                   settings.fileName());
}

} // namespace dorq
