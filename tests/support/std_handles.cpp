// Runs a program with this process's standard handles passed on explicitly, as QProcess and
// scripts that capture output do. A Windows GUI program started without them (from Explorer,
// from cmd.exe, or by Wine from a Unix shell) shows --version and --help in a message box.
//   std_handles.exe PROGRAM [ARGUMENTS...]    exits with the program's exit code
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

int main()
{
    // The program's command line is ours without our own name, quoted as it was given.
    const wchar_t *rest = GetCommandLineW();
    bool quoted = false;
    while (*rest && (quoted || (*rest != L' ' && *rest != L'\t'))) {
        if (*rest == L'"')
            quoted = !quoted;
        ++rest;
    }
    while (*rest == L' ' || *rest == L'\t')
        ++rest;
    std::wstring line(rest);
    if (line.empty()) {
        std::fputs("usage: std_handles PROGRAM [ARGUMENTS...]\n", stderr);
        return 2;
    }

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &process)) {
        std::fprintf(stderr, "std_handles: cannot start %ls: error %lu\n", line.c_str(),
                     GetLastError());
        return 127;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return int(code);
}
