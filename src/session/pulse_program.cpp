#include "pulse_program.h"

#include "journal_row.h"
#include "system.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <functional>
#include <optional>
#include <set>
#include <tuple>

namespace dorq {

namespace {

using Kind = ProgramError::Kind;

constexpr std::uint64_t LineMask = (std::uint64_t(1) << 36) - 1;
// Past any program's end, and far from overflowing when added to.
constexpr std::int64_t Huge = std::int64_t(1) << 40;
// A journal's rows lie either side of its first row until the earliest is known.
constexpr std::int64_t JournalBias = MaxProgramTicks;

std::uint64_t single(std::int64_t at, std::int64_t line, int channel)
{
    return std::uint64_t(at) << 39 | (std::uint64_t(line) & LineMask) << 3 |
           std::uint64_t(channel - 1);
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::vector<std::string_view> wordsOf(std::string_view line)
{
    std::vector<std::string_view> words;
    std::size_t at = 0;
    while (true) {
        while (at < line.size() && isBlank(line[at]))
            ++at;
        if (at == line.size())
            return words;
        const std::size_t begin = at;
        while (at < line.size() && !isBlank(line[at]))
            ++at;
        words.push_back(line.substr(begin, at - begin));
    }
}

bool isWord(std::string_view word, std::string_view lower)
{
    return word.size() == lower.size() &&
           std::equal(word.begin(), word.end(), lower.begin(),
                      [](char a, char b) { return (a >= 'A' && a <= 'Z' ? a + 32 : a) == b; });
}

bool allDigits(std::string_view s)
{
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::int64_t wholeNumber(std::string_view digits)
{
    std::int64_t n = 0;
    for (const char c : digits)
        n = std::min(n * 10 + (c - '0'), Huge);
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
    const int hundredths = part.empty() ? 0 : (part[0] - '0') * 10 + (part.size() > 1 ? part[1] - '0' : 0);
    ticks = wholeNumber(whole) * TicksPerSecond + hundredths;
    return std::nullopt;
}

} // namespace

bool PulseProgram::Cursor::next(ProgramPress &press)
{
    const auto &singles = m_program->m_singles;
    const auto &trains = m_program->m_trains;
    const auto later = std::greater<>();
    std::int64_t soonest = Huge;
    int from = 0; // 1 a single, 2 a train begun, 3 a train to begin
    if (m_single < singles.size())
        soonest = std::int64_t(singles[m_single] >> 39), from = 1;
    if (!m_active.empty() && m_active.front().first < soonest)
        soonest = m_active.front().first, from = 2;
    if (m_train < trains.size() && trains[m_train].at < soonest)
        from = 3;
    if (from == 0)
        return false;
    if (from == 1) {
        const std::uint64_t s = singles[m_single++];
        press = {std::int32_t(s >> 39), int(s & 7) + 1, std::int64_t(s >> 3 & LineMask)};
        return true;
    }
    if (from == 3) {
        m_active.emplace_back(trains[m_train].at, std::uint32_t(m_train));
        std::push_heap(m_active.begin(), m_active.end(), later);
        ++m_train;
    }
    std::pop_heap(m_active.begin(), m_active.end(), later);
    const auto [at, index] = m_active.back();
    const Train &train = trains[index];
    press = {at, train.channel, train.line};
    if ((at - train.at) / train.every + 1 < train.times) {
        m_active.back().first = at + train.every;
        std::push_heap(m_active.begin(), m_active.end(), later);
    } else {
        m_active.pop_back();
    }
    return true;
}

void ProgramParser::fail(Kind kind, std::string_view word)
{
    if (m_errors.size() >= ParsedProgram::MaxToldErrors) {
        ++m_moreErrors;
        return;
    }
    ProgramError e;
    e.kind = kind;
    e.line = m_line;
    e.word = std::string(word.substr(0, 40));
    m_errors.push_back(std::move(e));
}

void ProgramParser::addLine(std::string_view line)
{
    ++m_line;
    if (m_line == 1 && line.substr(0, 3) == "\xef\xbb\xbf")
        line.remove_prefix(3);
    const std::string_view bare = line.substr(0, line.find_last_not_of('\r') + 1);
    if (m_line == 1 && isJournalHeader(bare)) {
        m_program.m_journal = true;
        return;
    }
    if (!m_program.m_journal)
        return addProgramLine(line);
    // A quoted field, such as a device's name, may hold a line break.
    if (m_row.empty())
        m_rowLine = m_line;
    else
        m_row += '\n';
    m_row.append(line);
    if (std::count(m_row.begin(), m_row.end(), '"') % 2 == 1 && m_row.size() < 4 * MaxProgramLine)
        return;
    std::string row = std::move(m_row);
    m_row.clear();
    if (!row.empty() && row.back() == '\r')
        row.pop_back();
    const std::int64_t physical = std::exchange(m_line, m_rowLine);
    if (!isJournalHeader(row) && !row.empty())
        addJournalRow(row);
    m_line = physical;
}

void ProgramParser::addOverlongLine()
{
    ++m_line;
    fail(Kind::LineTooLong);
}

void ProgramParser::addProgramLine(std::string_view line)
{
    const std::vector<std::string_view> w = wordsOf(line.substr(0, line.find('#')));
    if (w.empty())
        return;
    if (isWord(w[0], "port")) {
        if (m_portLine || m_firstPressLine) {
            fail(Kind::PortNotFirst, w[0]);
            m_errors.back().otherLine = m_portLine ? m_portLine : m_firstPressLine;
        } else if (w.size() != 2 || !(isWord(w[1], "com1") || isWord(w[1], "com2"))) {
            w.size() < 2 ? fail(Kind::Incomplete) : fail(Kind::UnknownWord, w[1]);
        } else {
            m_portLine = m_line;
            m_program.m_port = w[1][3] - '0';
        }
        return;
    }
    if (!allDigits(w[0].substr(0, 1)) && w[0][0] != '-' && w[0][0] != '.')
        return fail(Kind::UnknownWord, w[0]);
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
        return fail(Kind::Incomplete);
    const bool channel = w[1].size() == 1 && w[1][0] >= '1' && w[1][0] <= '8';
    if (!channel)
        fail(Kind::Channel, w[1]), good = false;
    std::int64_t every = 0, times = 1;
    if (w.size() > 2) {
        if (!isWord(w[2], "every"))
            return fail(Kind::UnknownWord, w[2]);
        if (w.size() < 6)
            return w.size() == 5 && !isWord(w[4], "times") ? fail(Kind::UnknownWord, w[4])
                                                           : fail(Kind::Incomplete);
        every = ticks(w[3]);
        if (!isWord(w[4], "times"))
            return fail(Kind::UnknownWord, w[4]);
        if (w.size() > 6)
            return fail(Kind::UnknownWord, w[6]);
        const bool negative = w[5][0] == '-' && allDigits(w[5].substr(1));
        times = allDigits(w[5]) ? wholeNumber(w[5]) : 0;
        if (times < 1)
            fail(negative ? Kind::Negative : Kind::Count, w[5]), good = false;
    }
    if (good)
        addPresses(at, every, times, w[1][0] - '0');
}

void ProgramParser::addPresses(std::int64_t at, std::int64_t every, std::int64_t times,
                               int channel)
{
    m_program.m_presses = std::min(m_program.m_presses + times, Huge);
    if (m_program.m_presses > MaxProgramPresses) {
        if (!std::exchange(m_tooMany, true))
            fail(Kind::TooMany);
        return; // nothing more is kept: such a program is not played
    }
    if (times > 1 && every < MinPressGapTicks) {
        fail(Kind::TooClose);
        ProgramError &e = m_errors.back();
        e.otherLine = m_line, e.at = std::int32_t(at + every), e.gap = std::int32_t(every);
        return;
    }
    const std::int64_t last = at + every * (times - 1);
    if (last > MaxProgramTicks) {
        fail(Kind::TooLong);
        m_errors.back().at = std::int32_t(std::min<std::int64_t>(last, INT32_MAX));
        return;
    }
    if (times > 2) {
        m_program.m_trains.push_back(
            {m_line, std::int32_t(at), std::int32_t(every), std::int32_t(times), std::int8_t(channel)});
        return;
    }
    for (std::int64_t i = 0; i < times; ++i) {
        const std::uint64_t s = single(at + i * every, m_line, channel);
        m_sorted = m_sorted && s >= m_lastSingle;
        m_program.m_singles.push_back(m_lastSingle = s);
    }
}

void ProgramParser::addJournalRow(std::string_view row)
{
    JournalEntry entry;
    if (!readJournalRow(row, entry))
        return fail(Kind::BadRow);
    if (!entry.sent) {
        ++m_program.m_skipped;
        return;
    }
    if (!m_portLine) {
        m_portLine = m_line;
        m_program.m_port = entry.port;
        m_firstUs = entry.atUs;
    } else if (entry.port != m_program.m_port && !std::exchange(m_twoPorts, true)) {
        fail(Kind::TwoPorts);
        m_errors.back().otherLine = m_portLine;
    }
    // Rounded to the nearest tick, also for rows before the first.
    const std::int64_t offset = entry.atUs - m_firstUs + 5000;
    const std::int64_t at = (offset >= 0 ? offset : offset - 9999) / 10000;
    if (at > MaxProgramTicks || at < -MaxProgramTicks)
        return fail(Kind::TooLong);
    m_earliest = std::min(m_earliest, at);
    if (++m_program.m_presses > MaxProgramPresses) {
        if (!std::exchange(m_tooMany, true))
            fail(Kind::TooMany);
        return;
    }
    const std::uint64_t s = single(at + JournalBias, m_line, entry.channel);
    m_sorted = m_sorted && s >= m_lastSingle;
    m_program.m_singles.push_back(m_lastSingle = s);
}

ParsedProgram ProgramParser::finish()
{
    ParsedProgram parsed;
    if (m_program.m_journal) {
        // From the earliest row, which the rest lie after.
        const std::uint64_t shift = std::uint64_t(m_earliest + JournalBias) << 39;
        for (std::uint64_t &s : m_program.m_singles) {
            s -= shift;
            if (std::int64_t(s >> 39) > MaxProgramTicks) {
                m_line = std::int64_t(s >> 3 & LineMask);
                fail(Kind::TooLong);
                m_errors.back().at = std::int32_t(s >> 39);
            }
        }
    }
    if (!m_sorted)
        std::sort(m_program.m_singles.begin(), m_program.m_singles.end());
    std::sort(m_program.m_trains.begin(), m_program.m_trains.end(),
              [](const auto &a, const auto &b) { return std::tie(a.at, a.line) < std::tie(b.at, b.line); });
    check(); // what was kept of it: no more than the most a program may hold
    if (m_program.m_presses == 0 && m_errors.empty()) {
        m_line = 0;
        fail(Kind::Empty);
    }
    std::stable_sort(m_errors.begin(), m_errors.end(),
                     [](const ProgramError &a, const ProgramError &b) { return a.line < b.line; });
    parsed.program = std::move(m_program);
    parsed.errors = std::move(m_errors);
    parsed.moreErrors = m_moreErrors;
    return parsed;
}

// Presses closer than a record takes on the line, each pair of lines told once.
void ProgramParser::check()
{
    std::set<std::pair<std::int64_t, std::int64_t>> told;
    PulseProgram::Cursor presses = m_program.cursor();
    ProgramPress before, press;
    for (bool first = true; presses.next(press); before = press, first = false) {
        if (first || press.at - before.at >= MinPressGapTicks ||
            !told.emplace(before.line, press.line).second)
            continue;
        if (m_errors.size() >= ParsedProgram::MaxToldErrors) {
            ++m_moreErrors; // and maybe more: not looked for
            return;
        }
        m_line = press.line;
        fail(Kind::TooClose);
        ProgramError &e = m_errors.back();
        e.otherLine = before.line;
        e.at = press.at;
        e.gap = press.at - before.at;
    }
}

std::string dryRunLine(const ProgramPress &press)
{
    const std::int32_t seconds = press.at / TicksPerSecond, hundredths = press.at % TicksPerSecond;
    std::string line = std::to_string(press.channel) + "  +" + std::to_string(seconds) + ".";
    line += char('0' + hundredths / 10);
    line += char('0' + hundredths % 10);
    return line;
}

bool readPulseProgram(const QString &path, ParsedProgram &parsed, Error &failure)
{
    failure = {};
    failure.step = ErrorStep::ProgramRead;
    failure.path = path;
    const QFileInfo info(path);
    // A FIFO or a device would hold the program, or never end.
    if (info.exists() && !info.isFile()) {
        failure.kind = ErrorKind::NotAFile;
        return false;
    }
    QFile file(path);
    clearFileError();
    if (!file.open(QIODevice::ReadOnly)) {
        failure.number = lastFileError();
        failure.systemText = systemText(failure.number);
        return false;
    }
    ProgramParser parser;
    char line[MaxProgramLine + 2];
    for (qint64 n; (n = file.readLine(line, sizeof line)) > 0;) {
        const bool whole = line[n - 1] == '\n' || file.atEnd();
        if (whole) {
            parser.addLine(std::string_view(line, std::size_t(n - (line[n - 1] == '\n'))));
            continue;
        }
        parser.addOverlongLine();
        while ((n = file.readLine(line, sizeof line)) > 0 && line[n - 1] != '\n') {
        }
    }
    if (file.error() != QFileDevice::NoError) {
        failure.number = lastFileError();
        failure.systemText = systemText(failure.number);
        return false;
    }
    parsed = parser.finish();
    return true;
}

} // namespace dorq
