#pragma once

#include "pulse_clock.h"

#include <QString>
#include <string>
#include <string_view>

namespace dorq {

class MsComm;

inline const QString SelectPortWarning = QStringLiteral("Selecteer een comport !!!!");

// What the program shows; the window implements it, tests record it.
class PulseView
{
public:
    virtual ~PulseView() = default;
    virtual void insertLogRecord(const std::string &record) = 0; // newest first, under the header
    virtual void setLastLine(const QString &text) = 0;
    virtual void setStatus(const QString &text) = 0;
    virtual void setClockText(const QString &text) = 0;
};

// The program's logic behind the window's four events. Errors from the serial line are
// thrown to the caller at the step that failed; earlier steps keep their effect.
class PulseDispatch
{
public:
    PulseDispatch(PulseClock &clock, MsComm &comm, PulseView &view);

    void tick();
    void channelPress(int index); // index 0 to 7: "Kanaal 1" to "Kanaal 8"
    void sendPulse(std::string_view channelText);
    void selectPort(int port);
    void portLost(); // the open port failed between events

private:
    PulseClock &m_clock;
    MsComm &m_comm;
    PulseView &m_view;
};

} // namespace dorq
