#include "words.h"

#include "file_words.h"
#include "ms_comm.h"
#include "system.h"

#include <algorithm>
#include <cerrno>

namespace dorq {

namespace {

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

// Why a device is no serial line; these words say it better than the system's text.
QString notSerialText(ErrorReason reason)
{
    switch (reason) {
    case ErrorReason::PtyMaster:
        return QStringLiteral("geen seriele lijn maar de masterkant van een pseudo-terminal; "
                              "gebruik de andere kant (/dev/pts/N)");
    case ErrorReason::OwnTerminal:
        return QStringLiteral("dit is uw eigen terminal, geen seriele lijn");
    case ErrorReason::Folder:
        return QStringLiteral("een map, geen apparaat");
    default:
        return {};
    }
}

QString openText(const Error &e)
{
    const QString what = QStringLiteral("Kan %1 niet openen").arg(e.path);
    const QString notSerial = notSerialText(e.reason);
    if (e.kind == ErrorKind::NotSerial && !notSerial.isEmpty())
        return what + QStringLiteral(": ") + notSerial;
    if (e.kind == ErrorKind::Untrusted)
        return what + QStringLiteral(": ") + untrustedWay();
    QString text = withSystemText(what, e);
    if (e.kind == ErrorKind::Busy || e.kind == ErrorKind::StillClosing)
        text += holderText(e);
    if (!e.suggestion.isEmpty())
        text += QStringLiteral(" (een naam zonder pad wordt in /dev gezocht; bedoelt u %1?)")
                    .arg(e.suggestion);
    return text;
}

QString writeText(const Error &e)
{
    const QString what = QStringLiteral("Schrijven naar %1 mislukt").arg(e.path);
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

// The component's own refusals.
QString propertyText(const Error &e)
{
    const QString settings = QStringLiteral("Ongeldige poortinstelling \"%1\": ").arg(e.value);
    const auto whileOpen = [&](const char *what) {
        return QStringLiteral("%1 kan niet terwijl %2 open is").arg(QLatin1String(what), e.path);
    };
    switch (e.reason) {
    case ErrorReason::SettingsForm:
        return settings + QStringLiteral("verwacht baud,pariteit,databits,stopbits");
    case ErrorReason::SettingsField:
        return settings + QStringLiteral("leeg veld of spaties");
    case ErrorReason::BaudRate:
        return settings + QStringLiteral("die baudrate wordt niet ondersteund");
    case ErrorReason::Parity:
        return settings + QStringLiteral("de pariteit is geen N, O, E, M of S");
    case ErrorReason::DataBits:
        return settings + QStringLiteral("dat aantal databits wordt niet ondersteund");
    case ErrorReason::StopBits:
        return settings + QStringLiteral("dat aantal stopbits wordt niet ondersteund");
    case ErrorReason::OneAndHalfStopBits:
        return QStringLiteral("1,5 stopbit kan %1 alleen met 5 databits").arg(e.path);
    case ErrorReason::NegativeValue:
        return QStringLiteral("Ongeldige %1").arg(e.value);
    case ErrorReason::NoDevice:
        return QStringLiteral("Geen apparaat opgegeven voor COM%1").arg(e.value);
    case ErrorReason::PortNumber:
        return QStringLiteral("Ongeldig poortnummer %1").arg(e.value);
    case ErrorReason::OpenWhileOpen:
        return whileOpen("Openen");
    case ErrorReason::PortWhileOpen:
        return whileOpen("Poortnummer wijzigen");
    case ErrorReason::SettingsWhileOpen:
        return whileOpen("Instellingen wijzigen");
    case ErrorReason::PortNotOpen:
        return QStringLiteral("Poort %1 is niet open").arg(e.path);
    default:
        return QStringLiteral("Ongeldige waarde %1").arg(e.value);
    }
}

// A lock file that blocks nothing, since it is not believed.
QString lockFileText(const Error &e)
{
    if (e.reason == ErrorReason::ProcessGone)
        return QStringLiteral("Lockbestand %1 genegeerd: proces %2, dat het noemt, bestaat niet "
                              "meer.")
            .arg(e.lockFile)
            .arg(e.holderPid);
    return QStringLiteral("Lockbestand %1 genegeerd: het noemt %2 (proces %3), dat %4 niet open "
                          "heeft, en de eigenaar van het bestand mag %4 niet openen of draait dat "
                          "proces niet.")
        .arg(e.lockFile, e.holder.isEmpty() ? QStringLiteral("een proces") : e.holder)
        .arg(e.holderPid)
        .arg(e.path);
}

// How this front end's user points a port at another device.
QString chooseAnother(FrontEnd frontEnd)
{
    if (frontEnd == FrontEnd::Window)
        return QStringLiteral("kies een ander apparaat met een rechtsklik op COM1 of COM2");
    return QStringLiteral("start het programma met --com1 APPARAAT of --com2 APPARAAT, "
                          "bijvoorbeeld --com1 %1")
        .arg(exampleDevices().value(0));
}

QString deniedAdvice(const Error &e)
{
    if (platform() == Platform::Windows)
        return QStringLiteral("U hebt geen toegang tot %1. Vraag de beheerder van deze pc om "
                              "toegang tot de poort.")
            .arg(e.path);
    return QStringLiteral("U hebt geen toegang tot %1. Voeg uw gebruiker toe aan de groep "
                          "dialout (sudo usermod -aG dialout $USER) en meld opnieuw aan.")
        .arg(e.path);
}

} // namespace

QString portStatus(int port)
{
    return QStringLiteral("PLC op COM%1 %2").arg(port).arg(PlcSettings);
}

QString errorText(const Error &e)
{
    switch (e.step) {
    case ErrorStep::Open:
        return openText(e);
    case ErrorStep::Settings:
        return withSystemText(QStringLiteral("Kan de instellingen van %1 niet zetten").arg(e.path),
                              e);
    case ErrorStep::ModemLine:
        return withSystemText(
            QStringLiteral("Kan %1 op %2 niet zetten")
                .arg(e.reason == ErrorReason::Rts ? QStringLiteral("RTS") : QStringLiteral("DTR"),
                     e.path),
            e);
    case ErrorStep::Write:
        return writeText(e);
    case ErrorStep::Watch:
        return withSystemText(QStringLiteral("Verbinding met %1 verbroken").arg(e.path), e);
    case ErrorStep::Property:
        return propertyText(e);
    case ErrorStep::JournalFolder:
    case ErrorStep::JournalOpen:
    case ErrorStep::JournalWrite:
    case ErrorStep::JournalSync:
        return journalText(e);
    case ErrorStep::SettingsRead:
    case ErrorStep::SettingsSave:
        return settingsText(e);
    case ErrorStep::LockFile:
        return lockFileText(e);
    case ErrorStep::ProgramRead:
        return programFileText(e);
    case ErrorStep::LogSave:
        break;
    }
    return withSystemText(QStringLiteral("Kan het log niet opslaan als %1").arg(e.path), e);
}

QString adviceFor(const Error &e, FrontEnd frontEnd)
{
    const bool line = e.step <= ErrorStep::Property;
    switch (line ? e.kind : ErrorKind::Other) {
    case ErrorKind::Lost:
        return QStringLiteral("De verbinding met %1 is weggevallen: de adapter is losgetrokken "
                              "of het programma aan de andere kant is gestopt. Sluit hem weer "
                              "aan en kies de poort opnieuw.")
            .arg(e.path);
    case ErrorKind::Denied:
        return deniedAdvice(e);
    case ErrorKind::Busy:
        return QStringLiteral("%1 is in gebruik door een ander programma. Sluit dat programma "
                              "en kies de poort opnieuw.")
            .arg(e.path);
    case ErrorKind::NotFound:
        return QStringLiteral("Apparaat %1 bestaat niet. Controleer de kabel of adapter, of %2.")
            .arg(e.path, chooseAnother(frontEnd));
    case ErrorKind::NotSerial:
        return QStringLiteral("%1 is geen seriele poort. Controleer het pad, of %2.")
            .arg(e.path, chooseAnother(frontEnd));
    case ErrorKind::NotTaken:
        return QStringLiteral("Controleer of het programma aan de andere kant van %1 loopt en "
                              "leest. De poort blijft open: de volgende druk wordt weer "
                              "geprobeerd.")
            .arg(e.path);
    default:
        return {};
    }
}

QString errorMessage(const Error &e, FrontEnd frontEnd)
{
    const QString advice = adviceFor(e, frontEnd);
    return advice.isEmpty() ? errorText(e) : errorText(e) + QStringLiteral("\n\n") + advice;
}

QString oneLine(const QString &text)
{
    const auto control = [](QChar c) {
        const char16_t u = c.unicode();
        return u < 0x20 || (u >= 0x7f && u < 0xa0) || u == 0x2028 || u == 0x2029 ||
               (u >= 0xdc80 && u <= 0xdcff); // a byte of a name that is not UTF-8
    };
    if (std::none_of(text.begin(), text.end(), control))
        return text;
    QString escaped;
    for (const QChar c : text) {
        if (!control(c))
            escaped += c;
        else if (c == QLatin1Char('\r'))
            escaped += QLatin1String("\\r");
        else if (c == QLatin1Char('\n'))
            escaped += QLatin1String("\\n");
        else if (c == QLatin1Char('\t'))
            escaped += QLatin1String("\\t");
        else if (c.unicode() < 0x100 || c.unicode() >= 0xdc80)
            escaped +=
                QStringLiteral("\\x%1").arg(int(c.unicode() & 0xff), 2, 16, QLatin1Char('0'));
        else
            escaped += QStringLiteral("\\u%1").arg(int(c.unicode()), 4, 16, QLatin1Char('0'));
    }
    return escaped;
}

} // namespace dorq
