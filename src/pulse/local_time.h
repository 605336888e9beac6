#pragma once

#include <ctime>

namespace dorq {

// The local calendar's date and time of `t`, by the platform's thread-safe call.
std::tm toLocalTime(std::time_t t);

} // namespace dorq
