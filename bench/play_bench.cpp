// dorq-pulse --headless --play as shipped, on a pty: how late each line goes after its
// step, over a long run; CPU between presses; memory of the largest programs; the end at
// SIGTERM. The journal's time column is the true send time: read right after the line went.
#include "child.h"
#include "report.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <sys/resource.h>
#include <thread>

using bench::format;
using bench::monotonicMs;
using bench::percentile;
using namespace bench::child;

namespace {

// A folder of its own for each benchmark, gone with it (the largest programs take 150 MB).
std::string tempFolder()
{
    static std::vector<std::string> made;
    static const int removed = std::atexit([] {
        for (const std::string &folder : made)
            std::filesystem::remove_all(folder);
    });
    (void)removed;
    char name[] = "/tmp/dorq-play-XXXXXX";
    if (!::mkdtemp(name))
        throw std::runtime_error("no temporary folder");
    made.emplace_back(name);
    return name;
}

void writeText(const std::string &path, const std::string &text)
{
    std::ofstream(path) << text;
}

// "2026-12-07T10:20:30.123456+01:00" in µs since 1970.
long long isoUs(const std::string &t)
{
    std::tm tm{};
    tm.tm_year = std::stoi(t.substr(0, 4)) - 1900;
    tm.tm_mon = std::stoi(t.substr(5, 2)) - 1;
    tm.tm_mday = std::stoi(t.substr(8, 2));
    tm.tm_hour = std::stoi(t.substr(11, 2));
    tm.tm_min = std::stoi(t.substr(14, 2));
    tm.tm_sec = std::stoi(t.substr(17, 2));
    const long long offset = (std::stoi(t.substr(27, 2)) * 60 + std::stoi(t.substr(30, 2))) *
                             (t[26] == '-' ? -1 : 1) * 60;
    return (::timegm(&tm) - offset) * 1000000LL + std::stoll(t.substr(20, 6));
}

std::string status(pid_t pid, const char *field)
{
    const std::string text = readText("/proc/" + std::to_string(pid) + "/status");
    const auto at = text.find(field);
    return at == std::string::npos ? "?" : text.substr(at, text.find('\n', at) - at);
}

long long kilobytes(const std::string &line) // "VmHWM:	   17592 kB"
{
    const auto digit = line.find_first_of("0123456789");
    return digit == std::string::npos ? -1 : std::stoll(line.substr(digit));
}

// Channels 1 to 8 in turn, one press every 20 ms: 50 a second.
std::string pattern(int seconds)
{
    std::string text = "# all eight channels in turn, 50 presses a second\nport com1\n";
    for (int k = 0; k < 8; ++k)
        text += format("0.%02d %d every 0.16 times %d\n", 2 * k, k + 1, seconds * 50 / 8);
    return text;
}

struct Run
{
    std::vector<double> farEndMs; // when the 16 bytes were read at the peer, after the step
    std::string far, summary;
    double cpuShare = 0;
    long long rssEarly = 0, rssLate = 0, hwm = 0;
    int status = -1;
};

// Plays `programFile`, reading the far end and the answers as they come, until it ends.
Run play(const std::string &programFile, const std::string &journal, int seconds)
{
    Pty pty;
    int output[2], errors[2];
    if (::pipe(output) != 0 || ::pipe(errors) != 0)
        throw std::runtime_error("no pipe");
    const int none = ::open("/dev/null", O_RDONLY);
    Child child({DORQ_PROGRAM, "--headless", "--play", programFile, "--com1", pty.name, "--journal",
                 journal},
                output[1], none, errors[1]);
    ::close(output[1]);
    ::close(errors[1]);
    ::close(none);
    Run run;
    double cpu0 = -1, wall0 = 0, cpu1 = 0, wall1 = 0;
    const double until = monotonicMs() + (seconds + 15) * 1000.0;
    for (bool open = true; open && monotonicMs() < until;) {
        pollfd p[3] = {{pty.peer, POLLIN, 0}, {output[0], POLLIN, 0}, {errors[0], POLLIN, 0}};
        ::poll(p, 3, 100);
        char buf[4096];
        if (p[0].revents & POLLIN)
            for (ssize_t n; (n = ::read(pty.peer, buf, sizeof buf)) > 0;) {
                timespec now{};
                ::clock_gettime(CLOCK_REALTIME, &now);
                const std::size_t before = run.far.size() / 16;
                run.far.append(buf, std::size_t(n));
                for (std::size_t i = before; i < run.far.size() / 16; ++i)
                    run.farEndMs.push_back(double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6);
            }
        if (p[1].revents & (POLLIN | POLLHUP))
            open = ::read(output[0], buf, sizeof buf) > 0;
        if (p[2].revents & POLLIN) {
            const ssize_t n = ::read(errors[0], buf, sizeof buf);
            run.summary.append(buf, std::size_t(std::max<ssize_t>(n, 0)));
        }
        const double elapsed = monotonicMs() - child.started;
        if (cpu0 < 0 && elapsed > 5000)
            cpu0 = cpuSeconds(child), wall0 = monotonicMs(),
            run.rssEarly = kilobytes(status(child.pid, "VmRSS"));
        if (open && elapsed > 3000 && elapsed < (seconds + 1) * 1000.0) {
            cpu1 = cpuSeconds(child), wall1 = monotonicMs();
            run.rssLate = kilobytes(status(child.pid, "VmRSS"));
            run.hwm = kilobytes(status(child.pid, "VmHWM"));
        }
    }
    char rest[4096];
    for (ssize_t n; (n = ::read(errors[0], rest, sizeof rest)) > 0;)
        run.summary.append(rest, std::size_t(n));
    run.status = WEXITSTATUS(child.wait());
    run.cpuShare = (cpu1 - cpu0) / ((wall1 - wall0) / 1000) * 100;
    ::close(output[0]);
    ::close(errors[0]);
    return run;
}

// The machine's own floor: a plain loop beside the play that sleeps to the same steps, 2 ms
// past each, and writes 16 bytes to a pty of its own. Stalls of the machine show in both.
std::vector<double> plainLoop(int seconds, const bool &stop)
{
    Pty pty;
    std::vector<double> late;
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const long long start = (now.tv_sec + 1) * 1000000000LL;
    char drain[4096];
    for (long long i = 0; i < seconds * 50LL && !stop; ++i) {
        const long long step = start + i * 20000000LL;
        const timespec at{std::time_t((step + 2000000) / 1000000000),
                          long((step + 2000000) % 1000000000)};
        ::clock_nanosleep(CLOCK_REALTIME, TIMER_ABSTIME, &at, nullptr);
        if (::write(pty.device, "5  10:20:30.12\r\n", 16) != 16)
            throw std::runtime_error("the plain loop's pty took no line");
        ::clock_gettime(CLOCK_REALTIME, &now);
        late.push_back(double(now.tv_sec * 1000000000LL + now.tv_nsec - step) / 1e6);
        while (::read(pty.peer, drain, sizeof drain) > 0) {
        }
    }
    return late;
}

int playLatency(int seconds)
{
    bool stop = false;
    std::vector<double> plain;
    std::thread beside([&] { plain = plainLoop(seconds, stop); });
    const std::string dir = tempFolder(), file = dir + "/pattern.txt", journal = dir + "/j.csv";
    writeText(file, pattern(seconds));
    const int presses = seconds * 50 / 8 * 8;
    Run run = play(file, journal, seconds);
    stop = true;
    beside.join();
    // The journal's rows in order: press i's step begins 20 ms × i after the first's.
    std::ifstream rows(journal);
    std::string row;
    std::getline(rows, row);
    std::vector<double> late, first, last;
    long long startUs = -1;
    int wrong = 0;
    for (int i = 0; std::getline(rows, row); ++i) {
        const long long sentUs = isoUs(row.substr(0, 32));
        if (startUs < 0)
            startUs = sentUs / 1000000 * 1000000;
        const double ms = double(sentUs - startUs - 20000LL * i) / 1000;
        late.push_back(ms);
        wrong += row.find(",sent") == std::string::npos;
    }
    // Drift: the first tenth of the run against the last.
    const std::size_t tenth = late.size() / 10;
    first.assign(late.begin(), late.begin() + std::ptrdiff_t(tenth));
    last.assign(late.end() - std::ptrdiff_t(tenth), late.end());
    // The records at the far end: each the step's own, channels in turn.
    const auto recordTicks = [&](std::size_t i) {
        const std::string r = run.far.substr(i * 16, 14);
        return ((std::stoi(r.substr(3, 2)) * 60 + std::stoi(r.substr(6, 2))) * 60 +
                std::stoi(r.substr(9, 2))) *
                   100 +
               std::stoi(r.substr(12, 2));
    };
    int exact = 0;
    std::vector<double> farLate;
    for (std::size_t i = 0; i < run.far.size() / 16; ++i) {
        exact += (recordTicks(i) - recordTicks(0) + 8640000) % 8640000 == int(2 * i) &&
                 run.far[i * 16] == char('1' + i % 8);
        farLate.push_back(run.farEndMs[i] - double(startUs) / 1000 - 20.0 * double(i));
    }
    std::printf("%s", run.summary.c_str());
    std::printf("play: %zu rows, %zu records at the far end (%d exact), status %d, %d not sent\n",
                late.size(), run.far.size() / 16, exact, run.status, wrong);
    std::printf("send time after step: p50 %.3f p90 %.3f p99 %.3f p99.9 %.3f max %.3f ms (min "
                "%.3f)\n",
                percentile(late, 50), percentile(late, 90), percentile(late, 99),
                percentile(late, 99.9), percentile(late, 100), percentile(late, 0));
    std::printf("far end after step: p50 %.3f p99 %.3f max %.3f ms\n", percentile(farLate, 50),
                percentile(farLate, 99), percentile(farLate, 100));
    const auto over = [](const std::vector<double> &ms, double limit) {
        return std::count_if(ms.begin(), ms.end(), [limit](double m) { return m > limit; });
    };
    std::printf("plain loop beside it: p50 %.3f p99 %.3f p99.9 %.3f max %.3f ms, %ld over 12 ms "
                "(the play: %ld)\n",
                percentile(plain, 50), percentile(plain, 99), percentile(plain, 99.9),
                percentile(plain, 100), long(over(plain, 12)), long(over(late, 12)));
    std::printf("first tenth median %.3f ms, last tenth median %.3f ms; CPU %.2f %%; RSS %lld kB "
                "at 5 s, %lld kB at the end, peak %lld kB\n",
                percentile(first, 50), percentile(last, 50), run.cpuShare, run.rssEarly,
                run.rssLate, run.hwm);
    // Every press there and sent; late ones are told by the lateness and the records.
    const bool whole = int(late.size()) == presses && !wrong;
    const int lateOnes = presses - exact;
    const std::string what =
        format("Play on a pty: 50 presses/s for %d min (%d presses)", seconds / 60, presses);
    bench::result(what + ", true send time after its step (journal)",
                  format("p50 %.2f ms, p99 %.2f ms, max %.2f ms; %d late%s", percentile(late, 50),
                         percentile(late, 99), percentile(late, 100), lateOnes,
                         whole ? "" : " (INVALID: presses missing or refused)"),
                  "p99 <= 3 ms, max <= 10 ms",
                  bench::met(whole && percentile(late, 99) <= 3 && percentile(late, 100) <= 10));
    bench::result(what + ", beside it a plain loop sleeping to the same steps (the machine's "
                         "floor)",
                  format("p50 %.2f ms, p99 %.2f ms, max %.2f ms; over 12 ms: %ld (the play: %ld)",
                         percentile(plain, 50), percentile(plain, 99), percentile(plain, 100),
                         long(over(plain, 12)), long(over(late, 12))),
                  "none set", "-");
    const double drift = percentile(last, 50) - percentile(first, 50);
    bench::result(what + ", drift: median lateness, first vs last tenth of the run",
                  format("%.3f vs %.3f ms (%+.3f); %d of %d records exact at the far end",
                         percentile(first, 50), percentile(last, 50), drift, exact, presses),
                  "no drift (< 0.5 ms), every record exact",
                  bench::met(std::abs(drift) < 0.5 && exact == presses));
    bench::result(what + ", CPU and memory",
                  format("CPU %.2f %% of one core; RSS %lld kB at 5 s, %lld kB at the end",
                         run.cpuShare, run.rssEarly, run.rssLate),
                  "RSS flat", bench::met(run.rssLate <= run.rssEarly + 512));
    return whole && run.status == (lateOnes ? 1 : 0) ? 0 : 1;
}

// CPU while nothing is due: two presses 25 s apart, measured in between.
int playIdle()
{
    const std::string dir = tempFolder(), file = dir + "/idle.txt";
    writeText(file, "port com1\n0 1\n25 2\n");
    Pty pty;
    const int none = ::open("/dev/null", O_RDONLY);
    Child child({DORQ_PROGRAM, "--headless", "--play", file, "--com1", pty.name, "--no-journal"},
                -1, none);
    ::close(none);
    sleepMs(4000); // past start-up and the first press
    const double cpu0 = cpuSeconds(child), run0 = runNanoseconds(child), wall0 = monotonicMs();
    sleepMs(10000);
    const double cpu1 = cpuSeconds(child), run1 = runNanoseconds(child), wall1 = monotonicMs();
    const double share = (cpu1 - cpu0) / ((wall1 - wall0) / 1000) * 100;
    const double schedShare = (run1 - run0) / 1e6 / (wall1 - wall0) * 100;
    std::printf("play idle: %.3f %% (stat), %.3f %% (schedstat)\n", share, schedShare);
    bench::result("Idle CPU of a play between two presses 25 s apart (10 s)",
                  format("%.2f %% of one core (schedstat: %.2f %%)", share, schedShare),
                  "as headless: < 0.5 %", bench::met(share < 0.5));
    return 0;
}

// The largest a program may be, parsed and checked: its peak memory.
long long peakKb(const std::vector<std::string> &command, int *exitStatus, double runMs = 0)
{
    const int none = ::open("/dev/null", O_RDWR);
    Child child(command, none, none);
    ::close(none);
    if (runMs > 0) {
        sleepMs(runMs);
        ::kill(child.pid, SIGTERM);
    }
    int status = 0;
    rusage usage{};
    ::wait4(child.pid, &status, 0, &usage);
    child.pid = -1;
    *exitStatus = WEXITSTATUS(status);
    return usage.ru_maxrss;
}

int playMemory()
{
    const std::string dir = tempFolder();
    {
        // Written a line at a time: a child counts the memory it shared with this process
        // before it started the program in its peak.
        std::ofstream biggest(dir + "/biggest.txt"), tooMany(dir + "/ten-million.txt");
        biggest << "port com1\n";
        for (int i = 0; i <= 4320000; ++i)
            biggest << format("%d.%02d %d\n", i / 50, i % 50 * 2, i % 8 + 1);
        for (int i = 0; i < 10000000; ++i) {
            const int t = int(i * 864LL / 1000);
            tooMany << format("%d.%02d %d\n", t / 100, t % 100, i % 8 + 1);
        }
    }
    writeText(dir + "/train.txt", "port com1\n0 1 every 0.02 times 4320001\n");
    Pty pty;
    int dry = 0, rejected = 0, played = 0, train = 0;
    const long long dryKb =
        peakKb({DORQ_PROGRAM, "--play", dir + "/biggest.txt", "--dry-run"}, &dry);
    const long long rejectedKb =
        peakKb({DORQ_PROGRAM, "--play", dir + "/ten-million.txt", "--dry-run"}, &rejected);
    const long long playKb = peakKb({DORQ_PROGRAM, "--headless", "--play", dir + "/biggest.txt",
                                     "--com1", pty.name, "--no-journal"},
                                    &played, 20000);
    const long long trainKb = peakKb({DORQ_PROGRAM, "--headless", "--play", dir + "/train.txt",
                                      "--com1", pty.name, "--no-journal"},
                                     &train, 20000);
    std::printf("peak: dry run of 4,320,001 lines %lld kB (status %d); 10,000,000 lines, "
                "refused, %lld kB (status %d); playing 4,320,001 lines %lld kB, as one train "
                "%lld kB\n",
                dryKb, dry, rejectedKb, rejected, playKb, trainKb);
    bench::result("Memory: 10,000,000 presses on as many lines, read and checked (refused "
                  "where they pass the 4,320,001 that 24 h hold at 20 ms), peak RSS",
                  format("%.1f MiB", double(rejectedKb) / 1024), "<= 100 MB",
                  bench::met(rejected == 2 && rejectedKb <= 100 * 1024));
    bench::result("Memory: the largest playable program, 4,320,001 presses on as many lines "
                  "(24 h at 20 ms), peak RSS: dry run / playing (20 s) / as one train playing",
                  format("%.1f / %.1f / %.1f MiB", double(dryKb) / 1024, double(playKb) / 1024,
                         double(trainKb) / 1024),
                  "<= 100 MB", bench::met(dry == 0 && playKb <= 100 * 1024));
    return 0;
}

// SIGTERM in the middle of a play: from the signal to the end of the process.
int playStop()
{
    const std::string dir = tempFolder(), file = dir + "/long.txt";
    writeText(file, "port com1\n0 1 every 0.02 times 100000\n");
    std::vector<double> ends;
    for (int i = 0; i < 8; ++i) {
        Pty pty;
        const int none = ::open("/dev/null", O_RDWR);
        Child child(
            {DORQ_PROGRAM, "--headless", "--play", file, "--com1", pty.name, "--no-journal"}, none,
            none);
        ::close(none);
        sleepMs(3000 + 37 * i); // playing, at another phase of its steps each time
        char drain[4096];
        while (::read(pty.peer, drain, sizeof drain) > 0) {
        }
        const double at = monotonicMs();
        ::kill(child.pid, SIGTERM);
        const int status = WEXITSTATUS(child.wait());
        ends.push_back(monotonicMs() - at);
        std::printf("stop %d: %.1f ms, status %d\n", i + 1, ends.back(), status);
        if (status != 1)
            throw std::runtime_error("a stopped play must end with status 1");
    }
    bench::result(
        "Play stopped by SIGTERM: signal to the end of the process (8 runs)",
        format("median %.1f ms, max %.1f ms", percentile(ends, 50), percentile(ends, 100)),
        "<= 100 ms", bench::met(percentile(ends, 100) <= 100));
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    try {
        if (mode == "latency")
            return playLatency(argc > 2 ? std::atoi(argv[2]) : 600);
        if (mode == "idle")
            return playIdle();
        if (mode == "memory")
            return playMemory();
        if (mode == "stop")
            return playStop();
    } catch (const std::exception &e) {
        std::fprintf(stderr, "play_bench %s: %s\n", mode.c_str(), e.what());
        return 1;
    }
    std::fprintf(stderr, "usage: play_bench latency [SECONDS]|idle|memory|stop\n");
    return 2;
}
