#include "pulse_program.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <set>
#include <tuple>

namespace dorq {

namespace {

using Kind = ProgramError::Kind;

constexpr std::uint64_t LineMask = (std::uint64_t(1) << 36) - 1;
// A journal's rows lie either side of its first row until the earliest is known.
constexpr std::int64_t JournalBias = MaxProgramTicks;

} // namespace

bool PulseProgram::Cursor::next(ProgramPress &press)
{
    const auto &singles = m_program->m_singles;
    const auto &trains = m_program->m_trains;
    const auto later = std::greater<>();
    std::int64_t soonest = ProgramParser::Beyond;
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
    press = {at, int(train.channel), std::int64_t(train.line)};
    if ((at - train.at) / train.every + 1 < std::int32_t(train.times)) {
        m_active.back().first = at + train.every;
        std::push_heap(m_active.begin(), m_active.end(), later);
    } else {
        m_active.pop_back();
    }
    return true;
}

ProgramError &ProgramParser::fail(Kind kind, std::string_view word)
{
    if (m_errors.size() >= ParsedProgram::MaxToldErrors) {
        ++m_moreErrors;
        return m_untold = {};
    }
    m_errors.push_back({kind, m_line, 0, std::string(word.substr(0, 40)), 0, 0});
    return m_errors.back();
}

void ProgramParser::addPresses(std::int64_t at, std::int64_t every, std::int64_t times, int channel)
{
    m_program.m_presses = std::min(m_program.m_presses + times, Beyond);
    if (m_program.m_presses > MaxProgramPresses) {
        if (!std::exchange(m_tooMany, true))
            fail(Kind::TooMany);
        return; // nothing more is kept: such a program is not played
    }
    if (times > 1 && every < MinPressGapTicks) {
        ProgramError &e = fail(Kind::TooClose);
        e.otherLine = m_line, e.at = std::int32_t(at + every), e.gap = std::int32_t(every);
        return;
    }
    if (const std::int64_t last = at + every * (times - 1); last > MaxProgramTicks) {
        fail(Kind::TooLong).at = std::int32_t(std::min<std::int64_t>(last, INT32_MAX));
        return;
    }
    if (times > 2) {
        const auto line = std::uint32_t(std::min<std::int64_t>(m_line, UINT32_MAX));
        m_program.m_trains.push_back({std::int32_t(at), std::int32_t(every), line,
                                      std::uint32_t(times), std::uint32_t(channel)});
        return;
    }
    for (std::int64_t i = 0; i < times; ++i)
        keep(at + i * every, channel);
}

void ProgramParser::keep(std::int64_t at, int channel)
{
    const std::int64_t stored = at + (m_program.m_journal ? JournalBias : 0);
    const std::uint64_t single = std::uint64_t(stored) << 39 |
                                 (std::uint64_t(m_line) & LineMask) << 3 |
                                 std::uint64_t(channel - 1);
    m_sorted = m_sorted && single >= m_lastSingle;
    m_program.m_singles.push_back(m_lastSingle = single);
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
                fail(Kind::TooLong).at = std::int32_t(s >> 39);
            }
        }
    }
    if (!m_sorted)
        std::sort(m_program.m_singles.begin(), m_program.m_singles.end());
    std::sort(m_program.m_trains.begin(), m_program.m_trains.end(),
              [](const auto &a, const auto &b) {
                  return std::tie(a.at, a.line) < std::tie(b.at, b.line);
              });
    check(); // what was kept of it: no more than the most a program may hold
    if (m_program.m_presses == 0 && m_errors.empty())
        fail(Kind::Empty).line = 0;
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
        ProgramError &e = fail(Kind::TooClose);
        e.otherLine = before.line;
        e.at = press.at;
        e.gap = press.at - before.at;
    }
}

std::string dryRunLine(const ProgramPress &press)
{
    char line[32];
    std::snprintf(line, sizeof line, "%d  +%d.%02d", press.channel, press.at / TicksPerSecond,
                  press.at % TicksPerSecond);
    return line;
}

} // namespace dorq
