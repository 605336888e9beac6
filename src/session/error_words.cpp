#include "error_words.h"

namespace dorq {

namespace {

QString withSystemText(const QString &what, const Error &e)
{
    return e.systemText.isEmpty() ? what : QStringLiteral("%1: %2").arg(what, e.systemText);
}

QString holderText(const Error &e)
{
    if (e.kind == ErrorKind::StillClosing)
        return QStringLiteral(", in gebruik door de vorige regels, die nog de lijn op gaan; kies "
                              "de poort over enkele seconden opnieuw");
    if (e.holderPid == 0)
        return {};
    const QString process = e.holder.isEmpty()
                                ? QStringLiteral("proces %1").arg(e.holderPid)
                                : QStringLiteral("%1 (proces %2)").arg(e.holder).arg(e.holderPid);
    return QStringLiteral(", in gebruik door ") + process +
           (e.lockFile.isEmpty() ? QString()
                                 : QStringLiteral(", volgens lockbestand ") + e.lockFile);
}

// Why a device is no serial line, by the serial library's code for it; these words say it
// better than the system's text.
QString notSerialText(const QString &detail)
{
    if (detail == QLatin1String("ptmx"))
        return QStringLiteral("geen seriele lijn maar de masterkant van een pseudo-terminal; "
                              "gebruik de andere kant (/dev/pts/N)");
    if (detail == QLatin1String("tty"))
        return QStringLiteral("dit is uw eigen terminal, geen seriele lijn");
    if (detail == QLatin1String("folder"))
        return QStringLiteral("een map, geen apparaat");
    return {};
}

QString openText(const Error &e)
{
    const QString what = QStringLiteral("Kan %1 niet openen").arg(e.device);
    const QString notSerial = notSerialText(e.detail);
    if (e.kind == ErrorKind::NotSerial && !notSerial.isEmpty())
        return what + QStringLiteral(": ") + notSerial;
    QString text = withSystemText(what, e);
    if (e.kind == ErrorKind::Busy || e.kind == ErrorKind::StillClosing)
        text += holderText(e);
    if (e.kind == ErrorKind::NotSerial && !e.detail.isEmpty())
        text += QStringLiteral(": ") + e.detail;
    if (!e.suggestion.isEmpty())
        text += QStringLiteral(" (een naam zonder pad wordt in /dev gezocht; bedoelt u %1?)")
                    .arg(e.suggestion);
    return text;
}

QString writeText(const Error &e)
{
    const QString what = QStringLiteral("Schrijven naar %1 mislukt").arg(e.device);
    if (e.kind != ErrorKind::NotTaken)
        return withSystemText(what, e);
    const QString consequence =
        e.taken == 0 ? QStringLiteral("deze regel is niet verzonden")
                     : QStringLiteral("het systeem nam maar %1 van de %2 bytes van deze regel; de "
                                      "rest volgt zodra er weer ruimte is")
                           .arg(e.taken)
                           .arg(e.size);
    return QStringLiteral("%1: de andere kant leest niet en de uitvoerbuffer van het systeem is "
                          "vol; %2.")
        .arg(what, consequence);
}

} // namespace

QString errorText(const Error &e)
{
    switch (e.step) {
    case ErrorStep::Open:
        return openText(e);
    case ErrorStep::Settings:
        return withSystemText(
            QStringLiteral("Kan de instellingen van %1 niet zetten").arg(e.device), e);
    case ErrorStep::ModemLine:
        return withSystemText(QStringLiteral("Kan %1 op %2 niet zetten").arg(e.detail, e.device),
                              e);
    case ErrorStep::Write:
        return writeText(e);
    case ErrorStep::Watch:
        return withSystemText(QStringLiteral("Verbinding met %1 verbroken").arg(e.device), e);
    case ErrorStep::Property:
        break;
    }
    return e.detail;
}

QString adviceFor(const Error &e, const QString &chooseAnother)
{
    switch (e.kind) {
    case ErrorKind::Lost:
        return QStringLiteral("De verbinding met %1 is weggevallen: de adapter is losgetrokken "
                              "of het programma aan de andere kant is gestopt. Sluit hem weer "
                              "aan en kies de poort opnieuw.")
            .arg(e.device);
    case ErrorKind::Denied:
        return QStringLiteral("U hebt geen toegang tot %1. Voeg uw gebruiker toe aan de groep "
                              "dialout (sudo usermod -aG dialout $USER) en meld opnieuw aan.")
            .arg(e.device);
    case ErrorKind::Busy:
        return QStringLiteral("%1 is in gebruik door een ander programma. Sluit dat programma "
                              "en kies de poort opnieuw.")
            .arg(e.device);
    case ErrorKind::NotFound:
        return QStringLiteral("Apparaat %1 bestaat niet. Controleer de kabel of adapter, of %2.")
            .arg(e.device, chooseAnother);
    case ErrorKind::NotSerial:
        return QStringLiteral("%1 is geen seriele poort. Controleer het pad, of %2.")
            .arg(e.device, chooseAnother);
    case ErrorKind::NotTaken:
        return QStringLiteral("Controleer of het programma aan de andere kant van %1 loopt en "
                              "leest. De poort blijft open: de volgende druk wordt weer "
                              "geprobeerd.")
            .arg(e.device);
    case ErrorKind::StillClosing:
    case ErrorKind::Refused:
    case ErrorKind::Invalid:
    case ErrorKind::Other:
        break;
    }
    return {};
}

} // namespace dorq
