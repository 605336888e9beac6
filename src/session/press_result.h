#pragma once

#include "error.h"

#include <QString>
#include <chrono>
#include <optional>
#include <string>

namespace dorq {

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

// What choosing COM1 or COM2 (or a device for one) did: the port open now, 0 for none, or
// why it could not be.
struct SelectResult
{
    int port = 0;
    std::optional<Error> error;
};

} // namespace dorq
