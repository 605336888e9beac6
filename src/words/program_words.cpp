// The words for pulse programs: what is wrong on which line, and how a play went.
#include "pulse_program.h"
#include "words.h"

namespace dorq {

namespace {

QString seconds(std::int32_t ticks)
{
    return QString::fromStdString(dryRunLine({ticks, 1, 0}).substr(4));
}

QString ms(std::int64_t us)
{
    return QString::number(double(us) / 1000, 'f', 2);
}

const QString Forms =
    QStringLiteral("een regel is \"T K\", \"T K every S times N\" of \"port com1\"");
const QString OneRecord = QStringLiteral("een record duurt 18.33 ms op de lijn (16 bytes bij "
                                         "9600 baud, 8O1), dus minstens 20 ms ertussen");

QString problem(const ProgramError &e)
{
    using Kind = ProgramError::Kind;
    const QString word = QString::fromUtf8(e.word.data(), qsizetype(e.word.size()));
    switch (e.kind) {
    case Kind::Channel:
        return QStringLiteral("kanaal \"%1\" bestaat niet; kies 1 tot 8").arg(word);
    case Kind::OffGrid:
        return QStringLiteral("\"%1\" valt niet op de klok van 10 ms: hoogstens twee decimalen")
            .arg(word);
    case Kind::Negative:
        return QStringLiteral("\"%1\" is negatief").arg(word);
    case Kind::NotANumber:
        return QStringLiteral("\"%1\" is geen getal in seconden, zoals 12.04%2")
            .arg(word, word.contains(QLatin1Char(','))
                           ? QStringLiteral(" (met een punt, niet met een komma)")
                           : QString());
    case Kind::UnknownWord:
        return QStringLiteral("onbekend woord \"%1\"; %2").arg(word, Forms);
    case Kind::Incomplete:
        return QStringLiteral("onvolledig; %1").arg(Forms);
    case Kind::Count:
        return QStringLiteral("\"%1\" na times is geen geheel aantal van minstens 1").arg(word);
    case Kind::TooClose:
        if (e.otherLine == e.line)
            return QStringLiteral("de drukken van deze regel volgen elkaar op %1 ms; %2")
                .arg(e.gap * 10)
                .arg(OneRecord);
        return QStringLiteral("de druk op +%1 s volgt %2 ms na een druk van regel %3; %4")
            .arg(seconds(e.at))
            .arg(e.gap * 10)
            .arg(e.otherLine)
            .arg(OneRecord);
    case Kind::TooLong:
        if (e.at == 0)
            return QStringLiteral("deze rij ligt meer dan 24 uur van de eerste; een programma "
                                  "duurt hoogstens 24 uur");
        return QStringLiteral("de laatste druk, op +%1 s, valt na 24 uur; een programma duurt "
                              "hoogstens 24 uur")
            .arg(seconds(e.at));
    case Kind::TooMany:
        return QStringLiteral("hier komt het programma boven %1 drukken: meer passen er niet "
                              "in 24 uur, 20 ms uit elkaar")
            .arg(MaxProgramPresses);
    case Kind::PortNotFirst:
        return QStringLiteral("\"port\" hoort eenmaal bovenaan, voor de eerste druk (regel %1)")
            .arg(e.otherLine);
    case Kind::TwoPorts:
        return QStringLiteral("deze rij is op een andere poort dan regel %1; een programma "
                              "speelt op een poort")
            .arg(e.otherLine);
    case Kind::LineTooLong:
        return QStringLiteral("langer dan %1 bytes, niet gelezen").arg(MaxProgramLine);
    case Kind::BadRow:
        return QStringLiteral("geen rij van een journaal van dorq-pulse");
    case Kind::Empty:
        break;
    }
    return QStringLiteral("het programma heeft geen enkele druk");
}

} // namespace

QString programErrorText(const ProgramError &error)
{
    const QString text = problem(error);
    return error.line > 0 ? QStringLiteral("regel %1: %2").arg(error.line).arg(text) : text;
}

QString programFileText(const Error &e)
{
    const QString what = QStringLiteral("Kan het programma %1 niet lezen").arg(e.path);
    if (e.kind == ErrorKind::NotAFile)
        return what + QStringLiteral(": het is geen gewoon bestand (een FIFO, socket, apparaat "
                                     "of map); kies een bestand");
    return e.systemText.isEmpty() ? what : what + QStringLiteral(": ") + e.systemText;
}

QString playSummaryText(const PlaySummary &s)
{
    QString text = QStringLiteral("gespeeld: %1 verzonden, %2 geweigerd, %3 te laat")
                       .arg(s.sent)
                       .arg(s.refused)
                       .arg(s.late);
    if (s.unplayed > 0)
        text += QStringLiteral(", %1 niet gespeeld").arg(s.unplayed);
    if (s.lateness.count() > 0)
        text += QStringLiteral("; verzonden na het begin van hun stap: p50 %1 ms, p99 %2 ms, "
                               "max %3 ms")
                    .arg(ms(s.lateness.percentileUs(50)), ms(s.lateness.percentileUs(99)),
                         ms(s.lateness.maxUs()));
    if (s.skippedRows > 0)
        text += QStringLiteral("; %1 rijen van het journaal waren niet verzonden en zijn "
                               "overgeslagen")
                    .arg(s.skippedRows);
    return text;
}

} // namespace dorq
