// The window's visibility behind the tray icon: the transitions between In tray, Shown and Ended,
// the tray's pop-up menu, closes from the user and from the system, a desktop without a
// notification area or whose area comes and goes, and the translation of Qt's tray activations.
#include "support/testwindow.h"
#include "support/wine.h"
#include "tray/qtnotificationarea.h"
#include "tray/trayiconcheck.h"

#include <QAction>
#include <QCursor>
#include <QMenu>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>

using Activations = QList<QPair<QSystemTrayIcon::ActivationReason, int>>;

namespace {

enum class Choice { Dismiss, Property, Exit };

// Where the window is, as the user finds it.
enum class Place { InTray, OnTaskbar, Shown, Inconsistent };

// Records, for each window event, whether the tray icon was present at that moment, so that the
// order of the icon's addition or removal against the window's own changes can be read back.
class VisibilityLog : public QObject
{
public:
    VisibilityLog(QWidget *window, const FakeNotificationArea &tray) : m_tray(tray)
    {
        window->installEventFilter(this);
    }

    QStringList entries;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        const QString icon = m_tray.present ? QStringLiteral("icon") : QStringLiteral("no icon");
        const auto *widget = static_cast<QWidget *>(watched);
        // Spontaneous show and hide events only report the window system's view of a state change.
        if (event->spontaneous())
            return false;
        switch (event->type()) {
        case QEvent::WindowStateChange:
            entries << (widget->isMinimized() ? QStringLiteral("minimised, ") : QStringLiteral("normal, ")) + icon;
            break;
        case QEvent::Show:
            entries << QStringLiteral("show, ") + icon;
            break;
        case QEvent::Hide:
            entries << QStringLiteral("hide, ") + icon;
            break;
        default:
            break;
        }
        return false;
    }

private:
    const FakeNotificationArea &m_tray;
};

// A window after start-up, in the tray, whose pop-up menu never blocks: opening it records where
// and then makes the choice the test asked for, as the user would while the menu is open.
struct TrayWindow : TestWindow {
    TrayWindow()
    {
        window->execPopupMenu = [this](QMenu *menu, const QPoint &pos) {
            popups << pos;
            QCOMPARE(menu, window->mnupopup);
            if (whileMenuIsOpen)
                whileMenuIsOpen();
            if (choice == Choice::Property)
                window->submnuProperty.value(0)->trigger();
            else if (choice == Choice::Exit)
                window->submnuProperty.value(3)->trigger();
        };
        window->load();
    }

    bool inTray() const { return !window->isVisible() && window->isMinimized() && tray.present; }
    bool shown() const { return window->isVisible() && window->WindowState() == frmDDNS::vbNormal && !tray.present; }

    Choice choice = Choice::Dismiss;
    QList<QPoint> popups;
    std::function<void()> whileMenuIsOpen;
};

// Counts the area's lines that say it adds the icon again.
int g_addedAgain = 0;
QtMessageHandler g_nextHandler = nullptr;
void countAddedAgain(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtWarningMsg && qstrcmp(context.category, "vestrel.tray") == 0
        && message.contains(QStringLiteral("adding it again")))
        ++g_addedAgain;
    else
        g_nextHandler(type, context, message);
}

// What the user does in the real menu once it shows, and what the window asked of the system
// around it, in order.
class MenuUser : public QObject
{
public:
    MenuUser(TestWindow &t, std::function<void(QMenu *)> input) : m_input(std::move(input))
    {
        t->menuTakesForeground = [this, &t](QWidget *menu) {
            calls << (menu == t->mnupopup && !menu->isVisible() ? "foreground" : "foreground, not before showing");
        };
        t->menuReturnsKeyboard = [this] { calls << QStringLiteral("keyboard back"); };
        t->mnupopup->installEventFilter(this);
    }

    QStringList calls;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show) {
            calls << QStringLiteral("shows");
            auto *menu = static_cast<QMenu *>(watched);
            QTimer::singleShot(0, menu, [this, menu] { m_input(menu); });
            // A menu the input left open would block the test: it is closed, and the calls say so.
            QTimer::singleShot(5000, menu, [this, menu] {
                calls << QStringLiteral("still open");
                menu->hide();
            });
        }
        return false;
    }

private:
    std::function<void(QMenu *)> m_input;
};

QList<int> translate(const Activations &activations)
{
    TrayActivationTranslator translator(400);
    QList<int> messages;
    for (const auto &[reason, msecs] : activations)
        messages << translator.mouseMessage(reason, msecs);
    return messages;
}

} // namespace

// What the user does in an open menu.
using MenuInput = std::function<void(QMenu *)>;

Q_DECLARE_METATYPE(Choice)
Q_DECLARE_METATYPE(MenuInput)
Q_DECLARE_METATYPE(Place)

namespace {

Place placeOf(TestWindow &t)
{
    const bool minimised = t->WindowState() == frmDDNS::vbMinimized;
    if (!t->isVisible() && minimised && t.tray.present)
        return Place::InTray;
    if (t->isVisible() && minimised && !t.tray.present)
        return Place::OnTaskbar;
    if (t->isVisible() && t->WindowState() == frmDDNS::vbNormal && !t.tray.present)
        return Place::Shown;
    return Place::Inconsistent;
}

} // namespace

class TestTray : public QObject
{
    Q_OBJECT
private slots:
    void trayNumbersFromTheTray_data();
    void trayNumbersFromTheTray();
    void menuChoices_data();
    void menuChoices();
    void realMenuClosesAndAnswersTheKeyboard_data();
    void realMenuClosesAndAnswersTheKeyboard();
    void otherMenuIndicesDoNothing_data();
    void otherMenuIndicesDoNothing();
    void anotherStartLearnsWhatHappened_data();
    void anotherStartLearnsWhatHappened();
    void restoreAndMinimiseKeepTheirOrder();
    void closeRequests_data();
    void closeRequests();
    void systemCloseEndsAndRemovesTheIcon_data();
    void systemCloseEndsAndRemovesTheIcon();
    void withoutNotificationAreaTheWindowStaysReachable();
    void followsTheNotificationArea_data();
    void followsTheNotificationArea();
    void draggingPastTheClientAreaIsNoTrayNumber();
    void translatesQtActivations_data();
    void translatesQtActivations();
    void realNotificationAreaKeepsItsMenuToItself();
    void realNotificationAreaReportsChangesAndForgetsItsIcon();
    void realNotificationAreaAddsARefusedIconAgain_data();
    void realNotificationAreaAddsARefusedIconAgain();
    void onlyWindowsTellsWhetherTheIconStands();
};

void TestTray::trayNumbersFromTheTray_data()
{
    QTest::addColumn<QList<int>>("numbers");
    QTest::addColumn<bool>("shows");
    QTest::addColumn<bool>("opensMenu");

    QTest::newRow("movement 512") << QList<int>{512} << false << false;
    QTest::newRow("left press 513") << QList<int>{513} << false << false;
    QTest::newRow("left release 514") << QList<int>{514} << false << false;
    QTest::newRow("right release 517") << QList<int>{517} << false << false;
    QTest::newRow("middle press 519") << QList<int>{519} << false << false;
    QTest::newRow("zero") << QList<int>{0} << false << false;
    QTest::newRow("single click") << QList<int>{513, 514} << false << false;
    QTest::newRow("double-click 515") << QList<int>{515} << true << false;
    QTest::newRow("double-click after press and release") << QList<int>{513, 514, 515, 514} << true << false;
    QTest::newRow("right press 516") << QList<int>{516} << false << true;
    QTest::newRow("right press and release") << QList<int>{516, 517} << false << true;
}

void TestTray::trayNumbersFromTheTray()
{
    QFETCH(QList<int>, numbers);
    QFETCH(bool, shows);
    QFETCH(bool, opensMenu);

    TrayWindow t;
    QVERIFY(t.inTray());
    QCOMPARE(t.tray.tip, QStringLiteral("Vestrel"));
    for (int number : numbers)
        t.tray.activate(number);

    QCOMPARE(t.shown(), shows);
    QCOMPARE(t.inTray(), !shows);
    QCOMPARE(t.popups.size(), opensMenu ? 1 : 0);
    if (opensMenu)
        QCOMPARE(t.popups.first(), QCursor::pos());
    QVERIFY(!t.services.ended);
}

void TestTray::menuChoices_data()
{
    QTest::addColumn<Choice>("choice");
    QTest::newRow("dismissed") << Choice::Dismiss;
    QTest::newRow("Property") << Choice::Property;
    QTest::newRow("Exit") << Choice::Exit;
}

void TestTray::menuChoices()
{
    QFETCH(Choice, choice);
    TrayWindow t;
    t.choice = choice;
    // Clicks on the icon while the menu is open only close it: no second menu, and no window
    // restored from inside the menu's loop before the choice.
    t.whileMenuIsOpen = [&t] {
        t.tray.activate(WM_RBUTTONDOWN);
        t.tray.activate(WM_LBUTTONDBLCLK);
        QVERIFY(t.inTray());
    };
    t.tray.activate(WM_RBUTTONDOWN);
    QCOMPARE(t.popups.size(), 1);

    switch (choice) {
    case Choice::Dismiss:
        QVERIFY(t.inTray());
        QVERIFY(!t.services.ended);
        break;
    case Choice::Property:
        QVERIFY(t.shown());
        QVERIFY(!t.services.ended);
        break;
    case Choice::Exit:
        QVERIFY(t->blnExiting);
        QVERIFY(t.services.ended);
        QCOMPARE(t.services.exitCode, 0);
        // Ended at once: no close request minimised anything, and the icon left with the program.
        QVERIFY(!t->isVisible());
        QVERIFY(!t.tray.present);
        QVERIFY(!t->Timer1->isActive());
        QVERIFY(t.services.boxes.isEmpty());
        // Nothing of the window runs any more, whatever still arrives.
        t.tray.activate(WM_RBUTTONDOWN);
        t.tray.activate(WM_LBUTTONDBLCLK);
        QCOMPARE(t.popups.size(), 1);
        QVERIFY(!t->isVisible());
        QVERIFY(!t.tray.present);
        break;
    }
}

void TestTray::realMenuClosesAndAnswersTheKeyboard_data()
{
    QTest::addColumn<MenuInput>("input");
    QTest::addColumn<bool>("shown");
    QTest::addColumn<QStringList>("calls");
    const QStringList opened{QStringLiteral("foreground"), QStringLiteral("shows")};

    QTest::newRow("Esc") << MenuInput([](QMenu *m) { QTest::keyClick(m, Qt::Key_Escape); }) << false
                         << opened + QStringList{QStringLiteral("keyboard back")};
    QTest::newRow("click elsewhere") << MenuInput([](QMenu *m) {
        QTest::mouseClick(m, Qt::LeftButton, {}, QPoint(-20, -20));
    }) << false << opened;
    QTest::newRow("Down, Return") << MenuInput([](QMenu *m) {
        QTest::keyClick(m, Qt::Key_Down);
        QTest::keyClick(m, Qt::Key_Return);
    }) << true << opened;
}

// The menu itself, opened by the right press: the system is asked for the foreground before it shows
// (where the system asks for it, a menu that shows first never holds the mouse), and the keyboard is
// handed back only after Esc.
void TestTray::realMenuClosesAndAnswersTheKeyboard()
{
    QFETCH(MenuInput, input);
    QFETCH(bool, shown);
    QFETCH(QStringList, calls);
    TestWindow t;
    t->load();
    MenuUser user(t, input);

    t.tray.activate(WM_RBUTTONDOWN);
    QCOMPARE(user.calls, calls);
    QVERIFY(!t->mnupopup->isVisible());
    QCOMPARE(t->isVisible(), shown);
    QCOMPARE(t.tray.present, !shown);
    QVERIFY(!t.services.ended);
}

void TestTray::otherMenuIndicesDoNothing_data()
{
    QTest::addColumn<bool>("fromShown");
    QTest::addColumn<qint16>("index");
    for (qint16 index : {qint16(1), qint16(2), qint16(4)}) {
        QTest::addRow("in tray, index %d", index) << false << index;
        QTest::addRow("shown, index %d", index) << true << index;
    }
}

void TestTray::otherMenuIndicesDoNothing()
{
    QFETCH(bool, fromShown);
    QFETCH(qint16, index);
    TrayWindow t;
    if (fromShown)
        t->submnuProperty_Click(0);
    const QStringList calls = t.tray.calls;

    t->submnuProperty_Click(index);
    QCOMPARE(t.shown(), fromShown);
    QCOMPARE(t.inTray(), !fromShown);
    QCOMPARE(t.tray.calls, calls);
    QVERIFY(!t->blnExiting);
    QVERIFY(!t.services.ended);
}

enum class Asked { FromTray, DuringMenu, WhileFailureIsShown };
Q_DECLARE_METATYPE(Asked)

void TestTray::anotherStartLearnsWhatHappened_data()
{
    QTest::addColumn<Asked>("asked");
    QTest::addColumn<Choice>("choice");
    QTest::addColumn<bool>("shown");
    QTest::newRow("in tray") << Asked::FromTray << Choice::Dismiss << true;
    QTest::newRow("menu open, then dismissed") << Asked::DuringMenu << Choice::Dismiss << true;
    QTest::newRow("menu open, then Exit") << Asked::DuringMenu << Choice::Exit << false;
    QTest::newRow("failure box up") << Asked::WhileFailureIsShown << Choice::Dismiss << false;
}

// A second start of the program asks for the window. It is shown only outside the tray menu's loop,
// and the answer says what really happened, so that the second start never reports a window that
// did not appear.
void TestTray::anotherStartLearnsWhatHappened()
{
    QFETCH(Asked, asked);
    QFETCH(Choice, choice);
    QFETCH(bool, shown);
    TrayWindow t;
    t.choice = choice;
    QList<bool> answers;
    const auto ask = [&] { t->showOnRequest([&answers](bool s) { answers << s; }); };

    switch (asked) {
    case Asked::FromTray:
        ask();
        break;
    case Asked::DuringMenu:
        t.whileMenuIsOpen = [&] {
            ask();
            QVERIFY(t.inTray());
            QVERIFY(answers.isEmpty());
        };
        t.tray.activate(WM_RBUTTONDOWN);
        QCOMPARE(t.popups.size(), 1);
        break;
    case Asked::WhileFailureIsShown:
        t.services.whileBoxIsOpen = ask;
        t->dispatch([] { throw NumberedError(Err::InvalidPicture, QStringLiteral("Invalid picture")); });
        QCOMPARE(t.services.boxes.size(), 1);
        break;
    }
    QCOMPARE(answers, QList<bool>{shown});
    QCOMPARE(t.shown(), shown);
}

void TestTray::restoreAndMinimiseKeepTheirOrder()
{
    TrayWindow t;
    VisibilityLog log(t.window.get(), t.tray);

    // Restore: state normal while the icon is still there, then the icon goes, then the window shows.
    t.tray.activate(WM_LBUTTONDBLCLK);
    QCOMPARE(log.entries, (QStringList{QStringLiteral("normal, icon"), QStringLiteral("show, no icon")}));
    QVERIFY(t.shown());

    // Minimising while shown: the icon is added before the window hides.
    log.entries.clear();
    t->setWindowStateValue(frmDDNS::vbMinimized);
    QCOMPARE(log.entries, (QStringList{QStringLiteral("minimised, no icon"), QStringLiteral("hide, icon")}));
    QVERIFY(t.inTray());
    QCOMPARE(t.tray.calls.count(QStringLiteral("delete")), 1);

    // Minimising again while in the tray adds nothing: the second add is refused.
    t->Form_Resize();
    QVERIFY(t.inTray());
    QVERIFY(!t.services.ended);
}

void TestTray::closeRequests_data()
{
    QTest::addColumn<bool>("fromShown");
    QTest::addColumn<bool>("exiting");
    QTest::addColumn<qint16>("reason");
    QTest::addColumn<bool>("backToTray");

    QTest::newRow("close box while shown") << true << false << frmDDNS::vbFormControlMenu << true;
    QTest::newRow("close box while minimised") << false << false << frmDDNS::vbFormControlMenu << false;
    QTest::newRow("close box after Exit") << true << true << frmDDNS::vbFormControlMenu << false;
    for (qint16 reason : {qint16(1), frmDDNS::vbAppWindows, qint16(3), qint16(4)}) {
        QTest::addRow("reason %d while shown", reason) << true << false << reason << false;
        QTest::addRow("reason %d in the tray", reason) << false << false << reason << false;
    }
}

void TestTray::closeRequests()
{
    QFETCH(bool, fromShown);
    QFETCH(bool, exiting);
    QFETCH(qint16, reason);
    QFETCH(bool, backToTray);
    TrayWindow t;
    if (fromShown)
        t->submnuProperty_Click(0);
    t->blnExiting = exiting;
    const QStringList trayCalls = t.tray.calls;
    const QStringList socketCalls = t.socket.calls;

    qint16 cancel = 0;
    t->Form_QueryUnload(cancel, reason);
    if (backToTray) {
        // Cancelled: minimised into the tray, and the update exchange is not interrupted.
        QCOMPARE(cancel, qint16(1));
        QVERIFY(t.inTray());
        QCOMPARE(t.socket.calls, socketCalls);
    } else {
        // The close goes ahead; nothing changes before it does.
        QCOMPARE(cancel, qint16(0));
        QCOMPARE(t.shown(), fromShown);
        QCOMPARE(t.inTray(), !fromShown);
        QCOMPARE(t.tray.calls, trayCalls);
    }
    QVERIFY(!t.services.ended);
}

void TestTray::systemCloseEndsAndRemovesTheIcon_data()
{
    QTest::addColumn<bool>("fromShown");
    QTest::newRow("in the tray") << false;
    QTest::newRow("shown") << true;
}

void TestTray::systemCloseEndsAndRemovesTheIcon()
{
    // A close from code or from the session (not the user's close box) ends the program.
    QFETCH(bool, fromShown);
    TrayWindow t;
    if (fromShown)
        t->submnuProperty_Click(0);

    QVERIFY(t->close());
    QVERIFY(t.services.ended);
    QCOMPARE(t.services.exitCode, 0);
    QVERIFY(!t.tray.present);
    QVERIFY(!t->isVisible());
    QVERIFY(!t->Timer1->isActive());
    QVERIFY(!t->blnExiting);

    // The ended program runs no further handler.
    t.tray.activate(WM_LBUTTONDBLCLK);
    t.tray.activate(WM_RBUTTONDOWN);
    QVERIFY(!t->isVisible());
    QVERIFY(t.popups.isEmpty());
    QVERIFY(t->close());
}

void TestTray::withoutNotificationAreaTheWindowStaysReachable()
{
    TestWindow t;
    t.tray.available = false;
    t->load();
    // Start-up minimises into the taskbar instead of hiding with no way back.
    QVERIFY(t->isVisible());
    QCOMPARE(t->WindowState(), frmDDNS::vbMinimized);
    QVERIFY(!t.tray.present);

    t->setWindowStateValue(frmDDNS::vbNormal);
    QVERIFY(t->isVisible());

    // The close box minimises; the window stays on the taskbar.
    qint16 cancel = 0;
    t->Form_QueryUnload(cancel, frmDDNS::vbFormControlMenu);
    QCOMPARE(cancel, qint16(1));
    QVERIFY(t->isVisible());
    QCOMPARE(t->WindowState(), frmDDNS::vbMinimized);

    // Minimising from the window manager likewise.
    t->setWindowStateValue(frmDDNS::vbNormal);
    t->setWindowStateValue(frmDDNS::vbMinimized);
    QVERIFY(t->isVisible());
    QVERIFY(!t.services.ended);
}

void TestTray::followsTheNotificationArea_data()
{
    QTest::addColumn<bool>("trayAtStart");
    QTest::addColumn<bool>("openFirst");
    QTest::addColumn<QList<bool>>("changes");
    QTest::addColumn<Place>("place");

    QTest::newRow("appears while minimised on the taskbar") << false << false << QList<bool>{true} << Place::InTray;
    QTest::newRow("appears while open") << false << true << QList<bool>{true} << Place::Shown;
    QTest::newRow("goes away while in the tray") << true << false << QList<bool>{false} << Place::OnTaskbar;
    QTest::newRow("goes away while open") << true << true << QList<bool>{false} << Place::Shown;
    QTest::newRow("goes away and comes back") << true << false << QList<bool>{false, true} << Place::InTray;
    QTest::newRow("appears and goes away") << false << false << QList<bool>{true, false} << Place::OnTaskbar;
    QTest::newRow("goes and comes twice") << true << false << QList<bool>{false, true, false, true} << Place::InTray;
}

void TestTray::followsTheNotificationArea()
{
    QFETCH(bool, trayAtStart);
    QFETCH(bool, openFirst);
    QFETCH(QList<bool>, changes);
    QFETCH(Place, place);

    TestWindow t;
    t.tray.available = trayAtStart;
    t->load();
    QCOMPARE(placeOf(t), trayAtStart ? Place::InTray : Place::OnTaskbar);
    if (openFirst) {
        // Opened from the tray, or restored from the taskbar.
        if (trayAtStart)
            t.tray.activate(WM_LBUTTONDBLCLK);
        else
            t->setWindowStateValue(frmDDNS::vbNormal);
        QCOMPARE(placeOf(t), Place::Shown);
    }

    for (bool available : changes)
        t.tray.setAvailable(available);
    QCOMPARE(placeOf(t), place);

    // Wherever it went, the window keeps working as it does with or without an area.
    const bool available = changes.last();
    if (place == Place::Shown) {
        t->setWindowStateValue(frmDDNS::vbMinimized);
        QCOMPARE(placeOf(t), available ? Place::InTray : Place::OnTaskbar);
    } else if (place == Place::InTray) {
        t.tray.activate(WM_LBUTTONDBLCLK);
        QCOMPARE(placeOf(t), Place::Shown);
    } else {
        t->setWindowStateValue(frmDDNS::vbNormal);
        QCOMPARE(placeOf(t), Place::Shown);
    }
    QVERIFY(!t.services.ended);
}

void TestTray::draggingPastTheClientAreaIsNoTrayNumber()
{
    // With a button held the window keeps getting moves beyond its edges, at any x.
    TrayWindow t;
    t->submnuProperty_Click(0);
    for (const QPointF pos : {QPointF(515, 10), QPointF(516, 10), QPointF(516, 516)}) {
        QMouseEvent move(QEvent::MouseMove, pos, t->mapToGlobal(pos), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(t.window.get(), &move);
    }
    QVERIFY(t.popups.isEmpty());
    QVERIFY(t.shown());

    // The same numbers from the tray do act.
    t->setWindowStateValue(frmDDNS::vbMinimized);
    t.tray.activate(WM_RBUTTONDOWN);
    QCOMPARE(t.popups.size(), 1);
}

void TestTray::translatesQtActivations_data()
{
    using R = QSystemTrayIcon::ActivationReason;
    QTest::addColumn<Activations>("activations");
    QTest::addColumn<QList<int>>("messages");

    QTest::newRow("XEmbed double-click: press, then DoubleClick")
        << Activations{{R::Trigger, 0}, {R::DoubleClick, 150}} << QList<int>{514, 515};
    QTest::newRow("Windows double-click with a release after it")
        << Activations{{R::Trigger, 0}, {R::DoubleClick, 120}, {R::Trigger, 180}} << QList<int>{514, 515, 514};
    QTest::newRow("StatusNotifierItem double-click: two Activate calls")
        << Activations{{R::Trigger, 0}, {R::Trigger, 400}} << QList<int>{514, 515};
    QTest::newRow("two clicks slower than a double-click")
        << Activations{{R::Trigger, 0}, {R::Trigger, 401}} << QList<int>{514, 514};
    QTest::newRow("three quick Activate calls make one double-click")
        << Activations{{R::Trigger, 0}, {R::Trigger, 100}, {R::Trigger, 200}} << QList<int>{514, 515, 514};
    QTest::newRow("a right click between two clicks")
        << Activations{{R::Trigger, 0}, {R::Context, 50}, {R::Trigger, 100}} << QList<int>{514, 516, 514};
    QTest::newRow("context request") << Activations{{R::Context, 0}} << QList<int>{516};
    QTest::newRow("middle click") << Activations{{R::MiddleClick, 0}} << QList<int>{519};
    QTest::newRow("unknown") << Activations{{R::Unknown, 0}} << QList<int>{0};
}

void TestTray::translatesQtActivations()
{
    QFETCH(Activations, activations);
    QFETCH(QList<int>, messages);
    QCOMPARE(translate(activations), messages);
}

void TestTray::realNotificationAreaKeepsItsMenuToItself()
{
    // Handing the menu to Qt's tray icon would show it a second time on XEmbed trays.
    QtNotificationArea area;
    NOTIFYICONDATA nid;
    nid.uID = 1;
    nid.hIcon = QIcon(QStringLiteral(":/vestrel-16.png"));
    const bool added = area.Shell_NotifyIcon(NotificationArea::NIM_ADD, nid);
    QCOMPARE(added, area.isAvailable());
    QCOMPARE(area.isIconPresent(), added);
    QVERIFY(!area.Shell_NotifyIcon(NotificationArea::NIM_ADD, nid));
    const auto icons = area.findChildren<QSystemTrayIcon *>();
    QCOMPARE(icons.size(), 1);
    QCOMPARE(icons.first()->contextMenu(), nullptr);

    QCOMPARE(area.Shell_NotifyIcon(NotificationArea::NIM_DELETE, nid), added);
    QVERIFY(!area.isIconPresent());
    QVERIFY(!area.Shell_NotifyIcon(NotificationArea::NIM_DELETE, nid));
}

void TestTray::realNotificationAreaReportsChangesAndForgetsItsIcon()
{
    bool desktopHasArea = false;
    QtNotificationArea area([&desktopHasArea] { return desktopHasArea; });
    QSignalSpy changes(&area, &NotificationArea::availabilityChanged);
    const auto icon = area.findChild<QSystemTrayIcon *>();
    QVERIFY(icon);
    NOTIFYICONDATA nid;
    nid.uID = 1;
    nid.hIcon = QIcon(QStringLiteral(":/vestrel-16.png"));

    // Only changes are reported, once each, however often the area is asked.
    for (bool now : {false, true, true, false, false, true}) {
        desktopHasArea = now;
        area.pollAvailability();
        area.pollAvailability();
    }
    QCOMPARE(changes.size(), 3);
    QCOMPARE(changes.at(0).first().toBool(), true);
    QCOMPARE(changes.at(1).first().toBool(), false);
    QCOMPARE(changes.at(2).first().toBool(), true);

    // The icon goes with the area, hidden so that Qt does not bring it back on its own. (Headless on
    // Linux, Qt's tray icon finds no X11 signal for a tray coming or going, and says so once.)
#if !defined(Q_OS_WIN)
    if (QGuiApplication::platformName() == QLatin1String("offscreen"))
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("systemTrayWindowChanged")));
#endif
    QVERIFY(area.Shell_NotifyIcon(NotificationArea::NIM_ADD, nid));
    desktopHasArea = false;
    area.pollAvailability();
    QVERIFY(!area.isIconPresent());
    QVERIFY(!icon->isVisible());
    QVERIFY(!area.Shell_NotifyIcon(NotificationArea::NIM_ADD, nid));

    // A new area gets the icon only when it is added again.
    desktopHasArea = true;
    area.pollAvailability();
    QVERIFY(!icon->isVisible());
    QVERIFY(area.Shell_NotifyIcon(NotificationArea::NIM_ADD, nid));
    QVERIFY(area.isIconPresent());
    QCOMPARE(area.findChildren<QSystemTrayIcon *>().size(), 1);
}

void TestTray::realNotificationAreaAddsARefusedIconAgain_data()
{
    // What the system answers each time it is asked whether the shown icon stands: 1 yes, 0 no; the
    // last answer holds from there on. -1: it cannot tell at all.
    QTest::addColumn<QList<int>>("answers");
    QTest::addColumn<bool>("iconWanted");
    QTest::addColumn<int>("asked");
    QTest::addColumn<int>("addedAgain");
    QTest::newRow("stands at once") << QList<int>{1} << true << 1 << 0;
    QTest::newRow("refused once") << QList<int>{0, 1} << true << 2 << 1;
    QTest::newRow("refused twice") << QList<int>{0, 0, 1} << true << 3 << 2;
    QTest::newRow("the system cannot tell") << QList<int>{-1} << true << 0 << 0;
    QTest::newRow("refused for the whole watch") << QList<int>{0} << true << 10 << 10;
    QTest::newRow("the window is open: no icon is wanted") << QList<int>{0} << false << 0 << 0;
}

// Qt takes no notice of a refused icon; the area looks for the first minutes, and adds it again
// until it stands, but never while the window is open and never once it has been seen standing.
void TestTray::realNotificationAreaAddsARefusedIconAgain()
{
    QFETCH(QList<int>, answers);
    QFETCH(bool, iconWanted);
    QFETCH(int, asked);
    QFETCH(int, addedAgain);
    QtNotificationArea area([] { return true; });
    int askedNow = 0;
    // As Windows answers: a system that can tell says a hidden icon does not stand.
    area.setIconCheck([&](const QSystemTrayIcon &icon) -> std::optional<bool> {
        if (answers.first() < 0)
            return std::nullopt;
        if (!icon.isVisible())
            return false;
        return answers.at(std::min<qsizetype>(askedNow++, answers.size() - 1)) == 1;
    });
    NOTIFYICONDATA nid;
    nid.uID = 1;
    nid.hIcon = QIcon(QStringLiteral(":/vestrel-16.png"));
#if !defined(Q_OS_WIN)
    if (QGuiApplication::platformName() == QLatin1String("offscreen"))
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("systemTrayWindowChanged")));
#endif
    g_addedAgain = 0;
    g_nextHandler = qInstallMessageHandler(countAddedAgain);
    QVERIFY(area.Shell_NotifyIcon(NotificationArea::NIM_ADD, nid));
    if (!iconWanted)
        QVERIFY(area.Shell_NotifyIcon(NotificationArea::NIM_DELETE, nid));

    // Ten checks, two seconds apart, and then two once the watch is over.
    for (int check = 1; check <= 10; ++check)
        area.checkIconStands(qint64{check} * QtNotificationArea::iconCheckIntervalMs);
    area.checkIconStands(QtNotificationArea::iconWatchMs);
    area.checkIconStands(QtNotificationArea::iconWatchMs + QtNotificationArea::iconCheckIntervalMs);
    qInstallMessageHandler(g_nextHandler);
    QCOMPARE(askedNow, asked);
    QCOMPARE(g_addedAgain, addedAgain);
    QCOMPARE(area.isIconPresent(), iconWanted);
    QCOMPARE(area.findChildren<QSystemTrayIcon *>().size(), 1);
}

// Where the system cannot tell, the area never looks: on Linux (an XEmbed icon has its size docked
// or not, a D-Bus tray tells no place), and under Wine.
void TestTray::onlyWindowsTellsWhetherTheIconStands()
{
    const QSystemTrayIcon icon(QIcon(QStringLiteral(":/vestrel-16.png")));
#if defined(Q_OS_WIN)
    if (underWine())
        QEXPECT_FAIL("", "Wine has no Shell_NotifyIconGetRect: it answers E_NOTIMPL for every icon", Continue);
    QVERIFY(trayIconStands(icon).has_value());
#else
    QVERIFY(!trayIconStands(icon).has_value());
#endif
}

QTEST_MAIN(TestTray)
#include "tst_trayhandlers.moc"
