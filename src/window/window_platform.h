#pragma once

#include <QString>

// What the window asks of the system it runs on; one source file per platform.
namespace dorq {

// The number the system gave for the file operation that just failed, and forgetting it.
int lastFileError();
void clearFileError();

// Device names that "Ander apparaat..." offers as examples, as this system spells them.
QString otherDeviceExamples();

} // namespace dorq
