#include "port_choice.h"

#include "path_trust.h"

#include <QFile>
#include <QSettings>
#include <algorithm>

namespace dorq {

namespace {

QSettings userSettings()
{
    return QSettings(QSettings::defaultFormat(), QSettings::UserScope, QStringLiteral("dorq-pulse"),
                     QStringLiteral("dorq-pulse"));
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
    const QSettings settings = userSettings();
    // As root, a link another user laid out could make the settings read or write any file.
    m_useSettings =
        pathTrust(QFile::encodeName(settings.fileName()).constData()) != PathTrust::Refuse;
    if (m_useSettings)
        settings.allKeys(); // sections are parsed, and judged, only when first needed: all now
    if (!m_useSettings) {
        m_warnings << QStringLiteral("Instellingen %1 worden niet gebruikt: een koppeling van een "
                                     "andere gebruiker, of in een map waarin anderen kunnen "
                                     "schrijven; als root volgt dorq-pulse die niet.")
                          .arg(settings.fileName());
    } else if (settings.status() != QSettings::NoError) {
        m_warnings << QStringLiteral("Instellingen %1 zijn onleesbaar; de standaardpoorten "
                                     "worden gebruikt.")
                          .arg(settings.fileName());
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
                                  .arg(settings.fileName(), port.value());
        }
    }
    for (auto port = commandLine.begin(); port != commandLine.end(); ++port)
        m_ports[port.key()] = port.value();
}

void PortChoice::choose(int port, const QString &device)
{
    m_ports[port] = device;
    if (m_useSettings)
        userSettings().setValue(key(port), device);
}

void PortChoice::reset(int port)
{
    m_ports[port] = defaultDevice(port);
    if (m_useSettings)
        userSettings().remove(key(port));
}

} // namespace dorq
