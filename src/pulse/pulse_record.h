#pragma once

#include "pulse_clock.h"

#include <string>
#include <string_view>

namespace dorq {

constexpr std::size_t RecordLength = 14;  // "5  10:20:30.12"
constexpr std::size_t LineLength = 16;    // record + CR LF, as sent on the line
constexpr std::size_t DisplayLength = 22; // record + "<CR><LF>", as shown

// channelText must be one digit 1 to 8; anything else is a caller's bug and throws
// std::invalid_argument rather than putting a malformed line on the wire.
std::string buildRecord(std::string_view channelText, const ClockReading &clock);
std::string lineForm(std::string_view record);
std::string displayForm(std::string_view record);

} // namespace dorq
