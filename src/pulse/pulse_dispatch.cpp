#include "pulse_dispatch.h"

#include "ms_comm.h"
#include "port_selection.h"
#include "pulse_record.h"
#include "serial_error.h"

namespace dorq {

PulseDispatch::PulseDispatch(PulseClock &clock, MsComm &comm, PulseView &view)
    : m_clock(clock), m_comm(comm), m_view(view)
{
}

bool PulseDispatch::tick()
{
    if (!m_clock.tick())
        return false;
    m_view.setClockText(QString::fromLatin1(m_clock.timeOfDayText()));
    return true;
}

PressResult PulseDispatch::channelPress(int index)
{
    return sendPulse(std::to_string(index + 1));
}

PressResult PulseDispatch::sendPulse(std::string_view channelText)
{
    PressResult result;
    result.record = buildRecord(channelText, m_clock.read());
    m_view.insertLogRecord(result.record);
    m_view.setLastLine(QString::fromStdString(displayForm(result.record)));
    const std::string line = lineForm(result.record);
    if (m_comm.portOpen()) {
        result.port = m_comm.commPort();
        result.device = m_comm.deviceName();
        try {
            m_comm.setOutput(QByteArray::fromStdString(line));
            result.at = std::chrono::system_clock::now();
            result.outcome = PressResult::Outcome::Sent;
        } catch (const SerialError &e) {
            result.at = std::chrono::system_clock::now();
            result.outcome = PressResult::Outcome::Failed;
            result.errorNumber = e.number();
            result.errorText = e.text();
            if (!m_comm.portOpen()) // the failure took the port down with it
                m_view.setStatus(SelectPortWarning);
            if (m_listener)
                m_listener->pressed(result);
            throw;
        }
    } else {
        result.at = std::chrono::system_clock::now();
        m_view.setStatus(SelectPortWarning);
        m_view.setLastLine(SelectPortWarning);
    }
    if (m_listener)
        m_listener->pressed(result);
    return result;
}

void PulseDispatch::selectPort(int port)
{
    try {
        m_view.setStatus(dorq::selectPort(m_comm, port));
    } catch (...) {
        // The first step closed the old port, so no "PLC op COMn" may stay on show.
        m_view.setStatus(SelectPortWarning);
        throw;
    }
}

void PulseDispatch::portLost()
{
    m_view.setStatus(SelectPortWarning);
}

} // namespace dorq
