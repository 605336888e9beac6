#pragma once

#include <QString>

namespace dorq {

// Where errors go once a handler has given up: a message box in the window, standard error
// in a headless run, a recorder in tests, so that no modal dialog waits for a click.
class ErrorReporter
{
public:
    virtual ~ErrorReporter() = default;
    virtual void report(int number, const QString &text) = 0;
};

} // namespace dorq
