// Puts a folder on the system's PATH, or takes it off again: for the installer and the
// uninstaller, which cannot do it themselves. Their strings end at 1024 characters, PATH is
// often longer, and a PATH written back cut short breaks every other program.
//   path_entry add FOLDER       appends FOLDER unless PATH has it already
//   path_entry remove FOLDER    takes every entry that names FOLDER out
// Exits 0 when PATH is as asked; new consoles see it, those already open do not.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

const wchar_t *const EnvironmentKey =
    L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";

// The same folder whatever the case of its letters or a backslash at its end.
bool sameFolder(std::wstring a, std::wstring b)
{
    for (std::wstring *name : {&a, &b})
        while (name->size() > 1 && name->back() == L'\\')
            name->pop_back();
    return CompareStringOrdinal(a.c_str(), int(a.size()), b.c_str(), int(b.size()), TRUE) ==
           CSTR_EQUAL;
}

std::vector<std::wstring> entriesOf(const std::wstring &path)
{
    std::vector<std::wstring> entries;
    std::size_t start = 0;
    for (std::size_t end; (end = path.find(L';', start)) != std::wstring::npos; start = end + 1)
        entries.push_back(path.substr(start, end - start));
    entries.push_back(path.substr(start));
    return entries;
}

int fail(const char *what, LSTATUS status)
{
    std::fprintf(stderr, "path_entry: %s: error %ld\n", what, long(status));
    return 1;
}

} // namespace

int wmain(int argc, wchar_t **argv)
{
    const std::wstring verb = argc == 3 ? argv[1] : L"";
    if (verb != L"add" && verb != L"remove") {
        std::fputs("usage: path_entry add|remove FOLDER\n", stderr);
        return 2;
    }
    const std::wstring folder = argv[2];

    HKEY key = nullptr;
    LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, EnvironmentKey, 0,
                                   KEY_QUERY_VALUE | KEY_SET_VALUE, &key);
    if (status != ERROR_SUCCESS)
        return fail("cannot open the system's environment", status);
    DWORD type = REG_EXPAND_SZ;
    DWORD bytes = 0;
    std::wstring path;
    status = RegQueryValueExW(key, L"Path", nullptr, &type, nullptr, &bytes);
    if (status == ERROR_SUCCESS) {
        path.resize(bytes / sizeof(wchar_t) + 1);
        status = RegQueryValueExW(key, L"Path", nullptr, &type,
                                  reinterpret_cast<BYTE *>(path.data()), &bytes);
        path.resize(bytes / sizeof(wchar_t));
        while (!path.empty() && path.back() == L'\0')
            path.pop_back();
    } else if (status == ERROR_FILE_NOT_FOUND) {
        status = ERROR_SUCCESS;
    }
    if (status != ERROR_SUCCESS || (type != REG_EXPAND_SZ && type != REG_SZ)) {
        RegCloseKey(key);
        return fail("cannot read PATH", status);
    }

    // Every other entry stays as it was, empty ones and their order included.
    std::wstring changed;
    bool found = false;
    bool first = true;
    for (const std::wstring &entry : entriesOf(path)) {
        const bool same = !entry.empty() && sameFolder(entry, folder);
        found = found || same;
        if (verb == L"remove" && same)
            continue;
        changed += (first ? L"" : L";") + entry;
        first = false;
    }
    if (verb == L"add" && !found)
        changed = path + (path.empty() || path.back() == L';' ? L"" : L";") + folder;
    if (changed != path) {
        status = RegSetValueExW(key, L"Path", 0, type,
                                reinterpret_cast<const BYTE *>(changed.c_str()),
                                DWORD((changed.size() + 1) * sizeof(wchar_t)));
        if (status != ERROR_SUCCESS) {
            RegCloseKey(key);
            return fail("cannot write PATH", status);
        }
        // Explorer, and every console started from it afterwards, read PATH anew.
        SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, 0,
                            reinterpret_cast<LPARAM>(L"Environment"), SMTO_ABORTIFHUNG, 5000,
                            nullptr);
    }
    RegCloseKey(key);
    return 0;
}
