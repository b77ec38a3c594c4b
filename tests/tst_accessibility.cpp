// What assistive technology reads of the window, through the same interfaces Qt hands to AT-SPI and
// UI Automation: every control named from the window's own texts, the window read as a window, the
// status picture named by the status it shows, and each value read with its heading as it changes.
#include "support/testwindow.h"

#include <QAccessible>
#include <QCheckBox>
#include <QLabel>
#include <QTest>

namespace {

QAccessibleInterface *readerOf(QObject *object)
{
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(object);
    Q_ASSERT(iface != nullptr);
    return iface;
}

QString nameOf(QObject *object)
{
    return readerOf(object)->text(QAccessible::Name);
}

} // namespace

class TestAccessibility : public QObject
{
    Q_OBJECT
private slots:
    void controlsReadWithTheirNames_data();
    void controlsReadWithTheirNames();
    void statusPictureNamedByItsStatus_data();
    void statusPictureNamedByItsStatus();
    void valuesFollowTheirTextWithTheirHeadings();
};

void TestAccessibility::controlsReadWithTheirNames_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QAccessible::Role>("role");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("labelledBy");
    QTest::addColumn<bool>("reachable");

    QTest::newRow("window") << "frmDDNS" << QAccessible::Window << "DDNS Property"
                            << "" << true;
    QTest::newRow("username") << "txtUsername" << QAccessible::EditableText << "Username"
                              << "Label2" << true;
    QTest::newRow("password") << "txtPassword" << QAccessible::EditableText << "Password"
                              << "Label3" << true;
    QTest::newRow("check box") << "chkDisableService" << QAccessible::CheckBox << "Disable service"
                               << "Label8" << true;
    QTest::newRow("connect") << "cmdConnect" << QAccessible::Button << "Connect"
                             << "" << true;
    QTest::newRow("save") << "cmdSave" << QAccessible::Button << "Save"
                          << "" << true;
    QTest::newRow("status picture") << "imgStatus" << QAccessible::Graphic << "Unknown"
                                    << "" << true;
    QTest::newRow("logo") << "Image1" << QAccessible::Graphic << "Vestrel"
                          << "" << true;
    QTest::newRow("server") << "lblStatus" << QAccessible::StaticText << "DDNS Server: Disconnected"
                            << "Label4" << true;
    QTest::newRow("address") << "lblMyIP" << QAccessible::StaticText << "My IP: N/A"
                             << "Label5" << true;
    QTest::newRow("error") << "lblError" << QAccessible::StaticText << "Error: -"
                           << "Label6" << true;
    QTest::newRow("empty tips") << "lblMessage" << QAccessible::StaticText << "Tips"
                                << "Label7" << true;
    QTest::newRow("line") << "Line1" << QAccessible::Separator << ""
                          << "" << true;
    // Created hidden, and out of reach as they are out of sight.
    QTest::newRow("gateway") << "txtGatewayIP" << QAccessible::EditableText << ""
                             << "" << false;
    QTest::newRow("default") << "cmdDefault" << QAccessible::Button << "Default"
                             << "" << false;
    QTest::newRow("received text") << "Text1" << QAccessible::EditableText << ""
                                   << "" << false;
}

void TestAccessibility::controlsReadWithTheirNames()
{
    QFETCH(QString, control);
    QFETCH(QAccessible::Role, role);
    QFETCH(QString, name);
    QFETCH(QString, labelledBy);
    QFETCH(bool, reachable);

    TestWindow t;
    t.dir.writeConfig("gw\r\nreader\r\nheard\r\n0\r\n");
    t->load();
    t->submnuProperty_Click(0);
    QWidget *widget = control == t->objectName() ? t.window.get() : t->findChild<QWidget *>(control);
    QVERIFY(widget != nullptr);

    QAccessibleInterface *iface = readerOf(widget);
    QCOMPARE(iface->role(), role);
    QCOMPARE(iface->text(QAccessible::Name), name);
    QCOMPARE(!iface->state().invisible, reachable);
    const auto labels = iface->relations(QAccessible::Label);
    if (labelledBy.isEmpty()) {
        QVERIFY(labels.isEmpty());
    } else {
        QCOMPARE(labels.size(), 1);
        QCOMPARE(labels.first().first->object()->objectName(), labelledBy);
    }
    // The window's parts are reached from the window, as a screen reader walks it.
    if (widget != t.window.get())
        QVERIFY(readerOf(t.window.get())->indexOfChild(iface) >= 0);
}

void TestAccessibility::statusPictureNamedByItsStatus_data()
{
    QTest::addColumn<qint32>("code");
    QTest::addColumn<QString>("name");

    QTest::newRow("0 disabled") << 0 << QStringLiteral("Disabled");
    QTest::newRow("1 offline") << 1 << QStringLiteral("Offline");
    QTest::newRow("2 online") << 2 << QStringLiteral("Online");
    QTest::newRow("3 as offline") << 3 << QStringLiteral("Offline");
    QTest::newRow("-1 as offline") << -1 << QStringLiteral("Offline");
}

void TestAccessibility::statusPictureNamedByItsStatus()
{
    QFETCH(qint32, code);
    QFETCH(QString, name);

    TestWindow t;
    QCOMPARE(nameOf(t->imgStatus), QStringLiteral("Unknown"));
    t->ShowServiceStatus(code);
    QCOMPARE(nameOf(t->imgStatus), name);

    // A picture that cannot be loaded leaves the old one on screen, and so its name.
    t.dir.removeIcons();
    t->ShowServiceStatus(code == frmDDNS::STATUS_ONLINE ? frmDDNS::STATUS_DISABLED : frmDDNS::STATUS_ONLINE);
    QCOMPARE(nameOf(t->imgStatus), name);
}

// The values change through the window's own handlers, each read afresh with its heading.
void TestAccessibility::valuesFollowTheirTextWithTheirHeadings()
{
    TestWindow t;
    t->load();
    t.socket.raiseConnect();
    QCOMPARE(nameOf(t->lblStatus), QStringLiteral("DDNS Server: Connected to ddns.test.invalid"));

    t.socket.deliver("HTTP/1.1 200 OK\r\n\r\n<html>s5555198.51.100.7:online<br></html>\r\n");
    QCOMPARE(nameOf(t->lblMyIP), QStringLiteral("My IP: 198.51.100.7"));
    QCOMPARE(nameOf(t->lblError), QStringLiteral("Error: -"));
    QCOMPARE(nameOf(t->lblMessage), QStringLiteral("Tips"));
    QCOMPARE(nameOf(t->imgStatus), QStringLiteral("Online"));

    t.socket.deliver("HTTP/1.1 200 OK\r\n\r\n<html>s5555198.51.100.8:offline<br></html>\r\n");
    QCOMPARE(nameOf(t->lblMyIP), QStringLiteral("My IP: 198.51.100.8"));
    QCOMPARE(nameOf(t->lblError), QStringLiteral("Error: Login Failed"));
    QCOMPARE(nameOf(t->lblMessage), QStringLiteral("Tips: Username or password may be incorrect."));
    QCOMPARE(nameOf(t->imgStatus), QStringLiteral("Offline"));

    // On screen nothing changed: the values show as they always did, beside their own headings.
    QCOMPARE(t->lblMyIP->text(), QStringLiteral("198.51.100.8"));
    QCOMPARE(t->Label5->text(), QStringLiteral("My IP : "));
}

QTEST_MAIN(TestAccessibility)
#include "tst_accessibility.moc"
