#pragma once

// The built program as a child process, observed from outside; shared by the benchmarks
// that start it.
#include "report.h"

#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <pty.h>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace bench::child {

inline void sleepMs(double ms)
{
    const auto ns = static_cast<long long>(ms * 1e6);
    timespec t{static_cast<std::time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    ::nanosleep(&t, nullptr);
}

inline std::string readText(const std::string &path)
{
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class Child
{
public:
    // stdout goes to `out` when given, else nowhere; stdin comes from `in` when given;
    // stderr to `err` when given, else nowhere.
    explicit Child(const std::vector<std::string> &args, int out = -1, int in = -1, int err = -1)
    {
        std::vector<std::string> env;
        for (char **e = environ; *e; ++e)
            if (std::strncmp(*e, "QT_QPA_PLATFORM=", 16) != 0)
                env.emplace_back(*e);
        env.emplace_back("QT_QPA_PLATFORM=offscreen");
        std::vector<char *> argv, envp;
        for (const std::string &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        for (const std::string &e : env)
            envp.push_back(const_cast<char *>(e.c_str()));
        envp.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (err >= 0)
            posix_spawn_file_actions_adddup2(&actions, err, 2);
        else
            posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        if (in >= 0)
            posix_spawn_file_actions_adddup2(&actions, in, 0);
        if (out >= 0)
            posix_spawn_file_actions_adddup2(&actions, out, 1);
        else
            posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        started = bench::monotonicMs();
        const int failed = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        if (failed)
            throw std::runtime_error("cannot start " + args[0] + ": " + std::strerror(failed));
    }
    ~Child()
    {
        if (pid > 0) {
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
        }
    }
    Child(const Child &) = delete;
    Child &operator=(const Child &) = delete;

    bool running() const { return ::waitpid(pid, nullptr, WNOHANG) == 0; }
    std::string proc(const char *file) const
    {
        return readText("/proc/" + std::to_string(pid) + "/" + file);
    }
    int wait()
    {
        int status = 0;
        ::waitpid(pid, &status, 0);
        pid = -1;
        return status;
    }

    pid_t pid = -1;
    double started = 0;
};

// utime + stime of every thread of the process, in seconds.
inline double cpuSeconds(const Child &child)
{
    const std::string stat = child.proc("stat");
    // Fields after the command name, which is in parentheses and may hold spaces.
    std::istringstream rest(stat.substr(stat.rfind(')') + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
        if (i == 14)
            utime = std::stoull(field);
        if (i == 15)
            stime = std::stoull(field);
    }
    return double(utime + stime) / double(::sysconf(_SC_CLK_TCK));
}

// On-CPU time of the live threads in ns, from the scheduler: finer than the 10 ms of stat.
inline double runNanoseconds(const Child &child)
{
    double total = 0;
    const std::string tasks = "/proc/" + std::to_string(child.pid) + "/task";
    if (DIR *dir = ::opendir(tasks.c_str())) {
        while (const dirent *entry = ::readdir(dir))
            if (entry->d_name[0] != '.')
                total += std::stod(readText(tasks + "/" + entry->d_name + "/schedstat"));
        ::closedir(dir);
    }
    return total;
}

// A pseudo-terminal pair: the program opens the device end, the benchmark reads the peer.
struct Pty
{
    int peer = -1, device = -1;
    std::string name;
    Pty()
    {
        if (::openpty(&peer, &device, nullptr, nullptr, nullptr) != 0)
            throw std::runtime_error("openpty failed");
        ::fcntl(peer, F_SETFL, O_NONBLOCK);
        termios tio{};
        ::tcgetattr(device, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(device, TCSANOW, &tio);
        name = ::ttyname(device);
    }
    ~Pty()
    {
        ::close(peer);
        ::close(device);
    }
};

// Lines of a child's standard output, read without blocking.
struct Answers
{
    int fd;
    std::string pending;
    // The next line, or "" when none came within `ms`.
    std::string next(double ms)
    {
        const double until = bench::monotonicMs() + ms;
        for (;;) {
            const auto end = pending.find('\n');
            if (end != std::string::npos) {
                std::string line = pending.substr(0, end);
                pending.erase(0, end + 1);
                return line;
            }
            pollfd p{fd, POLLIN, 0};
            const double left = until - bench::monotonicMs();
            if (left <= 0 || ::poll(&p, 1, int(left) + 1) <= 0)
                return {};
            char buf[4096];
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n <= 0)
                return {};
            pending.append(buf, std::size_t(n));
        }
    }
};

} // namespace bench::child
