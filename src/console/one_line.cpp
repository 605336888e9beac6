#include "one_line.h"

#include <algorithm>

namespace dorq {

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
