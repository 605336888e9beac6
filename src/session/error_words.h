#pragma once

#include "serial_error.h"

#include <QString>

namespace dorq {

// The operator's words for a failure of the line: what failed on which device, in the
// system's own words, e.g. "Kan /dev/ttyUSB0 niet openen: Permission denied".
QString errorText(const Error &error);

// What to do about it, for the failures an operator can mend; empty for the others.
// `chooseAnother` is how this front end's user points a port elsewhere.
QString adviceFor(const Error &error, const QString &chooseAnother);

} // namespace dorq
