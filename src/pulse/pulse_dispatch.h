#pragma once

#include "pulse_clock.h"

#include <QString>
#include <chrono>
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

// What one press did, for whoever keeps evidence of it.
struct PressResult
{
    enum class Outcome { Sent, NoPort, Failed };

    std::string record;
    Outcome outcome = Outcome::NoPort;
    int port = 0;   // the open port, 0 for none
    QString device; // the device behind it
    int errorNumber = 0;
    QString errorText;
    // Right after the system took the line; at the press when nothing went.
    std::chrono::system_clock::time_point at;
};

class PressListener
{
public:
    virtual ~PressListener() = default;
    virtual void pressed(const PressResult &result) = 0; // must not throw
};

// The program's logic behind the window's four events. Errors from the serial line are
// thrown to the caller at the step that failed; earlier steps keep their effect.
class PulseDispatch
{
public:
    PulseDispatch(PulseClock &clock, MsComm &comm, PulseView &view);

    void setListener(PressListener *listener) { m_listener = listener; }

    bool tick();                         // true when a new second began
    PressResult channelPress(int index); // index 0 to 7: "Kanaal 1" to "Kanaal 8"
    // A failed write is told to the listener and then thrown.
    PressResult sendPulse(std::string_view channelText);
    void selectPort(int port);
    void portLost(); // the open port failed between events

private:
    PulseClock &m_clock;
    MsComm &m_comm;
    PulseView &m_view;
    PressListener *m_listener = nullptr;
};

} // namespace dorq
