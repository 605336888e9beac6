#pragma once

#include <QByteArray>
#include <sys/types.h>

namespace dorq {

// Whether our own last close of the device is still under way: an open now would wait in
// the kernel until it is done, seconds on a real line.
bool isStillClosing(dev_t device);

// Sends `rest`, the rest of a line the system took only part of, then closes `fd`, on a
// thread of its own: either may wait for the line. The device counts as still closing until
// both are done, and waitForClosingPorts() waits for it.
void closeInBackground(int fd, dev_t device, const QByteArray &rest);

} // namespace dorq
