#include "journal_row.h"

#include "pulse_clock.h"

#include <QDateTime>
#include <algorithm>
#include <vector>

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

namespace dorq {

namespace {

// RFC 4180 fields, quotes undone; false when a quote is left open or stray.
bool csvFields(std::string_view row, std::vector<std::string> &fields)
{
    fields.assign(1, {});
    bool quoted = false;
    for (std::size_t i = 0; i < row.size(); ++i) {
        const char c = row[i];
        if (quoted && c == '"' && i + 1 < row.size() && row[i + 1] == '"')
            fields.back() += row[++i];
        else if (c == '"' && (quoted || fields.back().empty()))
            quoted = !quoted;
        else if (c == ',' && !quoted)
            fields.emplace_back();
        else if (c == '"')
            return false;
        else
            fields.back() += c;
    }
    return !quoted;
}

// "2026-12-07T10:20:30.123456+01:00", as isoTime() writes it.
bool readIsoTime(std::string_view text, std::int64_t &us)
{
    const std::string_view form = "dddd-dd-ddTdd:dd:dd.dddddd+dd:dd";
    if (text.size() != form.size())
        return false;
    for (std::size_t i = 0; i < form.size(); ++i) {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if (form[i] == 'd'   ? !digit
            : form[i] == '+' ? text[i] != '+' && text[i] != '-'
                             : text[i] != form[i])
            return false;
    }
    const auto number = [&](std::size_t at, std::size_t length) {
        std::int64_t n = 0;
        for (std::size_t i = at; i < at + length; ++i)
            n = n * 10 + (text[i] - '0');
        return n;
    };
    const LocalSecond local =
        localSecond(int(number(0, 4)), int(number(5, 2)), int(number(8, 2)), int(number(11, 2)),
                    int(number(14, 2)), int(number(17, 2)));
    const std::int64_t offset = (number(27, 2) * 60 + number(30, 2)) * (text[26] == '-' ? -1 : 1);
    us = ((local.day * 86400 + local.secondOfDay) - offset * 60) * 1000000 + number(20, 6);
    return true;
}

} // namespace

bool isJournalHeader(std::string_view line)
{
    return line == std::string_view(JournalHeader, sizeof JournalHeader - 3);
}

bool readJournalRow(std::string_view row, JournalEntry &entry)
{
    std::vector<std::string> fields;
    if (!csvFields(row, fields) || fields.size() != 8 || !readIsoTime(fields[0], entry.atUs))
        return false;
    const std::string &channel = fields[3], &port = fields[5];
    if (channel.size() != 1 || channel[0] < '1' || channel[0] > '8')
        return false;
    entry.channel = channel[0] - '0';
    if (port == "COM1" || port == "COM2")
        entry.port = port[3] - '0';
    else if (port.empty())
        entry.port = 0;
    else
        return false;
    entry.sent = fields[7] == "sent";
    return true;
}

JournalReader::Read JournalReader::add(std::string_view text, JournalEntry &entry,
                                       std::int64_t &line)
{
    if (m_row.empty())
        m_rowLine = line;
    else
        m_row += '\n';
    m_row.append(text);
    // A row longer than any this tool writes is no row of its.
    if (std::count(m_row.begin(), m_row.end(), '"') % 2 == 1 && m_row.size() < 16384)
        return Read::Nothing;
    std::string row = std::move(m_row);
    m_row.clear();
    if (!row.empty() && row.back() == '\r')
        row.pop_back();
    line = m_rowLine;
    if (row.empty() || isJournalHeader(row))
        return Read::Nothing;
    return readJournalRow(row, entry) ? Read::Row : Read::BadRow;
}

} // namespace dorq
