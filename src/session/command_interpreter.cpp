#include "command_interpreter.h"

#include "port_selection.h"
#include "serial_error.h"
#include "session.h"

namespace dorq {

namespace {

QString errorLine(const Failure &e)
{
    return QStringLiteral("error %1: %2").arg(e.number()).arg(e.text());
}

} // namespace

CommandInterpreter::Answer CommandInterpreter::execute(const QString &command)
{
    const QString word = command.trimmed().toLower();
    if (word.isEmpty())
        return {};
    if (word == QLatin1String("quit")) {
        m_quit = true;
        return {};
    }
    if (word == QLatin1String("com1") || word == QLatin1String("com2")) {
        const int port = word.back().digitValue();
        try {
            m_session.selectPort(port);
        } catch (const SerialError &e) {
            return failure(errorLine(e), adviceFor(e, m_session.comm().deviceName(port), false));
        }
        return {QStringLiteral("ok ") + portStatusText(port), {}};
    }
    if (word.size() == 1 && word[0] >= QLatin1Char('1') && word[0] <= QLatin1Char('8')) {
        try {
            const PressResult result = m_session.press(word[0].digitValue() - 1);
            const QString record = QString::fromStdString(result.record);
            if (result.outcome == PressResult::Outcome::NoPort)
                return failure(QStringLiteral("unsent %1: %2").arg(record, SelectPortWarning));
            return {QStringLiteral("sent ") + record, {}};
        } catch (const SerialError &e) {
            return failure(errorLine(e), adviceFor(e, m_session.comm().deviceName(), false));
        }
    }
    return failure(QStringLiteral("error %1: unknown command \"%2\"")
                       .arg(ErrorNumber::InvalidPropertyValue)
                       .arg(command.trimmed()));
}

CommandInterpreter::Answer CommandInterpreter::portLost(int number, const QString &text)
{
    return failure(QStringLiteral("lost %1: %2").arg(number).arg(text),
                   adviceFor(SerialError(number, text), m_session.comm().deviceName(), true));
}

CommandInterpreter::Answer CommandInterpreter::failure(const QString &line, const QString &advice)
{
    m_failed = true;
    return {line, advice};
}

} // namespace dorq
