// The connection supervisor driven through a socket that records every call.
#include "support/testwindow.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTest>

namespace {

const QString kHost = QStringLiteral("ddns.test.invalid");
const QString kHint = QStringLiteral("If you want to connect, please uncheck \"Disable Service\"");
const QStringList kConnectSequence{QStringLiteral("Close"), QStringLiteral("RemoteHost=ddns.test.invalid"),
                                   QStringLiteral("RemotePort=80"), QStringLiteral("LocalPort=0"),
                                   QStringLiteral("Connect")};
const QStringList kCloseAndReset{QStringLiteral("Close")};

// Sets the box without running its click handler, to stage a situation.
void stageBox(frmDDNS &w, bool ticked)
{
    const QSignalBlocker blocker(w.chkDisableService);
    w.chkDisableService->setChecked(ticked);
}

// Start-up on fakes, with the first tick's attempt still outstanding; calls cleared.
struct Started : TestWindow {
    Started()
    {
        window->load();
        socket.calls.clear();
    }
};

} // namespace

class TestSupervisor : public QObject
{
    Q_OBJECT
private slots:
    void connectDecision_data();
    void connectDecision();
    void connectSequenceMarksTheAttemptBeforeConnecting();
    void unansweredAttemptIsRestartedOnTheThirdTick();
    void errorEventLeavesTheCounterAndShortensTheNextAttempt();
    void connectEventShowsHostAndSendsOnce();
    void connectEventWithoutConnectionIsIgnored();
    void linkedTickSendsWithoutDeciding();
    void unacknowledgedRequestHoldsTheNextBack();
    void requestStuckInTheSocketReopens_data();
    void requestStuckInTheSocketReopens();
    void droppedConnectionIsResetThenReopened();
    void tickingTheBoxDuringAnAttemptDoesNotCancelIt();
    void checkBoxHandlerRunsOnlyOnRealChanges();
    void connectsToTheServiceHostNeverTheGateway();
    void failingConnectKeepsTheAttemptUntilTheRetryLimit();
    void aHalfReadLineDoesNotJoinTheNextConnection();
    void connectionWhoseAddressLeftIsReopened_data();
    void connectionWhoseAddressLeftIsReopened();
    void addressReportWhileUnconnectedConnectsAtOnce();
    void replyEndingWithItsStatusIsShown_data();
    void replyEndingWithItsStatusIsShown();
};

void TestSupervisor::connectDecision_data()
{
    QTest::addColumn<bool>("linked");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<bool>("ticked");
    QTest::addColumn<bool>("connecting");
    QTest::addColumn<QString>("action");

    QTest::newRow("attempt outstanding") << false << "Connect" << false << true << "none";
    QTest::newRow("attempt outstanding, linked, ticked") << true << "Connected" << true << true << "none";
    QTest::newRow("ready") << false << "Connect" << false << false << "connect";
    QTest::newRow("linked") << true << "Connect" << false << false << "reset";
    QTest::newRow("linked, other caption") << true << "Connected" << false << false << "reset";
    QTest::newRow("caption Disconnect") << false << "Disconnect" << false << false << "reset";
    QTest::newRow("caption Connected") << false << "Connected" << false << false << "reset";
    QTest::newRow("caption case differs") << false << "connect" << false << false << "reset";
    QTest::newRow("box ticked") << false << "Connect" << true << false << "reset";
}

void TestSupervisor::connectDecision()
{
    QFETCH(bool, linked);
    QFETCH(QString, caption);
    QFETCH(bool, ticked);
    QFETCH(bool, connecting);
    QFETCH(QString, action);

    TestWindow t;
    t->load();
    stageBox(*t, ticked);
    t.socket.state = linked ? Winsock::sckConnected : Winsock::sckClosed;
    t->cmdConnect->setText(caption);
    t->cmdConnect->setEnabled(!connecting);
    t->blnConnecting = connecting;
    t->lblStatus->setText(QStringLiteral("Connected to x"));
    t->lblMessage->clear();
    t.socket.calls.clear();

    t->cmdConnect_Click();

    QCOMPARE(t->blnDisabled, ticked);
    QCOMPARE(t->lblMessage->text(), ticked ? kHint : QString());
    if (action == QLatin1String("none")) {
        QVERIFY(t.socket.calls.isEmpty());
        QCOMPARE(t->cmdConnect->text(), caption);
        QVERIFY(t->blnConnecting);
    } else if (action == QLatin1String("connect")) {
        QCOMPARE(t.socket.calls, kConnectSequence);
        QVERIFY(t->blnConnecting);
        QVERIFY(!t->cmdConnect->isEnabled());
        QCOMPARE(t->cmdConnect->text(), caption);
    } else {
        QCOMPARE(t.socket.calls, kCloseAndReset);
        QCOMPARE(t->cmdConnect->text(), QStringLiteral("Connect"));
        QVERIFY(t->cmdConnect->isEnabled());
        QVERIFY(!t->blnConnecting);
        QCOMPARE(t->lblStatus->text(), ticked ? QStringLiteral("Disabled") : QStringLiteral("Connected to x"));
    }
}

void TestSupervisor::connectSequenceMarksTheAttemptBeforeConnecting()
{
    TestWindow t;
    t->load();
    t.socket.state = Winsock::sckClosed;
    t->blnConnecting = false;
    bool markedFirst = false;
    t.socket.onConnect = [&] { markedFirst = t->blnConnecting && !t->cmdConnect->isEnabled(); };
    t->cmdConnect_Click();
    QVERIFY(markedFirst);
    QCOMPARE(t.socket.remoteHost, kHost);
    QCOMPARE(t.socket.remotePort, 80);
}

void TestSupervisor::unansweredAttemptIsRestartedOnTheThirdTick()
{
    Started t; // the first tick, inside start-up, started an attempt
    QCOMPARE(t->intRetryTicks, qint16(0));
    QVERIFY(t->blnConnecting);
    for (int tick = 1; tick <= 2; ++tick) {
        t->Timer1_Timer();
        QCOMPARE(t->intRetryTicks, qint16(tick));
        QVERIFY(t.socket.calls.isEmpty());
        QVERIFY(!t->cmdConnect->isEnabled());
    }
    t->Timer1_Timer(); // the third tick after the start gives up and starts afresh
    QCOMPARE(t->intRetryTicks, qint16(0));
    QCOMPARE(t.socket.calls, kConnectSequence);
    QVERIFY(t->blnConnecting);
    QVERIFY(!t->cmdConnect->isEnabled());

    // And so on, every third tick, for as long as nothing answers.
    t.socket.calls.clear();
    for (int tick = 0; tick < 6; ++tick)
        t->Timer1_Timer();
    QCOMPARE(t.socket.calls.count(QStringLiteral("Connect")), 2);
    QVERIFY(!t->cmdConnect->isEnabled());
}

void TestSupervisor::errorEventLeavesTheCounterAndShortensTheNextAttempt()
{
    Started t;
    t->Timer1_Timer();
    QCOMPARE(t->intRetryTicks, qint16(1));
    t->cmdConnect->setText(QStringLiteral("Connect"));
    t.socket.raiseError(10061, QStringLiteral("Connection is forcefully rejected"));
    QCOMPARE(t.socket.calls, kCloseAndReset);
    QCOMPARE(t->lblError->text(), QStringLiteral("Connection is forcefully rejected"));
    QVERIFY(t->cmdConnect->isEnabled());
    QVERIFY(!t->blnConnecting);
    QCOMPARE(t->intRetryTicks, qint16(1));
    QCOMPARE(t->cmdConnect->text(), QStringLiteral("Connect"));

    // The next tick starts a new attempt at once...
    t.socket.calls.clear();
    t->Timer1_Timer();
    QCOMPARE(t.socket.calls, kConnectSequence);
    QCOMPARE(t->intRetryTicks, qint16(1));
    // ...which is given up on the second tick after it started.
    t.socket.calls.clear();
    t->Timer1_Timer();
    QVERIFY(t.socket.calls.isEmpty());
    t->Timer1_Timer();
    QCOMPARE(t.socket.calls, kConnectSequence);
    QCOMPARE(t->intRetryTicks, qint16(0));
}

void TestSupervisor::connectEventShowsHostAndSendsOnce()
{
    Started t;
    t->lblError->setText(QStringLiteral("old error"));
    const QString caption = t->cmdConnect->text();
    t.socket.raiseConnect();
    QCOMPARE(t->lblStatus->text(), QStringLiteral("Connected to ") + kHost);
    QCOMPARE(t->lblError->text(), QStringLiteral("-"));
    QCOMPARE(t.socket.sent.size(), 1);
    QVERIFY(!t->blnConnecting);
    QVERIFY(t->cmdConnect->isEnabled());
    QCOMPARE(t->cmdConnect->text(), caption);
}

void TestSupervisor::connectEventWithoutConnectionIsIgnored()
{
    Started t;
    t.socket.state = Winsock::sckClosing;
    emit t.socket.ConnectEvent();
    QCOMPARE(t->lblStatus->text(), QStringLiteral("Disconnected"));
    QVERIFY(t.socket.sent.isEmpty());
    QVERIFY(t->blnConnecting);
    QVERIFY(!t->cmdConnect->isEnabled());
}

void TestSupervisor::linkedTickSendsWithoutDeciding()
{
    Started t;
    t.socket.raiseConnect();
    stageBox(*t, true);
    t->cmdConnect->setText(QStringLiteral("Connected"));
    t.socket.calls.clear();
    t.socket.sent.clear();
    for (int tick = 0; tick < 3; ++tick)
        t->Timer1_Timer();
    QCOMPARE(t.socket.sent.size(), 3);
    QVERIFY(!t.socket.calls.contains(QStringLiteral("Close")));
    QCOMPARE(t->intRetryTicks, qint16(0));
}

// Requests do not pile up behind one the service has not acknowledged, to arrive all at once when
// the path comes back.
void TestSupervisor::unacknowledgedRequestHoldsTheNextBack()
{
    Started t;
    t.socket.raiseConnect();
    t.socket.sent.clear();
    t.socket.sendBacklog = true;
    t->Timer1_Timer();
    t->Timer1_Timer();
    QVERIFY(t.socket.sent.isEmpty());
    QVERIFY(!t.socket.calls.contains(QStringLiteral("Close")));
    t.socket.sendBacklog = false;
    t->Timer1_Timer();
    QCOMPARE(t.socket.sent.size(), 1);
}

// A socket that keeps a request unsent has stopped reporting on its connection: the third tick in a
// row that finds it so gives the connection up and opens a new one. Data that the system holds
// unacknowledged is left to the system's own limit.
void TestSupervisor::requestStuckInTheSocketReopens_data()
{
    QTest::addColumn<bool>("unsent");
    QTest::newRow("unsent") << true;
    QTest::newRow("sent, unacknowledged") << false;
}

void TestSupervisor::requestStuckInTheSocketReopens()
{
    QFETCH(bool, unsent);
    Started t;
    t.socket.raiseConnect();
    t->cmdConnect->setText(QStringLiteral("Connected"));
    auto stall = [&](bool on) {
        t.socket.sendPending = on && unsent;
        t.socket.sendBacklog = on;
    };
    stall(true);
    t->Timer1_Timer();
    t->Timer1_Timer();
    // A request taken in between starts the count again.
    stall(false);
    t->Timer1_Timer();
    stall(true);
    t.socket.calls.clear();
    t.socket.sent.clear();
    t->Timer1_Timer();
    t->Timer1_Timer();
    QVERIFY(!t.socket.calls.contains(QStringLiteral("Close")));
    t->Timer1_Timer();
    // Given up, the caption reset, a new attempt: all in that tick.
    QCOMPARE(t.socket.calls, unsent ? kCloseAndReset + kCloseAndReset + kConnectSequence : QStringList());
    QVERIFY(t.socket.sent.isEmpty());
    QCOMPARE(t->blnConnecting, unsent);
}

void TestSupervisor::droppedConnectionIsResetThenReopened()
{
    Started t;
    t.socket.raiseConnect();
    t->cmdConnect->setText(QStringLiteral("Connected")); // as a handled reply leaves it
    t.socket.state = Winsock::sckClosing;                // the server closed the connection
    t.socket.calls.clear();

    t->Timer1_Timer();
    QCOMPARE(t.socket.calls, kCloseAndReset);
    QCOMPARE(t->cmdConnect->text(), QStringLiteral("Connect"));
    QCOMPARE(t->lblStatus->text(), QStringLiteral("Connected to ") + kHost);

    t.socket.calls.clear();
    t->Timer1_Timer();
    QCOMPARE(t.socket.calls, kConnectSequence);
}

void TestSupervisor::tickingTheBoxDuringAnAttemptDoesNotCancelIt()
{
    {
        Started t;
        t->chkDisableService->setChecked(true);
        QVERIFY(t->blnDisabled);
        QVERIFY(t->blnConnecting);
        QVERIFY(t.socket.calls.isEmpty());
        QCOMPARE(t->lblMessage->text(), kHint);
        // The connection is made after all: requests go out on every tick.
        t.socket.raiseConnect();
        t->Timer1_Timer();
        QCOMPARE(t.socket.sent.size(), 2);
        // Until the user clicks: then the box keeps the client offline.
        t->cmdConnect_Click();
        QCOMPARE(t.socket.state, qint16(Winsock::sckClosed));
        QCOMPARE(t->lblStatus->text(), QStringLiteral("Disabled"));
        t->Timer1_Timer();
        QVERIFY(!t.socket.calls.contains(QStringLiteral("Connect")));
    }
    {
        Started t;
        t->chkDisableService->setChecked(true);
        // Nothing answers: the retry limit ends the attempt with close-and-reset.
        for (int tick = 0; tick < 3; ++tick)
            t->Timer1_Timer();
        QCOMPARE(t.socket.calls, kCloseAndReset);
        QCOMPARE(t->lblStatus->text(), QStringLiteral("Disabled"));
        QCOMPARE(t->cmdConnect->text(), QStringLiteral("Connect"));
        QVERIFY(t->cmdConnect->isEnabled());
        QVERIFY(!t->blnConnecting);
    }
}

void TestSupervisor::checkBoxHandlerRunsOnlyOnRealChanges()
{
    TestWindow t;
    t->load();
    t->blnConnecting = false;
    t.socket.calls.clear();
    t->chkDisableService->setChecked(true);
    QCOMPARE(t.socket.calls, kCloseAndReset);
    QVERIFY(t->blnDisabled);
    t->chkDisableService->setChecked(true); // no change, no handler
    QCOMPARE(t.socket.calls, kCloseAndReset);

    // The user's click runs it as well; clearing the box leaves the caption "Connect" and the next
    // tick connects.
    t.socket.calls.clear();
    t->submnuProperty_Click(0);
    QTest::mouseClick(t->chkDisableService, Qt::LeftButton, {}, QPoint(7, 8));
    QVERIFY(!t->chkDisableService->isChecked());
    QVERIFY(!t->blnDisabled);
    QCOMPARE(t.socket.calls, kCloseAndReset);
    QCOMPARE(t->cmdConnect->text(), QStringLiteral("Connect"));
    t.socket.calls.clear();
    t->Timer1_Timer();
    QCOMPARE(t.socket.calls, kConnectSequence);
}

void TestSupervisor::connectsToTheServiceHostNeverTheGateway()
{
    TestWindow t;
    t->txtGatewayIP->setText(QStringLiteral("gateway.elsewhere.invalid"));
    t->load();
    QVERIFY(t.socket.calls.contains(QStringLiteral("RemoteHost=") + kHost));
    QCOMPARE(t.socket.remoteHost, kHost);
}

void TestSupervisor::failingConnectKeepsTheAttemptUntilTheRetryLimit()
{
    TestWindow t;
    t.socket.failConnect = true;
    t->load();
    QVERIFY(!t.services.ended);
    QVERIFY(t->blnConnecting);
    QVERIFY(!t->cmdConnect->isEnabled());
    t.socket.calls.clear();
    for (int tick = 0; tick < 3; ++tick)
        t->Timer1_Timer();
    QCOMPARE(t.socket.calls, kConnectSequence);
}

void TestSupervisor::aHalfReadLineDoesNotJoinTheNextConnection()
{
    Started t;
    t.socket.raiseConnect();
    t.socket.deliver("HTTP/1.1 200 OK\r\nSet-Cookie: stale=");
    t->cmdConnect_Click(); // the user closes the connection
    t->Timer1_Timer();     // and the next tick opens a new one
    t.socket.raiseConnect();
    t.socket.deliver("fresh\r\n");
    QVERIFY(t->strCookie.isEmpty());
}

void TestSupervisor::connectionWhoseAddressLeftIsReopened_data()
{
    QTest::addColumn<bool>("reported"); // the system reports the change, or only a tick notices it
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QStringList>("calls");
    QTest::addColumn<bool>("connecting");

    const QStringList closed{QStringLiteral("Close")};
    // Nothing is sent on the dead connection. It is closed and a new one is opened from the current
    // address in the same step, whatever the caption, whether a tick finds it or the system reports it.
    QTest::newRow("tick, no outcome yet") << false << "Connect" << closed + kConnectSequence << true;
    QTest::newRow("tick, after an outcome")
        << false << "Connected" << closed + kCloseAndReset + kConnectSequence << true;
    QTest::newRow("reported, no outcome yet") << true << "Connect" << closed + kConnectSequence << true;
    QTest::newRow("reported, after an outcome")
        << true << "Connected" << closed + kCloseAndReset + kConnectSequence << true;
}

// While no connection is open, a report of new addresses starts an attempt at once: the last one
// may have failed for want of an address. One under way is left alone.
void TestSupervisor::addressReportWhileUnconnectedConnectsAtOnce()
{
    Started t; // an attempt is under way
    t.socket.raiseAddressesChanged();
    QVERIFY(t.socket.calls.isEmpty());

    t.socket.raiseError(10051, QStringLiteral("Network is unreachable"));
    t->cmdConnect->setText(QStringLiteral("Disconnect"));
    t.socket.calls.clear();
    // The attempt's request stands for the next tick's: the ten seconds start again from it.
    t->Timer1->start();
    QTest::qWait(1000);
    const int remaining = t->Timer1->remainingTime();
    t.socket.raiseAddressesChanged();
    QCOMPARE(t.socket.calls, kCloseAndReset + kConnectSequence);
    QVERIFY(t->blnConnecting);
    QVERIFY2(t->Timer1->remainingTime() > remaining, "the tick after the report stays where it was");
}

void TestSupervisor::connectionWhoseAddressLeftIsReopened()
{
    QFETCH(bool, reported);
    QFETCH(QString, caption);
    QFETCH(QStringList, calls);
    QFETCH(bool, connecting);

    Started t;
    t.socket.raiseConnect();
    t->cmdConnect->setText(caption);
    t.socket.calls.clear();
    t.socket.sent.clear();
    // A report while the address is still there changes nothing.
    t.socket.raiseAddressesChanged();
    QVERIFY(t.socket.calls.isEmpty());

    t.socket.localAddressGone = true;
    if (reported)
        t.socket.raiseAddressesChanged();
    else
        t->Timer1_Timer();
    QCOMPARE(t.socket.calls, calls);
    QVERIFY(t.socket.sent.isEmpty());
    QCOMPARE(t->blnConnecting, connecting);
    QVERIFY(!t.services.ended);
}

void TestSupervisor::replyEndingWithItsStatusIsShown_data()
{
    QTest::addColumn<bool>("online");
    QTest::addColumn<bool>("serverCloses");

    QTest::newRow("online, kept open") << true << false;
    QTest::newRow("online, then closed") << true << true;
    QTest::newRow("failed, kept open") << false << false;
    QTest::newRow("failed, then closed") << false << true;
}

// A reply whose last bytes are its status, whole or cut anywhere: success shows as soon as it is
// read; a failure once its connection ends, by the server or by the user.
void TestSupervisor::replyEndingWithItsStatusIsShown()
{
    QFETCH(bool, online);
    QFETCH(bool, serverCloses);

    const QByteArray reply = "HTTP/1.1 200 OK\r\nSet-Cookie: sid=1; path=/\r\n\r\n<html><body>s5555203.0.113.9:"
                             + QByteArray(online ? "online" : "offline");
    const QString caption = online ? QStringLiteral("Connected") : QStringLiteral("Disconnect");
    Started t;
    for (qsizetype cut = 0; cut < reply.size(); ++cut) {
        t.socket.raiseConnect();
        t->lblMyIP->setText(QStringLiteral("N/A"));
        if (cut > 0)
            t.socket.deliver(reply.left(cut));
        t.socket.deliver(reply.mid(cut));
        if (online)
            QCOMPARE(t->cmdConnect->text(), caption);
        if (serverCloses) {
            t.socket.state = Winsock::sckClosing;
            t->Timer1_Timer();
        } else {
            t->cmdConnect_Click();
        }
        QCOMPARE(t->lblMyIP->text(), QStringLiteral("203.0.113.9"));
        QCOMPARE(t->lblError->text(), online ? QStringLiteral("-") : QStringLiteral("Login Failed"));
        QCOMPARE(t->intLoginPhase, qint16(0));
        // The connection's end resets the caption once the outcome is shown: the tick after
        // connects again.
        QCOMPARE(t->cmdConnect->text(), QStringLiteral("Connect"));
        t.socket.calls.clear();
        t->Timer1_Timer();
        QCOMPARE(t.socket.calls, kConnectSequence);
    }
}

QTEST_MAIN(TestSupervisor)
#include "tst_supervisor.moc"
