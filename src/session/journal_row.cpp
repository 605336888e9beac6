#include "journal_row.h"

#include <QDateTime>

namespace dorq {

namespace {

QByteArray isoTime(std::chrono::system_clock::time_point at)
{
    using namespace std::chrono;
    const qint64 us = duration_cast<microseconds>(at.time_since_epoch()).count();
    const qint64 seconds = us >= 0 ? us / 1000000 : (us - 999999) / 1000000;
    const QDateTime local = QDateTime::fromSecsSinceEpoch(seconds);
    const int offset = local.offsetFromUtc() / 60;
    const QString zone = QStringLiteral("%1%2:%3")
                             .arg(offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
                             .arg(qAbs(offset) / 60, 2, 10, QLatin1Char('0'))
                             .arg(qAbs(offset) % 60, 2, 10, QLatin1Char('0'));
    return (local.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.")) +
            QStringLiteral("%1").arg(us - seconds * 1000000, 6, 10, QLatin1Char('0')) + zone)
        .toLatin1();
}

const char *kindCode(const Error &e)
{
    switch (e.kind) {
    case ErrorKind::NotFound:
        return "not-found";
    case ErrorKind::Denied:
        return "denied";
    case ErrorKind::Busy:
        return "busy";
    case ErrorKind::StillClosing:
        return "still-closing";
    case ErrorKind::NotSerial:
        return "not-serial";
    case ErrorKind::NotTaken:
        return e.taken > 0 ? "partly-taken" : "not-taken";
    case ErrorKind::Lost:
        return "lost";
    case ErrorKind::Refused:
        return "refused";
    case ErrorKind::Invalid:
        return "invalid";
    case ErrorKind::NotAFile:
    case ErrorKind::Untrusted:
    case ErrorKind::Replaced:
    case ErrorKind::Other:
        break;
    }
    return "other";
}

QString resultText(const PressResult &r)
{
    switch (r.outcome) {
    case PressResult::Outcome::Sent:
        return QStringLiteral("sent");
    case PressResult::Outcome::NoPort:
        return QStringLiteral("no port");
    case PressResult::Outcome::Failed:
        break;
    }
    const Error &e = *r.error;
    const QString code =
        QStringLiteral("error %1 %2").arg(QLatin1String(kindCode(e))).arg(e.number);
    return e.systemText.isEmpty() ? code : code + QStringLiteral(": ") + e.systemText;
}

} // namespace

JournalRow journalRow(const PressResult &press)
{
    return {press.at, press.record, press.port, press.device, resultText(press)};
}

QByteArray csvField(const QString &text)
{
    QByteArray field = text.toUtf8();
    if (field.contains(',') || field.contains('"') || field.contains('\n') || field.contains('\r'))
        field = '"' + field.replace("\"", "\"\"") + '"';
    return field;
}

QByteArray csvRow(const JournalRow &row, const QString &run, qint64 seq)
{
    const QByteArray record = QByteArray::fromStdString(row.record);
    return isoTime(row.at) + ',' + run.toLatin1() + ',' + QByteArray::number(seq) + ',' +
           record.left(1) + ',' + csvField(QString::fromLatin1(record)) + ',' +
           (row.port ? "COM" + QByteArray::number(row.port) : QByteArray()) + ',' +
           csvField(row.device) + ',' + csvField(row.result) + "\r\n";
}

} // namespace dorq
