#pragma once

#include "serial_error.h"

#include <QString>
#include <chrono>
#include <optional>
#include <string>

namespace dorq {

inline const QString SelectPortWarning = QStringLiteral("Selecteer een comport !!!!");

// What one press did, for the front end to show and the journal to keep.
struct PressResult
{
    enum class Outcome { Sent, NoPort, Failed };

    std::string record;
    Outcome outcome = Outcome::NoPort;
    int port = 0;               // the open port, 0 for none
    QString device;             // the device behind it
    std::optional<Error> error; // when Failed
    bool portOpen = false;      // after the press: a failure may have closed it
    // Right after the system took the line; at the press when nothing went.
    std::chrono::system_clock::time_point at;
};

// What choosing COM1 or COM2 did: the status to show, or why no port is open now.
struct SelectResult
{
    QString status;
    std::optional<Error> error;
};

} // namespace dorq
