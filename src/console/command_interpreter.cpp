#include "command_interpreter.h"

#include "session.h"
#include "words.h"

namespace dorq {

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
        const SelectResult result = m_session.selectPort(word.back().digitValue());
        if (result.error)
            return failure(QStringLiteral("error"), *result.error);
        return {QStringLiteral("ok ") + portStatus(result.port), {}};
    }
    if (word.size() == 1 && word[0] >= QLatin1Char('1') && word[0] <= QLatin1Char('8'))
        return pressed(m_session.press(word[0].digitValue() - 1));
    return failure(QStringLiteral("error %1: unknown command \"%2\"")
                       .arg(ErrorNumber::InvalidPropertyValue)
                       .arg(command.trimmed()));
}

CommandInterpreter::Answer CommandInterpreter::pressed(const PressResult &result)
{
    const QString record = QString::fromStdString(result.record);
    switch (result.outcome) {
    case PressResult::Outcome::Sent:
        return {QStringLiteral("sent ") + record, {}};
    case PressResult::Outcome::NoPort:
        return failure(QStringLiteral("unsent %1: %2").arg(record, SelectPortWarning));
    case PressResult::Outcome::Failed:
        break;
    }
    return failure(QStringLiteral("error"), *result.error);
}

CommandInterpreter::Answer CommandInterpreter::tooLong(qsizetype limit)
{
    return failure(QStringLiteral("error %1: command longer than %2 bytes, skipped")
                       .arg(ErrorNumber::InvalidPropertyValue)
                       .arg(limit));
}

CommandInterpreter::Answer CommandInterpreter::portLost(const Error &error)
{
    return failure(QStringLiteral("lost"), error);
}

CommandInterpreter::Answer CommandInterpreter::failure(const QString &kind, const Error &error)
{
    return failure(QStringLiteral("%1 %2: %3").arg(kind).arg(error.number).arg(errorText(error)),
                   adviceFor(error, FrontEnd::Console));
}

CommandInterpreter::Answer CommandInterpreter::failure(const QString &line, const QString &advice)
{
    m_failed = true;
    return {line, advice};
}

} // namespace dorq
