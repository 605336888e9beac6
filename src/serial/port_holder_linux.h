#pragma once

#include <QByteArray>
#include <QString>
#include <sys/types.h>

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
// the device at `canonicalPath`, numbered `device`, when the file is believable.
PortHolder lockFileHolder(const QString &canonicalPath, dev_t device);

} // namespace dorq
