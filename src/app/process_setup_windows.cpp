#include "process_setup.h"

#include <cstdio>
#include <mutex>
#include <windows.h>

namespace dorq {

namespace {

// What the console's handler thread hands the end to: cut when the front end goes.
struct Termination
{
    std::mutex mutex;
    QObject *context = nullptr;
    std::function<void()> end;
    bool asked = false;
};

Termination termination;

// About as long as Windows waits after a console close before it ends the process itself:
// the time the orderly end has.
constexpr DWORD CloseWaitMs = 5000;

BOOL WINAPI onConsoleEvent(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT)
        return FALSE;
    {
        const std::lock_guard<std::mutex> lock(termination.mutex);
        // A second Ctrl+C ends the program at once, should the orderly end hang.
        if (termination.asked && event != CTRL_CLOSE_EVENT)
            return FALSE;
        if (!termination.asked && termination.context)
            QMetaObject::invokeMethod(termination.context, termination.end, Qt::QueuedConnection);
        termination.asked = true;
    }
    // Windows ends the process as soon as the handler returns from a close: the process ends
    // under this wait instead, once main has returned.
    if (event == CTRL_CLOSE_EVENT)
        ::Sleep(CloseWaitMs);
    return TRUE;
}

} // namespace

void openClosedStandardStreams() {}

// A program with a window gets no console of its own. Started from one without redirection,
// it writes to that one, so that --help, --version and headless answers are seen; a script
// that gives it pipes keeps them.
void useParentConsole()
{
    if (::GetStdHandle(STD_OUTPUT_HANDLE) || !::AttachConsole(ATTACH_PARENT_PROCESS))
        return;
    std::freopen("CONOUT$", "w", stdout);
    std::freopen("CONOUT$", "w", stderr);
    std::freopen("CONIN$", "r", stdin);
}

// Ctrl+C, Ctrl+Break and closing the console end the run as SIGTERM does on Unix: the port
// is closed and the journal synced. The handler runs on a thread of the system's.
void onTerminationSignals(QObject *context, std::function<void()> end)
{
    {
        const std::lock_guard<std::mutex> lock(termination.mutex);
        termination.context = context;
        termination.end = std::move(end);
    }
    QObject::connect(context, &QObject::destroyed, [] {
        const std::lock_guard<std::mutex> lock(termination.mutex);
        termination.context = nullptr;
    });
    ::SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

} // namespace dorq
