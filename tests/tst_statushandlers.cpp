// The status indicator: picture and caption per code, pictures read afresh, and a picture that
// cannot be loaded never costing the caption or the program.
#include "support/testwindow.h"

#include <QCheckBox>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QTest>

namespace {

QImage shown(frmDDNS &w)
{
    return w.imgStatus->pixmap().toImage().convertToFormat(QImage::Format_ARGB32);
}

QImage fileImage(const QString &path)
{
    return QImage(path).convertToFormat(QImage::Format_ARGB32);
}

QImage iconImage(const QString &name)
{
    return fileImage(QStringLiteral(VESTREL_SOURCE_DIR "/icons/") + name);
}

} // namespace

class TestStatus : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void pictureAndCaptionPerCode_data();
    void pictureAndCaptionPerCode();
    void readsThePictureOnEveryCall();
    void unloadablePictureKeepsPictureAndCaption_data();
    void unloadablePictureKeepsPictureAndCaption();
    void unloadablePictureAfterALoginGoesOn_data();
    void unloadablePictureAfterALoginGoesOn();
    void unloadablePictureFromTheCheckBoxGoesOn();
};

void TestStatus::initTestCase()
{
    // The checks below rely on the three pictures and the initial one being told apart.
    const QImage disabled = iconImage(QStringLiteral("icon_disabled.gif"));
    const QImage offline = iconImage(QStringLiteral("icon_offline.gif"));
    const QImage online = iconImage(QStringLiteral("icon_online.gif"));
    QVERIFY(!disabled.isNull() && !offline.isNull() && !online.isNull());
    QVERIFY(disabled != offline && offline != online && online != disabled);
    TestWindow t;
    QVERIFY(shown(*t) != disabled && shown(*t) != offline && shown(*t) != online);
}

void TestStatus::pictureAndCaptionPerCode_data()
{
    QTest::addColumn<qint32>("code");
    QTest::addColumn<QString>("icon");
    QTest::addColumn<QString>("caption");

    QTest::newRow("0 disabled") << 0 << QStringLiteral("icon_disabled.gif") << QStringLiteral("Disabled");
    QTest::newRow("1 offline") << 1 << QStringLiteral("icon_offline.gif") << QStringLiteral("Disconnect");
    QTest::newRow("2 online") << 2 << QStringLiteral("icon_online.gif") << QStringLiteral("Connected");
    QTest::newRow("3 as offline") << 3 << QStringLiteral("icon_offline.gif") << QStringLiteral("Disconnect");
    QTest::newRow("-1 as offline") << -1 << QStringLiteral("icon_offline.gif") << QStringLiteral("Disconnect");
}

void TestStatus::pictureAndCaptionPerCode()
{
    QFETCH(qint32, code);
    QFETCH(QString, icon);
    QFETCH(QString, caption);

    TestWindow t;
    t->ShowServiceStatus(code);
    QCOMPARE(shown(*t), iconImage(icon));
    QCOMPARE(t->cmdConnect->text(), caption);
    // Whatever is shown, the supervisor must not take it for "Connect".
    QVERIFY(t->cmdConnect->text() != QStringLiteral("Connect"));
}

void TestStatus::readsThePictureOnEveryCall()
{
    TestWindow t;
    t->ShowServiceStatus(frmDDNS::STATUS_ONLINE);
    QCOMPARE(shown(*t), iconImage(QStringLiteral("icon_online.gif")));

    // Replace the file behind the program's back: the same code shows the new picture.
    const QString online = t.dir.filePath(QStringLiteral("icons/icon_online.gif"));
    QVERIFY(QFile::remove(online));
    QVERIFY(QFile::copy(t.dir.filePath(QStringLiteral("icons/icon_disabled.gif")), online));
    t->ShowServiceStatus(frmDDNS::STATUS_ONLINE);
    QCOMPARE(shown(*t), iconImage(QStringLiteral("icon_disabled.gif")));
    QCOMPARE(t->cmdConnect->text(), QStringLiteral("Connected"));
}

void TestStatus::unloadablePictureKeepsPictureAndCaption_data()
{
    QTest::addColumn<QString>("damage");
    QTest::newRow("no icons directory") << QStringLiteral("directory");
    QTest::newRow("file missing") << QStringLiteral("file");
    QTest::newRow("not a picture") << QStringLiteral("garbage");
}

void TestStatus::unloadablePictureKeepsPictureAndCaption()
{
    QFETCH(QString, damage);

    TestWindow t;
    t->ShowServiceStatus(frmDDNS::STATUS_OFFLINE);
    const QString online = t.dir.filePath(QStringLiteral("icons/icon_online.gif"));
    if (damage == QLatin1String("directory")) {
        t.dir.removeIcons();
    } else {
        QVERIFY(QFile::remove(online));
        if (damage == QLatin1String("garbage")) {
            QFile f(online);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("GIF89a but not really a picture");
        }
    }

    t->dispatch([&] { t->ShowServiceStatus(frmDDNS::STATUS_ONLINE); });
    QCOMPARE(shown(*t), iconImage(QStringLiteral("icon_offline.gif")));
    QCOMPARE(t->cmdConnect->text(), QStringLiteral("Disconnect"));
    QVERIFY(!t.services.ended);
    QVERIFY(t.services.boxes.isEmpty());
}

void TestStatus::unloadablePictureAfterALoginGoesOn_data()
{
    QTest::addColumn<QByteArray>("status");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QString>("message");

    QTest::newRow("success") << QByteArray("online") << QStringLiteral("-") << QString();
    QTest::newRow("failure") << QByteArray("offline") << QStringLiteral("Login Failed")
                             << QStringLiteral("Username or password may be incorrect.");
}

void TestStatus::unloadablePictureAfterALoginGoesOn()
{
    QFETCH(QByteArray, status);
    QFETCH(QString, error);
    QFETCH(QString, message);

    TestWindow t;
    const QImage before = shown(*t);
    t.dir.removeIcons();
    t->lblMessage->setText(QStringLiteral("hint"));

    t.socket.deliver("HTTP/1.1 200 OK\r\nSet-Cookie: s=1\r\n\r\n<html>s5555203.0.113.7:" + status + "<br></html>\r\n");

    QCOMPARE(shown(*t), before);
    QCOMPARE(t->cmdConnect->text(), QStringLiteral("Connect"));
    QVERIFY(!t.services.ended);
    QVERIFY(t.services.boxes.isEmpty());
    // The outcome's texts and the rest of the reply handling went through.
    QCOMPARE(t->lblError->text(), error);
    QCOMPARE(t->lblMessage->text(), message);
    QCOMPARE(t->lblMyIP->text(), QStringLiteral("203.0.113.7"));
    QCOMPARE(t->intLoginPhase, qint16(0));
    QCOMPARE(t->strCookie, QStringLiteral("s=1"));
}

void TestStatus::unloadablePictureFromTheCheckBoxGoesOn()
{
    TestWindow t;
    const QImage before = shown(*t);
    t.dir.removeIcons();

    t->chkDisableService->setChecked(true);
    QCOMPARE(shown(*t), before);
    QCOMPARE(t->cmdConnect->text(), QStringLiteral("Connect"));
    QVERIFY(!t.services.ended);
    QVERIFY(t.services.boxes.isEmpty());

    t->chkDisableService->setChecked(false);
    QCOMPARE(shown(*t), before);
    QVERIFY(!t.services.ended);
    QVERIFY(t.services.boxes.isEmpty());
}

QTEST_MAIN(TestStatus)
#include "tst_statushandlers.moc"
