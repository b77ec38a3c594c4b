// A stand-in for a process of another user's that took the client's socket name first: it listens
// on the name given, answers as a holder would, and appends whatever it is told to a file.
//   pipestandin NAME LOGFILE      prints "listening" once it listens
#include <QCoreApplication>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 3)
        return 2;
    QLocalServer server;
    if (!server.listen(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "cannot listen: %s\n", qPrintable(server.errorString()));
        return 1;
    }
    const QString log = QString::fromLocal8Bit(argv[2]);
    QObject::connect(&server, &QLocalServer::newConnection, [&server, log] {
        while (QLocalSocket *client = server.nextPendingConnection()) {
            client->write("asked\nshown\n");
            QObject::connect(client, &QLocalSocket::readyRead, client, [client, log] {
                QFile file(log);
                if (file.open(QIODevice::Append))
                    file.write(client->readAll());
            });
        }
    });
    std::puts("listening");
    std::fflush(stdout);
    return QCoreApplication::exec();
}
