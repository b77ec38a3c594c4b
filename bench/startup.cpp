// Start-up time of the client against two yardsticks, all started the same way from here and timed
// from just before the process is spawned to the moment its first sign of life arrives here. For
// the client and the bare client that is the first byte of its first request, received on a
// loopback listener that stands in for the service; for the bare tray program, which connects
// nowhere, a byte it writes on a pipe at the first turn of its event loop. Runs alternate, each
// program going first in turn, so that a change in the machine's load falls on all alike.
//
//   bench-startup --program PATH --baseline PATH [--client-baseline PATH] --port N [--runs N]
//                 [--timeout SECONDS] [--log FILE]
//
// Prints key=value lines (milliseconds): program_median_ms, program_min_ms, program_max_ms,
// program_runs_ms (every run, in order), program_cpu_median_ms, _min_ and _max_ (the CPU time the
// program had used by then, all its threads), and the same for baseline_ and client_baseline_. Exits 1,
// with the reason on stderr, when a run gives no sign of life.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char **environ;

namespace {

double nowMs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

[[noreturn]] void fail(const std::string &message)
{
    std::fprintf(stderr, "bench-startup: %s\n", message.c_str());
    std::exit(1);
}

std::string describeStatus(int status)
{
    if (WIFSIGNALED(status))
        return "was killed by signal " + std::to_string(WTERMSIG(status));
    return "exited with status " + std::to_string(WEXITSTATUS(status));
}

// CPU time the process has used so far, all its threads, in milliseconds: the scheduler's own
// account, which a busy machine does not inflate as it does the wall clock. -1 where unreadable.
double cpuMs(pid_t pid)
{
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR *dir = ::opendir(tasks.c_str());
    if (!dir)
        return -1;
    unsigned long long total = 0;
    while (const dirent *entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        if (FILE *f = std::fopen((tasks + "/" + entry->d_name + "/schedstat").c_str(), "r")) {
            unsigned long long ns = 0;
            if (std::fscanf(f, "%llu", &ns) == 1)
                total += ns;
            std::fclose(f);
        }
    }
    ::closedir(dir);
    return static_cast<double>(total) / 1e6;
}

// The CPU time of the run just timed.
double g_lastCpuMs = -1;

// Waits until fd is readable or the deadline (on nowMs's clock) passes. While it waits it looks
// after the child now and then: one that has ended will never be heard from.
bool waitReadable(int fd, double deadlineMs, pid_t child, const char *who)
{
    for (;;) {
        const double left = deadlineMs - nowMs();
        if (left <= 0)
            return false;
        pollfd p{fd, POLLIN, 0};
        const int n = ::poll(&p, 1, std::min(static_cast<int>(left) + 1, 100));
        if (n > 0)
            return true;
        if (n < 0 && errno != EINTR)
            fail(std::string("poll: ") + std::strerror(errno));
        int status = 0;
        if (n == 0 && ::waitpid(child, &status, WNOHANG) == child)
            fail(std::string(who) + " " + describeStatus(status) + " before it gave a sign of life");
    }
}

// Where the programs' output goes: nowhere, unless --log names a file (appended to), so that neither
// program pays for a terminal.
std::string g_logPath = "/dev/null";

// Starts path with the current environment plus extra entries.
pid_t spawn(const std::string &path, const std::vector<std::string> &extraEnv)
{
    std::vector<std::string> envStrings;
    for (char **e = environ; *e; ++e)
        envStrings.emplace_back(*e);
    envStrings.insert(envStrings.end(), extraEnv.begin(), extraEnv.end());
    std::vector<char *> envp;
    envp.reserve(envStrings.size() + 1);
    for (std::string &s : envStrings)
        envp.push_back(s.data());
    envp.push_back(nullptr);

    std::string arg0 = path;
    char *argv[] = {arg0.data(), nullptr};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, g_logPath.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        fail("cannot start " + path + ": " + std::strerror(rc));
    return pid;
}

void stop(pid_t pid)
{
    ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
}

int listenOn(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        fail(std::string("socket: ") + std::strerror(errno));
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) != 0)
        fail("cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + std::strerror(errno));
    if (::listen(fd, 8) != 0)
        fail(std::string("listen: ") + std::strerror(errno));
    return fd;
}

// One start of a client: spawn, accept its connection, wait for the first byte of its request.
double timeProgram(const std::string &path, int listener, double timeoutMs, const char *who = "the client")
{
    const double start = nowMs();
    const pid_t pid = spawn(path, {});
    const double deadline = start + timeoutMs;
    if (!waitReadable(listener, deadline, pid, who)) {
        stop(pid);
        fail(std::string(who) + " did not connect to 127.0.0.1 within the time allowed");
    }
    const int conn = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (conn < 0) {
        stop(pid);
        fail(std::string("accept: ") + std::strerror(errno));
    }
    const bool gotByte = waitReadable(conn, deadline, pid, who);
    const double end = nowMs();
    g_lastCpuMs = cpuMs(pid);
    char byte = 0;
    const ssize_t got = gotByte ? ::recv(conn, &byte, 1, 0) : -1;
    stop(pid);
    ::close(conn);
    if (got == 0)
        fail(std::string(who) + " closed its connection without sending a request");
    if (got != 1)
        fail(std::string(who) + " connected but sent no request within the time allowed");
    return end - start;
}

// One start of the baseline: spawn with a pipe, wait for its byte.
double timeBaseline(const std::string &path, double timeoutMs)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        fail(std::string("pipe: ") + std::strerror(errno));
    // Only the write end is handed down.
    ::fcntl(fds[1], F_SETFD, 0);
    const double start = nowMs();
    const pid_t pid = spawn(path, {"BENCH_READY_FD=" + std::to_string(fds[1])});
    ::close(fds[1]);
    const bool ready = waitReadable(fds[0], start + timeoutMs, pid, "the baseline");
    const double end = nowMs();
    g_lastCpuMs = cpuMs(pid);
    char byte = 0;
    const bool read = ready && ::read(fds[0], &byte, 1) == 1;
    stop(pid);
    ::close(fds[0]);
    if (!read)
        fail("the baseline gave no sign of life within the time allowed");
    return end - start;
}

struct Spread {
    double median;
    double min;
    double max;
};

Spread spreadOf(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    const double median = n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
    return {median, v.front(), v.back()};
}

void pause(int ms)
{
    timespec ts{ms / 1000, (ms % 1000) * 1000000L};
    while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {}
}

} // namespace

int main(int argc, char *argv[])
{
    std::string program;
    std::string baseline;
    std::string clientBaseline;
    int port = 0;
    int runs = 20;
    double timeoutMs = 20000;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        const char *value = argv[i + 1];
        if (key == "--program")
            program = value;
        else if (key == "--baseline")
            baseline = value;
        else if (key == "--client-baseline")
            clientBaseline = value;
        else if (key == "--port")
            port = std::atoi(value);
        else if (key == "--runs")
            runs = std::atoi(value);
        else if (key == "--timeout")
            timeoutMs = std::atof(value) * 1000;
        else if (key == "--log")
            g_logPath = value;
        else
            fail("unknown option " + key);
    }
    if (program.empty() || baseline.empty() || port <= 0 || port > 65535 || runs <= 0)
        fail("usage: bench-startup --program PATH --baseline PATH [--client-baseline PATH] --port N [--runs N] "
             "[--timeout SECONDS] [--log FILE]");

    ::signal(SIGPIPE, SIG_IGN);
    const int listener = listenOn(port);

    struct Subject {
        const char *key;
        std::function<double()> time;
        std::vector<double> ms;
        std::vector<double> cpuMs{};
    };
    std::vector<Subject> subjects;
    subjects.push_back({"program", [&] { return timeProgram(program, listener, timeoutMs); }, {}});
    if (!clientBaseline.empty())
        subjects.push_back({"client_baseline",
                            [&] { return timeProgram(clientBaseline, listener, timeoutMs, "the bare client"); },
                            {}});
    subjects.push_back({"baseline", [&] { return timeBaseline(baseline, timeoutMs); }, {}});

    // One start of each first, not counted: it brings every program and its libraries into the cache.
    for (Subject &s : subjects)
        s.time();

    for (int i = 0; i < runs; ++i) {
        // Each goes first in turn.
        for (size_t k = 0; k < subjects.size(); ++k) {
            Subject &s = subjects[(static_cast<size_t>(i) + k) % subjects.size()];
            s.ms.push_back(s.time());
            s.cpuMs.push_back(g_lastCpuMs);
            pause(100);
        }
    }
    ::close(listener);

    std::printf("runs=%d\n", runs);
    for (const Subject &s : subjects) {
        const Spread sp = spreadOf(s.ms);
        std::printf("%s_median_ms=%.1f\n%s_min_ms=%.1f\n%s_max_ms=%.1f\n", s.key, sp.median, s.key, sp.min, s.key,
                    sp.max);
        std::printf("%s_runs_ms=", s.key);
        for (size_t k = 0; k < s.ms.size(); ++k)
            std::printf("%s%.1f", k ? " " : "", s.ms[k]);
        std::printf("\n");
        const Spread cpu = spreadOf(s.cpuMs);
        std::printf("%s_cpu_median_ms=%.1f\n%s_cpu_min_ms=%.1f\n%s_cpu_max_ms=%.1f\n", s.key, cpu.median, s.key,
                    cpu.min, s.key, cpu.max);
    }
    return 0;
}
