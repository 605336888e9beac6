// A program's text, or a journal of this tool, read a line at a time into steps.
#include "pulse_program.h"
#include "system.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <optional>

namespace dorq {

namespace {

using Kind = ProgramError::Kind;

std::vector<std::string_view> wordsOf(std::string_view line)
{
    constexpr std::string_view blanks = " \t\r\v\f";
    std::vector<std::string_view> words;
    for (std::size_t at = 0; (at = line.find_first_not_of(blanks, at)) != line.npos;) {
        const std::size_t end = std::min(line.find_first_of(blanks, at), line.size());
        words.push_back(line.substr(at, end - at));
        at = end;
    }
    return words;
}

bool isWord(std::string_view word, std::string_view lower)
{
    return word.size() == lower.size() &&
           std::equal(word.begin(), word.end(), lower.begin(),
                      [](char a, char b) { return (a >= 'A' && a <= 'Z' ? a + 32 : a) == b; });
}

bool allDigits(std::string_view s)
{
    return !s.empty() &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::int64_t wholeNumber(std::string_view digits)
{
    std::int64_t n = 0;
    for (const char c : digits)
        n = std::min(n * 10 + (c - '0'), ProgramParser::Beyond);
    return n;
}

// Seconds with at most two decimals, in ticks; the kind of error, or nothing.
std::optional<Kind> ticksOf(std::string_view word, std::int64_t &ticks)
{
    const bool negative = !word.empty() && word[0] == '-';
    const std::string_view number = word.substr(negative ? 1 : 0);
    const std::size_t dot = number.find('.');
    const std::string_view whole = number.substr(0, dot);
    const std::string_view part = dot == std::string_view::npos ? "" : number.substr(dot + 1);
    if (!allDigits(whole) || (dot != std::string_view::npos && !allDigits(part)))
        return Kind::NotANumber;
    if (negative)
        return Kind::Negative;
    if (part.size() > 2 && part.find_first_not_of('0', 2) != std::string_view::npos)
        return Kind::OffGrid;
    const int hundredths =
        part.empty() ? 0 : (part[0] - '0') * 10 + (part.size() > 1 ? part[1] - '0' : 0);
    ticks = wholeNumber(whole) * TicksPerSecond + hundredths;
    return std::nullopt;
}

} // namespace

void ProgramParser::addLine(std::string_view line)
{
    ++m_line;
    if (m_line == 1 && line.substr(0, 3) == "\xef\xbb\xbf")
        line.remove_prefix(3);
    if (m_line == 1 && isJournalHeader(line.substr(0, line.find_last_not_of('\r') + 1))) {
        m_program.m_journal = true;
        return;
    }
    if (!m_program.m_journal)
        return addProgramLine(line);
    JournalEntry entry;
    const std::int64_t physical = m_line;
    switch (m_journalRows.add(line, entry, m_line)) {
    case JournalReader::Read::Row:
        addJournalRow(entry);
        break;
    case JournalReader::Read::BadRow:
        fail(Kind::BadRow);
        break;
    case JournalReader::Read::Nothing:
        break;
    }
    m_line = physical;
}

void ProgramParser::addOverlongLine()
{
    ++m_line;
    fail(Kind::LineTooLong);
}

void ProgramParser::addProgramLine(std::string_view line)
{
    const auto wrong = [this](Kind kind, std::string_view word = {}) { fail(kind, word); };
    const std::vector<std::string_view> w = wordsOf(line.substr(0, line.find('#')));
    if (w.empty())
        return;
    if (isWord(w[0], "port")) {
        if (m_portLine || m_firstPressLine)
            fail(Kind::PortNotFirst, w[0]).otherLine = m_portLine ? m_portLine : m_firstPressLine;
        else if (w.size() != 2 || !(isWord(w[1], "com1") || isWord(w[1], "com2"))) {
            w.size() < 2 ? wrong(Kind::Incomplete) : wrong(Kind::UnknownWord, w[1]);
        } else {
            m_portLine = m_line;
            m_program.m_port = w[1][3] - '0';
        }
        return;
    }
    if (!allDigits(w[0].substr(0, 1)) && w[0][0] != '-' && w[0][0] != '.')
        return wrong(Kind::UnknownWord, w[0]);
    if (!m_firstPressLine)
        m_firstPressLine = m_line;
    bool good = true;
    const auto ticks = [&](std::string_view word) {
        std::int64_t t = 0;
        if (const auto error = ticksOf(word, t))
            fail(*error, word), good = false;
        return t;
    };
    const std::int64_t at = ticks(w[0]);
    if (w.size() < 2)
        return wrong(Kind::Incomplete);
    const bool channel = w[1].size() == 1 && w[1][0] >= '1' && w[1][0] <= '8';
    if (!channel)
        fail(Kind::Channel, w[1]), good = false;
    std::int64_t every = 0, times = 1;
    if (w.size() > 2) {
        if (!isWord(w[2], "every"))
            return wrong(Kind::UnknownWord, w[2]);
        if (w.size() < 6)
            return w.size() == 5 && !isWord(w[4], "times") ? wrong(Kind::UnknownWord, w[4])
                                                           : wrong(Kind::Incomplete);
        every = ticks(w[3]);
        if (!isWord(w[4], "times"))
            return wrong(Kind::UnknownWord, w[4]);
        if (w.size() > 6)
            return wrong(Kind::UnknownWord, w[6]);
        const bool negative = w[5][0] == '-' && allDigits(w[5].substr(1));
        times = allDigits(w[5]) ? wholeNumber(w[5]) : 0;
        if (times < 1)
            fail(negative ? Kind::Negative : Kind::Count, w[5]), good = false;
    }
    if (good)
        addPresses(at, every, times, w[1][0] - '0');
}

void ProgramParser::addJournalRow(const JournalEntry &entry)
{
    if (!entry.sent) {
        ++m_program.m_skipped;
        return;
    }
    // A line leaves on the clock's tick, 2 ms into its step, or later: down to the grid from
    // there is the step it went in, the one its record carries, however late in it.
    const std::int64_t sinceTick = entry.atUs - 2000;
    const std::int64_t step = (sinceTick >= 0 ? sinceTick : sinceTick - 9999) / 10000;
    if (!m_portLine) {
        m_portLine = m_line;
        m_program.m_port = entry.port;
        m_firstStep = step;
    } else if (entry.port != m_program.m_port && !std::exchange(m_twoPorts, true)) {
        fail(Kind::TwoPorts).otherLine = m_portLine;
    }
    const std::int64_t at = step - m_firstStep; // also before the first
    if (at > MaxProgramTicks || at < -MaxProgramTicks)
        return void(fail(Kind::TooLong));
    m_earliest = std::min(m_earliest, at);
    if (++m_program.m_presses > MaxProgramPresses) {
        if (!std::exchange(m_tooMany, true))
            fail(Kind::TooMany);
        return;
    }
    keep(at, entry.channel);
}

bool readPulseProgram(const QString &path, ParsedProgram &parsed, Error &failure)
{
    failure = {};
    failure.step = ErrorStep::ProgramRead;
    failure.path = path;
    const auto failed = [&failure] {
        failure.number = lastFileError();
        failure.systemText = systemText(failure.number);
        return false;
    };
    // A FIFO or a device would hold the program, or never end.
    if (const QFileInfo info(path); info.exists() && !info.isFile()) {
        failure.kind = ErrorKind::NotAFile;
        return false;
    }
    QFile file(path);
    clearFileError();
    if (!file.open(QIODevice::ReadOnly))
        return failed();
    ProgramParser parser;
    char line[MaxProgramLine + 2];
    for (qint64 n; (n = file.readLine(line, sizeof line)) > 0;) {
        if (line[n - 1] == '\n' || file.atEnd()) {
            parser.addLine(std::string_view(line, std::size_t(n - (line[n - 1] == '\n'))));
            continue;
        }
        parser.addOverlongLine();
        while ((n = file.readLine(line, sizeof line)) > 0 && line[n - 1] != '\n') {
        }
    }
    if (file.error() != QFileDevice::NoError)
        return failed();
    parsed = parser.finish();
    return true;
}

} // namespace dorq
