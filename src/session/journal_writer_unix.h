#pragma once

#include <cstdint>

namespace dorq {

// The journal's writer process: it takes rows from a pipe and appends them to the file,
// and so outlives the program that wrote them into the pipe. Everything here runs in a
// child forked from a program with threads: system calls and the stack only.

// A row on the pipe: its length in 4 bytes, then the row.
constexpr std::uint32_t MaxJournalRow = 60 * 1024;

// What the writer tells the program, in fixed-size messages, each with the running count of
// rows it has taken from the pipe and of those it wrote: a report the program missed is made
// good by the next. Rows go in the order they came, and every report that ends a run of rows
// that fared alike is delivered, so the program knows which rows were written.
struct WriterReport
{
    enum Kind : std::int32_t {
        Progress,
        OpenFailed,
        Untrusted,
        NotOwned,
        NotAFile,
        WriteFailed,
        SyncFailed,
        Replaced
    };
    std::int32_t kind;
    std::int32_t number; // errno
    std::int64_t taken;
    std::int64_t written;
};

// A descriptor for appending that may be read from (for the file's last byte), or -1 with
// why: FIFOs, sockets and folders are refused, as root a way another user could change and a
// file of another user's too. A new file is the user's alone.
int openJournalFd(const char *path, WriterReport &why) noexcept;

// Takes the file's lock, waiting for another instance of the program; true when it has it.
// A lock of another user's is not waited for: false, and the row is written all the same.
bool takeTurn(int file) noexcept;

// Never returns: ends at the end of the pipe, with status 1 if any row was lost.
[[noreturn]] void runJournalWriter(int rows, int reports, int file, const char *path) noexcept;

} // namespace dorq
