#include "process_setup.h"

#include <cstdio>
#include <windows.h>

namespace dorq {

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

void onTerminationSignals(QObject *, std::function<void()>) {}

} // namespace dorq
