#include "serial_error.h"

#include <cerrno>

namespace dorq {

namespace {

enum class Cause { Other, Lost, Denied, Busy, Missing, NotSerial, NotReading };

// The failures an operator can mend, by the system's own numbers.
Cause causeOf(int number)
{
    switch (number) {
#ifdef Q_OS_WIN
    case 21:   // ERROR_NOT_READY
    case 22:   // ERROR_BAD_COMMAND
    case 31:   // ERROR_GEN_FAILURE
    case 1167: // ERROR_DEVICE_NOT_CONNECTED
        return Cause::Lost;
    case 5:  // ERROR_ACCESS_DENIED: Windows opens a COM port for one program at a time
    case 32: // ERROR_SHARING_VIOLATION
        return Cause::Busy;
    case 2:   // ERROR_FILE_NOT_FOUND
    case 3:   // ERROR_PATH_NOT_FOUND
    case 123: // ERROR_INVALID_NAME
        return Cause::Missing;
    case 6: // ERROR_INVALID_HANDLE: a file, not a port
    case 1: // ERROR_INVALID_FUNCTION
        return Cause::NotSerial;
#else
    case EIO: // a failed write with EIO is the same loss, noticed at a press
        return Cause::Lost;
    case EACCES:
    case EPERM:
        return Cause::Denied;
    case EBUSY:
        return Cause::Busy;
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return Cause::Missing;
    case ENOTTY:
        return Cause::NotSerial;
#endif
    case ErrorNumber::LineNotTaken:
        return Cause::NotReading;
    default:
        return Cause::Other;
    }
}

QString chooseAnother()
{
#ifdef Q_OS_WIN
    const char *example = "COM3";
#else
    const char *example = "/dev/ttyUSB0";
#endif
    return QStringLiteral("kies een ander apparaat met een rechtsklik op COM1 of COM2, of start "
                          "het programma met --com1 APPARAAT of --com2 APPARAAT, bijvoorbeeld "
                          "--com1 %1")
        .arg(QLatin1String(example));
}

} // namespace

SerialError lineNotTaken(const QString &device, const QString &consequence)
{
    return SerialError(ErrorNumber::LineNotTaken,
                       QStringLiteral("Schrijven naar %1 mislukt: de andere kant leest niet en "
                                      "de uitvoerbuffer van het systeem is vol; %2.")
                           .arg(device, consequence));
}

QString adviceFor(const SerialError &error, const QString &device, bool lostWhileOpen)
{
    switch (lostWhileOpen ? Cause::Lost : causeOf(error.number())) {
    case Cause::Lost:
        return QStringLiteral("De verbinding met %1 is weggevallen: de adapter is losgetrokken "
                              "of het programma aan de andere kant is gestopt. Sluit hem weer "
                              "aan en kies de poort opnieuw.")
            .arg(device);
    case Cause::Denied:
        return QStringLiteral("U hebt geen toegang tot %1.").arg(device)
#ifdef Q_OS_LINUX
               + QStringLiteral(" Voeg uw gebruiker toe aan de groep dialout "
                                "(sudo usermod -aG dialout $USER) en meld opnieuw aan.")
#endif
            ;
    case Cause::Busy:
        return QStringLiteral("%1 is in gebruik door een ander programma. Sluit dat programma "
                              "en kies de poort opnieuw.")
            .arg(device);
    case Cause::Missing:
        return QStringLiteral("Apparaat %1 bestaat niet. Controleer de kabel of adapter, of %2.")
            .arg(device, chooseAnother());
    case Cause::NotSerial:
        return QStringLiteral("%1 is geen seriele poort. Controleer het pad, of %2.")
            .arg(device, chooseAnother());
    case Cause::NotReading:
        return QStringLiteral("Controleer of het programma aan de andere kant van %1 loopt en "
                              "leest. De poort blijft open: de volgende druk wordt weer "
                              "geprobeerd.")
            .arg(device);
    case Cause::Other:
        break;
    }
    return {};
}

QString withAdvice(const SerialError &error, const QString &device, bool lostWhileOpen)
{
    const QString advice = adviceFor(error, device, lostWhileOpen);
    return advice.isEmpty() ? error.text() : error.text() + QStringLiteral("\n\n") + advice;
}

} // namespace dorq
