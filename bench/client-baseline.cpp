// The second yardstick: the least any Qt client of this job can be. A tray icon; a hidden window
// with the client's labels, text boxes, buttons and check box (default font, no pictures); one
// QTcpSocket to the service, built in as the client's is, that sends one update request as soon as
// it connects. Nothing else: no reply is read, no timer, no settings.
#include <QApplication>
#include <QCheckBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTcpSocket>
#include <QWidget>

#include <tuple>

namespace {

// The client's request, with an account the simulated service refuses (the run-bench.sh log tells
// the two programs apart by it). A refused login keeps its connection.
constexpr char kRequest[] = "POST /asp/index.asp HTTP/1.1\r\n"
                            "Host: 127.0.0.1\r\n"
                            "Content-Type: application/x-www-form-urlencoded\r\n"
                            "Cookie: verify=tarn; \r\n"
                            "Content-Length: 51\r\n"
                            "\r\n"
                            "username=yardstick&password=bench&localip=127.0.0.1";

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);

    QPixmap picture(16, 16);
    picture.fill(Qt::darkCyan);
    QSystemTrayIcon tray{QIcon(picture)};
    tray.setToolTip(QStringLiteral("Yardstick"));
    tray.show();

    QWidget window;
    window.setWindowTitle(QStringLiteral("DDNS Property"));
    window.setFixedSize(345, 239);
    const auto place = [](QWidget *w, int x, int y, int width, int height) { w->setGeometry(x, y, width, height); };
    for (const auto &[caption, x, y, width, height] : {std::tuple{"Property", 8, 8, 97, 17},
                                                       {"Username : ", 72, 40, 81, 17},
                                                       {"Password : ", 72, 80, 65, 17},
                                                       {"Gateway (Name or IP) :", 248, 128, 113, 33},
                                                       {"DDNS Server : ", 16, 160, 88, 13},
                                                       {"Disconnected", 104, 160, 209, 17},
                                                       {"My IP : ", 16, 176, 65, 17},
                                                       {"N/A", 104, 176, 97, 17},
                                                       {"Error : ", 16, 192, 57, 17},
                                                       {"-", 104, 192, 133, 13},
                                                       {"Disable service", 250, 195, 81, 17},
                                                       {"Tips : ", 8, 224, 33, 17},
                                                       {"", 40, 224, 305, 17}})
        place(new QLabel(QString::fromLatin1(caption), &window), x, y, width, height);
    place(new QLabel(&window), 240, 8, 99, 35);
    place(new QLabel(&window), 280, 160, 44, 26);
    place(new QLineEdit(&window), 136, 40, 89, 19);
    auto *password = new QLineEdit(&window);
    password->setEchoMode(QLineEdit::Password);
    place(password, 136, 80, 89, 19);
    place(new QLineEdit(&window), 264, 72, 105, 19);
    place(new QLineEdit(QStringLiteral("Text1"), &window), 0, 32, 321, 25);
    place(new QPushButton(QStringLiteral("Default"), &window), 272, 104, 57, 17);
    place(new QPushButton(QStringLiteral("Connect"), &window), 88, 120, 81, 17);
    place(new QPushButton(QStringLiteral("Save"), &window), 208, 120, 49, 17);
    place(new QCheckBox(&window), 232, 192, 14, 17);

    QTcpSocket socket;
    QObject::connect(&socket, &QTcpSocket::connected, &socket,
                     [&socket] { socket.write(kRequest, static_cast<qint64>(sizeof kRequest - 1)); });
    socket.connectToHost(QStringLiteral(VESTREL_SERVICE_HOST), VESTREL_SERVICE_PORT);
    return QApplication::exec();
}
