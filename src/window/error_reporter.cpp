#include "error_reporter.h"

#include "serial_error.h"

#include <QMessageBox>
#include <cerrno>

namespace dorq {

QString errorMessage(int number, const QString &text)
{
    return QStringLiteral("Fout %1:\n\n%2").arg(number).arg(text);
}

QString withAdvice(const SerialError &error, const QString &device, bool lostWhileOpen)
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
                                    "of start het programma met --com1 APPARAAT of --com2 "
                                    "APPARAAT, bijvoorbeeld --com1 /dev/ttyUSB0.")
                         .arg(device);
            break;
        default:
            return error.text();
        }
    }
    return error.text() + QStringLiteral("\n\n") + advice;
}

void MessageBoxReporter::report(int number, const QString &text)
{
    QMessageBox::critical(m_parent, m_parent ? m_parent->windowTitle() : QString(),
                          errorMessage(number, text));
}

} // namespace dorq
