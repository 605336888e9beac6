#include "line_settings.h"

#include "serial_error.h"

#include <QStringList>
#include <algorithm>
#include <array>

namespace dorq {

namespace {

constexpr std::array<int, 11> StandardRates = {110,  300,   600,   1200,  2400,  4800,
                                               9600, 19200, 38400, 57600, 115200};

[[noreturn]] void refuse(const QString &text, const QString &why)
{
    throw invalid(ErrorNumber::InvalidPropertyValue, {},
                  QStringLiteral("Ongeldige poortinstelling \"%1\": %2").arg(text, why));
}

} // namespace

LineSettings parseLineSettings(const QString &text)
{
    const QStringList fields = text.split(QLatin1Char(','));
    if (fields.size() != 4)
        refuse(text, QStringLiteral("verwacht baud,pariteit,databits,stopbits"));
    for (const QString &field : fields)
        if (field.isEmpty() || field.trimmed() != field)
            refuse(text, QStringLiteral("leeg veld of spaties"));

    LineSettings s;
    bool ok = false;
    s.baudRate = fields[0].toInt(&ok);
    if (!ok ||
        std::find(StandardRates.begin(), StandardRates.end(), s.baudRate) == StandardRates.end())
        refuse(text, QStringLiteral("baudrate %1 wordt niet ondersteund").arg(fields[0]));

    const QString parity = fields[1].toUpper();
    if (parity == QLatin1String("N"))
        s.parity = LineSettings::Parity::None;
    else if (parity == QLatin1String("O"))
        s.parity = LineSettings::Parity::Odd;
    else if (parity == QLatin1String("E"))
        s.parity = LineSettings::Parity::Even;
    else if (parity == QLatin1String("M"))
        s.parity = LineSettings::Parity::Mark;
    else if (parity == QLatin1String("S"))
        s.parity = LineSettings::Parity::Space;
    else
        refuse(text, QStringLiteral("pariteit %1 is geen N, O, E, M of S").arg(fields[1]));

    s.dataBits = fields[2].toInt(&ok);
    if (!ok || s.dataBits < 5 || s.dataBits > 8)
        refuse(text, QStringLiteral("%1 databits wordt niet ondersteund").arg(fields[2]));

    if (fields[3] == QLatin1String("1"))
        s.stopBits = LineSettings::StopBits::One;
    else if (fields[3] == QLatin1String("1.5"))
        s.stopBits = LineSettings::StopBits::OneAndHalf;
    else if (fields[3] == QLatin1String("2"))
        s.stopBits = LineSettings::StopBits::Two;
    else
        refuse(text, QStringLiteral("%1 stopbits wordt niet ondersteund").arg(fields[3]));
    return s;
}

} // namespace dorq
