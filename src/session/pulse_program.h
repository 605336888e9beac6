#pragma once

#include "error.h"
#include "journal_row.h"

#include <QString>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

namespace dorq {

// A program's times are whole ticks of the clock: 10 ms.
constexpr std::int32_t TicksPerSecond = 100;
constexpr std::int32_t MaxProgramTicks = 24 * 3600 * TicksPerSecond;
// A record takes 16 bytes of 11 bits at 9600 baud, 18.33 ms: two ticks at least.
constexpr std::int32_t MinPressGapTicks = 2;
// All that 24 hours hold 20 ms apart, well below ten million: a program with more has
// presses too close, and is not kept beyond them.
constexpr std::int64_t MaxProgramPresses = MaxProgramTicks / MinPressGapTicks + 1;
// Longer lines are not read: no program needs them, and a file of one endless line would
// otherwise be held whole.
constexpr std::size_t MaxProgramLine = 4096;

struct ProgramError
{
    enum class Kind {
        Channel,      // `word` is no channel 1 to 8
        OffGrid,      // `word` has more than two decimals
        Negative,     // `word`
        NotANumber,   // `word`
        UnknownWord,  // `word`
        Incomplete,   // a press without its channel, or `every` without `times`
        Count,        // `word` after `times` is no whole number of at least 1
        TooClose,     // `gap` ticks after the press of `otherLine`, at `at`
        TooLong,      // its last press at `at`, past 24 hours
        TooMany,      // the count passed the limit on this line
        PortNotFirst, // `port` after a press, or a second `port`
        TwoPorts,     // a journal's rows on COM1 and COM2: `otherLine` has the other
        LineTooLong,  // longer than MaxProgramLine
        BadRow,       // not a row of this tool's journal
        Empty,        // no press at all
    };
    Kind kind = Kind::UnknownWord;
    std::int64_t line = 0;      // from 1; 0 for the program as a whole
    std::int64_t otherLine = 0; // TooClose, TwoPorts
    std::string word;           // as written, cut short when long
    std::int32_t at = 0;        // ticks after the start
    std::int32_t gap = 0;       // TooClose
};

// One press of a program.
struct ProgramPress
{
    std::int32_t at = 0; // ticks after the start
    int channel = 1;     // 1 to 8
    std::int64_t line = 0;
};

// The steps of a program, in time order. A train is kept as one step, however many
// presses it makes, and a single press in eight bytes.
class PulseProgram
{
public:
    // 1 or 2 from a `port` line or the journal's rows; 0: the port selected as usual.
    int port() const { return m_port; }
    std::int64_t presses() const { return m_presses; }
    bool isJournal() const { return m_journal; }
    std::int64_t skippedRows() const { return m_skipped; } // journal rows not sent

    // Walks the presses in time order; a press in each call, false at the end.
    class Cursor
    {
    public:
        explicit Cursor(const PulseProgram &program) : m_program(&program) {}
        bool next(ProgramPress &press);

    private:
        const PulseProgram *m_program;
        std::size_t m_single = 0, m_train = 0; // the next not yet begun
        // Trains begun, by their next press: a heap of (at, train).
        std::vector<std::pair<std::int32_t, std::uint32_t>> m_active;
    };
    Cursor cursor() const { return Cursor(*this); }

private:
    friend class ProgramParser;
    struct Train // sixteen bytes: three presses or more
    {
        std::int32_t at, every;
        std::uint32_t line;       // the largest for lines beyond it
        std::uint32_t times : 28; // no more than MaxProgramPresses
        std::uint32_t channel : 4;
    };
    static_assert(sizeof(Train) == 16);

    int m_port = 0;
    bool m_journal = false;
    std::int64_t m_presses = 0;
    std::int64_t m_skipped = 0;
    std::deque<std::uint64_t> m_singles; // at << 39 | line << 3 | channel - 1, sorted
    std::deque<Train> m_trains;          // by their first press
};

struct ParsedProgram
{
    PulseProgram program;
    std::vector<ProgramError> errors; // by line; the first MaxToldErrors of them
    std::int64_t moreErrors = 0;      // found beyond those
    static constexpr std::size_t MaxToldErrors = 50;
};

// A program's text, or a journal of this tool, a line at a time; checked whole at the end.
//   # comment            port com1            12.04 3            0 5 every 0.5 times 20
// A journal (its first line is the journal's header) plays its sent rows at their send
// times relative to the first, on the grid: each in the step it went in.
class ProgramParser
{
public:
    // Past any program's end, and far from overflowing when added to.
    static constexpr std::int64_t Beyond = std::int64_t(1) << 40;

    // One line, without its line break.
    void addLine(std::string_view line);
    // A line longer than MaxProgramLine, not read.
    void addOverlongLine();
    ParsedProgram finish();

private:
    void addProgramLine(std::string_view line);
    void addJournalRow(const JournalEntry &entry);
    void addPresses(std::int64_t at, std::int64_t every, std::int64_t times, int channel);
    // A single press of this line, in eight bytes.
    void keep(std::int64_t at, int channel);
    void check();
    // The error told on this line, or one beyond those told.
    ProgramError &fail(ProgramError::Kind kind, std::string_view word = {});

    PulseProgram m_program;
    std::vector<ProgramError> m_errors;
    ProgramError m_untold;
    std::int64_t m_moreErrors = 0;
    std::int64_t m_line = 0;
    std::int64_t m_portLine = 0;
    std::int64_t m_firstPressLine = 0;
    bool m_tooMany = false;
    bool m_twoPorts = false;
    bool m_sorted = true;
    std::uint64_t m_lastSingle = 0;
    JournalReader m_journalRows;
    std::int64_t m_firstStep = 0; // a journal's first sent row's, on the wall clock's grid
    std::int64_t m_earliest = 0;  // a journal's earliest row, in ticks after the first
};

// "3  +12.04": the record of a press with the time of day replaced by the offset from the
// start.
std::string dryRunLine(const ProgramPress &press);

// Reads a program or a journal from `path`; false, with `failure` said, when the file
// cannot be read or is no regular file.
bool readPulseProgram(const QString &path, ParsedProgram &parsed, Error &failure);

} // namespace dorq
