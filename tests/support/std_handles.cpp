// Runs a program with this process's standard handles passed on explicitly, as QProcess and
// scripts that capture output do. A Windows GUI program started without them (from Explorer,
// from cmd.exe, or by Wine from a Unix shell) shows --version and --help in a message box.
//   std_handles.exe PROGRAM [ARGUMENTS...]    exits with the program's exit code
//   std_handles.exe --ctrl-c FILE PROGRAM [ARGUMENTS...]
//   std_handles.exe --ctrl-break FILE PROGRAM [ARGUMENTS...]
// With --ctrl-c or --ctrl-break the program shares a console of our own, and once FILE
// exists that console gets the key, as from a person typing it there.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

// The next word of a command line, without its quotes; `rest` moves past it and its blanks.
std::wstring nextWord(const wchar_t *&rest)
{
    std::wstring word;
    bool quoted = false;
    for (; *rest && (quoted || (*rest != L' ' && *rest != L'\t')); ++rest) {
        if (*rest == L'"')
            quoted = !quoted;
        else
            word += *rest;
    }
    while (*rest == L' ' || *rest == L'\t')
        ++rest;
    return word;
}

} // namespace

int main()
{
    // The program's command line is ours without our own words, quoted as it was given.
    const wchar_t *rest = GetCommandLineW();
    nextWord(rest);
    DWORD event = MAXDWORD;
    std::wstring trigger;
    const wchar_t *option = rest;
    const std::wstring first = nextWord(option);
    if (first == L"--ctrl-c" || first == L"--ctrl-break") {
        event = first == L"--ctrl-c" ? CTRL_C_EVENT : CTRL_BREAK_EVENT;
        trigger = nextWord(option);
        rest = option;
    }
    std::wstring line(rest);
    if (line.empty()) {
        std::fputs("usage: std_handles [--ctrl-c FILE | --ctrl-break FILE] PROGRAM [ARGUMENTS...]\n",
                   stderr);
        return 2;
    }

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    DWORD flags = 0;
    if (event != MAXDWORD) {
        // A console of our own, whatever we were started with; the key reaches us too.
        FreeConsole();
        if (!AllocConsole()) {
            std::fprintf(stderr, "std_handles: no console: error %lu\n", GetLastError());
            return 126;
        }
        SetConsoleCtrlHandler([](DWORD) -> BOOL { return TRUE; }, TRUE);
        // Ctrl+Break goes to a process group; Ctrl+C to everyone at the console.
        if (event == CTRL_BREAK_EVENT)
            flags = CREATE_NEW_PROCESS_GROUP;
    }
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, flags, nullptr, nullptr,
                        &startup, &process)) {
        std::fprintf(stderr, "std_handles: cannot start %ls: error %lu\n", line.c_str(),
                     GetLastError());
        return 127;
    }
    if (event != MAXDWORD) {
        while (GetFileAttributesW(trigger.c_str()) == INVALID_FILE_ATTRIBUTES &&
               WaitForSingleObject(process.hProcess, 50) == WAIT_TIMEOUT) {
        }
        if (WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT &&
            !GenerateConsoleCtrlEvent(event, event == CTRL_BREAK_EVENT ? process.dwProcessId : 0)) {
            std::fprintf(stderr, "std_handles: the console took no key: error %lu\n",
                         GetLastError());
            TerminateProcess(process.hProcess, 126);
        }
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return int(code);
}
