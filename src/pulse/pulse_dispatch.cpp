#include "pulse_dispatch.h"

#include "ms_comm.h"
#include "port_selection.h"
#include "pulse_record.h"

namespace dorq {

PulseDispatch::PulseDispatch(PulseClock &clock, MsComm &comm, PulseView &view)
    : m_clock(clock), m_comm(comm), m_view(view)
{
}

void PulseDispatch::tick()
{
    if (m_clock.tick())
        m_view.setClockText(QString::fromLatin1(m_clock.timeOfDayText()));
}

void PulseDispatch::channelPress(int index)
{
    sendPulse(std::to_string(index + 1));
}

void PulseDispatch::sendPulse(std::string_view channelText)
{
    const std::string record = buildRecord(channelText, m_clock.read());
    m_view.insertLogRecord(record);
    m_view.setLastLine(QString::fromStdString(displayForm(record)));
    const std::string line = lineForm(record);
    if (m_comm.portOpen()) {
        try {
            m_comm.setOutput(QByteArray::fromStdString(line));
        } catch (...) {
            if (!m_comm.portOpen()) // the failure took the port down with it
                m_view.setStatus(SelectPortWarning);
            throw;
        }
    } else {
        m_view.setStatus(SelectPortWarning);
        m_view.setLastLine(SelectPortWarning);
    }
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
