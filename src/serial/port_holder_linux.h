#pragma once

#include "error.h"

#include <QByteArray>
#include <QString>
#include <sys/stat.h>

namespace dorq {

// Another process that holds a port, where the system says which.
struct PortHolder
{
    QString program;
    long pid = 0;
    QString lockFile; // empty when the kernel's own list of locks named it
};

// The process whose flock is on the device at `path`, from /proc/locks.
PortHolder flockHolder(const QByteArray &path);

// The process that the lock file of other serial programs (/run/lock/LCK..ttyS0) names for
// the device `at` refers to (a descriptor, `node` its status), when the file is believable. A
// lock file that is there but not believed is described in `ignored`, and `holder` is empty.
struct LockFileHolder
{
    PortHolder holder;
    PortHolder ignored;
    ErrorReason why = ErrorReason::None; // ProcessGone or NotBelievable, for `ignored`
};
LockFileHolder lockFileHolder(int at, const struct stat &node);
// The lock file not believed, as a notice for the user about `device`.
Error lockFileNotice(const LockFileHolder &found, const QString &device);

} // namespace dorq
