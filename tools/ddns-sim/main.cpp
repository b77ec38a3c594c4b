// ddns-sim: the update service, simulated on 127.0.0.1 for demos and tests (or inside a test's own
// network namespace).
#include "servicesimulator.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHostAddress>
#include <QList>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace {

volatile std::sig_atomic_t g_stopRequested = 0;

void requestStop(int)
{
    g_stopRequested = 1;
}

// One line to stdout, flushed at once: whoever watches the output (a person, a script, a test) sees
// each event as it happens even when stdout is a pipe.
void printLine(const QString &line)
{
    std::fputs(line.toUtf8().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

[[noreturn]] void fail(const QString &message)
{
    std::fputs(("ddns-sim: " + message + '\n').toUtf8().constData(), stderr);
    std::exit(2);
}

// A user name comes from the network: control characters are shown escaped so that they cannot
// break the one-line-per-request log.
QString printable(const QString &text)
{
    QString out;
    for (QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f || c == QLatin1Char(' ') || c == QLatin1Char('%'))
            out += QStringLiteral("%%1").arg(c.unicode(), 2, 16, QLatin1Char('0')).toUpper();
        else
            out += c;
    }
    return out;
}

int toCount(const QString &text, const char *option, int max)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < 0 || value > max)
        fail(QStringLiteral("--%1 wants a whole number from 0 to %2, not \"%3\"")
                 .arg(QLatin1String(option))
                 .arg(max)
                 .arg(text));
    return value;
}

// The command line: every option the simulator answers.
struct Options {
    const QCommandLineOption port{QStringLiteral("port"), QStringLiteral("Port to listen on; 0 picks a free one."),
                                  QStringLiteral("N"), QStringLiteral("18080")};
    const QCommandLineOption listenAddress{
        QStringLiteral("listen"),
        QStringLiteral("Address to listen on: 127.0.0.1 (default) or ::1, or one of 203.0.113.0/24 or 2001:db8::/64 "
                       "inside a test's network namespace. Give it again to listen on a further address, on the "
                       "same port."),
        QStringLiteral("ADDRESS"), QStringLiteral("127.0.0.1")};
    const QCommandLineOption user{QStringLiteral("user"), QStringLiteral("Account user name."), QStringLiteral("U"),
                                  QStringLiteral("demo")};
    const QCommandLineOption password{QStringLiteral("password"), QStringLiteral("Account password."),
                                      QStringLiteral("P"), QStringLiteral("demo")};
    const QCommandLineOption address{QStringLiteral("address"),
                                     QStringLiteral("Address to report (default: the request's localip)."),
                                     QStringLiteral("A")};
    const QCommandLineOption closeAfter{QStringLiteral("close-after"),
                                        QStringLiteral("Close each connection after N replies."), QStringLiteral("N"),
                                        QStringLiteral("0")};
    const QCommandLineOption split{QStringLiteral("split"),
                                   QStringLiteral("Write each reply in pieces cut at these byte offsets."),
                                   QStringLiteral("OFFSETS")};
    const QCommandLineOption silent{QStringLiteral("silent"), QStringLiteral("Read requests but never answer.")};
    const QCommandLineOption refuse{QStringLiteral("refuse"), QStringLiteral("Close each connection at once.")};

    void addTo(QCommandLineParser &parser) const
    {
        parser.setApplicationDescription(
            QStringLiteral("Plays the dynamic-DNS update service on 127.0.0.1: answers login requests on kept-alive "
                           "HTTP/1.1 connections. Prints \"listening on 127.0.0.1:<port>\", then one line per "
                           "request."));
        parser.addHelpOption();
        parser.addOptions({port, listenAddress, user, password, address, closeAfter, split, silent, refuse});
    }
};

// The account, the address reported and the misbehaviour asked for.
void configure(ServiceSimulator &simulator, const QCommandLineParser &parser, const Options &options)
{
    simulator.setAccount(parser.value(options.user), parser.value(options.password));
    if (parser.isSet(options.address)) {
        if (!ServiceSimulator::isMarkerSafe(parser.value(options.address)))
            fail(QStringLiteral("--address takes letters, digits, '.', '-' and '_' only"));
        simulator.setAddress(parser.value(options.address));
    }
    simulator.setCloseAfter(toCount(parser.value(options.closeAfter), "close-after", 1000000));
    if (parser.isSet(options.split)) {
        const std::optional<QList<int>> offsets = ServiceSimulator::parseOffsets(parser.value(options.split));
        if (!offsets)
            fail(QStringLiteral("--split wants positive byte offsets separated by commas, such as 3,120,250"));
        simulator.setSplitOffsets(*offsets);
    }
    simulator.setSilent(parser.isSet(options.silent));
    simulator.setRefuse(parser.isSet(options.refuse));
}

QList<QHostAddress> listenAddresses(const QCommandLineParser &parser, const Options &options)
{
    QList<QHostAddress> listenOn;
    for (const QString &text : parser.values(options.listenAddress)) {
        const QHostAddress address(text);
        if (!ServiceSimulator::isListenAddressAllowed(address))
            fail(QStringLiteral("--listen takes 127.0.0.1, ::1 or an address of 203.0.113.0/24 or 2001:db8::/64, "
                                "not \"%1\"")
                     .arg(text));
        listenOn.append(address);
    }
    return listenOn;
}

void printEachRequest(ServiceSimulator &simulator)
{
    QObject::connect(&simulator, &ServiceSimulator::requestHandled, &simulator,
                     [&simulator](int number, const QString &username, bool ok) {
                         printLine(QStringLiteral("request %1 user=%2 %3 from %4 localip=%5")
                                       .arg(number)
                                       .arg(printable(username), ok ? QStringLiteral("ok") : QStringLiteral("fail"),
                                            simulator.lastPeer().toString(), printable(simulator.lastLocalIp())));
                     });
}

// A signal handler may only set a flag; the event loop looks at it often enough to stop promptly.
void quitOnSignal(QTimer &stopWatch)
{
    std::signal(SIGINT, requestStop);
    std::signal(SIGTERM, requestStop);
    QObject::connect(&stopWatch, &QTimer::timeout, &stopWatch, [] {
        if (g_stopRequested)
            QCoreApplication::quit();
    });
    stopWatch.start(50);
}

void printListening(const QList<QHostAddress> &listenOn, quint16 port)
{
    for (const QHostAddress &address : listenOn) {
        const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
                                 ? QLatin1Char('[') + address.toString() + QLatin1Char(']')
                                 : address.toString();
        printLine(QStringLiteral("listening on %1:%2").arg(host).arg(port));
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("ddns-sim"));

    const Options options;
    QCommandLineParser parser;
    options.addTo(parser);
    parser.process(app);
    if (!parser.positionalArguments().isEmpty())
        fail(QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().constFirst()));

    ServiceSimulator simulator;
    configure(simulator, parser, options);
    const QList<QHostAddress> listenOn = listenAddresses(parser, options);
    const auto listenPort = static_cast<quint16>(toCount(parser.value(options.port), "port", 65535));
    for (const QHostAddress &address : listenOn) {
        if (!simulator.listen(listenPort, address)) {
            std::fputs(("ddns-sim: cannot listen on " + address.toString() + ": " + simulator.errorString() + '\n')
                           .toUtf8()
                           .constData(),
                       stderr);
            return 1;
        }
    }
    printEachRequest(simulator);
    QTimer stopWatch;
    quitOnSignal(stopWatch);
    printListening(listenOn, simulator.port());
    return QCoreApplication::exec();
}
