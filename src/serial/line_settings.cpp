#include "line_settings.h"

#include "error.h"

#include <QStringList>
#include <algorithm>
#include <array>

namespace dorq {

namespace {

constexpr std::array<int, 11> StandardRates = {110,  300,   600,   1200,  2400,  4800,
                                               9600, 19200, 38400, 57600, 115200};

[[noreturn]] void refuse(const QString &text, ErrorReason why)
{
    throw invalid(ErrorNumber::InvalidPropertyValue, why, text);
}

} // namespace

LineSettings parseLineSettings(const QString &text)
{
    const QStringList fields = text.split(QLatin1Char(','));
    if (fields.size() != 4)
        refuse(text, ErrorReason::SettingsForm);
    for (const QString &field : fields)
        if (field.isEmpty() || field.trimmed() != field)
            refuse(text, ErrorReason::SettingsField);

    LineSettings s;
    bool ok = false;
    s.baudRate = fields[0].toInt(&ok);
    if (!ok ||
        std::find(StandardRates.begin(), StandardRates.end(), s.baudRate) == StandardRates.end())
        refuse(text, ErrorReason::BaudRate);

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
        refuse(text, ErrorReason::Parity);

    s.dataBits = fields[2].toInt(&ok);
    if (!ok || s.dataBits < 5 || s.dataBits > 8)
        refuse(text, ErrorReason::DataBits);

    if (fields[3] == QLatin1String("1"))
        s.stopBits = LineSettings::StopBits::One;
    else if (fields[3] == QLatin1String("1.5"))
        s.stopBits = LineSettings::StopBits::OneAndHalf;
    else if (fields[3] == QLatin1String("2"))
        s.stopBits = LineSettings::StopBits::Two;
    else
        refuse(text, ErrorReason::StopBits);
    return s;
}

} // namespace dorq
