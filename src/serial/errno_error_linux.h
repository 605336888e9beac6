#pragma once

#include "serial_error.h"

namespace dorq {

// An errno as the serial line's Error: the kind the front ends choose their words by, the
// number as the system gave it, and the system's own text for it.
Error errnoError(int error, ErrorStep step, const QString &device);

} // namespace dorq
