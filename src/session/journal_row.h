#pragma once

#include "press_result.h"

#include <QByteArray>
#include <QString>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace dorq {

// What one press leaves in the journal, before the journal adds its run and sequence.
struct JournalRow
{
    std::chrono::system_clock::time_point at; // when the line went, or the press
    std::string record;                       // as on the wire, without CR LF
    int port = 0;                             // 0 when no port was open
    QString device;
    QString result; // "sent", "no port", "error not-taken 11: Resource temporarily unavailable"
};

// A plain array, so that the journal's writer process can use it without constructing anything.
inline constexpr char JournalHeader[] = "time,run,seq,channel,record,port,device,result\r\n";

// The row of a press; its result is evidence a program can read: `sent`, `no port`, or
// `error` with the kind of failure, the system's number and the system's own text.
JournalRow journalRow(const PressResult &press);

// RFC 4180: quoted when it holds a comma, a quote or a line break; quotes doubled.
QByteArray csvField(const QString &text);
// One CSV line ending in CR LF; the time in local time with microseconds and UTC offset.
QByteArray csvRow(const JournalRow &row, const QString &run, qint64 seq);

// A row of this tool's journal read back, to play it again.
struct JournalEntry
{
    std::int64_t atUs = 0; // when the line went, in microseconds since 1970 (UTC)
    int channel = 0;
    int port = 0; // 0 when none was open
    bool sent = false;
};
// The header, without its line break.
bool isJournalHeader(std::string_view line);
// False when `row` (without its line break; a quoted field may hold one) is no row this
// tool writes.
bool readJournalRow(std::string_view row, JournalEntry &entry);

// A journal of this tool read back a line at a time, the header skipped: a quoted field,
// such as a device's name, may hold a line break.
class JournalReader
{
public:
    enum class Read { Nothing, Row, BadRow };
    // A line without its line break; at the end of a row, `line` is where the row began.
    Read add(std::string_view text, JournalEntry &entry, std::int64_t &line);

private:
    std::string m_row;
    std::int64_t m_rowLine = 0;
};

} // namespace dorq
