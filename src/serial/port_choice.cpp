#include "port_choice.h"

#include "path_trust.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryFile>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

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

QString systemText(int number)
{
    return QString::fromLocal8Bit(std::strerror(number));
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

PortChoice::PortChoice(const PortMap &commandLine) : m_ports(defaultPortMap())
{
    const QString file = userSettings().fileName();
    // As root, a link another user laid out could make the settings read or write any file.
    m_useSettings = pathTrust(QFile::encodeName(file).constData()) != PathTrust::Refuse;
    // An editor's byte order mark is no reason to forget the ports: it is read past, in a
    // copy, as the file itself is left alone.
    QTemporaryFile withoutBom;
    QFile original(file);
    if (m_useSettings && original.open(QIODevice::ReadOnly) && original.read(Bom.size()) == Bom &&
        withoutBom.open()) {
        withoutBom.write(original.readAll());
        withoutBom.flush();
    }
    const QSettings settings = withoutBom.isOpen()
                                   ? QSettings(withoutBom.fileName(), QSettings::IniFormat)
                                   : userSettings();
    if (m_useSettings)
        settings.allKeys(); // sections are parsed, and judged, only when first needed: all now
    if (!m_useSettings) {
        m_warnings << QStringLiteral("Instellingen %1 worden niet gebruikt: een koppeling van een "
                                     "andere gebruiker, of in een map waarin anderen kunnen "
                                     "schrijven; als root volgt dorq-pulse die niet.")
                          .arg(file);
    } else if (const int unreadable = openError(file, "rb");
               unreadable && unreadable != ENOENT) {
        m_warnings << QStringLiteral("Instellingen %1 zijn onleesbaar: %2; de "
                                     "standaardpoorten worden gebruikt.")
                          .arg(file, systemText(unreadable));
    } else if (settings.status() != QSettings::NoError) {
        m_warnings << QStringLiteral("Instellingen %1 zijn onleesbaar; de standaardpoorten "
                                     "worden gebruikt.")
                          .arg(file);
    } else {
        for (auto port = m_ports.begin(); port != m_ports.end(); ++port) {
            const QVariant value = settings.value(key(port.key()));
            if (!value.isValid())
                continue;
            if (usable(value))
                port.value() = value.toString();
            else
                m_warnings << QStringLiteral("Ongeldige waarde voor COM%1 in %2; %3 wordt "
                                             "gebruikt.")
                                  .arg(port.key())
                                  .arg(file, port.value());
        }
    }
    for (auto port = commandLine.begin(); port != commandLine.end(); ++port)
        m_ports[port.key()] = port.value();
}

void PortChoice::choose(int port, const QString &device)
{
    m_ports[port] = device;
    if (!m_useSettings)
        return;
    QSettings settings = userSettings();
    settings.setValue(key(port), device);
    saved(settings);
}

void PortChoice::reset(int port)
{
    m_ports[port] = defaultDevice(port);
    if (!m_useSettings)
        return;
    QSettings settings = userSettings();
    settings.remove(key(port));
    saved(settings);
}

void PortChoice::saved(QSettings &settings)
{
    settings.sync();
    // A format error is what was read (a byte order mark, say): the write itself went.
    if (settings.status() != QSettings::AccessError || m_told)
        return;
    m_told = true;
    const int number = openError(settings.fileName(), "ab");
    const QString why = number == ENOENT ? QStringLiteral("de map kan niet worden gemaakt")
                                         : systemText(number ? number : EACCES);
    m_problem = Problem{number ? number : EACCES,
                        QStringLiteral("Kan de poortkeuze niet bewaren in %1: %2; ze geldt tot "
                                       "het programma stopt.")
                            .arg(settings.fileName(), why)};
}

} // namespace dorq
