#pragma once

#include "serial_error.h"

namespace dorq {

// A failure of a Win32 call as an Error: `number` is GetLastError's, read by the caller right
// after the call that failed, with the system's own words for it.
Error windowsError(ErrorStep step, unsigned long number, const QString &device);

} // namespace dorq
