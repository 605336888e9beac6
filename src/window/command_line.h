#pragma once

#include "ms_comm.h"

#include <QStringList>

namespace dorq {

inline const QString DisplayVersion = QStringLiteral("0.01");

// The port map from --com1/--com2; --help and --version print and end the program.
PortMap parseCommandLine(const QStringList &arguments);

} // namespace dorq
