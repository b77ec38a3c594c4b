// CPU cost of one connected tick: Timer1_Timer sends an update request on the open connection and
// the window reads and shows the service's reply. The window talks through the real socket to the
// simulated service on 127.0.0.1; the service runs on a thread of its own, and only the window's
// thread is counted, so the figure is the client's work alone (its event loop and socket included).
//
//   bench-tick [TICKS [ROUNDS]]        (default 1000 ticks, 5 rounds)
//
// Each round runs TICKS ticks; the figures are the median round's. Prints key=value lines: ticks,
// rounds, cpu_us_per_tick (window thread) with cpu_us_min and cpu_us_max over the rounds,
// wall_us_per_tick and process_cpu_us_per_tick (both threads). Exits 1 when the exchange does not
// work.
#include "clocks.h"
#include "servicesimulator.h"
#include "support/testwindow.h"

#include "exchange/qtwinsock.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QPushButton>
#include <QThread>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

[[noreturn]] void fail(const char *message)
{
    std::fprintf(stderr, "bench-tick: %s\n", message);
    std::exit(1);
}

// Runs the event loop until done() holds; false after timeoutMs. A slow watchdog timer guarantees a
// wake-up to look at the clock without turning the wait into a busy loop.
template <typename Done> bool runUntil(Done done, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// User and system CPU time of the calling thread, in nanoseconds; microsecond resolution.
struct ThreadTimes {
    long long user;
    long long system;
};

ThreadTimes threadTimes()
{
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    const auto ns = [](const timeval &tv) {
        return static_cast<long long>(tv.tv_sec) * 1000000000LL + tv.tv_usec * 1000LL;
    };
    return {ns(usage.ru_utime), ns(usage.ru_stime)};
}

} // namespace

int main(int argc, char *argv[])
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int ticks = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    if (ticks <= 0 || rounds <= 0)
        fail("usage: bench-tick [TICKS [ROUNDS]]");
    constexpr int kWarmUpTicks = 50;

    QThread serverThread;
    auto *service = new ServiceSimulator;
    service->setAccount(QStringLiteral("bench"), QStringLiteral("bench"));
    service->moveToThread(&serverThread);
    QObject::connect(&serverThread, &QThread::finished, service, &QObject::deleteLater);
    serverThread.start();
    quint16 port = 0;
    QMetaObject::invokeMethod(
        service, [&] { port = service->listen(0) ? service->port() : 0; }, Qt::BlockingQueuedConnection);
    if (port == 0)
        fail("the simulated service could not listen on 127.0.0.1");

    AppDir dir;
    dir.writeConfig("\r\nbench\r\nbench\r\n0\r\n");
    FakeDesktopServices services(dir.path());
    QtWinsock socket;
    FakeNotificationArea tray;
    frmDDNS window(services, socket, tray, {QStringLiteral("127.0.0.1"), port});
    window.Timer1->stop();

    // The window takes every waiting byte on each DataArrival; connected after the window's own
    // handler, this sees how many that was.
    qint64 received = 0;
    QObject::connect(&socket, &Winsock::DataArrival, &app, [&received](qint32 bytes) { received += bytes; });
    QTimer watchdog;
    watchdog.start(250);

    // Start-up connects at once, and the Connect event sends the first request.
    window.load();
    if (!runUntil([&] { return received > 0; }, 10000))
        fail("no reply to the first request");
    const qint64 replySize =
        ServiceSimulator::buildReply(true, window.strLocalIP, QByteArray(ServiceSimulator::kTokenLength, 'A')).size();
    if (!runUntil([&] { return received >= replySize; }, 10000) || window.cmdConnect->text() != u"Connected")
        fail("the first login did not succeed");

    qint64 expected = replySize;
    auto tick = [&] {
        window.dispatch([&] { window.Timer1_Timer(); });
        expected += replySize;
        if (!runUntil([&] { return received >= expected; }, 10000))
            fail("a tick got no complete reply");
    };
    for (int i = 0; i < kWarmUpTicks; ++i)
        tick();

    // A round's figures, in microseconds per tick.
    struct Round {
        double cpu;
        double wall;
        double process;
        double user;
        double system;
    };
    std::vector<Round> measured;
    measured.reserve(rounds);
    for (int r = 0; r < rounds; ++r) {
        const long long cpu0 = benchclock::threadCpuNs();
        const long long process0 = benchclock::processCpuNs();
        const long long wall0 = benchclock::monotonicNs();
        const ThreadTimes times0 = threadTimes();
        for (int i = 0; i < ticks; ++i)
            tick();
        const auto perTick = [ticks](long long from, long long to) { return double(to - from) / 1e3 / ticks; };
        const ThreadTimes times1 = threadTimes();
        measured.push_back({perTick(cpu0, benchclock::threadCpuNs()), perTick(wall0, benchclock::monotonicNs()),
                            perTick(process0, benchclock::processCpuNs()), perTick(times0.user, times1.user),
                            perTick(times0.system, times1.system)});
    }
    std::sort(measured.begin(), measured.end(), [](const Round &a, const Round &b) { return a.cpu < b.cpu; });
    const Round &median = measured[measured.size() / 2];

    int requests = 0;
    QMetaObject::invokeMethod(
        service, [&] { requests = service->requestCount(); }, Qt::BlockingQueuedConnection);
    serverThread.quit();
    serverThread.wait();
    if (requests != 1 + kWarmUpTicks + ticks * rounds || received != expected || services.ended
        || window.cmdConnect->text() != u"Connected")
        fail("requests and replies did not match one for one");

    std::printf("ticks=%d\nrounds=%d\n", ticks, rounds);
    std::printf("cpu_us_per_tick=%.1f\n", median.cpu);
    std::printf("cpu_us_min=%.1f\ncpu_us_max=%.1f\n", measured.front().cpu, measured.back().cpu);
    std::printf("wall_us_per_tick=%.1f\n", median.wall);
    std::printf("process_cpu_us_per_tick=%.1f\n", median.process);
    std::printf("user_us_per_tick=%.1f\nsystem_us_per_tick=%.1f\n", median.user, median.system);
    return 0;
}
