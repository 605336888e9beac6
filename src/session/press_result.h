#pragma once

#include "error.h"

#include <QString>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

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

// How long after their steps the lines went, in bins of 10 µs: a long program costs no
// more memory than a short one.
class Lateness
{
public:
    void add(std::int64_t us);
    std::int64_t count() const { return m_count; }
    // Nearest rank, p from 0 to 100, to the bin; the largest exactly.
    std::int64_t percentileUs(int p) const;
    std::int64_t maxUs() const { return m_max; }

private:
    static constexpr std::int64_t BinUs = 10, Bins = 10000; // beyond 100 ms, the last bin
    std::vector<std::uint32_t> m_bins = std::vector<std::uint32_t>(Bins + 1);
    std::int64_t m_count = 0, m_max = 0;
};

struct PlaySummary
{
    std::int64_t sent = 0;
    std::int64_t refused = 0;  // no port, or the line failed
    std::int64_t late = 0;     // sent, but not with the record of its step
    std::int64_t unplayed = 0; // the play was stopped before them
    std::int64_t skippedRows = 0;
    Lateness lateness; // of the true send time after the step's start, for presses sent

    bool allOnTheirSteps() const { return refused == 0 && late == 0 && unplayed == 0; }
};

} // namespace dorq
