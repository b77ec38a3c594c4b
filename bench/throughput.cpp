// How fast Winsock1_DataArrival gets through received text: 64 MB handed to the window in deliveries
// of a real size, through the tests' fake socket. A server that floods the client holds up the
// window for as long as this takes.
//
//   bench-throughput [MEGABYTES [REPEATS]]        (default 64 MB, 1 MB = 2^20 bytes; 3 repeats)
//
// Three streams, each fed REPEATS times; the median pass counts. Two key=value lines per stream
// (MB/s from the window thread's CPU time, and from the wall clock): page text delivered 1460
// bytes at a time (one TCP segment), page text delivered 4096 bytes at a time, and a hostile
// stream of near misses 1460 bytes at a time. Page text is a run of replies: headers with a
// Set-Cookie line, a page start, a page of table rows and prose, and one status marker per page.
// The near misses are full of what each search in the reader waits for ('<', 's', "<htm", "s555",
// "Set-Cooki") without ever completing one, so no search can skip ahead.
// Exits 1 when the window did not read the stream the way it should.
#include "clocks.h"
#include "support/testwindow.h"

#include <QApplication>
#include <QLabel>
#include <QRandomGenerator>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

[[noreturn]] void fail(const char *message)
{
    std::fprintf(stderr, "bench-throughput: %s\n", message);
    std::exit(1);
}

const char *const kWords[] = {"the",     "service", "keeps",  "your",    "address", "status",  "account", "update",
                              "host",    "name",    "record", "since",   "last",    "login",   "is",      "was",
                              "records", "changes", "sets",   "answers", "shows",   "of",      "and",     "to",
                              "dynamic", "domain",  "server", "client",  "seconds", "minutes", "request", "settings"};

QByteArray prose(QRandomGenerator &random, int words)
{
    QByteArray text;
    for (int i = 0; i < words; ++i) {
        if (i > 0)
            text += ' ';
        text += kWords[random.bounded(int(std::size(kWords)))];
    }
    return text;
}

QByteArray address(QRandomGenerator &random)
{
    return QByteArray::number(random.bounded(1, 224)) + '.' + QByteArray::number(random.bounded(256)) + '.'
           + QByteArray::number(random.bounded(256)) + '.' + QByteArray::number(random.bounded(1, 255));
}

// One reply as the service might send it: 2 to 16 KB of page with the status marker somewhere in it.
QByteArray reply(QRandomGenerator &random, QByteArray *markerAddress)
{
    QByteArray page = "<html>\r\n<head>\r\n<title>Dynamic DNS</title>\r\n"
                      "<style>td { padding: 2px; } .name { font-weight: bold; }</style>\r\n</head>\r\n<body>\r\n"
                      "<h3>Dynamic DNS update</h3>\r\n<table>\r\n";
    const int rows = random.bounded(10, 120);
    const int markerRow = random.bounded(rows);
    for (int row = 0; row < rows; ++row) {
        page += "<tr><td class=\"name\">host-" + QByteArray::number(random.bounded(100000)) + ".example</td><td>"
                + address(random) + "</td><td>" + prose(random, random.bounded(3, 14)) + "</td></tr>\r\n";
        if (row == markerRow) {
            *markerAddress = address(random);
            page += "</table>\r\n<p>Account status:</p>\r\ns5555" + *markerAddress
                    + (random.bounded(4) ? ":online" : ":offline") + "<br>\r\n<table>\r\n";
        }
    }
    page += "</table>\r\n<p>" + prose(random, 40) + "</p>\r\n</body>\r\n</html>\r\n";

    QByteArray token(24, 'A');
    for (char &c : token)
        c = static_cast<char>('A' + random.bounded(26));
    return "HTTP/1.1 200 OK\r\nServer: web-frontend/2.1\r\nCache-Control: private\r\nSet-Cookie: ASPSESSIONID=" + token
           + "; path=/\r\nContent-Type: text/html\r\nContent-Length: " + QByteArray::number(page.size())
           + "\r\nConnection: Keep-Alive\r\n\r\n" + page;
}

QByteArray pageText(qsizetype size, QByteArray *lastAddress)
{
    QRandomGenerator random(20240601);
    QByteArray text;
    text.reserve(size + 32768);
    while (text.size() < size)
        text += reply(random, lastAddress);
    // End on a whole reply, so the last marker read is the last one written.
    return text;
}

QByteArray nearMisses(qsizetype size)
{
    static const char *const pieces[] = {"<htm", "< html", "s555",   "s5s55", "ss555 ", "Set-Cooki",  "<",
                                         "s",    "<ht ml", "s 5555", "<<<",   "sss",    "Set-Cookie", "\r\nSet-Cooki"};
    QRandomGenerator random(7);
    QByteArray text;
    text.reserve(size + 64);
    while (text.size() < size)
        text += pieces[random.bounded(int(std::size(pieces)))];
    text.truncate(size);
    return text;
}

struct Result {
    double cpuMBps;
    double wallMBps;
};

Result feed(TestWindow &w, const QByteArray &text, qsizetype deliverySize)
{
    const char *data = text.constData();
    const qsizetype total = text.size();
    const long long cpu0 = benchclock::threadCpuNs();
    const long long wall0 = benchclock::monotonicNs();
    for (qsizetype at = 0; at < total; at += deliverySize) {
        w.socket.deliver(QByteArray::fromRawData(data + at, qMin(deliverySize, total - at)));
        // The fake keeps every piece read for tests to look at; here that would only fill memory.
        w.socket.chunksRead.clear();
    }
    const long long cpu1 = benchclock::threadCpuNs();
    const long long wall1 = benchclock::monotonicNs();
    const double mb = static_cast<double>(total) / (1 << 20);
    return {mb / (static_cast<double>(cpu1 - cpu0) / 1e9), mb / (static_cast<double>(wall1 - wall0) / 1e9)};
}

Result medianOf(std::vector<Result> passes)
{
    std::sort(passes.begin(), passes.end(), [](const Result &a, const Result &b) { return a.cpuMBps < b.cpuMBps; });
    return passes[passes.size() / 2];
}

} // namespace

int main(int argc, char *argv[])
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int megabytes = argc > 1 ? std::atoi(argv[1]) : 64;
    const int repeats = argc > 2 ? std::atoi(argv[2]) : 3;
    if (megabytes <= 0 || repeats <= 0)
        fail("usage: bench-throughput [MEGABYTES [REPEATS]]");
    const qsizetype size = qsizetype(megabytes) << 20;

    QByteArray lastAddress;
    const QByteArray pages = pageText(size, &lastAddress);
    const QByteArray hostile = nearMisses(size);

    std::printf("megabytes=%d\nrepeats=%d\n", megabytes, repeats);
    for (const qsizetype delivery : {qsizetype(1460), qsizetype(4096)}) {
        TestWindow w;
        w.socket.state = Winsock::sckConnected;
        std::vector<Result> passes;
        passes.reserve(repeats);
        for (int i = 0; i < repeats; ++i)
            passes.push_back(feed(w, pages, delivery));
        const Result r = medianOf(passes);
        if (!w.socket.incoming.isEmpty() || w->lblMyIP->text() != QString::fromLatin1(lastAddress)
            || w->strCookie.isEmpty() || w.services.ended)
            fail("the window did not read the page text to its end");
        std::printf("pages_%lld_cpu_mbps=%.1f\npages_%lld_wall_mbps=%.1f\n", static_cast<long long>(delivery),
                    r.cpuMBps, static_cast<long long>(delivery), r.wallMBps);
    }
    {
        TestWindow w;
        w.socket.state = Winsock::sckConnected;
        // Past a page start, so the marker search is the one under attack as well as the cookie search.
        w.socket.deliver("<html>");
        std::vector<Result> passes;
        passes.reserve(repeats);
        for (int i = 0; i < repeats; ++i)
            passes.push_back(feed(w, hostile, 1460));
        const Result r = medianOf(passes);
        if (!w.socket.incoming.isEmpty() || w.services.ended)
            fail("the window did not read the hostile stream to its end");
        std::printf("hostile_1460_cpu_mbps=%.1f\nhostile_1460_wall_mbps=%.1f\n", r.cpuMBps, r.wallMBps);
    }
    return 0;
}
