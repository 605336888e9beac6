#pragma once

#include <QFile>
#include <QList>
#include <QStringList>

namespace dorq::test {

// The rows of a journal after its header, each cut into its fields (RFC 4180 quoting).
// A row that is not whole (no CR LF at its end, or a quote left open) is kept as found, so
// that a test can see it.
inline QList<QStringList> readCsv(const QString &path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    const QString text = QString::fromUtf8(file.readAll());
    QList<QStringList> rows;
    QStringList row;
    QString field;
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"')
                field += c, ++i;
            else if (c == '"')
                quoted = false;
            else
                field += c;
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            row << field, field.clear();
        } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            row << field, field.clear();
            rows << row, row.clear();
            ++i;
        } else {
            field += c;
        }
    }
    if (!field.isEmpty() || !row.isEmpty())
        rows << (row << field);
    if (!rows.isEmpty() &&
        rows.first().join(',') == "time,run,seq,channel,record,port,device,result")
        rows.removeFirst();
    return rows;
}

} // namespace dorq::test
