#pragma once

#include <cstdint>

namespace dorq {

// The journal's writer process: it takes rows from a pipe and appends them to the file,
// and so outlives the program that wrote them into the pipe. Everything here runs in a
// child forked from a program with threads: system calls and the stack only.

// A row on the pipe: its length in 4 bytes, then the row.
constexpr std::uint32_t MaxJournalRow = 60 * 1024;

// What the writer tells the program, in fixed-size messages.
struct WriterReport
{
    enum Kind : std::int32_t { RowWritten, OpenFailed, Untrusted, NotAFile, WriteFailed,
                               SyncFailed, Replaced };
    std::int32_t kind;
    std::int32_t number; // errno
};

// A descriptor for appending that may be read from (for the file's last byte), or -1 with
// why: FIFOs, sockets and folders are refused, as root untrusted links too.
int openJournalFd(const char *path, WriterReport &why) noexcept;

// Never returns: ends at the end of the pipe, with status 1 if any row was lost.
[[noreturn]] void runJournalWriter(int rows, int reports, int file, const char *path) noexcept;

} // namespace dorq
