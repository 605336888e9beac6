#pragma once

#include <QString>
#include <stdexcept>

namespace dorq {

// A failure outside the serial line (a file that cannot be written) with the system's number
// and a text for the operator.
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

} // namespace dorq
