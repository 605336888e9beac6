#include "ms_comm.h"

#include "serial_error.h"

namespace dorq {

MsComm::MsComm(PortMap ports, std::unique_ptr<SerialDevice> device, QObject *parent)
    : QObject(parent), m_ports(std::move(ports)), m_device(std::move(device)),
      m_settings(parseLineSettings(m_settingsText))
{
    setObjectName(QStringLiteral("MSComm1"));
    connect(m_device.get(), &SerialDevice::lost, this, &MsComm::portLost);
}

MsComm::~MsComm()
{
    m_device->close();
}

namespace {

void requireNonNegative(const char *property, int value)
{
    if (value < 0)
        throw invalid(ErrorNumber::InvalidPropertyValue, {},
                      QStringLiteral("Ongeldige %1 %2").arg(QLatin1String(property)).arg(value));
}

} // namespace

void MsComm::refuseWhileOpen(const QString &what) const
{
    if (m_device->isOpen())
        throw invalid(ErrorNumber::OperationWhileOpen, deviceName(),
                      QStringLiteral("%1 kan niet terwijl %2 open is").arg(what, deviceName()));
}

void MsComm::setPortOpen(bool open)
{
    if (!open) {
        m_device->close();
        return;
    }
    refuseWhileOpen(QStringLiteral("Openen"));
    const QString name = m_ports.value(m_commPort);
    if (name.isEmpty())
        throw invalid(ErrorNumber::InvalidPropertyValue, {},
                      QStringLiteral("Geen apparaat opgegeven voor COM%1").arg(m_commPort));
    try {
        m_device->open({deviceName(), m_settings, m_dtr, m_rts});
    } catch (const SerialError &e) {
        const QString meant = fileMeantBy(name);
        if (e.error().kind != ErrorKind::NotFound || meant.isEmpty())
            throw;
        Error error = e.error();
        error.suggestion = meant;
        throw SerialError(std::move(error));
    }
}

bool MsComm::portOpen() const
{
    return m_device->isOpen();
}

void MsComm::setCommPort(int port)
{
    refuseWhileOpen(QStringLiteral("Poortnummer wijzigen"));
    if (!m_ports.contains(port))
        throw invalid(ErrorNumber::InvalidPortNumber, {},
                      QStringLiteral("Ongeldig poortnummer %1").arg(port));
    m_commPort = port;
}

void MsComm::setSettings(const QString &settings)
{
    refuseWhileOpen(QStringLiteral("Instellingen wijzigen"));
    m_settings = parseLineSettings(settings);
    m_settingsText = settings;
}

void MsComm::setInputLen(int length)
{
    requireNonNegative("InputLen", length);
    m_inputLen = length;
}

void MsComm::setDTREnable(bool on)
{
    m_device->setDtr(on);
    m_dtr = on;
}

void MsComm::setRTSEnable(bool on)
{
    m_device->setRts(on);
    m_rts = on;
}

void MsComm::setRThreshold(int threshold)
{
    requireNonNegative("RThreshold", threshold);
    m_rThreshold = threshold;
}

void MsComm::setOutput(const QByteArray &bytes)
{
    if (!m_device->isOpen())
        throw invalid(ErrorNumber::PortNotOpen, deviceName(),
                      QStringLiteral("Poort %1 is niet open").arg(deviceName()));
    m_device->write(bytes);
}

} // namespace dorq
