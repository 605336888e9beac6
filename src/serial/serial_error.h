#pragma once

#include <QString>
#include <stdexcept>

namespace dorq {

// What the serial component raises when an operation cannot be carried out. The number is
// the operating system's error code where there is one, else one of the ErrorNumber values.
class SerialError : public std::runtime_error
{
public:
    SerialError(int number, const QString &text)
        : std::runtime_error(text.toStdString()), m_number(number), m_text(text)
    {
    }

    int number() const { return m_number; }
    QString text() const { return m_text; }

private:
    int m_number;
    QString m_text;
};

// Numbers for failures that have no system error code; operators and manuals of serial
// controls know them by these values.
namespace ErrorNumber {
constexpr int InvalidPropertyValue = 380;
constexpr int OperationWhileOpen = 8000;
constexpr int InvalidPortNumber = 8002;
constexpr int PortNotOpen = 8012;
} // namespace ErrorNumber

// The error's own text followed, for the failures an operator can mend, by what to do.
// `device` is the full path; `lostWhileOpen` when the port failed between presses.
QString withAdvice(const SerialError &error, const QString &device, bool lostWhileOpen);

} // namespace dorq
