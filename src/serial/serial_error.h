#pragma once

#include <QString>
#include <cerrno>
#include <stdexcept>

namespace dorq {

// A failure with a number and a text for the operator. The number is the operating
// system's error code where there is one, else one of the ErrorNumber values.
class Failure : public std::runtime_error
{
public:
    Failure(int number, const QString &text)
        : std::runtime_error(text.toStdString()), m_number(number), m_text(text)
    {
    }

    int number() const { return m_number; }
    QString text() const { return m_text; }

private:
    int m_number;
    QString m_text;
};

// What the serial component raises when an operation cannot be carried out.
class SerialError : public Failure
{
public:
    using Failure::Failure;
};

// Numbers for failures that have no system error code; operators and manuals of serial
// controls know them by these values.
namespace ErrorNumber {
constexpr int InvalidPropertyValue = 380;
constexpr int OperationWhileOpen = 8000;
constexpr int InvalidPortNumber = 8002;
constexpr int PortNotOpen = 8012;
constexpr int Internal = 51; // a programming error, which carries no number of its own
// The far end did not take a line: the system's "try again" (EAGAIN) on Unix, its
// WAIT_TIMEOUT on Windows, where the program waits a line's time for it.
#ifdef _WIN32
constexpr int LineNotTaken = 258;
#else
constexpr int LineNotTaken = EAGAIN;
#endif
} // namespace ErrorNumber

// A line the far end did not take in time; `consequence` says what became of it.
SerialError lineNotTaken(const QString &device, const QString &consequence);

// What to do, for the failures an operator can mend; empty for the others. `device` is the
// full path; `lostWhileOpen` when the port failed between presses.
QString adviceFor(const SerialError &error, const QString &device, bool lostWhileOpen);
// The error's own text followed by the advice.
QString withAdvice(const SerialError &error, const QString &device, bool lostWhileOpen);

} // namespace dorq
