#include "serial_error.h"

#include <cerrno>

namespace dorq {

namespace {

const QString ChooseAnother = QStringLiteral(
    "start het programma met --com1 APPARAAT of --com2 APPARAAT, bijvoorbeeld --com1 "
    "/dev/ttyUSB0");

} // namespace

QString adviceFor(const SerialError &error, const QString &device, bool lostWhileOpen)
{
    QString advice;
    // A failed write with EIO is the same loss, noticed at a press rather than while idle.
    if (lostWhileOpen || error.number() == EIO) {
        advice = QStringLiteral("De verbinding met %1 is weggevallen: de adapter is losgetrokken "
                                "of het programma aan de andere kant is gestopt. Sluit hem weer "
                                "aan en kies de poort opnieuw.")
                     .arg(device);
    } else {
        switch (error.number()) {
        case EACCES:
        case EPERM:
            advice = QStringLiteral("U hebt geen toegang tot %1.").arg(device);
#ifdef Q_OS_LINUX
            advice += QStringLiteral(" Voeg uw gebruiker toe aan de groep dialout "
                                     "(sudo usermod -aG dialout $USER) en meld opnieuw aan.");
#endif
            break;
        case EBUSY:
            advice = QStringLiteral("%1 is in gebruik door een ander programma. Sluit dat "
                                    "programma en kies de poort opnieuw.")
                         .arg(device);
            break;
        case ENOENT:
        case ENODEV:
        case ENXIO:
            advice = QStringLiteral("Apparaat %1 bestaat niet. Controleer de kabel of adapter, "
                                    "of %2.")
                         .arg(device, ChooseAnother);
            break;
        case ENOTTY:
            advice = QStringLiteral("%1 is geen seriele poort. Controleer het pad, of %2.")
                         .arg(device, ChooseAnother);
            break;
        case EAGAIN:
            advice = QStringLiteral("Controleer of het programma aan de andere kant van %1 loopt "
                                    "en leest. De poort blijft open: de volgende druk wordt "
                                    "weer geprobeerd.")
                         .arg(device);
            break;
        default:
            break;
        }
    }
    return advice;
}

QString withAdvice(const SerialError &error, const QString &device, bool lostWhileOpen)
{
    const QString advice = adviceFor(error, device, lostWhileOpen);
    return advice.isEmpty() ? error.text() : error.text() + QStringLiteral("\n\n") + advice;
}

} // namespace dorq
