// The built program as a child process, offscreen: idle CPU and start-up time. Observed
// from outside through /proc only, so the program runs exactly as shipped.
#include "child.h"
#include "report.h"

#include <algorithm>
#include <csignal>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <iterator>
#include <poll.h>
#include <pty.h>
#include <random>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

using bench::format;
using bench::monotonicMs;
using bench::percentile;
using namespace bench::child;

namespace {

// The newest child of a process: the journal's writer of a headless run.
pid_t newestChild(pid_t pid)
{
    std::istringstream children(
        readText("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children"));
    pid_t child = 0, newest = 0;
    while (children >> child)
        newest = std::max(newest, child);
    return newest;
}

int idleCpu(const std::vector<std::string> &command, const char *what)
{
    int input[2]; // held open: end of input would end a headless run
    if (::pipe(input) != 0)
        throw std::runtime_error("no pipe");
    Child child(command, -1, input[0]);
    ::close(input[0]);
    sleepMs(2000); // past start-up
    if (!child.running())
        throw std::runtime_error("the program ended during start-up");
    const double cpu0 = cpuSeconds(child);
    const double run0 = runNanoseconds(child);
    const double wall0 = monotonicMs();
    sleepMs(10000);
    const double cpu1 = cpuSeconds(child);
    const double run1 = runNanoseconds(child);
    const double wall1 = monotonicMs();
    if (!child.running())
        throw std::runtime_error("the program ended while idle");
    const double share = (cpu1 - cpu0) / ((wall1 - wall0) / 1000) * 100;
    const double schedShare = (run1 - run0) / 1e6 / (wall1 - wall0) * 100;
    std::printf("idle: %.2f s CPU over %.2f s wall = %.2f %% of one core (stat, %ld Hz); "
                "%.3f %% (schedstat)\n",
                cpu1 - cpu0, (wall1 - wall0) / 1000, share, ::sysconf(_SC_CLK_TCK), schedShare);
    const double limit = command.size() > 1 ? 0.5 : 1.0;
    bench::result(format("Idle CPU of %s, timer running (10 s)", what),
                  format("%.2f %% of one core (schedstat: %.2f %%)", share, schedShare),
                  format("< %.1f %%", limit), bench::met(share < limit));
    ::close(input[1]);
    return 0;
}

// A command line written to a headless run's standard input, to its 16 bytes at the peer.
int headlessPress(const std::string &program)
{
    Pty pty;
    int input[2], output[2];
    if (::pipe(input) != 0 || ::pipe(output) != 0)
        throw std::runtime_error("no pipe");
    Child child({program, "--headless", "--no-journal", "--com1", pty.name}, output[1], input[0]);
    ::close(input[0]);
    ::close(output[1]);
    Answers answers{output[0], {}};
    const auto say = [&](const std::string &command) {
        if (::write(input[1], command.data(), command.size()) != ssize_t(command.size()))
            throw std::runtime_error("cannot write to the program");
    };
    if (answers.next(5000) != "ready")
        throw std::runtime_error("no ready");
    say("com1\n");
    if (answers.next(2000).rfind("ok ", 0) != 0)
        throw std::runtime_error("COM1 did not open");
    std::mt19937 random(4);
    std::uniform_int_distribution<int> gap(5, 25);
    std::vector<double> wall;
    int wrong = 0;
    for (int i = 0; i < 1000; ++i) {
        sleepMs(gap(random));
        const std::string command = std::to_string(i % 8 + 1) + "\n";
        std::string got;
        const double start = monotonicMs();
        say(command);
        char buf[64];
        // Wait in poll(), not in a busy loop: on two cores a spinning reader holds one of the
        // two the program and the system need to take the command and write the line.
        while (got.size() < 16 && monotonicMs() - start < 1000) {
            pollfd p{pty.peer, POLLIN, 0};
            ::poll(&p, 1, 100);
            const ssize_t n = ::read(pty.peer, buf, sizeof buf);
            if (n > 0)
                got.append(buf, std::size_t(n));
        }
        wall.push_back(monotonicMs() - start);
        const std::string answer = answers.next(1000);
        wrong += got.size() != 16 || got[0] != command[0] || answer != "sent " + got.substr(0, 14);
    }
    std::printf("headless: command to bytes p50 %.3f p90 %.3f p99 %.3f max %.3f ms, %d wrong\n",
                percentile(wall, 50), percentile(wall, 90), percentile(wall, 99),
                percentile(wall, 100), wrong);
    bench::result("Headless: command line on standard input to 16 bytes at the pty peer (1000)",
                  format("p50 %.3f ms, p99 %.3f ms%s", percentile(wall, 50), percentile(wall, 99),
                         wrong ? " (INVALID: wrong lines or answers)" : ""),
                  "p99 < 0.5 ms", bench::met(!wrong && percentile(wall, 99) < 0.5));
    ::close(input[1]);
    ::close(output[0]);
    return wrong ? 1 : 0;
}

// A journal that takes nothing: its writer stopped, its disk hung (a FUSE disk whose server
// is stopped), or the file locked by another user. Each: 1000 presses 5 to 25 ms apart, from
// the command line written to its answer and to its 16 bytes at the peer, and how far the
// answered record lies behind the true time; then 30000 presses at once, more than the pipe
// and the room in memory hold; then SIGTERM, the time to the end, the status and the rows it
// says it lost.
struct Stall
{
    const char *what;
    std::string journal;
    std::function<void(pid_t program)> stall;
    std::function<void()> mend;
};

int stalledOnce(const std::string &program, const Stall &stall)
{
    Pty pty;
    int input[2], output[2], error[2];
    if (::pipe(input) != 0 || ::pipe(output) != 0 || ::pipe(error) != 0)
        throw std::runtime_error("no pipe");
    ::fcntl(error[0], F_SETFL, O_NONBLOCK);
    ::fcntl(error[0], F_SETPIPE_SZ, 1 << 20);
    Child child({program, "--headless", "--com1", pty.name, "--journal", stall.journal}, output[1],
                input[0], error[1]);
    ::close(input[0]);
    ::close(output[1]);
    ::close(error[1]);
    Answers answers{output[0], {}};
    const auto say = [&](const std::string &command) {
        for (std::size_t done = 0; done < command.size();) {
            const ssize_t n = ::write(input[1], command.data() + done, command.size() - done);
            if (n <= 0)
                throw std::runtime_error("cannot write to the program");
            done += std::size_t(n);
        }
    };
    char buf[4096];
    const auto drainPeer = [&] {
        while (::read(pty.peer, buf, sizeof buf) > 0) {
        }
    };
    if (answers.next(5000) != "ready")
        throw std::runtime_error("no ready");
    say("com1\n1\n");
    if (answers.next(2000).rfind("ok ", 0) != 0 || answers.next(2000).rfind("sent ", 0) != 0)
        throw std::runtime_error("COM1 did not open");
    for (const double until = monotonicMs() + 5000; monotonicMs() < until; sleepMs(5))
        if (std::count(std::istreambuf_iterator<char>(std::ifstream(stall.journal).rdbuf()), {},
                       '\n') >= 2)
            break;
    stall.stall(child.pid);
    drainPeer();
    std::mt19937 random(4);
    std::uniform_int_distribution<int> gap(5, 25);
    std::vector<double> answered, toBytes, lag;
    for (int i = 0; i < 1000; ++i) {
        sleepMs(gap(random));
        timespec now{};
        ::clock_gettime(CLOCK_REALTIME, &now);
        const double start = monotonicMs();
        say(std::to_string(i % 8 + 1) + "\n");
        std::string got;
        while (got.size() < 16 && monotonicMs() - start < 1000) {
            pollfd p{pty.peer, POLLIN, 0};
            ::poll(&p, 1, 100);
            const ssize_t n = ::read(pty.peer, buf, sizeof buf);
            if (n > 0)
                got.append(buf, std::size_t(n));
        }
        toBytes.push_back(monotonicMs() - start);
        const std::string answer = answers.next(1000);
        answered.push_back(monotonicMs() - start);
        // "sent 5  10:20:30.12": the record's time against the true time of the press.
        std::tm local{};
        ::localtime_r(&now.tv_sec, &local);
        const int recordCs = std::atoi(answer.substr(8, 2).c_str()) * 360000 +
                             std::atoi(answer.substr(11, 2).c_str()) * 6000 +
                             std::atoi(answer.substr(14, 2).c_str()) * 100 +
                             std::atoi(answer.substr(17, 2).c_str());
        const double trueCs = local.tm_hour * 360000.0 + local.tm_min * 6000.0 +
                              local.tm_sec * 100.0 + double(now.tv_nsec) / 1e7;
        lag.push_back((trueCs - recordCs) * 10);
    }
    const double burstStart = monotonicMs();
    std::string burst;
    for (int i = 0; i < 30000; ++i)
        burst += "1\n";
    int got = 0;
    std::thread feeder([&] { say(burst); });
    for (; got < 30000; ++got) {
        drainPeer();
        if (answers.next(2000).empty())
            break;
    }
    feeder.join();
    const double burstMs = monotonicMs() - burstStart;
    const double terminated = monotonicMs();
    ::kill(child.pid, SIGTERM);
    int status = 0;
    while (::waitpid(child.pid, &status, WNOHANG) == 0 && monotonicMs() - terminated < 5000)
        sleepMs(0.1);
    const double endMs = monotonicMs() - terminated;
    child.pid = -1;
    std::string said;
    for (ssize_t n; (n = ::read(error[0], buf, sizeof buf)) > 0;)
        said.append(buf, std::size_t(n));
    std::string lostRows = "none"; // "dorq-pulse: 30999 rijen zijn niet in het journaal ..."
    if (const auto lost = said.rfind(" rijen zijn niet in het journaal");
        lost != std::string::npos) {
        const auto begin = said.rfind(": ", lost) + 2;
        lostRows = said.substr(begin, lost - begin);
    }
    stall.mend();
    std::printf("%s: press to answer p50 %.3f p99 %.3f max %.3f ms, to bytes p99 %.3f ms; "
                "record behind the true time p99 %.1f max %.1f ms; 30000 at once answered %d in "
                "%.0f ms; SIGTERM to end %.1f ms, status %d, rows lost: %s\n",
                stall.what, percentile(answered, 50), percentile(answered, 99),
                percentile(answered, 100), percentile(toBytes, 99), percentile(lag, 99),
                percentile(lag, 100), got, burstMs, endMs,
                WIFEXITED(status) ? WEXITSTATUS(status) : -1, lostRows.c_str());
    bench::result(std::string("Headless, journal stalled by ") + stall.what +
                      ": press to answer (1000), end on SIGTERM",
                  format("p99 %.3f ms; end %.1f ms, status %d, lost %s", percentile(answered, 99),
                         endMs, WIFEXITED(status) ? WEXITSTATUS(status) : -1, lostRows.c_str()),
                  "p99 < 1 ms, end < 100 ms",
                  bench::met(got == 30000 && percentile(answered, 99) < 1 && endMs < 100));
    ::close(input[1]);
    ::close(output[0]);
    ::close(error[0]);
    return 0;
}

int headlessStalled(const std::string &program, const std::string &slowDisk)
{
    char folder[] = "/tmp/dorq-stall-XXXXXX";
    if (!::mkdtemp(folder))
        throw std::runtime_error("no folder");
    ::chmod(folder, 0755);
    const std::string dir = folder;
    const auto run = [](const std::vector<std::string> &args) {
        Child helper(args);
        return helper.wait();
    };
    // A stopped writer.
    pid_t writer = 0;
    stalledOnce(program, {"a stopped writer", dir + "/stopped.csv",
                          [&](pid_t p) { ::kill(writer = newestChild(p), SIGSTOP); },
                          [&] { ::kill(writer, SIGKILL); }});
    // A hung disk: the server of a FUSE disk stopped.
    ::mkdir((dir + "/back").c_str(), 0755);
    ::mkdir((dir + "/disk").c_str(), 0755);
    {
        Child disk({slowDisk, dir + "/back", dir + "/disk", "0", "0"});
        for (const double until = monotonicMs() + 5000; monotonicMs() < until; sleepMs(10))
            if (readText("/proc/self/mounts").find(dir + "/disk") != std::string::npos)
                break;
        stalledOnce(program, {"a hung disk", dir + "/disk/hung.csv",
                              [&](pid_t p) { writer = newestChild(p), ::kill(disk.pid, SIGSTOP); },
                              [&] { ::kill(disk.pid, SIGCONT); }});
        for (const double until = monotonicMs() + 10000;
             monotonicMs() < until && ::kill(writer, 0) == 0 &&
             readText("/proc/" + std::to_string(writer) + "/stat").find(") Z ") ==
                 std::string::npos;)
            sleepMs(10);
        run({"/usr/bin/fusermount3", "-u", dir + "/disk"});
    }
    // Another user's lock: `flock -s`, which anyone who may read the file may take.
    const std::string locked = dir + "/locked.csv";
    ::close(::open(locked.c_str(), O_WRONLY | O_CREAT, 0644));
    const char *other = std::getenv("DORQ_OTHER_USER");
    std::vector<std::string> holder = {"/usr/bin/flock", "-s", locked, "/bin/sleep", "600"};
    if (::geteuid() == 0)
        holder.insert(holder.begin(), {"/usr/sbin/runuser", "-u", other ? other : "nobody", "--"});
    {
        Child lock(holder);
        for (const double until = monotonicMs() + 5000; monotonicMs() < until; sleepMs(10))
            if (readText("/proc/locks").find("FLOCK  ADVISORY  READ") != std::string::npos)
                break;
        stalledOnce(program, {"another user's lock", locked, [](pid_t) {}, [] {}});
        ::kill(lock.pid, SIGKILL);
    }
    run({"/bin/rm", "-rf", dir});
    return 0;
}

// From start to "ready", and the start-up part of it: the time until the event loop first
// waits (the clock then waits for a second to begin, by design).
int headlessReady(const std::string &program, int runs)
{
    std::vector<double> ready, started;
    for (int i = 0; i < runs; ++i) {
        int input[2], output[2];
        if (::pipe(input) != 0 || ::pipe(output) != 0)
            throw std::runtime_error("no pipe");
        Child child({program, "--headless", "--no-journal"}, output[1], input[0]);
        ::close(input[0]);
        ::close(output[1]);
        double idle = -1;
        std::string out;
        while (out.find("ready\n") == std::string::npos && monotonicMs() - child.started < 5000) {
            if (idle < 0) {
                const std::string call = child.proc("syscall");
                const std::string status = child.proc("status");
                const auto at = status.find("SigCgt:");
                const bool handlers =
                    at != std::string::npos &&
                    std::stoull(status.substr(at + 7, 24), nullptr, 16) & (1ULL << (SIGTERM - 1));
                if (handlers && (call.rfind("7 ", 0) == 0 || call.rfind("271 ", 0) == 0))
                    idle = monotonicMs() - child.started;
            }
            pollfd p{output[0], POLLIN, 0};
            if (::poll(&p, 1, 0) > 0) {
                char buf[64];
                const ssize_t n = ::read(output[0], buf, sizeof buf);
                if (n > 0)
                    out.append(buf, std::size_t(n));
            } else {
                sleepMs(0.1);
            }
        }
        const double r = monotonicMs() - child.started;
        if (out.find("ready\n") == std::string::npos || idle < 0)
            throw std::runtime_error("no ready within 5 s");
        ready.push_back(r);
        started.push_back(idle);
        std::printf("run %d: event loop waiting %.1f ms, ready %.1f ms\n", i + 1, idle, r);
        ::close(input[1]);
        ::close(output[0]);
        sleepMs(137); // another phase of the second for the next start
    }
    std::vector<double> rest;
    for (std::size_t i = 0; i < ready.size(); ++i)
        rest.push_back(ready[i] - started[i]);
    bench::result(format("Headless: start to ready, %d starts", runs),
                  format("median %.0f ms, %.0f-%.0f ms; start-up part median %.1f ms (%.1f-%.1f)",
                         percentile(ready, 50), percentile(ready, 0), percentile(ready, 100),
                         percentile(started, 50), percentile(started, 0), percentile(started, 100)),
                  "<= 1 s + start-up", bench::met(percentile(rest, 100) <= 1000 + 15));
    return 0;
}

// Start-up of the real program, seen from outside: the SIGTERM handler appears right after
// the window is built and before show(); the main thread then blocks in poll() only once
// the event loop has handled what show() posted, the first paint included.
bool startupOnce(const std::string &program, double *builtMs, double *idleMs)
{
    Child child({program});
    const double limit = child.started + 10000;
    *builtMs = *idleMs = -1;
    while (monotonicMs() < limit) {
        const double now = monotonicMs();
        if (*builtMs < 0) {
            const std::string status = child.proc("status");
            const auto at = status.find("SigCgt:");
            if (at != std::string::npos &&
                std::stoull(status.substr(at + 7, 24), nullptr, 16) & (1ULL << (SIGTERM - 1)))
                *builtMs = now - child.started;
        } else {
            const std::string call = child.proc("syscall");
            if (call.rfind("7 ", 0) == 0 || call.rfind("271 ", 0) == 0) { // poll, ppoll
                *idleMs = now - child.started;
                return true;
            }
        }
        sleepMs(0.1);
    }
    return false;
}

// The same steps timed inside a process: window_bench startup prints its own clock readings.
bool startupInside(const std::string &windowBench, std::vector<double> *steps)
{
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return false;
    Child child({windowBench, "startup"}, pipeFds[1]);
    ::close(pipeFds[1]);
    std::string out;
    char buf[256];
    for (ssize_t n; (n = ::read(pipeFds[0], buf, sizeof buf)) > 0;)
        out.append(buf, std::size_t(n));
    ::close(pipeFds[0]);
    child.wait();
    double atMain = 0, app = 0, built = 0, painted = 0;
    if (std::sscanf(out.c_str(), "STARTUP %lf %lf %lf %lf", &atMain, &app, &built, &painted) != 4)
        return false;
    *steps = {atMain - child.started, app - child.started, built - child.started,
              painted - child.started};
    return true;
}

int startup(const std::string &program, const std::string &windowBench, int runs)
{
    std::vector<double> built, idle;
    for (int i = 0; i < runs; ++i) {
        double b = 0, d = 0;
        if (!startupOnce(program, &b, &d))
            throw std::runtime_error("start-up not seen within 10 s");
        built.push_back(b);
        idle.push_back(d);
        std::printf("run %d: window built %.1f ms, event loop idle %.1f ms\n", i + 1, b, d);
    }
    std::vector<double> atMain, app, made, painted;
    for (int i = 0; i < runs; ++i) {
        std::vector<double> s;
        if (!startupInside(windowBench, &s))
            throw std::runtime_error("window_bench startup failed");
        atMain.push_back(s[0]);
        app.push_back(s[1]);
        made.push_back(s[2]);
        painted.push_back(s[3]);
    }
    std::printf("in-process medians from spawn: main() %.1f, QApplication %.1f, window built "
                "%.1f, first paint %.1f ms\n",
                percentile(atMain, 50), percentile(app, 50), percentile(made, 50),
                percentile(painted, 50));
    bench::result(format("Start-up of dorq-pulse to idle event loop, median of %d", runs),
                  format("%.1f ms (window built %.1f ms; range %.1f-%.1f)", percentile(idle, 50),
                         percentile(built, 50), percentile(idle, 0), percentile(idle, 100)),
                  "none set", "-");
    bench::result(format("Start-up in-process to first paint, median of %d", runs),
                  format("%.1f ms (main %.1f, QApplication %.1f, window %.1f)",
                         percentile(painted, 50), percentile(atMain, 50), percentile(app, 50),
                         percentile(made, 50)),
                  "none set", "-");
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    try {
        if (mode == "idle")
            return idleCpu({DORQ_PROGRAM}, "dorq-pulse");
        if (mode == "headless-idle")
            return idleCpu({DORQ_PROGRAM, "--headless", "--no-journal"}, "dorq-pulse --headless");
        if (mode == "headless-press")
            return headlessPress(DORQ_PROGRAM);
        if (mode == "headless-ready")
            return headlessReady(DORQ_PROGRAM, 8);
        if (mode == "startup")
            return startup(DORQ_PROGRAM, DORQ_WINDOW_BENCH, 7);
        if (mode == "headless-stalled")
            return headlessStalled(DORQ_PROGRAM, DORQ_SLOW_DISK);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "process_bench %s: %s\n", mode.c_str(), e.what());
        return 1;
    }
    std::fprintf(stderr, "usage: process_bench idle|startup|headless-idle|headless-press|"
                         "headless-ready|headless-stalled\n");
    return 2;
}
