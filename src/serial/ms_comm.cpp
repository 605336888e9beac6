#include "ms_comm.h"

namespace dorq {

MsComm::MsComm(PortMap ports, std::unique_ptr<SerialDevice> device, QObject *parent)
    : QObject(parent), m_ports(std::move(ports)), m_device(std::move(device)),
      m_settings(parseLineSettings(m_settingsText))
{
    setObjectName(QStringLiteral("MSComm1"));
    connect(m_device.get(), &SerialDevice::lost, this, &MsComm::portLost);
    connect(m_device.get(), &SerialDevice::noticed, this, &MsComm::notice);
}

MsComm::~MsComm()
{
    m_device->close();
}

namespace {

void requireNonNegative(const char *property, int value)
{
    if (value < 0)
        throw invalid(ErrorNumber::InvalidPropertyValue, ErrorReason::NegativeValue,
                      QStringLiteral("%1 %2").arg(QLatin1String(property)).arg(value));
}

} // namespace

void MsComm::refuseWhileOpen(ErrorReason what) const
{
    if (m_device->isOpen())
        throw invalid(ErrorNumber::OperationWhileOpen, what, {}, deviceName());
}

void MsComm::setPortOpen(bool open)
{
    if (!open) {
        m_device->close();
        return;
    }
    refuseWhileOpen(ErrorReason::OpenWhileOpen);
    const QString name = m_ports.value(m_commPort);
    if (name.isEmpty())
        throw invalid(ErrorNumber::InvalidPropertyValue, ErrorReason::NoDevice,
                      QString::number(m_commPort));
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
    refuseWhileOpen(ErrorReason::PortWhileOpen);
    if (!m_ports.contains(port))
        throw invalid(ErrorNumber::InvalidPortNumber, ErrorReason::PortNumber,
                      QString::number(port));
    m_commPort = port;
}

void MsComm::setSettings(const QString &settings)
{
    refuseWhileOpen(ErrorReason::SettingsWhileOpen);
    m_settings = parseLineSettings(settings);
    m_settingsText = settings;
}

void MsComm::setInputLen(int length)
{
    requireNonNegative("InputLen", length);
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
}

void MsComm::setOutput(const QByteArray &bytes)
{
    if (!m_device->isOpen())
        throw invalid(ErrorNumber::PortNotOpen, ErrorReason::PortNotOpen, {}, deviceName());
    m_device->write(bytes);
}

void selectPort(MsComm &comm, int port)
{
    comm.setPortOpen(false);
    comm.setCommPort(port);
    comm.setSettings(PlcSettings);
    comm.setInputLen(1);
    comm.setDTREnable(true);
    comm.setRTSEnable(true);
    comm.setRThreshold(1);
    comm.setPortOpen(true);
}

} // namespace dorq
