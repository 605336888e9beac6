// Goes through the installer's pages with their defaults, as a person pressing Enter would,
// and presses the last page's button with its box ticked; then finds the program that box
// started and closes its window as the operator would. tools/windows.sh builds and runs it.
//   finish_page.exe INSTALLER [ARGUMENTS...]
// Prints the box's text, then "started by the installer" or "started by another process",
// and exits with the started program's exit status (99 when nothing started).
#include <windows.h>

#include <tlhelp32.h>

#include <cstdio>
#include <string>

namespace {

struct Search
{
    DWORD process;
    bool withNext = false;
    HWND found = nullptr;
};

// A visible window of the process; for the installer, its dialog with Next, button 1.
HWND windowOf(DWORD process, bool withNext)
{
    Search search{process, withNext};
    EnumWindows(
        [](HWND window, LPARAM data) -> BOOL {
            auto *wanted = reinterpret_cast<Search *>(data);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner != wanted->process || !IsWindowVisible(window) ||
                (wanted->withNext && !GetDlgItem(window, 1)))
                return TRUE;
            wanted->found = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Only the last page has a check box; the page with the parts to install uses a tree.
HWND checkBoxIn(HWND window)
{
    Search search{0, false};
    EnumChildWindows(
        window,
        [](HWND child, LPARAM data) -> BOOL {
            wchar_t type[32] = {};
            GetClassNameW(child, type, 32);
            const LONG style = GetWindowLongW(child, GWL_STYLE) & BS_TYPEMASK;
            if (std::wstring(type) != L"Button" || !IsWindowVisible(child) ||
                (style != BS_AUTOCHECKBOX && style != BS_CHECKBOX))
                return TRUE;
            reinterpret_cast<Search *>(data)->found = child;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

void press(HWND window, int button)
{
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(window, button)));
}

// A process of that name, and who started it.
bool findProgram(const wchar_t *name, PROCESSENTRY32W &found)
{
    HANDLE all = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    found.dwSize = sizeof found;
    bool seen = false;
    for (BOOL more = Process32FirstW(all, &found); more && !seen; more = Process32NextW(all, &found))
        seen = lstrcmpiW(found.szExeFile, name) == 0;
    CloseHandle(all);
    return seen;
}

} // namespace

int main()
{
    const wchar_t *rest = GetCommandLineW();
    for (bool quoted = false; *rest && (quoted || *rest != L' '); ++rest)
        quoted = *rest == L'"' ? !quoted : quoted;
    while (*rest == L' ')
        ++rest;
    std::wstring line(rest);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION installer{};
    if (line.empty() || !CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0,
                                        nullptr, nullptr, &startup, &installer)) {
        std::fprintf(stderr, "finish_page: cannot start the installer\n");
        return 2;
    }
    // Next until the last page, where the box is; installing keeps Next greyed meanwhile. A
    // page is looked at once it has stood a while: its controls come after it.
    HWND box = nullptr;
    HWND page = nullptr;
    int stood = 0;
    for (int step = 0; step < 600 && !box; ++step) {
        if (WaitForSingleObject(installer.hProcess, 100) == WAIT_OBJECT_0)
            break;
        HWND window = windowOf(installer.dwProcessId, true);
        HWND shown = window ? FindWindowExW(window, nullptr, L"#32770", nullptr) : nullptr;
        stood = shown && shown == page ? stood + 1 : 0;
        page = shown;
        if (stood < 3)
            continue;
        if ((box = checkBoxIn(window))) {
            wchar_t text[128] = {};
            GetWindowTextW(box, text, 128);
            std::printf("%ls\n", text);
            if (SendMessageW(box, BM_GETCHECK, 0, 0) != BST_CHECKED)
                std::printf("the box is not ticked\n");
            press(window, 1);
        } else if (IsWindowEnabled(GetDlgItem(window, 1))) {
            press(window, 1);
            stood = 0;
        }
    }
    WaitForSingleObject(installer.hProcess, 30000);
    PROCESSENTRY32W program{};
    for (int step = 0; step < 300 && !findProgram(L"dorq-pulse.exe", program); ++step)
        Sleep(100);
    if (!program.th32ProcessID) {
        std::printf("nothing started\n");
        return 99;
    }
    std::printf("started by %s\n", program.th32ParentProcessID == installer.dwProcessId
                                       ? "the installer"
                                       : "another process");
    std::fflush(stdout);
    HANDLE started = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                                 program.th32ProcessID);
    // Its window closed as the operator closes it, once it is there.
    DWORD code = 98;
    for (int step = 0; step < 300 && WaitForSingleObject(started, 100) == WAIT_TIMEOUT; ++step)
        if (HWND window = windowOf(program.th32ProcessID, false))
            PostMessageW(window, WM_CLOSE, 0, 0);
    GetExitCodeProcess(started, &code);
    return int(code);
}
