// Start-up of the window: where it ends, what it shows, and what a missing background does.
#include "support/testwindow.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFontInfo>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

class TestStartup : public QObject
{
    Q_OBJECT
private slots:
    void endsMinimisedAndHiddenBehindOneTrayIcon();
    void firstStartOpensTheWindow_data();
    void firstStartOpensTheWindow();
    void fillsTheTrayRecord();
    void trayIconCarriesEveryDrawnSize();
    void showsInitialCaptionsAndKeepsHiddenControlsHidden();
    void clickingTheCheckBoxCaptionChangesNothing();
    void focusFollowsTabIndexOrder();
    void missingBackgroundReportsAndEnds_data();
    void missingBackgroundReportsAndEnds();
    void statusTextLongerThanItsLabelShowsInItsTooltip();
    void passwordIsMaskedWithAsterisks();
    void windowTakesItsFontWhenFirstShown_data();
    void windowTakesItsFontWhenFirstShown();
    void compiledInPicturesShowAsDrawn_data();
    void compiledInPicturesShowAsDrawn();
};

void TestStartup::endsMinimisedAndHiddenBehindOneTrayIcon()
{
    TestWindow t;
    t->load();
    QVERIFY(!t.services.ended);
    QVERIFY(!t->isVisible());
    QCOMPARE(t->WindowState(), frmDDNS::vbMinimized);
    QVERIFY(t.tray.present);
    QCOMPARE(t.tray.tip, QStringLiteral("Vestrel"));
    // Start-up adds the icon more than once (the state change and the explicit resize); the
    // notification area refuses the repeat, so there is still exactly one icon.
    QVERIFY(t.tray.calls.count(QStringLiteral("add")) >= 2);
    QVERIFY(!t.tray.calls.contains(QStringLiteral("delete")));
    QVERIFY(t.services.boxes.isEmpty());
    QCOMPARE(t->strServerPort, QStringLiteral("80"));
    QCOMPARE(t->strServerHost, QStringLiteral("ddns.test.invalid"));
    QCOMPARE(t->intLoginPhase, qint16(0));
    QVERIFY(!t->blnExiting);
}

void TestStartup::firstStartOpensTheWindow_data()
{
    QTest::addColumn<QByteArray>("config"); // null: no config.dat at all
    QTest::addColumn<bool>("configIsFolder");
    QTest::addColumn<bool>("withIcons");
    QTest::addColumn<bool>("opens");
    QTest::newRow("no config.dat") << QByteArray() << false << true << true;
    QTest::newRow("an account") << QByteArray("gw\r\nuser\r\npass\r\n0\r\n") << false << true << false;
    QTest::newRow("an account, service disabled")
        << QByteArray("gw\r\nuser\r\npass\r\n1\r\n") << false << true << false;
    QTest::newRow("an empty config.dat") << QByteArray("") << false << true << false;
    QTest::newRow("a config.dat that cannot be read") << QByteArray() << true << true << false;
    QTest::newRow("no config.dat, no background") << QByteArray() << false << false << false;
}

// A first start has no account and an icon that may be out of sight: the window opens once start-up
// is over. Any config.dat, read or not, means the user has been here: start-up ends hidden.
void TestStartup::firstStartOpensTheWindow()
{
    QFETCH(QByteArray, config);
    QFETCH(bool, configIsFolder);
    QFETCH(bool, withIcons);
    QFETCH(bool, opens);
    TestWindow t(withIcons);
    if (configIsFolder)
        QVERIFY(QDir(t.dir.path()).mkdir(QStringLiteral("config.dat")));
    else if (!config.isNull())
        t.dir.writeConfig(config);
    bool hiddenAtFirstTick = false;
    t.socket.onConnect = [&] { hiddenAtFirstTick = !t->isVisible(); };

    t->start();
    QCOMPARE(t->isVisible(), opens);
    QCOMPARE(t.tray.present, withIcons && !opens);
    if (!opens)
        return;
    QCOMPARE(t->WindowState(), frmDDNS::vbNormal);
    // Start-up ran to its end hidden, its first tick included; then the icon stepped aside.
    QVERIFY(hiddenAtFirstTick);
    QCOMPARE(t.tray.calls.last(), QStringLiteral("delete"));
    QVERIFY(t.services.boxes.isEmpty());
    // From there on it is the window as Property shows it: the close box sends it to the tray.
    qint16 cancel = 0;
    t->Form_QueryUnload(cancel, frmDDNS::vbFormControlMenu);
    QCOMPARE(cancel, qint16(1));
    QVERIFY(!t->isVisible());
    QVERIFY(t.tray.present);
}

void TestStartup::fillsTheTrayRecord()
{
    TestWindow t;
    t->load();
    const NOTIFYICONDATA &nid = t->nidTray;
    QCOMPARE(nid.cbSize, 88u);
    QCOMPARE(nid.uID, 1u);
    QCOMPARE(nid.uFlags, 7u);
    QCOMPARE(nid.uCallbackMessage, 512u);
    QVERIFY(nid.hWnd != 0);
    QVERIFY(!nid.hIcon.isNull());
    QByteArray expected("Vestrel");
    expected.append('\0');
    expected.append(QByteArray(64 - expected.size(), ' '));
    QCOMPARE(QByteArray(nid.szTip.data(), 64), expected);
}

// The tray icon is the window icon. Each drawn size must come out as its own picture: a size left
// out of the resources or out of the window's list would come out as a neighbour scaled to fit.
void TestStartup::trayIconCarriesEveryDrawnSize()
{
    TestWindow t;
    t->load();
    const QDir resources(QStringLiteral(VESTREL_SOURCE_DIR "/resources"));
    const QStringList files = resources.entryList({QStringLiteral("vestrel-*.png")});
    QVERIFY(!files.isEmpty());
    for (const QString &file : files) {
        const QImage drawn = QImage(resources.filePath(file)).convertToFormat(QImage::Format_ARGB32_Premultiplied);
        QVERIFY2(!drawn.isNull() && drawn.width() == drawn.height(), qPrintable(file));
        const QImage shown =
            t->nidTray.hIcon.pixmap(drawn.size()).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
        QVERIFY2(shown == drawn, qPrintable(file));
    }
    // The window, once shown, offers the window manager every size, each drawn as the tray's.
    t->submnuProperty_Click(0);
    QCOMPARE(t->windowIcon().availableSizes(), t->nidTray.hIcon.availableSizes());
    QCOMPARE(t->windowIcon().availableSizes().size(), files.size());
    for (const QSize &size : t->windowIcon().availableSizes())
        QCOMPARE(t->windowIcon().pixmap(size).toImage(), t->nidTray.hIcon.pixmap(size).toImage());
}

void TestStartup::showsInitialCaptionsAndKeepsHiddenControlsHidden()
{
    TestWindow t;
    QCOMPARE(t->windowTitle(), QStringLiteral("DDNS Property"));
    QCOMPARE(t->size(), QSize(345, 239));
    t->load();
    QCOMPARE(t->Label9->text(), QStringLiteral("Property"));
    QCOMPARE(t->Label2->text(), QStringLiteral("Username : "));
    QCOMPARE(t->Label3->text(), QStringLiteral("Password : "));
    QCOMPARE(t->Label4->text(), QStringLiteral("DDNS Server : "));
    QCOMPARE(t->Label5->text(), QStringLiteral("My IP : "));
    QCOMPARE(t->Label6->text(), QStringLiteral("Error : "));
    QCOMPARE(t->Label7->text(), QStringLiteral("Tips : "));
    QCOMPARE(t->Label8->text(), QStringLiteral("Disable service"));
    QCOMPARE(t->lblStatus->text(), QStringLiteral("Disconnected"));
    QCOMPARE(t->lblMyIP->text(), QStringLiteral("N/A"));
    QCOMPARE(t->lblError->text(), QStringLiteral("-"));
    QCOMPARE(t->txtPassword->echoMode(), QLineEdit::Password);
    QVERIFY(!t->chkDisableService->isChecked());
    QVERIFY(!t->imgStatus->pixmap().isNull());
    QVERIFY(!t->Image1->pixmap().isNull());
    // Labels carry text from the network; none may render it as markup.
    for (QLabel *label : t->findChildren<QLabel *>())
        QVERIFY2(label->textFormat() == Qt::PlainText, qPrintable(label->objectName()));

    // Showing the window must not reveal the controls that are created hidden.
    t->submnuProperty_Click(0);
    QVERIFY(t->isVisible());
    QVERIFY(t->lblStatus->isVisible());
    for (QWidget *hidden : {static_cast<QWidget *>(t->Label1), static_cast<QWidget *>(t->txtGatewayIP),
                            static_cast<QWidget *>(t->cmdDefault), static_cast<QWidget *>(t->Text1)})
        QVERIFY2(!hidden->isVisible(), qPrintable(hidden->objectName()));
    QCOMPARE(t->submnuProperty.keys(), (QList<qint16>{0, 1, 3}));
    QCOMPARE(t->submnuProperty.value(0)->text(), QStringLiteral("Property"));
    QVERIFY(t->submnuProperty.value(1)->isSeparator());
    QCOMPARE(t->submnuProperty.value(3)->text(), QStringLiteral("Exit"));
}

void TestStartup::clickingTheCheckBoxCaptionChangesNothing()
{
    TestWindow t;
    t->load();
    t->submnuProperty_Click(0);
    const QString caption = t->cmdConnect->text();
    const QStringList calls = t.socket.calls;
    QTest::mouseClick(t->Label8, Qt::LeftButton);
    QVERIFY(!t->chkDisableService->isChecked());
    QCOMPARE(t->cmdConnect->text(), caption);
    QCOMPARE(t.socket.calls, calls);
}

void TestStartup::focusFollowsTabIndexOrder()
{
    TestWindow t;
    t->load();
    t->submnuProperty_Click(0);
    QList<QWidget *> order;
    QWidget *w = t->chkDisableService;
    do {
        if (w->isVisible() && w->focusPolicy() & Qt::TabFocus)
            order << w;
        w = w->nextInFocusChain();
    } while (w != t->chkDisableService && order.size() < 20);
    QCOMPARE(order,
             (QList<QWidget *>{t->chkDisableService, t->cmdConnect, t->cmdSave, t->txtPassword, t->txtUsername}));
}

void TestStartup::missingBackgroundReportsAndEnds_data()
{
    QTest::addColumn<QByteArray>("background");
    QTest::addColumn<int>("number");
    QTest::newRow("missing") << QByteArray() << 53;
    QTest::newRow("not a picture") << QByteArray("this is not a bitmap") << 481;
}

void TestStartup::missingBackgroundReportsAndEnds()
{
    QFETCH(QByteArray, background);
    QFETCH(int, number);
    TestWindow t;
    QFile::remove(t.dir.filePath(QStringLiteral("icons/bg_small.bmp")));
    if (!background.isEmpty()) {
        QFile f(t.dir.filePath(QStringLiteral("icons/bg_small.bmp")));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(background);
    }
    t.dir.writeConfig("gw\r\nuser\r\npass\r\n1\r\n");
    // A tick that arrives while the error is on screen must not run, and a close request from the
    // system must not end the program underneath the box.
    bool endedUnderTheBox = false;
    t.services.whileBoxIsOpen = [&] {
        t->dispatch([&] { t->Timer1_Timer(); });
        t->close();
        endedUnderTheBox = t.services.ended;
    };
    t->load();
    QVERIFY(!endedUnderTheBox);

    QCOMPARE(t.services.boxes.size(), 1);
    QVERIFY2(t.services.boxes.first().text.contains(QString::number(number)),
             qPrintable(t.services.boxes.first().text));
    QVERIFY(t.services.boxes.first().text.contains(QStringLiteral("bg_small.bmp")));
    QVERIFY(t.services.ended);
    QVERIFY(t.services.exitCode != 0);
    // Nothing after the picture ran: no tray icon, no settings, no connection attempt.
    QVERIFY(!t.tray.calls.contains(QStringLiteral("add")));
    QVERIFY(t->txtUsername->text().isEmpty());
    QVERIFY(!t->chkDisableService->isChecked());
    QVERIFY(t->strServerHost.isEmpty());
    QVERIFY(t.socket.calls.isEmpty());
    QVERIFY(t->lblMessage->text().isEmpty());

    // An ended program runs no further handler.
    t->dispatch([&] { t->Timer1_Timer(); });
    QVERIFY(t.socket.calls.isEmpty());
}

void TestStartup::statusTextLongerThanItsLabelShowsInItsTooltip()
{
    TestWindow t;
    t->load();
    t->submnuProperty_Click(0);
    const auto tooltipOf = [](QLabel *label) {
        QHelpEvent help(QEvent::ToolTip, QPoint(2, 2), label->mapToGlobal(QPoint(2, 2)));
        QCoreApplication::sendEvent(label, &help);
        return label->toolTip();
    };
    t->lblError->setText(QStringLiteral("-"));
    QVERIFY(tooltipOf(t->lblError).isEmpty());
    const QString longError = QStringLiteral("The remote host closed the connection before <b>anything</b> came back");
    t->lblError->setText(longError);
    const QString tip = tooltipOf(t->lblError);
    // The whole text, never read as markup.
    QVERIFY2(tip.contains(QStringLiteral("&lt;b&gt;anything&lt;/b&gt;")), qPrintable(tip));
    QVERIFY(tip.contains(QStringLiteral("came back")));
    t->lblError->setText(QStringLiteral("-"));
    QVERIFY(tooltipOf(t->lblError).isEmpty());
    for (QLabel *label : {t->lblStatus, t->lblMyIP, t->lblMessage}) {
        label->setText(longError + longError);
        QVERIFY2(!tooltipOf(label).isEmpty(), qPrintable(label->objectName()));
    }
}

// Whatever bullet the style would draw.
void TestStartup::passwordIsMaskedWithAsterisks()
{
    TestWindow t;
    t->txtPassword->setText(QStringLiteral("s3cret"));
    QCOMPARE(t->txtPassword->displayText(), QStringLiteral("******"));
}

// The font is set as the window is first shown, not at start-up: every control must still be drawn
// in it, bold where the layout says, however the window is first brought up.
void TestStartup::windowTakesItsFontWhenFirstShown_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<bool>("bold");
    QTest::addColumn<bool>("fromTray"); // else through the first start's own opening
    for (const bool fromTray : {true, false}) {
        const char *way = fromTray ? "from the tray" : "first start";
        QTest::addRow("Label9, %s", way) << "Label9" << true << fromTray;
        QTest::addRow("Label4, %s", way) << "Label4" << true << fromTray;
        QTest::addRow("lblStatus, %s", way) << "lblStatus" << false << fromTray;
        QTest::addRow("Label7, %s", way) << "Label7" << false << fromTray;
        QTest::addRow("txtUsername, %s", way) << "txtUsername" << false << fromTray;
        QTest::addRow("cmdConnect, %s", way) << "cmdConnect" << false << fromTray;
    }
}

void TestStartup::windowTakesItsFontWhenFirstShown()
{
    QFETCH(QString, control);
    QFETCH(bool, bold);
    QFETCH(bool, fromTray);
    TestWindow t;
    if (fromTray) {
        t->load();
        t->submnuProperty_Click(0);
    } else {
        QFile::remove(t.dir.filePath(QStringLiteral("config.dat")));
        t->start();
    }
    QVERIFY(t->isVisible());
    QFont drawn;
    drawn.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                       QStringLiteral("Liberation Sans"), QStringLiteral("Arial")});
    drawn.setPointSizeF(8.25);
    drawn.setBold(bold);
    const auto *widget = t->findChild<QWidget *>(control);
    QVERIFY(widget);
    QCOMPARE(widget->font().families(), drawn.families());
    QCOMPARE(widget->font().pointSizeF(), 8.25);
    QCOMPARE(widget->font().bold(), bold);
    QCOMPARE(QFontInfo(widget->font()).family(), QFontInfo(drawn).family());
    QCOMPARE(QFontInfo(widget->font()).bold(), QFontInfo(drawn).bold());
}

// Read by the format their names say: each must come out as the picture itself.
void TestStartup::compiledInPicturesShowAsDrawn_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("resource");
    QTest::newRow("logo") << "Image1"
                          << ":/logo.bmp";
    QTest::newRow("initial status") << "imgStatus"
                                    << ":/status-initial.png";
}

void TestStartup::compiledInPicturesShowAsDrawn()
{
    QFETCH(QString, control);
    QFETCH(QString, resource);
    TestWindow t;
    t->load();
    const QImage drawn = QImage(resource).convertToFormat(QImage::Format_ARGB32);
    QVERIFY(!drawn.isNull());
    const auto *label = t->findChild<QLabel *>(control);
    QVERIFY(label);
    QCOMPARE(label->pixmap().toImage().convertToFormat(QImage::Format_ARGB32), drawn);
}

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
